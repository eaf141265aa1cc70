// Exception capture for Windows callbacks (see callback_guard.h).
#include "callback_guard.h"

#include <windows.h>

namespace framework {
namespace {
std::exception_ptr& pendingException()
{
    static std::exception_ptr pending; // only the user-interface thread runs callbacks
    return pending;
}
} // namespace

void captureCallbackException() noexcept
{
    if (!pendingException())
        pendingException() = std::current_exception();
    PostQuitMessage(1);
}

void rethrowCallbackException()
{
    if (std::exception_ptr pending = std::exchange(pendingException(), nullptr))
        std::rethrow_exception(pending);
}

} // namespace framework
