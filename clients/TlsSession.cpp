#include "clients/TlsSession.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ocsp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <tuple>

#include "common/IpAddress.h"

namespace quovix {

namespace {

int OpenSslVersion(TlsVersion v) {
  switch (v) {
    case TlsVersion::Tls10: return TLS1_VERSION;
    case TlsVersion::Tls11: return TLS1_1_VERSION;
    case TlsVersion::Tls12: return TLS1_2_VERSION;
    case TlsVersion::Tls13: return TLS1_3_VERSION;
  }
  return TLS1_2_VERSION;
}

std::string EnvOr(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// One context per trust setting for the whole program: loading the system's
// store costs more than a handshake on loopback. The store is chosen by the
// environment at the time of the first use of a setting.
class ContextCache {
 public:
  SSL_CTX* Get(const std::string& extraCa, bool oldVersions, std::string& error) {
    const auto key = std::make_tuple(extraCa, oldVersions, EnvOr("SSL_CERT_FILE"), EnvOr("SSL_CERT_DIR"));
    std::lock_guard<std::mutex> lock(m_);
    if (auto it = contexts_.find(key); it != contexts_.end()) {
      SSL_CTX_up_ref(it->second);
      return it->second;
    }
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
      error = "cannot create a TLS context";
      return nullptr;
    }
    SSL_CTX_set_default_verify_paths(ctx);
    if (!extraCa.empty() && SSL_CTX_load_verify_locations(ctx, extraCa.c_str(), nullptr) != 1) {
      SSL_CTX_free(ctx);
      ERR_clear_error();
      error = "cannot load the certificate file " + extraCa;
      return nullptr;
    }
    // A stream that ends without close_notify ends there (bodies read to
    // the close of the connection, servers that just hang up).
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    // Old protocol versions need the lowest security level to be spoken at
    // all; only sessions that ask for them get this context.
    if (oldVersions) SSL_CTX_set_security_level(ctx, 0);
    contexts_[key] = ctx;
    SSL_CTX_up_ref(ctx);
    return ctx;
  }

 private:
  std::mutex m_;
  std::map<std::tuple<std::string, bool, std::string, std::string>, SSL_CTX*> contexts_;
};

ContextCache& Contexts() {
  static ContextCache* cache = new ContextCache;  // lives as long as the program
  return *cache;
}

int SessionIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

std::string OpenSslError() {
  const unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return {};
  const char* reason = ERR_reason_error_string(e);
  return reason ? reason : "error " + std::to_string(e);
}

std::string ErrnoText(int err) {
  std::string t = std::strerror(err);
  if (!t.empty() && t.back() != '.') t += '.';
  return t;
}

std::int64_t UnixOf(const ASN1_GENERALIZEDTIME* t) {
  std::tm tm{};
  if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return 0;
  return static_cast<std::int64_t>(timegm(&tm));
}

// The certificate of the chains that issued cert, or null.
X509* IssuerOf(X509* cert, STACK_OF(X509) * sent, STACK_OF(X509) * verified) {
  for (STACK_OF(X509)* chain : {sent, verified}) {
    if (!chain) continue;
    for (int i = 0; i < sk_X509_num(chain); ++i) {
      X509* c = sk_X509_value(chain, i);
      if (c != cert && X509_check_issued(c, cert) == X509_V_OK) return c;
    }
  }
  return nullptr;
}

TlsOcsp ReadStapledOcsp(SSL* ssl, X509* leaf) {
  TlsOcsp o;
  const unsigned char* p = nullptr;
  const long len = SSL_get_tlsext_status_ocsp_resp(ssl, &p);
  if (len <= 0 || !p) return o;
  o.State = TlsOcsp::Status::Invalid;
  OCSP_RESPONSE* resp = d2i_OCSP_RESPONSE(nullptr, &p, len);
  if (!resp) {
    o.Problem = "unreadable OCSP answer";
    ERR_clear_error();
    return o;
  }
  const int rs = OCSP_response_status(resp);
  OCSP_BASICRESP* basic =
      rs == OCSP_RESPONSE_STATUS_SUCCESSFUL ? OCSP_response_get1_basic(resp) : nullptr;
  if (!basic) {
    o.Problem = std::string("OCSP answer \"") + OCSP_response_status_str(rs) + "\"";
    OCSP_RESPONSE_free(resp);
    ERR_clear_error();
    return o;
  }
  STACK_OF(X509)* sent = SSL_get_peer_cert_chain(ssl);
  STACK_OF(X509)* verified = SSL_get0_verified_chain(ssl);
  X509* issuer = IssuerOf(leaf, sent, verified);
  bool found = false;
  if (issuer) {
    // The responder names the certificate by hashes of its issuer: SHA-1
    // as most do, SHA-256 as some do.
    for (const EVP_MD* md : {EVP_sha1(), EVP_sha256()}) {
      OCSP_CERTID* id = OCSP_cert_to_id(md, leaf, issuer);
      int status = -1, reason = -1;
      ASN1_GENERALIZEDTIME *rev = nullptr, *thisUpd = nullptr, *nextUpd = nullptr;
      if (id && OCSP_resp_find_status(basic, id, &status, &reason, &rev, &thisUpd, &nextUpd) == 1) {
        found = true;
        o.State = status == V_OCSP_CERTSTATUS_GOOD      ? TlsOcsp::Status::Good
                  : status == V_OCSP_CERTSTATUS_REVOKED ? TlsOcsp::Status::Revoked
                                                        : TlsOcsp::Status::Unknown;
        o.ThisUpdate = UnixOf(thisUpd);
        o.NextUpdate = UnixOf(nextUpd);
        o.RevokedAt = UnixOf(rev);
        if (reason >= 0) o.RevocationReason = OCSP_crl_reason_str(reason);
        if (OCSP_check_validity(thisUpd, nextUpd, 300, -1) != 1) o.Problem = "OCSP answer out of date";
      }
      OCSP_CERTID_free(id);
      if (found) break;
    }
  }
  if (!found) {
    o.State = TlsOcsp::Status::Invalid;
    o.Problem = issuer ? "the OCSP answer is not about this certificate"
                       : "the issuer of the certificate was not sent";
  } else {
    X509_STORE* store = SSL_CTX_get_cert_store(SSL_get_SSL_CTX(ssl));
    o.SignatureVerified = OCSP_basic_verify(basic, sent, store, 0) == 1;
    if (!o.SignatureVerified && o.Problem.empty()) {
      const std::string why = OpenSslError();
      o.Problem = "OCSP signature not verified" + (why.empty() ? std::string() : ": " + why);
    }
  }
  ERR_clear_error();
  OCSP_BASICRESP_free(basic);
  OCSP_RESPONSE_free(resp);
  return o;
}

// OpenSSL writes to the socket with write(): a peer that has gone would
// end the program with SIGPIPE. The signal is held back for this thread
// while OpenSSL works and a SIGPIPE raised meanwhile is taken away.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigemptyset(&pending);
    wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    blocked_ = pthread_sigmask(SIG_BLOCK, &pipe_, &old_) == 0;
  }
  ~SigpipeGuard() {
    if (!blocked_) return;
    const int err = errno;  // what the OpenSSL call left is the caller's
    sigset_t pending;
    sigemptyset(&pending);
    if (!wasPending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
      const timespec none{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &none) == -1 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    errno = err;
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t pipe_, old_;
  bool wasPending_ = false;
  bool blocked_ = false;
};

}  // namespace

std::string TlsVersionName(TlsVersion v) {
  switch (v) {
    case TlsVersion::Tls10: return "TLSv1";
    case TlsVersion::Tls11: return "TLSv1.1";
    case TlsVersion::Tls12: return "TLSv1.2";
    case TlsVersion::Tls13: return "TLSv1.3";
  }
  return {};
}

TlsSession::TlsSession() = default;

TlsSession::~TlsSession() {
  if (ssl_) SSL_free(ssl_);
}

int TlsSession::VerifyCallback(int ok, X509_STORE_CTX* store) {
  SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto* self = ssl ? static_cast<TlsSession*>(SSL_get_ex_data(ssl, SessionIndex())) : nullptr;
  if (!self) return ok;
  if (!ok && self->firstVerifyError_ == 0) {
    self->firstVerifyError_ = X509_STORE_CTX_get_error(store);
    self->firstVerifyDepth_ = X509_STORE_CTX_get_error_depth(store);
  }
  // Go on to the end whatever was found: the verdict is reported, and the
  // caller decides (RequireTrusted is enforced after the handshake, with
  // the name check).
  return 1;
}

TlsStatus TlsSession::Handshake(int fd, const TlsOptions& options, const Deadline& deadline) {
  Close();
  report_ = {};
  error_.clear();
  errno_ = 0;
  firstVerifyError_ = 0;
  firstVerifyDepth_ = -1;
  options_ = options;
  fd_ = fd;
  ERR_clear_error();
  const bool old = options.MinVersion < TlsVersion::Tls12;
  SSL_CTX* ctx = Contexts().Get(options.ExtraCaFile, old, error_);
  if (!ctx) return TlsStatus::Failed;
  ssl_ = SSL_new(ctx);
  SSL_CTX_free(ctx);  // the session holds its own reference
  if (!ssl_ || SSL_set_fd(ssl_, fd) != 1) {
    error_ = "TLS error: " + OpenSslError();
    return TlsStatus::Failed;
  }
  if (const int fl = fcntl(fd, F_GETFL); fl >= 0 && !(fl & O_NONBLOCK)) fcntl(fd, F_SETFL, fl | O_NONBLOCK);
  SSL_set_ex_data(ssl_, SessionIndex(), this);
  SSL_set_verify(ssl_, SSL_VERIFY_PEER, &TlsSession::VerifyCallback);
  SSL_set_min_proto_version(ssl_, OpenSslVersion(options.MinVersion));
  SSL_set_max_proto_version(ssl_, OpenSslVersion(options.MaxVersion));
  const std::string& name = options.ServerName;
  const bool isAddress = !IpAddress::Parse(name).Empty();
  if (!name.empty() && !isAddress) SSL_set_tlsext_host_name(ssl_, name.c_str());
  if (!options.Alpn.empty()) {
    std::string wire;
    for (const auto& p : options.Alpn) {
      if (p.empty() || p.size() > 255) continue;
      wire += static_cast<char>(p.size());
      wire += p;
    }
    SSL_set_alpn_protos(ssl_, reinterpret_cast<const unsigned char*>(wire.data()),
                        static_cast<unsigned>(wire.size()));
  }
  if (options.RequestOcsp) SSL_set_tlsext_status_type(ssl_, TLSEXT_STATUSTYPE_ocsp);

  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int r = [this] {
      SigpipeGuard guard;
      return SSL_connect(ssl_);
    }();
    if (r == 1) break;
    const int e = SSL_get_error(ssl_, r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
      if (const TlsStatus w = Wait(e, deadline); w != TlsStatus::Ok) {
        FillReport(false);
        return w;
      }
      continue;
    }
    const TlsStatus f = Fail(e, r);
    FillReport(false);
    return f;
  }
  FillReport(true);
  if (options.RequireTrusted && (!report_.Verified || (!name.empty() && !report_.NameMatch))) {
    error_ = "TLS certificate verification failed: " +
             std::string(!report_.Verified ? report_.VerifyError
                         : isAddress      ? X509_verify_cert_error_string(X509_V_ERR_IP_ADDRESS_MISMATCH)
                                          : X509_verify_cert_error_string(X509_V_ERR_HOSTNAME_MISMATCH));
    return TlsStatus::Untrusted;
  }
  return TlsStatus::Ok;
}

void TlsSession::FillReport(bool done) {
  TlsReport& r = report_;
  r.HandshakeDone = done;
  if (!ssl_) return;
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  if (done) {
    r.Version = SSL_get_version(ssl_);
    if (const SSL_CIPHER* c = SSL_get_current_cipher(ssl_)) r.Cipher = SSL_CIPHER_get_name(c);
    const int group = SSL_get_negotiated_group(ssl_);
    if (group != 0 && group != NID_undef) {
      if (const char* g = SSL_group_to_name(ssl_, group)) r.Group = g;
      else if (const char* sn = OBJ_nid2sn(group)) r.Group = sn;
    }
    if (r.Group.empty()) {
      EVP_PKEY* tmp = nullptr;
      if (SSL_get_peer_tmp_key(ssl_, &tmp) == 1 && tmp) {
        char name[80] = {0};
        size_t len = 0;
        if (EVP_PKEY_get_utf8_string_param(tmp, "group", name, sizeof name, &len) == 1)
          r.Group.assign(name, std::min(len, sizeof name - 1));
        else if (const char* t = EVP_PKEY_get0_type_name(tmp))
          r.Group = t;
        EVP_PKEY_free(tmp);
      }
    }
    const unsigned char* alpn = nullptr;
    unsigned alpnLen = 0;
    SSL_get0_alpn_selected(ssl_, &alpn, &alpnLen);
    if (alpn && alpnLen) r.Alpn.assign(reinterpret_cast<const char*>(alpn), alpnLen);
  }
  // The chain as the server sent it (a client's view holds the server's
  // own certificate first).
  if (STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl_)) {
    const int n = sk_X509_num(chain);
    for (int i = 0; i < n; ++i) {
      if (r.Chain.size() >= kTlsMaxChain) {
        r.ChainCut = true;
        break;
      }
      r.Chain.push_back(DescribeCertificate(sk_X509_value(chain, i), now));
    }
  }
  X509* leaf = SSL_get0_peer_certificate(ssl_);
  if (!leaf) return;
  // Verification ran during the handshake when the certificate arrived:
  // its first fault is the verdict.
  r.Verified = firstVerifyError_ == 0 && SSL_get_verify_result(ssl_) == X509_V_OK;
  const long code = firstVerifyError_ != 0 ? firstVerifyError_ : SSL_get_verify_result(ssl_);
  if (!r.Verified) {
    r.VerifyCode = code != X509_V_OK ? code : X509_V_ERR_UNSPECIFIED;
    r.VerifyError = X509_verify_cert_error_string(r.VerifyCode);
    r.VerifyErrorDepth = firstVerifyDepth_;
  }
  r.CheckedName = options_.ServerName;
  r.NameMatch = !options_.ServerName.empty() && CertificateMatchesName(leaf, options_.ServerName);
  if (done) r.Ocsp = ReadStapledOcsp(ssl_, leaf);
}

TlsStatus TlsSession::Wait(int sslError, const Deadline& deadline) {
  // Records already decrypted need no wait.
  if (sslError == SSL_ERROR_WANT_READ && SSL_pending(ssl_) > 0) return TlsStatus::Ok;
  switch (WaitForSocket(fd_, sslError == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) {
    case WaitEnd::Ready: return TlsStatus::Ok;
    case WaitEnd::Aborted: error_ = "aborted"; return TlsStatus::Aborted;
    case WaitEnd::TimedOut: break;
  }
  error_ = report_.HandshakeDone || SSL_is_init_finished(ssl_) ? "Read Timeout" : "TLS handshake timed out";
  return TlsStatus::TimedOut;
}

TlsStatus TlsSession::Fail(int e, int ret) {
  const int err = errno;
  if (e == SSL_ERROR_ZERO_RETURN) {
    error_ = "connection closed";
    return TlsStatus::Closed;
  }
  if (e == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
    if (err != 0) {
      errno_ = err;
      error_ = ErrnoText(err);
      return TlsStatus::Failed;
    }
    // End of stream without a word (ret 0) or nothing known: closed.
    (void)ret;
    error_ = SSL_is_init_finished(ssl_) ? "connection closed" : "connection closed during the handshake";
    return TlsStatus::Closed;
  }
  const std::string why = OpenSslError();
  error_ = (SSL_is_init_finished(ssl_) ? "TLS error: " : "TLS handshake failed: ") +
           (why.empty() ? std::string("connection closed during the handshake") : why);
  return TlsStatus::Failed;
}

TlsStatus TlsSession::Read(char* buf, std::size_t n, std::size_t& got, const Deadline& deadline) {
  got = 0;
  if (!ssl_) return TlsStatus::Closed;
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int r = [&] {
      SigpipeGuard guard;  // a read may have to answer a key update
      return SSL_read(ssl_, buf, static_cast<int>(std::min<std::size_t>(n, 1 << 30)));
    }();
    if (r > 0) {
      got = static_cast<std::size_t>(r);
      return TlsStatus::Ok;
    }
    const int e = SSL_get_error(ssl_, r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
      if (const TlsStatus w = Wait(e, deadline); w != TlsStatus::Ok) return w;
      continue;
    }
    return Fail(e, r);
  }
}

TlsStatus TlsSession::Write(const std::string& data, const Deadline& deadline) {
  if (!ssl_) return TlsStatus::Closed;
  std::size_t done = 0;
  while (done < data.size()) {
    ERR_clear_error();
    errno = 0;
    const int r = [&] {
      SigpipeGuard guard;
      return SSL_write(ssl_, data.data() + done,
                       static_cast<int>(std::min<std::size_t>(data.size() - done, 1 << 30)));
    }();
    if (r > 0) {
      done += static_cast<std::size_t>(r);
      continue;
    }
    const int e = SSL_get_error(ssl_, r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
      if (const TlsStatus w = Wait(e, deadline); w != TlsStatus::Ok) return w;
      continue;
    }
    return Fail(e, r);
  }
  return TlsStatus::Ok;
}

std::size_t TlsSession::Pending() const {
  return ssl_ ? static_cast<std::size_t>(std::max(0, SSL_pending(ssl_))) : 0;
}

bool TlsSession::ExportKeyingMaterial(const std::string& label,
                                      const std::optional<std::string>& context,
                                      std::size_t length, std::string& out) const {
  out.clear();
  if (!ssl_ || !report_.HandshakeDone || length == 0 || length > 65535) return false;
  std::string buf(length, '\0');
  const int ok = SSL_export_keying_material(
      ssl_, reinterpret_cast<unsigned char*>(buf.data()), length, label.data(), label.size(),
      context ? reinterpret_cast<const unsigned char*>(context->data()) : nullptr,
      context ? context->size() : 0, context ? 1 : 0);
  ERR_clear_error();
  if (ok != 1) return false;
  out = std::move(buf);
  return true;
}

void TlsSession::Close() {
  if (!ssl_) return;
  // One try without waiting: a peer that does not read does not hold us.
  if (SSL_is_init_finished(ssl_)) {
    SigpipeGuard guard;
    SSL_shutdown(ssl_);
  }
  ERR_clear_error();
  SSL_free(ssl_);
  ssl_ = nullptr;
  fd_ = -1;
}

}  // namespace quovix
