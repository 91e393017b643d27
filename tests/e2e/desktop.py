"""A private X desktop for driving the real program as a user would.

Every run gets its own Xvfb (on a display number the server picks itself), its own openbox, its own empty
configuration folder and, when asked, its own PulseAudio with a silent sink that can be recorded. Every
process started here is ended on the way out, also when a check fails or the run is interrupted, and
each is told by the kernel to die with us should this script itself be killed.

Only the Python standard library and the command-line tools of Debian's X and sound packages are used.
"""

import collections
import contextlib
import ctypes
import hashlib
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import traceback
import zlib

TWIPS_PER_PIXEL = 15

# Generous on purpose: the suite shares two cores with the compiler and every other test.
START_TIMEOUT = 30.0
STEP_TIMEOUT = 10.0


class Failure(AssertionError):
    """A check on what the user would see did not hold."""


class Fatal(Failure):
    """A failure that no amount of waiting mends (the program ended): wait_for passes it on at once."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(what, probe, timeout=STEP_TIMEOUT, interval=0.1):
    """Polls probe() until it returns something truthy and returns that; fails naming `what` otherwise.

    A reading that fails (a check inside the probe, a helper tool that errs or times out) counts as "not
    yet" and is taken again: the desktop moves, maps and repaints windows in its own time, most of all on
    a loaded machine. Only a Fatal failure ends the wait early."""
    deadline = time.monotonic() + timeout
    last = None
    while True:
        try:
            last = probe()
        except Fatal:
            raise
        except (Failure, subprocess.SubprocessError) as failure:
            last = f"a failed reading: {failure}"
        else:
            if last:
                return last
        if time.monotonic() >= deadline:
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what} (last seen: {last!r})")
        time.sleep(interval)


def fatal_unless(condition, message):
    if not condition:
        raise Fatal(message)


def _die_with_parent():
    # Runs in the child between fork and exec: if the test process is killed outright (a CTest timeout
    # sends SIGKILL), the kernel ends the child too instead of leaving an X server behind.
    libc = ctypes.CDLL("libc.so.6", use_errno=True)
    pr_set_pdeathsig = 1
    libc.prctl(pr_set_pdeathsig, signal.SIGKILL)


def _raise_on_signal(signum, _frame):
    raise SystemExit(f"interrupted by signal {signum}")


def require_tools(*names):
    missing = [n for n in names if shutil.which(n) is None]
    check(not missing, "missing tools (install the packages in tools/packages.txt): " + ", ".join(missing))


# ---------------------------------------------------------------------------------------------------------
# Pictures


class Image:
    """An RGB picture as taken from the X server."""

    def __init__(self, width, height, rgb):
        self.width = width
        self.height = height
        self.rgb = rgb

    @staticmethod
    def from_ppm(data):
        # P6 header: magic, width, height, maximum, each followed by one whitespace; comments may appear.
        fields = []
        pos = 0
        while len(fields) < 4:
            while data[pos : pos + 1].isspace():
                pos += 1
            if data[pos : pos + 1] == b"#":
                pos = data.index(b"\n", pos) + 1
                continue
            end = pos
            while not data[end : end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        pos += 1
        check(fields[0] == b"P6", f"screenshot is not a binary PPM (magic {fields[0]!r})")
        width, height, maximum = int(fields[1]), int(fields[2]), int(fields[3])
        check(maximum == 255, f"screenshot has {maximum + 1} levels a channel, expected 256")
        rgb = data[pos : pos + width * height * 3]
        check(len(rgb) == width * height * 3, "screenshot is truncated")
        return Image(width, height, rgb)

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return self.rgb[i], self.rgb[i + 1], self.rgb[i + 2]

    def solid_colours(self, left, top, width, height):
        """Counts the colours of pixels that equal their right and lower neighbours.

        Glyph interiors and filled areas count; the blended pixels at the edges of anti-aliased text do
        not, so a colour that only appears in smoothing never passes for a painted one."""
        left = max(0, left)
        top = max(0, top)
        right = min(self.width - 1, left + width)
        bottom = min(self.height - 1, top + height)
        counts = collections.Counter()
        stride = self.width * 3
        rgb = self.rgb
        for y in range(top, bottom):
            row = y * stride
            for x in range(left, right):
                i = row + x * 3
                here = rgb[i : i + 3]
                if here == rgb[i + 3 : i + 6] and here == rgb[i + stride : i + stride + 3]:
                    counts[here] += 1
        return {tuple(k): v for k, v in counts.items()}

    def write_png(self, path):
        raw = b"".join(
            b"\x00" + self.rgb[y * self.width * 3 : (y + 1) * self.width * 3] for y in range(self.height)
        )

        def chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 6)))
            out.write(chunk(b"IEND", b""))


# ---------------------------------------------------------------------------------------------------------
# Store files


def write_conf(config_home, text):
    folder = os.path.join(config_home, "Kestrim")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "Kestrim.conf")
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)
    return path


def conf_path(config_home):
    return os.path.join(config_home, "Kestrim", "Kestrim.conf")


def read_conf(config_home):
    """Section -> key -> text, as the program wrote them (QSettings INI)."""
    sections = {}
    current = None
    path = conf_path(config_home)
    if not os.path.exists(path):
        return sections
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            m = re.fullmatch(r"\[(.*)\]", line)
            if m:
                current = sections.setdefault(m.group(1), {})
            elif "=" in line and current is not None:
                key, value = line.split("=", 1)
                current[key] = value
    return sections


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


# ---------------------------------------------------------------------------------------------------------
# The desktop


class Desktop:
    """Xvfb + openbox (+ optional PulseAudio) in a temporary folder; use as a context manager."""

    def __init__(self, name, program, artefacts, screen=(1024, 768), sound=False):
        require_tools("Xvfb", "openbox", "xdotool", "xprop", "xwininfo", "import")
        if sound:
            require_tools("pulseaudio", "pactl", "parec", "pacat")
        check(program and os.access(program, os.X_OK), f"program not found or not executable: {program!r}")
        self.name = name
        self.program = program
        self.artefacts = artefacts
        os.makedirs(artefacts, exist_ok=True)
        self.screen = screen
        self.want_sound = sound
        self.root = tempfile.mkdtemp(prefix=f"kestrim-{name}-")
        self.processes = []  # (label, Popen), ended newest first
        self.env = {
            k: v
            for k, v in os.environ.items()
            if not k.startswith(("QT_", "XDG_", "PULSE_", "DBUS_", "WAYLAND_", "XAUTHORITY"))
        }
        self.env["HOME"] = os.path.join(self.root, "home")
        self.env["XDG_RUNTIME_DIR"] = os.path.join(self.root, "runtime")
        self.env["XDG_CONFIG_HOME"] = os.path.join(self.root, "wm-config")
        self.env["QT_QPA_PLATFORM"] = "xcb"
        # A server that does not exist: without it the sound library would try to start a daemon of its
        # own. Tests that want sound replace this with their private server.
        self.env["PULSE_SERVER"] = "unix:" + os.path.join(self.root, "no-sound-server")
        # Nor the machine's system bus: a program sharing the clock would announce it there to the real network.
        # The test of the announcement gives its own.
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + os.path.join(self.root, "no-system-bus")
        for d in ("home", "runtime", "wm-config"):
            os.makedirs(os.path.join(self.root, d), mode=0o700)
        self.display = None
        self.sink_monitor = None

    # -- lifecycle ------------------------------------------------------------------------------------

    def __enter__(self):
        self._old_handlers = {s: signal.signal(s, _raise_on_signal) for s in (signal.SIGTERM, signal.SIGINT)}
        try:
            self._start_x()
            self._start_wm()
            if self.want_sound:
                self._start_sound()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        for _label, proc in reversed(self.processes):
            self._end(proc)
        self.processes.clear()
        for s, h in getattr(self, "_old_handlers", {}).items():
            signal.signal(s, h)
        shutil.rmtree(self.root, ignore_errors=True)

    @staticmethod
    def _end(proc):
        if proc.poll() is not None:
            return
        with contextlib.suppress(ProcessLookupError):
            proc.terminate()
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            with contextlib.suppress(ProcessLookupError):
                proc.kill()
            proc.wait(timeout=5)

    def spawn(self, label, argv, env=None, **kwargs):
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        proc = subprocess.Popen(argv, env=env or self.env, preexec_fn=_die_with_parent, **kwargs)
        self.processes.append((label, proc))
        return proc

    def forget(self, proc):
        self.processes = [(l, p) for l, p in self.processes if p is not proc]

    def _start_x(self):
        read_fd, write_fd = os.pipe()
        try:
            width, height = self.screen
            self.spawn(
                "Xvfb",
                ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{width}x{height}x24", "-nolisten", "tcp",
                 "-noreset"],
                pass_fds=(write_fd,),
            )
            os.close(write_fd)
            write_fd = None
            number = b""
            deadline = time.monotonic() + START_TIMEOUT
            while not number.endswith(b"\n"):
                check(time.monotonic() < deadline, "Xvfb did not report its display number")
                chunk = os.read(read_fd, 16)
                check(chunk, "Xvfb ended before it reported its display number")
                number += chunk
        finally:
            os.close(read_fd)
            if write_fd is not None:
                os.close(write_fd)
        self.display = ":" + number.decode().strip()
        self.env["DISPLAY"] = self.display

    def _start_wm(self):
        self.spawn("openbox", ["openbox", "--sm-disable"])
        wait_for(
            "openbox to manage the screen",
            lambda: "window id #" in self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False).stdout,
            timeout=START_TIMEOUT,
        )

    def _start_sound(self):
        runtime = os.path.join(self.root, "pulse")
        os.makedirs(runtime, mode=0o700)
        socket = os.path.join(runtime, "native")
        env = dict(self.env)
        env["PULSE_RUNTIME_PATH"] = runtime
        env["PULSE_STATE_PATH"] = runtime
        argv = [
            "pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
            "--disable-shm=yes", "--log-target=stderr", "--log-level=error",
            "--load=module-null-sink sink_name=kt rate=48000 channels=2 norewinds=1",
            f"--load=module-native-protocol-unix auth-anonymous=1 socket={socket}",
        ]
        if os.geteuid() == 0:
            argv.append("--system=no")
        self.spawn("pulseaudio", argv, env=env, stderr=open(os.path.join(self.artefacts, "pulseaudio.log"), "wb"))
        self.env["PULSE_SERVER"] = "unix:" + socket
        self.env["PULSE_RUNTIME_PATH"] = runtime
        wait_for(
            "the sound server to offer sink kt",
            lambda: "kt" in self.run(["pactl", "list", "short", "sinks"], check=False).stdout.split(),
            timeout=START_TIMEOUT,
            interval=0.2,
        )
        self.run(["pactl", "set-default-sink", "kt"])
        # An idle null sink gives its monitor nothing to record, and a stream joining a running one
        # would rewind the mix under a recorder that has already read it: keep the sink busy with
        # silence, and rewinds are off (norewinds), so that a recording is continuous sample for sample.
        self.spawn("pacat", ["pacat", "--playback", "-d", "kt", "--format=s16le", "--rate=48000", "--channels=2",
                             "--latency-msec=50"], stdin=open("/dev/zero", "rb"))
        self.sink_monitor = "kt.monitor"

    # -- X helpers ------------------------------------------------------------------------------------

    def run(self, argv, check=True, timeout=STEP_TIMEOUT, env=None):
        result = subprocess.run(
            argv, env=env or self.env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
            timeout=timeout,
        )
        if check and result.returncode != 0:
            raise Failure(f"{' '.join(argv)} failed with {result.returncode}: {result.stderr.strip()}")
        return result

    def xdotool(self, *args, check=True):
        return self.run(["xdotool", *args], check=check).stdout.strip()

    def screenshot(self, save_as=None):
        raw = subprocess.run(
            ["import", "-silent", "-window", "root", "-depth", "8", "ppm:-"],
            env=self.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=STEP_TIMEOUT,
        )
        check(raw.returncode == 0, f"screenshot failed: {raw.stderr.decode(errors='replace').strip()}")
        image = Image.from_ppm(raw.stdout)
        if save_as:
            image.write_png(os.path.join(self.artefacts, save_as))
        return image

    def new_config_home(self, label):
        path = os.path.join(self.root, "config-" + label)
        os.makedirs(path, mode=0o700)
        return path

    def start_kestrim(self, config_home, log_name="kestrim", extra_env=None):
        env = dict(self.env)
        env["XDG_CONFIG_HOME"] = config_home
        env.update(extra_env or {})
        log = open(os.path.join(self.artefacts, log_name + ".stderr"), "wb")
        proc = self.spawn("kestrim", [self.program], env=env, stdout=log, stderr=subprocess.STDOUT)
        log.close()
        return Kestrim(self, proc, os.path.join(self.artefacts, log_name + ".stderr"))

    def windows_of(self, pid, name_pattern=".*", visible=True):
        args = ["search", "--all"]
        if visible:
            args.append("--onlyvisible")
        args += ["--pid", str(pid), "--name", name_pattern]
        out = self.xdotool(*args, check=False)
        return [int(w) for w in out.split()]

    def root_size(self):
        """Width and height of the whole X screen now: every monitor, as plugged in at the moment."""
        out = self.run(["xwininfo", "-root"]).stdout
        return tuple(int(re.search(rf"^\s*{name}:\s*(\d+)", out, re.M).group(1)) for name in ("Width", "Height"))

    def active_window(self):
        out = self.xdotool("getactivewindow", check=False)
        return int(out) if out.isdigit() else None


class Weston:
    """A headless Wayland compositor (weston) with an X server inside it (XWayland), in a temporary folder
    with its own runtime folder; use as a context manager. `env` offers both displays to a client."""

    SOCKET = "kestrim-wayland"

    def __init__(self, name, artefacts):
        require_tools("weston", "Xwayland")
        self.artefacts = artefacts
        os.makedirs(artefacts, exist_ok=True)
        self.root = tempfile.mkdtemp(prefix=f"kestrim-{name}-")
        self.runtime = os.path.join(self.root, "runtime")
        os.makedirs(self.runtime, mode=0o700)
        self.env = {
            k: v
            for k, v in os.environ.items()
            if not k.startswith(("QT_", "XDG_", "PULSE_", "DBUS_", "WAYLAND_", "XAUTHORITY", "DISPLAY"))
        }
        self.env["HOME"] = os.path.join(self.root, "home")
        os.makedirs(self.env["HOME"], mode=0o700)
        self.env["XDG_RUNTIME_DIR"] = self.runtime
        self.env["PULSE_SERVER"] = "unix:" + os.path.join(self.root, "no-sound-server")
        # Nor the machine's system bus: a program sharing the clock would announce it there to the real network.
        # The test of the announcement gives its own.
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + os.path.join(self.root, "no-system-bus")
        self.log = os.path.join(artefacts, "weston.log")
        self.proc = None

    def __enter__(self):
        try:
            with contextlib.suppress(FileNotFoundError):
                os.remove(self.log)  # weston appends
            self.proc = subprocess.Popen(
                ["weston", "--backend=headless-backend.so", "--xwayland", f"--socket={self.SOCKET}",
                 "--width=1024", "--height=768", "--idle-time=0", f"--log={self.log}"],
                env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=_die_with_parent)

            def x_display():
                check(self.proc.poll() is None, f"weston ended with {self.proc.returncode}; see {self.log}")
                if not os.path.exists(self.log):
                    return None
                with open(self.log, encoding="utf-8", errors="replace") as f:
                    found = re.findall(r"xserver listening on display (:\d+)", f.read())
                return found and found[-1]

            self.env["DISPLAY"] = wait_for("weston's X server", x_display, timeout=START_TIMEOUT)
            wait_for("weston's Wayland socket", lambda: os.path.exists(os.path.join(self.runtime, self.SOCKET)))
            self.env["WAYLAND_DISPLAY"] = self.SOCKET
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        if self.proc:
            Desktop._end(self.proc)
        shutil.rmtree(self.root, ignore_errors=True)


class Kestrim:
    """The program running on a Desktop, seen from outside: windows, captions, keys, memory."""

    def __init__(self, desktop, proc, log_path):
        self.desktop = desktop
        self.proc = proc
        self.log_path = log_path
        self.window = None
        self._last_reading = None  # (window, client geometry, frame extents) last seen by settled_geometry

    @property
    def pid(self):
        return self.proc.pid

    def log(self):
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def alive(self):
        return self.proc.poll() is None

    def wait_main_window(self, timeout=START_TIMEOUT, whole=True):
        """Waits until the main window is mapped, framed by the window manager and holds still (wholly on
        the screen unless whole is False), and returns its id."""

        def find():
            fatal_unless(self.alive(), f"the program ended during start-up with {self.proc.returncode}: {self.log()}")
            for w in self.desktop.windows_of(self.pid, "^Kestrim"):
                if self.frame_extents(w) is not None:
                    return w
            return None

        self.window = wait_for("the main window", find, timeout=timeout)
        self.settled_geometry(timeout=timeout, whole=whole)
        return self.window

    def wait_exit(self, timeout=STEP_TIMEOUT):
        try:
            code = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the program did not end within {timeout:.0f} s") from None
        self.desktop.forget(self.proc)
        return code

    def title(self):
        return self.desktop.xdotool("getwindowname", str(self.window))

    def key(self, *keys, delay_ms=None, may_close=False):
        """Real key events for a window of the program (the main window unless told otherwise).

        To the focused window they are typed through the X server (XTEST), exactly as from a keyboard;
        to a window without the focus (minimised) they are sent to the window itself. Never both for one
        key: xdotool, told a window, types into it while it has the focus but sends the release to it
        once it has lost the focus, and dies on a window that is gone, leaving the key held down in the
        server, where autorepeat then types it into whatever window comes next.

        may_close: the keys may end the window, so a send to it that fails is no error."""
        window = str(self.window)
        focused = self.desktop.xdotool("getwindowfocus", check=False) == window
        args = ["key"] if focused else ["key", "--window", window]
        if delay_ms is not None:
            args += ["--delay", str(delay_ms)]
        self.desktop.xdotool(*args, *keys, check=not (may_close and not focused))

    def alt_f4(self):
        """Alt+F4 as the user gives it: typed into the focused window, openbox's own binding takes it and
        asks the window to close; a minimised window has no focus, so the keys reach the program itself."""
        if not self.is_minimised():
            self.activate()
        self.key("alt+F4", may_close=True)

    def activate(self):
        """Restores and focuses the window, and returns once it is back on the screen and holds still:
        openbox first maps a restored window at its iconify position and moves it back a moment later."""
        self.desktop.xdotool("windowactivate", "--sync", str(self.window), check=False)
        wait_for("the main window to be active and shown", lambda: self.desktop.active_window() == self.window
                 and not self.is_minimised())
        self.settled_geometry()

    def minimise(self):
        self.desktop.xdotool("windowminimize", "--sync", str(self.window), check=False)
        wait_for("the main window to be minimised", self.is_minimised)

    def net_wm_state(self, window=None):
        out = self.desktop.run(["xprop", "-id", str(window or self.window), "_NET_WM_STATE"], check=False).stdout
        return set(re.findall(r"_NET_WM_STATE_\w+", out))

    def is_minimised(self):
        return "_NET_WM_STATE_HIDDEN" in self.net_wm_state()

    def is_maximised(self):
        return {"_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ"} <= self.net_wm_state()

    def frame_extents(self, window=None):
        """(left, right, top, bottom) border widths that the window manager put around the window."""
        out = self.desktop.run(["xprop", "-id", str(window or self.window), "_NET_FRAME_EXTENTS"], check=False).stdout
        numbers = [int(n) for n in re.findall(r"-?\d+", out.split("=", 1)[-1])] if "=" in out else []
        return tuple(numbers) if len(numbers) == 4 else None

    def _xwininfo(self):
        out = self.desktop.run(["xwininfo", "-id", str(self.window)]).stdout

        def field(name):
            m = re.search(rf"^\s*{name}:\s*(-?\d+)", out, re.M)
            check(m, f"xwininfo gave no {name}: {out}")
            return int(m.group(1))

        viewable = re.search(r"^\s*Map State:\s*IsViewable", out, re.M) is not None
        return (field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height")), viewable

    def on_screen(self, geometry):
        x, y, width, height = geometry
        sw, sh = self.desktop.root_size()
        return width > 0 and height > 0 and x >= 0 and y >= 0 and x + width <= sw and y + height <= sh

    def settled_geometry(self, timeout=STEP_TIMEOUT, interval=0.15, whole=True):
        """The client area (x, y, width, height) once the window is mapped, wholly on the screen (unless
        whole is False) and gave the same geometry and frame on two readings in a row. Every probe of
        pixels or placement starts here, so that none reads a window the window manager is still moving.
        The reading before may come from an earlier call: a window that has not moved since costs one."""

        def steady():
            geometry, viewable = self._xwininfo()
            now = (self.window, geometry, self.frame_extents())
            same = now == self._last_reading
            self._last_reading = now
            check(viewable, "the main window is not mapped")
            check(not whole or self.on_screen(geometry), f"the main window is not wholly on the screen: {geometry}")
            return geometry if same else None

        return wait_for("the main window to be mapped, on the screen and still", steady, timeout=timeout,
                        interval=interval)

    def client_geometry(self):
        """(x, y, width, height) of the client area on the screen."""
        # Not xdotool's getwindowgeometry: on a reparented window it adds the offset inside the frame twice.
        return self._xwininfo()[0]

    def frame_geometry(self):
        """(x, y, width, height) of the outer frame: the client area plus the window manager's borders."""
        x, y, width, height = self._xwininfo()[0]
        extents = self.frame_extents()
        check(extents is not None, "the window manager gave the window no frame extents")
        left, right, top, bottom = extents
        return (x - left, y - top, width + left + right, height + top + bottom)

    def rss_kb(self):
        with open(f"/proc/{self.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise Failure("no VmRSS in /proc status")

    # -- the minimised read-out ------------------------------------------------------------------------

    def caption_time(self):
        """Seconds shown by the minimised caption "Kestrim - MM:SS", or None for any other caption."""
        m = re.fullmatch(r"Kestrim - (\d{2,}):(\d{2})", self.title())
        return int(m.group(1)) * 60 + int(m.group(2)) if m else None

    def wait_caption(self, predicate, what, timeout=STEP_TIMEOUT):
        def probe():
            t = self.caption_time()
            return (t,) if t is not None and predicate(t) else None

        return wait_for(what + f' (caption now "{self.title()}")', probe, timeout=timeout)[0]

    def caption_still(self, seconds):
        """Watches the caption for `seconds`; returns the one value it held, or fails if it changed."""
        first = self.title()
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            now = self.title()
            check(now == first, f'the caption changed from "{first}" to "{now}" while the clock should stand')
            time.sleep(0.1)
        return first


def main(test_body, argv=None):
    """Runs one end-to-end test: argv is [program, artefacts-folder, ...]. Exit status 1 on any failure."""
    argv = sys.argv[1:] if argv is None else argv
    if len(argv) < 2:
        print("usage: <test>.py PATH-TO-KESTRIM ARTEFACT-FOLDER [options]", file=sys.stderr)
        return 2
    started = time.monotonic()
    try:
        test_body(argv[0], argv[1], argv[2:])
    except Failure as failure:
        # Where in the test it failed: the frames of the test script and of this module, innermost last.
        frames = [f for f in traceback.extract_tb(failure.__traceback__) if f.name != "check"]
        print("".join(traceback.format_list(frames)), file=sys.stderr, end="")
        print(f"FAIL: {failure}", file=sys.stderr)
        print(f"(artefacts in {argv[1]})", file=sys.stderr)
        return 1
    print(f"passed in {time.monotonic() - started:.1f} s")
    return 0


# ---------------------------------------------------------------------------------------------------------
# Several monitors


class Unavailable(Exception):
    """The desktop cannot be had on this machine; the test reports itself skipped with this reason."""


XORG_DUMMY_CONF = """Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 256000
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual 4096 2048
    EndSubSection
EndSection
"""


class MonitorDesktop(Desktop):
    """Xorg with the dummy video driver instead of Xvfb: real RandR outputs DUMMY0..15 that can be plugged in
    and out while the program runs. DUMMY0 (1024 x 768) is on from the start."""

    def __init__(self, name, program, artefacts, sound=False):
        if shutil.which("Xorg") is None or shutil.which("xrandr") is None:
            raise Unavailable("Xorg or xrandr is not installed (tools/packages.txt)")
        if os.geteuid() != 0:
            raise Unavailable("Xorg takes a configuration file of its own only from root")
        super().__init__(name, program, artefacts, sound=sound)
        self.modes = set()

    def _start_x(self):
        conf = os.path.join(self.root, "xorg.conf")
        with open(conf, "w", encoding="utf-8") as out:
            out.write(XORG_DUMMY_CONF)
        read_fd, write_fd = os.pipe()
        try:
            self.spawn(
                "Xorg",
                ["Xorg", "-displayfd", str(write_fd), "-config", conf, "-noreset", "-nolisten", "tcp",
                 "-logfile", os.path.join(self.artefacts, "xorg.log")],
                pass_fds=(write_fd,),
            )
            os.close(write_fd)
            write_fd = None
            number = b""
            deadline = time.monotonic() + START_TIMEOUT
            while not number.endswith(b"\n"):
                if time.monotonic() >= deadline:
                    raise Unavailable("Xorg did not report its display number (see xorg.log)")
                chunk = os.read(read_fd, 16)
                if not chunk:
                    raise Unavailable("Xorg ended before it reported its display number (see xorg.log)")
                number += chunk
        finally:
            os.close(read_fd)
            if write_fd is not None:
                os.close(write_fd)
        self.display = ":" + number.decode().strip()
        self.env["DISPLAY"] = self.display

    def plug(self, output, width, height, right_of="DUMMY0"):
        """Switches `output` on at width x height, right of another output."""
        mode = f"{width}x{height}_kestrim"
        if mode not in self.modes:
            # A plain CVT-like timing at 60 Hz; the dummy driver accepts any sane one.
            htotal, vtotal = width + 400, height + 31
            clock = htotal * vtotal * 60 / 1e6
            self.run(["xrandr", "--newmode", mode, f"{clock:.2f}", str(width), str(width + 72), str(width + 200),
                      str(htotal), str(height), str(height + 3), str(height + 9), str(vtotal), "-hsync", "+vsync"])
            self.modes.add(mode)
        self.run(["xrandr", "--addmode", output, mode], check=False)
        self.run(["xrandr", "--output", output, "--mode", mode, "--right-of", right_of])

    def unplug(self, output):
        self.run(["xrandr", "--output", output, "--off"])

    def window_geometry(self, window):
        """(x, y, width, height) of any window's client area on the screen."""
        out = self.run(["xwininfo", "-id", str(window)]).stdout
        return tuple(int(re.search(rf"^\s*{name}:\s*(-?\d+)", out, re.M).group(1))
                     for name in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))
