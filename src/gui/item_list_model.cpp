#include "gui/item_list_model.h"

#include "engine/base_monitoring.h"
#include "engine/monitor_process.h"
#include "platform/file_system.h"
#include "gui/dialog_tools.h"
#include "gui/pictures.h"

namespace quorvel::gui {

ItemListModel::ItemListModel(MonitorProcess& list, QObject* parent)
    : QAbstractTableModel(parent), m_list(list) {
    m_rows.resize(static_cast<std::size_t>(m_list.Count()));
    for (int row = 0; row < m_list.Count(); ++row) {
        FillRow(m_rows[Index(row)], m_list.Get(row).get());
    }
}

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

std::shared_ptr<BaseMonitoring> ItemListModel::AddEntry(ItemKind kind, bool paused) {
    const int row = m_list.Count();
    beginInsertRows({}, row, row);
    auto item = m_list.Add(kind, paused);
    m_rows.emplace_back();
    FillRow(m_rows.back(), item.get());
    endInsertRows();
    return item;
}

bool ItemListModel::LoadFile(const std::string& path, std::string* content) {
    // The rows are announced before the entries come: the text is read
    // first, so its complete blocks are counted in advance.
    auto text = platform::ReadWholeFile(path);
    if (!text) {
        return false;
    }
    int blocks = 0;
    ForEachConfigurationBlock(*text, [&](ItemKind, bool, const std::vector<std::string>&) {
        ++blocks;
    });
    const int first = m_list.Count();
    if (blocks > 0) {
        beginInsertRows({}, first, first + blocks - 1);
    }
    m_list.LoadText(*text);
    m_rows.resize(static_cast<std::size_t>(m_list.Count()));
    for (int row = first; row < m_list.Count(); ++row) {
        FillRow(m_rows[Index(row)], m_list.Get(row).get());
    }
    if (blocks > 0) {
        endInsertRows();
    }
    if (content != nullptr) {
        *content = std::move(*text);
    }
    return true;
}

void ItemListModel::DeleteEntry(int row) {
    if (!Valid(row)) {
        return;
    }
    beginRemoveRows({}, row, row);
    m_list.Delete(row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

bool ItemListModel::MoveEntry(int from, int to) {
    if (!Valid(from) || !Valid(to) || from == to) {
        return false;
    }
    // Qt names the destination as the row before which the moved one lands.
    const int destination = to > from ? to + 1 : to;
    if (!beginMoveRows({}, from, from, {}, destination)) {
        return false;
    }
    m_list.Move(from, to);
    Row moved = std::move(m_rows[Index(from)]);
    m_rows.erase(m_rows.begin() + from);
    m_rows.insert(m_rows.begin() + to, std::move(moved));
    endMoveRows();
    return true;
}

void ItemListModel::ClearEntries() {
    beginResetModel();
    m_list.Clear();
    m_rows.clear();
    m_rows.shrink_to_fit();
    endResetModel();
}

void ItemListModel::FillRow(int row) {
    if (!Valid(row)) {
        return;
    }
    FillRow(m_rows[Index(row)], m_list.Get(row).get());
    RowChanged(row, 0, 4);
}

void ItemListModel::FillRow(Row& r, const BaseMonitoring* item) {
    r.separator = item == nullptr;
    r.actions.clear();
    if (item == nullptr) {
        r.path.clear();
        r.interval.clear();
        r.comment.clear();
        r.state = ItemState::Separator;
        return;
    }
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
