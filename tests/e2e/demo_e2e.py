"""The whole program as README's first command runs it: tools/demo.sh
--screenshot against its demo service, in a Wine prefix without any font
settings. The demo checks the road itself (synchronisation, PLAY LEGACY,
the client's launch argument, the launcher closing); this test also looks
at the picture it saved and at what it left running.

    python3 demo_e2e.py
"""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import desktop  # noqa: E402  (tests/support, on the path through harness)

DEMO = os.path.join(harness.SOURCE_DIR, "tools", "demo.sh")
DEMO_PREFIX = os.path.join(harness.BUILD_DIR, "demo", "wineprefix")
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


class DemoScenario(unittest.TestCase):
    def test_headless_demo_plays_legacy_and_its_window_shows_every_text(self):
        shot = os.path.join(harness.BUILD_DIR, "e2e", "demo.png")
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
        self.assertEqual(processes_of(os.path.join(harness.BUILD_DIR, "demo", "service")), [],
                         "the demo left nginx running")

        self.assertEqual(subprocess.run(["identify", "-format", "%wx%h", shot], capture_output=True,
                                        check=True).stdout.decode(), "1013x620")
        for name, box in TEXTS.items():
            self.assertGreater(desktop.bright_pixels(shot, box), 20, "no text in the %s: %s" % (name, shot))
        for x, y in desktop.PILL_DOTS:
            self.assertTrue(desktop.pill_online(desktop.pixel(shot, x, y)), "a pill is not ONLINE: " + shot)
        self.assertTrue(desktop.bar_full(shot), "the progress bar is not full: " + shot)


if __name__ == "__main__":
    unittest.main(verbosity=2)
