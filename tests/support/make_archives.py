#!/usr/bin/env python3
"""Builds the archives that archive_checks extracts, with real tools.

Usage: make_archives.py OUTDIR

OUTDIR/tree/ holds the files that the good archives carry; the checks compare
every extracted file with it. Good archives come from `zip`, `tar`, `gzip` and
Python's zipfile; the hostile ones (good/ and bad/) are written here byte by
byte, one fault each.
"""
import gzip
import io
import os
import shutil
import struct
import subprocess
import sys
import tarfile
import zipfile
import zlib

FIXED_TIME = (2020, 1, 2, 3, 4, 6)
LONG_PATH = ("data/texture/effect/magic_circle_of_the_northern_verandel_highlands_at_dusk/"
             "animated_glow_frame_sequence_layer_0042_high_resolution_variant.bmp")


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_tree(tree):
    # Mixed content: text that deflates well, random bytes that do not, and a
    # file over the extractor's 1 MiB block size.
    rnd = bytes((i * 2654435761 >> 13) & 0xFF for i in range(200_000))
    text = b"".join(b"line %06d of the patch notes\n" % i for i in range(120_000))
    write(os.path.join(tree, "a.txt"), b"hello\n")
    write(os.path.join(tree, "big.bin"), text[:1_500_000] + rnd + text[:1_200_000])
    write(os.path.join(tree, "sub", "b.txt"), b"deep file\n")
    write(os.path.join(tree, "sub", "deeper", "c.dat"), rnd[:70_000])
    write(os.path.join(tree, "caf\u00e9.txt"), "caf\u00e9 au lait\n".encode("utf-8"))
    write(os.path.join(tree, "empty.txt"), b"")
    # Deflates a thousandfold: the inflater still holds output after its last input.
    write(os.path.join(tree, "zeros.bin"), bytes(4 * 1024 * 1024 + 1))
    os.makedirs(os.path.join(tree, "emptydir"), exist_ok=True)
    # Over tar's 100-byte name field: GNU tar writes a long-name entry, ustar
    # a prefix, pax a path record.
    write(os.path.join(tree, *LONG_PATH.split("/")), b"long named texture\n")


def run(cmd, cwd, out=None):
    with open(out, "wb") if out else open(os.devnull, "wb") as sink:
        subprocess.run(cmd, cwd=cwd, check=True, stdout=sink)


def tool_archives(tree, good):
    run(["zip", "-q", "-r", "-X", os.path.join(good, "zip_deflated.zip"), "."], tree)
    run(["zip", "-q", "-r", "-X", "-0", os.path.join(good, "zip_stored.zip"), "."], tree)
    run(["zip", "-q", "-r", "-X", "-fz", os.path.join(good, "zip_zip64.zip"), "."], tree)
    # Written to a pipe, zip cannot seek back: every entry gets a data descriptor.
    zipped = subprocess.run(["zip", "-q", "-r", "-X", "-", "."], cwd=tree, check=True,
                            stdout=subprocess.PIPE).stdout
    write(os.path.join(good, "zip_descriptors.zip"), zipped)
    for fmt in ("ustar", "gnu", "pax"):
        tarred = subprocess.run(["tar", "--format=" + fmt, "-cf", "-", "."], cwd=tree, check=True,
                                stdout=subprocess.PIPE).stdout
        gz = subprocess.run(["gzip", "-n", "-c"], input=tarred, check=True, stdout=subprocess.PIPE).stdout
        write(os.path.join(good, "tar_%s.rgz" % fmt), gz)
    t_io = io.BytesIO()
    with tarfile.open(fileobj=t_io, mode="w") as t:  # Python's default format, pax
        t.add(tree, arcname=".")
    write(os.path.join(good, "tar_tarfile.rgz"), gzip.compress(t_io.getvalue()))
    # gzip stores the file's own name unless told not to.
    single = os.path.join(good, "single.txt")
    shutil.copy(os.path.join(tree, "sub", "b.txt"), single)
    run(["gzip", "-c", "single.txt"], good, os.path.join(good, "single_named.rgz"))
    run(["gzip", "-n", "-c", "single.txt"], good, os.path.join(good, "single_unnamed.rgz"))
    os.remove(single)


def python_archives(tree, good):
    # Flag bit 11 for the UTF-8 name, a forced ZIP64 entry, and data
    # descriptors from writing to a stream that cannot seek.
    class NoSeek(io.RawIOBase):
        def __init__(self):
            self.buf = bytearray()

        def writable(self):
            return True

        def write(self, b):
            self.buf += b
            return len(b)

    sink = NoSeek()
    with zipfile.ZipFile(sink, "w") as z:
        for rel in ("a.txt", "big.bin", "sub/b.txt", "caf\u00e9.txt"):
            info = zipfile.ZipInfo(rel, FIXED_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED if rel != "a.txt" else zipfile.ZIP_STORED
            with z.open(info, "w", force_zip64=(rel == "big.bin")) as f:
                f.write(open(os.path.join(tree, rel), "rb").read())
    write(os.path.join(good, "py_zipfile.zip"), bytes(sink.buf))

    for top in ("Quillfen_Full", "quillfen_full"):
        with zipfile.ZipFile(os.path.join(good, "py_%s.zip" % top), "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr(top + "/", b"")
            z.writestr(top + "/a.txt", b"hello\n")
            z.writestr(top + "/sub/b.txt", b"deep file\n")


def gzip_member(payload, name=None):
    flags = 0x08 if name is not None else 0
    header = b"\x1f\x8b\x08" + bytes([flags]) + b"\0\0\0\0\0\xff"
    if name is not None:
        header += name + b"\0"
    comp = zlib.compressobj(9, zlib.DEFLATED, -15)
    body = comp.compress(payload) + comp.flush()
    return header + body + struct.pack("<II", zlib.crc32(payload), len(payload) & 0xFFFFFFFF)


def records(*items):
    out = b""
    for item in items:
        if item[0] == "d":
            out += b"d" + bytes([len(item[1])]) + item[1]
        elif item[0] == "f":
            out += b"f" + bytes([len(item[1])]) + item[1] + struct.pack("<I", len(item[2])) + item[2]
        else:
            out += item[0].encode()
    return out


def record_archives(good):
    stream = records(("d", b"recdir"), ("f", b"recdir/one.txt", b"first\n"),
                     ("f", b".\\two.txt", b"second\n"), ("e",)) + b"ignored after the end"
    write(os.path.join(good, "records.rgz"), gzip_member(stream))
    # Any byte that begins no record ends the stream as 'e' does.
    write(os.path.join(good, "records_other_end.rgz"), gzip_member(
        records(("f", b"one.txt", b"first\n"), ("f", b"two.txt", b"second\n")) + b"X and then anything"))
    # A file that begins like a record with an unsafe name, whose data would
    # run past the end: no record stream, so the file itself.
    write(os.path.join(good, "single_record_lookalike.rgz"),
          gzip_member(b"f\x0b..\\evil.txt\xff\xff\xff\x7fnot a record\n", b"notes.bin"))
    # Text that begins like a directory record "notes" and then reads as none.
    write(os.path.join(good, "single_dir_lookalike.rgz"),
          gzip_member(b"d\x05notes from the patch team\n", b"notes.txt"))


def lookalike_archives(good):
    # Fullwidth dots and backslash: harmless in a Unicode file name, but a
    # best-fit conversion to the system code page turns them into "..\".
    name = "System/\uff0e\uff0e\uff3c\uff0e\uff0e\uff3cevil.txt"
    with zipfile.ZipFile(os.path.join(good, "zip_lookalike.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(name, b"lookalike\n")
    t_io = io.BytesIO()
    with tarfile.open(fileobj=t_io, mode="w", format=tarfile.USTAR_FORMAT, encoding="utf-8") as t:
        info = tarfile.TarInfo(name)
        info.size = len(b"lookalike\n")
        t.addfile(info, io.BytesIO(b"lookalike\n"))
    write(os.path.join(good, "tar_lookalike.rgz"), gzip_member(t_io.getvalue()))


# Raw name bytes, for the name checks: Hangul in code page 949 (not UTF-8),
# "cafe" with an e-acute in UTF-8 (also valid code page bytes), and the same in
# code page 1252 (not UTF-8).
NAME_BYTES = {
    "cp949": b"\xc7\xd1\xb1\xdb.txt",
    "utf8": b"caf\xc3\xa9.txt",
    "cp1252": b"caf\xe9.txt",
}


def pax_tar(path, data):
    """A tar of one file whose pax header carries path as raw bytes (tarfile
    would mark bytes that are not UTF-8 as binary)."""
    body = b" path=" + path + b"\n"
    record = b"%d" % (len(body) + 2) + body  # the length counts its own two digits
    assert len(record) < 100
    pax = tarfile.TarInfo("././@PaxHeader")
    pax.type = tarfile.XHDTYPE
    pax.size = len(record)
    entry = tarfile.TarInfo("named.txt")
    entry.size = len(data)
    pad = lambda b: b + bytes(-len(b) % 512)
    return (pax.tobuf(tarfile.USTAR_FORMAT) + pad(record) + entry.tobuf(tarfile.USTAR_FORMAT) + pad(data) +
            bytes(1024))


def name_archives(names):
    """One archive per container and name: names/<kind>_<tag>.<ext>, each
    holding the single file <name> with the content b"named\n"."""
    data = b"named\n"
    for tag, raw in NAME_BYTES.items():
        write(os.path.join(names, "zip_%s.zip" % tag), raw_zip([zip_entry(raw, data)]))
        t_io = io.BytesIO()
        with tarfile.open(fileobj=t_io, mode="w", format=tarfile.USTAR_FORMAT, encoding="latin-1") as t:
            info = tarfile.TarInfo(raw.decode("latin-1"))
            info.size = len(data)
            t.addfile(info, io.BytesIO(data))
        write(os.path.join(names, "tar_%s.rgz" % tag), gzip_member(t_io.getvalue()))
        write(os.path.join(names, "records_%s.rgz" % tag), gzip_member(records(("f", raw, data), ("e",))))
        write(os.path.join(names, "single_%s.rgz" % tag), gzip_member(data, raw))
    # A pax path is UTF-8 by the format's definition: valid, and bytes that are not.
    for tag in ("utf8", "cp949"):
        write(os.path.join(names, "tarpax_%s.rgz" % tag), gzip_member(pax_tar(NAME_BYTES[tag], data)))
    # The format's own UTF-8 flag (bit 11): valid UTF-8, and bytes that are not.
    write(os.path.join(names, "zipflagged_utf8.zip"), raw_zip([zip_entry(NAME_BYTES["utf8"], data, flags=0x800)]))
    write(os.path.join(names, "zipflagged_cp949.zip"), raw_zip([zip_entry(NAME_BYTES["cp949"], data, flags=0x800)]))


def zip_entry(name, data, crc=None, size=None, method=8, flags=0, local_extra=b""):
    """One local header + data, and its central directory entry (offset patched later).
    local_extra goes only into the local header, as some tools write a longer one there."""
    if method == 8:
        comp = zlib.compressobj(9, zlib.DEFLATED, -15)
        stored = comp.compress(data) + comp.flush()
    else:
        stored = data
    crc = zlib.crc32(data) if crc is None else crc
    size = len(data) if size is None else size
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, 0x1820, 0x5042,
                        crc, len(stored), size, len(name), len(local_extra)) + name + local_extra + stored
    central = lambda off: struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, method,
                                      0x1820, 0x5042, crc, len(stored), size, len(name), 0, 0,
                                      0, 0, 0, off) + name
    return local, central


def raw_zip(entries, cd_size=None, cd_offset=None):
    body, cds = b"", b""
    for local, central in entries:
        cds += central(len(body))
        body += local
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(entries), len(entries),
                      len(cds) if cd_size is None else cd_size,
                      len(body) if cd_offset is None else cd_offset, 0)
    return body + cds + end


def zip64_all_fields(good):
    """Sizes and header offset all in the ZIP64 extra field, behind a ZIP64 end record."""
    first, second = zip_entry(b"first.txt", b"first\n" * 100), zip_entry(b"second.txt", b"second\n")
    body, cds = b"", b""
    for local, central in (first, second):
        c = central(len(body))
        usize, csize = struct.unpack("<II", c[24:28] + c[20:24])
        extra = struct.pack("<HHQQQ", 1, 24, usize, csize, len(body))
        c = (c[:20] + struct.pack("<II", 0xFFFFFFFF, 0xFFFFFFFF) + c[28:30] + struct.pack("<H", len(extra)) +
             c[32:42] + struct.pack("<I", 0xFFFFFFFF) + c[46:] + extra)
        cds += c
        body += local
    end64 = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, 2, 2, len(cds), len(body))
    locator = struct.pack("<IIQI", 0x07064B50, 0, len(body) + len(cds), 1)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    write(os.path.join(good, "zip64_all_fields.zip"), body + cds + end64 + locator + end)


def local_extra_archives(good):
    """Local extra fields longer than the central directory's (none): the data
    starts after them, however far that is from the header."""
    entries = []
    for length in (0, 1100, 3000):
        for method in (8, 0):
            name = b"extra_%d_%d.txt" % (length, method)
            extra = struct.pack("<HH", 0xCAFE, length - 4) + bytes(length - 4) if length else b""
            entries.append(zip_entry(name, b"line of %s\n" % name * 300, method=method, local_extra=extra))
    write(os.path.join(good, "zip_local_extras.zip"), raw_zip(entries))
    # A damaged deflate stream, then a sound entry that must come out whole
    # (not among the bad archives: those must leave nothing at all).
    local, central = zip_entry(b"victim.txt", b"x" * 5000)
    broken = local[:40] + bytes(b ^ 0x5A for b in local[40:])
    write(os.path.join(good, "zip_damaged_then_sound.zip"),
          raw_zip([(broken, central), zip_entry(b"after.txt", b"line of after.txt\n" * 300)]))


def hostile_archives(good, bad):
    ok = zip_entry(b"ok.txt", b"fine\n")
    payload = b"x" * 5000
    for tag, name in (("dotdot", b"../evil.txt"), ("nested_dotdot", b"sub/../../evil.txt"),
                      ("absolute", b"/evil.txt"), ("drive", b"C:/evil.txt"),
                      ("share", b"//server/share/evil.txt"), ("stream", b"ok.txt:evil"),
                      # Windows drops a trailing dot or blank: victim.txt under another name.
                      ("trailing_dot", b"victim.txt."), ("trailing_blank", b"victim.txt ")):
        write(os.path.join(bad, "zip_name_%s.zip" % tag), raw_zip([ok, zip_entry(name, payload)]))

    write(os.path.join(bad, "zip_bad_crc.zip"), raw_zip([zip_entry(b"victim.txt", payload, crc=0x12345678)]))
    write(os.path.join(bad, "zip_bad_size.zip"), raw_zip([zip_entry(b"victim.txt", payload, size=4000)]))
    local, central = zip_entry(b"victim.txt", payload)
    broken = local[:40] + bytes(b ^ 0x5A for b in local[40:])
    write(os.path.join(bad, "zip_bad_deflate.zip"), raw_zip([(broken, central)]))
    write(os.path.join(bad, "zip_method.zip"), raw_zip([zip_entry(b"victim.txt", payload, method=12)]))
    # A central directory that claims almost 4 GiB, and one that starts past the end.
    write(os.path.join(bad, "zip_huge_directory.zip"), raw_zip([zip_entry(b"victim.txt", payload)], cd_size=0xFFFFFFF0))
    write(os.path.join(bad, "zip_directory_past_end.zip"), raw_zip([zip_entry(b"victim.txt", payload)], cd_offset=0x7FFFFFF0))
    # Compressed size pointing past the data, through a ZIP64 extra field.
    local, central = zip_entry(b"victim.txt", payload)
    huge = lambda off: (central(off)[:20] + struct.pack("<I", 0xFFFFFFFF) + central(off)[24:30] +
                        struct.pack("<H", 12) + central(off)[32:] + struct.pack("<HHQ", 1, 8, 1 << 62))
    write(os.path.join(bad, "zip_zip64_past_end.zip"), raw_zip([(local, huge)]))

    tree_tar = io.BytesIO()
    with tarfile.open(fileobj=tree_tar, mode="w", format=tarfile.USTAR_FORMAT) as t:
        for name, data in (("ok.txt", b"fine\n"), ("victim.txt", payload)):
            info = tarfile.TarInfo(name)
            info.size = len(data)
            t.addfile(info, io.BytesIO(data))
    tar_bytes = tree_tar.getvalue()
    # A long name that leaves the destination, in each way tar carries one: the
    # ustar prefix (which takes the "../" here), GNU's long-name entry and a pax
    # path (the ".." past the 100 bytes that their cut name field keeps).
    prefix_dotdot = "../" + "d" * 70 + "/" + "e" * 70 + ".txt"
    long_dotdot = "data/" + "d" * 100 + "/../../../evil.txt"
    for tag, name, fmt in (("dotdot", "../evil.txt", tarfile.USTAR_FORMAT),
                           ("absolute", "/evil.txt", tarfile.USTAR_FORMAT),
                           ("drive", "C:/evil.txt", tarfile.USTAR_FORMAT),
                           ("trailing_dot", "victim.txt.", tarfile.USTAR_FORMAT),
                           ("prefix_dotdot", prefix_dotdot, tarfile.USTAR_FORMAT),
                           ("longlink_dotdot", long_dotdot, tarfile.GNU_FORMAT),
                           ("pax_dotdot", long_dotdot, tarfile.PAX_FORMAT)):
        t_io = io.BytesIO()
        with tarfile.open(fileobj=t_io, mode="w", format=fmt) as t:
            for n, data in (("ok.txt", b"fine\n"), (name, payload)):
                info = tarfile.TarInfo(n)
                info.size = len(data)
                t.addfile(info, io.BytesIO(data))
        write(os.path.join(bad, "tar_name_%s.rgz" % tag), gzip_member(t_io.getvalue()))
    # Cut inside victim.txt's data (its header is block 2, its data starts at 1536).
    write(os.path.join(bad, "tar_truncated.rgz"), gzip_member(tar_bytes[:1536 + 3000]))
    # Folders, then a file cut short: the folders must not stay either.
    t_io = io.BytesIO()
    with tarfile.open(fileobj=t_io, mode="w", format=tarfile.USTAR_FORMAT) as t:
        for n in ("newdir", "newdir/deeper"):
            info = tarfile.TarInfo(n)
            info.type = tarfile.DIRTYPE
            t.addfile(info)
        for n, data in (("newdir/deeper/ok.txt", b"fine\n"), ("other/victim.txt", payload)):
            info = tarfile.TarInfo(n)
            info.size = len(data)
            t.addfile(info, io.BytesIO(data))
    # Cut inside victim.txt's data (its header is block 4, its data starts at 2560).
    write(os.path.join(bad, "tar_dirs_truncated.rgz"), gzip_member(t_io.getvalue()[:2560 + 3000]))
    # A size field of 8 GiB - 1 over victim.txt's 5000 bytes (its header is block 2).
    huge_tar = bytearray(tar_bytes)
    huge_tar[1024 + 124:1024 + 136] = b"77777777777\0"
    write(os.path.join(bad, "tar_huge_size.rgz"), gzip_member(bytes(huge_tar)))

    member = gzip_member(tar_bytes)
    write(os.path.join(good, "tar_python.rgz"), member)
    write(os.path.join(bad, "gzip_bad_crc.rgz"), member[:-8] + struct.pack("<I", zlib.crc32(tar_bytes) ^ 1) + member[-4:])
    write(os.path.join(bad, "gzip_bad_isize.rgz"), member[:-4] + struct.pack("<I", len(tar_bytes) + 1))
    write(os.path.join(bad, "gzip_truncated.rgz"), member[:len(member) // 2])
    write(os.path.join(bad, "gzip_no_trailer.rgz"), member[:-8])
    mid = len(member) // 2
    write(os.path.join(bad, "gzip_bad_deflate.rgz"), member[:mid] + bytes(b ^ 0xFF for b in member[mid:mid + 64]) + member[mid + 64:])

    write(os.path.join(bad, "records_name_dotdot.rgz"), gzip_member(records(
        ("f", b"ok.txt", b"fine\n"), ("f", b"..\\evil.txt", payload), ("e",))))
    write(os.path.join(bad, "records_name_drive.rgz"), gzip_member(records(
        ("f", b"ok.txt", b"fine\n"), ("d", b"C:\\evil"), ("e",))))
    write(os.path.join(bad, "records_truncated.rgz"), gzip_member(records(
        ("f", b"ok.txt", b"fine\n"), ("f", b"victim.txt", payload))[:-100]))
    write(os.path.join(bad, "records_dirs_truncated.rgz"), gzip_member(records(
        ("d", b"newdir"), ("d", b"newdir\\deeper"), ("f", b"newdir\\deeper\\ok.txt", b"fine\n"),
        ("f", b"other\\victim.txt", payload))[:-100]))
    # Named, so that a misreading would write the whole stream as one file.
    write(os.path.join(bad, "records_first_name_dotdot.rgz"), gzip_member(records(
        ("f", b"..\\evil.txt", payload), ("f", b"ok.txt", b"fine\n"), ("e",)), b"patch.bin"))
    write(os.path.join(bad, "records_name_trailing_blank.rgz"), gzip_member(records(
        ("f", b"ok.txt", b"fine\n"), ("f", b"victim.txt ", payload), ("e",))))
    write(os.path.join(bad, "single_name_dotdot.rgz"), gzip_member(b"plain content\n", b"../evil.txt"))
    write(os.path.join(bad, "single_name_trailing_dot.rgz"), gzip_member(b"plain content\n", b"victim.txt."))
    write(os.path.join(bad, "single_name_absolute.rgz"), gzip_member(b"plain content\n", b"\\evil.txt"))


def main():
    out = os.path.abspath(sys.argv[1])
    shutil.rmtree(out, ignore_errors=True)
    tree, good, bad, names = (os.path.join(out, d) for d in ("tree", "good", "bad", "names"))
    for d in (tree, good, bad, names):
        os.makedirs(d)
    make_tree(tree)
    tool_archives(tree, good)
    python_archives(tree, good)
    record_archives(good)
    lookalike_archives(good)
    zip64_all_fields(good)
    local_extra_archives(good)
    hostile_archives(good, bad)
    name_archives(names)


if __name__ == "__main__":
    main()
