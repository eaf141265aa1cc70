// SecretText: a copy of a window's text (a password field's, typically) that is wiped from
// memory as soon as it goes out of scope. The buffer is allocated once and never grows, so no
// stale copy is left behind by a reallocation.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

class SecretText {
public:
    explicit SecretText(HWND window)
    {
        const int capacity = window ? GetWindowTextLengthA(window) + 1 : 1;
        m_buffer.assign(static_cast<std::size_t>(capacity), '\0');
        if (window)
            m_length = static_cast<std::size_t>(GetWindowTextA(window, m_buffer.data(), capacity));
    }
    // At most `maxBytes` bytes of the window's text, read without asking for its length first
    // (one message instead of two): enough to tell any shorter length exactly.
    SecretText(HWND window, std::size_t maxBytes) : m_buffer(maxBytes + 1, '\0')
    {
        if (window)
            m_length = static_cast<std::size_t>(
                GetWindowTextA(window, m_buffer.data(), static_cast<int>(m_buffer.size())));
    }
    SecretText(SecretText&& other) noexcept
        : m_buffer(std::move(other.m_buffer)), m_length(std::exchange(other.m_length, 0)) {}
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    SecretText& operator=(SecretText&&) = delete;
    ~SecretText() { SecureZeroMemory(m_buffer.data(), m_buffer.size()); }

    std::string_view view() const { return {m_buffer.data(), m_length}; }
    std::size_t size() const { return m_length; } // in bytes, as the window returns the text

private:
    std::vector<char> m_buffer;
    std::size_t m_length = 0;
};
