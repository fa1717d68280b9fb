#!/usr/bin/env python3
"""End-to-end tests of the real sumpwell program, driven as a user would drive it.

Each case runs in a world of its own: a private network namespace whose only interface is
loopback (so the program, which binds the address its host name resolves to, binds 127.0.0.1 and
nothing sent here can leave the machine), a private mount namespace (a private X socket folder, and
room for a small full file system), and a private PID namespace (every process of the case dies
with it, whatever ends the case). Inside, an Xvfb of its own, the program under it, keys pressed
with xdotool, text sent with socat, nc and plain sockets, and the log read back by saving it
through the program's own Save dialog and comparing the file's bytes.

Usage: sumpwell_e2e.py --program PATH CASE...   (or --list)
Standard library only. Needs root (namespaces), Xvfb, xdotool, xclip, xwd, socat, nc, ip,
unshare and setpriv.
"""
import argparse
import os
import random
import re
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import time
import traceback

CLOSE_LINE = b"Sumpwell Status>Connection closed by client\r\n"
MAIN_TITLE = "Sumpwell"
SCREEN = (1366, 770)          # three quarters of it is not whole: the rounding is seen too
IN_WORLD = "SUMPWELL_E2E_WORLD"
TOOLS = ["Xvfb", "xdotool", "xclip", "xwd", "socat", "nc", "ip", "unshare", "setpriv", "mount"]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(predicate, timeout, what, interval=0.02):
    """Polls predicate until it returns something true; fails with `what` at the deadline."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Failure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def log(message):
    print("[%7.2f] %s" % (time.monotonic() - START, message), flush=True)


START = time.monotonic()


# ---- The world: namespaces and an X server of its own ---------------------------------------------

def enter_world(argv):
    """Runs this script again inside fresh network, mount and PID namespaces."""
    missing = [t for t in TOOLS if shutil.which(t) is None]
    if missing:
        print("missing tools: %s (scripts/install-deps installs them)" % " ".join(missing), flush=True)
        return 1
    if os.geteuid() != 0:
        print("skipped: needs root to make network, mount and PID namespaces", flush=True)
        return 77
    env = dict(os.environ, **{IN_WORLD: "1"})
    # --kill-child: if ctest kills unshare, the namespace's first process dies, and with it all.
    cmd = ["unshare", "--net", "--mount", "--pid", "--fork", "--kill-child", "--mount-proc",
           sys.executable, os.path.abspath(__file__)] + argv
    return subprocess.call(cmd, env=env)


def set_up_world():
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    with open("/proc/self/net/dev") as f:
        interfaces = sorted(line.split(":")[0].strip() for line in f.readlines()[2:])
    # Nothing here may reach beyond this machine: loopback alone, or stop.
    check(interfaces == ["lo"], "the private network has interfaces besides lo: %s" % interfaces)
    # A private folder for X sockets, so that no other X server on this machine is touched.
    os.makedirs("/tmp/.X11-unix", exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m,mode=1777", "tmpfs", "/tmp/.X11-unix"], check=True)


class World:
    def __init__(self, program, keep):
        self.program = program
        self.keep = keep
        self.dir = tempfile.mkdtemp(prefix="sumpwell-e2e-")
        self.procs = []
        self.apps = []
        self.mounts = []
        self.xvfb = None
        self.display = None

    # Processes started here are all this case's own; stop() ends each by its PID.
    def spawn(self, cmd, **kw):
        p = subprocess.Popen(cmd, **kw)
        self.procs.append(p)
        return p

    def start_x(self):
        r, w = os.pipe()
        xlog = open(os.path.join(self.dir, "xvfb.log"), "wb")
        self.xvfb = self.spawn(["Xvfb", "-displayfd", str(w), "-nolock", "-noreset", "-nolisten", "tcp",
                                "-screen", "0", "%dx%dx24" % SCREEN],
                               pass_fds=(w,), stdout=xlog, stderr=xlog)
        os.close(w)
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            check(time.monotonic() < deadline, "Xvfb did not start")
            chunk = os.read(r, 16)
            check(chunk, "Xvfb ended before it was ready")
            number += chunk
        os.close(r)
        self.display = ":" + number.decode().strip()
        os.environ["DISPLAY"] = self.display
        log("Xvfb on %s" % self.display)

    def stop(self):
        for app in self.apps:
            app.kill()
        for p in reversed(self.procs):
            if p.poll() is None:
                p.kill()
                try:
                    p.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    pass
        for m in reversed(self.mounts):
            subprocess.run(["umount", "-l", m], stderr=subprocess.DEVNULL)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def mount_tmpfs(self, where, size):
        os.makedirs(where, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%s,mode=0755" % size, "tmpfs", where], check=True)
        self.mounts.append(where)


# ---- X helpers ---------------------------------------------------------------------------------------

def xdo(*args, check_rc=True):
    r = subprocess.run(["xdotool"] + [str(a) for a in args], stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=20)
    if check_rc and r.returncode != 0:
        raise Failure("xdotool %s failed: %s" % (" ".join(map(str, args)), r.stderr.decode(errors="replace")))
    return r.stdout.decode(errors="replace")


def visible_windows(pid=None):
    """[(window id, name)] of the visible windows with a name, of one process or all."""
    args = ["search", "--all", "--onlyvisible"]   # --all: every condition, not any
    if pid is not None:
        args += ["--pid", pid]
    ids = xdo(*args, "--name", ".", check_rc=False).split()
    out = []
    for wid in ids:
        name = subprocess.run(["xdotool", "getwindowname", wid], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=20).stdout.decode(errors="replace").strip()
        out.append((int(wid), name))
    return out


def screen_size():
    w, h = xdo("getdisplaygeometry").split()
    return int(w), int(h)


def geometry(wid):
    out = xdo("getwindowgeometry", "--shell", wid)
    values = dict(line.split("=", 1) for line in out.split())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def clipboard():
    r = subprocess.run(["xclip", "-o", "-selection", "clipboard"], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, timeout=20)
    return r.stdout.decode(errors="replace") if r.returncode == 0 else None


def set_clipboard_marker():
    """Puts a marker on the clipboard, so that a copy that did not happen is told from one that did."""
    marker = "nothing-copied-%d" % random.randrange(1 << 30)
    p = subprocess.Popen(["xclip", "-i", "-selection", "clipboard", "-loops", "1"], stdin=subprocess.PIPE,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    p.stdin.write(marker.encode())
    p.stdin.close()
    return marker, p


def window_pixels(wid):
    """(width, height, bytes per line, pixel bytes) of a window's image, from xwd."""
    data = subprocess.run(["xwd", "-id", str(wid), "-silent"], stdout=subprocess.PIPE, check=True,
                          timeout=20).stdout
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    bytes_per_line, ncolors = fields[12], fields[19]
    start = header_size + ncolors * 12
    return width, height, bytes_per_line, data[start:start + bytes_per_line * height]


# ---- /proc: sockets ---------------------------------------------------------------------------------

def proc_net(kind):
    """Rows of /proc/net/tcp or /proc/net/udp: dicts of local address, port, state, queues, inode."""
    rows = []
    with open("/proc/net/" + kind) as f:
        next(f)
        for line in f:
            p = line.split()
            addr, port = p[1].split(":")
            tx, rx = p[4].split(":")
            rows.append({"addr": socket.inet_ntoa(struct.pack("<I", int(addr, 16))), "port": int(port, 16),
                         "state": p[3], "tx": int(tx, 16), "rx": int(rx, 16), "inode": int(p[9])})
    return rows


def socket_inodes(pid):
    inodes = set()
    fd_dir = "/proc/%d/fd" % pid
    for fd in os.listdir(fd_dir):
        try:
            target = os.readlink(os.path.join(fd_dir, fd))
        except OSError:
            continue
        m = re.match(r"socket:\[(\d+)\]", target)
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


def server_side_unread(port):
    """Bytes waiting unread in the program's accepted connections on port."""
    return sum(r["rx"] for r in proc_net("tcp") if r["port"] == port and r["state"] == "01")


def free_port(kind=socket.SOCK_STREAM):
    s = socket.socket(socket.AF_INET, kind)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


# ---- Senders (127.0.0.1 only) ---------------------------------------------------------------------

def udp_send(port, payload):
    """One datagram through socat."""
    r = subprocess.run(["socat", "-u", "-b", "65536", "STDIN", "UDP-SENDTO:127.0.0.1:%d" % port],
                       input=payload, timeout=20)
    check(r.returncode == 0, "socat could not send a datagram")


def nc_send(port, payload):
    """A TCP client through nc: connects, sends, shuts its side and waits for the program to close."""
    r = subprocess.run(["nc", "-N", "127.0.0.1", str(port)], input=payload, stdout=subprocess.DEVNULL,
                       timeout=30)
    check(r.returncode == 0, "nc could not send to port %d (exit %d)" % (port, r.returncode))


class SocatClient:
    """A TCP client through socat whose bytes are given piece by piece."""
    def __init__(self, world, port):
        self.p = world.spawn(["socat", "-u", "STDIN", "TCP:127.0.0.1:%d" % port], stdin=subprocess.PIPE)

    def send(self, data):
        self.p.stdin.write(data)
        self.p.stdin.flush()

    def close(self):
        self.p.stdin.close()
        check(self.p.wait(timeout=20) == 0, "socat client ended with an error")


# ---- The program ---------------------------------------------------------------------------------

class App:
    def __init__(self, world, args=(), config=None, name="app"):
        self.world = world
        self.config = config or world.path("config")
        os.makedirs(self.config, exist_ok=True)
        run = world.path("run")
        os.makedirs(run, mode=0o700, exist_ok=True)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "XDG_"))}
        env.update({"DISPLAY": world.display, "QT_QPA_PLATFORM": "xcb", "XDG_CONFIG_HOME": self.config,
                    "XDG_RUNTIME_DIR": run, "HOME": world.path("home"), "LANG": "C.UTF-8",
                    "QT_ACCESSIBILITY": "0", "NO_AT_BRIDGE": "1"})
        os.makedirs(env["HOME"], exist_ok=True)
        # A sanitizer build leaves through LeakSanitizer: leaks inside the system libraries named
        # in the project's suppression file are not the program's (the test stage sets the same).
        env.setdefault("LSAN_OPTIONS", "suppressions=" + os.path.join(
            os.path.dirname(os.path.abspath(__file__)), "..", "sanitizers", "lsan.supp"))
        self.name = name
        self.log_path = world.path(name + ".out")
        out = open(self.log_path, "wb")
        # Without the right to pass over file permissions, as an ordinary user: a folder or file that
        # is not writable or readable is so for the program too.
        cmd = ["setpriv", "--bounding-set", "-dac_override,-dac_read_search",
               "--inh-caps", "-dac_override,-dac_read_search", "--", world.program] + list(args)
        self.proc = world.spawn(cmd, stdout=out, stderr=out, cwd=world.dir, env=env)
        self.pid = self.proc.pid
        world.apps.append(self)
        self.main = None
        self.saved_to = None

    def wait_main_window(self, timeout=30):
        def find():
            check(self.proc.poll() is None, "the program ended (exit %s) before its window showed" % self.proc.poll())
            wins = [w for w, n in visible_windows(self.pid) if n == MAIN_TITLE]
            return wins[0] if wins else None
        self.main = wait_until(find, timeout, "the main window")
        return self.main

    def windows(self):
        return visible_windows(self.pid)

    def find(self, pattern):
        """Ids of this program's visible windows whose name matches pattern, besides the main one."""
        out = xdo("search", "--all", "--onlyvisible", "--pid", self.pid, "--name", pattern, check_rc=False)
        return [int(w) for w in out.split() if int(w) != self.main]

    def others(self):
        """Visible windows besides the main one."""
        return [(w, n) for w, n in self.windows() if w != self.main]

    def message_boxes(self):
        return self.find("^%s$" % MAIN_TITLE)

    def check_alone(self, when):
        extra = self.others()
        check(not extra, "%s: windows besides the main one: %s" % (when, extra))

    def focus(self, wid):
        xdo("windowfocus", "--sync", wid)

    def key(self, wid, *keys):
        """Gives wid the keyboard focus and presses keys, one after the other."""
        xdo("windowfocus", "--sync", wid, "key", "--clearmodifiers", *keys)

    def type(self, wid, text):
        xdo("windowfocus", "--sync", wid, "type", "--delay", "4", "--clearmodifiers", text)

    def wait_window(self, pattern, timeout=20):
        def find():
            check(self.proc.poll() is None, "the program ended while waiting for a window /%s/" % pattern)
            found = self.find(pattern)
            return found[0] if found else None
        return wait_until(find, timeout, "a window named /%s/ (have %s)" % (pattern, self.windows()), interval=0.01)

    def wait_gone(self, wid, timeout=20):
        wait_until(lambda: subprocess.run(["xwininfo", "-id", str(wid)], stdout=subprocess.PIPE,
                                          stderr=subprocess.DEVNULL).stdout.find(b"IsViewable") < 0,
                   timeout, "window %d to close" % wid, interval=0.01)

    def copy_from(self, wid):
        """What Ctrl+C in the window puts on the clipboard: the focused field's selected text."""
        marker, holder = set_clipboard_marker()
        wait_until(lambda: clipboard() == marker, 10, "the clipboard marker")
        self.key(wid, "ctrl+c")
        text = wait_until(lambda: (lambda c: c if c not in (None, marker) else None)(clipboard()), 10,
                          "text copied from window %d" % wid)
        if holder.poll() is None:
            holder.kill()
        holder.wait()
        return text

    def wait_message(self, timeout=20):
        """Waits for a message box (a second window captioned Sumpwell) and answers it with Return.
        Qt's message boxes on X11 give no way to copy their text, so only that it showed is told."""
        box = wait_until(lambda: (self.message_boxes() or [None])[0], timeout, "a message box")
        check(len(self.message_boxes()) == 1, "more than one message box: %s" % self.message_boxes())
        self.key(box, "Return")
        self.wait_gone(box)

    # ---- Connection > Make Connection (F2)

    def make_connection(self, port, protocol=None, expect_bound=True):
        """F2, the port typed over the offered one, the protocol chosen with Tab and Space when given,
        then Return. Returns the port text that the dialog offered."""
        self.key(self.main, "F2")
        dlg = self.wait_window(r"^Make Host Connection")
        offered = self.copy_from(dlg)        # the port field is focused, its text selected
        self.type(dlg, str(port))
        if protocol == "udp":
            self.key(dlg, "Tab", "space")
        elif protocol == "tcp":
            self.key(dlg, "Tab", "Tab", "space")
        self.key(dlg, "Return")
        self.wait_gone(dlg)
        if expect_bound:
            def bound():
                got = bound_by(self.pid, "udp") + bound_by(self.pid, "tcp")
                return got if any(p == port for _, p in got) else None
            got = wait_until(bound, 20, "the program to bind port %d" % port)
            check(got == [("127.0.0.1", port)], "bound %s, wanted only 127.0.0.1:%d" % (got, port))
            if protocol is not None:
                check(bound_by(self.pid, protocol) == [("127.0.0.1", port)],
                      "port %d is not bound as %s" % (port, protocol))
        return offered

    def reconnect(self, port):
        """F2 and Return: the connection made again with what the dialog offers."""
        self.key(self.main, "F2")
        dlg = self.wait_window(r"^Make Host Connection")
        self.key(dlg, "Return")
        self.wait_gone(dlg)
        wait_until(lambda: tcp_listening(port), 20, "port %d to listen again" % port, interval=0.005)

    # ---- Reading the log back: File Save

    def save_as(self, path, confirm_overwrite=False):
        """Ctrl+S while the log has no file: the Save dialog, the path typed, Return."""
        self.key(self.main, "ctrl+s")
        dlg = self.wait_window(r"^Save As")
        self.type(dlg, path)
        self.key(dlg, "Return")
        if confirm_overwrite:
            ask = wait_until(lambda: [w for w in self.find("^Save As") if w != dlg] or None,
                             20, "the question whether to replace %s" % path)[0]
            self.key(ask, "y")
        self.wait_gone(dlg)

    def save(self, path):
        """Ctrl+S once the log has a file: no dialog, the file rewritten (a new inode, being replaced)."""
        before = os.stat(path)
        self.key(self.main, "ctrl+s")
        wait_until(lambda: (lambda s: s and (s.st_ino, s.st_mtime_ns) != (before.st_ino, before.st_mtime_ns))(
            stat_or_none(path)), 20, "Ctrl+S to rewrite %s" % path)
        self.check_alone("after Ctrl+S of a log with a file")

    def log_is(self, expected, path=None, timeout=30):
        """Saves the log (through the dialog the first time) until the file holds exactly expected."""
        if self.saved_to is None:
            self.saved_to = path or self.world.path("log-%d.txt" % random.randrange(1 << 30))
            self.save_as(self.saved_to)
            wait_until(lambda: os.path.exists(self.saved_to), 20, "the Save dialog to write %s" % self.saved_to)
            self.check_alone("after the first save")
        deadline = time.monotonic() + timeout
        while True:
            got = read(self.saved_to)
            if got == expected:
                return
            if time.monotonic() >= deadline:
                raise Failure("the log is not what was sent.\n%s" % diff(expected, got))
            self.save(self.saved_to)

    # ---- Leaving

    def popups(self):
        """This program's visible windows of any kind, named or not (menus have no name)."""
        out = xdo("search", "--all", "--onlyvisible", "--pid", self.pid, "--classname", ".", check_rc=False)
        return {int(w) for w in out.split()}

    def exit_by_menu(self):
        """Connection > Exit with the keyboard: Alt+C opens the menu, X is Exit's key."""
        before = self.popups()
        self.key(self.main, "alt+c")
        wait_until(lambda: self.popups() - before, 20, "the Connection menu to open", interval=0.01)
        xdo("key", "x")

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout=10)

    def output(self):
        return read(self.log_path).decode(errors="replace")


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


def stat_or_none(path):
    try:
        return os.stat(path)
    except OSError:
        return None


def diff(expected, got):
    if got is None:
        return "no file"
    n = 0
    while n < min(len(expected), len(got)) and expected[n] == got[n]:
        n += 1
    return ("expected %d bytes, got %d; first difference at byte %d:\n  expected %r\n  got      %r"
            % (len(expected), len(got), n, expected[max(0, n - 40):n + 40], got[max(0, n - 40):n + 40]))


def lines_of(payload):
    """The log bytes of received text: each non-empty line followed by CR LF."""
    return b"".join(line + b"\r\n" for line in payload.split(b"\n") if line)


def socket_fd_count(pid):
    return len(socket_inodes(pid))


def status_strip(app):
    """The bottom rows of the main window, where the status bar's panes are drawn."""
    width, height, bpl, pixels = window_pixels(app.main)
    rows = 16
    return pixels[bpl * (height - rows - 3):bpl * (height - 3)]


def settle_strip(app, timeout=10):
    """The status strip once two captures in a row agree (the pane is repainted after a change)."""
    last = [None]

    def stable():
        now = status_strip(app)
        same = now == last[0]
        last[0] = now
        return now if same else None
    return wait_until(stable, timeout, "the status bar to settle", interval=0.1)


# ---- Cases ---------------------------------------------------------------------------------------------

CASES = {}


def case(fn):
    CASES[fn.__name__] = fn
    return fn


@case
def startup(w):
    """One window captioned Sumpwell, three quarters of the screen each way, centred; bound to nothing."""
    app = App(w)
    main = app.wait_main_window()
    sw, sh = screen_size()
    check((sw, sh) == SCREEN, "screen is %dx%d" % (sw, sh))
    cx, cy = int(sw * 3 / 4), int(sh * 3 / 4)
    expected = ((sw - cx) // 2, (sh - cy) // 2, cx, cy)
    got = geometry(main)
    check(got == expected, "window at %s (x, y, width, height), expected %s" % (got, expected))
    all_named = [n for _, n in app.windows()]
    check(all_named == [MAIN_TITLE], "visible windows of the program: %s" % all_named)
    check(bound_by(app.pid, "udp") == [] and bound_by(app.pid, "tcp") == [],
          "bound before any connection was made: %s" % (bound_by(app.pid, "udp") + bound_by(app.pid, "tcp")))
    # Still one window and nothing bound a moment of work later: the log saves empty.
    app.log_is(b"")


@case
def udp(w):
    """F2 on a first run offers port 80 over UDP; Return binds; datagrams become lines."""
    app = App(w)
    app.wait_main_window()
    no_connection = settle_strip(app)
    port = free_port(socket.SOCK_DGRAM)
    offered = app.make_connection(port)
    check(offered == "80", "first run offered port %r, not 80" % offered)
    check(bound_by(app.pid, "udp") == [("127.0.0.1", port)], "not bound over UDP (the offered protocol)")
    check(settle_strip(app) != no_connection, "the status bar still looks as it did with no connection")
    sent = [b"first line\nsecond\n\n\nthird", b"fourth\r\n", b"\n\n", b"caf\xc3\xa9 \x00 \xff\n"]
    for d in sent:
        udp_send(port, d)
    app.log_is(b"".join(lines_of(d) for d in sent))
    profile = read(os.path.join(app.config, "Sumpwell", "Sumpwell.ini")) or b""
    check(re.search(rb"(?m)^Port=%d\s*$" % port, profile) and re.search(rb"(?m)^Protocol=0\s*$", profile),
          "the profile does not keep port %d over UDP:\n%r" % (port, profile))
    app.check_alone("after receiving")


@case
def tcp(w):
    """TCP chosen in the dialog; a line sent in two pieces; the client's close logged and the binding
    ended; the same port bound again at once."""
    app = App(w)
    app.wait_main_window()
    at_start = settle_strip(app)
    port = free_port()
    app.make_connection(port, "tcp")
    connected = settle_strip(app)
    check(connected != at_start, "the status bar still looks as it did with no connection")
    client = SocatClient(w, port)
    client.send(b"hel")
    # The first piece has been read by the program before the second is sent.
    wait_until(lambda: any(r["port"] == port and r["state"] == "01" for r in proc_net("tcp"))
               and server_side_unread(port) == 0, 20, "the program to read the first piece")
    client.send(b"lo\n")
    client.close()
    app.log_is(b"hello\r\n" + CLOSE_LINE)
    check(not tcp_listening(port), "port %d still listens after the client closed" % port)
    check(bound_by(app.pid, "tcp") == [], "still bound after the close")
    closed = settle_strip(app)
    check(closed != connected, "the status bar still says what it said while connected")
    # Right away again: the dialog offers the same port and protocol; Return alone binds it.
    offered = app.make_connection(port, None)
    check(offered == str(port), "the dialog offered %r, not the port just used" % offered)
    check(bound_by(app.pid, "tcp") == [("127.0.0.1", port)], "the second binding is not TCP")
    check(settle_strip(app) == connected, "the status bar says something else for the same binding")
    nc_send(port, b"again\nno line feed at the close")
    app.log_is(b"hello\r\n" + CLOSE_LINE + b"again\r\nno line feed at the close\r\n" + CLOSE_LINE)
    check(not tcp_listening(port), "port %d still listens after the second client closed" % port)
    check(settle_strip(app) == closed, "the status bar says something else after the same close")
    app.check_alone("after two sessions")


@case
def open_and_save_back(w):
    """Started with a file: the log is that file's bytes; Ctrl+S writes them back unchanged with no
    dialog; received lines follow them."""
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


@case
def new_keeps_connection(w):
    """Ctrl+N empties the log without a question; the binding stays and goes on receiving."""
    app = App(w)
    app.wait_main_window()
    port = free_port(socket.SOCK_DGRAM)
    app.make_connection(port, "udp")
    udp_send(port, b"before\n")
    first = w.path("before.log")
    app.log_is(b"before\r\n", first)
    app.key(app.main, "ctrl+n")
    app.check_alone("after Ctrl+N")
    check(bound_by(app.pid, "udp") == [("127.0.0.1", port)], "Ctrl+N ended the binding")
    udp_send(port, b"after\n")
    # A new log has no file: Ctrl+S asks for one again.
    app.saved_to = None
    app.log_is(b"after\r\n", w.path("after.log"))
    check(read(first) == b"before\r\n", "the first file changed")


@case
def exit_asks_nothing(w):
    """Connection > Exit with received text: the program ends, and asks nothing on the way."""
    app = App(w)
    app.wait_main_window()
    port = free_port()
    app.make_connection(port, "tcp")
    client = SocatClient(w, port)
    client.send(b"received text\nand an open line")
    wait_until(lambda: server_side_unread(port) == 0 and any(
        r["port"] == port and r["state"] == "01" for r in proc_net("tcp")), 20, "the text to be read")
    app.exit_by_menu()

    def ended():
        check(not app.message_boxes(), "a message box showed on exit")
        return app.proc.poll() is not None
    wait_until(ended, 20, "the program to end")
    check(app.proc.returncode == 0, "exit code %d" % app.proc.returncode)
    client.p.stdin.close()
    client.p.wait(timeout=20)


@case
def faults_clients(w):
    """A silent client, a client that resets with a line half sent, clients still read after their
    binding ended: nothing blocks, nothing is lost, no socket is left behind."""
    app = App(w)
    app.wait_main_window()
    baseline = socket_fd_count(app.pid)
    port = free_port()
    app.make_connection(port, "tcp")
    silent = socket.create_connection(("127.0.0.1", port))
    talker = SocatClient(w, port)
    talker.send(b"from the talker\n")
    expected = b"from the talker\r\n"
    app.log_is(expected)
    # Connects, sends half a line, resets.
    rst = socket.create_connection(("127.0.0.1", port))
    rst.sendall(b"cut short by a reset")
    wait_until(lambda: server_side_unread(port) == 0, 20, "the half line to be read")
    rst.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    rst.close()
    expected += b"cut short by a reset\r\n" + CLOSE_LINE
    app.log_is(expected)
    check(not tcp_listening(port), "the reset did not end the binding")
    # The clients accepted before are still read.
    talker.send(b"talker after the binding ended\n")
    expected += b"talker after the binding ended\r\n"
    app.log_is(expected)
    silent.sendall(b"the silent one speaks\n")
    silent.close()
    expected += b"the silent one speaks\r\n" + CLOSE_LINE
    app.log_is(expected)
    talker.close()
    expected += CLOSE_LINE
    app.log_is(expected)
    wait_until(lambda: socket_fd_count(app.pid) == baseline, 20,
               "the program's sockets to come back to %d (has %d)" % (baseline, socket_fd_count(app.pid)))
    # And it still answers: the same port again.
    app.make_connection(port, None)
    nc_send(port, b"still answering\n")
    expected += b"still answering\r\n" + CLOSE_LINE
    app.log_is(expected)
    app.check_alone("after the faults")


@case
def thousand_clients(w):
    """1,000 TCP clients, one after another, each sending a line and leaving; after each close the
    connection is made again with F2 and Return. No socket descriptor is left behind."""
    app = App(w)
    app.wait_main_window()
    port = free_port()
    app.make_connection(port, "tcp")
    total, expected = 1000, []
    deadline = time.monotonic() + 420
    baseline = None
    for i in range(total):
        check(time.monotonic() < deadline, "only %d sessions before the deadline" % i)
        line = b"client %d says hello" % i
        with socket.create_connection(("127.0.0.1", port), timeout=10) as c:
            c.sendall(line + b"\n")
        expected.append(line + b"\r\n" + CLOSE_LINE)
        wait_until(lambda: not tcp_listening(port), 20, "session %d's close to end the binding" % i, interval=0.005)
        if i == 4:
            # The first sessions may open what the process keeps for good.
            baseline = socket_fd_count(app.pid)
        app.reconnect(port)
        if i % 100 == 99:
            log("%d sessions" % (i + 1))
    count = socket_fd_count(app.pid)
    # One socket more than between sessions: the binding made again after the last one.
    check(count == baseline + 1, "socket descriptors: %d after 1,000 sessions, %d after 5 (+1 bound)" % (count, baseline))
    app.log_is(b"".join(expected), timeout=60)
    nc_send(port, b"still answering\n")
    app.log_is(b"".join(expected) + b"still answering\r\n" + CLOSE_LINE)


@case
def save_failures(w):
    """A save into a folder that does not exist, one that is read-only and one on a full disk: each is
    reported, the old file keeps its bytes, nothing is left behind, and the log is whole after."""
    app = App(w)
    app.wait_main_window()
    port = free_port(socket.SOCK_DGRAM)
    app.make_connection(port, "udp")
    payload = b"".join(b"line %04d %s\n" % (i, b"z" * 1000) for i in range(100))
    expected = b""
    for i in range(0, len(payload), 20 * 1011):
        udp_send(port, payload[i:i + 20 * 1011])
    expected = lines_of(payload)
    check(len(expected) > 64 * 1024, "the log is too small for the full-disk case")

    missing = w.path("no", "such", "folder", "log.txt")
    app.save_as(missing)
    app.wait_message()
    check(not os.path.exists(w.path("no")), "a folder was made")

    ro = w.path("read-only")
    os.makedirs(ro)
    old = os.path.join(ro, "old.log")
    write(old, b"old bytes\n")
    os.chmod(ro, 0o555)
    app.save_as(old, confirm_overwrite=True)
    app.wait_message()
    check(read(old) == b"old bytes\n", "the old file in the read-only folder changed")
    check(os.listdir(ro) == ["old.log"], "left in the read-only folder: %s" % os.listdir(ro))

    full = w.path("small-disk")
    w.mount_tmpfs(full, "64k")
    old = os.path.join(full, "old.log")
    write(old, b"old bytes on a small disk\n")
    app.save_as(old, confirm_overwrite=True)
    app.wait_message()
    check(read(old) == b"old bytes on a small disk\n", "the old file on the full disk changed")
    check(os.listdir(full) == ["old.log"], "left on the full disk: %s" % os.listdir(full))

    # The log is whole, and still has no file: Ctrl+S asks again.
    app.log_is(expected, w.path("good.log"))
    app.check_alone("after the failed saves")


@case
def open_failures(w):
    """Opening a file that cannot be read is reported and leaves the log as it was; started with a
    file that is gone, the program says so and ends, without a window left behind."""
    app = App(w)
    app.wait_main_window()
    port = free_port(socket.SOCK_DGRAM)
    app.make_connection(port, "udp")
    udp_send(port, b"kept\n")
    app.log_is(b"kept\r\n")
    locked = w.path("locked.log")
    write(locked, b"secret\n", 0o000)
    app.key(app.main, "ctrl+o")
    dlg = app.wait_window(r"^Open")
    app.type(dlg, locked)
    app.key(dlg, "Return")
    app.wait_message()
    app.check_alone("after the failed open")
    udp_send(port, b"still received\n")
    app.log_is(b"kept\r\nstill received\r\n")

    gone = w.path("gone.log")
    second = App(w, [gone], name="app-gone")
    box = wait_until(lambda: [wid for wid, n in visible_windows(second.pid) if n == MAIN_TITLE] or
                     check(second.proc.poll() is None, "ended without a message") or None, 30, "the message")[0]
    second.key(box, "Return")
    wait_until(lambda: second.proc.poll() is not None, 20, "the program to end after the message")
    check(visible_windows(second.pid) == [], "windows left: %s" % visible_windows(second.pid))


def bind_and_capture(w, config, port, name):
    """Starts the program with a settings folder, binds TCP port, returns (app, status strip)."""
    app = App(w, config=config, name=name)
    app.wait_main_window()
    check(not app.others(), "%s: a window besides the main one at start: %s" % (name, app.others()))
    app.make_connection(port, "tcp")
    check(not app.others(), "%s: a message after binding: %s" % (name, app.others()))
    return app, settle_strip(app)


@case
def profile_faults(w):
    """Settings that are garbage, or that cannot be written: the program starts, binds, says nothing,
    and its status bar reads as it does with good settings."""
    port = free_port()
    reference, truth = bind_and_capture(w, w.path("good-config"), port, "reference")
    reference.kill()

    rng = random.Random(11)
    garbage = w.path("garbage-config")
    os.makedirs(os.path.join(garbage, "Sumpwell"))
    write(os.path.join(garbage, "Sumpwell", "Sumpwell.ini"),
          bytes(rng.randrange(256) for _ in range(3000)) + b"\n[Connect]\nPort=\xff\xfe\x00junk\nProtocol=\x01\x02\n"
          + bytes(rng.randrange(256) for _ in range(3000)))
    app, strip = bind_and_capture(w, garbage, port, "garbage")
    check(strip == truth, "with garbage settings the status bar differs from the truth")
    app.kill()
    # What the successful bind stored is offered the next time.
    app = App(w, config=garbage, name="after-garbage")
    app.wait_main_window()
    offered = app.make_connection(port, None)
    check(offered == str(port), "after a bind over garbage settings, the dialog offered %r" % offered)
    check(bound_by(app.pid, "tcp") == [("127.0.0.1", port)], "the stored protocol was not TCP")
    app.kill()

    # A settings folder that cannot be written: nothing stored, nothing said.
    locked = w.path("locked-config")
    os.makedirs(locked, mode=0o555)
    os.chmod(locked, 0o555)
    app, strip = bind_and_capture(w, locked, port, "read-only")
    check(strip == truth, "with read-only settings the status bar differs from the truth")
    check(os.listdir(locked) == [], "written into the read-only settings folder: %s" % os.listdir(locked))
    app.kill()

    # A settings file that can be read but not written: its values are offered and used.
    frozen = w.path("frozen-config")
    os.makedirs(os.path.join(frozen, "Sumpwell"))
    ini = os.path.join(frozen, "Sumpwell", "Sumpwell.ini")
    other = free_port()
    write(ini, b"[Connect]\nPort=%d\nProtocol=1\n" % other, 0o444)
    os.chmod(os.path.join(frozen, "Sumpwell"), 0o555)
    app = App(w, config=frozen, name="frozen")
    app.wait_main_window()
    offered = app.make_connection(other, None)
    check(offered == str(other), "a read-only settings file's port was not offered: %r" % offered)
    check(bound_by(app.pid, "tcp") == [("127.0.0.1", other)], "a read-only settings file's TCP was not used")
    check(not app.others(), "a message after binding with read-only settings: %s" % app.others())
    check(read(ini) == b"[Connect]\nPort=%d\nProtocol=1\n" % other, "the read-only settings file changed")


# ---- Running ------------------------------------------------------------------------------------------

SANITIZER_REPORTS = ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "WARNING: AddressSanitizer",
                     "runtime error:")


def finish(w):
    """Every program still running leaves through Connection > Exit and ends with exit code 0 (a
    sanitizer build reports leaks there); no program printed a sanitizer report."""
    for app in w.apps:
        if app.proc.poll() is None and app.main is not None:
            app.exit_by_menu()
            wait_until(lambda: app.proc.poll() is not None, 60, "%s to end through Exit" % app.name)
            check(app.proc.returncode == 0, "%s ended with exit code %d" % (app.name, app.proc.returncode))
    for app in w.apps:
        out = app.output()
        for mark in SANITIZER_REPORTS:
            check(mark not in out, "%s printed a sanitizer report (%s):\n%s" % (app.name, mark, out[-6000:]))


def run_case(name, program, keep):
    w = World(program, keep)
    ok = False
    try:
        set_up_world()
        w.start_x()
        log("case %s in %s" % (name, w.dir))
        CASES[name](w)
        finish(w)
        ok = True
        log("case %s passed" % name)
    except Exception as e:  # noqa: BLE001 - every failure is reported the same way
        log("case %s FAILED: %s" % (name, e))
        traceback.print_exc()
        try:
            if w.display:
                subprocess.run(["xwd", "-root", "-silent", "-out", w.path("screen.xwd")], timeout=20)
                log("visible windows: %s" % visible_windows())
        except Exception:  # noqa: BLE001
            pass
        for app in w.apps:
            out = app.output()
            if out.strip():
                log("program output (%s):\n%s" % (app.log_path, out[-4000:]))
    finally:
        w.stop()
        if ok and not keep:
            subprocess.run(["chmod", "-R", "u+rwx", w.dir])
            shutil.rmtree(w.dir, ignore_errors=True)
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
    if os.environ.get(IN_WORLD) != "1":
        return enter_world(sys.argv[1:])
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    program = os.path.abspath(args.program)
    failed = [c for c in (args.cases or list(CASES)) if not run_case(c, program, args.keep)]
    print("%d passed, %d failed" % (len(args.cases or CASES) - len(failed), len(failed)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
