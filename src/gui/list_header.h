#pragma once

#include <QHeaderView>
#include <QStandardItemModel>

namespace quorvel::gui {

/// The header strip above the item list: five sections that name the
/// columns, cannot be clicked, and set the list's column widths when resized.
class ListHeader : public QHeaderView {
    Q_OBJECT

public:
    explicit ListHeader(QWidget* parent = nullptr);
    /// The text of section index (empty for a section that does not exist).
    QString SectionText(int index) const;
    void SetSectionText(int index, const QString& text);
    QSize sizeHint() const override;

private:
    QStandardItemModel m_sections;
};

}  // namespace quorvel::gui
