#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Where the window's thread and the X server were during each long ping of a flood.

    bench/stall_trace.py RUN [MIN_MS]

RUN names the files `bench/run.sh flood` keeps with TRACE_DIR and PERF=1 or PERF=cpu: RUN.trace
(the stall probe's round trips), RUN.pauses (bench/host_pause's), RUN.perf (the scheduler's
switches and wake-ups, and the mapping calls, on CLOCK_MONOTONIC; with PERF=cpu also stacks) and
RUN.threads (the program's threads; its first is the window's thread). Without RUN.perf, only
the host's share of each ping.
For each round trip longer than MIN_MS (default 16.7), prints how much of it the host held the
processors, how long the window's thread and Xvfb were running (as the guest saw it: the host's
pauses count as running), runnable but not run, and asleep, the longest stretch of each, what ran
on each processor while the window's thread waited to run, where the window's thread was busy
(PERF=cpu), and the mapping calls it made meanwhile. Ends with a count of the round trips by
what held them most.
Standard library and perf only.
"""
import collections
import os
import re
import subprocess
import sys

SWITCH = re.compile(r"prev_comm=(.*?) prev_pid=(\d+) .*?prev_state=(\S+) ==> next_comm=(.*?) next_pid=(\d+)")
WAKE = re.compile(r"comm=(.*?) pid=(\d+) ")
LINE = re.compile(r"\s*(\d+)\s+\[(\d+)\]\s+([\d.]+):\s+(\S+):\s*(.*)")


def read_events(perf_file):
    out = subprocess.run(["perf", "script", "-i", perf_file, "-F", "tid,cpu,time,event,trace"],
                         capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        m = LINE.match(line)
        if m:
            yield int(m[1]), int(m[2]), float(m[3]) * 1e3, m[4].split(":")[-1], m[5]


def read_samples(perf_file, tid):
    """The window's thread's cpu-clock samples, if the run kept them: (time, where), where is the
    innermost frame and the innermost frame of the program's own code below it."""
    out = subprocess.run(["perf", "script", "-i", perf_file, "--tid", str(tid), "-F", "time,event,ip,sym"],
                         capture_output=True, text=True).stdout
    t, frames = None, []
    for line in out.splitlines() + [""]:
        if not line.strip():
            if t is not None and frames:
                own = next((f for f in frames if f[:1].isupper() and "::" in f and not f.startswith("Q")), "")
                yield t, " < ".join(dict.fromkeys([frames[0], own]))
            t, frames = None, []
        elif t is None and line.rstrip().endswith(":") and "cpu-clock" in line:
            t = float(line.split()[0].rstrip(":")) * 1e3
        elif t is not None:
            parts = line.split(None, 1)
            if len(parts) == 2 and "[unknown]" not in parts[1]:
                frames.append(parts[1].replace(" (inlined)", "").strip())


class Timeline:
    """One thread's states over time: running (on a CPU), runnable (woken or preempted), asleep."""

    def __init__(self):
        self.spans = []  # (start ms, end ms, state, cpu)
        self.state, self.since, self.cpu = "asleep", None, None

    def to(self, t, state, cpu=None):
        if self.since is not None and t > self.since:
            self.spans.append((self.since, t, self.state, self.cpu))
        self.state, self.since, self.cpu = state, t, cpu

    def within(self, a, b):
        for s, e, st, cpu in self.spans:
            if e > a and s < b:
                yield max(s, a), min(e, b), st, cpu


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    run = sys.argv[1]
    min_ms = float(sys.argv[2]) if len(sys.argv) > 2 else 1000 / 60
    with open(run + ".trace") as f:
        start = float(f.readline().split()[2])
        pings = [(start + float(a), float(b)) for a, b in (l.split() for l in f) if float(b) > min_ms]
    pauses = []  # (cpu, start ms, end ms)
    try:
        with open(run + ".pauses") as f:
            for line in f:
                cpu, at, length = line.split()
                pauses.append((int(cpu), float(at), float(at) + float(length)))
    except FileNotFoundError:
        pass
    with open(run + ".threads") as f:
        threads = [l.split(None, 1) for l in f.read().splitlines()[1:]]
    window_local = int(threads[0][0])
    program = {int(t): c for t, c in threads}

    lines = collections.defaultdict(Timeline)  # by global pid
    names = {}
    local_of = {}
    on_cpu = collections.defaultdict(list)  # cpu -> [(start, end, global pid)]
    current = {}
    calls = []  # (time, local tid, call)
    traced = os.path.exists(run + ".perf")
    for tid, cpu, t, event, trace in read_events(run + ".perf") if traced else ():
        if event == "sched_switch":
            m = SWITCH.search(trace)
            if not m:
                continue
            prev, nxt = int(m[2]), int(m[5])
            names[prev], names[nxt] = m[1], m[4]
            local_of.setdefault(prev, tid)
            if prev:
                lines[prev].to(t, "runnable" if m[3].startswith("R") else "asleep(" + m[3] + ")")
            if nxt:
                lines[nxt].to(t, "running", cpu)
            if cpu in current:
                on_cpu[cpu].append((current[cpu][0], t, current[cpu][1]))
            current[cpu] = (t, nxt)
        elif event == "sched_wakeup":
            m = WAKE.search(trace)
            if m and lines[int(m[2])].state != "running":
                names[int(m[2])] = m[1]
                lines[int(m[2])].to(t, "runnable")
        elif event.startswith("sys_"):
            calls.append((t, tid, event[len("sys_"):] + " " + trace))

    samples = list(read_samples(run + ".perf", window_local)) if traced else []
    window = next((g for g, l in local_of.items() if l == window_local), None)
    xvfb = next((g for g, n in names.items() if n == "Xvfb"), None)
    if traced and window is None:
        sys.exit("the window's thread is not in the perf trace")

    def label(g):
        local = local_of.get(g)
        if local in program:
            return f"{program[local].strip()}:{local}"
        return f"{names.get(g, '?')}:{local if local is not None else 'g' + str(g)}"

    union = []  # the pauses of any processor, merged
    for _, s, e in sorted(pauses, key=lambda p: p[1]):
        if union and s <= union[-1][1]:
            union[-1][1] = max(union[-1][1], e)
        else:
            union.append([s, e])

    def outside_pauses(a, b):
        """How much of [a, b) no processor was held."""
        return (b - a) - sum(max(0.0, min(b, e) - max(a, s)) for s, e in union)

    def held(a, b):
        """The most of [a, b) that the host held any one processor."""
        per_cpu = collections.Counter()
        for cpu, s, e in pauses:
            per_cpu[cpu] += max(0.0, min(b, e) - max(a, s))
        return max(per_cpu.values(), default=0.0)

    print(f"{run}: {len(pings)} round trips over {min_ms:.1f} ms")
    causes = collections.Counter()
    for sent, ms in pings:
        a, b = sent, sent + ms
        host = held(a, b)
        print(f"\nping at {sent - start:.1f} ms, {ms:.1f} ms; the host held the processors {host:.1f} ms of it,"
              f" {ms - host:.1f} ms were the guest's")
        if window is None:  # no scheduler trace: the host's share alone
            causes["host pause" if host >= ms - host else "in the guest"] += 1
        for who, g in (("window", window), ("Xvfb", xvfb)):
            if g is None:
                continue
            total = collections.Counter()
            guest = collections.Counter()  # the same, outside the host's pauses
            longest = {}
            for s, e, st, _ in lines[g].within(a, b):
                total[st] += e - s
                guest[st] += outside_pauses(s, e)
                if e - s > longest.get(st, (0,))[0]:
                    longest[st] = (e - s, s - start)
            if who == "window":
                # What held the answer most: the host, the window's thread busy, or waiting to run.
                shares = {"host pause": host, "window busy": guest["running"],
                          "window runnable, not run": guest["runnable"],
                          "window asleep": sum(v for k, v in guest.items() if k.startswith("asleep"))}
                causes[max(shares, key=shares.get)] += 1
            print(f"  {who:7s} " + ", ".join(f"{st} {total[st]:.1f} ms (longest {longest[st][0]:.1f} at {longest[st][1]:.1f})"
                                           for st in sorted(total, key=total.get, reverse=True)))
        # While the window's thread or Xvfb waited to run: who had the processors.
        for who, g in (("window", window), ("Xvfb", xvfb)):
            for s, e, st, _ in (lines[g].within(a, b) if g is not None else ()):
                if st != "runnable" or e - s < 2:
                    continue
                busy = collections.Counter()
                for cpu, spans in on_cpu.items():
                    for cs, ce, r in spans:
                        if ce > s and cs < e:
                            busy[(cpu, label(r) if r else "idle")] += min(ce, e) - max(cs, s)
                print(f"    {who} runnable {e - s:.1f} ms from {s - start:.1f} (host {held(s, e):.1f}): "
                      + ", ".join(f"cpu{c} {n} {v:.1f}" for (c, n), v in sorted(busy.items(), key=lambda kv: -kv[1])[:6]))
        stacks = collections.Counter(sig for t, sig in samples if a <= t <= b)
        for sig, n in stacks.most_common(4):
            print(f"    {n:3d} ms busy in {sig}")
        mine = [c for c in calls if a <= c[0] <= b and c[1] in program]
        for t, tid, c in mine[:8]:
            print(f"    {t - start:.1f} {program[tid].strip()}:{tid} {c[:90]}")
    print("\nheld most by: " + ", ".join(f"{k} {v}" for k, v in causes.most_common()))


if __name__ == "__main__":
    main()
