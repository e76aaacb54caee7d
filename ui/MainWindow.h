// The Qt view of the main window. It builds one widget per control of the
// TfrmMain model and binds them both ways: a change of a control updates its
// widget at once; a user's action on a widget updates the control and runs
// the model's handler. No tool logic lives here.
#pragma once

#include <QColor>
#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProxyStyle>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/formMain.h"
#include "ui/DesignLayout.h"
#include "ui/DesignScale.h"
#include "ui/QtDesktop.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QProgressBar;
class QTabWidget;
class QTranslator;
namespace quovix::ui {
class HopChartView;
class PingChartView;
class SplitHandle;
}

namespace quovix::ui {

// The program's own icon (desktop/quovix.svg, built in).
QIcon ProgramIcon();
// An icon of the desktop's icon theme by its freedesktop name, or the one
// shipped under that name where the theme has none.
QIcon ThemeIcon(const char* name);

// Where a window stored at saved goes on the screens there are now (their
// available areas, the primary first): on the screen that holds most of it,
// no larger than that screen (unless its minimum is), moved inside; on none
// of them, centred on the primary.
QRect PlaceOnScreens(const QRect& saved, const QList<QRect>& areas, const QSize& minimum);
// The available areas of the screens there are now, the primary one first.
QList<QRect> ScreenAreas();

// The window's design units and its fonts: the scale from the design font
// (TfrmMain::kDesignFontName at 96 dpi) to the widget's font.
DesignScale ScaleOf(const QWidget* w);
// The output panes' font: the one named at its size, where the user chose
// one; else (empty name, size 0) the desktop's fixed-width font at the
// size of the desktop's font.
QFont OutputFont(const std::string& name, int size);

// The platform's tabs with smaller side margins. It wraps the style that
// draws in the end, not a desktop's own proxy of it: a style inside a proxy
// asks that proxy for its measures, and sizing and drawing would then
// disagree about the margins (and cut the captions).
class CompactTabStyle : public QProxyStyle {
 public:
  CompactTabStyle();
  int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr) const override;
};

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Binds to the model and installs the pump, the desktop services and the
  // clipboard; call before FormCreate so the view follows every step.
  explicit MainWindow(TfrmMain& form);
  ~MainWindow() override;

  // Shows the window: at the place the settings kept (moved onto the
  // screens there are now), else centred at the design size scaled to its
  // font; never smaller than what keeps every control whole.
  void ShowCentred();

  // Carries over what the model keeps as plain fields rather than notifying
  // controls: window caption and font, busy cursor, keyboard focus, timer
  // interval, pane selections, geometry. Runs after every handler the view
  // calls and on every pump.
  void SyncFormState();

  // The language submenu is rebuilt from the model's items each time it
  // opens (the model recreates them at run time).
  void RefreshLanguageMenu();

  // Builds the edit popup for the focused pane after running the model's
  // enable rules; the caller owns the menu.
  QMenu* CreateEditPopup(QWidget* parent);

  // Lookups for tests.
  QWidget* WidgetOf(const TControl& c) const;
  QAction* ActionOf(const TMenuItem& m) const;
  QTabWidget* Tabs() const { return tabs_; }
  QMenu* LanguageMenu() const { return langMenu_; }
  QLabel* StatusLabel() const { return status_; }
  const DesignScale& Scale() const { return scale_; }
  // The chart under Ping's output (hidden when its box is off or the pane
  // has no room for it).
  PingChartView* PingChart() const { return pingChart_; }
  // The chart of round trip per hop under Trace's output (shown once a hop
  // line is there, never beside the table of rounds).
  HopChartView* HopChart() const { return hopChart_; }
  // The language whose Qt translations are loaded ("de", "en"; empty: none).
  QString QtLanguage() const { return qtLanguage_; }

 protected:
  void closeEvent(QCloseEvent* e) override;
  void changeEvent(QEvent* e) override;
  bool eventFilter(QObject* o, QEvent* e) override;

 private:
  struct Binding {
    WidgetEntry Entry;
    QWidget* Widget = nullptr;
    QWidget* Container = nullptr;
    int Page = -1;
    std::vector<std::string> Items;  // combo or list box items shown
    int PaneLines = 0;               // lines shown in a pane
    int SelStart = 0, SelLength = 0; // pane selection last exchanged (bytes)
    bool RefreshPending = false;
    int Needed = -1;                 // pixels its text needs; -1: to measure
  };

  void BuildMenus();
  void AddMenuItem(QMenu* menu, TMenuItem* item);
  // Keeps a menu's title, enabled and visible state on its item's.
  QMenu* BindSubmenu(QMenu* menu, TMenuItem* item);
  void BuildCentral();
  void BindTabs(const std::vector<TabTable>& tables);
  QWidget* CreateWidget(Binding& b);
  void Refresh(Binding& b);
  void RefreshCombo(Binding& b);
  void RefreshPane(Binding& b);
  void FollowOutputFont(Binding& b);  // of a pane or list box
  void FillListBox(Binding& b);
  void FillListView(Binding& b);
  // Selects the host name or address under pos in an output pane; false
  // where there is none (the widget's own word selection then applies).
  bool SelectHostAt(QPlainTextEdit* pe, const QPoint& pos);
  // Layout from the font: the model's design rectangles scaled and fitted
  // page by page; the window's minimum size from the result.
  int NeededWidth(Binding& b);
  void LayoutPage(int page);
  void RelayoutAll();
  void LayoutMainArea();
  void UpdateMinimumSize();
  void MeasureChrome(bool fresh);
  QSize InitialSize() const;
  // The window's font or style changed (the desktop's settings, a language
  // file's font): everything measured again.
  void OnLookChanged();
  void ApplyFontAttributes(Binding& b);
  void ApplyScaledSizes();
  // Light or dark palette: the panes' and bars' colours.
  void ApplyPaneColours();
  QColor PaneColour(TColor c) const;
  // Qt's own texts in the language of the loaded language file.
  void FollowLanguage();
  void StorePlacement();
  void OnCentralResized();
  void OnTabChanged(int index);
  // Shows busy_: other tabs unavailable, the wait cursor over the running
  // tab's output, the busy indicator.
  void ShowBusy();
  void OnFocusChanged(QWidget* old, QWidget* now);
  bool OnEnterKey(int page);
  void AppendPaneLine(Binding& b, const TOutputLine& line);
  void ReadPaneSelection(Binding& b);
  void WritePaneSelection(Binding& b);
  void ShowEditPopup(Binding& b, const QPoint& globalPos);
  void AddPopupItems(QMenu* menu, const std::vector<TMenuItem*>& items);
  Binding* BindingOf(const QWidget* w) const;
  // Runs a model action the user caused; errors end in a message box.
  void Run(const std::function<void()>& action);
  void Subscribe(TControl& c, std::function<void()> onChange);

  TfrmMain& form_;
  QtDesktop desktop_;
  QTabWidget* tabs_ = nullptr;
  QWidget* line_ = nullptr;
  QLabel* status_ = nullptr;
  QMenu* langMenu_ = nullptr;
  QPointer<QActionGroup> langGroup_;
  QTimer timer_;
  std::unique_ptr<CompactTabStyle> tabStyle_;
  std::unique_ptr<QTranslator> qtTranslator_;
  QString qtLanguage_;
  std::string languageKey_;  // language file last followed

  std::vector<std::unique_ptr<Binding>> bindings_;
  std::unordered_map<const TControl*, Binding*> byControl_;
  std::unordered_map<const QWidget*, Binding*> byWidget_;
  std::unordered_map<const QWidget*, std::vector<Binding*>> children_;  // per page
  std::unordered_map<const TControl*, std::vector<Binding*>> held_;      // per frame
  std::vector<QWidget*> pages_;
  std::unordered_map<const TMenuItem*, QAction*> actions_;
  std::vector<std::pair<TControl*, int>> subscriptions_;

  int updating_ = 0;     // >0 while the view writes into widgets
  bool tabSync_ = false; // the view moves the tab itself
  bool closed_ = false;
  bool busy_ = false;    // a tool runs, shown as such
  QProgressBar* busyBar_ = nullptr;
  std::vector<std::pair<QPointer<QWidget>, Qt::CursorShape>> waiting_;  // wait cursor set
  std::string caption_;
  std::string fontName_;
  int fontSize_ = 0;
  int focusRequests_ = 0;  // the model's focus requests carried out

  bool built_ = false;        // every widget made and bound
  DesignScale scale_;
  PingChartView* pingChart_ = nullptr;
  SplitHandle* pingSplit_ = nullptr;
  int pingPage_ = -1;
  HopChartView* hopChart_ = nullptr;
  SplitHandle* hopSplit_ = nullptr;
  int tracePage_ = -1;
  int hopChartHeight_ = 0;  // pixels; 0: the design's default at this font
  // Gives the lower part of a pane's place to its chart (height in pixels),
  // or the whole place to the pane when the chart is not wanted or has no room.
  void PlaceChart(const TRichEdit& pane, const QRect& place, QWidget* chart, SplitHandle* handle,
                  int height, bool wanted);
  QSize pageDesign_;          // page size in design units the model last laid out for
  QSize pagePixels_;          // and in pixels
  std::vector<QSize> pageMin_;
  QSize chrome_;              // window size minus page size
  QSize autoSize_;            // the size the window was given, not the user's
  bool dark_ = false;         // panes on a dark palette
  std::vector<std::pair<TColor, QColor>> darkColours_;  // the pane's colours there
  bool shown_ = false;        // ShowCentred has run
  bool lookPending_ = false;  // a new font or style still on its way to the widgets
};

}  // namespace quovix::ui
