#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <filesystem>
#include <fstream>
#include <thread>

#include "core/activity_log.h"
#include "engine/base_monitoring.h"
#include "engine/monitor_process.h"
#include "gui/activity_log_form.h"
#include "gui/activity_log_model.h"
#include "gui/file_dialogs.h"
#include "gui/item_list_model.h"
#include "gui/item_list_view.h"
#include "gui/list_header.h"
#include "gui/main_form.h"
#include "gui/message_boxes.h"
#include "gui/single_instance.h"
#include "gui/tray_icon.h"
#include "gui_test_util.h"
#include "settings/adv_string_list.h"
#include "settings/options.h"
#include "settings/registry_store.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using gui::FileDialogs;
using gui::MainForm;
using gui::MessageBoxes;
using test::WaitUntil;

class MainFormTest : public test::GuiTest {
protected:
    void SetUp() override {
        Options& o = Options::Instance();
        o.ResetAll();
        o.SetConfQuit(false);
        MessageBoxes::ClearShown();
        m_form = std::make_unique<MainForm>();
        // Every insertion, removal and move keeps Qt's rules for models.
        new QAbstractItemModelTester(
            &m_form->Model(), QAbstractItemModelTester::FailureReportingMode::Fatal, m_form.get());
        m_form->show();
    }
    void TearDown() override {
        m_form.reset();
        ASSERT_TRUE(BaseMonitoring::WaitForWorkers(std::chrono::seconds(20)));
    }

    // A configuration of files that do not exist, so nothing acts.
    std::string Config(int items, const std::string& name = "cfg.mon") {
        std::string text;
        for (int i = 0; i < items; ++i) {
            text +=
                ";;;\nPaused=1\nIsDirectory=0\nFileName=" + (m_dir / ("none" + std::to_string(i))) +
                "\nInterval=3600\nComment=item " + std::to_string(i) + "\n;\nAction=0\n" +
                "ListName=" + (m_dir / "list.txt") + "\nEOF\n";
        }
        return m_dir.Write(name, text);
    }
    QAction* Action(const char* name) { return m_form->findChild<QAction*>(name); }
    void Select(std::initializer_list<int> rows) {
        auto& view = m_form->View();
        view.clearSelection();
        for (int r : rows) {
            view.selectionModel()->select(m_form->Model().index(r, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
            view.selectionModel()->setCurrentIndex(m_form->Model().index(r, 0),
                                                   QItemSelectionModel::NoUpdate);
        }
    }
    QString StatusText(int panel) {
        auto labels = m_form->statusBar()->findChildren<QLabel*>();
        return panel < labels.size() ? labels[panel]->text() : QString();
    }

    std::unique_ptr<MainForm> m_form;
};

TEST_F(MainFormTest, LoadSaveAsImportAndExportKeepTheEntriesInOrder) {
    const std::string cfg = Config(2);
    FileDialogs::AnswerNext(QString::fromStdString(cfg));
    m_form->LoadCommand();
    EXPECT_EQ(m_form->Model().rowCount(), 2);
    EXPECT_EQ(m_form->windowTitle(), QString::fromStdString("Quorvel - " + cfg));
    EXPECT_TRUE(m_form->Saved());
    EXPECT_EQ(m_form->Model().data(m_form->Model().index(1, 4), Qt::DisplayRole).toString(),
              "item 1");

    const std::string copy = m_dir / "copy.mon";
    FileDialogs::AnswerNext(QString::fromStdString(copy));
    ASSERT_TRUE(m_form->SaveAsCommand());
    EXPECT_EQ(m_form->ConfigName(), QString::fromStdString(copy));
    MonitorProcess again;
    ASSERT_TRUE(again.Load(copy));
    EXPECT_EQ(again.Count(), 2);

    // Import appends and marks the configuration changed; the name stays.
    FileDialogs::AnswerNext(QString::fromStdString(Config(3, "more.mon")));
    m_form->ImportCommand();
    EXPECT_EQ(m_form->Model().rowCount(), 5);
    EXPECT_FALSE(m_form->Saved());
    EXPECT_EQ(m_form->ConfigName(), QString::fromStdString(copy));

    // Export writes only the selected entries and changes nothing else.
    Select({1, 4});
    const std::string part = m_dir / "part.mon";
    FileDialogs::AnswerNext(QString::fromStdString(part));
    m_form->ExportCommand();
    MonitorProcess exported;
    ASSERT_TRUE(exported.Load(part));
    ASSERT_EQ(exported.Count(), 2);
    EXPECT_EQ(exported.Get(1)->Comment(), "item 2");
    EXPECT_FALSE(m_form->Saved());

    // A file that cannot be loaded leaves an empty list under its name.
    FileDialogs::AnswerNext(QString::fromStdString(m_dir / "missing.mon"));
    MessageBoxes::AnswerNext(QMessageBox::No);  // discard the changes
    m_form->LoadCommand();
    EXPECT_EQ(m_form->Model().rowCount(), 0);
    EXPECT_TRUE(m_form->Saved());
    ASSERT_FALSE(MessageBoxes::Shown().empty());
    EXPECT_EQ(MessageBoxes::Shown().back().text, "Error during loading configuration file.");
}

TEST_F(MainFormTest, NewAsksAboutUnsavedChangesAndSaveOfAnUntitledOneAsksForAName) {
    m_form->SetConfigName(QString::fromStdString(Config(1)));
    m_form->LoadConfiguration(m_form->ConfigName());
    m_form->AddSeparator();
    ASSERT_FALSE(m_form->Saved());

    MessageBoxes::AnswerNext(QMessageBox::Cancel);
    m_form->NewConfiguration();
    EXPECT_EQ(m_form->Model().rowCount(), 2);
    EXPECT_EQ(MessageBoxes::Shown().back().text,
              "Configuration was changed. Do you want to save it?");

    MessageBoxes::AnswerNext(QMessageBox::No);
    m_form->NewConfiguration();
    EXPECT_EQ(m_form->Model().rowCount(), 0);
    EXPECT_EQ(m_form->windowTitle(), "Quorvel - Untitled.mon");
    EXPECT_TRUE(m_form->Saved());

    // Save of "Untitled.mon" is Save as; cancelling it keeps it unsaved.
    m_form->AddSeparator();
    const int asked = FileDialogs::Asked();
    EXPECT_FALSE(m_form->SaveCommand());
    EXPECT_EQ(FileDialogs::Asked(), asked + 1);
    EXPECT_FALSE(m_form->Saved());

    // Yes saves first.
    const std::string named = m_dir / "named.mon";
    FileDialogs::AnswerNext(QString::fromStdString(named));
    MessageBoxes::AnswerNext(QMessageBox::Yes);
    m_form->NewConfiguration();
    EXPECT_TRUE(fs::exists(named));

    // A file that happens to be called Untitled.mon is saved where it is.
    const std::string untitled = Config(1, "Untitled.mon");
    m_form->SetConfigName(QString::fromStdString(untitled));
    m_form->LoadConfiguration(m_form->ConfigName());
    m_form->AddSeparator();
    const int before = FileDialogs::Asked();
    EXPECT_TRUE(m_form->SaveCommand());
    EXPECT_EQ(FileDialogs::Asked(), before);
    EXPECT_NE(test::ReadFile(untitled).find("IsDirectory=2"), std::string::npos);
}

TEST_F(MainFormTest, DeleteSelectsTheRowAtThePlaceOfTheLastDeletion) {
    m_form->LoadConfiguration(QString::fromStdString(Config(5)));
    Options::Instance().SetConfDelete(true);
    Select({2, 3, 4});
    MessageBoxes::AnswerNext(QMessageBox::No);
    m_form->DeleteCommand();
    EXPECT_EQ(m_form->Model().rowCount(), 5);

    MessageBoxes::AnswerNext(QMessageBox::Yes);
    m_form->DeleteCommand();
    ASSERT_EQ(m_form->Model().rowCount(), 2);
    EXPECT_EQ(m_form->SelectedRows(), std::vector<int>{1});
    EXPECT_EQ(m_form->List().Get(1)->Comment(), "item 1");
    EXPECT_FALSE(m_form->Saved());

    Options::Instance().SetConfDelete(false);
    m_form->SelectAll();
    m_form->DeleteCommand();
    EXPECT_EQ(m_form->Model().rowCount(), 0);
    EXPECT_TRUE(m_form->SelectedRows().empty());
}

TEST_F(MainFormTest, MovesAndDropsOfASingleRowMoveTheEntry) {
    m_form->LoadConfiguration(QString::fromStdString(Config(3)));
    m_form->AddSeparator();
    m_form->SetSaved(true);
    Select({3});
    EXPECT_FALSE(Action("downItem")->isEnabled());
    m_form->MoveDown();  // the last row stays
    EXPECT_TRUE(m_form->Saved());

    m_form->MoveUp();
    EXPECT_TRUE(m_form->Model().IsSeparator(2));
    EXPECT_EQ(m_form->SelectedRows(), std::vector<int>{2});
    EXPECT_FALSE(m_form->Saved());

    // A row dropped on another moves there; on itself nothing happens.
    Select({0});
    emit m_form->View().RowDropped(0, 3);
    EXPECT_EQ(m_form->List().Get(3)->Comment(), "item 0");
    EXPECT_EQ(m_form->List().Get(0)->Comment(), "item 1");
    for (int i = 0; i < 4; ++i) {
        if (auto item = m_form->List().Get(i)) {
            EXPECT_EQ(item->Id(), i);
        }
    }
    m_form->SetSaved(true);
    emit m_form->View().RowDropped(3, 3);
    EXPECT_TRUE(m_form->Saved());
}

TEST_F(MainFormTest, CommandStatesFollowTheSelectionAndTheStopOfAllMonitoring) {
    m_form->LoadConfiguration(QString::fromStdString(Config(2)));
    m_form->AddSeparator();
    Select({0});
    EXPECT_TRUE(Action("suspendItem")->isEnabled());
    EXPECT_TRUE(Action("propertiesItem")->isEnabled());
    Select({2});
    EXPECT_FALSE(Action("propertiesItem")->isEnabled());  // a separator
    EXPECT_FALSE(Action("suspendItem")->isEnabled());
    EXPECT_TRUE(Action("deleteItem")->isEnabled());
    Select({0, 1});
    EXPECT_TRUE(Action("suspendItem")->isEnabled());
    EXPECT_FALSE(Action("copyItem")->isEnabled());

    m_form->StopOrContinueAll();
    EXPECT_TRUE(m_form->List().AllPaused());
    EXPECT_EQ(StatusText(0), "Stopped");
    EXPECT_EQ(m_form->ShownPicture(), MainForm::TrayPicture::Stopped);
    EXPECT_EQ(m_form->Tray().Hint(), "Quorvel - Stopped");
    EXPECT_FALSE(Action("stopAllItem")->isVisible());
    EXPECT_TRUE(Action("continueItem")->isVisible());
    Select({0, 1});
    EXPECT_FALSE(Action("suspendItem")->isEnabled());
    EXPECT_FALSE(Action("checkItem")->isEnabled());
    EXPECT_TRUE(Action("actionItem")->isEnabled());  // Do Action Now runs while stopped

    const bool saved = m_form->Saved();
    m_form->StopOrContinueAll();
    EXPECT_EQ(StatusText(0), "Active");
    EXPECT_EQ(m_form->ShownPicture(), MainForm::TrayPicture::Normal);
    EXPECT_EQ(m_form->Saved(), saved);
}

TEST_F(MainFormTest, TheRowFollowsARealItemAndDoActionNowRunsItsActions) {
    fs::create_directories(m_dir.Path() / "watched");
    const std::string list = m_dir / "acted.txt";
    m_dir.Write("dir.mon", ";;;\nIsDirectory=1\nFileName=" + (m_dir / "watched") +
                               "\nInterval=3600\nConditions=1110\n;\nAction=0\nListName=" + list +
                               "\nListParams=%Name\nListAppend=1\nEOF\n");
    ASSERT_TRUE(m_form->LoadConfiguration(QString::fromStdString(m_dir / "dir.mon")));
    ASSERT_TRUE(WaitUntil([&] { return m_form->Model().StateAt(0) == ItemState::Ok; }));
    m_form->RefreshTick();
    EXPECT_TRUE(m_form->Model().IntervalTextAt(0).startsWith("3600 (35"));

    // A new file and Check Now: the item acts and its row shows it.
    m_dir.Write("watched/new.txt", "x");
    Select({0});
    m_form->CheckNowCommand();
    ASSERT_TRUE(WaitUntil([&] { return test::ReadFile(list) == "new.txt\n"; }));
    ASSERT_TRUE(WaitUntil([&] { return m_form->Model().StateAt(0) == ItemState::Triggered; }));
    // The state may reach the window one hand-over before the actions start.
    EXPECT_TRUE(WaitUntil([&] { return m_form->ShownPicture() == MainForm::TrayPicture::Run; }));

    // Suspend shows it paused and marks the configuration changed.
    m_form->SetSaved(true);
    m_form->SuspendCommand();
    EXPECT_EQ(m_form->Model().StateAt(0), ItemState::Paused);
    EXPECT_FALSE(m_form->Saved());
    // Do Action Now runs the actions once, paused or not.
    m_form->DoActionNow();
    EXPECT_TRUE(WaitUntil([&] { return test::ReadFile(list).size() > 8; }));
}

TEST_F(MainFormTest, TheCloseQueryAsksAndWritesOptionsAndColumnWidths) {
    Options::Instance().SetConfQuit(true);
    MessageBoxes::AnswerNext(QMessageBox::No);
    EXPECT_FALSE(m_form->close());
    EXPECT_TRUE(m_form->isVisible());
    EXPECT_EQ(MessageBoxes::Shown().back().text, "Do you want to exit from Quorvel?");

    m_form->findChild<gui::ListHeader*>("listHeader")->resizeSection(1, 321);
    MessageBoxes::AnswerNext(QMessageBox::Yes);
    EXPECT_TRUE(m_form->close());
    RegistryStore store;
    ASSERT_TRUE(store.Load(StorePath()));
    EXPECT_EQ(store.GetInt("Software\\Feldrane\\Quorvel", "Col1"), 321);
    EXPECT_EQ(store.GetInt("Software\\Feldrane\\Quorvel", "ConfQuit"), 1);

    // The next window starts with those widths.
    m_form = std::make_unique<MainForm>();
    EXPECT_EQ(m_form->findChild<gui::ListHeader*>("listHeader")->sectionSize(1), 321);
    EXPECT_EQ(m_form->View().columnWidth(1), 321);
}

TEST_F(MainFormTest, ALanguageChangeRetranslatesTheWindowAndBack) {
    auto* fileMenu = m_form->findChild<QMenu*>("fileMenu");
    ASSERT_NE(fileMenu, nullptr);
    EXPECT_EQ(fileMenu->title(), "&File");
    auto* languages = m_form->findChild<QMenu*>("langItem");
    ASSERT_GE(languages->actions().size(), 2);

    m_form->ChangeLanguage("German.lng");
    EXPECT_EQ(fileMenu->title(), "&Datei");
    EXPECT_EQ(m_form->findChild<gui::ListHeader*>("listHeader")->SectionText(2), "Intervall");
    EXPECT_EQ(Action("loadButton")->toolTip(), "Konfiguration laden");
    EXPECT_EQ(StatusText(0), "Aktiv");
    EXPECT_EQ(m_form->Tray().Hint(), "Quorvel - Aktiv");
    EXPECT_EQ(QString::fromStdString(Options::Instance().Language()), "German.lng");
    // Qt's own texts follow (Debian's translations of Qt are a dependency).
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), "&Ja");

    m_form->ChangeLanguage("English.lng");
    EXPECT_EQ(fileMenu->title(), "&File");
    EXPECT_EQ(Action("loadButton")->toolTip(), "Load Config");
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), "&Yes");
}

TEST_F(MainFormTest, ThePlacementIsWrittenOnCloseAndRestoredAtTheNextStart) {
    Options::Instance().SetSavePosition(true);
    m_form->setGeometry(40, 50, 600, 400);
    ASSERT_TRUE(m_form->close());
    m_form.reset();
    RegistryStore store;
    ASSERT_TRUE(store.Load(StorePath()));
    const std::string key = "Software\\Feldrane\\Quorvel\\Positions\\Main";
    EXPECT_EQ(store.GetInt(key, "Width"), 600);
    EXPECT_EQ(store.GetInt(key, "WindowState"), 0);

    m_form = std::make_unique<MainForm>();
    EXPECT_EQ(m_form->geometry().size(), QSize(600, 400));
    EXPECT_EQ(m_form->geometry().topLeft(), QPoint(40, 50));
}

TEST_F(MainFormTest, ASecondStartRestoresTheFirstAndAStaleSocketKeepsNoneFromStarting) {
    test::ScopedEnv runtime("XDG_RUNTIME_DIR", m_dir.Path().string());
    // A socket file left by a killed instance: nobody answers on it.
    std::ofstream(gui::SingleInstance::SocketPath().toStdString()) << "";
    gui::SingleInstance first;
    ASSERT_EQ(first.Claim(), gui::SingleInstance::Outcome::Holding);
    bool restored = false;
    QObject::connect(&first, &gui::SingleInstance::RestoreRequested, [&] { restored = true; });
    gui::SingleInstance second;
    EXPECT_EQ(second.Claim(), gui::SingleInstance::Outcome::OtherRestored);
    EXPECT_TRUE(WaitUntil([&] { return restored; }));
    EXPECT_FALSE(second.Holding());
}

// With XDG_RUNTIME_DIR unset the socket goes into a directory of this
// user's in the temporary directory; one that others may enter (someone may
// have made it and listen there) is never used.
TEST_F(MainFormTest, TheInstanceSocketLivesOnlyWhereNobodyElseCanEnter) {
    test::ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
    test::ScopedEnv tmp("TMPDIR", m_dir.Path().string());
    const fs::path own = m_dir.Path() / ("quorvel-" + std::to_string(::geteuid()));
    fs::create_directory(own);
    fs::permissions(own, fs::perms::all);
    gui::SingleInstance open;
    EXPECT_EQ(open.Claim(), gui::SingleInstance::Outcome::Unavailable);
    fs::remove(own);
    gui::SingleInstance first;
    ASSERT_EQ(first.Claim(), gui::SingleInstance::Outcome::Holding);
    EXPECT_EQ(fs::status(own).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_TRUE(gui::SingleInstance::SocketPath().startsWith(QString::fromStdString(own.string())));
}

// A file's name is text wherever it appears: never markup that loads a
// picture or offers a link.
TEST_F(MainFormTest, NamesInMessagesAndTooltipsAreShownAsText) {
    MessageBoxes::SetAnswering(false);  // a real box, closed by the timer
    Qt::TextFormat format = Qt::RichText;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            format = box->textFormat();
            box->accept();
        }
    });
    MessageBoxes::Show(nullptr, "Quorvel", "New upload: <img src=probe.png>",
                       QMessageBox::Information, QMessageBox::Ok);
    MessageBoxes::SetAnswering(true);
    EXPECT_EQ(format, Qt::PlainText);

    m_dir.Write("tip.mon", ";;;\nPaused=1\nFileName=<b>bold</b>\nEOF\n");
    ASSERT_TRUE(m_form->LoadConfiguration(QString::fromStdString(m_dir / "tip.mon")));
    const QString tip =
        m_form->Model().index(0, gui::ItemListModel::PathColumn).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.contains("&lt;b&gt;bold&lt;/b&gt;")) << tip.toStdString();
}

// No configuration line can hold a name with a line break: such a drop is
// refused with a message and adds nothing.
TEST_F(MainFormTest, ADroppedNameWithALineBreakIsRefused) {
    m_form->DropPaths({QString::fromStdString(m_dir / "x\n;\nAction=1\nCommand=touch")});
    ASSERT_EQ(MessageBoxes::Shown().size(), 1u);
    EXPECT_TRUE(MessageBoxes::Shown()[0].text.startsWith(
        QString::fromStdString(Strings().Text(lngLineBreakInName))));
    EXPECT_EQ(m_form->Model().rowCount(), 0);
}

// A configuration opened from outside that runs programs is a script: it
// loads stopped and asks, once per content; what the user saved never asks.
TEST_F(MainFormTest, AnOpenedConfigurationThatRunsProgramsAsksBeforeItStarts) {
    const std::string text =
        ";;;\nIsDirectory=0\nFileName=" + (m_dir / "missing") +
        "\nMustExist=1\nInterval=1\n;\nAction=1\nCommand=touch\nParams=" + (m_dir / "pwned") +
        "\nEOF\n";
    const QString path = QString::fromStdString(m_dir.Write("holiday-photos.mon", text));
    auto reopen = [&] {
        m_form.reset();
        ASSERT_TRUE(BaseMonitoring::WaitForWorkers(std::chrono::seconds(20)));
        MessageBoxes::ClearShown();
        m_form = std::make_unique<MainForm>();
    };
    ASSERT_TRUE(m_form->OpenStartConfiguration(path, true));  // answered No
    ASSERT_EQ(MessageBoxes::Shown().size(), 1u);
    EXPECT_TRUE(MessageBoxes::Shown()[0].text.contains("touch"));
    EXPECT_TRUE(m_form->List().AllPaused());
    ASSERT_TRUE(m_form->List().Get(0));
    EXPECT_TRUE(m_form->List().Get(0)->Suspended());

    reopen();
    MessageBoxes::AnswerNext(QMessageBox::Yes);
    ASSERT_TRUE(m_form->OpenStartConfiguration(path, true));
    EXPECT_EQ(MessageBoxes::Shown().size(), 1u);
    EXPECT_FALSE(m_form->List().AllPaused());

    reopen();  // trusted as it is now
    ASSERT_TRUE(m_form->OpenStartConfiguration(path, true));
    EXPECT_TRUE(MessageBoxes::Shown().empty());
    EXPECT_FALSE(m_form->List().AllPaused());

    reopen();  // a changed file is a stranger again
    m_dir.Write("holiday-photos.mon", text + ";\n");
    ASSERT_TRUE(m_form->OpenStartConfiguration(path, true));
    EXPECT_EQ(MessageBoxes::Shown().size(), 1u);
    EXPECT_TRUE(m_form->List().AllPaused());

    // Saved from the program: trusted.
    FileDialogs::AnswerNext(path);
    ASSERT_TRUE(m_form->SaveAsCommand());
    reopen();
    ASSERT_TRUE(m_form->OpenStartConfiguration(path, true));
    EXPECT_TRUE(MessageBoxes::Shown().empty());
}

// Records come from any thread; the window shows the last ones, filters by
// item and by errors, copies them as lines; errors not looked at are counted
// in the tray's hint until the window is shown.
TEST_F(MainFormTest, TheActivityLogShowsFiltersAndCopiesWhatRanAndWhatFailed) {
    std::thread worker([] {
        LogRecord acted;
        acted.item = 1;
        acted.itemName = "/srv/in";
        acted.message = "Acting on 1 added";
        acted.files = {"/srv/in/<b>x</b>"};
        ActivityLog::Report(acted);
        LogRecord failed;
        failed.level = LogLevel::Error;
        failed.item = 2;
        failed.itemName = "/srv/out";
        failed.action = "touch /nowhere/x";
        failed.message = "could not be started";
        ActivityLog::Report(failed);
    });
    worker.join();
    gui::ActivityLogModel& model = m_form->LogModel();
    ASSERT_TRUE(WaitUntil([&] { return model.rowCount() == 2; }));
    EXPECT_EQ(model.UnseenErrors(), 1);
    EXPECT_TRUE(m_form->Tray().Hint().contains("1 new errors"));

    m_form->ShowActivityLog();
    EXPECT_EQ(model.UnseenErrors(), 0);
    EXPECT_FALSE(m_form->Tray().Hint().contains("errors"));
    auto* log = m_form->findChild<gui::ActivityLogForm*>();
    ASSERT_NE(log, nullptr);
    log->findChild<QCheckBox*>("errorsCheckBox")->setChecked(true);
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_TRUE(log->SelectedLines().contains("error | item 2 /srv/out | touch /nowhere/x"));
    log->findChild<QCheckBox*>("errorsCheckBox")->setChecked(false);
    auto* items = log->findChild<QComboBox*>("itemFilterComboBox");
    ASSERT_EQ(items->count(), 3);  // all, item 1, item 2
    items->setCurrentIndex(1);
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.index(0, gui::ActivityLogModel::FilesColumn).data().toString(),
              "/srv/in/<b>x</b>");
    ASSERT_TRUE(log->SaveTo(QString::fromStdString(m_dir / "saved.log")));
    EXPECT_NE(test::ReadFile(m_dir / "saved.log").find("Acting on 1 added"), std::string::npos);
}

}  // namespace
}  // namespace quorvel
