#include "core/param.h"

#include "core/text_util.h"
#include "platform/paths.h"

namespace quorvel {

bool Param::ParseLine(std::string_view line) {
    const std::size_t n = m_key.size();
    if (line.size() < n + 1 || line[n] != '=' || !EqualsIgnoreCase(line.substr(0, n), m_key)) {
        return false;
    }
    std::string_view value = line.substr(n + 1);
    if (!value.empty() && value.back() == '\n') {
        value.remove_suffix(1);
    }
    SetFromString(value);
    return true;
}

IntParam::IntParam(std::string key, std::int32_t defaultValue, std::int32_t minimum,
                   std::int32_t maximum)
    : Param(std::move(key)),
      m_value(defaultValue),
      m_min(minimum),
      m_max(maximum),
      m_default(defaultValue) {
    Reset();
}

void IntParam::SetValue(long long value) {
    m_value.store((value < m_min || value > m_max) ? m_min : static_cast<std::int32_t>(value),
                  std::memory_order_release);
}

void IntParam::SetFromString(std::string_view text) {
    SetValue(ReadCInteger(text));
}

void IntParam::Assign(const Param& other) {
    if (auto* p = dynamic_cast<const IntParam*>(&other)) {
        SetValue(p->Value());
    }
}

void IntParam::Write(std::string& out) const {
    out += Key();
    out += '=';
    out += std::to_string(Value());
    out += platform::kLineEnding;
}

BoolParam::BoolParam(std::string key, bool defaultValue)
    : Param(std::move(key)), m_value(defaultValue), m_default(defaultValue) {}

void BoolParam::SetFromString(std::string_view text) {
    SetValue(text == "1" || EqualsIgnoreCase(text, "true"));
}

void BoolParam::Assign(const Param& other) {
    if (auto* p = dynamic_cast<const BoolParam*>(&other)) {
        SetValue(p->Value());
    }
}

void BoolParam::Write(std::string& out) const {
    out += Key();
    out += Value() ? "=1" : "=0";
    out += platform::kLineEnding;
}

namespace {

// A value is one line of the configuration file, whatever path it came by
// (a dialog, a drop, a program): every line break in it becomes a blank.
std::string OneLine(std::string_view text) {
    std::string value;
    value.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            value += ' ';
        } else {
            value += text[i];
        }
    }
    return value;
}

}  // namespace

StringParam::StringParam(std::string key, std::string defaultValue, std::int32_t lengthLimit)
    : Param(std::move(key)), m_default(std::move(defaultValue)), m_limit(lengthLimit) {
    Reset();
}

std::string StringParam::Value() const {
    std::lock_guard lock(m_mutex);
    return m_value;
}

void StringParam::SetFromString(std::string_view text) {
    std::string value = OneLine(text);
    if (m_limit > 0 && value.size() < static_cast<std::size_t>(m_limit)) {
        value.resize(static_cast<std::size_t>(m_limit), '0');
    }
    std::lock_guard lock(m_mutex);
    m_value = std::move(value);
}

void StringParam::Reset() {
    std::lock_guard lock(m_mutex);
    m_value = m_default;
}

void StringParam::Assign(const Param& other) {
    if (auto* p = dynamic_cast<const StringParam*>(&other)) {
        SetFromString(p->Value());
    }
}

void StringParam::Write(std::string& out) const {
    out += Key();
    out += '=';
    out += Value();
    out += platform::kLineEnding;
}

StringListParam::StringListParam(std::string key) : Param(std::move(key)) {}

std::vector<std::string> StringListParam::Values() const {
    std::lock_guard lock(m_mutex);
    return m_values;
}

void StringListParam::SetValues(std::vector<std::string> values) {
    for (std::string& v : values) {
        if (HasLineBreak(v)) {
            v = OneLine(v);
        }
    }
    std::lock_guard lock(m_mutex);
    m_values = std::move(values);
}

void StringListParam::Reset() {
    std::lock_guard lock(m_mutex);
    m_values.clear();
}

void StringListParam::SetFromString(std::string_view text) {
    std::string value = OneLine(text);
    std::lock_guard lock(m_mutex);
    m_values.push_back(std::move(value));
}

void StringListParam::Assign(const Param& other) {
    if (auto* p = dynamic_cast<const StringListParam*>(&other)) {
        SetValues(p->Values());
    }
}

void StringListParam::Write(std::string& out) const {
    for (const auto& v : Values()) {
        out += Key();
        out += '=';
        out += v;
        out += platform::kLineEnding;
    }
}

Param* ParamList::Take(std::string_view line) {
    for (auto& p : m_params) {
        if (p->ParseLine(line)) {
            return p.get();
        }
    }
    return nullptr;
}

void ParamList::Write(std::string& out) const {
    for (const auto& p : m_params) {
        p->Write(out);
    }
}

void ParamList::ResetAll() {
    for (auto& p : m_params) {
        p->Reset();
    }
}

void ParamList::AssignFrom(const ParamList& other) {
    for (std::size_t i = 0; i < m_params.size() && i < other.m_params.size(); ++i) {
        m_params[i]->Assign(*other.m_params[i]);
    }
}

Param* ParamList::Find(std::string_view key) const {
    for (const auto& p : m_params) {
        if (EqualsIgnoreCase(p->Key(), key)) {
            return p.get();
        }
    }
    return nullptr;
}

std::string ParamList::StringAt(std::string_view key) const {
    const auto* p = dynamic_cast<const StringParam*>(Find(key));
    return p != nullptr ? p->Value() : std::string();
}

bool ParamList::FlagAt(std::string_view key) const {
    const auto* p = dynamic_cast<const BoolParam*>(Find(key));
    return p != nullptr && p->Value();
}

int ParamList::NumberAt(std::string_view key) const {
    const auto* p = dynamic_cast<const IntParam*>(Find(key));
    return p != nullptr ? p->Value() : 0;
}

}  // namespace quorvel
