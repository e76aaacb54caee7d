#include "ui/Dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QWidget>

#include "app/formMain.h"
#include "shell/formInfo.h"
#include "shell/fLanguage.h"
#include "shell/formSettings.h"
#include "ui/InfoDialog.h"
#include "ui/SettingsDialog.h"

namespace quovix::ui {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A menu caption as a dialog title: without its access key and dots.
QString TitleOf(const TMenuItem& item) {
  QString t = Q(item.Caption()).remove('&');
  while (t.endsWith('.')) t.chop(1);
  return t.trimmed();
}

}  // namespace

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
  // The file's type picks the format; a name typed without an extension
  // gets that of the type chosen in the dialog.
  form.AskSaveFileName = [&form, o](const std::string& suggested) {
    const QStringList filters = {Q(LangText("Main|SaveFilterText", "Text (*.txt)")),
                                 Q(LangText("Main|SaveFilterHtml", "HTML mit Farben (*.html)")),
                                 Q(LangText("Main|SaveFilterJson", "JSON Lines (*.jsonl)"))};
    const char* extensions[] = {".txt", ".html", ".jsonl"};
    QString chosen = filters[0];
    QString path = QFileDialog::getSaveFileName(o.data(), TitleOf(form.mnuFileSave),
                                                QDir::home().filePath(Q(suggested) + ".txt"),
                                                filters.join(";;"), &chosen);
    if (path.isEmpty()) return std::string();
    if (QFileInfo(path).suffix().isEmpty()) {
      const qsizetype i = filters.indexOf(chosen);
      path += extensions[i >= 0 ? i : 0];
    }
    return path.toStdString();
  };
  form.AskOpenFileName = [&form, o] {
    const QString filters = Q(LangText("Main|OpenFilter", "Aufzeichnungen (*.jsonl *.json)")) +
                            ";;" + Q(LangText("Main|AllFiles", "Alle Dateien (*)"));
    return QFileDialog::getOpenFileName(o.data(), TitleOf(form.mnuFileOpen), QDir::homePath(),
                                        filters)
        .toStdString();
  };
  form.ShowInfoDialog = [&form, o] {
    TfrmInfo model(form);
    InfoDialog view(model, o.data());
    view.exec();
  };
}

}  // namespace quovix::ui
