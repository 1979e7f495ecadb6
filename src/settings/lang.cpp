#include "settings/lang.h"

#include <filesystem>
#include <system_error>

#include "core/text_util.h"
#include "platform/paths.h"
#include "settings/adv_string_list.h"

namespace quorvel {

Lang::Lang() : m_directory(platform::ShippedDataDirectory("Lang")) {}

Lang::Lang(const std::string& fileName) : Lang() {
    LoadFile(fileName);
}

Lang::Lang(const std::string& fileName, std::string directory) : m_directory(std::move(directory)) {
    if (m_directory.empty()) {
        m_directory = platform::ShippedDataDirectory("Lang");
    } else if (m_directory.back() != '/' && m_directory.back() != platform::kPathSeparator) {
        m_directory += platform::kPathSeparator;
    }
    LoadFile(fileName);
}

bool Lang::IsPlainFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::string Lang::ResolveFile(const std::string& directory, const std::string& name) {
    if (!IsPlainFileName(name)) {
        return {};
    }
    std::string exact = directory + name;
    std::error_code ec;
    if (std::filesystem::exists(exact, ec)) {
        return exact;
    }
    // Names in options often come from systems whose file names ignore case.
    std::string found;
    for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string candidate = it->path().filename().string();
        if (EqualsIgnoreCase(candidate, name)) {
            if (!found.empty()) {
                return exact;  // ambiguous: do not guess
            }
            found = candidate;
        }
    }
    return found.empty() ? exact : directory + found;
}

void Lang::LoadFile(const std::string& name) {
    m_filePath = ResolveFile(m_directory, name);
    if (m_filePath.empty()) {
        m_file.Clear();
    } else {
        m_file.Load(m_filePath);
    }
    m_helpFile = m_file.GetString("General", "HelpFile", m_helpFile);
    m_nationalName = m_file.GetString("General", "NationalLangName", m_nationalName);
    m_englishName = m_file.GetString("General", "EnglishLangName", m_englishName);
    m_popupFile = m_file.GetString("General", "PopupFile", m_popupFile);
}

void Lang::TranslateStrings(AdvStringList& table, std::string_view section) const {
    std::vector<std::string> texts = table.Texts();
    for (int i = 0; i < table.Count(); ++i) {
        auto& text = texts[static_cast<std::size_t>(i)];
        text = m_file.GetString(section, AdvStringList::Key(i), text);
    }
    table.SetTexts(std::move(texts));
}

}  // namespace quorvel
