"""Whole synchronisations with what operators publish and players do, as they
really do it: documents written on Windows (paths from a JSON writer fed
Windows paths, a byte order mark, CR LF), and a repair that stops half-way
because a download fails or the launcher is killed.

    python3 operator_e2e.py <path of QVX_Launcher.exe> [TestClass[.test_method]]
"""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import (EMPTY_PATCH_LIST, LIVE_LAUNCHER, WINE_RUN, SyncCase, crc,  # noqa: E402
                     get_paths, manifest, patch_version_bytes, zip_bytes)

UTF8_MARK = b"\xef\xbb\xbf"


def windows_manifest(files, patch_version, base_url=""):
    """A manifest as json.dump writes it on Windows: files is a list of
    (path as the operator's tool holds it, bytes); backslashes come out as
    the escape of two, lines end in CR LF."""
    return manifest(files, patch_version, base_url).replace(b"\n", b"\r\n")


class WindowsDocumentScenario(SyncCase):
    def test_manifest_paths_name_the_same_file_however_separators_are_written(self):
        # The player's own options, a file of the client's data folder, a
        # realm file the manifest adds and one that patch 305 wrote: each
        # must meet its rule under every spelling of its path.
        options = b"-- the player's own options\n" * 30  # 870 bytes: the player's
        data_file = b"<clientinfo local/>"
        patched = b"a = 'patch 305'\n"
        served = {
            "savedata/OptionInfo.lua": b"-- server defaults\n",
            "data/clientinfo.xml": b"<clientinfo server/>",
            "System/a.lua": b"a = 'base 300'\n",
            "System/b.lua": b"b = 'base 300'\n",
        }
        spellings = {
            "slashes": lambda p: p,
            "json-escaped backslashes": lambda p: p.replace("/", "\\"),
            "leading dot, backslashes": lambda p: ".\\" + p.replace("/", "\\"),
            "doubled slashes": lambda p: p.replace("/", "//"),
        }
        for spelling, spell in spellings.items():
            with self.subTest(spelling=spelling):
                self.fresh_game()
                self.serve("patcher/manifest.json", windows_manifest(
                    [(spell(rel), data) for rel, data in served.items()], patch_version=300))
                for rel, data in served.items():
                    self.serve("patcher/client/" + rel, data)
                self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
                self.put("savedata/OptionInfo.lua", options)
                self.put("data/clientinfo.xml", data_file)
                self.put("profiles/legacy/System/a.lua", patched)
                self.put("main.inf", patch_version_bytes(305))
                self.put("patched_hashes.dat", b"system/a.lua|305|%s\r\n" % crc(patched).encode())
                before = len(self.requests())

                result, _ = self.run_launcher()
                self.assertEqual(result, "OK Game is up to date (v305).")
                self.assertEqual(self.read("savedata/OptionInfo.lua"), options)
                self.assertEqual(self.read("data/clientinfo.xml"), data_file)
                self.assertEqual(self.read("profiles/legacy/System/a.lua"), patched)
                self.assertGameFile("profiles/legacy/System/b.lua", served["System/b.lua"])
                self.assertFalse(os.path.exists(self.path("System")))
                self.assertPatchVersion(305)
                self.assertEqual(sorted(get_paths(self.requests()[before:])), [
                    "/patcher/client/System/b.lua", "/patcher/manifest.json",
                    "/patcher/patch_qvx.txt"])

    def test_documents_saved_with_a_byte_order_mark(self):
        # Windows editors save "UTF-8 with BOM" and CR LF.
        base = b"x as the manifest lists it\r\n"
        for document in ("patch list", "manifest"):
            with self.subTest(document=document):
                self.fresh_game()
                listing = b"301 one.txt\r\n302 two.txt\r\n"
                manifest = windows_manifest([("x.txt", base)], patch_version=300)
                if document == "patch list":
                    listing = UTF8_MARK + listing
                else:
                    manifest = UTF8_MARK + manifest
                self.serve("patcher/manifest.json", manifest)
                self.serve("patcher/client/x.txt", base)
                self.serve("patcher/patch_qvx.txt", listing)
                self.serve("patcher/one.txt", b"patch 301\r\n")
                self.serve("patcher/two.txt", b"patch 302\r\n")
                before = len(self.requests())

                result, _ = self.run_launcher()
                self.assertEqual(result, "OK All updates installed successfully (v302)!")
                self.assertGameFile("x.txt", base)
                self.assertGameFile("one.txt", b"patch 301\r\n")
                self.assertGameFile("two.txt", b"patch 302\r\n")
                self.assertPatchVersion(302)
                self.assertEqual(get_paths(self.requests()[before:]), [
                    "/patcher/manifest.json", "/patcher/client/x.txt", "/patcher/patch_qvx.txt",
                    "/patcher/one.txt", "/patcher/two.txt"])


class InterruptedRepairScenario(SyncCase):
    BASE = b"f as the manifest of base 300 lists it\n"
    PATCHED = b"f as patch 305 wrote it\n"
    SECOND = bytes(range(256)) * 64  # 16 KiB: more than the stalled answer lets through

    def serve_service(self, base_url=""):
        self.serve("patcher/manifest.json", windows_manifest(
            [("f.txt", self.BASE), ("g.bin", self.SECOND)], patch_version=300, base_url=base_url))
        self.serve("patcher/client/f.txt", self.BASE)
        self.serve("patcher/patch_qvx.txt", b"301 notes_301.txt\n305 patch_305.zip\n")
        self.serve("patcher/notes_301.txt", b"notes 301\n")
        self.serve("patcher/patch_305.zip", zip_bytes({"f.txt": self.PATCHED}))

    def start_launcher(self):
        with open(os.path.join(self.work, "wine_output.txt"), "ab") as log:
            return subprocess.Popen([WINE_RUN, self.path(LIVE_LAUNCHER)], cwd=self.game,
                                    stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)

    def kill_during_second_download(self):
        """Kills the launcher once f.txt has the manifest's copy and g.bin is
        on its way."""
        proc = self.start_launcher()
        try:
            deadline = time.monotonic() + harness.RUN_TIMEOUT
            while not (os.path.exists(self.path("g.bin.part")) and
                       os.path.exists(self.path("f.txt")) and self.read("f.txt") == self.BASE):
                self.assertIsNone(proc.poll(), "the launcher ended before the second download:\n" +
                                  "\n".join(self.output_lines()))
                self.assertLess(time.monotonic(), deadline, "the second download never began")
                time.sleep(0.05)
        finally:
            proc.kill()
            proc.wait()

    def test_a_rollback_cut_short_brings_the_patch_again(self):
        # f.txt was written by patch 305 and recorded, then damaged: it gets
        # the manifest's older copy, so patch 305 must come again, whatever
        # stops the run after f.txt was replaced.
        for way in ("a download that fails", "the launcher killed"):
            with self.subTest(way=way):
                self.fresh_game()
                self.install_launcher()
                self.put("f.txt", b"damaged\n")
                self.put("main.inf", patch_version_bytes(305))
                self.put("patched_hashes.dat", b"f.txt|305|%s\n" % crc(self.PATCHED).encode())
                if way == "a download that fails":
                    self.serve_service()  # g.bin is not on the server: 404
                    if os.path.exists(os.path.join(self.www, "patcher", "client", "g.bin")):
                        os.remove(os.path.join(self.www, "patcher", "client", "g.bin"))
                    result, _ = self.run_launcher()
                    self.assertEqual(result, "FAILED File integrity validation error: "
                                             "Failed to download file: g.bin")
                else:
                    self.serve("patcher/client/g.bin", self.SECOND)
                    self.serve_service(self.svc.fault_url + "/stall-after/1000/patcher/client/")
                    self.kill_during_second_download()
                self.assertEqual(self.read("f.txt"), self.BASE)
                self.assertPatchVersion(300)

                # The service answers again; a clean start.
                self.serve("patcher/client/g.bin", self.SECOND)
                self.serve_service()
                result, _ = self.run_launcher()
                self.assertEqual(result, "OK All updates installed successfully (v305)!")
                self.assertGameFile("f.txt", self.PATCHED)
                self.assertGameFile("g.bin", self.SECOND)
                self.assertGameFile("notes_301.txt", b"notes 301\n")
                self.assertPatchVersion(305)
                self.assertEqual(self.patched_records()["f.txt"], (305, crc(self.PATCHED)))


if __name__ == "__main__":
    harness.main(sys.argv)
