#include "app/Controls.h"

#include <algorithm>
#include <utility>

#include "common/fCaseFold.h"

namespace quovix {

void TControl::SetEnabled(bool v) {
  if (enabled_ == v) return;
  enabled_ = v;
  Changed();
}

void TControl::SetVisible(bool v) {
  if (visible_ == v) return;
  visible_ = v;
  Changed();
}

void TControl::SetHint(const std::string& s) {
  if (hint_ == s) return;
  hint_ = s;
  Changed();
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (Left == left && Top == top && Width == width && Height == height) return;
  Left = left;
  Top = top;
  Width = width;
  Height = height;
  Changed();
}

int TControl::Subscribe(Listener l) {
  int id = nextId_++;
  listeners_.emplace_back(id, std::move(l));
  return id;
}

void TControl::Unsubscribe(int id) {
  listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(),
                                  [id](const auto& p) { return p.first == id; }),
                   listeners_.end());
}

void TControl::Changed() {
  // Copy: a listener may subscribe or unsubscribe while we walk.
  auto copy = listeners_;
  for (auto& [id, l] : copy)
    if (l) l();
}

void TClickable::Click() {
  if (Enabled() && OnClick) OnClick();
}

void TLabel::SetCaption(const std::string& c) {
  if (caption_ == c) return;
  caption_ = c;
  Changed();
}

void TButton::SetCaption(const std::string& c) {
  if (caption_ == c) return;
  caption_ = c;
  Changed();
}

void TCheckBox::SetCaption(const std::string& c) {
  if (caption_ == c) return;
  caption_ = c;
  Changed();
}

void TCheckBox::SetChecked(bool v) {
  if (checked_ == v) return;
  checked_ = v;
  Changed();
  if (OnClick) OnClick();
}

void TCheckBox::SetCheckedSilently(bool v) {
  if (checked_ == v) return;
  checked_ = v;
  Changed();
}

void TComboBox::SetText(const std::string& t) {
  const std::string& v = t;
  if (Style == TComboStyle::DropDownList) {
    int i = IndexOf(v);
    itemIndex_ = i;
    text_ = i >= 0 ? items_[i] : std::string();
    Changed();
    return;
  }
  int i = IndexOf(v);
  if (text_ == v && itemIndex_ == i) return;
  text_ = v;
  itemIndex_ = i;
  Changed();
}

void TComboBox::SetItems(std::vector<std::string> items) {
  items_ = std::move(items);
  itemIndex_ = IndexOf(text_);
  if (Style == TComboStyle::DropDownList && itemIndex_ < 0) text_.clear();
  Changed();
}

void TComboBox::AddItem(const std::string& s) {
  items_.push_back(s);
  Changed();
}

void TComboBox::InsertItem(int index, const std::string& s) {
  index = std::clamp(index, 0, Count());
  items_.insert(items_.begin() + index, s);
  if (itemIndex_ >= index) ++itemIndex_;
  Changed();
}

void TComboBox::DeleteItem(int index) {
  if (index < 0 || index >= Count()) return;
  items_.erase(items_.begin() + index);
  if (itemIndex_ == index) {
    itemIndex_ = -1;
    if (Style == TComboStyle::DropDownList) text_.clear();
  } else if (itemIndex_ > index) {
    --itemIndex_;
  }
  Changed();
}

void TComboBox::ClearItems() {
  items_.clear();
  itemIndex_ = -1;
  if (Style == TComboStyle::DropDownList) text_.clear();
  Changed();
}

void TComboBox::SetItemIndex(int i) {
  if (i < -1 || i >= Count()) i = -1;
  itemIndex_ = i;
  if (i >= 0)
    text_ = items_[i];
  else if (Style == TComboStyle::DropDownList)
    text_.clear();
  Changed();
}

int TComboBox::IndexOf(const std::string& s) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i] == s) return static_cast<int>(i);
  return -1;
}

const TLineFields& TLineValue::AsObject() const {
  static const TLineFields kNone;
  return object_ ? *object_ : kNone;
}

const std::vector<TLineValue>& TLineValue::AsList() const {
  static const std::vector<TLineValue> kNone;
  return list_ ? *list_ : kNone;
}

const TLineValue* FindField(const TLineFields& fields, const std::string& name) {
  for (const TLineField& f : fields)
    if (f.Name == name) return &f.Value;
  return nullptr;
}

void TRichEdit::AddLine(const std::string& text, TColor color, TLineFields fields) {
  lines_.push_back({text, color, std::move(fields)});
  if (OnLineAdded) OnLineAdded(lines_.back());
  Changed();
}

void TRichEdit::Clear() {
  lines_.clear();
  SelStart = 0;
  SelLength = 0;
  if (OnCleared) OnCleared();
  Changed();
}

std::string TRichEdit::Text() const {
  std::string s;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (i) s += '\n';
    s += lines_[i].Text;
  }
  return s;
}

std::string TRichEdit::SelText() const {
  std::string t = Text();
  if (SelLength <= 0 || SelStart < 0 || SelStart >= static_cast<int>(t.size())) return {};
  return t.substr(SelStart, SelLength);
}

void TRichEdit::SelectAll() {
  SelStart = 0;
  SelLength = static_cast<int>(Text().size());
  Changed();
}

void TRichEdit::SetFont(const std::string& name, int size, int charset) {
  FontName = name;
  FontSize = size;
  FontCharset = charset;
  Changed();
}

void TListBox::AddItem(const std::string& s) {
  if (Sorted) {
    // Sorted was switched on after items came in: order them first.
    if (keys_.size() != items_.size()) SortItems(std::exchange(items_, {}));
    // After the last item of the same sort key, so equal keys keep the order
    // in which they came.
    std::string key = FoldCaseUtf8(s);
    auto it = std::upper_bound(keys_.begin(), keys_.end(), key, NaturalLess);
    const auto at = it - keys_.begin();
    keys_.insert(it, std::move(key));
    items_.insert(items_.begin() + at, s);
  } else {
    items_.push_back(s);
    keys_.clear();
  }
  Changed();
}

void TListBox::SetItems(std::vector<std::string> items) {
  if (Sorted) {
    SortItems(std::move(items));
  } else {
    items_ = std::move(items);
    keys_.clear();
  }
  Changed();
}

void TListBox::SortItems(std::vector<std::string> items) {
  // Each item folded once, not once per comparison: lists run to many
  // thousands of lines.
  std::vector<std::pair<std::string, std::string>> byKey;
  byKey.reserve(items.size());
  for (auto& s : items) byKey.emplace_back(FoldCaseUtf8(s), std::move(s));
  std::stable_sort(byKey.begin(), byKey.end(),
                   [](const auto& a, const auto& b) { return NaturalLess(a.first, b.first); });
  items_.clear();
  keys_.clear();
  items_.reserve(byKey.size());
  keys_.reserve(byKey.size());
  for (auto& [key, s] : byKey) {
    keys_.push_back(std::move(key));
    items_.push_back(std::move(s));
  }
}

void TListBox::Clear() {
  items_.clear();
  keys_.clear();
  Changed();
}

void TListBox::SetFont(const std::string& name, int size, int charset) {
  FontName = name;
  FontSize = size;
  FontCharset = charset;
  Changed();
}

void TListView::AddRow(std::vector<std::string> row) {
  rows_.push_back(std::move(row));
  Changed();
}

void TListView::SetRows(std::vector<std::vector<std::string>> rows) {
  if (rows == rows_) return;
  rows_ = std::move(rows);
  Changed();
}

void TListView::SetCell(int row, int col, const std::string& s) {
  if (row < 0 || row >= static_cast<int>(rows_.size()) || col < 0) return;
  auto& r = rows_[row];
  if (static_cast<int>(r.size()) <= col) r.resize(col + 1);
  r[col] = s;
  Changed();
}

void TListView::Clear() {
  rows_.clear();
  Changed();
}

void TListView::SetColumnCaption(int col, const std::string& s) {
  if (col < 0 || col >= static_cast<int>(Columns.size())) return;
  Columns[col].Caption = s;
  Changed();
}

void TStatusBar::SetSimpleText(const std::string& t) {
  text_ = t;
  if (OnText) OnText(t);
  Changed();
}

void TPageControl::SetActivePageIndex(int i) {
  if (i < 0 || i >= static_cast<int>(Pages.size()) || i == active_) return;
  active_ = i;
  Changed();
}

bool TPageControl::UserSelect(int i) {
  if (i == active_) return true;
  if (OnChanging && !OnChanging()) {
    Changed();  // let a view that already moved snap back
    return false;
  }
  SetActivePageIndex(i);
  if (OnChange) OnChange();
  return true;
}

void TMenuItem::SetCaption(const std::string& c) {
  if (caption_ == c) return;
  caption_ = c;
  Changed();
}

void TMenuItem::SetChecked(bool v) {
  if (checked_ == v) return;
  checked_ = v;
  Changed();
}

TMenuItem* TMenuItem::AddOwned(const std::string& name, const std::string& caption) {
  owned_.push_back(std::make_unique<TMenuItem>(name));
  TMenuItem* m = owned_.back().get();
  m->SetCaption(caption);
  Items.push_back(m);
  Changed();
  return m;
}

void TMenuItem::ClearOwned() {
  Items.clear();
  owned_.clear();
  Changed();
}

}  // namespace quovix
