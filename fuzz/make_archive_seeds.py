#!/usr/bin/env python3
"""Writes the fuzzing seeds with archive groups (folder trees) into
fuzz/corpus/walk and fuzz/corpus/tool, in both input forms, as
make_zfile_seeds.py does for compressed files.

Three envelopes, each holding a small tree as an "archive" group (its
catalog, then one record per frame, the last frame first in reading order):
  archive-stored   frames stored as they are, one file spanning two of them
  archive-zstd     the same tree in zstd frames (made with the zstd program)
  archive-damaged  a zstd frame declaring 16 bytes more than it decodes to

Run it from the top of the tree after changing it, and commit what changes;
the zstd frames depend on the zstd program's version.
"""

import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_zfile_seeds as seeds  # noqa: E402

FILE, DIRECTORY = 0, 1
STORED, ZSTD = 0, 1


def tree(salt):
    """The tree's entries in catalog order, ascending bytes of their paths:
    (kind, mode, path, bytes)."""
    return [
        (DIRECTORY, 0o755, b".cfg", b""),
        (FILE, 0o644, b".cfg/a.ini", b"[a]\r\n"),
        (FILE, 0o644, b"big.bin", seeds.text_bytes(6000, salt)),
        (DIRECTORY, 0o755, b"bin", b""),
        (FILE, 0o755, b"bin/setup.sh", b"#!/bin/sh\nexit 0\n"),
        (DIRECTORY, 0o755, b"empty", b""),
        (FILE, 0o644, b"empty.txt", b""),
    ]


def zstd(data):
    with tempfile.NamedTemporaryFile() as source:
        source.write(data)
        source.flush()
        return subprocess.run(["zstd", "-q", "-19", "--no-check", "-c", source.name],
                              check=True, stdout=subprocess.PIPE).stdout


def catalog(entries, frames):
    assert [e[2] for e in entries] == sorted(e[2] for e in entries)
    out = struct.pack("<II", len(entries), len(frames))
    for kind, mode, path, data in entries:
        out += struct.pack("<BHI", kind, mode, len(path)) + path + struct.pack("<Q", len(data))
    for method, size in frames:
        out += struct.pack("<BI", method, size)
    return out


def archive_group(kind, salt):
    entries = tree(salt)
    stream = b"".join(data for _, _, _, data in entries)
    cut = 4000  # big.bin spans the two frames
    pieces = [stream[:cut], stream[cut:]]
    if kind == "stored":
        frames, declared = pieces, [(STORED, len(p)) for p in pieces]
    else:
        frames = [zstd(p) for p in pieces]
        declared = [(ZSTD, len(p)) for p in pieces]
        if kind == "damaged":
            # The catalog's sizes add up, but the second frame decodes short.
            frames[1] = zstd(pieces[1][:-16])
    # The frames stand first in the file, in stream order, so that the last
    # is read first; then the catalog, the key and the type.
    return frames + seeds.group(b"archive", b"tree", catalog(entries, declared))


def envelope_payloads(kind, salt):
    return archive_group(kind, salt) + seeds.group(b"value", b"executable", b"bin/setup.sh")


def main():
    seeds.write_seeds(("stored", "zstd", "damaged"), "archive", envelope_payloads)
    return 0


if __name__ == "__main__":
    sys.exit(main())
