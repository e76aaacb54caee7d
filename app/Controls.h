// Toolkit-free controls: each holds the state a widget would show and tells its
// listeners when that state changes. The Qt view mirrors them both ways; tests
// and the console front end read them directly.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quovix {

// RGB colours of the output lines.
using TColor = std::uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clBlue = 0x0000FF;
constexpr TColor clNavy = 0x000080;
constexpr TColor clRed = 0xFF0000;
constexpr TColor clGreen = 0x008000;
constexpr TColor clMaroon = 0x800000;

enum class TCursor { Default, HourGlass };

// Base of every control: name, enabled/visible, geometry, change listeners.
class TControl {
 public:
  explicit TControl(std::string name = {}) : Name(std::move(name)) {}
  virtual ~TControl() = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  std::string Name;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  // The tooltip: what the control does, where its caption is too short to say.
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& s);

  int Left = 0, Top = 0, Width = 0, Height = 0;
  void SetBounds(int left, int top, int width, int height);

  // Listener called after any state change; returns an id for removal.
  using Listener = std::function<void()>;
  int Subscribe(Listener l);
  void Unsubscribe(int id);

 protected:
  void Changed();

 private:
  bool enabled_ = true;
  bool visible_ = true;
  std::string hint_;
  int nextId_ = 1;
  std::vector<std::pair<int, Listener>> listeners_;
};

// Something that can be clicked: buttons, check boxes, menu items.
class TClickable : public TControl {
 public:
  using TControl::TControl;
  std::function<void()> OnClick;
  // Runs OnClick when enabled (what a user's click does).
  void Click();
};

class TLabel : public TControl {
 public:
  using TControl::TControl;
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& c);
  bool Bold = false;
  int FontSize = 0;  // 0: the window's font size

 private:
  std::string caption_;
};

class TGroupBox : public TLabel {
 public:
  using TLabel::TLabel;
};

class TButton : public TClickable {
 public:
  using TClickable::TClickable;
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& c);
  // 0 idle, 1 running, -1 abort requested (abortable tools only).
  int RunState = 0;
  bool Default = false;
  // A further caption the button may show (a Start button's abort caption):
  // the view keeps room for it, so the layout does not jump when it shows.
  std::string AltCaption;

 private:
  std::string caption_;
};

class TCheckBox : public TClickable {
 public:
  using TClickable::TClickable;
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& c);
  bool Checked() const { return checked_; }
  // Setting the check mark runs OnClick when the value changes, as a user's
  // click would (the handlers of the check boxes rely on this).
  void SetChecked(bool v);
  // Sets the check mark without running OnClick.
  void SetCheckedSilently(bool v);
  // A user's click toggles the mark (and runs OnClick through SetChecked).
  void Toggle() { if (Enabled()) SetChecked(!checked_); }

 private:
  std::string caption_;
  bool checked_ = false;
};

enum class TComboStyle { DropDown /* editable */, DropDownList /* pick only */ };

class TComboBox : public TControl {
 public:
  TComboBox(std::string name, TComboStyle style, int maxLength = 0)
      : TControl(std::move(name)), Style(style), MaxLength(maxLength) {}

  TComboStyle Style;
  // What may be typed into the edit field (0: unlimited). A text given in
  // any other way (the command line) is kept whole: the tool refuses what is
  // too long rather than asking for a cut text.
  int MaxLength;
  char Delimiter = ',';   // item delimiter used to join/split histories

  const std::string& Text() const { return text_; }
  // Sets the edit text. For a pick-only list, selects the
  // item with that exact text, or clears the selection when none matches.
  void SetText(const std::string& t);

  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(std::vector<std::string> items);
  void AddItem(const std::string& s);
  void InsertItem(int index, const std::string& s);
  void DeleteItem(int index);
  void ClearItems();
  int Count() const { return static_cast<int>(items_.size()); }

  int ItemIndex() const { return itemIndex_; }
  // Selects an item (its text becomes the combo's text); -1 clears.
  void SetItemIndex(int i);
  int IndexOf(const std::string& s) const;

  // Handlers a user's actions fire: selection change, focus leaving.
  std::function<void()> OnChange;
  std::function<void()> OnExit;

 private:
  std::string text_;
  std::vector<std::string> items_;
  int itemIndex_ = -1;
};

struct TLineField;
using TLineFields = std::vector<TLineField>;

// A value a tool gives an output line beside its text: nothing, a truth
// value, a whole number, a real number, a text, a group of named values or
// a list of values.
class TLineValue {
 public:
  enum class TKind { Null, Bool, Integer, Real, Text, Object, List };
  TLineValue() = default;
  TLineValue(bool v) : kind_(TKind::Bool), integer_(v) {}
  TLineValue(int v) : kind_(TKind::Integer), integer_(v) {}
  TLineValue(long v) : kind_(TKind::Integer), integer_(v) {}
  TLineValue(long long v) : kind_(TKind::Integer), integer_(v) {}
  TLineValue(unsigned v) : kind_(TKind::Integer), integer_(v) {}
  TLineValue(unsigned long v) : kind_(TKind::Integer), integer_(static_cast<long long>(v)) {}
  TLineValue(double v) : kind_(TKind::Real), real_(v) {}
  TLineValue(const char* v) : kind_(TKind::Text), text_(v) {}
  TLineValue(std::string v) : kind_(TKind::Text), text_(std::move(v)) {}
  TLineValue(TLineFields v);
  // A list (JSON array) of values.
  static TLineValue List(std::vector<TLineValue> items);

  TKind Kind() const { return kind_; }
  bool AsBool() const { return integer_ != 0; }
  long long AsInteger() const { return integer_; }
  double AsReal() const { return real_; }
  const std::string& AsText() const { return text_; }
  // The named values of an object (none for any other kind).
  const TLineFields& AsObject() const;
  // The values of a list (none for any other kind).
  const std::vector<TLineValue>& AsList() const;

 private:
  TKind kind_ = TKind::Null;
  long long integer_ = 0;
  double real_ = 0;
  std::string text_;
  std::shared_ptr<const TLineFields> object_;  // shared: the values never change
  std::shared_ptr<const std::vector<TLineValue>> list_;
};

// A named value of an output line (a ping reply's round-trip time, a DNS
// record's type). The console's JSON Lines output writes them beside the
// text; the window shows the text alone.
struct TLineField {
  std::string Name;
  TLineValue Value;
};

inline TLineValue::TLineValue(TLineFields v)
    : kind_(TKind::Object), object_(std::make_shared<const TLineFields>(std::move(v))) {}

inline TLineValue TLineValue::List(std::vector<TLineValue> items) {
  TLineValue v;
  v.kind_ = TKind::List;
  v.list_ = std::make_shared<const std::vector<TLineValue>>(std::move(items));
  return v;
}

// The fields of a and then those of b.
inline TLineFields JoinFields(TLineFields a, const TLineFields& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The value of the field with that name, nullptr when there is none.
const TLineValue* FindField(const TLineFields& fields, const std::string& name);

// One coloured line of an output pane, with the named values the tool gave
// it (most lines have none).
struct TOutputLine {
  std::string Text;
  TColor Color = clBlack;
  TLineFields Fields;
};

// Read-only output pane: coloured plain-text lines, a selection, focus.
class TRichEdit : public TControl {
 public:
  using TControl::TControl;

  const std::vector<TOutputLine>& Lines() const { return lines_; }
  void AddLine(const std::string& text, TColor color, TLineFields fields = {});
  void Clear();
  // Whole text, lines joined with LF.
  std::string Text() const;

  // Selection in characters of Text().
  int SelStart = 0;
  int SelLength = 0;
  std::string SelText() const;
  void SelectAll();

  // Empty name, size 0: the desktop's fixed-width font at its size.
  std::string FontName;
  int FontSize = 0;
  int FontCharset = 0;
  void SetFont(const std::string& name, int size, int charset);

  // Called for each line added (the console prints it, the view appends it).
  std::function<void(const TOutputLine&)> OnLineAdded;
  std::function<void()> OnCleared;

 private:
  std::vector<TOutputLine> lines_;
};

class TListBox : public TControl {
 public:
  using TControl::TControl;
  // Sorted: items kept in the order of their case-folded text (FoldCaseUtf8),
  // so "Ärger" and "ärgern" stand together, numbers in it by their value
  // (NaturalLess), so port 25 comes before port 110.
  bool Sorted = false;
  const std::vector<std::string>& Items() const { return items_; }
  // Adds an item, at its sorted place when Sorted.
  void AddItem(const std::string& s);
  void SetItems(std::vector<std::string> items);
  void Clear();
  // Empty name, size 0: the desktop's fixed-width font at its size.
  std::string FontName;
  int FontSize = 0;
  int FontCharset = 0;
  void SetFont(const std::string& name, int size, int charset);

 private:
  std::vector<std::string> items_;
  std::vector<std::string> keys_;  // folded items_, kept while Sorted
  void SortItems(std::vector<std::string> items);
};

struct TListColumn {
  std::string Caption;
  int Width = 0;
};

class TListView : public TControl {
 public:
  using TControl::TControl;
  std::vector<TListColumn> Columns;
  const std::vector<std::vector<std::string>>& Rows() const { return rows_; }
  void AddRow(std::vector<std::string> row);
  // All rows at once (one change for the view, which updates the rows it
  // has in place).
  void SetRows(std::vector<std::vector<std::string>> rows);
  void SetCell(int row, int col, const std::string& s);
  void Clear();
  void SetColumnCaption(int col, const std::string& s);

 private:
  std::vector<std::vector<std::string>> rows_;
};

class TPanel : public TControl {
 public:
  using TControl::TControl;
};

class TStatusBar : public TControl {
 public:
  using TControl::TControl;
  const std::string& SimpleText() const { return text_; }
  void SetSimpleText(const std::string& t);
  std::function<void(const std::string&)> OnText;

 private:
  std::string text_;
};

class TTabSheet : public TLabel {
 public:
  using TLabel::TLabel;
};

class TPageControl : public TControl {
 public:
  using TControl::TControl;
  std::vector<TTabSheet*> Pages;
  int ActivePageIndex() const { return active_; }
  // Programmatic change: always succeeds for a valid index.
  void SetActivePageIndex(int i);
  // A user's change of tab: asks OnChanging first and is refused when it
  // answers false.
  bool UserSelect(int i);
  std::function<bool()> OnChanging;
  // After a user's change of tab.
  std::function<void()> OnChange;

 private:
  int active_ = 0;
};

class TMenuItem : public TClickable {
 public:
  using TClickable::TClickable;
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& c);
  std::string ShortCut;  // "Ctrl+P", empty when none
  bool RadioItem = false;
  bool IsSeparator = false;
  bool Checked() const { return checked_; }
  void SetChecked(bool v);
  // Children; owned when added with AddOwned.
  std::vector<TMenuItem*> Items;
  TMenuItem* AddOwned(const std::string& name, const std::string& caption);
  void ClearOwned();

 private:
  std::string caption_;
  bool checked_ = false;
  std::vector<std::unique_ptr<TMenuItem>> owned_;
};

class TTimer : public TControl {
 public:
  using TControl::TControl;
  int Interval = 1000;
  std::function<void()> OnTimer;
};

}  // namespace quovix
