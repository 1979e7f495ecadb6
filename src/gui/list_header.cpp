#include "gui/list_header.h"

namespace quorvel::gui {

ListHeader::ListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent), m_sections(0, 5) {
    setModel(&m_sections);
    setSectionsClickable(false);
    setHighlightSections(false);
    setStretchLastSection(false);
    setSectionResizeMode(QHeaderView::Interactive);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFixedHeight(sizeHint().height());
}

QSize ListHeader::sizeHint() const {
    // A header with a model of no rows still has the height of one line.
    QSize size = QHeaderView::sizeHint();
    size.setHeight(fontMetrics().height() + 8);
    return size;
}

QString ListHeader::SectionText(int index) const {
    return m_sections.headerData(index, Qt::Horizontal).toString();
}

void ListHeader::SetSectionText(int index, const QString& text) {
    m_sections.setHeaderData(index, Qt::Horizontal, text);
}

}  // namespace quorvel::gui
