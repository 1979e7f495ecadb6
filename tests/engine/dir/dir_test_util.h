#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "actions/action.h"
#include "engine/check_dir_thread.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace quorvel::test {

/// An action that remembers the files of every run.
class RecordingAction : public Action {
public:
    explicit RecordingAction(std::shared_ptr<Collector<FileList>> runs)
        : Action(ActionKind::List, "record"), m_runs(std::move(runs)) {}
    bool Execute(const FileList& files, DateTime, RunControl&) override {
        m_runs->Add(files);
        return true;
    }
    std::string Describe() const override { return "record"; }

private:
    std::shared_ptr<Collector<FileList>> m_runs;
};

/// A started directory item with a recording action. Checks run only when
/// asked (the interval is an hour unless the settings say otherwise).
class DirItem {
public:
    explicit DirItem(std::vector<std::string> settings, bool paused = false);
    ~DirItem();
    DirItem(const DirItem&) = delete;
    DirItem& operator=(const DirItem&) = delete;

    CheckDirThread& operator*() { return *m_item; }
    CheckDirThread* operator->() { return m_item.get(); }
    std::shared_ptr<CheckDirThread> Shared() { return m_item; }

    /// Waits for the check the item makes when it starts.
    void WaitFirstCheck();
    /// Requests one check, waits for it and its actions, and answers the
    /// files the actions received (nothing when the condition did not hold).
    std::optional<FileList> Check();
    /// Runs of the actions so far.
    std::size_t Runs() const { return m_runs->Count(); }
    std::vector<FileList> AllRuns() const { return m_runs->Values(); }
    Collector<FileList>& Collected() { return *m_runs; }

private:
    std::shared_ptr<Collector<FileList>> m_runs = std::make_shared<Collector<FileList>>();
    std::shared_ptr<CheckDirThread> m_item;
};

/// "name:kind" for each record, the name relative to base.
std::vector<std::string> Describe(const FileList& files, const std::string& base);

}  // namespace quorvel::test
