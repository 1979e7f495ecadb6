#include "gui/options_about_help.h"

#include "gui/about_form.h"
#include "gui/form_translator.h"
#include "gui/main_form.h"
#include "gui/options_form.h"
#include "gui/program_help.h"
#include "settings/lang.h"

namespace quorvel::gui {

OptionsAboutHelp::OptionsAboutHelp(MainForm& main)
    : QObject(&main), m_main(main), m_help(new ProgramHelp(main.Language(), &main)) {}

OptionsAboutHelp::~OptionsAboutHelp() = default;

void OptionsAboutHelp::Install() {
    WindowHooks& hooks = m_main.Hooks();
    hooks.programOptions = [this] { return Options().Execute(); };
    hooks.about = [this] { About().ShowBox(); };
    hooks.mailAuthor = [this] { About().OpenMail(); };
    hooks.homepage = [this] { About().OpenHomepage(); };
    hooks.helpContents = [this] { m_help->ShowContents(); };
    hooks.helpTopic = [this](int context) { m_help->ShowTopic(context); };
}

OptionsForm& OptionsAboutHelp::Options() {
    if (!m_options) {
        m_options = new OptionsForm(&m_main, [this](int context) { m_help->ShowTopic(context); });
        TranslateForm(m_options, m_main.Language().File());
        m_main.RegisterTranslated(m_options);
        m_help->ApplyContexts(m_options);
    }
    return *m_options;
}

AboutForm& OptionsAboutHelp::About() {
    if (!m_about) {
        m_about = new AboutForm(&m_main);
        TranslateForm(m_about, m_main.Language().File());
        m_main.RegisterTranslated(m_about);
    }
    return *m_about;
}

}  // namespace quorvel::gui
