// Cutting received bytes into lines: one rule per case here; fuzz_lines tries every cut.
#include "listener/LineAssembler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Lines = std::vector<std::string>;

TEST(SplitLines, CutsAtLineFeedsDropsEmptyLinesAndKeepsEveryOtherByte)
{
    const auto split = [](std::string_view text) {
        std::vector<std::string_view> lines;
        SplitLines(text, lines);
        return Lines(lines.begin(), lines.end());
    };
    EXPECT_EQ(split("one\n\n\ntwo"), (Lines{"one", "two"}));
    EXPECT_EQ(split("\n\n"), Lines{});
    EXPECT_EQ(split(std::string("x\r\na\0b\n", 7)), (Lines{"x\r", std::string("a\0b", 3)}));
}

TEST(LineAssembler, ALineCutBetweenReadsIsOneLine)
{
    LineAssembler assembler;
    Lines out;
    for (const std::string_view read : {"hel", "lo\n\n", "", "caf\xc3", "\xa9\r", "\nta"}) {
        std::vector<std::string_view> lines;
        assembler.Feed(read, lines);
        out.insert(out.end(), lines.begin(), lines.end());
    }
    EXPECT_EQ(out, (Lines{"hello", "caf\xc3\xa9\r"}));
    EXPECT_EQ(assembler.TakePending(), "ta");
    EXPECT_FALSE(assembler.HasPending());
}
