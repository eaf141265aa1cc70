// Test-event listener that prints what GoogleTest's default printer prints, except that an
// assertion's failure text goes to stdout only and not also to the debugger (see the .cpp).
#pragma once

#include <gtest/gtest.h>

#include <memory>

namespace harness {

// Puts a ConsolePrinter in place of GoogleTest's default printer.
void useConsolePrinter();

class ConsolePrinter final : public testing::TestEventListener {
public:
    explicit ConsolePrinter(testing::TestEventListener* defaultPrinter)
        : m_default(defaultPrinter) {}

    void OnTestPartResult(const testing::TestPartResult& result) override;

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

} // namespace harness
