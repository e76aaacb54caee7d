// Why a request of the shared HTTP client failed, told the same way by every
// tool that shows it.
#include "tools/fHttpTools.h"

#include <cerrno>
#include <cstring>

#include "clients/HttpResponse.h"
#include "shell/fLanguage.h"

namespace quovix {

HttpFailure DescribeHttpFailure(const HttpError& e) {
  using Kind = HttpError::Kind;
  using Stage = HttpError::Stage;
  HttpFailure f;
  auto set = [&f](bool unreached, const char* cause, std::string text) {
    f.Unreached = unreached;
    f.Cause = cause;
    f.Text = std::move(text);
  };
  switch (e.kind()) {
    case Kind::Socket:
      if (e.stage() == Stage::Resolve) {
        set(true, "not_found", LangText("Main|HttpWhyNotFound", "Hostname nicht gefunden"));
        break;
      }
      switch (e.code()) {
        case ECONNREFUSED:
          set(!e.Connected(), "refused", LangText("Main|HttpWhyRefused", "Verbindung abgelehnt"));
          break;
        case EHOSTUNREACH:
        case ENETUNREACH:
        case EHOSTDOWN:
        case ENETDOWN:
          set(!e.Connected(), "no_route", LangText("Main|HttpWhyNoRoute", "keine Route zum Ziel"));
          break;
        case EACCES:
        case EPERM:
          set(!e.Connected(), "prohibited",
              LangText("Main|HttpWhyProhibited", "vom System nicht zugelassen"));
          break;
        case ECONNRESET:
        case EPIPE:
          set(!e.Connected(), "reset",
              LangText("Main|HttpWhyReset", "Verbindung vom Server zurückgesetzt"));
          break;
        default:
          set(!e.Connected(), "network",
              LangText("Main|HttpWhyNetwork", "Netzwerkfehler: %s1%", {std::strerror(e.code())}));
      }
      break;
    case Kind::ConnectTimeout:
      set(true, "connect_timeout",
          LangText("Main|HttpWhyConnectTimeout", "Zeitüberschreitung beim Verbindungsaufbau"));
      f.TimedOut = true;
      break;
    case Kind::ReadTimeout:
      if (e.stage() == Stage::Tls)
        set(false, "tls_timeout",
            LangText("Main|HttpWhyTlsTimeout", "Zeitüberschreitung beim TLS-Handshake"));
      else
        set(false, "timeout",
            LangText("Main|HttpWhyTimeout",
                     "Zeitüberschreitung: die Verbindung steht, aber die Antwort bleibt aus"));
      f.TimedOut = true;
      break;
    case Kind::Closed:
      set(false, "closed",
          LangText("Main|HttpWhyClosed", "der Server hat die Verbindung ohne Antwort geschlossen"));
      break;
    case Kind::Tls:
      set(false, "tls", LangText("Main|OutHeadTlsFailed", "Sichere Verbindung fehlgeschlagen: %s1%", {e.what()}));
      break;
    case Kind::Protocol:
      if (e.stage() == Stage::None) {  // the URL itself, before any exchange
        set(false, "bad_url", LangText("Main|HttpWhyBadUrl", "ungültige URL: %s1%", {e.what()}));
        break;
      }
      set(false, "malformed",
          LangText("Main|OutHeadAnswerMalformed", "Fehlerhafte Antwort des Servers: %s1%", {e.what()}));
      break;
    case Kind::Status:
      set(false, "status", LangText("Main|HttpWhyStatus", "Antwort \"%s1%\"", {e.what()}));
      break;
    case Kind::Aborted:
      set(false, "aborted", {});  // the tools write their abort line themselves
      break;
  }
  return f;
}

std::string HttpFailureLine(const HttpFailure& why) {
  if (!why.Unreached) return why.Text;
  return LangText("Main|OutHeadServerNotReachableWhy", "Server nicht erreichbar! (%s1%)", {why.Text});
}

}  // namespace quovix
