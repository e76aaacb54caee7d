// Binds the widgets of a dialog to the controls of its model, both ways: a
// change of a control updates its widget; a user's action on a widget updates
// the control and runs the model's handler. Subscriptions end with the binder.
#pragma once

#include <QString>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/Controls.h"
#include "app/DialogControls.h"

class QAbstractButton;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QWidget;

namespace quovix::ui {

inline QString ToQ(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
inline std::string FromQ(const QString& s) { return s.toUtf8().toStdString(); }

// A new widget named after its control.
template <class W>
W* MakeWidget(const TControl& c, QWidget* parent) {
  auto* w = new W(parent);
  w->setObjectName(ToQ(c.Name));
  return w;
}

class DialogBinder {
 public:
  DialogBinder() = default;
  ~DialogBinder();
  DialogBinder(const DialogBinder&) = delete;
  DialogBinder& operator=(const DialogBinder&) = delete;

  void Label(TLabel& c, QLabel* w);
  void Group(TGroupBox& c, QGroupBox* w);
  void Link(TLinkLabel& c, QLabel* w);
  void Button(TButton& c, QPushButton* w);
  void Check(TCheckBox& c, QAbstractButton* w);
  void Radio(TRadioButton& c, QRadioButton* w);
  void Combo(TComboBox& c, QComboBox* w);
  void Edit(TEdit& c, QLineEdit* w);
  // The edit and its up-down buttons as one spin box.
  void UpDown(TUpDown& ud, QSpinBox* w);
  // Only enabled and visible.
  void State(TControl& c, QWidget* w);

  // The widget a control is bound to; nullptr for a control left out.
  QWidget* WidgetOf(const TControl& c) const;

 private:
  void Watch(TControl& c, QWidget* w, std::function<void()> refresh);
  std::vector<std::pair<TControl*, int>> subs_;
  std::vector<std::pair<const TControl*, QWidget*>> widgets_;
  int updating_ = 0;  // >0 while the binder writes into widgets
};

}  // namespace quovix::ui
