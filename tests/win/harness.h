// Test harness for the Windows-side tests: runs a dialog modally on the test's thread while a
// driver thread pokes it through real window messages; keyboard.h adds a fake tick source and a
// keyboard that sends key messages in the order a real keyboard produces them.
#pragma once

#include "keyboard.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class CDialog;

namespace harness {

// Runs `dialog` modally on this thread and `driver` on a second thread once the dialog's
// window (top-level window of this thread with `caption`) is visible. After the driver
// returns the dialog is closed if it is still open. Returns the DoModal result.
INT_PTR runModal(CDialog& dialog, const char* caption, const std::function<void(HWND)>& driver);
// runModal on the program's main window as the application's main window, as the program's
// start-up runs it, with `ticks` as its clock; the application has no main window afterwards.
INT_PTR runMainWindow(const typrova::TickSource& ticks, const std::function<void(HWND)>& driver);

// A visible top-level window with `caption` owned by thread `threadId`, waiting up to
// `timeoutMs`; nullptr if none appears.
HWND waitForWindow(DWORD threadId, const char* caption, int timeoutMs = 5000);
// Waits until `window` no longer exists.
bool waitForClose(HWND window, int timeoutMs = 5000);

std::string text(HWND window);
std::string className(HWND window);
std::string itemText(HWND dialog, int id);
// Polls until control `id` reads `expected`; returns the last text read.
std::string waitForItemText(HWND dialog, int id, const std::string& expected, int timeoutMs = 3000);
// Puts a printer in place of GoogleTest's default one that prints the same but does not also
// hand failure texts to the debugger (console_printer.cpp says why).
void useConsolePrinter();

// All direct children in creation order.
std::vector<HWND> children(HWND dialog);

} // namespace harness
