// quillsort: the conversion wizard. It takes no arguments (but --version) and starts on the start
// page.
#include <QApplication>

#include "common/version.h"
#include "pst/store/store_service.h"
#include "ui/dialogs.h"
#include "ui/look.h"
#include "ui/wizard.h"

int main(int argc, char** argv) {
  // Answered before Qt starts, so that it works without a display.
  if (quill::PrintVersionIfAsked(argc, argv)) return 0;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Marrowfeld Quillsort"));
  QApplication::setDesktopFileName(QStringLiteral("quillsort"));
  // The program ends only through the start page's exit question, not when a page is hidden.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(ui::AppIcon());
  ui::LoadBundledFonts();

  std::unique_ptr<engine::StoreService> service = pst::store::MakeStoreService();
  ui::ShellDialogs dialogs;
  ui::Wizard wizard(*service, dialogs);
  wizard.Start();
  return QApplication::exec();
}
