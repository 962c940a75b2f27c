#pragma once

#include <mutex>
#include <utility>

namespace orvex {

// A value that several threads read and write whole: every access takes
// the one mutex, and readers get a copy.
template <typename T>
class CGuardedValue {
public:
    CGuardedValue() = default;
    explicit CGuardedValue(T value)
        : m_value(std::move(value))
    {
    }
    CGuardedValue(const CGuardedValue&) = delete;
    CGuardedValue& operator=(const CGuardedValue&) = delete;

    T Get() const
    {
        std::lock_guard lock(m_mutex);
        return m_value;
    }

    void Set(T value)
    {
        std::lock_guard lock(m_mutex);
        m_value = std::move(value);
    }

    // Changes part of the value in place, under the same lock.
    template <typename Change>
    void Update(Change change)
    {
        std::lock_guard lock(m_mutex);
        change(m_value);
    }

private:
    mutable std::mutex m_mutex; // guards m_value
    T m_value {};
};

} // namespace orvex
