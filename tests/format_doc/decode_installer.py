#!/usr/bin/env python3
"""Decodes an installer from what docs/format.md says, and nothing else.

Usage: decode_installer.py INSTALLER --to DIR

Finds the envelope's tail, walks its groups checking every digest, writes the
files and trees into DIR as `envelope extract` lays them out and prints what
extract prints: an `extracted` line per file and folder, then the variables.
Exits 1 with one line on standard error when the installer is damaged or a
file cannot be extracted. Python's standard library and the `zstd` program
only (the one $ZSTD names, if set).
"""
import hashlib, os, struct, subprocess, sys, zlib

MARKER = b"chunked-" + b"installer-" + b"tail"  # never whole in this file
MiB, GiB = 1 << 20, 1 << 30
DIGITS = [bytes([c]) for c in b"123456789"] + [b"\xc2\xb9", b"\xc2\xb2", b"\xc2\xb3"]
DEVICES = {b"CON", b"PRN", b"AUX", b"NUL"} | {p + d for p in (b"COM", b"LPT") for d in DIGITS}
UMASK = os.umask(0o22)
os.umask(UMASK)
HIDDEN = [(0x80, 0x9F), (0x200B, 0x200F), (0x2028, 0x202E), (0x2060, 0x206F), (0xFEFF, 0xFEFF)]


class Damaged(Exception):
    """The envelope breaks a rule of the format: extract refuses it."""


class CannotExtract(Exception):
    """A file the reader could not extract: extract fails too."""


def u16(b, at): return struct.unpack_from("<H", b, at)[0]
def u32(b, at): return struct.unpack_from("<I", b, at)[0]
def u64(b, at): return struct.unpack_from("<Q", b, at)[0]


def pe_fields(data):
    """(checksum offset, certificate entry offset) of a PE image, else None."""
    if len(data) < 64 or data[:2] != b"MZ":
        return None
    pe = u32(data, 0x3C)
    if pe + 26 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        return None
    opt = pe + 24
    count = opt + {0x10B: 92, 0x20B: 108}.get(u16(data, opt), -opt - 1)
    if count < 0 or count + 4 > len(data) or u32(data, count) < 5 or count + 44 > len(data):
        return None
    return opt + 64, count + 36


def certificate_entry(data):
    """(offset, size) of a signed program's certificate table, else None (an empty entry)."""
    fields = pe_fields(data)
    entry = fields and struct.unpack_from("<II", data, fields[1])
    return entry if entry and entry[1] else None


def pe_checksum(data):
    """The linker's checksum: 16-bit words added, carries folded back in, plus the length."""
    total = 0
    for (word,) in struct.iter_unpack("<H", data + b"\0" * (len(data) % 2)):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def stub_unchanged_but_by_signing(stub, digest):
    """The stub's digest matches once the certificate entry is zeroed and the checksum set back."""
    fields = pe_fields(stub)
    if not fields:
        return False
    checksum_at, entry_at = fields
    reset = bytearray(stub)
    reset[entry_at:entry_at + 8] = bytes(8)
    reset[checksum_at:checksum_at + 4] = bytes(4)
    linker = struct.pack("<I", pe_checksum(bytes(reset)))
    for checksum in (bytes(4), linker):
        reset[checksum_at:checksum_at + 4] = checksum
        if hashlib.md5(reset).digest() == digest:
            return True
    return False


def find_tail(data):
    """E0, the end of the tail record, and whether the file is signed. The highest marker
    wins; the search stops at the certificate table when that lies inside the file."""
    entry = certificate_entry(data)
    inside = entry and entry[0] + entry[1] <= len(data)
    end = entry[0] - 20 if inside else len(data) - 1  # p + 42 <= S, or p + 22 <= size - 1
    p = data.rfind(MARKER, 23, max(end, 0))
    if p < 0:
        raise Damaged("no envelope: the tail marker is missing")
    return p + 42, entry is not None


def escape(text):
    """A key, name or value as extract prints it."""
    out, i = [], 0
    while i < len(text):
        b = text[i]
        n = 1 + (b >= 0xC0) + (b >= 0xE0) + (b >= 0xF0)  # the length its lead byte says
        try:
            char = text[i:i + n].decode("utf-8")  # strict: no overlong forms, no surrogates
        except UnicodeDecodeError:
            char = None
        if char is None or len(char) != 1 or b < 0x20 or b == 0x7F:
            out.append("\\x%02x" % b)
            i += 1
            continue
        hidden = any(lo <= ord(char) <= hi for lo, hi in HIDDEN)
        out.append("\\u%04x" % ord(char) if hidden else char)
        i += n
    return "".join(out)


def check_path(path, what):
    """The catalog's rules for a path: relative, plain names Windows holds as they are."""
    names = path.split(b"/")
    bad = (not path or b"\\" in path or b"\0" in path or path[1:2] == b":" or len(names) > 256
           or names[0].lower().startswith(b"~extra"))
    for name in names:
        stem = name.split(b".")[0].rstrip(b" ").upper()
        bad = bad or name in (b"", b".", b"..") or name[-1:] in (b".", b" ") or stem in DEVICES
        bad = bad or any(c < 32 or c in b'<>:"|?*' for c in name)
    if bad:
        raise Damaged(f"{what}: bad path {path!r}")


def unchunk(payload):
    """A zfile's contents: an 8-byte size, then chunks stored as they are or deflated raw."""
    if len(payload) < 8:
        raise Damaged("zfile contents end inside the size")
    left, at, pieces, kinds = u64(payload, 0), 8, [], {"stored": 0, "deflated": 0}
    while at < len(payload):
        if at + 8 > len(payload):
            raise Damaged("zfile contents end inside a chunk header")
        original, stored = struct.unpack_from("<II", payload, at)
        at += 8
        if not (1 <= original <= min(MiB, left) and 1 <= stored <= original
                and at + stored <= len(payload)):
            raise Damaged(f"zfile chunk sizes out of range: {original}, {stored}")
        chunk = payload[at:at + stored]
        at += stored
        left -= original
        if stored < original:
            inflater = zlib.decompressobj(-15)
            try:
                chunk = inflater.decompress(chunk, original)
            except zlib.error as error:
                raise Damaged(f"zfile chunk does not inflate: {error}")
            if (len(chunk) != original or not inflater.eof or inflater.unused_data
                    or inflater.unconsumed_tail):
                raise Damaged("zfile chunk inflates to another size or leaves bytes over")
        kinds["stored" if stored == original else "deflated"] += 1
        pieces.append(chunk)
    if left:
        raise Damaged("zfile chunks fall short of the file's size")
    return b"".join(pieces), kinds


def parse_catalog(payload):
    """[(kind, mode, path, size)], [(method, original size)], with the catalog's rules checked."""
    if len(payload) > 16 * MiB:
        raise Damaged("catalog over 16 MiB")
    try:
        count, frame_count = struct.unpack_from("<II", payload, 0)
        at, entries, frames = 8, [], []
        for _ in range(count):
            kind, mode, size_of_path = struct.unpack_from("<BHI", payload, at)
            path = payload[at + 7:at + 7 + size_of_path]
            size = u64(payload, at + 7 + size_of_path)
            at += 15 + size_of_path
            if kind > 1 or mode > 0o777 or (kind == 1 and size) or not 1 <= size_of_path <= 98301:
                raise Damaged(f"catalog entry {path!r}: kind {kind}, mode {mode:o}, size {size}")
            check_path(path, "catalog")
            if entries and path <= entries[-1][2]:
                raise Damaged(f"catalog paths out of order at {path!r}")
            if any(e[0] == 0 and path.startswith(e[2] + b"/") for e in entries):
                raise Damaged(f"catalog path {path!r} runs through a file")
            entries.append((kind, mode, path, size))
        for _ in range(frame_count):
            frames.append(struct.unpack_from("<BI", payload, at))
            at += 5
    except struct.error:
        raise Damaged("catalog ends inside an entry")
    stream = sum(e[3] for e in entries)
    if at != len(payload) or stream >= 1 << 63 or sum(f[1] for f in frames) != stream:
        raise Damaged("catalog sizes do not add up")
    if any(method > 1 or not 1 <= size <= GiB for method, size in frames):
        raise Damaged("catalog frame out of range")
    return entries, frames


def zstd_frame_length(frame):
    """The bytes one zstd frame takes, walked from its header and block headers, and its window."""
    if frame[:4] != b"\x28\xb5\x2f\xfd" or len(frame) < 6:
        raise Damaged("frame is not a zstd frame")
    descriptor = frame[4]
    single, checksum, dictionary = descriptor >> 5 & 1, descriptor >> 2 & 1, descriptor & 3
    at = 5 + (0 if single else 1) + (0, 1, 2, 4)[dictionary]
    size_bytes = (1 if single else 0, 2, 4, 8)[descriptor >> 6]
    content = int.from_bytes(frame[at:at + size_bytes], "little") + (256 if size_bytes == 2 else 0)
    if single:
        window = content
    else:
        exponent, mantissa = frame[5] >> 3, frame[5] & 7
        window = (1 << (10 + exponent)) + ((1 << (10 + exponent)) >> 3) * mantissa
    at += size_bytes
    while True:
        if at + 3 > len(frame):
            raise Damaged("zstd frame ends inside a block header")
        header = int.from_bytes(frame[at:at + 3], "little")
        kind, size = header >> 1 & 3, header >> 3
        if kind == 3:
            raise Damaged("zstd block of the reserved type")
        at += 3 + (1 if kind == 1 else size)
        if header & 1:
            return at + 4 * checksum, window


def decode_frame(method, original, record):
    if method == 0:
        if len(record) != original:
            raise Damaged("stored frame of another size than its catalog says")
        return record
    length, window = zstd_frame_length(record)
    if length != len(record) or window > 1 << 27:
        raise Damaged(f"zstd frame of {length} bytes in {len(record)}, window {window}")
    zstd = [os.environ.get("ZSTD", "zstd"), "-q", "-d", "-c", "--memory=128MB"]
    run = subprocess.run(zstd, input=record, capture_output=True)
    if run.returncode or len(run.stdout) != original:
        raise Damaged(f"zstd frame does not decode to {original} bytes: {run.stderr.decode()}")
    return run.stdout


def make_directory(path):
    if os.path.isdir(path) and not os.path.islink(path):
        return
    try:
        os.mkdir(path, 0o700)
    except FileExistsError:
        raise CannotExtract(f"{path!r}: something else stands there")


def write_file(path, data, mode):
    if os.path.lexists(path) and (os.path.islink(path) or not os.path.isfile(path)):
        raise CannotExtract(f"{path!r}: something else stands there")
    with open(path, "wb") as out:  # a regular file of exactly this name is replaced
        out.write(data)
    os.chmod(path, mode & ~UMASK)


def check_file_name(name):
    if (len(name) > 98301 or b"\0" in name or name[:1] in (b"/", b"\\") or name[1:2] == b":"
            or b".." in name.replace(b"\\", b"/").split(b"/")):
        raise CannotExtract(f"file name {name!r}")


def extract_tree(to, entries, stream, lines):
    """Directories first, then empty files, then each file's slice of the stream."""
    for kind, _, path, _ in entries:
        names = path.split(b"/")
        for depth in range(1, len(names) + kind):
            make_directory(os.path.join(to, os.fsdecode(b"/".join(names[:depth]))))
    at = 0
    for kind, mode, path, size in entries:
        if kind == 0:
            executable = 0o700 if mode & 0o111 else 0o600
            write_file(os.path.join(to, os.fsdecode(path)), stream[at:at + size], executable)
            at += size
        lines.append(f'extracted "{escape(path)}/"' if kind
                     else f'extracted "{escape(path)}" ({size} bytes)')


def decode(installer, to):
    """Extracts INSTALLER into TO; returns what it found, lines as extract prints them first."""
    data = open(installer, "rb").read()
    end, signed = find_tail(data)
    found = {"lines": [], "variables": {}, "groups": [], "frames": {"stored": 0, "zstd": 0},
             "chunks": {"stored": 0, "deflated": 0}, "exit_codes": False, "signed": signed}
    preset = {b"source", b"commandline"}  # set before the walk, never replaced
    variables = found["variables"]

    def read(what, stub=False):
        nonlocal end
        if end < 20 or end > len(data) or u32(data, end - 20) > end - 20:
            raise Damaged(f"{what}: the record ending at {end} does not fit in the file")
        length, digest = u32(data, end - 20), data[end - 16:end]
        payload = data[end - 20 - length:end - 20]
        if hashlib.md5(payload).digest() != digest:
            if not (stub and signed and stub_unchanged_but_by_signing(payload, digest)):
                raise Damaged(f"digest mismatch: {what} (record ending at {end})")
            found["groups"][-1]["changed_only_by_signing"] = True  # the stub group
        end -= 20 + length
        return payload

    def set_variable(key, value):
        if key not in variables and key not in preset:
            variables[key] = value

    if read("tail") != MARKER:
        raise Damaged("the tail record does not hold the marker")
    found["groups"].append({"type": "tail", "stored_size": len(MARKER)})
    os.makedirs(to, exist_ok=True)
    if os.listdir(to):
        raise CannotExtract(f"{to} is not empty")
    leading = True
    while True:
        kind = read("type")
        if kind == MARKER:
            continue
        key = read(f"key of a {kind!r} group")
        known = kind in (b"value", b"file", b"zfile", b"archive", b"stub", b"option")
        group = {"type": kind.decode() if known else "other", "key": key}
        if not known:
            group["type_text"] = kind
        found["groups"].append(group)
        if kind == b"value":
            value = read(f"value {key!r}")
            group.update(value=value, stored_size=len(value))
            set_variable(key, value)
        elif kind in (b"file", b"zfile", b"stub"):
            name = read(f"name of a {kind.decode()} group")
            contents = read(f"contents of {name!r}", stub=kind == b"stub")
            group.update(name=name, stored_size=len(contents))
            if kind == b"stub":
                group.setdefault("changed_only_by_signing", False)
                break
            if kind == b"zfile":
                contents, kinds = unchunk(contents)
                for k in kinds:
                    found["chunks"][k] += kinds[k]
            group["extracted_size"] = len(contents)
            check_file_name(name)
            write_file(os.path.join(to, os.fsdecode(name)), contents, 0o600)
            found["lines"].append(f'extracted "{escape(name)}" ({len(contents)} bytes)')
            if key:
                set_variable(key, name)
        elif kind == b"archive":
            catalog = read("catalog")
            entries, frames = parse_catalog(catalog)
            records = [read(f"frame {n} of {len(frames)}") for n in range(len(frames), 0, -1)][::-1]
            stream = b"".join(decode_frame(m, size, r) for (m, size), r in zip(frames, records))
            for method, _ in frames:
                found["frames"]["zstd" if method else "stored"] += 1
            group.update(stored_size=len(catalog) + sum(map(len, records)),
                         extracted_size=len(stream), entries=[
                             {"path": p.decode(), "type": "directory" if k else "file",
                              "extracted_size": s, "executable": bool(m & 0o111)}
                             for k, m, p, s in entries])
            extract_tree(to, entries, stream, found["lines"])
        else:  # options and unknown groups hold nothing but their key
            group["stored_size"] = 0
        if kind == b"option":  # only options read before any other group count
            found["exit_codes"] |= leading and key == b"exit-codes"
        else:
            leading = False
    found["lines"] += [f"{escape(k)}={escape(v)}" for k, v in sorted(variables.items())]
    return found


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[2] != "--to":
        sys.exit(__doc__.split("\n\n")[1])
    try:
        result = decode(sys.argv[1], sys.argv[3])
    except Damaged as error:
        sys.exit(f"decode_installer.py: damaged: {error}")
    except (CannotExtract, OSError) as error:
        sys.exit(f"decode_installer.py: cannot extract: {error}")
    sys.stdout.buffer.write("".join(line + "\n" for line in result["lines"]).encode())
