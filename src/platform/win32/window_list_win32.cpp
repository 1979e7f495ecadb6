#include <vector>

#include "platform/system_defaults.h"
#include "platform/win32/win32_util.h"

namespace quorvel::platform {

namespace {

// The desktop's top-level windows in z-order, topmost first, as EnumWindows
// walks them; hidden ones count.
class DesktopWindowList : public WindowList {
public:
    std::vector<TopLevelWindow> Windows() override {
        std::vector<TopLevelWindow> windows;
        ::EnumWindows(&Collect, reinterpret_cast<LPARAM>(&windows));
        return windows;
    }

    bool Close(const TopLevelWindow& window, std::chrono::milliseconds wait) override {
        HWND hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window.id));
        if (!::IsWindow(hwnd)) {
            return false;
        }
        DWORD_PTR result = 0;
        // Sent, so the program has taken the request when this returns; a
        // program that does not answer within the wait is left to itself.
        const auto limit = static_cast<UINT>(std::max<long long>(wait.count(), 1));
        if (::SendMessageTimeoutW(hwnd, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG | SMTO_NORMAL, limit,
                                  &result) != 0) {
            return true;
        }
        return ::PostMessageW(hwnd, WM_CLOSE, 0, 0) != 0;
    }

    bool Terminate(const TopLevelWindow& window) override {
        if (window.pid <= 0 || static_cast<DWORD>(window.pid) == ::GetCurrentProcessId()) {
            return false;
        }
        win32::UniqueHandle process(
            ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(window.pid)));
        return process && ::TerminateProcess(process.Get(), 0) != 0;
    }

private:
    static BOOL CALLBACK Collect(HWND hwnd, LPARAM data) {
        auto* windows = reinterpret_cast<std::vector<TopLevelWindow>*>(data);
        TopLevelWindow w;
        w.id = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(hwnd));
        const int length = ::GetWindowTextLengthW(hwnd);
        if (length > 0) {
            std::wstring title(static_cast<std::size_t>(length) + 1, L'\0');
            const int n = ::GetWindowTextW(hwnd, title.data(), length + 1);
            title.resize(static_cast<std::size_t>(std::max(n, 0)));
            w.title = win32::Narrow(title);
        }
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hwnd, &pid);
        w.pid = static_cast<int>(pid);
        windows->push_back(std::move(w));
        return TRUE;
    }
};

}  // namespace

std::shared_ptr<WindowList> SystemWindowList() {
    static auto list = std::make_shared<DesktopWindowList>();
    return list;
}

}  // namespace quorvel::platform
