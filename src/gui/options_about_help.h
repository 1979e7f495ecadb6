#pragma once

#include <QObject>
#include <QPointer>

namespace quorvel::gui {

class AboutForm;
class MainForm;
class OptionsForm;
class ProgramHelp;

/// The options dialog, the about box and the help of the main window:
/// each created on first use, translated then and on every change of
/// language, and kept until the main window goes. Install puts them into
/// the main window's hooks.
class OptionsAboutHelp : public QObject {
    Q_OBJECT

public:
    /// Belongs to main.
    explicit OptionsAboutHelp(MainForm& main);
    ~OptionsAboutHelp() override;

    /// Sets the hooks programOptions, about, helpContents, mailAuthor,
    /// homepage and helpTopic.
    void Install();

    OptionsForm& Options();
    AboutForm& About();
    ProgramHelp& Help() { return *m_help; }

private:
    MainForm& m_main;
    ProgramHelp* m_help;
    QPointer<OptionsForm> m_options;
    QPointer<AboutForm> m_about;
};

}  // namespace quorvel::gui
