// The main window as a toolkit-free model: every control as plain state and
// every handler the window has. The Qt view binds widgets to these controls;
// the console front end and the tests drive the handlers directly.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Controls.h"
#include "clients/DnsClient.h"
#include "clients/HttpClient.h"
#include "clients/SmtpClient.h"
#include "clients/SntpClient.h"
#include "common/TraceRounds.h"
#include "tools/fGPRank.h"

namespace quovix {

namespace platform {
struct IIcmpProbes;
}

class TfrmMain;
namespace sts {
struct Policy;
}

// Tab page indexes of pcMain (the setting LastPage stores them).
enum TPage {
  pgDns = 0,
  pgPing = 1,
  pgTrace = 2,
  pgWhois = 3,
  pgEMail = 4,
  pgHead = 5,
  pgTime = 6,
  pgGPRank = 7,
  pgList = 8,
  pgOwn = 9,
};

// Enter and leave steps around one tool run. Construct it at the start of a
// Start handler (after AbortClick for the abortable tools); its destructor runs
// the leave steps however the handler ends, an exception included.
class ToolRunGuard {
 public:
  struct Options {
    TButton* Start = nullptr;            // the tab's Start button
    std::vector<TControl*> Inputs;       // inputs and their labels to disable
    TComboBox* MainInput = nullptr;      // enters its history when the run ends
    std::vector<TComboBox*> Histories;   // further histories of the tool
    TRichEdit* Pane = nullptr;           // output pane to clear (may be null)
    std::string StatusKey;               // e.g. "Main|sbDnsRunning"
    std::string StatusDefault;           // German default text
    std::string StatusArg;               // argument %s1% (main input as typed)
    std::vector<std::string> StatusArgs;  // several arguments, used instead when given
    bool Abortable = false;              // Start stays enabled and becomes "Abbrechen"
  };

  ToolRunGuard(TfrmMain& form, Options opts);
  ~ToolRunGuard();
  ToolRunGuard(const ToolRunGuard&) = delete;
  ToolRunGuard& operator=(const ToolRunGuard&) = delete;

  // For abortable tools: call first in the Start handler. When the button's
  // run is already going, requests the abort and returns true (the handler
  // then returns at once).
  static bool AbortClick(TButton& start);

  // A checkpoint of the abortable loop: lets pending messages run, then tells
  // whether the user asked to abort.
  bool Aborted();

  // A run that failed names the failure in the status bar when it ends,
  // instead of "Bereit." (the text without the leading blank).
  void SetEndStatus(std::string text) { endStatus_ = std::move(text); }

 private:
  TfrmMain& form_;
  Options o_;
  std::string endStatus_;
};

class TfrmMain {
 public:
  TfrmMain();
  ~TfrmMain();
  TfrmMain(const TfrmMain&) = delete;
  TfrmMain& operator=(const TfrmMain&) = delete;

  // ---- Form ------------------------------------------------------------
  std::string Caption = "Quovix";
  // The application title: set with the caption by ApplyLanguageTexts.
  std::string ApplicationTitle = "Quovix";
  // Called when Caption, ApplicationTitle, FontName or FontSize changed.
  std::function<void()> OnFormChanged;
  int Width = 656, Height = 499;
  int MinWidth = 545, MinHeight = 275;
  int ClientWidth = 640, ClientHeight = 440;
  std::string FontName = "Tahoma";
  int FontSize = 8;
  // Every position and size of the window (and of its dialogs) is given for
  // this font at 96 dpi; the view scales them to the font it shows.
  static constexpr const char* kDesignFontName = "Tahoma";
  static constexpr int kDesignFontSize = 8;
  // The window's place on the desktop in pixels, as the settings file keeps
  // it; a width or height of 0: none known (the view centres the design
  // size). The view fills it before the settings are saved.
  struct TPlacement {
    int Left = 0, Top = 0, Width = 0, Height = 0;
    bool Maximized = false;
  };
  TPlacement Placement;
  TCursor Cursor = TCursor::Default;
  bool ToolIdle = true;
  // The control that has the keyboard focus (nullptr: none known).
  TControl* ActiveControl = nullptr;
  // Counts SetFocus calls: a view moves the focus at each, also when the
  // control named is the one it believes focused.
  int FocusRequests = 0;
  void SetFocus(TControl* c);
  // The control a tab's user types into first (Start where there is none);
  // it has the focus at the start, after a change of tab and after a run.
  TControl* MainInputOf(int page);
  void FocusMainInput();

  // Application pump: lets pending window messages run. The view sets it to
  // its event processing, the console to its Ctrl+C check, tests to theirs.
  std::function<void()> ProcessMessages;
  void Pump();

  // Command line as the process received it (argv), set before FormShow.
  std::vector<std::string> CommandLineArgs;
  // Called after each tool a command-line group ran (the console prints the
  // result controls that are not output panes from it).
  std::function<void(TPage)> OnCommandLineToolDone;

  // Window creation and show steps.
  void FormCreate();
  void FormShow();
  // Closing: saves the settings. Returns false when the close has to wait for
  // a running tool (it is then aborted and the close happens when it ends).
  bool FormCloseQuery();
  void FormClose();
  // Set by FormCloseQuery while a tool runs; the view closes when the run ends.
  // It stays set: the command-line actions start no further tool after it.
  bool CloseRequested = false;
  // View: close the window for real. May be called from inside a handler
  // (also during FormShow, before the message loop runs), so the view should
  // queue the close rather than tear the window down on the spot.
  std::function<void()> OnCloseNow;
  // Asks every running abortable tool to stop at its next checkpoint.
  void AbortRunningTool();
  // A close or an abort has been asked for: the waits of the running tool
  // end at their next slice.
  bool StopRequested();
  // The Start buttons that turn into "Abbrechen" while their tool runs.
  std::vector<TButton*> AbortableStarts();
  // Esc: asks the running tool of the tab in front to stop, where its Start
  // button can abort it; nothing while no tool of that tab runs.
  void AbortVisibleTool();

  // ---- Geometry ------------------------------------------------------------
  // Positions of controls on a tab are relative to the tab sheet's client
  // area; a group box is a frame drawn behind the controls inside it. The
  // tab sheets' own Left/Top are relative to pcMain, pcMain and the menu line
  // to the window's client area.
  static constexpr int kStatusBarHeight = 19;
  static constexpr int kTabHeaderHeight = 24;  // tab captions of pcMain
  static constexpr int kTabBorder = 4;         // frame of pcMain around a sheet
  // Design-time positions of every control (called by the constructor).
  void LayoutDesign();
  // Resizing rules: sizes of pcMain, group boxes and panes from
  // ClientWidth/ClientHeight (called on every size change).
  void FormResize();
  // The part of the resizing rules inside the tabs, for a given client size
  // of the tab sheets (a view may call it with the real size of its pages).
  void LayoutTabContents(int tabWidth, int tabHeight);
  TPanel bvlMenuLine{"bvlMenuLine"};  // the one-pixel line under the menu
  TPanel pnlMain{"pnlMain"};          // panel holding pcMain
  // The controls of a tab in creation order (group box first), for the view.
  std::vector<TControl*> TabControls(TPage page);

  // ---- Shared operations -------------------------------------------------
  // Appends a text to a pane; each line of it (CR LF or LF) becomes a line
  // of its own. The fields go to the text's first non-empty line.
  void AppendOutput(TRichEdit& pane, const std::string& text, TColor color,
                    TLineFields fields = {});
  // The same with fields for each line: fieldsOf gets each line's text.
  void AppendOutputLines(TRichEdit& pane, const std::string& text, TColor color,
                         const std::function<TLineFields(const std::string&)>& fieldsOf);
  // What the last run of each tool found, in named values (the sent and
  // answered echoes, the final HTTP status, the NTP server's time): the
  // console's JSON Lines output closes each tool with it; the window shows
  // none of it. The command-line actions empty a tool's entry before they
  // run it; the tools fill it as they go. A text "error" names why a tool
  // without an output pane found nothing.
  std::array<TLineFields, 10> ToolResults;
  void SetToolResult(TPage page, TLineFields fields) { ToolResults.at(page) = std::move(fields); }
  // Whether the last run of each tool failed by the tool's own verdict where
  // the colours do not tell it: a name the look-up block shows as "???", a
  // route that never reaches its target. The console's exit status and the
  // result object's status follow it beside the error and time-out lines.
  // Emptied with ToolResults.
  std::array<bool, 10> ToolFailed{};
  void SetToolFailed(TPage page) { ToolFailed.at(page) = true; }
  // The opposite verdict: the run got what it asked for, so its maroon lines
  // were notes on the way there (an RDAP failure that port 43 then
  // answered), not failures. ToolFailed wins where both are set. Emptied
  // with ToolResults.
  std::array<bool, 10> ToolAnswered{};
  void SetToolAnswered(TPage page) { ToolAnswered.at(page) = true; }
  // The red line of an input the IDN encoder refuses (reason
  // "idn_not_encodable") or that is longer than DNS allows ("name_too_long",
  // see EncodeHostName); the tool then ends its look-up (the name is not this
  // computer, which the empty text would be, nor a cut one).
  // more: the fields of the tool's own beside them.
  void AppendIdnFailure(TRichEdit& pane, const std::string& name,
                        const char* reason = "idn_not_encodable", const TLineFields& more = {});
  // EncodeHostName of name into idn; false, with that red line, when it
  // cannot be asked for.
  bool EncodeHostOrSay(TRichEdit& pane, const std::string& name, std::string& idn);
  // The words of that line (for a tool without a pane).
  static std::string HostRefusalText(const std::string& name, const char* reason);
  void AddRecentItem(TComboBox& combo, const std::string& text);
  void ApplyOutputFont();
  void ApplyLanguageTexts();
  void SetStatus(const std::string& text) { sbMain.SetSimpleText(text); }

  // ---- Menus -------------------------------------------------------------
  TMenuItem mnuFile{"mnuFile"}, mnuFileSave{"mnuFileSave"}, mnuFileOpen{"mnuFileOpen"},
      mnuFileSep{"mnuFileSep"}, mnuFileExit{"mnuFileExit"};
  TMenuItem mnuTools{"mnuTools"}, mnuToolsDnsFlush{"mnuToolsDnsFlush"};
  TMenuItem mnuExtras{"mnuExtras"}, mnuLanguage{"mnuLanguage"},
      mnuExtrasSep{"mnuExtrasSep"}, mnuExtrasSettings{"mnuExtrasSettings"};
  TMenuItem mnuHelp{"mnuHelp"}, mnuHelpWebsite{"mnuHelpWebsite"}, mnuHelpEMail{"mnuHelpEMail"},
      mnuHelpDonate{"mnuHelpDonate"}, mnuHelpSep{"mnuHelpSep"}, mnuHelpInfo{"mnuHelpInfo"};
  std::vector<TMenuItem*> MainMenu;  // the top-level items in order

  // Edit popup of the output panes.
  TMenuItem pmnuEdit{"pmnuEdit"};
  TMenuItem pmnuSelSendTo{"pmnuSelSendTo"}, pmnuSelSendToDNS{"pmnuSelSendToDNS"},
      pmnuSelSendToPing{"pmnuSelSendToPing"}, pmnuSelSendToTrace{"pmnuSelSendToTrace"},
      pmnuSelSendToWhois{"pmnuSelSendToWhois"}, pmnuSelSendToEMail{"pmnuSelSendToEMail"},
      pmnuSelSendToHead{"pmnuSelSendToHead"}, pmnuSelSendToGPRank{"pmnuSelSendToGPRank"},
      pmnuSelSendToList{"pmnuSelSendToList"};
  TMenuItem pmnuEditSep1{"pmnuEditSep1"}, pmnuEditCopy{"pmnuEditCopy"},
      pmnuEditSep2{"pmnuEditSep2"}, pmnuEditSelectAll{"pmnuEditSelectAll"};

  // The output pane that has the focus, or nullptr (the popup acts on it).
  TRichEdit* FocusedPane();
  void pmnuEditPopup();  // enable rules, run when the popup opens
  void pmnuEditCopyClick();
  void pmnuEditSelectAllClick();
  void SendSelectionTo(TPage page);
  // The clipboard; the view connects it to the system clipboard.
  std::string Clipboard;
  std::function<void(const std::string&)> OnClipboard;

  void mnuFileExitClick();
  // Datei › Ausgabe speichern: asks for a file and saves the tab in front.
  void mnuFileSaveClick();
  // Datei › Aufzeichnung öffnen: asks for a JSON Lines file and opens it.
  void mnuFileOpenClick();
  // The view fills these: a file name to save to (the tab's tool name as
  // the suggestion), one to open; "" when the user cancelled.
  std::function<std::string(const std::string& suggested)> AskSaveFileName;
  std::function<std::string()> AskOpenFileName;
  // The lines of a tab as the console writes them: its pane's, then its
  // result controls that are not panes.
  std::vector<TOutputLine> TabOutputLines(int page);
  // Saves the tab's lines in the format the file name's extension names;
  // a failure is named in a message box and the status bar. True when saved.
  bool SaveOutput(int page, const std::string& path);
  // Opens a recording into its tools' tabs (the first tool's in front),
  // each line in its colour with its fields, and marks it in the status bar
  // with the file's time. Lines that are no record are named in one red line
  // under the output. False (and a message box) when nothing could be shown.
  bool OpenRecording(const std::string& path);
  void mnuToolsDnsFlushClick();
  void mnuExtrasSettingsClick();
  void mnuHelpWebsiteClick();
  void mnuHelpEMailClick();
  void mnuHelpDonateClick();
  void mnuHelpInfoClick();
  void ApplyHints();
  void LanguageItemClick(TMenuItem& item);
  // The dialogs fill these: show the options dialog modally and tell whether
  // it closed with OK; show the about dialog modally.
  std::function<bool()> ShowSettingsDialog;
  std::function<void()> ShowInfoDialog;

  // ---- Page control and status bar ---------------------------------------
  TPageControl pcMain{"pcMain"};
  TStatusBar sbMain{"sbMain"};
  TTabSheet tabDns{"tabDns"}, tabPing{"tabPing"}, tabTrace{"tabTrace"}, tabWhois{"tabWhois"},
      tabEMail{"tabEMail"}, tabHead{"tabHead"}, tabTime{"tabTime"}, tabGPRank{"tabGPRank"},
      tabList{"tabList"}, tabOwn{"tabOwn"};

  // ---- DNS ---------------------------------------------------------------
  TGroupBox grpDns{"grpDns"};
  TLabel lblDnsHost{"lblDnsHost"};
  TComboBox cmbDnsHost{"cmbDnsHost", TComboStyle::DropDown, 256};
  TButton btnDnsStart{"btnDnsStart"};
  TCheckBox chkDnsExtended{"chkDnsExtended"}, chkDnsExtendedResolve{"chkDnsExtendedResolve"},
      chkDnsReverse{"chkDnsReverse"}, chkDnsDirectQuery{"chkDnsDirectQuery"},
      chkDnsDnssec{"chkDnsDnssec"}, chkDnsIterate{"chkDnsIterate"};
  // One record type asked directly (empty: the look-up and information).
  TLabel lblDnsType{"lblDnsType"};
  TComboBox cmbDnsType{"cmbDnsType", TComboStyle::DropDown, 16};
  // The DNS server of this run given on the command line (empty: the
  // settings' one); never stored.
  std::string DnsServerSwitch;
  TRichEdit reDns{"reDns"};
  void btnDnsStartClick();
  // The run of the field "Typ": that type asked of the DNS server for name,
  // the whole reply shown; the verdict goes into rcodes.
  void DnsTypeQuery(ToolRunGuard& guard, const std::string& name, std::uint16_t type,
                    TLineFields& rcodes);
  void chkDnsExtendedClick();
  // The DNSSEC chain of name from the trust anchor down (tools/fDnsChain.cpp).
  void DnsChainBlock(const std::string& name);
  // The resolution of name from the root servers down (tools/fDnsChain.cpp).
  void DnsIterateBlock(const std::string& name);
  // DNS message client shared with the Mail-Check tool; each run sets its
  // server, waiting time and query type.
  TIdDNSResolver IdDNSResolver;

  // ---- Ping --------------------------------------------------------------
  TGroupBox grpPing{"grpPing"};
  TLabel lblPingHost{"lblPingHost"}, lblPingCount{"lblPingCount"},
      lblPingTimeout{"lblPingTimeout"}, lblPingByte{"lblPingByte"}, lblPingPause{"lblPingPause"};
  TComboBox cmbPingHost{"cmbPingHost", TComboStyle::DropDown, 256};
  TComboBox cmbPingCount{"cmbPingCount", TComboStyle::DropDownList};
  TComboBox cmbPingTimeout{"cmbPingTimeout", TComboStyle::DropDownList};
  TComboBox cmbPingByte{"cmbPingByte", TComboStyle::DropDownList};
  TComboBox cmbPingPause{"cmbPingPause", TComboStyle::DropDownList};
  TCheckBox chkPingResolve{"chkPingResolve"};
  TCheckBox chkPingPreferIPv6{"chkPingPreferIPv6"};
  // Shows the chart of the run's round trips under the output.
  TCheckBox chkPingChart{"chkPingChart"};
  // The chart's height in design units, as the user last dragged it.
  int PingChartHeight = kPingChartDefaultHeight;
  static constexpr int kPingChartDefaultHeight = 130;
  static constexpr int kPingChartMinHeight = 40, kPingChartMaxHeight = 2000;
  TButton btnPingStart{"btnPingStart"};
  TRichEdit rePing{"rePing"};
  void btnPingStartClick();

  // ---- Trace -------------------------------------------------------------
  TGroupBox grpTrace{"grpTrace"};
  TLabel lblTraceHost{"lblTraceHost"}, lblTraceHops{"lblTraceHops"},
      lblTraceTimeout{"lblTraceTimeout"};
  TComboBox cmbTraceHost{"cmbTraceHost", TComboStyle::DropDown, 256};
  TComboBox cmbTraceHops{"cmbTraceHops", TComboStyle::DropDownList};
  TComboBox cmbTraceTimeout{"cmbTraceTimeout", TComboStyle::DropDownList};
  TCheckBox chkTraceResolve{"chkTraceResolve"};
  TCheckBox chkTracePreferIPv6{"chkTracePreferIPv6"};
  TCheckBox chkTraceContinuous{"chkTraceContinuous"};
  // What the trace probes with (ICMP, UDP, TCP; setting TraceMethod) and the
  // port of UDP and TCP probes (setting TracePort; empty: the method's own).
  TLabel lblTraceMethod{"lblTraceMethod"}, lblTracePort{"lblTracePort"};
  TComboBox cmbTraceMethod{"cmbTraceMethod", TComboStyle::DropDownList};
  TComboBox cmbTracePort{"cmbTracePort", TComboStyle::DropDown, 5};
  // The table of a run in rounds, shown in place of the pane; kept after it.
  TListView lvTraceRounds{"lvTraceRounds"};
  TraceRounds TraceTable;
  int TraceRoundCount = 0;     // rounds of a run in rounds; 0: until aborted
  int TraceIntervalMs = 1000;  // from the start of one round to the next
  TButton btnTraceStart{"btnTraceStart"};
  TRichEdit reTrace{"reTrace"};
  void btnTraceStartClick();
  void TraceRoundsRun(ToolRunGuard& guard, platform::IIcmpProbes* probes, const std::string& address,
                      const std::string& sent, int timeout, int& endHop, bool resolve, bool& reached,
                      int& lastHop);
  std::uint64_t TraceShownRevision = 0;  // of TraceTable, as lvTraceRounds shows it

  // ---- Whois -------------------------------------------------------------
  TGroupBox grpWhois{"grpWhois"};
  TLabel lblWhoisHost{"lblWhoisHost"}, lblWhoisServer{"lblWhoisServer"},
      lblWhoisTimeout{"lblWhoisTimeout"};
  TComboBox cmbWhoisHost{"cmbWhoisHost", TComboStyle::DropDown, 256};
  TComboBox cmbWhoisServer{"cmbWhoisServer", TComboStyle::DropDown, 256};
  TComboBox cmbWhoisTimeout{"cmbWhoisTimeout", TComboStyle::DropDownList};
  TCheckBox chkWhoisRedirect{"chkWhoisRedirect"}, chkWhoisCheck{"chkWhoisCheck"},
      chkWhoisDirectQuery{"chkWhoisDirectQuery"}, chkWhoisNetwork{"chkWhoisNetwork"},
      chkWhoisFormat{"chkWhoisFormat"}, chkWhoisRdap{"chkWhoisRdap"};
  TButton btnWhoisStart{"btnWhoisStart"};
  TRichEdit reWhois{"reWhois"};
  void btnWhoisStartClick();
  void chkWhoisDirectQueryClick();

  // ---- Mail-Check --------------------------------------------------------
  TGroupBox grpEMail{"grpEMail"};
  TLabel lblEMailAddress{"lblEMailAddress"}, lblEMailSender{"lblEMailSender"},
      lblEMailMXServer{"lblEMailMXServer"}, lblEMailTimeout{"lblEMailTimeout"};
  TComboBox cmbEMailAddress{"cmbEMailAddress", TComboStyle::DropDown, 256};
  TComboBox cmbEMailSender{"cmbEMailSender", TComboStyle::DropDown, 256};
  TComboBox cmbEMailMXServer{"cmbEMailMXServer", TComboStyle::DropDown, 256};
  TComboBox cmbEMailTimeout{"cmbEMailTimeout", TComboStyle::DropDownList};
  // The sender policies of the domain (SPF), and the client address they
  // are evaluated for (empty: the records are walked without a result).
  TCheckBox chkEMailPolicy{"chkEMailPolicy"};
  TLabel lblEMailSpfIp{"lblEMailSpfIp"};
  TComboBox cmbEMailSpfIp{"cmbEMailSpfIp", TComboStyle::DropDown, 64};
  // DKIM selectors to look up beside the built-in ones ("sel1,sel2").
  TLabel lblEMailDkim{"lblEMailDkim"};
  TComboBox cmbEMailDkim{"cmbEMailDkim", TComboStyle::DropDown, 256};
  // STARTTLS (or TLS from the start on port 465) with the certificate chain.
  TCheckBox chkEMailTls{"chkEMailTls"};
  // Every mail exchanger of the domain asked in parallel up to STARTTLS,
  // each in a block of its own, before the dialogue with the first that
  // answers.
  TCheckBox chkEMailAllMx{"chkEMailAllMx"};
  // From the command line only: the HELO name the policies see
  // (/EMailSpfHelo:), and /EMailConnect:0 for the policy part alone, with
  // no SMTP connection.
  std::string EMailSpfHelo;
  bool EMailConnect = true;
  TButton btnEMailStart{"btnEMailStart"};
  TRichEdit reEMail{"reEMail"};
  void btnEMailStartClick();
  // The section of the sender policies for domain; its values go into the
  // result record.
  void EMailPolicySection(const std::string& domain, TLineFields& result);
  void EMailDmarcSection(const std::string& domain, TLineFields& result);
  void EMailDkimSection(const std::string& domain, TLineFields& result);
  // The transport policies of the recipient's domain (MTA-STS and TLS
  // reporting), when the TLS box is on; server is the exchanger typed
  // (empty: the domain's MX list is compared with the policy). False when
  // the user aborted (the line is written). Its values go into the result.
  bool EMailStsSection(const std::string& domain, const std::string& server, TLineFields& result);
  // The policy file fetched and shown; true when it is valid.
  bool EMailStsFetch(const std::string& domain, sts::Policy& policy);
  // After an exchanger's handshake (tls null: no TLS came about): whether
  // a sending server would deliver there under the policy in force (the
  // exchanger listed, its TLS verified for its name); nothing without one.
  void EMailStsAfterTls(const std::string& mx, const TlsReport* tls);
  // The mode of the valid policy of this run ("enforce", "testing",
  // "none"; empty when there is none), and the policy host's HTTPS port
  // (tests move it to a loopback server of their own).
  std::string EMailStsMode;
  std::vector<std::string> EMailStsMx;  // that policy's mx patterns
  int EMailStsPort = 443;
  // SMTP client of the Mail-Check tool; each run sets its server, port,
  // time-outs and greeting name.
  TIdSMTP IdSMTP;

  // ---- HTTP-Header -------------------------------------------------------
  TGroupBox grpHead{"grpHead"};
  TLabel lblHeadURL{"lblHeadURL"}, lblHeadTimeout{"lblHeadTimeout"};
  TComboBox cmbHeadURL{"cmbHeadURL", TComboStyle::DropDown, 4096};
  TComboBox cmbHeadTimeout{"cmbHeadTimeout", TComboStyle::DropDownList};
  TCheckBox chkHeadRedirect{"chkHeadRedirect"};
  // Each HTTPS hop's TLS connection and certificate chain under its headers.
  TCheckBox chkHeadTls{"chkHeadTls"};
  // Offer HTTP/2 in the TLS handshake, and use it when the server picks it.
  TCheckBox chkHeadHttp2{"chkHeadHttp2"};
  TButton btnHeadStart{"btnHeadStart"};
  TRichEdit reHead{"reHead"};
  void btnHeadStartClick();
  // Leave handler shared by cmbHeadURL and cmbGPRankURL.
  void cmbHeadURLExit(TComboBox& sender);
  // The HTTP client the HTTP tools share (HTTP-Header, PageRank, the
  // external-address look-ups).
  HttpClient IdHTTP;

  // ---- Time --------------------------------------------------------------
  TGroupBox grpTime{"grpTime"};
  TLabel lblTimeServer{"lblTimeServer"};
  TComboBox cmbTimeServer{"cmbTimeServer", TComboStyle::DropDown, 256};
  TButton btnTimeQuery{"btnTimeQuery"}, btnTimeUpdate{"btnTimeUpdate"};
  // NTS: key establishment with the named server, then authenticated
  // exchanges with the NTP server it names.
  TCheckBox chkTimeNts{"chkTimeNts"};
  // Authorities the NTS key establishment trusts beside the system's (tests).
  std::string TimeNtsCaFile;
  TLabel lblTimeLoc{"lblTimeLoc"}, lblTimeLocTime{"lblTimeLocTime"}, lblTimeNet{"lblTimeNet"},
      lblTimeNetTime{"lblTimeNetTime"}, lblTimeDiff{"lblTimeDiff"},
      lblTimeDiffValue{"lblTimeDiffValue"};
  TRichEdit reTime{"reTime"};
  TTimer tmrTime{"tmrTime"};
  double NtpTime = 0;  // last time received from an NTP server (date-time value)
  double TimeOffset = 0;  // its server's clock minus ours, in seconds
  // Set the clock even when the step is larger than TimeSetLimit (the
  // console's /TimeForce:1; the window asks instead).
  bool TimeSetForced = false;
  // Exchanges per query for this run (the console's /TimeN:), 0: the
  // setting TimeSamples.
  int TimeSamplesRun = 0;
  SntpClient IdSNTP;   // the NTP server's clock (UDP port 123 unless the server names one)
  void btnTimeQueryClick();
  void btnTimeUpdateClick();
  void tmrTimeTimer();

  // ---- PageRank ----------------------------------------------------------
  TGroupBox grpGPRank{"grpGPRank"};
  TLabel lblGPRankURL{"lblGPRankURL"}, lblGPRankCount{"lblGPRankCount"},
      lblGPRankTimeout{"lblGPRankTimeout"};
  TComboBox cmbGPRankURL{"cmbGPRankURL", TComboStyle::DropDown, 4096};
  TComboBox cmbGPRankCount{"cmbGPRankCount", TComboStyle::DropDownList};
  TComboBox cmbGPRankTimeout{"cmbGPRankTimeout", TComboStyle::DropDownList};
  TButton btnGPRankStart{"btnGPRankStart"};
  TPanel pnlGPRankSingle{"pnlGPRankSingle"};
  TLabel lblGPRankResult{"lblGPRankResult"}, lblGPRankRank{"lblGPRankRank"};
  TPanel shpGPRankBack{"shpGPRankBack"}, shpGPRankFront{"shpGPRankFront"};
  TListView lvGPRankMulti{"lvGPRankMulti"};
  void btnGPRankStartClick();
  void cmbGPRankCountChange();
  // The ranking service's servers: its host name first (single mode), then
  // its addresses (multi mode). Entries may carry a ":port".
  std::vector<std::string> GPRankServers = GPRankBuiltinServers();

  // ---- Lists -------------------------------------------------------------
  TGroupBox grpList{"grpList"};
  TLabel lblListList{"lblListList"}, lblListSearch{"lblListSearch"};
  TComboBox cmbListList{"cmbListList", TComboStyle::DropDownList};
  TComboBox cmbListSearch{"cmbListSearch", TComboStyle::DropDown, 256};
  TButton btnListSearch{"btnListSearch"};
  TListBox lstList{"lstList"};
  // The list file last loaded (cache of the Lists tool).
  std::string ListCacheFile;
  std::vector<std::string> ListCacheLines;
  // The list chosen when the window last closed; chosen again at start when
  // its file is still there.
  std::string ListChosen;
  void btnListSearchClick();

  // ---- Own computer ------------------------------------------------------
  TButton btnOwnStart{"btnOwnStart"};
  TCheckBox chkOwnResolve{"chkOwnResolve"};
  TRichEdit reOwn{"reOwn"};
  void btnOwnStartClick();

  // ---- Shared data -------------------------------------------------------
  // The public suffix rules from SLDs.pak (ICANN section of the list).
  std::vector<std::string> SldList;

  // All output panes, the history combos, the tab sheets in page order.
  std::vector<TRichEdit*> OutputPanes() ;
  std::vector<TComboBox*> HistoryCombos();
  TTabSheet* Page(int index) { return pcMain.Pages.at(index); }

  // ---- Client components ---------------------------------------------------
  // (Each protocol client the window owns is added here by its tool.)

 private:
  bool pumpInstalled_ = false;  // FormCreate made Pump() the message pump
  void BuildControls();
  void WireHandlers();
  void RunHandler(const std::function<void()>& h);
};

// The Lists tool's verdicts without a result line: the list cannot be read,
// or no entry of it holds the search text.
std::string ListUnreadableText(const std::string& list);
std::string ListNoHitText(const std::string& list, const std::string& term);

}  // namespace quovix
