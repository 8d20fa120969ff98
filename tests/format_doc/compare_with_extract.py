#!/usr/bin/env python3
"""Packs installers with `envelope pack`, then checks that decode_installer.py,
written from docs/format.md alone, finds what `envelope extract` writes and
`envelope list --json` shows: the same files, bytes, modes, output lines,
groups and values. Also that both refuse damaged installers.

Usage: compare_with_extract.py ENVELOPE READER SCRATCH-DIRECTORY
"""
import hashlib, json, os, random, shutil, struct, subprocess, sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import decode_installer as decoder

envelope, reader, scratch = sys.argv[1:4]
rng = random.Random(20240611)
WORDS = ["".join(rng.choices("abcdefghijklmnopqrstuvwxyz", k=rng.randint(2, 9)))
         for _ in range(300)]
KiB = 1024
failures = []


def text(size):
    return " ".join(rng.choices(WORDS, k=size // 4)).encode()[:size].ljust(size, b".")


def make(root, files):
    """Files (bytes) and empty folders (None) below root; a name ending in '*' is executable."""
    for name, contents in files.items():
        path = os.path.join(root, name.rstrip("*"))
        if contents is None:
            os.makedirs(path, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(contents)
        os.chmod(path, 0o755 if name.endswith("*") else 0o644)


def snapshot(root):
    """{relative path: (mode bits, bytes, or None for a folder)} below root."""
    found = {}
    for folder, folders, files in os.walk(root):
        for name in folders + files:
            path = os.path.join(folder, name)
            body = open(path, "rb").read() if name in files else None
            found[os.path.relpath(path, root)] = (oct(os.lstat(path).st_mode & 0o7777), body)
    return found


def shown(text):
    """Envelope text as `list --json` shows it: UTF-8, else code page 1252."""
    try:
        return text.decode("utf-8")
    except UnicodeDecodeError:
        return text.decode("cp1252")


def check(case, what, decoded, expected):
    if decoded != expected:
        failures.append(f"{case}: {what} differ:\n  decoder:  {decoded!r:.800}\n"
                        f"  envelope: {expected!r:.800}")


def listed_groups(listing):
    """The groups of `list --json`, with the fields the decoder also finds."""
    fields = ("type", "type_text", "key", "name", "value", "stored_size", "extracted_size",
              "changed_only_by_signing")
    groups = []
    for listed in listing["groups"]:
        group = {k: listed[k] for k in fields if k in listed}
        if "entries" in listed:
            group["entries"] = [{k: e[k] for k in ("path", "type", "extracted_size", "executable")}
                                for e in listed["entries"]]
        groups.append(group)
    return groups


def compare(case, installer):
    """Extracts with both and compares everything; returns the decoder's findings."""
    ours, theirs = (os.path.join(scratch, case + side) for side in ("-decoded", "-extracted"))
    try:
        decoded = decoder.decode(installer, ours)
    except (decoder.Damaged, decoder.CannotExtract) as error:
        failures.append(f"{case}: the decoder refused it: {error}")
        return None
    run = subprocess.run([envelope, "extract", installer, "--to", theirs], capture_output=True)
    listing = subprocess.run([envelope, "list", "--json", installer], capture_output=True)
    if run.returncode or listing.returncode:
        failures.append(f"{case}: envelope failed: {run.stderr.decode()}{listing.stderr.decode()}")
        return decoded
    listing = json.loads(listing.stdout)
    check(case, "output lines", decoded["lines"], run.stdout.decode().splitlines())
    check(case, "trees", snapshot(ours), snapshot(theirs))
    groups = [{k: shown(v) if isinstance(v, bytes) else v for k, v in g.items()}
              for g in decoded["groups"]]
    check(case, "groups", groups, listed_groups(listing))
    variables = {k: v for k, v in listing["variables"].items() if k not in ("source", "commandline")}
    check(case, "variables", {shown(k): shown(v) for k, v in decoded["variables"].items()}, variables)
    check(case, "exit-codes option", decoded["exit_codes"], listing["options"]["exit_codes"])
    check(case, "signed", decoded["signed"], listing["signed"])
    print(f"{case}: {len(groups)} groups, {len(decoded['lines'])} lines, frames {decoded['frames']}, "
          f"zfile chunks {decoded['chunks']}")
    return decoded


def pack(name, stub, *arguments):
    installer = os.path.join(scratch, name)
    subprocess.run([envelope, "pack", "--stub", stub, "--output", installer, *arguments],
                   check=True, capture_output=True)
    return installer


def write_changed(installer, name, change):
    data = bytearray(open(installer, "rb").read())
    change(data)
    open(os.path.join(scratch, name), "wb").write(data)
    return os.path.join(scratch, name)


def expect_refused(case, installer):
    """Both say the installer is damaged; the decoder in one line, with no traceback."""
    ours = subprocess.run([sys.executable, decoder.__file__, installer, "--to", installer + "-d"],
                          capture_output=True, text=True)
    theirs = subprocess.run([envelope, "extract", installer, "--to", installer + "-e"],
                            capture_output=True, text=True)
    if ours.returncode != 1 or "damaged: " not in ours.stderr or "Traceback" in ours.stderr:
        failures.append(f"{case}: the decoder did not refuse it cleanly: {ours.stderr}")
    if theirs.returncode != 1:
        failures.append(f"{case}: envelope extract exited {theirs.returncode}: {theirs.stderr}")
    print(f"{case}: refused\n  decoder:  {ours.stderr.strip()}\n  envelope: {theirs.stderr.strip()}")


def pe_stub():
    """The headers of a 32-bit Windows program, with the checksum its linker would write,
    an odd number of bytes long."""
    coff = struct.pack("<4sHHIIIHH", b"PE\0\0", 0x14C, 0, 0, 0, 0, 224, 0x102)
    optional = struct.pack("<HBB", 0x10B, 14, 0).ljust(92, b"\0") + struct.pack("<I", 16)
    headers = b"MZ" + bytes(58) + struct.pack("<I", 64) + coff + optional + bytes(128)
    stub = bytearray(headers.ljust(1025, b"\x90"))
    checksum_at = decoder.pe_fields(bytes(stub))[0]
    stub[checksum_at:checksum_at + 4] = struct.pack("<I", decoder.pe_checksum(bytes(stub)))
    return bytes(stub)


def sign(data):
    """Appends a certificate table and points the headers at it, as signing does; the table
    holds its 8-byte header and the signature, nothing more (docs/releasing.md)."""
    checksum_at, entry_at = decoder.pe_fields(bytes(data))
    signature = b"\x30\x82\x00\x34" + bytes(52)  # a DER sequence of 56 bytes, for PKCS#7
    table = struct.pack("<IHH", 8 + len(signature), 0x200, 2) + signature
    data[entry_at:entry_at + 8] = struct.pack("<II", len(data), len(table))
    data[checksum_at:checksum_at + 4] = struct.pack("<I", 0x1234567)
    data += table


def record(payload):
    return payload + struct.pack("<I", len(payload)) + hashlib.md5(payload).digest()


shutil.rmtree(scratch, ignore_errors=True)
os.makedirs(scratch)

# A tree of some MiB whose stream (its files in byte order of their paths) runs
# from incompressible to compressible and back, so that best and fast cut it
# into several stored and zstd frames; none stores it in one frame.
tree = os.path.join(scratch, "tree")
make(tree, {
    "bin/run.sh*": b"#!/bin/sh\necho run\n", "cache": None, "empty.txt": b"",
    "data/a-noise.bin": rng.randbytes(1100 * KiB), "data/b-words.txt": text(1024 * KiB),
    "data/c-noise.bin": rng.randbytes(2048 * KiB), "data/d-words.txt": text(600 * KiB),
    "data/e-noise.bin": rng.randbytes(300 * KiB), "docs/deep/er/still/notes.md": text(3000),
    "docs/Ünïcödé 下载.txt": "Grüße\n".encode(), "lib/tool*": rng.randbytes(5000)})
for level, expected in (("best", (2, 2)), ("fast", (2, 2)), ("none", (1, 0))):
    found = compare(f"tree-{level}", pack(f"tree-{level}", reader, "--tree", tree,
                                          "--compression", level))
    if found and (found["frames"]["stored"], found["frames"]["zstd"]) != expected:
        failures.append(f"tree-{level}: expected {expected} stored and zstd frames")

# Every group kind pack writes: file and zfile groups (one in a tree's folder,
# an empty one, one named beyond ASCII, one with stored and deflated chunks),
# two trees sharing a folder, values whose texts need escaping, the
# exit-codes option.
source = os.path.join(scratch, "mixed")
make(source, {
    "setup.sh*": b"#!/bin/sh\necho 'setup, unique to the file group'\n", "empty.dat": b"",
    "payload.dat": text(1024 * KiB) + rng.randbytes(1024 * KiB) + text(300 * KiB),
    "small.txt": text(20 * KiB), "one/bin/helper*": rng.randbytes(3000), "one/données": None,
    "one/readme.txt": text(9000), "two/bin/other.txt": b"other\n",
    "two/share/words.txt": text(40 * KiB)})
manifest = os.path.join(source, "installer.toml")
with open(manifest, "w", encoding="utf-8") as out:
    out.write(r"""stub_name = "Setup Reader"
exit_codes = true
[[file]]
key = "installer"
name = "bin/setup.sh"
source = "setup.sh"
compression = "none"
[[file]]
key = "payload"
name = "payload.dat"
source = "payload.dat"
[[file]]
name = "empty.dat"
source = "empty.dat"
[[file]]
name = "Ünïcode ✓.txt"
source = "small.txt"
compression = "fast"
[[tree]]
source = "one"
[[tree]]
source = "two"
compression = "none"
[[value]]
key = "executable"
text = "%installer%"
[[value]]
key = "parameters"
text = '/V"/l*v install.txt %msi_parameters%"'
[[value]]
key = "msi_parameters"
text = 'ALLUSERS=2 USER_PARTNER_IDENTITY=5 USER_SOURCE_DIRECTORY=\"%source%\\\"'
[[value]]
key = "grüße"
text = "line one\nline\ttwo\u200b\u0085 世界"
""")
mixed = pack("mixed.installer", reader, "--manifest", manifest)
found = compare("mixed", mixed)
if found and (found["chunks"]["stored"] < 1 or found["chunks"]["deflated"] < 2):
    failures.append("mixed: expected stored and deflated chunks")

# The same on a Windows program's headers, unsigned, then signed: the tail is
# found before the certificate table, and the stub's digest matches once the
# two fields signing rewrites are set back (the checksum to the linker's).
pe = os.path.join(scratch, "reader.exe")
open(pe, "wb").write(pe_stub())
windows = pack("windows.exe", pe, "--manifest", manifest)
compare("unsigned", windows)
compare("signed", write_changed(windows, "signed.exe", sign))

# What pack never writes, record by record in file order (so read from the
# last): an unknown group, a value's key repeated (the one nearest the end
# wins), text that is not UTF-8, an option after another group (ignored), and
# a file group replacing a tree's file (the one nearest the start wins).
catalog = struct.pack("<II", 2, 1) + struct.pack("<BHI", 1, 0o755, 1) + b"d" + bytes(8)
catalog += struct.pack("<BHI", 0, 0o644, 3) + b"d/x" + struct.pack("<QBI", 9, 0, 9)
handmade = os.path.join(scratch, "handmade")
with open(handmade, "wb") as out:
    for payload in [b"STUB", b"stub", b"stub", b"stub", b"from the file group", b"d/x", b"k",
                    b"file", b"exit-codes", b"option", b"from tree", catalog, b"", b"archive",
                    b"whatever", b"comment", b"second", b"k", b"value", b"caf\xe9 \xed\xa0\x80",
                    b"latin", b"value", b"first", b"k", b"value", decoder.MARKER]:
        out.write(record(payload))
compare("handmade", handmade)

# Damage: a byte of a file group's contents flipped, the tail record cut
# short, the stub of an unsigned Windows program changed.
def flip(data):
    data[data.index(b"unique to the file group")] ^= 0x20


def change_checksum(data):
    data[decoder.pe_fields(bytes(data))[0]] ^= 1


expect_refused("flipped", write_changed(mixed, "flipped", flip))
expect_refused("cut", write_changed(mixed, "cut", lambda data: data.pop()))
expect_refused("changed-stub", write_changed(windows, "changed-stub", change_checksum))

print("\n".join(failures) or "the decoder agrees with envelope extract and list")
if not failures:
    shutil.rmtree(scratch)
sys.exit(1 if failures else 0)
