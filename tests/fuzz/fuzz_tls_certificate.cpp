// The certificate reader on what a TLS server may send: raw DER bytes, and
// certificates of a valid shape whose names, alternative names and dates
// come from the input (raw bytes rarely make DER that reaches the fields).
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzValues.h"

#include "clients/TlsReport.h"

namespace {

// What every description keeps to: bounded, no control character in a text.
void Check(const quovix::TlsCertificate& c) {
  if (c.San.size() > quovix::kTlsMaxSans) std::abort();
  auto clean = [](const std::string& s) {
    if (s.size() > quovix::kTlsMaxFieldText + 8) std::abort();
    for (unsigned char ch : s)
      if (ch < 0x20 || ch == 0x7F) std::abort();
  };
  for (const std::string* s : {&c.Subject, &c.Issuer, &c.KeyType, &c.KeyGroup, &c.SignatureAlgorithm})
    clean(*s);
  for (const auto& s : c.San) clean(s);
}

EVP_PKEY* Key() {
  static EVP_PKEY* key = EVP_EC_gen("P-256");
  return key;
}

// The input split at zero bytes: name parts, alternative names, two times.
X509* Build(const std::vector<std::string>& v) {
  auto at = [&v](size_t i) { return i < v.size() ? v[i] : std::string(); };
  X509* x = X509_new();
  X509_set_version(x, 2);
  X509_NAME* name = X509_NAME_new();
  for (size_t i = 0; i < 3; ++i) {
    const std::string part = at(i);
    static const char* const kFields[] = {"CN", "O", "OU"};
    X509_NAME_add_entry_by_txt(name, kFields[i], i == 1 ? MBSTRING_ASC : MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(part.data()),
                               static_cast<int>(part.size()), -1, 0);
  }
  X509_set_subject_name(x, name);
  X509_set_issuer_name(x, name);
  X509_NAME_free(name);
  GENERAL_NAMES* sans = GENERAL_NAMES_new();
  for (size_t i = 3; i < std::min<size_t>(v.size(), 40); ++i) {
    const std::string& s = v[i];
    if (s.empty()) continue;
    GENERAL_NAME* g = GENERAL_NAME_new();
    ASN1_OCTET_STRING* str = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(str, reinterpret_cast<const unsigned char*>(s.data() + 1),
                          static_cast<int>(s.size() - 1));
    static const int kTypes[] = {GEN_DNS, GEN_IPADD, GEN_EMAIL, GEN_URI};
    const int type = kTypes[static_cast<unsigned char>(s[0]) % 4];
    if (type == GEN_IPADD) {
      GENERAL_NAME_set0_value(g, type, str);
    } else {
      ASN1_IA5STRING* ia5 = ASN1_IA5STRING_new();
      ASN1_STRING_set(ia5, s.data() + 1, static_cast<int>(s.size() - 1));
      ASN1_OCTET_STRING_free(str);
      GENERAL_NAME_set0_value(g, type, ia5);
    }
    sk_GENERAL_NAME_push(sans, g);
  }
  X509_add1_ext_i2d(x, NID_subject_alt_name, sans, 0, X509V3_ADD_DEFAULT);
  GENERAL_NAMES_free(sans);
  ASN1_TIME_set_string(X509_getm_notBefore(x), at(40).c_str());
  ASN1_TIME_set_string(X509_getm_notAfter(x), at(41).c_str());
  X509_set_pubkey(x, Key());
  X509_sign(x, Key(), EVP_sha256());
  return x;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string raw(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::int64_t now = 1767225600;  // 2026-01-01
  if (data[0] % 2 == 0) {
    quovix::TlsCertificate c;
    if (quovix::DescribeCertificateDer(raw, now, c)) Check(c);
    return 0;
  }
  const std::vector<std::string> values = quovix::fuzz::SplitAtZero(raw);
  X509* x = Build(values);
  Check(quovix::DescribeCertificate(x, now));
  for (const char* name : {"www.example.test", "192.0.2.1", "2001:db8::1", ""})
    (void)quovix::CertificateMatchesName(x, name);
  if (!values.empty()) (void)quovix::CertificateMatchesName(x, values[0]);
  X509_free(x);
  return 0;
}
