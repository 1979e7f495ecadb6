#include "platform/desktop_entry.h"

#include <chrono>
#include <optional>
#include <vector>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/service_manager.h"

namespace quorvel::platform {

namespace {

constexpr std::string_view kDesktopGroup = "[Desktop Entry]";
constexpr std::string_view kDefaultsGroup = "[Default Applications]";
constexpr auto kToolTimeout = std::chrono::seconds(60);

// An XDG base directory: the variable when it holds an absolute path, else
// the fallback below the home directory.
std::string XdgHome(const char* variable, const char* fallback) {
    if (auto v = GetEnvironment(variable); v && !v->empty() && (*v)[0] == '/') {
        return *v;
    }
    return HomeDirectory() + "/" + fallback;
}

std::string ConfigHome() {
    return XdgHome("XDG_CONFIG_HOME", ".config");
}
std::string DataHome() {
    return XdgHome("XDG_DATA_HOME", ".local/share");
}

// $XDG_CONFIG_DIRS, relative entries left out.
std::vector<std::string> ConfigDirs() {
    std::string list = GetEnvironment("XDG_CONFIG_DIRS").value_or("");
    if (list.empty()) {
        list = "/etc/xdg";
    }
    std::vector<std::string> dirs;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) {
            end = list.size();
        }
        std::string dir = list.substr(start, end - start);
        if (!dir.empty() && dir[0] == '/') {
            dirs.push_back(std::move(dir));
        }
        start = end + 1;
    }
    return dirs;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

// The text split into lines without their line feeds; a final line feed
// gives no empty last line.
std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return text;
}

bool IsGroupHeader(std::string_view line) {
    line = Trim(line);
    return !line.empty() && line.front() == '[';
}

// The key of a "key=value" line, or nothing for comments and other lines.
std::string_view KeyOf(std::string_view line) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == '#') {
        return {};
    }
    const std::size_t eq = trimmed.find('=');
    return eq == std::string_view::npos ? std::string_view{} : Trim(trimmed.substr(0, eq));
}

std::string_view ValueOf(std::string_view line) {
    const std::size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view{} : Trim(line.substr(eq + 1));
}

// The value of key in a group of a desktop entry or mimeapps.list text.
std::string GroupValue(std::string_view text, std::string_view group, std::string_view key) {
    bool inGroup = false;
    for (const std::string& line : Lines(text)) {
        if (IsGroupHeader(line)) {
            inGroup = Trim(line) == group;
        } else if (inGroup && KeyOf(line) == key) {
            return std::string(ValueOf(line));
        }
    }
    return {};
}

// The entries of a ";"-separated list, empty ones left out.
std::vector<std::string> ListEntries(std::string_view value) {
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find(';', start);
        if (end == std::string_view::npos) {
            end = value.size();
        }
        const std::string_view entry = Trim(value.substr(start, end - start));
        if (!entry.empty()) {
            entries.emplace_back(entry);
        }
        start = end + 1;
    }
    return entries;
}

std::string ListValue(const std::vector<std::string>& entries) {
    std::string value;
    for (const std::string& e : entries) {
        value += e;
        value += ';';
    }
    return value;
}

// A desktop entry's string value: backslash and control characters escaped.
std::string EscapeValue(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string EscapeXml(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string EntryText(const ApplicationInfo& app, const std::string& exec,
                      std::string_view extraLines) {
    std::string text(kDesktopGroup);
    text += "\nType=Application\nName=" + EscapeValue(app.name) + "\n";
    if (!app.comment.empty()) {
        text += "Comment=" + EscapeValue(app.comment) + "\n";
    }
    text +=
        "Exec=" + exec + "\nIcon=" + std::string(DesktopNames::kIconName) + "\nTerminal=false\n";
    text += extraLines;
    return text;
}

// Hidden, or switched off the way GNOME does it.
bool EntryDisabled(std::string_view text) {
    return GroupValue(text, kDesktopGroup, "Hidden") == "true" ||
           GroupValue(text, kDesktopGroup, "X-GNOME-Autostart-enabled") == "false";
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Writes a file of the user's directories, creating them as the XDG rules
// ask (mode 0700).
bool WriteUserFile(const std::string& path, std::string_view data) {
    CreateDirectories(DirectoryOf(path), 0700);
    return WriteFileAtomically(path, data, 0644);
}

bool Exists(const std::string& path) {
    return Stat(path).has_value();
}

// Removes a file; false only when it exists afterwards.
bool RemoveIfPresent(const std::string& path) {
    RemoveFile(path);
    return !Exists(path);
}

bool SystemAutostartEnabled() {
    for (const std::string& dir : ConfigDirs()) {
        const std::string path = dir + "/autostart/" + std::string(DesktopNames::kDesktopId);
        if (auto text = ReadWholeFile(path)) {
            return !EntryDisabled(*text);
        }
    }
    return false;
}

// The user's mimeapps.list: its text, empty when there is none, nothing
// when it exists but cannot be read (and so must not be rewritten).
std::optional<std::string> ReadMimeApps() {
    const std::string path = MimeAppsListPath();
    if (auto text = ReadWholeFile(path)) {
        return text;
    }
    if (Exists(path)) {
        return std::nullopt;
    }
    return std::string();
}

}  // namespace

// ---- start at logon ----

std::string AutostartEntryPath() {
    return ConfigHome() + "/autostart/" + std::string(DesktopNames::kDesktopId);
}

bool AutostartEnabled() {
    if (auto text = ReadWholeFile(AutostartEntryPath())) {
        return !EntryDisabled(*text);
    }
    return SystemAutostartEnabled();
}

bool EnableAutostart(const ApplicationInfo& app) {
    return WriteUserFile(AutostartEntryPath(), AutostartEntryText(app));
}

bool DisableAutostart(const ApplicationInfo& app) {
    if (SystemAutostartEnabled()) {
        return WriteUserFile(AutostartEntryPath(),
                             EntryText(app, DesktopExecProgram(app.programPath), "Hidden=true\n"));
    }
    return RemoveIfPresent(AutostartEntryPath());
}

// ---- the .mon file type ----

std::string MimePackagePath() {
    return DataHome() + "/mime/packages/" + std::string(DesktopNames::kMimePackage);
}

std::string ApplicationEntryPath() {
    return DataHome() + "/applications/" + std::string(DesktopNames::kDesktopId);
}

std::string IconPath() {
    return DataHome() + "/icons/hicolor/scalable/apps/" + std::string(DesktopNames::kIconName) +
           ".svg";
}

std::string MimeAppsListPath() {
    return ConfigHome() + "/mimeapps.list";
}

bool AssociationPresent() {
    if (!Exists(MimePackagePath())) {
        return false;
    }
    const std::optional<std::string> list = ReadMimeApps();
    if (!list) {
        return false;
    }
    const std::vector<std::string> defaults =
        ListEntries(DefaultApplications(*list, DesktopNames::kMimeType));
    return !defaults.empty() && defaults.front() == DesktopNames::kDesktopId;
}

bool WriteAssociation(const ApplicationInfo& app, std::string_view iconSvg) {
    bool ok = WriteUserFile(MimePackagePath(), MimePackageText(app));
    ok = WriteUserFile(ApplicationEntryPath(), ApplicationEntryText(app)) && ok;
    if (!iconSvg.empty()) {
        ok = WriteUserFile(IconPath(), iconSvg) && ok;
    }
    const std::optional<std::string> list = ReadMimeApps();
    if (!list) {
        return false;
    }
    const std::string updated =
        WithDefaultApplication(*list, DesktopNames::kMimeType, DesktopNames::kDesktopId);
    if (updated != *list || !Exists(MimeAppsListPath())) {
        ok = WriteUserFile(MimeAppsListPath(), updated) && ok;
    }
    return ok;
}

bool RemoveAssociation() {
    bool ok = true;
    if (const std::optional<std::string> list = ReadMimeApps()) {
        const std::string updated =
            WithoutDefaultApplication(*list, DesktopNames::kMimeType, DesktopNames::kDesktopId);
        if (updated != *list) {
            ok = WriteFileAtomically(MimeAppsListPath(), updated) && ok;
        }
    } else {
        ok = false;
    }
    ok = RemoveIfPresent(MimePackagePath()) && ok;
    ok = RemoveIfPresent(ApplicationEntryPath()) && ok;
    ok = RemoveIfPresent(IconPath()) && ok;
    return ok;
}

bool NotifyAssociationChanged() {
    bool ran = false;
    const std::string data = DataHome();
    const struct {
        const char* tool;
        std::string directory;
    } updates[] = {{"update-mime-database", data + "/mime"},
                   {"update-desktop-database", data + "/applications"}};
    for (const auto& u : updates) {
        const std::optional<std::string> program = FindExecutable(u.tool);
        if (!program || !Exists(u.directory)) {
            continue;
        }
        ran = RunProgram({*program, u.directory}, kToolTimeout, true) >= 0 || ran;
    }
    return ran;
}

// ---- the texts ----

std::string DesktopExecProgram(std::string_view programPath) {
    constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string word;
    if (programPath.find_first_of(kReserved) == std::string_view::npos) {
        word = programPath;
    } else {
        word = "\"";
        for (char c : programPath) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') {
                word += '\\';
            }
            word += c;
        }
        word += '"';
    }
    std::string fieldSafe;
    for (char c : word) {
        fieldSafe += c;
        if (c == '%') {
            fieldSafe += '%';
        }
    }
    return EscapeValue(fieldSafe);
}

std::string ApplicationEntryText(const ApplicationInfo& app) {
    return EntryText(app, DesktopExecProgram(app.programPath) + " %f",
                     "Categories=System;Monitor;\n"
                     "Keywords=monitor;watch;file;folder;directory;change;new files;automation;\n"
                     "Keywords[de]=Überwachung;beobachten;Datei;Ordner;Verzeichnis;Änderung;neue "
                     "Dateien;Automatisierung;\nMimeType=" +
                         std::string(DesktopNames::kMimeType) + ";\n");
}

std::string AutostartEntryText(const ApplicationInfo& app) {
    return EntryText(app, DesktopExecProgram(app.programPath), "X-GNOME-Autostart-enabled=true\n");
}

std::string MimePackageText(const ApplicationInfo& app) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    text += "  <mime-type type=\"" + std::string(DesktopNames::kMimeType) + "\">\n";
    text += "    <comment>" + EscapeXml(app.typeComment) + "</comment>\n";
    text += "    <sub-class-of type=\"text/plain\"/>\n";
    text += "    <icon name=\"" + std::string(DesktopNames::kIconName) + "\"/>\n";
    text += "    <glob pattern=\"" + std::string(DesktopNames::kGlob) + "\"/>\n";
    text += "  </mime-type>\n</mime-info>\n";
    return text;
}

std::string DefaultApplications(std::string_view mimeAppsText, std::string_view mimeType) {
    return GroupValue(mimeAppsText, kDefaultsGroup, mimeType);
}

std::string WithDefaultApplication(std::string_view mimeAppsText, std::string_view mimeType,
                                   std::string_view desktopId) {
    std::vector<std::string> lines = Lines(mimeAppsText);
    const std::string key(mimeType);
    const std::string wanted = key + "=";
    bool inGroup = false;
    std::ptrdiff_t lastInGroup = -1;  // the last non-blank line of the group
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (IsGroupHeader(line)) {
            if (inGroup) {
                break;
            }
            inGroup = Trim(line) == kDefaultsGroup;
            if (inGroup) {
                lastInGroup = static_cast<std::ptrdiff_t>(i);
            }
            continue;
        }
        if (!inGroup) {
            continue;
        }
        if (!Trim(line).empty()) {
            lastInGroup = static_cast<std::ptrdiff_t>(i);
        }
        if (KeyOf(line) == key) {
            std::vector<std::string> entries{std::string(desktopId)};
            for (std::string& e : ListEntries(ValueOf(line))) {
                if (e != desktopId) {
                    entries.push_back(std::move(e));
                }
            }
            const std::string updated = wanted + ListValue(entries);
            if (updated == line) {
                return std::string(mimeAppsText);
            }
            lines[i] = updated;
            return Joined(lines);
        }
    }
    const std::string added = wanted + std::string(desktopId) + ";";
    if (lastInGroup >= 0) {
        lines.insert(lines.begin() + lastInGroup + 1, added);
    } else {
        if (!lines.empty() && !Trim(lines.back()).empty()) {
            lines.emplace_back();
        }
        lines.emplace_back(kDefaultsGroup);
        lines.push_back(added);
    }
    return Joined(lines);
}

std::string WithoutDefaultApplication(std::string_view mimeAppsText, std::string_view mimeType,
                                      std::string_view desktopId) {
    std::vector<std::string> lines = Lines(mimeAppsText);
    const std::string key(mimeType);
    bool inGroup = false;
    bool changed = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (IsGroupHeader(lines[i])) {
            inGroup = Trim(lines[i]) == kDefaultsGroup;
            continue;
        }
        if (!inGroup || KeyOf(lines[i]) != key) {
            continue;
        }
        std::vector<std::string> entries = ListEntries(ValueOf(lines[i]));
        const auto before = entries.size();
        std::erase(entries, std::string(desktopId));
        if (entries.size() == before) {
            continue;
        }
        changed = true;
        if (entries.empty()) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            --i;
        } else {
            lines[i] = key + "=" + ListValue(entries);
        }
    }
    return changed ? Joined(lines) : std::string(mimeAppsText);
}

}  // namespace quorvel::platform
