#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPointer>

#include <memory>
#include <vector>

#include "actions/action.h"
#include "core/item_kind.h"
#include "gui/main_form.h"
#include "gui/param_binding.h"

class QMenu;
class QTreeWidgetItem;

namespace Ui {
class PropertiesForm;
}

namespace quorvel {
class BaseMonitoring;
}

namespace quorvel::gui {

class FieldMenu;
class FormPositions;
class ParametersForm;

/// The item properties dialog: creates an item, edits one or creates a
/// copy of one, with its schedule and its actions. The actions are edited
/// on a working copy; nothing reaches the item before OK has validated
/// everything, and Cancel leaves it exactly as it was.
class PropertiesForm : public QDialog {
    Q_OBJECT

public:
    explicit PropertiesForm(MainForm& main);
    ~PropertiesForm() override;

    /// Shows the dialog modally; true once OK has applied everything.
    bool Open(ItemDialogMode mode, ItemKind kind, int index, const QString& path);
    /// Fills the dialog (what Open shows first); false when index names no
    /// item.
    bool Prepare(ItemDialogMode mode, ItemKind kind, int index, const QString& path);
    /// What OK does: validates, then stores and applies; false (the dialog
    /// stays open) when a value was refused.
    bool Apply();

    // The actions page.
    const ActionList& WorkingActions() const { return m_actions; }
    /// "Ne&w...": a new action of the kind, opened in the parameters dialog.
    void NewAction(ActionKind kind);
    void EditAction();
    void DeleteAction();
    /// Swaps the selected action with its neighbour (step -1 up, 1 down).
    void MoveAction(int step);
    /// The action parameters dialog, created on first use.
    ParametersForm& Parameters();

    // Schedule page.
    void AddWindow();
    void RemoveWindow();

    /// The help context of the page shown.
    int HelpContext() const;

public slots:
    void accept() override;
    void ShowHelp();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;

private:
    void BuildMenus();
    void ConnectControls();
    std::vector<ParamBinding> CommonBindings() const;
    std::vector<ParamBinding> KindBindings() const;
    void FillRow(QTreeWidgetItem* row, const Action& action) const;
    void SelectRow(int row);
    void UpdateDependents();
    void AnyConditionClicked();
    void ToggleInverse();
    void SpyChanged(int index);
    void BrowseMasks(QLineEdit* field, bool directories);
    bool TurnPage(QKeyEvent* event);
    void Refuse(int message, QWidget* page, QLineEdit* field);
    QLineEdit* PathEdit() const;
    QLineEdit* IntervalEdit() const;
    QWidget* ConditionsPage() const;
    QWidget* OptionsPage() const;

    MainForm& m_main;
    std::unique_ptr<Ui::PropertiesForm> m_ui;
    ItemDialogMode m_mode = ItemDialogMode::Add;
    ItemKind m_kind = ItemKind::File;
    std::shared_ptr<BaseMonitoring> m_source;  // supplies the values shown
    ActionList m_actions;                      // the working copy
    bool m_inverse = false;
    ParamBindings m_bindings;
    QMenu* m_kindMenu = nullptr;
    QMenu* m_quickMenu = nullptr;
    QPointer<QLineEdit> m_quickTarget;
    FieldMenu* m_variables = nullptr;
    QPointer<ParametersForm> m_parameters;
    std::unique_ptr<FormPositions> m_positions;
};

/// Lets the main window open the item properties dialog; the dialog is
/// created on first use and kept (the main window owns it).
void InstallItemDialogs(MainForm& main);

}  // namespace quorvel::gui
