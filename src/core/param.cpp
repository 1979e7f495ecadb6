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
    m_value = (value < m_min || value > m_max) ? m_min : static_cast<std::int32_t>(value);
}

void IntParam::SetFromString(std::string_view text) {
    SetValue(ReadCInteger(text));
}

void IntParam::Assign(const Param& other) {
    if (auto* p = dynamic_cast<const IntParam*>(&other)) {
        SetValue(p->m_value);
    }
}

void IntParam::Write(std::string& out) const {
    out += Key();
    out += '=';
    out += std::to_string(m_value);
    out += platform::kLineEnding;
}

BoolParam::BoolParam(std::string key, bool defaultValue)
    : Param(std::move(key)), m_value(defaultValue), m_default(defaultValue) {}

void BoolParam::SetFromString(std::string_view text) {
    m_value = text == "1" || EqualsIgnoreCase(text, "true");
}

void BoolParam::Assign(const Param& other) {
    if (auto* p = dynamic_cast<const BoolParam*>(&other)) {
        m_value = p->m_value;
    }
}

void BoolParam::Write(std::string& out) const {
    out += Key();
    out += m_value ? "=1" : "=0";
    out += platform::kLineEnding;
}

StringParam::StringParam(std::string key, std::string defaultValue, std::int32_t lengthLimit)
    : Param(std::move(key)), m_default(std::move(defaultValue)), m_limit(lengthLimit) {
    Reset();
}

void StringParam::SetFromString(std::string_view text) {
    m_value.assign(text);
    if (m_limit > 0 && m_value.size() < static_cast<std::size_t>(m_limit)) {
        m_value.resize(static_cast<std::size_t>(m_limit), '0');
    }
}

void StringParam::Assign(const Param& other) {
    if (auto* p = dynamic_cast<const StringParam*>(&other)) {
        SetFromString(p->m_value);
    }
}

void StringParam::Write(std::string& out) const {
    out += Key();
    out += '=';
    out += m_value;
    out += platform::kLineEnding;
}

StringListParam::StringListParam(std::string key) : Param(std::move(key)) {}

void StringListParam::SetFromString(std::string_view text) {
    m_values.emplace_back(text);
}

void StringListParam::Assign(const Param& other) {
    if (auto* p = dynamic_cast<const StringListParam*>(&other)) {
        m_values = p->m_values;
    }
}

void StringListParam::Write(std::string& out) const {
    for (const auto& v : m_values) {
        out += Key();
        out += '=';
        out += v;
        out += platform::kLineEnding;
    }
}

bool ParamList::ParseLine(std::string_view line) {
    for (auto& p : m_params) {
        if (p->ParseLine(line)) {
            return true;
        }
    }
    return false;
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

}  // namespace quorvel
