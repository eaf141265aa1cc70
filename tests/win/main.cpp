// Entry of the Windows-side test program: prepares the application object the way the
// program's start-up does, then runs the tests.
#include "app.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <string>

std::string g_typrovaExe; // path of the built program, for the version-block test

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    harness::useConsolePrinter();
    const std::string option = "--typrova-exe=";
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind(option, 0) == 0)
            g_typrovaExe = argv[i] + option.size();
    if (!AfxGetApp() || !AfxInitApplication(*AfxGetApp(), GetModuleHandleA(nullptr)))
        return 2;
    return RUN_ALL_TESTS();
}
