// SecretText: a copy of a window's text (a password field's, typically) that is wiped from
// memory as soon as it goes out of scope. A buffer is never grown, so no stale copy is left
// behind by a reallocation: a text too long for the first read is read again into a new buffer
// of its size, and the first one is wiped.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

class SecretText {
public:
    // The whole text. Most texts fit the first read, one message without asking the length.
    explicit SecretText(HWND window) : SecretText(window, kFirstRead)
    {
        if (!window || m_length + 1 < m_buffer.size())
            return;
        const int length = GetWindowTextLengthA(window);
        SecretText whole(window, static_cast<std::size_t>(length > 0 ? length : 0));
        m_buffer.swap(whole.m_buffer); // `whole` wipes the first buffer as it goes
        std::swap(m_length, whole.m_length);
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
    static constexpr std::size_t kFirstRead = 63;

    std::vector<char> m_buffer;
    std::size_t m_length = 0;
};
