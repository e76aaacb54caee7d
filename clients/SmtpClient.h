// SMTP client for the Mail-Check tool: connects, greets and exchanges single
// commands with their (possibly multi-line) replies. It never sends DATA.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "clients/TlsReport.h"
#include "clients/TlsSession.h"
#include "common/Deadline.h"
#include "common/IpAddress.h"

namespace quovix {

// The last reply of the server.
struct SmtpReply {
  int Code = 0;                    // three-digit code; 0 when none or unreadable
  std::string CodeText;            // the first three characters of the first line
  std::vector<std::string> Lines;  // text of each line from its fifth character on,
                                   // without a leading enhanced status code
  std::vector<std::string> Sent;   // each line as the server sent it, without CR LF
  // Code, a blank and the text lines joined by line breaks, trimmed.
  std::string Display() const;
  // The text lines joined by line breaks.
  std::string Text() const;
  // The lines as sent joined by line breaks: code, "-" or blank, enhanced
  // status code and text as they came.
  std::string AsSent() const;
};

// One step of opening a session: the command sent (empty for the greeting)
// and the reply it got (Code 0 when none came). Two steps carry no reply:
// the TLS handshake (after STARTTLS, or first of all on an implicit-TLS
// port), and the new plain connection after a handshake that failed.
struct SmtpStep {
  enum class TKind { Reply, Tls, Reconnect };
  TKind Kind = TKind::Reply;
  std::string Command;
  SmtpReply Reply;
};

// How TLS went in the last Connect.
enum class TSmtpTls {
  Off,         // not asked for
  NotOffered,  // the EHLO reply names no STARTTLS (or HELO had to be used)
  Refused,     // STARTTLS got another reply than 220
  Failed,      // the handshake failed (TlsError says why)
  Done,        // the rest of the session runs over TLS
};

// Whether an EHLO reply offers the extension named keyword (upper case):
// a line whose first word it is, in any case.
bool SmtpOffers(const SmtpReply& ehlo, const std::string& keyword);

// How long QUIT after a failure waits for its reply: a server that has
// already failed the exchange gets a short grace, not another time limit.
constexpr int kSmtpQuitGraceMs = 250;

// Limits on what a server may send for one reply.
constexpr std::size_t kSmtpMaxLineLength = 4096;
constexpr std::size_t kSmtpMaxReplyLines = 200;

// Parses one complete reply (lines without their CR LF). False when the
// first line has no three-digit code of 100–599.
bool ParseSmtpReply(const std::vector<std::string>& lines, SmtpReply& reply);

enum class TSmtpTake { Incomplete, Complete, Bad };
// Takes the first reply from received bytes: Complete with the reply and
// the number of bytes it used; Incomplete when its last line has not all
// arrived; Bad when it has no code or breaks the limits above.
TSmtpTake TakeSmtpReply(const std::string& data, SmtpReply& reply, std::size_t& consumed);
// Length of an RFC 3463 enhanced status code ("2.1.0 ") at the start of a
// reply line's text; 0 when there is none.
std::size_t EnhancedStatusCodeLength(const std::string& text);

class TIdSMTP {
 public:
  TIdSMTP() = default;
  ~TIdSMTP();
  TIdSMTP(const TIdSMTP&) = delete;
  TIdSMTP& operator=(const TIdSMTP&) = delete;

  std::string Host;
  int Port = 25;
  // The exchange as a whole, from the name look-up of Connect to the last
  // reply, ends within the larger of the two; the look-up and the
  // connection alone within ConnectTimeout, a single reply within
  // ReadTimeout. A server answering each command just before a limit cannot
  // stretch the session beyond it.
  int ConnectTimeout = 2000;  // ms
  int ReadTimeout = 2000;     // ms
  std::string HeloName;       // empty: this computer's host name
  bool UseEhlo = true;
  // STARTTLS when the EHLO reply offers it, the handshake's name being Host
  // (SNI for a name, and the name the certificate is checked against); then
  // EHLO again inside TLS. A failed handshake leaves that connection and
  // opens a new plain one, as a sending server falls back.
  bool StartTls = false;
  // TLS from the first byte (port 465), before the greeting.
  bool ImplicitTls = false;
  TSmtpTls TlsState = TSmtpTls::Off;
  TlsReport Tls;         // what the handshake showed (also after a failure)
  std::string TlsError;  // why the handshake failed

  SmtpReply LastReply;
  // What the last Connect sent and received in turn: the greeting, EHLO,
  // and HELO when EHLO was refused; as far as it got.
  std::vector<SmtpStep> Opening;

  // The argument of EHLO and HELO: HeloName, or this computer's host name
  // when it is empty; a bare address goes out as the address literal that
  // RFC 5321 asks for: "[a.b.c.d]", "[IPv6:2001:db8::1]". An address of the
  // other family than the open connection's says nothing about this end of
  // it: the connection's own local address goes out instead.
  std::string HeloArgument() const;

  // Opens the connection, reads the 220 greeting, then EHLO (falling back to
  // HELO), and with StartTls the handshake and EHLO once more. Host is an address of either family, or a name whose addresses
  // of both families are tried as platform::ConnectTcp does. False on any
  // failure; the connection is then closed (QUIT first when it was open,
  // unless the user asked to stop, its reply awaited kSmtpQuitGraceMs at
  // most) and LastReply holds the last reply that arrived before the
  // failure (empty when none did). Starts the exchange's time limit.
  bool Connect();
  // The address the open connection (or the last one) reached, and its
  // local end; empty when none was made.
  const IpAddress& PeerAddress() const { return peer_; }
  const IpAddress& LocalAddress() const { return local_; }
  // Open, and the server has not closed its side.
  bool Connected() const;
  // Sends one command line and reads its reply into LastReply, both within
  // ReadTimeout and the exchange's limit however the server dribbles. True when the
  // reply code equals expected. A time-out, a closed or malformed reply
  // leaves Code 0 and drops the connection. A line holding CR, LF or NUL is
  // never sent (it would smuggle in further commands): false, Code 0.
  bool SendCmd(const std::string& line, int expected);
  // Runs work between two commands that is not the server's to answer for
  // (a DNS look-up beside the dialogue): the exchange's limit moves on by
  // the time it took, so the server's remaining replies keep theirs.
  void Aside(const std::function<void()>& work);
  // Sends QUIT when connected, awaits its reply kSmtpQuitGraceMs at most
  // and closes; errors ignored.
  void Disconnect();
  // Closes the socket without a word.
  void Drop();
  // The server ended the connection of the last Connect (closed or reset
  // it), as opposed to this client dropping it after a time-out or a
  // malformed reply, or still being connected.
  bool ServerClosed() const { return serverClosed_; }
  // A wait of the last Connect or SendCmd ended because the user asked the
  // running work to stop.
  bool Aborted() const { return aborted_; }

 private:
  bool Open(bool startTls);
  bool Handshake();
  bool WaitReady(int fd, short events, const Deadline& deadline);
  bool ReadReply(const Deadline& deadline);
  bool SendLine(const std::string& line, const Deadline& deadline);

  int fd_ = -1;
  std::unique_ptr<TlsSession> tls_;  // set while the session runs over TLS
  Deadline exchangeBy_ = Deadline::In(0);
  IpAddress peer_, local_;
  std::string buffer_;
  SmtpReply received_;  // last complete reply of this connection
  mutable bool serverClosed_ = false;
  bool aborted_ = false;
};

}  // namespace quovix
