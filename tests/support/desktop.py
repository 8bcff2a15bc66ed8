"""The real launcher on a screen: a private Xvfb display, Wine prefixes of
one's own, and what a person does there (find the window, click, look at a
screenshot). Used by the window scenarios and by the demo.

Everything started here is tracked, so that abandon() can end it all when a
script runs out of time or is told to stop: the launchers, the displays and
the servers of the Wine prefixes.
"""

import ctypes
import os
import shutil
import signal
import subprocess
import sys
import threading
import time

SUPPORT_DIR = os.path.dirname(os.path.abspath(__file__))
WINE_ENV = os.path.join(SUPPORT_DIR, "wine_env.sh")
WINE_BOOT = os.path.join(SUPPORT_DIR, "wine_boot.sh")
WINE64 = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
SCREEN = (1280, 800)
# The window's client size; it has no frame, so that is the window.
WINDOW_SIZE = (1013, 620)

_live = {"procs": set(), "displays": set(), "prefixes": set()}
_live_lock = threading.RLock()  # read by the watchdog thread and the signal handlers


def track(kind, item, keep=True):
    with _live_lock:
        if keep:
            _live[kind].add(item)
        else:
            _live[kind].discard(item)


def tracked(kind):
    with _live_lock:
        return list(_live[kind])


def wait_for(what, probe, timeout, interval=0.2):
    """probe() until it returns something true; raises AssertionError after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def die_with_parent():
    """In the child before it starts: killed when the script dies, however."""
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def wine_in(prefix, *command, display=None):
    """The command and environment to run a command with wine_env.sh's
    variables (its own prefix, and the display only for this command),
    started as wine_env.sh starts Wine's programs."""
    script = '. "$1"; shift; [ -n "$1" ] && export DISPLAY="$1"; shift; exec $WINE_START "$@"'
    env = dict(os.environ, VERANDEL_WINEPREFIX=prefix)
    return ["bash", "-c", script, "sh", WINE_ENV, display or ""] + list(command), env


def stop_prefix(prefix):
    """Ends every process of the prefix and waits for its server to go; a
    server that does not go within the bound is left to its own time-out."""
    for argument in ("-k", "-w"):
        command, env = wine_in(prefix, WINESERVER, argument)
        try:
            subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
        except subprocess.TimeoutExpired:
            pass


def boot_prefix(prefix, font_replacements=True):
    """A new prefix, booted and stopped again: Wine's desktop stays bound to
    the display of the process that starts it, so the next start, with a
    display, brings it up there. Without font replacements it is the prefix
    a player has."""
    shutil.rmtree(prefix, ignore_errors=True)
    track("prefixes", prefix)
    env = dict(os.environ, VERANDEL_WINEPREFIX=prefix)
    subprocess.run([WINE_BOOT] + ([] if font_replacements else ["--plain"]), env=env,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, timeout=240, check=True)
    stop_prefix(prefix)


def remove_prefix(prefix):
    stop_prefix(prefix)
    track("prefixes", prefix, keep=False)
    shutil.rmtree(prefix, ignore_errors=True)


def start_in_prefix(prefix, program, cwd, display, output):
    """Runs a Windows program under wine64 in the prefix, on the display."""
    command, env = wine_in(prefix, WINE64, program, display=display)
    proc = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=output, stderr=subprocess.STDOUT)
    track("procs", proc)
    return proc


def end_in_prefix(prefix, proc):
    """Ends the program and every other process of its prefix."""
    if proc.poll() is None:
        proc.kill()
    stop_prefix(prefix)
    try:
        proc.wait(timeout=30)
    except subprocess.TimeoutExpired:
        pass
    track("procs", proc, keep=False)


def abandon(script, reason):
    """Out of time or told to stop: ends what was started here and exits, so
    that nothing outlives the script."""
    sys.stderr.write("%s: %s; stopping the launchers, Wine and Xvfb\n" % (script, reason))
    sys.stderr.flush()
    for proc in tracked("procs"):
        if proc.poll() is None:
            proc.kill()
    for prefix in tracked("prefixes"):
        stop_prefix(prefix)
    for display in tracked("displays"):
        display.stop()
    os._exit(1)


def start_watchdog(script, budget, on_abandon=None):
    """abandon() after budget seconds (None: never) or on SIGTERM, SIGINT
    or SIGHUP; on_abandon runs first, for what the script started itself."""
    def give_up(reason):
        if on_abandon:
            try:
                on_abandon()
            except Exception:  # noqa: BLE001 - the rest must still be stopped
                pass
        abandon(script, reason)

    if budget is not None:
        timer = threading.Timer(budget, give_up, args=("it ran longer than %.0f s" % budget,))
        timer.daemon = True
        timer.start()
    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(number, lambda number, frame: give_up("signal %d" % number))


class Display:
    """An Xvfb server on a display number it picks itself (no clash with
    other tests that run at the same time)."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % SCREEN, "-nolisten", "tcp"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, preexec_fn=die_with_parent)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        try:
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                if self.proc.poll() is not None:
                    raise RuntimeError("Xvfb ended at start with %s" % self.proc.returncode)
                os.set_blocking(read_end, False)
                try:
                    chunk = os.read(read_end, 16)
                except BlockingIOError:
                    time.sleep(0.05)
                    continue
                if not chunk:
                    break
                number += chunk
        finally:
            os.close(read_end)
        if not number.strip().isdigit():
            self.stop()
            raise RuntimeError("Xvfb gave no display number")
        self.name = ":" + number.strip().decode()
        track("displays", self)

    def run(self, *command, check=True):
        return on_screen(self.name, *command, check=check)

    def stop(self):
        track("displays", self, keep=False)
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def on_screen(display, *command, check=True):
    """Runs an X client (xdotool, import) on the display; its output."""
    env = dict(os.environ, DISPLAY=display)
    done = subprocess.run(list(command), env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=30)
    if check and done.returncode != 0:
        raise AssertionError("%s failed: %s" % (" ".join(command), done.stderr.decode()))
    return done.stdout.decode().strip()


def windows_named(display, pattern, visible=False):
    """The windows whose name matches; with visible, only those mapped on the
    screen (a click on a window not yet mapped goes to the one below)."""
    shown = ["--onlyvisible"] if visible else []
    return on_screen(display, "xdotool", "search", *shown, "--name", pattern, check=False).split()


def window_list(display):
    """The named windows of the display and whether each is mapped, for a
    report of a window that did not come."""
    visible = set(windows_named(display, ".", visible=True))
    names = ["%r%s" % (on_screen(display, "xdotool", "getwindowname", window, check=False),
                       "" if window in visible else " (not mapped)")
             for window in windows_named(display, ".")[:20]]
    return ", ".join(names) or "no named window"


def find_window(display, pattern, timeout, running=None):
    """The first mapped window whose name matches. running, when given, is
    called at every look and raises once the program has ended early."""
    def mapped():
        if running:
            running()
        return windows_named(display, pattern, visible=True)
    try:
        return wait_for("a mapped window named %r" % pattern, mapped, timeout)[0]
    except AssertionError as failure:
        raise AssertionError("%s; the display has %s" % (failure, window_list(display))) from None


def geometry(display, window):
    """(x, y, width, height) of the window on the screen."""
    text = on_screen(display, "xdotool", "getwindowgeometry", "--shell", window)
    values = dict(line.split("=") for line in text.splitlines())
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def click(display, window, point):
    """A left click at a point of the window's client area."""
    on_screen(display, "xdotool", "mousemove", "--window", window, str(point[0]), str(point[1]), "click", "1")


def screenshot(display, path, window=None):
    """A PNG of the whole screen, or of the window's rectangle of it."""
    on_screen(display, "import", "-window", "root", path)
    if window is not None:
        x, y, w, h = geometry(display, window)
        subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", path],
                       capture_output=True, timeout=30, check=True)
    return path


class Picture:
    """A screenshot's pixels, read once: (r, g, b) of 8 bits each."""

    def __init__(self, path):
        self.path = path
        raw = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], capture_output=True,
                             timeout=30, check=True).stdout
        # A binary PPM: "P6", width, height and the largest value, then the rows.
        fields = raw.split(maxsplit=4)
        self.width, self.height = int(fields[1]), int(fields[2])
        self.rgb = raw[len(raw) - self.width * self.height * 3:]

    def pixel(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.rgb[offset:offset + 3])

    def pixels(self, box):
        """The (r, g, b) rows of a rectangle (x, y, width, height)."""
        x, y, w, h = box
        return [[self.pixel(col, row) for col in range(x, x + w)] for row in range(y, y + h)]


def picture(shot):
    return shot if isinstance(shot, Picture) else Picture(shot)


def bright_pixels(shot, box, level=150):
    """How many pixels of the rectangle are light on every channel: light
    text on the dark footer or on a pill."""
    return sum(1 for row in picture(shot).pixels(box) for r, g, b in row if min(r, g, b) >= level)


def colour_count(shot):
    return int(subprocess.run(["identify", "-format", "%k", shot], capture_output=True,
                              timeout=30, check=True).stdout.decode())


# Window points and rectangles (x, y, width, height) of what a finished pass
# paints. The progress bar's two ends: the violet start of its gradient once
# anything is done, and the pink end only once it is full (a bar at 66 % has
# the start too). The footer's status line, and the part of its second line
# that only "Ready to play! ..." reaches ("100% complete" ends well before
# it). The status dots of the three pills, green when online.
BAR_START = (60, 525)
BAR_END = (1008, 525)
STATUS_LINE = (76, 548, 580, 22)
READY_LINE_TAIL = (236, 574, 420, 20)
PILL_DOTS = ((79, 21), (187, 21), (295, 21))
PILL_NAMES = ("WEBPAGE", "SEASON", "LEGACY")


class PlayButton:
    """A play button of the footer: its face, whose lower part is the
    realm's colour when it is enabled and dark grey when it is not, and its
    label, white only when it is enabled."""

    def __init__(self, name, left):
        self.name = name
        self.face = (left + 14, 590)
        self.label = (left + 10, 565, 125, 20)

    def enabled(self, shot):
        shot = picture(shot)
        return max(shot.pixel(*self.face)) > 120 and bright_pixels(shot, self.label, 230) > 20


PLAY_SEASON = PlayButton("PLAY SEASON", 695)
PLAY_LEGACY = PlayButton("PLAY LEGACY", 852)
TEST_PLAY = PlayButton("PLAY", 852)  # a test launcher's one play button, where PLAY LEGACY is


def bar_full(shot):
    shot = picture(shot)
    start, end = shot.pixel(*BAR_START), shot.pixel(*BAR_END)
    return start[0] > 100 and start[2] > 150 and end[0] > 200 and end[2] > 200


def pill_online(rgb):
    r, g, b = rgb
    return g > 180 and r < 120 and b < 150


def unfinished(shot, play_buttons, pills=0):
    """What of a finished pass the window's picture does not show: the status
    line's text, the ready line, the bar full to its right end, each of the
    play buttons enabled and the first pills ONLINE. Empty when it shows all.

    The window paints its whole state at once, and the message that ends a
    pass sets the final status text and enables the play buttons together, so
    a picture with enabled buttons and a full bar shows the final text."""
    shot = picture(shot)
    missing = [] if bright_pixels(shot, STATUS_LINE) > 40 else ["text in the status line"]
    if bright_pixels(shot, READY_LINE_TAIL) <= 20:
        missing.append('the second line "Ready to play! ..."')
    if not bar_full(shot):
        missing.append("the progress bar full to its right end")
    missing += [b.name + " enabled" for b in play_buttons if not b.enabled(shot)]
    missing += [PILL_NAMES[i] + " ONLINE" for i, (x, y) in enumerate(PILL_DOTS[:pills])
                if not pill_online(shot.pixel(x, y))]
    return missing


def wait_for_picture(display, window, path, lacking, timeout, interval=0.5):
    """Screenshots of the window until lacking(picture) names nothing; returns
    the last Picture, saved at path. After the bound, an AssertionError names
    what the last picture still lacked."""
    deadline = time.monotonic() + timeout
    while True:
        shot = Picture(screenshot(display, path, window))
        missing = lacking(shot)
        if not missing:
            return shot
        if time.monotonic() > deadline:
            raise AssertionError("after %.0f s the window still does not show %s (last picture: %s)" %
                                 (timeout, ", ".join(missing), path))
        time.sleep(interval)
