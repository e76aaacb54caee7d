// The Qt view of the main window. It builds one widget per control of the
// TfrmMain model and binds them both ways: a change of a control updates its
// widget at once; a user's action on a widget updates the control and runs
// the model's handler. No tool logic lives here.
#pragma once

#include <QMainWindow>
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
#include "ui/QtDesktop.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QTabWidget;

namespace quovix::ui {

// The platform's tabs with smaller side margins.
class CompactTabStyle : public QProxyStyle {
 public:
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

  // Size and minimum size from the model, centred on the screen, shown.
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

 protected:
  void closeEvent(QCloseEvent* e) override;
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
  void FillListBox(Binding& b);
  void FillListView(Binding& b);
  void ApplyGeometry(Binding& b);
  void RelayoutChildren(QWidget* container);
  void RelayoutAll();
  void LayoutMainArea();
  void OnCentralResized();
  void OnTabChanged(int index);
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
  bool busy_ = false;    // override cursor installed
  std::string caption_;
  std::string fontName_;
  int fontSize_ = 0;
  TControl* lastActive_ = nullptr;
};

}  // namespace quovix::ui
