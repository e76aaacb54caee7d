// Main window model: controls, creation and show steps, the output operation,
// histories and the run convention shared by every tool.
#include "app/formMain.h"

#include <iterator>
#include <stdexcept>
#include <string_view>

#include "app/fCommandLine.h"
#include "common/Pump.h"
#include "common/fMain.h"
#include "platform/Desktop.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"

namespace quovix {

namespace {
const std::vector<std::string> kTimeouts = {"100",  "250",  "500",  "1000", "1500",
                                            "2000", "3000", "5000", "7500", "10000"};
}  // namespace

TfrmMain::TfrmMain() {
  BuildControls();
  LayoutDesign();
  WireHandlers();
}

TfrmMain::~TfrmMain() {
  // The installed pump points at this window; waits after it is gone must
  // not call into it.
  if (pumpInstalled_) {
    SetMessagePump(nullptr);
    SetAbortCheck(nullptr);
  }
  LanguageTable.clear();
}

void TfrmMain::BuildControls() {
  pcMain.Pages = {&tabDns, &tabPing, &tabTrace, &tabWhois, &tabEMail,
                  &tabHead, &tabTime, &tabGPRank, &tabList, &tabOwn};
  pcMain.OnChanging = [this] { return ToolIdle; };
  pcMain.OnChange = [this] { FocusMainInput(); };
  sbMain.SetSimpleText(" Bereit.");

  MainMenu = {&mnuFile, &mnuTools, &mnuExtras, &mnuHelp};
  mnuFileSep.IsSeparator = true;
  mnuFile.Items = {&mnuFileSave, &mnuFileOpen, &mnuFileSep, &mnuFileExit};
  mnuFileSave.ShortCut = "Ctrl+S";
  mnuFileOpen.ShortCut = "Ctrl+O";
  mnuFileExit.ShortCut = "Ctrl+Q";
  mnuTools.Items = {&mnuToolsDnsFlush};
  mnuExtrasSep.IsSeparator = true;
  mnuExtras.Items = {&mnuLanguage, &mnuExtrasSep, &mnuExtrasSettings};
  mnuExtrasSettings.ShortCut = "Ctrl+P";
  mnuHelpSep.IsSeparator = true;
  mnuHelpWebsite.ShortCut = "F1";  // the program's help is its web page
  mnuHelp.Items = {&mnuHelpWebsite, &mnuHelpEMail, &mnuHelpDonate, &mnuHelpSep, &mnuHelpInfo};

  pmnuSelSendTo.Items = {&pmnuSelSendToDNS,  &pmnuSelSendToPing,  &pmnuSelSendToTrace,
                         &pmnuSelSendToWhois, &pmnuSelSendToEMail, &pmnuSelSendToHead,
                         &pmnuSelSendToGPRank, &pmnuSelSendToList};
  pmnuEditSep1.IsSeparator = true;
  pmnuEditSep1.SetVisible(false);
  pmnuEditSep2.IsSeparator = true;
  pmnuEditCopy.ShortCut = "Ctrl+C";
  pmnuEditSelectAll.ShortCut = "Ctrl+A";
  pmnuEdit.Items = {&pmnuSelSendTo, &pmnuEditSep1, &pmnuEditCopy, &pmnuEditSep2,
                    &pmnuEditSelectAll};

  for (TButton* b : {&btnDnsStart, &btnPingStart, &btnTraceStart, &btnWhoisStart, &btnEMailStart,
                     &btnHeadStart, &btnGPRankStart, &btnOwnStart}) {
    b->SetCaption("&Start");
    b->Default = true;
  }
  btnListSearch.Default = true;
  btnTimeQuery.Default = true;

  cmbDnsType.SetItems({"", "A", "AAAA", "NS", "CNAME", "DNAME", "SOA", "PTR", "MX", "TXT", "SPF",
                       "SRV", "NAPTR", "CAA", "TLSA", "SSHFP", "DS", "DNSKEY", "RRSIG", "NSEC",
                       "NSEC3", "NSEC3PARAM", "CDS", "CDNSKEY", "SVCB", "HTTPS", "ANY"});
  cmbPingCount.SetItems({"1", "2", "3", "4", "5", "6", "7", "8", "10", "20", "25", "50"});
  cmbPingTimeout.SetItems(kTimeouts);
  cmbPingByte.SetItems({"8", "16", "32", "64", "128", "256", "512", "1024"});
  cmbPingPause.SetItems({"0", "50", "100", "200", "250", "500", "750", "1000", "2000", "5000"});
  cmbTraceHops.SetItems({"10", "20", "25", "30", "40", "50", "75", "90"});
  cmbTraceTimeout.SetItems(kTimeouts);
  cmbTraceMethod.SetItems({"ICMP", "UDP", "TCP"});
  cmbTracePort.SetItems({"", "33434", "443", "80", "53", "25"});
  auto whoisTimeouts = kTimeouts;
  whoisTimeouts.push_back("12500");
  whoisTimeouts.push_back("15000");
  cmbWhoisTimeout.SetItems(whoisTimeouts);
  cmbEMailTimeout.SetItems(kTimeouts);
  cmbHeadTimeout.SetItems(kTimeouts);
  cmbGPRankCount.SetItems({"1", "2", "3", "5", "8", "10", "15", "20"});
  cmbGPRankTimeout.SetItems(kTimeouts);
  // Design-time selections; the settings store restores the user's choices.
  cmbPingCount.SetItemIndex(2);
  cmbPingTimeout.SetItemIndex(5);
  cmbPingByte.SetItemIndex(2);
  cmbPingPause.SetItemIndex(4);
  cmbTraceHops.SetItemIndex(3);
  cmbTraceTimeout.SetItemIndex(5);
  cmbTraceMethod.SetItemIndex(0);
  cmbWhoisTimeout.SetItemIndex(7);
  cmbEMailTimeout.SetItemIndex(5);
  cmbHeadTimeout.SetItemIndex(5);
  cmbGPRankCount.SetItemIndex(0);
  cmbGPRankTimeout.SetItemIndex(5);

  btnTimeUpdate.SetEnabled(false);
  lblTimeLocTime.SetCaption("00.00.0000 00:00:00");
  lblTimeLocTime.Bold = true;
  lblTimeNetTime.SetCaption("00.00.0000 00:00:00");
  lblTimeNetTime.Bold = true;
  lblTimeDiffValue.SetCaption("---");
  lblTimeDiffValue.Bold = true;
  tmrTime.Interval = 1000;

  lblGPRankRank.SetCaption("0");
  lblGPRankRank.Bold = true;
  lblGPRankRank.FontSize = 12;
  shpGPRankBack.Width = 100;
  lvGPRankMulti.Columns = {{"Server", 250}, {"PageRank", 75}};
  lvGPRankMulti.SetVisible(false);
  // Hop, host, network, loss, sent, last, average, best, worst, spread, bar.
  // The loss column holds the rate-limit mark beside the figure.
  lvTraceRounds.Columns = {{"Nr.", 32},  {"Host", 190}, {"Netz (AS)", 130}, {"Verlust %", 165},
                           {"Gesendet", 60}, {"Letzte", 55}, {"Mittel", 55}, {"Beste", 55},
                           {"Schlechteste", 80}, {"Std.-Abw.", 60}, {"Verlauf", 140}};
  lvTraceRounds.SetVisible(false);

  lstList.Sorted = true;

  ApplyLanguageTexts();
}

void TfrmMain::RunHandler(const std::function<void()>& h) {
  // The application's default error box: an error that escapes a tool's own
  // handling has already passed the tool's leave steps.
  try {
    h();
  } catch (const std::exception& e) {
    platform::Desktop().MessageBox(Caption, e.what());
  } catch (...) {
    platform::Desktop().MessageBox(Caption, "Unknown error");
  }
  // A close asked for while a tool ran happens once the run has returned.
  if (CloseRequested && ToolIdle && OnCloseNow) OnCloseNow();
}

void TfrmMain::WireHandlers() {
  auto on = [this](TClickable& c, void (TfrmMain::*m)()) {
    c.OnClick = [this, m] { RunHandler([this, m] { (this->*m)(); }); };
  };
  on(btnDnsStart, &TfrmMain::btnDnsStartClick);
  on(chkDnsExtended, &TfrmMain::chkDnsExtendedClick);
  on(btnPingStart, &TfrmMain::btnPingStartClick);
  on(btnTraceStart, &TfrmMain::btnTraceStartClick);
  on(btnWhoisStart, &TfrmMain::btnWhoisStartClick);
  on(chkWhoisDirectQuery, &TfrmMain::chkWhoisDirectQueryClick);
  on(btnEMailStart, &TfrmMain::btnEMailStartClick);
  on(btnHeadStart, &TfrmMain::btnHeadStartClick);
  on(btnTimeQuery, &TfrmMain::btnTimeQueryClick);
  on(btnTimeUpdate, &TfrmMain::btnTimeUpdateClick);
  on(btnGPRankStart, &TfrmMain::btnGPRankStartClick);
  on(btnListSearch, &TfrmMain::btnListSearchClick);
  on(btnOwnStart, &TfrmMain::btnOwnStartClick);
  on(mnuFileExit, &TfrmMain::mnuFileExitClick);
  on(mnuFileSave, &TfrmMain::mnuFileSaveClick);
  on(mnuFileOpen, &TfrmMain::mnuFileOpenClick);
  on(mnuToolsDnsFlush, &TfrmMain::mnuToolsDnsFlushClick);
  on(mnuExtrasSettings, &TfrmMain::mnuExtrasSettingsClick);
  on(mnuHelpWebsite, &TfrmMain::mnuHelpWebsiteClick);
  on(mnuHelpEMail, &TfrmMain::mnuHelpEMailClick);
  on(mnuHelpDonate, &TfrmMain::mnuHelpDonateClick);
  on(mnuHelpInfo, &TfrmMain::mnuHelpInfoClick);
  on(pmnuEditCopy, &TfrmMain::pmnuEditCopyClick);
  on(pmnuEditSelectAll, &TfrmMain::pmnuEditSelectAllClick);
  const std::pair<TMenuItem*, TPage> sendTo[] = {
      {&pmnuSelSendToDNS, pgDns},     {&pmnuSelSendToPing, pgPing},
      {&pmnuSelSendToTrace, pgTrace}, {&pmnuSelSendToWhois, pgWhois},
      {&pmnuSelSendToEMail, pgEMail}, {&pmnuSelSendToHead, pgHead},
      {&pmnuSelSendToGPRank, pgGPRank}, {&pmnuSelSendToList, pgList}};
  for (auto [item, page] : sendTo) {
    TPage p = page;
    item->OnClick = [this, p] { RunHandler([this, p] { SendSelectionTo(p); }); };
  }
  cmbHeadURL.OnExit = [this] { cmbHeadURLExit(cmbHeadURL); };
  cmbGPRankURL.OnExit = [this] { cmbHeadURLExit(cmbGPRankURL); };
  cmbGPRankCount.OnChange = [this] { cmbGPRankCountChange(); };
  tmrTime.OnTimer = [this] { tmrTimeTimer(); };
}

void TfrmMain::SetFocus(TControl* c) {
  ActiveControl = c;
  ++FocusRequests;
}

TControl* TfrmMain::MainInputOf(int page) {
  TControl* const inputs[] = {&cmbDnsHost,      &cmbPingHost, &cmbTraceHost,  &cmbWhoisHost,
                              &cmbEMailAddress, &cmbHeadURL,  &cmbTimeServer, &cmbGPRankURL,
                              &cmbListSearch,   &btnOwnStart};
  return page >= 0 && page < static_cast<int>(std::size(inputs)) ? inputs[page] : nullptr;
}

void TfrmMain::FocusMainInput() {
  if (TControl* c = MainInputOf(pcMain.ActivePageIndex())) SetFocus(c);
}

void TfrmMain::Pump() {
  if (ProcessMessages) ProcessMessages();
  NotePumped();
}

std::vector<TRichEdit*> TfrmMain::OutputPanes() {
  return {&reDns, &rePing, &reTrace, &reWhois, &reEMail, &reHead, &reTime, &reOwn};
}

std::vector<TComboBox*> TfrmMain::HistoryCombos() {
  return {&cmbDnsHost,   &cmbPingHost,     &cmbTraceHost,    &cmbWhoisHost,
          &cmbWhoisServer, &cmbHeadURL,    &cmbListSearch,   &cmbEMailAddress,
          &cmbEMailSender, &cmbEMailMXServer, &cmbEMailSpfIp, &cmbEMailDkim, &cmbTimeServer, &cmbGPRankURL};
}

void TfrmMain::FormCreate() {
  // 1. History combos join and split with 0x01.
  for (TComboBox* c : HistoryCombos()) c->Delimiter = '\x01';
  // 2.
  NtpTime = 0;
  shpGPRankFront.Width = 0;
  lvGPRankMulti.Left = 6;
  lvGPRankMulti.Top = 108;
  ToolIdle = true;
  SetMessagePump([this] { Pump(); });
  // Waits between their slices ask whether the run is to stop: a close
  // request (or Ctrl+C) ends any wait, an abort click the waits of its run.
  SetAbortCheck([this] { return StopRequested(); });
  pumpInstalled_ = true;
  // 3. ProgramFolder and IniFilePath are set by the front end from the
  //    program file before creation.
  // 4.
  cmbPingCount.AddItem("...");
  // 5.
  const bool settingsReadable = LoadSettings(*this);
  // 6.
  LanguageTable.clear();
  BuildLanguageMenu(mnuLanguage, ProgramFolder + "Language/",
                    [this](TMenuItem& item) { LanguageItemClick(item); });
  // 7.
  LoadLanguageFile(LanguageFile(LanguageName, ".lng"));
  ApplyLanguageTexts();
  // Settings that are there but not used must not pass unnoticed (told in
  // the chosen language, hence only now).
  if (!settingsReadable) ReportSettingsProblem(true, IniFilePath);
  ReportSettingsDropped(IniFilePath);
  // 8.
  ListCacheFile.clear();
  ListCacheLines.clear();
  SldList.clear();
  try {
    SldList = SplitPakRows(LoadPak(ProgramFolder + "SLDs.pak"));
  } catch (...) {
    SldList.clear();
  }
  // 9.
  cmbListList.ClearItems();
  std::vector<std::string> files;
  ListDataFiles(ProgramFolder, "*.clf", files);
  for (const auto& f : files) {
    std::string name = f.substr(f.find_last_of('/') + 1);
    if (size_t dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
    cmbListList.AddItem(name);
  }
  if (cmbListList.Count() > 0) cmbListList.SetItemIndex(0);
  for (int i = 0; i < cmbListList.Count(); ++i)
    if (cmbListList.Items()[i] == ListChosen) cmbListList.SetItemIndex(i);
  // 10.
  if (cmbTimeServer.Count() > 0) cmbTimeServer.SetItemIndex(0);
  // 11.
  cmbGPRankCount.SetEnabled(false);
}

void TfrmMain::FormShow() {
  ParseCommandLine(CommandLineArgs);
  ApplyOutputFont();
  FocusMainInput();
  RunCommandLineActions(*this);
}

bool TfrmMain::FormCloseQuery() {
  if (!ToolIdle) {
    // A tool is running inside a handler further up the stack: ask it to
    // stop and close once it has returned (RunHandler does that).
    CloseRequested = true;
    AbortRunningTool();
    return false;
  }
  return true;
}

std::vector<TButton*> TfrmMain::AbortableStarts() {
  return {&btnPingStart, &btnTraceStart, &btnWhoisStart, &btnHeadStart, &btnGPRankStart};
}

void TfrmMain::AbortRunningTool() {
  for (TButton* b : AbortableStarts())
    if (b->RunState == 1) b->RunState = -1;
}

bool TfrmMain::StopRequested() {
  if (CloseRequested) return true;
  for (TButton* b : AbortableStarts())
    if (b->RunState == -1) return true;
  return false;
}

void TfrmMain::AbortVisibleTool() {
  TButton* const starts[] = {&btnDnsStart,  &btnPingStart, &btnTraceStart, &btnWhoisStart,
                             &btnEMailStart, &btnHeadStart, nullptr,       &btnGPRankStart,
                             &btnListSearch, &btnOwnStart};
  const int page = pcMain.ActivePageIndex();
  if (page < 0 || page >= static_cast<int>(std::size(starts)) || !starts[page]) return;
  // Only a run that can be aborted is running with RunState 1.
  if (starts[page]->RunState == 1) starts[page]->RunState = -1;
}

void TfrmMain::FormClose() {
  if (!SaveSettings(*this)) ReportSettingsProblem(false, IniFilePath);
}

namespace {
// The lines of an appended text: a text may hold line breaks, and each
// becomes a line of its own (a leading CR LF gives an empty line first).
std::vector<std::string> OutputLinesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t p = text.find('\n', start);
    std::string line = text.substr(start, p == std::string::npos ? std::string::npos : p - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (p == std::string::npos) break;
    start = p + 1;
  }
  return lines;
}
}  // namespace

void TfrmMain::AppendOutput(TRichEdit& pane, const std::string& text, TColor color,
                            TLineFields fields) {
  std::vector<std::string> lines = OutputLinesOf(text);
  size_t carrier = 0;
  while (carrier + 1 < lines.size() && lines[carrier].empty()) ++carrier;
  for (size_t i = 0; i < lines.size(); ++i)
    pane.AddLine(lines[i], color, i == carrier ? std::move(fields) : TLineFields{});
  // Painted once per frame while lines arrive; the next wait paints the rest.
  if (OutputPumpDue()) Pump();
}

void TfrmMain::AppendOutputLines(TRichEdit& pane, const std::string& text, TColor color,
                                 const std::function<TLineFields(const std::string&)>& fieldsOf) {
  for (const std::string& line : OutputLinesOf(text))
    pane.AddLine(line, color, fieldsOf ? fieldsOf(line) : TLineFields{});
  if (OutputPumpDue()) Pump();
}

std::string TfrmMain::HostRefusalText(const std::string& name, const char* reason) {
  if (std::string_view(reason) == "name_too_long")
    return LangText("Main|OutNameTooLong",
                    "Der Name \"%s1%\" ist länger, als DNS erlaubt (höchstens %s2% Zeichen, "
                    "%s3% je Namensteil, IDN-kodiert), die Abfrage wird nicht ausgeführt.",
                    {name, std::to_string(kMaxDnsName), std::to_string(kMaxDnsLabel)});
  return LangText("Main|OutIdnNotEncodable",
                  "Der Name \"%s1%\" lässt sich nicht IDN-kodieren, die Abfrage wird nicht "
                  "ausgeführt.",
                  {name});
}

void TfrmMain::AppendIdnFailure(TRichEdit& pane, const std::string& name, const char* reason,
                                const TLineFields& more) {
  // An empty line before it, unless it is the run's first line.
  AppendOutput(pane, (pane.Lines().empty() ? "" : "\r\n") + HostRefusalText(name, reason), clRed,
               JoinFields(more, {{"name", name}, {"reason", reason}}));
}

bool TfrmMain::EncodeHostOrSay(TRichEdit& pane, const std::string& name, std::string& idn) {
  const char* refusal = EncodeHostName(name, idn);
  if (refusal) AppendIdnFailure(pane, name, refusal);
  return !refusal;
}

void TfrmMain::AddRecentItem(TComboBox& combo, const std::string& text) {
  std::string t = Trim(text);
  if (t.empty()) return;
  const std::string lower = LowerAscii(t);
  for (int i = combo.Count() - 1; i >= 0; --i)
    if (LowerAscii(combo.Items()[i]) == lower) combo.DeleteItem(i);
  combo.InsertItem(0, t);
  int cap = MaxRecentItems;
  if (combo.Count() >= cap)
    while (combo.Count() > cap && combo.Count() > 0) combo.DeleteItem(combo.Count() - 1);
  combo.SetItemIndex(0);
}

void TfrmMain::ApplyOutputFont() {
  for (TRichEdit* pane : OutputPanes())
    pane->SetFont(OutputFontName, OutputFontSize, OutputFontCharset);
  lstList.SetFont(OutputFontName, OutputFontSize, OutputFontCharset);
}

// ---- ToolRunGuard ------------------------------------------------------------

bool ToolRunGuard::AbortClick(TButton& start) {
  // Any click while the run is going asks for the abort; a second quick
  // click on "Abbrechen" (RunState already -1) must not start a nested run.
  if (start.RunState != 0) {
    start.RunState = -1;
    return true;
  }
  return false;
}

ToolRunGuard::ToolRunGuard(TfrmMain& form, Options opts) : form_(form), o_(std::move(opts)) {
  form_.Cursor = TCursor::HourGlass;
  if (o_.Abortable && o_.Start) o_.Start->RunState = 1;
  form_.ToolIdle = false;
  if (o_.Start) {
    if (o_.Abortable)
      o_.Start->SetCaption(LangText("Main|btnAbort", "Abbrechen"));
    else
      o_.Start->SetEnabled(false);
  }
  for (TControl* c : o_.Inputs) c->SetEnabled(false);
  form_.SetStatus(" " + LangText(o_.StatusKey, o_.StatusDefault,
                                  o_.StatusArgs.empty() ? std::vector<std::string>{o_.StatusArg}
                                                        : o_.StatusArgs));
  if (o_.Pane) o_.Pane->Clear();
}

ToolRunGuard::~ToolRunGuard() {
  // Back where the user types, so Enter runs it again; the pane is read-only.
  TControl* input = o_.MainInput;
  if (!input) input = o_.Start;
  if (input) form_.SetFocus(input);
  if (o_.MainInput) form_.AddRecentItem(*o_.MainInput, o_.MainInput->Text());
  for (TComboBox* c : o_.Histories) form_.AddRecentItem(*c, c->Text());
  form_.SetStatus(" " + (endStatus_.empty() ? LangText("Main|sbMainReady", "Bereit.") : endStatus_));
  for (TControl* c : o_.Inputs) c->SetEnabled(true);
  if (o_.Start) {
    o_.Start->SetEnabled(true);
    if (o_.Abortable) {
      o_.Start->RunState = 0;
      o_.Start->SetCaption(LangText("Main|btnStart", "&Start"));
    }
  }
  form_.ToolIdle = true;
  form_.Cursor = TCursor::Default;
}

bool ToolRunGuard::Aborted() {
  form_.Pump();
  return o_.Start && o_.Start->RunState == -1;
}

}  // namespace quovix
