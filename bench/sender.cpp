// SPDX-License-Identifier: GPL-3.0-or-later
// A load generator for the benchmarks: sends numbered text lines to 127.0.0.1 only.
//
//   sender tcp PORT COUNT LENGTH [TAG]
//       Connects, writes COUNT lines of LENGTH bytes (the last one a line feed) in 1 MiB writes as
//       fast as the receiver takes them, shuts its side down, then waits for the receiver to close
//       the connection (read returns 0). Times are from just before connect(). The lines are
//       made a megabyte at a time as they go: only their numbers change.
//   sender tcp-format PORT COUNT LENGTH [TAG]
//       The same lines, as a program that logs does it: each one formatted with snprintf as it
//       goes, written 64 KiB at a time. It uses a core of its own while the receiver keeps up.
//   sender udp PORT COUNT LENGTH RATE|max [TAG]
//       Sends COUNT datagrams of one line each (LENGTH bytes with the line feed) at RATE datagrams
//       a second, in batches of a millisecond's worth paced with clock_nanosleep on absolute
//       deadlines, or with no pause at all for "max".
//   sender hold PORT COUNT SECONDS
//       Connects COUNT clients at once (its descriptor limit raised to the hard one), each sends one
//       line "H NNNNNNNNN" once its connection is made; prints connected=N once all are made (or 30 s
//       have passed), then holds them all SECONDS seconds and closes them.
//   sender expect COUNT LENGTH TAG tcp|udp
//       Writes to standard output exactly the log the program should show for such a run: every
//       line with CR LF instead of LF, and for tcp the close line after them.
//
// Line i reads "TAG NNNNNNNNN xxxx...x\n": its tag, its number from 0, filler up to LENGTH bytes.
// Hard limits: COUNT at most 100,000,000, LENGTH from 16 to 60,000, a TCP stream at most 16 GiB,
// RATE at most 10,000,000/s, COUNT of held clients at most 100,000, and a run gives up after 600 s. Results are printed as key=value lines on standard output.
// Plain C++ and POSIX; no Qt.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr long kMaxCount = 100'000'000;
constexpr long kMinLength = 16;
constexpr long kMaxLength = 60'000;
constexpr long kMaxRate = 10'000'000;
constexpr double kTimeLimit = 600.0;  // seconds, for any run
constexpr std::size_t kWriteSize = 1 << 20;
constexpr std::size_t kFormatWriteSize = 64 << 10;
constexpr std::size_t kMaxStreamBytes = std::size_t(16) << 30;
constexpr char kCloseLine[] = "Sumpwell Status>Connection closed by client\r\n";

double now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr,
                 "sender: %s\n"
                 "usage: sender tcp|tcp-format PORT COUNT LENGTH [TAG]\n"
                 "       sender udp PORT COUNT LENGTH RATE|max [TAG]\n"
                 "       sender hold PORT COUNT SECONDS\n"
                 "       sender expect COUNT LENGTH TAG tcp|udp\n",
                 why);
    std::exit(2);
}

long number(const char* text, long low, long high, const char* what)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high) {
        std::fprintf(stderr, "sender: %s must be a number from %ld to %ld, not '%s'\n", what, low, high, text);
        std::exit(2);
    }
    return v;
}

// Writes line i (LENGTH bytes, the last a line feed) to out.
void formatLine(char* out, long length, const std::string& tag, long i)
{
    const int head = std::snprintf(out, std::size_t(length), "%s %09ld ", tag.c_str(), i);
    if (head < 0 || head >= length - 1)
        usage("the tag is too long for the line length");
    std::memset(out + head, 'x', std::size_t(length - 1 - head));
    out[length - 1] = '\n';
}

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int runTcp(int port, long count, long length, const std::string& tag, bool format)
{
    if (double(count) * double(length) > double(kMaxStreamBytes))
        usage("a TCP stream of more than 16 GiB");
    // A megabyte of lines laid out once; each time it is sent again only the numbers are written.
    // Formatting, each line is made whole again, into 64 KiB.
    const long perPiece = std::max(1L, long(format ? kFormatWriteSize : kWriteSize) / length);
    std::vector<char> piece(std::size_t(perPiece) * std::size_t(length));
    for (long j = 0; j < perPiece; ++j)
        formatLine(piece.data() + std::size_t(j) * std::size_t(length), length, tag, 0);
    const std::size_t numberAt = tag.size() + 1;
    long next = 0;
    std::size_t pieceBytes = 0;
    std::size_t offset = 0;

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::perror("sender: socket");
        return 1;
    }
    const sockaddr_in to = loopback(port);
    const double start = now();
    const double deadline = start + kTimeLimit;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        std::perror("sender: connect");
        return 1;
    }
    std::size_t sent = 0;
    while (next < count || offset < pieceBytes) {
        if (offset == pieceBytes) {
            const long lines = std::min(perPiece, count - next);
            for (long j = 0; format && j < lines; ++j)
                formatLine(piece.data() + std::size_t(j) * std::size_t(length), length, tag, next + j);
            for (long j = 0; !format && j < lines; ++j) {
                char* digit = piece.data() + std::size_t(j) * std::size_t(length) + numberAt + 9;
                for (long v = next + j, k = 0; k < 9; ++k, v /= 10)
                    *--digit = char('0' + v % 10);
            }
            next += lines;
            pieceBytes = std::size_t(lines) * std::size_t(length);
            offset = 0;
        }
        const std::size_t chunk = pieceBytes - offset;
        pollfd p{fd, POLLOUT, 0};
        const int left = int((deadline - now()) * 1000);
        if (left <= 0 || ::poll(&p, 1, left) <= 0) {
            std::fprintf(stderr, "sender: gave up writing after %.0f s (%zu bytes sent)\n", kTimeLimit, sent);
            return 1;
        }
        const ssize_t n = ::send(fd, piece.data() + offset, chunk, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0) {
            std::perror("sender: send");
            return 1;
        }
        sent += std::size_t(n);
        offset += std::size_t(n);
    }
    const double written = now();
    ::shutdown(fd, SHUT_WR);
    // The receiver closes its side once it has read everything, including our end of stream.
    char sink[4096];
    bool closed = false;
    while (!closed) {
        pollfd p{fd, POLLIN, 0};
        const int left = int((deadline - now()) * 1000);
        if (left <= 0 || ::poll(&p, 1, left) <= 0)
            break;
        const ssize_t n = ::recv(fd, sink, sizeof sink, 0);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            closed = true;
    }
    const double end = now();
    ::close(fd);
    std::printf("mode=tcp\nlines=%ld\nbytes=%zu\nwrite_s=%.6f\n", count, sent, written - start);
    if (!closed) {
        std::printf("closed=no\n");
        std::fprintf(stderr, "sender: the receiver did not close within %.0f s\n", kTimeLimit);
        return 1;
    }
    std::printf("closed=yes\nclose_s=%.6f\nlines_per_s=%.0f\n", end - start, double(count) / (end - start));
    return 0;
}

int runUdp(int port, long count, long length, long rate, const std::string& tag)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        std::perror("sender: socket");
        return 1;
    }
    const sockaddr_in to = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        std::perror("sender: connect");
        return 1;
    }
    // Batches of a millisecond's worth at the rate (64 at full speed), each sent with one
    // sendmmsg: few enough wake-ups and system calls that the sender keeps its rate on a busy
    // machine, small enough to stay close to the rate at any instant.
    const long batch = std::clamp(rate > 0 ? rate / 1000 : 64L, 1L, 1024L);
    std::vector<char> lines(std::size_t(batch) * std::size_t(length));
    std::vector<iovec> iov(static_cast<std::size_t>(batch));
    std::vector<mmsghdr> msgs(static_cast<std::size_t>(batch));
    long sent = 0;
    long failed = 0;
    const double start = now();
    const double deadline = start + kTimeLimit;
    timespec base{};
    clock_gettime(CLOCK_MONOTONIC, &base);
    for (long first = 0; first < count; first += batch) {
        const long n = std::min(batch, count - first);
        if (rate > 0) {
            // The batch starting with datagram `first` is due first / rate seconds after the start.
            const long long ns = (long long)(double(first) / double(rate) * 1e9) + base.tv_nsec;
            timespec t = base;
            t.tv_sec += time_t(ns / 1000000000LL);
            t.tv_nsec = long(ns % 1000000000LL);
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
            }
        }
        if (now() > deadline) {
            std::fprintf(stderr, "sender: gave up after %.0f s\n", kTimeLimit);
            break;
        }
        for (long k = 0; k < n; ++k) {
            char* line = lines.data() + std::size_t(k) * std::size_t(length);
            formatLine(line, length, tag, first + k);
            iov[std::size_t(k)] = iovec{line, std::size_t(length)};
            msgs[std::size_t(k)] = mmsghdr{};
            msgs[std::size_t(k)].msg_hdr.msg_iov = &iov[std::size_t(k)];
            msgs[std::size_t(k)].msg_hdr.msg_iovlen = 1;
        }
        long done = 0;
        while (done < n) {
            const int r = ::sendmmsg(fd, msgs.data() + done, unsigned(n - done), 0);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0) {
                ++failed;  // this datagram could not be sent (ENOBUFS and the like); go on with the next
                ++done;
                continue;
            }
            for (int k = 0; k < r; ++k)
                (msgs[std::size_t(done + k)].msg_len == unsigned(length) ? sent : failed) += 1;
            done += r;
        }
    }
    const double end = now();
    ::close(fd);
    std::printf("mode=udp\ndatagrams=%ld\nsent=%ld\nsend_failed=%ld\nsend_s=%.6f\nrate_per_s=%.0f\n", count, sent,
                failed, end - start, double(sent) / (end - start));
    return sent + failed == count ? 0 : 1;
}

int runHold(int port, long count, long seconds)
{
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    const sockaddr_in to = loopback(port);
    std::vector<pollfd> waiting;
    std::vector<long> numbers;
    std::vector<int> made;
    for (long i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            std::perror("sender: socket");
            return 1;
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
            std::perror("sender: connect");
            return 1;
        }
        waiting.push_back({fd, POLLOUT, 0});
        numbers.push_back(i);
    }
    // Each connection made sends its line; the rest are waited for, 30 s at most.
    const double deadline = now() + 30;
    while (!waiting.empty() && now() < deadline) {
        if (::poll(waiting.data(), waiting.size(), 100) < 0 && errno != EINTR)
            break;
        for (std::size_t k = 0; k < waiting.size();) {
            if (waiting[k].revents == 0) {
                ++k;
                continue;
            }
            int error = 0;
            socklen_t len = sizeof error;
            ::getsockopt(waiting[k].fd, SOL_SOCKET, SO_ERROR, &error, &len);
            char line[32];
            const int n = std::snprintf(line, sizeof line, "H %09ld\n", numbers[k]);
            if (error == 0 && ::send(waiting[k].fd, line, std::size_t(n), MSG_NOSIGNAL) == n)
                made.push_back(waiting[k].fd);
            else
                ::close(waiting[k].fd);
            waiting[k] = waiting.back();
            numbers[k] = numbers.back();
            waiting.pop_back();
            numbers.pop_back();
        }
    }
    std::printf("connected=%zu\n", made.size());
    std::fflush(stdout);
    // Held until the time is up (or the sender is ended).
    for (const double until = now() + double(seconds); now() < until;)
        ::poll(nullptr, 0, int((until - now()) * 1000) + 1);
    for (const int fd : made)
        ::close(fd);
    for (const pollfd& p : waiting)
        ::close(p.fd);
    return made.size() == std::size_t(count) ? 0 : 1;
}

int runExpect(long count, long length, const std::string& tag, bool tcp)
{
    std::vector<char> line(std::size_t(length) + 2);
    std::vector<char> out;
    out.reserve(std::size_t(1) << 20);
    for (long i = 0; i < count; ++i) {
        formatLine(line.data(), length, tag, i);
        out.insert(out.end(), line.data(), line.data() + length - 1);
        out.push_back('\r');
        out.push_back('\n');
        if (out.size() >= (std::size_t(1) << 20)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    if (tcp)
        out.insert(out.end(), kCloseLine, kCloseLine + std::strlen(kCloseLine));
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        usage("no mode given");
    const std::string mode = argv[1];
    if (mode == "tcp" || mode == "tcp-format") {
        if (argc < 5 || argc > 6)
            usage("tcp takes PORT COUNT LENGTH [TAG]");
        return runTcp(int(number(argv[2], 1, 65535, "PORT")), number(argv[3], 1, kMaxCount, "COUNT"),
                      number(argv[4], kMinLength, kMaxLength, "LENGTH"), argc > 5 ? argv[5] : "T",
                      mode == "tcp-format");
    }
    if (mode == "udp") {
        if (argc < 6 || argc > 7)
            usage("udp takes PORT COUNT LENGTH RATE|max [TAG]");
        const long rate = std::strcmp(argv[5], "max") == 0 ? 0 : number(argv[5], 1, kMaxRate, "RATE");
        return runUdp(int(number(argv[2], 1, 65535, "PORT")), number(argv[3], 1, kMaxCount, "COUNT"),
                      number(argv[4], kMinLength, kMaxLength, "LENGTH"), rate, argc > 6 ? argv[6] : "U");
    }
    if (mode == "hold") {
        if (argc != 5)
            usage("hold takes PORT COUNT SECONDS");
        return runHold(int(number(argv[2], 1, 65535, "PORT")), number(argv[3], 1, 100000, "COUNT"),
                       number(argv[4], 1, 600, "SECONDS"));
    }
    if (mode == "expect") {
        if (argc != 6 || (std::strcmp(argv[5], "tcp") != 0 && std::strcmp(argv[5], "udp") != 0))
            usage("expect takes COUNT LENGTH TAG tcp|udp");
        return runExpect(number(argv[2], 1, kMaxCount, "COUNT"), number(argv[3], kMinLength, kMaxLength, "LENGTH"),
                         argv[4], std::strcmp(argv[5], "tcp") == 0);
    }
    usage("unknown mode");
}
