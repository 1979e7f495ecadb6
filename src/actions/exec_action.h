#pragma once

#include <string>

#include "actions/action.h"

namespace quorvel {

/// Starts a program (or opens a document) once per file or per batch of
/// files, with macro-expanded parameters; can wait for it and cut it off
/// after a time limit.
class ExecAction : public Action {
public:
    ExecAction();

    bool Execute(const FileList& files, DateTime runStart, RunControl& control) override;
    std::string Describe() const override;

    std::string Command() const { return m_command->Value(); }
    std::string Parameters() const { return m_arguments->Value(); }
    std::string Directory() const { return m_dir->Value(); }
    int Show() const { return m_show->Value(); }
    bool Wait() const { return m_wait->Value(); }
    bool MultiArgs() const { return m_multiArgs->Value(); }
    int MaxFiles() const { return m_maxFiles->Value(); }
    int TerminateTime() const { return m_terminateTime->Value(); }

private:
    StringParam* m_command;
    StringParam* m_arguments;
    StringParam* m_dir;
    IntParam* m_show;
    BoolParam* m_wait;
    BoolParam* m_multiArgs;
    IntParam* m_maxFiles;
    IntParam* m_terminateTime;
};

}  // namespace quorvel
