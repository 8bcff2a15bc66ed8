"""Runs the console launcher stand-in (sync_runner) in a fresh game directory
against the test update service, and builds the service's documents and
archives with real tools (zipfile, tarfile, gzip)."""

import gzip
import io
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest
import urllib.parse
import zipfile
import zlib

SOURCE_DIR = os.environ.get("VERANDEL_SOURCE_DIR",
                            os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
BUILD_DIR = os.environ.get("VERANDEL_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
WINE_RUN = os.path.join(SOURCE_DIR, "tests", "support", "wine_run.sh")
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "support"))
from service import UpdateService, windows_path  # noqa: E402

# Wine's own error messages (a program it could not start, say) go with each
# run's output to the test's wine_output.txt, which a failed test keeps.
os.environ.setdefault("VERANDEL_WINEDEBUG", "-all,err+all")

RUNNER = None  # set by the test program from its command line
STANDIN = os.environ.get("VERANDEL_STANDIN", "")  # the stand-in client
LIVE_LAUNCHER = "QVX_Launcher.exe"
TEST_LAUNCHER = "QVX_TEST_Launcher.exe"
RUN_TIMEOUT = 120.0
MAX_STARTS = 6

# A patch list with nothing to install.
EMPTY_PATCH_LIST = b"// no patches yet\n"

ACCESS_LINE = re.compile(r'\[[^\]]*\] "(\S+) (\S+)[^"]*" (\d+) \d+ "([^"]*)" "([^"]*)"')


def crc(data):
    return "%08x" % (zlib.crc32(data) & 0xFFFFFFFF)


def manifest(files, patch_version=0, base_url=""):
    """files: list of (path, bytes) or (path, size, crc)."""
    entries = []
    for item in files:
        if len(item) == 2:
            path, data = item
            entries.append({"path": path, "size": len(data), "crc32": crc(data)})
        else:
            path, size, checksum = item
            entries.append({"path": path, "size": size, "crc32": checksum})
    return json.dumps({"patch_version": patch_version, "base_url": base_url, "files": entries},
                      indent=1).encode()


def zip_bytes(files):
    """files: dict name -> bytes, or name -> (size of zeros,) for large members."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in files.items():
            info = zipfile.ZipInfo(name)
            info.compress_type = zipfile.ZIP_STORED if name.endswith("/") else zipfile.ZIP_DEFLATED
            if isinstance(data, tuple):
                block = bytes(1 << 20)
                with z.open(info, "w") as member:
                    for left in range(data[0], 0, -len(block)):
                        member.write(block[:min(left, len(block))])
            else:
                z.writestr(info, data)
    return buf.getvalue()


def rgz_of_tar(files):
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w", format=tarfile.USTAR_FORMAT) as tar:
        for name, data in files.items():
            info = tarfile.TarInfo(name)
            if data is None:
                info.type = tarfile.DIRTYPE
                tar.addfile(info)
            else:
                info.size = len(data)
                tar.addfile(info, io.BytesIO(data))
    return gzip.compress(buf.getvalue())


def rgz_of_records(records):
    """records: list of ('d', name) or ('f', name, bytes); an end record follows."""
    out = bytearray()
    for record in records:
        name = record[1].encode()
        out += record[0].encode() + bytes([len(name)]) + name
        if record[0] == "f":
            out += struct.pack("<I", len(record[2])) + record[2]
    out += b"e"
    return gzip.compress(bytes(out))


def get_paths(requests):
    """The decoded paths of the GET requests among requests()."""
    return [urllib.parse.unquote(path) for method, path, *_ in requests if method == "GET"]


def patch_version_bytes(version):
    return struct.pack("<I", version)


def _problems(result):
    return len(result.failures) + len(result.errors)


class KeepsFailures(unittest.TestCase):
    """A test whose files outlive a failed run: once the cleanups of a run
    that failed or erred are done, after_run(True) moves them to a folder of
    their own (failure_folder), so that the next run of the same test, which
    starts from an empty folder, cannot overwrite them."""

    def run(self, result=None):
        before = _problems(result) if result is not None else 0
        try:
            return super().run(result)
        finally:
            self.after_run(result is not None and _problems(result) > before)

    def after_run(self, failed):
        pass

    def failure_folder(self, name):
        return os.path.join(BUILD_DIR, "e2e", "%s.failed-%s-%d" % (
            name, time.strftime("%Y%m%d-%H%M%S"), os.getpid()))

    @staticmethod
    def report_kept(folder, logs=("launcher.log", "runner_output.txt", "wine_output.txt"), lines=60):
        """Names the kept folder and shows the end of each log in it, for a
        run whose folder nobody can look at (CI)."""
        out = ["", "The failed test's files are kept in " + folder]
        for root, _, names in sorted(os.walk(folder)):
            for name in sorted(set(names) & set(logs)):
                with open(os.path.join(root, name), "rb") as f:
                    tail = f.read().decode("latin-1").splitlines()[-lines:]
                if tail:
                    out += ["--- the last %d lines of %s" % (len(tail), os.path.join(root, name))] + tail
        server_log = os.environ.get("VERANDEL_WINEPREFIX", "") + ".wineserver.log"
        if os.path.isfile(server_log) and os.path.getsize(server_log):
            with open(server_log, "rb") as f:
                out += ["--- the shared Wine server's messages (%s)" % server_log]
                out += f.read().decode("latin-1").splitlines()[-lines:]
        sys.stderr.write("\n".join(out) + "\n")
        sys.stderr.flush()


class SyncCase(KeepsFailures):
    """One fresh game directory and service per test. The service and the
    test's own files live in build/e2e/<class>.<test>; the game directory in
    a short temporary folder of its own (new_game_folder)."""

    def setUp(self):
        self.work = os.path.join(BUILD_DIR, "e2e", "%s.%s" % (type(self).__name__,
                                                               self._testMethodName))
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.outside = []  # folders of the test outside self.work, removed after it
        self.game = self.new_game_folder()
        self.svc = UpdateService(os.path.join(self.work, "service"))
        self.svc.start()
        self.addCleanup(self.svc.stop)
        self.www = self.svc.docroot
        self.write_config(LIVE_LAUNCHER)

    def after_run(self, failed):
        outside = getattr(self, "outside", [])
        if not failed:
            for root in outside:
                shutil.rmtree(root, ignore_errors=True)
            return
        if not hasattr(self, "work"):
            return
        kept = self.failure_folder(os.path.basename(self.work))
        if os.path.isdir(self.work):
            os.rename(self.work, kept)
        for root in outside:
            if os.path.isdir(root):
                shutil.move(root, os.path.join(kept, os.path.basename(root)))
        if os.path.isdir(kept):
            self.report_kept(kept)

    def fresh_game(self, launcher=LIVE_LAUNCHER, **config):
        """An empty game directory again, for the next case of a table."""
        shutil.rmtree(self.game)
        os.makedirs(self.game)
        self.write_config(launcher, **config)

    def new_game_folder(self, windows_length=None):
        """A new, empty game directory in a short temporary folder: the
        system's narrow file calls refuse a path of MAX_PATH characters, and
        the launcher refuses to write a file whose path with the names it
        makes of it would reach that, so no case may pass or fail by where
        the repository lies. With windows_length, the folder is made deep on
        purpose: its Windows path (Z:\...) has exactly that many characters."""
        root = tempfile.mkdtemp(prefix="vg", dir="/tmp")
        self.outside.append(root)
        name = "game"
        if windows_length is not None:
            name = "game_folder_made_deep".ljust(windows_length - len(windows_path(root)) - 1, "_")
        game = os.path.join(root, name)
        os.makedirs(game)
        if windows_length is not None:
            self.assertEqual(len(windows_path(game)), windows_length)
        return game

    def move_game(self, windows_length):
        """Moves to an empty game directory of exactly that Windows length."""
        shutil.rmtree(self.game)
        self.game = self.new_game_folder(windows_length)
        self.write_config(LIVE_LAUNCHER)

    # The live launcher reads config.json with /patcher/ paths, a test
    # launcher config_test.json with /patcher_testers/ ones. Further keys
    # (the Season's) are added as given.
    def write_config(self, launcher, **config):
        test = "TEST" in launcher or "test" in launcher
        root = self.svc.url + ("/patcher_testers/" if test else "/patcher/")
        doc = {
            "server_name": "Verandel",
            "patch_list_url": root + "patch_qvx.txt",
            "patch_base_url": root,
            "full_client_url": self.svc.url + "/downloads/files/Quillfen_Full_Client.zip",
            "manifest_url": root + "manifest.json",
            "base_download_url": root,
            "season_enabled": False,
        }
        doc.update(config)
        name = "config_test.json" if test else "config.json"
        self.put(name, json.dumps(doc, indent=1).encode())

    def path(self, rel):
        return os.path.join(self.game, *rel.replace("\\", "/").split("/"))

    def put(self, rel, data):
        target = self.path(rel)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)

    def read(self, rel):
        with open(self.path(rel), "rb") as f:
            return f.read()

    def serve(self, rel, data):
        target = os.path.join(self.www, *rel.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)

    def install_launcher(self, name=LIVE_LAUNCHER, data=None):
        if data is None:
            shutil.copyfile(RUNNER, self.path(name))
        else:
            self.put(name, data)

    def run_launcher(self, name=LIVE_LAUNCHER, max_starts=MAX_STARTS, timeout=RUN_TIMEOUT):
        """Runs the launcher and every restart it makes; returns (result, lines)."""
        output = self.path("runner_output.txt")
        if os.path.exists(output):
            os.remove(output)
        if not os.path.exists(self.path(name)):
            self.install_launcher(name)
        with open(os.path.join(self.work, "wine_output.txt"), "ab") as log:
            proc = subprocess.Popen([WINE_RUN, self.path(name)], cwd=self.game,
                                    stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + timeout
        results = []
        try:
            while True:
                lines = self.output_lines()
                self.assertLessEqual(sum(l.startswith("[start] ") for l in lines), max_starts,
                                     "restart loop:\n" + "\n".join(lines))
                results = [l for l in lines if l.startswith("[result] ")]
                if results:
                    break
                code = proc.poll()
                if code not in (None, 0):
                    self.fail("launcher ended with %s without a result:\n%s" %
                              (code, "\n".join(lines)))
                if time.monotonic() > deadline:
                    self.fail("no result after %.0f s:\n%s" % (timeout, "\n".join(lines)))
                time.sleep(0.1)
            proc.wait(timeout=30)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            if not results:
                # Without its executable a looping chain cannot start again.
                for leftover in (name, name + ".new", name + ".old"):
                    if os.path.exists(self.path(leftover)):
                        os.remove(self.path(leftover))
        time.sleep(0.5)  # the last process of a restart chain writes its result, then exits
        return results[-1][len("[result] "):], lines

    def hold_unreadable(self, rel):
        """Has the stand-in client keep the file open until the test ends, so
        that it can be replaced but not read."""
        record = os.path.join(self.work, "holder.record.txt")
        holder = subprocess.Popen(
            [WINE_RUN, STANDIN, "--hold=" + windows_path(self.path(rel)), "--stay=600000"],
            env=dict(os.environ, VERANDEL_STANDIN_RECORD=windows_path(record)),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def stop():
            holder.kill()
            holder.wait()
        self.addCleanup(stop)
        deadline = time.monotonic() + 60
        while not os.path.exists(record):
            self.assertIsNone(holder.poll(), "the stand-in could not hold " + rel)
            self.assertLess(time.monotonic(), deadline, "the stand-in did not start")
            time.sleep(0.1)

    def output_lines(self):
        """The runner's complete lines: one it is still writing is left for
        the next look."""
        try:
            with open(self.path("runner_output.txt"), "rb") as f:
                text = f.read().decode("latin-1")
        except FileNotFoundError:
            return []
        return text[:text.rfind("\n") + 1].splitlines()

    def launcher_log(self):
        try:
            with open(self.path("launcher.log"), "rb") as f:
                return f.read().decode("latin-1")
        except FileNotFoundError:
            return ""

    def requests(self):
        """nginx's access log as (method, path, status, range, user agent),
        with every request answered so far."""
        return [m.groups() for m in map(ACCESS_LINE.search, self.svc.settled_access_log()) if m]

    def game_files(self):
        """Every file below the game directory as a relative '/' path."""
        found = set()
        for root, _, files in os.walk(self.game):
            for name in files:
                found.add(os.path.relpath(os.path.join(root, name), self.game).replace(os.sep, "/"))
        return found

    # The runner's own files beside what a scenario expects.
    HARNESS_FILES = {"config.json", "config_test.json", "launcher.log", "runner_output.txt"}

    def assertGameFiles(self, expected, optional=()):
        """The game directory holds exactly these files (besides the harness's)."""
        found = self.game_files() - self.HARNESS_FILES - set(optional)
        self.assertEqual(sorted(found), sorted(set(expected)))

    def assertGameFile(self, rel, data):
        self.assertTrue(os.path.isfile(self.path(rel)), rel + " is missing")
        self.assertEqual(crc(self.read(rel)), crc(data), rel)

    def assertFullClientResumed(self, offset, rel, data):
        """A run against the sound service installs the client from the
        archive kept with offset bytes, asking the service only for the rest."""
        self.write_config(LIVE_LAUNCHER)
        result, _ = self.run_launcher()
        self.assertEqual(result, "OK Game is up to date (v0).")
        self.assertGameFile(rel, data)
        self.assertFalse(os.path.exists(self.path("temp_client.zip")))
        client = [r for r in self.requests() if r[1] == "/downloads/files/Quillfen_Full_Client.zip"]
        self.assertEqual([(r[2], r[3]) for r in client], [("206", "bytes=%d-" % offset)])

    def assertPatchVersion(self, version, name="main.inf"):
        self.assertEqual(self.read(name), patch_version_bytes(version))

    def patched_records(self, name="patched_hashes.dat"):
        records = {}
        if os.path.exists(self.path(name)):
            for line in self.read(name).decode().splitlines():
                key, version, checksum = line.split("|")
                records[key] = (int(version), checksum)
        return records


def main(argv):
    global RUNNER
    RUNNER = argv[1]
    unittest.main(argv=[argv[0]] + argv[2:], verbosity=2)
