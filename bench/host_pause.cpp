// SPDX-License-Identifier: GPL-3.0-or-later
// When this machine's processors stop for all of its programs at once: the pauses a host makes
// that the guest's own accounting (steal in /proc/stat) may not show.
//
//   host_pause MAX_SECONDS [TRACE_FILE]
//
// One thread per processor, pinned to it, at real-time priority (SCHED_FIFO), wakes every
// millisecond. Nothing in the guest runs before such a thread once it is due, so a wake-up later
// than 2 ms means the processor itself did not run: the host took it (or, far rarer, it ran with
// interrupts off that long). Runs until SIGINT or SIGTERM, or MAX_SECONDS (at most 3600), then
// prints key=value lines: pauses over 2 ms, the longest, and their sum, over all processors.
// With TRACE_FILE, every pause is written there: the processor, when it began (ms on
// CLOCK_MONOTONIC) and how long it was. Without the right to real-time priority the threads run
// at normal priority and realtime=0 says so: their lateness then includes the guest's own
// scheduling, and is no measure of the host.
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

namespace {

std::atomic<bool> g_stop{false};

void onSignal(int) { g_stop = true; }

double ms(const timespec& t) { return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6; }

struct Pause {
    int cpu;
    double at;
    double length;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: host_pause MAX_SECONDS [TRACE_FILE]\n");
        return 2;
    }
    const double seconds = std::clamp(std::atof(argv[1]), 0.1, 3600.0);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    const int cpus = int(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)));
    std::mutex lock;
    std::vector<Pause> pauses;
    std::atomic<bool> realtime{true};
    std::vector<std::thread> threads;
    for (int cpu = 0; cpu < cpus; ++cpu) {
        threads.emplace_back([&, cpu] {
            cpu_set_t set;
            CPU_ZERO(&set);
            CPU_SET(cpu, &set);
            pthread_setaffinity_np(pthread_self(), sizeof set, &set);
            sched_param param{};
            param.sched_priority = 50;
            if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) != 0)
                realtime = false;
            timespec due{};
            clock_gettime(CLOCK_MONOTONIC, &due);
            const double end = ms(due) + seconds * 1e3;
            while (!g_stop) {
                due.tv_nsec += 1000000;
                if (due.tv_nsec >= 1000000000) {
                    due.tv_nsec -= 1000000000;
                    ++due.tv_sec;
                }
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
                timespec now{};
                clock_gettime(CLOCK_MONOTONIC, &now);
                if (const double late = ms(now) - ms(due); late > 2.0) {
                    const std::lock_guard guard(lock);
                    pauses.push_back({cpu, ms(due), late});
                    due = now;  // the ticks missed are not made up
                }
                if (ms(now) >= end)
                    break;
            }
        });
    }
    for (auto& t : threads)
        t.join();

    double longest = 0, total = 0;
    for (const Pause& p : pauses) {
        longest = std::max(longest, p.length);
        total += p.length;
    }
    std::printf("realtime=%d\ncpus=%d\npauses=%zu\nlongest_ms=%.1f\ntotal_ms=%.0f\n", realtime ? 1 : 0, cpus,
                pauses.size(), longest, total);
    if (argc > 2) {
        if (std::FILE* trace = std::fopen(argv[2], "w")) {
            std::sort(pauses.begin(), pauses.end(), [](const Pause& a, const Pause& b) { return a.at < b.at; });
            for (const Pause& p : pauses)
                std::fprintf(trace, "%d %.3f %.2f\n", p.cpu, p.at, p.length);
            std::fclose(trace);
        }
    }
    return 0;
}
