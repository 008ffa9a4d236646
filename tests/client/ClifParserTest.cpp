// Command line of the client: options, forwarded arguments and the error block.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClifParser.h"

namespace {

struct ParsedLine {
    int flags;
    std::string output;
};

class CommandLine
{
public:
    explicit CommandLine(std::vector<std::string> words) : myWords(std::move(words))
    {
        for (std::string& word : myWords)
            myArgv.push_back(&word[0]);
        myArgv.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(myWords.size()); }
    char** argv() { return myArgv.data(); }

private:
    std::vector<std::string> myWords;
    std::vector<char*> myArgv;
};

ParsedLine parse(ClifCmdInvoker& invoker, std::vector<std::string> words)
{
    CommandLine line(std::move(words));
    testing::internal::CaptureStdout();
    int flags = invoker.parseCommandLine(line.argc(), line.argv());
    return ParsedLine{flags, testing::internal::GetCapturedStdout()};
}

const std::string ERROR_HEAD = "Parse error. The following options caused trouble: \n";

} // namespace

TEST(ClifParser, TakesOptionsOutAndForwardsTheRestInOrder)
{
    ClifCmdInvoker invoker;
    ParsedLine parsed = parse(invoker, {"/opt/vel/bin/velnode", "-a", "--user", "admin", "b",
                                        "--pass", "secret", "--cms", "host", "--env", "TZ=UTC", "c"});
    EXPECT_EQ(0, parsed.flags);
    EXPECT_EQ("", parsed.output);
    EXPECT_EQ((std::vector<std::string>{"velnode", "-a", "b", "c"}), invoker.args());
    EXPECT_EQ("admin", invoker.username());
    EXPECT_EQ("secret", invoker.password());
    EXPECT_EQ("host", invoker.cms());
    EXPECT_EQ("UTC", invoker.userEnvMap().at("TZ"));
    EXPECT_EQ("/opt/vel/bin/../bin/", s_CLIConfigDirectory);
}

TEST(ClifParser, LongSpellingsAndLastValueWins)
{
    ClifCmdInvoker invoker;
    ParsedLine parsed = parse(invoker, {"velnode", "--username", "a", "--password", "p", "--user", "b",
                                        "--pass", "q", "--cms", "x", "--cms", "y"});
    EXPECT_EQ(0, parsed.flags);
    EXPECT_EQ("b", invoker.username());
    EXPECT_EQ("q", invoker.password());
    EXPECT_EQ("y", invoker.cms());
    EXPECT_EQ(std::vector<std::string>{"velnode"}, invoker.args());
}

TEST(ClifParser, OptionsMatchWholeAndWithCase)
{
    ClifCmdInvoker invoker;
    ParsedLine parsed = parse(invoker, {"velnode", "--user=smith", "-user", "x", "--USER", "y", "--cmsx", "z"});
    EXPECT_EQ(0, parsed.flags);
    EXPECT_EQ((std::vector<std::string>{"velnode", "--user=smith", "-user", "x", "--USER", "y", "--cmsx", "z"}),
              invoker.args());
}

TEST(ClifParser, CmsAndEnvAsLastArgumentAreForwarded)
{
    ClifCmdInvoker cms;
    EXPECT_EQ(0, parse(cms, {"velnode", "-l", "--cms"}).flags);
    EXPECT_EQ((std::vector<std::string>{"velnode", "-l", "--cms"}), cms.args());

    ClifCmdInvoker env;
    EXPECT_EQ(0, parse(env, {"velnode", "-l", "--env"}).flags);
    EXPECT_EQ((std::vector<std::string>{"velnode", "-l", "--env"}), env.args());
}

TEST(ClifParser, UserOrPasswordAsLastArgumentIsAnError)
{
    ClifCmdInvoker user;
    ParsedLine parsed = parse(user, {"velnode", "-l", "--user"});
    EXPECT_EQ(2, parsed.flags);
    EXPECT_EQ(ERROR_HEAD + "The username argument was incorrectly specified.\n", parsed.output);

    ClifCmdInvoker pass;
    parsed = parse(pass, {"velnode", "--pass"});
    EXPECT_EQ(1, parsed.flags);
    EXPECT_EQ(ERROR_HEAD + "The password argument was incorrectly specified.\n", parsed.output);
}

TEST(ClifParser, RefusedValueIsExaminedInItsOwnTurn)
{
    ClifCmdInvoker invoker;
    ParsedLine parsed = parse(invoker, {"velnode", "--user", "-x", "--cms", "--env", "A=1"});
    // --cms refuses "--env", which then takes A=1.
    EXPECT_EQ(2 | 4, parsed.flags);
    EXPECT_EQ((std::vector<std::string>{"velnode", "-x"}), invoker.args());
    EXPECT_EQ("1", invoker.userEnvMap().at("A"));
}

TEST(ClifParser, EmptyValueIsAnnouncedBeforeTheBlock)
{
    ClifCmdInvoker invoker;
    ParsedLine parsed = parse(invoker, {"velnode", "--user", ""});
    EXPECT_EQ(2, parsed.flags);
    EXPECT_EQ("Error: no arg specified, but expected\n" + ERROR_HEAD +
                  "The username argument was incorrectly specified.\n",
              parsed.output);
    EXPECT_EQ((std::vector<std::string>{"velnode", ""}), invoker.args());
}

TEST(ClifParser, AllErrorLinesInBitOrder)
{
    ClifCmdInvoker invoker;
    ParsedLine parsed = parse(invoker, {"velnode", "--env", "-e", "--cms", "-c", "--user", "-u", "--pass"});
    EXPECT_EQ(15, parsed.flags);
    EXPECT_EQ(ERROR_HEAD + "The password argument was incorrectly specified.\n"
                           "The username argument was incorrectly specified.\n"
                           "The cms argument was incorrectly specified.\n"
                           "The environment argument(s) was incorrectly specified.\n",
              parsed.output);
}

TEST(ClifParser, EnvValueWithoutEqualsIsAnEnvironmentError)
{
    ClifCmdInvoker invoker;
    ParsedLine parsed = parse(invoker, {"velnode", "--env", "NOEQUALS", "-l"});
    EXPECT_EQ(8, parsed.flags);
    EXPECT_EQ(ERROR_HEAD + "The environment argument(s) was incorrectly specified.\n", parsed.output);
    EXPECT_TRUE(invoker.userEnvMap().empty());
}

TEST(ClifParser, FirstEnvForANameWins)
{
    ClifCmdInvoker invoker;
    parse(invoker, {"velnode", "--env", "TZ=UTC", "--env", "TZ=GMT", "--env", "X=a=b", "--env", "E="});
    EXPECT_EQ("UTC", invoker.userEnvMap().at("TZ"));
    EXPECT_EQ("a=b", invoker.userEnvMap().at("X"));
    EXPECT_EQ("", invoker.userEnvMap().at("E"));
}

TEST(ClifParser, StripFullPath)
{
    ClifCmdInvoker invoker;
    EXPECT_EQ("velnode", invoker.stripFullPath("/opt/vel/bin/velnode"));
    EXPECT_EQ("velnode", invoker.stripFullPath("velnode"));
    EXPECT_EQ("velnode", invoker.stripFullPath("./velnode"));
    EXPECT_EQ("", invoker.stripFullPath("dir/"));
}
