// GoogleTest's default printer also hands every failure text to OutputDebugStringA. 32-bit
// Wine run by qemu's user-mode emulator (machines whose kernel cannot run 32-bit programs)
// dies in that call: the process ends with a segmentation fault right after the text reaches
// stdout, so one failing assertion took the whole i686 run down with it. Run natively, the
// same call returns. Nobody reads the debugger's channel in these runs: the text goes to
// stdout alone, in the default printer's format.
#include "console_printer.h"

#include <cstdio>

namespace harness {

void useConsolePrinter()
{
    testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
    testing::TestEventListener* defaultPrinter = listeners.default_result_printer();
    if (!defaultPrinter)
        return;
    listeners.Release(defaultPrinter);
    listeners.Append(new ConsolePrinter(defaultPrinter));
}

void ConsolePrinter::OnTestPartResult(const testing::TestPartResult& result)
{
    if (result.type() == testing::TestPartResult::kSuccess)
        return;
    const char* kind = result.type() == testing::TestPartResult::kSkip ? "Skipped" : "Failure";
    const std::string where = testing::internal::FormatFileLocation(result.file_name(),
                                                                    result.line_number());
    std::printf("%s %s\n%s\n", where.c_str(), kind, result.message());
    std::fflush(stdout);
}

} // namespace harness
