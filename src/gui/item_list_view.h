#pragma once

#include <QStyledItemDelegate>
#include <QTreeView>

namespace quorvel::gui {

/// Draws separator rows across the whole row and the "Actions" column as
/// one picture per enabled action.
class ItemListDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

/// The main window's list: whole rows selected, several at once, never
/// edited in place, never sorted. A single selected row can be dragged onto
/// another; files and folders dropped from outside are offered to the
/// window.
class ItemListView : public QTreeView {
    Q_OBJECT

public:
    explicit ItemListView(QWidget* parent = nullptr);

signals:
    /// A single selected row was dropped on another row.
    void RowDropped(int from, int to);
    /// Paths dropped from outside, the first one first.
    void PathsDropped(const QStringList& paths);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;

private:
    bool InternalDragAllowed() const;
};

}  // namespace quorvel::gui
