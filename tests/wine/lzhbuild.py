# Test-side helpers that build inputs independently of the code under test:
# level-2 LZH members written field by field, a fake stub image with the
# agreed layout, and a reader for the configuration block and the archive
# behind a self-extracting file.
import struct

# CRC-16/ARC, bit by bit (check value of b"123456789" is 0xBB3D).
def crc16(data: bytes) -> int:
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc

assert crc16(b"123456789") == 0xBB3D


def member(name: bytes, data: bytes = b"", method: bytes = b"-lh0-", level: int = 2,
           time_stamp: int = 0x5F5E1000, dirname: bytes = None, crc_record: bool = True,
           corrupt_header_crc: bool = False, packed_size: int = None,
           original_size: int = None, os_id: bytes = b"U", data_crc: int = None) -> bytes:
    """One member with a level-2 header (name records as given, CRC record
    first), followed by its data stored as is."""
    records = []
    if crc_record:
        records.append(b"\x00\x00\x00")          # type 0, value patched below
    if dirname is not None:
        records.append(b"\x02" + dirname)
    records.append(b"\x01" + name)
    packed = len(data) if packed_size is None else packed_size
    original = len(data) if original_size is None else original_size
    fixed = bytearray(26)
    fixed[2:7] = method
    struct.pack_into("<IIIBBHc", fixed, 7, packed, original, time_stamp, 0x20, level,
                     crc16(data) if data_crc is None else data_crc, os_id)
    body = bytearray(fixed)
    # Each record is preceded by its size field (the previous nextSize).
    for r in records:
        size = len(r) + 2
        body[-2:] = struct.pack("<H", size)
        body += r + b"\x00\x00"
    struct.pack_into("<H", body, 0, len(body))
    if crc_record:
        crc_at = 26 + 1                            # first record's data
        value = crc16(bytes(body))
        if corrupt_header_crc:
            value ^= 0x0101
        struct.pack_into("<H", body, crc_at, value)
    return bytes(body) + data


REAL_MODE_TEXT = ("このプログラムは Windows 32ﾋﾞｯﾄ版の LZH 自己解凍書庫です.\r\n"
                  "MS-DOS モードでは実行できません．\r\n$").encode("cp932")


def fake_stub(size: int = 0x6234, lfanew: int = 0x500, signature: bytes = b"MZ") -> bytes:
    """A file laid out like the stub: DOS header pointing at 0x500, blank
    configuration block, real-mode text behind a short jump at 0x460, the
    PE signature at 0x500, filler bytes up to size."""
    image = bytearray(size)
    image[0:2] = signature
    struct.pack_into("<I", image, 0x3C, lfanew)
    image[0x460:0x462] = b"\xEB" + bytes([len(REAL_MODE_TEXT)])
    image[0x462:0x462 + len(REAL_MODE_TEXT)] = REAL_MODE_TEXT
    image[0x500:0x504] = b"PE\0\0"
    for i in range(0x600, size):
        image[i] = (i * 7 + 3) & 0xFF or 1
    return bytes(image)


# Offsets of the configuration block's fields inside the program file.
CONFIG = {"archiveOffset": (512, 4), "title": (516, 41), "prompt": (557, 41),
          "defaultDir": (598, 256), "command": (854, 259), "flags": (1113, 1),
          "restoreAttributes": (1114, 1)}


def read_config(image: bytes) -> dict:
    out = {}
    for field, (offset, size) in CONFIG.items():
        raw = image[offset:offset + size]
        if field == "archiveOffset":
            out[field] = struct.unpack("<I", raw)[0]
        elif size == 1:
            out[field] = raw[0]
        else:
            out[field] = raw.split(b"\0", 1)[0]
    return out


def read_members(archive: bytes) -> list:
    """(name, method, data) of each member, walking headers by their sizes."""
    out, pos = [], 0
    while pos + 2 <= len(archive):
        size = struct.unpack_from("<H", archive, pos)[0]
        if size == 0:
            break
        h = archive[pos:pos + size]
        packed = struct.unpack_from("<I", h, 7)[0]
        at, name, dirname = 24, b"", b""
        while True:
            nxt = struct.unpack_from("<H", h, at)[0]
            if nxt == 0:
                break
            rec = h[at + 2:at + 2 + nxt]
            if rec[0] == 1:
                name = rec[1:-2]
            elif rec[0] == 2:
                dirname = rec[1:-2]
            at += nxt
        data = archive[pos + size:pos + size + packed]
        out.append((dirname.replace(b"\xff", b"/") + name, h[2:7], data))
        pos += size + packed
    return out
