// Keeps C++ exceptions from crossing a Windows callback. A window or dialog procedure runs its
// work through guardCallback(); an exception is caught there, kept, and the modal loop is asked
// to end (WM_QUIT), so that CDialog::DoModal can rethrow it on the C++ side of the call.
#pragma once

#include <exception>
#include <utility>

namespace framework {

// Keeps the first exception caught in a callback and posts WM_QUIT to end the modal loop.
void captureCallbackException() noexcept;

// Rethrows the kept exception, if any, and forgets it. Called after a modal loop returns.
void rethrowCallbackException();

// Runs `work` and returns its result; on an exception returns `fallback` instead.
template <class Result, class Work>
Result guardCallback(Result fallback, Work&& work) noexcept
{
    try {
        return std::forward<Work>(work)();
    } catch (...) {
        captureCallbackException();
        return fallback;
    }
}

} // namespace framework
