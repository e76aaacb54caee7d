// Command line: cutting, look-up rules, and the actions that preset the tabs
// and click their buttons (the tools' own handlers replaced by recorders).
#include <gtest/gtest.h>

#include "app/fCommandLine.h"
#include "app/formMain.h"

using namespace quovix;
using Args = std::vector<std::string>;

namespace {

void Parse(Args args) {
  args.insert(args.begin(), "/usr/bin/quovix");
  ParseCommandLine(args);
}

// Records every Start click with the tab in front and the main input then.
struct Recorder {
  explicit Recorder(TfrmMain& f) : f_(f) {
    Hook(f.btnDnsStart, "Dns", &f.cmbDnsHost);
    Hook(f.btnPingStart, "Ping", &f.cmbPingHost);
    Hook(f.btnTraceStart, "Trace", &f.cmbTraceHost);
    Hook(f.btnWhoisStart, "Whois", &f.cmbWhoisHost);
    Hook(f.btnEMailStart, "EMail", &f.cmbEMailAddress);
    Hook(f.btnHeadStart, "Head", &f.cmbHeadURL);
    Hook(f.btnTimeQuery, "Time", &f.cmbTimeServer);
    Hook(f.btnTimeUpdate, "TimeSet", nullptr);
    Hook(f.btnListSearch, "List", &f.cmbListSearch);
    Hook(f.btnGPRankStart, "PRank", &f.cmbGPRankURL);
    Hook(f.btnOwnStart, "Own", nullptr);
  }
  void Hook(TButton& b, std::string name, TComboBox* input) {
    b.OnClick = [this, name, input] {
      clicks.push_back(name);
      pages.push_back(f_.pcMain.ActivePageIndex());
      values.push_back(input ? input->Text() : std::string());
      if (after) after(name);
    };
  }
  TfrmMain& f_;
  std::vector<std::string> clicks, values;
  std::vector<int> pages;
  std::function<void(const std::string&)> after;
};

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override { f.cmbPingCount.AddItem("..."); }
  void TearDown() override { ParseCommandLine({}); }
  void Run(Args args) {
    Parse(std::move(args));
    RunCommandLineActions(f);
  }
  TfrmMain f;
  Recorder rec{f};
};

}  // namespace

// ---- Cutting --------------------------------------------------------------------------

TEST(CommandLineCut, BlanksQuotesAndTheProgramPath) {
  EXPECT_EQ(SplitCommandLine("  prog  /a:1 \t /b  "), (Args{"prog", "/a:1", "/b"}));
  EXPECT_EQ(SplitCommandLine("prog \"/Head:http://h/a b\" /c"),
            (Args{"prog", "/Head:http://h/a b", "/c"}));
  // The closing quote must be followed by a blank; a quote inside stays.
  EXPECT_EQ(SplitCommandLine("prog \"a\"b c\" d"), (Args{"prog", "a\"b c", "d"}));
  // No closing quote-and-blank: an empty argument, then the rest cut normally.
  EXPECT_EQ(SplitCommandLine("prog \"open end"), (Args{"prog", "", "open", "end"}));
  EXPECT_EQ(SplitCommandLine(""), (Args{""}));
  EXPECT_EQ(SplitCommandLine("prog \"\""), (Args{"prog", ""}));
}

TEST(CommandLineCut, JoinedArgumentsComeBackWhole) {
  const Args argv = {"/usr/bin/quovix", "/Head:http://h/a b", "", "\"quoted", "tab\there",
                     "trail ", "ends\"", "x y\"", "/Dns:plain"};
  EXPECT_EQ(SplitCommandLine(JoinCommandLine(argv)), argv);
  ParseCommandLine(argv);
  EXPECT_EQ(CommandLineArguments(), Args(argv.begin() + 1, argv.end()));
  ParseCommandLine({});
  EXPECT_TRUE(CommandLineArguments().empty());
}

// ---- Look-up ----------------------------------------------------------------------------

TEST(CommandLineLookup, SignsNamesAndValues) {
  Parse({"--Dns=host.example", "Ping:ignored", "-Trace:t", "/Head:http://h:8080/?a=b", "/Head\"x"});
  EXPECT_EQ(GetParamValue("dns"), "host.example");
  EXPECT_EQ(GetParamValue("DNS"), "host.example");
  EXPECT_FALSE(HasParam("Ping"));  // no sign: not a parameter
  EXPECT_EQ(GetParamValue("Ping"), "");
  EXPECT_EQ(GetParamValue("Trace"), "t");
  EXPECT_EQ(GetParamValue("Head"), "http://h:8080/?a=b");
  EXPECT_TRUE(HasParam("Head"));
  EXPECT_FALSE(HasParam("Hea"));
  EXPECT_FALSE(HasParam("dns", /*caseSensitive=*/true));
  EXPECT_TRUE(HasParam("Dns", /*caseSensitive=*/true));
}

TEST(CommandLineLookup, ABareSwitchEndsTheValueSearch) {
  Parse({"/Own", "/OwnR:1"});
  EXPECT_TRUE(HasParam("OwnR"));
  EXPECT_EQ(GetParamValue("OwnR"), "");
  Parse({"/OwnR:1", "/Own"});
  EXPECT_EQ(GetParamValue("OwnR"), "1");
  // Arguments without a sign are passed over, not a stop.
  Parse({"stray", "/Dns:a", "/Dns:b"});
  EXPECT_EQ(GetParamValue("Dns"), "b");  // a later one wins
  Parse({"/Dns:"});
  EXPECT_TRUE(HasParam("Dns"));
  EXPECT_EQ(GetParamValue("Dns"), "");
}

// What the desktop entry passes (Exec=quovix %U): plain URLs.
TEST(CommandLineLookup, DesktopUrlsPresetTheHeaderTool) {
  Args argv = DesktopUrlsAsHead({"quovix", "HTTPS://h.example/a%20b?x=1", "file:///tmp/x",
                                 "/Dns:a", "http"});
  EXPECT_EQ(argv, (Args{"quovix", "/Head:HTTPS://h.example/a%20b?x=1", "file:///tmp/x", "/Dns:a",
                        "http"}));
  ParseCommandLine(argv);
  EXPECT_EQ(GetParamValue("Head"), "HTTPS://h.example/a%20b?x=1");
  EXPECT_TRUE(CommandLineNamesTool());
  ParseCommandLine({});
}

// ---- Actions ------------------------------------------------------------------------------

TEST_F(CommandLineTest, EmptyCommandLineStartsIdleOnTheStoredTab) {
  f.pcMain.SetActivePageIndex(pgWhois);
  Run({});
  EXPECT_TRUE(rec.clicks.empty());
  EXPECT_EQ(f.pcMain.ActivePageIndex(), pgWhois);
  EXPECT_FALSE(CommandLineNamesTool());
  ParseCommandLine({"/usr/bin/quovix"});
  RunCommandLineActions(f);
  EXPECT_TRUE(rec.clicks.empty());
}

TEST_F(CommandLineTest, GroupsRunInTableOrderWithTheirTabInFront) {
  Run({"/PRank:http://r.example", "/List:needle", "/Time:ntp.example", "/Head:http://h.example",
       "/EMail:a@b.example", "/Whois:w.example", "/Trace:t.example", "/Ping:p.example",
       "/Dns:d.example", "/Own"});
  EXPECT_EQ(rec.clicks, (Args{"Dns", "Ping", "Trace", "Whois", "EMail", "Head", "Time", "List",
                              "PRank", "Own"}));
  EXPECT_EQ(rec.pages, (std::vector<int>{pgDns, pgPing, pgTrace, pgWhois, pgEMail, pgHead, pgTime,
                                         pgList, pgGPRank, pgOwn}));
  EXPECT_EQ(rec.values, (Args{"d.example", "p.example", "t.example", "w.example", "a@b.example",
                              "http://h.example", "ntp.example", "needle", "http://r.example",
                              ""}));
  EXPECT_TRUE(CommandLineNamesTool());
}

TEST_F(CommandLineTest, ToolDoneHookFollowsEachGroup) {
  std::vector<TPage> done;
  f.OnCommandLineToolDone = [&](TPage p) { done.push_back(p); };
  Run({"/Whois:x", "/Dns:y"});
  EXPECT_EQ(done, (std::vector<TPage>{pgDns, pgWhois}));
}

TEST_F(CommandLineTest, FocusComesLastAndIgnoresUnknownNames) {
  Run({"/Dns:a", "/Whois:b", "/Focus:dns"});
  EXPECT_EQ(rec.clicks, (Args{"Dns", "Whois"}));
  EXPECT_EQ(f.pcMain.ActivePageIndex(), pgDns);
  Run({"/Focus:pRaNk"});
  EXPECT_EQ(f.pcMain.ActivePageIndex(), pgGPRank);
  Run({"/Focus:nowhere"});
  EXPECT_EQ(f.pcMain.ActivePageIndex(), pgGPRank);
  EXPECT_FALSE(CommandLineNamesTool());
}

TEST_F(CommandLineTest, FlagsCheckOnlyForExactlyOne) {
  int extendedClicks = 0;
  f.chkDnsExtended.OnClick = [&] { ++extendedClicks; };
  f.chkDnsReverse.SetCheckedSilently(true);
  f.chkDnsDirectQuery.SetCheckedSilently(true);
  f.chkDnsExtendedResolve.SetCheckedSilently(true);
  Run({"/Dns:host", "/DnsV:0", "/DnsD:true", "/DnsI:1"});
  EXPECT_EQ(rec.clicks, (Args{"Dns"}));
  EXPECT_FALSE(f.chkDnsReverse.Checked());
  EXPECT_FALSE(f.chkDnsDirectQuery.Checked());
  EXPECT_TRUE(f.chkDnsExtended.Checked());
  EXPECT_EQ(extendedClicks, 1);  // its click handler ran, as for a user
  EXPECT_TRUE(f.chkDnsExtendedResolve.Checked());  // absent: untouched
}

// The type of the field "Typ" replaces the stored one when given, even
// empty; the server of the run is never the stored one's change.
TEST_F(CommandLineTest, DnsTypeAndServerOfTheRun) {
  const struct {
    std::vector<std::string> args;
    const char* type;
    const char* server;
  } cases[] = {
      {{"/Dns:host", "/DnsT:TLSA", "/DnsS:tls://127.0.0.1:853"}, "TLSA", "tls://127.0.0.1:853"},
      {{"/Dns:host", "/DnsT:"}, "", ""},
      {{"/Dns:host"}, "MX", ""},
  };
  for (const auto& c : cases) {
    f.cmbDnsType.SetText("MX");
    Run(c.args);
    EXPECT_EQ(f.cmbDnsType.Text(), c.type);
    EXPECT_EQ(f.DnsServerSwitch, c.server);
    EXPECT_EQ(rec.clicks.back(), "Dns");
  }
}

TEST_F(CommandLineTest, OwnResolveDependsOnWhereTheBareOwnStands) {
  f.chkOwnResolve.SetCheckedSilently(true);
  Run({"/Own", "/OwnR:0"});
  EXPECT_TRUE(f.chkOwnResolve.Checked());
  Run({"/OwnR:0", "/Own"});
  EXPECT_FALSE(f.chkOwnResolve.Checked());
  EXPECT_EQ(rec.clicks, (Args{"Own", "Own"}));
}

TEST_F(CommandLineTest, TimeSetOnlyAfterTheQueryAndOnlyWhenItEnabledTheButton) {
  Run({"/TimeSet", "/Time:ntp.example"});  // the bare switch hides the value
  EXPECT_TRUE(rec.clicks.empty());
  Run({"/Time:ntp.example", "/TimeSet"});
  EXPECT_EQ(rec.clicks, (Args{"Time"}));  // update button still disabled
  rec.clicks.clear();
  rec.after = [&](const std::string& name) {
    if (name == "Time") f.btnTimeUpdate.SetEnabled(true);  // a time arrived
  };
  Run({"/Time:ntp.example", "/TimeSet"});
  EXPECT_EQ(rec.clicks, (Args{"Time", "TimeSet"}));
  rec.clicks.clear();
  f.btnTimeUpdate.SetEnabled(true);
  Run({"/Time:ntp.example"});
  EXPECT_EQ(rec.clicks, (Args{"Time"}));
}

TEST_F(CommandLineTest, PingItemsAndTheEndlessCount) {
  f.cmbPingCount.SetItemIndex(2);
  Run({"/Ping:h", "/PingC:-1", "/PingT:1000", "/PingB:64", "/PingP:0", "/PingR:1"});
  EXPECT_EQ(f.cmbPingCount.Text(), "...");
  EXPECT_EQ(f.cmbPingCount.ItemIndex(), 12);
  EXPECT_EQ(f.cmbPingTimeout.Text(), "1000");
  EXPECT_EQ(f.cmbPingByte.Text(), "64");
  EXPECT_EQ(f.cmbPingPause.Text(), "0");
  EXPECT_TRUE(f.chkPingResolve.Checked());
  // Values not in the lists leave the selections alone.
  Run({"/Ping:h", "/PingC:999", "/PingT:", "/PingB:lots"});
  EXPECT_EQ(f.cmbPingCount.Text(), "...");
  EXPECT_EQ(f.cmbPingTimeout.Text(), "1000");
  EXPECT_EQ(f.cmbPingByte.Text(), "64");
  Run({"/Ping:h", "/PingC:5"});
  EXPECT_EQ(f.cmbPingCount.Text(), "5");
}

TEST_F(CommandLineTest, TraceUsesItsOwnControls) {
  Run({"/Trace:host", "/TraceR:1", "/TraceC:50", "/TraceT:500"});
  EXPECT_TRUE(f.chkTraceResolve.Checked());
  EXPECT_FALSE(f.chkPingResolve.Checked());
  EXPECT_FALSE(f.chkDnsExtendedResolve.Checked());
  EXPECT_EQ(f.cmbTraceHops.Text(), "50");
  EXPECT_EQ(f.cmbTraceTimeout.Text(), "500");
  // The probe method and port land in the tab's boxes; 0 is the method's own port.
  Run({"/Trace:host", "/TraceM:UDP", "/TraceP:5353"});
  EXPECT_EQ(f.cmbTraceMethod.Text(), "UDP");
  EXPECT_EQ(f.cmbTracePort.Text(), "5353");
  Run({"/Trace:host", "/TraceM:smoke", "/TraceP:0"});
  EXPECT_EQ(f.cmbTraceMethod.Text(), "UDP");
  EXPECT_EQ(f.cmbTracePort.Text(), "");
}

TEST_F(CommandLineTest, WhoisMailAndHeaderSecondaries) {
  f.cmbWhoisServer.SetText("kept.example");
  Run({"/Whois:example.org", "/WhoisS:", "/WhoisT:15000", "/WhoisR:1", "/WhoisD:1", "/WhoisC:1",
       "/WhoisN:1", "/WhoisF:1", "/WhoisRdap:1"});
  EXPECT_EQ(f.cmbWhoisServer.Text(), "kept.example");  // empty value: unchanged
  EXPECT_EQ(f.cmbWhoisTimeout.Text(), "15000");
  for (TCheckBox* c : {&f.chkWhoisRedirect, &f.chkWhoisDirectQuery, &f.chkWhoisCheck,
                       &f.chkWhoisNetwork, &f.chkWhoisFormat, &f.chkWhoisRdap})
    EXPECT_TRUE(c->Checked()) << c->Name;
  Run({"/Whois:example.org", "/WhoisS:whois.example:4343", "/WhoisRdap:0"});
  EXPECT_EQ(f.cmbWhoisServer.Text(), "whois.example:4343");
  EXPECT_FALSE(f.chkWhoisRdap.Checked());

  Run({"/EMail:u@example.org", "/EMailS:me@example.org", "/EMailMX:mx.example", "/EMailT:250"});
  EXPECT_EQ(f.cmbEMailSender.Text(), "me@example.org");
  EXPECT_EQ(f.cmbEMailMXServer.Text(), "mx.example");
  EXPECT_EQ(f.cmbEMailTimeout.Text(), "250");
  Run({"/EMail:u@example.org", "/EMailPolicy:1", "/EMailSpfIp:2001:db8::25", "/EMailSpfHelo:mx.example",
       "/EMailConnect:0", "/EMailDkim:sel1,sel2", "/EMailTls:1", "/EMailAllMx:1"});
  EXPECT_EQ(f.cmbEMailDkim.Text(), "sel1,sel2");
  EXPECT_TRUE(f.chkEMailTls.Checked());
  EXPECT_TRUE(f.chkEMailAllMx.Checked());
  EXPECT_TRUE(f.chkEMailPolicy.Checked());
  EXPECT_EQ(f.cmbEMailSpfIp.Text(), "2001:db8::25");
  EXPECT_EQ(f.EMailSpfHelo, "mx.example");
  EXPECT_FALSE(f.EMailConnect);

  Run({"/Head:http://example.org/", "/HeadT:7500", "/HeadR:1"});
  EXPECT_EQ(f.cmbHeadTimeout.Text(), "7500");
  EXPECT_TRUE(f.chkHeadRedirect.Checked());
}

TEST_F(CommandLineTest, QuotedValueWithABlankArrivesWhole) {
  Run({"/Head:http://h.example/a b.html"});
  EXPECT_EQ(rec.values, (Args{"http://h.example/a b.html"}));
}

TEST_F(CommandLineTest, ListNamesMatchWithoutRegardToCase) {
  f.cmbListList.SetItems({"Ports", "Codes"});
  f.cmbListList.SetItemIndex(0);
  Run({"/List:80", "/ListL:codes"});
  EXPECT_EQ(f.cmbListList.Text(), "Codes");
  Run({"/List:80", "/ListL:nosuch"});
  EXPECT_EQ(f.cmbListList.Text(), "Codes");
  EXPECT_EQ(rec.clicks, (Args{"List", "List"}));
}

TEST_F(CommandLineTest, PageRankForcesTheSingleServer) {
  int changes = 0;
  f.cmbGPRankCount.OnChange = [&] { ++changes; };
  f.cmbGPRankCount.SetItemIndex(3);
  Run({"/PRank:http://example.org", "/PRankT:5000"});
  EXPECT_EQ(f.cmbGPRankCount.ItemIndex(), 0);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(f.cmbGPRankTimeout.Text(), "5000");
  EXPECT_EQ(rec.pages, (std::vector<int>{pgGPRank}));
}

TEST_F(CommandLineTest, EmptyMainValueRunsNothing) {
  Run({"/Dns:", "/Ping", "/Whois:"});
  EXPECT_TRUE(rec.clicks.empty());
  EXPECT_FALSE(CommandLineNamesTool());
}

TEST_F(CommandLineTest, NoToolStartsAfterACloseRequest) {
  rec.after = [&](const std::string&) { f.CloseRequested = true; };
  Run({"/Dns:a", "/Ping:b", "/Focus:ping"});
  EXPECT_EQ(rec.clicks, (Args{"Dns"}));
}

// A value longer than the field takes is kept whole (the tool refuses it),
// never cut to a shorter one that would then be asked for.
TEST_F(CommandLineTest, CommandLineValuesAreNeverCut) {
  const std::string longName = std::string(254, 'a') + "ü";
  Run({"/Dns:" + longName, "/Head:http://h/" + std::string(5000, 'p')});
  EXPECT_EQ(f.cmbDnsHost.Text(), longName);
  EXPECT_EQ(f.cmbHeadURL.Text().size(), 5000u + 9);
}
