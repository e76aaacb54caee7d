#include "ui/Dialogs.h"

#include <QPointer>
#include <QWidget>

#include "app/formMain.h"
#include "shell/formInfo.h"
#include "shell/formSettings.h"
#include "ui/InfoDialog.h"
#include "ui/SettingsDialog.h"

namespace quovix::ui {

void InstallDialogs(TfrmMain& form, QWidget* owner) {
  QPointer<QWidget> o(owner);
  // Each dialog lives for one showing: model and view are made, shown and
  // destroyed here.
  form.ShowSettingsDialog = [&form, o] {
    TfrmSettings model(form);
    SettingsDialog view(model, o.data());
    view.exec();
    return model.ModalResult == TfrmSettings::TModalResult::Ok;
  };
  form.ShowInfoDialog = [&form, o] {
    TfrmInfo model(form);
    InfoDialog view(model, o.data());
    view.exec();
  };
}

}  // namespace quovix::ui
