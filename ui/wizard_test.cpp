// The wizard's windows driven as a user drives them, offscreen: folder pickers, the Save dialog and
// message boxes are answered by a script; conversions run for real into temporary folders.
#include "ui/wizard.h"

#include <sys/stat.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QWindow>
#include <QtTest/QtTest>
#include <memory>

#include "engine/texts.h"
#include "pst/read/checker.h"
#include "pst/store/store_service.h"
#include "ui/look.h"
#include "ui/multiple_page.h"
#include "ui/progress_window.h"
#include "ui/scripted_dialogs_test.h"
#include "ui/shell_services.h"
#include "ui/single_page.h"
#include "ui/start_page.h"

using engine::MsgBoxResult;
using engine::MsgBoxStyle;
using ui::testing::ScriptedDialogs;

namespace {

const QString kCompletedSingle = QStringLiteral(
    "Messages Converted Successfully.\nOpen Converted Outlook Data file in Microsoft Outlook to View "
    "Converted "
    "Messages.");
const QString kCompletedMultiple = QStringLiteral(
    "All Folders Converted Successfully.\nOpen Converted Outlook Data file(s) in Microsoft Outlook to View "
    "Individual files.");

void WriteMessage(const QString& path, int number) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(QStringLiteral("From: Ann Example <ann@example.org>\r\n"
                            "To: Bob Example <bob@example.org>\r\n"
                            "Subject: Message %1\r\n"
                            "Date: Mon, 7 Dec 2026 10:00:00 +0000\r\n"
                            "Message-ID: <m%1@example.org>\r\n"
                            "Content-Type: text/plain; charset=utf-8\r\n\r\n"
                            "Body of message %1.\r\n")
                 .arg(number)
                 .toUtf8());
}

// `count` messages named 1.eml, 2.eml, ... in `folder`.
void WriteMessages(const QString& folder, int count) {
  QDir().mkpath(folder);
  for (int i = 1; i <= count; ++i) WriteMessage(folder + "/" + QString::number(i) + ".eml", i);
}

QTreeWidgetItem* RowNamed(QTreeWidget* lv, const QString& name) {
  for (int i = 0; i < lv->topLevelItemCount(); ++i) {
    if (lv->topLevelItem(i)->text(0) == name) return lv->topLevelItem(i);
  }
  return nullptr;
}

}  // namespace

class WizardTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<engine::StoreService> service_;
  std::unique_ptr<ScriptedDialogs> dialogs_;
  std::unique_ptr<ui::Wizard> wizard_;
  std::unique_ptr<QTemporaryDir> temp_;

  QString Temp(const QString& relative) { return temp_->path() + "/" + relative; }

  // Messages in a data file written by the run, as an independent read of the file finds them; -1
  // when the file cannot be read, -2 when the check finds faults in it.
  int MessagesIn(const QString& path) {
    auto report = pst::read::CheckFile(path.toStdString());
    if (!report.ok()) return -1;
    if (!report.value().findings.empty()) return -2;
    return static_cast<int>(report.value().messages);
  }

  bool DataFileExists(const QString& path) { return QFileInfo(path).isFile(); }

  // Picks `root` on the multiple-folders page, which is shown first.
  ui::frmMultiple* MultipleWithRoot(const QString& root) {
    ui::frmStart* start = wizard_->StartPage();
    start->OptMultiple->click();
    start->CmdNext->click();
    ui::frmMultiple* page = wizard_->MultiplePage();
    dialogs_->folders.push_back(root);
    page->CmdAddFolder->click();
    return page;
  }

  ui::frmSingle* SingleWithSource(const QString& source) {
    wizard_->StartPage()->CmdNext->click();
    ui::frmSingle* page = wizard_->SinglePage();
    dialogs_->folders.push_back(source);
    page->CmdAddFolder->click();
    return page;
  }

 private slots:
  void init() {
    temp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(temp_->isValid());
    service_ = pst::store::MakeStoreService();
    dialogs_ = std::make_unique<ScriptedDialogs>();
    dialogs_->saveFolder = Temp("saved");
    QDir().mkpath(dialogs_->saveFolder);
    wizard_ = std::make_unique<ui::Wizard>(*service_, *dialogs_);
    wizard_->Start();
  }

  void cleanup() {
    wizard_.reset();
    dialogs_.reset();
    service_.reset();
    temp_.reset();
    // No window of a test lives on into the next one.
    QCOMPARE(QApplication::topLevelWidgets().size(), 0);
  }

  void startPageShowsItsInitialState() {
    ui::frmStart* start = wizard_->StartPage();
    QVERIFY(start->isVisible());
    QCOMPARE(start->windowTitle(), QStringLiteral("Marrowfeld Quillsort v3.1"));
    QCOMPARE(start->size(), QSize(618, 472));
    QCOMPARE(start->lblTitle->text(), QStringLiteral("Quillsort"));
    QCOMPARE(start->OptSingle->text(), QStringLiteral("Single Folder"));
    QCOMPARE(start->OptMultiple->text(), QStringLiteral("Multiple Folders"));
    QCOMPARE(start->CmdHelp->text(), QStringLiteral("Product &Guide"));
    QCOMPARE(start->CmdNext->text(), QStringLiteral("&Next >"));
    QCOMPARE(start->findChild<QLabel*>("lblHeading")->text(), QStringLiteral("I want to convert"));
    QVERIFY(start->findChild<QLabel*>("lblSingleText")
                ->text()
                .startsWith("This option allows you to select a single"));
    QVERIFY(start->findChild<QLabel*>("lblMultipleText")
                ->text()
                .endsWith("having all mailbox folders inside it."));
    QVERIFY(start->OptSingle->isChecked());
    QVERIFY(start->OptSingle->font().bold());
    QVERIFY(!start->OptMultiple->font().bold());
    QCOMPARE(start->OptSingle->pos(), QPoint(48, 152));
    // Each caption fits in bold, clear of its help link.
    for (QRadioButton* option : {start->OptSingle, start->OptMultiple}) {
      QFont bold = option->font();
      bold.setBold(true);
      QVERIFY(QFontMetrics(bold).horizontalAdvance(option->text()) + 16 <= option->width());
    }
    QVERIFY(start->lblSingleHelp->x() >= start->OptSingle->geometry().right());
    QVERIFY(start->lblMultipleHelp->x() >= start->OptMultiple->geometry().right());
    for (ui::HelpLink* link : {start->lblSingleHelp, start->lblMultipleHelp}) {
      QCOMPARE(link->text(), QStringLiteral(" [ ? ]"));
      QCOMPARE(link->toolTip(), QStringLiteral("Online Help"));
      QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
      QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    }
  }

  void optionWeightsFollowTheChoice() {
    ui::frmStart* start = wizard_->StartPage();
    start->OptMultiple->click();
    QVERIFY(start->OptMultiple->font().bold());
    QVERIFY(!start->OptSingle->font().bold());
    QVERIFY(!wizard_->SingleMode());
    start->OptSingle->click();
    QVERIFY(start->OptSingle->font().bold());
    QVERIFY(!start->OptMultiple->font().bold());
    QVERIFY(wizard_->SingleMode());
  }

  void helpLinksOpenShippedPagesThatHoldTheirSections() {
    ui::frmStart* start = wizard_->StartPage();
    QTest::mouseClick(start->lblSingleHelp, Qt::LeftButton);
    QTest::mouseClick(start->lblMultipleHelp, Qt::LeftButton);
    start->CmdHelp->click();
    SingleWithSource(QString());
    QTest::mouseClick(wizard_->SinglePage()->lblSingleMailbox, Qt::LeftButton);
    start->OptMultiple->click();
    start->CmdNext->click();
    QTest::mouseClick(wizard_->MultiplePage()->lblSelectRootFolder, Qt::LeftButton);

    const QStringList ends = {"/h/quillsort/index.html#single-folder",
                              "/h/quillsort/index.html#multiple-folders", "/quillsort/index.html",
                              "/h/quillsort/index.html#select-folder",
                              "/h/quillsort/index.html#select-root-folder"};
    QCOMPARE(dialogs_->opened.size(), ends.size());
    for (int i = 0; i < ends.size(); ++i) {
      const QString& address = dialogs_->opened[i];
      QVERIFY2(address.endsWith(ends[i]), qPrintable(address));
      // The page is there and holds the section the link names.
      const QUrl url(address);
      QFile page(url.toLocalFile());
      QVERIFY2(page.open(QIODevice::ReadOnly), qPrintable(url.toLocalFile()));
      if (url.hasFragment()) {
        QVERIFY2(page.readAll().contains(("id=\"" + url.fragment() + "\"").toUtf8()), qPrintable(address));
      }
    }
  }

  void storeGuideNamedInTheErrorBoxShipsWithTheHelp() {
    const QString address =
        QString::fromStdString(wizard_->GuideAddress("/help/downgrade-office-2010-to-32-bit.pdf"));
    QVERIFY2(address.endsWith("/help/downgrade-office-2010-to-32-bit.pdf"), qPrintable(address));
    QFile guide(QUrl(address).toLocalFile());
    QVERIFY2(guide.open(QIODevice::ReadOnly), qPrintable(address));
    QVERIFY(guide.read(5) == "%PDF-");
  }

  void shellServicesNameWhatTheyOpen() {
    QVERIFY(ui::ShellUrl(QString()).isEmpty());
    QCOMPARE(ui::ShellUrl("/tmp/out dir/").toLocalFile(), QStringLiteral("/tmp/out dir/"));
    QCOMPARE(ui::ShellUrl("https://example.org/h/quillsort/#x").toString(),
             QStringLiteral("https://example.org/h/quillsort/#x"));
    // A folder whose name looks like an address part is still a folder.
    QVERIFY(ui::ShellUrl("/srv/http:stuff").isLocalFile());
    QCOMPARE(ui::CaptionText("Messages && Email"), QStringLiteral("Messages & Email"));
    QCOMPARE(ui::CaptionText("S&TOP"), QStringLiteral("STOP"));
    QCOMPARE(ui::CaptionText("a&&&b&"), QStringLiteral("a&b"));
    QCOMPARE(ui::QtFilter("Outlook Data File(s) (*.pst)|*.pst"),
             QStringLiteral("Outlook Data File(s) (*.pst)"));
    QCOMPARE(ui::QtFilter("Mail|*.eml;*.emlx|All|*"), QStringLiteral("Mail (*.eml *.emlx);;All (*)"));
  }

  // The desktop's own dialogs, answered from inside their event loops.
  void shellDialogsReportWhatTheUserChose() {
    ui::ShellDialogs shell;
    QStringList seen;
    const auto answerBox = [&seen](QMessageBox::StandardButton press) {
      QTimer::singleShot(0, [&seen, press] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        seen << box->windowTitle() + "|" + box->text() + "|" + QString::number(box->icon()) + "|" +
                    QString::number(int(box->standardButtons()));
        box->button(press)->click();
      });
    };
    answerBox(QMessageBox::Yes);
    QCOMPARE(shell.MsgBox(nullptr, "Sure?", MsgBoxStyle::kQuestionYesNo, "T"), MsgBoxResult::kYes);
    answerBox(QMessageBox::No);
    QCOMPARE(shell.MsgBox(nullptr, "Skip?", MsgBoxStyle::kPlainYesNo, "U"), MsgBoxResult::kNo);
    answerBox(QMessageBox::Ok);
    QCOMPARE(shell.MsgBox(nullptr, "Done\nTwo", MsgBoxStyle::kInformationOk, "V"), MsgBoxResult::kOk);
    QCOMPARE(seen, QStringList({"T|Sure?|4|" + QString::number(int(QMessageBox::Yes | QMessageBox::No)),
                                "U|Skip?|0|" + QString::number(int(QMessageBox::Yes | QMessageBox::No)),
                                "V|Done\nTwo|1|" + QString::number(int(QMessageBox::Ok))}));

    // The Save dialog: the proposal, the filter, and ".pst" added to a name typed without it.
    const QString folder = Temp("saved");
    QString proposal;
    QStringList filters;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      proposal = dialog->selectedFiles().value(0);
      filters = dialog->nameFilters();
      dialog->setDirectory(folder);
      dialog->selectFile("Report");
      static_cast<QDialog*>(dialog)->accept();  // through QDialog, where it is public
    });
    engine::SaveChoice choice =
        shell.SaveFile(nullptr, "Outlook Data File(s) (*.pst)|*.pst", "Mail7.12.26 1.34.05.pst");
    QVERIFY(QFileInfo(proposal).fileName() == QStringLiteral("Mail7.12.26 1.34.05.pst"));
    QCOMPARE(filters, QStringList{"Outlook Data File(s) (*.pst)"});
    QVERIFY(choice.Chosen);
    QCOMPARE(QString::fromStdString(choice.FileName), folder + "/Report.pst");
    QTimer::singleShot(0, [] {
      if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) dialog->reject();
    });
    QVERIFY(!shell.SaveFile(nullptr, "Outlook Data File(s) (*.pst)|*.pst", "x.pst").Chosen);

    // A typed name that, with ".pst" added, names an existing file is replaced only after a yes.
    WriteMessage(folder + "/Existing.pst", 1);
    QString question;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      dialog->setDirectory(folder);
      dialog->selectFile("Existing");
      QTimer::singleShot(0, [&question, dialog] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
          question = box->text();
          box->button(QMessageBox::No)->click();
        }
        QTimer::singleShot(0, dialog, &QFileDialog::reject);
      });
      static_cast<QDialog*>(dialog)->accept();  // through QDialog, where it is public
    });
    QVERIFY(!shell.SaveFile(nullptr, "Outlook Data File(s) (*.pst)|*.pst", "x.pst").Chosen);
    QVERIFY2(question.contains("Existing.pst"), qPrintable(question));

    // The folder picker: the chosen folder without a final separator, or nothing when cancelled.
    QDir().mkpath(Temp("pick/me"));
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      seen << dialog->windowTitle();
      dialog->setDirectory(Temp("pick/me"));
      static_cast<QDialog*>(dialog)->accept();  // through QDialog, where it is public
    });
    QCOMPARE(shell.BrowseForFolder(nullptr, "Choose Source Folder..."), Temp("pick/me"));
    QCOMPARE(seen.last(), QStringLiteral("Choose Source Folder..."));
    QTimer::singleShot(0, [] {
      if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) dialog->reject();
    });
    QVERIFY(shell.BrowseForFolder(nullptr, "Choose Output Folder...").isEmpty());
  }

  void nextOpensThePageOfTheChosenModeOnce() {
    ui::frmStart* start = wizard_->StartPage();
    start->OptMultiple->click();
    start->OptSingle->click();
    start->CmdNext->click();
    QVERIFY(wizard_->HasSinglePage());
    QVERIFY(!wizard_->HasMultiplePage());
    ui::frmSingle* single = wizard_->SinglePage();
    QVERIFY(single->isVisible());
    QVERIFY(start->isVisible());
    start->CmdNext->click();
    QCOMPARE(wizard_->SinglePage(), single);
    QCOMPARE(QApplication::topLevelWidgets().size(), 2);

    start->OptMultiple->click();
    start->CmdNext->click();
    QVERIFY(wizard_->MultiplePage()->isVisible());
    QVERIFY(!start->isVisible());
  }

  void exitConfirmationDeclinedKeepsTheStartPage() {
    ui::frmStart* start = wizard_->StartPage();
    start->OptMultiple->click();
    QVERIFY(!start->close());
    QCOMPARE(dialogs_->boxes.size(), size_t{1});
    QCOMPARE(dialogs_->boxes[0].title, QStringLiteral("Marrowfeld Quillsort"));
    QCOMPARE(dialogs_->boxes[0].text, QStringLiteral("Are you sure you want to exit now?"));
    QCOMPARE(dialogs_->boxes[0].style, MsgBoxStyle::kQuestionYesNo);
    QVERIFY(start->isVisible());
    QVERIFY(start->OptMultiple->isChecked());
    QVERIFY(!wizard_->Exiting());
  }

  void exitConfirmedClosesEveryWindow() {
    ui::frmStart* start = wizard_->StartPage();
    start->CmdNext->click();
    wizard_->ProgressWindow()->show();
    dialogs_->answers["Marrowfeld Quillsort"] = {MsgBoxResult::kYes};
    QVERIFY(start->close());
    QVERIFY(wizard_->Exiting());
    for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
    // Closing the rest asked nothing more.
    QCOMPARE(dialogs_->boxes.size(), size_t{1});
  }

  void singlePageKeepsItsFolderWhenAPickIsCancelled() {
    wizard_->StartPage()->CmdNext->click();
    ui::frmSingle* page = wizard_->SinglePage();
    QCOMPARE(page->windowTitle(), QStringLiteral("Single Folder Mode"));
    QCOMPARE(page->size(), QSize(514, 146));
    QCOMPARE(page->CmdAddFolder->text(), QStringLiteral("Select..."));
    QCOMPARE(page->lblSingleMailbox->toolTip(), QStringLiteral("Online Help"));
    QVERIFY(!page->CmdNext->isEnabled());
    page->CmdAddFolder->click();  // cancelled
    QCOMPARE(dialogs_->pickerTitles, QStringList{"Choose Source Folder..."});
    QVERIFY(page->txtSourceMailbox->text().isEmpty());
    QVERIFY(!page->CmdNext->isEnabled());
    page->CmdNext->click();  // nothing to run
    QVERIFY(!wizard_->ProgressWindow()->isVisible());

    dialogs_->folders.push_back(Temp("mail"));
    page->CmdAddFolder->click();
    QCOMPARE(page->txtSourceMailbox->text(), Temp("mail"));
    QVERIFY(page->CmdNext->isEnabled());
    page->CmdAddFolder->click();  // cancelled
    QCOMPARE(page->txtSourceMailbox->text(), Temp("mail"));
    QVERIFY(page->CmdNext->isEnabled());
  }

  void progressWindowLoadsWithItsInitialTexts() {
    ui::frmMigateAll* w = wizard_->ProgressWindow();
    QCOMPARE(w->windowTitle(), QStringLiteral("Conversion Status"));
    QCOMPARE(w->size(), QSize(491, 258));
    QCOMPARE(w->lblCount1->text(), QStringLiteral("Conversion Not Started Yet..."));
    QCOMPARE(w->lblProgress->text(), QStringLiteral("0% Complete"));
    QCOMPARE(w->FrameConversion->text(), QStringLiteral("Details "));
    QCOMPARE(w->LblCurrentDBX->text(), QStringLiteral("Converting Messages..."));
    QCOMPARE(w->ProgressBar1->value(), 0);
    QCOMPARE(w->ProgressBar1->maximum(), 100);
    QCOMPARE(w->CmdSkip->text(), QStringLiteral("X"));
    QCOMPARE(w->CmdSkip->toolTip(), QStringLiteral("Cancel Conversion of Current Folder"));
    QCOMPARE(w->CmdStopMigration->text(), QStringLiteral("S&TOP"));
    QCOMPARE(w->CmdStopMigration->toolTip(), QStringLiteral("Stops Complete Conversion"));
    QCOMPARE(w->CmdLocate->text(), QStringLiteral("&Open Folder"));
    w->show();
    QVERIFY(!w->CmdSkip->isEnabled());
    QVERIFY(w->CmdStopMigration->isHidden());
    QVERIFY(!w->CmdLocate->isEnabled());
    // Closing it outside a run asks first; no keeps it.
    QVERIFY(!w->close());
    QVERIFY(w->isVisible());
    dialogs_->answers["Marrowfeld Quillsort"] = {MsgBoxResult::kYes};
    QVERIFY(w->close());
    QCOMPARE(dialogs_->BoxTitles(), QStringList({"Marrowfeld Quillsort", "Marrowfeld Quillsort"}));
    QVERIFY(!wizard_->Shared().StopRequested);
  }

  void singleModeConvertsTheFolderTree() {
    const QString source = Temp("Mail");
    WriteMessages(source, 2);
    WriteMessages(source + "/Inbox", 3);
    WriteMessages(source + "/Work/Projects", 1);
    ui::frmSingle* page = SingleWithSource(source);

    bool sawRunning = false;
    wizard_->afterYield = [&] {
      // The progress window is up before any file is collected, and nothing else can start.
      sawRunning = sawRunning || (wizard_->ProgressWindow()->isVisible() && !page->CmdNext->isEnabled() &&
                                  !wizard_->RunConversion(page));
    };
    page->CmdNext->click();
    QVERIFY(sawRunning);
    QVERIFY(page->CmdNext->isEnabled());
    QVERIFY(page->isVisible());

    QCOMPARE(dialogs_->saveFilters, QStringList{"Outlook Data File(s) (*.pst)|*.pst"});
    QCOMPARE(dialogs_->proposedNames.size(), 1);
    const QString name = dialogs_->proposedNames[0];
    QVERIFY2(QRegularExpression("^Mail\\d{1,2}\\.\\d{1,2}\\.\\d\\d \\d{1,2}\\.\\d{1,2}\\.\\d\\d\\.pst$")
                 .match(name)
                 .hasMatch(),
             qPrintable(name));
    const QString target = dialogs_->saveFolder + "/" + name;
    QCOMPARE(MessagesIn(target), 6);

    QCOMPARE(dialogs_->BoxTitles(), QStringList{"Completed"});
    QCOMPARE(dialogs_->boxes[0].text, kCompletedSingle);
    QCOMPARE(dialogs_->boxes[0].style, MsgBoxStyle::kInformationOk);

    ui::frmMigateAll* w = wizard_->ProgressWindow();
    QVERIFY(w->isVisible());
    QCOMPARE(w->windowTitle(), QStringLiteral("Conversion Status"));
    QCOMPARE(w->lblCount1->text(), "Migrating 6 items from " + source + "/");
    QCOMPARE(w->lblProgress->text(), QStringLiteral("100% Complete"));
    QCOMPARE(w->ProgressBar1->value(), 100);
    // The heading's doubled ampersand shows as one.
    QCOMPARE(w->FrameConversion->text(),
             QStringLiteral("Reading Messages & Email Metadata - (6 of 6) File(s)"));
    QVERIFY(!w->CmdSkip->isEnabled());
    QVERIFY(w->CmdStopMigration->isHidden());
    QVERIFY(!w->CmdStopMigration->isEnabled());
    QVERIFY(w->CmdLocate->isEnabled());
    w->CmdLocate->click();
    QCOMPARE(dialogs_->opened, QStringList{dialogs_->saveFolder + "/"});
  }

  void singleModeSaveCancelledClosesThePage() {
    const QString source = Temp("Mail");
    WriteMessages(source, 2);
    ui::frmSingle* page = SingleWithSource(source);
    dialogs_->cancelSave = true;
    page->CmdNext->click();
    // Nothing was converted: no box claims that messages were.
    QVERIFY(dialogs_->boxes.empty());
    QVERIFY(!page->isVisible());
    // Shown again, the page is as new.
    wizard_->StartPage()->CmdNext->click();
    QVERIFY(page->txtSourceMailbox->text().isEmpty());
    QVERIFY(!page->CmdNext->isEnabled());
    ui::frmMigateAll* w = wizard_->ProgressWindow();
    QVERIFY(!w->CmdLocate->isEnabled());
    QVERIFY(w->LocateTarget().isEmpty());
    QVERIFY(QDir(dialogs_->saveFolder).isEmpty());
  }

  void multiplePageListsEveryImmediateSubfolder() {
    const QString root = Temp("Users");
    WriteMessages(root + "/alice/Inbox", 1);
    QDir().mkpath(root + "/.hidden");
    QDir().mkpath(root + "/bob");
    WriteMessage(root + "/loose.eml", 1);  // a file, not a row
    ui::frmMultiple* page = MultipleWithRoot(root);
    QCOMPARE(page->windowTitle(), QStringLiteral("Multiple Folder Mode"));
    QCOMPARE(page->size(), QSize(706, 417));
    QCOMPARE(page->Frame1->title(), QStringLiteral(" Select Folders"));
    QCOMPARE(page->cmdBack->text(), QStringLiteral("< Bac&k"));
    QCOMPARE(page->lblSelectRootFolder->toolTip(), QStringLiteral("Click to Know More..."));
    QCOMPARE(dialogs_->pickerTitles, QStringList{"Choose Source Folder..."});

    QTreeWidget* lv = page->lv;
    QCOMPARE(lv->headerItem()->text(0), QStringLiteral("User"));
    QCOMPARE(lv->headerItem()->text(1), QStringLiteral("Mailbox Folder"));
    QCOMPARE(lv->columnWidth(0), 200);
    QCOMPARE(lv->columnWidth(1), 440);
    QVERIFY(lv->alternatingRowColors());
    QCOMPARE(lv->palette().color(QPalette::AlternateBase), QColor(255, 255, 192));
    QCOMPARE(lv->palette().color(QPalette::Base), QColor(255, 255, 255));
    QCOMPARE(lv->topLevelItemCount(), 3);
    for (const QString& name : {QStringLiteral(".hidden"), QStringLiteral("alice"), QStringLiteral("bob")}) {
      QTreeWidgetItem* row = RowNamed(lv, name);
      QVERIFY2(row != nullptr, qPrintable(name));
      QCOMPARE(row->text(1), root + "/" + name);
      QCOMPARE(row->toolTip(1), root + "/" + name);
      QCOMPARE(row->checkState(0), Qt::Unchecked);
      QVERIFY(!(row->flags() & Qt::ItemIsEditable));
      QVERIFY(row->flags() & Qt::ItemIsUserCheckable);
    }
    QCOMPARE(lv->editTriggers(), QAbstractItemView::NoEditTriggers);

    // A root given with its final separator gives the same paths, without a doubled one.
    dialogs_->folders.push_back(root + "/");
    page->CmdAddFolder->click();
    QCOMPARE(RowNamed(lv, "bob")->text(1), root + "/bob");

    // The page's rows are what the engine reads.
    RowNamed(lv, "bob")->setCheckState(0, Qt::Checked);
    const int bob = lv->indexOfTopLevelItem(RowNamed(lv, "bob")) + 1;
    QCOMPARE(wizard_->lvRowCount(), 3);
    QVERIFY(wizard_->lvRow(bob).Checked);
    QCOMPARE(QString::fromStdString(wizard_->lvRow(bob).SubItem), root + "/bob");
    QCOMPARE(QString::fromStdString(wizard_->lvRow(bob).Text), QStringLiteral("bob"));
    QVERIFY(!wizard_->lvRow(0).Checked);
    QVERIFY(!wizard_->lvRow(4).Checked);

    // A name that is not valid UTF-8 reaches the engine byte for byte, so its files can be found.
    const std::string latin1 = root.toStdString() + "/caf\xe9";
    QCOMPARE(mkdir(latin1.c_str(), 0755), 0);
    dialogs_->folders.push_back(root);
    page->CmdAddFolder->click();
    QCOMPARE(lv->topLevelItemCount(), 4);
    bool found = false;
    for (int i = 1; i <= wizard_->lvRowCount(); ++i) {
      const engine::FolderRow row = wizard_->lvRow(i);
      if (row.Text != "caf\xe9") continue;
      found = true;
      QCOMPARE(row.SubItem, latin1);
    }
    QVERIFY(found);
  }

  void selectAllTicksAndUnticksEveryRow() {
    const QString root = Temp("Users");
    for (const char* name : {"a", "b", "c"}) QDir().mkpath(root + "/" + name);
    QDir().mkpath(Temp("Empty"));
    wizard_->StartPage()->OptMultiple->click();
    wizard_->StartPage()->CmdNext->click();
    ui::frmMultiple* page = wizard_->MultiplePage();
    QCheckBox* box = page->chkSelectAll;
    QVERIFY(!box->isEnabled());
    QVERIFY(!box->isChecked());
    QCOMPARE(page->txtOutputFolder->text(), ui::SpecialFolderPath());

    // An empty root: the box is enabled, and ticking it changes its value but not its caption.
    dialogs_->folders.push_back(Temp("Empty"));
    page->CmdAddFolder->click();
    QCOMPARE(page->lv->topLevelItemCount(), 0);
    QVERIFY(box->isEnabled());
    box->click();
    QVERIFY(box->isChecked());
    QCOMPARE(box->text(), QStringLiteral("Select All"));

    // Filling the list unticks the box; ticking it ticks every row.
    dialogs_->folders.push_back(root);
    page->CmdAddFolder->click();
    QVERIFY(!box->isChecked());
    QCOMPARE(box->text(), QStringLiteral("Select All"));
    box->click();
    QCOMPARE(box->text(), QStringLiteral("Deselect All"));
    for (int i = 0; i < 3; ++i) QCOMPARE(page->lv->topLevelItem(i)->checkState(0), Qt::Checked);
    page->lv->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    QVERIFY(box->isChecked());
    QCOMPARE(box->text(), QStringLiteral("Deselect All"));
    box->click();
    QCOMPARE(box->text(), QStringLiteral("Select All"));
    for (int i = 0; i < 3; ++i) QCOMPARE(page->lv->topLevelItem(i)->checkState(0), Qt::Unchecked);

    // A new root while the box is ticked: refilled, all unticked, caption back to Select All.
    box->click();
    dialogs_->folders.push_back(root);
    page->CmdAddFolder->click();
    QVERIFY(!box->isChecked());
    QCOMPARE(box->text(), QStringLiteral("Select All"));
    for (int i = 0; i < 3; ++i) QCOMPARE(page->lv->topLevelItem(i)->checkState(0), Qt::Unchecked);
  }

  void folderThatCannotBeListedLeavesTheListAsItWas() {
    const QString root = Temp("Users");
    QDir().mkpath(root + "/a");
    QDir().mkpath(root + "/b");
    ui::frmMultiple* page = MultipleWithRoot(root);
    page->lv->topLevelItem(0)->setCheckState(0, Qt::Checked);
    dialogs_->folders.push_back(Temp("gone"));
    page->CmdAddFolder->click();
    QCOMPARE(dialogs_->BoxTitles(), QStringList{"Choose Source Folder..."});
    QVERIFY(dialogs_->boxes[0].text.contains(Temp("gone")));
    QCOMPARE(page->lv->topLevelItemCount(), 2);
    QCOMPARE(page->lv->topLevelItem(0)->checkState(0), Qt::Checked);
    QVERIFY(page->chkSelectAll->isEnabled());
    // A file is no folder to list either.
    WriteMessage(Temp("file.eml"), 1);
    QVERIFY(!ui::ListSubfolders(Temp("file.eml").toStdString()).ok());
  }

  void outputFolderAndBackKeepThePageState() {
    const QString root = Temp("Users");
    QDir().mkpath(root + "/a");
    ui::frmMultiple* page = MultipleWithRoot(root);
    page->cmdChange->click();  // cancelled
    QCOMPARE(page->txtOutputFolder->text(), ui::SpecialFolderPath());
    dialogs_->folders.push_back(Temp("out"));
    page->cmdChange->click();
    QCOMPARE(page->txtOutputFolder->text(), Temp("out"));
    QCOMPARE(dialogs_->pickerTitles.last(), QStringLiteral("Choose Output Folder..."));
    page->lv->topLevelItem(0)->setCheckState(0, Qt::Checked);

    page->cmdBack->click();
    QVERIFY(!page->isVisible());
    QVERIFY(wizard_->StartPage()->isVisible());
    QVERIFY(!wizard_->StartPage()->OptSingle->isChecked());
    wizard_->StartPage()->CmdNext->click();
    QCOMPARE(wizard_->MultiplePage(), page);
    QVERIFY(page->isVisible());
    QCOMPARE(page->lv->topLevelItem(0)->checkState(0), Qt::Checked);
    QCOMPARE(page->txtOutputFolder->text(), Temp("out"));

    // Closing the page by its title bar brings the start page back rather than leaving no window.
    page->close();
    QVERIFY(wizard_->StartPage()->isVisible());
  }

  void outputFolderStartsOnTheDesktopOrElseAtHome() {
    const QByteArray home = qgetenv("HOME");
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", Temp("home").toUtf8());
    qputenv("XDG_CONFIG_HOME", Temp("home/.config").toUtf8());
    QDir().mkpath(Temp("home"));
    const QString withoutDesktop = ui::SpecialFolderPath();
    QDir().mkpath(Temp("home/Desktop"));
    const QString withDesktop = ui::SpecialFolderPath();
    qputenv("HOME", home);
    if (config.isNull()) {
      qunsetenv("XDG_CONFIG_HOME");
    } else {
      qputenv("XDG_CONFIG_HOME", config);
    }
    QCOMPARE(withoutDesktop, Temp("home"));
    QCOMPARE(withDesktop, Temp("home/Desktop"));
  }

  void nextWithoutTickedRowsStartsNothing() {
    const QString root = Temp("Users");
    QDir().mkpath(root + "/a");
    ui::frmMultiple* page = MultipleWithRoot(root);
    page->CmdNext->click();
    QCOMPARE(dialogs_->BoxTitles(), QStringList{"Select Folder(s) to Convert"});
    QCOMPARE(dialogs_->boxes[0].text,
             QStringLiteral("No Folders Selected !\nPlease Select alteast one folder to convert."));
    QCOMPARE(dialogs_->boxes[0].style, MsgBoxStyle::kInformationOk);
    QVERIFY(!wizard_->ProgressWindow()->isVisible());
  }

  void multipleModeConvertsEachTickedFolder() {
    const QString root = Temp("Users");
    WriteMessages(root + "/alice/Inbox", 2);
    WriteMessages(root + "/alice/Sent", 1);
    WriteMessages(root + "/bob", 0);
    WriteMessages(root + "/carol", 3);
    WriteMessages(root + "/dave", 2);
    const QString out = Temp("out");
    QDir().mkpath(out);
    ui::frmMultiple* page = MultipleWithRoot(root);
    page->txtOutputFolder->setText("  " + out + " ");
    QTreeWidget* lv = page->lv;
    for (const char* name : {"alice", "bob", "carol"}) RowNamed(lv, name)->setCheckState(0, Qt::Checked);

    QStringList titles;
    bool nextBlocked = true;
    bool pageStayed = true;
    wizard_->afterYield = [&] {
      // Nothing leaves the page during the run: Back is off, Escape and closing are refused.
      page->cmdBack->click();
      QTest::keyClick(page, Qt::Key_Escape);
      page->close();
      pageStayed = pageStayed && page->isVisible() && !wizard_->StartPage()->isVisible();
      // Choosing the other mode halfway (from code: the start page is hidden) does not change the
      // run's mode.
      wizard_->StartPage()->OptSingle->click();
      const QString title = wizard_->ProgressWindow()->windowTitle();
      if (titles.isEmpty() || titles.last() != title) titles << title;
      nextBlocked = nextBlocked && !page->CmdNext->isEnabled() && !page->CmdAddFolder->isEnabled() &&
                    !page->cmdChange->isEnabled() && page->txtOutputFolder->isReadOnly() &&
                    !page->cmdBack->isEnabled() && !page->chkSelectAll->isEnabled();
    };
    page->CmdNext->click();
    QVERIFY(nextBlocked);
    QVERIFY(pageStayed);
    QVERIFY(page->cmdBack->isEnabled());
    QVERIFY(page->chkSelectAll->isEnabled());
    QVERIFY(page->CmdNext->isEnabled());
    QVERIFY(page->cmdChange->isEnabled());
    QVERIFY(!page->txtOutputFolder->isReadOnly());

    QCOMPARE(MessagesIn(out + "/alice.pst"), 3);
    QCOMPARE(MessagesIn(out + "/carol.pst"), 3);
    QVERIFY(!QFileInfo::exists(out + "/bob.pst"));
    QVERIFY(!QFileInfo::exists(out + "/dave.pst"));
    QVERIFY(dialogs_->proposedNames.isEmpty());
    QCOMPARE(dialogs_->BoxTitles(), QStringList{"Completed"});
    // bob holds no mail: the box says so instead of claiming every folder converted.
    QCOMPARE(dialogs_->boxes[0].text,
             "6 messages converted into 2 data files.\nNo .eml or .emlx files were found in " + root +
                 "/bob.\nOpen Converted Outlook Data file(s) in Microsoft Outlook to "
                 "View Individual files.");

    for (const char* name : {"alice", "carol"}) {
      QTreeWidgetItem* row = RowNamed(lv, name);
      QCOMPARE(row->foreground(0).color(), QColor(0, 128, 0));
      QVERIFY(row->font(0).bold());
      QVERIFY(row->font(1).bold());
    }
    // Not converted, so not green: grey, in the plain weight.
    QCOMPARE(RowNamed(lv, "bob")->foreground(0).color(), QColor(0x80, 0x80, 0x80));
    QVERIFY(!RowNamed(lv, "bob")->font(0).bold());
    QVERIFY(!RowNamed(lv, "dave")->font(0).bold());
    const int alice = lv->indexOfTopLevelItem(RowNamed(lv, "alice")) + 1;
    const int carol = lv->indexOfTopLevelItem(RowNamed(lv, "carol")) + 1;
    QVERIFY(titles.contains(QStringLiteral("Converting %1 of 4 Folders").arg(alice)));
    QVERIFY(titles.contains(QStringLiteral("Converting %1 of 4 Folders").arg(carol)));
    // Finished, the window no longer says it is converting.
    QCOMPARE(wizard_->ProgressWindow()->windowTitle(), QStringLiteral("Conversion Status"));
    QCOMPARE(wizard_->ProgressWindow()->lblCount1->text(), "Converting 3 items from " + root + "/carol");

    // Open Folder follows the mode chosen now: in multiple mode, the output folder box as typed.
    wizard_->StartPage()->OptMultiple->click();
    wizard_->ProgressWindow()->CmdLocate->click();
    QCOMPARE(dialogs_->opened, QStringList{"  " + out + " "});
    // The hidden single-folder page object carried the run and was never shown.
    QVERIFY(wizard_->HasSinglePage());
    QVERIFY(!wizard_->SinglePage()->isVisible());
  }

  void skipDeclinedConvertsEverythingAndConfirmedEndsTheFolder() {
    const QString source = Temp("Mail");
    WriteMessages(source, 12);
    ui::frmSingle* page = SingleWithSource(source);
    int clicks = 0;
    wizard_->afterYield = [&] {
      ui::frmMigateAll* w = wizard_->ProgressWindow();
      if (clicks == 0 && w->CmdSkip->isEnabled()) {
        // Twice before the engine looks: one question only.
        w->CmdSkip->click();
        w->CmdSkip->click();
        ++clicks;
      }
    };
    dialogs_->answers["Confirm Skip"] = {MsgBoxResult::kNo};
    page->CmdNext->click();
    QCOMPARE(dialogs_->BoxTitles(), QStringList({"Confirm Skip", "Completed"}));
    QCOMPARE(dialogs_->boxes[0].style, MsgBoxStyle::kPlainYesNo);
    QCOMPARE(dialogs_->boxes[1].text, kCompletedSingle);
    QCOMPARE(MessagesIn(dialogs_->saveFolder + "/" + dialogs_->proposedNames[0]), 12);

    clicks = 0;
    dialogs_->boxes.clear();
    dialogs_->answers["Confirm Skip"] = {MsgBoxResult::kYes};
    page->CmdNext->click();
    QCOMPARE(dialogs_->BoxTitles(), QStringList({"Confirm Skip", "Completed"}));
    QVERIFY(dialogs_->boxes[1].text.contains("1 folder was skipped."));
    QVERIFY(wizard_->ProgressWindow()->lblProgress->text().startsWith("Skipped... at "));
    const int kept = MessagesIn(dialogs_->saveFolder + "/" + dialogs_->proposedNames[1]);
    QVERIFY2(kept >= 0 && kept < 12, qPrintable(QString::number(kept)));
  }

  void stopDeclinedGoesOnAndConfirmedEndsTheRun() {
    const QString root = Temp("Users");
    WriteMessages(root + "/a", 8);
    WriteMessages(root + "/b", 8);
    const QString out = Temp("out");
    QDir().mkpath(out);
    ui::frmMultiple* page = MultipleWithRoot(root);
    page->txtOutputFolder->setText(out);
    page->chkSelectAll->click();
    int clicks = 0;
    wizard_->afterYield = [&] {
      ui::frmMigateAll* w = wizard_->ProgressWindow();
      if (clicks == 0 && w->CmdStopMigration->isVisible() && w->CmdStopMigration->isEnabled()) {
        w->CmdStopMigration->click();
        ++clicks;
      }
    };
    dialogs_->answers["Confirm Stop"] = {MsgBoxResult::kNo};
    page->CmdNext->click();
    QCOMPARE(dialogs_->BoxTitles(), QStringList({"Confirm Stop", "Completed"}));
    QCOMPARE(dialogs_->boxes[1].text, kCompletedMultiple);
    QCOMPARE(MessagesIn(out + "/a.pst"), 8);
    QCOMPARE(MessagesIn(out + "/b.pst"), 8);

    // Again, into a fresh folder, and this time the stop is confirmed during the first folder.
    const QString out2 = Temp("out2");
    QDir().mkpath(out2);
    page->txtOutputFolder->setText(out2);
    page->chkSelectAll->click();
    page->chkSelectAll->click();
    // The first run's green goes when the next run starts.
    QCOMPARE(page->lv->topLevelItem(1)->foreground(0).color(), QColor(0, 128, 0));
    clicks = 0;
    dialogs_->boxes.clear();
    dialogs_->answers["Confirm Stop"] = {MsgBoxResult::kYes};
    page->CmdNext->click();
    QCOMPARE(dialogs_->BoxTitles(), QStringList({"Confirm Stop", "Completed"}));
    QVERIFY(dialogs_->boxes[1].text.contains("stopped"));
    // The first file keeps what was converted and is complete; the second folder never started.
    const int kept = MessagesIn(out2 + "/a.pst");
    QVERIFY2(kept >= 0 && kept < 8, qPrintable(QString::number(kept)));
    QVERIFY(!QFileInfo::exists(out2 + "/b.pst"));
    QVERIFY(!page->lv->topLevelItem(1)->font(0).bold());
    QVERIFY(page->lv->topLevelItem(1)->data(0, Qt::ForegroundRole).isNull());
    QVERIFY(page->lv->topLevelItem(0)->font(0).bold());
    // Stopped halfway: not the green of a converted folder.
    QCOMPARE(page->lv->topLevelItem(0)->foreground(0).color(), ui::kStoppedBrown);
    ui::frmMigateAll* w = wizard_->ProgressWindow();
    QVERIFY(w->isVisible());
    QVERIFY(!w->CmdSkip->isEnabled());
    QVERIFY(w->CmdStopMigration->isHidden());
    QVERIFY(w->lblProgress->text().startsWith("Stopped... at "));
  }

  void stopWithASkipPendingOffersToCloseTheWindowFirst() {
    const QString source = Temp("Mail");
    WriteMessages(source, 6);
    ui::frmSingle* page = SingleWithSource(source);
    int clicks = 0;
    wizard_->afterYield = [&] {
      ui::frmMigateAll* w = wizard_->ProgressWindow();
      if (clicks == 0 && w->CmdSkip->isEnabled()) {
        w->CmdSkip->click();
        w->CmdStopMigration->click();
        ++clicks;
        QVERIFY(wizard_->Shared().StopRequested);
      }
    };
    // Keep the window (No), then confirm the skip: the run ends as after a stop.
    dialogs_->answers["Confirm Skip"] = {MsgBoxResult::kYes};
    page->CmdNext->click();
    QCOMPARE(dialogs_->BoxTitles(), QStringList({"Marrowfeld Quillsort", "Confirm Skip", "Completed"}));
    QVERIFY(wizard_->ProgressWindow()->isVisible());
    // The skip already ended the only folder; what it left out is what the box tells.
    QVERIFY(dialogs_->boxes[2].text.contains("skipped"));
    // A stopped single-mode run closes the page.
    QVERIFY(!page->isVisible());
  }

  void closingTheProgressWindowStopsTheRunWithoutAskingAgain() {
    const QString source = Temp("Mail");
    WriteMessages(source, 10);
    ui::frmSingle* page = SingleWithSource(source);
    int closes = 0;
    wizard_->afterYield = [&] {
      ui::frmMigateAll* w = wizard_->ProgressWindow();
      if (closes == 0 && w->CmdSkip->isEnabled()) {
        ++closes;
        w->close();
      }
    };
    dialogs_->answers["Marrowfeld Quillsort"] = {MsgBoxResult::kYes};
    page->CmdNext->click();
    QCOMPARE(dialogs_->BoxTitles(), QStringList({"Marrowfeld Quillsort", "Completed"}));
    QVERIFY(dialogs_->boxes[1].text.contains("stopped"));
    // The run's last button changes did not bring the window back.
    QVERIFY(!wizard_->ProgressWindow()->isVisible());
    const int kept = MessagesIn(dialogs_->saveFolder + "/" + dialogs_->proposedNames[0]);
    QVERIFY2(kept >= 0 && kept < 10, qPrintable(QString::number(kept)));

    // Declined, the window stays and the run goes on to the end.
    closes = 0;
    dialogs_->boxes.clear();
    dialogs_->answers["Marrowfeld Quillsort"] = {MsgBoxResult::kNo};
    wizard_->StartPage()->CmdNext->click();
    dialogs_->folders.push_back(source);
    page->CmdAddFolder->click();
    page->CmdNext->click();
    QCOMPARE(dialogs_->BoxTitles(), QStringList({"Marrowfeld Quillsort", "Completed"}));
    QCOMPARE(dialogs_->boxes[1].text, kCompletedSingle);
    QVERIFY(wizard_->ProgressWindow()->isVisible());
    QCOMPARE(MessagesIn(dialogs_->saveFolder + "/" + dialogs_->proposedNames[1]), 10);
  }

  // The progress window is a dialog kept above the page that started it; over the small single
  // page it stands beside the page, so that Select and Next stay reachable after the run.
  void progressWindowIsTransientForItsPageAndLeavesItsButtonsFree() {
    const QString source = Temp("Mail");
    WriteMessages(source, 2);
    ui::frmSingle* page = SingleWithSource(source);
    page->CmdNext->click();
    ui::frmMigateAll* w = wizard_->ProgressWindow();
    QVERIFY(w->isVisible());
    QVERIFY(w->windowHandle() != nullptr);
    QCOMPARE(w->windowHandle()->transientParent(), page->windowHandle());
    QCOMPARE(page->windowHandle()->transientParent(), wizard_->StartPage()->windowHandle());
    QCOMPARE(w->windowType(), Qt::Dialog);
    QCOMPARE(page->windowType(), Qt::Dialog);
    const QRect pageArea = page->frameGeometry();
    QVERIFY2(
        !w->frameGeometry().intersects(pageArea),
        qPrintable(QStringLiteral("%1,%2 %3x%4").arg(w->x()).arg(w->y()).arg(w->width()).arg(w->height())));
    // Fixed-size windows offer no maximise button.
    for (QWidget* window : {static_cast<QWidget*>(wizard_->StartPage()), static_cast<QWidget*>(page),
                            static_cast<QWidget*>(w), static_cast<QWidget*>(wizard_->MultiplePage())}) {
      QVERIFY2(!(window->windowFlags() & Qt::WindowMaximizeButtonHint), qPrintable(window->objectName()));
      QVERIFY(window->windowFlags() & Qt::WindowCloseButtonHint);
    }

    // A multiple-mode run makes the same window transient for the multiple-folders page.
    const QString root = Temp("Users");
    WriteMessages(root + "/a", 1);
    ui::frmMultiple* multiple = MultipleWithRoot(root);
    multiple->txtOutputFolder->setText(Temp("saved"));
    multiple->chkSelectAll->click();
    multiple->CmdNext->click();
    QVERIFY(w->isVisible());
    QCOMPARE(w->windowHandle()->transientParent(), multiple->windowHandle());
    // Every window stays on the screen.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    for (QWidget* window : {static_cast<QWidget*>(multiple), static_cast<QWidget*>(w)}) {
      QVERIFY2(screen.contains(window->frameGeometry().topLeft()), qPrintable(window->objectName()));
    }
  }

  // After a confirmed skip, STOP pressed while the next folder's files are collected: the close
  // question is declined, the stop question confirmed, and the next folder is never converted.
  void stopPressedDuringCollectionAfterASkipEndsTheRun() {
    const QString root = Temp("Users");
    WriteMessages(root + "/a", 6);
    WriteMessages(root + "/b", 6);
    const QString out = Temp("out");
    QDir().mkpath(out);
    ui::frmMultiple* page = MultipleWithRoot(root);
    page->txtOutputFolder->setText(out);
    page->chkSelectAll->click();
    bool skipped = false;
    bool stopped = false;
    wizard_->afterYield = [&] {
      ui::frmMigateAll* w = wizard_->ProgressWindow();
      if (!skipped && w->CmdSkip->isEnabled()) {
        w->CmdSkip->click();
        skipped = true;
      }
      // Row b shows that the driver came to it, and its data file is not open yet.
      if (skipped && !stopped && page->lv->topLevelItem(1)->font(0).bold() &&
          w->CmdStopMigration->isVisible() && !QFileInfo::exists(out + "/b.pst")) {
        w->CmdStopMigration->click();
        stopped = true;
      }
    };
    dialogs_->answers["Confirm Skip"] = {MsgBoxResult::kYes};
    dialogs_->answers["Marrowfeld Quillsort"] = {MsgBoxResult::kNo};
    dialogs_->answers["Confirm Stop"] = {MsgBoxResult::kYes};
    page->CmdNext->click();
    QVERIFY(stopped);
    QCOMPARE(dialogs_->BoxTitles(),
             QStringList({"Confirm Skip", "Marrowfeld Quillsort", "Confirm Stop", "Completed"}));
    QVERIFY(!QFileInfo::exists(out + "/b.pst"));
    QVERIFY(dialogs_->boxes[3].text.contains("Conversion stopped by the user."));
    QCOMPARE(page->lv->topLevelItem(0)->foreground(0).color(), ui::kStoppedBrown);
    QCOMPARE(page->lv->topLevelItem(1)->foreground(0).color(), ui::kStoppedBrown);
    QVERIFY(wizard_->ProgressWindow()->isVisible());
  }

  void rowLooksTellConvertedFailedAndStopped() {
    const QString root = Temp("Users");
    QDir().mkpath(root + "/a");
    QDir().mkpath(root + "/b");
    ui::frmMultiple* page = MultipleWithRoot(root);
    page->MarkRow(1, engine::RowState::kFailed);
    page->MarkRow(2, engine::RowState::kConverted);
    QTreeWidgetItem* a = page->lv->topLevelItem(0);
    QCOMPARE(a->foreground(0).color(), ui::kFailedRed);
    QCOMPARE(a->foreground(1).color(), ui::kFailedRed);
    QVERIFY(a->font(0).bold());
    QVERIFY(a->toolTip(0).contains("could not be written"));
    QCOMPARE(page->lv->topLevelItem(1)->foreground(0).color(), QColor(0, 128, 0));
    page->ResetRowLooks();
    for (int i = 0; i < 2; ++i) {
      QVERIFY(page->lv->topLevelItem(i)->data(0, Qt::ForegroundRole).isNull());
      QVERIFY(!page->lv->topLevelItem(i)->font(1).bold());
      QVERIFY(page->lv->topLevelItem(i)->toolTip(0).isEmpty());
    }
  }

  void folderWithoutMailIsNamedAndGetsNoDataFile() {
    const QString source = Temp("Notes");
    QDir().mkpath(source + "/Sub");
    QFile note(source + "/Sub/readme.txt");
    QVERIFY(note.open(QIODevice::WriteOnly));
    note.write("not mail");
    note.close();
    ui::frmSingle* page = SingleWithSource(source);
    page->CmdNext->click();
    QCOMPARE(dialogs_->BoxTitles(), QStringList{"Completed"});
    QCOMPARE(dialogs_->boxes[0].text, "No .eml or .emlx files were found in " + source + ".");
    QVERIFY(dialogs_->proposedNames.isEmpty());
    QVERIFY(QDir(dialogs_->saveFolder).isEmpty());
  }

  void outputFolderThatCannotTakeTheFilesIsNamedBeforeAnyWork() {
    // Multiple mode: a missing output folder stops Next before the progress window shows.
    const QString root = Temp("Users");
    WriteMessages(root + "/a", 2);
    ui::frmMultiple* page = MultipleWithRoot(root);
    page->chkSelectAll->click();
    page->txtOutputFolder->setText(Temp("nowhere"));
    page->CmdNext->click();
    QCOMPARE(dialogs_->BoxTitles(), QStringList{"Output Folder"});
    QCOMPARE(dialogs_->boxes[0].text,
             "The output folder " + Temp("nowhere") +
                 " cannot be used: No such file or directory. Choose a folder that exists.");
    QVERIFY(!wizard_->HasSinglePage() || !wizard_->ProgressWindow()->isVisible());
    QVERIFY(!QFileInfo::exists(Temp("nowhere")));

    // Single mode: a Save into a folder that is not there is refused and the dialog comes again.
    dialogs_->boxes.clear();
    const QString source = Temp("Mail");
    WriteMessages(source, 2);
    page->close();
    wizard_->StartPage()->OptSingle->click();
    ui::frmSingle* single = SingleWithSource(source);
    const QString good = dialogs_->saveFolder;
    dialogs_->saveFolder = Temp("gone");
    dialogs_->onBox = [&](const ui::testing::ShownBox& box) {
      if (box.title == "Output Folder") dialogs_->saveFolder = good;
    };
    single->CmdNext->click();
    QCOMPARE(dialogs_->BoxTitles(), QStringList({"Output Folder", "Completed"}));
    QVERIFY(dialogs_->boxes[0].text.startsWith("The output folder " + Temp("gone") + " cannot be used"));
    QCOMPARE(dialogs_->proposedNames.size(), 2);
    QCOMPARE(MessagesIn(good + "/" + dialogs_->proposedNames[1]), 2);
  }

  void renamedFilesAndTheReportAreNamedInTheCompletionBox() {
    const QString root = Temp("Users");
    WriteMessages(root + "/ruby", 1);
    const QString out = Temp("out");
    QDir().mkpath(out);
    ui::frmMultiple* page = MultipleWithRoot(root);
    page->txtOutputFolder->setText(out);
    page->chkSelectAll->click();
    page->CmdNext->click();
    page->CmdNext->click();  // again: ruby.pst is taken now
    QCOMPARE(dialogs_->BoxTitles(), QStringList({"Completed", "Completed"}));
    QCOMPARE(dialogs_->boxes[0].text, kCompletedMultiple);
    QCOMPARE(dialogs_->boxes[1].text,
             kCompletedMultiple + "\n\"" + out +
                 "/ruby (2).pst\" was written, since a file of the planned name already "
                 "existed.");

    // A run that wrote a report: the box names it and its button opens it.
    engine::RunReport report;
    report.messagesConverted = 1;
    report.foldersConverted = 1;
    report.failedFiles.push_back({"/m/bad.eml", "no header"});
    report.reportFile = (out + "/Mail.pst.report.tsv").toStdString();
    dialogs_->boxes.clear();
    wizard_->CompletionBox(engine::CompletionText(report), report.reportFile);
    QCOMPARE(dialogs_->boxes.size(), size_t(1));
    QCOMPARE(dialogs_->boxes[0].action, QStringLiteral("Open &Report"));
    QVERIFY(dialogs_->boxes[0].text.contains("A report of every file not converted, and why, is in \"" + out +
                                             "/Mail.pst.report.tsv\"."));
    QVERIFY(dialogs_->opened.isEmpty());
    dialogs_->chooseAction = true;
    wizard_->CompletionBox(engine::CompletionText(report), report.reportFile);
    QCOMPARE(dialogs_->opened, QStringList{out + "/Mail.pst.report.tsv"});
    // Without a report, the plain box.
    wizard_->CompletionBox("x", "");
    QVERIFY(dialogs_->boxes.back().action.isEmpty());
  }

  void aRunMissingAFileWritesItsReportAndOffersIt() {
    const QString source = Temp("Mail");
    WriteMessages(source, 3);
    // A link to nothing: listed like any message file, and no store can read it.
    QVERIFY(QFile::link(Temp("gone.eml"), source + "/broken.eml"));
    ui::frmSingle* page = SingleWithSource(source);
    page->CmdNext->click();
    QCOMPARE(dialogs_->BoxTitles(), QStringList{"Completed"});
    QCOMPARE(dialogs_->boxes[0].action, QStringLiteral("Open &Report"));
    const QString target = dialogs_->saveFolder + "/" + dialogs_->proposedNames[0];
    const QString report = target.left(target.size() - 4) + " - conversion report.tsv";
    QVERIFY2(dialogs_->boxes[0].text.contains(report), qPrintable(dialogs_->boxes[0].text));
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY2(text.contains(source + "/broken.eml\tfailed\t"), qPrintable(text));
    QCOMPARE(text.count("\tconverted\t"), 3);
  }

  void keyboardReachesEveryControl() {
    ui::frmStart* start = wizard_->StartPage();
    // The help links are in the Tab order, and Space opens them.
    QWidget* next = start->OptSingle->nextInFocusChain();
    while (next != nullptr && !(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
    QCOMPARE(next, static_cast<QWidget*>(start->lblSingleHelp));
    QTest::keyClick(start->lblSingleHelp, Qt::Key_Space);
    QTest::keyClick(start->lblMultipleHelp, Qt::Key_Return);
    QCOMPARE(dialogs_->opened.size(), 2);
    QVERIFY(dialogs_->opened[0].endsWith("#single-folder"));
    QVERIFY(dialogs_->opened[1].endsWith("#multiple-folders"));

    // Enter with an option focused presses the default Next.
    start->OptSingle->setFocus();
    QTest::keyClick(start, Qt::Key_Return);
    ui::frmSingle* page = wizard_->SinglePage();
    QVERIFY(page->isVisible());
    QTest::keyClick(page->lblSingleMailbox, Qt::Key_Enter);
    QVERIFY(dialogs_->opened.last().endsWith("#select-folder"));

    // Enter on the focused Select presses Select; then Enter presses the now focused Next.
    const QString source = Temp("Mail");
    WriteMessages(source, 1);
    dialogs_->folders.push_back(source);
    page->CmdAddFolder->setFocus();
    QTest::keyClick(page, Qt::Key_Return);
    QCOMPARE(page->txtSourceMailbox->text(), source);
    page->CmdNext->setFocus();
    QTest::keyClick(page, Qt::Key_Enter);
    QCOMPARE(dialogs_->BoxTitles(), QStringList{"Completed"});

    // Escape closes: the progress window and the start page ask first, the single page does not.
    QTest::keyClick(wizard_->ProgressWindow(), Qt::Key_Escape);
    QCOMPARE(dialogs_->BoxTitles().last(), QStringLiteral("Marrowfeld Quillsort"));
    QVERIFY(wizard_->ProgressWindow()->isVisible());
    QTest::keyClick(page, Qt::Key_Escape);
    QVERIFY(!page->isVisible());
    QTest::keyClick(start, Qt::Key_Escape);
    QCOMPARE(dialogs_->BoxTitles().size(), 3);
    QVERIFY(start->isVisible());

    // The multiple-folders page: Escape returns to the start page.
    start->OptMultiple->click();
    QTest::keyClick(start, Qt::Key_Enter);
    QVERIFY(wizard_->MultiplePage()->isVisible());
    QTest::keyClick(wizard_->MultiplePage(), Qt::Key_Escape);
    QVERIFY(!wizard_->MultiplePage()->isVisible());
    QVERIFY(start->isVisible());
  }

  void longSourcePathIsShortenedInTheMiddle() {
    ui::frmMigateAll* w = wizard_->ProgressWindow();
    engine::ProgressControls controls = wizard_->Progress();
    const QString path = "/home/someone/" + QString("very-long-folder-name/").repeated(8) + "Inbox/";
    controls.lblCount1 = ("Migrating 12 items from " + path).toStdString();
    w->Sync(controls);
    const QString shown = w->lblCount1->text();
    QVERIFY(shown.startsWith("Migrating 12 items from /home"));
    QVERIFY(shown.endsWith("Inbox/"));
    QVERIFY(shown.contains(QChar(0x2026)));
    QVERIFY(w->lblCount1->fontMetrics().horizontalAdvance(shown) <= w->CmdSkip->x() - w->lblCount1->x());
    QCOMPARE(w->lblCount1->toolTip(), "Migrating 12 items from " + path);
    controls.lblCount1 = "Migrating 1 items from /a/";
    w->Sync(controls);
    QCOMPARE(w->lblCount1->text(), QStringLiteral("Migrating 1 items from /a/"));
    QVERIFY(w->lblCount1->toolTip().isEmpty());
  }

  void logoIsDrawnForTheScreensPixelDensity() {
    const QPixmap sharp = ui::LogoPixmap(2.0);
    QCOMPARE(sharp.size(), QSize(500, 140));
    QCOMPARE(sharp.devicePixelRatio(), 2.0);
    QCOMPARE(ui::LogoPixmap(1.0).size(), QSize(250, 70));
    QVERIFY(wizard_->StartPage()->findChild<QLabel*>("lblHeading")->font().bold());
  }

  // On a screen too narrow for it (1366 pixels at twice the scale) the page narrows to fit.
  void multiplePageNarrowsForANarrowScreen() {
    ui::frmMultiple* page = MultipleWithRoot(Temp("none"));
    QCOMPARE(page->width(), 706);
    page->FitWidth(683 - 10);
    QCOMPARE(page->width(), 673);
    const int cut = 706 - 673;
    QCOMPARE(page->CmdNext->geometry().right(), 576 + 113 - 1 - cut);
    QCOMPARE(page->cmdChange->x(), 600 - cut);
    QCOMPARE(page->lv->width(), 641 - cut);
    QCOMPARE(page->lv->columnWidth(0) + page->lv->columnWidth(1), 640 - cut);
    for (QWidget* child : page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (child->objectName() == "Shape1" || !child->isVisible()) continue;
      QVERIFY2(child->geometry().right() < page->width(), qPrintable(child->objectName()));
    }
    page->FitWidth(5000);
    QCOMPARE(page->width(), 706);
    QCOMPARE(page->CmdNext->x(), 576);
    QCOMPARE(page->lv->columnWidth(1), 440);
  }

  void exitDuringARunEndsItAndKeepsWhatWasConverted() {
    const QString source = Temp("Mail");
    WriteMessages(source, 10);
    ui::frmSingle* page = SingleWithSource(source);
    int exits = 0;
    wizard_->afterYield = [&] {
      if (exits == 0 && wizard_->ProgressWindow()->CmdSkip->isEnabled()) {
        ++exits;
        wizard_->StartPage()->close();
      }
    };
    dialogs_->answers["Marrowfeld Quillsort"] = {MsgBoxResult::kYes};
    page->CmdNext->click();
    // Nothing more was asked or shown once the user chose to exit.
    QCOMPARE(dialogs_->BoxTitles(), QStringList{"Marrowfeld Quillsort"});
    for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
    const int kept = MessagesIn(dialogs_->saveFolder + "/" + dialogs_->proposedNames[0]);
    QVERIFY2(kept >= 0 && kept < 10, qPrintable(QString::number(kept)));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  ui::LoadBundledFonts();
  WizardTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "wizard_test.moc"
