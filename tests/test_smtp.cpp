#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "clients/SmtpClient.h"
#include "support/TcpTestServer.h"

using namespace quovix;
using quovix::test::TcpTestServer;

namespace {

// A scripted SMTP server: a greeting, then a reply for each command by its
// first word (upper case); unknown commands get 500. Records every line.
struct ScriptedSmtp {
  std::string greeting = "220 mx.test ESMTP\r\n";
  std::map<std::string, std::string> replies = {
      {"EHLO", "250-mx.test\r\n250-PIPELINING\r\n250 8BITMIME\r\n"},
      {"HELO", "250 mx.test\r\n"},
      {"MAIL", "250 2.1.0 Ok\r\n"},
      {"RCPT", "250 2.1.5 Ok\r\n"},
      {"QUIT", "221 2.0.0 Bye\r\n"}};
  bool closeAfterGreeting = false;
  TcpTestServer* server = nullptr;

  TcpTestServer::Handler Handler() {
    return [this](int fd) {
      if (!greeting.empty()) TcpTestServer::SendAll(fd, greeting);
      if (closeAfterGreeting) return;
      for (;;) {
        std::string line = TcpTestServer::ReadLine(fd);
        if (line.empty()) return;
        server->Record(line);
        std::string word = line.substr(0, line.find_first_of(" \r\n"));
        for (auto& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        auto it = replies.find(word);
        TcpTestServer::SendAll(fd, it == replies.end() ? "500 unknown\r\n" : it->second);
        if (word == "QUIT") return;
      }
    };
  }
};

}  // namespace

TEST(SmtpClient, GreetsWithEhloAndParsesMultiLineReplies) {
  ScriptedSmtp script;
  TcpTestServer s("127.0.0.1", 0, script.Handler());
  script.server = &s;
  ASSERT_TRUE(s.ok());
  TIdSMTP smtp;
  smtp.Host = "127.0.0.1";
  smtp.Port = s.port();
  smtp.HeloName = "client.test";
  ASSERT_TRUE(smtp.Connect());
  EXPECT_EQ(smtp.LastReply.Code, 250);
  EXPECT_EQ(smtp.LastReply.Lines, (std::vector<std::string>{"mx.test", "PIPELINING", "8BITMIME"}));
  EXPECT_EQ(smtp.LastReply.Display(), "250 mx.test\r\nPIPELINING\r\n8BITMIME");
  EXPECT_TRUE(smtp.SendCmd("MAIL FROM: <a@b.test>", 250));
  EXPECT_EQ(smtp.LastReply.Display(), "250 Ok");  // enhanced code taken off
  EXPECT_TRUE(smtp.SendCmd("QUIT", 221));
  auto got = s.Received();
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got[0], "EHLO client.test\r\n");
  EXPECT_EQ(got[1], "MAIL FROM: <a@b.test>\r\n");
}

TEST(SmtpClient, FallsBackToHeloWhenEhloIsRefused) {
  ScriptedSmtp script;
  script.replies["EHLO"] = "502 5.5.2 Error: command not recognized\r\n";
  TcpTestServer s("127.0.0.1", 0, script.Handler());
  script.server = &s;
  ASSERT_TRUE(s.ok());
  TIdSMTP smtp;
  smtp.Host = "127.0.0.1";
  smtp.Port = s.port();
  smtp.HeloName = "c.test";
  ASSERT_TRUE(smtp.Connect());
  EXPECT_EQ(smtp.LastReply.Display(), "250 mx.test");
  auto got = s.Received();
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got[1], "HELO c.test\r\n");
}

TEST(SmtpClient, MissingGreetingAndEarlyCloseFailWithoutHanging) {
  TcpTestServer* silentSelf = nullptr;
  TcpTestServer silent("127.0.0.1", 0, [&](int) {
    while (!silentSelf || !silentSelf->stopping())
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  silentSelf = &silent;
  ScriptedSmtp closing;
  closing.closeAfterGreeting = true;
  TcpTestServer closer("127.0.0.1", 0, closing.Handler());
  closing.server = &closer;
  ASSERT_TRUE(silent.ok() && closer.ok());

  TIdSMTP smtp;
  smtp.Host = "127.0.0.1";
  smtp.ReadTimeout = 300;
  smtp.Port = silent.port();
  EXPECT_FALSE(smtp.Connect());
  EXPECT_FALSE(smtp.Connected());
  smtp.Port = closer.port();
  EXPECT_FALSE(smtp.Connect());
  EXPECT_FALSE(smtp.Connected());
}

TEST(SmtpClient, EndlessOrOversizedRepliesAreRefused) {
  TcpTestServer endless("127.0.0.1", 0, [](int fd) {
    std::string junk(64 * 1024, 'x');
    for (int i = 0; i < 16; ++i) TcpTestServer::SendAll(fd, junk);
  });
  TcpTestServer manyLines("127.0.0.1", 0, [](int fd) {
    for (int i = 0; i < 1000; ++i) TcpTestServer::SendAll(fd, "220-more\r\n");
  });
  ASSERT_TRUE(endless.ok() && manyLines.ok());
  TIdSMTP smtp;
  smtp.Host = "127.0.0.1";
  smtp.ReadTimeout = 2000;
  smtp.Port = endless.port();
  EXPECT_FALSE(smtp.Connect());
  smtp.Port = manyLines.port();
  EXPECT_FALSE(smtp.Connect());
  EXPECT_EQ(smtp.LastReply.Code, 0);
}

TEST(SmtpClient, ClosedPortFailsToConnect) {
  int port;
  {
    TcpTestServer gone("127.0.0.1", 0, [](int) {});
    port = gone.port();
  }
  TIdSMTP smtp;
  smtp.Host = "127.0.0.1";
  smtp.Port = port;
  EXPECT_FALSE(smtp.Connect());
}
