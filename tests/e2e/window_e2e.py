"""The real launcher with its window under Xvfb, against nginx: the start-up
record, the synchronisation reaching its result, the painted window, clicks
on it, and closing it.

    python3 window_e2e.py <path of QVX_Launcher.exe> [TestClass[.test_method]]

No test clicks the play, setup or graphics-fix buttons: their message boxes
would wait for ever.
"""

import ctypes
import json
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import LIVE_LAUNCHER, TEST_LAUNCHER, SyncCase, manifest  # noqa: E402

WINE_ENV = os.path.join(harness.SOURCE_DIR, "tests", "support", "wine_env.sh")
WINE_BOOT = os.path.join(harness.SOURCE_DIR, "tests", "support", "wine_boot.sh")
EMPTY_PATCH_LIST = b"// no patches yet\n"
SERVER_NAME = "Verandel Window Check"
WAIT = 60.0  # every wait below is bounded by this, or less
# The whole script's time; the ctest time-out of window.cmake leaves room above it.
BUDGET = float(os.environ.get("VERANDEL_WINDOW_E2E_SECONDS", "540"))

# Window client coordinates of the buttons (the window has no frame).
CLOSE_BUTTON = (990, 17)
SYNC_FILES_BUTTON = (767, 575)


# Everything that must not outlive the script: the launchers, each class's
# Xvfb and the servers of the Wine prefixes.
_live = {"procs": set(), "displays": set(), "prefixes": set()}
_live_lock = threading.RLock()  # read by the watchdog thread and the signal handlers


def _track(kind, item, keep=True):
    with _live_lock:
        if keep:
            _live[kind].add(item)
        else:
            _live[kind].discard(item)


def _tracked(kind):
    with _live_lock:
        return list(_live[kind])


def _stop_prefix(prefix):
    """Ends every process of the prefix and waits for its server to go; a
    server that does not go within the bound is left to its own time-out."""
    for argument in ("-k", "-w"):
        command, env = wine_in(prefix, "/usr/lib/wine/wineserver", argument)
        try:
            subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
        except subprocess.TimeoutExpired:
            pass


def _abandon(reason):
    """Out of time or told to stop: ends what the script started and exits, so
    that ctest never has to kill the script with its servers still running."""
    sys.stderr.write("window_e2e: %s; stopping the launchers, Wine and Xvfb\n" % reason)
    sys.stderr.flush()
    for proc in _tracked("procs"):
        if proc.poll() is None:
            proc.kill()
    for prefix in _tracked("prefixes"):
        _stop_prefix(prefix)
        shutil.rmtree(prefix, ignore_errors=True)
    for display in _tracked("displays"):
        display.stop()
    os._exit(1)


def start_watchdog():
    timer = threading.Timer(BUDGET, _abandon, args=("the script ran longer than %.0f s" % BUDGET,))
    timer.daemon = True
    timer.start()
    for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(number, lambda number, frame: _abandon("signal %d" % number))


def connected_to(port):
    """True while a TCP connection to 127.0.0.1:port is established (the
    server's side of it, in the kernel's table)."""
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                rows = f.read().splitlines()[1:]
        except OSError:
            continue
        for row in rows:
            fields = row.split()
            if len(fields) > 3 and fields[3] == "01" and int(fields[1].rsplit(":", 1)[1], 16) == port:
                return True
    return False


def wait_for(what, probe, timeout=WAIT, interval=0.2):
    """probe() until it returns something true; fails the test after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def _die_with_parent():
    """In the child before it starts: killed when the script dies, however."""
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


class Display:
    """An Xvfb server on a display number it picks itself (no clash with
    other tests that run at the same time)."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)
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
        _track("displays", self)

    def run(self, *command, check=True):
        env = dict(os.environ, DISPLAY=self.name)
        done = subprocess.run(list(command), env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=30)
        if check and done.returncode != 0:
            raise AssertionError("%s failed: %s" % (" ".join(command), done.stderr.decode()))
        return done.stdout.decode().strip()

    def stop(self):
        _track("displays", self, keep=False)
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def wine_in(prefix, *command, display=None, **popen):
    """Runs a command of wine_env.sh's variables (its own prefix, and the
    display only for this command)."""
    script = '. "$1"; shift; [ -n "$1" ] && export DISPLAY="$1"; shift; "$@"'
    env = dict(os.environ, VERANDEL_WINEPREFIX=prefix)
    return ["bash", "-c", script, "sh", WINE_ENV, display or ""] + list(command), env


# Every address of the configuration is on the local service: the status
# probes too, whose built-in addresses are on the real website.
def launcher_config(url, test):
    """The configuration document of a launcher served from url."""
    root = url + ("/patcher_testers/" if test else "/patcher/")
    return {
        "server_name": SERVER_NAME,
        "patch_list_url": root + "patch_qvx.txt",
        "patch_base_url": root,
        "full_client_url": url + "/downloads/files/Quillfen_Full_Client.zip",
        "manifest_url": root + "manifest.json",
        "base_download_url": root,
        "season_manifest_url": url + "/season/manifest.json",
        "season_download_url": url + "/season/",
        "server_status_url": url + "/status/legacy.json",
        "season_status_url": url + "/status/season.json",
        "website_url": url + "/index.html",
        "wiki_url": url + "/wiki",
        "discord_url": url + "/discord",
        "account_url": url + "/account",
        "season_enabled": False,
    }


class WindowCase(SyncCase):
    """One Xvfb display and one Wine prefix per class, a fresh game directory
    and service per test. Wine's desktop process stays bound to the display of
    the process that started it, so the window tests keep a prefix of their
    own instead of sharing one with programs that run without a display."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = os.path.join(harness.BUILD_DIR, "e2e", cls.__name__ + ".wineprefix")
        shutil.rmtree(cls.prefix, ignore_errors=True)
        cls.display = Display()
        _track("prefixes", cls.prefix)
        try:
            subprocess.run([WINE_BOOT], env=dict(os.environ, VERANDEL_WINEPREFIX=cls.prefix),
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, timeout=240, check=True)
            _stop_prefix(cls.prefix)  # the next start brings the desktop up on the display
        except BaseException:
            cls.release()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.release()

    @classmethod
    def release(cls):
        try:
            _stop_prefix(cls.prefix)
            _track("prefixes", cls.prefix, keep=False)
        finally:
            cls.display.stop()
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def setUp(self):
        super().setUp()
        self.proc = None

    def write_config(self, launcher):
        test = "TEST" in launcher or "test" in launcher
        doc = launcher_config(self.svc.url, test)
        self.put("config_test.json" if test else "config.json", json.dumps(doc, indent=1).encode())

    def serve_service(self, root, files, patch_version):
        launcher = self.read(self.launcher_name)
        listed = list(files.items()) + [(self.launcher_name, launcher)]
        self.serve(root + "manifest.json",
                   manifest(listed, patch_version=patch_version, base_url=self.svc.url + "/" + root + "client"))
        for rel, data in files.items():
            self.serve(root + "client/" + rel, data)
        self.serve(root + "patch_qvx.txt", EMPTY_PATCH_LIST)
        self.serve("index.html", b"<html>Verandel</html>")
        self.serve("status/legacy.json", b'{"map":true,"char":true,"login":true}')
        self.serve("status/season.json", b'{"map": true}')

    def start_launcher(self, name=LIVE_LAUNCHER):
        self.launcher_name = name
        self.write_config(name)
        shutil.copyfile(harness.RUNNER, self.path(name))
        return name

    def run_launcher_window(self):
        self.wait_for_no_window()  # a window of the test before may linger a moment
        command, env = wine_in(self.prefix, "/usr/lib/wine/wine64", self.path(self.launcher_name),
                               display=self.display.name)
        command[2] = command[2].replace('"$@"', 'exec "$@"')
        self.output = open(os.path.join(self.work, "wine_output.txt"), "ab")
        self.addCleanup(self.output.close)
        self.proc = subprocess.Popen(command, cwd=self.game, env=env, stdin=subprocess.DEVNULL,
                                     stdout=self.output, stderr=subprocess.STDOUT)
        _track("procs", self.proc)
        self.addCleanup(self.end_launcher)

    def end_launcher(self):
        """After every test, passed or not: the launcher, a copy it restarted
        and every other process of the prefix end, so none lingers into the
        next test; the next start brings the desktop up again."""
        if self.proc.poll() is None:
            self.proc.kill()
        _stop_prefix(self.prefix)
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            pass
        _track("procs", self.proc, keep=False)

    def log_lines(self):
        return [line.split("] ", 1)[1] if "] " in line else line
                for line in self.launcher_log().splitlines()]

    def wait_for_log(self, text, timeout=WAIT, prefix=False):
        def seen():
            if self.proc.poll() not in (None, 0):
                self.fail("launcher ended with %s:\n%s" % (self.proc.returncode, self.launcher_log()))
            return any(line == text or (prefix and line.startswith(text)) for line in self.log_lines())
        wait_for(repr(text) + " in launcher.log", seen, timeout)

    def find_window(self, pattern):
        def search():
            done = subprocess.run(["xdotool", "search", "--name", pattern],
                                  env=dict(os.environ, DISPLAY=self.display.name),
                                  stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
            return done.stdout.decode().split()
        return wait_for("a window named %r" % pattern, search)[0]

    def click(self, window, point):
        self.display.run("xdotool", "mousemove", "--window", window, str(point[0]), str(point[1]),
                         "click", "1")

    def screenshot(self, name):
        shot = os.path.join(self.work, name)
        self.display.run("import", "-window", "root", shot)
        return shot

    def pixel(self, shot, x, y):
        """(r, g, b) of the screenshot's pixel, 8 bits each."""
        text = subprocess.run(["convert", shot, "-crop", "1x1+%d+%d" % (x, y), "-depth", "8",
                               "-format", "%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]", "info:"],
                              capture_output=True, timeout=30, check=True).stdout.decode()
        return tuple(int(v) for v in text.split())

    def colour_count(self, shot):
        return int(subprocess.run(["identify", "-format", "%k", shot], capture_output=True,
                                  timeout=30, check=True).stdout.decode())

    def wait_for_full_bar(self, window):
        """Waits until the window shows a finished pass: the progress bar is
        full, its left end the violet start of the gradient rather than the
        dark empty track. Returns the screenshot."""
        geometry = self.display.run("xdotool", "getwindowgeometry", "--shell", window)
        values = dict(line.split("=") for line in geometry.splitlines())
        left, top = int(values["X"]), int(values["Y"])

        def painted_done():
            shot = self.screenshot("window.png")
            r, g, b = self.pixel(shot, left + 60, top + 525)
            return shot if r > 100 and b > 150 else None
        return wait_for("the full progress bar on screen", painted_done, timeout=20, interval=0.5)

    def click_until_logged(self, window, point, text, attempts=5):
        """Clicks until the line shows in launcher.log: a click that comes in
        just before a pass has cleared its flag is refused, and logged so."""
        for _ in range(attempts):
            self.click(window, point)
            try:
                self.wait_for_log(text, timeout=3)
                return
            except AssertionError:
                pass
        self.wait_for_log(text)

    def wait_for_no_window(self, timeout=20):
        def gone():
            return subprocess.run(["xdotool", "search", "--name", "^" + SERVER_NAME],
                                  env=dict(os.environ, DISPLAY=self.display.name),
                                  stdin=subprocess.DEVNULL, capture_output=True, timeout=30).returncode != 0
        wait_for("the launcher's window to go", gone, timeout)

    def wait_for_exit(self, timeout=20):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.fail("the launcher did not end within %d s of closing" % timeout)


class LiveWindowScenario(WindowCase):
    def test_start_up_synchronisation_paint_and_close(self):
        self.start_launcher()
        files = {"data.grf": b"GRF data" * 512, "AI/USER_AI/AI.lua": b"-- AI\n"}
        self.serve_service("patcher/", files, patch_version=3)
        # What the environment scan finds before the synchronisation starts.
        self.put("qvx.grf", b"12345")
        self.put("ext.grf", b"")
        os.makedirs(self.path("DATA.INI"))
        self.run_launcher_window()

        self.wait_for_log("[INFO] Patch updates completed: Game is up to date (v3).")
        lines = self.log_lines()
        start = lines.index("=" * 50)
        scan = [
            "qvx.dll -> MISSING", "qvx.exe -> MISSING", "DATA.INI -> MISSING",
            "DATA_LEGACY.INI -> MISSING", "DATA_SEASON.INI -> MISSING", "data.grf -> MISSING",
            "qvx.grf -> PRESENT (5 bytes)", "ext.grf -> PRESENT (0 bytes)",
            "data/sclientinfo.xml -> MISSING"]
        game_dir = "Z:" + self.game.replace("/", "\\")
        self.assertEqual(lines[start:start + 15], [
            "=" * 50,
            "=== Verandel Launcher Initializing ===",
            "Launcher executable: " + game_dir + "\\" + LIVE_LAUNCHER,
            "Launcher directory: " + game_dir,
            "Privilege level: ADMINISTRATOR (Elevated)",  # Wine's process always is
        ] + ["Environment scan: " + entry for entry in scan] + [
            "Config loaded: client_exe=qvx.dll, client_args=4tul8, season_enabled=false"])
        self.assertIn("[INFO] File integrity validation passed.", lines)
        self.assertLess(lines.index("[INFO] Validating files integrity..."),
                        lines.index("[INFO] Checking for patch updates..."))
        self.assertFalse(any("Season" in line for line in lines[start:]))
        self.assertGameFile("data.grf", files["data.grf"])
        self.assertGameFile("AI/USER_AI/AI.lua", files["AI/USER_AI/AI.lua"])

        window = self.find_window("^" + SERVER_NAME + "$")
        self.assertEqual(self.display.run("xdotool", "getwindowname", window), SERVER_NAME)
        geometry = self.display.run("xdotool", "getwindowgeometry", "--shell", window)
        values = dict(line.split("=") for line in geometry.splitlines())
        self.assertEqual((values["WIDTH"], values["HEIGHT"]), ("1013", "620"))
        self.assertEqual((values["X"], values["Y"]), (str((1280 - 1013) // 2), str((800 - 620) // 2)))
        shot = self.wait_for_full_bar(window)
        self.assertGreater(self.colour_count(shot), 100, "the screenshot is nearly blank")
        # The status poll reached the service: the website and both documents.
        # The poller runs on its own thread, so its requests may come last.
        def polled():
            paths = [r[1] for r in self.requests()]
            return all(path in paths for path in ("/index.html", "/status/legacy.json",
                                                  "/status/season.json"))
        wait_for("the status poll's requests", polled, timeout=20)

        self.click(window, CLOSE_BUTTON)
        self.assertEqual(self.wait_for_exit(), 0)
        self.wait_for_no_window()

    def test_closing_during_a_download_ends_the_launcher_at_once(self):
        self.start_launcher()
        big = bytes(range(256)) * 4096  # 1 MiB
        self.serve("big.bin", big)
        # The fault server announces the whole file, then sends nothing for
        # 45 s: the launcher appends the file's name to the base address, which
        # the fault server takes as a query value of its own.
        stall = 45
        self.serve("patcher/manifest.json", manifest(
            [("big.bin", big), (LIVE_LAUNCHER, self.read(LIVE_LAUNCHER))],
            base_url=self.svc.fault_url + "/stall/big.bin?seconds=%d&name=" % stall))
        self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
        self.run_launcher_window()
        window = self.find_window("^" + SERVER_NAME + "$")

        # The fault server logs a request only once it has answered, so the
        # stall shows as the open connection.
        fault_port = int(self.svc.fault_url.rsplit(":", 1)[1])
        wait_for("the stalled download", lambda: connected_to(fault_port))
        closed = time.monotonic()
        self.click(window, CLOSE_BUTTON)
        self.assertEqual(self.wait_for_exit(timeout=stall // 2), 0)
        self.assertLess(time.monotonic() - closed, stall / 2, "closing waited for the download")
        self.assertFalse(os.path.exists(self.path("big.bin")))
        self.assertNotIn("[INFO] Patch updates completed", self.launcher_log())


    def test_a_launcher_started_as_old_restarts_before_logging(self):
        self.start_launcher()
        self.serve_service("patcher/", {"data.grf": b"grf"}, patch_version=1)
        shutil.copyfile(self.path(LIVE_LAUNCHER), self.path(LIVE_LAUNCHER + ".old"))
        self.launcher_name = LIVE_LAUNCHER + ".old"
        self.run_launcher_window()
        # The ".old" process ends once it has started the proper name.
        self.assertEqual(self.wait_for_exit(), 0)
        self.launcher_name = LIVE_LAUNCHER
        self.wait_for_log("[INFO] Patch updates completed: Game is up to date (v1).")
        window = self.find_window("^" + SERVER_NAME + "$")
        # The old-binary clean-up runs on its own thread from before the
        # start-up record and may log the removal of the ".old" copy anywhere
        # in between.
        lines = [line for line in self.log_lines()
                 if not line.startswith("[INFO] Cleaned up old binary: ")]
        self.assertEqual(lines.count("=== Verandel Launcher Initializing ==="), 1)
        # Only the restart's own line comes before the start-up record.
        self.assertTrue(lines[0].startswith("[INFO] Restarting launcher"), lines[0])
        self.assertEqual(lines.index("=" * 50), 2)
        game_dir = "Z:" + self.game.replace("/", "\\")
        self.assertIn("Launcher executable: " + game_dir + "\\" + LIVE_LAUNCHER, lines)
        self.assertEqual(len(self.display.run("xdotool", "search", "--name", "^" + SERVER_NAME + "$")
                             .split()), 1)
        self.click(window, CLOSE_BUTTON)
        self.wait_for_no_window()


class TestLauncherWindowScenario(WindowCase):
    def test_sync_files_validates_after_the_start_up_patch_step(self):
        self.start_launcher(TEST_LAUNCHER)
        files = {"data.grf": b"test realm data" * 100}
        self.serve_service("patcher_testers/", files, patch_version=5)
        self.run_launcher_window()

        self.wait_for_log("[INFO] Patch updates completed: Game is up to date (v", prefix=True)
        lines = self.log_lines()
        self.assertIn("[INFO] Test launcher: skipping automatic file integrity check on startup. "
                      "Click 'SYNC FILES' to manually verify/download.", lines)
        self.assertNotIn("[INFO] Validating files integrity...", lines)
        self.assertFalse(os.path.exists(self.path("data.grf")))

        window = self.find_window("^" + SERVER_NAME + " \\[TEST\\]$")
        # The pass clears its flag before it reports, so once its report is on
        # screen a click on SYNC FILES must be taken.
        self.wait_for_full_bar(window)
        self.click(window, SYNC_FILES_BUTTON)
        self.wait_for_log("[INFO] Synchronization finished successfully.")
        lines = self.log_lines()
        self.assertIn("[INFO] User triggered files synchronization via SYNC FILES button...", lines)
        self.assertNotIn("[INFO] File synchronization is already in progress.", lines)
        self.assertGameFile("data.grf", files["data.grf"])

        # Alt+F4 closes through the system's way: WM_CLOSE, then WM_DESTROY.
        # Without a window manager the keyboard follows the pointer, which the
        # click left over the window.
        self.display.run("xdotool", "key", "alt+F4")
        self.assertEqual(self.wait_for_exit(), 0)

    def test_sync_files_waits_for_the_start_up_pass(self):
        self.start_launcher(TEST_LAUNCHER)
        self.serve_service("patcher_testers/", {"data.grf": b"grf"}, patch_version=2)
        # The patch list announces its length, then stays silent for 20 s and
        # breaks off: the start-up pass is still in its patch step meanwhile,
        # with room for a slow machine to find the window and click.
        config = json.loads(self.read("config_test.json"))
        config["patch_list_url"] = (self.svc.fault_url +
                                    "/stall/patcher_testers/patch_qvx.txt?seconds=20")
        self.put("config_test.json", json.dumps(config).encode())
        self.run_launcher_window()
        window = self.find_window("^" + SERVER_NAME + " \\[TEST\\]$")
        self.wait_for_log("[INFO] Checking for patch updates...")

        self.click(window, SYNC_FILES_BUTTON)
        self.wait_for_log("[INFO] File synchronization is already in progress.", timeout=10)
        self.wait_for_log("[ERROR] Patch update error: ", prefix=True)
        lines = self.log_lines()
        self.assertNotIn("[INFO] User triggered files synchronization via SYNC FILES button...", lines)
        self.assertFalse(os.path.exists(self.path("data.grf")))

        # The error is logged a moment before the pass clears its flag.
        self.click_until_logged(window, SYNC_FILES_BUTTON,
                                "[INFO] User triggered files synchronization via SYNC FILES button...")
        self.wait_for_log("[INFO] Synchronization finished successfully.")
        self.assertGameFile("data.grf", b"grf")
        self.click(window, CLOSE_BUTTON)
        self.assertEqual(self.wait_for_exit(), 0)


if __name__ == "__main__":
    start_watchdog()
    harness.main(sys.argv)
