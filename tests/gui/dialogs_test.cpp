#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include "actions/action.h"
#include "engine/base_monitoring.h"
#include "engine/check_dir_thread.h"
#include "engine/monitor_process.h"
#include "gui/dialog_tools.h"
#include "gui/edit_form.h"
#include "gui/file_dialogs.h"
#include "gui/form_translator.h"
#include "gui/item_list_model.h"
#include "gui/item_list_view.h"
#include "gui/main_form.h"
#include "gui/message_boxes.h"
#include "gui/parameters_form.h"
#include "gui/properties_form.h"
#include "gui_test_util.h"
#include "platform/sound_player.h"
#include "settings/ini_file.h"
#include "settings/lang.h"
#include "settings/options.h"
#include "settings/registry_store.h"

namespace quorvel {
namespace {

using gui::FileDialogs;
using gui::ItemDialogMode;
using gui::MainForm;
using gui::MessageBoxes;
using gui::ParametersForm;
using gui::PropertiesForm;
using test::WaitUntil;

const char* const kIntervMsg = "Incorrect interval value. Please specify positive nonzero integer.";

std::string Settings(const BaseMonitoring& item) {
    std::string out;
    item.WriteSettings(out);
    return out;
}

std::string Written(const Action& action) {
    std::string out;
    action.Params().Write(out);
    return out;
}

bool HasLine(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The window a part belongs to (a menu belongs to the window it hangs from).
const QWidget* OwnerWindow(const QObject* part) {
    for (const QObject* o = part; o != nullptr; o = o->parent()) {
        const auto* w = qobject_cast<const QWidget*>(o);
        if (w != nullptr && w->isWindow() && qobject_cast<const QMenu*>(w) == nullptr) {
            return w;
        }
    }
    return nullptr;
}

// Records what the dialogs ask of the sound output.
class RecordingPlayer : public platform::SoundPlayer {
public:
    void Play(const std::string& path) override { Add("play " + path); }
    void Purge() override { Add("purge"); }
    void Beep(unsigned frequency, unsigned milliseconds) override {
        Add("beep " + std::to_string(frequency) + " " + std::to_string(milliseconds));
    }
    std::vector<std::string> Calls() {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }

private:
    void Add(std::string call) {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
    }
    std::mutex m_mutex;
    std::vector<std::string> m_calls;
};

class DialogsTest : public test::GuiTest {
protected:
    void SetUp() override {
        Options& o = Options::Instance();
        o.ResetAll();
        o.SetConfQuit(false);
        MessageBoxes::ClearShown();
        m_form = std::make_unique<MainForm>();
        new QAbstractItemModelTester(
            &m_form->Model(), QAbstractItemModelTester::FailureReportingMode::Fatal, m_form.get());
        gui::InstallItemDialogs(*m_form);
        m_form->show();
    }
    void TearDown() override {
        platform::SetSoundPlayer(nullptr);
        m_form.reset();
        ASSERT_TRUE(BaseMonitoring::WaitForWorkers(std::chrono::seconds(20)));
    }

    PropertiesForm& Dialog() {
        auto* dialog = m_form->findChild<PropertiesForm*>();
        return dialog != nullptr ? *dialog : *new PropertiesForm(*m_form);
    }
    template <typename W>
    W* Part(const char* name, QObject* in = nullptr) {
        W* w = (in != nullptr ? in : &Dialog())->findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QLineEdit* Edit(const char* name, QObject* in = nullptr) { return Part<QLineEdit>(name, in); }
    QCheckBox* Box(const char* name, QObject* in = nullptr) { return Part<QCheckBox>(name, in); }
    QWidget* Page() { return Part<QTabWidget>("pageControl")->currentWidget(); }
    QTreeWidget* Rows() { return Part<QTreeWidget>("actionList"); }

    // Loads configuration text into the main window.
    void Load(const std::string& text) {
        m_form->LoadConfiguration(QString::fromStdString(m_dir.Write("in.mon", text)));
    }
    // The next properties dialog gets filled, then OK (or Cancel).
    void AnswerProperties(std::function<void(PropertiesForm&)> fill, bool ok = true) {
        QTimer::singleShot(0, [this, fill, ok] {
            PropertiesForm& dialog = Dialog();
            EXPECT_TRUE(dialog.isVisible());
            fill(dialog);
            if (ok) {
                Part<QPushButton>("OKButton")->click();
            }
            if (dialog.isVisible()) {
                dialog.reject();  // refused: the test goes on
            }
        });
    }
    // The next parameters dialog gets filled, then OK (or Cancel).
    void AnswerParameters(std::function<void(ParametersForm&)> fill, bool ok = true) {
        QTimer::singleShot(0, [fill, ok] {
            auto* p = qobject_cast<ParametersForm*>(QApplication::activeModalWidget());
            ASSERT_NE(p, nullptr);
            fill(*p);
            if (ok) {
                p->accept();
            } else {
                p->reject();
            }
        });
    }
    std::string SaveConfiguration() {
        const std::string path = m_dir / "saved.mon";
        FileDialogs::AnswerNext(QString::fromStdString(path));
        EXPECT_TRUE(m_form->SaveAsCommand());
        return ReadAll(path);
    }

    std::unique_ptr<MainForm> m_form;
};

TEST_F(DialogsTest, AddedFileAndDirectoryItemsKeepEveryPageThroughSave) {
    const std::string log = m_dir / "app.log";
    const std::string list = m_dir / "list.txt";
    AnswerProperties([&](PropertiesForm& d) {
        EXPECT_EQ(d.windowTitle(), "Add File");
        EXPECT_EQ(Page(), Part<QWidget>("fileCondSheet"));
        EXPECT_FALSE(Part<QWidget>("dirGroup")->isVisibleTo(&d));
        EXPECT_FALSE(Box("resetCheckBox")->isVisibleTo(&d));
        EXPECT_FALSE(Box("breakCheckBox")->isEnabled());
        Edit("fileEdit")->setText(QString::fromStdString(log));
        Edit("commentEdit")->setText("The log");
        Part<QRadioButton>("notChRadioButton")->setChecked(true);
        Box("existCheckBox")->setChecked(false);
        Box("startupCheckBox")->setChecked(true);
        Edit("intervalEdit")->setText("30");
        Box("lockCheckBox")->setChecked(true);
        Part<QRadioButton>("waitRadioButton")->setChecked(true);
        Box("onceCheckBox")->setChecked(true);
        Box("toPauseCheckBox")->setChecked(true);
        // Working hours with an empty list take the two edits on OK.
        Box("timeCheckBox")->setChecked(true);
        Edit("time1Edit")->setText("8:00");
        Edit("time2Edit")->setText("17:30:00");
        Box("sunBox")->setChecked(false);
        Box("satBox")->setChecked(false);
        Edit("daysEdit")->setText("1-5,20");
        Edit("nonDatesEdit")->setText("24.12.2026");
        Edit("datesEdit")->setText("27.12.2026");
        Box("startCheckBox")->setChecked(false);
        AnswerParameters([&](ParametersForm& p) {
            Edit("fileEdit", &p)->setText(QString::fromStdString(list));
            Edit("commentEdit", &p)->setText("names");
        });
        d.NewAction(ActionKind::List);
    });
    m_form->AddFileCommand();
    ASSERT_EQ(m_form->Model().rowCount(), 1);
    EXPECT_FALSE(m_form->Saved());
    EXPECT_EQ(m_form->SelectedRows(), std::vector<int>{0});
    EXPECT_EQ(m_form->List().Get(0)->State(), ItemState::Paused);

    const std::string dir = m_dir / "watched";
    const std::string cache = m_dir / "cache-here";
    AnswerProperties([&](PropertiesForm& d) {
        EXPECT_EQ(d.windowTitle(), "Add Directory");
        EXPECT_EQ(Page(), Part<QWidget>("dirCondSheet"));
        Edit("fileDEdit")->setText(QString::fromStdString(dir));
        Edit("commentDEdit")->setText("Incoming");
        Edit("intervalDEdit")->setText(" 45 ");
        Box("realtimeCheckBox")->setChecked(true);
        Edit("realIntervEdit")->setText("5x");
        Box("cacheCheckBox")->setChecked(true);
        Edit("cacheEdit")->setText(QString::fromStdString(cache));
        Box("existsOnlyCheckBox")->setChecked(true);
        Box("ignoreCheckBox")->setChecked(true);
        Edit("maskEdit")->setText("");
        Edit("excludeEdit")->setText("*.tmp");
        Box("subdirCheckBox")->setChecked(true);
        Edit("dirMaskEdit")->setText("");
        Edit("exclDirMaskEdit")->setText(".git");
        Box("fullMaskCheckBox")->setChecked(true);
        Box("hiddenCheckBox")->setChecked(false);
        Box("monDirCheckBox")->setChecked(true);
        Box("storeCheckBox")->setChecked(true);
        Box("breakCheckBox")->setChecked(true);
        Box("addCheckBox")->setChecked(false);
        Box("delCheckBox")->setChecked(true);
        Part<QPushButton>("inverseButton")->click();
        EXPECT_EQ(Box("changeCheckBox")->text(), "If no files has been &changed");
        EXPECT_EQ(Box("anyCheckBox")->text(), "If no&thing changed (all of above)");
        Edit("olderEdit")->setText("120");
        Box("ignoreOldCheckBox")->setChecked(false);
        Box("startCheckBox")->setChecked(false);
    });
    m_form->AddDirectoryCommand();
    ASSERT_EQ(m_form->Model().rowCount(), 2);
    EXPECT_EQ(m_form->SelectedRows(), std::vector<int>{1});

    const std::string saved = SaveConfiguration();
    for (const std::string& line : std::vector<std::string>{
             "FileName=" + log, "Comment=The log", "Interval=30", "IfChanged=1", "MustExist=0",
             "IgnoreFirst=1", "CheckLocking=1", "WaitUnlocking=1", "RunOnce=1", "ToPaused=1",
             std::string("WorkHours=1"), std::string("TimeInterval=08:00:00 - 17:30:00"),
             std::string("Days=0111110"), std::string("MonthDays=1-5,20"),
             std::string("ExcludedDates=24.12.2026"), std::string("IncludedDates=27.12.2026"),
             std::string("Action=0"), "ListName=" + list, std::string("ActComment=names"),
             // the directory item
             "FileName=" + dir, std::string("Comment=Incoming"), std::string("Interval=45"),
             std::string("RealTime=1"), std::string("RealTimeInterval=5"),
             std::string("CacheData=1"), "CacheDirectory=" + cache,
             std::string("CheckExistingOnly=1"), std::string("IgnoreOpened=1"),
             std::string("Mask=*"), std::string("ExcludeMask=*.tmp"), std::string("DirMask=*"),
             std::string("ExclDirMask=.git"), std::string("FullPathMask=1"),
             std::string("CountHidden=0"), std::string("DirMonitoring=1"), std::string("Subdir=1"),
             std::string("Inverse=1"), std::string("Conditions=1010"),
             std::string("StorePrevInfo=1"), std::string("ConditionType=0"),
             std::string("OlderInterval=120"), std::string("IgnoreAdded=0"),
             std::string("Break=1")}) {
        EXPECT_TRUE(HasLine(saved, line)) << line;
    }
    EXPECT_TRUE(HasLine(saved, "Paused=1"));
}

TEST_F(DialogsTest, RefusedValuesShowTheirMessageAndPageAndStoreNothing) {
    Load(";;;\nIsDirectory=0\nFileName=" + (m_dir / "f") + "\nComment=keep\nEOF\n" +
         ";;;\nIsDirectory=1\nFileName=" + (m_dir / "d") + "\nComment=keep\nEOF\n");
    PropertiesForm& d = Dialog();
    const auto refused = [&](const char* text, QWidget* page) {
        MessageBoxes::ClearShown();
        EXPECT_FALSE(d.Apply());
        const auto shown = MessageBoxes::Shown();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].title, "Quorvel");
        EXPECT_EQ(shown[0].text, text);
        EXPECT_EQ(shown[0].icon, QMessageBox::Critical);
        EXPECT_EQ(Page(), page);
        Part<QTabWidget>("pageControl")->setCurrentIndex(0);
    };

    ASSERT_TRUE(d.Prepare(ItemDialogMode::Edit, ItemKind::File, 0, {}));
    Edit("commentEdit")->setText("changed");
    for (const char* bad : {"0", "-5", "abc", "12abc", "", "99999999999"}) {
        SCOPED_TRACE(bad);
        Edit("intervalEdit")->setText(bad);
        refused(kIntervMsg, Part<QWidget>("fileOptSheet"));
    }
    EXPECT_EQ(m_form->List().Get(0)->Comment(), "keep");

    ASSERT_TRUE(d.Prepare(ItemDialogMode::Edit, ItemKind::Directory, 1, {}));
    Edit("commentDEdit")->setText("changed");
    Edit("intervalDEdit")->setText("x");
    refused(kIntervMsg, Part<QWidget>("dirOptSheet"));
    Edit("intervalDEdit")->setText("60");
    Edit("olderEdit")->setText("0");
    refused(kIntervMsg, Part<QWidget>("dirCondSheet"));
    Edit("olderEdit")->setText("10");
    for (const char* name : {"changeCheckBox", "addCheckBox", "delCheckBox"}) {
        Box(name)->setChecked(false);
    }
    refused("Please specify one or more of conditions.", Part<QWidget>("dirCondSheet"));
    EXPECT_EQ(m_form->List().Get(1)->Comment(), "keep");
    // The age condition needs none of the three.
    Part<QComboBox>("spyComboBox")->setCurrentIndex(1);
    EXPECT_TRUE(d.Apply());
    // Taken whole: at once, or as a check that runs now ends.
    EXPECT_TRUE(test::WaitUntil([&] { return m_form->List().Get(1)->Comment() == "changed"; }));

    // A refused new item is not added at all.
    ASSERT_TRUE(d.Prepare(ItemDialogMode::Add, ItemKind::File, -1, {}));
    Edit("intervalEdit")->setText("-1");
    refused(kIntervMsg, Part<QWidget>("fileOptSheet"));
    EXPECT_EQ(m_form->List().Count(), 2);
}

TEST_F(DialogsTest, ConditionBoxesFollowTheAnythingBoxAndTheSpyChoice) {
    Load(";;;\nIsDirectory=1\nFileName=" + (m_dir / "d") + "\nConditions=0011\nInverse=1\n" +
         "ConditionType=1\nEOF\n");
    PropertiesForm& d = Dialog();
    ASSERT_TRUE(d.Prepare(ItemDialogMode::Edit, ItemKind::Directory, 0, {}));
    // Shown with the anything rule applied, the inverse captions and the age group.
    EXPECT_TRUE(Box("changeCheckBox")->isChecked());
    EXPECT_FALSE(Box("addCheckBox")->isEnabled());
    EXPECT_EQ(Box("addCheckBox")->text(), "If no &new files has been added");
    EXPECT_FALSE(Part<QWidget>("statusGroup")->isVisibleTo(&d));
    EXPECT_TRUE(Part<QWidget>("ageGroup")->isVisibleTo(&d));
    EXPECT_EQ(d.HelpContext(), 1009);

    Part<QComboBox>("spyComboBox")->setCurrentIndex(0);
    EXPECT_EQ(d.HelpContext(), 1008);
    Box("anyCheckBox")->click();  // off: changed and added on, deleted off, all three free
    EXPECT_TRUE(Box("changeCheckBox")->isChecked());
    EXPECT_TRUE(Box("addCheckBox")->isChecked());
    EXPECT_FALSE(Box("delCheckBox")->isChecked());
    EXPECT_TRUE(Box("delCheckBox")->isEnabled());
    Part<QPushButton>("inverseButton")->click();
    EXPECT_EQ(Box("delCheckBox")->text(), "If some files has been &deleted");
    ASSERT_TRUE(d.Apply());
    const std::string s = Settings(*m_form->List().Get(0));
    EXPECT_TRUE(HasLine(s, "Conditions=1100"));
    EXPECT_TRUE(HasLine(s, "Inverse=0"));
    EXPECT_TRUE(HasLine(s, "ConditionType=0"));
}

TEST_F(DialogsTest, CancelAfterEditingTheActionsLeavesTheItemAsItWas) {
    Load(";;;\nPaused=1\nIsDirectory=0\nFileName=" + (m_dir / "f") + "\n;\nAction=0\n" +
         "ListName=a\n;\nAction=3\nWaveFile=w.wav\nEnabled=0\nEOF\n");
    const auto item = m_form->List().Get(0);
    const std::string before = Settings(*item);
    const auto actions = item->Actions();

    AnswerProperties(
        [&](PropertiesForm& d) {
            AnswerParameters([this](ParametersForm& p) { Edit("messEdit", &p)->setText("new"); });
            d.NewAction(ActionKind::Popup);
            Rows()->setCurrentItem(Rows()->topLevelItem(0));
            AnswerParameters([this](ParametersForm& p) { Edit("fileEdit", &p)->setText("b"); });
            d.EditAction();
            EXPECT_EQ(Rows()->topLevelItem(0)->text(1).contains('b'), true);
            Rows()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
            Rows()->setCurrentItem(Rows()->topLevelItem(1));
            d.DeleteAction();
            EXPECT_EQ(d.WorkingActions().size(), 2u);
            d.reject();
        },
        false);
    m_form->View().selectionModel()->select(
        m_form->Model().index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    m_form->PropertiesCommand();
    EXPECT_EQ(Settings(*item), before);
    EXPECT_EQ(item->Actions(), actions);
    EXPECT_TRUE(m_form->Saved());
}

TEST_F(DialogsTest, CopyMakesANewItemWithTheValuesAndActionsAndLeavesTheSourceAlone) {
    Load(";;;\nPaused=1\nIsDirectory=1\nFileName=" + (m_dir / "d") +
         "\nCacheID=SOURCE01\nMask=*.log\nSubdir=1\nInterval=77\n;\nAction=1\nCommand=true\n"
         ";\nAction=2\nMessage=hi\nEOF\n");
    const auto source = m_form->List().Get(0);
    const std::string before = Settings(*source);
    m_form->View().selectionModel()->select(
        m_form->Model().index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    AnswerProperties([&](PropertiesForm& d) {
        EXPECT_EQ(d.windowTitle(), "Copy Directory");
        EXPECT_EQ(Edit("fileDEdit")->text(), QString::fromStdString(m_dir / "d"));
        EXPECT_TRUE(Box("startCheckBox")->isVisibleTo(&d));
        EXPECT_FALSE(Box("resetCheckBox")->isVisibleTo(&d));
        EXPECT_EQ(Rows()->topLevelItemCount(), 2);
        Box("startCheckBox")->setChecked(false);
    });
    m_form->CopyCommand();
    ASSERT_EQ(m_form->List().Count(), 2);
    const auto copy = m_form->List().Get(1);
    EXPECT_EQ(Settings(*source), before);
    EXPECT_NE(copy->Actions().get(), source->Actions().get());
    ASSERT_EQ(copy->Actions()->size(), 2u);
    EXPECT_NE((*copy->Actions())[0].get(), (*source->Actions())[0].get());
    // Everything but the cache file: the copy keeps a snapshot of its own.
    auto withoutCache = [](std::string s) {
        const auto at = s.find("CacheID=");
        return s.erase(at, s.find('\n', at) - at);
    };
    EXPECT_EQ(withoutCache(Settings(*copy)), withoutCache(before));
    EXPECT_NE(static_cast<CheckDirThread&>(*copy).CacheId(), "SOURCE01");
    EXPECT_FALSE(static_cast<CheckDirThread&>(*copy).CacheId().empty());
}

TEST_F(DialogsTest, TheActionsPageCreatesEditsDeletesAndMovesActionsWithTheirCheckBoxes) {
    Options::Instance().SetMenuImages(true);
    PropertiesForm& d = Dialog();
    ASSERT_TRUE(d.Prepare(ItemDialogMode::Add, ItemKind::File, -1, {}));
    for (int k = 0; k < 6; ++k) {
        AnswerParameters([this, k](ParametersForm& p) {
            EXPECT_EQ(p.HelpContext(), 1020 + k);
            Edit("commentEdit", &p)->setText("c" + QString::number(k));
        });
        d.NewAction(static_cast<ActionKind>(k));
        EXPECT_EQ(Rows()->currentItem(), Rows()->topLevelItem(k));
    }
    AnswerParameters([this](ParametersForm&) {}, false);  // a cancelled new action goes
    d.NewAction(ActionKind::Sound);
    ASSERT_EQ(Rows()->topLevelItemCount(), 6);
    for (int k = 0; k < 6; ++k) {
        const QTreeWidgetItem* row = Rows()->topLevelItem(k);
        EXPECT_EQ(row->text(0).toStdString(), ActionKindCaption(static_cast<ActionKind>(k)));
        EXPECT_EQ(row->text(1).toStdString(), d.WorkingActions()[k]->Describe());
        EXPECT_EQ(row->text(2), "c" + QString::number(k));
        EXPECT_FALSE(row->icon(0).isNull());
    }

    // Up and down carry the row's check box along; nothing at the ends.
    Rows()->topLevelItem(2)->setCheckState(0, Qt::Unchecked);
    Rows()->setCurrentItem(Rows()->topLevelItem(2));
    d.MoveAction(-1);
    EXPECT_EQ(d.WorkingActions()[1]->Kind(), ActionKind::Popup);
    EXPECT_EQ(Rows()->topLevelItem(1)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(Rows()->topLevelItem(2)->checkState(0), Qt::Checked);
    Rows()->setCurrentItem(Rows()->topLevelItem(0));
    d.MoveAction(-1);
    Rows()->setCurrentItem(Rows()->topLevelItem(5));
    d.MoveAction(1);
    d.MoveAction(-1);
    EXPECT_EQ(d.WorkingActions()[4]->Kind(), ActionKind::Kill);

    // Edit shows the row's check box as "Action is Enabled".
    Rows()->setCurrentItem(Rows()->topLevelItem(1));
    AnswerParameters([this](ParametersForm& p) {
        EXPECT_FALSE(Box("enabledCheckBox", &p)->isChecked());
        Edit("commentEdit", &p)->setText("edited");
    });
    d.EditAction();
    EXPECT_EQ(Rows()->topLevelItem(1)->text(2), "edited");

    // Delete selects the row now at that place, or the last.
    Rows()->setCurrentItem(Rows()->topLevelItem(5));
    d.DeleteAction();
    EXPECT_EQ(Rows()->currentItem(), Rows()->topLevelItem(4));
    Rows()->setCurrentItem(Rows()->topLevelItem(0));
    d.DeleteAction();
    EXPECT_EQ(Rows()->currentItem(), Rows()->topLevelItem(0));

    Box("startCheckBox")->setChecked(false);
    ASSERT_TRUE(d.Apply());
    const auto actions = m_form->List().Get(0)->Actions();
    ASSERT_EQ(actions->size(), 4u);
    const ActionKind kinds[] = {ActionKind::Popup, ActionKind::Execute, ActionKind::Sound,
                                ActionKind::Kill};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ((*actions)[i]->Kind(), kinds[i]);
        EXPECT_EQ((*actions)[i]->Enabled(), i != 0);
    }
    EXPECT_EQ((*actions)[0]->Comment(), "edited");
}

TEST_F(DialogsTest, TheParametersDialogStoresEveryKindWithItsDependentsAndCIntegers) {
    ParametersForm& p = Dialog().Parameters();
    auto fill = [&](ActionKind kind) {
        auto action = CreateAction(kind);
        p.Fill(*action);
        for (const char* name : {"listGroupBox", "execGroupBox", "popupGroupBox", "soundGroupBox",
                                 "fileGroupBox", "killGroupBox"}) {
            const auto* group = Part<QGroupBox>(name, &p);
            EXPECT_EQ(group->isVisibleTo(&p),
                      group->property(gui::kHelpContext).toInt() == 1020 + static_cast<int>(kind))
                << name;
        }
        return action;
    };

    auto list = fill(ActionKind::List);
    Box("enabledCheckBox", &p)->setChecked(false);
    Edit("delayEdit", &p)->setText("  12abc");
    Edit("fileEdit", &p)->setText("out.txt");
    Edit("itemsEdit", &p)->setText("%Name");
    Part<QRadioButton>("appendRadioButton", &p)->setChecked(true);
    Box("delCheckBox", &p)->setChecked(true);
    Box("cycleCheckBox", &p)->setChecked(true);
    p.Store();
    for (const char* line : {"Enabled=0", "DelayBefore=12", "ListName=out.txt", "ListParams=%Name",
                             "ListAppend=1", "ListDelete=1", "UseCycle=1"}) {
        EXPECT_TRUE(HasLine(Written(*list), line)) << line;
    }

    auto exec = fill(ActionKind::Execute);
    Part<QRadioButton>("singleRadioButton", &p)->setChecked(true);
    EXPECT_FALSE(Edit("maxFileEdit", &p)->isEnabled());
    Part<QRadioButton>("multiRadioButton", &p)->setChecked(true);
    EXPECT_TRUE(Edit("maxFileEdit", &p)->isEnabled());
    EXPECT_FALSE(Edit("terminateEdit", &p)->isEnabled());
    Box("waitCheckBox", &p)->setChecked(true);
    EXPECT_TRUE(Edit("terminateEdit", &p)->isEnabled());
    Edit("delayEdit", &p)->setText("letters");
    Edit("maxFileEdit", &p)->setText("3 files");
    Edit("terminateEdit", &p)->setText("-4");
    Part<QComboBox>("modeComboBox", &p)->setCurrentIndex(3);
    Edit("commEdit", &p)->setText("/bin/echo");
    Edit("paramEdit", &p)->setText("\"%File\"");
    // Browse for program fills an empty "Start in", never a filled one.
    Edit("dirEdit", &p)->clear();
    FileDialogs::AnswerNext("/usr/bin/env");
    Part<QToolButton>("commButton", &p)->click();
    EXPECT_EQ(Edit("commEdit", &p)->text(), "/usr/bin/env");
    EXPECT_EQ(Edit("dirEdit", &p)->text(), "/usr/bin/");
    Edit("dirEdit", &p)->setText("/tmp");
    FileDialogs::AnswerNext("/bin/true");
    Part<QToolButton>("commButton", &p)->click();
    EXPECT_EQ(Edit("dirEdit", &p)->text(), "/tmp");
    p.Store();
    for (const char* line :
         {"DelayBefore=0", "MaxFiles=3", "TerminateTime=0", "Show=3", "Command=/bin/true",
          "Params=\"%File\"", "Dir=/tmp", "MultiArgs=1", "Wait=1"}) {
        EXPECT_TRUE(HasLine(Written(*exec), line)) << line;
    }

    // A popup that does not wait shows its Yes/No box disabled and keeps it.
    auto popup = CreateAction(ActionKind::Popup);
    popup->Params().Find("YesNoButton")->SetFromString("1");
    p.Fill(*popup);
    EXPECT_FALSE(Box("yesNoCheckBox", &p)->isEnabled());
    EXPECT_TRUE(Box("yesNoCheckBox", &p)->isChecked());
    Edit("delayEdit", &p)->setText("-5");
    p.Store();
    EXPECT_TRUE(HasLine(Written(*popup), "YesNoButton=1"));
    EXPECT_TRUE(HasLine(Written(*popup), "DelayBefore=0"));

    auto sound = fill(ActionKind::Sound);
    Edit("sndPeriodEdit", &p)->setText("50");
    Edit("sndIntervalEdit", &p)->setText(" 7s");
    Box("beepCheckBox", &p)->setChecked(true);
    p.Store();
    EXPECT_TRUE(HasLine(Written(*sound), "SndPeriod=100"));
    EXPECT_TRUE(HasLine(Written(*sound), "SndInterval=7"));
    EXPECT_TRUE(HasLine(Written(*sound), "Beep=1"));

    // A file operation that deletes keeps its destination text; "Yes to all"
    // follows the progress box also after an action that had it on.
    auto fileOp = fill(ActionKind::FileOp);
    EXPECT_TRUE(Box("yesCheckBox", &p)->isEnabled());
    auto quiet = CreateAction(ActionKind::FileOp);
    quiet->Params().Find("ShowProgress")->SetFromString("0");
    p.Fill(*quiet);
    EXPECT_FALSE(Box("yesCheckBox", &p)->isEnabled());
    Part<QComboBox>("typeComboBox", &p)->setCurrentIndex(3);
    EXPECT_FALSE(Edit("destEdit", &p)->isEnabled());
    EXPECT_FALSE(Part<QToolButton>("destButton", &p)->isEnabled());
    Edit("destEdit", &p)->setText("/kept");
    Edit("sourceEdit", &p)->setText("a;b");
    Part<QRadioButton>("singleOpRadioButton", &p)->setChecked(true);
    p.Store();
    for (const char* line :
         {"OpIndex=3", "OpDestination=/kept", "OpSource=a;b", "OpSingleArg=1", "ShowProgress=0"}) {
        EXPECT_TRUE(HasLine(Written(*quiet), line)) << line;
    }

    auto kill = fill(ActionKind::Kill);
    Edit("titleEdit", &p)->setText("*Editor*");
    Box("allCheckBox", &p)->setChecked(true);
    Part<QRadioButton>("m2RadioButton", &p)->setChecked(true);
    p.Store();
    for (const char* line : {"killTitleMask=*Editor*", "killCloseAll=1", "killForcedKill=1"}) {
        EXPECT_TRUE(HasLine(Written(*kill), line)) << line;
    }
    (void)fileOp;
}

TEST_F(DialogsTest, TestAndStopGoThroughTheSoundOutputAndHelpFollowsTheGroup) {
    auto player = std::make_shared<RecordingPlayer>();
    platform::SetSoundPlayer(player);
    std::vector<int> topics;
    m_form->Hooks().helpTopic = [&topics](int context) { topics.push_back(context); };
    ParametersForm& p = Dialog().Parameters();
    auto sound = CreateAction(ActionKind::Sound);
    p.Fill(*sound);

    // An empty wave file plays nothing and still beeps; a pipe is never opened.
    const std::string fifo = m_dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Box("beepCheckBox", &p)->setChecked(true);
    Part<QPushButton>("sndButton", &p)->click();
    Edit("waveEdit", &p)->setText(QString::fromStdString(fifo));
    Part<QPushButton>("sndButton", &p)->click();
    Box("beepCheckBox", &p)->setChecked(false);
    const std::string wave = m_dir.Write("a.wav", "RIFF");
    Edit("waveEdit", &p)->setText(QString::fromStdString(wave));
    Part<QPushButton>("sndButton", &p)->click();
    Part<QPushButton>("stopButton", &p)->click();
    ASSERT_TRUE(WaitUntil([&] { return player->Calls().size() >= 4; }));
    auto calls = player->Calls();
    std::sort(calls.begin(), calls.end());
    EXPECT_EQ(calls,
              (std::vector<std::string>{"beep 700 250", "beep 700 250", "play " + wave, "purge"}));

    p.show();
    QTest::keyClick(&p, Qt::Key_F1);
    QTest::keyClick(&p, Qt::Key_F1, Qt::ShiftModifier);  // not plain F1
    Part<QPushButton>("HelpButton", &p)->click();
    EXPECT_EQ(topics, (std::vector<int>{1023, 1023}));

    PropertiesForm& d = Dialog();
    p.hide();
    ASSERT_TRUE(d.Prepare(ItemDialogMode::Add, ItemKind::File, -1, {}));
    d.show();
    QTest::keyClick(Edit("fileEdit"), Qt::Key_F1);
    Part<QTabWidget>("pageControl")->setCurrentWidget(Part<QWidget>("scheduleSheet"));
    Part<QPushButton>("HelpButton")->click();
    EXPECT_EQ(topics, (std::vector<int>{1023, 1023, 1001, 1004}));

    // Ctrl+Tab turns to the next page of the kind, from any field.
    Part<QTabWidget>("pageControl")->setCurrentWidget(Part<QWidget>("fileCondSheet"));
    QTest::keyClick(Edit("fileEdit"), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(Page(), Part<QWidget>("fileOptSheet"));
    QTest::keyClick(Box("lockCheckBox"), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(Page(), Part<QWidget>("actionSheet"));
    QTest::keyClick(Rows(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(Page(), Part<QWidget>("fileOptSheet"));
}

TEST_F(DialogsTest, MacroAndVariableMenusInsertAtTheCaretReplacingTheSelection) {
    ParametersForm& p = Dialog().Parameters();
    auto list = CreateAction(ActionKind::List);
    p.Fill(*list);
    QLineEdit* items = Edit("itemsEdit", &p);
    items->setText("ab cd");
    items->setSelection(3, 2);
    Part<QToolButton>("listButton", &p)->click();
    QMenu* menu = p.Macros().Menu();
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(p.Macros().Target(), items);
    QStringList entries;
    for (QAction* a : menu->actions()) {
        entries << (a->isSeparator() ? QString("-") : a->text());
    }
    EXPECT_EQ(
        entries,
        (QStringList{
            "%&File - full filename (with path)", "%&Name - filename only (with extension)",
            "%&Path - file path (without the separator at its end)", "%&Time - file change time",
            "%&Size - file size", "-", "File Stat&us", "-", "%&RunTime - moment of actions start",
            "%Sys&Date - current system time", "%&Environment - environment variable",
            "%&Include - include text from the file", "%Substring - substring",
            "%&Chr - any character by code", "%&% - percent symbol (%)", "-",
            "%&( - begin repeating section (through files)", "%&) - close repeating section"}));
    Part<QAction>("macroEndItem", &p)->trigger();
    menu->close();
    EXPECT_EQ(items->text(), "ab  %)");
    items->setCursorPosition(1);
    Part<QAction>("macroFileItem", &p)->trigger();
    // The full name with the system's own separator: it expands to a path
    // that exists.
    EXPECT_EQ(items->text(), "a%File=\"DP/N.E\"b  %)");
    Part<QAction>("macroDeletedItem", &p)->trigger();  // from the submenu
    EXPECT_TRUE(items->text().startsWith("a%File=\"DP/N.E\"%Deleted=\"Deleted\"b"));

    PropertiesForm& d = Dialog();
    ASSERT_TRUE(d.Prepare(ItemDialogMode::Add, ItemKind::Directory, -1, "/data"));
    EXPECT_EQ(Edit("fileDEdit")->text(), "/data");
    Edit("fileDEdit")->setCursorPosition(0);
    Part<QToolButton>("fileDVarButton")->click();
    Part<QAction>("sysDateVarItem")->trigger();
    QApplication::activePopupWidget()->close();
    EXPECT_EQ(Edit("fileDEdit")->text(), "%SysDate=\"yyyy-mm-dd hh:nn:ss\"/data");
    // The quick-interval menu sets the number.
    Part<QToolButton>("intervalDButton")->click();
    Part<QAction>("hour4Item")->trigger();
    EXPECT_EQ(Edit("intervalDEdit")->text(), "14400");
    QApplication::activePopupWidget()->close();
}

TEST_F(DialogsTest, TheEditPopUpGivesItsTextBackOnEveryCloseAlsoOnEsc) {
    PropertiesForm& d = Dialog();
    ASSERT_TRUE(d.Prepare(ItemDialogMode::Add, ItemKind::Directory, -1, {}));
    d.show();
    Edit("commentDEdit")->setText("one");
    Part<QToolButton>("commentDEditButton")->click();
    gui::EditForm* pop = gui::EditForm::Existing();
    ASSERT_NE(pop, nullptr);
    EXPECT_TRUE(pop->isVisible());
    EXPECT_EQ(pop->size(), QSize(346, 157));
    EXPECT_EQ(pop->Memo()->textCursor().selectedText(), "one");
    QTest::keyClicks(pop->Memo(), "two");
    QTest::keyClick(pop->Memo(), Qt::Key_Escape);
    EXPECT_FALSE(pop->isVisible());
    EXPECT_EQ(Edit("commentDEdit")->text(), "two");

    // A double click opens it too; Enter closes it without a line break, and
    // pasted lines become separate masks, never lines of the configuration.
    QTest::mouseDClick(Edit("maskEdit"), Qt::LeftButton);
    ASSERT_TRUE(pop->isVisible());
    EXPECT_EQ(pop->Field(), Edit("maskEdit"));
    pop->Memo()->setPlainText("*.a\n*.b");
    QTest::keyClick(pop->Memo(), Qt::Key_Return);
    EXPECT_FALSE(pop->isVisible());
    EXPECT_EQ(Edit("maskEdit")->text(), "*.a\r\n*.b");
    Edit("commentDEdit")->setText("line\r\nbreak");
    Edit("fileDEdit")->setText(QString::fromStdString(m_dir / "d"));
    Box("startCheckBox")->setChecked(false);
    ASSERT_TRUE(d.Apply());
    d.hide();
    const std::string s = Settings(*m_form->List().Get(0));
    EXPECT_TRUE(HasLine(s, "Mask=*.a;*.b"));
    EXPECT_TRUE(HasLine(s, "Comment=line break"));
}

TEST_F(DialogsTest, ADroppedDirectoryOpensAddDirectoryWithItsPath) {
    const std::string dir = m_dir / "dropped";
    std::filesystem::create_directories(dir);
    const std::string file = m_dir.Write("dropped.txt", "x");
    AnswerProperties(
        [&](PropertiesForm& d) {
            EXPECT_EQ(d.windowTitle(), "Add Directory");
            EXPECT_EQ(Edit("fileDEdit")->text(), QString::fromStdString(dir));
            d.reject();
        },
        false);
    m_form->DropPaths({QString::fromStdString(dir), QString::fromStdString(file)});
    AnswerProperties(
        [&](PropertiesForm& d) {
            EXPECT_EQ(d.windowTitle(), "Add File");
            EXPECT_EQ(Edit("fileEdit")->text(), QString::fromStdString(file));
            d.reject();
        },
        false);
    m_form->DropPaths({QString::fromStdString(file)});
    EXPECT_EQ(m_form->List().Count(), 0);
    // The next Add starts with an empty path again.
    AnswerProperties([&](PropertiesForm&) { EXPECT_EQ(Edit("fileEdit")->text(), ""); }, false);
    m_form->AddFileCommand();
}

TEST_F(DialogsTest, HostileTextsInEveryFieldNeverCrashOrLoseTheItem) {
    const std::string fifo = m_dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const QString hostile[] = {QString(), QString(10000, 'x'), QString::fromUtf8("\xff\xfe\xc3("),
                               "%(%File", QString::fromStdString(fifo)};
    PropertiesForm& d = Dialog();
    for (ItemKind kind : {ItemKind::File, ItemKind::Directory}) {
        for (const QString& text : hostile) {
            ASSERT_TRUE(d.Prepare(ItemDialogMode::Add, kind, -1, {}));
            for (QLineEdit* field : d.findChildren<QLineEdit*>()) {
                field->setText(text);
            }
            for (const char* number : {"intervalEdit", "intervalDEdit", "olderEdit"}) {
                Edit(number)->setText("1");
            }
            Box("startCheckBox")->setChecked(true);
            ASSERT_TRUE(d.Apply());
        }
    }
    ASSERT_EQ(m_form->List().Count(), 10);
    // Every item runs its checks with what was typed.
    for (int i = 0; i < 10; ++i) {
        const auto item = m_form->List().Get(i);
        ASSERT_TRUE(WaitUntil([&] { return item->CheckCount() > 0; })) << i;
    }
    MonitorProcess again;
    ASSERT_TRUE(m_form->List().Save(m_dir / "hostile.mon"));
    ASSERT_TRUE(again.Load(m_dir / "hostile.mon"));
    EXPECT_EQ(again.Count(), 10);
    again.Clear();

    // Bytes that are not UTF-8 survive an OK that did not touch them.
    const std::string odd = m_dir / "caf\xe9";
    Load(";;;\nPaused=1\nIsDirectory=1\nFileName=" + odd + "\nComment=\xff!\nEOF\n");
    ASSERT_TRUE(d.Prepare(ItemDialogMode::Edit, ItemKind::Directory, 10, {}));
    ASSERT_TRUE(d.Apply());
    EXPECT_EQ(m_form->List().Get(10)->FileName(), odd);
    EXPECT_EQ(m_form->List().Get(10)->Comment(), "\xff!");
}

TEST_F(DialogsTest, EveryTextOfBothDialogsHasItsKeyAndEveryKeyItsPart) {
    PropertiesForm& d = Dialog();
    ParametersForm& p = d.Parameters();
    IniFile english;
    ASSERT_TRUE(english.Load(m_form->Language().Directory() + "English.lng"));
    for (QWidget* window : {static_cast<QWidget*>(&d), static_cast<QWidget*>(&p)}) {
        const std::string section = "Form." + window->objectName().toStdString();
        SCOPED_TRACE(section);
        std::set<std::string> keys;
        for (const std::string& k : english.Keys(section)) {
            keys.insert(k);
        }
        // Each key names a part (a field's caption is its buddy label's).
        std::set<std::string> used;
        for (QObject* part : window->findChildren<QObject*>()) {
            const std::string name = part->objectName().toStdString();
            if (name.empty() || part->property(gui::kNotTranslated).toBool() ||
                OwnerWindow(part) != window) {
                continue;
            }
            auto need = [&](const std::string& key) {
                EXPECT_TRUE(keys.count(key)) << key;
                used.insert(key);
            };
            QString text;
            if (auto* a = qobject_cast<QAction*>(part)) {
                text = a->text();
            } else if (auto* b = qobject_cast<QAbstractButton*>(part)) {
                text = b->text();
            } else if (auto* g = qobject_cast<QGroupBox*>(part)) {
                text = g->title();
            } else if (auto* l = qobject_cast<QLabel*>(part)) {
                if (l->buddy() != nullptr) {
                    need(l->buddy()->objectName().toStdString() + ".Caption");
                    continue;
                }
                text = l->text();
            } else if (auto* c = qobject_cast<QComboBox*>(part)) {
                for (int i = 0; i < c->count(); ++i) {
                    need(name + ".Item." + std::to_string(i));
                }
            } else if (auto* t = qobject_cast<QTreeWidget*>(part)) {
                for (int i = 0; i < t->columnCount(); ++i) {
                    need(name + ".Column." + std::to_string(i));
                }
            }
            if (auto* tabs = qobject_cast<QTabWidget*>(part)) {
                for (int i = 0; i < tabs->count(); ++i) {
                    need(tabs->widget(i)->objectName().toStdString() + ".Caption");
                }
            }
            if (text.contains(QRegularExpression("[A-Za-z]"))) {
                need(name + ".Caption");
            }
            if (auto* w = qobject_cast<QWidget*>(part); w && !w->toolTip().isEmpty()) {
                need(name + ".Hint");
            }
        }
        if (window == &d) {
            used.insert("");  // the properties dialog's title comes from the string table
        } else {
            used.insert("Caption");
        }
        for (const std::string& k : keys) {
            EXPECT_TRUE(used.count(k)) << "no part for " << k;
        }
    }

    // German reaches both dialogs, also the fields' labels and the menus.
    m_form->ChangeLanguage("German.lng");
    EXPECT_EQ(Part<QPushButton>("newButton")->text(), "&Neu...");
    EXPECT_EQ(Part<QLabel>("intervalEditLabel")->text(),
              "&Intervall zwischen den Prüfungen (Sek.):");
    EXPECT_EQ(Part<QAction>("macroStatusMenu", &p)->text(), "Dateistat&us");
    EXPECT_EQ(Rows()->headerItem()->text(2), "Kommentar");
    EXPECT_EQ(p.windowTitle(), "Aktionseinstellungen");
    m_form->ChangeLanguage("English.lng");
    EXPECT_EQ(Part<QPushButton>("newButton")->text(), "Ne&w...");
}

TEST_F(DialogsTest, PositionsAndActionColumnWidthsAreKept) {
    Options::Instance().SetSavePosition(true);
    PropertiesForm& d = Dialog();
    ASSERT_TRUE(d.Prepare(ItemDialogMode::Add, ItemKind::File, -1, {}));
    d.show();
    d.move(40, 50);
    Rows()->header()->resizeSection(1, 333);
    d.reject();
    RegistryStore store;
    ASSERT_TRUE(store.Load(StorePath()));
    const auto key = store.OpenKey(std::string(Options::kKeyPath) + "\\Positions\\Properties");
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->GetInt("Width"));
    const auto program = store.OpenKey(std::string(Options::kKeyPath));
    ASSERT_TRUE(program);
    EXPECT_EQ(program->GetInt("ActCol1"), 333);

    // A new window of the next run reads them back.
    delete &d;
    EXPECT_EQ(Rows()->header()->sectionSize(1), 333);
}

TEST_F(DialogsTest, TheDialogsFitTheirScreenAndGrowToTheirPages) {
    // A stored size from a language of shorter texts is too small now: the
    // pages get their room all the same.
    RegistryStore::Modify(StorePath(), [](RegistryStore& store) {
        auto key = store.OpenKey(std::string(Options::kKeyPath) + "\\Positions\\Properties", true);
        key->SetInt("Width", 120);
        key->SetInt("Height", 90);
    });
    {
        PropertiesForm& d = Dialog();
        ASSERT_TRUE(d.Prepare(ItemDialogMode::Add, ItemKind::Directory, -1, {}));
        EXPECT_GE(d.width(), Part<QTabWidget>("pageControl")->minimumSizeHint().width());
        delete &d;
    }
    // Fonts too large for the screen: the pages scroll and the buttons stay on it.
    const QFont normal = QApplication::font();
    QFont large = normal;
    large.setPointSize(normal.pointSize() * 2);
    QApplication::setFont(large);
    const QRect room = m_form->screen()->availableGeometry();
    {
        PropertiesForm& d = Dialog();
        ASSERT_TRUE(d.Prepare(ItemDialogMode::Add, ItemKind::Directory, -1, {}));
        d.show();
        EXPECT_LE(d.height(), room.height());
        EXPECT_LE(d.width(), room.width());
        const QRect ok(Part<QPushButton>("OKButton")->mapTo(&d, QPoint(0, 0)),
                       Part<QPushButton>("OKButton")->size());
        EXPECT_TRUE(d.rect().contains(ok));
        d.reject();
        delete &d;
    }
    QApplication::setFont(normal);
}

TEST_F(DialogsTest, TheActionDialogOpensCentredWithRoomForTheProgramsFields) {
    ParametersForm& p = Dialog().Parameters();
    auto action = CreateAction(ActionKind::Execute);
    QRect placed;
    int field = 0;
    int group = 0;
    QTimer::singleShot(0, &p, [&] {
        placed = p.frameGeometry();
        field = Edit("commEdit", &p)->width();
        group = Part<QGroupBox>("execGroupBox", &p)->width();
        p.reject();
    });
    p.Edit(*action);
    const QPoint centre = m_form->screen()->availableGeometry().center();
    EXPECT_LE((placed.center() - centre).manhattanLength(), 4);
    // The long labels of the number fields leave the command line its room.
    EXPECT_GT(field, group / 2);
}

}  // namespace
}  // namespace quorvel
