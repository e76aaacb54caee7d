// The widgets of each tab as one table: which control, which kind of widget,
// inside which container, and where it sits at design time. The view builds
// its widgets from these tables, so a control missing here is missing on
// screen and easy to spot.
#pragma once

#include <vector>

#include "app/formMain.h"

namespace quovix::ui {

enum class WidgetKind {
  Group,     // TGroupBox
  Label,     // TLabel
  Combo,     // TComboBox (editable or pick-only from its style)
  Check,     // TCheckBox
  Button,    // TButton
  Pane,      // TRichEdit output pane
  ListBox,   // TListBox
  ListView,  // TListView in report style
  Panel,     // TPanel holding other widgets
  BarBack,   // TPanel drawn as the outline of a bar
  BarFront,  // TPanel drawn as the filled part of a bar
};

// Design-time rectangle relative to the tab page, as all positions of the
// model are. A negative width or height is relative to the page's size
// (-14: page width − 14), so panes and group boxes follow the tab's size.
struct DesignRect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
};

// Every widget is a child of its tab page. A group box or panel is a frame
// drawn behind the controls inside it; hiding the frame hides them too.
struct WidgetEntry {
  WidgetKind Kind;
  TControl* Control;
  TControl* Frame;  // the frame it sits in; nullptr: directly on the page
  DesignRect Design;
};

struct TabTable {
  TTabSheet* Sheet;
  std::vector<WidgetEntry> Widgets;  // frames before what they hold
};

// The ten tabs in page order.
std::vector<TabTable> BuildTabTables(TfrmMain& f);

}  // namespace quovix::ui
