// The two ways the wizard reaches the desktop: opening a web page or a folder with the desktop's
// default handler, and letting the user pick a folder. Both are stateless and report no errors.
#pragma once

#include <QString>
#include <QUrl>

class QWidget;

namespace ui {

// Opens `target` (a web address, a file: address or a folder path) with the desktop's default
// handler. An empty target does nothing; a target that cannot be opened fails silently.
void OpenInShell(const QString& target);

// The address OpenInShell is given for `target`: web and file: addresses as they are, anything
// else as a local path. Invalid (empty) for an empty target.
QUrl ShellUrl(const QString& target);

// Shows a modal folder picker titled `title` over `owner`, limited to folders. Returns the chosen
// folder's path (the file-system root keeps its trailing separator, other folders have none), or
// an empty string when the user cancels.
QString BrowseForFolder(QWidget* owner, const QString& title);

// The address of a help page that ships with the program: `path` (such as "/h/quillsort/") and an
// optional fragment (such as "#select-folder"). With a web host configured at build time the
// address is that host + path + fragment; otherwise it is the installed page's file: address,
// the folder `path` with "index.html" appended, then the fragment.
QString HelpUrl(const QString& path, const QString& fragment = QString());

// The address of a document shipped with the help pages at `path` (the store guide), or of the
// same path on the help host when one is set; empty when neither has it.
QString GuideUrl(const QString& path);

// The folder the help pages are read from when no web host is configured: beside the installed
// program (../share/quillsort/help), else the source tree's help folder. Empty when neither exists.
QString HelpFolder();

}  // namespace ui
