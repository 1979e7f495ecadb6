#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <vector>

#include "actions/action.h"
#include "core/item_state.h"

#include <memory>
#include <string>

#include "core/item_kind.h"

namespace quorvel {
class BaseMonitoring;
class MonitorProcess;
}

namespace quorvel::gui {

/// The rows of the main window over the configuration's list: one row per
/// entry in list order. Entries are added, loaded, deleted, moved and
/// cleared through the model, which changes the list and its rows together.
/// A row keeps what it shows (state, path, interval text, enabled action
/// kinds, comment), filled from its entry; items themselves are never read
/// while painting.
class ItemListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { StateColumn = 0, PathColumn, IntervalColumn, ActionsColumn, CommentColumn };
    /// The enabled action kinds of a row, as a QVariantList of ints.
    static constexpr int kActionsRole = Qt::UserRole + 1;
    /// True for a separator row.
    static constexpr int kSeparatorRole = Qt::UserRole + 2;

    explicit ItemListModel(MonitorProcess& list, QObject* parent = nullptr);

    MonitorProcess& List() { return m_list; }
    const MonitorProcess& List() const { return m_list; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }

    /// Appends an entry of the kind (a separator answers none), not
    /// started; its row shows it.
    std::shared_ptr<BaseMonitoring> AddEntry(ItemKind kind, bool paused);
    /// Appends the entries of a configuration file; false only when it
    /// cannot be opened. content, when given, receives the bytes read.
    bool LoadFile(const std::string& path, std::string* content = nullptr);
    /// Stops and removes the entry of a row.
    void DeleteEntry(int row);
    /// Moves the entry from one row to another; false when refused.
    bool MoveEntry(int from, int to);
    /// Stops every item and empties the list.
    void ClearEntries();

    /// Fills every text of a row from its entry.
    void FillRow(int row);
    /// The settings generation of the item when its row was last filled.
    std::uint64_t ShownSettings(int row) const {
        return Valid(row) ? m_rows[Index(row)].settings : 0;
    }
    void SetState(int row, ItemState state);
    /// Column 2: the interval, then the seconds left in parentheses. Many
    /// rows at once announce their change together (CountdownsChanged).
    void SetCountdown(int row, int interval, int secondsLeft, bool announce = true);
    /// Announces that the interval column of every row may have changed.
    void CountdownsChanged();

    ItemState StateAt(int row) const;
    bool IsSeparator(int row) const;
    QString IntervalTextAt(int row) const {
        return Valid(row) ? m_rows[Index(row)].interval : QString();
    }

private:
    struct Row {
        QString path;
        QString interval;
        QString comment;
        std::vector<std::uint8_t> actions;  // enabled kinds in list order
        ItemState state = ItemState::Unknown;
        bool separator = false;
        std::uint64_t settings = 0;  // the item's settings generation shown
    };
    bool Valid(int row) const { return row >= 0 && row < static_cast<int>(m_rows.size()); }
    static std::size_t Index(int row) { return static_cast<std::size_t>(row); }
    void RowChanged(int row, int firstColumn, int lastColumn);

    void FillRow(Row& row, const BaseMonitoring* item);

    MonitorProcess& m_list;
    std::vector<Row> m_rows;
    QString m_titles[5];
};

}  // namespace quorvel::gui
