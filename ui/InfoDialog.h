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

  QWidget* WidgetOf(const TControl& c) const { return binder_.WidgetOf(c); }

  void done(int r) override;

 private:
  TfrmInfo& model_;
  DialogBinder binder_;
};

}  // namespace quovix::ui
