// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Cutting received bytes into the log's lines. A line ends at a line feed; empty lines are dropped;
// every other byte, carriage returns and zero bytes included, is part of its line. Each line goes
// to the log followed by CR LF.
#include <string>
#include <string_view>

// Writes at log the lines of one self-contained piece of text (a datagram): the text after the
// last line feed is a line too. Writes at most MostLogBytes(text.size()) bytes; returns their end.
char* SplitLines(std::string_view text, char* log);
inline std::size_t MostLogBytes(std::size_t textBytes) { return 2 * textBytes + 2; }

// Lines of a byte stream that arrives in reads of any size: a line is complete only when its line
// feed has come, so no line is cut where one read ends and the next begins.
class LineAssembler {
public:
    // Adds one read's bytes; the lines they complete are written at log, at most
    // MostLogBytes(data.size()) bytes and the open line's; returns their end.
    char* Feed(std::string_view data, char* log);
    std::size_t MostLogBytes(std::size_t readBytes) const { return ::MostLogBytes(m_pending.size() + readBytes); }
    // The line begun but not ended (empty when none); clears it.
    std::string TakePending();
    bool HasPending() const { return !m_pending.empty(); }

private:
    std::string m_pending;   // the open line
};
