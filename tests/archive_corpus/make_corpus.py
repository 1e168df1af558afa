#!/usr/bin/env python3
"""Writes a corpus of hostile, damaged and ordinary zip archives for the archive layer's tests
and as the fuzzer's seeds, plus manifest.txt with what extracting each must give.

Usage: make_corpus.py OUTDIR [--escape-dir DIR] [--only NAME]

--only writes that one archive (and a manifest of it) and nothing else.

DIR is a folder outside the extraction base that absolute entry names point into; the test
checks that it stays empty. Extraction is expected to run with a base folder path of 10 to 50
characters (the long-name cases are chosen so their outcome does not depend on it otherwise).

Manifest lines (paths and contents hex-encoded UTF-8/bytes):
  archive NAME OPEN COUNT SURVEY OPEN 1/0: whether the archive opens at all; SURVEY: result code
                                 (hex) of surveying its entries
  entry GET EXTRACT              result codes (hex) of getting entry i and extracting it
                                 under the name the layer gave it, in index order; EXTRACT
                                 "-": the entry is not extracted (it would be too large)
  dir PATH                       a folder that must exist below the base
  file PATH CONTENT MODE MTIME   a regular file (MODE rw or ro, MTIME seconds or -)
  end
Nothing else may exist below the base, and nothing outside it.
"""
import io
import os
import struct
import sys
import zipfile
import zlib

OK, NOFILE, CORRUPT, PASSWORD = 0, 0x200, 0x700, 0x1000
UNSAFE, TOO_LONG, UNREACHABLE, FLATE, CRC = 0x20000, 0x30000, 0x40000, 0x5000000, 0x6000000
OVERLAP, ARGS = 0x70000, 0x10000
SKIP = None  # not extracted

UNIX, DOS = 0x031E, 0x0014
FILE_MODE, DIR_MODE, LINK_MODE = 0o100644 << 16, (0o40755 << 16) | 0x10, 0o120777 << 16
DOS_TIME = ((2021 - 1980) << 9 | 6 << 5 | 15) << 16 | (12 << 11 | 30 << 5)


class E:
    """One entry, every field settable."""

    def __init__(self, name, data=b"", method=8, made_by=UNIX, external=FILE_MODE,
                 local_extra=b"", password=None, crc=None, local_method=None, raw=None,
                 sizes=None, offset=None, zip64=False, zip64_offset=False, local_offset=None,
                 zip64_central=False, local_sizes=None):
        self.name = name.encode("utf-8") if isinstance(name, str) else name
        self.data = data.encode() if isinstance(data, str) else data
        self.method, self.made_by, self.external = method, made_by, external
        self.local_extra, self.password = local_extra, password
        self.crc, self.local_method, self.raw = crc, local_method, raw
        self.sizes, self.offset = sizes, offset
        # zip64: both sizes as 0xFFFFFFFF in both headers and in zip64 blocks; zip64_offset:
        # the central offset too. local_offset: where the central record says the local header
        # is, when that differs from where it was written (entries sharing bytes).
        self.zip64, self.zip64_offset, self.local_offset = zip64, zip64_offset, local_offset
        # zip64_central: the sizes as 0xFFFFFFFF and in a zip64 block in the central record
        # only; the local header keeps the plain 32-bit sizes (local_sizes: other ones there).
        self.zip64_central, self.local_sizes = zip64_central, local_sizes


def d(name):
    return E(name, b"", method=0, external=DIR_MODE)


def deflate(data):
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


CRC_TABLE = []
for n in range(256):
    c = n
    for _ in range(8):
        c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
    CRC_TABLE.append(c)


def encrypt(password, check, body):
    k = [0x12345678, 0x23456789, 0x34567890]

    def update(b):
        k[0] = CRC_TABLE[(k[0] ^ b) & 0xFF] ^ (k[0] >> 8)
        k[1] = ((k[1] + (k[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k[2] = CRC_TABLE[(k[2] ^ (k[1] >> 24)) & 0xFF] ^ (k[2] >> 8)

    for ch in password:
        update(ch)
    out = bytearray()
    for b in bytes(range(0x30, 0x3B)) + bytes([check]) + body:
        t = (k[2] | 2) & 0xFFFF
        out.append(b ^ (((t * (t ^ 1)) >> 8) & 0xFF))
        update(b)
    return bytes(out)


def build(entries, count=None, cut_central=None, zip64_end=False):
    out, central = bytearray(), bytearray()
    for e in entries:
        real_crc = zlib.crc32(e.data) & 0xFFFFFFFF
        crc = real_crc if e.crc is None else e.crc
        body = e.raw if e.raw is not None else (deflate(e.data) if e.method == 8 else e.data)
        flags = 0
        if e.password:
            flags |= 1
            body = encrypt(e.password, crc >> 24, body)
        csize, usize = e.sizes if e.sizes else (len(body), len(e.data))
        offset = len(out) if e.offset is None else e.offset
        lm = e.method if e.local_method is None else e.local_method
        local_extra, central_extra = e.local_extra, b""
        lcsize, lusize, ccsize, cusize, coffset = csize, usize, csize, usize, offset
        if e.zip64:
            local_extra = struct.pack("<HHQQ", 1, 16, usize, csize) + local_extra
            lcsize = lusize = ccsize = cusize = 0xFFFFFFFF
            fields = struct.pack("<QQ", usize, csize)
            if e.zip64_offset:
                fields += struct.pack("<Q", offset)
                coffset = 0xFFFFFFFF
            central_extra = struct.pack("<HH", 1, len(fields)) + fields
        if e.zip64_central:
            ccsize = cusize = 0xFFFFFFFF
            central_extra = struct.pack("<HHQQ", 1, 16, usize, csize)
        if e.local_sizes:
            lcsize, lusize = e.local_sizes
        if e.local_offset is None:
            out += struct.pack("<IHHHIIIIHH", 0x04034B50, 45 if e.zip64 else 20, flags, lm,
                               DOS_TIME, crc, lcsize, lusize, len(e.name), len(local_extra))
            out += e.name + local_extra + body
        else:
            coffset = e.local_offset
        central += struct.pack("<IHHHHIIIIHHHHHII", 0x02014B50, e.made_by,
                               45 if e.zip64 or e.zip64_central else 20, flags, e.method,
                               DOS_TIME, crc, ccsize,
                               cusize, len(e.name), len(central_extra), 0, 0, 0, e.external,
                               coffset)
        central += e.name + central_extra
    n = len(entries) if count is None else count
    at = len(out)
    out += central
    if zip64_end:
        # The zip64 end record and its locator; the plain end record then only points at them.
        end64 = len(out)
        out += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 0x032D, 45, 0, 0, n, n, len(central),
                           at)
        out += struct.pack("<IIQI", 0x07064B50, 0, end64, 1)
        out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF,
                           0xFFFFFFFF, 0)
        return bytes(out)
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, n, n, len(central), at, 0)
    if cut_central is not None:
        out = out[:at + cut_central]
    return bytes(out)


def ut(mtime, atime):
    data = struct.pack("<Bii", 3, mtime, atime)
    return b"UT" + struct.pack("<H", len(data)) + data


def f(path, content, mode="rw", mtime=None):
    return ("file", path, content.encode() if isinstance(content, str) else content, mode, mtime)


def folder(path):
    return ("dir", path)


def pattern(n, seed=1):
    x, out = seed, bytearray()
    for _ in range(n):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out.append(97 + (x >> 16) % 6 if (x >> 8) % 5 else (x >> 16) & 0xFF)
    return bytes(out)


def cases(escape):
    big = pattern(120000)
    c = []  # (file, bytes, opens, count, [(get, extract)], [landed])

    def add(name, data, results, landed, opens=True, count=None, survey=OK):
        c.append((name, data, opens, len(results) if count is None else count, results, landed,
                  survey if opens else ARGS))

    good = E("good.txt", "good")
    add("dotdot_slash.zip", build([E("../evil.txt", "x"), good]),
        [(UNSAFE, UNSAFE), (OK, OK)], [f("good.txt", "good")])
    add("dotdot_backslash.zip", build([E("..\\evil.txt", "x"), E("..", "x"), good]),
        [(UNSAFE, UNSAFE), (UNSAFE, UNSAFE), (OK, OK)], [f("good.txt", "good")])
    add("climb_nested.zip", build([E("a/b/../../x.txt", "x"), E("a\\..\\..\\x.txt", "x"),
                                   E("x/..\\..\\y.txt", "y"), E("d/..", "x"), E("a/b/../c.bin", "c")]),
        [(UNSAFE, UNSAFE), (UNSAFE, UNSAFE), (OK, OK), (UNSAFE, UNSAFE), (OK, OK)],
        [f("y.txt", "y"), f("c.bin", "c")])
    abs_name = escape.rstrip("/") + "/abs.txt"
    add("absolute_slash.zip", build([E(abs_name, "a"), E("//double/x.txt", "x")]),
        [(OK, OK), (OK, OK)],
        [f(abs_name.lstrip("/"), "a"), folder("double"), f("double/x.txt", "x")] +
        [folder("/".join(abs_name.lstrip("/").split("/")[:i]))
         for i in range(1, len(abs_name.lstrip("/").split("/")))])
    add("absolute_backslash.zip", build([E("\\x.txt", "x"), E("\\\\srv\\share\\s.txt", "s")]),
        [(OK, OK), (OK, OK)], [f("x.txt", "x"), folder("srv"), folder("srv/share"),
                               f("srv/share/s.txt", "s")])
    add("drive_absolute.zip", build([E("C:\\x.txt", "x"), E("D:/dir/y.txt", "y")]),
        [(OK, OK), (OK, OK)], [f("x.txt", "x"), folder("dir"), f("dir/y.txt", "y")])
    add("drive_relative.zip", build([E("C:x.txt", "x"), E("C:C:..\\z.txt", "z")]),
        [(OK, OK), (UNSAFE, UNSAFE)], [f("x.txt", "x")])
    add("mixed_separators.zip", build([E("m\\n/o\\p.txt", "p"), E("./q/./r.txt", "r")]),
        [(OK, OK), (OK, OK)], [folder("m"), folder("m/n"), folder("m/n/o"), f("m/n/o/p.txt", "p"),
                               folder("q"), f("q/r.txt", "r")])
    add("nul_name.zip", build([E(b"a\x00/../../b.txt", "x"), E(b"ok\x00", "x"), good]),
        [(UNSAFE, UNSAFE), (UNSAFE, UNSAFE), (OK, OK)], [f("good.txt", "good")])
    add("control_chars.zip", build([E(b"bell\x07.txt", "x"), E(b"nl\n.txt", "x"),
                                    E(b"esc\x1b[2J", "x"), E(b"del\x7f", "x"), good]),
        [(UNSAFE, UNSAFE)] * 4 + [(OK, OK)], [f("good.txt", "good")])
    add("long_names.zip", build([E("n" * 200, "ok"), E("n" * 255, "x"), E("n" * 259, "x"),
                                 E("n" * 260, "x"), E("n" * 300, "x")]),
        [(OK, OK), (OK, TOO_LONG), (OK, TOO_LONG), (TOO_LONG, TOO_LONG), (TOO_LONG, TOO_LONG)],
        [f("n" * 200, "ok")])
    deep_ok = "d/" * 100
    add("deep_nesting.zip", build([E(deep_ok + "f", "deep"), E("e/" * 125 + "f", "x"),
                                   E("g/" * 150 + "f", "x")]),
        [(OK, OK), (OK, TOO_LONG), (TOO_LONG, TOO_LONG)],
        [folder("/".join(["d"] * i)) for i in range(1, 101)] + [f(deep_ok + "f", "deep")])
    add("duplicate_names.zip", build([E("dup.txt", "first"), E("dup.txt", "second"),
                                      E("DUP.txt", "case")]),
        [(OK, OK)] * 3, [f("dup.txt", "second"), f("DUP.txt", "case")])
    add("dir_file_collision.zip", build([E("x", "file"), d("x/"), E("x/y", "y"), d("d/"),
                                         E("d", "over")]),
        [(OK, OK), (OK, NOFILE), (OK, NOFILE), (OK, OK), (OK, NOFILE)],
        [f("x", "file"), folder("d")])
    add("symlink_entries.zip", build([E("ln", escape, method=0, external=LINK_MODE),
                                      E("ln/through.txt", "x"),
                                      E("rel", "../../../../etc", external=LINK_MODE),
                                      E("rel/passwd", "x")]),
        [(OK, OK), (OK, NOFILE), (OK, OK), (OK, NOFILE)],
        [f("ln", escape), f("rel", "../../../../etc")])
    add("encrypted_no_password.zip", build([E("secret.bin", big[:5000], password=b"pw"), good]),
        [(OK, PASSWORD), (OK, OK)], [f("secret.bin", b""), f("good.txt", "good")])
    add("stored.zip", build([E("s/stored.bin", big, method=0), E("empty.bin", b"", method=0)]),
        [(OK, OK), (OK, OK)], [folder("s"), f("s/stored.bin", big), f("empty.bin", b"")])
    add("deflate.zip", build([E("m/weights.bin", big), E("m/model.json", '{"a":1}')]),
        [(OK, OK), (OK, OK)], [folder("m"), f("m/weights.bin", big), f("m/model.json", '{"a":1}')])
    add("unsupported_method.zip", build([E("bz.bin", "x", method=12, raw=b"BZh91AY&SY..."), good]),
        [(CORRUPT, NOFILE), (OK, OK)], [f("good.txt", "good")])
    add("local_header_mismatch.zip", build([E("lm.bin", "data", local_method=0), good]),
        [(CORRUPT, NOFILE), (OK, OK)], [f("good.txt", "good")])
    add("local_offset_outside.zip", build([E("far.bin", "far", offset=10 ** 6), good]),
        [(CORRUPT, NOFILE), (OK, OK)], [f("good.txt", "good")])
    three = [E("one.txt", "1"), E("two.txt", "2"), E("three.txt", "3")]
    add("truncated_central.zip", build(three, cut_central=60), [], [], opens=False, count=0)
    broken = bytearray(build(three))
    second = broken.index(b"PK\x01\x02", broken.index(b"PK\x01\x02") + 4)
    broken[second + 3] = 0x7F
    add("broken_central_record.zip", bytes(broken),
        [(OK, OK), (UNREACHABLE, UNREACHABLE), (UNREACHABLE, UNREACHABLE)], [f("one.txt", "1")])
    add("count_overstated.zip", build(three[:2], count=5),
        [(OK, OK), (OK, OK), (UNREACHABLE, UNREACHABLE), (UNREACHABLE, UNREACHABLE),
         (UNREACHABLE, UNREACHABLE)], [f("one.txt", "1"), f("two.txt", "2")])
    # The stored entry claims far more bytes than the file holds: its data ends early.
    add("truncated_data.zip", build([good, E("cut.bin", big[:1000], method=0,
                                                 sizes=(10 ** 6, 10 ** 6))]),
        [(OK, OK), (OK, FLATE)], [f("good.txt", "good"), f("cut.bin", None)])
    cut_deflate = deflate(big)[:3000]
    add("truncated_deflate.zip", build([E("cut.bin", big, raw=cut_deflate,
                                          sizes=(10 ** 6, len(big)))]),
        [(OK, FLATE)], [f("cut.bin", None)])
    add("crc_mismatch.zip", build([E("crc.bin", big[:30000], crc=0x12345678),
                                   E("crc0.bin", "stored", method=0, crc=1)]),
        [(OK, CRC), (OK, CRC)], [f("crc.bin", big[:30000]), f("crc0.bin", "stored")])
    add("size_understated.zip", build([E("short.bin", big[:1000], sizes=(len(deflate(big[:1000])), 10))]),
        [(OK, CRC)], [f("short.bin", big[:10])])
    # minizip takes an end record at offset 0 for "not found": an empty archive does not open.
    add("empty_archive.zip", build([]), [], [], opens=False, count=0)
    add("not_a_zip.zip", b"This is plain text, not an archive.\n" * 20, [], [], opens=False)
    add("zero_bytes.zip", b"", [], [], opens=False)
    add("readonly_entry.zip", build([E("ro.txt", "read only", external=0o100444 << 16),
                                     E("dosro.txt", "dos", made_by=DOS, external=0x21)]),
        [(OK, OK), (OK, OK)], [f("ro.txt", "read only", "ro"), f("dosro.txt", "dos", "ro")])
    add("ut_times.zip", build([E("ut.bin", "t", local_extra=ut(1500000000, 1500000100))]),
        [(OK, OK)], [f("ut.bin", "t", "rw", 1500000000)])
    gbk = "\ufffd" * 4 + ".bin"
    add("non_utf8_name.zip", build([E(b"\xc4\xe3\xba\xc3.bin", "gbk")]), [(OK, OK)],
        [f(gbk, "gbk")])
    add("empty_names.zip", build([E("", "x"), E("/", "", method=0, external=FILE_MODE), good]),
        [(OK, NOFILE), (OK, OK), (OK, OK)], [f("good.txt", "good")])
    # An ordinary archive as Python's zipfile writes it: folders, nesting, both methods.
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        z.writestr(zipfile.ZipInfo("models/"), b"")
        z.writestr("models/face/model.json", '{"format":"graph"}', zipfile.ZIP_DEFLATED)
        z.writestr("models/face/group1-shard1of1.bin", big[:40000], zipfile.ZIP_STORED)
        z.writestr("ver.ini", "[Config]\nVer=7\n", zipfile.ZIP_DEFLATED)
    add("ordinary_zipfile.zip", buf.getvalue(), [(OK, OK)] * 4,
        [folder("models"), folder("models/face"), f("models/face/model.json", '{"format":"graph"}'),
         f("models/face/group1-shard1of1.bin", big[:40000]), f("ver.ini", "[Config]\nVer=7\n")])
    many = [E("many/%03d.json" % i, '{"i":%d}' % i) for i in range(300)]
    add("many_entries.zip", build(many), [(OK, OK)] * 300,
        [folder("many")] + [f("many/%03d.json" % i, '{"i":%d}' % i) for i in range(300)])
    # zip64: as Python writes it when told to (zip64 local headers), as Info-ZIP's zip -fz
    # writes it, and with the central offset in the zip64 block too.
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        for name, content in (("p/weights.bin", big[:50000]), ("ver.ini", "[Config]\nVer=8\n")):
            with z.open(name, "w", force_zip64=True) as fh:
                fh.write(content.encode() if isinstance(content, str) else content)
    add("zip64_python.zip", buf.getvalue(), [(OK, OK)] * 2,
        [folder("p"), f("p/weights.bin", big[:50000]), f("ver.ini", "[Config]\nVer=8\n")])
    add("zip64_infozip.zip", infozip_fz({"a.txt": b"hello\n", "d/b.bin": big[:70000]}),
        [(OK, OK)] * 3, [f("a.txt", "hello\n"), folder("d"), f("d/b.bin", big[:70000])])
    add("zip64_offset.zip", build([E("one.txt", "1", zip64=True, zip64_offset=True),
                                   E("two.bin", big[:5000], method=0, zip64=True,
                                     zip64_offset=True)]),
        [(OK, OK)] * 2, [f("one.txt", "1"), f("two.bin", big[:5000])])
    # zip64 sizes in the central directory only, the local headers with the plain sizes and no
    # zip64 block, a zip64 end record (as some writers other than Info-ZIP write it); and one
    # whose local header does not give the sizes the central directory does.
    z64c = 0x032D
    add("zip64_central_sizes.zip",
        build([E("m/w.bin", big[:60000], made_by=z64c, zip64_central=True),
               E("m/s.txt", "stored", method=0, made_by=z64c, zip64_central=True),
               E("ver.ini", "[Config]\nVer=9\n", made_by=z64c, zip64_central=True)],
              zip64_end=True),
        [(OK, OK)] * 3, [folder("m"), f("m/w.bin", big[:60000]), f("m/s.txt", "stored"),
                         f("ver.ini", "[Config]\nVer=9\n")])
    add("zip64_central_local_differs.zip",
        build([E("lie.bin", big[:6000], method=0, made_by=z64c, zip64_central=True,
                 local_sizes=(100, 100)),
               E("good.txt", "good", made_by=z64c, zip64_central=True)], zip64_end=True),
        [(CORRUPT, NOFILE), (OK, OK)], [f("good.txt", "good")])
    # Entries sharing bytes: central records pointing at one local entry, and a stored entry
    # whose data holds a whole second entry. The layer reads each; the survey refuses both.
    shared = [E("big.bin", big)] + [E("bi%d.bin" % i, big, local_offset=0) for i in range(3)]
    add("overlap_shared_local.zip", build(shared), [(OK, OK)] * 4,
        [f("big.bin", big)] + [f("bi%d.bin" % i, big) for i in range(3)], survey=OVERLAP)
    inner = E("inner.txt", "inner", method=0)
    inner_local = build([inner])[:30 + len("inner.txt") + len("inner")]
    add("overlap_quoted.zip",
        build([E("outer.bin", inner_local, method=0),
               E("inner.txt", "inner", method=0, local_offset=30 + len("outer.bin"))]),
        [(OK, OK)] * 2, [f("outer.bin", inner_local), f("inner.txt", "inner")], survey=OVERLAP)
    # Recorded sizes that the data does not give.
    add("stored_sizes_differ.zip", build([E("st.bin", "stored!", method=0, sizes=(7, 12)), good]),
        [(OK, FLATE), (OK, OK)], [f("st.bin", b""), f("good.txt", "good")])
    add("inflates_past_size.zip",
        build([E("pre.bin", big[:10], raw=deflate(big[:1000]),
                 sizes=(len(deflate(big[:1000])), 10))]),
        [(OK, FLATE)], [f("pre.bin", big[:10])])
    # 1 GiB of zeros in about 1 MB: readable, never extracted here.
    add("bomb_1gib.zip", bomb(1 << 30), [(OK, SKIP)], [])
    return c


def infozip_fz(files):
    """An archive written by Info-ZIP's zip with -fz (zip64 records forced)."""
    import shutil
    import subprocess
    import tempfile
    if not shutil.which("zip"):
        sys.exit("make_corpus.py needs Info-ZIP's zip (Debian package zip)")
    with tempfile.TemporaryDirectory() as tmp:
        for name, content in files.items():
            os.makedirs(os.path.join(tmp, os.path.dirname(name)), exist_ok=True)
            with open(os.path.join(tmp, name), "wb") as fh:
                fh.write(content)
        out = os.path.join(tmp, "out.zip")
        tops = sorted({name.split("/")[0] for name in files})
        subprocess.run(["zip", "-q", "-r", "-fz", "-X", out] + tops, cwd=tmp, check=True)
        with open(out, "rb") as fh:
            return fh.read()


def bomb(size):
    """One deflated entry of `size` zero bytes, built from one repeated flushed block."""
    chunk = 1 << 20
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    block = c.compress(bytes(chunk)) + c.flush(zlib.Z_FULL_FLUSH)
    body = block * (size // chunk) + zlib.compressobj(9, zlib.DEFLATED, -15).flush()
    crc = 0
    zeros = bytes(chunk)
    for _ in range(size // chunk):
        crc = zlib.crc32(zeros, crc)
    return build([E("zeros.bin", b"", raw=body, crc=crc, sizes=(len(body), size))])


def main():
    args = sys.argv[1:]
    if not args:
        sys.exit(__doc__)
    out = args[0]
    escape = "/tmp/vorn_archive_escape"
    if "--escape-dir" in args:
        escape = args[args.index("--escape-dir") + 1]
    only = args[args.index("--only") + 1] if "--only" in args else None
    os.makedirs(out, exist_ok=True)
    lines = []
    for name, data, opens, count, results, landed, survey in cases(escape):
        if only and name != only:
            continue
        with open(os.path.join(out, name), "wb") as fh:
            fh.write(data)
        lines.append("archive %s %d %d %x" % (name, 1 if opens else 0, count, survey))
        lines += ["entry %x %s" % (g, "-" if x is None else "%x" % x) for g, x in results]
        for item in landed:
            if item[0] == "dir":
                lines.append("dir %s" % item[1].encode().hex())
            else:
                _, path, content, mode, mtime = item
                shown = "*" if content is None else (content.hex() or "-")
                lines.append("file %s %s %s %s" % (path.encode().hex(), shown, mode,
                                                   "-" if mtime is None else mtime))
        lines.append("end")
    with open(os.path.join(out, "manifest.txt"), "w") as fh:
        fh.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
