// The Qt view of the about dialog: the model's texts and links, the program
// icon, and the language block with the flag whose right edge sits at 80
// pixels from the group's left edge.
#pragma once

#include <QDialog>

#include "shell/formInfo.h"
#include "ui/DialogBinding.h"

class QLabel;

namespace quovix::ui {

class InfoDialog : public QDialog {
  Q_OBJECT

 public:
  InfoDialog(TfrmInfo& model, QWidget* parent);

  QWidget* WidgetOf(const TControl& c) const;
  const DialogBinder& Binder() const { return binder_; }

  void done(int r) override;

 private:
  template <class W>
  W* Make(TControl& c, QWidget* parent);

  TfrmInfo& model_;
  DialogBinder binder_;
  std::vector<std::pair<const TControl*, QWidget*>> widgets_;
};

}  // namespace quovix::ui
