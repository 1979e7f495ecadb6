#include "gui/activity_log_model.h"

#include <QBrush>
#include <QColor>

#include <algorithm>

#include "gui/dialog_tools.h"

namespace quorvel::gui {

// Gathers records from any thread and hands them to the model with one
// posted event per batch, so a burst of records costs the window one wake.
class ActivityLogModel::Buffer : public LogSink {
public:
    explicit Buffer(ActivityLogModel* model) : m_model(model) {}

    void Write(const LogRecord& record) override {
        bool post = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_closed) {
                return;
            }
            post = m_pending.empty();
            m_pending.push_back(record);
            if (m_pending.size() > kKept) {
                m_pending.pop_front();
            }
        }
        if (post) {
            QMetaObject::invokeMethod(
                m_model, [model = m_model] { model->TakePending(); }, Qt::QueuedConnection);
        }
    }

    std::deque<LogRecord> Take() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_pending, {});
    }

    void Close() {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_pending.clear();
    }

private:
    ActivityLogModel* m_model;  // posted to only while it lives (closed first)
    std::mutex m_mutex;
    std::deque<LogRecord> m_pending;
    bool m_closed = false;
};

ActivityLogModel::ActivityLogModel(QObject* parent)
    : QAbstractTableModel(parent), m_buffer(std::make_shared<Buffer>(this)) {
    m_titles[TimeColumn] = QStringLiteral("Time");
    m_titles[ItemColumn] = QStringLiteral("Item");
    m_titles[ActionColumn] = QStringLiteral("Action");
    m_titles[MessageColumn] = QStringLiteral("Message");
    m_titles[FilesColumn] = QStringLiteral("Files");
}

ActivityLogModel::~ActivityLogModel() {
    m_buffer->Close();
}

std::shared_ptr<LogSink> ActivityLogModel::Sink() {
    return m_buffer;
}

int ActivityLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_visible.size());
}

int ActivityLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 5;
}

const LogRecord& ActivityLogModel::RecordAt(int row) const {
    return m_records[m_visible[static_cast<std::size_t>(row)] - m_dropped];
}

QVariant ActivityLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const LogRecord& r = RecordAt(index.row());
    if (role == Qt::ForegroundRole) {
        if (r.level == LogLevel::Error) {
            return QBrush(QColor(0xB0, 0x00, 0x20));
        }
        return r.level == LogLevel::Warning ? QVariant(QBrush(QColor(0x8A, 0x5A, 0x00)))
                                            : QVariant();
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) {
        return {};
    }
    // Names are shown as they are; a tooltip is plain text too.
    QString text;
    switch (index.column()) {
        case TimeColumn:
            text = QString::fromStdString(FormatLogTime(r.time));
            break;
        case ItemColumn:
            text = r.item > 0 ? QString::number(r.item) + "  " + QString::fromStdString(r.itemName)
                              : QString();
            break;
        case ActionColumn:
            text = QString::fromStdString(r.action);
            break;
        case MessageColumn:
            text = QString::fromStdString(r.message);
            if (r.seconds >= 0) {
                text += QStringLiteral(" (%1 s)").arg(r.seconds, 0, 'f', 3);
            }
            break;
        case FilesColumn: {
            QStringList files;
            for (const std::string& f : r.files) {
                files << QString::fromStdString(f);
            }
            text = files.join(role == Qt::ToolTipRole ? QStringLiteral("\n") : QStringLiteral(", "));
            break;
        }
        default:
            break;
    }
    return role == Qt::ToolTipRole ? QVariant(PlainToolTip(text)) : QVariant(text);
}

QVariant ActivityLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 5) {
        return m_titles[section];
    }
    return {};
}

bool ActivityLogModel::setHeaderData(int section, Qt::Orientation orientation,
                                     const QVariant& value, int role) {
    if (orientation != Qt::Horizontal || section < 0 || section >= 5 ||
        (role != Qt::DisplayRole && role != Qt::EditRole)) {
        return false;
    }
    m_titles[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

bool ActivityLogModel::Visible(const LogRecord& record) const {
    return (m_item == 0 || record.item == m_item) &&
           (!m_errorsOnly || record.level == LogLevel::Error);
}

void ActivityLogModel::Rebuild() {
    beginResetModel();
    m_visible.clear();
    for (std::size_t i = 0; i < m_records.size(); ++i) {
        if (Visible(m_records[i])) {
            m_visible.push_back(m_dropped + i);
        }
    }
    endResetModel();
}

void ActivityLogModel::SetFilter(int item, bool errorsOnly) {
    m_item = item;
    m_errorsOnly = errorsOnly;
    Rebuild();
}

void ActivityLogModel::TakePending() {
    std::deque<LogRecord> fresh = m_buffer->Take();
    if (fresh.empty()) {
        return;
    }
    const std::size_t itemsBefore = m_items.size();
    int errors = 0;
    for (LogRecord& record : fresh) {
        errors += record.level == LogLevel::Error ? 1 : 0;
        if (record.item > 0) {
            m_items[record.item] = record.itemName;
        }
        m_records.push_back(std::move(record));
    }
    // Only the last records are kept: the oldest go, from the front.
    const std::size_t excess = m_records.size() > kKept ? m_records.size() - kKept : 0;
    if (excess > 0) {
        const std::size_t firstKept = m_dropped + excess;
        const auto gone = static_cast<int>(
            std::lower_bound(m_visible.begin(), m_visible.end(), firstKept) - m_visible.begin());
        if (gone > 0) {
            beginRemoveRows(QModelIndex(), 0, gone - 1);
            m_visible.erase(m_visible.begin(), m_visible.begin() + gone);
            m_records.erase(m_records.begin(), m_records.begin() + static_cast<long>(excess));
            m_dropped = firstKept;
            endRemoveRows();
        } else {
            m_records.erase(m_records.begin(), m_records.begin() + static_cast<long>(excess));
            m_dropped = firstKept;
        }
    }
    std::vector<std::size_t> added;
    const std::size_t firstNew = m_records.size() - std::min(m_records.size(), fresh.size());
    for (std::size_t i = firstNew; i < m_records.size(); ++i) {
        if (Visible(m_records[i])) {
            added.push_back(m_dropped + i);
        }
    }
    if (!added.empty()) {
        const int first = static_cast<int>(m_visible.size());
        beginInsertRows(QModelIndex(), first, first + static_cast<int>(added.size()) - 1);
        m_visible.insert(m_visible.end(), added.begin(), added.end());
        endInsertRows();
    }
    if (errors > 0) {
        m_unseenErrors += errors;
        emit UnseenErrorsChanged(m_unseenErrors);
    }
    if (m_items.size() != itemsBefore) {
        emit ItemsChanged();
    }
}

std::vector<std::pair<int, std::string>> ActivityLogModel::Items() const {
    return {m_items.begin(), m_items.end()};
}

void ActivityLogModel::Clear() {
    beginResetModel();
    m_dropped += m_records.size();
    m_records.clear();
    m_visible.clear();
    m_items.clear();
    endResetModel();
    MarkSeen();
    emit ItemsChanged();
}

void ActivityLogModel::MarkSeen() {
    if (m_unseenErrors != 0) {
        m_unseenErrors = 0;
        emit UnseenErrorsChanged(0);
    }
}

}  // namespace quorvel::gui
