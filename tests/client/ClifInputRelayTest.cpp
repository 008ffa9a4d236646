// The standard-input relay: what is ready is taken at once, a partial line included, in order and
// at most the limit per take; the end of the input comes with the take that reaches it.
#include "ClifInputRelay.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <tuple>

#include <fcntl.h>
#include <unistd.h>

namespace
{

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

TEST_F(PipeInput, PartialLineIsTakenWhileTheWriterStaysOpen)
{
    ClifInputRelay relay(readEnd());
    write("abc");
    std::string text;
    EXPECT_TRUE(relay.takeReady(text));
    EXPECT_EQ(text, "abc");
    EXPECT_TRUE(relay.takeReady(text));
    EXPECT_EQ(text, "abc");
}

TEST_F(PipeInput, TwoLinesOfOneWriteAreBothTaken)
{
    ClifInputRelay relay(readEnd());
    write(std::string("one\ntwo\n\0three", 14));
    std::string text;
    EXPECT_TRUE(relay.takeReady(text));
    EXPECT_EQ(text, std::string("one\ntwo\n\0three", 14));
    closeWriter();
    EXPECT_FALSE(relay.takeReady(text));
    EXPECT_EQ(text, std::string("one\ntwo\n\0three", 14));
}

TEST_F(PipeInput, EachTakeStopsAtTheLimitAndTheEndComesWithTheLastBytes)
{
    ClifInputRelay relay(readEnd(), 10);
    write(std::string(25, 'x'));
    closeWriter();
    std::string first, second, last;
    EXPECT_TRUE(relay.takeReady(first));
    EXPECT_TRUE(relay.takeReady(second));
    EXPECT_FALSE(relay.takeReady(last));
    EXPECT_EQ(std::make_tuple(first.size(), second.size(), last.size()), std::make_tuple(10u, 10u, 5u));
}

TEST_F(PipeInput, InputOfAWholeNumberOfLimitsEndsWithAnEmptyTake)
{
    ClifInputRelay relay(readEnd(), 10);
    write(std::string(20, 'x'));
    closeWriter();
    std::string text;
    EXPECT_TRUE(relay.takeReady(text));
    EXPECT_TRUE(relay.takeReady(text));
    EXPECT_EQ(text.size(), 20u);
    EXPECT_FALSE(relay.takeReady(text));
    EXPECT_EQ(text.size(), 20u);
}

TEST_F(PipeInput, MoreThanAPipeHoldsComesInOrder)
{
    std::string data;
    for (int i = 0; data.size() < std::size_t{300} * 1024; ++i)
        data += std::to_string(i) + ' ';
    // A second thread writes while the relay reads.
    std::thread writer([&] {
        write(data);
        closeWriter();
    });
    ClifInputRelay relay(readEnd(), std::size_t{64} * 1024);
    std::string text;
    for (bool open = true; open;)
        open = relay.takeReady(text);
    writer.join();
    EXPECT_EQ(text, data);
}

TEST_F(PipeInput, EmptyInputEndsAtOnce)
{
    ClifInputRelay relay(readEnd());
    closeWriter();
    std::string text;
    EXPECT_FALSE(relay.takeReady(text));
    EXPECT_EQ(text, "");
}

TEST(InputRelay, ReadErrorEndsTheInput)
{
    int directory = open("/", O_RDONLY | O_DIRECTORY);
    if (directory < 0)
        GTEST_FAIL() << "cannot open /";
    ClifInputRelay relay(directory);
    std::string text;
    bool open = relay.takeReady(text);
    close(directory);
    EXPECT_FALSE(open);
}

} // namespace
