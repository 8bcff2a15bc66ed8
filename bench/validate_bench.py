"""Start-up validation of a live launcher, timed through the real launcher with
its window under Xvfb against nginx, beside the floor (validate_floor, a bare
loop under the same Wine over the same files); then the peak memory of
DownloadFile on a small and on a 2 GiB transfer from nginx.

    python3 bench/validate_bench.py <build folder> [rounds]

The game directory (3,000 files of up to 400 KiB and a 1 GiB data.grf, made
from a fixed seed) stays in the build folder and is made again only when its
parameters change. A first launcher run fills the integrity cache and the page
cache; each round then runs the launcher and the floor once.
"""

import datetime
import json
import os
import random
import shutil
import subprocess
import sys
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_support as bs  # noqa: E402
from harness import manifest  # noqa: E402
import desktop  # noqa: E402
from service import UpdateService, launcher_config  # noqa: E402
from window_e2e import CLOSE_BUTTON, SERVER_NAME  # noqa: E402

FILE_COUNT = 3000
MAX_FILE_SIZE = 400 * 1024
FOLDERS = 60
GRF_SIZE = 1 << 30
SEED = 12
DOWNLOAD_SIZES = (16 << 20, 2 << 30)
LAUNCHER = "QVX_Launcher.exe"
START_LINE = "[INFO] Loaded server manifest"
END_LINE = "[INFO] File integrity validation passed."
DONE_LINE = "[INFO] Patch updates completed: "
RUN_TIMEOUT = 300.0


def make_game(game):
    """The game directory's files; returns [(path, size, crc)] in manifest order."""
    stamp = "files=%d max=%d folders=%d grf=%d seed=%d" % (FILE_COUNT, MAX_FILE_SIZE, FOLDERS,
                                                            GRF_SIZE, SEED)
    index = os.path.join(game, ".files.json")
    if bs.fixture_ready(game, stamp):
        with open(index) as f:
            return [tuple(entry) for entry in json.load(f)]
    print("making the game directory (once): %s" % game, flush=True)
    bs.fresh_fixture(game)
    rng = random.Random(SEED)
    files = []
    for n in range(FILE_COUNT):
        rel = "res%02d/item%04d.dat" % (n % FOLDERS, n)
        data = rng.randbytes(rng.randint(1, MAX_FILE_SIZE))
        os.makedirs(os.path.join(game, os.path.dirname(rel)), exist_ok=True)
        with open(os.path.join(game, rel), "wb") as f:
            f.write(data)
        files.append((rel, len(data), "%08x" % zlib.crc32(data)))
    crc = 0
    with open(os.path.join(game, "data.grf"), "wb") as f:
        for _ in range(GRF_SIZE >> 20):
            block = rng.randbytes(1 << 20)
            crc = zlib.crc32(block, crc)
            f.write(block)
    files.append(("data.grf", GRF_SIZE, "%08x" % crc))
    with open(index, "w") as f:
        json.dump(files, f)
    bs.mark_fixture(game, stamp)
    return files


def log_time(line):
    return datetime.datetime.strptime(line[1:24], "%Y-%m-%d %H:%M:%S.%f")


class Bench:
    def __init__(self, build, work):
        self.build = build
        self.work = work
        self.game = os.path.join(work, "game")
        self.prefix = os.path.join(work, "wineprefix")
        self.launcher = bs.program(build, os.path.join("launcher", LAUNCHER))
        bs.program(build, os.path.join("bench", "verandel_bench.exe"))
        self.display = None
        self.svc = None

    def serve(self, rel, data):
        target = os.path.join(self.svc.docroot, *rel.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)

    def set_up(self, files):
        self.serve("patcher/manifest.json",
                   manifest(files, patch_version=1, base_url=self.svc.url + "/patcher/client/"))
        self.serve("patcher/patch_qvx.txt", b"// no patches\n")
        self.serve("index.html", b"<html>Verandel</html>")
        self.serve("status/legacy.json", b'{"map":true,"char":true,"login":true}')
        self.serve("status/season.json", b'{"map":true}')
        with open(os.path.join(self.game, "config.json"), "w") as f:
            json.dump(launcher_config(self.svc.url, SERVER_NAME), f, indent=1)
        shutil.copyfile(self.launcher, os.path.join(self.game, LAUNCHER))

    def launcher_lines(self):
        try:
            with open(os.path.join(self.game, "launcher.log"), "rb") as f:
                return f.read().decode("latin-1").splitlines()
        except FileNotFoundError:
            return []

    def run_launcher(self):
        """One start of the launcher with its window; returns (validation
        seconds from launcher.log, peak memory in MiB)."""
        log = os.path.join(self.game, "launcher.log")
        if os.path.exists(log):
            os.remove(log)
        time_file = os.path.join(self.work, "launcher.time")
        command, env = bs.wine_command(self.prefix, *bs.timed_command(time_file, bs.WINE64, LAUNCHER),
                                       display=self.display.name)
        with open(os.path.join(self.work, "launcher.out"), "ab") as out:
            proc = subprocess.Popen(command, cwd=self.game, env=env, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + RUN_TIMEOUT
        try:
            while True:
                lines = self.launcher_lines()
                if any(DONE_LINE in line or "[ERROR]" in line for line in lines):
                    break
                if proc.poll() is not None or time.monotonic() > deadline:
                    bs.fail("the launcher did not finish its pass:\n" + "\n".join(lines[-20:]))
                time.sleep(0.2)
            self.close_window()
            proc.wait(timeout=30)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait(timeout=30)
        start = [line for line in lines if START_LINE in line]
        end = [line for line in lines if END_LINE in line]
        if len(start) != 1 or len(end) != 1:
            bs.fail("the launcher's validation did not pass:\n" + "\n".join(lines[-20:]))
        seconds = (log_time(end[0]) - log_time(start[0])).total_seconds()
        return seconds, bs.peak_mib(time_file)

    def close_window(self):
        """Clicks the window's close button; the prefix's server and services
        stay up for the next program, as they would on a desktop."""
        window = desktop.find_window(self.display.name, "^%s$" % SERVER_NAME, 30)
        desktop.click(self.display.name, window, CLOSE_BUTTON)

    def run_floor(self):
        seconds, _ = bs.run_bench(self.build, self.prefix, self.work, "floor", "validate_floor",
                                  bs.windows_path(self.game),
                                  bs.windows_path(os.path.join(self.svc.docroot, "patcher", "manifest.json")),
                                  display=self.display.name)
        return seconds

    def run_download(self, size):
        name = "download/%d.bin" % size
        served = os.path.join(self.svc.docroot, *name.split("/"))
        os.makedirs(os.path.dirname(served), exist_ok=True)
        with open(served, "wb") as f:
            f.truncate(size)  # a sparse file of zeros: nothing to make or keep
        target = os.path.join(self.work, "downloaded.bin")
        try:
            return bs.run_bench(self.build, self.prefix, self.work, "download", "download",
                                self.svc.url + "/" + name, bs.windows_path(target), display=self.display.name)
        finally:
            os.remove(served)
            if os.path.exists(target):
                os.remove(target)


def main(argv):
    build = os.path.abspath(argv[1])
    rounds = int(argv[2]) if len(argv) > 2 else 3
    work = os.path.join(build, "bench_validate")
    os.makedirs(work, exist_ok=True)
    bench = Bench(build, work)
    files = make_game(bench.game)
    small = [f for f in files if f[1] < GRF_SIZE]
    header = bs.machine_lines() + [
        "directory %d files, %.1f MiB (1 B to %d KiB each), and data.grf, %d MiB, from the integrity cache"
        % (len(small), sum(f[1] for f in small) / bs.MIB, MAX_FILE_SIZE // 1024, GRF_SIZE >> 20)]
    print("\n".join(header), flush=True)

    bench.display = desktop.Display()
    try:
        bs.boot_prefix(bench.prefix, persistent=True)
        with UpdateService(os.path.join(work, "service")) as svc:
            bench.svc = svc
            # The same launcher on a manifest of one small file: the memory
            # that the window and Wine take before any validation.
            bench.set_up(files[:1])
            _, idle_peak = bench.run_launcher()
            bench.set_up(files)
            first, _ = bench.run_launcher()
            print("first run (fills the integrity cache and the page cache): %.3f s" % first, flush=True)
            results = []
            for n in range(1, rounds + 1):
                launcher, peak = bench.run_launcher()
                floor = bench.run_floor()
                results.append((launcher, floor, peak))
                print("round %d    launcher %.3f s   floor %.3f s   ratio %.2f   launcher peak %.1f MiB"
                      % (n, launcher, floor, launcher / floor, peak), flush=True)
            downloads = [(size,) + bench.run_download(size) for size in DOWNLOAD_SIZES]
    finally:
        bs.stop_prefix(bench.prefix)
        bench.display.stop()

    launcher = bs.median([r[0] for r in results])
    floor = bs.median([r[1] for r in results])
    bs.print_summary_head("start-up validation", rounds, header)
    print("launcher  %.3f s   (\"%s\" to \"%s\" in launcher.log, window under Xvfb)"
          % (launcher, START_LINE[7:], END_LINE[7:]))
    print("floor     %.3f s   (bare loop under the same Wine: stat, open, 1 MiB reads, zlib crc32)" % floor)
    print("ratio     %.2f     (target: at most 1.20)" % (launcher / floor))
    print("peak      %.1f MiB  launcher process during the timed runs (largest); %.1f MiB on a manifest of one file"
          % (max(r[2] for r in results), idle_peak))
    for size, seconds, peak in downloads:
        print("download  %5d MiB through DownloadFile from nginx: %.2f s, peak %.1f MiB (target: under 64 MiB)"
              % (size >> 20, seconds, peak))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
