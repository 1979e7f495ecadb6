// The desktop program: the item list in a window with a tray icon.

#include <QApplication>
#include <QFileInfo>
#include <QTimer>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

#include "actions/date_format.h"
#include "core/version.h"
#include "engine/base_monitoring.h"
#include "gui/file_op_dialogs.h"
#include "gui/main_form.h"
#include "gui/message_boxes.h"
#include "gui/options_about_help.h"
#include "gui/popup_box.h"
#include "gui/properties_form.h"
#include "gui/restore_hot_key.h"
#include "gui/single_instance.h"
#include "platform/console.h"
#include "platform/file_operation.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "settings/adv_string_list.h"
#include "settings/options.h"

namespace {

using namespace quorvel;
using namespace quorvel::gui;

// Stopped workers get this long to leave their bodies before the process
// ends; one busy in a long action is not waited for beyond it.
constexpr std::chrono::seconds kWorkerDeadline{5};

int Run(QApplication& app) {
    Options& options = Options::Instance();
    options.LoadAll();

    SingleInstance instance;
    if (options.OneInstance() && instance.Claim() == SingleInstance::Outcome::OtherRestored) {
        return 0;  // the running one came back; nothing written
    }

    // Dates and times in texts use fixed formats; only names come from the
    // user's locale.
    std::setlocale(LC_TIME, "");
    (void)DateFormatSettings::System();

    platform::SetMessageBox(std::make_shared<PopupBox>());
    platform::SetFileOpUi(std::make_shared<FileOpDialogs>());

    auto form = std::make_unique<MainForm>();
    RestoreHotKey hotKey;
    QObject::connect(&hotKey, &RestoreHotKey::Pressed, form.get(), &MainForm::RestoreWindow);
    QObject::connect(&instance, &SingleInstance::RestoreRequested, form.get(),
                     &MainForm::RestoreWindow);
    QObject::connect(form.get(), &MainForm::Closed, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    form->Hooks().singleInstance = [&instance](bool oneInstance) {
        if (oneInstance && !instance.Holding()) {
            instance.Claim();  // holds nothing when another one answers
        }
    };
    form->Hooks().restoreKey = [&hotKey](int shortcut) { hotKey.Register(shortcut); };
    (new OptionsAboutHelp(*form))->Install();  // belongs to the main window
    InstallItemDialogs(*form);
    form->ApplyOptions();
    form->show();
    QApplication::processEvents();

    // The configuration: the rest of the command line, or the default one.
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    const QString typed = arguments.join(' ');
    const QString path =
        typed.isEmpty() ? QString::fromStdString(platform::DefaultConfigurationFile()) : typed;
    form->SetConfigName(path);
    if (!form->OpenStartConfiguration(path, !typed.isEmpty()) && !typed.isEmpty()) {
        MessageBoxes::Show(
            form.get(), QString::fromUtf8(kProductName),
            QString::fromStdString(Strings().Text(lngCantLoad)) + " \"" + path + "\".",
            QMessageBox::Critical, QMessageBox::Ok);
    }
    form->ShowConfigName();
    if (options.StartMinimized()) {
        form->showMinimized();
    }
    const int code = app.exec();
    (void)code;
    form.reset();  // stops every item
    return 0;
}

// What --version and --help print, before any window or display is needed.
// A configuration whose name starts with "--" is given as "./--name".
std::optional<int> AnswerOnTheTerminal(int argc, char** argv) {
    if (argc != 2) {
        return std::nullopt;
    }
    const std::string_view word = argv[1];
    if (word == "--version") {
        std::printf("quorvin (%s) %s\n", kProductName, kVersion);
        return 0;
    }
    if (word == "--help" || word == "-h") {
        std::printf(
            "Usage: quorvin [CONFIGURATION]\n"
            "The %s desktop program: monitors the items of CONFIGURATION (a .mon\n"
            "file; without one the default configuration) in a window with a tray icon.\n"
            "\n"
            "  --help     show this text and exit\n"
            "  --version  show the version and exit\n"
            "\n"
            "A configuration whose name begins with a dash is given with its directory\n"
            "(./-name.mon). Manual: %s\n",
            kProductName, kHomepage);
        return 0;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto code = AnswerOnTheTerminal(argc, argv)) {
        return *code;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(quorvel::kProductName));
    QApplication::setQuitOnLastWindowClosed(false);
    int code = 0;
    try {
        code = Run(app);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorvin: %s\n", e.what());
    }
    // Stopped items leave their bodies at their next test; a worker stuck past
    // the deadline must not see static objects destroyed under it.
    if (!BaseMonitoring::WaitForWorkers(kWorkerDeadline)) {
        quorvel::platform::ExitWithoutCleanup(code);
    }
    return code;
}
