// SPDX-License-Identifier: GPL-3.0-or-later
// From received bytes to log bytes as the view cuts them: SplitLines over each datagram, and one
// LineAssembler over a stream read in pieces of any size, its open line flushed at the close.
// The input gives the read (or datagram) sizes, then the bytes. Whatever the cuts, the log is
// exactly the non-empty lines, each followed by CR LF: of each datagram, or of the whole stream.
#include "listener/LineAssembler.h"

#include "expected_log.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    std::vector<std::size_t> cuts(in.ConsumeIntegralInRange<std::size_t>(0, 64));
    for (std::size_t& n : cuts)
        n = in.ConsumeIntegralInRange<std::size_t>(0, 300);
    const std::string text = in.ConsumeRemainingBytesAsString();
    std::vector<std::string_view> pieces;   // the cut sizes in turn, the last one taking the rest
    std::size_t at = 0;
    for (const std::size_t n : cuts) {
        pieces.emplace_back(text.data() + at, std::min(n, text.size() - at));
        at += pieces.back().size();
    }
    pieces.emplace_back(text.data() + at, text.size() - at);

    // Each call writes into room of exactly the size it asks for, so that a byte past it shows.
    std::string udpLog, udpExpected;
    for (const std::string_view datagram : pieces) {
        std::vector<char> room(MostLogBytes(datagram.size()));
        udpLog.append(room.data(), SplitLines(datagram, room.data()));
        udpExpected += Expected(datagram);
    }
    CheckLog("datagrams", udpExpected, udpLog);

    // Each read's bytes are overwritten (as the view's receive buffer is) before the next read, so
    // a line may not point into them later.
    LineAssembler assembler;
    std::string tcpLog, buffer;
    for (const std::string_view read : pieces) {
        buffer.assign(read);
        std::vector<char> room(assembler.MostLogBytes(buffer.size()));
        tcpLog.append(room.data(), assembler.Feed(buffer, room.data()));
        buffer.assign(buffer.size(), '\n');
    }
    if (assembler.HasPending())
        tcpLog.append(assembler.TakePending()).append("\r\n");
    if (assembler.HasPending())
        Fail("the open line is still there after it was taken");
    CheckLog("stream", Expected(text), tcpLog);
    return 0;
}
