// SMTP client for the Mail-Check tool: connects, greets and exchanges single
// commands with their (possibly multi-line) replies. It never sends DATA.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/Deadline.h"

namespace quovix {

// The last reply of the server.
struct SmtpReply {
  int Code = 0;                    // three-digit code; 0 when none or unreadable
  std::string CodeText;            // the first three characters of the first line
  std::vector<std::string> Lines;  // text of each line from its fifth character on,
                                   // without a leading enhanced status code
  // Code, a blank and the text lines joined by line breaks, trimmed.
  std::string Display() const;
  // The text lines joined by line breaks.
  std::string Text() const;
};

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
  int ConnectTimeout = 2000;  // ms
  int ReadTimeout = 2000;     // ms, for each reply
  std::string HeloName;       // empty: this computer's host name
  bool UseEhlo = true;

  SmtpReply LastReply;

  // The argument of EHLO and HELO: HeloName, or this computer's host name
  // when it is empty; a bare address goes out as the address literal that
  // RFC 5321 asks for: "[a.b.c.d]", "[IPv6:2001:db8::1]".
  std::string HeloArgument() const;

  // Opens the connection, reads the 220 greeting, then EHLO (falling back to
  // HELO). Host is an address of either family, or a name whose IPv4
  // addresses are tried (its IPv6 ones when it has no IPv4 one). The look-up and the connection end within ConnectTimeout, the
  // greeting within ReadTimeout. False on any failure; the connection is
  // then closed (QUIT first when it was open, unless the user asked to stop)
  // and LastReply holds the last reply that arrived before the failure
  // (empty when none did).
  bool Connect();
  // Open, and the server has not closed its side.
  bool Connected() const;
  // Sends one command line and reads its reply into LastReply, both within
  // ReadTimeout as a whole however the server dribbles. True when the
  // reply code equals expected. A time-out, a closed or malformed reply
  // leaves Code 0 and drops the connection. A line holding CR, LF or NUL is
  // never sent (it would smuggle in further commands): false, Code 0.
  bool SendCmd(const std::string& line, int expected);
  // Sends QUIT when connected, reads its reply and closes; errors ignored.
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
  bool WaitReady(int fd, short events, const Deadline& deadline);
  bool ReadReply(const Deadline& deadline);
  bool SendLine(const std::string& line, const Deadline& deadline);

  int fd_ = -1;
  std::string buffer_;
  SmtpReply received_;  // last complete reply of this connection
  mutable bool serverClosed_ = false;
  bool aborted_ = false;
};

}  // namespace quovix
