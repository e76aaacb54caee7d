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
  QWidget* WidgetOf(const TControl& c) const;
  const DialogBinder& Binder() const { return binder_; }

  void done(int r) override;

 private:
  template <class W>
  W* Make(TControl& c);

  TfrmSettings& model_;
  DialogBinder binder_;
  std::vector<std::pair<const TControl*, QWidget*>> widgets_;
};

}  // namespace quovix::ui
