#pragma once
// Cutting received bytes into lines. A line ends at a line feed; empty lines are dropped; every
// other byte, carriage returns and zero bytes included, is part of its line.
#include <string>
#include <string_view>
#include <vector>

// Lines of one self-contained piece of text (a datagram): the text after the last line feed is
// a line too. The views point into text.
void SplitLines(std::string_view text, std::vector<std::string_view>& lines);

// Lines of a byte stream that arrives in reads of any size: a line is complete only when its line
// feed has come, so no line is cut where one read ends and the next begins.
class LineAssembler {
public:
    // Adds one read's bytes; completed non-empty lines are appended to lines. The views stay valid
    // until the next call.
    void Feed(std::string_view data, std::vector<std::string_view>& lines);
    // The line begun but not ended (empty when none); clears it.
    std::string TakePending();
    bool HasPending() const { return !m_pending.empty(); }

private:
    std::string m_pending;   // the open line
    std::string m_joined;    // the open line with the rest of it, for the read that ends it
};
