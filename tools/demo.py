"""Runs the real launcher as a player would, against a demo update service.

    python3 demo.py BUILD_DIR [--screenshot FILE]

Builds the service under BUILD_DIR/demo/service (demo_service.py), serves it
with nginx on a free 127.0.0.1 port, and starts QVX_Launcher.exe under wine64
in BUILD_DIR/demo/game, a fresh game directory holding only the launcher and
its config.json, with a fresh Wine prefix of its own (no settings of any kind).

Without --screenshot the window opens on $DISPLAY (or on a private Xvfb when
there is none) and the demo ends when the launcher does. With --screenshot it
runs headless and checks the whole road itself: the window shows the
finished synchronisation with every pill ONLINE, FILE gets a PNG of the
window, the status line and the game directory are printed, a click on PLAY
LEGACY starts the stand-in game client with its launch argument and the
launcher closes. The exit status is 0 only when all of that held.

nginx, the prefix's Wine processes and Xvfb are stopped on every way out,
Ctrl-C included.
"""

import argparse
import json
import os
import shutil
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "support"))
import desktop  # noqa: E402
import demo_service  # noqa: E402
from service import UpdateService, launcher_config  # noqa: E402

SERVER_NAME = "Verandel"
LAUNCHER = "QVX_Launcher.exe"
PLAY_LEGACY = (924, 575)  # the button's centre, in window coordinates
CLIENT_RECORD = "qvx.dll.record.txt"  # what the stand-in client writes when it starts
SYNC_SECONDS = 180.0
SCREEN_SECONDS = 60.0
BUDGET = float(os.environ.get("VERANDEL_DEMO_SECONDS", "420"))

# The worker's last log line, and the status line the window shows for it.
OUTCOMES = (
    ("[INFO] Patch updates completed: ", ""),
    ("[ERROR] File integrity validation failed: ", "File integrity validation error: "),
    ("[ERROR] Patch update error: ", "Update error: "),
    ("[ERROR] Season profile sync failed: ", "Season sync error: "),
)


def say(text):
    print("demo: " + text, flush=True)


class Demo:
    def __init__(self, build_dir):
        self.root = os.path.join(build_dir, "demo")
        self.launcher_exe = os.path.join(build_dir, "launcher", LAUNCHER)
        self.client_exe = os.path.join(build_dir, "tests", "standin_client.exe")
        self.game = os.path.join(self.root, "game")
        self.prefix = os.path.join(self.root, "wineprefix")
        self.svc = UpdateService(os.path.join(self.root, "service"))
        self.display = None
        self.proc = None
        self.output = None

    # -- setting up -----------------------------------------------------------

    def prepare(self, own_display):
        desktop.start_watchdog("demo", BUDGET if own_display else None, on_abandon=self.svc.stop)
        for exe in (self.launcher_exe, self.client_exe):
            if not os.path.isfile(exe):
                raise SystemExit("demo: %s is missing; tools/demo.sh builds it" % exe)
        os.makedirs(self.root, exist_ok=True)
        www = demo_service.build(self.svc.workdir, self.launcher_exe, self.client_exe)
        self.svc.start()
        say("update service %s serving %s" % (self.svc.url, www))

        if os.path.isdir(self.prefix):
            desktop.stop_prefix(self.prefix)  # a run that was killed may have left it running
        say("booting a fresh Wine prefix in %s ..." % self.prefix)
        desktop.boot_prefix(self.prefix, font_replacements=False)

        shutil.rmtree(self.game, ignore_errors=True)
        os.makedirs(self.game)
        shutil.copyfile(self.launcher_exe, os.path.join(self.game, LAUNCHER))
        config = launcher_config(self.svc.url, SERVER_NAME, season_enabled=True)
        with open(os.path.join(self.game, "config.json"), "w") as f:
            json.dump(config, f, indent=2)

        if own_display:
            self.display = desktop.Display()
            screen = self.display.name
        else:
            screen = os.environ["DISPLAY"]
        self.output = open(os.path.join(self.root, "wine_output.txt"), "wb")
        self.proc = desktop.start_in_prefix(self.prefix, os.path.join(self.game, LAUNCHER), self.game,
                                            screen, self.output)
        say("launcher started in %s on display %s" % (self.game, screen))

    def stop(self):
        if self.proc is not None:
            desktop.end_in_prefix(self.prefix, self.proc)  # the prefix's other processes too
        elif os.path.isdir(self.prefix):
            desktop.stop_prefix(self.prefix)
        if self.display is not None:
            self.display.stop()
        self.svc.stop()
        if self.output is not None:
            self.output.close()

    # -- what the launcher shows and leaves -----------------------------------

    def log_lines(self):
        try:
            with open(os.path.join(self.game, "launcher.log"), "rb") as f:
                text = f.read().decode("latin-1")
        except FileNotFoundError:
            return []
        return [line.split("] ", 1)[1] if "] " in line else line for line in text.splitlines()]

    def status_line(self):
        """The window's status line once the start-up pass has ended, taken
        from the line the pass logs with its result; None before that."""
        for line in reversed(self.log_lines()):
            for logged, shown in OUTCOMES:
                if line.startswith(logged):
                    return shown + line[len(logged):], not logged.startswith("[ERROR]")
        return None

    def summary(self):
        count, size = 0, 0
        for folder, _, names in os.walk(self.game):
            for name in names:
                count += 1
                size += os.path.getsize(os.path.join(folder, name))
        try:
            with open(os.path.join(self.game, "main.inf"), "rb") as f:
                level = "patch level %d (main.inf)" % struct.unpack("<I", f.read(4).ljust(4, b"\0"))[0]
        except OSError:
            level = "no main.inf"
        return "%d files, %.1f MiB, %s" % (count, size / (1 << 20), level)

    def wait_for_result(self, timeout):
        def ended():
            if self.proc.poll() is not None:
                raise AssertionError("the launcher ended with %s before its result" % self.proc.returncode)
            return self.status_line()
        return desktop.wait_for("the launcher's synchronisation result", ended, timeout, 0.5)

    # -- the headless run -----------------------------------------------------

    def screenshot_run(self, shot):
        status, succeeded = self.wait_for_result(SYNC_SECONDS)
        window = desktop.find_window(self.display.name, "^%s$" % SERVER_NAME, SCREEN_SECONDS)
        # The log has the result before the window has painted it: the
        # picture waits for the finished window itself. A failed pass promises
        # no such window, so its picture is what the window shows then.
        try:
            if succeeded:
                desktop.wait_for_picture(self.display.name, window, shot, finished_demo_window,
                                         SCREEN_SECONDS)
            else:
                desktop.screenshot(self.display.name, shot, window)
        finally:
            say("screenshot of the launcher window: " + shot)
        print("Status line: " + status, flush=True)
        print("Game directory: " + self.summary(), flush=True)
        if not succeeded:
            raise AssertionError("the synchronisation failed; see %s/launcher.log" % self.game)

        self.play_legacy(window)
        command = self.client_command_line(os.path.join(self.game, CLIENT_RECORD))
        expected = self.configured_client_args()
        if launch_argument(command) != expected:
            raise AssertionError("the client was started as %s, without its launch argument %r" %
                                 (command, expected))
        try:
            code = self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            raise AssertionError("the launcher did not close after starting the client")
        if code != 0:
            raise AssertionError("the launcher ended with exit code %d" % code)
        print("PLAY LEGACY: the client started as %s and the launcher closed" % command, flush=True)

    def play_legacy(self, window):
        """Clicks until the launcher logs the action: a click is refused
        while a pass is still clearing its flag, and logged so."""
        for _ in range(5):
            desktop.click(self.display.name, window, PLAY_LEGACY)
            try:
                desktop.wait_for("the play action", lambda: "[ACTION] Play Legacy clicked." in self.log_lines(),
                                 5, 0.2)
                return
            except AssertionError:
                if self.proc.poll() is not None:
                    break
        raise AssertionError("PLAY LEGACY was not taken; see %s/launcher.log" % self.game)

    def configured_client_args(self):
        """The launch argument as the launcher logged its configuration."""
        for line in self.log_lines():
            if line.startswith("Config loaded: "):
                fields = dict(item.split("=", 1) for item in line[len("Config loaded: "):].split(", "))
                return fields.get("client_args")
        raise AssertionError("launcher.log holds no configuration line")

    def client_command_line(self, record):
        def written():
            try:
                with open(record) as f:
                    return dict(line.split("=", 1) for line in f.read().splitlines() if "=" in line)
            except FileNotFoundError:
                return None
        fields = desktop.wait_for("the game client's start record", written, 30, 0.2)
        return fields.get("command_line", "")

    # -- the run a person watches ----------------------------------------------

    def watched_run(self, own_display):
        if own_display:
            say("no $DISPLAY: the window is on the private display %s; Ctrl-C ends the demo" %
                self.display.name)
        else:
            say("click PLAY LEGACY or PLAY SEASON once the synchronisation is done, or close the window")
        reported = False
        while self.proc.poll() is None:
            result = None if reported else self.status_line()
            if result:
                print("Status line: " + result[0], flush=True)
                print("Game directory: " + self.summary(), flush=True)
                reported = True
            time.sleep(0.5)
        record = os.path.join(self.game, CLIENT_RECORD)
        if os.path.exists(record):
            with open(record) as f:
                say("the game client was started: " + f.readline().strip())
        say("the launcher ended with exit code %d" % self.proc.returncode)
        return self.proc.returncode


def finished_demo_window(shot):
    """What the picture lacks of the window after the demo's synchronisation:
    the final status text drawn, both play buttons enabled, the bar full and
    every pill ONLINE (the demo's status documents report both realms up)."""
    return desktop.unfinished(shot, (desktop.PLAY_SEASON, desktop.PLAY_LEGACY), pills=3)


def launch_argument(command_line):
    """What follows the program's name on a command line (quoted or not)."""
    if command_line.startswith('"'):
        end = command_line.find('"', 1)
        rest = command_line[end + 1:] if end >= 0 else ""
    else:
        rest = command_line.split(" ", 1)[1] if " " in command_line else ""
    return rest.strip()


def main(argv):
    parser = argparse.ArgumentParser(description="Run the launcher against a demo update service.")
    parser.add_argument("build_dir")
    parser.add_argument("--screenshot", metavar="FILE",
                        help="run headless, save a PNG of the window and play LEGACY")
    args = parser.parse_args(argv)
    shot = os.path.abspath(args.screenshot) if args.screenshot else None
    own_display = shot is not None or not os.environ.get("DISPLAY")
    demo = Demo(os.path.abspath(args.build_dir))
    try:
        demo.prepare(own_display)
        if shot:
            demo.screenshot_run(shot)
            say("all checks held")
            return 0
        return demo.watched_run(own_display)
    except AssertionError as failure:
        say("FAILED: %s" % failure)
        return 1
    finally:
        demo.stop()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
