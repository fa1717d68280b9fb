// From received bytes to log bytes, as the view cuts them: SplitLines over each datagram, and one
// LineAssembler over a stream read in pieces of any size, its open line flushed at the close.
//
// The input gives the bytes and where the reads (or datagrams) end. Whatever the cuts, the log
// must be exactly the non-empty lines, each followed by CR LF: of each datagram on its own for
// UDP, and of the whole stream for TCP.
#include "listener/LineAssembler.h"

#include "expected_log.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Append(std::string& log, const std::vector<std::string_view>& lines)
{
    for (const std::string_view line : lines) {
        // A line never holds its line feed, and is never empty.
        if (line.empty() || line.find('\n') != std::string_view::npos) {
            std::fprintf(stderr, "bad line of %zu bytes\n", line.size());
            std::abort();
        }
        log.append(line);
        log.append("\r\n");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    // Cut sizes first (small numbers of bytes), the text after: the text is what is left.
    std::vector<std::size_t> cuts;
    const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(0, 64);
    for (std::size_t i = 0; i < count; ++i)
        cuts.push_back(in.ConsumeIntegralInRange<std::size_t>(0, 300));
    const std::string text = in.ConsumeRemainingBytesAsString();

    // The pieces: the cut sizes in turn, the last one taking the rest.
    std::vector<std::string_view> pieces;
    std::size_t at = 0;
    for (const std::size_t n : cuts) {
        const std::size_t take = std::min(n, text.size() - at);
        pieces.emplace_back(text.data() + at, take);
        at += take;
    }
    pieces.emplace_back(text.data() + at, text.size() - at);

    // UDP: each piece is a datagram, cut on its own.
    std::string udpLog;
    std::string udpExpected;
    std::vector<std::string_view> lines;
    for (const std::string_view datagram : pieces) {
        lines.clear();
        SplitLines(datagram, lines);
        Append(udpLog, lines);
        udpExpected += Expected(datagram);
    }
    CheckLog("datagrams", udpExpected, udpLog);

    // TCP: the pieces are reads of one stream. Each read's bytes are gone (overwritten, as the
    // view's receive buffer is) before the next read, so a line may not point into them later.
    LineAssembler assembler;
    std::string tcpLog;
    std::string buffer;
    for (const std::string_view read : pieces) {
        buffer.assign(read);
        lines.clear();
        assembler.Feed(buffer, lines);
        Append(tcpLog, lines);
        buffer.assign(buffer.size(), '\n');
    }
    const bool pending = assembler.HasPending();
    const std::string rest = assembler.TakePending();
    if (pending != !rest.empty() || assembler.HasPending() || rest.find('\n') != std::string::npos)
        std::abort();
    if (!rest.empty()) {
        tcpLog += rest;
        tcpLog += "\r\n";
    }
    const std::string tcpExpected = Expected(text);
    CheckLog("stream", tcpExpected, tcpLog);
    return 0;
}
