// The standard-input line reader: whole lines, a partial last line, and bytes read ahead of a line
// that must still count as ready input.
#include "ClifLineReader.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include <unistd.h>

namespace {

class PipeInput : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(pipe(m_fds), 0); }
    void TearDown() override
    {
        close(m_fds[0]);
        if (m_fds[1] >= 0)
            close(m_fds[1]);
    }
    void write(const std::string& bytes)
    {
        ASSERT_EQ(::write(m_fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void closeWriter()
    {
        close(m_fds[1]);
        m_fds[1] = -1;
    }
    int readEnd() const { return m_fds[0]; }

private:
    int m_fds[2] = {-1, -1};
};

TEST_F(PipeInput, LinesComeOneAtATimeAndTheRestStaysBuffered)
{
    ClifLineReader reader(readEnd());
    write(std::string("one\ntwo\n\0three", 14));
    closeWriter();

    std::string text;
    EXPECT_TRUE(reader.appendLine(text));
    EXPECT_EQ(text, "one\n");
    EXPECT_TRUE(reader.hasBuffered());
    EXPECT_TRUE(reader.appendLine(text));
    EXPECT_EQ(text, "one\ntwo\n");
    EXPECT_FALSE(reader.appendLine(text));
    EXPECT_EQ(text, std::string("one\ntwo\n\0three", 14));
    EXPECT_FALSE(reader.hasBuffered());
}

TEST_F(PipeInput, LineLongerThanTheBufferIsReadWhole)
{
    ClifLineReader reader(readEnd());
    std::string longLine(std::size_t{200} * 1024, 'x');
    longLine += '\n';
    // More than a pipe holds: a second thread writes while the reader reads.
    std::thread writer([&] {
        write(longLine + "tail");
        closeWriter();
    });
    std::string text;
    EXPECT_TRUE(reader.appendLine(text));
    EXPECT_EQ(text, longLine);
    EXPECT_FALSE(reader.appendLine(text));
    EXPECT_EQ(text, longLine + "tail");
    writer.join();
}

TEST_F(PipeInput, EmptyInputEndsAtOnce)
{
    ClifLineReader reader(readEnd());
    closeWriter();
    std::string text;
    EXPECT_FALSE(reader.appendLine(text));
    EXPECT_EQ(text, "");
}

TEST(LineReader, ReadErrorEndsTheInput)
{
    ClifLineReader reader(-1);
    std::string text;
    EXPECT_FALSE(reader.appendLine(text));
}

} // namespace
