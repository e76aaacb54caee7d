// AES-SIV (RFC 5297), the AEAD that NTS protects its NTP packets with:
// AEAD_AES_SIV_CMAC_256, _384 and _512, keys of 32, 48 or 64 bytes (the
// first half for S2V's CMAC, the second for the counter mode).
#pragma once

#include <string>
#include <vector>

namespace quovix {

constexpr std::size_t kSivTagLength = 16;

// S2V over the strings with the CMAC key (16, 24 or 32 bytes); false for
// another key length or when OpenSSL fails.
bool SivS2V(const std::string& macKey, const std::vector<std::string>& strings, std::string& v);

// The synthetic IV followed by the ciphertext; the associated data as its
// components in order (a nonce is the last of them). False for a key of
// another length.
bool SivEncrypt(const std::string& key, const std::vector<std::string>& associated,
                const std::string& plaintext, std::string& sealed);
// The plaintext of sealed (tag first), or false when it is shorter than
// the tag or does not verify.
bool SivDecrypt(const std::string& key, const std::vector<std::string>& associated,
                const std::string& sealed, std::string& plaintext);

}  // namespace quovix
