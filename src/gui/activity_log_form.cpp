#include "gui/activity_log_form.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>

#include "gui/activity_log_model.h"
#include "gui/file_dialogs.h"
#include "gui/form_positions.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "ui_activity_log_form.h"

namespace quorvel::gui {

ActivityLogForm::ActivityLogForm(ActivityLogModel& model, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::ActivityLogForm>()), m_model(model) {
    m_ui->setupUi(this);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    m_ui->recordsView->setModel(&m_model);
    m_ui->recordsView->verticalHeader()->hide();
    m_ui->recordsView->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_ui->recordsView->horizontalHeader()->setStretchLastSection(true);
    m_ui->recordsView->setColumnWidth(ActivityLogModel::TimeColumn, 140);
    m_ui->recordsView->setColumnWidth(ActivityLogModel::ItemColumn, 160);
    m_ui->recordsView->setColumnWidth(ActivityLogModel::ActionColumn, 160);
    m_ui->recordsView->setColumnWidth(ActivityLogModel::MessageColumn, 240);
    m_positions = std::make_unique<FormPositions>(this, "\\Positions\\ActivityLog", true);
    m_positions->Restore();

    connect(m_ui->itemFilterComboBox, &QComboBox::currentIndexChanged, this,
            &ActivityLogForm::ApplyFilter);
    connect(m_ui->errorsCheckBox, &QCheckBox::toggled, this, &ActivityLogForm::ApplyFilter);
    connect(m_ui->copyButton, &QPushButton::clicked, this, &ActivityLogForm::Copy);
    connect(m_ui->saveButton, &QPushButton::clicked, this, &ActivityLogForm::Save);
    connect(m_ui->clearButton, &QPushButton::clicked, this, [this] { m_model.Clear(); });
    connect(m_ui->closeButton, &QPushButton::clicked, this, &QDialog::close);
    connect(&m_model, &ActivityLogModel::ItemsChanged, this, &ActivityLogForm::FillItems);
    // Errors that come while the window is in front are seen.
    connect(&m_model, &ActivityLogModel::UnseenErrorsChanged, this, [this](int count) {
        if (count > 0 && isVisible() && isActiveWindow()) {
            m_model.MarkSeen();
        }
    });
    // New records scroll into view when the last row was in view.
    connect(&m_model, &QAbstractItemModel::rowsInserted, this, [this] {
        auto* bar = m_ui->recordsView->verticalScrollBar();
        if (bar->value() >= bar->maximum() - 2) {
            m_ui->recordsView->scrollToBottom();
        }
    });
    FillItems();
}

ActivityLogForm::~ActivityLogForm() {
    m_positions->Save();
}

void ActivityLogForm::ShowLog() {
    show();
    raise();
    activateWindow();
    m_ui->recordsView->scrollToBottom();
    m_model.MarkSeen();
}

void ActivityLogForm::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        m_model.MarkSeen();
    }
}

void ActivityLogForm::FillItems() {
    auto* combo = m_ui->itemFilterComboBox;
    const int chosen = combo->currentData().toInt();
    const QSignalBlocker quiet(combo);
    while (combo->count() > 1) {
        combo->removeItem(1);
    }
    combo->setItemData(0, 0);
    int index = 0;
    for (const auto& [item, name] : m_model.Items()) {
        combo->addItem(QString::number(item) + "  " + QString::fromStdString(name), item);
        if (item == chosen) {
            index = combo->count() - 1;
        }
    }
    combo->setCurrentIndex(index);
}

void ActivityLogForm::ApplyFilter() {
    m_model.SetFilter(m_ui->itemFilterComboBox->currentData().toInt(),
                      m_ui->errorsCheckBox->isChecked());
}

QString ActivityLogForm::SelectedLines() const {
    QList<int> rows;
    if (const auto* selection = m_ui->recordsView->selectionModel()) {
        for (const QModelIndex& index : selection->selectedRows()) {
            rows << index.row();
        }
    }
    std::sort(rows.begin(), rows.end());
    if (rows.isEmpty()) {
        for (int row = 0; row < m_model.rowCount(); ++row) {
            rows << row;
        }
    }
    QString text;
    for (int row : rows) {
        text += QString::fromStdString(FormatLogLine(m_model.RecordAt(row))) + "\n";
    }
    return text;
}

void ActivityLogForm::Copy() {
    QGuiApplication::clipboard()->setText(SelectedLines());
}

bool ActivityLogForm::SaveTo(const QString& path) const {
    QString text;
    for (int row = 0; row < m_model.rowCount(); ++row) {
        text += QString::fromStdString(FormatLogLine(m_model.RecordAt(row))) +
                QString::fromLatin1(platform::kLineEnding);
    }
    std::string error;
    if (platform::WriteFileAtomically(path.toStdString(), text.toStdString(), 0666, &error)) {
        return true;
    }
    ActivityLog::Report(LogLevel::Error, error);
    return false;
}

void ActivityLogForm::Save() {
    const QString path = FileDialogs::SaveFile(this, windowTitle(), QString(),
                                               QStringLiteral("*.log|*.log|*|*"), "log");
    if (!path.isEmpty()) {
        SaveTo(path);
    }
}

}  // namespace quorvel::gui
