#include "ui/dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QStringList>

#include "ui/shell_services.h"

namespace ui {

QString QtFilter(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    const QString& description = parts[i];
    const QString patterns = QString(parts[i + 1]).replace(';', ' ');
    // The description usually names its patterns already; Qt reads them from the parentheses.
    filters << (description.contains('(') ? description : description + " (" + patterns + ")");
  }
  if (filters.isEmpty() && !filter.isEmpty()) filters << filter;
  return filters.join(QStringLiteral(";;"));
}

QString ShellDialogs::BrowseForFolder(QWidget* owner, const QString& title) {
  return ui::BrowseForFolder(owner, title);
}

void ShellDialogs::OpenInShell(const QString& target) { ui::OpenInShell(target); }

engine::MsgBoxResult ShellDialogs::MsgBox(QWidget* owner, const QString& text, engine::MsgBoxStyle style,
                                          const QString& title) {
  QMessageBox box(owner);
  box.setWindowTitle(title);
  box.setText(text);
  switch (style) {
    case engine::MsgBoxStyle::kInformationOk:
      box.setIcon(QMessageBox::Information);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case engine::MsgBoxStyle::kQuestionYesNo:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    case engine::MsgBoxStyle::kPlainYesNo:
      box.setIcon(QMessageBox::NoIcon);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
  }
  const int answer = box.exec();
  if (style == engine::MsgBoxStyle::kInformationOk) return engine::MsgBoxResult::kOk;
  return answer == QMessageBox::Yes ? engine::MsgBoxResult::kYes : engine::MsgBoxResult::kNo;
}

bool ShellDialogs::MsgBoxWithAction(QWidget* owner, const QString& text, const QString& title,
                                    const QString& action) {
  QMessageBox box(owner);
  box.setWindowTitle(title);
  box.setText(text);
  box.setIcon(QMessageBox::Information);
  QPushButton* actionButton = box.addButton(action, QMessageBox::ActionRole);
  QPushButton* ok = box.addButton(QMessageBox::Ok);
  box.setDefaultButton(ok);
  box.setEscapeButton(ok);
  box.exec();
  return box.clickedButton() == actionButton;
}

engine::SaveChoice ShellDialogs::SaveFile(QWidget* owner, const QString& filter,
                                          const QString& proposedName) {
  QFileDialog dialog(owner);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QtFilter(filter));
  dialog.setDefaultSuffix(QStringLiteral("pst"));
  // Qt's own dialog asks before replacing a file also when the ".pst" was added to the typed name;
  // the engine relies on that question having been asked.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setDirectory(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
  dialog.selectFile(proposedName);
  engine::SaveChoice choice;
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return choice;
  choice.Chosen = true;
  choice.FileName = QDir::toNativeSeparators(dialog.selectedFiles().first()).toStdString();
  return choice;
}

}  // namespace ui
