// quillsort-screens OUTDIR: shows every window of the wizard in its interesting states and saves
// a PNG of each into OUTDIR. The windows are driven as in the tests: pickers and message boxes
// are answered by a script (each box is also drawn for real, to be seen), and the conversions run
// on sample messages.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>
#include <memory>

#include "engine/texts.h"
#include "pst/store/store_service.h"
#include "ui/look.h"
#include "ui/multiple_page.h"
#include "ui/progress_window.h"
#include "ui/scripted_dialogs_test.h"
#include "ui/single_page.h"
#include "ui/start_page.h"
#include "ui/wizard.h"

namespace {

QString g_out;
int g_shots = 0;

void Settle() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

void Shoot(QWidget* widget, const QString& name) {
  Settle();
  const QString path = g_out + "/" + name + ".png";
  if (widget->grab().save(path)) {
    ++g_shots;
  } else {
    std::fprintf(stderr, "quillsort-screens: cannot write %s\n", qPrintable(path));
  }
}

// Draws a box as the real dialogs would show it.
void ShootBox(const ui::testing::ShownBox& shown, const QString& name) {
  QMessageBox box;
  box.setWindowTitle(shown.title);
  box.setText(shown.text);
  switch (shown.style) {
    case engine::MsgBoxStyle::kInformationOk:
      box.setIcon(QMessageBox::Information);
      if (!shown.action.isEmpty()) box.addButton(shown.action, QMessageBox::ActionRole);
      box.addButton(QMessageBox::Ok);
      break;
    case engine::MsgBoxStyle::kQuestionYesNo:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    case engine::MsgBoxStyle::kPlainYesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
  }
  box.show();
  Shoot(&box, name);
  box.hide();
}

void WriteMessages(const QString& folder, int count) {
  QDir().mkpath(folder);
  for (int i = 1; i <= count; ++i) {
    QFile file(folder + "/" + QString::number(i) + ".eml");
    if (!file.open(QIODevice::WriteOnly)) continue;
    file.write(
        QStringLiteral("From: a@example.org\r\nTo: b@example.org\r\nSubject: Sample %1\r\n\r\nText.\r\n")
            .arg(i)
            .toUtf8());
  }
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  ui::LoadBundledFonts();
  if (argc != 2) {
    std::fprintf(stderr, "usage: quillsort-screens OUTDIR\n");
    return 2;
  }
  g_out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(g_out);

  QTemporaryDir temp;
  const QString single = temp.path() + "/Mail";
  WriteMessages(single + "/Inbox", 40);
  WriteMessages(single + "/Sent", 10);
  const QString root = temp.path() + "/Users";
  WriteMessages(root + "/alice.miller", 30);
  WriteMessages(root + "/bob.stone", 20);
  WriteMessages(root + "/carol.white", 25);
  WriteMessages(root + "/dave & erin", 5);
  QDir().mkpath(root + "/.archive");
  const QString out = temp.path() + "/Converted";
  QDir().mkpath(out);

  std::unique_ptr<engine::StoreService> owned = pst::store::MakeStoreService();
  engine::StoreService& service = *owned;
  ui::testing::ScriptedDialogs dialogs;
  dialogs.saveFolder = out;
  QString nextBoxName;
  dialogs.onBox = [&](const ui::testing::ShownBox& box) {
    const QString byTitle = QString::number(g_shots + 1).rightJustified(2, '0') + "-box-" +
                            box.title.toLower().replace(' ', '-').remove('(').remove(')');
    ShootBox(box, nextBoxName.isEmpty() ? byTitle : nextBoxName);
    nextBoxName.clear();
  };
  ui::Wizard wizard(service, dialogs);
  wizard.Start();
  ui::frmStart* start = wizard.StartPage();
  Shoot(start, "01-start");

  // Single mode.
  start->CmdNext->click();
  ui::frmSingle* page = wizard.SinglePage();
  Shoot(page, "02-single-empty");
  dialogs.folders.push_back(single);
  page->CmdAddFolder->click();
  Shoot(page, "03-single-chosen");
  ui::frmMigateAll* progress = wizard.ProgressWindow();
  progress->show();
  Shoot(progress, "04-progress-loaded");
  bool shotRunning = false;
  wizard.afterYield = [&] {
    if (!shotRunning && wizard.Progress().ProgressBar1Value >= 40) {
      shotRunning = true;
      Shoot(progress, "05-progress-single-running");
    }
  };
  nextBoxName = "06-box-completed-single";
  page->CmdNext->click();
  Shoot(progress, "07-progress-single-finished");
  page->close();
  progress->hide();

  // Multiple mode.
  start->OptMultiple->click();
  Shoot(start, "08-start-multiple");
  start->CmdNext->click();
  ui::frmMultiple* multiple = wizard.MultiplePage();
  Shoot(multiple, "09-multiple-loaded");
  dialogs.folders.push_back(root);
  multiple->CmdAddFolder->click();
  multiple->txtOutputFolder->setText(out);
  Shoot(multiple, "10-multiple-listed");
  nextBoxName = "11-box-no-folders";
  multiple->CmdNext->click();
  multiple->chkSelectAll->click();
  multiple->lv->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
  Shoot(multiple, "12-multiple-ticked");
  shotRunning = false;
  bool skipped = false;
  wizard.afterYield = [&] {
    if (!shotRunning && progress->CmdSkip->isEnabled() &&
        wizard.Progress().FrameConversion.find("(10 of 20)") != std::string::npos) {
      shotRunning = true;
      Shoot(progress, "13-progress-multiple-running");
      Shoot(multiple, "14-multiple-during-run");
      nextBoxName = "15-box-confirm-skip";
      dialogs.answers["Confirm Skip"] = {engine::MsgBoxResult::kYes};
      progress->CmdSkip->click();
      skipped = true;
    }
  };
  nextBoxName.clear();
  multiple->CmdNext->click();
  (void)skipped;
  Shoot(progress, "16-progress-multiple-finished");
  Shoot(multiple, "17-multiple-after-run");

  // A folder without mail: named, and no data file.
  const QString notes = temp.path() + "/Notes";
  QDir().mkpath(notes);
  QFile note(notes + "/readme.txt");
  if (note.open(QIODevice::WriteOnly)) note.write("not mail");
  note.close();
  start->OptSingle->click();
  start->CmdNext->click();
  dialogs.folders.push_back(notes);
  page->CmdAddFolder->click();
  wizard.afterYield = nullptr;
  nextBoxName = "18-box-no-mail";
  page->CmdNext->click();
  page->close();
  progress->hide();

  // An output folder that is not there, named before any work.
  start->OptMultiple->click();
  start->CmdNext->click();
  multiple->txtOutputFolder->setText(temp.path() + "/Missing/Output");
  nextBoxName = "19-box-output-folder-missing";
  multiple->CmdNext->click();

  // A second run into the same folder: the files written under other names are named.
  multiple->txtOutputFolder->setText(out);
  multiple->lv->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
  nextBoxName = "20-box-renamed-files";
  multiple->CmdNext->click();
  // How failed and stopped rows look beside converted ones and one without mail.
  multiple->MarkRow(2, engine::RowState::kFailed);
  multiple->MarkRow(3, engine::RowState::kStopped);
  Shoot(multiple, "21-multiple-failed-and-stopped-rows");
  progress->hide();

  // A run that wrote a report of the files it could not convert.
  engine::RunReport report;
  report.singleMode = false;
  report.foldersConverted = 3;
  report.messagesConverted = 72;
  report.failedFiles = {{"/home/ann/Mail/broken.eml", "no header"},
                        {"/home/ann/Mail/empty.eml", "empty"},
                        {"/home/ann/Mail/odd.eml", "bad encoding"}};
  report.reportFile = (out + "/quillsort-report.tsv").toStdString();
  nextBoxName = "22-box-run-report";
  wizard.CompletionBox(engine::CompletionText(report), report.reportFile);

  // The store error, as a read-only output folder gives it.
  ShootBox(
      {QString::fromStdString(engine::OutlookErrorText(
           "/media/backup/Mail/alice.miller.pst", "Permission denied: /media/backup/Mail/.alice.pst.tmp")),
       engine::MsgBoxStyle::kInformationOk, QStringLiteral("Outlook Error"), QString()},
      "23-box-outlook-error");

  // A long source path, shortened in the middle of the progress window's first line.
  engine::ProgressControls longPath = wizard.Progress();
  longPath.lblCount1 =
      "Migrating 1200 items from /home/ann/Documents/Archive/Old mail exports/2019 and before/"
      "From the previous laptop/Thunderbird/Inbox/";
  progress->Sync(longPath);
  progress->show();
  Shoot(progress, "24-progress-long-path");
  progress->hide();

  // The exit question.
  nextBoxName = "25-box-exit";
  start->close();

  std::printf("%d screenshots in %s\n", g_shots, qPrintable(g_out));
  return g_shots > 0 ? 0 : 1;
}
