#include "gui/program_help.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTextDocument>
#include <QWhatsThis>
#include <QWidget>

#include "core/version.h"
#include "gui/help_viewer.h"
#include "gui/message_boxes.h"
#include "platform/paths.h"
#include "settings/adv_string_list.h"
#include "settings/lang.h"

namespace quorvel::gui {

namespace {

constexpr const char* kContextsApplied = "helpContextsApplied";
// Numbers up to this one are topics, above it popups.
constexpr int kLastTopic = 2000;

QString Text(int index) {
    return QString::fromStdString(Strings().Text(index));
}

bool IsPlain(const QString& name) {
    return Lang::IsPlainFileName(name.toStdString());
}

}  // namespace

ProgramHelp::ProgramHelp(const Lang& lang, QWidget* owner)
    : QObject(owner), m_lang(lang), m_owner(owner) {
    SetDirectory(QString::fromStdString(platform::ShippedDataDirectory("Help")));
    qApp->installEventFilter(this);
}

ProgramHelp::~ProgramHelp() {
    delete m_viewer.data();
}

void ProgramHelp::SetDirectory(const QString& directory) {
    m_directory = directory.endsWith('/') ? directory : directory + '/';
    m_controls.Load((m_directory + "control_contexts.ini").toStdString());
}

QString ProgramHelp::ManualDirectory() const {
    const QString stem = QFileInfo(QString::fromStdString(m_lang.HelpFile())).completeBaseName();
    return IsPlain(stem) ? m_directory + stem + '/' : QString();
}

QUrl ProgramHelp::ContentsUrl() const {
    const QString directory = ManualDirectory();
    const QString index = directory + "index.html";
    if (directory.isEmpty() || !QFileInfo(index).isFile()) {
        return {};
    }
    return QUrl::fromLocalFile(index);
}

QUrl ProgramHelp::TopicUrl(int context) const {
    const QString directory = ManualDirectory();
    if (directory.isEmpty()) {
        return {};
    }
    IniFile contexts;
    contexts.Load((directory + "contexts.ini").toStdString());
    const QString target = QString::fromStdString(
        contexts.GetString("Contexts", std::to_string(context), std::string()));
    const QString page = target.section('#', 0, 0);
    const QString anchor = target.section('#', 1);
    if (!IsPlain(page) || !QFileInfo(directory + page).isFile()) {
        return {};
    }
    QUrl url = QUrl::fromLocalFile(directory + page);
    if (!anchor.isEmpty()) {
        url.setFragment(anchor);
    }
    return url;
}

QString ProgramHelp::PopupText(int context) const {
    if (context <= kLastTopic) {
        return {};
    }
    std::string text;
    const QString file = QString::fromStdString(m_lang.PopupFile());
    if (IsPlain(file)) {
        IniFile popups;
        popups.Load((m_directory + file).toStdString());
        text = popups.GetString("Popups", std::to_string(context), std::string());
    }
    return text.empty() ? Text(lngNoPop) : QString::fromStdString(text);
}

void ProgramHelp::ApplyContexts(QWidget* window) const {
    if (window == nullptr || window->objectName().isEmpty()) {
        return;
    }
    const std::string prefix = window->objectName().toStdString() + ".";
    for (QWidget* control : window->findChildren<QWidget*>()) {
        // A number the window's own layout gives stays.
        if (control->objectName().isEmpty() || control->property(kHelpContext).isValid()) {
            continue;
        }
        const std::string number = m_controls.GetString(
            "Controls", prefix + control->objectName().toStdString(), std::string());
        if (const int context = QString::fromStdString(number).toInt(); context > 0) {
            control->setProperty(kHelpContext, context);
        }
    }
    window->setProperty(kContextsApplied, true);
}

HelpViewer* ProgramHelp::Viewer() const {
    return m_viewer;
}

bool ProgramHelp::ShowContents() {
    const QUrl contents = ContentsUrl();
    if (contents.isEmpty()) {
        AskForViewer();
        return false;
    }
    return Present(contents);
}

bool ProgramHelp::ShowTopic(int context) {
    const QUrl contents = ContentsUrl();
    if (contents.isEmpty()) {
        AskForViewer();
        return false;
    }
    const QUrl topic = TopicUrl(context);
    return Present(topic.isEmpty() ? contents : topic);
}

bool ProgramHelp::Present(const QUrl& page) {
    if (!m_viewer) {
        m_viewer = new HelpViewer(nullptr);
    }
    IniFile texts;
    texts.Load((ManualDirectory() + "contexts.ini").toStdString());
    auto text = [&texts](const char* key, const char* english) {
        return QString::fromStdString(texts.GetString("Viewer", key, english));
    };
    m_viewer->SetTexts(text("Contents", "&Contents"), text("Back", "&Back"),
                       text("Forward", "&Forward"));
    FollowModal();
    m_viewer->Open(page, ContentsUrl());
    if (m_viewer->isMinimized()) {
        m_viewer->showNormal();
    }
    m_viewer->show();
    m_viewer->raise();
    m_viewer->activateWindow();
    return true;
}

void ProgramHelp::FollowModal() {
    // A modal dialog blocks every window but its own: while one is open the
    // help window belongs to it, and becomes free again when it closes.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == m_viewer) {
        modal = nullptr;
    }
    if (m_viewer->parentWidget() != modal) {
        MoveViewerTo(modal);
    }
}

void ProgramHelp::MoveViewerTo(QWidget* parent) {
    const bool visible = m_viewer->isVisible();
    const QRect placement = m_viewer->geometry();
    m_viewer->setParent(parent, Qt::Window);
    if (visible) {
        m_viewer->setGeometry(placement);
        m_viewer->show();
    }
    m_modalParent = parent;
}

void ProgramHelp::AskForViewer() {
    QWidget* parent = QApplication::activeModalWidget();
    if (parent == nullptr) {
        parent = m_owner;
    }
    if (MessageBoxes::Show(parent, Text(lngCantLoadHH),
                           Text(lngGoToMS_1) + "\n" + Text(lngGoToMS_2), QMessageBox::NoIcon,
                           QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
        QDesktopServices::openUrl(QUrl(QString::fromUtf8(kHomepage)));
    }
}

int ProgramHelp::ContextOf(const QWidget* w) {
    return w != nullptr ? w->property(kHelpContext).toInt() : 0;
}

void ProgramHelp::ShowPopup(QWidget* w, int context) {
    QWhatsThis::showText(w->mapToGlobal(QPoint(0, 20)),
                         Qt::convertFromPlainText(PopupText(context), Qt::WhiteSpaceNormal), w);
}

bool ProgramHelp::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Hide:
            if (watched == m_modalParent && m_viewer) {
                // The dialog closes; its help window stays where it is and
                // goes to the modal dialog below it, if one is still open.
                QWidget* below = m_modalParent->parentWidget();
                while (below != nullptr &&
                       !(below->isWindow() && below->isVisible() && below->isModal())) {
                    below = below->parentWidget();
                }
                MoveViewerTo(below);
            }
            return false;
        case QEvent::Show: {
            auto* w = qobject_cast<QWidget*>(watched);
            if (w != nullptr && w->isWindow() && !w->property(kContextsApplied).toBool()) {
                ApplyContexts(w);
            }
            return false;
        }
        case QEvent::QueryWhatsThis:
        case QEvent::WhatsThis: {
            // Qt asks the control under the pointer first, then its parents
            // while none accepts.
            auto* w = qobject_cast<QWidget*>(watched);
            const int context = ContextOf(w);
            if (context == 0) {
                return false;
            }
            if (event->type() == QEvent::WhatsThis && context > kLastTopic) {
                ShowPopup(w, context);
            }
            event->setAccepted(context > kLastTopic);
            return true;
        }
        case QEvent::KeyPress: {
            // Shift+F1: the text of the focused control.
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() != Qt::Key_F1 ||
                (key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) !=
                    Qt::ShiftModifier) {
                return false;
            }
            for (QWidget* w = QApplication::focusWidget(); w != nullptr; w = w->parentWidget()) {
                if (const int context = ContextOf(w); context != 0) {
                    if (context <= kLastTopic) {
                        return false;
                    }
                    ShowPopup(w, context);
                    return true;
                }
                if (w->isWindow()) {
                    break;
                }
            }
            return false;
        }
        default:
            return false;
    }
}

}  // namespace quorvel::gui
