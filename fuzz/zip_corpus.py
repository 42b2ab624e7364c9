#!/usr/bin/env python3
"""Seeds for the zip fuzzer, written into the folder given: small real archives (stored,
deflated, folders only, empty, UTF-8 and code page 437 names, a zip64 member) and hostile shapes
(names that climb with "..", absolute and drive names, a name twice, a file that is also a
folder, truncated archives, sizes and checksums that lie)."""
import io
import struct
import sys
import zipfile
from pathlib import Path


def archive(members, **options):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", **options) as z:
        for name, data, method in members:
            z.writestr(zipfile.ZipInfo(name) if method is None else name, data, method)
    return out.getvalue()


def patch_sizes(data, delta, field):
    """Adds `delta` to one 32-bit field of every header: the local header's at `field`, the
    central directory's 2 bytes further on (the two list the same fields in the same order)."""
    data = bytearray(data)
    for signature, offset in ((b"PK\x03\x04", field), (b"PK\x01\x02", field + 2)):
        at = data.find(signature)
        while at >= 0:
            (value,) = struct.unpack_from("<I", data, at + offset)
            struct.pack_into("<I", data, at + offset, (value + delta) & 0xFFFFFFFF)
            at = data.find(signature, at + 4)
    return bytes(data)


def seeds():
    text = b"".join(b"line %d of the member\n" % i for i in range(400))
    stored, deflated = zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED
    good = archive([("a.txt", text, deflated), ("bin/raw", bytes(range(256)) * 8, stored),
                    ("docs/sub/deep.txt", b"deep\n", deflated), ("empty/", b"", None)])
    yield "stored", archive([("a.txt", text, stored), ("b.bin", b"\0" * 300, stored)])
    yield "deflated", archive([("a.txt", text, deflated), ("docs/b.txt", text[:999], deflated)])
    yield "mixed", good
    yield "folders-only", archive([("a/", b"", None), ("a/b/", b"", None), ("c/", b"", None)])
    yield "empty", b"PK\x05\x06" + bytes(18)
    yield "utf8-names", archive([("café/日本.txt", b"utf-8", deflated), ("😀", b"", stored)])
    yield "zip64", archive([("big.txt", text, deflated)], allowZip64=True)
    yield "zeros", archive([("zeros.bin", bytes(1 << 20), deflated)])
    yield "climbing", archive([("../up.txt", b"x", stored), ("a/../../b", b"y", stored)])
    yield "absolute", archive([("/etc/x", b"x", stored), ("C:/x", b"y", stored),
                               ("\\\\server\\share\\x", b"z", stored)])
    yield "duplicate", archive([("a.txt", b"one", stored), ("a.txt", b"two", stored)])
    yield "file-and-folder", archive([("a", b"x", stored), ("a/b", b"y", stored)])
    yield "truncated", good[: len(good) // 2]
    yield "truncated-end", good[:-5]
    yield "size-larger", patch_sizes(good, 1000, 22)   # uncompressed size
    yield "size-smaller", patch_sizes(good, -50, 22)
    yield "packed-larger", patch_sizes(good, 1000, 18)  # compressed size
    yield "crc-wrong", patch_sizes(good, 1, 14)


if __name__ == "__main__":
    folder = Path(sys.argv[1])
    folder.mkdir(parents=True, exist_ok=True)
    import warnings
    warnings.simplefilter("ignore")  # zipfile warns about the duplicate name
    for name, data in seeds():
        (folder / (name + ".zip")).write_bytes(data)
