// SPDX-License-Identifier: GPL-3.0-or-later
#include "listener/LineAssembler.h"

#include "platform/linefeeds.h"

#include <cstring>
#include <utility>

namespace {

char* Put(char* log, const char* bytes, std::size_t length)
{
    if (length > 0)   // an empty piece may have no bytes at all
        std::memcpy(log, bytes, length);
    return log + length;
}

char* PutLine(char* log, const char* bytes, std::size_t length)
{
    log = Put(log, bytes, length);
    *log++ = '\r';
    *log++ = '\n';
    return log;
}

// Writes the lines that end in text; *rest is set to where the rest, a line not ended yet, begins.
char* PutEndedLines(std::string_view text, char* log, std::size_t* rest)
{
    std::size_t start = 0;
    ForEachLineFeed(text.data(), text.size(), [&](std::size_t lf) {
        if (lf > start)
            log = PutLine(log, text.data() + start, lf - start);
        start = lf + 1;
    });
    *rest = start;
    return log;
}

} // namespace

char* SplitLines(std::string_view text, char* log)
{
    std::size_t rest = 0;
    log = PutEndedLines(text, log, &rest);
    return rest < text.size() ? PutLine(log, text.data() + rest, text.size() - rest) : log;
}

void LineAssembler::Feed(std::uintptr_t client, std::string_view data)
{
    const void* first = std::memchr(data.data(), '\n', data.size());
    if (first == nullptr) {
        AddOpen(client, data);
        return;
    }
    // The open line ends at the first line feed of this read; the lines after it are whole.
    const std::size_t end = std::size_t(static_cast<const char*>(first) - data.data());
    EndLine(client, data.substr(0, end));
    std::string_view rest = data.substr(end + 1);
    if (const void* last = ::memrchr(rest.data(), '\n', rest.size())) {
        const std::size_t ended = std::size_t(static_cast<const char*>(last) - rest.data()) + 1;
        MakeWay();
        char* room = m_log.BeginAppend(MostLogBytes(ended));
        std::size_t open = 0;
        m_log.EndAppend(std::size_t(PutEndedLines(rest.substr(0, ended), room, &open) - room));
        rest.remove_prefix(ended);
    }
    AddOpen(client, rest);
}

void LineAssembler::Close(std::uintptr_t client)
{
    EndLine(client, {});
}

std::uint64_t LineAssembler::BytesWaiting() const
{
    std::uint64_t bytes = 0;
    for (const auto& [client, line] : m_open)
        bytes += line.size();
    return bytes;
}

void LineAssembler::MakeWay()
{
    if (!std::exchange(m_hasLogEnd, false))
        return;
    // The line is ended where it is still the log's last text, and where some of it waited to go
    // in behind a load (it follows the loaded file now); after a clear nothing of it is left.
    if (LogEndIsOurs() || m_logEndWaiting > 0) {
        char* room = m_log.BeginAppend(2);
        Put(room, "\r\n", 2);
        m_log.EndAppend(2);
    }
    m_logEndWaiting = 0;
}

bool LineAssembler::LogEndIsOurs()
{
    const long long now = m_log.Length();
    if (now == m_logEnd + m_logEndWaiting) {   // what waited behind a save has gone in
        m_logEnd = now;
        m_logEndWaiting = 0;
        return true;
    }
    return now == m_logEnd;   // while a load or a save runs, what is added waits
}

bool LineAssembler::HoldsLogEnd(std::uintptr_t client)
{
    return m_hasLogEnd && m_logEndClient == client && LogEndIsOurs();
}

void LineAssembler::SetLogEnd(long long before, std::size_t added)
{
    if (m_log.Length() == before) {
        m_logEndWaiting += static_cast<long long>(added);
    } else {
        m_logEnd = m_log.Length();
        m_logEndWaiting = 0;
    }
}

void LineAssembler::AddOpen(std::uintptr_t client, std::string_view bytes)
{
    if (bytes.empty())
        return;
    if (HoldsLogEnd(client)) {
        char* room = m_log.BeginAppend(bytes.size());
        m_log.EndAppend(std::size_t(Put(room, bytes.data(), bytes.size()) - room));
        SetLogEnd(m_logEnd, bytes.size());
        return;
    }
    if (m_hasLogEnd && m_logEndClient == client)
        MakeWay();   // the log was cleared or replaced: the rest is a line of its own
    Open& line = m_open[client];
    if (line.size() + bytes.size() > m_limits.longLine) {
        // A long line goes on at the log's end as it arrives.
        MakeWay();
        const std::size_t added = std::size_t(line.size()) + bytes.size();
        m_hasLogEnd = true;
        m_logEndClient = client;
        m_logEnd = m_log.Length();
        m_logEndWaiting = 0;
        WriteOpen(client, bytes, false);
        SetLogEnd(m_logEnd, added);
        return;
    }
    if (m_inMemory + bytes.size() > m_limits.memory && SpillAll(line, bytes))
        return;
    // In memory while there is room, or when the disk takes nothing more.
    line.memory.append(bytes);
    m_inMemory += bytes.size();
}

void LineAssembler::EndLine(std::uintptr_t client, std::string_view last)
{
    if (HoldsLogEnd(client)) {
        m_hasLogEnd = false;
        m_logEndWaiting = 0;
        char* room = m_log.BeginAppend(last.size() + 2);
        m_log.EndAppend(std::size_t(PutLine(room, last.data(), last.size()) - room));
        return;
    }
    if (m_hasLogEnd && m_logEndClient == client)
        MakeWay();
    if (last.empty() && m_open.count(client) == 0)
        return;   // an empty line
    MakeWay();
    WriteOpen(client, last, true);
}

void LineAssembler::WriteOpen(std::uintptr_t client, std::string_view bytes, bool ends)
{
    const auto it = m_open.find(client);
    const std::uint64_t opened = it != m_open.end() ? it->second.size() : 0;
    char* const room = m_log.BeginAppend(std::size_t(opened) + bytes.size() + (ends ? 2 : 0));
    char* log = room;
    if (it != m_open.end()) {
        Open& line = it->second;
        // Bytes the disk would not give back are the only ones that can be missing.
        if (m_spill.Read(line.spilled, log))
            log += line.spilled.size;
        log = Put(log, line.memory.data(), line.memory.size());
        m_inMemory -= line.memory.size();
        m_spill.Release(line.spilled);
        m_open.erase(it);
    }
    log = ends ? PutLine(log, bytes.data(), bytes.size()) : Put(log, bytes.data(), bytes.size());
    m_log.EndAppend(std::size_t(log - room));
}

bool LineAssembler::SpillAll(Open& line, std::string_view bytes)
{
    if (!line.memory.empty()) {
        if (!m_spill.Append(line.spilled, line.memory.data(), line.memory.size()))
            return false;
        m_inMemory -= line.memory.size();
        std::string().swap(line.memory);
    }
    return m_spill.Append(line.spilled, bytes.data(), bytes.size());
}
