// Controls the dialogs need beyond those of the main window: a one-line edit,
// an up-down counter tied to an edit, radio buttons, link labels, pictures and
// the label that carries a font. Same rules as app/Controls.h: plain state,
// listeners told of every change.
#pragma once

#include <string>
#include <vector>

#include "app/Controls.h"

namespace quovix {

class TEdit : public TControl {
 public:
  using TControl::TControl;
  const std::string& Text() const { return text_; }
  void SetText(const std::string& t);
  bool ReadOnly = false;
  bool Grey = false;  // shown with the window's grey background
  // Runs after each change of the text by a user (through the view).
  std::function<void()> OnChange;

 private:
  std::string text_;
};

// Up-down buttons beside an edit: a whole number kept within [Min, Max] and
// shown in the associated edit without thousands separators.
class TUpDown : public TControl {
 public:
  TUpDown(std::string name, TEdit* associate, int min, int max)
      : TControl(std::move(name)), Associate(associate), Min(min), Max(max) {}
  TEdit* Associate;
  int Min, Max;
  // The number the edit shows: its text read as a whole number and held to
  // the range; a text that is no number keeps the last valid position.
  int Position();
  void SetPosition(int v);

 private:
  int position_ = 0;
};

// Radio button: selecting one clears the others of its group.
class TRadioButton : public TCheckBox {
 public:
  using TCheckBox::TCheckBox;
  std::vector<TRadioButton*> Group;  // every button of the group, this one included
  // What a user's click does.
  void Select();
};

// A label that opens something when clicked (underlined, hand cursor).
class TLinkLabel : public TLabel {
 public:
  using TLabel::TLabel;
  std::string Hint;
  std::function<void()> OnClick;
  void Click() {
    if (Enabled() && OnClick) OnClick();
  }
};

// A picture from a file; the model knows only its size.
class TImage : public TControl {
 public:
  using TControl::TControl;
  std::string FileName;  // empty: no picture
  bool Transparent = false;
};

// Hidden label whose only use is to carry a font.
class TFontLabel : public TLabel {
 public:
  using TLabel::TLabel;
  std::string FontName;
  int FontCharset = 0;
};

// Width and height of a Windows bitmap file, read from its header only.
// False for a file that is missing, too short or not a plausible bitmap.
bool ReadBitmapSize(const std::string& path, int& width, int& height);

}  // namespace quovix
