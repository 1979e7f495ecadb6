#include "gui/help_viewer.h"

#include <QShortcut>
#include <QStyle>
#include <QTextBrowser>

#include "core/version.h"
#include "gui/pictures.h"
#include "ui_help_viewer.h"

namespace quorvel::gui {

HelpViewer::HelpViewer(QWidget* parent)
    : QMainWindow(parent), m_ui(std::make_unique<Ui::HelpForm>()) {
    m_ui->setupUi(this);
    setWindowIcon(Pictures::Application());
    m_ui->contentsItem->setIcon(style()->standardIcon(QStyle::SP_DirHomeIcon));
    m_ui->backItem->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
    m_ui->forwardItem->setIcon(style()->standardIcon(QStyle::SP_ArrowForward));
    m_ui->backItem->setEnabled(false);
    m_ui->forwardItem->setEnabled(false);
    QTextBrowser* browser = m_ui->helpBrowser;
    connect(m_ui->contentsItem, &QAction::triggered, this, [this] {
        if (m_contents.isValid()) {
            m_ui->helpBrowser->setSource(m_contents);
        }
    });
    connect(m_ui->backItem, &QAction::triggered, browser, &QTextBrowser::backward);
    connect(m_ui->forwardItem, &QAction::triggered, browser, &QTextBrowser::forward);
    connect(browser, &QTextBrowser::backwardAvailable, m_ui->backItem, &QAction::setEnabled);
    connect(browser, &QTextBrowser::forwardAvailable, m_ui->forwardItem, &QAction::setEnabled);
    connect(browser, &QTextBrowser::sourceChanged, this, [this] {
        const QString title = m_ui->helpBrowser->documentTitle();
        setWindowTitle(title.isEmpty() ? QString::fromUtf8(kProductName) : title);
    });
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
}

HelpViewer::~HelpViewer() = default;

void HelpViewer::Open(const QUrl& page, const QUrl& contents) {
    m_contents = contents;
    m_ui->helpBrowser->setSource(page);
}

void HelpViewer::SetTexts(const QString& contents, const QString& back, const QString& forward) {
    m_ui->contentsItem->setText(contents);
    m_ui->backItem->setText(back);
    m_ui->forwardItem->setText(forward);
}

QUrl HelpViewer::Page() const {
    return m_ui->helpBrowser->source();
}

QTextBrowser& HelpViewer::Browser() {
    return *m_ui->helpBrowser;
}

}  // namespace quorvel::gui
