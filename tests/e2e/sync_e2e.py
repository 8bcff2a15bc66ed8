"""Whole synchronisations of a game directory against nginx, under Wine:
validation and repair, the full-client install, patches with restarts, the
launcher's self-update, and the faults each must survive.

    python3 sync_e2e.py <path of QVX_Launcher.exe> [TestClass[.test_method]]
"""

import io
import json
import os
import sys
import zipfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import (EMPTY_PATCH_LIST, LIVE_LAUNCHER, TEST_LAUNCHER, SyncCase, crc,  # noqa: E402
                     get_paths, manifest, patch_version_bytes, rgz_of_records, rgz_of_tar,
                     zip_bytes)

UA = "QVX-Launcher/1.0"


def runner_bytes():
    with open(harness.RUNNER, "rb") as f:
        return f.read()


def next_build():
    # Bytes after the last section leave the PE valid but change its CRC-32.
    return runner_bytes() + b"\0VERANDEL-NEXT-BUILD\0" * 8


class ValidationScenario(SyncCase):
    def test_repairs_game_directory_from_manifest(self):
        files = {
            "qvx.dll": b"client dll\n" * 64,
            "AI/USER_AI/AI.lua": b"-- AI v2\n" * 10,
            "BGM/Theme Song 01.mp3": b"ID3 song" * 300,
            "textures/sub dir/a b.bmp": b"BM" + bytes(range(256)) * 4,
            "System/itemInfo.lua": b"tbl = { item = 1 }\n",
            "System/Skill Tree/tree.lub": b"\x1bLua skill tree",
            "qvx_patch.grf": b"Master of Magic" + bytes(2048),
            "savedata/OptionInfo.lua": b"-- server options\n",
            "opensetup.ini": b"[setup]\nserver=1\n",
            "DATA.INI": b"[Data]\n1=qvx_patch.grf\n",
            "dinput.ini": b"[dinput]\n",
            "data/sclientinfo.xml": b"<clientinfo/>",
        }
        listed = list(files.items()) + [(LIVE_LAUNCHER, runner_bytes())]
        self.serve("patcher/manifest.json",
                   manifest(listed, patch_version=7, base_url=self.svc.url + "/patcher/client"))
        for rel, data in files.items():
            if not rel.startswith("data/"):
                self.serve("patcher/client/" + rel, data)
        self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)

        user_options = b"-- the player's own options\n" * 20  # 560 bytes: kept
        self.put("qvx.dll", files["qvx.dll"])
        self.put("AI/USER_AI/AI.lua", b"-- AI v1 (damaged)\n")
        self.put("System/itemInfo.lua", files["System/itemInfo.lua"])  # a root copy to migrate
        self.put("savedata/OptionInfo.lua", user_options)
        self.put("opensetup.ini", b"[setup]\nserver=2\n")
        self.put("DATA.INI", b"")

        result, lines = self.run_launcher()
        self.assertEqual(result, "OK Game is up to date (v7).")

        legacy = {"System/itemInfo.lua", "System/Skill Tree/tree.lub", "qvx_patch.grf"}
        for rel, data in files.items():
            if rel.startswith("data/") or rel in ("savedata/OptionInfo.lua", "opensetup.ini"):
                continue
            self.assertGameFile("profiles/legacy/" + rel if rel in legacy else rel, data)
        self.assertEqual(self.read("savedata/OptionInfo.lua"), user_options)
        self.assertEqual(self.read("opensetup.ini"), b"[setup]\nserver=2\n")
        self.assertFalse(os.path.exists(self.path("data/sclientinfo.xml")))
        self.assertFalse(os.path.exists(self.path("qvx_patch.grf")))
        self.assertEqual(os.stat(self.path("System/itemInfo.lua")).st_ino,
                         os.stat(self.path("profiles/legacy/System/itemInfo.lua")).st_ino,
                         "the migrated copy is a hard link of the root copy")
        self.assertGameFiles([
            LIVE_LAUNCHER, "main.inf", "qvx.dll", "AI/USER_AI/AI.lua", "BGM/Theme Song 01.mp3",
            "textures/sub dir/a b.bmp", "System/itemInfo.lua", "profiles/legacy/System/itemInfo.lua",
            "profiles/legacy/System/Skill Tree/tree.lub", "profiles/legacy/qvx_patch.grf",
            "savedata/OptionInfo.lua", "opensetup.ini", "DATA.INI", "dinput.ini"])
        self.assertPatchVersion(7)

        requests = self.requests()
        self.assertTrue(all(r[4] == UA for r in requests), requests)
        self.assertEqual(sorted(get_paths(requests)), sorted(
            ["/patcher/manifest.json", "/patcher/patch_qvx.txt"] +
            ["/patcher/client/" + rel for rel in (
                "AI/USER_AI/AI.lua", "BGM/Theme Song 01.mp3", "textures/sub dir/a b.bmp",
                "System/Skill Tree/tree.lub", "qvx_patch.grf", "DATA.INI", "dinput.ini")]))
        self.assertIn("/patcher/client/BGM/Theme%20Song%2001.mp3", [r[1] for r in requests])

        log = self.launcher_log()
        for line in ("[INFO] Loaded server manifest (patch_version=7, files=13)",
                     "[INFO] Migrated matching local file into profiles/legacy: System/itemInfo.lua",
                     "[WARN] Hash mismatch for AI/USER_AI/AI.lua (local=%s, server=%s)"
                     % (crc(b"-- AI v1 (damaged)\n"), crc(files["AI/USER_AI/AI.lua"])),
                     "[INFO] Missing file: qvx_patch.grf -> queued for download.",
                     "[INFO] Downloading 7 missing/mismatched file(s)...",
                     "[INFO] Synchronized local patch version to manifest base v7"):
            self.assertIn(line, log)
        # Skipped names (the data/ folder, the launcher) are not even reported.
        self.assertIn("[progress] Validating files integrity (1/13): qvx.dll", lines)
        self.assertFalse([l for l in lines if "(12/13)" in l or "(13/13)" in l], lines)
        self.assertIn("[progress] File integrity validation complete.", lines)

        # A second start finds nothing to repair.
        before = len(self.requests())
        result, _ = self.run_launcher()
        self.assertEqual(result, "OK Game is up to date (v7).")
        self.assertEqual(sorted(get_paths(self.requests()[before:])),
                         ["/patcher/manifest.json", "/patcher/patch_qvx.txt"])

    def test_patch_level_follows_replaced_patched_files(self):
        base = b"base file\n"
        patched = b"file as patch 11/12 wrote it\n"
        damaged = b"damaged\n"
        # (manifest version, local level, record version, local content, level after)
        cases = [
            (10, 12, 11, patched, 12),  # the patch's own file: kept, level stays
            (10, 12, 11, damaged, 10),  # replaced: level drops to the manifest's
            (0, 15, 12, damaged, 11),   # no base version: level drops below the patch
            (0, 15, None, damaged, 15),  # no record: nothing claims a patch
            (10, 9, 11, patched, 10),   # the patch is not installed yet: replaced
            (10, 12, 11, None, 10),     # gone: the manifest's copy comes, so must the patch
        ]
        for m, level, record, local, after in cases:
            with self.subTest(manifest=m, level=level, record=record, local=local):
                self.fresh_game()
                self.serve("patcher/manifest.json", manifest([("x.txt", base)], patch_version=m))
                self.serve("patcher/client/x.txt", base)
                self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
                if local is not None:
                    self.put("x.txt", local)
                self.put("main.inf", patch_version_bytes(level))
                if record is not None:
                    self.put("patched_hashes.dat", b"x.txt|%d|%s\n" % (record, crc(patched).encode()))
                result, _ = self.run_launcher()
                self.assertEqual(result, "OK Game is up to date (v%d)." % after)
                self.assertPatchVersion(after)
                self.assertEqual(self.read("x.txt"), patched if after == level and local == patched
                                 else base)


    def test_patched_realm_files_move_into_a_new_legacy_profile(self):
        # Patches wrote System/a.lua while there was no Legacy profile: the
        # profile takes the patched file, not the manifest's older copy.
        base = b"a = 'base'\n"
        patched = b"a = 'patch 11'\n"
        self.serve("patcher/manifest.json", manifest([("System/a.lua", base)], patch_version=10))
        self.serve("patcher/client/System/a.lua", base)
        self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
        self.put("System/a.lua", patched)
        self.put("main.inf", patch_version_bytes(12))
        self.put("patched_hashes.dat", b"system/a.lua|11|%s\n" % crc(patched).encode())
        result, _ = self.run_launcher()
        self.assertEqual(result, "OK Game is up to date (v12).")
        self.assertGameFile("profiles/legacy/System/a.lua", patched)
        self.assertEqual(os.stat(self.path("System/a.lua")).st_ino,
                         os.stat(self.path("profiles/legacy/System/a.lua")).st_ino)
        self.assertNotIn("/patcher/client/System/a.lua", get_paths(self.requests()))
        self.assertPatchVersion(12)

    def test_user_files_stay_unless_small_or_empty(self):
        server = b"-- server copy\n"
        # (path, local size, replaced)
        cases = [("savedata/OptionInfo.lua", 499, True), ("savedata/OptionInfo.lua", 500, False),
                 ("opensetup.ini", 0, True), ("opensetup.ini", 1, False)]
        for rel, size, replaced in cases:
            with self.subTest(path=rel, size=size):
                self.fresh_game()
                self.serve("patcher/manifest.json", manifest([(rel, server)]))
                self.serve("patcher/client/" + rel, server)
                self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
                local = b"u" * size
                self.put(rel, local)
                result, _ = self.run_launcher()
                self.assertEqual(result, "OK Game is up to date (v0).")
                self.assertEqual(self.read(rel), server if replaced else local)

    def test_interrupted_download_resumes_from_50_mib_on(self):
        # (manifest size, Range of the request that the ".part" left behind asks for)
        cases = [(52428800, "bytes=26214400-"), (52428799, "-")]
        for size, expected_range in cases:
            with self.subTest(size=size):
                self.fresh_game()
                block, checksum = bytes(1 << 20), 0
                for left in range(size, 0, -len(block)):
                    checksum = zlib.crc32(block[:min(left, len(block))], checksum)
                self.serve("patcher/manifest.json", manifest([("big.bin", size, "%08x" % checksum)]))
                self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
                self.serve("patcher/client/big.bin", b"")
                os.truncate(os.path.join(self.www, "patcher", "client", "big.bin"), size)
                self.put("big.bin.part", b"")
                os.truncate(self.path("big.bin.part"), 26214400)  # from a launcher that died
                before = len(self.requests())

                result, _ = self.run_launcher()
                self.assertEqual(result, "OK Game is up to date (v0).")
                self.assertEqual(os.path.getsize(self.path("big.bin")), size)
                self.assertGameFiles([LIVE_LAUNCHER, "big.bin"])
                gets = [r for r in self.requests()[before:] if r[1] == "/patcher/client/big.bin"]
                self.assertEqual([r[3] for r in gets], [expected_range])
                os.remove(self.path("big.bin"))

    def test_large_unchanged_file_is_taken_from_the_integrity_cache(self):
        size = 209715200  # the smallest size the cache covers
        block = bytes(1 << 20)
        checksum = 0
        for _ in range(size // len(block)):
            checksum = zlib.crc32(block, checksum)
        self.serve("patcher/manifest.json", manifest([("big.grf", size, "%08x" % checksum)]))
        self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
        with open(self.path("big.grf"), "wb") as f:
            f.truncate(size)  # sparse: zeros without the disk space
        self.addCleanup(os.remove, self.path("big.grf"))

        result, _ = self.run_launcher()
        self.assertEqual(result, "OK Game is up to date (v0).")
        stat = os.stat(self.path("big.grf"))
        key, cached_size, mtime, cached_crc = self.read("integrity_cache.dat").decode().split("|")
        self.assertEqual((key, int(cached_size), cached_crc.strip()),
                         ("big.grf", size, "%08x" % checksum))

        # Same size and time: the remembered checksum stands, the bytes are not read.
        with open(self.path("big.grf"), "r+b") as f:
            f.seek(size // 2)
            f.write(b"changed behind the cache's back")
        os.utime(self.path("big.grf"), ns=(stat.st_atime_ns, stat.st_mtime_ns))
        before = len(self.requests())
        result, _ = self.run_launcher()
        self.assertEqual(result, "OK Game is up to date (v0).")
        self.assertEqual(get_paths(self.requests()[before:]),
                         ["/patcher/manifest.json", "/patcher/patch_qvx.txt"])


class FullClientScenario(SyncCase):
    DATA_GRF_SIZE = 104857601  # just above the size that bootstraps the level at 221

    def serve_client(self, members):
        archive = zip_bytes(members)
        self.serve("downloads/files/Quillfen_Full_Client.zip", archive)
        return archive

    def test_downloads_client_resuming_archive_then_installs_patches(self):
        self.addCleanup(lambda: os.path.exists(self.path("data.grf")) and os.remove(self.path("data.grf")))
        archive = self.serve_client({
            "Quillfen_Full/": b"",
            "Quillfen_Full/data.grf": (self.DATA_GRF_SIZE,),
            "Quillfen_Full/qvx.dll": b"client dll" * 100,
            "Quillfen_Full/System/itemInfo.lua": b"tbl = {}\n",
        })
        half = len(archive) // 2
        self.put("temp_client.zip", archive[:half])
        self.serve("patcher/patch_qvx.txt",
                   b"220 old_220.txt\n221 old_221.txt\n222 notes_222.txt\n223 patch_223.zip\n")
        self.serve("patcher/notes_222.txt", b"patch notes 222\n")
        self.serve("patcher/patch_223.zip", zip_bytes({
            "System/itemInfo.lua": b"tbl = { patched = 223 }\n",
            "textures/x.bmp": b"BM223",
        }))

        result, lines = self.run_launcher()
        self.assertEqual(result, "OK All updates installed successfully (v223)!")
        self.assertEqual(os.path.getsize(self.path("data.grf")), self.DATA_GRF_SIZE)
        self.assertGameFile("qvx.dll", b"client dll" * 100)
        self.assertGameFile("System/itemInfo.lua", b"tbl = { patched = 223 }\n")
        self.assertGameFile("notes_222.txt", b"patch notes 222\n")
        self.assertGameFile("textures/x.bmp", b"BM223")
        # No Legacy profile is begun from a patch's files alone: activated, it
        # would take every other System file away.
        self.assertGameFiles([
            LIVE_LAUNCHER, "data.grf", "qvx.dll", "System/itemInfo.lua", "main.inf",
            "notes_222.txt", "textures/x.bmp", "patched_hashes.dat"])
        self.assertPatchVersion(223)
        self.assertEqual(self.patched_records(), {
            "notes_222.txt": (222, crc(b"patch notes 222\n")),
            "system/iteminfo.lua": (223, crc(b"tbl = { patched = 223 }\n")),
            "textures/x.bmp": (223, crc(b"BM223")),
        })

        requests = self.requests()
        client = [r for r in requests if r[1] == "/downloads/files/Quillfen_Full_Client.zip"]
        self.assertEqual([(r[2], r[3]) for r in client], [("206", "bytes=%d-" % half)])
        self.assertNotIn("/patcher/old_220.txt", get_paths(requests))
        self.assertNotIn("/patcher/old_221.txt", get_paths(requests))
        self.assertIn("[progress] Downloading full game client (~5.1 GB)...", lines)
        log = self.launcher_log()
        self.assertIn("[WARN] Could not load remote manifest.json from %s/patcher/manifest.json. "
                      "Falling back to legacy base check." % self.svc.url, log)
        self.assertIn("[INFO] main.inf missing but full client detected. "
                      "Initialized patch version to 221.", log)

    def test_transfer_that_breaks_off_is_kept_and_resumed(self):
        self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
        archive = self.serve_client({"Quillfen_Full/data.grf": (2 << 20,),
                                     "Quillfen_Full/qvx.dll": b"client dll"})
        doc = json.loads(self.read("config.json"))
        # Broken off before the first block: no archive to extract either.
        doc["full_client_url"] = (self.svc.fault_url + "/cut/downloads/files/"
                                  "Quillfen_Full_Client.zip?send=0")
        self.put("config.json", json.dumps(doc).encode())
        result, _ = self.run_launcher()
        self.assertEqual(result, "FAILED File integrity validation error: "
                                 "Failed to download full game client from server.")
        self.assertFalse(os.path.exists(self.path("data.grf")))

        cut = 1000
        doc["full_client_url"] = (self.svc.fault_url + "/cut/downloads/files/"
                                  "Quillfen_Full_Client.zip?send=%d" % cut)
        self.put("config.json", json.dumps(doc).encode())
        result, _ = self.run_launcher()
        self.assertEqual(result, "FAILED File integrity validation error: "
                                 "Failed to download full game client from server.")
        self.assertEqual(self.read("temp_client.zip"), archive[:cut])
        self.assertFalse(os.path.exists(self.path("data.grf")))
        self.assertFullClientResumed(cut, "qvx.dll", b"client dll")

    def test_resumed_answer_without_a_length_is_taken_when_the_archive_is_whole(self):
        # A proxy may stream the rest of the archive without announcing its
        # length: the archive's own directory tells that it arrived whole.
        self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
        archive = self.serve_client({"Quillfen_Full/data.grf": (2 << 20,),
                                     "Quillfen_Full/qvx.dll": b"client dll"})
        self.put("temp_client.zip", archive[:1000])
        doc = json.loads(self.read("config.json"))
        doc["full_client_url"] = (self.svc.fault_url + "/no-length-range/downloads/files/"
                                  "Quillfen_Full_Client.zip")
        self.put("config.json", json.dumps(doc).encode())
        result, _ = self.run_launcher()
        self.assertEqual(result, "OK Game is up to date (v0).")
        self.assertGameFile("qvx.dll", b"client dll")
        self.assertFalse(os.path.exists(self.path("temp_client.zip")))

    def test_failed_extraction_deletes_the_archive_and_is_no_client(self):
        self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
        members = {"Quillfen_Full/data.grf": (2 << 20,), "Quillfen_Full/System/x.lua": b"x = 1\n"}
        archive = self.serve_client(members)

        # A file where the archive needs a folder: the extraction fails, the
        # archive goes whatever its state, and the next start downloads it
        # again (the service may have published a new one meanwhile).
        self.put("System", b"in the way")
        result, _ = self.run_launcher()
        self.assertEqual(result, "FAILED File integrity validation error: "
                                 "Failed to extract game client archive.")
        self.assertFalse(os.path.exists(self.path("data.grf")))
        self.assertFalse(os.path.exists(self.path("temp_client.zip")))
        os.remove(self.path("System"))
        result, _ = self.run_launcher()
        self.assertEqual(result, "OK Game is up to date (v0).")
        self.assertEqual(os.path.getsize(self.path("data.grf")), 2 << 20)
        self.assertGameFile("System/x.lua", b"x = 1\n")
        self.assertFalse(os.path.exists(self.path("temp_client.zip")))
        client_gets = [r for r in self.requests() if r[1].endswith("Quillfen_Full_Client.zip")]
        self.assertEqual([r[3] for r in client_gets], ["-", "-"])

        # A damaged archive goes too, and nothing it wrote counts as a client.
        os.remove(self.path("data.grf"))
        damaged = bytearray(archive)
        with zipfile.ZipFile(io.BytesIO(archive)) as z:
            info = z.getinfo("Quillfen_Full/data.grf")
        start = info.header_offset + 30 + len(info.filename) + len(info.extra)
        for i in range(start + 8, start + 8 + 64):
            damaged[i] ^= 0x5A
        self.serve("downloads/files/Quillfen_Full_Client.zip", bytes(damaged))
        result, _ = self.run_launcher()
        self.assertEqual(result, "FAILED File integrity validation error: "
                                 "Failed to extract game client archive.")
        self.assertFalse(os.path.exists(self.path("temp_client.zip")))
        self.assertFalse(os.path.exists(self.path("data.grf")))

    def test_archive_whole_at_start_is_extracted_without_a_download(self):
        # The launcher was closed while it extracted: the archive on disk is
        # whole, and a range request for it would only get a 416.
        self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
        archive = self.serve_client({"Quillfen_Full/data.grf": (2 << 20,),
                                     "Quillfen_Full/qvx.dll": b"client dll"})
        self.put("temp_client.zip", archive)
        result, _ = self.run_launcher()
        self.assertEqual(result, "OK Game is up to date (v0).")
        self.assertGameFile("qvx.dll", b"client dll")
        self.assertFalse(os.path.exists(self.path("temp_client.zip")))
        self.assertFalse([r for r in self.requests() if r[1].endswith("Quillfen_Full_Client.zip")])


class PatchScenario(SyncCase):
    def test_installs_patches_in_order_with_restarts(self):
        old_skill = b"skill = 'base'\n"
        new_skill = b"skill = 'patch 301'\n"
        # The manifest describes level 300; validation keeps files that later
        # patches wrote.
        self.serve("patcher/manifest.json",
                   manifest([("System/skill.lua", old_skill)], patch_version=300))
        self.serve("patcher/client/System/skill.lua", old_skill)
        self.put("profiles/legacy/System/skill.lua", old_skill)
        self.put("main.inf", patch_version_bytes(300))
        new_launcher = next_build()
        self.serve("patcher/patch_qvx.txt", b"\n".join([
            b"// numbered patches",
            b"300 patch_300.zip",
            b"301 patch_301.rgz",
            b"302 patch_302.zip",
            b"303 readme_303.txt",
            b"304 patch_304.rgz",
            b"305 notice_305.txt stop",
        ]) + b"\n")
        self.serve("patcher/patch_301.rgz", rgz_of_tar({
            "./System": None, "./System/skill.lua": new_skill, "./textures/a.bmp": b"BMa"}))
        # One patch with a realm profile file, a name that no system code page
        # can spell (Devanagari: written, but it cannot be opened for its
        # record) and the launcher itself.
        self.serve("patcher/patch_302.zip", zip_bytes({
            "qvx_patch.grf": b"grf 302", "BGM/01.mp3": b"song 302",
            "BGM/\u0930\u093e\u0917.mp3": b"raga 302", LIVE_LAUNCHER: new_launcher}))
        self.serve("patcher/readme_303.txt", b"readme 303\n")
        # A record stream names the launcher as .\QVX_Launcher.exe.
        self.serve("patcher/patch_304.rgz", rgz_of_records([
            ("d", "data"), ("f", "data\\notes.txt", b"notes 304"),
            ("f", ".\\" + LIVE_LAUNCHER, new_launcher)]))
        self.serve("patcher/notice_305.txt", b"notice 305\n")
        # Records go through patched_hashes.dat.tmp: a link to a stale one
        # keeps the first write, which must hold all of patch 301's records.
        self.put("patched_hashes.dat.tmp", b"")
        os.link(self.path("patched_hashes.dat.tmp"), self.path("first_write.dat"))

        result, lines = self.run_launcher()
        self.assertEqual(result, "OK Game is up to date (v305).")
        checks = [l for l in lines if l.startswith("[progress] Checking for updates")]
        self.assertEqual(checks, ["[progress] Checking for updates (current: v300)...",
                                  "[progress] Checking for updates (current: v302)...",
                                  "[progress] Checking for updates (current: v304)...",
                                  "[progress] Checking for updates (current: v305)..."])
        self.assertEqual(lines.count("[progress] Launcher updated. Restarting..."), 3)
        self.assertEqual(sum(l.startswith("[start] ") for l in lines), 4)
        self.assertEqual(self.read("first_write.dat"), b"system/skill.lua|301|%s\r\ntextures/a.bmp|301|%s\r\n"
                         % (crc(new_skill).encode(), crc(b"BMa").encode()))

        self.assertEqual(self.read(LIVE_LAUNCHER), new_launcher)
        self.assertFalse(os.path.exists(self.path(LIVE_LAUNCHER + ".new")))
        self.assertGameFile("System/skill.lua", new_skill)
        self.assertGameFile("profiles/legacy/System/skill.lua", new_skill)
        self.assertGameFile("textures/a.bmp", b"BMa")
        self.assertGameFile("qvx_patch.grf", b"grf 302")
        self.assertGameFile("profiles/legacy/qvx_patch.grf", b"grf 302")
        self.assertGameFile("BGM/01.mp3", b"song 302")
        self.assertGameFile("BGM/\u0930\u093e\u0917.mp3", b"raga 302")
        self.assertGameFile("readme_303.txt", b"readme 303\n")
        self.assertGameFile("data/notes.txt", b"notes 304")
        self.assertGameFile("notice_305.txt", b"notice 305\n")
        self.assertGameFiles([
            LIVE_LAUNCHER, "main.inf", "patched_hashes.dat", "System/skill.lua",
            "profiles/legacy/System/skill.lua", "textures/a.bmp", "qvx_patch.grf",
            "profiles/legacy/qvx_patch.grf", "BGM/01.mp3", "BGM/\u0930\u093e\u0917.mp3", "readme_303.txt",
            "data/notes.txt", "notice_305.txt", "first_write.dat"], optional=[LIVE_LAUNCHER + ".old"])
        self.assertPatchVersion(305)
        self.assertEqual(self.patched_records(), {
            "system/skill.lua": (301, crc(new_skill)),
            "textures/a.bmp": (301, crc(b"BMa")),
            "qvx_patch.grf": (302, crc(b"grf 302")),
            "bgm/01.mp3": (302, crc(b"song 302")),
            "readme_303.txt": (303, crc(b"readme 303\n")),
            "data/notes.txt": (304, crc(b"notes 304")),
            "notice_305.txt": (305, crc(b"notice 305\n")),
        })
        self.assertIn("[INFO] File System/skill.lua matches incremental patch v301 hash (%s)."
                      % crc(new_skill), self.launcher_log())
        patch_gets = [p for p in get_paths(self.requests()) if not p.endswith(".json")
                      and not p.endswith("patch_qvx.txt")]
        self.assertEqual(patch_gets, ["/patcher/patch_301.rgz", "/patcher/patch_302.zip",
                                      "/patcher/readme_303.txt", "/patcher/patch_304.rgz",
                                      "/patcher/notice_305.txt"])

    def test_plain_file_patch_never_moves_a_folder_aside(self):
        # The busy-file rule is for a file in use, not for a folder of that name.
        self.write_config(TEST_LAUNCHER)
        self.serve("patcher_testers/patch_qvx.txt", b"1 System\n")
        self.serve("patcher_testers/System", b"not a folder")
        self.put("System/a.lua", b"a = 1\n")
        result, _ = self.run_launcher(TEST_LAUNCHER, max_starts=1)
        self.assertEqual(result, "FAILED Update error: Failed to install patch: System")
        self.assertGameFiles([TEST_LAUNCHER, "System/a.lua"])
        self.assertEqual(self.read("System/a.lua"), b"a = 1\n")

    def test_test_launcher_keeps_its_own_state_and_skips_validation(self):
        self.write_config(TEST_LAUNCHER)
        self.serve("patcher_testers/manifest.json", manifest([("x.txt", b"x")]))
        self.serve("patcher_testers/patch_qvx.txt", b"1 patch_1.zip\n")
        self.serve("patcher_testers/patch_1.zip", zip_bytes({"System/a.lua": b"a = 1\n"}))
        result, _ = self.run_launcher(TEST_LAUNCHER)
        self.assertEqual(result, "OK All updates installed successfully (v1)!")
        self.assertPatchVersion(1, "main_test.inf")
        self.assertEqual(self.patched_records("patched_hashes_test.dat"),
                         {"system/a.lua": (1, crc(b"a = 1\n"))})
        self.assertGameFiles([TEST_LAUNCHER, "main_test.inf", "patched_hashes_test.dat",
                              "System/a.lua"])
        self.assertEqual(get_paths(self.requests()),
                         ["/patcher_testers/patch_qvx.txt", "/patcher_testers/patch_1.zip"])


class SelfUpdateScenario(SyncCase):
    def setUp(self):
        super().setUp()
        self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
        self.serve("patcher/client/qvx.dll", b"client dll")

    def test_replaces_itself_and_restarts(self):
        new_launcher = next_build()
        self.serve("patcher/manifest.json", manifest([
            (LIVE_LAUNCHER, new_launcher), ("qvx.dll", b"client dll")]))
        self.serve("patcher/client/" + LIVE_LAUNCHER, new_launcher)

        result, lines = self.run_launcher()
        self.assertEqual(result, "OK Game is up to date (v0).")
        self.assertEqual(sum(l.startswith("[start] ") for l in lines), 2)
        self.assertEqual(self.read(LIVE_LAUNCHER), new_launcher)
        self.assertGameFile("qvx.dll", b"client dll")
        # The old build may stay behind as ".old" for the later clean-up; no ".new".
        self.assertGameFiles([LIVE_LAUNCHER, "qvx.dll"], optional=[LIVE_LAUNCHER + ".old"])
        self.assertEqual(get_paths(self.requests()).count("/patcher/client/" + LIVE_LAUNCHER), 1)
        self.assertIn("[INFO] Launcher binary hash mismatch (local=%s, server=%s). "
                      "Downloading new launcher..." % (crc(runner_bytes()), crc(new_launcher)),
                      self.launcher_log())

    def test_replacement_that_fails_its_check_is_dropped(self):
        new_launcher = next_build()
        self.serve("patcher/manifest.json", manifest([
            (LIVE_LAUNCHER, new_launcher), ("qvx.dll", b"client dll")]))
        self.serve("patcher/client/" + LIVE_LAUNCHER, new_launcher[:-100])  # cut short

        result, lines = self.run_launcher()
        self.assertEqual(result, "OK Game is up to date (v0).")
        self.assertEqual(sum(l.startswith("[start] ") for l in lines), 1)
        self.assertEqual(self.read(LIVE_LAUNCHER), runner_bytes())
        self.assertGameFile("qvx.dll", b"client dll")
        self.assertGameFiles([LIVE_LAUNCHER, "qvx.dll"])
        self.assertIn("[WARN] Could not self-update launcher binary from manifest; continuing.",
                      self.launcher_log())


class FaultScenario(SyncCase):
    def test_download_that_fails_its_checksum_replaces_nothing(self):
        good = b"a good body\n"
        self.serve("patcher/manifest.json", manifest([("a.txt", good), ("b.txt", b"b\n")],
                                                     patch_version=4))
        self.serve("patcher/client/a.txt", b"a body that does not match\n")
        self.serve("patcher/client/b.txt", b"b\n")
        self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
        self.put("a.txt", b"old local a\n")

        result, _ = self.run_launcher()
        self.assertEqual(result, "FAILED File integrity validation error: "
                                 "Hash verification failed after downloading: a.txt")
        self.assertEqual(self.read("a.txt"), b"old local a\n")
        self.assertGameFiles([LIVE_LAUNCHER, "a.txt"])
        self.assertIn("[ERROR] Downloaded file hash verification failed for a.txt (got=%s, "
                      "expected=%s)" % (crc(b"a body that does not match\n"), crc(good)),
                      self.launcher_log())
        self.assertNotIn("/patcher/patch_qvx.txt", get_paths(self.requests()))

    def test_damaged_patch_archive_is_not_installed(self):
        good_zip = zip_bytes({"a.txt": b"a" * 5000, "b.txt": b"b" * 5000})
        flipped = bytearray(good_zip)
        with zipfile.ZipFile(io.BytesIO(good_zip)) as z:
            info = z.getinfo("b.txt")
        start = info.header_offset + 30 + len(info.filename) + len(info.extra)
        for i in range(start, start + info.compress_size):
            flipped[i] ^= 0x33
        good_rgz = rgz_of_tar({"a.txt": b"a" * 5000, "b.txt": b"b" * 5000})
        cases = [("patch_11.zip", good_zip[:-40]),        # its directory cut off
                 ("patch_11.zip", bytes(flipped)),        # an entry that fails its CRC-32
                 ("patch_11.rgz", good_rgz[:len(good_rgz) // 2])]  # the stream cut short
        for name, body in cases:
            with self.subTest(name=name, size=len(body)):
                self.fresh_game()
                self.serve("patcher/manifest.json", manifest([("qvx.dll", b"dll")]))
                self.serve("patcher/client/qvx.dll", b"dll")
                self.serve("patcher/patch_qvx.txt", b"11 %s\n12 patch_12.txt\n" % name.encode())
                self.serve("patcher/" + name, body)
                self.serve("patcher/patch_12.txt", b"12")
                self.put("main.inf", patch_version_bytes(10))
                before = len(self.requests())
                result, _ = self.run_launcher()
                self.assertEqual(result, "FAILED Update error: Failed to install patch: " + name)
                self.assertPatchVersion(10)
                # Extraction is not transactional: an entry before the damage may stay,
                # but nothing is recorded for it and the level does not move.
                self.assertGameFiles([LIVE_LAUNCHER, "main.inf", "qvx.dll"], optional=["a.txt"])
                self.assertNotIn("/patcher/patch_12.txt", get_paths(self.requests()[before:]))

    def test_patch_whose_records_cannot_be_saved_is_not_installed(self):
        # Without its record the next validation would put the manifest's copy
        # back under a level that claims the patch (and a "stop" patch would
        # then be installed and restarted into for ever).
        self.serve("patcher/manifest.json", manifest([("qvx.dll", b"dll")], patch_version=10))
        self.serve("patcher/client/qvx.dll", b"dll")
        self.serve("patcher/patch_qvx.txt", b"11 qvx.dll stop\n")
        self.serve("patcher/qvx.dll", b"dll of patch 11")
        self.put("main.inf", patch_version_bytes(10))
        os.makedirs(self.path("patched_hashes.dat.tmp"))
        result, lines = self.run_launcher(max_starts=1)
        self.assertEqual(result, "FAILED Update error: Failed to record patched file: qvx.dll")
        self.assertNotIn("[progress] Launcher updated. Restarting...", lines)
        self.assertPatchVersion(10)

    def test_unwritable_version_file_fails_instead_of_restarting(self):
        self.serve("patcher/manifest.json", manifest([("qvx.dll", b"dll")]))
        self.serve("patcher/client/qvx.dll", b"dll")
        self.serve("patcher/patch_qvx.txt", b"1 note_1.txt stop\n")
        self.serve("patcher/note_1.txt", b"note")
        # The version file is rewritten through main.inf.tmp: a folder there
        # makes every write fail while main.inf itself reads as missing.
        os.makedirs(self.path("main.inf.tmp"))
        result, lines = self.run_launcher(max_starts=1)
        self.assertEqual(result, "FAILED Update error: Failed to write patch version file: main.inf")
        self.assertNotIn("[progress] Launcher updated. Restarting...", lines)

    def test_unwritable_version_file_fails_the_validation(self):
        # A level left below the manifest's base would bring old patches over
        # the newer files that the validation just checked.
        self.serve("patcher/manifest.json", manifest([("x.txt", b"x 7\n")], patch_version=7))
        self.serve("patcher/client/x.txt", b"x 7\n")
        self.serve("patcher/patch_qvx.txt", b"5 x.txt\n")
        self.serve("patcher/x.txt", b"x 5\n")
        os.makedirs(self.path("main.inf.tmp"))
        result, _ = self.run_launcher(max_starts=1)
        prefix = "FAILED File integrity validation error: Failed to write patch version file: "
        self.assertTrue(result.startswith(prefix) and result.endswith("\\main.inf"), result)
        self.assertEqual(self.read("x.txt"), b"x 7\n")
        self.assertNotIn("[INFO] Synchronized local patch version", self.launcher_log())
        self.assertNotIn("/patcher/patch_qvx.txt", get_paths(self.requests()))

    def test_unreadable_version_file_installs_nothing(self):
        # Reading it as level 0 would bring every patch again over newer files.
        # The test launcher goes straight to the patches.
        self.write_config(TEST_LAUNCHER)
        self.serve("patcher_testers/patch_qvx.txt", b"1 note_1.txt\n")
        self.serve("patcher_testers/note_1.txt", b"note")
        os.makedirs(self.path("main_test.inf"))
        result, _ = self.run_launcher(TEST_LAUNCHER, max_starts=1)
        self.assertEqual(result,
                         "FAILED Update error: Could not read patch version file: main_test.inf")
        self.assertNotIn("/patcher_testers/note_1.txt", get_paths(self.requests()))
        self.assertFalse(os.path.exists(self.path("note_1.txt")))

    def test_unreadable_state_file_keeps_patched_files(self):
        # Read as level 0, or as "no records", the file that patch 11 wrote
        # would pass for a damaged one and get the manifest's older copy.
        base, patched = b"base file\n", b"file as patch 11 wrote it\n"
        self.serve("patcher/manifest.json", manifest([("x.txt", base)], patch_version=10))
        self.serve("patcher/client/x.txt", base)
        self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
        for state, reason in (("main.inf", "Could not read patch version file: "),
                              ("patched_hashes.dat", "Could not read patched file records: ")):
            with self.subTest(state=state):
                self.fresh_game()
                self.put("x.txt", patched)
                self.put("main.inf", patch_version_bytes(11))
                self.put("patched_hashes.dat", b"x.txt|11|%s\n" % crc(patched).encode())
                os.remove(self.path(state))
                os.makedirs(self.path(state))  # there, but no file opens it
                before = len(self.requests())
                result, _ = self.run_launcher(max_starts=1)
                prefix = "FAILED File integrity validation error: " + reason
                self.assertTrue(result.startswith(prefix) and result.endswith("\\" + state), result)
                self.assertEqual(self.read("x.txt"), patched)
                self.assertEqual(get_paths(self.requests()[before:]), ["/patcher/manifest.json"])

    def test_unreadable_patched_file_brings_its_patch_again(self):
        # A file that is there but cannot be read is replaced like a missing
        # one, and like one it takes the level below the patch that wrote it.
        base, patched = b"base file\n", b"file as patch 11 wrote it\n"
        self.serve("patcher/manifest.json", manifest([("x.txt", base)], patch_version=10))
        self.serve("patcher/client/x.txt", base)
        self.serve("patcher/patch_qvx.txt", b"11 x.txt\n")
        self.serve("patcher/x.txt", patched)
        self.put("main.inf", patch_version_bytes(11))
        self.put("patched_hashes.dat", b"x.txt|11|%s\n" % crc(patched).encode())
        self.put("x.txt", patched)
        self.hold_unreadable("x.txt")
        result, _ = self.run_launcher()
        self.assertEqual(result, "OK All updates installed successfully (v11)!")
        self.assertGameFile("x.txt", patched)
        self.assertPatchVersion(11)
        self.assertIn("[INFO] Synchronized local patch version to manifest base v10", self.launcher_log())

    def test_patch_names_outside_the_game_directory_are_refused(self):
        self.serve("patcher/manifest.json", manifest([("qvx.dll", b"dll")]))
        self.serve("patcher/client/qvx.dll", b"dll")
        for name in ("../escaped_patch.txt", "..\\escaped_patch.txt", "C:/escaped_patch.txt"):
            with self.subTest(name=name):
                self.serve("patcher/patch_qvx.txt", b"1 %s\n" % name.encode())
                result, _ = self.run_launcher(max_starts=1)
                self.assertEqual(result, "FAILED Update error: Refusing patch with an unsafe "
                                         "file name: " + name)
                self.assertFalse(os.path.exists(os.path.join(self.game, "..", "escaped_patch.txt")))
                self.assertFalse(any("escaped_patch" in path for path in get_paths(self.requests())))

    def test_patch_names_that_windows_writes_elsewhere_are_refused(self):
        # Windows drops the trailing dot: "qvx.dll." would replace qvx.dll
        # under a record of "qvx.dll.", and the launcher without a restart.
        self.serve("patcher/manifest.json", manifest([("qvx.dll", b"dll")]))
        self.serve("patcher/client/qvx.dll", b"dll")
        for name in ("qvx.dll.", LIVE_LAUNCHER + ".", "System./itemInfo.lua"):
            with self.subTest(name=name):
                self.serve("patcher/patch_qvx.txt", b"1 %s\n" % name.encode())
                self.serve("patcher/" + name, b"patched")
                result, _ = self.run_launcher(max_starts=1)
                self.assertEqual(result, "FAILED Update error: Refusing patch with an unsafe "
                                         "file name: " + name)
                self.assertGameFile("qvx.dll", b"dll")
                self.assertEqual(self.read(LIVE_LAUNCHER), runner_bytes())
                self.assertFalse(os.path.exists(self.path("System")))
                self.assertFalse(os.path.exists(self.path("patched_hashes.dat")))
                self.assertNotIn("/patcher/" + name, get_paths(self.requests()))

    def test_manifest_paths_outside_the_game_directory_are_ignored(self):
        escaping = ["../escaped.txt", "..\\escaped2.txt", "sub/../../escaped3.txt",
                    "C:/escaped4.txt", "/escaped5.txt"]
        self.serve("patcher/manifest.json", manifest(
            [(p, b"outside") for p in escaping] + [("inside.txt", b"inside")]))
        for name in ("escaped.txt", "escaped2.txt", "escaped3.txt", "escaped4.txt", "escaped5.txt"):
            self.serve("patcher/" + name, b"outside")
            self.serve("patcher/client/" + name, b"outside")
        self.serve("patcher/client/inside.txt", b"inside")
        self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)

        result, _ = self.run_launcher()
        self.assertEqual(result, "OK Game is up to date (v0).")
        self.assertGameFile("inside.txt", b"inside")
        self.assertGameFiles([LIVE_LAUNCHER, "inside.txt"])
        # Around the game directory, and in the test's own folder beside the service's.
        written = [os.path.join(root, f) for top in (os.path.dirname(self.game), self.work)
                   for root, _, files in os.walk(top)
                   for f in files if f.startswith("escaped") and "/service/" not in root + "/"]
        self.assertEqual(written, [])
        prefix = os.environ.get("VERANDEL_WINEPREFIX", "")
        self.assertFalse(os.path.exists(os.path.join(prefix, "drive_c", "escaped4.txt")))
        self.assertFalse(os.path.exists("/escaped5.txt"))
        self.assertEqual(sorted(get_paths(self.requests())), [
            "/patcher/client/inside.txt", "/patcher/manifest.json", "/patcher/patch_qvx.txt"])


if __name__ == "__main__":
    harness.main(sys.argv)
