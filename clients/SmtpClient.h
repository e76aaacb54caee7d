// SMTP client for the Mail-Check tool: connects, greets and exchanges single
// commands with their (possibly multi-line) replies. It never sends DATA.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

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

  // Opens the connection, reads the 220 greeting, then EHLO (falling back to
  // HELO). False on any failure; the connection is then closed (QUIT first
  // when it was open) and LastReply holds the reply that failed.
  bool Connect();
  bool Connected() const { return fd_ >= 0; }
  // Sends one command line and reads its reply into LastReply. True when the
  // reply code equals expected. A time-out, a closed or malformed reply
  // leaves Code 0 and drops the connection.
  bool SendCmd(const std::string& line, int expected);
  // Sends QUIT when connected, reads its reply and closes; errors ignored.
  void Disconnect();
  // Closes the socket without a word.
  void Drop();

  // Limits on what a server may send for one reply.
  static constexpr std::size_t kMaxLineLength = 4096;
  static constexpr std::size_t kMaxReplyLines = 200;

 private:
  bool ReadReply();
  bool ReadLine(std::string& line, long long deadlineMs);
  bool SendLine(const std::string& line);

  int fd_ = -1;
  std::string buffer_;
};

}  // namespace quovix
