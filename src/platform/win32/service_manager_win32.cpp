#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/service_manager.h"
#include "platform/win32/service_signals.h"
#include "platform/win32/win32_util.h"

// The service control manager in place of systemd: the same commands, and
// the service body's notifications ("READY=1", "STATUS=...", "STOPPING=1")
// turned into the status reports of an own-process service. Controls arrive as the process signals
// the body listens to.

namespace quorvel::platform {

namespace {

class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle = nullptr) : m_handle(handle) {}
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    ~ScHandle() {
        if (m_handle != nullptr) {
            ::CloseServiceHandle(m_handle);
        }
    }
    SC_HANDLE Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    SC_HANDLE m_handle;
};

ScHandle OpenManager(const std::string& host, DWORD access) {
    const std::wstring machine = win32::Widen(host);
    return ScHandle(::OpenSCManagerW(machine.empty() ? nullptr : machine.c_str(), nullptr, access));
}

std::wstring CommandLine(const std::vector<std::string>& command) {
    std::wstring line;
    for (std::size_t i = 0; i < command.size(); ++i) {
        if (i > 0) {
            line += L' ';
        }
        const std::wstring word = win32::Widen(command[i]);
        if (i == 0 || word.find_first_of(L" \t\"") != std::wstring::npos) {
            line += L'"' + word + L'"';
        } else {
            line += word;
        }
    }
    return line;
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
               bool quiet) {
    if (argv.empty()) {
        return -1;
    }
    std::wstring line = CommandLine(argv);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    win32::UniqueHandle null(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    ::SetHandleInformation(null.Get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    startup.hStdInput = null.Get();
    startup.hStdOutput = null.Get();
    startup.hStdError = quiet ? null.Get() : ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &info)) {
        return -1;
    }
    win32::UniqueHandle process(info.hProcess);
    ::CloseHandle(info.hThread);
    if (::WaitForSingleObject(process.Get(), static_cast<DWORD>(timeout.count())) !=
        WAIT_OBJECT_0) {
        ::TerminateProcess(process.Get(), 1);
        return -1;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.Get(), &code);
    return static_cast<int>(code);
}

ServiceManager::ServiceManager(bool userManager, std::string host)
    : m_userManager(userManager), m_host(std::move(host)) {}

bool ServiceManager::Install(const ServiceUnit& unit) {
    ScHandle manager = OpenManager({}, SC_MANAGER_CREATE_SERVICE);
    if (!manager) {
        return false;
    }
    const std::wstring name = win32::Widen(unit.name);
    const std::wstring display = win32::Widen(unit.description);
    const std::wstring command = CommandLine(unit.command);
    ScHandle service(::CreateServiceW(manager.Get(), name.c_str(), display.c_str(),
                                      SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                      SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(),
                                      nullptr, nullptr, nullptr, nullptr, nullptr));
    return static_cast<bool>(service);
}

bool ServiceManager::Remove(const std::string& name, const std::vector<std::string>& /*unset*/) {
    ScHandle manager = OpenManager({}, SC_MANAGER_CONNECT);
    if (!manager) {
        return false;
    }
    const std::wstring wide = win32::Widen(name);
    ScHandle service(::OpenServiceW(manager.Get(), wide.c_str(), DELETE | SERVICE_STOP));
    if (!service) {
        return false;
    }
    SERVICE_STATUS status{};
    ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);  // its result does not matter
    return ::DeleteService(service.Get()) != 0;
}

bool ServiceManager::Start(const std::string& name,
                           const std::vector<EnvironmentChange>& environment) {
    ScHandle manager = OpenManager(m_host, SC_MANAGER_CONNECT);
    if (!manager) {
        return false;
    }
    const std::wstring wide = win32::Widen(name);
    ScHandle service(::OpenServiceW(manager.Get(), wide.c_str(), SERVICE_START));
    if (!service) {
        return false;
    }
    // The service manager has no environment to set: each value goes to the
    // service as a start parameter instead.
    std::vector<std::wstring> values;
    for (const auto& change : environment) {
        if (change.value) {
            values.push_back(win32::Widen(*change.value));
        }
    }
    std::vector<const wchar_t*> arguments;
    for (const auto& v : values) {
        arguments.push_back(v.c_str());
    }
    return ::StartServiceW(service.Get(), static_cast<DWORD>(arguments.size()),
                           arguments.empty() ? nullptr : arguments.data()) != 0;
}

bool ServiceManager::Stop(const std::string& name) {
    ScHandle manager = OpenManager(m_host, SC_MANAGER_CONNECT);
    if (!manager) {
        return false;
    }
    const std::wstring wide = win32::Widen(name);
    ScHandle service(::OpenServiceW(manager.Get(), wide.c_str(), SERVICE_STOP));
    if (!service) {
        return false;
    }
    SERVICE_STATUS status{};
    return ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status) != 0;
}

std::vector<std::string> ServiceManager::ManagerArguments() const {
    if (!m_host.empty()) {
        return {m_host};
    }
    return {};
}

bool ServiceManager::Systemctl(const std::vector<std::string>&, bool) const {
    return false;
}

std::string ServiceManager::UnitPath(const std::string& name) const {
    return name;
}

std::string SystemServiceName(std::string_view name) {
    return std::string(name);
}

// ---- the service body's side ----

namespace {

// The one service of this process, as the dispatcher runs it.
struct ServiceState {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;  // ServiceMain was called
    bool dispatchEnded = false;
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status{};
    std::vector<std::string> arguments;
    std::thread dispatcher;

    void Report() {
        if (handle != nullptr) {
            ::SetServiceStatus(handle, &status);
        }
    }

    void Set(DWORD state) {
        status.dwCurrentState = state;
        status.dwCheckPoint = 0;
        status.dwWaitHint =
            state == SERVICE_RUNNING || state == SERVICE_PAUSED || state == SERVICE_STOPPED ? 0
                                                                                            : 10000;
        Report();
    }
};

ServiceState& State() {
    static ServiceState* state = new ServiceState();  // the dispatcher may outlive main's objects
    return *state;
}

DWORD WINAPI OnControl(DWORD control, DWORD, LPVOID, LPVOID) {
    ServiceState& s = State();
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN: {
            {
                std::lock_guard lock(s.mutex);
                s.Set(SERVICE_STOP_PENDING);
            }
            win32::DeliverProcessSignal(ProcessSignal::Terminate);
            return NO_ERROR;
        }
        case SERVICE_CONTROL_PAUSE: {
            {
                std::lock_guard lock(s.mutex);
                s.Set(SERVICE_PAUSE_PENDING);
            }
            win32::DeliverProcessSignal(ProcessSignal::Pause);
            return NO_ERROR;
        }
        case SERVICE_CONTROL_CONTINUE: {
            {
                std::lock_guard lock(s.mutex);
                s.Set(SERVICE_CONTINUE_PENDING);
            }
            win32::DeliverProcessSignal(ProcessSignal::Continue);
            return NO_ERROR;
        }
        case SERVICE_CONTROL_INTERROGATE:
        default: {
            std::lock_guard lock(s.mutex);
            s.Report();
            return NO_ERROR;
        }
    }
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
    ServiceState& s = State();
    std::lock_guard lock(s.mutex);
    for (DWORD i = 1; i < argc; ++i) {
        s.arguments.push_back(win32::Narrow(argv[i]));
    }
    s.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.status.dwControlsAccepted =
        SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
    s.handle = ::RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", &OnControl, nullptr);
    if (s.handle != nullptr) {
        s.Set(SERVICE_START_PENDING);
    }
    s.entered = true;
    s.changed.notify_all();
    // The body runs on the program's main thread; the dispatcher goes on
    // calling the control handler until the stopped state is reported.
}

}  // namespace

struct ServiceNotifier::Impl {
    bool valid = false;
    bool stopped = false;
};

std::unique_ptr<ServiceNotifier> ServiceNotifier::FromEnvironment() {
    ServiceState& s = State();
    static wchar_t name[] = L"";
    s.dispatcher = std::thread([] {
        SERVICE_TABLE_ENTRYW table[] = {{name, &ServiceMain}, {nullptr, nullptr}};
        ::StartServiceCtrlDispatcherW(table);  // fails at once outside the service manager
        ServiceState& state = State();
        std::lock_guard lock(state.mutex);
        state.dispatchEnded = true;
        state.changed.notify_all();
    });
    std::unique_lock lock(s.mutex);
    s.changed.wait(lock, [&] { return s.entered || s.dispatchEnded; });
    if (!s.entered || s.handle == nullptr) {
        lock.unlock();
        s.dispatcher.join();
        return nullptr;
    }
    lock.unlock();  // the notifier takes the lock itself
    return std::unique_ptr<ServiceNotifier>(new ServiceNotifier(std::string()));
}

ServiceNotifier::ServiceNotifier(const std::string& /*address*/)
    : m_impl(std::make_unique<Impl>()) {
    std::lock_guard lock(State().mutex);
    m_impl->valid = State().handle != nullptr;
}

ServiceNotifier::~ServiceNotifier() {
    ServiceState& s = State();
    {
        std::lock_guard lock(s.mutex);
        if (!m_impl->valid) {
            return;
        }
        s.Set(SERVICE_STOPPED);
    }
    if (s.dispatcher.joinable()) {
        s.dispatcher.join();
    }
}

bool ServiceNotifier::Valid() const {
    return m_impl->valid;
}

void ServiceNotifier::SetExitStatus(int code) {
    ServiceState& s = State();
    std::lock_guard lock(s.mutex);
    s.status.dwWin32ExitCode = code == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    s.status.dwServiceSpecificExitCode = static_cast<DWORD>(code);
}

std::vector<std::string> ServiceNotifier::StartArguments() const {
    std::lock_guard lock(State().mutex);
    return State().arguments;
}

bool ServiceNotifier::Notify(std::string_view state) {
    ServiceState& s = State();
    std::lock_guard lock(s.mutex);
    if (!m_impl->valid) {
        return false;
    }
    std::size_t start = 0;
    while (start <= state.size()) {
        std::size_t end = state.find('\n', start);
        if (end == std::string_view::npos) {
            end = state.size();
        }
        const std::string_view line = state.substr(start, end - start);
        if (line == "READY=1") {
            s.Set(SERVICE_RUNNING);
        } else if (line == "STOPPING=1") {
            s.Set(SERVICE_STOP_PENDING);
        } else if (line == "STATUS=Paused") {
            s.Set(SERVICE_PAUSED);
        }
        start = end + 1;
    }
    return true;
}

}  // namespace quorvel::platform
