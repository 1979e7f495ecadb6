#include "gui/item_list_view.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

#include "actions/action.h"
#include "gui/item_list_model.h"
#include "gui/pictures.h"

namespace quorvel::gui {

namespace {

constexpr int kIconSize = 16;
constexpr int kIconStep = 18;
constexpr const char* kRowMime = "application/x-quorvel-row";

void FillBackground(QPainter* painter, const QStyleOptionViewItem& option) {
    const QWidget* widget = option.widget;
    const bool selected = (option.state & QStyle::State_Selected) != 0;
    const bool focused = widget != nullptr && widget->hasFocus();
    QColor color = option.palette.color(QPalette::Base);
    if (selected) {
        color = focused ? option.palette.color(QPalette::Highlight)
                        : option.palette.color(QPalette::Button);
    }
    painter->fillRect(option.rect, color);
}

}  // namespace

void ItemListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    const bool separator = index.data(ItemListModel::kSeparatorRole).toBool();
    if (!separator && index.column() != ItemListModel::ActionsColumn) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    painter->save();
    FillBackground(painter, option);
    if (separator) {
        // Three lines across the row at its middle: light, face, shadow.
        const int y = option.rect.top() + option.rect.height() / 2;
        const int left = option.rect.left(), right = option.rect.right();
        painter->setPen(option.palette.color(QPalette::Light));
        painter->drawLine(left, y - 1, right, y - 1);
        painter->setPen(option.palette.color(QPalette::Button));
        painter->drawLine(left, y, right, y);
        painter->setPen(option.palette.color(QPalette::Dark));
        painter->drawLine(left, y + 1, right, y + 1);
    } else {
        const QVariantList kinds = index.data(ItemListModel::kActionsRole).toList();
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const bool focused = option.widget != nullptr && option.widget->hasFocus();
        int n = 0;
        for (const QVariant& kind : kinds) {
            const int x = option.rect.left() + kIconStep * n;
            if (x + kIconSize > option.rect.right() + 1) {
                painter->setPen(option.palette.color(selected && focused ? QPalette::HighlightedText
                                                                         : QPalette::Text));
                painter->drawText(
                    QPoint(x - 1, option.rect.top() + 2 + option.fontMetrics.ascent()),
                    QStringLiteral("..."));
                break;
            }
            Pictures::ActionKindPicture(static_cast<ActionKind>(kind.toInt()))
                .paint(painter, QRect(x, option.rect.top(), kIconSize, kIconSize));
            ++n;
        }
    }
    painter->restore();
}

QSize ItemListDelegate::sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(std::max(size.height(), kIconSize + 2));
    return size;
}

ItemListView::ItemListView(QWidget* parent) : QTreeView(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setHeaderHidden(true);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setIconSize(QSize(kIconSize, kIconSize));
    setItemDelegate(new ItemListDelegate(this));
}

bool ItemListView::InternalDragAllowed() const {
    return selectionModel() != nullptr && selectionModel()->selectedRows().size() == 1;
}

void ItemListView::startDrag(Qt::DropActions) {
    if (!InternalDragAllowed()) {
        return;
    }
    const int row = selectionModel()->selectedRows().front().row();
    auto* mime = new QMimeData();
    mime->setData(kRowMime, QByteArray::number(row));
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(Qt::MoveAction);
}

void ItemListView::dragEnterEvent(QDragEnterEvent* event) {
    if ((event->mimeData()->hasFormat(kRowMime) && event->source() == this &&
         InternalDragAllowed()) ||
        event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
        return;
    }
    event->ignore();
}

void ItemListView::dragMoveEvent(QDragMoveEvent* event) {
    QTreeView::dragMoveEvent(event);
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    } else if (event->mimeData()->hasFormat(kRowMime) && event->source() == this &&
               InternalDragAllowed() && indexAt(event->position().toPoint()).isValid()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void ItemListView::dropEvent(QDropEvent* event) {
    const QMimeData* mime = event->mimeData();
    if (mime->hasFormat(kRowMime) && event->source() == this) {
        const QModelIndex target = indexAt(event->position().toPoint());
        event->setDropAction(Qt::IgnoreAction);  // the window moves the entry itself
        event->accept();
        if (target.isValid() && InternalDragAllowed()) {
            emit RowDropped(mime->data(kRowMime).toInt(), target.row());
        }
        return;
    }
    if (mime->hasUrls()) {
        QStringList paths;
        for (const QUrl& url : mime->urls()) {
            if (url.isLocalFile()) {
                paths.push_back(url.toLocalFile());
            }
        }
        event->acceptProposedAction();
        if (!paths.isEmpty()) {
            emit PathsDropped(paths);
        }
        return;
    }
    event->ignore();
}

}  // namespace quorvel::gui
