"""Patches whose tar archives hold paths over tar's 100-byte name field, as
GNU tar, POSIX ustar and Python's tarfile write them, installed by a whole
synchronisation under Wine against nginx.

    python3 tar_patch_e2e.py <path of QVX_Launcher.exe> [TarPatchScenario[.test_method]]
"""

import io
import os
import subprocess
import sys
import tarfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import LIVE_LAUNCHER, SyncCase, crc, manifest  # noqa: E402

# 143 bytes, split at a '/' that leaves both halves within ustar's fields.
LONG_PATH = ("data/texture/effect/magic_circle_of_the_northern_verandel_highlands_at_dusk/"
             "animated_glow_frame_sequence_layer_0042_high_resolution_variant.bmp")
SHORT_PATH = "data/notes_301.txt"
FILES = {LONG_PATH: b"BM texture of patch 301\n" * 40, SHORT_PATH: b"notes of patch 301\n"}


def tar_by_gnu_tar(staging, options):
    return subprocess.run(["tar"] + options + ["-cf", "-", "data"], cwd=staging, check=True,
                          stdout=subprocess.PIPE).stdout


def tar_by_tarfile(staging):
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w") as tar:  # Python's default format: pax
        tar.add(os.path.join(staging, "data"), arcname="data")
    return buf.getvalue()


class TarPatchScenario(SyncCase):
    def test_long_names_land_at_their_full_path(self):
        staging = os.path.join(self.work, "staging")
        for rel, data in FILES.items():
            target = os.path.join(staging, *rel.split("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(data)
        makers = {
            "GNU tar": lambda: tar_by_gnu_tar(staging, []),
            "tar --format=ustar": lambda: tar_by_gnu_tar(staging, ["--format=ustar"]),
            "Python tarfile": lambda: tar_by_tarfile(staging),
        }
        for maker, make in makers.items():
            with self.subTest(maker=maker):
                self.fresh_game()
                self.serve("patcher/manifest.json", manifest([("qvx.dll", b"dll")], patch_version=300))
                self.serve("patcher/client/qvx.dll", b"dll")
                self.serve("patcher/patch_qvx.txt", b"301 patch_301.rgz\n")
                gz = subprocess.run(["gzip", "-c"], input=make(), check=True, stdout=subprocess.PIPE).stdout
                self.serve("patcher/patch_301.rgz", gz)
                result, _ = self.run_launcher()
                self.assertEqual(result, "OK All updates installed successfully (v301)!")
                for rel, data in FILES.items():
                    self.assertGameFile(rel, data)
                self.assertGameFiles([LIVE_LAUNCHER, "main.inf", "patched_hashes.dat", "qvx.dll"] +
                                     list(FILES))
                entries = [name for _, dirs, files in os.walk(self.game) for name in dirs + files]
                self.assertFalse([n for n in entries if "LongLink" in n or "PaxHeader" in n], entries)
                self.assertPatchVersion(301)
                self.assertEqual(self.patched_records(),
                                 {rel.lower(): (301, crc(data)) for rel, data in FILES.items()})


if __name__ == "__main__":
    harness.main(sys.argv)
