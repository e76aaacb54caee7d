// The SMTP client against the scripted server: greeting, replies of one and
// of several lines, and what a server may send or withhold to make it hang
// or grow. (The HELO fallback, a missing greeting and an early close are
// tested through the Mail-Check tool.)
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "clients/SmtpClient.h"
#include "platform/Resolver.h"
#include "support/SmtpTestServer.h"

using namespace quovix;
using quovix::test::ScriptedSmtp;
using quovix::test::TcpTestServer;

namespace {

void Aim(TIdSMTP& smtp, int port, int timeoutMs = 2000) {
  smtp.Host = "127.0.0.1";
  smtp.Port = port;
  smtp.ConnectTimeout = timeoutMs;
  smtp.ReadTimeout = timeoutMs;
  smtp.HeloName = "client.test";
}

}  // namespace

TEST(SmtpClient, GreetsWithEhloAndParsesMultiLineReplies) {
  ScriptedSmtp script;
  ASSERT_TRUE(script.Start());
  TIdSMTP smtp;
  Aim(smtp, script.Port());
  ASSERT_TRUE(smtp.Connect());
  EXPECT_EQ(smtp.LastReply.Code, 250);
  EXPECT_EQ(smtp.LastReply.Lines, (std::vector<std::string>{"mx.test", "PIPELINING", "8BITMIME"}));
  EXPECT_EQ(smtp.LastReply.Display(), "250 mx.test\r\nPIPELINING\r\n8BITMIME");
  EXPECT_TRUE(smtp.SendCmd("MAIL FROM: <a@b.test>", 250));
  EXPECT_EQ(smtp.LastReply.Display(), "250 Ok");  // enhanced code taken off
  EXPECT_FALSE(smtp.SendCmd("RCPT TO: <x@b.test>", 251));  // another code than asked
  EXPECT_EQ(smtp.LastReply.Code, 250);
  EXPECT_TRUE(smtp.SendCmd("QUIT", 221));
  // The server closes after QUIT; the client notices without sending.
  for (int i = 0; i < 100 && smtp.Connected(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(smtp.Connected());
  EXPECT_TRUE(smtp.ServerClosed());
  EXPECT_EQ(script.Received(),
            (std::vector<std::string>{"EHLO client.test\r\n", "MAIL FROM: <a@b.test>\r\n",
                                      "RCPT TO: <x@b.test>\r\n", "QUIT\r\n"}));
}

TEST(SmtpClient, GreetingNameDefaultsAndAddressLiteral) {
  struct Named : platform::IResolver {
    std::string HostToIp(const std::string&) override { return {}; }
    std::string IpToHost(std::uint32_t) override { return {}; }
    std::string OwnAddress() override { return "192.0.2.1"; }
    std::string SystemHostName() override { return "thisbox"; }
  };
  platform::ScopedResolver resolver(std::make_shared<Named>());
  TIdSMTP smtp;
  EXPECT_EQ(smtp.HeloArgument(), "thisbox");
  smtp.HeloName = "192.0.2.7";
  EXPECT_EQ(smtp.HeloArgument(), "[192.0.2.7]");
  smtp.HeloName = "relay.example.test";
  EXPECT_EQ(smtp.HeloArgument(), "relay.example.test");
  // IPv6: the RFC 5321 literal with the address in its RFC 5952 form, a
  // zone left out.
  for (const char* v6 : {"2001:DB8:0:0::1", "[2001:db8::1]", "2001:db8::1%eth0"}) {
    smtp.HeloName = v6;
    EXPECT_EQ(smtp.HeloArgument(), "[IPv6:2001:db8::1]") << v6;
  }
  smtp.HeloName = "::ffff:192.0.2.7";
  EXPECT_EQ(smtp.HeloArgument(), "[IPv6:::ffff:192.0.2.7]");
}

TEST(SmtpClient, FailedGreetingKeepsWhatTheServerSaidAndQuits) {
  ScriptedSmtp refusing;
  refusing.greeting = "554-5.7.1 mx.test\r\n554 5.7.1 no service for you\r\n";
  ASSERT_TRUE(refusing.Start());
  TIdSMTP smtp;
  Aim(smtp, refusing.Port());
  EXPECT_FALSE(smtp.Connect());
  EXPECT_FALSE(smtp.Connected());
  EXPECT_EQ(smtp.LastReply.Code, 554);
  EXPECT_EQ(smtp.LastReply.Text(), "mx.test\r\nno service for you");
  EXPECT_EQ(refusing.Received(), (std::vector<std::string>{"QUIT\r\n"}));

  // Both greetings refused: the reply to HELO is the one kept.
  ScriptedSmtp noHello;
  noHello.replies["EHLO"] = "500 no\r\n";
  noHello.replies["HELO"] = "501 5.5.4 bad name\r\n";
  ASSERT_TRUE(noHello.Start());
  smtp.Port = noHello.Port();
  EXPECT_FALSE(smtp.Connect());
  EXPECT_EQ(smtp.LastReply.Display(), "501 bad name");
}

TEST(SmtpClient, OneTimeLimitForTheWholeExchange) {
  // Each reply comes 500 ms after its command, well within the 1500 ms a
  // single reply may take; the fourth could only arrive after 2000 ms.
  ScriptedSmtp slow;
  slow.delayMs = 500;
  ASSERT_TRUE(slow.Start());
  TIdSMTP smtp;
  Aim(smtp, slow.Port(), 1500);
  const auto start = std::chrono::steady_clock::now();
  const bool all = smtp.Connect() && smtp.SendCmd("MAIL FROM: <a@b.test>", 250) &&
                   smtp.SendCmd("RCPT TO: <x@b.test>", 250);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(all);
  EXPECT_LT(took, std::chrono::milliseconds(2500));
}

TEST(SmtpClient, WorkAsideDoesNotSpendTheServersTime) {
  // A look-up beside the dialogue that outlasts the whole exchange's limit:
  // the server's next reply still gets its time.
  ScriptedSmtp smtp;
  ASSERT_TRUE(smtp.Start());
  TIdSMTP client;
  Aim(client, smtp.Port(), 1000);
  ASSERT_TRUE(client.Connect());
  client.Aside([] { std::this_thread::sleep_for(std::chrono::milliseconds(1200)); });
  EXPECT_TRUE(client.SendCmd("MAIL FROM: <a@b.test>", 250));
  EXPECT_EQ(client.LastReply.Code, 250);
}

TEST(SmtpClient, QuitAfterAFailureWaitsAShortGraceOnly) {
  // The greeting refuses, and QUIT then gets no reply on an open connection.
  ScriptedSmtp refusing;
  refusing.greeting = "554 5.7.1 no service\r\n";
  refusing.replies["QUIT"] = "";
  refusing.holdAfterQuit = true;
  ASSERT_TRUE(refusing.Start());
  TIdSMTP smtp;
  Aim(smtp, refusing.Port(), 4000);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(smtp.Connect());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kSmtpQuitGraceMs + 1500));
  EXPECT_EQ(smtp.LastReply.Code, 554);
  EXPECT_EQ(refusing.Received(), (std::vector<std::string>{"QUIT\r\n"}));
}

TEST(SmtpClient, EndlessOrOversizedRepliesAreRefused) {
  TcpTestServer endless("127.0.0.1", 0, [](int fd) {
    std::string junk(64 * 1024, 'x');
    for (int i = 0; i < 16; ++i) TcpTestServer::SendAll(fd, junk);
  });
  TcpTestServer manyLines("127.0.0.1", 0, [](int fd) {
    for (int i = 0; i < 1000; ++i) TcpTestServer::SendAll(fd, "220-more\r\n");
  });
  // A reply that never ends: continuation lines trickling in forever.
  TcpTestServer* tricklingSelf = nullptr;
  TcpTestServer trickling("127.0.0.1", 0, [&](int fd) {
    while (!tricklingSelf || !tricklingSelf->stopping()) {
      TcpTestServer::SendAll(fd, "220-still here\r\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  tricklingSelf = &trickling;
  TcpTestServer noCode("127.0.0.1", 0, [](int fd) { TcpTestServer::SendAll(fd, "$FF hello\r\n"); });
  ASSERT_TRUE(endless.ok() && manyLines.ok() && trickling.ok() && noCode.ok());
  TIdSMTP smtp;
  Aim(smtp, endless.port());
  EXPECT_FALSE(smtp.Connect());
  smtp.Port = manyLines.port();
  EXPECT_FALSE(smtp.Connect());
  EXPECT_EQ(smtp.LastReply.Code, 0);
  smtp.Port = trickling.port();
  smtp.ReadTimeout = 300;
  EXPECT_FALSE(smtp.Connect());
  EXPECT_EQ(smtp.LastReply.Code, 0);
  smtp.Port = noCode.port();
  EXPECT_FALSE(smtp.Connect());
  EXPECT_EQ(smtp.LastReply.Code, 0);
}

TEST(SmtpClient, LinesWithLineBreaksAreNeverSent) {
  ScriptedSmtp script;
  ASSERT_TRUE(script.Start());
  TIdSMTP smtp;
  Aim(smtp, script.Port());
  ASSERT_TRUE(smtp.Connect());
  EXPECT_FALSE(smtp.SendCmd("RCPT TO: <a@b.test>\r\nDATA", 250));
  EXPECT_FALSE(smtp.SendCmd(std::string("RCPT TO: <a@b.test>\0DATA", 24), 250));
  EXPECT_EQ(smtp.LastReply.Code, 0);
  EXPECT_TRUE(smtp.Connected());  // nothing went out, the dialogue can go on
  EXPECT_TRUE(smtp.SendCmd("QUIT", 221));
  EXPECT_EQ(script.Received(), (std::vector<std::string>{"EHLO client.test\r\n", "QUIT\r\n"}));
}

TEST(SmtpClient, ClosedPortAndBadTargetsFailToConnect) {
  int port;
  {
    TcpTestServer gone("127.0.0.1", 0, [](int) {});
    port = gone.port();
  }
  TIdSMTP smtp;
  Aim(smtp, port);
  EXPECT_FALSE(smtp.Connect());
  EXPECT_FALSE(smtp.ServerClosed());
  smtp.Port = 0;
  EXPECT_FALSE(smtp.Connect());
  smtp.Port = 70000;
  EXPECT_FALSE(smtp.Connect());
}

TEST(SmtpReplyParser, CodesAndEnhancedStatusCodes) {
  SmtpReply r;
  ASSERT_TRUE(ParseSmtpReply({"250-2.1.0 first", "250-second", "250 4.7.12 third"}, r));
  EXPECT_EQ(r.Display(), "250 first\r\nsecond\r\nthird");
  EXPECT_EQ(r.AsSent(), "250-2.1.0 first\r\n250-second\r\n250 4.7.12 third");
  ASSERT_TRUE(ParseSmtpReply({"221"}, r));
  EXPECT_EQ(r.Display(), "221");
  // Not an enhanced code: wrong class, a missing part, four digits, no blank after it.
  for (const char* text : {"3.1.0 x", "2.1 x", "2.1.0000 x", "2.1.0", "2.1.0x y"}) {
    ASSERT_TRUE(ParseSmtpReply({std::string("550 ") + text}, r));
    EXPECT_EQ(r.Lines.front(), text);
  }
  EXPECT_EQ(EnhancedStatusCodeLength("5.123.456 x"), 10u);
  for (const char* bad : {"", "25", "abc hello", "099 low", "600 high", "250x", "+25 x", "$FF x"})
    EXPECT_FALSE(ParseSmtpReply({bad}, r)) << bad;
  EXPECT_FALSE(ParseSmtpReply({}, r));
}

TEST(SmtpReplyParser, TakesRepliesOneByOneFromReceivedBytes) {
  SmtpReply r;
  size_t used = 0;
  const std::string two = "250-a\r\n250 b\r\n221 bye\r\n";
  ASSERT_EQ(TakeSmtpReply(two, r, used), TSmtpTake::Complete);
  EXPECT_EQ(used, 14u);
  EXPECT_EQ(r.Lines, (std::vector<std::string>{"a", "b"}));
  ASSERT_EQ(TakeSmtpReply(two.substr(used), r, used), TSmtpTake::Complete);
  EXPECT_EQ(r.Display(), "221 bye");
  // Not yet all there.
  EXPECT_EQ(TakeSmtpReply("250-a\r\n250 b", r, used), TSmtpTake::Incomplete);
  EXPECT_EQ(TakeSmtpReply("25", r, used), TSmtpTake::Incomplete);
  // No code: refused as soon as that is clear, without waiting for the line end.
  EXPECT_EQ(TakeSmtpReply("HTTP/1.1 400", r, used), TSmtpTake::Bad);
  // Limits: a line too long, too many lines.
  EXPECT_EQ(TakeSmtpReply("250 " + std::string(kSmtpMaxLineLength, 'x'), r, used), TSmtpTake::Bad);
  std::string many;
  for (size_t i = 0; i <= kSmtpMaxReplyLines; ++i) many += "250-x\r\n";
  EXPECT_EQ(TakeSmtpReply(many + "250 end\r\n", r, used), TSmtpTake::Bad);
}
