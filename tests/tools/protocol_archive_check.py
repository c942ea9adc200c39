#!/usr/bin/python3
"""Packs a protocol folder with selvar-tool and checks the archives with
readers this project did not write: olefile for the compound file, plain
zlib for the chunks."""
import os
import random
import struct
import subprocess
import sys
import tempfile
import zlib

import olefile

CHUNK = 1000000


def check_dump(tool, folder):
    """The dump of a log and of its packed stream show the same records."""
    record = struct.pack("<q", 1765100000) + b"r.co".ljust(8, b"\0") + bytes([3, 0, 2, 1, 0x2C])
    record += struct.pack("<q", 1765100001) + b"rEAd".ljust(8, b"\0") + bytes([3, 1, 0])
    path = os.path.join(folder, "05-01-2027.log")
    with open(path, "wb") as f:
        f.write(record)
    env = dict(os.environ, TZ="UTC")
    direct = subprocess.run([tool, "log", "dump", path], env=env, check=True,
                            capture_output=True, text=True).stdout
    expected = ("2025-12-07 09:33:20\tr.co\t3\tok\t01 2C\n"
                "2025-12-07 09:33:21\trEAd\t3\tfailed\t-\n")
    assert direct == expected, direct
    subprocess.run([tool, "log", "pack", folder], check=True, capture_output=True)
    packed = subprocess.run([tool, "log", "dump", os.path.join(folder, "01-2027.var"),
                             "05-01-2027.log"], env=env, check=True, capture_output=True,
                            text=True).stdout
    assert packed == expected, packed
    # A name that climbs out of the folder is no stream.
    bad = subprocess.run([tool, "log", "dump", os.path.join(folder, "01-2027.var"), "../x"],
                         capture_output=True)
    assert bad.returncode == 2, bad.returncode


def main():
    tool = os.environ["SELVAR_TOOL"]
    with tempfile.TemporaryDirectory() as folder:
        rng = random.Random(7)
        logs = {}
        for name, size in (("01-12-2026.log", 2500000), ("02-12-2026.log", 19),
                           ("03-12-2026.log", 0), ("30-11-2026.log", 4321)):
            data = bytes(rng.choice(b"in.sl\x00\x01\x02\x41") for _ in range(size))
            logs[name] = data
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        subprocess.run([tool, "log", "pack", folder], check=True, capture_output=True)

        for name in logs:
            assert not os.path.exists(os.path.join(folder, name)), name + " not removed"
        by_archive = {}
        for name in logs:
            by_archive.setdefault(name[3:-4] + ".var", []).append(name)
        for archive_name, names in by_archive.items():
            path = os.path.join(folder, archive_name)
            assert olefile.isOleFile(path), archive_name + " is not a compound file"
            ole = olefile.OleFileIO(path)
            streams = sorted("/".join(entry) for entry in ole.listdir())
            assert streams == sorted(names), (archive_name, streams)
            for name in names:
                stream = ole.openstream(name).read()
                out, at, chunks = b"", 0, []
                while at < len(stream):
                    plain, packed = struct.unpack_from("<II", stream, at)
                    at += 8
                    piece = zlib.decompress(stream[at:at + packed])
                    at += packed
                    assert len(piece) == plain and plain <= CHUNK
                    chunks.append(plain)
                    out += piece
                assert out == logs[name], name + " differs"
                if name == "01-12-2026.log":
                    assert chunks == [1000000, 1000000, 500000], chunks
            ole.close()
        check_dump(tool, folder)
    print("protocol archives read back by olefile and zlib")
    return 0


if __name__ == "__main__":
    sys.exit(main())
