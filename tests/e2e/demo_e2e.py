"""The whole program as README's first command runs it: tools/demo.sh
--screenshot against its demo service, in a Wine prefix without any font
settings. The demo checks the road itself (synchronisation, PLAY LEGACY,
the client's launch argument, the launcher closing); this test also looks
at the picture it saved and at what it left running.

    python3 demo_e2e.py
"""

import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import desktop  # noqa: E402  (tests/support, on the path through harness)

DEMO = os.path.join(harness.SOURCE_DIR, "tools", "demo.sh")
DEMO_ROOT = os.path.join(harness.BUILD_DIR, "demo")
DEMO_PREFIX = os.path.join(DEMO_ROOT, "wineprefix")
SHOT = os.path.join(harness.BUILD_DIR, "e2e", "demo.png")
SECONDS = 540

# Window rectangles (x, y, width, height) that hold light text once the
# demo's synchronisation is done: the footer's two lines, the pill labels
# and the two play buttons' labels (inside their faces, clear of the rims).
TEXTS = {
    "status line": (76, 548, 580, 22),
    "second line": (76, 574, 580, 20),
    "WEBPAGE pill": (88, 10, 78, 24),
    "SEASON pill": (196, 10, 78, 24),
    "LEGACY pill": (304, 10, 78, 24),
    "PLAY SEASON label": (705, 565, 125, 20),
    "PLAY LEGACY label": (862, 565, 125, 20),
}


def processes_of(path):
    """Process ids whose command line or environment names the path."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        for part in ("cmdline", "environ"):
            try:
                with open("/proc/%s/%s" % (pid, part), "rb") as f:
                    if path.encode() in f.read():
                        found.append(int(pid))
                        break
            except OSError:
                pass
    return found


class DemoScenario(harness.KeepsFailures):
    def after_run(self, failed):
        """The next demo starts from an empty game directory: a failed run's
        game directory, the launcher's output and the picture are kept."""
        if not failed:
            return
        kept = self.failure_folder("DemoScenario")
        os.makedirs(kept)
        if os.path.isdir(os.path.join(DEMO_ROOT, "game")):
            shutil.copytree(os.path.join(DEMO_ROOT, "game"), os.path.join(kept, "game"))
        for path in (os.path.join(DEMO_ROOT, "wine_output.txt"), SHOT):
            if os.path.exists(path):
                shutil.copy(path, kept)
        self.report_kept(kept)

    def test_headless_demo_plays_legacy_and_its_window_shows_every_text(self):
        shot = SHOT
        os.makedirs(os.path.dirname(shot), exist_ok=True)
        if os.path.exists(shot):
            os.remove(shot)
        env = dict(os.environ, VERANDEL_BUILD=harness.BUILD_DIR)
        env.pop("DISPLAY", None)
        done = subprocess.run(["bash", DEMO, "--screenshot", shot], env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=SECONDS)
        output = done.stdout.decode(errors="replace") + done.stderr.decode(errors="replace")
        self.assertEqual(done.returncode, 0, output)
        self.assertIn("Status line: All updates installed successfully (v3)!\n", output)
        self.assertRegex(output, r"Game directory: \d+ files, [\d.]+ MiB, patch level 3 \(main\.inf\)\n")
        self.assertRegex(output, r"PLAY LEGACY: the client started as \S*qvx\.dll\"? 4tul8 ")
        self.assertEqual(processes_of(DEMO_PREFIX), [], "the demo left Wine running")
        self.assertEqual(processes_of(os.path.join(DEMO_ROOT, "service")), [],
                         "the demo left nginx running")

        self.assertEqual(subprocess.run(["identify", "-format", "%wx%h", shot], capture_output=True,
                                        check=True).stdout.decode(), "1013x620")
        picture = desktop.Picture(shot)
        for name, box in TEXTS.items():
            self.assertGreater(desktop.bright_pixels(picture, box), 20, "no text in the %s: %s" % (name, shot))
        self.assertEqual(desktop.unfinished(picture, (desktop.PLAY_SEASON, desktop.PLAY_LEGACY), pills=3), [],
                         "the picture is not of the finished window: " + shot)


if __name__ == "__main__":
    unittest.main(verbosity=2)
