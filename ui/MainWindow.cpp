#include "ui/MainWindow.h"
#include "ui/OutputPane.h"
#include "ui/PingChartView.h"
#include "ui/RoundTripBars.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFontDatabase>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QStyleFactory>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTranslator>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>
#include <exception>

#include "common/fMain.h"
#include "shell/fLanguage.h"
#include "ui/PaneColours.h"

namespace quovix::ui {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QStringList ToQStringList(const std::vector<std::string>& v) {
  QStringList list;
  list.reserve(static_cast<qsizetype>(v.size()));
  for (const auto& s : v) list << Q(s);
  return list;
}

QColor ToQColor(TColor c) { return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

// Byte offsets of the model's UTF-8 text and UTF-16 positions of the widget
// text map onto each other code point by code point; a byte that starts no
// valid sequence counts as one position, as Qt's decoder replaces it.
struct Utf8Step {
  int Bytes;
  int Units;
};

Utf8Step StepAt(const std::string& s, size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  int len = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3
                           : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
  if (len <= 1 || i + len > s.size()) return {1, 1};
  for (int k = 1; k < len; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return {1, 1};
  return {len, len == 4 ? 2 : 1};
}

int PosFromBytes(const std::string& s, int bytes) {
  int pos = 0;
  size_t i = 0;
  while (i < s.size() && static_cast<int>(i) < bytes) {
    Utf8Step st = StepAt(s, i);
    i += st.Bytes;
    pos += st.Units;
  }
  return pos;
}

int BytesFromPos(const std::string& s, int pos) {
  int p = 0;
  size_t i = 0;
  while (i < s.size() && p < pos) {
    Utf8Step st = StepAt(s, i);
    i += st.Bytes;
    p += st.Units;
  }
  return static_cast<int>(i);
}

// One pane line as the widget shows it: characters that would start a new
// block are shown as blanks so lines and positions stay one to one.
QString PaneText(const std::string& s) {
  QString t = Q(s);
  for (QChar& ch : t)
    if (ch == u'\r' || ch == u'\n' || ch == QChar(0) || ch == QChar::ParagraphSeparator ||
        ch == QChar::LineSeparator)
      ch = u' ';
  return t;
}


// A group box's frame with its caption on the top line, so the controls'
// design positions (first row about 20 design units down) clear it. The
// style sheet names the window's font: a style-sheet widget keeps the font
// it was polished with, even through a change of the application's style.
void StyleGroup(QWidget* g, const QFont& f) {
  const QString family = QString(f.family()).replace('"', ' ');
  const QString size = f.pointSizeF() > 0 ? QString::number(f.pointSizeF()) + "pt"
                                          : QString::number(f.pixelSize()) + "px";
  g->setFont(f);
  g->setStyleSheet(
      QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 3px; margin-top: 6px;"
                     " font-family: \"%1\"; font-size: %2; }"
                     "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                     " left: 8px; padding: 0 2px; }")
          .arg(family, size));
}

// The icon of each tab, in page order, and of the main menu's items.
constexpr const char* kTabIcons[] = {
    "network-server",   "network-transmit-receive", "network-wired", "dialog-information",
    "mail-send",        "text-html",                "appointment-soon", "emblem-favorite",
    "edit-find",        "computer"};

const char* MenuIconName(TfrmMain& f, const TMenuItem* item) {
  const std::pair<const TMenuItem*, const char*> icons[] = {
      {&f.mnuFileSave, "document-save-as"},
      {&f.mnuFileOpen, "document-open"},
      {&f.mnuFileExit, "application-exit"},
      {&f.mnuToolsDnsFlush, "edit-clear"},
      {&f.mnuLanguage, "preferences-desktop-locale"},
      {&f.mnuExtrasSettings, "preferences-system"},
      {&f.mnuHelpWebsite, "help-browser"},
      {&f.mnuHelpEMail, "mail-message-new"},
      {&f.mnuHelpDonate, "face-smile"},
      {&f.mnuHelpInfo, "help-about"}};
  for (const auto& [m, name] : icons)
    if (m == item) return name;
  return nullptr;
}

// The Qt translations for the texts now loaded: the built-in ones are
// German; a language file names its language (in its own words or in
// English) in "Lang|Language", or else by its file name.
QLocale LocaleOfLanguage() {
  if (LanguageTable.empty()) return QLocale(QLocale::German);
  const QString names[] = {Q(LangText("Lang|Language", "")).trimmed(), Q(LanguageName).trimmed()};
  for (const QString& name : names) {
    if (name.isEmpty()) continue;
    for (int l = QLocale::AnyLanguage + 1; l <= QLocale::LastLanguage; ++l) {
      const auto language = static_cast<QLocale::Language>(l);
      const QLocale locale(language);
      if (locale.language() != language) continue;  // no data for it
      if (name.compare(QLocale::languageToString(language), Qt::CaseInsensitive) == 0 ||
          name.compare(locale.nativeLanguageName(), Qt::CaseInsensitive) == 0)
        return locale;
    }
  }
  return QLocale::c();  // unknown: Qt's own English texts
}

}  // namespace

QIcon ProgramIcon() { return QIcon(QStringLiteral(":/quovix.svg")); }

QIcon ThemeIcon(const char* name) {
  const QString n = QLatin1String(name);
  return QIcon::fromTheme(n, QIcon(QStringLiteral(":/icons/") + n + QStringLiteral(".svg")));
}

QRect PlaceOnScreens(const QRect& saved, const QList<QRect>& areas, const QSize& minimum) {
  if (areas.isEmpty()) return saved;
  const QRect* best = &areas.first();
  qint64 bestShare = 0;
  for (const QRect& a : areas) {
    const QRect common = a.intersected(saved);
    const qint64 share = common.isEmpty() ? 0 : qint64(common.width()) * common.height();
    if (share > bestShare) {
      bestShare = share;
      best = &a;
    }
  }
  const QRect& a = *best;
  const QSize size = saved.size().boundedTo(a.size()).expandedTo(minimum);
  QPoint pos = bestShare > 0 ? saved.topLeft()
                             : QPoint(a.x() + (a.width() - size.width()) / 2,
                                      a.y() + (a.height() - size.height()) / 2);
  pos.setX(std::clamp(pos.x(), a.left(), std::max(a.left(), a.left() + a.width() - size.width())));
  pos.setY(std::clamp(pos.y(), a.top(), std::max(a.top(), a.top() + a.height() - size.height())));
  return {pos, size};
}

QList<QRect> ScreenAreas() {
  // The primary screen first: a place on none of them goes there.
  QList<QRect> areas;
  if (QScreen* primary = QGuiApplication::primaryScreen()) areas << primary->availableGeometry();
  for (QScreen* s : QGuiApplication::screens())
    if (s != QGuiApplication::primaryScreen()) areas << s->availableGeometry();
  return areas;
}

DesignScale ScaleOf(const QWidget* w) {
  // Before it shows, a widget may not have heard of a new application font
  // yet: then the font it is about to show is the application's, unless it
  // has one of its own.
  const QFont shown = w->testAttribute(Qt::WA_SetFont) || w->isVisible() ? w->font()
                                                                          : QApplication::font(w);
  return DesignScale::Between(shown, QFont(QString::fromLatin1(TfrmMain::kDesignFontName),
                                               TfrmMain::kDesignFontSize));
}

namespace {
QStyle* DrawingStyle() {
  QStyle* s = QApplication::style();
  while (auto* proxy = qobject_cast<QProxyStyle*>(s)) {
    if (!proxy->baseStyle() || proxy->baseStyle() == s) break;
    s = proxy->baseStyle();
  }
  QStyle* own = s ? QStyleFactory::create(s->name()) : nullptr;
  return own ? own : QStyleFactory::create(QStringLiteral("Fusion"));
}
}  // namespace

CompactTabStyle::CompactTabStyle() : QProxyStyle(DrawingStyle()) {}

int CompactTabStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                 const QWidget* widget) const {
  if (metric == PM_TabBarTabHSpace) return 12;
  return QProxyStyle::pixelMetric(metric, option, widget);
}

QFont OutputFont(const std::string& name, int size) {
  // No choice of the user's: the desktop's fixed-width font, at the size of
  // the desktop's (the window's) font.
  QFont f = name.empty() ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QFont(Q(name));
  if (size > 0)
    f.setPointSize(size);
  else if (QApplication::font().pointSizeF() > 0)
    f.setPointSizeF(QApplication::font().pointSizeF());
  // A chosen face that is not installed falls back to a monospaced one
  // rather than to whatever the default family is.
  f.setStyleHint(QFont::TypeWriter);
  return f;
}

// ---- construction --------------------------------------------------------------

MainWindow::MainWindow(TfrmMain& form) : form_(form), desktop_(this), timer_(this) {
  setObjectName("frmMain");
  timer_.setObjectName(Q(form_.tmrTime.Name));
  BuildMenus();
  BuildCentral();

  platform::SetDesktop(&desktop_);
  form_.OnClipboard = [](const std::string& text) {
    QGuiApplication::clipboard()->setText(Q(text));
  };
  form_.ProcessMessages = [this] {
    SyncFormState();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    SyncFormState();
  };
  // Closing had to wait for a run; the model says when it has ended. Close
  // from the event loop, not from inside the handler that just returned.
  form_.OnCloseNow = [this] {
    QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
  };

  Subscribe(form_.tmrTime, [this] {
    timer_.setInterval(std::max(1, form_.tmrTime.Interval));
    if (form_.tmrTime.Enabled())
      timer_.start();
    else
      timer_.stop();
  });
  timer_.setInterval(std::max(1, form_.tmrTime.Interval));
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (form_.tmrTime.Enabled() && form_.tmrTime.OnTimer) Run(form_.tmrTime.OnTimer);
  });
  if (form_.tmrTime.Enabled()) timer_.start();

  connect(qApp, &QApplication::focusChanged, this, &MainWindow::OnFocusChanged);
  setWindowIcon(ProgramIcon());
  // Esc stops what runs on the tab in front, as its Abort button would.
  auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(esc, &QShortcut::activated, this, [this] { Run([this] { form_.AbortVisibleTool(); }); });

  built_ = true;
  dark_ = IsDarkBase(palette().color(QPalette::Base));
  ApplyPaneColours();
  SyncFormState();
  OnLookChanged();
}

MainWindow::~MainWindow() {
  disconnect(qApp, nullptr, this, nullptr);
  for (auto& [control, id] : subscriptions_) control->Unsubscribe(id);
  for (TRichEdit* pane : form_.OutputPanes()) {
    pane->OnLineAdded = nullptr;
    pane->OnCleared = nullptr;
  }
  form_.ProcessMessages = nullptr;
  form_.OnClipboard = nullptr;
  form_.OnCloseNow = nullptr;
  platform::SetDesktop(nullptr);
}

void MainWindow::Subscribe(TControl& c, std::function<void()> onChange) {
  subscriptions_.emplace_back(&c, c.Subscribe(std::move(onChange)));
}

void MainWindow::Run(const std::function<void()>& action) {
  // Qt does not carry exceptions through its event handlers: an error that
  // escapes the model ends here, as the application's error box.
  try {
    if (action) action();
  } catch (const std::exception& e) {
    platform::Desktop().MessageBox(form_.Caption, e.what());
  } catch (...) {
    platform::Desktop().MessageBox(form_.Caption, "Unknown error");
  }
  SyncFormState();
}

// ---- menus -----------------------------------------------------------------------------

void MainWindow::BuildMenus() {
  for (TMenuItem* top : form_.MainMenu) {
    QMenu* menu = BindSubmenu(menuBar()->addMenu(QString()), top);
    for (TMenuItem* item : top->Items) AddMenuItem(menu, item);
  }
}

QMenu* MainWindow::BindSubmenu(QMenu* menu, TMenuItem* item) {
  actions_[item] = menu->menuAction();
  auto refresh = [menu, item] {
    menu->setTitle(Q(item->Caption()));
    menu->menuAction()->setEnabled(item->Enabled());
    menu->menuAction()->setVisible(item->Visible());
  };
  refresh();
  Subscribe(*item, refresh);
  return menu;
}

void MainWindow::AddMenuItem(QMenu* menu, TMenuItem* item) {
  if (item == &form_.mnuLanguage) {
    // Its items are created and destroyed by the model at run time; they
    // are read each time the submenu opens.
    langMenu_ = BindSubmenu(menu->addMenu(QString()), item);
    langMenu_->setIcon(ThemeIcon(MenuIconName(form_, item)));
    connect(langMenu_, &QMenu::aboutToShow, this, &MainWindow::RefreshLanguageMenu);
    return;
  }
  if (!item->Items.empty()) {
    QMenu* sub = BindSubmenu(menu->addMenu(QString()), item);
    for (TMenuItem* child : item->Items) AddMenuItem(sub, child);
    return;
  }
  auto* a = new QAction(menu);
  a->setSeparator(item->IsSeparator);
  if (!item->ShortCut.empty()) a->setShortcut(QKeySequence(Q(item->ShortCut)));
  if (const char* icon = MenuIconName(form_, item)) a->setIcon(ThemeIcon(icon));
  menu->addAction(a);
  actions_[item] = a;
  auto refresh = [a, item] {
    a->setText(Q(item->Caption()));
    a->setEnabled(item->Enabled());
    a->setVisible(item->Visible());
    a->setCheckable(item->RadioItem || item->Checked());
    a->setChecked(item->Checked());
  };
  refresh();
  Subscribe(*item, refresh);
  connect(a, &QAction::triggered, this, [this, item] { Run([item] { item->Click(); }); });
}

void MainWindow::RefreshLanguageMenu() {
  if (!langMenu_) return;
  // The old actions may be the one being triggered: take them out now,
  // delete them once the event loop is back.
  for (QAction* a : langMenu_->actions()) {
    langMenu_->removeAction(a);
    a->deleteLater();
  }
  if (langGroup_) langGroup_->deleteLater();
  langGroup_ = new QActionGroup(langMenu_);
  langGroup_->setExclusive(true);
  for (TMenuItem* item : form_.mnuLanguage.Items) {
    if (item->IsSeparator) {
      langMenu_->addSeparator();
      continue;
    }
    auto* a = new QAction(Q(item->Caption()), langMenu_);
    a->setEnabled(item->Enabled());
    a->setVisible(item->Visible());
    if (item->RadioItem) {
      a->setCheckable(true);
      langGroup_->addAction(a);
    }
    a->setChecked(item->Checked());
    langMenu_->addAction(a);
    connect(a, &QAction::triggered, this, [this, item] { Run([item] { item->Click(); }); });
  }
}

QMenu* MainWindow::CreateEditPopup(QWidget* parent) {
  Run([this] { form_.pmnuEditPopup(); });
  auto* menu = new QMenu(parent);
  AddPopupItems(menu, form_.pmnuEdit.Items);
  return menu;
}

void MainWindow::AddPopupItems(QMenu* menu, const std::vector<TMenuItem*>& items) {
  for (TMenuItem* item : items) {
    if (!item->Visible()) continue;
    if (item->IsSeparator) {
      menu->addSeparator();
      continue;
    }
    if (!item->Items.empty()) {
      QMenu* sub = menu->addMenu(Q(item->Caption()));
      sub->menuAction()->setEnabled(item->Enabled());
      AddPopupItems(sub, item->Items);
      continue;
    }
    QAction* a = menu->addAction(Q(item->Caption()));
    a->setEnabled(item->Enabled());
    if (!item->ShortCut.empty()) a->setShortcut(QKeySequence(Q(item->ShortCut)));
    connect(a, &QAction::triggered, this, [this, item] { Run([item] { item->Click(); }); });
  }
}

void MainWindow::ShowEditPopup(Binding& b, const QPoint& globalPos) {
  // The popup acts on the focused pane: the pane clicked becomes it.
  b.Widget->setFocus(Qt::PopupFocusReason);
  form_.SetFocus(b.Entry.Control);
  focusRequests_ = form_.FocusRequests;
  ReadPaneSelection(b);
  std::unique_ptr<QMenu> menu(CreateEditPopup(this));
  menu->exec(globalPos);
  SyncFormState();
}

// ---- central area and tabs -----------------------------------------------------------

void MainWindow::BuildCentral() {
  auto* central = new QWidget(this);
  central->setObjectName("pnlMain");
  setCentralWidget(central);
  central->installEventFilter(this);

  // The one-pixel line under the menu bar.
  line_ = new QWidget(central);
  line_->setAutoFillBackground(true);
  QPalette lp = line_->palette();
  lp.setColor(QPalette::Window, palette().color(QPalette::Mid));
  line_->setPalette(lp);

  tabs_ = new QTabWidget(central);
  tabs_->setObjectName("pcMain");
  // Captions are never cut: each tab is as wide as its caption, and only
  // when they cannot all fit does the row scroll.
  tabs_->setUsesScrollButtons(true);
  tabs_->setElideMode(Qt::ElideNone);
  tabs_->tabBar()->setExpanding(false);
  // Ten captions share the width of the default window: narrower tab
  // margins let them fit without scrolling where the font allows.
  tabStyle_ = std::make_unique<CompactTabStyle>();
  tabs_->tabBar()->setStyle(tabStyle_.get());

  status_ = new QLabel(statusBar());
  status_->setTextFormat(Qt::PlainText);
  // A long status text (a host name as typed) must not widen the window.
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  statusBar()->addWidget(status_, 1);
  // Moves while a tool runs, beside the status text that names its step;
  // no taller than the text, so the bar keeps its height.
  busyBar_ = new QProgressBar(statusBar());
  busyBar_->setObjectName("busyIndicator");
  busyBar_->setRange(0, 0);
  busyBar_->setTextVisible(false);
  busyBar_->setVisible(false);
  statusBar()->addPermanentWidget(busyBar_);
  statusBar()->setSizeGripEnabled(true);
  Subscribe(form_.sbMain, [this] { status_->setText(Q(form_.sbMain.SimpleText())); });
  status_->setText(Q(form_.sbMain.SimpleText()));

  BindTabs(BuildTabTables(form_));

  Subscribe(form_.pcMain, [this] {
    if (tabs_->currentIndex() == form_.pcMain.ActivePageIndex()) return;
    tabSync_ = true;
    tabs_->setCurrentIndex(form_.pcMain.ActivePageIndex());
    tabSync_ = false;
  });
  tabs_->setCurrentIndex(form_.pcMain.ActivePageIndex());
  connect(tabs_, &QTabWidget::currentChanged, this, &MainWindow::OnTabChanged);
  LayoutMainArea();
}

void MainWindow::BindTabs(const std::vector<TabTable>& tables) {
  for (const TabTable& tab : tables) {
    auto* page = new QWidget;
    page->setObjectName(Q(tab.Sheet->Name));
    page->installEventFilter(this);
    const int index = tabs_->addTab(page, Q(tab.Sheet->Caption()));
    if (index < static_cast<int>(std::size(kTabIcons))) tabs_->setTabIcon(index, ThemeIcon(kTabIcons[index]));
    pages_.push_back(page);
    pageMin_.emplace_back();
    TTabSheet* sheet = tab.Sheet;
    Subscribe(*sheet, [this, index, sheet] { tabs_->setTabText(index, Q(sheet->Caption())); });

    for (const WidgetEntry& e : tab.Widgets) {
      auto b = std::make_unique<Binding>();
      b->Entry = e;
      b->Page = index;
      // Created in table order: a frame lies behind what it holds.
      b->Container = page;
      b->Widget = CreateWidget(*b);
      b->Widget->setObjectName(Q(e.Control->Name));
      Binding* raw = b.get();
      byControl_[e.Control] = raw;
      byWidget_[b->Widget] = raw;
      children_[page].push_back(raw);
      if (e.Frame) held_[e.Frame].push_back(raw);
      bindings_.push_back(std::move(b));
      Subscribe(*e.Control, [this, raw] {
        Refresh(*raw);
        if (auto it = held_.find(raw->Entry.Control); it != held_.end())
          for (Binding* inner : it->second) Refresh(*inner);
      });
      Refresh(*raw);
    }
    // A label names the input that follows it; the "&" of its caption is
    // the access key to that input.
    const auto& list = children_[page];
    for (size_t i = 0; i + 1 < list.size(); ++i)
      if (list[i]->Entry.Kind == WidgetKind::Label && list[i + 1]->Entry.Kind == WidgetKind::Combo)
        static_cast<QLabel*>(list[i]->Widget)->setBuddy(list[i + 1]->Widget);
  }
  pageDesign_ = QSize(form_.Page(0)->Width, form_.Page(0)->Height);
  pagePixels_ = pageDesign_;

  // Ping's chart and the bar above it share the pane's place on its page.
  Binding* ping = byControl_.at(&form_.rePing);
  pingPage_ = ping->Page;
  pingChart_ = new PingChartView(ping->Container);
  pingChart_->setObjectName("PingChart");
  pingSplit_ = new SplitHandle(ping->Container);
  pingSplit_->setObjectName("PingChartSplit");
  pingSplit_->Dragged = [this](int dy) {
    // Pixels back to design units, so the height stays at another font.
    const int px = pingChart_->height() - dy;
    form_.PingChartHeight = std::clamp(scale_.FromY(px), TfrmMain::kPingChartMinHeight,
                                       TfrmMain::kPingChartMaxHeight);
    LayoutPage(pingPage_);
  };
  for (const TOutputLine& line : form_.rePing.Lines()) pingChart_->AddLine(line.Fields);
  Subscribe(form_.chkPingChart, [this] { LayoutPage(pingPage_); });

  // Trace's chart of round trip per hop, under its output; its height is
  // the window's only.
  Binding* trace = byControl_.at(&form_.reTrace);
  tracePage_ = trace->Page;
  hopChart_ = new HopChartView(trace->Container);
  hopChart_->setObjectName("TraceChart");
  hopSplit_ = new SplitHandle(trace->Container);
  hopSplit_->setObjectName("TraceChartSplit");
  hopSplit_->Dragged = [this](int dy) {
    hopChartHeight_ = std::max(1, hopChart_->height() - dy);
    LayoutPage(tracePage_);
  };
  for (const TOutputLine& line : form_.reTrace.Lines()) hopChart_->AddLine(line.Fields);
}

void MainWindow::PlaceChart(const TRichEdit& paneControl, const QRect& r, QWidget* chartWidget,
                            SplitHandle* split, int height, bool wanted) {
  QWidget* pane = byControl_.at(&paneControl)->Widget;
  const int handle = std::max(4, fontMetrics().height() / 3);
  // The output keeps three lines (and its design minimum) before the chart
  // gets any room; a chart too low to read is not shown.
  const int minPane = std::max(scale_.ToY(40), QFontMetrics(pane->font()).height() * 3 + 8);
  const int chart = std::min(height, r.height() - handle - minPane);
  const bool shown = wanted && paneControl.Visible() &&
                     chart >= std::max(scale_.ToY(TfrmMain::kPingChartMinHeight), fontMetrics().height() * 3);
  chartWidget->setVisible(shown);
  split->setVisible(shown);
  const QRect top = shown ? QRect(r.x(), r.y(), r.width(), r.height() - chart - handle) : r;
  if (pane->geometry() != top) pane->setGeometry(top);
  if (!shown) return;
  split->setGeometry(r.x(), top.bottom() + 1, r.width(), handle);
  chartWidget->setGeometry(r.x(), top.bottom() + 1 + handle, r.width(), chart);
}

QWidget* MainWindow::CreateWidget(Binding& b) {
  QWidget* parent = b.Container;
  Binding* raw = &b;
  switch (b.Entry.Kind) {
    case WidgetKind::Group: {
      // The caption sits on the frame's top line, so the controls' design
      // positions (first row about 20 pixels down) clear the frame.
      auto* g = new QGroupBox(parent);
      StyleGroup(g, QApplication::font());
      return g;
    }
    case WidgetKind::Label: {
      auto* l = new QLabel(parent);
      l->setTextFormat(Qt::PlainText);
      l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      return l;
    }
    case WidgetKind::Combo: {
      auto& c = static_cast<TComboBox&>(*b.Entry.Control);
      auto* cb = new QComboBox(parent);
      cb->setMaxVisibleItems(16);
      if (c.Style == TComboStyle::DropDown) {
        cb->setEditable(true);
        cb->setInsertPolicy(QComboBox::NoInsert);
        cb->lineEdit()->setMaxLength(c.MaxLength > 0 ? c.MaxLength : 32767);
        cb->installEventFilter(this);
        cb->lineEdit()->installEventFilter(this);
        // Typed text (and the history's completion of it) is the control's text.
        connect(cb, &QComboBox::editTextChanged, this, [this, &c](const QString& t) {
          if (updating_) return;
          Run([&c, t] {
            c.SetText(t.toStdString());
            if (c.OnChange) c.OnChange();
          });
        });
        connect(cb, &QComboBox::activated, this, [this, &c](int i) {
          if (i != c.ItemIndex()) Run([&c, i] { c.SetItemIndex(i); });
        });
      } else {
        connect(cb, &QComboBox::activated, this, [this, &c](int i) {
          Run([&c, i] {
            c.SetItemIndex(i);
            if (c.OnChange) c.OnChange();
          });
        });
      }
      return cb;
    }
    case WidgetKind::Check: {
      auto& c = static_cast<TCheckBox&>(*b.Entry.Control);
      auto* cb = new QCheckBox(parent);
      connect(cb, &QCheckBox::clicked, this, [this, &c, raw](bool checked) {
        Run([&c, checked] { c.SetChecked(checked); });
        Refresh(*raw);  // show the model's mark even if the model kept it
      });
      return cb;
    }
    case WidgetKind::Button: {
      auto& c = static_cast<TButton&>(*b.Entry.Control);
      auto* pb = new QPushButton(parent);
      pb->setAutoDefault(false);
      connect(pb, &QPushButton::clicked, this, [this, &c] { Run([&c] { c.Click(); }); });
      return pb;
    }
    case WidgetKind::Pane: {
      auto& c = static_cast<TRichEdit&>(*b.Entry.Control);
      auto* pe = new OutputPane(parent);
      pe->setReadOnly(true);
      pe->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
      pe->setLineWrapMode(QPlainTextEdit::NoWrap);
      pe->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
      pe->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
      pe->setUndoRedoEnabled(false);
      pe->setContextMenuPolicy(Qt::CustomContextMenu);
      pe->viewport()->installEventFilter(this);  // double click: the whole host name
      connect(pe, &QWidget::customContextMenuRequested, this, [this, raw, pe](const QPoint& pos) {
        ShowEditPopup(*raw, pe->viewport()->mapToGlobal(pos));
      });
      connect(pe, &QPlainTextEdit::selectionChanged, this, [this, raw] {
        if (!updating_) ReadPaneSelection(*raw);
      });
      c.OnLineAdded = [this, raw](const TOutputLine& line) { AppendPaneLine(*raw, line); };
      c.OnCleared = [this, raw, pe] {
        if (raw->Entry.Control == &form_.rePing && pingChart_) pingChart_->Clear();
        if (raw->Entry.Control == &form_.reTrace && hopChart_) {
          hopChart_->Clear();
          LayoutPage(tracePage_);
        }
        pe->clear();
        raw->PaneLines = 0;
        raw->SelStart = raw->SelLength = 0;
      };
      b.Widget = pe;
      for (const TOutputLine& line : c.Lines()) AppendPaneLine(b, line);
      return pe;
    }
    case WidgetKind::ListBox: {
      auto* lw = new QListWidget(parent);
      lw->setUniformItemSizes(true);
      lw->setSelectionMode(QAbstractItemView::ExtendedSelection);
      return lw;
    }
    case WidgetKind::ListView: {
      auto* tw = new QTreeWidget(parent);
      tw->setRootIsDecorated(false);
      tw->setUniformRowHeights(true);
      tw->setSelectionMode(QAbstractItemView::SingleSelection);
      tw->header()->setStretchLastSection(false);
      // A column of round-trip bars (the rounds of a trace) drawn as charts.
      tw->setItemDelegate(new RoundTripBarDelegate(tw));
      return tw;
    }
    case WidgetKind::Panel: {
      auto* f = new QFrame(parent);
      f->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
      return f;
    }
    case WidgetKind::BarBack:
    case WidgetKind::BarFront:
      return new QFrame(parent);  // coloured by ApplyPaneColours
  }
  return new QWidget(parent);
}

// ---- model → widget ----------------------------------------------------------------------

void MainWindow::Refresh(Binding& b) {
  ++updating_;
  TControl& c = *b.Entry.Control;
  QWidget* w = b.Widget;
  w->setEnabled(c.Enabled());
  w->setVisible(c.Visible() && (!b.Entry.Frame || b.Entry.Frame->Visible()));
  if (const QString tip = Q(c.Hint()); w->toolTip() != tip) w->setToolTip(tip);
  b.Needed = -1;
  switch (b.Entry.Kind) {
    case WidgetKind::Group:
      static_cast<QGroupBox*>(w)->setTitle(Q(static_cast<TGroupBox&>(c).Caption()));
      break;
    case WidgetKind::Label:
      static_cast<QLabel*>(w)->setText(Q(static_cast<TLabel&>(c).Caption()));
      ApplyFontAttributes(b);
      break;
    case WidgetKind::Check: {
      auto& k = static_cast<TCheckBox&>(c);
      auto* cb = static_cast<QCheckBox*>(w);
      cb->setText(Q(k.Caption()));
      cb->setChecked(k.Checked());
      break;
    }
    case WidgetKind::Button: {
      auto& k = static_cast<TButton&>(c);
      auto* pb = static_cast<QPushButton*>(w);
      pb->setText(Q(k.Caption()));
      pb->setDefault(k.Default);
      break;
    }
    case WidgetKind::Combo:
      RefreshCombo(b);
      break;
    case WidgetKind::Pane:
      RefreshPane(b);
      break;
    case WidgetKind::ListBox: {
      FollowOutputFont(b);
      // A list fills item by item: show it once the filling has let the
      // event loop run, not after every item.
      if (!b.RefreshPending) {
        b.RefreshPending = true;
        Binding* raw = &b;
        QMetaObject::invokeMethod(this, [this, raw] { FillListBox(*raw); }, Qt::QueuedConnection);
      }
      break;
    }
    case WidgetKind::ListView:
      FillListView(b);
      break;
    case WidgetKind::Panel:
    case WidgetKind::BarBack:
    case WidgetKind::BarFront:
      break;
  }
  if (built_) LayoutPage(b.Page);
  --updating_;
}

void MainWindow::ApplyFontAttributes(Binding& b) {
  auto& l = static_cast<TLabel&>(*b.Entry.Control);
  // Only the attributes set here are fixed; family and size follow the
  // window's font, and a size of its own grows with it.
  QFont f;
  if (l.Bold) f.setBold(true);
  if (l.FontSize > 0) f.setPointSizeF(l.FontSize * scale_.Y);
  b.Widget->setFont(f);
}

void MainWindow::RefreshCombo(Binding& b) {
  auto& c = static_cast<TComboBox&>(*b.Entry.Control);
  auto* cb = static_cast<QComboBox*>(b.Widget);
  if (b.Items != c.Items()) {
    cb->clear();
    cb->addItems(ToQStringList(c.Items()));
    b.Items = c.Items();
  }
  if (c.Style == TComboStyle::DropDownList) {
    if (cb->currentIndex() != c.ItemIndex()) cb->setCurrentIndex(c.ItemIndex());
  } else {
    const QString text = Q(c.Text());
    if (cb->currentText() != text) cb->setEditText(text);
  }
}

void MainWindow::FollowOutputFont(Binding& b) {
  QFont f;
  if (b.Entry.Kind == WidgetKind::Pane) {
    const auto& c = static_cast<const TRichEdit&>(*b.Entry.Control);
    f = OutputFont(c.FontName, c.FontSize);
  } else {
    const auto& l = static_cast<const TListBox&>(*b.Entry.Control);
    f = OutputFont(l.FontName, l.FontSize);
  }
  if (b.Widget->font() != f) b.Widget->setFont(f);
}

void MainWindow::RefreshPane(Binding& b) {
  auto& c = static_cast<TRichEdit&>(*b.Entry.Control);
  FollowOutputFont(b);
  if (c.SelStart != b.SelStart || c.SelLength != b.SelLength) WritePaneSelection(b);
}

void MainWindow::AppendPaneLine(Binding& b, const TOutputLine& line) {
  auto* pe = static_cast<QPlainTextEdit*>(b.Widget);
  QScrollBar* sb = pe->verticalScrollBar();
  const bool atEnd = sb->value() >= sb->maximum();
  QTextCursor cur(pe->document());
  cur.movePosition(QTextCursor::End);
  QTextCharFormat fmt;
  fmt.setForeground(PaneColour(line.Color));
  if (b.PaneLines > 0) cur.insertBlock(QTextBlockFormat(), fmt);
  cur.insertText(PaneText(line.Text), fmt);
  ++b.PaneLines;
  if (auto* pane = dynamic_cast<OutputPane*>(pe))
    if (auto bar = TimingBarOf(line.Fields); !bar.empty()) pane->SetLastLineBar(std::move(bar));
  if (b.Entry.Control == &form_.rePing && pingChart_) pingChart_->AddLine(line.Fields);
  if (b.Entry.Control == &form_.reTrace && hopChart_) {
    const bool first = hopChart_->Model().Hops().empty();
    if (hopChart_->AddLine(line.Fields) && first) LayoutPage(tracePage_);
  }
  // Follow the output unless the user has scrolled up to read.
  if (atEnd) sb->setValue(sb->maximum());
}

void MainWindow::ReadPaneSelection(Binding& b) {
  auto& c = static_cast<TRichEdit&>(*b.Entry.Control);
  QTextCursor cur = static_cast<QPlainTextEdit*>(b.Widget)->textCursor();
  const std::string text = c.Text();
  const int start = BytesFromPos(text, cur.selectionStart());
  const int end = BytesFromPos(text, cur.selectionEnd());
  c.SelStart = b.SelStart = start;
  c.SelLength = b.SelLength = end - start;
}

void MainWindow::WritePaneSelection(Binding& b) {
  auto& c = static_cast<TRichEdit&>(*b.Entry.Control);
  auto* pe = static_cast<QPlainTextEdit*>(b.Widget);
  const std::string text = c.Text();
  const int start = PosFromBytes(text, std::max(0, c.SelStart));
  const int end = PosFromBytes(text, std::max(0, c.SelStart) + std::max(0, c.SelLength));
  QTextCursor cur(pe->document());
  const int last = pe->document()->characterCount() - 1;
  cur.setPosition(std::clamp(start, 0, std::max(0, last)));
  cur.setPosition(std::clamp(end, 0, std::max(0, last)), QTextCursor::KeepAnchor);
  ++updating_;
  pe->setTextCursor(cur);
  --updating_;
  b.SelStart = c.SelStart;
  b.SelLength = c.SelLength;
}

void MainWindow::FillListBox(Binding& b) {
  b.RefreshPending = false;
  auto& c = static_cast<TListBox&>(*b.Entry.Control);
  if (b.Items == c.Items()) return;
  auto* lw = static_cast<QListWidget*>(b.Widget);
  lw->clear();
  lw->addItems(ToQStringList(c.Items()));
  b.Items = c.Items();
}

void MainWindow::FillListView(Binding& b) {
  auto& c = static_cast<TListView&>(*b.Entry.Control);
  auto* tw = static_cast<QTreeWidget*>(b.Widget);
  QStringList headers;
  for (const auto& col : c.Columns) headers << Q(col.Caption);
  tw->setColumnCount(static_cast<int>(c.Columns.size()));
  tw->setHeaderLabels(headers);
  for (size_t i = 0; i < c.Columns.size(); ++i)
    if (c.Columns[i].Width > 0) tw->setColumnWidth(static_cast<int>(i), scale_.ToX(c.Columns[i].Width));
  // A table that is refilled round after round keeps its rows: each cell
  // that changed gets its new text in place, so selection and scrolling stay.
  const int have = tw->topLevelItemCount();
  const int want = static_cast<int>(c.Rows().size());
  if (want < have) {
    for (int i = have - 1; i >= want; --i) delete tw->takeTopLevelItem(i);
  }
  for (int i = 0; i < std::min(have, want); ++i) {
    QTreeWidgetItem* item = tw->topLevelItem(i);
    const auto& row = c.Rows()[static_cast<size_t>(i)];
    for (int col = 0; col < static_cast<int>(row.size()); ++col) {
      const QString text = Q(row[static_cast<size_t>(col)]);
      if (item->text(col) != text) item->setText(col, text);
    }
  }
  QList<QTreeWidgetItem*> rows;
  for (int i = have; i < want; ++i)
    rows << new QTreeWidgetItem(ToQStringList(c.Rows()[static_cast<size_t>(i)]));
  tw->addTopLevelItems(rows);
}

// ---- geometry ------------------------------------------------------------------------------

int MainWindow::NeededWidth(Binding& b) {
  if (b.Needed >= 0) return b.Needed;
  QWidget* w = b.Widget;
  QStyle* st = w->style();
  const QFontMetricsF fm(w->font());
  auto text = [&](const std::string& s) {
    return static_cast<int>(std::ceil(
        fm.size(Qt::TextShowMnemonic | Qt::TextSingleLine, Q(s)).width()));
  };
  int need = 0;
  switch (b.Entry.Kind) {
    case WidgetKind::Label:
      need = text(static_cast<TLabel&>(*b.Entry.Control).Caption());
      break;
    case WidgetKind::Check:
      need = static_cast<QCheckBox*>(w)->sizeHint().width();
      break;
    case WidgetKind::Button: {
      auto& c = static_cast<TButton&>(*b.Entry.Control);
      // The style's own measure: its button margin and the frame both sides.
      const int margins = st->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w) +
                          2 * st->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
      need = std::max(text(c.Caption()), c.AltCaption.empty() ? 0 : text(c.AltCaption)) + margins;
      break;
    }
    case WidgetKind::Combo: {
      // A pick-only list shows its longest item whole; an editable one
      // scrolls what is typed.
      auto& c = static_cast<TComboBox&>(*b.Entry.Control);
      if (c.Style != TComboStyle::DropDownList) break;
      int longest = 0;
      for (const std::string& item : c.Items()) longest = std::max(longest, text(item));
      QStyleOptionComboBox opt;
      opt.initFrom(w);
      opt.editable = false;
      opt.frame = true;
      opt.rect = QRect(0, 0, 200, std::max(w->height(), fm.height() > 0 ? int(fm.height()) + 8 : 24));
      const QRect field = st->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, w);
      need = longest + (opt.rect.width() - field.width()) + 2;
      break;
    }
    case WidgetKind::Group: {
      // The title sits on the frame's top line, indented as the style sheet
      // says, with room after it.
      need = text(static_cast<TGroupBox&>(*b.Entry.Control).Caption()) + 20;
      break;
    }
    default:
      break;
  }
  b.Needed = need;
  return need;
}

void MainWindow::LayoutPage(int page) {
  if (page < 0 || page >= static_cast<int>(pages_.size())) return;
  auto it = children_.find(pages_[page]);
  if (it == children_.end()) return;
  const std::vector<Binding*>& list = it->second;
  std::vector<FitItem> items;
  items.reserve(list.size());
  std::unordered_map<const TControl*, int> index;
  for (Binding* b : list) {
    const TControl& c = *b->Entry.Control;
    FitItem fi;
    // The model's bounds, in design units relative to the tab page.
    fi.Design = QRect(c.Left, c.Top, std::max(0, c.Width), std::max(0, c.Height));
    if (b->Entry.Frame) {
      auto f = index.find(b->Entry.Frame);
      if (f != index.end()) fi.Frame = f->second;
    }
    switch (b->Entry.Kind) {
      case WidgetKind::Group: fi.IsFrame = true; fi.Stretches = FitItem::Stretch::Width; break;
      case WidgetKind::Panel: fi.IsFrame = true; break;
      case WidgetKind::Pane:
      case WidgetKind::ListBox:
      case WidgetKind::ListView: fi.Stretches = FitItem::Stretch::Both; break;
      case WidgetKind::Label:
      case WidgetKind::Check: fi.TextOnly = true; break;
      default: break;
    }
    fi.Needed = NeededWidth(*b);
    index[&c] = static_cast<int>(items.size());
    items.push_back(fi);
  }
  pageMin_[page] = FitPage(items, scale_, pageDesign_, pagePixels_);
  for (size_t i = 0; i < list.size(); ++i) {
    const TControl* c = list[i]->Entry.Control;
    // A pane with a chart gets its place with the chart in one step: a
    // pane grown and shrunk again would lose its place at the output's end.
    if (pingChart_ && c == &form_.rePing) {
      PlaceChart(form_.rePing, items[i].Pixels, pingChart_, pingSplit_,
                 scale_.ToY(form_.PingChartHeight), form_.chkPingChart.Checked());
    } else if (hopChart_ && c == &form_.reTrace) {
      PlaceChart(form_.reTrace, items[i].Pixels, hopChart_, hopSplit_,
                 hopChartHeight_ > 0 ? hopChartHeight_ : scale_.ToY(TfrmMain::kPingChartDefaultHeight),
                 !hopChart_->Model().Hops().empty());
    } else if (list[i]->Widget->geometry() != items[i].Pixels) {
      list[i]->Widget->setGeometry(items[i].Pixels);
    }
  }
}

void MainWindow::LayoutMainArea() {
  QWidget* cw = centralWidget();
  line_->setGeometry(0, 0, cw->width(), 1);
  // The model's page control below the one-pixel line: its design place
  // and its design margins to the client area's edges (the status bar is
  // the model's client area too), scaled.
  const TControl& pc = form_.pcMain;
  const int sbHeight = statusBar()->isVisible() ? statusBar()->height() : 0;
  const int left = scale_.ToX(pc.Left), top = scale_.ToY(pc.Top);
  const int right = scale_.ToX(std::max(0, form_.ClientWidth - pc.Left - pc.Width));
  const int bottom = scale_.ToY(std::max(0, form_.ClientHeight - pc.Top - pc.Height));
  const QRect r(left, 1 + top, std::max(0, cw->width() - left - right),
                std::max(0, cw->height() + sbHeight - top - bottom));
  if (tabs_->geometry() != r) tabs_->setGeometry(r);
}

void MainWindow::RelayoutAll() {
  LayoutMainArea();
  for (int p = 0; p < static_cast<int>(pages_.size()); ++p) LayoutPage(p);
  UpdateMinimumSize();
}

void MainWindow::MeasureChrome(bool fresh) {
  // Menu bar, tab row, frames and status bar: what the window has around a
  // page, as the style draws them now; measured where both sizes agree.
  // Rounding may make it a pixel more at one size than at another; the
  // larger counts, so the minimum stays put.
  QWidget* page = tabs_->currentWidget();
  if (!isVisible() || !page || page->width() <= 0 || page->height() <= 0) return;
  const QSize now = size() - page->size();
  chrome_ = fresh || chrome_.isEmpty() ? now : chrome_.expandedTo(now);
}

void MainWindow::UpdateMinimumSize() {
  // Before the window shows, and while a new font reaches widget after
  // widget, the sums are half old and half new: no minimum from them.
  if (!shown_ || lookPending_) return;
  QSize page(0, 0);
  for (const QSize& m : pageMin_) page = page.expandedTo(m);
  QSize chrome = chrome_;
  if (chrome.isEmpty()) {
    // Not shown yet: the bars' own heights and the design margins.
    chrome = QSize(scale_.ToX(12) + 8, menuBar()->sizeHint().height() + statusBar()->sizeHint().height() +
                                            tabs_->tabBar()->sizeHint().height() + scale_.ToY(13) + 8);
  }
  const QSize min = scale_.ToPixels(QSize(form_.MinWidth, form_.MinHeight)).expandedTo(page + chrome);
  if (minimumSize() != min) setMinimumSize(min);
}

QSize MainWindow::InitialSize() const {
  QSize size = scale_.ToPixels(QSize(form_.Width, form_.Height)).expandedTo(minimumSize());
  // Every tab in view at the start, where the screen has the room.
  const int tabRow = tabs_->tabBar()->sizeHint().width() + (width() - tabs_->width()) + 4;
  size.setWidth(std::max(size.width(), tabRow));
  if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
    size = size.boundedTo(s->availableGeometry().size()).expandedTo(minimumSize());
  return size;
}

void MainWindow::OnCentralResized() {
  // The model's client area is the window below the menu bar, status bar
  // included, in design units.
  const int sbHeight = statusBar()->isVisible() ? statusBar()->height() : 0;
  form_.ClientWidth = scale_.FromX(centralWidget()->width());
  form_.ClientHeight = scale_.FromY(centralWidget()->height() + sbHeight);
  Run([this] {
    form_.FormResize();
    // The rules laid the tabs out for the model's own estimate of a page;
    // the page as it is counts (a resize of it follows if it changes).
    pageDesign_ = QSize(form_.Page(0)->Width, form_.Page(0)->Height);
    pagePixels_ = scale_.ToPixels(pageDesign_);
    if (QWidget* page = tabs_->currentWidget(); page && !page->size().isEmpty()) {
      pagePixels_ = page->size();
      pageDesign_ = QSize(scale_.FromX(page->width()), scale_.FromY(page->height()));
      form_.LayoutTabContents(pageDesign_.width(), pageDesign_.height());
    }
  });
}

void MainWindow::ShowCentred() {
  shown_ = true;
  RelayoutAll();
  const TfrmMain::TPlacement& p = form_.Placement;
  const bool placed = p.Width > 0 && p.Height > 0;
  resize(InitialSize());
  show();
  // Shown, the bars have their real sizes: the minimum and the start size
  // once more from them.
  MeasureChrome(true);
  RelayoutAll();
  if (placed) {
    setGeometry(
        PlaceOnScreens(QRect(p.Left, p.Top, p.Width, p.Height), ScreenAreas(), minimumSize()));
    if (p.Maximized) setWindowState(windowState() | Qt::WindowMaximized);
  } else {
    resize(InitialSize());
    autoSize_ = size();
    if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
      const QRect area = s->availableGeometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
  }
  SyncFormState();
}

void MainWindow::OnLookChanged() {
  if (!built_) return;
  scale_ = ScaleOf(this);
  // Group titles in the window's font (StyleGroup says why by hand).
  for (auto& b : bindings_) {
    b->Needed = -1;
    if (b->Entry.Kind == WidgetKind::Group) StyleGroup(b->Widget, font());
    if (b->Entry.Kind == WidgetKind::Label) ApplyFontAttributes(*b);
    // The desktop's size is the output's too, unless the user chose one.
    if (b->Entry.Kind == WidgetKind::Pane || b->Entry.Kind == WidgetKind::ListBox)
      FollowOutputFont(*b);
  }
  ApplyScaledSizes();
  lookPending_ = true;
  OnCentralResized();
  RelayoutAll();
  // Every widget has its new font and the bars their new sizes once the
  // event loop has run: then all measured once more, and a window the user
  // has not sized grows with it.
  QMetaObject::invokeMethod(this, [this] {
    lookPending_ = false;
    const DesignScale now = ScaleOf(this);
    const bool rescaled = !(now == scale_);
    scale_ = now;
    for (auto& b : bindings_) {
      b->Needed = -1;
      if (rescaled && b->Entry.Kind == WidgetKind::Label) ApplyFontAttributes(*b);
    }
    if (rescaled) ApplyScaledSizes();
    MeasureChrome(true);
    RelayoutAll();
    if (isVisible() && !isMaximized() && size() == autoSize_) {
      // Grown with the font, it stays on the screen it was placed on.
      setGeometry(PlaceOnScreens(QRect(pos(), InitialSize()), ScreenAreas(), minimumSize()));
      autoSize_ = size();
    }
  }, Qt::QueuedConnection);
}

void MainWindow::ApplyScaledSizes() {
  // Tab icons and list columns grow with the font.
  const int icon = std::max(16, scale_.ToY(16));
  tabs_->setIconSize(QSize(icon, icon));
  for (auto& b : bindings_)
    if (b->Entry.Kind == WidgetKind::ListView) FillListView(*b);
}

void MainWindow::changeEvent(QEvent* e) {
  QMainWindow::changeEvent(e);
  if (e->type() == QEvent::FontChange) {
    OnLookChanged();
  } else if (e->type() == QEvent::StyleChange) {
    // A new application style: the tab bar's compact proxy follows it.
    if (tabStyle_ && tabs_->tabBar()->style() == tabStyle_.get()) {
      auto fresh = std::make_unique<CompactTabStyle>();
      tabs_->tabBar()->setStyle(fresh.get());
      tabStyle_ = std::move(fresh);
    }
    OnLookChanged();
  } else if (e->type() == QEvent::PaletteChange) {
    const bool dark = IsDarkBase(palette().color(QPalette::Base));
    if (dark != dark_) {
      dark_ = dark;
      ApplyPaneColours();
    }
  }
}

// ---- colours ------------------------------------------------------------------------------

QColor MainWindow::PaneColour(TColor c) const {
  const QColor own = ToQColor(c);
  if (!dark_) return own;
  for (const auto& [kind, colour] : darkColours_)
    if (kind == c) return colour;
  return ReadableOn(own, palette().color(QPalette::Base));
}

void MainWindow::ApplyPaneColours() {
  darkColours_.clear();
  if (dark_) {
    // Plain text is the palette's text; the others keep their hue as far as
    // they stay apart: an error must not look like a time-out, nor a
    // heading like an information line. The earlier ones keep closest.
    const TColor kinds[] = {clBlack, clRed, clBlue, clGreen, clNavy, clMaroon};
    QList<QColor> wanted;
    for (TColor k : kinds) wanted.push_back(k == clBlack ? palette().color(QPalette::Text) : ToQColor(k));
    const QList<QColor> shown = DistinctReadableOn(wanted, palette().color(QPalette::Base));
    for (int i = 0; i < shown.size(); ++i) darkColours_.emplace_back(kinds[i], shown[i]);
  }
  QPalette lp = line_->palette();
  lp.setColor(QPalette::Window, palette().color(QPalette::Mid));
  line_->setPalette(lp);
  const QColor base = dark_ ? palette().color(QPalette::Base) : QColor(Qt::white);
  const QColor text = dark_ ? PaneColour(clBlack) : QColor(Qt::black);
  for (auto& b : bindings_) {
    switch (b->Entry.Kind) {
      case WidgetKind::Pane: {
        auto* pe = static_cast<QPlainTextEdit*>(b->Widget);
        QPalette p = pe->palette();
        p.setColor(QPalette::Base, base);
        p.setColor(QPalette::Text, text);
        pe->setPalette(p);
        // The lines shown again in the colours of this palette.
        auto& c = static_cast<TRichEdit&>(*b->Entry.Control);
        ++updating_;
        pe->clear();
        b->PaneLines = 0;
        for (const TOutputLine& line : c.Lines()) AppendPaneLine(*b, line);
        --updating_;
        WritePaneSelection(*b);
        break;
      }
      case WidgetKind::BarBack:
        b->Widget->setStyleSheet(QStringLiteral("QFrame { background: %1; border: 1px solid %2; }")
                                     .arg(base.name(), text.name()));
        break;
      case WidgetKind::BarFront:
        b->Widget->setStyleSheet(
            QStringLiteral("QFrame { background: %1; border: none; }").arg(PaneColour(clGreen).name()));
        break;
      default:
        break;
    }
  }
}

// ---- Qt's own texts and the window's place ---------------------------------------------------

void MainWindow::FollowLanguage() {
  const std::string key = LanguageName + '|' + std::to_string(LanguageTable.size()) + '|' +
                          (LanguageTable.empty() ? std::string() : LanguageTable.front());
  if (key == languageKey_) return;
  languageKey_ = key;
  const QLocale locale = LocaleOfLanguage();
  const QString name = locale == QLocale::c() ? QString() : locale.name().section('_', 0, 0);
  if (name == qtLanguage_ && (qtTranslator_ || name.isEmpty())) return;
  if (qtTranslator_) {
    QCoreApplication::removeTranslator(qtTranslator_.get());
    qtTranslator_.reset();
  }
  qtLanguage_.clear();
  if (name.isEmpty()) return;
  auto t = std::make_unique<QTranslator>();
  if (t->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
              QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(t.get());
    qtTranslator_ = std::move(t);
    qtLanguage_ = name;
  }
}

void MainWindow::StorePlacement() {
  // Maximised, the size to come back to is the one it had before.
  const bool maximized = isMaximized();
  const QRect g = maximized && normalGeometry().isValid() ? normalGeometry() : geometry();
  form_.Placement = {g.x(), g.y(), g.width(), g.height(), maximized};
}

// ---- plain fields of the model -------------------------------------------------------------

void MainWindow::SyncFormState() {
  if (caption_ != form_.Caption) {
    caption_ = form_.Caption;
    setWindowTitle(Q(caption_));
  }
  if (fontName_ != form_.FontName || fontSize_ != form_.FontSize) {
    fontName_ = form_.FontName;
    fontSize_ = form_.FontSize;
    // The application font: the window and the dialogs it opens. A family
    // that is not installed falls back to Qt's choice.
    QApplication::setFont(QFont(Q(fontName_), fontSize_ > 0 ? fontSize_ : 8));
    // Group titles in it too (StyleGroup says why by hand).
    for (auto& b : bindings_)
      if (b->Entry.Kind == WidgetKind::Group) StyleGroup(b->Widget, QApplication::font());
  }
  FollowLanguage();
  const bool wantBusy = form_.Cursor == TCursor::HourGlass;
  if (wantBusy != busy_) {
    busy_ = wantBusy;
    ShowBusy();
  }
  if (timer_.interval() != std::max(1, form_.tmrTime.Interval))
    timer_.setInterval(std::max(1, form_.tmrTime.Interval));
  if (form_.FocusRequests != focusRequests_) {
    focusRequests_ = form_.FocusRequests;
    auto it = byControl_.find(form_.ActiveControl);
    if (it != byControl_.end() && it->second->Widget->isVisible()) it->second->Widget->setFocus();
  }
  for (auto& b : bindings_)
    if (b->Entry.Kind == WidgetKind::Pane) {
      auto& c = static_cast<TRichEdit&>(*b->Entry.Control);
      if (c.SelStart != b->SelStart || c.SelLength != b->SelLength) WritePaneSelection(*b);
    }
  RelayoutAll();
}

void MainWindow::ShowBusy() {
  // The other tabs refuse a change while a tool runs: they say so.
  const int running = tabs_->currentIndex();
  for (int i = 0; i < tabs_->count(); ++i) tabs_->setTabEnabled(i, !busy_ || i == running);
  // The wait cursor over what the run fills, not over its Abort button.
  for (const auto& [w, shape] : waiting_)
    if (w) w->setCursor(shape);
  waiting_.clear();
  if (busy_) {
    for (auto& b : bindings_) {
      if (b->Page != running) continue;
      QWidget* w = nullptr;
      if (b->Entry.Kind == WidgetKind::Pane || b->Entry.Kind == WidgetKind::ListBox ||
          b->Entry.Kind == WidgetKind::ListView)
        w = static_cast<QAbstractScrollArea*>(b->Widget)->viewport();
      if (!w) continue;
      waiting_.emplace_back(w, w->cursor().shape());
      w->setCursor(Qt::WaitCursor);
    }
  }
  busyBar_->setFixedSize(scale_.ToX(60), status_->fontMetrics().height());
  busyBar_->setVisible(busy_);
}

// ---- user → model --------------------------------------------------------------------------

void MainWindow::OnTabChanged(int index) {
  if (tabSync_) return;
  bool accepted = true;
  Run([this, index, &accepted] { accepted = form_.pcMain.UserSelect(index); });
  if (!accepted && tabs_->currentIndex() != form_.pcMain.ActivePageIndex()) {
    // Refused while a tool runs: back to the tab the model keeps.
    tabSync_ = true;
    tabs_->setCurrentIndex(form_.pcMain.ActivePageIndex());
    tabSync_ = false;
  }
}

MainWindow::Binding* MainWindow::BindingOf(const QWidget* w) const {
  for (; w; w = w->parentWidget()) {
    auto it = byWidget_.find(w);
    if (it != byWidget_.end()) return it->second;
    if (w == this) break;
  }
  return nullptr;
}

void MainWindow::OnFocusChanged(QWidget* old, QWidget* now) {
  // Only moves inside this window count; a dialog or popup taking the
  // focus for a while is no leaving of a control.
  if (!now || now->window() != this) return;
  Binding* nb = BindingOf(now);
  Binding* ob = old && old->window() == this ? BindingOf(old) : nullptr;
  if (nb) {
    form_.SetFocus(nb->Entry.Control);
    focusRequests_ = form_.FocusRequests;  // where it is already
  }
  if (ob && ob != nb && ob->Entry.Kind == WidgetKind::Combo) {
    auto& c = static_cast<TComboBox&>(*ob->Entry.Control);
    if (c.OnExit) Run(c.OnExit);
  }
}

bool MainWindow::OnEnterKey(int page) {
  // Enter clicks the focused button, else the default button of the tab;
  // output panes keep the key.
  Binding* focused = BindingOf(QApplication::focusWidget());
  if (focused && focused->Entry.Kind == WidgetKind::Pane) return false;
  Binding* target = nullptr;
  if (focused && focused->Entry.Kind == WidgetKind::Button) {
    target = focused;
  } else {
    for (auto& b : bindings_)
      if (b->Page == page && b->Entry.Kind == WidgetKind::Button &&
          static_cast<TButton*>(b->Entry.Control)->Default && b->Entry.Control->Visible()) {
        target = b.get();
        break;
      }
  }
  if (!target) return false;
  auto* button = static_cast<TButton*>(target->Entry.Control);
  Run([button] { button->Click(); });
  return true;
}

bool MainWindow::eventFilter(QObject* o, QEvent* e) {
  if (e->type() == QEvent::Resize) {
    if (o == centralWidget()) {
      OnCentralResized();
    } else if (auto* w = qobject_cast<QWidget*>(o);
               w && std::find(pages_.begin(), pages_.end(), w) != pages_.end()) {
      // The real page size, in design units: the model's rules then size
      // what fills a tab, whatever height this style gives the tab row.
      // Every page of the stack has this size (a hidden one may hear of it
      // only when it shows).
      pagePixels_ = w->size();
      pageDesign_ = QSize(scale_.FromX(w->width()), scale_.FromY(w->height()));
      // Window and page agree on their sizes now.
      if (w == tabs_->currentWidget()) MeasureChrome(false);
      Run([this] { form_.LayoutTabContents(pageDesign_.width(), pageDesign_.height()); });
      RelayoutAll();
    }
  } else if (e->type() == QEvent::MouseButtonDblClick) {
    auto* pe = o->parent() ? qobject_cast<QPlainTextEdit*>(o->parent()) : nullptr;
    auto* me = static_cast<QMouseEvent*>(e);
    if (pe && pe->viewport() == o && me->button() == Qt::LeftButton && SelectHostAt(pe, me->position().toPoint()))
      return true;
  } else if (e->type() == QEvent::KeyPress) {
    auto* ke = static_cast<QKeyEvent*>(e);
    if ((ke->key() == Qt::Key_Return || ke->key() == Qt::Key_Enter) &&
        !(ke->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier))) {
      // Pages see the key when their controls pass it on; an editable
      // combo keeps it, so its own filter catches it.
      int page = -1;
      if (auto it = std::find(pages_.begin(), pages_.end(), o); it != pages_.end())
        page = static_cast<int>(it - pages_.begin());
      else if (Binding* b = BindingOf(qobject_cast<QWidget*>(o)))
        page = b->Page;
      if (page >= 0 && OnEnterKey(page)) return true;
    }
  }
  return QMainWindow::eventFilter(o, e);
}

bool MainWindow::SelectHostAt(QPlainTextEdit* pe, const QPoint& pos) {
  // A word of the widget's own would be one label of a name or one group
  // of an address; the output's words worth taking are whole names.
  QTextCursor cur = pe->cursorForPosition(pos);
  const QString text = cur.block().text();
  const std::string line = text.toStdString();
  const size_t at = static_cast<size_t>(text.left(cur.positionInBlock()).toUtf8().size());
  const auto [first, length] = HostSpanAt(line, at);
  if (length == 0) return false;
  const int from = QString::fromUtf8(line.data(), static_cast<qsizetype>(first)).size();
  const int count = QString::fromUtf8(line.data() + first, static_cast<qsizetype>(length)).size();
  cur.setPosition(cur.block().position() + from);
  cur.setPosition(cur.block().position() + from + count, QTextCursor::KeepAnchor);
  pe->setTextCursor(cur);
  return true;
}

void MainWindow::closeEvent(QCloseEvent* e) {
  if (closed_) {
    e->accept();
    return;
  }
  // While a tool runs the model asks it to stop and calls OnCloseNow once
  // the run has returned; until then the window stays.
  bool mayClose = true;
  Run([this, &mayClose] { mayClose = form_.FormCloseQuery(); });
  if (!mayClose) {
    e->ignore();
    return;
  }
  StorePlacement();
  Run([this] { form_.FormClose(); });
  closed_ = true;
  e->accept();
}

// ---- lookups ----------------------------------------------------------------------------------

QWidget* MainWindow::WidgetOf(const TControl& c) const {
  if (&c == &form_.pcMain) return tabs_;
  auto it = byControl_.find(&c);
  return it == byControl_.end() ? nullptr : it->second->Widget;
}

QAction* MainWindow::ActionOf(const TMenuItem& m) const {
  auto it = actions_.find(&m);
  return it == actions_.end() ? nullptr : it->second;
}

}  // namespace quovix::ui
