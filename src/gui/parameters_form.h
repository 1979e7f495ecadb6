#pragma once

#include <QDialog>

#include <memory>
#include <vector>

#include "platform/thread.h"
#include "gui/param_binding.h"

class QGroupBox;

namespace Ui {
class ParametersForm;
}

namespace quorvel {
class Action;
}

namespace quorvel::gui {

class FieldMenu;
class FormPositions;
struct WindowHooks;

/// "Action Configuration": the settings of one action. The group box of the
/// action's kind is shown above the settings every action has; OK writes
/// the controls into the action, Cancel writes nothing.
class ParametersForm : public QDialog {
    Q_OBJECT

public:
    /// hooks gives the help topics.
    ParametersForm(QWidget* parent, WindowHooks& hooks);
    ~ParametersForm() override;

    /// Shows the dialog modally for action; true when OK wrote into it.
    bool Edit(Action& action);
    /// Fills the dialog from action (what Edit shows first).
    void Fill(Action& action);
    /// Writes the controls into the action being edited (what OK does).
    void Store();
    /// The help context of the group shown.
    int HelpContext() const;
    /// The macro menu of the "Argument variables" buttons.
    FieldMenu& Macros() { return *m_macros; }

public slots:
    void accept() override;
    void ShowHelp();

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;

private:
    void BuildMacroMenu();
    void ConnectButtons();
    void UpdateDependents();
    void TestSound();
    std::vector<ParamBinding> KindBindings() const;
    QGroupBox* Group(int kind) const;

    std::unique_ptr<Ui::ParametersForm> m_ui;
    WindowHooks& m_hooks;
    Action* m_action = nullptr;
    ParamBindings m_bindings;
    FieldMenu* m_macros = nullptr;
    std::unique_ptr<FormPositions> m_positions;
    platform::Thread m_beep;  // the test beep, sounding beside the window
};

}  // namespace quorvel::gui
