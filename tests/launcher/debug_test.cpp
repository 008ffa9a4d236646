#include "VelDebugInit.h"
#include "debug.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace
{

class TraceTest : public ::testing::Test
{
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }

    static void reset()
    {
        if (stddbg != nullptr)
            fclose(stddbg);
        stddbg = nullptr;
        _Debug = 0;
        indent = 0;
        indentSpaces[0] = '\0';
        unsetenv("VEL_DTRACE");
    }

    // Everything written to the trace stream so far.
    static std::string traced()
    {
        fflush(stddbg);
        EXPECT_EQ(fseek(stddbg, 0, SEEK_SET), 0);
        std::string text;
        char buffer[512];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, stddbg)) > 0)
            text.append(buffer, got);
        return text;
    }
};

uint32_t parse(const char* list)
{
    uint32_t mask = 0;
    std::string copy(list);
    parseDebugString(copy.data(), &mask);
    return mask;
}

TEST_F(TraceTest, LevelListsSetTheirBits)
{
    EXPECT_EQ(parse("0,31"), 0x80000001u);
    EXPECT_EQ(parse(",,31,"), 0x80000000u);
    EXPECT_EQ(parse(",,,"), 0u);
    EXPECT_EQ(parse("x"), 1u);
    EXPECT_EQ(parse(" +5,3abc"), (1u << 5) | (1u << 3));
    EXPECT_EQ(parse("-3"), 0u);

    uint32_t mask = 4;
    parseDebugString(nullptr, &mask);
    EXPECT_EQ(mask, 4u);
}

TEST_F(TraceTest, LevelsOf32AndMoreAreReportedAndSkipped)
{
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(parse("40,0,32"), 1u);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "DBG: Bad debug level number - 40\nDBG: Bad debug level number - 32\n");
}

TEST_F(TraceTest, LargeLevelsAreReportedAsWrittenOnEveryTarget)
{
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(parse("4294967296,2147483648,1"), 2u);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "DBG: Bad debug level number - 4294967296\nDBG: Bad debug level number - 2147483648\n");
}

TEST_F(TraceTest, IndentationLagsOnTheWayInAndMatchesOnTheWayOut)
{
    debug_indent();
    EXPECT_STREQ(indentSpaces, "");
    debug_indent();
    EXPECT_STREQ(indentSpaces, "  ");
    EXPECT_EQ(indent, 4);
    debug_unindent();
    EXPECT_STREQ(indentSpaces, "  ");
    debug_unindent();
    EXPECT_STREQ(indentSpaces, "");
    EXPECT_EQ(indent, 0);
}

TEST_F(TraceTest, DeepNestingIsCutToTheBuffer)
{
    for (int i = 0; i < 700; ++i)
        debug_indent();
    EXPECT_EQ(indent, 1400);
    EXPECT_EQ(strlen(indentSpaces), static_cast<size_t>(INDENT_BUFFER_SIZE - 1));
    for (int i = 0; i < 700; ++i)
        debug_unindent();
    EXPECT_STREQ(indentSpaces, "");
}

TEST_F(TraceTest, LineForms)
{
    stddbg = tmpfile();
    ASSERT_NE(stddbg, nullptr);
    debugEnter("a.cpp", "Outer");
    debugMessage("a.cpp", "before");
    debugEnter("a.cpp", "\"inner\"");
    debugLeave("a.cpp", "\"inner\"", 12);
    debugMessage("a.cpp", "after");
    debugString("a.cpp", "name.c_str()", "velnode");
    debugString("a.cpp", "value", nullptr);
    debugInt("a.cpp", "argc", -3);
    debugLeave("a.cpp", "Outer", 34);
    debugMessage("a/very/long/source/file.cpp", "text");
    EXPECT_EQ(traced(), "a.cpp               :Entering Outer()\n"
                        "a.cpp               :     before\n"
                        "a.cpp               :  Entering \"inner\"()\n"
                        "a.cpp               :  Leaving  \"inner\"() at 12\n"
                        "a.cpp               :       after\n"
                        "a.cpp               :       name.c_str()='velnode'\n"
                        "a.cpp               :       value='<NULL>'\n"
                        "a.cpp               :       argc=-3\n"
                        "a.cpp               :Leaving  Outer() at 34\n"
                        "a/very/long/source/file.cpp:     text\n");
}

TEST_F(TraceTest, MacrosWriteNothingWhileTheTraceIsOff)
{
    _Debug = 0xffffffffu; // levels without a stream must not write anywhere
    DBG_ENTER("x");
    DBG_MSG("x");
    DBG_LEAVE("x");
    stddbg = tmpfile();
    _Debug = 0;
    DBG_ENTER("x");
    DBG_MSG("x");
    DBG_INT(indent);
    EXPECT_EQ(traced(), "");
}

TEST_F(TraceTest, StartTruncatesAnOldFileAndWritesTheBanner)
{
    char path[] = "/tmp/vel-trace-XXXXXX";
    int fd = mkstemp(path);
    ssize_t written = fd >= 0 ? write(fd, "left over\n", 10) : -1;
    if (fd >= 0)
        close(fd);
    ASSERT_EQ(written, 10);
    setenv("VEL_DTRACE", "3,31", 1);
    debug_initialize(0, "VEL_DTRACE", path);
    EXPECT_EQ(_Debug, 0x80000008u);
    std::ifstream file(path);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    unlink(path);
    ASSERT_EQ(text.size(), 26u) << text; // asctime's 25 characters and an empty line
    EXPECT_EQ(text.substr(24), "\n\n");
    EXPECT_EQ(text.find("left over"), std::string::npos);
}

TEST_F(TraceTest, NoTraceWithoutLevels)
{
    [[maybe_unused]] VelDebugInit start("velnode");
    EXPECT_EQ(stddbg, nullptr);
    setenv("VEL_DTRACE", "", 1);
    [[maybe_unused]] VelDebugInit again("velnode");
    EXPECT_EQ(stddbg, nullptr);
    EXPECT_EQ(_Debug, 0u);
}

TEST_F(TraceTest, TooLongTracePathIsRefusedNotCut)
{
    setenv("VEL_DTRACE", "0,31", 1);
    ::testing::internal::CaptureStderr();
    [[maybe_unused]] VelDebugInit start(std::string(80, 'n'));
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("Can't open debug trace file. '/var/opt/vel/logs/nnnn"), 0u) << err;
    EXPECT_NE(err.find(std::string(80, 'n') + ".dbg."), std::string::npos) << err;
    EXPECT_NE(err.find("\nError #36 - File name too long\n"), std::string::npos) << err;
    EXPECT_EQ(stddbg, nullptr);
    EXPECT_EQ(_Debug, 0u);
}

} // namespace
