"""Synchronisations against a host that accepts and then stays silent (a
service overloaded on patch day), under Wine: each step gives up on it and
fails with its own text, as it does when the connection is lost. The runner's
time-outs are shortened to a few seconds; the host's silence outlasts any run.

    python3 stall_e2e.py <path of QVX_Launcher.exe> [TestClass[.test_method]]
"""

import json
import os
import random
import sys
import time
from unittest import mock

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import (EMPTY_PATCH_LIST, LIVE_LAUNCHER, TEST_LAUNCHER, SyncCase, manifest,  # noqa: E402
                     zip_bytes)

SILENCE = "seconds=600"  # far beyond the shortened time-out and the harness's patience


class StallScenario(SyncCase):
    def setUp(self):
        super().setUp()
        timeout = mock.patch.dict(os.environ, {"VERANDEL_SERVICE_TIMEOUT_MS": "2000"})
        timeout.start()
        self.addCleanup(timeout.stop)

    def stalled(self, rel, how):
        return "%s/stall/%s?%s&%s" % (self.svc.fault_url, rel, SILENCE, how)

    def configure(self, name, **addresses):
        doc = json.loads(self.read(name))
        doc.update(addresses)
        self.put(name, json.dumps(doc).encode())

    def fault_lines(self, needle, timeout=30):
        """The fault server's log lines that hold needle, once there is one:
        it logs a silent answer only when it notices the hang-up."""
        deadline = time.monotonic() + timeout
        while True:
            with open(self.svc.fault_log, errors="replace") as f:
                lines = [line.rstrip("\n") for line in f if needle in line]
            if lines or time.monotonic() > deadline:
                return lines
            time.sleep(0.1)

    def test_patch_list_from_a_silent_host_fails_the_update(self):
        self.write_config(TEST_LAUNCHER)  # straight to the patch step
        self.serve("patcher_testers/patch_qvx.txt", b"1 note_1.txt\n")
        self.serve("patcher_testers/note_1.txt", b"note")
        cases = [("before=1", "FAILED Update error: Failed to download patch list from server."),
                 ("after=5", "FAILED Update error: Failed to download patch list from server "
                             "(the transfer broke off).")]
        for how, expected in cases:
            with self.subTest(how=how):
                self.fresh_game(TEST_LAUNCHER)
                self.configure("config_test.json", patch_list_url=self.stalled(
                    "patcher_testers/patch_qvx.txt", how))
                result, _ = self.run_launcher(TEST_LAUNCHER, max_starts=1)
                self.assertEqual(result, expected)
                self.assertFalse(os.path.exists(self.path("note_1.txt")))
        # The launcher hung up on the silence; the host never ended it.
        silent = self.fault_lines("/patch_qvx.txt?%s&before=1 " % SILENCE)
        self.assertEqual(len(silent), 1, silent)
        self.assertIn('" 499 0 ', silent[0])

    def test_repair_file_from_a_silent_host_fails_the_validation(self):
        good = bytes(range(256)) * 64
        self.serve("a.bin", good)
        self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
        cases = [("before=1", "Failed to download file: a.bin"),
                 ("after=1000", "Hash verification failed after downloading: a.bin")]
        for how, reason in cases:
            with self.subTest(how=how):
                self.fresh_game()
                # The launcher appends the file's name, which the fault server
                # takes as a query value of its own.
                self.serve("patcher/manifest.json", manifest(
                    [("a.bin", good)], base_url=self.stalled("a.bin", how) + "&name="))
                self.put("a.bin", b"old local copy")
                result, _ = self.run_launcher()
                self.assertEqual(result, "FAILED File integrity validation error: " + reason)
                self.assertEqual(self.read("a.bin"), b"old local copy")
                self.assertGameFiles([LIVE_LAUNCHER, "a.bin"])

    def test_full_client_from_a_silent_host_is_kept_and_resumed(self):
        self.serve("patcher/patch_qvx.txt", EMPTY_PATCH_LIST)
        # Incompressible, so that the archive spans many blocks.
        archive = zip_bytes({"Quillfen_Full/data.grf": random.Random(16).randbytes(600000),
                             "Quillfen_Full/qvx.dll": b"client dll"})
        self.serve("downloads/files/Quillfen_Full_Client.zip", archive)
        sent = 300000
        self.configure("config.json", full_client_url=self.stalled(
            "downloads/files/Quillfen_Full_Client.zip", "after=%d" % sent))
        result, _ = self.run_launcher()
        self.assertEqual(result, "FAILED File integrity validation error: "
                                 "Failed to download full game client from server.")
        # What arrived in whole blocks before the silence stays for the next start.
        kept = self.read("temp_client.zip")
        self.assertTrue(0 < len(kept) <= sent, len(kept))
        self.assertEqual(kept, archive[:len(kept)])
        self.assertFalse(os.path.exists(self.path("data.grf")))
        self.assertFullClientResumed(len(kept), "qvx.dll", b"client dll")


if __name__ == "__main__":
    harness.main(sys.argv)
