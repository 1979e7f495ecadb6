#pragma once

#include <QPointer>

#include <mutex>

#include "platform/file_operation.h"

class QProgressDialog;

namespace quorvel::gui {

/// File operations talk to the user in dialogs: a question before an
/// existing destination is replaced, a progress window naming the source at
/// work, and a box for each error. Called from item workers; every dialog
/// runs on the user-interface thread while the worker waits.
class FileOpDialogs : public platform::FileOpUi {
public:
    bool ConfirmOverwrite(const platform::FileOperation& operation, const std::string& source,
                          const std::string& destination) override;
    void Progress(const platform::FileOperation& operation, const std::string& source) override;
    void Error(const platform::FileOperation& operation, const std::string& message) override;
    void Finished(const platform::FileOperation& operation) override;

private:
    QPointer<QProgressDialog> m_progress;  // user-interface thread only
};

}  // namespace quorvel::gui
