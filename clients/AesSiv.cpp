#include "clients/AesSiv.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <array>
#include <memory>

namespace quovix {
namespace {

using Block = std::array<unsigned char, kSivTagLength>;

const char* CbcName(std::size_t keyLength) {
  switch (keyLength) {
    case 16: return "AES-128-CBC";
    case 24: return "AES-192-CBC";
    case 32: return "AES-256-CBC";
    default: return nullptr;
  }
}

const char* SivName(std::size_t keyLength) {
  switch (keyLength) {
    case 32: return "AES-128-SIV";
    case 48: return "AES-192-SIV";
    case 64: return "AES-256-SIV";
    default: return nullptr;
  }
}

struct MacFree {
  void operator()(EVP_MAC* m) const { EVP_MAC_free(m); }
  void operator()(EVP_MAC_CTX* c) const { EVP_MAC_CTX_free(c); }
  void operator()(EVP_CIPHER* c) const { EVP_CIPHER_free(c); }
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

// CMAC of data under key, with the block cipher of the key's size.
bool Cmac(const std::string& key, const unsigned char* data, std::size_t size, Block& out) {
  const char* cipher = CbcName(key.size());
  if (!cipher) return false;
  std::unique_ptr<EVP_MAC, MacFree> mac(EVP_MAC_fetch(nullptr, "CMAC", nullptr));
  if (!mac) return false;
  std::unique_ptr<EVP_MAC_CTX, MacFree> ctx(EVP_MAC_CTX_new(mac.get()));
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, const_cast<char*>(cipher), 0),
      OSSL_PARAM_construct_end()};
  std::size_t length = 0;
  return ctx &&
         EVP_MAC_init(ctx.get(), reinterpret_cast<const unsigned char*>(key.data()), key.size(),
                      params) == 1 &&
         EVP_MAC_update(ctx.get(), data, size) == 1 &&
         EVP_MAC_final(ctx.get(), out.data(), &length, out.size()) == 1 && length == out.size();
}

// Multiplication by x in GF(2^128), RFC 5297's dbl().
Block Double(const Block& in) {
  Block out{};
  for (std::size_t i = 0; i < in.size(); ++i)
    out[i] = static_cast<unsigned char>((in[i] << 1) | (i + 1 < in.size() ? in[i + 1] >> 7 : 0));
  if (in[0] & 0x80) out[in.size() - 1] ^= 0x87;
  return out;
}

}  // namespace

bool SivS2V(const std::string& macKey, const std::vector<std::string>& strings, std::string& v) {
  Block d{}, t{};
  const Block zero{};
  if (strings.empty()) {
    Block one{};
    one[one.size() - 1] = 1;
    if (!Cmac(macKey, one.data(), one.size(), t)) return false;
    v.assign(t.begin(), t.end());
    return true;
  }
  if (!Cmac(macKey, zero.data(), zero.size(), d)) return false;
  for (std::size_t i = 0; i + 1 < strings.size(); ++i) {
    Block mac{};
    if (!Cmac(macKey, reinterpret_cast<const unsigned char*>(strings[i].data()), strings[i].size(),
              mac))
      return false;
    d = Double(d);
    for (std::size_t k = 0; k < d.size(); ++k) d[k] ^= mac[k];
  }
  std::string last = strings.back();
  if (last.size() >= kSivTagLength) {
    // xorend: D into the last 16 bytes.
    for (std::size_t k = 0; k < d.size(); ++k)
      last[last.size() - d.size() + k] = static_cast<char>(last[last.size() - d.size() + k] ^ d[k]);
  } else {
    // dbl(D) xor the string padded with 0x80 and zeros.
    d = Double(d);
    std::string padded = last;
    padded += '\x80';
    padded.resize(kSivTagLength, '\0');
    for (std::size_t k = 0; k < d.size(); ++k) padded[k] = static_cast<char>(padded[k] ^ d[k]);
    last = padded;
  }
  if (!Cmac(macKey, reinterpret_cast<const unsigned char*>(last.data()), last.size(), t))
    return false;
  v.assign(t.begin(), t.end());
  return true;
}

namespace {

// OpenSSL's SIV: each associated component one update, then the text. Its
// cipher takes no empty text (no tag is computed then): the callers handle
// that case with S2V alone.
bool OpenSslSiv(bool encrypt, const std::string& key, const std::vector<std::string>& associated,
                const std::string& in, std::string& out, std::string& tag) {
  const char* name = SivName(key.size());
  if (!name || in.empty()) return false;
  std::unique_ptr<EVP_CIPHER, MacFree> cipher(EVP_CIPHER_fetch(nullptr, name, nullptr));
  std::unique_ptr<EVP_CIPHER_CTX, MacFree> ctx(EVP_CIPHER_CTX_new());
  if (!cipher || !ctx) return false;
  const auto* k = reinterpret_cast<const unsigned char*>(key.data());
  if (EVP_CipherInit_ex2(ctx.get(), cipher.get(), k, nullptr, encrypt ? 1 : 0, nullptr) != 1)
    return false;
  if (!encrypt && (tag.size() != kSivTagLength ||
                   EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_TAG, kSivTagLength,
                                       tag.data()) != 1))
    return false;
  int length = 0;
  for (const std::string& a : associated)
    if (EVP_CipherUpdate(ctx.get(), nullptr, &length,
                         reinterpret_cast<const unsigned char*>(a.data()),
                         static_cast<int>(a.size())) != 1)
      return false;
  out.assign(in.size(), '\0');
  if (EVP_CipherUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &length,
                       reinterpret_cast<const unsigned char*>(in.data()),
                       static_cast<int>(in.size())) != 1 ||
      static_cast<std::size_t>(length) != in.size())
    return false;
  int rest = 0;
  if (EVP_CipherFinal_ex(ctx.get(), nullptr, &rest) != 1) return false;
  if (encrypt) {
    tag.assign(kSivTagLength, '\0');
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_GET_TAG, kSivTagLength, tag.data()) != 1)
      return false;
  }
  return true;
}

}  // namespace

bool SivEncrypt(const std::string& key, const std::vector<std::string>& associated,
                const std::string& plaintext, std::string& sealed) {
  if (!SivName(key.size())) return false;
  if (plaintext.empty()) {
    // V is the whole output; there is nothing to encrypt.
    std::vector<std::string> strings = associated;
    strings.emplace_back();
    return SivS2V(key.substr(0, key.size() / 2), strings, sealed);
  }
  std::string tag, text;
  if (!OpenSslSiv(true, key, associated, plaintext, text, tag)) return false;
  sealed = tag + text;
  return true;
}

bool SivDecrypt(const std::string& key, const std::vector<std::string>& associated,
                const std::string& sealed, std::string& plaintext) {
  plaintext.clear();
  if (!SivName(key.size()) || sealed.size() < kSivTagLength) return false;
  std::string tag = sealed.substr(0, kSivTagLength);
  if (sealed.size() == kSivTagLength) {
    std::vector<std::string> strings = associated;
    strings.emplace_back();
    std::string v;
    return SivS2V(key.substr(0, key.size() / 2), strings, v) &&
           CRYPTO_memcmp(v.data(), tag.data(), kSivTagLength) == 0;
  }
  std::string text;
  if (!OpenSslSiv(false, key, associated, sealed.substr(kSivTagLength), text, tag)) return false;
  plaintext = std::move(text);
  return true;
}

}  // namespace quovix
