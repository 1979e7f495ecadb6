#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

/// A typed setting that reads and writes itself as "key=value" lines.
///
/// A value may be read on one thread while another sets it (an item's
/// worker reads its settings while the properties dialog writes them): each
/// read sees either the old value or the new one, never a torn one.
class Param {
public:
    explicit Param(std::string key) : m_key(std::move(key)) {}
    virtual ~Param() = default;
    Param(const Param&) = delete;
    Param& operator=(const Param&) = delete;

    const std::string& Key() const { return m_key; }

    /// Takes the line when it starts with the key and "=" (any letter case);
    /// the rest, less one final line feed, goes to SetFromString.
    virtual bool ParseLine(std::string_view line);
    virtual void SetFromString(std::string_view text) = 0;
    /// Copies the value of a parameter of the same class.
    virtual void Assign(const Param& other) = 0;
    /// Appends the parameter's line(s), each ended by the platform's line ending.
    virtual void Write(std::string& out) const = 0;
    virtual void Reset() = 0;

private:
    std::string m_key;
};

class IntParam : public Param {
public:
    IntParam(std::string key, std::int32_t defaultValue, std::int32_t minimum,
             std::int32_t maximum);

    std::int32_t Value() const { return m_value.load(std::memory_order_acquire); }
    /// Values outside the range become the minimum.
    void SetValue(long long value);
    std::int32_t Minimum() const { return m_min; }
    std::int32_t Maximum() const { return m_max; }
    std::int32_t Default() const { return m_default; }

    void SetFromString(std::string_view text) override;
    void Assign(const Param& other) override;
    void Write(std::string& out) const override;
    void Reset() override { m_value.store(m_default, std::memory_order_release); }

private:
    std::atomic<std::int32_t> m_value;
    std::int32_t m_min;
    std::int32_t m_max;
    std::int32_t m_default;
};

class BoolParam : public Param {
public:
    BoolParam(std::string key, bool defaultValue);

    bool Value() const { return m_value.load(std::memory_order_acquire); }
    void SetValue(bool value) { m_value.store(value, std::memory_order_release); }
    bool Default() const { return m_default; }

    /// True for exactly "1" or "true" in any letter case.
    void SetFromString(std::string_view text) override;
    void Assign(const Param& other) override;
    void Write(std::string& out) const override;
    void Reset() override { m_value.store(m_default, std::memory_order_release); }

private:
    std::atomic<bool> m_value;
    bool m_default;
};

/// A text setting. A value never holds a line break: each carriage return,
/// line feed or pair of them becomes a blank, so no value can add a line to
/// the configuration file.
class StringParam : public Param {
public:
    /// lengthLimit > 0: shorter values are padded to exactly that length with
    /// characters that are never "1".
    StringParam(std::string key, std::string defaultValue, std::int32_t lengthLimit = 0);

    /// A copy: the text may change on another thread at any time.
    std::string Value() const;
    const std::string& Default() const { return m_default; }
    /// The length shorter values are padded to; 0 for none.
    std::int32_t LengthLimit() const { return m_limit; }

    void SetFromString(std::string_view text) override;
    void Assign(const Param& other) override;
    void Write(std::string& out) const override;
    void Reset() override;

private:
    mutable std::mutex m_mutex;
    std::string m_value;
    std::string m_default;
    std::int32_t m_limit;
};

class StringListParam : public Param {
public:
    explicit StringListParam(std::string key);

    /// A copy: the list may change on another thread at any time.
    std::vector<std::string> Values() const;
    void SetValues(std::vector<std::string> values);

    /// Appends the text as a new entry: a repeated key builds the list.
    void SetFromString(std::string_view text) override;
    void Assign(const Param& other) override;
    void Write(std::string& out) const override;
    void Reset() override;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_values;
};

/// An ordered list that owns parameters; the order is the writing order.
class ParamList {
public:
    template <typename T, typename... Args>
    T& Add(Args&&... args) {
        auto p = std::make_unique<T>(std::forward<Args>(args)...);
        T& ref = *p;
        m_params.push_back(std::move(p));
        return ref;
    }

    /// Offers the line to each parameter in order; true when one took it.
    bool ParseLine(std::string_view line) { return Take(line) != nullptr; }
    /// The same, answering the parameter that took the line (or none).
    Param* Take(std::string_view line);
    void Write(std::string& out) const;
    void ResetAll();
    /// Copies values position by position from a list of the same shape.
    void AssignFrom(const ParamList& other);

    std::size_t Size() const { return m_params.size(); }
    Param& At(std::size_t i) { return *m_params[i]; }
    const Param& At(std::size_t i) const { return *m_params[i]; }
    Param* Find(std::string_view key) const;
    /// The value of the text, switch or number setting of that key; empty,
    /// false or 0 when there is none of that kind.
    std::string StringAt(std::string_view key) const;
    bool FlagAt(std::string_view key) const;
    int NumberAt(std::string_view key) const;

private:
    std::vector<std::unique_ptr<Param>> m_params;
};

}  // namespace quorvel
