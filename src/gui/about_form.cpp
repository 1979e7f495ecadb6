#include "gui/about_form.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QUrl>

#include "core/version.h"
#include "gui/pictures.h"
#include "ui_about_form.h"

namespace quorvel::gui {

namespace {

QString Product() {
    return QString::fromUtf8(kProductName) + " " + QString::fromUtf8(kVersion);
}

}  // namespace

AboutForm::AboutForm(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::AboutForm>()) {
    m_ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    m_ui->logoImage->setPixmap(Pictures::Application().pixmap(32, 32));

    const QString lines[] = {
        VersionLine(),
        QStringLiteral("Written by Feldrane"),
        QString(),
        QStringLiteral("Watches files and directories"),
        QStringLiteral("and acts when they change."),
        QString::fromUtf8(kHomepage),
        QString(),
        QStringLiteral("Built with Qt %1, zlib, ALSA and XCB.").arg(QString::fromUtf8(qVersion())),
        QStringLiteral("Thanks to everyone who reported problems"),
        QStringLiteral("and suggested improvements."),
        QString(),
        QStringLiteral("German translation: the Quorvel team"),
    };
    m_ui->creditsMemo->clear();
    for (const QString& line : lines) {
        m_ui->creditsMemo->append(line);
    }
    QTextCursor cursor(m_ui->creditsMemo->document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    cursor.mergeBlockFormat(centred);
    m_ui->creditsMemo->moveCursor(QTextCursor::Start);

    // The links: blue, underlined, with the hand cursor and the target as hint.
    m_ui->mailLabel->setText(QString::fromUtf8(kAuthorEmail));
    for (QLabel* link : {m_ui->mailLabel, m_ui->homepageLabel}) {
        QFont font = link->font();
        font.setUnderline(true);
        link->setFont(font);
        QPalette palette = link->palette();
        palette.setColor(QPalette::WindowText, Qt::blue);
        link->setPalette(palette);
        link->setCursor(Qt::PointingHandCursor);
        link->setToolTip(TargetOf(link));
        link->setContextMenuPolicy(Qt::DefaultContextMenu);
        link->installEventFilter(this);
    }

    m_locationMenu = new QMenu(this);
    m_locationMenu->setObjectName(QStringLiteral("locationMenu"));
    m_locationMenu->addAction(m_ui->openItem);
    m_locationMenu->addSeparator()->setObjectName(QStringLiteral("N1"));
    m_locationMenu->addAction(m_ui->copyItem);
    m_locationMenu->setDefaultAction(m_ui->openItem);
    connect(m_ui->openItem, &QAction::triggered, this, [this] {
        if (m_menuLink != nullptr) {
            Open(TargetOf(m_menuLink));
        }
    });
    connect(m_ui->copyItem, &QAction::triggered, this, [this] {
        if (m_menuLink != nullptr) {
            QGuiApplication::clipboard()->setText(TargetOf(m_menuLink));
        }
    });
    connect(m_ui->OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

AboutForm::~AboutForm() = default;

QString AboutForm::VersionLine() {
    return Product() + " (" + QString::fromLatin1(kBuildDate) + ")";
}

QString AboutForm::MailTarget() {
    return "mailto:" + QString::fromUtf8(kAuthorEmail) + "?Subject=\"" + Product() + "\"";
}

QString AboutForm::HomepageTarget() {
    return QString::fromUtf8(kHomepage);
}

void AboutForm::ShowBox() {
    if (isVisible()) {
        raise();
        activateWindow();
        return;
    }
    if (!m_placed) {
        // Centred on the screen the first time; later where the user left it.
        adjustSize();
        const QScreen* screen =
            parentWidget() != nullptr ? parentWidget()->screen() : QGuiApplication::primaryScreen();
        if (screen != nullptr) {
            QRect frame = geometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
        m_placed = true;
    }
    exec();
}

void AboutForm::OpenMail() const {
    Open(MailTarget());
}

void AboutForm::OpenHomepage() const {
    Open(HomepageTarget());
}

void AboutForm::Open(const QString& target) {
    // A target no program handles is ignored.
    QDesktopServices::openUrl(QUrl(target, QUrl::TolerantMode));
}

QString AboutForm::TargetOf(const QObject* link) const {
    return link == m_ui->mailLabel ? MailTarget() : HomepageTarget();
}

bool AboutForm::eventFilter(QObject* watched, QEvent* event) {
    auto* link = qobject_cast<QLabel*>(watched);
    if (link == nullptr || (link != m_ui->mailLabel && link != m_ui->homepageLabel)) {
        return QDialog::eventFilter(watched, event);
    }
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
        link->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
        Open(TargetOf(link));
        return true;
    }
    if (event->type() == QEvent::ContextMenu) {
        m_menuLink = link;
        m_locationMenu->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace quorvel::gui
