#include "support/TestSupport.h"

#include "gps/LineAssembler.h"
#include "gps/LineQueue.h"

namespace {

// Feeds the chunks one after another and returns the lines of each.
std::vector<std::vector<std::string>> Feed(const std::vector<std::string>& chunks)
{
    CLineAssembler assembler;
    std::vector<std::vector<std::string>> result;
    for (const auto& chunk : chunks) {
        std::vector<std::string> lines;
        assembler.Append(chunk, lines);
        result.push_back(lines);
    }
    return result;
}

using Lines = std::vector<std::string>;

} // namespace

TEST(LineAssembler, LineEndsAndReadBoundaries)
{
    struct Row
    {
        std::vector<std::string> chunks;
        std::vector<Lines> expected;
    };
    const Row rows[] = {
        {{"$GPGGA,1\r\n$GP", "RMC,2\r\n"}, {{"$GPGGA,1"}, {"$GPRMC,2"}}},
        {{"a\r", "\nb\n"}, {{"a"}, {"", "b"}}},
        {{"a\n\n\r\r\nb\rc\r\n"}, {{"a", "b", "c"}}},
        {{"\r\na\n"}, {{"", "a"}}},
        {{"abc", "def", "\n"}, {{}, {}, {"abcdef"}}},
        {{std::string("a\0b\n", 4)}, {{"ab"}}},
        {{std::string("a\0\nb\n", 5)}, {{"a", "b"}}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, Feed(row.chunks));
}

// A sentence split at every position into two reads gives the same lines.
TEST(LineAssembler, EverySplitPoint)
{
    const std::string stream = "$GPGLL,4916.45,N,12311.12,W,225444,A\r\n$GPGSA,A,3,04,05,,09\n";
    for (size_t split = 0; split <= stream.size(); ++split) {
        CLineAssembler assembler;
        Lines lines;
        assembler.Append(stream.substr(0, split), lines);
        assembler.Append(stream.substr(split), lines);
        // A read that ends between the CR and the LF of the first line end
        // adds one empty line.
        Lines expected = {"$GPGLL,4916.45,N,12311.12,W,225444,A", "$GPGSA,A,3,04,05,,09"};
        if (split == stream.find('\r') + 1)
            expected.insert(expected.begin() + 1, "");
        EXPECT_EQ(expected, lines) << "split at " << split;
        EXPECT_TRUE(assembler.Pending().empty());
    }
}

// Lines longer than the sixteen bytes looked at together, with a NUL and a
// line end at every position of a block, cut as a byte-by-byte reading
// would.
TEST(LineAssembler, LongLinesWithNulsAndLineEndsAnywhere)
{
    for (size_t end = 0; end < 40; ++end) {
        for (size_t nul = 0; nul < 40; nul += 3) {
            std::string stream(80, 'x');
            stream[nul] = '\0';
            stream[end] = end % 2 ? '\r' : '\n';
            stream += '\n';
            Lines expected;
            std::string line;
            for (char c : stream) {
                if (c == '\r' || c == '\n') {
                    if (!line.empty() || expected.empty())
                        expected.push_back(line);
                    line.clear();
                } else if (c != '\0') {
                    line += c;
                }
            }
            EXPECT_EQ(Lines{expected}, Feed({stream})[0]) << "line end at " << end << ", NUL at " << nul;
        }
    }
}

TEST(LineAssembler, PendingBytesAreBounded)
{
    CLineAssembler assembler;
    Lines lines;
    const std::string block(10000, 'x');
    for (int i = 0; i < 10; ++i)
        assembler.Append(block, lines);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(CLineAssembler::c_maximumPendingBytes, assembler.Pending().size());
    assembler.Append("y\nz\n", lines);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(CLineAssembler::c_maximumPendingBytes + 1, lines[0].size());
    EXPECT_EQ('y', lines[0].back());
    EXPECT_EQ("z", lines[1]);
}

TEST(LineAssembler, ClearDropsAPartialLine)
{
    CLineAssembler assembler;
    Lines lines;
    assembler.Append("$GPRMC,1", lines);
    assembler.Clear();
    assembler.Append(",2\n", lines);
    EXPECT_EQ(Lines{",2"}, lines);
}

// A client that does not take its lines loses the oldest, and learns so.
TEST(LineQueue, OldestLinesGiveWayBeyondTheLimit)
{
    CLineQueue queue(3 * (CLineQueue::c_lineOverhead + 2));
    Lines first = {"a1", "a2"};
    Lines second = {"b1", "b2"};
    queue.Append(first);
    queue.Append(second);
    std::deque<std::string> taken;
    EXPECT_TRUE(queue.Take(taken));
    EXPECT_EQ((std::deque<std::string>{"a2", "b1", "b2"}), taken);
    Lines third = {"c1"};
    queue.Append(third);
    EXPECT_FALSE(queue.Take(taken));
    EXPECT_EQ(std::deque<std::string>{"c1"}, taken);
    EXPECT_TRUE(queue.Empty());
}
