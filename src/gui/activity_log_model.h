#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <QString>

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "core/activity_log.h"

namespace quorvel::gui {

/// The last records of the activity log, for the log window: a row a
/// record, newest last, filtered by item and by level. Lives on the
/// user-interface thread; records arrive through Sink() from any thread.
class ActivityLogModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { TimeColumn = 0, ItemColumn, ActionColumn, MessageColumn, FilesColumn };
    static constexpr std::size_t kKept = 5000;

    explicit ActivityLogModel(QObject* parent = nullptr);
    ~ActivityLogModel() override;

    /// The sink to attach to the activity log: it hands records over to
    /// this model in batches, one event for all that came meanwhile.
    std::shared_ptr<LogSink> Sink();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role) override;

    /// Only the records of one item (0: all of them), only errors.
    void SetFilter(int item, bool errorsOnly);
    /// The record behind a visible row.
    const LogRecord& RecordAt(int row) const;
    /// The items that have records, ascending, with the name they had.
    std::vector<std::pair<int, std::string>> Items() const;
    void Clear();

    /// Errors that came since the user last looked (MarkSeen).
    int UnseenErrors() const { return m_unseenErrors; }
    void MarkSeen();

    /// Takes the records the sink gathered (the sink's posted event does it;
    /// tests call it too).
    void TakePending();

signals:
    void UnseenErrorsChanged(int count);
    void ItemsChanged();

private:
    class Buffer;
    bool Visible(const LogRecord& record) const;
    void Rebuild();

    std::shared_ptr<Buffer> m_buffer;
    std::deque<LogRecord> m_records;
    std::vector<std::size_t> m_visible;  // indexes into m_records
    std::map<int, std::string> m_items;  // item -> its name, of the records kept
    std::size_t m_dropped = 0;           // records dropped from the front so far
    int m_item = 0;
    bool m_errorsOnly = false;
    int m_unseenErrors = 0;
    QString m_titles[5];
};

}  // namespace quorvel::gui
