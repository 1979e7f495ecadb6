#include "gui/file_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>

#include <deque>

#include "platform/paths.h"

namespace quorvel::gui {

namespace {

struct Script {
    bool answering = false;
    std::deque<QString> answers;
    int asked = 0;
};

Script& TheScript() {
    static Script script;
    return script;
}

std::optional<QString> Scripted() {
    Script& s = TheScript();
    ++s.asked;
    if (!s.answers.empty()) {
        QString answer = s.answers.front();
        s.answers.pop_front();
        return answer;
    }
    if (s.answering) {
        return QString();
    }
    return std::nullopt;
}

// Lists folders and the files this user may run, while it is on.
class ExecutableFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void SetOn(bool on) {
        if (on != m_on) {
            m_on = on;
            invalidateFilter();
        }
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!m_on || files == nullptr) {
            return true;
        }
        const QModelIndex index = files->index(row, 0, parent);
        return files->isDir(index) || files->fileInfo(index).isExecutable();
    }

private:
    bool m_on = true;
};

bool WindowsPrograms() {
    return platform::kPathSeparator == '\\';
}

}  // namespace

QString FileDialogs::ProgramFilters(const QString& programsCaption, const QString& otherFilters) {
    if (WindowsPrograms()) {
        return programsCaption + " (*.exe;*.bat;*.cmd;*.com)|*.exe;*.bat;*.cmd;*.com|" +
               otherFilters;
    }
    return programsCaption + " (*)|*|" + otherFilters;
}

QString FileDialogs::OpenProgram(QWidget* parent, const QString& title, const QString& directory,
                                 const QString& programsCaption, const QString& otherFilters) {
    if (auto answer = Scripted()) {
        return *answer;
    }
    const QString filters = QtFilter(ProgramFilters(programsCaption, otherFilters));
    if (WindowsPrograms()) {
        return QFileDialog::getOpenFileName(parent, title, directory, filters);
    }
    // Linux programs have no extension to list them by: the chooser of Qt's
    // own, which a filter of ours can narrow to what may be run.
    QFileDialog dialog(parent, title, directory, filters);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::ExistingFile);
    auto* filter = new ExecutableFilter(&dialog);
    dialog.setProxyModel(filter);
    const QString programs = filters.section(QStringLiteral(";;"), 0, 0);
    QObject::connect(&dialog, &QFileDialog::filterSelected, filter,
                     [filter, programs](const QString& chosen) { filter->SetOn(chosen == programs); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

QString FileDialogs::QtFilter(const QString& pipeFilter) {
    const QStringList parts = pipeFilter.split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString label = parts[i];
        // The label may name the patterns already ("Files (*.mon)"); the
        // chooser reads them from it, separated by blanks.
        if (!label.contains('(')) {
            label += " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
        } else {
            const int open = label.lastIndexOf('(');
            label = label.left(open) + label.mid(open).replace(';', ' ');
        }
        filters.push_back(label);
    }
    return filters.join(";;");
}

QString FileDialogs::OpenFile(QWidget* parent, const QString& title, const QString& directory,
                              const QString& filter) {
    if (auto answer = Scripted()) {
        return *answer;
    }
    return QFileDialog::getOpenFileName(parent, title, directory, QtFilter(filter));
}

QStringList FileDialogs::OpenFiles(QWidget* parent, const QString& title, const QString& directory,
                                   const QString& filter) {
    if (auto answer = Scripted()) {
        return answer->isEmpty() ? QStringList() : answer->split('\n');
    }
    return QFileDialog::getOpenFileNames(parent, title, directory, QtFilter(filter));
}

QString FileDialogs::SaveFile(QWidget* parent, const QString& title, const QString& directory,
                              const QString& filter, const QString& defaultSuffix) {
    if (auto answer = Scripted()) {
        return *answer;
    }
    QFileDialog dialog(parent, title, directory, QtFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().front();
}

QString FileDialogs::Folder(QWidget* parent, const QString& title, const QString& directory) {
    if (auto answer = Scripted()) {
        return *answer;
    }
    return QFileDialog::getExistingDirectory(parent, title, directory);
}

void FileDialogs::AnswerNext(const QString& answer) {
    TheScript().answers.push_back(answer);
}

void FileDialogs::SetAnswering(bool on) {
    TheScript().answering = on;
}

int FileDialogs::Asked() {
    return TheScript().asked;
}

}  // namespace quorvel::gui
