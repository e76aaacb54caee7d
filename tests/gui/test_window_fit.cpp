// The window on the fonts desktops use, offscreen: at the default font and at
// 8, 11, 14 and 18 pt every control of every tab and of both dialogs shows
// its text whole, no two controls of a tab overlap, and at the window's
// minimum size everything stays inside its frame and its page.
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
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QTabWidget>
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
    if (!g->title().isEmpty())
      EXPECT_LE(TextWidth(g, g->title()) + 12, g->width()) << where << ": title of " << g->objectName().toStdString();
    return;
  }
  const int need = NeededFor(w);
  if (need > 0)
    EXPECT_LE(need, w->width()) << where << ": " << w->objectName().toStdString() << " ("
                                << w->metaObject()->className() << ")";
}

// Where the text of a label or check box ends; other controls end with
// their rectangle.
int RightOfContent(const QWidget* w) {
  if (qobject_cast<const QLabel*>(w) || qobject_cast<const QCheckBox*>(w))
    return w->x() + std::min(w->width(), NeededFor(w));
  return w->x() + w->width();
}

class WindowFit : public ::testing::TestWithParam<int> {
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
    // As a desktop's settings do it: the font arrives after the window.
    if (GetParam() > 0) QApplication::setFont(QFont("DejaVu Sans", GetParam()));
    view_->ShowCentred();
    QCoreApplication::processEvents();
  }
  void TearDown() override {
    view_.reset();
    form_.reset();
    QApplication::setFont(appFont_);
    fs::remove_all(dir_);
  }
  std::string Where() const {
    return (GetParam() > 0 ? std::to_string(GetParam()) + " pt" : std::string("default font"));
  }

  QFont appFont_;
  fs::path dir_;
  test::FixedDnsConfig dns_;
  platform::ScopedSeam<platform::IDnsConfig> dnsSeam_{&dns_};
  std::unique_ptr<TfrmMain> form_;
  std::unique_ptr<ui::MainWindow> view_;
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
      if (auto* g = qobject_cast<QGroupBox*>(w))
        EXPECT_EQ(QFontInfo(g->font()).pointSizeF(), QFontInfo(windowFont).pointSizeF())
            << where << ": title font of " << e.Control->Name;
      // Whole: inside its page, and inside its frame.
      EXPECT_GE(w->x(), 0) << where << ": " << e.Control->Name;
      EXPECT_LE(RightOfContent(w), page->width()) << where << ": " << e.Control->Name;
      EXPECT_LE(w->y() + w->height(), page->height()) << where << ": " << e.Control->Name;
      if (e.Kind == ui::WidgetKind::Pane || e.Kind == ui::WidgetKind::ListBox)
        EXPECT_GT(w->height(), QFontMetrics(w->font()).height() * 2) << where << ": " << e.Control->Name;
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

INSTANTIATE_TEST_SUITE_P(Fonts, WindowFit, ::testing::Values(0, 8, 11, 14, 18),
                         [](const ::testing::TestParamInfo<int>& i) {
                           return i.param ? std::to_string(i.param) + "pt" : std::string("Default");
                         });

}  // namespace
