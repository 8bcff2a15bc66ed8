"""Installation of one ZIP patch of many small files through
CheckAndInstallPatches under Wine, against nginx serving the patch list and the
patch, beside ExtractArchive alone on the same archive in the same round.

    python3 bench/patch_bench.py <build folder> [files] [rounds]

The patch (default 16,000 files of 64 bytes, stored, in 100 folders) is made
once per file count in the build folder and kept. Each round extracts it into
an empty folder (verandel_bench extract), then installs it into a game
directory at level 1 that holds a copy of the benchmark program (the records
go beside the launcher's own file) and checks the level and the records that
the installation left.
"""

import os
import shutil
import struct
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_support as bs  # noqa: E402
from service import UpdateService  # noqa: E402

FILE_SIZE = 64
FOLDERS = 100
LEVEL, PATCH = 1, 2
PATCH_FILE = "patch_%d.zip" % PATCH
COPY = "verandel_bench.exe"


def make_patch(folder, count):
    archive = os.path.join(folder, PATCH_FILE)
    stamp = "files=%d size=%d folders=%d stored" % (count, FILE_SIZE, FOLDERS)
    if bs.fixture_ready(folder, stamp):
        return archive
    print("making %s (once)" % archive, flush=True)
    bs.fresh_fixture(folder)
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_STORED) as z:
        for n in range(count):
            data = (b"file %d of the patch " % n).ljust(FILE_SIZE - 1, b".") + b"\n"
            z.writestr("data/folder%03d/file%05d.txt" % (n % FOLDERS, n), data)
    bs.mark_fixture(folder, stamp)
    return archive


class Bench:
    def __init__(self, build, work, count):
        self.build = build
        self.work = work
        self.count = count
        self.prefix = os.path.join(work, "wineprefix")
        self.program = bs.program(build, os.path.join("bench", "verandel_bench.exe"))
        self.out = os.path.join(work, "out")
        self.game = os.path.join(work, "game")

    def clear(self):
        for folder in (self.out, self.game):
            shutil.rmtree(folder, ignore_errors=True)
        subprocess.run(["sync"])  # the last round's writes do not land on this one

    def extract(self, archive):
        self.clear()
        return bs.run_bench(self.build, self.prefix, self.work, "extract", "extract",
                            bs.windows_path(archive), bs.windows_path(self.out))

    def install(self, url):
        """The patch step in a fresh game directory: (seconds, peak memory in MiB)."""
        self.clear()
        os.makedirs(self.game)
        copy = os.path.join(self.game, COPY)
        shutil.copyfile(self.program, copy)
        with open(os.path.join(self.game, "main.inf"), "wb") as f:
            f.write(struct.pack("<I", LEVEL))
        figures = bs.run_bench(self.build, self.prefix, self.work, "patch", "patch",
                               url + "/patcher/patch_qvx.txt", url + "/patcher/", copy=copy)
        self.check_installed()
        return figures

    def check_installed(self):
        with open(os.path.join(self.game, "main.inf"), "rb") as f:
            if f.read() != struct.pack("<I", PATCH):
                bs.fail("the level did not move to %d" % PATCH)
        with open(os.path.join(self.game, "patched_hashes.dat"), "rb") as f:
            lines = f.read().split(b"\r\n")
        if len(lines) != self.count + 1 or lines[-1] or any(b"|%d|" % PATCH not in l for l in lines[:-1]):
            bs.fail("patched_hashes.dat does not hold one record of patch %d per file" % PATCH)


def main(argv):
    build = os.path.abspath(argv[1])
    count = int(argv[2]) if len(argv) > 2 else 16000
    rounds = int(argv[3]) if len(argv) > 3 else 3
    work = os.path.join(build, "bench_patch")
    os.makedirs(work, exist_ok=True)
    bench = Bench(build, work, count)
    archive = make_patch(os.path.join(work, "patch_%d" % count), count)
    header = bs.machine_lines()
    print("\n".join(header), flush=True)

    bs.boot_prefix(bench.prefix, persistent=True)
    try:
        with UpdateService(os.path.join(work, "service")) as svc:
            served = os.path.join(svc.docroot, "patcher")
            os.makedirs(served, exist_ok=True)
            with open(os.path.join(served, "patch_qvx.txt"), "wb") as f:
                f.write(b"%d %s\n" % (PATCH, PATCH_FILE.encode()))
            shutil.copyfile(archive, os.path.join(served, PATCH_FILE))
            results = []
            for n in range(1, rounds + 1):
                extract, _ = bench.extract(archive)
                patch, peak = bench.install(svc.url)
                results.append((patch, extract, peak))
                print("round %d    patch %.3f s   ExtractArchive %.3f s   ratio %.2f   peak %.1f MiB"
                      % (n, patch, extract, patch / extract, peak), flush=True)
        bench.clear()
    finally:
        bs.stop_prefix(bench.prefix)

    patch = bs.median([r[0] for r in results])
    extract = bs.median([r[1] for r in results])
    bs.print_summary_head("patch installation", rounds, header)
    print("patch     %d files of %d B, stored, in %d folders: a ZIP of %.1f MiB"
          % (count, FILE_SIZE, FOLDERS, os.path.getsize(archive) / bs.MIB))
    print("install   %.3f s   CheckAndInstallPatches under Wine, from nginx (list, download, extraction, records, level)"
          % patch)
    print("extract   %.3f s   ExtractArchive alone on the same archive" % extract)
    print("ratio     %.2f     install / extract (target: at most 1.50)" % (patch / extract))
    print("peak      %.1f MiB  installing process (largest)" % max(r[2] for r in results))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
