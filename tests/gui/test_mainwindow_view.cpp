// The Qt view of the main window, offscreen: every control gets its widget,
// and model and widgets follow each other both ways.
#include <gtest/gtest.h>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/formMain.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"
#include "ui/MainWindow.h"
#include "ui/OutputPane.h"
#include "../support/DribblePeer.h"

using namespace quovix;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

void PressKey(QWidget* w, int key, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(w, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(w, &release);
}

void Type(QWidget* w, const QString& s) {
  for (QChar ch : s) PressKey(w, 0, QString(ch));
}

class View : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("quovix_gui_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_ / "Language");
    ProgramFolder = dir_.string() + "/";
    IniFilePath = ProgramFolder + "Quovix.ini";
    form_ = std::make_unique<TfrmMain>();
    view_ = std::make_unique<ui::MainWindow>(*form_);
  }
  void TearDown() override {
    view_.reset();
    form_.reset();
    std::filesystem::remove_all(dir_);
  }
  template <class W>
  W* Widget(const TControl& c) {
    auto* w = qobject_cast<W*>(view_->WidgetOf(c));
    EXPECT_NE(w, nullptr) << c.Name;
    return w;
  }
  // Shows the window and makes it the active one, as focus needs.
  bool ShowActive() {
    view_->ShowCentred();
    view_->activateWindow();
    for (int i = 0; i < 50 && QApplication::activeWindow() != view_.get(); ++i) {
      QCoreApplication::processEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return QApplication::activeWindow() == view_.get();
  }

  std::filesystem::path dir_;
  std::unique_ptr<TfrmMain> form_;
  std::unique_ptr<ui::MainWindow> view_;
};

// ---- every control, its caption, its place ------------------------------------------

TEST_F(View, EveryTabHoldsItsControlsInPageOrder) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> tabs = {
      {"tabDns", {"grpDns", "lblDnsHost", "cmbDnsHost", "btnDnsStart", "chkDnsExtended",
                  "chkDnsExtendedResolve", "chkDnsReverse", "chkDnsDirectQuery", "chkDnsIterate", "chkDnsDnssec", "lblDnsType",
                  "cmbDnsType", "reDns"}},
      {"tabPing", {"grpPing", "lblPingHost", "cmbPingHost", "lblPingCount", "cmbPingCount",
                   "lblPingTimeout", "cmbPingTimeout", "lblPingByte", "cmbPingByte",
                   "lblPingPause", "cmbPingPause", "chkPingResolve", "chkPingPreferIPv6",
                   "btnPingStart", "rePing"}},
      {"tabTrace", {"grpTrace", "lblTraceHost", "cmbTraceHost", "lblTraceHops", "cmbTraceHops",
                    "lblTraceTimeout", "cmbTraceTimeout", "chkTraceResolve", "chkTracePreferIPv6",
                    "btnTraceStart",
                    "reTrace"}},
      {"tabWhois", {"grpWhois", "lblWhoisHost", "cmbWhoisHost", "lblWhoisServer",
                    "cmbWhoisServer", "lblWhoisTimeout", "cmbWhoisTimeout", "chkWhoisRedirect",
                    "chkWhoisCheck", "chkWhoisDirectQuery", "chkWhoisNetwork", "chkWhoisFormat",
                    "chkWhoisRdap",
                    "btnWhoisStart", "reWhois"}},
      {"tabEMail", {"grpEMail", "lblEMailAddress", "cmbEMailAddress", "lblEMailSender",
                    "cmbEMailSender", "lblEMailMXServer", "cmbEMailMXServer", "lblEMailTimeout",
                    "cmbEMailTimeout", "chkEMailPolicy", "lblEMailSpfIp", "cmbEMailSpfIp",
                    "lblEMailDkim", "cmbEMailDkim", "chkEMailTls", "chkEMailAllMx",
                    "btnEMailStart", "reEMail"}},
      {"tabHead", {"grpHead", "lblHeadURL", "cmbHeadURL", "lblHeadTimeout", "cmbHeadTimeout",
                   "chkHeadRedirect", "chkHeadTls", "chkHeadHttp2", "btnHeadStart", "reHead"}},
      {"tabTime", {"grpTime", "lblTimeServer", "cmbTimeServer", "btnTimeQuery", "btnTimeUpdate",
                   "chkTimeNts",
                   "lblTimeLoc", "lblTimeLocTime", "lblTimeNet", "lblTimeNetTime"}},
      {"tabGPRank", {"grpGPRank", "lblGPRankURL", "cmbGPRankURL", "lblGPRankCount",
                     "cmbGPRankCount", "lblGPRankTimeout", "cmbGPRankTimeout", "btnGPRankStart",
                     "pnlGPRankSingle", "lblGPRankResult", "lblGPRankRank", "shpGPRankBack",
                     "shpGPRankFront", "lvGPRankMulti"}},
      {"tabList", {"grpList", "lblListList", "cmbListList", "lblListSearch", "cmbListSearch",
                   "btnListSearch", "lstList"}},
      {"tabOwn", {"btnOwnStart", "chkOwnResolve", "reOwn"}},
  };
  QTabWidget* tw = view_->Tabs();
  ASSERT_EQ(tw->count(), 10);
  for (int i = 0; i < 10; ++i) {
    QWidget* page = tw->widget(i);
    EXPECT_EQ(page->objectName(), Q(tabs[i].first));
    EXPECT_EQ(page->objectName(), Q(form_->Page(i)->Name));
    for (const auto& name : tabs[i].second)
      EXPECT_NE(page->findChild<QWidget*>(Q(name)), nullptr) << name << " on " << tabs[i].first;
  }
}

TEST_F(View, CaptionsAndItemsFollowTheModel) {
  // Every caption the model sets shows at once: tabs, group boxes, labels,
  // check boxes, buttons, list view columns.
  for (int i = 0; i < 10; ++i) form_->Page(i)->SetCaption("Tab " + std::to_string(i));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(view_->Tabs()->tabText(i), QString("Tab %1").arg(i));
  form_->grpWhois.SetCaption("Verbindungsdaten");
  form_->lblDnsHost.SetCaption("Hostname / IP-Adresse:");
  form_->chkDnsReverse.SetCaption("Hostname / IP-Adresse überprüfen");
  form_->btnTimeUpdate.SetCaption("Systemzeit aktualisieren");
  form_->lvGPRankMulti.SetColumnCaption(1, "Rang");
  EXPECT_EQ(Widget<QGroupBox>(form_->grpWhois)->title(), "Verbindungsdaten");
  EXPECT_EQ(Widget<QLabel>(form_->lblDnsHost)->text(), "Hostname / IP-Adresse:");
  EXPECT_EQ(Widget<QCheckBox>(form_->chkDnsReverse)->text(), QString::fromUtf8("Hostname / IP-Adresse überprüfen"));
  EXPECT_EQ(Widget<QPushButton>(form_->btnTimeUpdate)->text(), "Systemzeit aktualisieren");
  form_->chkDnsDirectQuery.SetHint("Den Namen wie eingegeben abfragen");
  EXPECT_EQ(Widget<QCheckBox>(form_->chkDnsDirectQuery)->toolTip(), "Den Namen wie eingegeben abfragen");
  EXPECT_EQ(Widget<QTreeWidget>(form_->lvGPRankMulti)->headerItem()->text(1), "Rang");
  EXPECT_EQ(Widget<QPushButton>(form_->btnDnsStart)->text(), "&Start");
  EXPECT_TRUE(Widget<QPushButton>(form_->btnDnsStart)->isDefault());
  EXPECT_FALSE(Widget<QPushButton>(form_->btnTimeUpdate)->isEnabled());

  // Value labels keep their own weight and size on the window's font.
  EXPECT_TRUE(Widget<QLabel>(form_->lblTimeLocTime)->font().bold());
  EXPECT_FALSE(Widget<QLabel>(form_->lblTimeLoc)->font().bold());
  EXPECT_EQ(Widget<QLabel>(form_->lblGPRankRank)->font().pointSize(), 12);

  // Combos: editable with the model's length limit, or pick-only.
  auto* host = Widget<QComboBox>(form_->cmbHeadURL);
  EXPECT_TRUE(host->isEditable());
  EXPECT_EQ(host->lineEdit()->maxLength(), 4096);
  EXPECT_EQ(Widget<QComboBox>(form_->cmbDnsHost)->lineEdit()->maxLength(), 256);
  auto* count = Widget<QComboBox>(form_->cmbPingCount);
  EXPECT_FALSE(count->isEditable());
  EXPECT_EQ(count->count(), form_->cmbPingCount.Count());
  EXPECT_EQ(count->currentText(), Q(form_->cmbPingCount.Text()));
  form_->cmbPingCount.AddItem("...");
  EXPECT_EQ(count->itemText(count->count() - 1), "...");

  form_->sbMain.SetSimpleText(" Läuft.");
  EXPECT_EQ(view_->StatusLabel()->text(), QString::fromUtf8(" Läuft."));
}

TEST_F(View, MenusFollowCaptionsAndCarryShortcuts) {
  for (TMenuItem* top : form_->MainMenu) {
    ASSERT_NE(view_->ActionOf(*top), nullptr) << top->Name;
    for (TMenuItem* item : top->Items) EXPECT_NE(view_->ActionOf(*item), nullptr) << item->Name;
  }
  form_->mnuExtras.SetCaption("E&xtras");
  form_->mnuExtrasSettings.SetCaption("&Options...");
  EXPECT_EQ(view_->ActionOf(form_->mnuExtras)->text(), "E&xtras");
  EXPECT_EQ(view_->ActionOf(form_->mnuExtrasSettings)->text(), "&Options...");
  EXPECT_EQ(view_->ActionOf(form_->mnuExtrasSettings)->shortcut(), QKeySequence("Ctrl+P"));
  EXPECT_TRUE(view_->ActionOf(form_->mnuExtrasSep)->isSeparator());

  int clicks = 0;
  form_->mnuToolsDnsFlush.OnClick = [&] { ++clicks; };
  view_->ActionOf(form_->mnuToolsDnsFlush)->trigger();
  EXPECT_EQ(clicks, 1);
  form_->mnuToolsDnsFlush.SetEnabled(false);
  EXPECT_FALSE(view_->ActionOf(form_->mnuToolsDnsFlush)->isEnabled());
}

TEST_F(View, LanguageMenuIsRebuiltFromTheModelsItems) {
  std::ofstream(dir_ / "Language" / "English.lng") << "Main|mnuFile=&File\n";
  int clicked = 0;
  std::string clickedName;
  auto click = [&](TMenuItem& item) {
    ++clicked;
    clickedName = item.Caption();
    for (TMenuItem* m : form_->mnuLanguage.Items) m->SetChecked(m == &item);
  };
  BuildLanguageMenu(form_->mnuLanguage, ProgramFolder + "Language/", click);
  form_->mnuLanguage.SetCaption("Sprache / &Language");
  view_->RefreshLanguageMenu();

  QMenu* menu = view_->LanguageMenu();
  EXPECT_EQ(menu->title(), "Sprache / &Language");
  QList<QAction*> actions = menu->actions();
  ASSERT_EQ(actions.size(), 2);
  EXPECT_EQ(actions[0]->text(), "Deutsch (intern)");
  EXPECT_EQ(actions[1]->text(), "English");
  for (QAction* a : actions) {
    EXPECT_TRUE(a->isCheckable());
    ASSERT_NE(a->actionGroup(), nullptr);
    EXPECT_TRUE(a->actionGroup()->isExclusive());
  }
  EXPECT_TRUE(actions[0]->isChecked());

  actions[1]->trigger();
  EXPECT_EQ(clicked, 1);
  EXPECT_EQ(clickedName, "English");
  view_->RefreshLanguageMenu();
  actions = menu->actions();
  ASSERT_EQ(actions.size(), 2);
  EXPECT_FALSE(actions[0]->isChecked());
  EXPECT_TRUE(actions[1]->isChecked());
}

// ---- binding both ways ----------------------------------------------------------------------

TEST_F(View, ModelChangesReachTheWidgets) {
  form_->cmbDnsHost.SetText("example.org");
  EXPECT_EQ(Widget<QComboBox>(form_->cmbDnsHost)->currentText(), "example.org");
  form_->AddRecentItem(form_->cmbDnsHost, "host.example");
  auto* dns = Widget<QComboBox>(form_->cmbDnsHost);
  EXPECT_EQ(dns->count(), form_->cmbDnsHost.Count());
  EXPECT_EQ(dns->currentText(), "host.example");

  form_->cmbPingTimeout.SetItemIndex(0);
  EXPECT_EQ(Widget<QComboBox>(form_->cmbPingTimeout)->currentText(), "100");

  form_->chkWhoisFormat.SetCheckedSilently(true);
  EXPECT_TRUE(Widget<QCheckBox>(form_->chkWhoisFormat)->isChecked());

  view_->ShowCentred();
  form_->lvGPRankMulti.SetVisible(true);
  form_->pcMain.SetActivePageIndex(pgGPRank);
  EXPECT_EQ(view_->Tabs()->currentIndex(), pgGPRank);
  auto* lv = Widget<QTreeWidget>(form_->lvGPRankMulti);
  EXPECT_TRUE(lv->isVisible());
  form_->lvGPRankMulti.AddRow({"server.example", "5"});
  ASSERT_EQ(lv->topLevelItemCount(), 1);
  EXPECT_EQ(lv->topLevelItem(0)->text(1), "5");

  form_->lstList.SetItems({"b", "A", "c"});
  QCoreApplication::processEvents();
  auto* list = Widget<QListWidget>(form_->lstList);
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(list->item(0)->text(), "A");

  // Hiding a frame hides what it holds.
  form_->pnlGPRankSingle.SetVisible(false);
  EXPECT_FALSE(Widget<QLabel>(form_->lblGPRankResult)->isVisible());
  form_->pnlGPRankSingle.SetVisible(true);
  EXPECT_TRUE(Widget<QLabel>(form_->lblGPRankResult)->isVisible());

  // Bounds the model sets are the widget's, relative to the tab page like
  // every position of the model; the design table fills the rest.
  form_->grpDns.SetBounds(9, 5, 300, 90);
  form_->lblDnsHost.SetBounds(19, 22, 300, 13);
  EXPECT_EQ(Widget<QGroupBox>(form_->grpDns)->geometry(), QRect(9, 5, 300, 90));
  EXPECT_EQ(Widget<QLabel>(form_->lblDnsHost)->geometry(), QRect(19, 22, 300, 13));
  EXPECT_EQ(view_->WidgetOf(form_->lblDnsHost)->parentWidget(), view_->Tabs()->widget(pgDns));
  form_->shpGPRankFront.Width = 40;  // a plain field, picked up on the next sync
  view_->SyncFormState();
  EXPECT_EQ(Widget<QWidget>(form_->shpGPRankFront)->width(), 40);
}

TEST_F(View, UserActionsReachTheModelAndItsHandlers) {
  // Typing into an editable combo sets the control's text and runs OnChange.
  int changes = 0;
  form_->cmbDnsHost.OnChange = [&] { ++changes; };
  auto* dns = Widget<QComboBox>(form_->cmbDnsHost);
  Type(dns->lineEdit(), "abc");
  EXPECT_EQ(form_->cmbDnsHost.Text(), "abc");
  EXPECT_EQ(changes, 3);

  // Picking from a list sets the index and runs OnChange.
  form_->cmbGPRankCount.SetEnabled(true);
  int countChanges = 0;
  form_->cmbGPRankCount.OnChange = [&] { ++countChanges; };
  PressKey(Widget<QComboBox>(form_->cmbGPRankCount), Qt::Key_Down);
  EXPECT_EQ(form_->cmbGPRankCount.ItemIndex(), 1);
  EXPECT_EQ(form_->cmbGPRankCount.Text(), "2");
  EXPECT_EQ(countChanges, 1);

  // A check box click sets the mark and runs its click handler.
  int checkClicks = 0;
  form_->chkDnsExtended.OnClick = [&] { ++checkClicks; };
  Widget<QCheckBox>(form_->chkDnsExtended)->click();
  EXPECT_TRUE(form_->chkDnsExtended.Checked());
  EXPECT_EQ(checkClicks, 1);

  // A button click runs the handler; a disabled control takes no click.
  int starts = 0;
  form_->btnDnsStart.OnClick = [&] { ++starts; };
  Widget<QPushButton>(form_->btnDnsStart)->click();
  EXPECT_EQ(starts, 1);
  form_->btnDnsStart.SetEnabled(false);
  Widget<QPushButton>(form_->btnDnsStart)->click();
  EXPECT_EQ(starts, 1);
  form_->btnDnsStart.SetEnabled(true);

  // Enter in the tab's input clicks its default button.
  PressKey(dns->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(starts, 2);
}

TEST_F(View, FocusEnterAndLeavingTheUrlCombo) {
  if (!ShowActive()) GTEST_SKIP() << "the offscreen platform gave the window no focus";
  int exits = 0;
  form_->cmbHeadURL.OnExit = [&] { ++exits; };
  form_->pcMain.SetActivePageIndex(pgHead);
  Widget<QComboBox>(form_->cmbHeadURL)->setFocus();
  QCoreApplication::processEvents();
  EXPECT_EQ(form_->ActiveControl, &form_->cmbHeadURL);
  // Enter where the focus really is clicks the tab's default button once.
  int starts = 0;
  form_->btnHeadStart.OnClick = [&] { ++starts; };
  PressKey(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(starts, 1);
  Widget<QCheckBox>(form_->chkHeadRedirect)->setFocus();
  QCoreApplication::processEvents();
  EXPECT_EQ(exits, 1);
  EXPECT_EQ(form_->ActiveControl, &form_->chkHeadRedirect);
}

TEST_F(View, TimingLineGetsItsBarDrawnBesideItsText) {
  auto* pane = dynamic_cast<ui::OutputPane*>(Widget<QPlainTextEdit>(form_->reDns));
  ASSERT_NE(pane, nullptr);
  form_->AppendOutput(form_->reDns, "Übersicht:", clBlue);
  form_->AppendOutput(form_->reDns, "Zeitverlauf:", clBlue,
                      {{"connect_ms", 25.0}, {"first_byte_ms", 75.0}, {"total_ms", 100.0}});
  EXPECT_TRUE(pane->LineBar(0).empty());
  const auto bar = pane->LineBar(1);
  ASSERT_EQ(bar.size(), 2u);
  EXPECT_EQ(bar[0].Phase, TimingPhase::Connect);
  EXPECT_EQ(bar[1].Phase, TimingPhase::FirstByte);
  // Painted right of the line's text: the connection's quarter, then the wait.
  ui::OutputPane shown;
  shown.setFont(pane->font());
  shown.resize(900, 300);
  shown.show();
  shown.setPlainText("Zeitverlauf:");
  shown.SetLastLineBar(bar);
  shown.appendPlainText("  Gesamt:           100.0 ms");
  QCoreApplication::processEvents();
  const QImage shot = shown.viewport()->grab().toImage();
  const QRect line = shown.cursorRect(QTextCursor(shown.document()->firstBlock()));
  const QFontMetrics fm = shown.fontMetrics();
  const int left = line.left() + fm.horizontalAdvance("Zeitverlauf:") + 2 * fm.averageCharWidth();
  const int y = line.center().y();
  EXPECT_EQ(shot.pixelColor(left + shown.BarWidth() / 8, y), ui::TimingPhaseColour(TimingPhase::Connect));
  EXPECT_EQ(shot.pixelColor(left + shown.BarWidth() * 5 / 8, y),
            ui::TimingPhaseColour(TimingPhase::FirstByte));
  // The next line has none.
  EXPECT_NE(shot.pixelColor(left + shown.BarWidth() * 5 / 8, y + fm.lineSpacing()),
            ui::TimingPhaseColour(TimingPhase::FirstByte));
}

TEST_F(View, PaneShowsColouredLinesAndSharesItsSelection) {
  auto* pane = Widget<QPlainTextEdit>(form_->reDns);
  EXPECT_TRUE(pane->isReadOnly());
  form_->AppendOutput(form_->reDns, "Hostname: example.org", clBlue);
  form_->AppendOutput(form_->reDns, "\r\nGrüße", clRed);
  form_->AppendOutput(form_->reDns, "ok", clGreen);
  QTextDocument* doc = pane->document();
  ASSERT_EQ(doc->blockCount(), 4);
  EXPECT_EQ(pane->toPlainText(), QString::fromUtf8("Hostname: example.org\n\nGrüße\nok"));
  auto colourOf = [&](int block) {
    return doc->findBlockByNumber(block).begin().fragment().charFormat().foreground().color();
  };
  EXPECT_EQ(colourOf(0), QColor(0, 0, 255));
  EXPECT_EQ(colourOf(2), QColor(255, 0, 0));
  EXPECT_EQ(colourOf(3), QColor(0, 128, 0));

  // A selection in the widget is the control's selection, in bytes of its
  // UTF-8 text ("Grüße" is 7 bytes).
  QTextCursor cur(doc);
  cur.setPosition(23);
  cur.setPosition(28, QTextCursor::KeepAnchor);
  pane->setTextCursor(cur);
  EXPECT_EQ(form_->reDns.SelText(), "Grüße");
  EXPECT_EQ(form_->reDns.SelLength, 7);

  // And the control's selection shows in the widget.
  form_->reDns.SelectAll();
  EXPECT_EQ(pane->textCursor().selectedText().size(), pane->toPlainText().size());

  form_->reDns.Clear();
  EXPECT_TRUE(pane->toPlainText().isEmpty());
  form_->AppendOutput(form_->reDns, "", clBlack);
  form_->AppendOutput(form_->reDns, "second", clBlack);
  EXPECT_EQ(pane->toPlainText(), "\nsecond");

  // Output fonts: a missing "Courier New" still gives a fixed-pitch face.
  form_->reDns.SetFont("Courier New", 12, 0);
  EXPECT_EQ(pane->font().pointSize(), 12);
  EXPECT_TRUE(QFontInfo(pane->font()).fixedPitch());
}

TEST_F(View, DoubleClickOnANameInAPaneSelectsAllOfIt) {
  auto* pane = Widget<QPlainTextEdit>(form_->reDns);
  form_->AppendOutput(form_->reDns, "Übersicht für mail.bücher.example: 2001:db8::25", clBlack);
  QCoreApplication::processEvents();
  auto doubleClickAt = [&](int position) {
    QTextCursor c(pane->document());
    c.setPosition(position);
    const QPoint at = pane->cursorRect(c).center() + QPoint(2, 0);  // on the character after
    QMouseEvent e(QEvent::MouseButtonDblClick, at, pane->viewport()->mapToGlobal(at), Qt::LeftButton,
                  Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(pane->viewport(), &e);
    return form_->reDns.SelText();
  };
  EXPECT_EQ(doubleClickAt(20), "mail.bücher.example");
  EXPECT_EQ(doubleClickAt(40), "2001:db8::25");
  EXPECT_EQ(doubleClickAt(2), "Übersicht");
}

TEST_F(View, EditPopupIsTheModelsMenu) {
  form_->AppendOutput(form_->reWhois, "whois.example", clBlack);
  form_->pmnuEditCopy.SetCaption("&Kopieren");
  form_->pmnuSelSendTo.SetCaption("Au&swahl übernehmen in");
  form_->pmnuSelSendToHead.SetCaption("&HTTP-Header");
  std::string copied;
  form_->pmnuEditCopy.OnClick = [&] { copied = form_->reWhois.SelText(); };
  // Focus on a pane with a selection: copying is offered.
  form_->SetFocus(&form_->reWhois);
  form_->reWhois.SelectAll();
  std::unique_ptr<QMenu> menu(view_->CreateEditPopup(view_.get()));
  QList<QAction*> actions = menu->actions();
  // Send-to submenu, (hidden separator left out), copy, separator, select all.
  ASSERT_EQ(actions.size(), 4);
  EXPECT_EQ(actions[0]->text(), QString::fromUtf8("Au&swahl übernehmen in"));
  ASSERT_NE(actions[0]->menu(), nullptr);
  EXPECT_EQ(actions[0]->menu()->actions().size(), 8);
  EXPECT_EQ(actions[0]->menu()->actions()[5]->text(), "&HTTP-Header");
  EXPECT_EQ(actions[1]->text(), "&Kopieren");
  EXPECT_EQ(actions[1]->shortcut(), QKeySequence("Ctrl+C"));
  EXPECT_TRUE(actions[2]->isSeparator());
  EXPECT_TRUE(actions[1]->isEnabled());
  actions[1]->trigger();
  EXPECT_EQ(copied, "whois.example");

  // Focus elsewhere: the popup shows the model's disabled items disabled.
  form_->SetFocus(&form_->cmbDnsHost);
  form_->pmnuEditCopy.SetEnabled(false);
  menu.reset(view_->CreateEditPopup(view_.get()));
  EXPECT_FALSE(menu->actions()[1]->isEnabled());
}

// ---- focus and the output font ----

TEST_F(View, FocusIsOnTheMainInputOfTheTabInFront) {
  if (!ShowActive()) GTEST_SKIP() << "the offscreen platform gave the window no focus";
  auto focusedIn = [&](const TControl& c) {
    QWidget* f = QApplication::focusWidget();
    QWidget* w = view_->WidgetOf(c);
    return f && w && (f == w || w->isAncestorOf(f));
  };
  form_->FormShow();
  view_->SyncFormState();
  EXPECT_TRUE(focusedIn(form_->cmbDnsHost)) << "at the start";

  QKeyEvent ctrlTab(QEvent::KeyPress, Qt::Key_Tab, Qt::ControlModifier);
  QApplication::sendEvent(QApplication::focusWidget(), &ctrlTab);
  EXPECT_EQ(form_->pcMain.ActivePageIndex(), pgPing);
  EXPECT_TRUE(focusedIn(form_->cmbPingHost)) << "after Ctrl+Tab";

  QTabBar* bar = view_->Tabs()->tabBar();
  for (int page : {pgOwn, pgDns}) {
    const QPoint at = bar->tabRect(page).center();
    QMouseEvent press(QEvent::MouseButtonPress, at, bar->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, bar->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &press);
    QApplication::sendEvent(bar, &release);
    EXPECT_EQ(form_->pcMain.ActivePageIndex(), page);
  }
  EXPECT_TRUE(focusedIn(form_->cmbDnsHost)) << "after a click on a tab";

  // After a run the input again, not the read-only pane: Enter runs again.
  int runs = 0;
  form_->btnDnsStart.OnClick = [&] {
    ++runs;
    ToolRunGuard g(*form_, {.Start = &form_->btnDnsStart, .Inputs = {&form_->cmbDnsHost},
                            .MainInput = &form_->cmbDnsHost, .Pane = &form_->reDns,
                            .StatusKey = "Main|sbTest", .StatusDefault = "%s1%"});
    form_->AppendOutput(form_->reDns, "answer", clBlack);
  };
  Widget<QPlainTextEdit>(form_->reDns)->setFocus();
  Widget<QPushButton>(form_->btnDnsStart)->click();
  EXPECT_TRUE(focusedIn(form_->cmbDnsHost)) << "after a run";
  PressKey(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(runs, 2);
}

TEST_F(View, OutputFontIsTheDesktopsFixedFontUnlessOneIsChosen) {
  const QFont saved = QApplication::font();
  auto* pane = Widget<QPlainTextEdit>(form_->reDns);
  auto* list = Widget<QListWidget>(form_->lstList);
  const QString fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
  for (int pt : {9, 18}) {
    QApplication::setFont(QFont("DejaVu Sans", pt));  // the desktop's settings arrive
    QCoreApplication::processEvents();
    for (QWidget* w : {static_cast<QWidget*>(pane), static_cast<QWidget*>(list)}) {
      EXPECT_EQ(w->font().family(), fixed) << pt;
      EXPECT_NEAR(QFontInfo(w->font()).pointSizeF(), pt, 0.5) << pt;
    }
  }
  // A font chosen in the options wins over the desktop's.
  form_->reDns.SetFont("DejaVu Sans Mono", 11, 0);
  QApplication::setFont(QFont("DejaVu Sans", 14));
  QCoreApplication::processEvents();
  EXPECT_EQ(pane->font().family(), "DejaVu Sans Mono");
  EXPECT_EQ(pane->font().pointSize(), 11);
  EXPECT_NEAR(QFontInfo(list->font()).pointSizeF(), 14, 0.5);
  QApplication::setFont(saved);
}

// ---- window-wide state ---------------------------------------------------------------------

TEST_F(View, TabChangeIsRefusedWhileAToolRuns) {
  view_->ShowCentred();
  QTabWidget* tw = view_->Tabs();
  form_->ToolIdle = false;
  tw->setCurrentIndex(pgWhois);
  EXPECT_EQ(tw->currentIndex(), pgDns);
  EXPECT_EQ(form_->pcMain.ActivePageIndex(), pgDns);
  form_->ToolIdle = true;
  tw->setCurrentIndex(pgWhois);
  EXPECT_EQ(form_->pcMain.ActivePageIndex(), pgWhois);
}

TEST_F(View, PumpRunsEventsAndShowsARunWhereItRuns) {
  ASSERT_TRUE(form_->ProcessMessages);
  view_->ShowCentred();
  bool ran = false;
  QMetaObject::invokeMethod(view_.get(), [&] { ran = true; }, Qt::QueuedConnection);
  auto* pane = Widget<QPlainTextEdit>(form_->reDns);
  auto* start = Widget<QPushButton>(form_->btnDnsStart);
  auto* busy = view_->findChild<QProgressBar*>("busyIndicator");
  ASSERT_NE(busy, nullptr);
  const Qt::CursorShape paneCursor = pane->viewport()->cursor().shape();
  QTabBar* bar = view_->Tabs()->tabBar();
  for (const bool running : {true, false}) {
    form_->Cursor = running ? TCursor::HourGlass : TCursor::Default;
    form_->Pump();
    EXPECT_TRUE(ran);
    // The wait cursor over the running tab's output only, Abort usable.
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(pane->viewport()->cursor().shape(), running ? Qt::WaitCursor : paneCursor);
    EXPECT_NE(start->cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(busy->isVisible(), running);
    // The other tabs show that they cannot be chosen now.
    EXPECT_TRUE(bar->isTabEnabled(pgDns));
    EXPECT_EQ(bar->isTabEnabled(pgWhois), !running);
  }

  // The window's font comes from the model.
  form_->FontName = "DejaVu Sans";
  form_->FontSize = 11;
  view_->SyncFormState();
  EXPECT_EQ(QApplication::font().pointSize(), 11);
  EXPECT_EQ(view_->WidgetOf(form_->grpDns)->font().pointSize(), 11);
  form_->Caption = "Quovix Test";
  view_->SyncFormState();
  EXPECT_EQ(view_->windowTitle(), "Quovix Test");
}

TEST_F(View, TimerClipboardAndDesktopAreWired) {
  auto* timer = view_->findChild<QTimer*>("tmrTime");
  ASSERT_NE(timer, nullptr);
  int ticks = 0;
  form_->tmrTime.OnTimer = [&] { ++ticks; };
  form_->tmrTime.Interval = 5;
  form_->tmrTime.SetEnabled(false);
  EXPECT_FALSE(timer->isActive());
  form_->tmrTime.SetEnabled(true);
  EXPECT_TRUE(timer->isActive());
  for (int i = 0; i < 400 && ticks == 0; ++i) {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GT(ticks, 0);

  form_->OnClipboard("kopiert");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "kopiert");
  EXPECT_NE(dynamic_cast<ui::QtDesktop*>(&platform::Desktop()), nullptr);
}

TEST_F(View, ResizingHandsTheClientAreaToTheModel) {
  view_->ShowCentred();
  view_->resize(800, 600);
  QCoreApplication::processEvents();
  EXPECT_EQ(form_->ClientWidth, view_->centralWidget()->width());
  EXPECT_EQ(form_->ClientHeight,
            view_->centralWidget()->height() + view_->statusBar()->height());
  // Without bounds from the model the pane follows the tab's size.
  QWidget* pane = view_->WidgetOf(form_->reDns);
  EXPECT_EQ(pane->width(), view_->Tabs()->widget(pgDns)->width() - 14);
}

TEST_F(View, ClosingWaitsForARunningTool) {
  view_->ShowCentred();
  // A handler that runs like a tool: busy, pumping, a close request arriving
  // from the event loop in the middle of it.
  bool visibleDuringRun = false;
  form_->btnOwnStart.OnClick = [&] {
    form_->ToolIdle = false;
    QMetaObject::invokeMethod(view_.get(), [&] { view_->close(); }, Qt::QueuedConnection);
    for (int i = 0; i < 3; ++i) form_->Pump();
    visibleDuringRun = view_->isVisible();
    form_->ToolIdle = true;
    if (form_->CloseRequested && form_->OnCloseNow) form_->OnCloseNow();
  };
  Widget<QPushButton>(form_->btnOwnStart)->click();
  EXPECT_TRUE(visibleDuringRun);
  EXPECT_TRUE(form_->CloseRequested);
  EXPECT_TRUE(view_->isVisible());
  // The close the model asked for runs from the event loop.
  QCoreApplication::processEvents();
  EXPECT_FALSE(view_->isVisible());
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

TEST_F(View, CloseDuringASlowRequestEndsItsWaitAndCloses) {
  quovix::test::DribblePeer slowloris({.prefix = "HTTP/1.1 200 OK\r\n", .drip = "X-Slow: yes\r\n"});
  ASSERT_TRUE(slowloris.ok());
  form_->FormCreate();  // the pump and the abort question of the waits
  view_->ShowCentred();
  form_->cmbHeadURL.SetText(slowloris.Url());
  form_->cmbHeadTimeout.SetItemIndex(form_->cmbHeadTimeout.IndexOf("10000"));
  QString captionWhileRunning;
  std::chrono::steady_clock::time_point closedAt{};
  QTimer::singleShot(300, view_.get(), [&] {
    captionWhileRunning = Widget<QPushButton>(form_->btnHeadStart)->text();
    closedAt = std::chrono::steady_clock::now();
    view_->close();  // the title bar's close while the request waits
  });
  Widget<QPushButton>(form_->btnHeadStart)->click();
  const auto runEnded = std::chrono::steady_clock::now();
  ASSERT_NE(closedAt, std::chrono::steady_clock::time_point{});
  // Within the slice a wait promises, with room for a loaded machine.
  EXPECT_LT(runEnded - closedAt, std::chrono::milliseconds(750));
  EXPECT_EQ(captionWhileRunning, "Abbrechen");
  QCoreApplication::processEvents();
  EXPECT_FALSE(view_->isVisible());
}
