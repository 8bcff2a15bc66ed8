"""Extraction of ZIP archives through ExtractArchive under Wine, beside Info-ZIP's
unzip on the same archive and, for an archive of many small files, beside the
floor (stage_floor, a bare loop under the same Wine that creates the same files
through a temporary name and a rename).

    python3 bench/extract_bench.py <build folder> [large archive size] [rounds]

Two archives, made from a fixed seed in the build folder and kept there:
- many small files: 20,000 files of 0.1 to 20 KB in 200 folders, half text
  that deflates, half random bytes; timed in each round, medians printed;
- one large archive (default 2816M of files, a ZIP of about 1.5 GiB): half
  random bytes in a few large and many middle-sized files, as in packed GRF
  archives, half text; timed once, with the extracting process's peak memory.
"""

import os
import random
import shutil
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_support as bs  # noqa: E402

SMALL_COUNT = 20000
SMALL_FOLDERS = 200
SMALL_MIN, SMALL_MAX = 100, 20000
SEED = 20
WORDS = [b"potion", b"sword", b"item", b"weight", b"name", b"slot", b"card", b"= {", b"},", b"\n",
         b"-- ", b"local", b"return", b"0", b"1", b"42", b"prontera", b"monster"]


def text_bytes(rng, size):
    out = bytearray()
    while len(out) < size:
        out += rng.choice(WORDS) + b" "
    return bytes(out[:size])


def make_many(folder):
    archive = os.path.join(folder, "many.zip")
    stamp = "files=%d folders=%d sizes=%d-%d seed=%d" % (SMALL_COUNT, SMALL_FOLDERS, SMALL_MIN,
                                                         SMALL_MAX, SEED)
    if bs.fixture_ready(folder, stamp):
        return archive
    print("making %s (once)" % archive, flush=True)
    bs.fresh_fixture(folder)
    rng = random.Random(SEED)
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        for n in range(SMALL_COUNT):
            size = rng.randint(SMALL_MIN, SMALL_MAX)
            data = text_bytes(rng, size) if n % 2 else rng.randbytes(size)
            z.writestr("folder%03d/file%05d.dat" % (n % SMALL_FOLDERS, n), data)
    bs.mark_fixture(folder, stamp)
    return archive


def make_large(folder, size_text):
    """The large archive, made by Info-ZIP's zip as before."""
    archive = os.path.join(folder, "large.zip")
    total = int(subprocess.run(["numfmt", "--from=iec", size_text], capture_output=True, text=True,
                               check=True).stdout)
    stamp = "bytes=%d seed=%d" % (total, SEED)
    if bs.fixture_ready(folder, stamp):
        return archive, total
    print("making %s of %s of files (once)" % (archive, size_text), flush=True)
    bs.fresh_fixture(folder)
    tree = os.path.join(folder, "tree")
    rng = random.Random(SEED)
    line = b"".join(b"%08d: item_%d = { name = \"potion\", weight = %d }\n" % (i, i, i % 97)
                    for i in range(4096))

    def write(rel, size, text):
        path = os.path.join(tree, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            while size > 0:
                block = line[:min(size, len(line))] if text else rng.randbytes(min(size, 1 << 20))
                f.write(block)
                size -= len(block)

    # Half random (like packed GRF archives), half text: a few large files and
    # many small ones, as in the client archive.
    write("data/big1.grf", total // 4, False)
    write("data/big2.grf", total // 8, False)
    for i in range(1, 257):
        write("data/small_%d.bin" % i, total // 8 // 256, False)
    for i in range(64):
        write("text/script_%02d.lua" % i, total // 2 // 64, True)
    subprocess.run(["zip", "-q", "-r", archive, "."], cwd=tree, check=True)
    shutil.rmtree(tree)
    bs.mark_fixture(folder, stamp)
    return archive, total


class Bench:
    def __init__(self, build, work):
        self.build = build
        self.work = work
        self.prefix = os.path.join(work, "wineprefix")
        bs.program(build, os.path.join("bench", "verandel_bench.exe"))
        self.out = os.path.join(work, "out")

    def clear(self):
        shutil.rmtree(self.out, ignore_errors=True)
        subprocess.run(["sync"])  # the last round's writes do not land on this one

    def run(self, label, command, archive):
        """verandel_bench's command on the archive into an empty destination:
        (seconds, peak memory in MiB)."""
        self.clear()
        return bs.run_bench(self.build, self.prefix, self.work, label, command, bs.windows_path(archive),
                            bs.windows_path(self.out))

    def unzip(self, archive):
        self.clear()
        start = time.monotonic()
        subprocess.run(["unzip", "-q", "-o", archive, "-d", self.out], check=True)
        return time.monotonic() - start


def main(argv):
    build = os.path.abspath(argv[1])
    size_text = argv[2] if len(argv) > 2 else "2816M"
    rounds = int(argv[3]) if len(argv) > 3 else 3
    if not shutil.which("unzip"):
        bs.fail("unzip is not installed (bash tools/setup.sh)")
    work = os.path.join(build, "bench_extract")
    os.makedirs(work, exist_ok=True)
    bench = Bench(build, work)
    many = make_many(os.path.join(work, "many"))
    large, large_bytes = make_large(os.path.join(work, "large"), size_text)
    header = bs.machine_lines()
    print("\n".join(header), flush=True)

    bs.boot_prefix(bench.prefix, persistent=True)
    try:
        results = []
        for n in range(1, rounds + 1):
            ours, peak = bench.run("extract", "extract", many)
            floor, _ = bench.run("floor", "stage_floor", many)
            unzip = bench.unzip(many)
            results.append((ours, floor, unzip, peak))
            print("round %d    ExtractArchive %.3f s   floor %.3f s   unzip %.3f s   ratio %.2f   peak %.1f MiB"
                  % (n, ours, floor, unzip, ours / floor, peak), flush=True)
        large_ours, large_peak = bench.run("extract", "extract", large)
        large_unzip = bench.unzip(large)
        bench.clear()
    finally:
        bs.stop_prefix(bench.prefix)

    ours = bs.median([r[0] for r in results])
    floor = bs.median([r[1] for r in results])
    unzip = bs.median([r[2] for r in results])
    bs.print_summary_head("extraction", rounds, header)
    print("archive   %d files of %d B to %d KB in %d folders, %.1f MiB"
          % (SMALL_COUNT, SMALL_MIN, SMALL_MAX // 1000, SMALL_FOLDERS, os.path.getsize(many) / bs.MIB))
    print("extract   %.3f s   ExtractArchive under Wine" % ours)
    print("floor     %.3f s   (bare loop under the same Wine: the same files through a temporary name and a rename)"
          % floor)
    print("unzip     %.3f s   Info-ZIP unzip, native" % unzip)
    print("ratio     %.2f     ExtractArchive / floor (target: at most 1.20)" % (ours / floor))
    print("peak      %.1f MiB  extracting process (largest)" % max(r[3] for r in results))
    print("archive   %.1f MiB of files in %.1f MiB" % (large_bytes / bs.MIB, os.path.getsize(large) / bs.MIB))
    print("extract   %.3f s   ExtractArchive under Wine, %.1f MiB/s" % (large_ours, large_bytes / bs.MIB / large_ours))
    print("unzip     %.3f s   Info-ZIP unzip, native" % large_unzip)
    print("peak      %.1f MiB  extracting process (target: under 64 MiB)" % large_peak)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
