// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Cutting received bytes into the log's lines. A line ends at a line feed; empty lines are dropped;
// every other byte, carriage returns and zero bytes included, is part of its line. Each line goes
// to the log followed by CR LF.
#include "platform/spillfile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

// Writes at log the lines of one self-contained piece of text (a datagram): the text after the
// last line feed is a line too. Writes at most MostLogBytes(text.size()) bytes; returns their end.
char* SplitLines(std::string_view text, char* log);
inline std::size_t MostLogBytes(std::size_t textBytes) { return 2 * textBytes + 2; }

// The lines of the clients' byte streams, which arrive in reads of any size: a line is complete
// only when its line feed has come, so no line is cut where one read ends and the next begins.
//
// A line begun and not ended yet (an open line) waits in memory while it is short and all the
// open lines together are few; beyond that it waits on disk. A line that grows past LongLine
// bytes goes on into the log as it arrives, at the log's end, where it is ended by its line feed;
// should anything else have to go into the log first, it is ended there (so only a line longer
// than LongLine is ever cut in two, and no byte of it is lost).
class LineAssembler {
public:
    // Where the lines go: the end of the log.
    class Log {
    public:
        // Room for up to most bytes at the log's end, and adding the first length bytes of it.
        virtual char* BeginAppend(std::size_t most) = 0;
        virtual void EndAppend(std::size_t length) = 0;
        // The log's length: a line left at the log's end is only carried on there while nothing
        // else has changed the log (a clear or a load) since.
        virtual long long Length() const = 0;

    protected:
        ~Log() = default;
    };

    struct Limits {
        std::size_t memory = std::size_t(16) << 20;   // all open lines together
        std::size_t longLine = std::size_t(1) << 20;
    };

    explicit LineAssembler(Log& log) : LineAssembler(log, Limits{}) {}
    LineAssembler(Log& log, Limits limits) : m_log(log), m_limits(limits) {}

    // One read of client's stream: the lines it ends go into the log, the rest waits.
    void Feed(std::uintptr_t client, std::string_view data);
    // The client's stream has ended: a line still open is a whole line.
    void Close(std::uintptr_t client);
    // Something else goes into the log now: a line left open at its end is ended first.
    void MakeWay();

    // The bytes of open lines held in memory, and those held anywhere but the log.
    std::size_t BytesInMemory() const { return m_inMemory; }
    std::uint64_t BytesWaiting() const;

private:
    // An open line: the part on disk first, then the part in memory.
    struct Open {
        SpillFile::Run spilled;
        std::string memory;
        std::uint64_t size() const { return spilled.size + memory.size(); }
    };

    void AddOpen(std::uintptr_t client, std::string_view bytes);
    void EndLine(std::uintptr_t client, std::string_view last);
    // Writes client's open line, then bytes, then the line end when ends; forgets the open line.
    void WriteOpen(std::uintptr_t client, std::string_view bytes, bool ends);
    bool SpillAll(Open& line, std::string_view bytes);
    bool HoldsLogEnd(std::uintptr_t client);
    // Whether the log still ends with that line (folding in what waited behind a save).
    bool LogEndIsOurs();
    // After bytes were added at the log's end: where it ends now, or that they wait.
    void SetLogEnd(long long before, std::size_t added);

    Log& m_log;
    const Limits m_limits;
    SpillFile m_spill;
    std::unordered_map<std::uintptr_t, Open> m_open;
    std::size_t m_inMemory = 0;
    // The client whose line is being written at the log's end, and where the log ended after it.
    bool m_hasLogEnd = false;
    std::uintptr_t m_logEndClient = 0;
    long long m_logEnd = 0;
    long long m_logEndWaiting = 0;   // bytes of that line waiting to go in behind a load or save
};
