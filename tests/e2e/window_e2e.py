"""The real launcher with its window under Xvfb, against nginx: the start-up
record, the synchronisation reaching its result, the painted window, clicks
on it, and closing it.

    python3 window_e2e.py <path of QVX_Launcher.exe> [TestClass[.test_method]]

No test clicks the play, setup or graphics-fix buttons: their message boxes
would wait for ever.
"""

import json
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import EMPTY_PATCH_LIST, LIVE_LAUNCHER, TEST_LAUNCHER, SyncCase, manifest  # noqa: E402
import desktop  # noqa: E402  (tests/support, on the path through harness)
from service import launcher_config  # noqa: E402

SERVER_NAME = "Verandel Window Check"
WAIT = 60.0  # every wait below is bounded by this, or less
# The whole script's time; the ctest time-out of window.cmake leaves room above it.
BUDGET = float(os.environ.get("VERANDEL_WINDOW_E2E_SECONDS", "540"))

# Window client coordinates of the buttons (the window has no frame).
CLOSE_BUTTON = (990, 17)
SYNC_FILES_BUTTON = (767, 575)


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
    return desktop.wait_for(what, probe, timeout, interval)


class WindowCase(SyncCase):
    """One Xvfb display and one Wine prefix per class, a fresh game directory
    and service per test. Wine's desktop process stays bound to the display of
    the process that started it, so the window tests keep a prefix of their
    own instead of sharing one with programs that run without a display."""

    # Whether the class's prefix maps Tahoma, Segoe UI and Arial to Liberation
    # Sans; without that it is the prefix a player has.
    font_replacements = True

    @classmethod
    def setUpClass(cls):
        cls.prefix = os.path.join(harness.BUILD_DIR, "e2e", cls.__name__ + ".wineprefix")
        cls.display = desktop.Display()
        try:
            desktop.boot_prefix(cls.prefix, cls.font_replacements)
        except BaseException:
            cls.release()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.release()

    @classmethod
    def release(cls):
        try:
            desktop.remove_prefix(cls.prefix)
        finally:
            cls.display.stop()

    def setUp(self):
        super().setUp()
        self.proc = None

    # Every address of the configuration is on the local service: the status
    # probes too, whose built-in addresses are on the real website.
    def write_config(self, launcher):
        test = "TEST" in launcher or "test" in launcher
        doc = launcher_config(self.svc.url, SERVER_NAME, test=test)
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
        self.output = open(os.path.join(self.work, "wine_output.txt"), "ab")
        self.addCleanup(self.output.close)
        self.proc = desktop.start_in_prefix(self.prefix, self.path(self.launcher_name), self.game,
                                            self.display.name, self.output)
        self.addCleanup(self.end_launcher)

    def end_launcher(self):
        """After every test, passed or not: the launcher, a copy it restarted
        and every other process of the prefix end, so none lingers into the
        next test; the next start brings the desktop up again."""
        desktop.end_in_prefix(self.prefix, self.proc)

    def log_lines(self):
        return [line.split("] ", 1)[1] if "] " in line else line
                for line in self.launcher_log().splitlines()]

    def wait_for_log(self, text, timeout=WAIT, prefix=False):
        def seen():
            self.running()
            return any(line == text or (prefix and line.startswith(text)) for line in self.log_lines())
        wait_for(repr(text) + " in launcher.log", seen, timeout)

    def running(self):
        """Fails the test once the launcher has ended with an error."""
        if self.proc.poll() not in (None, 0):
            self.fail("launcher ended with %s:\n%s" % (self.proc.returncode, self.launcher_log()))

    def find_window(self, pattern):
        return desktop.find_window(self.display.name, pattern, WAIT, self.running)

    def click(self, window, point):
        desktop.click(self.display.name, window, point)

    def wait_for_picture(self, window, lacking):
        """Screenshots of the window (window.png) until lacking(picture) names
        nothing: a line in launcher.log comes before the window paints it."""
        return desktop.wait_for_picture(self.display.name, window, os.path.join(self.work, "window.png"),
                                        lacking, timeout=20)

    def wait_for_finished(self, window, play_button):
        """Waits until the window shows its pass finished: the status text,
        the ready line, the full bar and the play button enabled."""
        return self.wait_for_picture(window, lambda shot: desktop.unfinished(shot, (play_button,)))

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
        wait_for("the launcher's window to go",
                 lambda: not desktop.windows_named(self.display.name, "^" + SERVER_NAME), timeout)

    def wait_for_exit(self, timeout=20):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.fail("the launcher did not end within %d s of closing" % timeout)


class LiveWindowScenario(WindowCase):
    # A player's prefix: none of the launcher's preferred font families exists
    # there, and the window must show its texts all the same.
    font_replacements = False

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
        self.assertEqual(desktop.geometry(self.display.name, window),
                         ((1280 - 1013) // 2, (800 - 620) // 2, 1013, 620))
        # The status line's text is among what a finished window shows.
        shot = self.wait_for_finished(window, desktop.PLAY_LEGACY)
        self.assertGreater(desktop.colour_count(shot.path), 100, "the screenshot is nearly blank")
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
        # The pass clears its flag right after it posts its report, long before
        # the report is on screen, so a click on SYNC FILES then must be taken.
        self.wait_for_finished(window, desktop.TEST_PLAY)
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
    desktop.start_watchdog("window_e2e", BUDGET)
    harness.main(sys.argv)
