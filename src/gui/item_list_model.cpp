#include "gui/item_list_model.h"

#include "engine/base_monitoring.h"
#include "gui/dialog_tools.h"
#include "gui/pictures.h"

namespace quorvel::gui {

ItemListModel::ItemListModel(QObject* parent) : QAbstractTableModel(parent) {}

int ItemListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ItemListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 5;
}

QVariant ItemListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !Valid(index.row())) {
        return {};
    }
    const Row& row = m_rows[Index(index.row())];
    if (role == kSeparatorRole) {
        return row.separator;
    }
    if (row.separator) {
        return {};
    }
    switch (index.column()) {
        case StateColumn:
            return role == Qt::DecorationRole ? QVariant(Pictures::State(row.state)) : QVariant();
        case PathColumn:
            return role == Qt::DisplayRole   ? QVariant(row.path)
                   : role == Qt::ToolTipRole ? QVariant(PlainToolTip(row.path))
                                             : QVariant();
        case IntervalColumn:
            return role == Qt::DisplayRole ? QVariant(row.interval) : QVariant();
        case ActionsColumn:
            if (role == kActionsRole) {
                QVariantList kinds;
                for (std::uint8_t k : row.actions) {
                    kinds.push_back(static_cast<int>(k));
                }
                return kinds;
            }
            return {};
        case CommentColumn:
            return role == Qt::DisplayRole   ? QVariant(row.comment)
                   : role == Qt::ToolTipRole ? QVariant(PlainToolTip(row.comment))
                                             : QVariant();
        default:
            return {};
    }
}

QVariant ItemListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 5) {
        return m_titles[section];
    }
    return {};
}

bool ItemListModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                                  int role) {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= 5) {
        return false;
    }
    m_titles[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

Qt::ItemFlags ItemListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::ItemIsDropEnabled;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
}

void ItemListModel::InsertRows(int row, int count) {
    if (count <= 0) {
        return;
    }
    row = std::clamp(row, 0, rowCount());
    beginInsertRows({}, row, row + count - 1);
    m_rows.insert(m_rows.begin() + row, static_cast<std::size_t>(count), Row{});
    endInsertRows();
}

void ItemListModel::RemoveRowAt(int row) {
    if (!Valid(row)) {
        return;
    }
    beginRemoveRows({}, row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

void ItemListModel::RemoveAll() {
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    endResetModel();
}

void ItemListModel::MoveRow(int from, int to) {
    if (!Valid(from) || !Valid(to) || from == to) {
        return;
    }
    // Qt names the destination as the row before which the moved one lands.
    const int destination = to > from ? to + 1 : to;
    beginMoveRows({}, from, from, {}, destination);
    Row moved = std::move(m_rows[Index(from)]);
    m_rows.erase(m_rows.begin() + from);
    m_rows.insert(m_rows.begin() + to, std::move(moved));
    endMoveRows();
}

void ItemListModel::FillRow(int row, const BaseMonitoring* item) {
    if (!Valid(row)) {
        return;
    }
    Row& r = m_rows[Index(row)];
    r.separator = item == nullptr;
    r.actions.clear();
    if (item == nullptr) {
        r.path.clear();
        r.interval.clear();
        r.comment.clear();
        r.state = ItemState::Separator;
    } else {
        r.path = QString::fromStdString(item->FileName());
        r.interval = QString::number(item->Interval());
        r.comment = QString::fromStdString(item->Comment());
        r.state = item->State();
        r.settings = item->SettingsGeneration();
        auto actions = item->Actions();
        for (const auto& action : *actions) {
            if (action && action->Enabled()) {
                r.actions.push_back(static_cast<std::uint8_t>(action->Kind()));
            }
        }
    }
    RowChanged(row, 0, 4);
}

void ItemListModel::SetState(int row, ItemState state) {
    if (!Valid(row) || m_rows[Index(row)].separator) {
        return;
    }
    m_rows[Index(row)].state = state;
    RowChanged(row, StateColumn, StateColumn);
}

void ItemListModel::SetCountdown(int row, int interval, int secondsLeft, bool announce) {
    if (!Valid(row) || m_rows[Index(row)].separator) {
        return;
    }
    QString& text = m_rows[Index(row)].interval;
    text = QString::number(interval);
    text += QStringLiteral(" (");
    text += QString::number(secondsLeft);
    text += QLatin1Char(')');
    if (announce) {
        RowChanged(row, IntervalColumn, IntervalColumn);
    }
}

void ItemListModel::CountdownsChanged() {
    if (!m_rows.empty()) {
        emit dataChanged(index(0, IntervalColumn), index(rowCount() - 1, IntervalColumn),
                         {Qt::DisplayRole});
    }
}

ItemState ItemListModel::StateAt(int row) const {
    return Valid(row) ? m_rows[Index(row)].state : ItemState::Unknown;
}

bool ItemListModel::IsSeparator(int row) const {
    return Valid(row) && m_rows[Index(row)].separator;
}

void ItemListModel::RowChanged(int row, int firstColumn, int lastColumn) {
    emit dataChanged(index(row, firstColumn), index(row, lastColumn));
}

}  // namespace quorvel::gui
