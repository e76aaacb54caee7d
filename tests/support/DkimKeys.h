// Fresh public keys for DKIM records, made with OpenSSL when a test asks:
// the base64 text of p= for an RSA key of a size (as SubjectPublicKeyInfo
// or as a bare RSAPublicKey) or an Ed25519 key.
#pragma once

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <string>

namespace quovix::test {

inline std::string Base64Of(const std::string& der) {
  std::string out((der.size() + 2) / 3 * 4 + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(der.data()), static_cast<int>(der.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

// bits 0: an Ed25519 key.
inline std::string DkimPublicKey(int bits, bool bareRsa = false) {
  EVP_PKEY* key = bits == 0 ? EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")
                            : EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits));
  if (!key) return {};
  std::string der;
  if (bits == 0) {
    size_t len = 32;
    der.resize(len);
    EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char*>(der.data()), &len);
    der.resize(len);
  } else {
    unsigned char* buf = nullptr;
    const int len = bareRsa ? i2d_PublicKey(key, &buf) : i2d_PUBKEY(key, &buf);
    if (len > 0) der.assign(reinterpret_cast<char*>(buf), static_cast<size_t>(len));
    OPENSSL_free(buf);
  }
  EVP_PKEY_free(key);
  return Base64Of(der);
}

}  // namespace quovix::test
