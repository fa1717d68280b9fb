#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The benchmarks of the real program, each beside a baseline measured in the same run:
#   a. TCP: 1,000,000 lines of 80 bytes to Sumpwell, from connect until it has closed the client
#      (and written the close line); baseline nc -l receiving the same stream into /dev/null.
#   b. UDP: 200,000 one-line datagrams offered at 50,000/s, 100,000/s and full speed; loss from
#      the saved log and the socket's drop counter; baseline socat receiving the same datagrams.
#   c. The window's longest stall during each load: bench/stall_probe's _NET_WM_PING round trips, with
#      the CPU time the host took from this machine meanwhile (steal, /proc/stat).
#   d. Memory after the TCP load (above the empty program's), and CPU over 5 s of idle after it.
# Also the in-process AppendToLog benchmark (bench_append_to_log) for reference.
#
# bench/run.sh large measures logs of any length instead (about 10 minutes, about 35 GB of disk):
#   e. TCP: LARGE_LINES (default 100,000,000) lines of 80 bytes, 8.1 GB, from the sender that formats
#      each line (LARGE_SENDER=tcp for prepared lines): rate from connect until the close line,
#      beside the same sender into nc -l, the longest stall, memory above the empty program's (sampled every 0.2 s),
#      the log saved with Ctrl+S and compared byte for byte with what was sent.
#   f. Open a file of OPEN_GB gigabytes (default "2 8"), given on the command line: the time until
#      the window is up, until the file is copied and indexed (indexing rate), the longest stall
#      while it runs with Ctrl+End and Ctrl+Home pressed, memory above the empty program's.
#      OPEN_SHORT=1 opens files of one-character lines instead.
#   g. Save the opened log with Ctrl+S, beside cp of the same file in the same run.
#   h. Idle CPU after all, and the cache folder empty after the program is killed with SIGKILL.
#   i. Ctrl+S pressed 1.5 s into a flood of LARGE_LINES / 2 lines (at most 40,000,000): how long the
#      save took, the longest stall and the memory meanwhile, and the whole log compared after.
#
# bench/run.sh clients measures many idle clients instead (a few minutes):
#   j. CLIENTS (default 10,000) clients connected at once, each sending one line and holding: how
#      long until the program has taken all, and its CPU ticks over 5 s while they hold.
#   k. The 1,000,000-line TCP flood of (a) with none connected and with CLIENTS idle clients held,
#      TCP_TRIALS (default 3) runs each in turn, fresh programs, medians; beside nc -l.
#
# bench/run.sh hostile measures what one hostile client can send (a few minutes, 3 GB of disk a GiB):
#   l. LINE_GIB (default 1; "1 10" for both) GiB of one line without a line feed, then "end" and
#      a close: memory above empty, the longest stall, the saved log exactly the line and "end".
#   m. SHORT_GB (default 2) GB of one-character lines: the same.
# bench/run.sh flood runs only the long flood of (e), RUNS (default 5) times, for its stalls (PIN=1:
# the sender pinned to one processor, the program and nc -l to the other); bench/run.sh save only
# the save of (i), RUNS times into SAVE_LINES (default 40,000,000) lines.
# Usage: bench/run.sh [large|flood|save|clients|hostile]    (after ./scripts/build; BUILD_DIR names another build folder)
# Needs: Xvfb, xdotool, socat, nc (OpenBSD), ip, unshare, and root or unprivileged user
# namespaces (as an ordinary user, SO_RCVBUFFORCE then fails and the program's UDP buffer stays at
# net.core.rmem_max). Runs in a world of scripts/xworld.py: namespaces of its own (only its
# loopback) and an Xvfb display of its own; it ends exactly the processes it started, the world
# the rest. Environment: TCP_LINES (default 1000000), TCP_TRIALS (default 5), UDP_COUNT (default
# 200000), KEEP=1 keeps the work folder.
set -Eeuo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

# ---- into a world of our own: private namespaces (loopback only) and an Xvfb (scripts/xworld.py) ----
if [ -z "${XWORLD_XVFB_PID:-}" ]; then
  exec python3 "$root/scripts/xworld.py" run --screen 1280x1024 -- bash "$0" "$@"
fi
xvfb_pid=$XWORLD_XVFB_PID
display=$DISPLAY

mode=${1:-}
# in_range NAME VALUE LOW HIGH: a setting within its bounds, or the run ends saying so
in_range() { [ "$2" -ge "$3" ] && [ "$2" -le "$4" ] || { echo "$1: $3 to $4" >&2; exit 2; }; }
tcp_lines=${TCP_LINES:-1000000}
tcp_trials=${TCP_TRIALS:-5}
udp_count=${UDP_COUNT:-200000}
line_bytes=80
in_range TCP_LINES "$tcp_lines" 1 5000000
in_range UDP_COUNT "$udp_count" 1 2000000

# PIN=1 (flood): the sender on the second processor, the program (and nc -l) on the first.
PIN_RECEIVER= PIN_SENDER=
if [ "${PIN:-}" = 1 ]; then PIN_RECEIVER="taskset -c 0"; PIN_SENDER="taskset -c 1"; fi

program=$build/sumpwell
sender=$build/bench/sender
probe=$build/bench/stall_probe
host_pause=$build/bench/host_pause
append_bench=$build/bench/bench_append_to_log
for f in "$program" "$sender" "$probe" "$host_pause" "$append_bench"; do
  [ -x "$f" ] || { echo "missing $f: run ./scripts/build first (libxcb1-dev for stall_probe)" >&2; exit 1; }
done
for t in Xvfb xdotool socat nc awk cmp; do
  command -v "$t" >/dev/null || { echo "missing tool: $t (./scripts/install-deps)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/sumpwell-bench.XXXXXX)
mkdir -m 700 "$work/xdg-runtime"
export XDG_RUNTIME_DIR=$work/xdg-runtime

# ---- the processes we start, and ending exactly those ----------------------------------------------
started=()
stop_pid() {  # stop_pid PID: TERM, then KILL if it has not gone within 5 s
  local pid=$1 i
  kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
  kill -TERM "$pid" 2>/dev/null || true
  for ((i = 0; i < 500; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.01
  done
  kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null || true
}
cleanup() {
  local i
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do stop_pid "${started[i]}"; done   # the display last
  if [ "${KEEP:-}" = 1 ]; then echo "work folder kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'echo "run.sh: failed at line $LINENO" >&2' ERR
trap 'exit 130' INT TERM HUP PIPE

# ---- waiting on conditions, with a deadline ------------------------------------------------------------
now_ms() { local t; t=$(date +%s%N); echo $((t / 1000000)); }
wait_for() {  # wait_for SECONDS DESCRIPTION COMMAND...: polls COMMAND every 10 ms
  local secs=$1 what=$2; shift 2
  local end=$(( $(now_ms) + secs * 1000 ))
  until "$@"; do
    if [ "$(now_ms)" -ge "$end" ]; then echo "timed out after ${secs}s waiting for $what" >&2; return 1; fi
    sleep 0.01
  done
}

# ---- the kernel's view of our sockets ----------------------------------------------------------------
hexport() { printf '%04X' "$1"; }
tcp_listening() { awk -v p=":$(hexport "$1")" 'NR > 1 && substr($2, length($2) - 4) == p && $4 == "0A" { f = 1 } END { exit !f }' /proc/net/tcp; }
udp_bound() { awk -v p=":$(hexport "$1")" 'NR > 1 && substr($2, length($2) - 4) == p { f = 1 } END { exit !f }' /proc/net/udp; }
udp_field() {  # udp_field PORT rxq|drops (decimal; empty when no such socket)
  local q d
  read -r q d < <(awk -v p=":$(hexport "$1")" 'NR > 1 && substr($2, length($2) - 4) == p {
      split($5, q, ":"); print q[2], $NF; exit }' /proc/net/udp) || return 0
  if [ "$2" = rxq ]; then echo $((16#$q)); else echo "$d"; fi
}
udp_drained() { [ "$(udp_field "$1" rxq)" = 0 ]; }

# ---- the program's process -------------------------------------------------------------------------------
status_kib() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }   # status_kib PID VmHWM
cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"; } # utime + stime
cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { print s + 0 }'; }

window_of() { python3 "$root/scripts/xworld.py" window "$@"; }   # window_of PID REGEX SECONDS
focus() { timeout 5 xdotool windowfocus --sync "$1"; }

# start_program NAME PORT PROTOCOL(0 UDP, 1 TCP): sets PROG_PID, PROG_WIN, PROG_LOG
start_program() {
  local dir=$work/$1
  mkdir -p "$dir/config/Sumpwell"
  printf '[Connect]\nPort=%s\nProtocol=%s\n' "$2" "$3" >"$dir/config/Sumpwell/Sumpwell.ini"
  # Opened as the log, so that Ctrl+S later saves to it without asking for a name.
  PROG_LOG=$dir/log.txt
  : >"$PROG_LOG"
  XDG_CONFIG_HOME=$dir/config XDG_CACHE_HOME=$work/cache $PIN_RECEIVER "$program" "${OPEN_FILE:-$PROG_LOG}" >"$dir/program.out" 2>&1 &
  PROG_PID=$!
  started+=("$PROG_PID")
  PROG_WIN=$(window_of "$PROG_PID" '^Sumpwell$' 20)
}

# connect_program PORT PROTOCOL: F2, Return (the dialog shows the preset port and protocol)
connect_program() {
  local dlg
  focus "$PROG_WIN"
  xdotool key F2
  dlg=$(window_of "$PROG_PID" '^Make Host Connection$' 10)
  focus "$dlg"
  xdotool key Return
  if [ "$2" = 1 ]; then
    wait_for 10 "the program to listen on TCP port $1" tcp_listening "$1"
  else
    wait_for 10 "the program to bind UDP port $1" udp_bound "$1"
  fi
}

inode_of() { stat -c %i "$1"; }
inode_changed() { [ "$(inode_of "$1")" != "$2" ]; }
save_log() {  # Ctrl+S; the save replaces the file (QSaveFile), so its inode changes
  local before
  before=$(inode_of "$PROG_LOG")
  focus "$PROG_WIN"
  xdotool key ctrl+s
  wait_for 60 "the log to be saved" inode_changed "$PROG_LOG" "$before"
}

# CPU time the host gave to others while this machine's processors were ready to run (steal), in ms
# over both: a stall of the window while it was taken is the host's, not the program's.
steal_ms() { awk -v hz="$(getconf CLK_TCK)" '$1 == "cpu" { printf "%d", $9 * 1000 / hz }' /proc/stat; }
probe_answered() { grep -q '^answered$' "$work/$1.probe.err" || ! kill -0 "$PROBE_PID" 2>/dev/null; }
start_probe() {  # start_probe NAME: pings PROG_WIN every 10 ms; returns once the first is answered
  "$probe" "$PROG_WIN" 600 "$work/$1.trace" >"$work/$1.probe" 2>"$work/$1.probe.err" &
  PROBE_PID=$!
  PROBE_STEAL=$(steal_ms)
  started+=("$PROBE_PID")
  wait_for 10 "the stall probe's first answer" probe_answered "$1"
  kill -0 "$PROBE_PID" 2>/dev/null || { cat "$work/$1.probe.err" >&2; echo "stall probe failed" >&2; exit 1; }
}
stop_probe() {  # stop_probe NAME: sets STALL to "longest ms (p99 ms, pings over a frame / pings; host steal ms)"
  stop_pid "$PROBE_PID"
  if ! grep -q '^max_ms=' "$work/$1.probe"; then cat "$work/$1.probe.err" >&2; echo "stall probe failed" >&2; exit 1; fi
  STALL="$(probe_field "$1" max_ms) ms (p99 $(probe_field "$1" p99_ms), >16.7 ms: $(probe_field "$1" over_frame)/$(probe_field "$1" pings); steal $(( $(steal_ms) - PROBE_STEAL )) ms)"
}
probe_field() { awk -F= -v k="$2" '$1 == k { print $2 }' "$work/$1.probe"; }
kv() { awk -F= -v k="$2" '$1 == k { print $2 }' "$1"; }   # kv FILE KEY

port=47100
next_port() { port=$((port + 1)); }

echo "Sumpwell benchmarks: $(nproc) cores ($(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)), $(uname -r), display $display" >&2

pct() { awk -v m="$1" -v n="$2" 'BEGIN { printf "%.2f%%", (n > 0 ? 100 * m / n : 0) }'; }
mb() { awk -v k="$1" 'BEGIN { printf "%.1f MB", k * 1024 / 1e6 }'; }
ms() { awk -v s="$1" 'BEGIN { printf "%.0f ms", s * 1000 }'; }
row() { printf '%-42s | %-34s | %-34s | %s\n' "$@"; }

if [ "$mode" = clients ]; then
  clients=${CLIENTS:-10000}
  trials=${TCP_TRIALS:-3}
  in_range CLIENTS "$clients" 1 30000
  port=21000   # below the ephemeral range, where thousands of clients take their own ports
  # The program's descriptors: room for every client beside the reserve.
  ulimit -n "$(( clients + 1000 ))" 2>/dev/null || { echo "cannot set the descriptor limit to $(( clients + 1000 ))" >&2; exit 1; }
  accepted_by() {  # accepted_by PID PORT: connections of the program on PORT with nothing left unread
    local inodes
    inodes=$(find /proc/"$1"/fd -lname 'socket:*' -printf '%l\n' 2>/dev/null | tr -dc '0-9\n')
    awk -v p=":$(hexport "$2")" 'NR == FNR { mine[$1] = 1; next }
        FNR > 1 && substr($2, length($2) - 4) == p && $4 != "0A" && ($10 in mine) { split($5, q, ":"); if (q[2] == "00000000") n++ }
        END { print n + 0 }' <(echo "$inodes") /proc/net/tcp
  }
  all_taken() { [ "$(accepted_by "$PROG_PID" "$port")" -ge "$clients" ]; }
  holder_ready() { grep -q '^connected=' "$work/hold.out"; }
  # hold_clients: CLIENTS idle clients on the program's port; sets HOLD_PID and TAKE_S
  hold_clients() {
    local t0
    t0=$(now_ms)
    "$sender" hold "$port" "$clients" 300 >"$work/hold.out" 2>&1 &
    HOLD_PID=$!
    started+=("$HOLD_PID")
    wait_for 60 "the clients to connect" holder_ready
    [ "$(kv "$work/hold.out" connected)" = "$clients" ] || { cat "$work/hold.out" >&2; echo "not every client connected" >&2; exit 1; }
    wait_for 120 "the program to take every client" all_taken
    TAKE_S=$(awk -v a="$t0" -v b="$(now_ms)" 'BEGIN { printf "%.2f", (b - a) / 1000 }')
  }
  # flood NAME: the 1M-line stream to the program; its close_s appended to $work/NAME.trials
  flood() {
    "$sender" tcp "$port" "$tcp_lines" "$line_bytes" T >"$work/flood.sender" 2>&1 || { cat "$work/flood.sender" >&2; exit 1; }
    kv "$work/flood.sender" close_s >>"$work/$1.trials"
    echo "   $1: $(kv "$work/flood.sender" lines_per_s) lines/s" >&2
  }
  median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
  rate() { awk -v s="$1" -v n="$tcp_lines" 'BEGIN { printf "%.0f lines/s (%.2f s)", n / s, s }'; }

  echo "== $clients idle clients: taking them, idle CPU" >&2
  next_port
  start_program idle-clients "$port" 1
  connect_program "$port" 1
  hold_clients
  idle_take_s=$TAKE_S
  ticks0=$(cpu_ticks "$PROG_PID"); ns0=$(cpu_ns "$PROG_PID")
  sleep 5   # the measurement window itself
  ticks1=$(cpu_ticks "$PROG_PID"); ns1=$(cpu_ns "$PROG_PID")
  idle_ticks=$((ticks1 - ticks0))
  idle_ms=$(awk -v a="$ns0" -v b="$ns1" 'BEGIN { printf "%.1f", (b - a) / 1e6 }')
  echo "   all taken after $idle_take_s s; idle $idle_ticks ticks ($idle_ms ms)" >&2
  stop_pid "$HOLD_PID"
  stop_pid "$PROG_PID"

  for trial in $(seq "$trials"); do
    echo "== flood $trial of $trials: none connected, $clients idle clients, nc -l" >&2
    next_port
    start_program flood-alone "$port" 1
    connect_program "$port" 1
    flood alone
    stop_pid "$PROG_PID"
    next_port
    start_program flood-held "$port" 1
    connect_program "$port" 1
    hold_clients
    flood held
    stop_pid "$HOLD_PID"
    stop_pid "$PROG_PID"
    next_port
    nc -l 127.0.0.1 "$port" </dev/null >/dev/null &
    nc_pid=$!
    started+=("$nc_pid")
    wait_for 10 "nc to listen" tcp_listening "$port"
    flood nc
    stop_pid "$nc_pid"
  done
  alone_s=$(median <"$work/alone.trials"); held_s=$(median <"$work/held.trials"); nc_s=$(median <"$work/nc.trials")

  echo
  echo "Sumpwell with many clients: $(nproc) cores, Linux $(uname -r), Qt xcb on Xvfb; $clients clients, $tcp_lines lines of $line_bytes bytes"
  echo
  row "Measure" "Sumpwell" "Baseline" "Note"
  row "------------------------------------------" "----------------------------------" "----------------------------------" "----"
  row "$clients clients at once: all taken after" "$idle_take_s s" "-" "connect until every line read"
  row "Idle CPU over 5 s, $clients clients held" "$idle_ticks ticks ($idle_ms ms)" "-" "utime+stime; schedstat"
  row "TCP flood, none connected (median of $trials)" "$(rate "$alone_s")" "nc -l: $(rate "$nc_s")" ""
  row "TCP flood, $clients idle clients held" "$(rate "$held_s")" "-" "$(awk -v a="$alone_s" -v b="$held_s" 'BEGIN { printf "%.0f%% of the rate with none", 100 * a / b }')"
  exit 0
fi

sampler() {  # sampler PID FILE: the largest VmRSS, in KiB, every 0.2 s until PID ends
  local max=0 v
  while v=$(status_kib "$1" VmRSS 2>/dev/null) && [ -n "$v" ]; do
    [ "$v" -gt "$max" ] && max=$v && echo "$max" >"$2"
    sleep 0.2
  done
}
start_sampler() { sampler "$PROG_PID" "$work/$1.rss" & SAMPLER_PID=$!; started+=("$SAMPLER_PID"); }
secs_since() { awk -v a="$1" -v b="$(now_ms)" 'BEGIN { printf "%.2f", (b - a) / 1000 }'; }
# start_measured NAME: the program bound over TCP on the next port, its empty memory in empty_rss,
# its memory sampled and its window probed from then on
start_measured() {
  next_port
  start_program "$1" "$port" 1
  connect_program "$port" 1
  empty_rss=$(status_kib "$PROG_PID" VmRSS)
  start_sampler "$1"
  start_probe "$1"
}

if [ "$mode" = hostile ]; then
  # What a hostile peer can send: one endless line, then lines of one character.
  line_gibs=${LINE_GIB:-1}
  short_gb=${SHORT_GB:-2}
  close_line='Sumpwell Status>Connection closed by client'
  rows=()
  # from_one_client NAME SEND EXPECT SIZE: what `SEND SIZE` writes, from one client that then closes;
  # the program's memory above empty and its longest stall; the saved log against `EXPECT SIZE`.
  from_one_client() {
    local name=$1 t0
    start_measured "$name"
    t0=$(now_ms)
    "$2" "$4" | timeout 1800 nc -N 127.0.0.1 "$port" || { echo "$name: the stream did not go" >&2; exit 1; }
    taken_s=$(secs_since "$t0")
    sleep 0.5   # the last paints
    stop_probe "$name"
    end_rss=$(status_kib "$PROG_PID" VmRSS)
    save_log
    if cmp -s <("$3" "$4") "$PROG_LOG"; then exact=yes; else exact=NO; fi
    rows+=("$name: sent and closed in|$taken_s s|-|$(awk -v s="$(stat -c %s "$PROG_LOG")" 'BEGIN { printf "%.2f GB", s / 1e9 }') log")
    rows+=("  longest stall (p99; pings > 1 frame; steal)|$STALL|-|")
    rows+=("  memory above empty: at the end / peak|$(mb $((end_rss - empty_rss))) / $(mb $(( $(cat "$work/$name.rss") - empty_rss )))|-|empty program $(mb "$empty_rss")")
    rows+=("  saved with Ctrl+S, exactly as sent|$exact|-|")
    stop_pid "$PROG_PID"
    rm -f "$PROG_LOG"
  }
  xs() { head -c "$1" /dev/zero | tr '\0' x; }
  long_line() { xs "$1"; printf '\nend\n'; }
  long_line_log() { xs "$1"; printf '\r\nend\r\n%s\r\n' "$close_line"; }
  short_lines() { { yes a || true; } | head -c "$1"; }
  short_lines_log() { { yes $'a\r' || true; } | head -c $(($1 * 3 / 2)); printf '%s\r\n' "$close_line"; }
  for gib in $line_gibs; do
    in_range LINE_GIB "$gib" 1 16
    echo "== TCP: one line of $gib GiB, then end" >&2
    from_one_client "one line of $gib GiB" long_line long_line_log $((gib << 30))
  done
  for gb in $short_gb; do
    in_range SHORT_GB "$gb" 1 16
    echo "== TCP: $gb GB of one-character lines" >&2
    from_one_client "$gb GB of 1-char lines" short_lines short_lines_log $((gb * 1000000000))
  done
  echo "Sumpwell, hostile input: $(nproc) cores, Linux $(uname -r), Qt xcb on Xvfb"
  row "Measure" "Sumpwell" "-" "Notes"
  for r in "${rows[@]}"; do IFS='|' read -r a b c d <<<"$r"; row "$a" "$b" "$c" "$d"; done
  exit 0
fi

# Baseline: nc -l into /dev/null, receiving the same stream from the same sender.
send_to_nc() {  # send_to_nc FILE [SENDER_MODE [LINES]]: the stream to a fresh nc -l, the sender's figures in FILE
  next_port
  $PIN_RECEIVER nc -l 127.0.0.1 "$port" </dev/null >/dev/null &
  nc_pid=$!
  started+=("$nc_pid")
  wait_for 10 "nc to listen" tcp_listening "$port"
  $PIN_SENDER "$sender" "${2:-tcp}" "$port" "${3:-$tcp_lines}" "$line_bytes" T >"$1" 2>&1 || { cat "$1" >&2; exit 1; }
  stop_pid "$nc_pid"
}

# One long flood from the sender that formats its lines: the program's rate beside the same sender
# into nc -l, the longest stall with the host's steal, the log saved and compared (VERIFY=0
# skips the compare), and the pauses the host made of both processors meanwhile (bench/host_pause,
# for each of the two runs: this machine's steal counts none of them). TRACE_DIR keeps each run's
# ping trace and pauses; with PERF=1 also a system-wide scheduler and mapping trace of the run, and
# with PERF=cpu that with the stacks of every thread sampled PERF_HZ (default 1000) times a second
# (perf record, CLOCK_MONOTONIC, as the ping trace; bench/stall_trace.py reads them).
long_flood() {  # long_flood NAME LINES SENDER_MODE: sets FLOOD_ROW, the run's figures
  local name=$1 lines=$2 mode=$3 perf_pid=
  sync   # what earlier runs wrote is on disk first: writing it back would hold the processors too
  next_port
  start_program "$name" "$port" 1
  connect_program "$port" 1
  start_probe "$name"
  "$host_pause" 1800 "$work/$name.pauses" >"$work/$name.host" &
  local pause_pid=$!
  started+=("$pause_pid")
  if [ -n "${PERF:-}" ]; then
    local events=(-e sched:sched_switch -e sched:sched_wakeup -e sched:sched_waking -e sched:sched_migrate_task
                  -e syscalls:sys_enter_mmap -e syscalls:sys_enter_munmap -e syscalls:sys_enter_madvise
                  -e syscalls:sys_enter_mprotect -e syscalls:sys_exit_mprotect)
    # PERF=cpu: every thread's stacks too, sampled PERF_HZ times a second (only this event has them).
    [ "$PERF" != cpu ] || events+=(-e "cpu-clock/freq=${PERF_HZ:-1000},call-graph=dwarf,stack-size=${PERF_STACK:-8192}/")
    perf record -q -a -k CLOCK_MONOTONIC -o "$TRACE_DIR/$name.perf" "${events[@]}" >/dev/null 2>"$work/$name.perf.err" &
    perf_pid=$!
  fi
  if [ -n "$perf_pid" ]; then
    started+=("$perf_pid")
    sleep 1   # perf's own start
  fi
  $PIN_SENDER "$sender" "$mode" "$port" "$lines" "$line_bytes" T >"$work/$name.sender" 2>&1 || { cat "$work/$name.sender" >&2; exit 1; }
  sleep 0.5   # the last paints
  stop_probe "$name"
  stop_pid "$pause_pid"
  if [ -n "$perf_pid" ]; then kill -INT "$perf_pid"; wait "$perf_pid" || true; fi
  if [ -n "${TRACE_DIR:-}" ]; then
    cp "$work/$name.trace" "$TRACE_DIR/$name.trace"
    cp "$work/$name.pauses" "$TRACE_DIR/$name.pauses"
    ps -L -o tid,comm -p "$PROG_PID" >"$TRACE_DIR/$name.threads"
  fi
  local exact=unchecked
  if [ "${VERIFY:-1}" = 1 ]; then
    save_log
    # Read past the page cache: gigabytes of it given back to the system later make the host
    # take memory back, which holds the processors during the next run.
    if cmp -s <("$sender" expect "$lines" "$line_bytes" T tcp) <(dd if="$PROG_LOG" bs=4M iflag=direct status=none); then
      exact=yes
    else
      exact=NO
    fi
  fi
  stop_pid "$PROG_PID"
  rm -f "$PROG_LOG"
  sync
  "$host_pause" 1800 >"$work/$name-nc.host" &
  pause_pid=$!
  started+=("$pause_pid")
  send_to_nc "$work/$name-nc.sender" "$mode" "$lines"
  stop_pid "$pause_pid"
  pauses_of() { echo "$(kv "$1" pauses) pauses, longest $(kv "$1" longest_ms) ms, $(kv "$1" total_ms) ms in all"; }
  HOST_PAUSES="$(pauses_of "$work/$name.host"); during nc -l: $(pauses_of "$work/$name-nc.host")"
  [ "$(kv "$work/$name.host" realtime)" = 1 ] || HOST_PAUSES="$HOST_PAUSES (not real-time: no measure of the host)"
  FLOOD_ROW="$(kv "$work/$name.sender" lines_per_s)|$(kv "$work/$name-nc.sender" lines_per_s)|$STALL|$exact|$HOST_PAUSES"
}

# Ctrl+S pressed 1.5 s into a flood of LINES prepared lines: how long the save took, the longest
# stall, the memory meanwhile and the whole log compared after; the host's pauses of both processors
# beside it. TRACE_DIR keeps the ping trace and the pauses.
save_flood() {  # save_flood NAME LINES: sets SAVE_LINES, SAVE_S, SAVE_RATE, STALL, SAVE_MEM, SAVE_EXACT, HOST_PAUSES
  local name=$1 empty_rss sender_pid pause_pid t0
  SAVE_LINES=$2
  echo "== TCP: Ctrl+S 1.5 s into $SAVE_LINES lines" >&2
  sync
  start_measured "$name"
  "$host_pause" 1800 "$work/$name.pauses" >"$work/$name.host" &
  pause_pid=$!
  started+=("$pause_pid")
  "$sender" tcp "$port" "$SAVE_LINES" "$line_bytes" T >"$work/$name.sender" 2>&1 &
  sender_pid=$!
  started+=("$sender_pid")
  sleep 1.5   # the flood under way
  t0=$(now_ms); save_log; SAVE_S=$(secs_since "$t0")
  wait "$sender_pid" || { cat "$work/$name.sender" >&2; exit 1; }
  sleep 0.5   # the last paints
  stop_probe "$name"
  stop_pid "$pause_pid"
  HOST_PAUSES="$(kv "$work/$name.host" pauses) pauses, longest $(kv "$work/$name.host" longest_ms) ms"
  if [ -n "${TRACE_DIR:-}" ]; then cp "$work/$name.trace" "$work/$name.pauses" "$TRACE_DIR/"; fi
  save_log
  if cmp -s <("$sender" expect "$SAVE_LINES" "$line_bytes" T tcp) <(dd if="$PROG_LOG" bs=4M iflag=direct status=none); then
    SAVE_EXACT=yes
  else
    SAVE_EXACT=NO
  fi
  SAVE_RATE=$(kv "$work/$name.sender" lines_per_s)
  SAVE_MEM=$(mb $(( $(cat "$work/$name.rss") - empty_rss )))
  stop_pid "$PROG_PID"
  rm -f "$PROG_LOG"
}

if [ "$mode" = save ]; then
  lines=${SAVE_LINES:-40000000}
  runs=${RUNS:-5}
  in_range SAVE_LINES "$lines" 1 40000000
  in_range RUNS "$runs" 1 20
  [ -z "${TRACE_DIR:-}" ] || mkdir -p "$TRACE_DIR"
  echo "Sumpwell, Ctrl+S in a flood: $(nproc) cores, Linux $(uname -r), Qt xcb on Xvfb; $lines lines of $line_bytes bytes"
  row "Run" "save; lines/s" "longest stall (p99, >16.7 ms, steal)" "memory above empty; exact; the host's pauses"
  for r in $(seq "$runs"); do
    save_flood "save-$r" "$lines"
    row "$r" "$SAVE_S s; $SAVE_RATE" "$STALL" "$SAVE_MEM; $SAVE_EXACT; $HOST_PAUSES"
  done
  exit 0
fi

if [ "$mode" = flood ]; then
  lines=${LARGE_LINES:-100000000}
  runs=${RUNS:-5}
  in_range LARGE_LINES "$lines" 1 100000000
  in_range RUNS "$runs" 1 20
  [ -z "${TRACE_DIR:-}" ] || mkdir -p "$TRACE_DIR"
  [ -z "${PERF:-}" ] || [ -n "${TRACE_DIR:-}" ] || { echo "PERF needs TRACE_DIR" >&2; exit 2; }
  echo "Sumpwell, long floods: $(nproc) cores, Linux $(uname -r), Qt xcb on Xvfb; $lines lines of $line_bytes bytes from ${LARGE_SENDER:-tcp-format}${PIN_SENDER:+; the sender on processor 1, the receiver on 0}"
  row "Run" "lines/s (nc -l)" "longest stall (p99, >16.7 ms, steal)" "exact; the host's pauses of both processors"
  for r in $(seq "$runs"); do
    echo "== flood $r of $runs" >&2
    long_flood "flood-$r" "$lines" "${LARGE_SENDER:-tcp-format}"
    IFS='|' read -r a b c d e <<<"$FLOOD_ROW"
    row "$r" "$a ($(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.0f%% of nc -l: %d", 100 * a / b, b }'))" "$c" "$d; $e"
  done
  exit 0
fi

if [ "$mode" = large ]; then
  large_lines=${LARGE_LINES:-100000000}
  # The long flood comes from a sender that formats each line as it goes, as a program that logs
  # does, using a core of its own; LARGE_SENDER=tcp sends prepared lines instead.
  large_sender=${LARGE_SENDER:-tcp-format}
  open_gbs=${OPEN_GB:-2 8}
  in_range LARGE_LINES "$large_lines" 1 100000000
  rows=()

  # e. A long TCP session.
  echo "== TCP: $large_lines lines of $line_bytes bytes" >&2
  start_measured large-tcp
  "$sender" "$large_sender" "$port" "$large_lines" "$line_bytes" T >"$work/large.sender" 2>&1 || { cat "$work/large.sender" >&2; exit 1; }
  sleep 0.5   # the last paints
  stop_probe large-tcp
  end_rss=$(status_kib "$PROG_PID" VmRSS)
  t0=$(now_ms); save_log; save_s=$(secs_since "$t0")
  if cmp -s <("$sender" expect "$large_lines" "$line_bytes" T tcp) "$PROG_LOG"; then exact=yes; else exact=NO; fi
  log_size=$(stat -c %s "$PROG_LOG")
  send_to_nc "$work/large-nc.sender" "$large_sender" "$large_lines"
  rows+=("TCP $large_lines lines ($large_sender): lines/s|$(kv "$work/large.sender" lines_per_s)|nc -l: $(kv "$work/large-nc.sender" lines_per_s)|$(ms "$(kv "$work/large.sender" close_s)") in all, $(awk -v s="$log_size" 'BEGIN { printf "%.2f GB", s / 1e9 }') log")
  rows+=("  longest stall (p99; pings > 1 frame; steal)|$STALL|-|")
  rows+=("  memory above empty: at the end / peak|$(mb $((end_rss - empty_rss))) / $(mb $(( $(cat "$work/large-tcp.rss") - empty_rss )))|-|empty program $(mb "$empty_rss")")
  rows+=("  saved with Ctrl+S, exactly as sent|$exact, $save_s s|-|")
  stop_pid "$PROG_PID"
  rm -f "$PROG_LOG"

  # i. A save in the middle of a flood: what arrives meanwhile waits, a bounded amount, then follows.
  save_flood save-flood $(( large_lines / 2 < 40000000 ? large_lines / 2 : 40000000 ))
  rows+=("TCP $SAVE_LINES lines, Ctrl+S 1.5 s in: save|$SAVE_S s|-|$SAVE_RATE lines/s")
  rows+=("  longest stall (p99; pings > 1 frame; steal)|$STALL|-|")
  rows+=("  memory above empty, peak; the log after|$SAVE_MEM; exact: $SAVE_EXACT|-|")

  # f, g. Opening and saving large files.
  for gb in $open_gbs; do
    [ "$gb" -le 8 ] || { echo "OPEN_GB: at most 8" >&2; exit 2; }
    file=$work/open-$gb.log
    if [ "${OPEN_SHORT:-}" = 1 ]; then   # lines of one character
      echo "== Open a $gb GB file of one-character lines" >&2
      { yes a || true; } | head -c $((gb * 1000000000)) >"$file"
    else
      echo "== Open a $gb GB file" >&2
      "$sender" expect $((gb * 1000000000 / line_bytes)) "$line_bytes" O tcp >"$file"
    fi
    size=$(stat -c %s "$file")
    sync
    next_port
    t0=$(now_ms)
    OPEN_FILE=$file start_program "open-$gb" "$port" 1
    up_s=$(secs_since "$t0")
    start_sampler "open-$gb"
    start_probe "open-$gb"
    copied() { local f; for f in /proc/"$PROG_PID"/fd/*; do
        case $(readlink "$f" 2>/dev/null || true) in "$work/cache/"*) [ "$(stat -L -c %s "$f" 2>/dev/null)" = "$size" ] && return 0;; esac
      done; return 1; }
    idle_again() { [ "$(ls /proc/"$PROG_PID"/task | wc -l)" -lt "$threads" ]; }
    threads=$(ls /proc/"$PROG_PID"/task | wc -l)
    focus "$PROG_WIN"
    until copied; do   # scrolling to the end and back while it runs
      xdotool key ctrl+End; sleep 0.1; xdotool key ctrl+Home; sleep 0.1
      [ "$(now_ms)" -lt $((t0 + 300000)) ] || { echo "the open took more than 300 s" >&2; exit 1; }
    done
    wait_for 60 "the load to end" idle_again
    open_s=$(secs_since "$t0")
    sleep 0.5
    stop_probe "open-$gb"
    rss=$(status_kib "$PROG_PID" VmRSS)
    rows+=("Open $gb GB: window up / indexed|$up_s s / $open_s s|-|$(awk -v s="$size" -v t="$open_s" 'BEGIN { printf "%.2f GB/s", s / t / 1e9 }')")
    rows+=("  longest stall, Ctrl+End and Ctrl+Home|$STALL|-|")
    rows+=("  memory above empty: at the end / peak|$(mb $((rss - empty_rss))) / $(mb $(( $(cat "$work/open-$gb.rss") - empty_rss )))|-|")
    # Saved back over itself with Ctrl+S, beside cp of the same file.
    PROG_LOG=$file
    t0=$(now_ms); save_log; save_s=$(secs_since "$t0")
    t0=$(now_ms); cp "$file" "$file.cp"; cp_s=$(secs_since "$t0"); sync "$file.cp"; cpsync_s=$(secs_since "$t0")
    if cmp -s "$file" "$file.cp"; then same=yes; else same=NO; fi
    rows+=("  save with Ctrl+S (on disk when done)|$save_s s ($(awk -v s="$size" -v t="$save_s" 'BEGIN { printf "%.2f GB/s", s / t / 1e9 }'))|cp: $cp_s s; cp and sync: $cpsync_s s|file intact: $same")
    rm -f "$file.cp"
    if [ "$gb" = "${open_gbs##* }" ]; then
      # h. Idle after all of it; then SIGKILL, and the cache folder.
      ticks0=$(cpu_ticks "$PROG_PID"); sleep 5; ticks1=$(cpu_ticks "$PROG_PID")   # the measurement window
      rows+=("Idle CPU over 5 s after all|$((ticks1 - ticks0)) ticks|-|utime+stime")
      kill -KILL "$PROG_PID"; wait "$PROG_PID" 2>/dev/null || true
      rows+=("Cache folder after SIGKILL|$(find "$work/cache" -type f | wc -l) files, $(du -sk "$work/cache" | cut -f1) KiB|-|")
    fi
    stop_pid "$PROG_PID"
    rm -f "$file"
  done

  echo
  echo "Sumpwell, logs of any length: $(nproc) cores, Linux $(uname -r), Qt xcb on Xvfb"
  echo
  row "Measure" "Sumpwell" "Baseline" "Note"
  row "------------------------------------------" "----------------------------------" "----------------------------------" "----"
  for r in "${rows[@]}"; do IFS='|' read -r a b c d <<<"$r"; row "$a" "$b" "$c" "$d"; done
  exit 0
fi

# ---- 0. AppendToLog in-process ----------------------------------------------------------------------------
echo "== AppendToLog, in-process (offscreen)" >&2
QT_QPA_PLATFORM=offscreen "$append_bench" 1000000 >"$work/append.out" 2>"$work/append.err"
append_rate=$(awk '/^rate:/ { print $2 }' "$work/append.out")
append_time=$(awk '/^total:/ { print $2 }' "$work/append.out")
append_growth=$(awk '/^growth/ { print $4 }' "$work/append.out")
cat "$work/append.out" >&2

# ---- a, c, d. TCP ---------------------------------------------------------------------------------------------
echo "== TCP: $tcp_lines lines of $line_bytes bytes" >&2
next_port
start_program tcp "$port" 1
connect_program "$port" 1
empty_rss=$(status_kib "$PROG_PID" VmRSS)
empty_hwm=$(status_kib "$PROG_PID" VmHWM)
# The probe on the idle program first: the round trip with nothing else going on.
start_probe idle
sleep 1   # one second of idle pings: the measurement window
stop_probe idle; idle_stall=$STALL
idle_median=$(probe_field idle median_ms)

start_probe tcp
cpu_before=$(cpu_ticks "$PROG_PID"); xcpu_before=$(cpu_ticks "$xvfb_pid")
"$sender" tcp "$port" "$tcp_lines" "$line_bytes" T >"$work/tcp.sender" 2>&1 || { cat "$work/tcp.sender" >&2; exit 1; }
cpu_load=$(( $(cpu_ticks "$PROG_PID") - cpu_before )); xcpu_load=$(( $(cpu_ticks "$xvfb_pid") - xcpu_before ))
sleep 0.5   # the probe keeps going half a second past the close: the last paints
stop_probe tcp; tcp_stall=$STALL
tcp_s=$(kv "$work/tcp.sender" close_s)
tcp_rate=$(kv "$work/tcp.sender" lines_per_s)
loaded_rss=$(status_kib "$PROG_PID" VmRSS)
loaded_hwm=$(status_kib "$PROG_PID" VmHWM)

# d. Idle CPU over 5 s after the load (no probe running).
ticks0=$(cpu_ticks "$PROG_PID"); ns0=$(cpu_ns "$PROG_PID")
sleep 5   # the measurement window itself
ticks1=$(cpu_ticks "$PROG_PID"); ns1=$(cpu_ns "$PROG_PID")
idle_ticks=$((ticks1 - ticks0))
idle_cpu_ms=$(awk -v a="$ns0" -v b="$ns1" 'BEGIN { printf "%.1f", (b - a) / 1e6 }')

# The log, saved with Ctrl+S (after the memory figures: the save itself copies the text once).
save_log
"$sender" expect "$tcp_lines" "$line_bytes" T tcp >"$work/tcp.expected"
log_size=$(stat -c %s "$PROG_LOG")
log_crlf=$(grep -c $'\r$' "$PROG_LOG" || true)
if cmp -s "$work/tcp.expected" "$PROG_LOG"; then tcp_exact=yes; else tcp_exact=NO; fi
stop_pid "$PROG_PID"

# Baseline: nc.
send_to_nc "$work/nc.sender"
nc_s=$(kv "$work/nc.sender" close_s)
nc_rate=$(kv "$work/nc.sender" lines_per_s)

# The same stream again, to a fresh program and to nc in turn, TCP_TRIALS times each: one run of
# either varies by half and more with what the two cores are doing.
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for trial in $(seq "$tcp_trials"); do
  next_port
  start_program "tcp-trial" "$port" 1
  connect_program "$port" 1
  "$sender" tcp "$port" "$tcp_lines" "$line_bytes" T >"$work/trial.sender" 2>&1 || { cat "$work/trial.sender" >&2; exit 1; }
  kv "$work/trial.sender" close_s >>"$work/trials.program"
  stop_pid "$PROG_PID"
  send_to_nc "$work/trial.sender"
  kv "$work/trial.sender" close_s >>"$work/trials.nc"
done
trial_s=$(median <"$work/trials.program")
trial_nc_s=$(median <"$work/trials.nc")

# ---- b, c. UDP ---------------------------------------------------------------------------------------------
# count_udp FILE TAG: "received in_order" (distinct line numbers with the tag; whether they rose)
count_udp() {
  awk -v t="$2" '$1 == t { n = $2 + 0; if (!(n in seen)) { seen[n] = 1; c++ } if (n <= last && c > 1) bad = 1; last = n }
                 END { print c + 0, (bad ? "no" : "yes") }' "$1"
}
udp_rcvbuf() { ss -uamnH "sport = :$1" | grep -o 'rb[0-9]*' | head -n 1 | tr -d rb; }
# send_udp NAME PORT RATE TAG: the datagrams of one run, then waits until the receiver has taken
# every one its socket holds
send_udp() {
  "$sender" udp "$2" "$udp_count" "$line_bytes" "$3" "$4" >"$work/$1.sender" 2>&1 || { cat "$work/$1.sender" >&2; exit 1; }
  wait_for 60 "the receiver to drain its socket" udp_drained "$2"
}
# socat_run NAME RATE TAG [SOCAT_OPTIONS]: socat writing the datagrams to a file; sets SOCAT_RESULT
# to "sent rate received drops rcvbuf" (run in this shell, so that its socat is known to cleanup)
socat_run() {
  local pid got rcvbuf drops
  next_port
  socat -u "UDP-RECV:$port,bind=127.0.0.1${4:+,$4}" "OPEN:$work/$1.out,creat,trunc" 2>"$work/$1.err" &
  pid=$!
  started+=("$pid")
  wait_for 10 "socat to bind" udp_bound "$port"
  rcvbuf=$(udp_rcvbuf "$port")
  send_udp "$1" "$port" "$2" "$3"
  drops=$(udp_field "$port" drops)
  stop_pid "$pid"
  read -r got _ < <(count_udp "$work/$1.out" "$3")
  SOCAT_RESULT="$(kv "$work/$1.sender" sent) $(kv "$work/$1.sender" rate_per_s) $got $drops $rcvbuf"
}
udp_rows=()
for rate in 50000 100000 max; do
  tag=U$rate
  echo "== UDP: $udp_count datagrams at $rate/s" >&2
  # The program.
  next_port
  start_program "udp-$rate" "$port" 0
  connect_program "$port" 0
  rcvbuf=$(udp_rcvbuf "$port")
  start_probe "udp-$rate"
  c0=$(cpu_ticks "$PROG_PID"); x0=$(cpu_ticks "$xvfb_pid")
  send_udp "udp-$rate" "$port" "$rate" "$tag"
  ucpu="$(( $(cpu_ticks "$PROG_PID") - c0 )) $(( $(cpu_ticks "$xvfb_pid") - x0 )) $(kv "$work/udp-$rate.sender" send_s)"
  sleep 0.5   # the probe keeps going half a second past the end: the last paints
  stop_probe "udp-$rate"; stall=$STALL
  drops=$(udp_field "$port" drops)
  save_log
  read -r got ordered < <(count_udp "$PROG_LOG" "$tag")
  stop_pid "$PROG_PID"
  program_row="$(kv "$work/udp-$rate.sender" sent) $(kv "$work/udp-$rate.sender" rate_per_s) $got $drops $rcvbuf"

  # Baselines: socat with the system's default buffer, and socat asking for 8 MiB as the program
  # does (with SO_RCVBUF, which the kernel caps at net.core.rmem_max).
  socat_run "socat-$rate" "$rate" "$tag"
  socat_row=$SOCAT_RESULT
  socat_run "socat8-$rate" "$rate" "$tag" rcvbuf=8388608
  socat8_row=$SOCAT_RESULT
  udp_rows+=("$rate|$program_row|$ordered|$stall|$socat_row|$socat8_row|$ucpu")
done

# ---- stall probe calibration: the program stopped for 200 ms ------------------------------------------------
next_port
start_program calib "$port" 0
start_probe calib
kill -STOP "$PROG_PID"; sleep 0.2; kill -CONT "$PROG_PID"   # the stall to be measured
sleep 0.1   # the answer after the stall, and a few more pings
stop_probe calib; calib_stall=$STALL
stop_pid "$PROG_PID"

# ---- the table ---------------------------------------------------------------------------------------------------
log_mb=$(awk -v s="$log_size" 'BEGIN { printf "%.1f", s / 1e6 }')
echo
echo "Sumpwell benchmarks: $(nproc) cores ($(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)), Linux $(uname -r), Qt xcb on Xvfb"
echo "$tcp_lines TCP lines and $udp_count UDP datagrams of $line_bytes bytes each (79 characters and a line feed)"
echo
row "Measure" "Sumpwell" "Baseline" "Note"
row "------------------------------------------" "----------------------------------" "----------------------------------" "----"
row "AppendToLog in-process, 1,000,000 lines" "$append_time s, $append_rate/s" "-" "offscreen, 80-byte lines"
row "TCP: connect until the close line" "$(ms "$tcp_s")" "nc -l: $(ms "$nc_s")" ""
row "TCP: lines/s" "$tcp_rate" "nc -l: $nc_rate" ""
row "TCP: median of $tcp_trials runs each" "$(ms "$trial_s")" "nc -l: $(ms "$trial_nc_s")" "$(awk -v a="$trial_s" -v b="$trial_nc_s" 'BEGIN { printf "%.0f%% of nc'"'"'s rate", 100 * b / a }')"
row "TCP: saved log exactly as sent" "$tcp_exact" "-" "$log_size bytes, $log_crlf CRLF"
cpu_text() { awk -v p="$1" -v x="$2" -v s="$3" 'BEGIN { printf "%.2f s; Xvfb %.2f s (%.2f s load)", p / 100, x / 100, s }'; }
row "TCP: CPU during the load: program; Xvfb" "$(cpu_text "$cpu_load" "$xcpu_load" "$tcp_s")" "-" "utime+stime"
for r in "${udp_rows[@]}"; do
  IFS='|' read -r rate prog ordered stall sc sc8 ucpu <<<"$r"
  read -r sent offered got drops rb <<<"$prog"
  read -r s_sent s_offered s_got s_drops s_rb <<<"$sc"
  read -r t_sent t_offered t_got t_drops t_rb <<<"$sc8"
  if [ "$rate" = max ]; then label="full speed"; else label="$rate/s"; fi
  row "UDP $label: achieved send rate (/s)" "$offered" "socat: $s_offered" "socat rcvbuf=8M: $t_offered"
  row "  lost = not in log (of them socket drops)" "$((sent - got)) = $(pct $((sent - got)) "$sent") ($drops)" \
      "$((s_sent - s_got)) = $(pct $((s_sent - s_got)) "$s_sent") ($s_drops)" \
      "$((t_sent - t_got)) = $(pct $((t_sent - t_got)) "$t_sent") ($t_drops)"
  row "  receive buffer (ss rb, bytes)" "$rb" "$s_rb" "$t_rb"
  row "  log in order" "$ordered" "-" ""
  row "  longest stall (p99; pings > 1 frame; steal)" "$stall" "-" ""
  row "  CPU during the load: program; Xvfb" "$(cpu_text $ucpu)" "-" "utime+stime"
done
row "Longest stall, TCP load" "$tcp_stall" "idle: $idle_stall" "idle median $idle_median ms"
row "Stall probe check: program stopped 200 ms" "$calib_stall" "-" ""
row "Empty program: RSS / peak RSS" "$(mb "$empty_rss") / $(mb "$empty_hwm")" "-" ""
row "After the TCP load: RSS / peak RSS" "$(mb "$loaded_rss") / $(mb "$loaded_hwm")" "log: $log_mb MB" ""
row "Peak RSS above the empty program's" "$(awk -v a="$loaded_hwm" -v b="$empty_hwm" -v s="$log_size" 'BEGIN { printf "%.2f x the log", (a - b) * 1024 / s }')" "-" ""
row "Idle CPU over 5 s after the load" "$idle_ticks ticks ($idle_cpu_ms ms)" "-" "utime+stime; schedstat"
row "AppendToLog in-process: memory growth" "${append_growth} x the text" "-" ""
