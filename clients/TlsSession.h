// One TLS client session over a socket that is already connected: the
// HTTP client's HTTPS, SMTP after STARTTLS, DNS over TLS and NTS-KE all run
// their TLS through here. Every wait is one of the Deadline waits (slices
// with the message pump in between, ended by an abort request), so a peer
// that stalls the handshake or dribbles its records cannot hold an
// exchange beyond its limit.
//
// The certificate is verified and the verdict REPORTED (see TlsReport):
// with RequireTrusted off the handshake completes whatever the verdict, and
// the caller decides whether a chain that does not verify or a name that
// does not match ends its exchange (a diagnosis tool shows the chain first).
//
// Trust: the system's store (SSL_CTX_set_default_verify_paths), so the
// usual variables SSL_CERT_FILE and SSL_CERT_DIR choose another one (tests
// trust a test CA this way), plus an optional extra PEM file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "clients/TlsReport.h"
#include "common/Deadline.h"

typedef struct ssl_st SSL;
typedef struct x509_store_ctx_st X509_STORE_CTX;

namespace quovix {

enum class TlsVersion { Tls10, Tls11, Tls12, Tls13 };

struct TlsOptions {
  // The server's name: sent as SNI (not for an address: RFC 6066 has none)
  // and checked against the certificate (a DNS name or an IP address).
  // Empty: no SNI and no name check (NameMatch stays false).
  std::string ServerName;
  // Application protocols offered, most wanted first ("h2", "http/1.1",
  // "ntske/1", "dot"); empty: no ALPN extension.
  std::vector<std::string> Alpn;
  // Oldest protocol version accepted. Tls10 and Tls11 also lower OpenSSL's
  // security level for this session, so that an old server can be reached
  // and reported as what it is.
  TlsVersion MinVersion = TlsVersion::Tls12;
  // Only this version and older (NTS-KE wants TLS 1.3 exactly: set both).
  TlsVersion MaxVersion = TlsVersion::Tls13;
  // A PEM file of authorities trusted beside the system's store.
  std::string ExtraCaFile;
  // Ask the server to staple an OCSP answer (status_request).
  bool RequestOcsp = true;
  // End the handshake with Untrusted when the chain does not verify or the
  // name does not match (the report is still filled).
  bool RequireTrusted = false;
};

enum class TlsStatus {
  Ok,
  Closed,     // the peer closed (close_notify or end of stream); during a
              // handshake: closed before it completed
  TimedOut,   // the deadline passed first
  Aborted,    // the user asked the running work to stop
  Failed,     // a protocol or socket failure: Error() and SystemError() say which
  Untrusted,  // RequireTrusted and the chain or the name failed (see Report())
};

class TlsSession {
 public:
  TlsSession();
  ~TlsSession();  // frees the session; the socket stays the caller's
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // The handshake on fd (connected, non-blocking or not: it is made
  // non-blocking). Afterwards Report() holds all that could be learnt, also
  // after a failure (the chain, when the server sent one).
  TlsStatus Handshake(int fd, const TlsOptions& options, const Deadline& deadline);

  // Up to n bytes into buf (got: how many). Ok with got > 0, or Closed
  // with got == 0 at the end of the stream.
  TlsStatus Read(char* buf, std::size_t n, std::size_t& got, const Deadline& deadline);
  // The whole of data, or the failure.
  TlsStatus Write(const std::string& data, const Deadline& deadline);
  // Bytes decrypted and waiting to be read (no wait needed for them).
  std::size_t Pending() const;

  // RFC 5705 / RFC 8446 keying material of this session: length bytes
  // for label and context (none: no context at all, which is not the same
  // as an empty one). NTS-KE takes label "EXPORTER-network-time-security"
  // with its five context bytes. False when the handshake has not
  // completed or OpenSSL refuses.
  bool ExportKeyingMaterial(const std::string& label, const std::optional<std::string>& context,
                            std::size_t length, std::string& out) const;

  // Sends close_notify when it can go out at once, then frees the session.
  void Close();

  const TlsReport& Report() const { return report_; }
  // What failed: OpenSSL's reason or the socket's error text (English, for
  // the detail of a line); SystemError() the errno of a socket failure.
  const std::string& Error() const { return error_; }
  int SystemError() const { return errno_; }
  // OpenSSL's session, for what this class does not offer.
  SSL* Native() const { return ssl_; }

 private:
  TlsStatus Wait(int sslError, const Deadline& deadline);
  TlsStatus Fail(int sslError, int ret);
  void FillReport(bool handshakeDone);

  SSL* ssl_ = nullptr;
  int fd_ = -1;
  TlsOptions options_;
  TlsReport report_;
  std::string error_;
  int errno_ = 0;
  // The first fault the verification met (the callback goes on past it).
  long firstVerifyError_ = 0;
  int firstVerifyDepth_ = -1;
  static int VerifyCallback(int ok, X509_STORE_CTX* store);
};

// The names of the versions in Report().Version order ("TLSv1.2" …).
std::string TlsVersionName(TlsVersion v);

}  // namespace quovix
