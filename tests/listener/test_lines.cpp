// Cutting received bytes into lines, for datagrams and for streams read in pieces of any size.
#include "listener/LineAssembler.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(std::string_view text)
{
    std::vector<std::string_view> views;
    SplitLines(text, views);
    return {views.begin(), views.end()};
}

// Feeds the stream in the given pieces and closes it: every line, the open one last.
std::vector<std::string> Stream(const std::vector<std::string>& pieces)
{
    LineAssembler assembler;
    std::vector<std::string> out;
    std::vector<std::string_view> views;
    for (const std::string& piece : pieces) {
        views.clear();
        assembler.Feed(piece, views);
        out.insert(out.end(), views.begin(), views.end());
    }
    if (std::string rest = assembler.TakePending(); !rest.empty())
        out.push_back(rest);
    return out;
}

using Lines = std::vector<std::string>;

} // namespace

TEST(SplitLines, CutsAtLineFeedsAndDropsEmptyLines)
{
    EXPECT_EQ(Split("one\ntwo\n"), (Lines{"one", "two"}));
    EXPECT_EQ(Split("no line feed"), (Lines{"no line feed"}));
    EXPECT_EQ(Split("a\n\n\nb"), (Lines{"a", "b"}));
    EXPECT_EQ(Split("\n\n\n"), Lines{});
    EXPECT_EQ(Split(""), Lines{});
    // A carriage return is text: CRLF senders keep their CR.
    EXPECT_EQ(Split("x\r\ny\r\n"), (Lines{"x\r", "y\r"}));
    // A zero byte is data like any other.
    EXPECT_EQ(Split(std::string("a\0b\nc", 5)), (Lines{std::string("a\0b", 3), "c"}));
}

TEST(LineAssembler, ALineSplitAcrossReadsIsOneLine)
{
    EXPECT_EQ(Stream({"hel", "lo\n"}), (Lines{"hello"}));
    EXPECT_EQ(Stream({"a\n", "\nb\n"}), (Lines{"a", "b"}));
    EXPECT_EQ(Stream({"x\r", "\n"}), (Lines{"x\r"}));
    EXPECT_EQ(Stream({"abc", "", "def", "\n\n", "g"}), (Lines{"abcdef", "g"}));
    // A multi-byte character cut between reads comes out whole.
    EXPECT_EQ(Stream({"caf\xc3", "\xa9\n"}), (Lines{"caf\xc3\xa9"}));
    const std::string big(3000, 'z');
    EXPECT_EQ(Stream({big.substr(0, 1024), big.substr(1024, 1024), big.substr(2048) + "\n"}), (Lines{big}));
}

TEST(LineAssembler, AnyCutOfTheStreamGivesTheLinesOfTheWhole)
{
    // Whatever the read boundaries, the lines are those of the whole text.
    std::mt19937 rng(12345);
    const std::string alphabet("ab\n\r\0\xc3\xa9", 7);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int length = static_cast<int>(rng() % 64);
        for (int i = 0; i < length; ++i)
            text += alphabet[rng() % alphabet.size()];
        std::vector<std::string> pieces;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t n = std::min<std::size_t>(1 + rng() % 8, text.size() - at);
            pieces.push_back(text.substr(at, n));
            at += n;
        }
        EXPECT_EQ(Stream(pieces), Split(text)) << "round " << round;
    }
}
