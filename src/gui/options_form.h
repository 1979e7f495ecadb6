#pragma once

#include <QDialog>

#include <functional>
#include <memory>

namespace Ui {
class OptionsForm;
}

namespace quorvel::gui {

class FormPositions;

/// The program options dialog: the options of the store on two pages,
/// starting at logon and the .mon file type. Created once and kept; each
/// opening shows the page that was active last.
class OptionsForm : public QDialog {
    Q_OBJECT

public:
    /// helpTopic opens the help topic of a context number.
    OptionsForm(QWidget* parent, std::function<void(int context)> helpTopic);
    ~OptionsForm() override;

    /// Shows the current values and runs the dialog; true when the user
    /// confirmed with OK (the options are then stored, the autostart entry
    /// and the file type follow the boxes).
    bool Execute();
    /// The help context of the active page.
    int HelpContext() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ShowValues();
    /// OK: the options, the store, start at logon, the file type and, when
    /// the file type's state changed, the desktop's notice, in this order.
    void Confirm();
    void TrayChanged();
    void BrowseCacheDirectory();

    std::unique_ptr<Ui::OptionsForm> m_ui;
    std::unique_ptr<FormPositions> m_positions;
    std::function<void(int)> m_helpTopic;
};

}  // namespace quorvel::gui
