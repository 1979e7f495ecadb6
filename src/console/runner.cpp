#include "console/runner.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>

#include "console/command_line.h"
#include "console/console_message_box.h"
#include "console/service_commands.h"
#include "core/activity_log.h"
#include "core/text_util.h"
#include "engine/base_monitoring.h"
#include "engine/monitor_process.h"
#include "platform/console.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/service_manager.h"
#include "platform/signals.h"
#include "settings/adv_string_list.h"
#include "settings/options.h"

namespace quorvel {

void Print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

std::string LoadFailureText(const std::string& path) {
    return FormatMessage(Strings().OemText(lngCantLoad) + " \"%s\".", EscapeControls(path));
}

namespace {

// The item list of one run and the end request. The list is touched by the
// main thread (load, end) and by the signal thread (pause, continue), so
// every use takes the mutex; items themselves run on their own threads.
class Session {
public:
    /// Creates the list and loads the configuration; report runs under the
    /// same lock, so a pause cannot slip in between loading and reporting.
    /// why says what kept the file from being read.
    bool Load(const std::string& path,
              const std::function<void(bool ok, const std::string& why)>& report) {
        std::lock_guard lock(m_mutex);
        m_list = std::make_unique<MonitorProcess>();
        m_list->SetDefaultCacheDirectory(Options::Instance().CacheDirectory());
        std::string why;
        bool loaded = m_list->Load(path, nullptr, &why);
        report(loaded, why.empty() ? std::string("The file does not exist.") : why);
        return loaded;
    }

    /// Pauses or continues every item not paused by itself; then report.
    void SetAllPaused(bool paused, const std::function<void()>& report = {}) {
        std::lock_guard lock(m_mutex);
        if (!m_list || m_ended) {
            return;
        }
        m_list->SetAllPaused(paused);
        if (report) {
            report();
        }
    }

    void RequestEnd() {
        {
            std::lock_guard lock(m_mutex);
            m_endRequested = true;
        }
        m_cv.notify_all();
    }

    void WaitForEndRequest() {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [this] { return m_endRequested; });
    }

    /// Tells every item to stop and forgets the list. Never waits for a
    /// worker; the program waits for them (bounded) before it exits.
    void End() {
        // A popup waiting for Y or N must not hold its thread past the end.
        ConsoleAnswers::Instance().ReleaseAll();
        std::lock_guard lock(m_mutex);
        m_ended = true;
        if (m_list) {
            m_list->Clear();
            m_list.reset();
        }
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::unique_ptr<MonitorProcess> m_list;
    bool m_endRequested = false;
    bool m_ended = false;
};

bool IsExitKey(unsigned char key) {
    return key == 'x' || key == 'X' || key == 3;  // 3: Ctrl+C in raw mode
}

}  // namespace

std::string StatusText(std::string_view text) {
    // One line, and the service manager takes a backslash for an escape.
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            out += ' ';
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += c;
        }
    }
    return out;
}

int RunConsole(const std::optional<std::string>& config) {
    const std::string path = config ? *config : platform::DefaultConfigurationFile(false);
    Session session;
    platform::KeyReader keys;
    platform::SignalListener listener([&](platform::ProcessSignal signal) {
        switch (signal) {
            case platform::ProcessSignal::Interrupt:
            case platform::ProcessSignal::Terminate:
            case platform::ProcessSignal::HangUp:
                session.RequestEnd();
                keys.Wake();
                break;
            case platform::ProcessSignal::Pause:
                session.SetAllPaused(true);
                break;
            case platform::ProcessSignal::Continue:
                session.SetAllPaused(false);
                break;
        }
    });

    // Raw and silent before the "Press 'X'" line appears, so no key typed
    // after it is echoed. Questions of popups are answered from the same
    // keys; without a terminal to read they are answered at once.
    platform::RawTerminal raw;
    ConsoleAnswers::Instance().SetTerminalAvailable(platform::StdinIsForegroundTerminal());
    bool loaded = session.Load(path, [&](bool ok, const std::string& /*why*/) {
        if (ok) {
            Print(FormatMessage(
                Strings().OemText(lngLoaded) + "\n" + Strings().OemText(lngStarted) + "\n",
                EscapeControls(path)));
        } else {
            Print(LoadFailureText(path) + "\n");
        }
    });
    if (loaded) {
        while (auto key = keys.ReadKey()) {
            if (ConsoleAnswers::Instance().Offer(static_cast<char>(*key))) {
                continue;
            }
            if (IsExitKey(*key)) {
                break;
            }
        }
    }
    session.End();
    return loaded ? 0 : 1;
}

std::string ServiceConfigurationFile(const std::optional<std::string>& config,
                                     const std::vector<std::string>& started) {
    if (config && !config->empty()) {
        return *config;
    }
    if (!started.empty() && !started.front().empty()) {
        return started.front();
    }
    if (auto fromManager = platform::GetEnvironment(kConfigVariable);
        fromManager && !fromManager->empty()) {
        return *fromManager;
    }
    return platform::DefaultConfigurationFile(platform::IsPrivileged());
}

int RunService(const std::optional<std::string>& config) {
    auto notifier = platform::ServiceNotifier::FromEnvironment();
    if (!notifier) {
        return 1;
    }
    const std::string path = ServiceConfigurationFile(config, notifier->StartArguments());
    const std::string runningStatus =
        "STATUS=" + StatusText(FormatMessage(Strings().Text(lngLoaded), path));

    // Nobody can answer a question under the service manager.
    ConsoleAnswers::Instance().SetTerminalAvailable(false);
    Session session;
    platform::SignalListener listener([&](platform::ProcessSignal signal) {
        switch (signal) {
            case platform::ProcessSignal::Interrupt:
            case platform::ProcessSignal::Terminate:
                notifier->Notify("STOPPING=1");
                session.RequestEnd();
                break;
            case platform::ProcessSignal::Pause:
                session.SetAllPaused(true, [&] { notifier->Notify("STATUS=Paused"); });
                break;
            case platform::ProcessSignal::Continue:
                session.SetAllPaused(false, [&] { notifier->Notify("READY=1\n" + runningStatus); });
                break;
            case platform::ProcessSignal::HangUp:
                break;  // a service has no terminal to lose
        }
    });

    bool loaded = session.Load(path, [&](bool ok, const std::string& why) {
        if (ok) {
            notifier->Notify("READY=1\n" + runningStatus);
        } else {
            // The status line is gone at the next start: the journal keeps why.
            ActivityLog::Report(LogLevel::Error, LoadFailureText(path) + " " + EscapeControls(why));
            notifier->Notify("STATUS=" + StatusText(LoadFailureText(path)));
            notifier->SetExitStatus(kLoadFailureExitStatus);
        }
    });
    if (loaded) {
        session.WaitForEndRequest();
    }
    session.End();
    return loaded ? 0 : 1;
}

}  // namespace quorvel
