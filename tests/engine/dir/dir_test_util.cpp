#include "dir_test_util.h"

namespace quorvel::test {

DirItem::DirItem(std::vector<std::string> settings, bool paused) {
    m_item = CheckDirThread::Create(paused);
    bool hasInterval = false;
    for (const auto& line : settings) {
        hasInterval = hasInterval || line.rfind("Interval=", 0) == 0;
    }
    if (!hasInterval) {
        settings.push_back("Interval=3600");
    }
    settings.push_back("IsDirectory=1");
    m_item->ReadSettings(settings);
    auto actions = std::make_shared<ActionList>();
    actions->push_back(std::make_unique<RecordingAction>(m_runs));
    m_item->SetActions(std::move(actions));
    m_item->Start();
    if (!paused) {
        m_item->Resume();
    }
}

DirItem::~DirItem() {
    m_item->RequestStop();
    EXPECT_TRUE(WaitFor([&] { return m_item->Finished(); }));
}

void DirItem::WaitFirstCheck() {
    ASSERT_TRUE(WaitFor([&] { return m_item->CheckCount() >= 1; }));
}

std::optional<FileList> DirItem::Check() {
    const auto checks = m_item->CheckCount();
    const auto runs = m_runs->Count();
    m_item->CheckNow(false);
    EXPECT_TRUE(WaitFor([&] { return m_item->CheckCount() > checks; }));
    auto all = m_runs->Values();
    if (all.size() == runs) {
        return std::nullopt;
    }
    return all.back();
}

std::vector<std::string> Describe(const FileList& files, const std::string& base) {
    std::vector<std::string> out;
    for (const auto& f : files) {
        std::string name = f.name.value_or("<none>");
        if (name.rfind(base, 0) == 0) {
            name = name.substr(base.size());
        }
        out.push_back(name + ":" + std::to_string(static_cast<int>(f.kind)));
    }
    return out;
}

}  // namespace quorvel::test
