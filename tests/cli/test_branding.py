# lzhsfx create --icon and --version: the publisher's icon and version
# information in a rebuilt resource section. Read back by independent
# readers (wrestool from icoutils, 7z's PE handler) and by this file's own
# .ico and VS_VERSIONINFO parsers; the PE headers checked field by field;
# bad icon files and version keys refused. Takes lzhsfx and the stub.
import atexit
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from lzhtool import Checker, run  # noqa: E402

LZHSFX = os.path.abspath(sys.argv[1])
STUB = os.path.abspath(sys.argv[2])
c = Checker("branding")

VERSION = [("FileDescription", "テスト用インストーラ"), ("CompanyName", "Example K.K."),
           ("FileVersion", "1.2.3.4"), ("ProductVersion", "2.0 beta"),
           ("LegalCopyright", "© 2026 Example"), ("Comments", "😀 outside the BMP")]


# ---- test inputs -------------------------------------------------------------

def bmp_icon_image(size, bgra):
    """A 32-bit icon image as .ico files hold it: BITMAPINFOHEADER with the
    doubled height, the pixels, the AND mask."""
    mask = ((size + 31) // 32 * 4) * size
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, size * size * 4 + mask, 0, 0, 0, 0)
    return header + bytes(bgra) * (size * size) + b"\0" * mask


def ico_file(images):
    """images: (width, data); a directory entry each, the data behind."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = b""
    for width, data in images:
        out += struct.pack("<BBBBHHII", width % 256, width % 256, 0, 0, 1, 32, len(data), offset + len(blobs))
        blobs += data
    return out + blobs


def parse_ico(data):
    """[(width, height, bitcount, image bytes)] of an .ico file."""
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    assert kind == 1
    images = []
    for i in range(count):
        w, h, _, _, _, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        images.append((w, h, bits, data[offset:offset + size]))
    return images


def parse_version(block):
    """(fixed fields, {key: value}, translations) of a VS_VERSIONINFO block,
    walked node by node: length, value length, type, key, value, children."""
    def node(at, end):
        length, value_length, kind = struct.unpack_from("<HHH", block, at)
        assert 6 <= length and at + length <= end, "node length"
        p = at + 6
        key = ""
        while True:
            ch = struct.unpack_from("<H", block, p)[0]
            p += 2
            if ch == 0:
                break
            key += chr(ch)
        p = (p + 3) & ~3
        return key, value_length, kind, p, at + length

    def children(start, end):
        at = (start + 3) & ~3
        while at + 6 <= end:
            n = node(at, end)
            yield n
            at = (n[4] + 3) & ~3

    key, vlen, _, value, end = node(0, len(block))
    assert key == "VS_VERSION_INFO" and vlen == 52
    fixed = struct.unpack_from("<13I", block, value)
    strings, translations = {}, []
    for k, _, _, v, e in children(value + vlen, end):
        if k == "StringFileInfo":
            for table, _, _, tv, te in children(v, e):
                for name, slen, kind, sv, se in children(tv, te):
                    assert kind == 1
                    text = block[sv:sv + 2 * slen].decode("utf-16-le")
                    assert text.endswith("\0"), f"{name} not terminated within its length"
                    strings[name] = (table, text[:-1])
        elif k == "VarFileInfo":
            for name, tlen, _, tv, _ in children(v, e):
                if name == "Translation":
                    translations += [struct.unpack_from("<HH", block, tv + i) for i in range(0, tlen, 4)]
    return fixed, strings, translations


def pe_fields(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, opt_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    dirs = opt + (96 if struct.unpack_from("<H", data, opt)[0] == 0x10B else 112)
    table = []
    for i in range(sections):
        name, vsize, va, rsize, rptr = struct.unpack_from("<8sIIII", data, opt + opt_size + 40 * i)
        table.append((name.rstrip(b"\0"), vsize, va, rsize, rptr))
    return {"pe": pe, "opt": opt, "opt_size": opt_size, "sections": table,
            "initialized": struct.unpack_from("<I", data, opt + 8)[0],
            "section_alignment": struct.unpack_from("<I", data, opt + 32)[0],
            "file_alignment": struct.unpack_from("<I", data, opt + 36)[0],
            "size_of_image": struct.unpack_from("<I", data, opt + 56)[0],
            "size_of_headers": struct.unpack_from("<I", data, opt + 60)[0],
            "checksum": struct.unpack_from("<I", data, opt + 64)[0],
            "resources": struct.unpack_from("<II", data, dirs + 16)}


def pe_checksum(data, at):
    """The PE checksum written out from its definition, independently of
    the C++ one."""
    padded = data + (b"\0" if len(data) % 2 else b"")
    total = 0
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
    total -= struct.unpack_from("<H", data, at)[0] + struct.unpack_from("<H", data, at + 2)[0]
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def wrestool(*args):
    return subprocess.run(["wrestool", *args], capture_output=True, timeout=30)


def resource_list(path):
    """{(type, name, language)} from wrestool -l."""
    listed = set()
    for line in wrestool("-l", path).stdout.decode().splitlines():
        fields = dict(part.split("=", 1) for part in line.split() if part.startswith("--"))
        listed.add((fields["--type"], fields["--name"].strip("'"), fields["--language"]))
    return listed


def create(work, out, *options):
    return run([LZHSFX, "create", out, "src", "--stub", STUB, "-q", *options], cwd=work, timeout=60)


def main():
    if not os.path.exists(STUB):
        print(f"branding: {STUB} is not built")
        sys.exit(77)
    if shutil.which("wrestool") is None:
        print("branding: wrestool (icoutils) missing; run scripts/setup.sh")
        sys.exit(77)
    work = tempfile.mkdtemp(prefix="lzhsfx-branding-")
    atexit.register(shutil.rmtree, work, True)
    os.makedirs(os.path.join(work, "src", "sub"))
    payload = {"src/readme.txt": b"branded\r\n" * 300, "src/sub/data.bin": bytes(range(256)) * 40}
    for rel, data in payload.items():
        with open(os.path.join(work, rel), "wb") as f:
            f.write(data)
    images = [(16, bmp_icon_image(16, (0, 0, 255, 255))), (32, bmp_icon_image(32, (0, 200, 0, 255)))]
    ico = ico_file(images)
    with open(os.path.join(work, "app.ico"), "wb") as f:
        f.write(ico)
    bare = open(STUB, "rb").read()
    bare_list = resource_list(STUB)

    # ---- icon and version together -------------------------------------------
    options = ["--icon", "app.ico"] + [a for k, v in VERSION for a in ("--version", f"{k}={v}")]
    rc, out, err = create(work, "branded.exe", *options)
    c.check(rc == 0, f"create --icon --version: {rc} {err}")
    exe = os.path.join(work, "branded.exe")
    data = open(exe, "rb").read()
    listed = resource_list(exe)
    # Fault: icons not replaced, the group not at 101, dialogs or manifest lost.
    c.check(sum(1 for t, _, _ in listed if t == "3") == 2, f"two RT_ICON images: {listed}")
    c.check(any(t == "14" and n == "101" for t, n, _ in listed), "group icon 101 listed")
    c.check(any(t == "16" and n == "1" and lang == "1041" for t, n, lang in listed), "version 1, Japanese")
    for kept in (r for r in bare_list if r[0] not in ("3", "14")):
        c.check(kept in listed, f"kept from the stub: {kept}")
        raw_bare = wrestool("-x", "--raw", f"--type={kept[0]}", f"--name={kept[1]}", STUB).stdout
        raw_new = wrestool("-x", "--raw", f"--type={kept[0]}", f"--name={kept[1]}", exe).stdout
        c.check(raw_bare and raw_bare == raw_new, f"bytes of {kept} unchanged")

    # Fault: the group's entries point at the wrong images or sizes.
    group_ico = wrestool("-x", "--type=14", "--name=101", exe).stdout
    got = parse_ico(group_ico) if group_ico else []
    want = parse_ico(ico)
    c.check([(w, h, b, d) for w, h, b, d in got] == want, "the group icon's images are the .ico's, in order")

    # Fault: version nodes misaligned, lengths wrong, strings not UTF-16,
    # the fixed numbers not filled from a.b.c.d (or filled from "2.0 beta").
    block = wrestool("-x", "--raw", "--type=16", "--name=1", exe).stdout
    try:
        fixed, strings, translations = parse_version(block)
    except (AssertionError, struct.error) as e:
        c.check(False, f"version block parses: {e}")
        fixed, strings, translations = (0,) * 13, {}, []
    c.check(fixed[0] == 0xFEEF04BD, "VS_FIXEDFILEINFO signature")
    c.check(fixed[2:4] == (0x00010002, 0x00030004), f"file version 1.2.3.4: {fixed[2:4]}")
    c.check(fixed[4:6] == (0, 0), f"product version not a.b.c.d stays 0: {fixed[4:6]}")
    for key, value in VERSION:
        c.check(strings.get(key) == ("041104B0", value), f"{key}: {strings.get(key)}")
    c.check(translations == [(0x0411, 1200)], f"translation: {translations}")

    # 7-Zip's PE reader finds the same tree through the data directory.
    p = subprocess.run(["7z", "l", "-tPE", exe], capture_output=True, timeout=30)
    listing = p.stdout.decode("utf-8", "replace")
    for entry in (".rsrc/1041/version.txt", "GROUP_ICON/101", "ICON/1.ico", "ICON/2.ico", "DIALOG/SFXDIALOG"):
        c.check(entry in listing, f"7z lists {entry}")
    p = subprocess.run(["7z", "e", "-tPE", "-so", exe, ".rsrc/1041/version.txt"], capture_output=True, timeout=30)
    text = p.stdout.decode("utf-16-le", "replace") if p.stdout[:2] != b"\xff\xfe" else p.stdout[2:].decode("utf-16-le")
    c.check("FILEVERSION1,2,3,4" in text.replace(" ", ""), f"7z reads FILEVERSION 1,2,3,4: {text[:80]!r}")
    c.check("テスト用インストーラ" in text, "7z reads the Japanese description")

    # Fault: the file layout or the PE headers left inconsistent.
    f = pe_fields(data)
    bare_f = pe_fields(bare)
    c.check(f["pe"] == 0x500 and data[:512] == bare[:512], "DOS header and e_lfanew unchanged")
    c.check(len(f["sections"]) == len(bare_f["sections"]) + 1, "one section more")
    name, vsize, va, rsize, rptr = f["sections"][-1]
    last_bare = bare_f["sections"][-1]
    c.check(name == b".rsrc" and f["resources"] == (va, vsize), f"resource directory at the new section {f['resources']}")
    c.check(va % f["section_alignment"] == 0 and va >= last_bare[2] + last_bare[1], "new section's RVA after the last")
    c.check(rptr % f["file_alignment"] == 0 and rptr >= len(bare), "new section's data behind the old image")
    c.check(f["size_of_image"] == (va + vsize + 0xFFF) // 0x1000 * 0x1000, "SizeOfImage")
    c.check(f["initialized"] == bare_f["initialized"] + rsize, "SizeOfInitializedData grew by the section")
    c.check(len(f["sections"]) * 40 + f["opt"] + f["opt_size"] <= f["size_of_headers"], "headers hold the table")
    offset = struct.unpack_from("<I", data, 512)[0]
    c.check(offset == rptr + rsize and offset % 512 == 0, f"archive right behind the image at {offset}")
    c.check(f["checksum"] == pe_checksum(data[:offset], f["opt"] + 64), "PE checksum of the image")

    # The archive behind it is intact, and info reads the branding back.
    rc, out, err = run([LZHSFX, "x", exe, "-C", "out", "-q"], cwd=work, timeout=60)
    c.check(rc == 0, f"x on the branded file: {err}")
    for rel, want_data in payload.items():
        path = os.path.join(work, "out", rel)
        c.check(os.path.exists(path) and open(path, "rb").read() == want_data, f"extracted {rel}")
    rc, out, err = run([LZHSFX, "info", exe], timeout=30)
    c.check(rc == 0 and "2 images" in out, f"info shows two icon images: {out}")
    for key, value in VERSION:
        c.check(f"{key}={value}" in out, f"info shows {key}")

    # Fault: "a" rewriting a branded file drops the new section or moves the
    # archive over it.
    with open(os.path.join(work, "added.txt"), "wb") as fh:
        fh.write(b"added later\r\n")
    rc, _, err = run([LZHSFX, "a", exe, "added.txt", "-q"], cwd=work, timeout=60)
    c.check(rc == 0, f"a on the branded file: {err}")
    c.check(resource_list(exe) == listed, "a keeps the resources")
    rc, out, err = run([LZHSFX, "info", exe], timeout=30)
    c.check(rc == 0 and "2 images" in out and "5 members" in out and "CompanyName=Example K.K." in out,
            f"info after a: {out}")

    # ---- version only: the stub's own icon stays --------------------------
    rc, _, err = create(work, "version-only.exe", "--version", "ProductName=X", "--version", "ProductName=Y")
    c.check(rc == 0, f"create --version only: {err}")
    other = os.path.join(work, "version-only.exe")
    icon_bare = wrestool("-x", "--raw", "--type=14", "--name=101", STUB).stdout
    c.check(icon_bare == wrestool("-x", "--raw", "--type=14", "--name=101", other).stdout, "icon group kept")
    block = wrestool("-x", "--raw", "--type=16", "--name=1", other).stdout
    c.check(block and parse_version(block)[1] == {"ProductName": ("041104B0", "Y")}, "the later value counts")
    # Without either option the stub is copied as it is.
    rc, _, err = create(work, "plain.exe")
    plain = open(os.path.join(work, "plain.exe"), "rb").read()
    c.check(rc == 0 and plain[:512] == bare[:512] and plain[1024:len(bare)] == bare[1024:], "plain create unchanged")

    # ---- refusals ------------------------------------------------------------
    good = ico_file(images[:1])
    header, entry = good[:6], bytearray(good[6:22])
    outside = bytearray(good)
    struct.pack_into("<I", outside, 6 + 12, len(good) - 10)          # offset near the end
    too_big = bytearray(good)
    struct.pack_into("<I", too_big, 6 + 8, 0xFFFFFFF0)              # size past the end
    not_image = ico_file([(16, b"\x00" * 64)])
    bad_icons = [
        ("not an icon", b"GIF89a" + b"\0" * 40, "not an icon file"),
        ("a cursor", struct.pack("<HHH", 0, 2, 1) + good[6:], "not an icon file"),
        ("zero images", struct.pack("<HHH", 0, 1, 0), "no images"),
        ("directory cut", header + bytes(entry[:8]), "past its end"),
        ("data outside", bytes(outside), "outside the file"),
        ("size past end", bytes(too_big), "outside the file"),
        ("neither bitmap nor PNG", not_image, "neither a bitmap nor a PNG"),
        ("empty file", b"", "not an icon file"),
        ("too many images", ico_file([(16, images[0][1])] * 257), "more than 256"),
    ]
    for label, content, reason in bad_icons:
        path = os.path.join(work, "bad.ico")
        with open(path, "wb") as fh:
            fh.write(content)
        target = os.path.join(work, "bad.exe")
        rc, _, err = create(work, "bad.exe", "--icon", "bad.ico")
        c.check(rc == 2 and reason in err and not os.path.exists(target), f"{label}: {rc} {err.strip()}")
    bad_versions = [
        (["--version", "Language=ja"], "unknown key"),
        (["--version", "FileVersion"], "KEY=VALUE"),
        (["--version=filedescription=x"], "unknown key"),
        (None, None),
        (["--version"], "needs KEY=VALUE"),
    ]
    for args, reason in bad_versions:
        if reason is None:
            # A value that is not UTF-8 (a lone 0xFF byte).
            p = subprocess.run([LZHSFX, "create", "bad.exe", "src", "--stub", STUB, "-q",
                                "--version", b"Comments=\xff"], cwd=work, capture_output=True, timeout=30)
            rc, err, reason = p.returncode, p.stderr.decode("utf-8", "replace"), "not UTF-8"
        else:
            rc, _, err = create(work, "bad.exe", *args)
        c.check(rc == 2 and reason in err and not os.path.exists(os.path.join(work, "bad.exe")),
                f"{args}: {rc} {err.strip()}")

    # ---- a damaged stub: every fault is refused, none crashes --------------
    info = pe_fields(bare)
    rva = info["resources"][0]
    sec = next(x for x in info["sections"] if x[2] <= rva < x[2] + x[3])
    tree = sec[4] + rva - sec[2]
    dir_field = info["opt"] + (96 if struct.unpack_from("<H", bare, info["opt"])[0] == 0x10B else 112) + 16

    def first_data_entry():
        at = tree
        for _ in range(2):  # type, then name: follow the first entry down
            at = tree + (struct.unpack_from("<I", bare, at + 16 + 4)[0] & 0x7FFFFFFF)
        return tree + struct.unpack_from("<I", bare, at + 16 + 4)[0]

    damages = [
        ("tree outside the file", dir_field, struct.pack("<I", 0x7FFF0000), "resource tree outside"),
        ("directory pointing at the root", tree + 16 + 4, struct.pack("<I", 0x80000000), "three levels"),
        ("entry count past the section", tree + 14, struct.pack("<H", 0xFFFF), "entries outside"),
        ("name outside", tree + 16, struct.pack("<I", 0xFFFFFFF0), "name outside"),
        ("data size past the file", first_data_entry() + 4, struct.pack("<I", 0x7FFFFFF0), "data outside"),
        ("bytes after the section table", info["opt"] + info["opt_size"] + 40 * len(info["sections"]) + 8,
         b"\x01", "in use"),
    ]
    for label, at, patch, reason in damages:
        damaged = bytearray(bare)
        damaged[at:at + len(patch)] = patch
        with open(os.path.join(work, "damaged-stub.exe"), "wb") as fh:
            fh.write(damaged)
        p = subprocess.run([LZHSFX, "create", "bad.exe", "src", "--stub", "damaged-stub.exe", "-q",
                            "--version", "Comments=x"], cwd=work, capture_output=True, timeout=30)
        err = p.stderr.decode("utf-8", "replace")
        c.check(p.returncode == 2 and reason in err and not os.path.exists(os.path.join(work, "bad.exe")),
                f"damaged stub, {label}: {p.returncode} {err.strip()}")
    c.done()


main()
