// The scripted keyboard of keyboard.h: key messages in the order a real keyboard sends them.
#include "keyboard.h"

#include <cctype>

namespace harness {

LPARAM keyData(UINT key, bool release, bool repeat)
{
    const UINT scan = MapVirtualKeyA(key, 0 /* MAPVK_VK_TO_VSC */);
    LPARAM data = 1 | (static_cast<LPARAM>(scan & 0xFF) << 16);
    if (repeat || release)
        data |= LPARAM(1) << 30; // previous key state: down
    if (release)
        data |= LPARAM(1) << 31; // transition state: being released
    return data;
}

void Keyboard::down(HWND field, UINT key, double ms, char typed, bool repeat)
{
    m_ticks.setMs(ms);
    SendMessageA(field, WM_KEYDOWN, key, keyData(key, false, repeat));
    if (typed)
        SendMessageA(field, WM_CHAR, static_cast<unsigned char>(typed), keyData(key, false, repeat));
}

void Keyboard::up(HWND field, UINT key, double ms)
{
    m_ticks.setMs(ms);
    SendMessageA(field, WM_KEYUP, key, keyData(key, true, false));
}

double Keyboard::type(HWND field, const std::string& text, double startMs, double holdMs,
                      double pauseMs)
{
    double t = startMs;
    for (char c : text) {
        const UINT key = static_cast<UINT>(std::toupper(static_cast<unsigned char>(c)));
        down(field, key, t, c);
        t += holdMs;
        up(field, key, t);
        t += pauseMs;
    }
    return t - pauseMs;
}

} // namespace harness
