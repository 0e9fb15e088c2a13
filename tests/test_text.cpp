// The bounded text helpers: cut at the buffer's size less one, always
// terminated, never a byte written past the buffer.
#include "common/text.h"

#include <gtest/gtest.h>
#include <string.h>

namespace {

// A buffer with guard bytes on both sides, to see writes outside it.
struct Guarded {
    char before[8];
    char buffer[8];
    char after[8];
    Guarded() { memset(this, 'G', sizeof(*this)); }
    bool GuardsIntact() const
    {
        for (int i = 0; i < 8; i++)
            if (before[i] != 'G' || after[i] != 'G')
                return false;
        return true;
    }
};

}  // namespace

TEST(BoundedText, CopyCutsAtSizeLessOneAndTerminates)
{
    struct { const char *src; const char *expected; size_t length; } cases[] = {
        {"", "", 0},
        {"abc", "abc", 3},
        {"abcdefg", "abcdefg", 7},      // exactly size - 1
        {"abcdefgh", "abcdefg", 7},     // one too many
        {"abcdefghijklmnop", "abcdefg", 7},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.src);
        Guarded g;
        EXPECT_EQ(c.length, CopyText(g.buffer, sizeof(g.buffer), c.src));
        EXPECT_STREQ(c.expected, g.buffer);
        EXPECT_TRUE(g.GuardsIntact());
    }
}

TEST(BoundedText, CopyNStopsAtCountOrNulAndAcceptsUnterminatedSource)
{
    const char unterminated[4] = {'w', 'x', 'y', 'z'};
    Guarded g;
    EXPECT_EQ(4u, CopyTextN(g.buffer, sizeof(g.buffer), unterminated, 4));
    EXPECT_STREQ("wxyz", g.buffer);
    EXPECT_EQ(2u, CopyTextN(g.buffer, sizeof(g.buffer), "ab\0cd", 5));
    EXPECT_STREQ("ab", g.buffer);
    EXPECT_EQ(0u, CopyTextN(g.buffer, sizeof(g.buffer), "abc", 0));
    EXPECT_STREQ("", g.buffer);
    EXPECT_EQ(0u, CopyText(g.buffer, sizeof(g.buffer), NULL));
    EXPECT_STREQ("", g.buffer);
    EXPECT_TRUE(g.GuardsIntact());
    EXPECT_EQ(0u, CopyText(g.buffer, 0, "abc"));  // no room at all: nothing written
    EXPECT_TRUE(g.GuardsIntact());
}

TEST(BoundedText, AppendCutsAndTerminates)
{
    Guarded g;
    CopyText(g.buffer, sizeof(g.buffer), "abc");
    EXPECT_EQ(6u, AppendText(g.buffer, sizeof(g.buffer), "def"));
    EXPECT_STREQ("abcdef", g.buffer);
    EXPECT_EQ(7u, AppendText(g.buffer, sizeof(g.buffer), "ghijk"));
    EXPECT_STREQ("abcdefg", g.buffer);
    EXPECT_EQ(7u, AppendText(g.buffer, sizeof(g.buffer), "x"));  // already full
    EXPECT_STREQ("abcdefg", g.buffer);
    // A buffer that holds no terminator is terminated at its end, not read past.
    memset(g.buffer, 'q', sizeof(g.buffer));
    EXPECT_EQ(7u, AppendText(g.buffer, sizeof(g.buffer), "x"));
    EXPECT_STREQ("qqqqqqq", g.buffer);
    EXPECT_TRUE(g.GuardsIntact());
}

TEST(BoundedText, FormatCutsAndTerminates)
{
    Guarded g;
    EXPECT_EQ(5u, FormatText(g.buffer, sizeof(g.buffer), "%s-%d", "ab", 42));
    EXPECT_STREQ("ab-42", g.buffer);
    EXPECT_EQ(7u, FormatText(g.buffer, sizeof(g.buffer), "%d", 123456789));
    EXPECT_STREQ("1234567", g.buffer);
    EXPECT_TRUE(g.GuardsIntact());
}
