// What a TLS handshake showed: the protocol, the cipher, the key exchange,
// the agreed application protocol, the stapled OCSP answer, the certificate
// chain as the server sent it, and the verdicts on it (the chain against
// the trusted authorities, the name against the certificate). Every text
// taken from a certificate is cleaned for display (no control characters,
// bounded length), so a hostile certificate cannot reach the terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// OpenSSL's types, without its headers in every file that shows a report.
typedef struct x509_st X509;

namespace quovix {

// Most certificates of a chain described; a longer chain is cut (and says so).
constexpr std::size_t kTlsMaxChain = 10;
// Most subject alternative names kept per certificate.
constexpr std::size_t kTlsMaxSans = 100;
// Longest text kept from a certificate field.
constexpr std::size_t kTlsMaxFieldText = 512;

struct TlsCertificate {
  std::string Subject;  // one line, most significant part last ("CN=…, O=…, C=…")
  std::string Issuer;
  // Subject alternative names, each with its type: "DNS:www.example.org",
  // "IP:192.0.2.1", "IP:2001:db8::1", "email:…", "URI:…"; other types are left out.
  std::vector<std::string> San;
  std::int64_t NotBefore = 0;  // Unix seconds, UTC
  std::int64_t NotAfter = 0;
  // Whole days from the time of the report to NotAfter, rounded down:
  // negative once expired (-1 on the first day after).
  int DaysLeft = 0;
  bool NotYetValid = false;  // NotBefore still lies ahead
  std::string KeyType;  // "RSA", "EC", "Ed25519", "Ed448", "DSA", or OpenSSL's name
  int KeyBits = 0;
  std::string KeyGroup;  // EC: the curve ("prime256v1"), empty otherwise
  std::string SignatureAlgorithm;  // OpenSSL's long name ("sha256WithRSAEncryption")
  std::string Serial;              // upper-case hex
  std::string Sha256;              // fingerprint of the DER encoding, upper-case hex
  bool SelfIssued = false;         // subject and issuer are the same name
  std::string Der;                 // the certificate as sent (for DANE and the like)
};

// A stapled OCSP answer (RFC 6960) for the server's certificate.
struct TlsOcsp {
  enum class Status {
    None,     // nothing stapled
    Good,
    Revoked,
    Unknown,  // the responder does not know the certificate
    Invalid,  // stapled, but unreadable, not "successful", or not about this certificate
  };
  Status State = Status::None;
  std::int64_t ThisUpdate = 0;  // Unix seconds; 0 when not known
  std::int64_t NextUpdate = 0;
  std::int64_t RevokedAt = 0;
  std::string RevocationReason;  // "keyCompromise", … (empty when none given)
  // The answer's signature checked against the chain and the trust store.
  bool SignatureVerified = false;
  std::string Problem;  // why Invalid, or why the signature did not verify
};

// The stable names of the OCSP states for JSON ("good", "revoked", "unknown",
// "invalid"; "" for None).
std::string TlsOcspName(TlsOcsp::Status s);

struct TlsReport {
  bool HandshakeDone = false;
  std::string Version;  // "TLSv1.3", "TLSv1.2", …
  std::string Cipher;   // IANA-style name as OpenSSL gives it ("TLS_AES_128_GCM_SHA256")
  std::string Group;    // key-exchange group ("X25519", "prime256v1"), empty when not known
  std::string Alpn;     // the protocol the server chose, empty when none was agreed
  std::vector<TlsCertificate> Chain;  // as sent, the server's own certificate first
  bool ChainCut = false;              // the server sent more than kTlsMaxChain
  // The chain against the trusted authorities (the system's store and any
  // extra file), the validity dates included.
  bool Verified = false;
  long VerifyCode = 0;        // OpenSSL's X509_V_ERR_… of the first fault, 0 when verified
  std::string VerifyError;    // its text ("certificate has expired")
  int VerifyErrorDepth = -1;  // the certificate of the chain it concerns (0: the server's)
  // The name the certificate was checked against (host name or address)
  // and the verdict (subject alternative names, one-label wildcards, an
  // address only against address entries).
  std::string CheckedName;
  bool NameMatch = false;
  TlsOcsp Ocsp;
};

// Describes one certificate as of the time now (Unix seconds). Never throws;
// fields that cannot be read stay empty.
TlsCertificate DescribeCertificate(X509* cert, std::int64_t now);
// The same from DER bytes; false when they are no certificate.
bool DescribeCertificateDer(const std::string& der, std::int64_t now, TlsCertificate& out);

// Whether the certificate is for name: a DNS name against the DNS entries
// of its subject alternative names (a wildcard only as the whole leftmost
// label, standing for exactly one label; the common name only when there
// is no DNS entry), an IPv4 or IPv6 address only against its IP entries.
bool CertificateMatchesName(X509* cert, const std::string& name);

}  // namespace quovix
