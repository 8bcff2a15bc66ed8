"""Patches whose tar archives hold paths over tar's 100-byte name field, as
GNU tar, POSIX ustar and Python's tarfile write them, installed by a whole
synchronisation under Wine against nginx; and paths past the system's limit,
in a game folder made deep, refused by every step that would write them.

    python3 tar_patch_e2e.py <path of QVX_Launcher.exe> [TarPatchScenario[.test_method]]
"""

import io
import os
import subprocess
import sys
import tarfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import (LIVE_LAUNCHER, SyncCase, crc, get_paths, manifest,  # noqa: E402
                     patch_version_bytes)
from service import windows_path  # noqa: E402

# 143 bytes, split at a '/' that leaves both halves within ustar's fields.
LONG_PATH = ("data/texture/effect/magic_circle_of_the_northern_verandel_highlands_at_dusk/"
             "animated_glow_frame_sequence_layer_0042_high_resolution_variant.bmp")
SHORT_PATH = "data/notes_301.txt"
FILES = {LONG_PATH: b"BM texture of patch 301\n" * 40, SHORT_PATH: b"notes of patch 301\n"}

# In a game folder of 75 characters, a name of 209 bytes is a full path of
# 285, past the 260 (with the terminating null) of the system's narrow calls.
DEEP_GAME = 75
DEEP_PATH = LONG_PATH.replace(
    "_variant.bmp", "_variant_for_the_winter_festival_in_the_old_northern_verandel_highlands_v2.bmp")
DEEP_LISTED = DEEP_PATH.replace("data/", "BGM/", 1)  # validation passes over data/
DEEP_PLAIN = "readme_of_the_winter_festival_of_verandel_" + "and_its_highland_quests_" * 7 + ".txt"
DEEP_SEASON = "System/LuaFiles514/" + "season_quest_descriptions_of_the_highlands_" * 4 + ".lub"


def write_tree(staging, files):
    for rel, data in files.items():
        target = os.path.join(staging, *rel.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)


def tar_by_gnu_tar(staging, options):
    return subprocess.run(["tar"] + options + ["-cf", "-", "data"], cwd=staging, check=True,
                          stdout=subprocess.PIPE).stdout


def zip_by_info_zip(staging):
    return subprocess.run(["zip", "-r", "-q", "-", "data"], cwd=staging, check=True,
                          stdout=subprocess.PIPE).stdout


def gzip_bytes(data):
    return subprocess.run(["gzip", "-c"], input=data, check=True, stdout=subprocess.PIPE).stdout


def tar_by_tarfile(staging):
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w") as tar:  # Python's default format: pax
        tar.add(os.path.join(staging, "data"), arcname="data")
    return buf.getvalue()


class TarPatchScenario(SyncCase):
    def test_long_names_land_at_their_full_path(self):
        staging = os.path.join(self.work, "staging")
        write_tree(staging, FILES)
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
                self.serve("patcher/patch_301.rgz", gzip_bytes(make()))
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

    def test_paths_past_the_system_limit_are_refused(self):
        self.assertEqual(len(DEEP_PATH), 209)
        self.move_game(DEEP_GAME)
        staging = os.path.join(self.work, "staging")
        deep_files = {DEEP_PATH: b"BM texture of patch 301\n" * 40, SHORT_PATH: b"notes of patch 301\n"}
        write_tree(staging, deep_files)
        patch_failed = "FAILED Update error: Failed to install patch: "
        # name: (what the service holds, the window's last text, the refused path)
        cases = {
            "Info-ZIP": ({"patcher/patch_qvx.txt": b"301 patch_301.zip\n",
                          "patcher/patch_301.zip": zip_by_info_zip(staging)},
                         patch_failed + "patch_301.zip", DEEP_PATH),
            "GNU tar": ({"patcher/patch_qvx.txt": b"301 patch_301.rgz\n",
                         "patcher/patch_301.rgz": gzip_bytes(tar_by_gnu_tar(staging, []))},
                        patch_failed + "patch_301.rgz", DEEP_PATH),
            "Python tarfile (pax)": ({"patcher/patch_qvx.txt": b"301 patch_301.rgz\n",
                                      "patcher/patch_301.rgz": gzip_bytes(tar_by_tarfile(staging))},
                                     patch_failed + "patch_301.rgz", DEEP_PATH),
            "plain file": ({"patcher/patch_qvx.txt": b"301 %s\n" % DEEP_PLAIN.encode(),
                            "patcher/" + DEEP_PLAIN: b"notes of patch 301\n"},
                           patch_failed + DEEP_PLAIN, DEEP_PLAIN),
            "manifest": ({"patcher/client/" + DEEP_LISTED: b"listed texture\n"},
                         "FAILED File integrity validation error: Failed to download file: " + DEEP_LISTED,
                         DEEP_LISTED),
            "Season manifest": ({"patcher_season/manifest.json": manifest([(DEEP_SEASON, b"quests")]),
                                 "patcher_season/client/" + DEEP_SEASON: b"quests"},
                                "FAILED Season sync error: Failed to download Season file: " + DEEP_SEASON,
                                "profiles/season/" + DEEP_SEASON),
        }
        for kind, (service, result_text, refused) in cases.items():
            with self.subTest(kind=kind):
                season = kind == "Season manifest"
                self.fresh_game(season_enabled=season,
                                season_manifest_url=self.svc.url + "/patcher_season/manifest.json",
                                season_download_url=self.svc.url + "/patcher_season/")
                listed = [("qvx.dll", b"dll")]
                if kind == "manifest":
                    listed.append((DEEP_LISTED, b"listed texture\n"))
                self.serve("patcher/manifest.json", manifest(listed, patch_version=300))
                self.serve("patcher/client/qvx.dll", b"dll")
                self.serve("patcher/patch_qvx.txt", b"// none\n")
                self.put("main.inf", patch_version_bytes(300))
                for rel, data in service.items():
                    self.serve(rel, data)
                before = len(self.requests())
                result, _ = self.run_launcher()
                self.assertEqual(result, result_text, self.launcher_log())
                # Nothing written: not the file that would fit either, no
                # folder, no record; the level stays.
                self.assertGameFiles([LIVE_LAUNCHER, "main.inf", "qvx.dll"])
                self.assertEqual([d for d in os.listdir(self.game) if os.path.isdir(self.path(d))], [])
                self.assertPatchVersion(300)
                full = windows_path(self.path(refused))
                line = "[ERROR] Path too long for this system (%d characters): %s" % (len(full), full)
                self.assertEqual(self.launcher_log().count(line), 1, self.launcher_log())
                # A file that could not be written is not fetched.
                fetched = get_paths(self.requests()[before:])
                self.assertFalse([p for p in fetched if p.endswith((DEEP_PLAIN, DEEP_LISTED, DEEP_SEASON))],
                                 fetched)


if __name__ == "__main__":
    harness.main(sys.argv)
