// The Qt view of the options dialog: one widget per control of TfrmSettings,
// the system's font dialog restricted to fixed-pitch fonts, Esc cancels.
#pragma once

#include <QDialog>

#include "shell/formSettings.h"
#include "ui/DialogBinding.h"

namespace quovix::ui {

class SettingsDialog : public QDialog {
  Q_OBJECT

 public:
  SettingsDialog(TfrmSettings& model, QWidget* parent);

  // Lookups for tests.
  QWidget* WidgetOf(const TControl& c) const { return binder_.WidgetOf(c); }

  void done(int r) override;

 private:
  TfrmSettings& model_;
  DialogBinder binder_;
};

}  // namespace quovix::ui
