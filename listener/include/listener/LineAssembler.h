#pragma once
// Cutting received bytes into the log's lines. A line ends at a line feed; empty lines are dropped;
// every other byte, carriage returns and zero bytes included, is part of its line. Each line goes
// to the log followed by CR LF.
#include <string>
#include <string_view>

// Appends to log the lines of one self-contained piece of text (a datagram): the text after the
// last line feed is a line too.
void SplitLines(std::string_view text, std::string& log);

// Lines of a byte stream that arrives in reads of any size: a line is complete only when its line
// feed has come, so no line is cut where one read ends and the next begins.
class LineAssembler {
public:
    // Adds one read's bytes; the lines they complete are appended to log.
    void Feed(std::string_view data, std::string& log);
    // The line begun but not ended (empty when none); clears it.
    std::string TakePending();
    bool HasPending() const { return !m_pending.empty(); }

private:
    std::string m_pending;   // the open line
};
