#include "clients/TlsReport.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <array>
#include <cstring>
#include <ctime>

#include "common/IpAddress.h"
#include "common/fMain.h"

namespace quovix {

namespace {

// Certificate text is the server's: shown, never interpreted; one line,
// cut at a character boundary.
std::string Clean(const std::string& raw) {
  std::string s = MaskControls(DecodeUtf8(raw));
  for (char& c : s)
    if (c == '\t') c = ' ';
  if (s.size() > kTlsMaxFieldText) {
    size_t n = kTlsMaxFieldText;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    s.resize(n);
  }
  return s;
}

std::string NameText(const X509_NAME* name) {
  if (!name) return {};
  BIO* bio = BIO_new(BIO_s_mem());
  if (!bio) return {};
  // RFC 2253 order and escaping, but UTF-8 kept as it is and ", " between
  // the parts, as people read a name.
  const unsigned long flags =
      (XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB & ~XN_FLAG_SEP_MASK) | XN_FLAG_SEP_CPLUS_SPC;
  std::string out;
  if (X509_NAME_print_ex(bio, name, 0, flags) >= 0) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    if (n > 0 && data) out.assign(data, static_cast<size_t>(std::min<long>(n, 4 * kTlsMaxFieldText)));
  }
  BIO_free(bio);
  return Clean(out);
}

std::string Hex(const unsigned char* p, size_t n) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) {
    out += kHex[p[i] >> 4];
    out += kHex[p[i] & 15];
  }
  return out;
}

std::string AsnString(const ASN1_STRING* s) {
  if (!s) return {};
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
                     static_cast<size_t>(std::max(0, ASN1_STRING_length(s))));
}

std::int64_t UnixTime(const ASN1_TIME* t) {
  std::tm tm{};
  if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return 0;
  return static_cast<std::int64_t>(timegm(&tm));
}

// Whole days from now to then, rounded down (towards the past).
int DaysBetween(std::int64_t now, std::int64_t then) {
  const std::int64_t d = then - now;
  const std::int64_t days = d >= 0 ? d / 86400 : -((-d + 86399) / 86400);
  return static_cast<int>(std::max<std::int64_t>(std::min<std::int64_t>(days, 1 << 30), -(1 << 30)));
}

void AddSans(X509* cert, TlsCertificate& c) {
  auto* names =
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
  if (!names) return;
  const int n = sk_GENERAL_NAME_num(names);
  for (int i = 0; i < n && c.San.size() < kTlsMaxSans; ++i) {
    const GENERAL_NAME* g = sk_GENERAL_NAME_value(names, i);
    switch (g->type) {
      case GEN_DNS:
        c.San.push_back("DNS:" + Clean(AsnString(g->d.dNSName)));
        break;
      case GEN_EMAIL:
        c.San.push_back("email:" + Clean(AsnString(g->d.rfc822Name)));
        break;
      case GEN_URI:
        c.San.push_back("URI:" + Clean(AsnString(g->d.uniformResourceIdentifier)));
        break;
      case GEN_IPADD: {
        const std::string b = AsnString(g->d.iPAddress);
        if (b.size() == 4) {
          c.San.push_back("IP:" + IpAddress::FromV4((std::uint32_t(std::uint8_t(b[0])) << 24) |
                                                   (std::uint32_t(std::uint8_t(b[1])) << 16) |
                                                   (std::uint32_t(std::uint8_t(b[2])) << 8) |
                                                   std::uint8_t(b[3]))
                                      .ToString());
        } else if (b.size() == 16) {
          std::array<std::uint8_t, 16> a{};
          std::memcpy(a.data(), b.data(), 16);
          c.San.push_back("IP:" + IpAddress::FromV6(a).ToString());
        } else {
          c.San.push_back("IP:?");  // a network with mask, or broken
        }
        break;
      }
      default:
        break;
    }
  }
  GENERAL_NAMES_free(names);
}

void AddKey(X509* cert, TlsCertificate& c) {
  EVP_PKEY* key = X509_get0_pubkey(cert);
  if (!key) return;
  c.KeyBits = EVP_PKEY_get_bits(key);
  switch (EVP_PKEY_get_base_id(key)) {
    case EVP_PKEY_RSA:
    case EVP_PKEY_RSA_PSS:
      c.KeyType = "RSA";
      break;
    case EVP_PKEY_EC:
      c.KeyType = "EC";
      break;
    case EVP_PKEY_ED25519:
      c.KeyType = "Ed25519";
      break;
    case EVP_PKEY_ED448:
      c.KeyType = "Ed448";
      break;
    case EVP_PKEY_DSA:
      c.KeyType = "DSA";
      break;
    default:
      if (const char* t = EVP_PKEY_get0_type_name(key)) c.KeyType = Clean(t);
  }
  char group[80] = {0};
  size_t len = 0;
  if (c.KeyType == "EC" &&
      EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &len) == 1)
    c.KeyGroup = Clean(std::string(group, std::min(len, sizeof group - 1)));
}

}  // namespace

std::string TlsOcspName(TlsOcsp::Status s) {
  switch (s) {
    case TlsOcsp::Status::None: return "";
    case TlsOcsp::Status::Good: return "good";
    case TlsOcsp::Status::Revoked: return "revoked";
    case TlsOcsp::Status::Unknown: return "unknown";
    case TlsOcsp::Status::Invalid: return "invalid";
  }
  return "";
}

TlsCertificate DescribeCertificate(X509* cert, std::int64_t now) {
  TlsCertificate c;
  if (!cert) return c;
  c.Subject = NameText(X509_get_subject_name(cert));
  c.Issuer = NameText(X509_get_issuer_name(cert));
  c.SelfIssued = X509_NAME_cmp(X509_get_subject_name(cert), X509_get_issuer_name(cert)) == 0;
  AddSans(cert, c);
  c.NotBefore = UnixTime(X509_get0_notBefore(cert));
  c.NotAfter = UnixTime(X509_get0_notAfter(cert));
  c.DaysLeft = c.NotAfter ? DaysBetween(now, c.NotAfter) : 0;
  c.NotYetValid = c.NotBefore != 0 && c.NotBefore > now;
  AddKey(cert, c);
  if (const char* sig = OBJ_nid2ln(X509_get_signature_nid(cert))) c.SignatureAlgorithm = Clean(sig);
  if (BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr)) {
    if (char* hex = BN_bn2hex(bn)) {
      c.Serial = Cut(hex, 2 * 64);
      OPENSSL_free(hex);
    }
    BN_free(bn);
  }
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdLen = 0;
  if (X509_digest(cert, EVP_sha256(), md, &mdLen) == 1) c.Sha256 = Hex(md, mdLen);
  unsigned char* der = nullptr;
  const int derLen = i2d_X509(cert, &der);
  if (derLen > 0 && der) c.Der.assign(reinterpret_cast<char*>(der), static_cast<size_t>(derLen));
  OPENSSL_free(der);
  return c;
}

bool DescribeCertificateDer(const std::string& der, std::int64_t now, TlsCertificate& out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
  X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
  if (!cert) return false;
  out = DescribeCertificate(cert, now);
  X509_free(cert);
  return true;
}

bool CertificateMatchesName(X509* cert, const std::string& nameIn) {
  if (!cert || nameIn.empty()) return false;
  std::string name = nameIn;
  if (name.size() > 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  if (const IpAddress ip = IpAddress::Parse(name); !ip.Empty())
    return X509_check_ip_asc(cert, ip.ToString().c_str(), 0) == 1;
  if (!name.empty() && name.back() == '.') name.pop_back();
  if (name.empty()) return false;
  return X509_check_host(cert, name.data(), name.size(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS,
                         nullptr) == 1;
}

}  // namespace quovix
