#pragma once

// An open registry key, closed when its holder goes.

#include "platform/win32.h"

#include <utility>

namespace kv::com {

class RegKey {
public:
    explicit RegKey(HKEY h) noexcept : m_h(h) {}
    RegKey(RegKey&& other) noexcept : m_h(std::exchange(other.m_h, nullptr)) {}
    RegKey& operator=(RegKey&& other) noexcept {
        std::swap(m_h, other.m_h);
        return *this;
    }
    ~RegKey() {
        if (m_h) RegCloseKey(m_h);
    }
    HKEY get() const noexcept { return m_h; }

private:
    HKEY m_h;
};

}  // namespace kv::com
