#!/usr/bin/env python3
"""Writes the fuzzing seeds with compressed file groups ("zfile") into
fuzz/corpus/walk and fuzz/corpus/tool.

Four envelopes, each holding the setup program as a "file" group and one
"zfile" group beside it:
  zfile-empty     an empty file: the contents are the 8-byte size alone
  zfile-stored    one chunk stored as it is (incompressible bytes)
  zfile-deflate   two raw DEFLATE chunks, a whole 1 MiB one and a short last one
  zfile-damaged   one DEFLATE chunk declaring 16 bytes more than it decodes to
                  (the sizes add up and the digest matches: only the decoding
                  tells)

Each is written in both of the fuzzers' input forms (fuzz/fuzz_support.h):
  raw-...         a leading 0x00, then the program file byte for byte: records
                  of payload, 4-byte little-endian length and MD5, each group's
                  records in reverse reading order, type last, then the tail
  structured-...  a leading 0x03, then the record payloads in file order split
                  by 0x1E; the fuzzer adds the lengths, digests and the tail,
                  so that mutations keep them valid
The tool fuzzer's seeds are the same inputs behind a 0x01 byte (an installer)
and named installer-<name>.

The bytes are deterministic: run it again after changing it, from the top of
the tree, and commit what changes.
"""

import hashlib
import os
import random
import struct
import sys
import zlib

# The contents record of a compressed file (compressed_contents.h).
MAX_CHUNK = 1024 * 1024
RAW_DEFLATE_WBITS = -15  # no zlib header or trailer

TAIL_MARKER = b"chunked-" + b"installer-" + b"tail"
RECORD_SEPARATOR = b"\x1e"  # between the payloads of a structured input
TRAILING_SEPARATOR = b"\x1f"
RAW_INPUT = b"\x00"
STRUCTURED_WITH_TAIL = b"\x03"
TOOL_INSTALLER = b"\x01"
# ProgramFile puts these bytes before a structured input's first record.
STRUCTURED_PREFIX = b"#!reader#"


def record(payload):
    return payload + struct.pack("<I", len(payload)) + hashlib.md5(payload).digest()


def group(type_, *records_in_reading_order):
    """A group's payloads in file order: the records after the type reversed,
    then the type."""
    return list(reversed(records_in_reading_order)) + [type_]


def deflate(data):
    compressor = zlib.compressobj(9, zlib.DEFLATED, RAW_DEFLATE_WBITS)
    return compressor.compress(data) + compressor.flush()


def chunk(original_size, stored):
    return struct.pack("<II", original_size, len(stored)) + stored


def contents(file_size, *chunks):
    return struct.pack("<Q", file_size) + b"".join(chunks)


def text_bytes(size, salt):
    """Compressible bytes: one line, repeated."""
    line = b"%s kernel32.dll LoadLibraryW GetProcAddress\r\n" % salt
    return (line * (size // len(line) + 1))[:size]


def random_bytes(size, seed):
    """Incompressible bytes, without the structured inputs' separators."""
    generator = random.Random(seed)
    allowed = bytes(b for b in range(256) if b not in RECORD_SEPARATOR + TRAILING_SEPARATOR)
    return bytes(generator.choice(allowed) for _ in range(size))


def zfile_contents(kind, salt):
    if kind == "empty":
        return contents(0)
    if kind == "stored":
        data = random_bytes(4096, salt)
        return contents(len(data), chunk(len(data), data))
    if kind == "deflate":
        first = text_bytes(MAX_CHUNK, salt)
        last = text_bytes(5000, salt + b"-last")
        return contents(len(first) + len(last), chunk(len(first), deflate(first)),
                        chunk(len(last), deflate(last)))
    if kind == "damaged":
        data = text_bytes(20000, salt)
        declared = len(data) + 16
        return contents(declared, chunk(declared, deflate(data)))
    raise ValueError(kind)


def envelope_payloads(kind, salt):
    """Every record payload of the installer after the stub's, in file order."""
    return (group(b"file", b"installer", b"setup.sh", b"#!/bin/sh\nexit 0\n") +
            group(b"zfile", b"data", b"data.bin", zfile_contents(kind, salt)) +
            group(b"value", b"executable", b"%installer%") +
            group(b"value", b"parameters", b"%data% %source%"))


def raw_input(kind, make_payloads):
    # The stub group's contents, the first record, are the program itself.
    program = b"#!reader program bytes, longer than 23#"
    out = b""
    for payload in group(b"stub", b"stub", b"reader", program):
        out += record(payload)
    for payload in make_payloads(kind, b"raw"):
        out += record(payload)
    out += record(TAIL_MARKER)
    return RAW_INPUT + out


def structured_input(kind, make_payloads):
    # The separators may not occur in a payload: vary the data until the
    # compressed bytes hold neither.
    for attempt in range(1000):
        payloads = group(b"stub", b"stub", b"reader", b"program")
        payloads += make_payloads(kind, b"structured-%d" % attempt)
        joined = RECORD_SEPARATOR.join(payloads)
        if joined.count(RECORD_SEPARATOR) == len(payloads) - 1 and TRAILING_SEPARATOR not in joined:
            return STRUCTURED_WITH_TAIL + joined
    raise RuntimeError("no structured form of " + kind)


def write_seeds(kinds, group_name, make_payloads):
    """Writes the seeds of each kind in both forms, for both fuzzers:
    <form>-<group_name>-<kind>, whose envelopes hold make_payloads(kind, salt)
    after the stub."""
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    for kind in kinds:
        for form, make in (("raw", raw_input), ("structured", structured_input)):
            name = "%s-%s-%s" % (form, group_name, kind)
            data = make(kind, make_payloads)
            for target, prefix, file_name in (("walk", b"", name),
                                              ("tool", TOOL_INSTALLER, "installer-" + name)):
                path = os.path.join(root, target, file_name)
                with open(path, "wb") as out:
                    out.write(prefix + data)
                print("%s: %d bytes" % (os.path.relpath(path), len(prefix + data)))


def main():
    write_seeds(("empty", "stored", "deflate", "damaged"), "zfile", envelope_payloads)
    return 0


if __name__ == "__main__":
    sys.exit(main())
