// A small program the Windows platform tests start:
//   win32_test_helper window TITLE   shows a top-level window with that title
//                                    until it is asked to close
//   win32_test_helper tree FILE      starts a copy of itself that writes its
//                                    process id to FILE, then both wait
//   win32_test_helper wait           waits for a minute
//   win32_test_helper control NAME pause|continue
//                                    sends the control to the service
//                                    (Wine's sc.exe has neither)
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(hwnd, message, w, l);
}

int ShowWindowTitled(const wchar_t* title) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuorvelTestWindow";
    ::RegisterClassW(&wc);
    HWND hwnd = ::CreateWindowW(wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                nullptr, nullptr, wc.hInstance, nullptr);
    if (hwnd == nullptr) {
        return 2;
    }
    ::ShowWindow(hwnd, SW_SHOWNORMAL);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::DispatchMessageW(&msg);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"window" && argc > 2) {
        return ShowWindowTitled(argv[2]);
    }
    if (mode == L"tree" && argc > 2) {
        wchar_t self[MAX_PATH];
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring line = L"\"" + std::wstring(self) + L"\" child \"" + argv[2] + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        if (!::CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                              &pi)) {
            return 3;
        }
        ::Sleep(60000);
        return 0;
    }
    if (mode == L"control" && argc > 3) {
        SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE service =
            manager ? ::OpenServiceW(manager, argv[2], SERVICE_PAUSE_CONTINUE) : nullptr;
        SERVICE_STATUS status{};
        const DWORD control =
            std::wstring(argv[3]) == L"pause" ? SERVICE_CONTROL_PAUSE : SERVICE_CONTROL_CONTINUE;
        const bool ok = service != nullptr && ::ControlService(service, control, &status);
        if (service != nullptr) {
            ::CloseServiceHandle(service);
        }
        if (manager != nullptr) {
            ::CloseServiceHandle(manager);
        }
        return ok ? 0 : 1;
    }
    if (mode == L"child" && argc > 2) {
        if (FILE* f = ::_wfopen(argv[2], L"w")) {
            std::fprintf(f, "%lu", ::GetCurrentProcessId());
            std::fclose(f);
        }
        ::Sleep(60000);
        return 0;
    }
    ::Sleep(60000);
    return 0;
}
