"""The launcher in a game folder whose name the system code page cannot hold,
under Wine: one launch error box and nothing written; a folder that the code
page holds works as any other.

Wine takes the code page from the locale: C.UTF-8 gives code page 1252 (and
still lets Wine name UTF-8 folders), whatever the machine's own locale is.

    python3 folder_e2e.py <path of QVX_Launcher.exe> [TestClass[.test_method]]
"""

import os
import shutil
import subprocess
import sys
from unittest import mock

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import LIVE_LAUNCHER, WINE_RUN, SyncCase, manifest  # noqa: E402

MB_ICONERROR = 0x10
UNUSABLE_FOLDER_BOX = (
    "[box] %x|Verandel - Launch Error|The launcher cannot work in this folder: its path has "
    "characters that this system's language settings cannot use.\n\nPlease move the game to a "
    "folder whose path uses plain letters, such as C:\\Games\\Verandel.\n" % MB_ICONERROR)


class FolderScenario(SyncCase):
    def setUp(self):
        super().setUp()
        locale = mock.patch.dict(os.environ, {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"})
        locale.start()
        self.addCleanup(locale.stop)

    def test_folder_the_code_page_cannot_hold_ends_with_one_box(self):
        folder = os.path.join(self.work, "\uac8c\uc784 \ud3f4\ub354")  # Korean, under 1252
        os.makedirs(folder)
        launcher = os.path.join(folder, LIVE_LAUNCHER)
        shutil.copyfile(harness.RUNNER, launcher)
        run = subprocess.run([WINE_RUN, launcher], cwd=folder, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             timeout=harness.RUN_TIMEOUT)
        self.assertEqual(run.stdout.decode("latin-1").replace("\r\n", "\n"), UNUSABLE_FOLDER_BOX)
        self.assertEqual(run.returncode, 1)
        self.assertEqual(os.listdir(folder), [LIVE_LAUNCHER])

    def test_folder_with_accents_works_as_any_other(self):
        self.game = os.path.join(self.work, "Caf\u00e9")
        os.makedirs(self.game)
        self.write_config(LIVE_LAUNCHER)
        self.serve("patcher/manifest.json", manifest([("a.txt", b"a\n")]))
        self.serve("patcher/client/a.txt", b"a\n")
        self.serve("patcher/patch_qvx.txt", b"// no patches yet\n")
        result, lines = self.run_launcher()
        self.assertEqual(result, "OK Game is up to date (v0).")
        self.assertEqual(lines[0], "[start] " + LIVE_LAUNCHER)
        self.assertGameFile("a.txt", b"a\n")


if __name__ == "__main__":
    harness.main(sys.argv)
