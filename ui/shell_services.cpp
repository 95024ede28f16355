#include "ui/shell_services.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

namespace ui {

#ifndef QUILL_UI_HELP_HOST
#define QUILL_UI_HELP_HOST ""
#endif
#ifndef QUILL_UI_SOURCE_HELP_DIR
#define QUILL_UI_SOURCE_HELP_DIR ""
#endif

QUrl ShellUrl(const QString& target) {
  if (target.isEmpty()) return QUrl();
  const QUrl asUrl(target);
  const QString scheme = asUrl.scheme().toLower();
  // A one-letter scheme would be a drive letter, not a protocol.
  if (scheme.size() > 1 &&
      (scheme == "http" || scheme == "https" || scheme == "file" || scheme == "mailto")) {
    return asUrl;
  }
  return QUrl::fromLocalFile(target);
}

void OpenInShell(const QString& target) {
  const QUrl url = ShellUrl(target);
  if (!url.isValid() || url.isEmpty()) return;
  QDesktopServices::openUrl(url);
}

QString BrowseForFolder(QWidget* owner, const QString& title) {
  // The picker starts at the user's desktop (or home), not wherever the program was started from.
  QString start = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  if (!QFileInfo(start).isDir()) start = QDir::homePath();
  const QString chosen = QFileDialog::getExistingDirectory(
      owner, title, start, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
  if (chosen.isEmpty()) return QString();
  // The root keeps its separator; every other folder is given without one.
  QString path = QDir::toNativeSeparators(chosen);
  while (path.size() > 1 && path.endsWith(QDir::separator())) path.chop(1);
  return path;
}

QString HelpFolder() {
  const QString installed = QDir(QCoreApplication::applicationDirPath())
                                .absoluteFilePath(QStringLiteral("../share/quillsort/help"));
  if (QFileInfo(installed).isDir()) return QDir::cleanPath(installed);
  const QString source = QString::fromUtf8(QUILL_UI_SOURCE_HELP_DIR);
  if (!source.isEmpty() && QFileInfo(source).isDir()) return QDir::cleanPath(source);
  return QString();
}

QString HelpUrl(const QString& path, const QString& fragment) {
  const QString host = QString::fromUtf8(QUILL_UI_HELP_HOST);
  if (!host.isEmpty()) {
    QString base = host;
    while (base.endsWith('/')) base.chop(1);
    return base + path + fragment;
  }
  const QString folder = HelpFolder();
  if (folder.isEmpty()) return QString();
  return QUrl::fromLocalFile(folder + path + QStringLiteral("index.html")).toString() + fragment;
}

QString GuideUrl(const QString& path) {
  const QString host = QString::fromUtf8(QUILL_UI_HELP_HOST);
  if (!host.isEmpty()) {
    QString base = host;
    while (base.endsWith('/')) base.chop(1);
    return base + path;
  }
  const QString folder = HelpFolder();
  if (folder.isEmpty() || !QFileInfo(folder + path).isFile()) return QString();
  return QUrl::fromLocalFile(folder + path).toString();
}

}  // namespace ui
