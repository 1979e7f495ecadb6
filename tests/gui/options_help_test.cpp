// The options dialog, start at logon and the .mon file type, the about box
// and the help, driven on the offscreen platform.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QFocusEvent>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTextEdit>
#include <QTimer>
#include <QUrlQuery>
#include <QWhatsThis>

#include <filesystem>
#include <functional>

#include "core/version.h"
#include "engine/base_monitoring.h"
#include "gui/about_form.h"
#include "gui/form_translator.h"
#include "gui/help_viewer.h"
#include "gui/hot_key_edit.h"
#include "gui/interval_spin_box.h"
#include "gui/main_form.h"
#include "gui/message_boxes.h"
#include "gui/options_about_help.h"
#include "gui/options_form.h"
#include "gui/program_help.h"
#include "gui/properties_form.h"
#include "gui_test_util.h"
#include "platform/desktop_entry.h"
#include "platform/hot_key.h"
#include "platform/paths.h"
#include "settings/adv_string_list.h"
#include "settings/ini_file.h"
#include "settings/options.h"
#include "support/tools.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using gui::AboutForm;
using gui::MainForm;
using gui::MessageBoxes;
using gui::OptionsForm;
using gui::ProgramHelp;
using platform::ShortcutValue;
using test::ReadFile;
using test::ScopedEnv;
using test::WaitUntil;

// Takes the links the program opens instead of the desktop.
class OpenedUrls : public QObject {
    Q_OBJECT

public:
    OpenedUrls() {
        for (const char* scheme : {"mailto", "http", "https", "file"}) {
            QDesktopServices::setUrlHandler(scheme, this, "Open");
        }
    }
    ~OpenedUrls() override {
        for (const char* scheme : {"mailto", "http", "https", "file"}) {
            QDesktopServices::unsetUrlHandler(scheme);
        }
    }
    QList<QUrl> urls;

public slots:
    void Open(const QUrl& url) { urls.push_back(url); }
};

// The desktop's update tools, replaced by a script that notes each run and
// what was on disk by then.
constexpr const char* kUpdateStub = R"(#!/bin/sh
a=no; [ -f "$XDG_CONFIG_HOME/autostart/quorvin.desktop" ] && a=yes
p=no; [ -f "$XDG_DATA_HOME/mime/packages/quorvel.xml" ] && p=yes
s=no; grep -q 'StartMinimized=dword:00000001' "$XDG_CONFIG_HOME/quorvel/registry.ini" && s=yes
echo "${0##*/} saved=$s autostart=$a package=$p" >> "$QUORVEL_UPDATE_LOG"
)";

class OptionsHelpTest : public test::GuiTest {
protected:
    OptionsHelpTest()
        : m_configDirs("XDG_CONFIG_DIRS", m_dir / "etc-xdg"),
          m_desktop("XDG_CURRENT_DESKTOP", nullptr),
          m_log("QUORVEL_UPDATE_LOG", m_dir / "updates.log"),
          m_path("PATH", StubDirectory() + ":" + platform::GetEnvironment("PATH").value_or("")) {}

    std::string StubDirectory() {
        for (const char* tool : {"update-mime-database", "update-desktop-database"}) {
            const std::string path = m_dir.Write(std::string("stubs/") + tool, kUpdateStub);
            fs::permissions(path, fs::perms::owner_all);
        }
        return m_dir / "stubs";
    }

    void SetUp() override {
        Options::Instance().ResetAll();
        MessageBoxes::ClearShown();
        m_form = std::make_unique<MainForm>();
        m_windows = new gui::OptionsAboutHelp(*m_form);
        m_windows->Install();
        m_form->show();
    }
    void TearDown() override {
        m_form.reset();
        ASSERT_TRUE(BaseMonitoring::WaitForWorkers(std::chrono::seconds(20)));
    }

    template <typename T>
    T* Part(const char* name) {
        T* part = m_windows->Options().findChild<T*>(name);
        EXPECT_NE(part, nullptr) << name;
        return part;
    }
    QCheckBox* Box(const char* name) { return Part<QCheckBox>(name); }

    /// Opens the options dialog from the main window; act runs while it is
    /// open and the dialog then closes with OK or Cancel.
    void RunOptions(const std::function<void(OptionsForm&)>& act, bool ok = true) {
        OptionsForm& dialog = m_windows->Options();
        QTimer::singleShot(0, &dialog, [&] {
            ASSERT_TRUE(WaitUntil([&] { return dialog.isVisible(); }));
            act(dialog);
            dialog.findChild<QPushButton*>(ok ? "OKButton" : "CancelButton")->click();
        });
        m_form->OptionsCommand();
        EXPECT_FALSE(dialog.isVisible());
    }

    std::vector<std::string> Updates() {
        std::vector<std::string> lines;
        std::string text = ReadFile(m_dir / "updates.log");
        for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
            end = text.find('\n', start);
            lines.push_back(text.substr(start, end - start));
        }
        return lines;
    }

    ScopedEnv m_configDirs;
    ScopedEnv m_desktop;
    ScopedEnv m_log;
    ScopedEnv m_path;
    std::unique_ptr<MainForm> m_form;
    gui::OptionsAboutHelp* m_windows = nullptr;
};

// ---- the options dialog ----

TEST_F(OptionsHelpTest, OkStoresEveryOptionInOrderAndTheMainWindowAppliesThem) {
    Options& o = Options::Instance();
    o.SetCacheDirectory("/var/tmp/q");
    o.SetRestoreKey(ShortcutValue::kControl | ShortcutValue::kAlt | 'R');
    o.SetInterval(4);
    int applied = -1;
    m_form->Hooks().restoreKey = [&](int key) { applied = key; };

    RunOptions([&](OptionsForm& d) {
        // Shown from the options.
        EXPECT_EQ(d.findChild<QTabWidget*>("pageControl")->currentIndex(), 0);
        EXPECT_FALSE(Box("minCheckBox")->isChecked());
        EXPECT_TRUE(Box("delCheckBox")->isChecked());
        EXPECT_TRUE(Box("posCheckBox")->isChecked());
        EXPECT_EQ(Part<QLineEdit>("cacheEdit")->text(), "/var/tmp/q");
        EXPECT_EQ(Part<gui::IntervalSpinBox>("intervalEdit")->value(), 4);
        EXPECT_EQ(Part<gui::HotKeyEdit>("restoreHotKey")->keySequence(),
                  QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_R));
        EXPECT_TRUE(Part<QRadioButton>("doubleRadioButton")->isChecked());
        // Every control changed.
        for (const char* name :
             {"minCheckBox", "oneCheckBox", "delCheckBox", "unsavedCheckBox", "exitCheckBox",
              "trayCheckBox", "hideCheckBox", "imgCheckBox", "posCheckBox"}) {
            Box(name)->toggle();
        }
        Part<QRadioButton>("singleRadioButton")->setChecked(true);
        Part<QLineEdit>("cacheEdit")->setText("");
        Part<gui::IntervalSpinBox>("intervalEdit")->setValue(7);
        QTest::keyClick(Part<gui::HotKeyEdit>("restoreHotKey"), Qt::Key_F5,
                        Qt::ShiftModifier | Qt::ControlModifier);
        Box("monCheckBox")->setChecked(true);
    });

    Options stored;
    ASSERT_TRUE(stored.LoadAll());
    EXPECT_TRUE(stored.StartMinimized());
    EXPECT_TRUE(stored.OneInstance());
    EXPECT_FALSE(stored.ConfDelete());
    EXPECT_FALSE(stored.ConfSave());
    EXPECT_TRUE(stored.ConfQuit());
    EXPECT_FALSE(stored.TrayMinimize());
    EXPECT_TRUE(stored.SingleRestore());
    EXPECT_TRUE(stored.HideIcon());
    EXPECT_FALSE(stored.MenuImages());
    EXPECT_FALSE(stored.SavePosition());
    EXPECT_EQ(stored.CacheDirectory(), "");  // stored as typed
    EXPECT_EQ(stored.Interval(), 7);
    const int f5 = ShortcutValue::kShift | ShortcutValue::kControl | 0x74;
    EXPECT_EQ(stored.RestoreKey(), f5);
    EXPECT_EQ(o.RestoreKey(), f5);
    EXPECT_EQ(applied, f5);  // the main window applied the options at once
    // The desktop heard of the new file type after the options were saved
    // and the files were written.
    EXPECT_EQ(Updates(), (std::vector<std::string>{
                             "update-mime-database saved=yes autostart=no package=yes",
                             "update-desktop-database saved=yes autostart=no package=yes"}));
}

TEST_F(OptionsHelpTest, CancelChangesNothing) {
    RunOptions(
        [&](OptionsForm&) {
            Box("minCheckBox")->setChecked(true);
            Box("startupCheckBox")->setChecked(true);
            Box("monCheckBox")->setChecked(true);
            Part<QLineEdit>("cacheEdit")->setText("/elsewhere");
        },
        false);
    EXPECT_FALSE(Options::Instance().StartMinimized());
    EXPECT_NE(Options::Instance().CacheDirectory(), "/elsewhere");
    Options stored;
    ASSERT_TRUE(stored.LoadAll());
    EXPECT_FALSE(stored.StartMinimized());
    EXPECT_NE(stored.CacheDirectory(), "/elsewhere");
    EXPECT_FALSE(platform::AutostartEnabled());
    EXPECT_FALSE(fs::exists(platform::MimePackagePath()));
    EXPECT_TRUE(Updates().empty());
}

TEST_F(OptionsHelpTest, FieldsRefuseWhatCannotBeStoredAndTrayChoicesKeepTheirValues) {
    Options::Instance().SetSingleRestore(true);
    Options::Instance().SetHideIcon(true);
    RunOptions([&](OptionsForm&) {
        // The interval is brought into 1 to 10 on leaving the field.
        auto* interval = Part<gui::IntervalSpinBox>("intervalEdit");
        auto* text = interval->findChild<QLineEdit*>();
        for (const auto& [typed, shown] : {std::pair{"0", "1"}, {"99", "10"}, {" 3x", "3"}}) {
            text->selectAll();
            QTest::keyClicks(text, typed);
            QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
            QApplication::sendEvent(interval, &out);
            EXPECT_EQ(interval->text(), shown) << typed;
        }

        // A hot key needs Ctrl or Alt; Backspace clears it.
        auto* key = Part<gui::HotKeyEdit>("restoreHotKey");
        QTest::keyClick(key, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
        EXPECT_EQ(key->Shortcut(), ShortcutValue::kControl | ShortcutValue::kAlt | 'K');
        QTest::keyClick(key, Qt::Key_J);
        QTest::keyClick(key, Qt::Key_J, Qt::ShiftModifier);
        EXPECT_EQ(key->Shortcut(), ShortcutValue::kControl | ShortcutValue::kAlt | 'K');
        QTest::keyClick(key, Qt::Key_Backspace);
        EXPECT_EQ(key->Shortcut(), 0);
        EXPECT_TRUE(key->keySequence().isEmpty());
        QTest::keyClick(key, Qt::Key_Home, Qt::AltModifier);

        // Without the tray its choices are off but keep their values.
        Box("trayCheckBox")->setChecked(false);
        EXPECT_FALSE(Part<QRadioButton>("singleRadioButton")->isEnabled());
        EXPECT_FALSE(Part<QRadioButton>("doubleRadioButton")->isEnabled());
        EXPECT_FALSE(Box("hideCheckBox")->isEnabled());
        EXPECT_TRUE(Part<QRadioButton>("singleRadioButton")->isChecked());
    });
    const Options& o = Options::Instance();
    EXPECT_EQ(o.Interval(), 3);
    EXPECT_EQ(o.RestoreKey(), ShortcutValue::kAlt | 0x24);
    EXPECT_FALSE(o.TrayMinimize());
    EXPECT_TRUE(o.SingleRestore());
    EXPECT_TRUE(o.HideIcon());
}

TEST_F(OptionsHelpTest, StartAtLogonAndTheFileTypeAreWrittenShownAndRemoved) {
    const std::string entry = m_dir / "config/autostart/quorvin.desktop";
    RunOptions([&](OptionsForm&) {
        EXPECT_FALSE(Box("startupCheckBox")->isChecked());
        EXPECT_FALSE(Box("monCheckBox")->isChecked());
        Box("startupCheckBox")->setChecked(true);
        Box("monCheckBox")->setChecked(true);
    });
    EXPECT_NE(ReadFile(entry).find("Exec=" + platform::ExecutablePath() + "\n"), std::string::npos);
    EXPECT_TRUE(platform::AssociationPresent());
    EXPECT_TRUE(fs::exists(m_dir / "data/applications/quorvin.desktop"));
    EXPECT_TRUE(fs::exists(m_dir / "data/icons/hicolor/scalable/apps/quorvel.svg"));
    if (test::HaveTool("xdg-mime")) {
        EXPECT_EQ(test::ToolOutput({"xdg-mime", "query", "default", "application/x-quorvel"}),
                  "quorvin.desktop\n");
    }
    EXPECT_EQ(Updates().size(), 2u);

    // OK again: both found, the file type written anew, the desktop not
    // told again.
    fs::remove(m_dir / "data/applications/quorvin.desktop");
    RunOptions([&](OptionsForm&) {
        EXPECT_TRUE(Box("startupCheckBox")->isChecked());
        EXPECT_TRUE(Box("monCheckBox")->isChecked());
    });
    EXPECT_TRUE(fs::exists(m_dir / "data/applications/quorvin.desktop"));
    EXPECT_EQ(Updates().size(), 2u);

    RunOptions([&](OptionsForm&) {
        Box("startupCheckBox")->setChecked(false);
        Box("monCheckBox")->setChecked(false);
    });
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_FALSE(platform::AssociationPresent());
    EXPECT_FALSE(fs::exists(platform::MimePackagePath()));
    EXPECT_EQ(ReadFile(m_dir / "config/mimeapps.list").find("quorvel"), std::string::npos);
    ASSERT_EQ(Updates().size(), 4u);
    EXPECT_EQ(Updates()[2], "update-mime-database saved=no autostart=no package=no");
}

TEST_F(OptionsHelpTest, AnotherProgramsAssociationIsLeftAlone) {
    // .mon files were Quorvel's, then the user chose another program.
    const std::string package = m_dir.Write("data/mime/packages/quorvel.xml", "<mime-info/>\n");
    const std::string taken =
        "[Default Applications]\napplication/x-quorvel=other.desktop;quorvin.desktop;\n";
    const std::string list = m_dir.Write("config/mimeapps.list", taken);
    RunOptions([&](OptionsForm&) { EXPECT_FALSE(Box("monCheckBox")->isChecked()); });
    EXPECT_EQ(ReadFile(list), taken);
    EXPECT_TRUE(fs::exists(package));
    EXPECT_TRUE(Updates().empty());
}

// ---- the about box ----

TEST_F(OptionsHelpTest, AboutBoxShowsTheVersionAndOpensItsLinks) {
    OpenedUrls opened;
    const QString product = QString(kProductName) + " " + kVersion;
    const QString mail = "mailto:" + QString(kAuthorEmail) + "?Subject=\"" + product + "\"";
    EXPECT_EQ(AboutForm::MailTarget(), mail);

    // The menu's commands open the links without showing the box.
    m_form->findChild<QAction*>("mailItem")->trigger();
    m_form->findChild<QAction*>("homepageItem")->trigger();
    ASSERT_EQ(opened.urls.size(), 2);
    EXPECT_EQ(opened.urls[0].scheme(), "mailto");
    EXPECT_EQ(opened.urls[0].path(), kAuthorEmail);
    EXPECT_EQ(QUrlQuery(opened.urls[0]).queryItemValue("Subject", QUrl::FullyDecoded),
              "\"" + product + "\"");
    EXPECT_EQ(opened.urls[1], QUrl(kHomepage));
    AboutForm& about = m_windows->About();
    EXPECT_FALSE(about.isVisible());

    QTimer::singleShot(0, &about, [&] {
        ASSERT_TRUE(WaitUntil([&] { return about.isVisible(); }));
        EXPECT_EQ(about.windowTitle(), "About Quorvel");
        const QString text = about.findChild<QTextEdit*>()->toPlainText();
        EXPECT_TRUE(text.startsWith(product + " (")) << text.toStdString();
        EXPECT_EQ(text.section('\n', 0, 0), AboutForm::VersionLine());
        EXPECT_EQ(about.findChild<QLabel*>("logoImage")->toolTip(), ":o)");
        auto* mailLink = about.findChild<QLabel*>("mailLabel");
        auto* homeLink = about.findChild<QLabel*>("homepageLabel");
        EXPECT_EQ(mailLink->text(), kAuthorEmail);
        EXPECT_EQ(mailLink->toolTip(), mail);
        EXPECT_EQ(homeLink->text(), "Quorvel Homepage");
        EXPECT_EQ(homeLink->toolTip(), kHomepage);

        // Open again: the box comes to the front, no second one.
        m_form->findChild<QAction*>("aboutTrayItem")->trigger();
        EXPECT_TRUE(about.isVisible());

        QTest::mouseClick(homeLink, Qt::LeftButton);
        EXPECT_EQ(opened.urls.size(), 3);
        QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(1, 1),
                               homeLink->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(homeLink, &menu);
        auto* location = about.findChild<QMenu*>("locationMenu");
        EXPECT_TRUE(location->isVisible());
        EXPECT_EQ(location->defaultAction()->objectName(), "openItem");
        about.findChild<QAction*>("copyItem")->trigger();
        location->hide();
        EXPECT_EQ(QApplication::clipboard()->text(), kHomepage);
        QTest::keyClick(&about, Qt::Key_Escape);
    });
    m_form->findChild<QAction*>("aboutItem")->trigger();
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(opened.urls.size(), 3);
}

// ---- translation ----

// Every text of a window comes from the language file: translated with the
// English section with each value marked, every text shows the mark, and
// every key of the section names a part of the window.
void ExpectEveryTextNamed(QWidget* window) {
    IniFile english;
    ASSERT_TRUE(english.Load(platform::ShippedDataDirectory("Lang") + "English.lng"));
    const std::string section = "Form." + window->objectName().toStdString();
    std::string marked = "[" + section + "]\n";
    for (const std::string& key : english.Keys(section)) {
        const std::string part = key.substr(0, key.find('.'));
        EXPECT_TRUE(key == "Caption" || window->findChild<QObject*>(QString::fromStdString(part)))
            << section << " " << key << " names no part";
        marked += key + "=\"#" + english.GetString(section, key, "") + "\"\n";
    }
    gui::TranslateForm(window, IniFile::FromString(marked));
    const auto check = [&](const QObject* part, const QString& text, const char* what) {
        if (!text.trimmed().isEmpty() && text != "..." &&
            !part->property(gui::kNotTranslated).toBool()) {
            EXPECT_TRUE(text.trimmed().startsWith('#'))
                << section << ": " << part->objectName().toStdString() << " " << what << " \""
                << text.toStdString() << "\" has no key";
        }
    };
    check(window, window->windowTitle(), "title");
    for (const QObject* part : window->findChildren<QObject*>()) {
        if (part->objectName().startsWith("qt_")) {
            continue;
        }
        if (const auto* label = qobject_cast<const QLabel*>(part)) {
            check(part, label->text(), "text");
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(part)) {
            check(part, button->text(), "text");
        } else if (const auto* box = qobject_cast<const QGroupBox*>(part)) {
            check(part, box->title(), "title");
        } else if (const auto* action = qobject_cast<const QAction*>(part)) {
            check(part, action->text(), "text");
        } else if (const auto* tabs = qobject_cast<const QTabWidget*>(part)) {
            for (int i = 0; i < tabs->count(); ++i) {
                check(tabs->widget(i), tabs->tabText(i), "tab");
            }
        }
        if (const auto* w = qobject_cast<const QWidget*>(part);
            w != nullptr && qobject_cast<const QLabel*>(w) == nullptr) {
            check(part, w->toolTip(), "hint");
        }
    }
}

TEST_F(OptionsHelpTest, BothWindowsAreTranslatedByTheirNamesAndFollowTheLanguage) {
    OptionsForm& options = m_windows->Options();
    AboutForm& about = m_windows->About();
    m_form->ChangeLanguage("German.lng");
    EXPECT_EQ(options.windowTitle(), "Programmoptionen");
    EXPECT_EQ(options.findChild<QLabel*>("intervalLabel")->text(),
              "Aktualisierungsintervall der &Restzeitanzeige, Sek.:");
    EXPECT_EQ(options.findChild<QGroupBox*>("trayGroupBox")->title(), " Infobereich ");
    EXPECT_EQ(about.windowTitle(), QString::fromUtf8("Über Quorvel"));
    m_form->ChangeLanguage("English.lng");
    EXPECT_EQ(options.findChild<QTabWidget*>("pageControl")->tabText(1), "Appearance");
    EXPECT_EQ(about.findChild<QLabel*>("homepageLabel")->text(), "Quorvel Homepage");

    ExpectEveryTextNamed(&options);
    ExpectEveryTextNamed(&about);
}

// ---- help ----

bool WhatsThisShown() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && QByteArray(w->metaObject()->className()) == "QWhatsThat") {
            return true;
        }
    }
    return false;
}

TEST_F(OptionsHelpTest, TheHelpWindowGoesToTheDialogBelowWhenTheOneOnTopCloses) {
    ProgramHelp& help = m_windows->Help();
    QDialog outer(m_form.get());
    QWidget* afterInner = nullptr;
    QTimer::singleShot(0, &outer, [&] {
        QDialog inner(&outer);
        QTimer::singleShot(0, &inner, [&] {
            help.ShowTopic(0);
            inner.reject();
        });
        inner.exec();
        afterInner = help.Viewer()->parentWidget();
        outer.reject();
    });
    outer.exec();
    EXPECT_EQ(afterInner, &outer);  // not left to the blocked windows
    EXPECT_EQ(help.Viewer()->parentWidget(), nullptr);
    EXPECT_TRUE(help.Viewer()->isVisible());
}

TEST_F(OptionsHelpTest, HelpOpensTopicsByContextAndControlsExplainThemselves) {
    ProgramHelp& help = m_windows->Help();
    const std::string manual = platform::ShippedDataDirectory("Help");
    const QUrl contents = QUrl::fromLocalFile(QString::fromStdString(manual + "helpen/index.html"));

    // F1 in the main window: the contents.
    m_form->activateWindow();
    ASSERT_TRUE(WaitUntil([&] { return m_form->isActiveWindow(); }));
    QTest::keyClick(m_form.get(), Qt::Key_F1);
    ASSERT_NE(help.Viewer(), nullptr);
    EXPECT_TRUE(help.Viewer()->isVisible());
    EXPECT_EQ(help.Viewer()->Page(), contents);
    EXPECT_EQ(help.Viewer()->windowTitle(), "Quorvel Help");

    // F1 and Help in the options dialog: the active page's topic only.
    RunOptions(
        [&](OptionsForm& d) {
            QTest::keyClick(Box("minCheckBox"), Qt::Key_F1);
            EXPECT_EQ(help.Viewer()->Page().fileName(), "options.html");
            EXPECT_EQ(help.Viewer()->Page().fragment(), "general");
            EXPECT_EQ(help.Viewer()->parentWidget(), &d);  // usable beside the modal dialog
            EXPECT_FALSE(WhatsThisShown());
            d.findChild<QTabWidget*>("pageControl")->setCurrentIndex(1);
            d.findChild<QPushButton*>("HelpButton")->click();
            EXPECT_EQ(help.Viewer()->Page().fragment(), "appearance");
            EXPECT_FALSE(WhatsThisShown());

            // What's This on a control: its text; on a page: nothing.
            QHelpEvent onControl(QEvent::WhatsThis, QPoint(2, 2), QPoint(2, 2));
            QApplication::sendEvent(Box("imgCheckBox"), &onControl);
            EXPECT_TRUE(WhatsThisShown());
            QWhatsThis::hideText();
            ASSERT_TRUE(WaitUntil([] { return !WhatsThisShown(); }));
            QHelpEvent onPage(QEvent::WhatsThis, QPoint(2, 2), QPoint(2, 2));
            QApplication::sendEvent(Part<QWidget>("appearanceSheet"), &onPage);
            EXPECT_FALSE(WhatsThisShown());
            d.findChild<QTabWidget*>("pageControl")->setCurrentIndex(0);
        },
        false);
    EXPECT_TRUE(help.Viewer()->isVisible());  // the help stays when the dialog closes
    EXPECT_EQ(help.Viewer()->parentWidget(), nullptr);

    IniFile popups;
    ASSERT_TRUE(popups.Load(manual + "popupen.txt"));
    EXPECT_EQ(help.PopupText(2520).toStdString(), popups.GetString("Popups", "2520", "?"));
    EXPECT_EQ(help.PopupText(2001).toStdString(), Strings().Text(lngNoPop));
    EXPECT_TRUE(help.PopupText(2000).isEmpty());

    // Another language, another manual.
    m_form->ChangeLanguage("German.lng");
    m_form->Hooks().helpTopic(1006);
    EXPECT_EQ(help.Viewer()->Page().toLocalFile().toStdString(), manual + "helpde/options.html");
    ASSERT_TRUE(popups.Load(manual + "popupde.txt"));
    EXPECT_EQ(help.PopupText(2520).toStdString(), popups.GetString("Popups", "2520", "?"));
    m_form->ChangeLanguage("English.lng");

    // Without the manual: the question, and Yes opens the project's page.
    OpenedUrls opened;
    const QUrl before = help.Viewer()->Page();
    help.SetDirectory(QString::fromStdString(m_dir / "nohelp"));
    MessageBoxes::AnswerNext(QMessageBox::Yes);
    m_form->findChild<QAction*>("helpItem")->trigger();
    ASSERT_EQ(MessageBoxes::Shown().size(), 1u);
    const MessageBoxes::Record asked = MessageBoxes::Shown().front();
    EXPECT_EQ(asked.title, "Can not load HTML Help");
    EXPECT_EQ(asked.text.toStdString(),
              Strings().Text(lngGoToMS_1) + "\n" + Strings().Text(lngGoToMS_2));
    EXPECT_EQ(asked.icon, QMessageBox::NoIcon);
    EXPECT_EQ(asked.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl(kHomepage)});
    EXPECT_EQ(help.Viewer()->Page(), before);  // nothing else shown
}

// Every number a window carries leads somewhere: a topic up to 2000 that
// exists in every manual, above it a text in every popup file and the same
// number in control_contexts.ini.
TEST_F(OptionsHelpTest, EveryHelpContextOfEveryWindowHasItsTopicOrText) {
    ProgramHelp& help = m_windows->Help();
    m_windows->Options();
    m_windows->About();
    (new gui::PropertiesForm(*m_form))->Parameters();
    help.ShowContents();
    const std::string manual = platform::ShippedDataDirectory("Help");
    IniFile controls;
    ASSERT_TRUE(controls.Load(manual + "control_contexts.ini"));
    int topics = 0;
    int popups = 0;
    for (const char* language : {"English.lng", "German.lng"}) {
        m_form->ChangeLanguage(language);
        for (QWidget* w : QApplication::allWidgets()) {
            const int context = w->property(ProgramHelp::kHelpContext).toInt();
            const std::string where =
                w->window()->objectName().toStdString() + "." + w->objectName().toStdString();
            if (context <= 0) {
                continue;
            }
            if (context <= 2000) {
                const QUrl topic = help.TopicUrl(context);
                ASSERT_TRUE(topic.isLocalFile()) << where << " " << context;
                const std::string page = ReadFile(topic.toLocalFile().toStdString());
                const std::string anchor = topic.fragment().toStdString();
                EXPECT_TRUE(page.find("name=\"" + anchor + "\"") != std::string::npos ||
                            page.find("id=\"" + anchor + "\"") != std::string::npos)
                    << where << " " << context << ": no anchor " << anchor;
                ++topics;
            } else {
                EXPECT_NE(help.PopupText(context).toStdString(), Strings().Text(lngNoPop))
                    << where << " " << context;
                EXPECT_EQ(controls.GetString("Controls", where, ""), std::to_string(context))
                    << where;
                ++popups;
            }
        }
    }
    // Both pages of the options, the item dialog's pages and the action groups.
    EXPECT_GE(topics, 2 * (2 + 7 + 6));
    EXPECT_GE(popups, 2 * 16);
}

}  // namespace
}  // namespace quorvel

#include "options_help_test.moc"
