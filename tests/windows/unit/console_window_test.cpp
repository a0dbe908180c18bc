// Whether the console window closes with the program: it does when the
// console is the program's alone, as when Explorer starts it.
#include <gtest/gtest.h>

#include <windows.h>

#include "console.h"

namespace {

TEST(ConsoleWindow, OnlyAConsoleOfItsOwnClosesWithTheProgram) {
    // Under Wine without wineconsole the tests have no console; a console
    // made for this process alone is what Explorer gives a program.
    FreeConsole();
    EXPECT_FALSE(consoleClosesWithProgram()) << "no console at all";
    ASSERT_TRUE(AllocConsole());
    EXPECT_TRUE(consoleClosesWithProgram()) << "a console of its own";
    FreeConsole();
}

}  // namespace

namespace {

TEST(ConsoleWindow, ConsoleOfItsOwnNotOpenedByExplorerNeverWaits) {
    // A scheduled task that runs while the user is logged on gets a console
    // of its own too; only the program that started it tells it apart.
    FreeConsole();
    ASSERT_TRUE(AllocConsole());
    EXPECT_TRUE(consoleClosesWithProgram());
    EXPECT_FALSE(consoleOpenedByExplorer()) << "started by the test runner, not by Explorer";
    FreeConsole();
}

}  // namespace
