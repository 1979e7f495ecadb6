#include "gui/file_op_dialogs.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressDialog>

#include "core/version.h"
#include "gui/message_boxes.h"
#include "gui/thread_bridge.h"
#include "settings/adv_string_list.h"

namespace quorvel::gui {

namespace {

QString Title() {
    return QString::fromUtf8(kProductName);
}

QString KindText(platform::FileOpKind kind) {
    switch (kind) {
        case platform::FileOpKind::Copy:
            return QString::fromStdString(Strings().Text(lngCopy));
        case platform::FileOpKind::Move:
            return QString::fromStdString(Strings().Text(lngMove));
        case platform::FileOpKind::Rename:
            return QString::fromStdString(Strings().Text(lngRename));
        case platform::FileOpKind::Delete:
            return QString::fromStdString(Strings().Text(lngDelete));
    }
    return {};
}

}  // namespace

bool FileOpDialogs::ConfirmOverwrite(const platform::FileOperation&, const std::string& source,
                                     const std::string& destination) {
    bool replace = false;
    ThreadBridge::Instance().Call([&] {
        const QString text = QStringLiteral("\"%1\"\n\n%2\n\"%3\"?")
                                 .arg(QString::fromStdString(destination),
                                      QCoreApplication::translate("FileOpDialogs", "Replace with"),
                                      QString::fromStdString(source));
        replace = MessageBoxes::Show(nullptr, Title(), text, QMessageBox::Question,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    });
    return replace;
}

void FileOpDialogs::Progress(const platform::FileOperation& operation, const std::string& source) {
    ThreadBridge::Instance().Call([&] {
        if (!m_progress) {
            m_progress = new QProgressDialog();
            auto* label = new QLabel(m_progress);
            label->setTextFormat(Qt::PlainText);  // the label names files
            m_progress->setLabel(label);
            m_progress->setWindowTitle(Title());
            m_progress->setCancelButton(nullptr);
            m_progress->setRange(0, 0);
            m_progress->setMinimumDuration(0);
            m_progress->setAttribute(Qt::WA_DeleteOnClose);
        }
        m_progress->setLabelText(KindText(operation.kind) + QString::fromStdString(source));
        m_progress->show();
    });
}

void FileOpDialogs::Error(const platform::FileOperation&, const std::string& message) {
    ThreadBridge::Instance().Call([&] {
        MessageBoxes::Show(nullptr, Title(), QString::fromStdString(message), QMessageBox::Critical,
                           QMessageBox::Ok);
    });
}

void FileOpDialogs::Finished(const platform::FileOperation&) {
    ThreadBridge::Instance().Call([&] {
        if (m_progress) {
            m_progress->close();
        }
    });
}

}  // namespace quorvel::gui
