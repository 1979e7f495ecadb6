#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include <chrono>
#include <functional>
#include <string>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace quorvel::test {

/// Processes events until the condition holds or the deadline passes.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > deadline.count()) {
            return condition();
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

/// A home of the test's own: options, positions, caches and the desktop's
/// files (autostart, file types) go there.
class GuiTest : public TempDirTest {
protected:
    GuiTest()
        : m_home("HOME", m_dir.Path().string()),
          m_config("XDG_CONFIG_HOME", (m_dir / "config")),
          m_cache("XDG_CACHE_HOME", (m_dir / "cache")),
          m_data("XDG_DATA_HOME", (m_dir / "data")) {}

    std::string StorePath() const { return m_dir / "config/quorvel/registry.ini"; }

private:
    ScopedEnv m_home;
    ScopedEnv m_config;
    ScopedEnv m_cache;
    ScopedEnv m_data;
};

}  // namespace quorvel::test
