// The widgets of each tab as one table: which control, which kind of widget,
// inside which frame. The view builds its widgets from these tables, so a
// control missing here is missing on screen and easy to spot. Where each one
// sits is the model's design (TfrmMain::LayoutDesign, in design units); the
// view scales it to the window's font and fits it (ui/DesignScale.h).
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

// Every widget is a child of its tab page. A group box or panel is a frame
// drawn behind the controls inside it; hiding the frame hides them too.
// Group boxes take the page's width, panes and lists its width and height
// (the model's resizing rules); everything else keeps its design size.
struct WidgetEntry {
  WidgetKind Kind;
  TControl* Control;
  TControl* Frame = nullptr;  // the frame it sits in; nullptr: directly on the page
};

struct TabTable {
  TTabSheet* Sheet;
  std::vector<WidgetEntry> Widgets;  // frames before what they hold
};

// The ten tabs in page order.
std::vector<TabTable> BuildTabTables(TfrmMain& f);

}  // namespace quovix::ui
