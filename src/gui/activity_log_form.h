#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class ActivityLogForm;
}

namespace quorvel::gui {

class ActivityLogModel;
class FormPositions;

/// The activity log window: the last records, filtered by item and by
/// errors, to copy or save. Looking at it marks the errors as seen.
class ActivityLogForm : public QDialog {
    Q_OBJECT

public:
    ActivityLogForm(ActivityLogModel& model, QWidget* parent = nullptr);
    ~ActivityLogForm() override;

    /// Shows the window (or brings it to the front) and marks errors seen.
    void ShowLog();
    /// The lines of the selected records, or of all shown when none is
    /// selected, as Copy puts them on the clipboard.
    QString SelectedLines() const;
    /// Writes the shown records to a file, a line each; false on failure.
    bool SaveTo(const QString& path) const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void FillItems();
    void ApplyFilter();
    void Copy();
    void Save();

    std::unique_ptr<Ui::ActivityLogForm> m_ui;
    ActivityLogModel& m_model;
    std::unique_ptr<FormPositions> m_positions;
};

}  // namespace quorvel::gui
