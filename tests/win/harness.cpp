// Modal-dialog driver and window lookups used by the Windows-side tests.
#include "harness.h"

#include "dialog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace harness {

namespace {

struct Search {
    const char* caption;
    HWND found;
};

BOOL CALLBACK findCaption(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    if (IsWindowVisible(window) && text(window) == search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND waitForWindow(DWORD threadId, const char* caption, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        Search search{caption, nullptr};
        EnumThreadWindows(threadId, findCaption, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return nullptr;
}

bool waitForClose(HWND window, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (IsWindow(window)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

INT_PTR runModal(CDialog& dialog, const char* caption, const std::function<void(HWND)>& driver)
{
    const DWORD uiThread = GetCurrentThreadId();
    std::thread driverThread([&] {
        const HWND window = waitForWindow(uiThread, caption);
        if (!window) {
            ADD_FAILURE() << "no visible window \"" << caption << "\" appeared";
            return;
        }
        SendMessageA(window, WM_NULL, 0, 0); // the dialog's loop is running
        driver(window);
        if (IsWindow(window)) {
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            waitForClose(window);
        }
    });
    const INT_PTR result = dialog.DoModal();
    driverThread.join();
    return result;
}

std::string text(HWND window)
{
    char buffer[512] = {};
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    return buffer;
}

std::string itemText(HWND dialog, int id)
{
    return text(GetDlgItem(dialog, id));
}

std::string waitForItemText(HWND dialog, int id, const std::string& expected, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string current = itemText(dialog, id);
    while (current != expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        current = itemText(dialog, id);
    }
    return current;
}

std::string className(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::vector<HWND> children(HWND dialog)
{
    std::vector<HWND> out;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        out.push_back(child);
    return out;
}

std::vector<std::string> childTexts(HWND dialog)
{
    std::vector<std::string> texts;
    for (HWND child : children(dialog))
        texts.push_back(text(child));
    return texts;
}

} // namespace harness
