// GoogleTest's default printer also hands every failure text to OutputDebugStringA. 32-bit
// Wine run by qemu's user-mode emulator (machines whose kernel cannot run 32-bit programs)
// dies in that call: the process ends with a segmentation fault right after the text reaches
// stdout, so one failing assertion took the whole i686 run down with it. Run natively, the
// same call returns. Nobody reads the debugger's channel in these runs: the text goes to
// stdout alone, in the default printer's format.
#include "harness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace harness {

namespace {

// Prints what the default printer prints, except that a failure's text goes to stdout only.
class ConsolePrinter final : public testing::TestEventListener {
public:
    explicit ConsolePrinter(testing::TestEventListener* defaultPrinter)
        : m_default(defaultPrinter) {}

    void OnTestPartResult(const testing::TestPartResult& result) override
    {
        if (result.type() == testing::TestPartResult::kSuccess)
            return;
        const char* kind = result.type() == testing::TestPartResult::kSkip ? "Skipped" : "Failure";
        const std::string where = testing::internal::FormatFileLocation(result.file_name(),
                                                                        result.line_number());
        std::printf("%s %s\n%s\n", where.c_str(), kind, result.message());
        std::fflush(stdout);
    }

    // Everything else is the default printer's.
    void OnTestProgramStart(const testing::UnitTest& u) override { m_default->OnTestProgramStart(u); }
    void OnTestIterationStart(const testing::UnitTest& u, int i) override { m_default->OnTestIterationStart(u, i); }
    void OnEnvironmentsSetUpStart(const testing::UnitTest& u) override { m_default->OnEnvironmentsSetUpStart(u); }
    void OnEnvironmentsSetUpEnd(const testing::UnitTest& u) override { m_default->OnEnvironmentsSetUpEnd(u); }
    void OnTestSuiteStart(const testing::TestSuite& s) override { m_default->OnTestSuiteStart(s); }
    void OnTestStart(const testing::TestInfo& t) override { m_default->OnTestStart(t); }
    void OnTestDisabled(const testing::TestInfo& t) override { m_default->OnTestDisabled(t); }
    void OnTestEnd(const testing::TestInfo& t) override { m_default->OnTestEnd(t); }
    void OnTestSuiteEnd(const testing::TestSuite& s) override { m_default->OnTestSuiteEnd(s); }
    void OnEnvironmentsTearDownStart(const testing::UnitTest& u) override { m_default->OnEnvironmentsTearDownStart(u); }
    void OnEnvironmentsTearDownEnd(const testing::UnitTest& u) override { m_default->OnEnvironmentsTearDownEnd(u); }
    void OnTestIterationEnd(const testing::UnitTest& u, int i) override { m_default->OnTestIterationEnd(u, i); }
    void OnTestProgramEnd(const testing::UnitTest& u) override { m_default->OnTestProgramEnd(u); }

private:
    std::unique_ptr<testing::TestEventListener> m_default;
};

} // namespace

void useConsolePrinter()
{
    testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
    testing::TestEventListener* defaultPrinter = listeners.default_result_printer();
    if (!defaultPrinter)
        return;
    listeners.Release(defaultPrinter);
    listeners.Append(new ConsolePrinter(defaultPrinter));
}

} // namespace harness
