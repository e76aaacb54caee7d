// The main window model: histories, the run convention, the edit popup,
// resizing, the Help and File menus and re-entry while a tool runs.
#include <gtest/gtest.h>

#include <stdexcept>

#include "app/fShared.h"
#include "app/formMain.h"
#include "common/Deadline.h"
#include "common/Pump.h"
#include "platform/Desktop.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"

using namespace quovix;

namespace {

struct FakeDesktop : platform::IDesktop {
  bool opens = true;
  std::vector<std::string> urls;
  std::vector<std::pair<std::string, std::string>> boxes;
  void MessageBox(const std::string& title, const std::string& text) override {
    boxes.emplace_back(title, text);
  }
  bool OpenUrl(const std::string& url) override {
    urls.push_back(url);
    return opens;
  }
};

// The pump's clock stands still at ms after a start far from any real one,
// until the test moves it.
struct PumpClockAt {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::time_point{} + std::chrono::hours(1000000);
  int ms = 0;
  PumpClockAt() { SetPumpClock([this] { return start + std::chrono::milliseconds(ms); }); }
  ~PumpClockAt() { SetPumpClock(nullptr); }
};

struct MaxRecent {
  explicit MaxRecent(int v) : saved(MaxRecentItems) { MaxRecentItems = v; }
  ~MaxRecent() { MaxRecentItems = saved; }
  int saved;
};

// A plain DNS-like run on the DNS tab.
ToolRunGuard::Options DnsRun(TfrmMain& f) {
  return {.Start = &f.btnDnsStart,
          .Inputs = {&f.lblDnsHost, &f.cmbDnsHost, &f.chkDnsExtended},
          .MainInput = &f.cmbDnsHost,
          .Histories = {},
          .Pane = &f.reDns,
          .StatusKey = "Main|sbTestRunning",
          .StatusDefault = "Suche %s1%...",
          .StatusArg = f.cmbDnsHost.Text(),
          .Abortable = false};
}

ToolRunGuard::Options PingRun(TfrmMain& f) {
  return {.Start = &f.btnPingStart,
          .Inputs = {&f.lblPingHost, &f.cmbPingHost, &f.cmbPingCount},
          .MainInput = &f.cmbPingHost,
          .Histories = {},
          .Pane = &f.rePing,
          .StatusKey = "Main|sbTestPing",
          .StatusDefault = "Ping %s1%...",
          .StatusArg = f.cmbPingHost.Text(),
          .Abortable = true};
}

void ExpectIdle(TfrmMain& f) {
  EXPECT_TRUE(f.ToolIdle);
  EXPECT_EQ(f.Cursor, TCursor::Default);
  EXPECT_EQ(f.sbMain.SimpleText(), " Bereit.");
}

}  // namespace

// ---- Histories ----------------------------------------------------------------------

TEST(MainHistory, LatestSpellingWinsOnceAtTheTop) {
  MaxRecent cap(25);
  TfrmMain f;
  f.AddRecentItem(f.cmbWhoisHost, "example.org");
  f.AddRecentItem(f.cmbWhoisHost, "other.net");
  f.AddRecentItem(f.cmbWhoisHost, " Example.ORG\t");
  EXPECT_EQ(f.cmbWhoisHost.Items(), (std::vector<std::string>{"Example.ORG", "other.net"}));
  EXPECT_EQ(f.cmbWhoisHost.ItemIndex(), 0);
  EXPECT_EQ(f.cmbWhoisHost.Text(), "Example.ORG");
  // Blank and control characters only: nothing changes.
  f.AddRecentItem(f.cmbWhoisHost, " \r\n ");
  EXPECT_EQ(f.cmbWhoisHost.Count(), 2);
}

TEST(MainHistory, CapAppliesWhenTheRunEnds) {
  // MaxRecentItems 5 and the ten servers of the Time tab: the first query
  // leaves five entries, the one used first.
  MaxRecent cap(5);
  TfrmMain f;
  std::vector<std::string> servers;
  for (int i = 0; i < 10; ++i) servers.push_back("ntp" + std::to_string(i) + ".example");
  f.cmbTimeServer.SetItems(servers);
  f.cmbTimeServer.SetItemIndex(0);
  {
    ToolRunGuard g(f, {.Start = &f.btnTimeQuery,
                       .Inputs = {&f.cmbTimeServer},
                       .MainInput = &f.cmbTimeServer,
                       .Histories = {},
                       .Pane = nullptr,
                       .StatusKey = "Main|sbTestTime",
                       .StatusDefault = "%s1%",
                       .StatusArg = f.cmbTimeServer.Text(),
                       .Abortable = false});
  }
  EXPECT_EQ(f.cmbTimeServer.Items(),
            (std::vector<std::string>{"ntp0.example", "ntp1.example", "ntp2.example",
                                      "ntp3.example", "ntp4.example"}));
  // A new entry pushes the oldest out.
  f.AddRecentItem(f.cmbTimeServer, "new.example");
  EXPECT_EQ(f.cmbTimeServer.Count(), 5);
  EXPECT_EQ(f.cmbTimeServer.Items().front(), "new.example");
  EXPECT_EQ(f.cmbTimeServer.Items().back(), "ntp3.example");
}

// ---- Run convention ----------------------------------------------------------------

TEST(MainRun, PlainVariantDisablesAndRestoresEvenOnError) {
  MaxRecent cap(25);
  TfrmMain f;
  f.cmbDnsHost.SetText("host.example");
  f.reDns.AddLine("old output", clBlack);
  f.lblDnsHost.SetEnabled(true);
  bool sawBusy = false;
  auto run = [&] {
    ToolRunGuard g(f, DnsRun(f));
    sawBusy = !f.ToolIdle && f.Cursor == TCursor::HourGlass && !f.btnDnsStart.Enabled() &&
              !f.cmbDnsHost.Enabled() && !f.lblDnsHost.Enabled() && !f.chkDnsExtended.Enabled() &&
              f.reDns.Lines().empty() && f.sbMain.SimpleText() == " Suche host.example..." &&
              !f.pcMain.UserSelect(pgPing);
    f.AppendOutput(f.reDns, "line", clBlue);
    throw std::runtime_error("socket gone");
  };
  EXPECT_THROW(run(), std::runtime_error);
  EXPECT_TRUE(sawBusy);
  ExpectIdle(f);
  EXPECT_TRUE(f.btnDnsStart.Enabled());
  EXPECT_TRUE(f.cmbDnsHost.Enabled());
  EXPECT_TRUE(f.lblDnsHost.Enabled());
  EXPECT_TRUE(f.chkDnsExtended.Enabled());
  EXPECT_EQ(f.ActiveControl, &f.cmbDnsHost);  // where Enter runs it again
  EXPECT_EQ(f.cmbDnsHost.Items(), (std::vector<std::string>{"host.example"}));
  ASSERT_EQ(f.reDns.Lines().size(), 1u);
  EXPECT_EQ(f.pcMain.ActivePageIndex(), pgDns);
  EXPECT_TRUE(f.pcMain.UserSelect(pgPing));
  EXPECT_EQ(f.ActiveControl, &f.cmbPingHost);  // the new tab's input
}

TEST(MainRun, AbortableVariantStopsAtTheCheckpointAfterAnAbortClick) {
  MaxRecent cap(25);
  TfrmMain f;
  f.cmbPingHost.SetText("127.0.0.1");
  int echoes = 0;
  bool startEnabledWhileRunning = false;
  std::string captionWhileRunning;
  // The user's click arrives while the third echo's messages are pumped.
  f.ProcessMessages = [&] {
    if (echoes == 3) f.btnPingStart.Click();
  };
  f.btnPingStart.OnClick = [&] {
    if (ToolRunGuard::AbortClick(f.btnPingStart)) return;
    ToolRunGuard g(f, PingRun(f));
    startEnabledWhileRunning = f.btnPingStart.Enabled();
    captionWhileRunning = f.btnPingStart.Caption();
    for (int i = 0; i < 100; ++i) {
      ++echoes;
      f.AppendOutput(f.rePing, "echo " + std::to_string(echoes), clBlack);
      if (g.Aborted()) {
        f.AppendOutput(f.rePing, LangText("Main|OutUserAbort", "Abbruch durch Benutzer."), clRed);
        return;
      }
    }
  };
  f.btnPingStart.Click();
  EXPECT_EQ(echoes, 3);
  EXPECT_TRUE(startEnabledWhileRunning);
  EXPECT_EQ(captionWhileRunning, "Abbrechen");
  ASSERT_EQ(f.rePing.Lines().size(), 4u);
  EXPECT_EQ(f.rePing.Lines().back().Text, "Abbruch durch Benutzer.");
  EXPECT_EQ(f.rePing.Lines().back().Color, clRed);
  EXPECT_EQ(f.btnPingStart.RunState, 0);
  EXPECT_EQ(f.btnPingStart.Caption(), "&Start");
  EXPECT_TRUE(f.cmbPingCount.Enabled());
  ExpectIdle(f);
}

TEST(MainRun, RepeatedAbortClicksNeverStartANestedRun) {
  TfrmMain f;
  int runs = 0, pumps = 0;
  f.ProcessMessages = [&] {
    if (++pumps <= 3) f.btnPingStart.Click();  // impatient user
  };
  f.btnPingStart.OnClick = [&] {
    if (ToolRunGuard::AbortClick(f.btnPingStart)) return;
    ++runs;
    ToolRunGuard g(f, PingRun(f));
    for (int i = 0; i < 10; ++i) {
      f.Pump();
      f.Pump();
      if (g.Aborted()) return;
    }
  };
  f.btnPingStart.Click();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(f.btnPingStart.RunState, 0);
  ExpectIdle(f);
}

TEST(MainRun, AbortableVariantRestoresAfterAnError) {
  TfrmMain f;
  f.btnPingStart.OnClick = [&] {
    if (ToolRunGuard::AbortClick(f.btnPingStart)) return;
    ToolRunGuard g(f, PingRun(f));
    throw std::runtime_error("boom");
  };
  EXPECT_THROW(f.btnPingStart.Click(), std::runtime_error);
  EXPECT_EQ(f.btnPingStart.RunState, 0);
  EXPECT_EQ(f.btnPingStart.Caption(), "&Start");
  EXPECT_TRUE(f.cmbPingHost.Enabled());
  ExpectIdle(f);
}

TEST(MainRun, AppendOutputSplitsLinesAndPumpsLeavingTheFocus) {
  TfrmMain f;
  f.SetFocus(&f.cmbWhoisHost);
  int pumps = 0;
  PumpClockAt clock;
  f.ProcessMessages = [&] { ++pumps; };
  f.AppendOutput(f.reWhois, "\r\nheading", clBlue);
  f.AppendOutput(f.reWhois, "a\r\nb\nc", clNavy);
  ASSERT_EQ(f.reWhois.Lines().size(), 5u);
  EXPECT_EQ(f.reWhois.Lines()[0].Text, "");
  EXPECT_EQ(f.reWhois.Lines()[1].Text, "heading");
  EXPECT_EQ(f.reWhois.Lines()[1].Color, clBlue);
  EXPECT_EQ(f.reWhois.Lines()[2].Text, "a");
  EXPECT_EQ(f.reWhois.Lines()[4].Text, "c");
  EXPECT_EQ(f.reWhois.Lines()[4].Color, clNavy);
  EXPECT_EQ(f.ActiveControl, &f.cmbWhoisHost);
  EXPECT_EQ(pumps, 1);  // the second within the same frame
}

// Lines are painted once per frame while they arrive, and a wait paints
// what has not been painted yet before it blocks.
TEST(MainRun, OutputIsPaintedOncePerFrameAndBeforeEveryWait) {
  struct Case {
    const char* name;
    std::vector<int> linesAtMs;  // one AppendOutput at each, in ms after
    int waitAtMs;                // a point 100 ms after the last pump
    int pumps;                   // by the lines and the wait's start
  } cases[] = {
      {"a burst, then a wait", std::vector<int>(200, 0), 0, 2},
      {"a line every few ms", {0, 5, 10, 15, 16, 20, 32}, 32, 3},
      {"the last line unpainted at the wait", {0, 5}, 300, 2},
      {"nothing waiting, a slice after the last", {}, 300, 1},
      {"nothing waiting, just after the last", {}, 10, 0},
  };
  for (const Case& c : cases) {
    TfrmMain f;
    int pumps = 0;
    f.ProcessMessages = [&] { ++pumps; };
    SetMessagePump([&f] { f.Pump(); });
    PumpClockAt clock;
    NotePumped();
    for (int at : c.linesAtMs) {
      clock.ms = 100 + at;
      f.AppendOutput(f.reDns, "line", clBlack);
    }
    clock.ms = 100 + c.waitAtMs;
    // A wait that is over at once still runs the pump first when due.
    WaitSliced(Deadline::In(0), [](int) { return true; });
    SetMessagePump(nullptr);
    EXPECT_EQ(pumps, c.pumps) << c.name;
  }
}

// An error escaping a handler reaches the default error box after the leave
// steps; the Info hook stands in for a handler wired like a tool's Start.
TEST(MainRun, EscapedErrorIsShownAfterTheWindowIsIdleAgain) {
  FakeDesktop desktop;
  platform::ScopedSeam<platform::IDesktop> seam(&desktop);
  TfrmMain f;
  bool idleWhenShown = false;
  f.ShowInfoDialog = [&] {
    ToolRunGuard g(f, DnsRun(f));
    throw std::runtime_error("unexpected answer");
  };
  desktop.boxes.clear();
  f.mnuHelpInfo.Click();
  idleWhenShown = f.ToolIdle;
  ASSERT_EQ(desktop.boxes.size(), 1u);
  EXPECT_EQ(desktop.boxes[0].second, "unexpected answer");
  EXPECT_TRUE(idleWhenShown);
  EXPECT_TRUE(f.btnDnsStart.Enabled());
}

// ---- Closing and menus while a tool runs ---------------------------------------------

TEST(MainReentry, CloseDuringARunAbortsItAndClosesWhenItEnds) {
  TfrmMain f;
  int closes = 0;
  f.OnCloseNow = [&] { ++closes; };
  int loops = 0;
  bool refusedWhileRunning = false;
  f.ProcessMessages = [&] {
    if (loops == 2) {
      refusedWhileRunning = !f.FormCloseQuery();  // the title bar's close
      f.mnuFileExit.Click();                     // and the menu's, on top
    }
  };
  f.ShowInfoDialog = [&] {
    if (ToolRunGuard::AbortClick(f.btnTraceStart)) return;
    ToolRunGuard g(f, {.Start = &f.btnTraceStart, .Inputs = {&f.cmbTraceHost},
                       .MainInput = &f.cmbTraceHost, .Histories = {}, .Pane = &f.reTrace,
                       .StatusKey = "Main|sbTestTrace", .StatusDefault = "%s1%",
                       .StatusArg = "", .Abortable = true});
    for (loops = 0; loops < 50; ++loops)
      if (g.Aborted()) return;
  };
  f.mnuHelpInfo.Click();
  EXPECT_TRUE(refusedWhileRunning);
  EXPECT_EQ(loops, 2);           // the run stopped at its next checkpoint
  EXPECT_EQ(closes, 1);          // and the window closed once it had returned
  EXPECT_TRUE(f.CloseRequested);
  EXPECT_TRUE(f.FormCloseQuery());
}

TEST(MainReentry, ExitWhenIdleClosesAtOnce) {
  TfrmMain f;
  int closes = 0;
  f.OnCloseNow = [&] { ++closes; };
  f.mnuFileExit.Click();
  EXPECT_EQ(closes, 1);
}

TEST(MainReentry, OptionsDialogWaitsForTheRunAndAppliesTheFontOnOk) {
  TfrmMain f;
  int shown = 0;
  bool ok = false;
  f.ShowSettingsDialog = [&] {
    ++shown;
    OutputFontName = "DejaVu Sans Mono";
    OutputFontSize = 12;
    return ok;
  };
  {
    ToolRunGuard g(f, DnsRun(f));
    f.mnuExtrasSettings.Click();
  }
  EXPECT_EQ(shown, 0);
  f.mnuExtrasSettings.Click();  // Cancel: the font is not applied
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(f.reDns.FontName, "");
  ok = true;
  f.mnuExtrasSettings.Click();
  EXPECT_EQ(f.reDns.FontName, "DejaVu Sans Mono");
  EXPECT_EQ(f.reOwn.FontSize, 12);
  EXPECT_EQ(f.lstList.FontSize, 12);
  OutputFontName.clear();
  OutputFontSize = 0;
}

TEST(MainReentry, LanguageSwitchDuringARunKeepsTheAbortCaption) {
  TfrmMain f;
  ToolRunGuard g(f, PingRun(f));
  f.ApplyLanguageTexts();
  EXPECT_EQ(f.btnPingStart.Caption(), "Abbrechen");
  EXPECT_EQ(f.btnTraceStart.Caption(), "&Start");
}

// ---- Edit popup ---------------------------------------------------------------------

namespace {
void Select(TRichEdit& pane, const std::string& part) {
  std::string t = pane.Text();
  pane.SelStart = static_cast<int>(t.find(part));
  pane.SelLength = static_cast<int>(part.size());
}
}  // namespace

TEST(MainEditPopup, EnableRulesFollowTheFocusedPaneAndSelection) {
  TfrmMain f;
  f.AppendOutput(f.reDns, "Name:  host.example", clBlack);
  f.SetFocus(&f.cmbDnsHost);  // not an output pane
  f.reDns.SelectAll();
  f.pmnuEditPopup();
  EXPECT_FALSE(f.pmnuEditCopy.Enabled());
  EXPECT_FALSE(f.pmnuSelSendTo.Enabled());

  f.SetFocus(&f.reDns);
  f.reDns.SelLength = 0;
  f.pmnuEditPopup();
  EXPECT_FALSE(f.pmnuEditCopy.Enabled());
  EXPECT_FALSE(f.pmnuSelSendTo.Enabled());

  Select(f.reDns, "  ");  // blanks only: copy yes, send no
  f.pmnuEditPopup();
  EXPECT_TRUE(f.pmnuEditCopy.Enabled());
  EXPECT_FALSE(f.pmnuSelSendTo.Enabled());

  Select(f.reDns, " host");
  f.pmnuEditPopup();
  EXPECT_TRUE(f.pmnuEditCopy.Enabled());
  EXPECT_TRUE(f.pmnuSelSendTo.Enabled());
}

TEST(MainEditPopup, CopyTakesTheSelectionOrTheWholePane) {
  TfrmMain f;
  std::string seen;
  f.OnClipboard = [&](const std::string& t) { seen = t; };
  f.AppendOutput(f.reHead, "HTTP/1.1 200 OK", clGreen);
  f.AppendOutput(f.reHead, "Server: test", clBlack);
  f.SetFocus(&f.reHead);  // the user's click into it
  Select(f.reHead, "200 OK");
  f.pmnuEditCopy.Click();
  EXPECT_EQ(f.Clipboard, "200 OK");
  EXPECT_EQ(seen, "200 OK");

  f.reHead.SelLength = 0;
  f.reHead.SelStart = 5;
  f.pmnuEditCopy.Click();
  EXPECT_EQ(f.Clipboard, "HTTP/1.1 200 OK\nServer: test");
  EXPECT_EQ(f.reHead.SelLength, 0);
  EXPECT_EQ(f.reHead.SelStart, 0);

  f.pmnuEditSelectAll.Click();
  EXPECT_EQ(f.reHead.SelText(), f.reHead.Text());

  // Without a focused pane nothing happens.
  f.SetFocus(&f.btnHeadStart);
  f.Clipboard = "unchanged";
  f.pmnuEditCopy.Click();
  EXPECT_EQ(f.Clipboard, "unchanged");
}

TEST(MainEditPopup, SendSelectionToEveryTarget) {
  struct Target {
    TMenuItem TfrmMain::*item;
    TComboBox TfrmMain::*input;
    TButton TfrmMain::*start;
    TPage page;
  };
  const Target targets[] = {
      {&TfrmMain::pmnuSelSendToDNS, &TfrmMain::cmbDnsHost, &TfrmMain::btnDnsStart, pgDns},
      {&TfrmMain::pmnuSelSendToPing, &TfrmMain::cmbPingHost, &TfrmMain::btnPingStart, pgPing},
      {&TfrmMain::pmnuSelSendToTrace, &TfrmMain::cmbTraceHost, &TfrmMain::btnTraceStart, pgTrace},
      {&TfrmMain::pmnuSelSendToWhois, &TfrmMain::cmbWhoisHost, &TfrmMain::btnWhoisStart, pgWhois},
      {&TfrmMain::pmnuSelSendToEMail, &TfrmMain::cmbEMailAddress, &TfrmMain::btnEMailStart,
       pgEMail},
      {&TfrmMain::pmnuSelSendToGPRank, &TfrmMain::cmbGPRankURL, &TfrmMain::btnGPRankStart,
       pgGPRank},
      {&TfrmMain::pmnuSelSendToList, &TfrmMain::cmbListSearch, &TfrmMain::btnListSearch, pgList},
  };
  for (const Target& t : targets) {
    TfrmMain f;
    f.pcMain.SetActivePageIndex(pgOwn);
    f.AppendOutput(f.reOwn, "Name: \t host.example  ", clBlack);
    f.SetFocus(&f.reOwn);
    Select(f.reOwn, " \t host.example  ");
    (f.*t.item).Click();
    EXPECT_EQ((f.*t.input).Text(), "host.example") << (f.*t.item).Name;
    EXPECT_EQ(f.pcMain.ActivePageIndex(), t.page) << (f.*t.item).Name;
    EXPECT_EQ(f.ActiveControl, &(f.*t.start)) << (f.*t.item).Name;
  }
}

TEST(MainEditPopup, SendToHttpHeaderPutsHttpInFrontUnlessASchemeIsThere) {
  TfrmMain f;
  f.AppendOutput(f.reDns, "  www.example.org  ", clBlack);
  f.AppendOutput(f.reDns, "ftp://files.example.org/x", clBlack);
  f.SetFocus(&f.reDns);
  Select(f.reDns, "  www.example.org  ");
  f.pmnuSelSendToHead.Click();
  EXPECT_EQ(f.cmbHeadURL.Text(), "http://www.example.org");
  EXPECT_EQ(f.pcMain.ActivePageIndex(), pgHead);
  EXPECT_EQ(f.ActiveControl, &f.btnHeadStart);
  f.SetFocus(&f.reDns);
  Select(f.reDns, "ftp://files.example.org/x");
  f.pmnuSelSendToHead.Click();
  EXPECT_EQ(f.cmbHeadURL.Text(), "ftp://files.example.org/x");
  // PageRank takes the text without a prefix.
  f.SetFocus(&f.reDns);
  Select(f.reDns, "www.example.org");
  f.pmnuSelSendToGPRank.Click();
  EXPECT_EQ(f.cmbGPRankURL.Text(), "www.example.org");
}

TEST(MainEditPopup, SendingDuringARunChangesNothing) {
  TfrmMain f;
  f.AppendOutput(f.rePing, "10.0.0.1", clBlack);
  f.SetFocus(&f.rePing);
  f.rePing.SelectAll();
  ToolRunGuard g(f, PingRun(f));
  f.AppendOutput(f.rePing, "10.0.0.1", clBlack);
  f.rePing.SelectAll();
  f.pmnuSelSendToDNS.Click();
  EXPECT_EQ(f.cmbDnsHost.Text(), "");
  EXPECT_EQ(f.pcMain.ActivePageIndex(), pgDns);  // the page it was on
}

// ---- Geometry -----------------------------------------------------------------------

TEST(MainResize, SizesFollowTheClientArea) {
  TfrmMain f;
  EXPECT_EQ(f.Width, 656);
  EXPECT_EQ(f.Height, 499);
  EXPECT_EQ(f.MinWidth, 545);
  EXPECT_EQ(f.MinHeight, 275);
  const int panelW = f.pnlGPRankSingle.Width, panelH = f.pnlGPRankSingle.Height;
  f.ClientWidth = 800;
  f.ClientHeight = 600;
  f.FormResize();
  EXPECT_EQ(f.bvlMenuLine.Width, 800);
  EXPECT_EQ(f.pcMain.Left, 6);
  EXPECT_EQ(f.pcMain.Top, 6);
  EXPECT_EQ(f.pcMain.Width, 800 - 12);
  EXPECT_EQ(f.pcMain.Height, 600 - TfrmMain::kStatusBarHeight - 12);
  const int tabW = f.tabDns.Width, tabH = f.tabDns.Height;
  EXPECT_EQ(tabW, f.pcMain.Width - 2 * TfrmMain::kTabBorder);
  EXPECT_EQ(tabH, f.pcMain.Height - TfrmMain::kTabHeaderHeight - TfrmMain::kTabBorder);
  for (TControl* g : std::initializer_list<TControl*>{&f.grpDns, &f.grpPing, &f.grpTrace,
                                                      &f.grpWhois, &f.grpEMail, &f.grpHead,
                                                      &f.grpTime, &f.grpGPRank, &f.grpList})
    EXPECT_EQ(g->Width, tabW - 14) << g->Name;
  for (TControl* p : std::initializer_list<TControl*>{&f.reDns, &f.rePing, &f.reTrace, &f.reWhois,
                                                      &f.reEMail, &f.reHead, &f.lstList,
                                                      &f.lvGPRankMulti, &f.reOwn}) {
    EXPECT_EQ(p->Width, tabW - 14) << p->Name;
    EXPECT_EQ(p->Height, tabH - p->Top - 8) << p->Name;
  }
  EXPECT_EQ(f.lvGPRankMulti.Left, 6);
  EXPECT_EQ(f.lvGPRankMulti.Top, 108);
  EXPECT_EQ(f.pnlGPRankSingle.Width, panelW);
  EXPECT_EQ(f.pnlGPRankSingle.Height, panelH);
  EXPECT_EQ(f.sbMain.Top + f.sbMain.Height, 600);
}

TEST(MainResize, TinyWindowGivesNoNegativeSizes) {
  TfrmMain f;
  f.ClientWidth = 10;
  f.ClientHeight = 20;
  f.FormResize();
  for (int p = pgDns; p <= pgOwn; ++p)
    for (TControl* c : f.TabControls(static_cast<TPage>(p))) {
      EXPECT_GE(c->Width, 0) << c->Name;
      EXPECT_GE(c->Height, 0) << c->Name;
    }
}

TEST(MainResize, DesignPlacesEveryControlInsideItsTab) {
  TfrmMain f;
  for (int p = pgDns; p <= pgOwn; ++p) {
    const TTabSheet* tab = f.Page(p);
    auto controls = f.TabControls(static_cast<TPage>(p));
    ASSERT_FALSE(controls.empty());
    for (TControl* c : controls) {
      EXPECT_GT(c->Width + (c == &f.shpGPRankFront), 0) << c->Name;
      EXPECT_GE(c->Left, 0) << c->Name;
      EXPECT_LE(c->Left + c->Width, tab->Width) << c->Name;
      EXPECT_LE(c->Top + c->Height, tab->Height) << c->Name;
    }
  }
}

TEST(MainKeys, EscAbortsOnlyTheRunOfTheTabInFront) {
  TfrmMain f;
  f.pcMain.SetActivePageIndex(pgTrace);
  f.btnTraceStart.RunState = 1;
  f.btnPingStart.RunState = 1;  // cannot happen; shows that only the front tab counts
  f.AbortVisibleTool();
  EXPECT_EQ(f.btnTraceStart.RunState, -1);
  EXPECT_EQ(f.btnPingStart.RunState, 1);
  // Nothing running there: nothing changes.
  f.btnTraceStart.RunState = 0;
  f.AbortVisibleTool();
  EXPECT_EQ(f.btnTraceStart.RunState, 0);
  f.pcMain.SetActivePageIndex(pgTime);  // no abortable run on this tab
  f.AbortVisibleTool();
  EXPECT_EQ(f.mnuFileExit.ShortCut, "Ctrl+Q");
  EXPECT_EQ(f.mnuHelpWebsite.ShortCut, "F1");
}

// ---- Help menu ------------------------------------------------------------------------

TEST(MainHelp, WebPagesAndMailWithMessagesOnFailure) {
  FakeDesktop desktop;
  platform::ScopedSeam<platform::IDesktop> seam(&desktop);
  TfrmMain f;
  f.mnuHelpWebsite.Click();
  f.mnuHelpDonate.Click();
  f.mnuHelpEMail.Click();
  ASSERT_EQ(desktop.urls.size(), 3u);
  EXPECT_EQ(desktop.urls[0], kProductUrl);
  EXPECT_EQ(desktop.urls[1], kDonateUrl);
  EXPECT_EQ(desktop.urls[2], "mailto:" + EncodeMailtoText(kAuthorMail) + "?subject=Quovix%20" +
                                 EncodeMailtoText(QUOVIX_VERSION));
  EXPECT_TRUE(desktop.boxes.empty());

  desktop.opens = false;
  f.mnuHelpWebsite.Click();
  f.mnuHelpEMail.Click();
  ASSERT_EQ(desktop.boxes.size(), 2u);
  EXPECT_EQ(desktop.boxes[0].first, "Kein Standard-Webbrowser gefunden");
  // The address to copy by hand.
  EXPECT_EQ(desktop.boxes[0].second, std::string("Ihr Standard-Webbrowser konnte nicht geöffnet werden!\n\n"
                                                  "Die Adresse zum Kopieren: ") + kProductUrl);
  EXPECT_EQ(desktop.boxes[1].first, "Kein Standard-Mailclient gefunden");
  EXPECT_EQ(desktop.boxes[1].second, "Ihr Standard-Mailclient konnte nicht geöffnet werden!");
}
