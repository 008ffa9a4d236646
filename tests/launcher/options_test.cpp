#include "VelCMD.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> optionsOf(const VelCMD& command)
{
    std::vector<std::string> options;
    for (int i = 0; i < command.getOptionCount(); ++i)
        options.push_back(command.getOption(i));
    return options;
}

TEST(GenOptionString, JoinsPrefixPropertySeparatorValue)
{
    VelCMD command("velnode", "c");
    EXPECT_EQ(command.genOptionString("ms", std::string("16m"), "-X", ""), "-Xms16m");
    EXPECT_EQ(command.genOptionString("vel.path", std::string("/bin"), "-D", "="), "-Dvel.path=/bin");
    EXPECT_EQ(command.genOptionString("verbose", std::string("class"), "-", ":"), "-verbose:class");
    EXPECT_EQ(command.genOptionString("vel.path", std::string(), "-D", "="), "");
    EXPECT_EQ(command.genOptionString("vel.path", static_cast<const char*>(nullptr), "-D", "="), "");
    EXPECT_EQ(command.genOptionString("vel.path", "", "-D", "="), "");
    EXPECT_EQ(command.genOptionString("vel.path", "/x", "-D", "="), "-Dvel.path=/x");
}

TEST(UserOptions, SplitAtSpacesFromEachDash)
{
    VelCMD command("velnode", "c");
    command.addUserJVMOptions("  -Da=1   x-y\t-z  noDash - -Xss1m");
    EXPECT_EQ(optionsOf(command),
              (std::vector<std::string>{"-Da=1", "-y\t-z", "-", "-Xss1m"}));
}

TEST(UserOptions, NothingFromBlanksOrWordsWithoutDash)
{
    VelCMD command("velnode", "c");
    command.addUserJVMOptions("   ");
    command.addUserJVMOptions("abc def");
    command.addUserJVMOptions(nullptr);
    EXPECT_EQ(command.getOptionCount(), 0);
}

TEST(UserOptions, LongestWordFitsTheBuffer)
{
    VelCMD command("velnode", "c");
    std::string word = "-D" + std::string(253, 'w');
    command.addUserJVMOptions((word + " -Dnext").c_str());
    EXPECT_EQ(optionsOf(command), (std::vector<std::string>{word, "-Dnext"}));
}

TEST(UserOptionsDeathTest, OverlongWordIsRefused)
{
    VelCMD command("velnode", "c");
    std::string word = "-D" + std::string(254, 'w');
    EXPECT_EXIT(command.addUserJVMOptions(word.c_str()), ::testing::ExitedWithCode(1),
                "ERROR:   velnode cannot use a VEL_JVM_OPTS option longer than 255 characters.");
}

TEST(AddJVMOptionDeathTest, FortyFirstOptionEndsTheProcess)
{
    VelCMD command("velnode", "c");
    for (int i = 0; i < VelCMD::MAX_JVM_OPTIONS; ++i)
        command.addJVMOption("-Dn" + std::to_string(i));
    EXPECT_EQ(command.getOptionCount(), 40);
    EXPECT_STREQ(command.getOption(39), "-Dn39");
    EXPECT_EXIT(command.addJVMOption("-Dmore"), ::testing::ExitedWithCode(1),
                "^VelDaemon::addJVMOption: Insufficient space for option\n$");
}

TEST(ErrorExitDeathTest, MessageGoesToStandardErrorWithStatus)
{
    VelCMD command("velnode", "c");
    EXPECT_EXIT(command.errorExit(3, "100% %s done"), ::testing::ExitedWithCode(3),
                "^100% %s done\n$");
    EXPECT_EXIT(command.errorExit(1, nullptr), ::testing::ExitedWithCode(1), "^$");
}

} // namespace
