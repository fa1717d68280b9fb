#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A private world to run the real program in: network, mount and PID namespaces of its own, an
Xvfb of its own, and, when asked, the openbox window manager. The network's only interface is
loopback, so the program (which binds the address its host name resolves to) binds 127.0.0.1 and
nothing sent inside can leave the machine; X sockets go to a private folder, so no other X server
is touched; every process started inside dies with the world, whatever ends it.

The end-to-end tests use it as a module; bench/run.sh and scripts/screenshot through its command:

  xworld.py run [--screen WxH] [--dpi N] [--wm] -- COMMAND...
      runs COMMAND in a fresh world, with DISPLAY set and XWORLD_XVFB_PID naming the X server;
      exits with COMMAND's code.
  xworld.py window PID REGEX [SECONDS]
      waits (10 s by default) for a visible window of process PID whose name matches REGEX, and
      prints its id.

Standard library only. Needs unshare, ip, mount, Xvfb, xdotool and xprop (openbox for --wm); as an
ordinary user, unprivileged user namespaces.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

INSIDE = "XWORLD_INSIDE"
TOOLS = ["Xvfb", "xdotool", "xprop", "ip", "unshare", "mount"]


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


def missing_tools(extra=()):
    return [t for t in TOOLS + list(extra)
            if not any(os.access(os.path.join(d, t), os.X_OK) for d in os.environ.get("PATH", "").split(":"))]


def enter(argv):
    """Runs argv again inside fresh network, mount and PID namespaces; returns its exit code. As an
    ordinary user, a user namespace maps the caller to root first."""
    user = [] if os.geteuid() == 0 else ["--user", "--map-root-user"]
    # --kill-child: if unshare is killed, the namespace's first process dies, and with it all.
    cmd = ["unshare"] + user + ["--net", "--mount", "--pid", "--fork", "--kill-child", "--mount-proc"] + argv
    return subprocess.call(cmd, env=dict(os.environ, **{INSIDE: "1"}))


def inside():
    return os.environ.get(INSIDE) == "1"


def set_up_namespaces():
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    with open("/proc/self/net/dev") as f:
        interfaces = sorted(line.split(":")[0].strip() for line in f.readlines()[2:])
    # Nothing here may reach beyond this machine: loopback alone, or stop.
    check(interfaces == ["lo"], "the private network has interfaces besides lo: %s" % interfaces)
    os.makedirs("/tmp/.X11-unix", exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m,mode=1777", "tmpfs", "/tmp/.X11-unix"], check=True)


# ---- X --------------------------------------------------------------------------------------------------

def xdo(*args, check_rc=True):
    r = subprocess.run(["xdotool"] + [str(a) for a in args], stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=20)
    if check_rc and r.returncode != 0:
        raise Failure("xdotool %s failed: %s" % (" ".join(map(str, args)), r.stderr.decode(errors="replace")))
    return r.stdout.decode(errors="replace")


def window_names(wid):
    """(_NET_WM_NAME, WM_NAME) of a window, as a window manager reads them; None where unset."""
    # In the C locale xprop writes every byte beyond ASCII as an octal escape.
    out = subprocess.run(["xprop", "-id", str(wid), "_NET_WM_NAME", "WM_NAME"], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, timeout=20, env=dict(os.environ, LC_ALL="C")).stdout.decode()
    names = []
    for prop in ("_NET_WM_NAME", "WM_NAME"):
        m = re.search(r'^%s\([A-Z0-9_]+\) = "(.*)"$' % prop, out, re.M)
        names.append(m.group(1).encode().decode("unicode_escape").encode("latin-1").decode("utf-8", "replace")
                     if m else None)
    return tuple(names)


def visible_windows(pid=None):
    """[(window id, name)] of the visible windows with a name, of one process or all."""
    args = ["search", "--all", "--onlyvisible"]   # --all: every condition, not any
    if pid is not None:
        args += ["--pid", pid]
    out = []
    for wid in xdo(*args, "--name", ".", check_rc=False).split():
        net_name, name = window_names(wid)
        out.append((int(wid), net_name or name or ""))
    return out


def wait_window(pid, pattern, timeout=10, exclude=()):
    """The id of a visible window of pid whose name matches pattern."""
    def find():
        found = [w for w in xdo("search", "--all", "--onlyvisible", "--pid", pid, "--name", pattern,
                                check_rc=False).split() if int(w) not in exclude]
        return int(found[0]) if found else None
    return wait_until(find, timeout, "a window of %s named /%s/" % (pid, pattern), interval=0.01)


def frame_of(wid):
    """The window manager's frame around wid: its ancestor that is a child of the root."""
    def parent_and_root(w):
        out = subprocess.run(["xwininfo", "-children", "-id", str(w)], stdout=subprocess.PIPE,
                             timeout=20).stdout.decode()
        root = int(re.search(r"Root window id: (0x[0-9a-f]+)", out).group(1), 16)
        parent = int(re.search(r"Parent window id: (0x[0-9a-f]+)", out).group(1), 16)
        return parent, root
    parent, root = parent_and_root(wid)
    while parent != root:
        wid, (parent, root) = parent, parent_and_root(parent)
    return wid


def outer_rect(wid):
    """(x, y, width, height) of a window on the screen, its X border included."""
    out = subprocess.run(["xwininfo", "-id", str(wid)], stdout=subprocess.PIPE, timeout=20).stdout.decode()
    v = {k: int(re.search(r"%s:\s+(-?\d+)" % k, out).group(1))
         for k in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height", "Border width")}
    b = v["Border width"]
    return v["Absolute upper-left X"] - b, v["Absolute upper-left Y"] - b, v["Width"] + 2 * b, v["Height"] + 2 * b


class Program:
    """A program on the world's display, driven through xdotool as a user would drive it."""

    def __init__(self, world, cmd, env, log_path):
        self.log_path = log_path
        self.proc = world.spawn(cmd, stdout=open(log_path, "wb"), stderr=subprocess.STDOUT, cwd=world.dir, env=env)
        self.pid = self.proc.pid
        self.main = None

    def wait_window(self, pattern, timeout=20, exclude=()):
        """The id of a visible window of the program, besides the main one, whose name matches."""
        def find():
            check(self.proc.poll() is None, "the program ended (exit %s) while waiting for a window /%s/"
                  % (self.proc.poll(), pattern))
            found = [int(w) for w in xdo("search", "--all", "--onlyvisible", "--pid", self.pid, "--name", pattern,
                                         check_rc=False).split() if int(w) not in (self.main,) + tuple(exclude)]
            return found[0] if found else None
        return wait_until(find, timeout, "a window named /%s/ (have %s)" % (pattern, visible_windows(self.pid)),
                          interval=0.01)

    def wait_main_window(self, title, timeout=30):
        self.main = self.wait_window("^%s$" % re.escape(title), timeout)
        return self.main

    def others(self):
        """Visible named windows besides the main one."""
        return [(w, n) for w, n in visible_windows(self.pid) if w != self.main]

    def wait_gone(self, wid, timeout=20):
        wait_until(lambda: b"IsViewable" not in subprocess.run(
            ["xwininfo", "-id", str(wid)], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout,
            timeout, "window %d to close" % wid, interval=0.01)

    def key(self, wid, *keys):
        """Gives wid the keyboard focus and presses keys, one after the other."""
        xdo("windowfocus", "--sync", wid, "key", "--clearmodifiers", *keys)

    def type(self, wid, text):
        xdo("windowfocus", "--sync", wid, "type", "--delay", "4", "--clearmodifiers", text)

    def menu(self, alt_key, item_key):
        """A menu item through the keyboard: Alt and the menu's letter, then the item's letter."""
        def shown():
            return set(xdo("search", "--all", "--onlyvisible", "--pid", self.pid, "--classname", ".",
                           check_rc=False).split())
        before = shown()
        self.key(self.main, "alt+" + alt_key)
        wait_until(lambda: shown() - before, 20, "the menu to open", interval=0.01)
        xdo("key", item_key)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout=10)


class World:
    """The processes and mounts of one run inside the namespaces; stop() ends each by its PID."""

    def __init__(self, screen=(1366, 770), dpi=None, wm=False, prefix="xworld-"):
        self.screen, self.dpi, self.wm = screen, dpi, wm
        self.dir = tempfile.mkdtemp(prefix=prefix)
        self.procs, self.mounts = [], []
        self.xvfb = None
        self.display = None

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def spawn(self, cmd, **kw):
        p = subprocess.Popen(cmd, **kw)
        self.procs.append(p)
        return p

    def start(self):
        set_up_namespaces()
        r, w = os.pipe()
        xlog = open(self.path("xvfb.log"), "wb")
        cmd = ["Xvfb", "-displayfd", str(w), "-nolock", "-noreset", "-nolisten", "tcp",
               "-screen", "0", "%dx%dx24" % self.screen] + (["-dpi", str(self.dpi)] if self.dpi else [])
        self.xvfb = self.spawn(cmd, pass_fds=(w,), stdout=xlog, stderr=xlog)
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
        if self.wm:
            self.spawn(["openbox", "--sm-disable"], stdout=xlog, stderr=xlog)
            wait_until(lambda: "window id #" in subprocess.run(
                ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], stdout=subprocess.PIPE).stdout.decode(),
                20, "openbox to manage the screen")

    def mount_tmpfs(self, where, size):
        os.makedirs(where, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%s,mode=0755" % size, "tmpfs", where], check=True)
        self.mounts.append(where)

    def stop(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.kill()
                try:
                    p.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    pass
        for m in reversed(self.mounts):
            subprocess.run(["umount", "-l", m], stderr=subprocess.DEVNULL)


def program_env(world, config, home=None):
    """The program's environment: its own settings, runtime and home folders, no inherited Qt or
    XDG settings, the X server of the world."""
    run = world.path("run")
    os.makedirs(run, mode=0o700, exist_ok=True)
    env = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "XDG_", INSIDE))}
    env.update({"DISPLAY": world.display, "QT_QPA_PLATFORM": "xcb", "XDG_CONFIG_HOME": config,
                "XDG_RUNTIME_DIR": run, "HOME": home or world.path("home"), "LANG": "C.UTF-8",
                "QT_ACCESSIBILITY": "0", "NO_AT_BRIDGE": "1"})
    os.makedirs(env["HOME"], exist_ok=True)
    os.makedirs(config, exist_ok=True)
    return env


# ---- The command ------------------------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="what", required=True)
    run = sub.add_parser("run")
    run.add_argument("--screen", default="1366x770")
    run.add_argument("--dpi", type=int)
    run.add_argument("--wm", action="store_true")
    run.add_argument("command", nargs="+")
    win = sub.add_parser("window")
    win.add_argument("pid", type=int)
    win.add_argument("pattern")
    win.add_argument("seconds", type=float, nargs="?", default=10)
    args = parser.parse_args()
    try:
        if args.what == "window":
            print(wait_window(args.pid, args.pattern, args.seconds))
            return 0
        if not inside():
            missing = missing_tools(["openbox"] if args.wm else [])
            if missing:
                print("xworld: missing tools: %s (scripts/install-deps installs them)" % " ".join(missing),
                      file=sys.stderr)
                return 1
            return enter([sys.executable, os.path.abspath(__file__)] + sys.argv[1:])
        import signal
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
        signal.signal(signal.SIGINT, lambda *_: sys.exit(130))
        w, h = (int(n) for n in args.screen.split("x"))
        world = World((w, h), args.dpi, args.wm)
        try:
            world.start()
            env = {k: v for k, v in os.environ.items() if k != INSIDE}
            env["XWORLD_XVFB_PID"] = str(world.xvfb.pid)
            return world.spawn(args.command, env=env).wait()
        finally:
            world.stop()
            subprocess.run(["rm", "-rf", world.dir])
    except Failure as e:
        print("xworld: %s" % e, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
