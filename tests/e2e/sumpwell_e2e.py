#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""End-to-end tests of the real sumpwell program, driven as a user would drive it.

Each case runs in a world of its own (scripts/xworld.py): private network, mount and PID
namespaces with loopback alone, an Xvfb of its own, openbox where a window manager is needed.
Inside, the program under it, keys pressed with xdotool, text sent with nc and plain
sockets to 127.0.0.1, and the log read back by saving it through the program's own Save dialog.
This level owns what needs a real process: X input, captions and the frame under a window
manager, exit codes, file permissions, a full disk, descriptor limits.

Usage: sumpwell_e2e.py --program PATH CASE...   (or --list)
Needs root (namespaces) and the tools scripts/install-deps installs.
"""
import argparse
import os
import random
import re
import resource
import selectors
import signal
import socket
import stat
import struct
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import xworld  # noqa: E402
from xworld import Failure, check, wait_until, xdo, visible_windows  # noqa: E402

CLOSE_LINE = b"Sumpwell Status>Connection closed by client\r\n"
MAIN_TITLE = "Sumpwell"
SCREEN = (1366, 770)          # three quarters of it is not whole: the rounding is seen too
TOOLS = ["xwininfo", "nc", "setpriv", "prlimit", "openbox"]
START = time.monotonic()


def log(message):
    print("[%7.2f] %s" % (time.monotonic() - START, message), flush=True)


# ---- /proc: sockets ---------------------------------------------------------------------------------

def proc_net(kind):
    """Rows of /proc/net/tcp or /proc/net/udp: local address and port, remote port, state, receive
    queue, inode."""
    rows = []
    with open("/proc/net/" + kind) as f:
        next(f)
        for line in f:
            p = line.split()
            addr, port = p[1].split(":")
            rows.append({"addr": socket.inet_ntoa(struct.pack("<I", int(addr, 16))), "port": int(port, 16),
                         "rport": int(p[2].split(":")[1], 16), "state": p[3],
                         "rx": int(p[4].split(":")[1], 16), "inode": int(p[9])})
    return rows


def socket_inodes(pid):
    inodes = set()
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            m = re.match(r"socket:\[(\d+)\]", os.readlink("/proc/%d/fd/%s" % (pid, fd)))
        except OSError:
            continue
        if m:
            inodes.add(int(m.group(1)))
    return inodes


def tcp_listening(port):
    return any(r["port"] == port and r["state"] == "0A" for r in proc_net("tcp"))


def bound_by(pid, kind):
    """[(address, port)] that the process has bound: listening TCP or UDP sockets."""
    mine = socket_inodes(pid)
    return sorted((r["addr"], r["port"]) for r in proc_net(kind)
                  if r["inode"] in mine and (kind == "udp" or r["state"] == "0A"))


def clients_of(pid, port):
    """{client port: unread bytes} of the connections the program has accepted on port."""
    mine = socket_inodes(pid)
    return {r["rport"]: r["rx"] for r in proc_net("tcp") if r["port"] == port and r["inode"] in mine
            and r["state"] != "0A"}


def free_port(kind=socket.SOCK_STREAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def udp_send(port, payload):
    """The payload as one datagram to 127.0.0.1, in one sendto: fed through a pipe, socat may read
    and send a large one in pieces, each of which the program rightly takes as a datagram."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        check(s.sendto(payload, ("127.0.0.1", port)) == len(payload), "a datagram was not sent whole")


def nc_send(port, payload):
    """A TCP client through nc: connects, sends, shuts its side and waits for the program to close."""
    r = subprocess.run(["nc", "-N", "127.0.0.1", str(port)], input=payload, stdout=subprocess.DEVNULL, timeout=30)
    check(r.returncode == 0, "nc could not send to port %d (exit %d)" % (port, r.returncode))


def cpu_seconds(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


# ---- The program ---------------------------------------------------------------------------------

class App(xworld.Program):
    def __init__(self, world, args=(), config=None, name="app", nofile=None, cache=None):
        self.world, self.name, self.saved_to = world, name, None
        self.config = config or world.path("config")
        env = xworld.program_env(world, self.config)
        if cache:
            env["XDG_CACHE_HOME"] = cache
        # A sanitizer build leaves through LeakSanitizer: leaks inside the system libraries named
        # in the project's suppression file are not the program's (the test stage sets the same).
        env.setdefault("LSAN_OPTIONS", "suppressions=" + os.path.join(
            os.path.dirname(os.path.abspath(__file__)), "..", "sanitizers", "lsan.supp"))
        # Without the right to pass over file permissions, as an ordinary user: a folder or file that
        # is not writable or readable is so for the program too.
        cmd = ["setpriv", "--bounding-set", "-dac_override,-dac_read_search",
               "--inh-caps", "-dac_override,-dac_read_search", "--", world.program] + list(args)
        if nofile:
            cmd = ["prlimit", "--nofile=%d:%d" % nofile, "--"] + cmd
        super().__init__(world, cmd, env, world.path(name + ".out"))
        world.apps.append(self)

    def wait_main_window(self):
        return super().wait_main_window(MAIN_TITLE)

    def exit(self):
        """Connection > Exit: the program ends with exit code 0 (a sanitizer build reports leaks there)."""
        self.menu("c", "x")
        wait_until(lambda: self.proc.poll() is not None, 60, "%s to end through Exit" % self.name)
        check(self.proc.returncode == 0, "%s ended with exit code %d" % (self.name, self.proc.returncode))

    def check_alone(self, when):
        check(not self.others(), "%s: windows besides the main one: %s" % (when, self.others()))

    def wait_message(self, timeout=20):
        """Waits for a message box (a second window captioned Sumpwell), answers it with Return, and
        returns its (_NET_WM_NAME, WM_NAME)."""
        box = self.wait_window("^%s$" % MAIN_TITLE, timeout)
        names = xworld.window_names(box)
        self.key(box, "Return")
        self.wait_gone(box)
        return names

    def make_connection(self, port, protocol=None, typed=True, expect_bound=True):
        """F2, the port typed over the offered one unless typed is false, the protocol chosen with Tab
        and Space when given, then Return; waits until port is bound, and only it."""
        self.key(self.main, "F2")
        dlg = self.wait_window(r"^Make Host Connection")
        if typed:
            self.type(dlg, str(port))
        self.key(dlg, *{"udp": ["Tab", "space"], "tcp": ["Tab", "Tab", "space"]}.get(protocol, []), "Return")
        self.wait_gone(dlg)
        if expect_bound:
            def bound():
                got = bound_by(self.pid, "udp") + bound_by(self.pid, "tcp")
                return got if any(p == port for _, p in got) else None
            got = wait_until(bound, 20, "the program to bind port %d" % port)
            check(got == [("127.0.0.1", port)], "bound %s, wanted only 127.0.0.1:%d" % (got, port))
            if protocol is not None:
                check(bound_by(self.pid, protocol) == [("127.0.0.1", port)], "port %d is not bound as %s" % (port, protocol))

    def choose_file(self, keys, title, path):
        """keys open the file dialog captioned title; path is typed and taken with Return. Returns
        the dialog once it is gone or the program shows a window besides it.

        Qt's dialog marks each folder that the path typed so far names, and unmarks it only while
        its name field has the focus. On a loaded machine a key can come before the focus does;
        Return then goes into the folder left marked, empties the field and leaves the dialog open.
        A user closes it and tries again, and so does this, once."""
        for attempt in (1, 2):
            self.key(self.main, keys)
            dlg = self.wait_window("^%s" % title)
            shown = lambda: b"IsViewable" in subprocess.run(
                ["xwininfo", "-id", str(dlg)], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
            self.type(dlg, path)
            self.key(dlg, "Return")
            try:
                wait_until(lambda: not shown() or any(w != dlg for w, _ in self.others()), 5 * attempt,
                           "the %s dialog to take %s" % (title, path))
                return dlg
            except Failure:
                if attempt == 2:
                    raise
                log("the %s dialog did not take %s: closed and opened again" % (title, path))
                self.key(dlg, "Escape")
                try:
                    self.wait_gone(dlg, 2)
                except Failure:            # that Escape closed only the list of completions
                    self.key(dlg, "Escape")
                    self.wait_gone(dlg)

    def save_as(self, path, confirm_overwrite=False):
        """Ctrl+S while the log has no file: the Save dialog, the path typed, Return."""
        dlg = self.choose_file("ctrl+s", "Save As", path)
        if confirm_overwrite:
            self.key(self.wait_window("^Save As", exclude=(dlg,)), "y")
        self.wait_gone(dlg)

    def save(self, path):
        """Ctrl+S once the log has a file: no dialog, the file replaced (a new inode)."""
        before = os.stat(path)
        self.key(self.main, "ctrl+s")
        wait_until(lambda: os.path.exists(path) and (lambda s: (s.st_ino, s.st_mtime_ns))(os.stat(path)) !=
                   (before.st_ino, before.st_mtime_ns), 20, "Ctrl+S to rewrite %s" % path)
        self.check_alone("after Ctrl+S of a log with a file")

    def saved_log(self, path=None):
        """The log's bytes, saved through the dialog the first time and with Ctrl+S after."""
        if self.saved_to is None:
            self.saved_to = path or self.world.path("log-%d.txt" % random.randrange(1 << 30))
            self.save_as(self.saved_to)
            wait_until(lambda: os.path.exists(self.saved_to), 20, "the Save dialog to write %s" % self.saved_to)
            self.check_alone("after the first save")
        else:
            self.save(self.saved_to)
        return read(self.saved_to)

    def log_is(self, expected, path=None, timeout=30):
        """Saves the log until the file holds exactly expected."""
        deadline = time.monotonic() + timeout
        while True:
            got = self.saved_log(path)
            if got == expected:
                return
            if time.monotonic() >= deadline:
                raise Failure("the log is not what was sent.\n%s" % diff(expected, got))


# ---- Small helpers ---------------------------------------------------------------------------------------

def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def write(path, data, mode=None):
    with open(path, "wb") as f:
        f.write(data)
    if mode is not None:
        os.chmod(path, mode)


def diff(expected, got):
    if got is None:
        return "no file"
    n = 0
    while n < min(len(expected), len(got)) and expected[n] == got[n]:
        n += 1
    return ("expected %d bytes, got %d; first difference at byte %d:\n  expected %r\n  got      %r"
            % (len(expected), len(got), n, expected[max(0, n - 40):n + 40], got[max(0, n - 40):n + 40]))


# ---- Cases ---------------------------------------------------------------------------------------------

CASES = {}


def case(wm=False):
    def register(fn):
        CASES[fn.__name__] = (fn, wm)
        return fn
    return register


@case(wm=True)
def window_manager(w):
    """Under openbox: every caption exactly as the window sets it, as the window manager reads it;
    the frame, decorations included, three quarters of the screen each way and centred; one window
    and nothing bound at start."""
    app = App(w)
    main = app.wait_main_window()
    check(visible_windows(app.pid) == [(main, MAIN_TITLE)], "windows at start: %s" % visible_windows(app.pid))
    check(bound_by(app.pid, "udp") + bound_by(app.pid, "tcp") == [], "bound before any connection was made")
    sw, sh = SCREEN
    cx, cy = sw * 3 // 4, sh * 3 // 4
    expected = ((sw - cx) // 2, (sh - cy) // 2, cx, cy)
    frame = xworld.frame_of(main)
    check(frame != main, "openbox did not frame the main window")
    wrong = []                 # every wrong caption and the frame, all told at once
    got = [None]

    def placed():        # the frame may be moved once its margins are known
        got[0] = xworld.outer_rect(frame)
        return got[0] == expected
    try:
        wait_until(placed, 10, "the frame's place")
    except Failure:
        wrong.append("frame at %s (x, y, width, height), expected %s" % (got[0], expected))

    def caption_is(title, wid, close=True):
        names = xworld.window_names(wid)
        if names != (title, title):
            wrong.append("caption (_NET_WM_NAME, WM_NAME) %s, expected %r" % (names, title))
        if close:
            app.key(wid, "Escape")
            app.wait_gone(wid)
    caption_is(MAIN_TITLE, main, close=False)
    app.key(main, "F2")
    caption_is("Make Host Connection", app.wait_window("^Make Host Connection"))
    app.menu("h", "a")
    caption_is("About Cistern", app.wait_window("^About Cistern"))
    app.key(main, "ctrl+o")
    caption_is("Open", app.wait_window("^Open"))
    app.key(main, "ctrl+s")
    caption_is("Save As", app.wait_window("^Save As"))
    # A message box: a UDP port that is taken cannot be bound.
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as taken:
        taken.bind(("127.0.0.1", 0))
        app.make_connection(taken.getsockname()[1], "udp", expect_bound=False)
        box = app.wait_window("^%s$" % MAIN_TITLE)
        caption_is(MAIN_TITLE, box, close=False)
        app.key(box, "Return")
        app.wait_gone(box)
    check(not wrong, "\n".join(wrong))
    app.check_alone("after the captions")


@case()
def tcp(w):
    """TCP chosen in the dialog. Connection > Close Connection while the client is still connected,
    and F2 at once binds the same port again (address reuse). Exit with a client connected asks
    nothing."""
    app = App(w)
    app.wait_main_window()
    port = free_port()
    app.make_connection(port, "tcp")
    client = socket.create_connection(("127.0.0.1", port), timeout=10)
    client.sendall(b"hello\n")
    app.log_is(b"hello\r\n")
    app.menu("c", "c")
    wait_until(lambda: not tcp_listening(port), 20, "Close Connection to end the binding")
    app.make_connection(port, "tcp", typed=False)      # the dialog offers what was just used
    client.close()
    nc_send(port, b"new client\n")
    app.log_is(b"hello\r\n" + CLOSE_LINE + b"new client\r\n" + CLOSE_LINE)
    app.check_alone("after two sessions")
    # Connection > Exit with a client connected and a line open: it ends at once, asking nothing.
    app.make_connection(port, "tcp", typed=False)
    client = socket.create_connection(("127.0.0.1", port), timeout=10)
    client.sendall(b"an open line")
    wait_until(lambda: list(clients_of(app.pid, port).values()) == [0], 20, "the open line to be read")
    app.exit()
    client.close()


@case()
def open_save_and_new(w):
    """Started with a file: the log is that file's bytes; Ctrl+S writes them back unchanged with no
    dialog; received lines follow them. Ctrl+N empties the log without a question, keeps the binding,
    and the next Ctrl+S asks for a file again."""
    rng = random.Random(7)
    content = (b"saved earlier\r\nnul \x00 byte\r\nbad utf-8 \xff\xfe\xc3\r\nlone cr\rlone lf\n"
               + bytes(rng.randrange(256) for _ in range(70000)) + b"\r\n" + b"x" * 100000)
    path = w.path("earlier.log")
    write(path, content)
    app = App(w, [path])
    app.wait_main_window()
    app.check_alone("at start with a file")
    app.save(path)
    check(read(path) == content, "Ctrl+S changed the file:\n" + diff(content, read(path)))
    port = free_port(socket.SOCK_DGRAM)
    app.make_connection(port, "udp")
    udp_send(port, b"arrived later\n")
    app.saved_to = path
    app.log_is(content + b"arrived later\r\n")
    app.key(app.main, "ctrl+n")
    app.check_alone("after Ctrl+N")
    check(bound_by(app.pid, "udp") == [("127.0.0.1", port)], "Ctrl+N ended the binding")
    udp_send(port, b"after\n")
    app.saved_to = None
    app.log_is(b"after\r\n", w.path("after.log"))
    check(read(path) == content + b"arrived later\r\n", "the first file changed after Ctrl+N")


class Clients:
    """TCP clients of the program on port, each sending its line "client N" once its connection is
    made. paced: each connect waits a moment while the program takes them (once it holds all it
    may, they wait); otherwise all connect at once."""

    def __init__(self, app, port, total, paced):
        own = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
        resource.setrlimit(resource.RLIMIT_NOFILE, (own, own))
        check(own > total + 100, "this driver may hold only %d descriptors" % own)
        self.sel, self.by_port, self.unsent = selectors.DefaultSelector(), {}, total
        refused = 0
        deadline = time.monotonic() + 60
        for i in range(total):
            check(time.monotonic() < deadline and app.proc.poll() is None, "only %d clients tried" % i)
            s = socket.socket()
            s.setblocking(False)
            s.connect_ex(("127.0.0.1", port))
            self.by_port[s.getsockname()[1]] = (i, s)
            self.sel.register(s, selectors.EVENT_WRITE, i)
            if paced and refused < 20:
                refused = 0 if self.sel.select(0.05) else refused + 1
            self.send_lines()
        log("%d clients tried" % total)

    def send_lines(self):
        """Each client whose connection is made sends its line; true once all have."""
        for key, _ in self.sel.select(0):
            self.sel.unregister(key.fileobj)
            key.fileobj.send(b"client %d\n" % key.data)
            self.unsent -= 1
        return self.unsent == 0

    def lines_of(self, ports):
        return {b"client %d" % self.by_port[p][0] for p in ports}

    def close(self):
        for _, s in self.by_port.values():
            s.close()


def closed_clients_log(app, port):
    """Waits until the program has closed every client and the listening socket; its log then, and
    the lines the clients said: each said once, and as many close lines."""
    wait_until(lambda: not clients_of(app.pid, port) and not tcp_listening(port) or None, 60,
               "the program to close every client")
    got = app.saved_log()
    lines = got.split(b"\r\n")[:-1]
    said = [line for line in lines if line != CLOSE_LINE[:-2]]
    check(len(said) == len(set(said)) == len(lines) - len(said) and all(re.fullmatch(rb"client \d+", line) for line in said),
          "after the clients closed, the log holds %d lines of %d clients:\n%r" % (len(lines), len(set(said)), got[:2000]))
    log("%d clients had their line and one close line" % len(said))
    return got, set(said)


def binds_again(app, port, got):
    app.make_connection(port, None)
    nc_send(port, b"a new client\n")
    app.log_is(got + b"a new client\r\n" + CLOSE_LINE)


def hold_many(w, soft, hard, total, fewest):
    """total TCP clients against descriptor limits soft:hard, each sending a line and holding: the
    program stays alive, idle and answering while it holds what its limits allow and others wait;
    the log saved then holds the held clients' lines; after they close, each taken client has its
    line and one close line, and the program binds again. It holds at least fewest; returns how many."""
    app = App(w, nofile=(soft, hard))
    app.wait_main_window()
    port = free_port()
    app.make_connection(port, "tcp")
    clients = Clients(app, port, total, paced=True)
    last = [None]

    def settled():       # the same clients held a second apart, all read, and others left waiting
        clients.send_lines()
        check(app.proc.poll() is None, "the program ended (exit %s)" % app.proc.returncode)
        now = clients_of(app.pid, port)
        queued = any(r["port"] == port and r["state"] == "0A" and r["rx"] > 0 for r in proc_net("tcp"))
        same = now == last[0] and all(v == 0 for v in now.values()) and queued
        last[0] = now
        return (now,) if same else None   # settled on none taken too
    taken, = wait_until(settled, 60, "the clients the program takes to settle", interval=1)
    log("the program holds %d clients" % len(taken))
    check(len(taken) >= fewest, "the program held %d clients with descriptors %d:%d" % (len(taken), soft, hard))
    # Idle while they hold: its CPU time over a measuring window of two seconds.
    cpu0, t0 = cpu_seconds(app.pid), time.monotonic()
    wait_until(lambda: time.monotonic() - t0 >= 2, 5, "the end of the measuring window", interval=0.5)
    cpu = (cpu_seconds(app.pid) - cpu0) / (time.monotonic() - t0)
    log("CPU while %d clients hold: %.1f%% of a core" % (len(taken), cpu * 100))
    check(cpu < 0.2, "the program used %.0f%% of a core while the clients held" % (cpu * 100))
    app.menu("h", "a")                     # it answers: the About box opens and closes
    about = app.wait_window("^About Cistern")
    app.key(about, "Escape")
    app.wait_gone(about)
    held = clients.lines_of(taken)
    got = app.saved_log(w.path("held.log"))
    check(got.endswith(b"\r\n") and sorted(got.split(b"\r\n")[:-1]) == sorted(held),
          "the log saved with %d clients held is not their lines:\n%r" % (len(held), (got or b"")[:2000]))
    clients.close()
    got, said = closed_clients_log(app, port)
    check(held <= said, "lines of held clients are missing after they closed")
    binds_again(app, port, got)
    return len(taken)


@case()
def many_clients(w):
    """Several times more TCP clients than the program has descriptors (hold_many): it takes more
    than its soft limit allows, so the limit was raised, and fewer than the hard one: a reserve is
    kept."""
    soft, hard = 256, 512
    held = hold_many(w, soft, hard, 2000, soft + 1)
    check(soft < held < hard, "the program held %d clients with descriptors %d:%d" % (held, soft, hard))


@case()
def low_descriptor_limit(w):
    """Under a limit of 96 descriptors, soft and hard, 200 clients at once (hold_many): the reserve
    kept for the toolkit, its dialogs and a save leaves at least a quarter of the limit to clients."""
    hold_many(w, 96, 96, 200, 96 // 4)


@case()
def clients_at_once(w):
    """2,000 TCP clients connect at once, each sends a line, holds a moment and closes: every line is
    in the log exactly once with one close line for each client, and F2 binds again."""
    total = int(os.environ.get("SUMPWELL_E2E_CLIENTS", "2000"))   # 10000 for a longer run
    app = App(w, nofile=(20000, 20000))
    app.wait_main_window()
    port = free_port()
    app.make_connection(port, "tcp")
    clients = Clients(app, port, total, paced=False)
    wait_until(clients.send_lines, 30, "every client to connect and send its line")
    log("%d clients sent their line" % total)
    clients.close()
    got, said = closed_clients_log(app, port)
    check(said == clients.lines_of(clients.by_port), "%d of %d clients' lines are in the log" % (len(said), total))
    binds_again(app, port, got)


@case()
def save_failures(w):
    """A save into a read-only folder and one on a full disk, or onto a device, a FIFO or a socket:
    each is reported, the old file (or the device, FIFO or socket) stays as it was, nothing is left
    behind, and the log is whole after."""
    app = App(w)
    app.wait_main_window()
    port = free_port(socket.SOCK_DGRAM)
    app.make_connection(port, "udp")
    payload = b"".join(b"line %04d %s\n" % (i, b"z" * 1000) for i in range(100))
    for i in range(0, len(payload), 20 * 1011):
        udp_send(port, payload[i:i + 20 * 1011])
    expected = payload.replace(b"\n", b"\r\n")

    ro = w.path("read-only")
    os.makedirs(ro)
    write(os.path.join(ro, "old.log"), b"old bytes\n")
    os.chmod(ro, 0o555)
    full = w.path("small-disk")
    w.mount_tmpfs(full, "64k")
    write(os.path.join(full, "old.log"), b"old bytes\n")
    for folder in (ro, full):
        app.save_as(os.path.join(folder, "old.log"), confirm_overwrite=True)
        app.wait_message()
        check(read(os.path.join(folder, "old.log")) == b"old bytes\n", "the old file in %s changed" % folder)
        check(os.listdir(folder) == ["old.log"], "left in %s: %s" % (folder, os.listdir(folder)))
    # Nor is a save put in the place of a device, a FIFO or a socket (nor written into one): a null
    # device of the case's own stands for the machine's, which a faulty save would replace.
    specials = special_files(w)[0]
    for name, kind in (("null", stat.S_ISCHR), ("fifo", stat.S_ISFIFO), ("socket", stat.S_ISSOCK)):
        app.save_as(os.path.join(specials, name), confirm_overwrite=True)
        app.wait_message(timeout=10)
        check(kind(os.stat(os.path.join(specials, name)).st_mode), "the save replaced %s" % name)
    check(sorted(os.listdir(specials)) == ["fifo", "null", "socket"], "left: %s" % os.listdir(specials))
    # The log is whole, and still has no file: Ctrl+S asks again.
    app.log_is(expected, w.path("good.log"))
    app.check_alone("after the failed saves")


@case()
def log_store(w):
    """The log goes to a file without a name in the cache folder. On a full cache disk one message
    says so, nothing received is lost and receiving goes on; nothing is left in the folder when the
    program ends, through Exit or by kill -9."""
    cache = w.path("cache")
    w.mount_tmpfs(cache, "2m")
    store = os.path.join(cache, "Sumpwell")
    free = lambda: os.statvfs(cache).f_bfree
    empty = free()
    app = App(w, cache=cache)
    app.wait_main_window()
    port = free_port()
    app.make_connection(port, "tcp")
    payload = b"".join(b"line %06d %s\n" % (i, b"x" * 90) for i in range(40000))   # twice the disk
    nc_send(port, payload)
    app.wait_message()
    app.make_connection(port, "tcp")
    nc_send(port, b"after the disk filled\n")
    app.log_is(payload.replace(b"\n", b"\r\n") + CLOSE_LINE + b"after the disk filled\r\n" + CLOSE_LINE,
               w.path("full.log"))
    app.check_alone("after the disk filled")
    app.exit()
    check(os.listdir(store) == [] and free() == empty, "left in the cache: %s" % os.listdir(store))

    app = App(w, cache=cache, name="killed")
    app.wait_main_window()
    app.make_connection(port, "tcp")
    nc_send(port, payload[:1500000])
    wait_until(lambda: free() <= empty - 256 or None, 20, "the log to reach the cache disk")
    check(os.listdir(store) == [], "the log's file has a name: %s" % os.listdir(store))
    app.kill()
    wait_until(lambda: free() == empty or None, 20, "the cache disk to be free after kill -9")


def special_files(w):
    """A folder, two devices, a FIFO nobody writes and a listening socket's file: the folder first.
    In the folder, the FIFO, the socket and a null device of the case's own ("null")."""
    folder = w.path("specials")
    fifo, sock = os.path.join(folder, "fifo"), os.path.join(folder, "socket")
    os.makedirs(folder)
    os.mknod(os.path.join(folder, "null"), 0o666 | stat.S_IFCHR, os.makedev(1, 3))
    os.mkfifo(fifo)
    w.socket = socket.socket(socket.AF_UNIX)
    w.socket.bind(sock)
    w.socket.listen()
    return [folder, "/dev/null", "/dev/zero", fifo, sock]


@case()
def open_failures(w):
    """Opening a file that cannot be read, or what is not a regular file (a folder, a device, a FIFO,
    a socket), is reported at once and leaves the log as it was, the window idle and answering;
    started with such a path or a file that is gone, the program says so and ends, without a window
    left behind."""
    app = App(w)
    app.wait_main_window()
    # What is not a regular file is refused at once, and the window goes on, idle, its commands
    # answering: through Ctrl+O (the dialog goes into a folder rather than open it), and from the
    # command line below.
    specials = special_files(w)
    for path in specials[1:]:
        begun = time.monotonic()
        app.choose_file("ctrl+o", "Open", path)
        app.wait_message(timeout=10)
        log("%s refused, %.2f s after Ctrl+O" % (path, time.monotonic() - begun))
        app.check_alone("after opening %s" % path)
    cpu = cpu_seconds(app.pid)
    port = free_port(socket.SOCK_DGRAM)
    app.make_connection(port, "udp")
    udp_send(port, b"kept\n")
    app.log_is(b"kept\r\n")
    locked = w.path("locked.log")
    write(locked, b"secret\n", 0o000)
    app.choose_file("ctrl+o", "Open", locked)
    app.wait_message()
    app.check_alone("after the failed open")
    udp_send(port, b"still received\n")
    app.log_is(b"kept\r\nstill received\r\n")
    check(cpu_seconds(app.pid) - cpu < 2, "busy after the refused opens: %.2f s of CPU" % (cpu_seconds(app.pid) - cpu))

    for path in [w.path("gone.log")] + specials:
        second = App(w, [path], name="app-" + os.path.basename(path))
        second.wait_message(timeout=30)
        wait_until(lambda: second.proc.poll() is not None, 20, "the program to end after the message on %s" % path)
        check(visible_windows(second.pid) == [], "windows left: %s" % visible_windows(second.pid))


@case()
def profile_faults(w):
    """Settings that cannot be written: a read-only folder, or a read-only file whose port and
    protocol are offered and used. The program starts, binds, says nothing and stores nothing."""
    locked = w.path("locked-config")
    os.makedirs(locked, mode=0o555)
    os.chmod(locked, 0o555)
    port = free_port()
    ini = w.path("frozen-config", "Sumpwell", "Sumpwell.ini")
    os.makedirs(os.path.dirname(ini))
    write(ini, b"[Connect]\nPort=%d\nProtocol=1\n" % port, 0o444)
    os.chmod(os.path.dirname(ini), 0o555)
    for config, typed in ((locked, True), (w.path("frozen-config"), False)):
        app = App(w, config=config, name=os.path.basename(config))
        app.wait_main_window()
        app.check_alone("at start with %s" % config)
        app.make_connection(port, "tcp" if typed else None, typed=typed)
        check(bound_by(app.pid, "tcp") == [("127.0.0.1", port)], "not bound over TCP with %s" % config)
        app.check_alone("after binding with %s" % config)
        app.exit()
    check(os.listdir(locked) == [], "written into the read-only settings folder: %s" % os.listdir(locked))
    check(read(ini) == b"[Connect]\nPort=%d\nProtocol=1\n" % port, "the read-only settings file changed")


# ---- Running ------------------------------------------------------------------------------------------

SANITIZER_REPORTS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "WARNING: AddressSanitizer",
                     "runtime error:")


def finish(w):
    """Every program still running leaves through Connection > Exit and ends with exit code 0 (a
    sanitizer build reports leaks there); no program printed a sanitizer report."""
    for app in w.apps:
        if app.proc.poll() is None and app.main is not None:
            app.exit()
    for app in w.apps:
        out = (read(app.log_path) or b"").decode(errors="replace")
        for mark in SANITIZER_REPORTS:
            check(mark not in out, "%s printed a sanitizer report (%s):\n%s" % (app.name, mark, out[-6000:]))


def run_case(name, program, keep):
    fn, wm = CASES[name]
    w = xworld.World(SCREEN, wm=wm, prefix="sumpwell-e2e-")
    w.program, w.apps = program, []
    ok = False
    try:
        w.start()
        log("case %s in %s on %s%s" % (name, w.dir, w.display, " under openbox" if wm else ""))
        fn(w)
        finish(w)
        ok = True
        log("case %s passed" % name)
    except Exception as e:  # noqa: BLE001 - every failure is reported the same way
        log("case %s FAILED: %s" % (name, e))
        traceback.print_exc()
        for app in w.apps:
            out = (read(app.log_path) or b"").decode(errors="replace")
            if out.strip():
                log("program output (%s):\n%s" % (app.log_path, out[-4000:]))
    finally:
        for app in w.apps:
            app.kill()
        w.stop()
        if ok and not keep:
            subprocess.run(["chmod", "-R", "u+rwx", w.dir])
            subprocess.run(["rm", "-rf", w.dir])
        else:
            log("files kept in %s" % w.dir)
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", help="the sumpwell executable")
    parser.add_argument("--keep", action="store_true", help="keep each case's folder")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("cases", nargs="*")
    args = parser.parse_args()
    if args.list:
        print("\n".join(CASES))
        return 0
    unknown = [c for c in args.cases if c not in CASES]
    if unknown or not args.program:
        parser.error("give --program and cases from: %s" % " ".join(CASES))
    if not xworld.inside():
        missing = xworld.missing_tools(TOOLS)
        if missing:
            print("missing tools: %s (scripts/install-deps installs them)" % " ".join(missing), flush=True)
            return 1
        if os.geteuid() != 0:
            print("skipped: needs root for the namespaces and the permission cases", flush=True)
            return 77
        return xworld.enter([sys.executable, os.path.abspath(__file__)] + sys.argv[1:])
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    program = os.path.abspath(args.program)
    failed = [c for c in (args.cases or list(CASES)) if not run_case(c, program, args.keep)]
    print("%d passed, %d failed" % (len(args.cases or CASES) - len(failed), len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
