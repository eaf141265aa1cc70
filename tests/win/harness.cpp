// Modal-dialog driver and window lookups used by the Windows-side tests.
#include "harness.h"

#include "app.h"
#include "dialog.h"
#include "typing_dlg.h"

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

// Asks `done` every 10 ms until it answers true or `timeoutMs` have passed; its last answer.
template <typename Done>
bool pollUntil(int timeoutMs, Done done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace

HWND waitForWindow(DWORD threadId, const char* caption, int timeoutMs)
{
    Search search{caption, nullptr};
    pollUntil(timeoutMs, [&] {
        EnumThreadWindows(threadId, findCaption, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    });
    return search.found;
}

bool waitForClose(HWND window, int timeoutMs)
{
    return pollUntil(timeoutMs, [&] { return !IsWindow(window); });
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

INT_PTR runMainWindow(const typrova::TickSource& ticks, const std::function<void(HWND)>& driver)
{
    CTypingDlg dialog(ticks, nullptr);
    AfxGetApp()->m_pMainWnd = &dialog;
    const INT_PTR result = runModal(dialog, "Typrova", driver);
    AfxGetApp()->m_pMainWnd = nullptr;
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
    std::string current;
    pollUntil(timeoutMs, [&] { return (current = itemText(dialog, id)) == expected; });
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

} // namespace harness
