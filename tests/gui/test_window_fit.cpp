// The window on the desktops it meets, offscreen. Fonts: at the default font
// and at 8, 11, 14 and 18 pt every control of every tab and of both dialogs
// shows its text whole, no two controls of a tab overlap, and at the
// window's minimum size everything stays inside its frame and its page.
// And dark palettes, Qt's own texts in the program's language, the place
// kept between runs, icons and the keyboard.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionComboBox>
#include <QLibraryInfo>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTabBar>
#include <QTextBlock>
#include <QTabWidget>
#include <QTranslator>
#include <cmath>
#include <filesystem>
#include <functional>

#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/DnsConfig.h"
#include "../support/FixedDnsConfig.h"
#include "shell/fLanguage.h"
#include "shell/formInfo.h"
#include "shell/formSettings.h"
#include "shell/gIni.h"
#include "ui/InfoDialog.h"
#include "ui/PaneColours.h"
#include "ui/MainWindow.h"
#include "ui/SettingsDialog.h"

using namespace quovix;
namespace fs = std::filesystem;

namespace {

int TextWidth(const QWidget* w, const QString& text) {
  return static_cast<int>(std::ceil(
      QFontMetricsF(w->font()).size(Qt::TextShowMnemonic | Qt::TextSingleLine, text).width()));
}

// The room a widget's text needs: the text's width plus the style's margins
// around it, measured from the style and the widget as they are.
int NeededFor(const QWidget* w) {
  QStyle* st = w->style();
  if (auto* l = qobject_cast<const QLabel*>(w)) {
    if (l->text().isEmpty()) return 0;
    if (l->textFormat() == Qt::RichText || Qt::mightBeRichText(l->text())) return l->sizeHint().width();
    const QMargins m = l->contentsMargins();
    return TextWidth(l, l->text()) + m.left() + m.right() + 2 * l->margin();
  }
  if (auto* c = qobject_cast<const QCheckBox*>(w)) {
    return st->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, c) +
           st->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, c) + TextWidth(c, c->text());
  }
  if (auto* r = qobject_cast<const QRadioButton*>(w)) {
    return st->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, r) +
           st->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, r) + TextWidth(r, r->text());
  }
  if (auto* b = qobject_cast<const QPushButton*>(w)) {
    if (b->text().isEmpty()) return 0;
    return TextWidth(b, b->text()) + st->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b) +
           2 * st->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
  }
  if (auto* le = qobject_cast<const QLineEdit*>(w)) {
    // Only what the program shows there; typed text may scroll.
    if (!le->isReadOnly() || le->text().isEmpty()) return 0;
    // Frame on both sides and the edit's own margin of two pixels each side.
    return TextWidth(le, le->text()) + 2 * st->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, le) + 4;
  }
  return 0;
}

// A pick-only combo's longest item inside the field the style draws it in.
void ExpectItemsFit(const QComboBox* cb, const std::string& where) {
  if (cb->isEditable()) return;
  QStyleOptionComboBox opt;
  opt.initFrom(cb);
  opt.editable = false;
  opt.frame = cb->hasFrame();
  const QRect field =
      cb->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, cb);
  for (int i = 0; i < cb->count(); ++i)
    EXPECT_LE(TextWidth(cb, cb->itemText(i)) + 2, field.width())
        << where << ": item \"" << cb->itemText(i).toStdString() << "\" of " << cb->objectName().toStdString();
}

void ExpectTextFits(const QWidget* w, const std::string& where) {
  if (auto* cb = qobject_cast<const QComboBox*>(w)) return ExpectItemsFit(cb, where);
  if (auto* g = qobject_cast<const QGroupBox*>(w)) {
    if (!g->title().isEmpty()) {
      EXPECT_LE(TextWidth(g, g->title()) + 12, g->width())
          << where << ": title of " << g->objectName().toStdString();
    }
    return;
  }
  const int need = NeededFor(w);
  if (need > 0) {
    EXPECT_LE(need, w->width()) << where << ": " << w->objectName().toStdString() << " ("
                                << w->metaObject()->className() << ")";
  }
}

// Where the text of a label or check box ends; other controls end with
// their rectangle.
int RightOfContent(const QWidget* w) {
  if (qobject_cast<const QLabel*>(w) || qobject_cast<const QCheckBox*>(w))
    return w->x() + std::min(w->width(), NeededFor(w));
  return w->x() + w->width();
}

// A fresh model and window in a folder of its own, shown at a font of pt
// points (0: the window's default), set after the window as a desktop's
// settings arrive.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    appFont_ = QApplication::font();
    char tmpl[] = "/tmp/quovix-fit-XXXXXX";
    dir_ = mkdtemp(tmpl);
    fs::create_directories(dir_ / "Language");
    ProgramFolder = dir_.string() + "/";
    IniFilePath = ProgramFolder + "Quovix.ini";
    ResetSettingsValues();
    LanguageTable.clear();
    ActiveDnsServerIP = "192.0.2.53";
    form_ = std::make_unique<TfrmMain>();
    view_ = std::make_unique<ui::MainWindow>(*form_);
  }
  void Show(int pt) {
    pt_ = pt;
    if (pt > 0) QApplication::setFont(QFont("DejaVu Sans", pt));
    view_->ShowCentred();
    QCoreApplication::processEvents();
  }
  void TearDown() override {
    view_.reset();
    form_.reset();
    QApplication::setFont(appFont_);
    LanguageName.clear();
    LanguageTable.clear();
    fs::remove_all(dir_);
  }
  std::string Where() const {
    return (pt_ > 0 ? std::to_string(pt_) + " pt" : std::string("default font"));
  }

  QFont appFont_;
  fs::path dir_;
  int pt_ = 0;
  test::FixedDnsConfig dns_;
  platform::ScopedSeam<platform::IDnsConfig> dnsSeam_{&dns_};
  std::unique_ptr<TfrmMain> form_;
  std::unique_ptr<ui::MainWindow> view_;
};

class WindowFit : public WindowTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Show(GetParam());
  }
};

TEST_P(WindowFit, EveryTabFitsItsTextsAtTheMinimumSize) {
  // The minimum may still settle by a pixel of rounding once the window has it.
  for (int i = 0; i < 3 && view_->size() != view_->minimumSize(); ++i) {
    view_->resize(view_->minimumSize());
    QCoreApplication::processEvents();
  }
  ASSERT_EQ(view_->size(), view_->minimumSize()) << Where();
  const QFont windowFont = view_->font();
  QTabWidget* tabs = view_->Tabs();

  // Tabs: each caption whole beside its icon, in the window's font.
  QTabBar* bar = tabs->tabBar();
  EXPECT_EQ(tabs->elideMode(), Qt::ElideNone);
  EXPECT_EQ(QFontInfo(bar->font()).pointSizeF(), QFontInfo(windowFont).pointSizeF()) << Where();
  for (int i = 0; i < bar->count(); ++i) {
    EXPECT_FALSE(bar->tabIcon(i).isNull()) << "tab " << i;
    EXPECT_GE(bar->tabRect(i).width(),
              TextWidth(bar, bar->tabText(i)) + bar->iconSize().width() +
                  bar->style()->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, bar))
        << Where() << ": tab " << bar->tabText(i).toStdString();
  }

  const std::vector<ui::TabTable> tables = ui::BuildTabTables(*form_);
  for (int p = 0; p < tabs->count(); ++p) {
    form_->ToolIdle = true;
    tabs->setCurrentIndex(p);
    QCoreApplication::processEvents();
    QWidget* page = tabs->widget(p);
    const std::string where = Where() + ", " + page->objectName().toStdString();
    struct Placed {
      const ui::WidgetEntry* Entry;
      QWidget* Widget;
    };
    std::vector<Placed> shown;
    for (const ui::WidgetEntry& e : tables[p].Widgets) {
      QWidget* w = view_->WidgetOf(*e.Control);
      ASSERT_NE(w, nullptr) << e.Control->Name;
      if (!w->isVisibleTo(page)) continue;
      shown.push_back({&e, w});
      ExpectTextFits(w, where);
      if (auto* g = qobject_cast<QGroupBox*>(w)) {
        EXPECT_EQ(QFontInfo(g->font()).pointSizeF(), QFontInfo(windowFont).pointSizeF())
            << where << ": title font of " << e.Control->Name;
      }
      // Whole: inside its page, and inside its frame.
      EXPECT_GE(w->x(), 0) << where << ": " << e.Control->Name;
      EXPECT_LE(RightOfContent(w), page->width()) << where << ": " << e.Control->Name;
      EXPECT_LE(w->y() + w->height(), page->height()) << where << ": " << e.Control->Name;
      if (e.Kind == ui::WidgetKind::Pane || e.Kind == ui::WidgetKind::ListBox) {
        EXPECT_GT(w->height(), QFontMetrics(w->font()).height() * 2) << where << ": " << e.Control->Name;
      }
      if (e.Frame) {
        const QRect frame = view_->WidgetOf(*e.Frame)->geometry();
        EXPECT_LE(RightOfContent(w), frame.x() + frame.width()) << where << ": " << e.Control->Name;
        EXPECT_GE(w->x(), frame.x()) << where << ": " << e.Control->Name;
        EXPECT_LE(w->y() + w->height(), frame.y() + frame.height()) << where << ": " << e.Control->Name;
      }
    }
    // No two controls of the tab on each other (a frame holds its own; the
    // bar's filled part lies in its outline).
    for (size_t a = 0; a < shown.size(); ++a)
      for (size_t b = a + 1; b < shown.size(); ++b) {
        const ui::WidgetEntry& ea = *shown[a].Entry;
        const ui::WidgetEntry& eb = *shown[b].Entry;
        if (ea.Frame == eb.Control || eb.Frame == ea.Control) continue;
        if (ea.Kind == ui::WidgetKind::BarBack && eb.Kind == ui::WidgetKind::BarFront) continue;
        QRect ra = shown[a].Widget->geometry(), rb = shown[b].Widget->geometry();
        if (ea.Kind == ui::WidgetKind::Label || ea.Kind == ui::WidgetKind::Check)
          ra.setRight(RightOfContent(shown[a].Widget) - 1);
        if (eb.Kind == ui::WidgetKind::Label || eb.Kind == ui::WidgetKind::Check)
          rb.setRight(RightOfContent(shown[b].Widget) - 1);
        EXPECT_FALSE(ra.intersects(rb)) << where << ": " << ea.Control->Name << " and " << eb.Control->Name;
      }
  }
}

// The dialogs' controls: text whole, none on another within its parent.
void ExpectDialogFits(QWidget* dlg, const std::string& where) {
  dlg->show();
  QCoreApplication::processEvents();
  const QList<QWidget*> all = dlg->findChildren<QWidget*>();
  std::vector<QWidget*> controls;
  for (QWidget* w : all) {
    if (!w->isVisibleTo(dlg)) continue;
    // Controls of the dialog, not the parts that make up a combo or spin box.
    const bool inner = qobject_cast<QComboBox*>(w->parentWidget()) ||
                       w->parentWidget()->inherits("QAbstractSpinBox");
    const bool control = !inner && (qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                                    qobject_cast<QComboBox*>(w) || qobject_cast<QGroupBox*>(w) ||
                                    qobject_cast<QLineEdit*>(w) || w->inherits("QAbstractSpinBox"));
    if (!control) continue;
    EXPECT_EQ(QFontInfo(w->font()).pointSizeF(), QFontInfo(dlg->font()).pointSizeF())
        << where << ": font of " << w->objectName().toStdString();
    ExpectTextFits(w, where);
    controls.push_back(w);
  }
  for (size_t a = 0; a < controls.size(); ++a)
    for (size_t b = a + 1; b < controls.size(); ++b) {
      if (controls[a]->parentWidget() != controls[b]->parentWidget()) continue;
      EXPECT_FALSE(controls[a]->geometry().intersects(controls[b]->geometry()))
          << where << ": " << controls[a]->objectName().toStdString() << " and "
          << controls[b]->objectName().toStdString();
    }
}

TEST_P(WindowFit, BothDialogsFitTheirTextsInTheWindowsFont) {
  {
    TfrmSettings model(*form_);
    ui::SettingsDialog dlg(model, view_.get());
    EXPECT_EQ(QFontInfo(dlg.font()).pointSizeF(), QFontInfo(view_->font()).pointSizeF());
    ExpectDialogFits(&dlg, Where() + ", options");
  }
  {
    TfrmInfo model(*form_);
    ui::InfoDialog dlg(model, view_.get());
    ExpectDialogFits(&dlg, Where() + ", about");
  }
}

// At the font the window is designed for, the design is the window: every
// control exactly where and as large as the model says.
TEST_F(WindowTest, TheDesignFontKeepsTheDesign) {
  Show(0);
  EXPECT_EQ(view_->Scale(), ui::DesignScale());
  for (const ui::TabTable& tab : ui::BuildTabTables(*form_))
    for (const ui::WidgetEntry& e : tab.Widgets) {
      if (e.Kind == ui::WidgetKind::Group || e.Kind == ui::WidgetKind::Pane ||
          e.Kind == ui::WidgetKind::ListBox || e.Kind == ui::WidgetKind::ListView)
        continue;  // their size is the page's
      const TControl& c = *e.Control;
      EXPECT_EQ(view_->WidgetOf(c)->geometry(), QRect(c.Left, c.Top, c.Width, c.Height)) << c.Name;
    }
  EXPECT_EQ(view_->height(), form_->Height);
}

// ---- palettes ---------------------------------------------------------------------------------

TEST_F(WindowTest, DarkPalettesGetReadablePanesLightOnesTheProgramsColours) {
  Show(0);
  auto* pane = qobject_cast<QPlainTextEdit*>(view_->WidgetOf(form_->reDns));
  ASSERT_NE(pane, nullptr);
  const TColor colours[] = {clNavy, clBlue, clGreen, clMaroon, clRed, clBlack};
  for (TColor c : colours) form_->AppendOutput(form_->reDns, "line", c);
  auto colourOf = [&](int block) {
    return pane->document()->findBlockByNumber(block).begin().fragment().charFormat().foreground().color();
  };
  // Light: white panes, the colours exactly as the tools chose them.
  EXPECT_EQ(pane->palette().color(QPalette::Base), QColor(Qt::white));
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(colourOf(i), QColor((colours[i] >> 16) & 0xFF, (colours[i] >> 8) & 0xFF, colours[i] & 0xFF));

  const QPalette light = QApplication::palette();
  QPalette dark = light;
  dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
  dark.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
  dark.setColor(QPalette::Window, QColor(0x2d, 0x2d, 0x2d));
  dark.setColor(QPalette::WindowText, QColor(0xe0, 0xe0, 0xe0));
  QApplication::setPalette(dark);
  QCoreApplication::processEvents();
  EXPECT_EQ(pane->palette().color(QPalette::Base), QColor(0x1e, 0x1e, 0x1e));
  EXPECT_EQ(colourOf(5), QColor(0xe0, 0xe0, 0xe0));  // plain text: the palette's
  for (int i = 0; i < 6; ++i) {
    const QColor shown = colourOf(i);
    EXPECT_GE(ui::ContrastRatio(shown, QColor(0x1e, 0x1e, 0x1e)), 4.5) << i;
    const QColor own((colours[i] >> 16) & 0xFF, (colours[i] >> 8) & 0xFF, colours[i] & 0xFF);
    if (own.hslHue() >= 0) {
      EXPECT_NEAR(shown.hslHue(), own.hslHue(), 2) << i;  // same hue
    }
    // An error is no time-out, a heading no information line.
    for (int j = 0; j < i; ++j)
      EXPECT_GE(ui::ColourDifference(shown, colourOf(j)), ui::kDistinctColours) << i << " " << j;
  }
  // A line added now comes in the dark variant too.
  form_->AppendOutput(form_->reDns, "later", clGreen);
  EXPECT_EQ(colourOf(6), colourOf(2));
  QApplication::setPalette(light);
  QCoreApplication::processEvents();
  EXPECT_EQ(colourOf(2), QColor(0, 128, 0));
}

TEST(PaneColours, ReadableVariantsKeepTheirHue) {
  const QColor darkBase(0x20, 0x20, 0x28), lightBase(Qt::white);
  EXPECT_TRUE(ui::IsDarkBase(darkBase));
  EXPECT_FALSE(ui::IsDarkBase(lightBase));
  EXPECT_NEAR(ui::ContrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
  for (QColor c : {QColor(0, 0, 128), QColor(0, 0, 255), QColor(0, 128, 0), QColor(128, 0, 0),
                   QColor(255, 0, 0)}) {
    const QColor v = ui::ReadableOn(c, darkBase);
    EXPECT_GE(ui::ContrastRatio(v, darkBase), ui::kReadableContrast);
    EXPECT_NEAR(v.hslHue(), c.hslHue(), 2);
    EXPECT_GT(v.lightness(), c.lightness());
  }
  // Readable already: unchanged.
  EXPECT_EQ(ui::ReadableOn(QColor(0, 0, 128), lightBase), QColor(0, 0, 128));
}

TEST(PaneColours, DarkVariantsStayApartAndReadableOnEveryDarkBase) {
  const QList<QColor> wanted = {QColor(0xe0, 0xe0, 0xe0), QColor(255, 0, 0), QColor(0, 0, 255),
                                QColor(0, 128, 0),       QColor(0, 0, 128), QColor(128, 0, 0)};
  const QColor bases[] = {QColor(0, 0, 0), QColor(0x1e, 0x1e, 0x1e), QColor(0x23, 0x26, 0x29),
                          QColor(0x1a, 0x1a, 0x2e), QColor(0x3c, 0x3f, 0x41), QColor(Qt::white)};
  for (const QColor& base : bases) {
    const QList<QColor> shown = ui::DistinctReadableOn(wanted, base);
    ASSERT_EQ(shown.size(), wanted.size());
    for (int i = 0; i < shown.size(); ++i) {
      EXPECT_GE(ui::ContrastRatio(shown[i], base), ui::kReadableContrast) << base.name().toStdString() << " " << i;
      for (int j = 0; j < i; ++j)
        EXPECT_GE(ui::ColourDifference(shown[i], shown[j]), ui::kDistinctColours)
            << base.name().toStdString() << " " << i << " " << j;
    }
  }
  // Apart and readable already: unchanged.
  EXPECT_EQ(ui::DistinctReadableOn({QColor(0, 0, 128), QColor(128, 0, 0)}, Qt::white),
            (QList<QColor>{QColor(0, 0, 128), QColor(128, 0, 0)}));
}

// ---- Qt's own texts --------------------------------------------------------------------------

TEST_F(WindowTest, QtsOwnTextsFollowTheLanguageFileAlsoAfterASwitch) {
  QTranslator probe;
  if (!probe.load(QLocale(QLocale::German), "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    GTEST_SKIP() << "Qt's translations (qt6-translations-l10n) are not installed";
  fs::copy_file(fs::path(QUOVIX_SOURCE_DIR) / "lang" / "English.lng", dir_ / "Language" / "English.lng");
  form_->FormCreate();
  Show(0);
  // German built in: the edit fields' menu of Qt in German.
  EXPECT_EQ(view_->QtLanguage(), "de");
  EXPECT_EQ(QCoreApplication::translate("QLineEdit", "&Copy"), "&Kopieren");
  EXPECT_EQ(view_->StatusLabel()->text(), QString::fromUtf8(" Bereit."));

  TMenuItem* english = nullptr;
  for (TMenuItem* m : form_->mnuLanguage.Items)
    if (m->Caption() == "English") english = m;
  ASSERT_NE(english, nullptr);
  english->Click();
  view_->SyncFormState();
  EXPECT_EQ(view_->QtLanguage(), "en");
  EXPECT_EQ(QCoreApplication::translate("QLineEdit", "&Copy"), "&Copy");
  EXPECT_EQ(view_->StatusLabel()->text(), " Ready.");  // the ready text re-read

  form_->mnuLanguage.Items.front()->Click();  // back to the built-in German
  view_->SyncFormState();
  EXPECT_EQ(QCoreApplication::translate("QLineEdit", "&Copy"), "&Kopieren");
  EXPECT_EQ(view_->StatusLabel()->text(), QString::fromUtf8(" Bereit."));
}

// ---- the place on the desktop ----------------------------------------------------------------

TEST(WindowPlacement, StaysOnTheScreensThereAreNow) {
  const QList<QRect> one = {QRect(0, 0, 1920, 1080)};
  const QSize min(600, 300);
  // Where it was, when it is still on a screen.
  EXPECT_EQ(ui::PlaceOnScreens(QRect(100, 50, 800, 600), one, min), QRect(100, 50, 800, 600));
  // A second screen that is gone: centred on the one there is.
  EXPECT_EQ(ui::PlaceOnScreens(QRect(2500, 100, 800, 600), one, min), QRect(560, 240, 800, 600));
  // Half off the edge: moved inside; larger than the screen: the screen.
  EXPECT_EQ(ui::PlaceOnScreens(QRect(1500, 900, 800, 600), one, min), QRect(1120, 480, 800, 600));
  EXPECT_EQ(ui::PlaceOnScreens(QRect(-50, -20, 3000, 2000), one, min), QRect(0, 0, 1920, 1080));
  // Never below the minimum, and on the screen that holds most of it.
  const QList<QRect> two = {QRect(0, 0, 1280, 1024), QRect(1280, 0, 1920, 1080)};
  EXPECT_EQ(ui::PlaceOnScreens(QRect(1200, 10, 300, 200), two, min), QRect(1280, 10, 600, 300));
}

TEST_F(WindowTest, PlaceIsKeptFromCloseToStart) {
  form_->FormCreate();
  Show(0);
  view_->setGeometry(QRect(40, 30, 700, 520));
  QCoreApplication::processEvents();
  ASSERT_TRUE(view_->close());
  TIniDocument ini;
  ASSERT_EQ(ini.Load(IniFilePath), TIniDocument::LoadResult::Ok);
  EXPECT_EQ(ini.ReadInt("Window", "Width", 0), view_->width());
  EXPECT_EQ(ini.ReadInt("Window", "Height", 0), view_->height());
  EXPECT_FALSE(ini.ReadBool("Window", "Maximized", true));

  // The next start comes up there.
  TfrmMain again;
  ui::MainWindow view(again);
  again.FormCreate();
  view.ShowCentred();
  QCoreApplication::processEvents();
  EXPECT_EQ(view.size(), QSize(ini.ReadInt("Window", "Width", 0), ini.ReadInt("Window", "Height", 0)));
  EXPECT_EQ(view.geometry().topLeft(), QPoint(ini.ReadInt("Window", "Left", -1), ini.ReadInt("Window", "Top", -1)));
}

// ---- icons and keys ------------------------------------------------------------------------------

TEST_F(WindowTest, IconsAndKeys) {
  Show(0);
  EXPECT_FALSE(view_->windowIcon().isNull());
  EXPECT_FALSE(ui::ProgramIcon().pixmap(32).isNull());
  // The shipped icon stands in where the theme has none.
  const QString theme = QIcon::themeName();
  QIcon::setThemeName("no-such-theme");
  EXPECT_FALSE(ui::ThemeIcon("network-wired").pixmap(16).isNull());
  QIcon::setThemeName(theme);
  for (TMenuItem* top : form_->MainMenu)
    for (TMenuItem* item : top->Items)
      if (!item->IsSeparator) {
        EXPECT_FALSE(view_->ActionOf(*item)->icon().isNull()) << item->Name;
      }

  EXPECT_EQ(view_->ActionOf(form_->mnuFileExit)->shortcut(), QKeySequence("Ctrl+Q"));
  EXPECT_EQ(view_->ActionOf(form_->mnuHelpWebsite)->shortcut(), QKeySequence(Qt::Key_F1));

  // Every label with an input after it leads there by its access key.
  for (const ui::TabTable& tab : ui::BuildTabTables(*form_))
    for (size_t i = 0; i + 1 < tab.Widgets.size(); ++i)
      if (tab.Widgets[i].Kind == ui::WidgetKind::Label && tab.Widgets[i + 1].Kind == ui::WidgetKind::Combo) {
        auto* l = qobject_cast<QLabel*>(view_->WidgetOf(*tab.Widgets[i].Control));
        EXPECT_EQ(l->buddy(), view_->WidgetOf(*tab.Widgets[i + 1].Control)) << tab.Widgets[i].Control->Name;
        EXPECT_TRUE(l->text().contains('&')) << tab.Widgets[i].Control->Name;
      }

  // Esc aborts what runs on the tab in front.
  form_->pcMain.SetActivePageIndex(pgPing);
  form_->btnPingStart.RunState = 1;
  for (QShortcut* s : view_->findChildren<QShortcut*>())
    if (s->key() == QKeySequence(Qt::Key_Escape)) emit s->activated();
  EXPECT_EQ(form_->btnPingStart.RunState, -1);
  form_->btnPingStart.RunState = 0;
}

// A desktop's style is often a proxy of another (qt6ct's is). The tabs'
// narrower margins must reach the style that draws them, or sizing and
// drawing disagree and the captions lose a letter at each end.
TEST_F(WindowTest, TabMarginsReachTheStyleThatDraws) {
  class DesktopProxy : public QProxyStyle {
   public:
    DesktopProxy() : QProxyStyle(QStyleFactory::create("Fusion")) {}
  };
  Show(0);
  const QString before = QApplication::style()->name();
  QApplication::setStyle(new DesktopProxy);
  QCoreApplication::processEvents();
  auto* tabStyle = qobject_cast<QProxyStyle*>(view_->Tabs()->tabBar()->style());
  ASSERT_NE(tabStyle, nullptr);
  EXPECT_EQ(qobject_cast<QProxyStyle*>(tabStyle->baseStyle()), nullptr);
  EXPECT_EQ(tabStyle->baseStyle()->proxy(), tabStyle);
  QApplication::setStyle(before);
}

INSTANTIATE_TEST_SUITE_P(Fonts, WindowFit, ::testing::Values(0, 8, 11, 14, 18),
                         [](const ::testing::TestParamInfo<int>& i) {
                           return i.param ? std::to_string(i.param) + "pt" : std::string("Default");
                         });

}  // namespace
