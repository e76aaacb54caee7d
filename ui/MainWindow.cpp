#include "ui/MainWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTreeWidget>
#include <algorithm>
#include <exception>

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

QFont OutputFont(const std::string& name, int size) {
  QFont f(Q(name), size > 0 ? size : 9);
  // "Courier New" is rarely installed on Linux: fall back to a monospaced
  // face rather than whatever the default family is.
  f.setStyleHint(QFont::TypeWriter);
  return f;
}

}  // namespace

int CompactTabStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                 const QWidget* widget) const {
  if (metric == PM_TabBarTabHSpace) return 12;
  return QProxyStyle::pixelMetric(metric, option, widget);
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
  SyncFormState();
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
  if (busy_) QApplication::restoreOverrideCursor();
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
  lastActive_ = b.Entry.Control;
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
  tabs_->setUsesScrollButtons(true);
  // Ten captions share the width of the default window: narrower tab
  // margins let them fit without scrolling where the font allows.
  tabStyle_ = std::make_unique<CompactTabStyle>();
  tabs_->tabBar()->setStyle(tabStyle_.get());

  status_ = new QLabel(statusBar());
  status_->setTextFormat(Qt::PlainText);
  statusBar()->addWidget(status_, 1);
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
    pages_.push_back(page);
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
  }
}

QWidget* MainWindow::CreateWidget(Binding& b) {
  QWidget* parent = b.Container;
  Binding* raw = &b;
  switch (b.Entry.Kind) {
    case WidgetKind::Group: {
      // The caption sits on the frame's top line, so the controls' design
      // positions (first row about 20 pixels down) clear the frame.
      auto* g = new QGroupBox(parent);
      g->setStyleSheet(
          "QGroupBox { border: 1px solid palette(mid); border-radius: 3px; margin-top: 6px; }"
          "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
          " left: 8px; padding: 0 2px; }");
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
      auto* pe = new QPlainTextEdit(parent);
      pe->setReadOnly(true);
      pe->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
      pe->setLineWrapMode(QPlainTextEdit::NoWrap);
      pe->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
      pe->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
      pe->setUndoRedoEnabled(false);
      QPalette p = pe->palette();
      p.setColor(QPalette::Base, Qt::white);
      p.setColor(QPalette::Text, Qt::black);
      pe->setPalette(p);
      pe->setContextMenuPolicy(Qt::CustomContextMenu);
      connect(pe, &QWidget::customContextMenuRequested, this, [this, raw, pe](const QPoint& pos) {
        ShowEditPopup(*raw, pe->viewport()->mapToGlobal(pos));
      });
      connect(pe, &QPlainTextEdit::selectionChanged, this, [this, raw] {
        if (!updating_) ReadPaneSelection(*raw);
      });
      c.OnLineAdded = [this, raw](const TOutputLine& line) { AppendPaneLine(*raw, line); };
      c.OnCleared = [raw, pe] {
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
      return tw;
    }
    case WidgetKind::Panel: {
      auto* f = new QFrame(parent);
      f->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
      return f;
    }
    case WidgetKind::BarBack: {
      auto* f = new QFrame(parent);
      f->setStyleSheet("QFrame { background: white; border: 1px solid black; }");
      return f;
    }
    case WidgetKind::BarFront: {
      auto* f = new QFrame(parent);
      f->setStyleSheet("QFrame { background: #008000; border: none; }");
      return f;
    }
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
  ApplyGeometry(b);
  switch (b.Entry.Kind) {
    case WidgetKind::Group:
      static_cast<QGroupBox*>(w)->setTitle(Q(static_cast<TGroupBox&>(c).Caption()));
      break;
    case WidgetKind::Label: {
      auto& l = static_cast<TLabel&>(c);
      auto* ql = static_cast<QLabel*>(w);
      ql->setText(Q(l.Caption()));
      // Only the attributes set here are fixed; family and size follow the
      // window's font.
      QFont f;
      if (l.Bold) f.setBold(true);
      if (l.FontSize > 0) f.setPointSize(l.FontSize);
      ql->setFont(f);
      break;
    }
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
      auto& l = static_cast<TListBox&>(c);
      QFont f = OutputFont(l.FontName, l.FontSize);
      if (w->font() != f) w->setFont(f);
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
  --updating_;
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

void MainWindow::RefreshPane(Binding& b) {
  auto& c = static_cast<TRichEdit&>(*b.Entry.Control);
  QFont f = OutputFont(c.FontName, c.FontSize);
  if (b.Widget->font() != f) b.Widget->setFont(f);
  if (c.SelStart != b.SelStart || c.SelLength != b.SelLength) WritePaneSelection(b);
}

void MainWindow::AppendPaneLine(Binding& b, const TOutputLine& line) {
  auto* pe = static_cast<QPlainTextEdit*>(b.Widget);
  QScrollBar* sb = pe->verticalScrollBar();
  const bool atEnd = sb->value() >= sb->maximum();
  QTextCursor cur(pe->document());
  cur.movePosition(QTextCursor::End);
  QTextCharFormat fmt;
  fmt.setForeground(ToQColor(line.Color));
  if (b.PaneLines > 0) cur.insertBlock(QTextBlockFormat(), fmt);
  cur.insertText(PaneText(line.Text), fmt);
  ++b.PaneLines;
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
    if (c.Columns[i].Width > 0) tw->setColumnWidth(static_cast<int>(i), c.Columns[i].Width);
  tw->clear();
  QList<QTreeWidgetItem*> rows;
  for (const auto& row : c.Rows()) rows << new QTreeWidgetItem(ToQStringList(row));
  tw->addTopLevelItems(rows);
}

// ---- geometry ------------------------------------------------------------------------------

void MainWindow::ApplyGeometry(Binding& b) {
  // The model's bounds where it has set them; each value it has left at 0
  // comes from the design table (widths and heights there may be relative
  // to the container).
  const TControl& c = *b.Entry.Control;
  const DesignRect& d = b.Entry.Design;
  const QSize box = b.Container->size();
  const int dw = d.Width < 0 ? box.width() + d.Width : d.Width;
  const int dh = d.Height < 0 ? box.height() + d.Height : d.Height;
  const QRect r(c.Left ? c.Left : d.Left, c.Top ? c.Top : d.Top,
                std::max(0, c.Width ? c.Width : dw), std::max(0, c.Height ? c.Height : dh));
  if (b.Widget->geometry() != r) b.Widget->setGeometry(r);
}

void MainWindow::RelayoutChildren(QWidget* container) {
  auto it = children_.find(container);
  if (it == children_.end()) return;
  for (Binding* b : it->second) ApplyGeometry(*b);
}

void MainWindow::LayoutMainArea() {
  QWidget* cw = centralWidget();
  line_->setGeometry(0, 0, cw->width(), 1);
  const TControl& pc = form_.pcMain;
  const QRect r(pc.Left ? pc.Left : 6, 1 + (pc.Top ? pc.Top : 6),
                std::max(0, pc.Width ? pc.Width : cw->width() - 12),
                std::max(0, pc.Height ? pc.Height : cw->height() - 12));
  if (tabs_->geometry() != r) tabs_->setGeometry(r);
}

void MainWindow::RelayoutAll() {
  LayoutMainArea();
  for (auto& b : bindings_) ApplyGeometry(*b);
}

void MainWindow::OnCentralResized() {
  // The model's client area is the window below the menu bar, status bar
  // included.
  const int sbHeight = statusBar()->isVisible() ? statusBar()->height() : 0;
  form_.ClientWidth = centralWidget()->width();
  form_.ClientHeight = centralWidget()->height() + sbHeight;
  Run([this] { form_.FormResize(); });
}

void MainWindow::ShowCentred() {
  setMinimumSize(form_.MinWidth, form_.MinHeight);
  resize(form_.Width, form_.Height);
  if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
    const QRect area = s->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  show();
  SyncFormState();
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
    // Styled widgets keep the font they were polished with: hand it on.
    for (auto& b : bindings_)
      if (b->Entry.Kind == WidgetKind::Group) b->Widget->setFont(QApplication::font());
  }
  const bool wantBusy = form_.Cursor == TCursor::HourGlass;
  if (wantBusy != busy_) {
    busy_ = wantBusy;
    if (busy_)
      QApplication::setOverrideCursor(Qt::WaitCursor);
    else
      QApplication::restoreOverrideCursor();
  }
  if (timer_.interval() != std::max(1, form_.tmrTime.Interval))
    timer_.setInterval(std::max(1, form_.tmrTime.Interval));
  if (form_.ActiveControl != lastActive_) {
    lastActive_ = form_.ActiveControl;
    auto it = byControl_.find(lastActive_);
    if (it != byControl_.end() && it->second->Widget->isVisible()) it->second->Widget->setFocus();
  }
  for (auto& b : bindings_)
    if (b->Entry.Kind == WidgetKind::Pane) {
      auto& c = static_cast<TRichEdit&>(*b->Entry.Control);
      if (c.SelStart != b->SelStart || c.SelLength != b->SelLength) WritePaneSelection(*b);
    }
  RelayoutAll();
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
    lastActive_ = nb->Entry.Control;
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
      // The real page size: the model's rules then size what fills a tab
      // exactly, whatever height this style gives the tab row.
      Run([this, w] { form_.LayoutTabContents(w->width(), w->height()); });
      RelayoutChildren(w);
    } else if (w) {
      RelayoutChildren(w);
    }
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
