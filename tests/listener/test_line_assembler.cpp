// SPDX-License-Identifier: GPL-3.0-or-later
// A long line left open at the log's end, when the log changes under it: a clear, or a load or a
// save whose appends wait until it is over.
#include "listener/LineAssembler.h"

#include <gtest/gtest.h>

namespace {

// A log whose appends can be held back, as the real one holds them while a load or save runs.
struct HeldLog final : LineAssembler::Log {
    std::string text, held, room;
    bool holding = false;
    char* BeginAppend(std::size_t most) override { return (room = std::string(most, '\0')).data(); }
    void EndAppend(std::size_t length) override { (holding ? held : text).append(room, 0, length); }
    long long Length() const override { return static_cast<long long>(text.size()); }
    void Load(const std::string& file) { text = file + std::exchange(held, {}), holding = false; }
};

} // namespace

TEST(LineAssembler, ALongLineGoesOnWholeOrEndedOnceWhenTheLogChangesUnderIt)
{
    HeldLog log;
    LineAssembler lines(log, LineAssembler::Limits{16, 64});
    const std::string big(100, 'L');
    lines.Feed(1, big);
    ASSERT_EQ(log.text, big);   // past the long-line mark it is at the log's end
    // Another client's line ends it there; its rest is a line of its own.
    lines.Feed(2, "o\n");
    lines.Feed(1, "LL\n");
    EXPECT_EQ(log.text, big + "\r\no\r\nLL\r\n");
    log.text.clear();
    lines.Feed(1, big);
    // A save: the line's bytes wait behind it, then go on where they were.
    log.holding = true;
    lines.Feed(1, "MM");
    log.Load(log.text);
    lines.Feed(1, "N\n");
    EXPECT_EQ(log.text, big + "MMN\r\n");
    // A load: what waited follows the file, and is ended there before another client's line.
    log.text.clear();
    lines.Feed(1, big);
    log.holding = true;
    lines.Feed(1, "MM");
    log.Load("file\r\n");
    lines.Feed(2, "x\n");
    lines.Feed(1, "rest\n");
    EXPECT_EQ(log.text, "file\r\nMM\r\nx\r\nrest\r\n");
    // A clear leaves nothing of the line to end; a short open line is never cut.
    lines.Feed(1, big);
    log.text.clear();
    for (auto [client, bytes] : {std::pair{1, "tail\n"}, {3, "short"}, {2, "y\n"}, {3, "\n"}})
        lines.Feed(std::uintptr_t(client), bytes);
    EXPECT_EQ(log.text, "tail\r\ny\r\nshort\r\n");
    EXPECT_EQ(lines.BytesInMemory(), 0u);
}
