# Test-side LZH writer, independent of the code under test: CRC-16/ARC,
# level-2 headers built field by field (and levels 0, 1 and 3), and a small -lh4-..-lh7- encoder
# (greedy LZ77 + per-block canonical Huffman codes) whose output lhasa
# accepts. Used to hand-build archives jlha cannot make (-lh4-, odd names,
# message members, self-extractor files) and to damage them on purpose;
# also a member walker, a stand-in stub image and a configuration block
# reader for looking at what lzhsfx create writes. The cli and Wine tests
# both import it.
import atexit
import heapq
import os
import shutil
import struct
import subprocess
import sys
import tempfile

# ---------------------------------------------------------------- CRC-16/ARC

def _crc_table():
    table = []
    for i in range(256):
        c = i
        for _ in range(8):
            c = (c >> 1) ^ 0xA001 if c & 1 else c >> 1
        table.append(c)
    return table

_CRC = _crc_table()

def crc16(data, crc=0):
    for b in data:
        crc = (crc >> 8) ^ _CRC[(crc ^ b) & 0xFF]
    return crc

assert crc16(b"123456789") == 0xBB3D  # the published check value of CRC-16/ARC

# ------------------------------------------------------------- bit writer

class BitWriter:
    """Most significant bit first, as the decoder reads."""
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.n = 0

    def put(self, nbits, value):
        assert 0 <= value < (1 << nbits) or nbits == 0
        for i in range(nbits - 1, -1, -1):
            self.acc = (self.acc << 1) | ((value >> i) & 1)
            self.n += 1
            if self.n == 8:
                self.out.append(self.acc)
                self.acc = 0
                self.n = 0

    def finish(self):
        if self.n:
            self.out.append(self.acc << (8 - self.n))
            self.acc = self.n = 0
        return bytes(self.out)

# ------------------------------------------------------------ Huffman codes

def huffman_lengths(freqs, limit=16):
    """Code lengths of a complete prefix code over the symbols with freq > 0."""
    used = [s for s, f in enumerate(freqs) if f]
    lengths = [0] * len(freqs)
    if len(used) < 2:
        return lengths  # one symbol: written with the single-symbol form
    heap = [(freqs[s], s, (s,)) for s in used]
    heapq.heapify(heap)
    tie = len(freqs)
    while len(heap) > 1:
        f1, _, a = heapq.heappop(heap)
        f2, _, b = heapq.heappop(heap)
        for s in a + b:
            lengths[s] += 1
        tie += 1
        heapq.heappush(heap, (f1 + f2, tie, a + b))
    assert max(lengths) <= limit, "test data too skewed for a 16-bit code"
    return lengths

def canonical_codes(lengths):
    """Shorter codes first, equal lengths in symbol order."""
    codes = [0] * len(lengths)
    code = 0
    for length in range(1, 17):
        for s, l in enumerate(lengths):
            if l == length:
                codes[s] = code
                code += 1
        code <<= 1
    return codes

# --------------------------------------------------------------- the encoder

METHODS = {  # window bits, offset count width
    "4": (12, 4), "5": (13, 4), "6": (15, 5), "7": (16, 5),
}
LITERAL_COUNT = 510
LENGTH_COUNT = 19
MIN_MATCH, MAX_MATCH = 3, 256

def find_tokens(data, window_bits, max_chain=64, min_match=MIN_MATCH, max_match=MAX_MATCH):
    """Greedy LZ77: ('L', byte) or ('M', length, distance)."""
    window = 1 << window_bits
    heads = {}
    tokens = []
    i = 0
    n = len(data)
    while i < n:
        best_len, best_dist = 0, 0
        if i + min_match <= n:
            key = data[i:i + min_match]
            chain = heads.get(key, [])
            for j in reversed(chain[-max_chain:]):
                dist = i - j
                if dist > window - 1:
                    break
                length = 0
                while length < max_match and i + length < n and data[j + length] == data[i + length]:
                    length += 1
                if length > best_len:
                    best_len, best_dist = length, dist
                    if length == max_match:
                        break
        step = best_len if best_len >= min_match else 1
        for k in range(i, min(i + step, n - min_match + 1)):
            heads.setdefault(data[k:k + min_match], []).append(k)
        if best_len >= min_match:
            tokens.append(("M", best_len, best_dist))
        else:
            tokens.append(("L", data[i]))
        i += step
    return tokens

def _offset_symbol(distance):
    pos = distance - 1
    return pos.bit_length(), pos

def _write_small_lengths(w, lengths, count_bits, special):
    """The code-length code or the offset code: 3-bit entries, 7+ as unary."""
    n = len(lengths)
    while n > 0 and lengths[n - 1] == 0:
        n -= 1
    w.put(count_bits, n)
    i = 0
    while i < n:
        v = lengths[i]
        if v <= 6:
            w.put(3, v)
        else:
            w.put(3, 7)
            for _ in range(v - 7):
                w.put(1, 1)
            w.put(1, 0)
        i += 1
        if i == special:
            z = 0
            while i < min(n, special + 3) and lengths[i] == 0:
                z += 1
                i += 1
            w.put(2, z)

def _write_single(w, count_bits, symbol):
    w.put(count_bits, 0)
    w.put(count_bits, symbol)

def _literal_length_symbols(lengths):
    """Code-length symbols (with extra bits) that describe the literal lengths."""
    n = len(lengths)
    while n > 0 and lengths[n - 1] == 0:
        n -= 1
    out = []
    i = 0
    while i < n:
        if lengths[i]:
            out.append((lengths[i] + 2, 0, 0))
            i += 1
            continue
        run = 0
        while i < n and lengths[i] == 0:
            run += 1
            i += 1
        while run:
            if run <= 2:
                out.append((0, 0, 0))
                run -= 1
            elif run <= 18:
                out.append((1, 4, run - 3))
                run = 0
            elif run == 19:
                out.append((0, 0, 0))
                run -= 1
            else:
                take = min(run, 20 + 511)
                out.append((2, 9, take - 20))
                run -= take
    return n, out

def _write_block(w, tokens, offset_count, offset_bits):
    lit_freq = [0] * LITERAL_COUNT
    off_freq = [0] * offset_count
    for t in tokens:
        if t[0] == "L":
            lit_freq[t[1]] += 1
        else:
            lit_freq[256 + t[1] - MIN_MATCH] += 1
            off_freq[_offset_symbol(t[2])[0]] += 1
    lit_len = huffman_lengths(lit_freq)
    lit_code = canonical_codes(lit_len)
    lit_single = [s for s, f in enumerate(lit_freq) if f]

    w.put(16, len(tokens) & 0xFFFF)
    if len(lit_single) == 1:
        # Code-length code unused: single-symbol form, then the literal likewise.
        _write_single(w, 5, 0)
        _write_single(w, 9, lit_single[0])
    else:
        n, symbols = _literal_length_symbols(lit_len)
        pt_freq = [0] * LENGTH_COUNT
        for s, _, _ in symbols:
            pt_freq[s] += 1
        pt_used = [s for s, f in enumerate(pt_freq) if f]
        pt_len = huffman_lengths(pt_freq)
        pt_code = canonical_codes(pt_len)
        if len(pt_used) == 1:
            _write_single(w, 5, pt_used[0])
        else:
            _write_small_lengths(w, pt_len, 5, 3)
        w.put(9, n)
        for s, nbits, extra in symbols:
            w.put(pt_len[s], pt_code[s])
            w.put(nbits, extra)

    off_used = [s for s, f in enumerate(off_freq) if f]
    off_len = huffman_lengths(off_freq)
    off_code = canonical_codes(off_len)
    if len(off_used) <= 1:
        _write_single(w, offset_bits, off_used[0] if off_used else 0)
    else:
        _write_small_lengths(w, off_len, offset_bits, -1)

    for t in tokens:
        if t[0] == "L":
            s = t[1]
        else:
            s = 256 + t[1] - MIN_MATCH
        if len(lit_single) != 1:
            w.put(lit_len[s], lit_code[s])
        if t[0] == "M":
            k, pos = _offset_symbol(t[2])
            if len(off_used) > 1:
                w.put(off_len[k], off_code[k])
            if k > 1:
                w.put(k - 1, pos - (1 << (k - 1)))

def compress(data, method="5", block_symbols=16384):
    """Compressed body of a -lhN- member (N in 4..7)."""
    window_bits, offset_bits = METHODS[method]
    offset_count = 14 if method in "45" else 17
    tokens = find_tokens(data, window_bits)
    w = BitWriter()
    for start in range(0, len(tokens), block_symbols):
        _write_block(w, tokens[start:start + block_symbols], offset_count, offset_bits)
    return w.finish()

# ------------------------------------------------------------ PMarc encoders
# Written from the format's description alone: -pm1- with one of its fixed
# literal trees, -pm2- with Huffman codes sent per stretch of output.

PM_LIST_START = bytes(list(range(0x20, 0x80)) + list(range(0x00, 0x20)) + list(range(0xA0, 0xE0)) +
                      list(range(0x80, 0xA0)) + list(range(0xE0, 0x100)))

class _ByteList:
    """The byte values, latest first: every byte output moves to the front."""
    def __init__(self):
        self.order = bytearray(PM_LIST_START)

    def position(self, b):
        return self.order.index(b)

    def output(self, b):
        self.order.remove(b)
        self.order.insert(0, b)


def _class_of(position, classes):
    for k, (base, bits) in enumerate(classes):
        if base <= position < base + (1 << bits):
            return k, position - base
    raise ValueError(position)


PM1_LITERAL_CLASSES = [(0, 4), (16, 4), (32, 5), (64, 6), (128, 6), (192, 6)]
# The 32 trees of -pm1-'s literal classes (code bits in read order, None for
# a class a tree cannot reach; the first of two codes is used).
PM1_TREES = [s.split() for s in (
    "0000 0001 001 01 10 11", "000 001 010 10 11 011", "000 001 01 10 110 111",
    "00 010 011 10 110 111", "00 010 10 011 110 111", "00 010 10 11 0110 0111",
    "00 01 100 101 110 111", "00 01 100 11 1010 1011", "00 01 10 110 1110 1111",
    "0 1000 101 110 111 1001", "0 1000 101 11 10010 10011", "0 1000 1001 101 110 111",
    "0 100 1010 110 111 1011", "0 100 101 110 1110 1111", "0 100 11 1010 10110 10111",
    "0 10 1100 1101 1110 1111", "0 10 110 1110 11110 11111", "- - 01 000 001 -",
    "00 010 10 11 011 -", "00 01 10 110 111 -", "0 1000 101 11 1001 -", "0 100 101 110 111 -",
    "0 100 11 1010 1011 -", "0 10 110 1110 1111 -", "000 001 01 1 - -", "00 010 1 011 - -",
    "00 01 10 11 - -", "0 100 11 101 - -", "0 10 110 111 - -", "0 10 11 - - -", "0 1 - - - -",
    ". - - - - -")]


def _put_code(w, code):
    for bit in code.strip("."):
        w.put(1, int(bit))


# -pm1-'s run lengths and copy counts: (fields, first value, extra bits).
PM1_RUNS = ([([(2, x)], x + 1, 0) for x in range(3)] + [([(2, 3), (3, x)], x + 4, 0) for x in range(7)] +
            [([(2, 3), (3, 7), (4, x)], x + 11, 0) for x in range(14)] +
            [([(2, 3), (3, 7), (4, 14)], 25, 6), ([(2, 3), (3, 7), (4, 15)], 89, 7)])
PM1_COUNTS = ([([(2, x)], x + 3, 0) for x in range(3)] + [([(2, 3), (3, x)], x + 6, 0) for x in range(5)] +
              [([(2, 3), (3, 5)], 11, 2), ([(2, 3), (3, 6)], 15, 3)] +
              [([(2, 3), (3, 7), (6, y)], y + 23, 0) for y in range(62)] +
              [([(2, 3), (3, 7), (6, 62)], 85, 5), ([(2, 3), (3, 7), (6, 63)], 117, 7)])


def _put_ladder(w, codes, n):
    fields, base, extra = next(c for c in codes if c[1] <= n < c[1] + (1 << c[2]))
    for width, value in fields:
        w.put(width, value)
    w.put(extra, n - base)


def _pm1_copy(w, pos, distance, count):
    """Writes one copy (from write position - 1 - distance) as -pm1- reads it
    at output position pos; False, writing nothing, when no type can say it."""
    def reach(base, most):  # distance bits: enough to reach the first byte
        bits = 8
        while bits < most and pos >= base + (1 << bits):
            bits += 1
        return bits
    if count == 2:
        r, base, bits = (0, 0, 6) if distance < 64 else (1, 64, 8)
    else:
        r, base, bits = ((2, 0, 6) if distance < 64 else (3, 64, reach(64, 9)) if distance < 576 else
                         (4, 576, reach(576, 11)) if distance < 2624 else (5, 2624, reach(2624, 13)))
    # The type's bits (threshold, value): each is sent once pos reaches its
    # threshold; before, it takes the first bit's value, which must fit.
    path = {0: [(0, 0), (576, 0), (64, 0)], 1: [(0, 0), (576, 0), (64, 1)], 4: [(0, 0), (576, 1)],
            3: [(0, 1), (64, 0)], 2: [(0, 1), (64, 1), (2624, 1)], 5: [(0, 1), (64, 1), (2624, 0)]}[r]
    if (distance >= pos or count > 244 or distance - base >= 1 << bits or
            any(pos < t and v != path[0][1] for t, v in path)):
        return False
    for t, v in path:
        if pos >= t:
            w.put(1, v)
    if r >= 2:
        _put_ladder(w, PM1_COUNTS, count)
    w.put(bits, distance - base)
    return True


def pm1_literals(selector, count, rnd):
    """Bytes whose literals land, one after the other, in random classes the
    selector's tree reaches."""
    order, out = _ByteList(), bytearray()
    reach = [k for k, code in enumerate(PM1_TREES[selector]) if code != "-"]
    for _ in range(count):
        base, bits = PM1_LITERAL_CLASSES[rnd.choice(reach)]
        out.append(order.order[base + rnd.randrange(1 << bits)])
        order.output(out[-1])
    return bytes(out)


def pm1_encode(data, selector=16, max_chain=64, copies=True):
    """-pm1- data: greedy copies wherever a copy type can say them (none
    without copies), literals in runs through the selector's tree. Raises
    ValueError for a literal in a class the tree cannot reach."""
    tree = PM1_TREES[selector]
    w = BitWriter()
    w.put(5, selector)
    order = _ByteList()
    pos = 0
    run = []

    def write_run():
        nonlocal pos
        w.put(1, 1)
        _put_ladder(w, PM1_RUNS, len(run))
        for b in run:
            k, extra = _class_of(order.position(b), PM1_LITERAL_CLASSES)
            if tree[k] == "-":
                raise ValueError(f"selector {selector} cannot code class {k}")
            _put_code(w, tree[k])
            w.put(PM1_LITERAL_CLASSES[k][1], extra)
            order.output(b)
            pos += 1
        run.clear()

    for t in find_tokens(data, 14, max_chain, min_match=2, max_match=244):
        at = pos + len(run)
        if copies and t[0] == "M" and _pm1_copy(BitWriter(), at, t[2] - 1, t[1]):
            # A run shorter than the longest is followed by its copy at once.
            if run:
                write_run()
            else:
                w.put(1, 0)
            _pm1_copy(w, pos, t[2] - 1, t[1])
            for b in data[pos:pos + t[1]]:
                order.output(b)
            pos += t[1]
            continue
        for b in (data[at:at + t[1]] if t[0] == "M" else bytes([t[1]])):
            run.append(b)
            if len(run) == 216:
                write_run()
    if run:
        write_run()
    return w.finish()

PM2_LITERAL_CLASSES = [(0, 3), (8, 3), (16, 4), (32, 5), (64, 5), (96, 5), (128, 6), (192, 6)]
PM2_LONG_COUNTS = [(17, 3), (25, 3), (33, 5), (65, 6), (129, 7)]  # copy classes 15..19


def _pm2_copy_fields(count, offset):
    """(class c, count bits, offset class t or None, offset bits) of a copy,
    or None when -pm2- cannot say it."""
    if count == 256 and offset == 0:
        return 20, None, None, None
    if count <= 16:
        c, cbits = count - 2, None
    else:
        c = next(15 + i for i, (base, bits) in enumerate(PM2_LONG_COUNTS) if count < base + (1 << bits))
        base, bits = PM2_LONG_COUNTS[c - 15]
        cbits = (bits, count - base)
    if c == 0:
        return (0, None, None, (6, offset)) if offset < 64 else None
    if offset < 64:
        return c, cbits, 0, (6, offset)
    t = offset.bit_length() - 6
    return c, cbits, t, (t + 5, offset - (1 << (t + 5)))


def _write_pm2_code(w, lengths):
    """The code tree: N, the floor M, the width B, then the lengths; a lone
    symbol as M = 0. True when copies then read offset classes."""
    used = [s for s, l in enumerate(lengths) if l]
    n = used[-1] + 1
    floor = 0 if len(used) == 1 else min(lengths[s] for s in used)
    w.put(5, n)
    w.put(3, floor)
    if floor:
        width = max(lengths[s] - floor + 1 for s in used).bit_length()
        w.put(3, width)
        for l in lengths[:n]:
            w.put(width, l - floor + 1 if l else 0)
    return n >= 10 and not (n == 29 and floor == 0)


# Complete codes: 29 symbols (3 of 4 bits, 26 of 5), and the offset classes
# as many as are sent at each point.
PM2_CODE = [4] * 3 + [5] * 26
PM2_OFFSET_CODES = {5: [2, 2, 2, 3, 3], 6: [2, 2, 3, 3, 3, 3], 7: [2] + [3] * 6, 8: [3] * 8}


def pm2_encode(data, lengths=PM2_CODE, new_trees=True, max_chain=64):
    """-pm2- data: greedy copies where the code has their class, literals
    otherwise (the code must have every literal class used). With new_trees
    the code tree is sent again, rotated, at every 8192 bytes, and a 0 bit
    says 'no new tree' at the other multiples of 4096."""
    n = len(data)
    w = BitWriter()
    w.put(1, 0)  # the bit the decoder passes over
    order = _ByteList()
    state = {"pos": 0, "offsets": _write_pm2_code(w, lengths)}

    def tree(p):
        k = (p // 8192 if new_trees else 0) % len(lengths)
        return lengths[k:] + lengths[:k]

    def classes(p):
        return 5 if p < 1024 else 6 if p < 2048 else 7 if p < 4096 else 8

    def send_offsets(k):
        if state["offsets"]:
            for l in PM2_OFFSET_CODES[k]:
                w.put(3, l)

    def put(s, p):
        lens = tree(p)
        if sum(1 for l in lens if l) > 1:
            w.put(lens[s], canonical_codes(lens)[s])

    def advance(chunk):
        """Outputs chunk, then what the decoder reads at each point reached."""
        for b in chunk:
            order.output(b)
            state["pos"] += 1
            count = state["pos"]
            if count >= n:
                continue
            if count in (1024, 2048):
                send_offsets(classes(count))
            elif count % 4096 == 0:
                new = new_trees and count % 8192 == 0
                w.put(1, int(new))
                if new:
                    state["offsets"] = _write_pm2_code(w, tree(count))
                if new or count == 4096:
                    send_offsets(8)
    send_offsets(5)
    for t in find_tokens(data, 13, max_chain, min_match=2, max_match=256):
        pos = state["pos"]
        f = _pm2_copy_fields(t[1], t[2] - 1) if t[0] == "M" else None
        lens = tree(pos)
        if (f is not None and 8 + f[0] < len(lens) and lens[8 + f[0]] and
                (f[2] is None or (state["offsets"] and f[2] < classes(pos)))):
            c, cbits, t_, obits = f
            put(8 + c, pos)
            if cbits:
                w.put(*cbits)
            if t_ is not None:
                codes = PM2_OFFSET_CODES[classes(pos)]
                w.put(codes[t_], canonical_codes(codes)[t_])
            if obits:
                w.put(*obits)
            advance(data[pos:pos + t[1]])
            continue
        for b in (data[pos:pos + t[1]] if t[0] == "M" else bytes([t[1]])):
            k, extra = _class_of(order.position(b), PM2_LITERAL_CLASSES)
            put(k, state["pos"])
            w.put(PM2_LITERAL_CLASSES[k][1], extra)
            advance([b])
    return w.finish()

# ---------------------------------------------------------- level-2 headers

DEFAULT_TIME = 1700000000  # 2023-11-14 22:13:20 UTC

def ext_record(ext_type, data):
    return bytes([ext_type]) + data

def member(name, data=b"", method="0", body=None, mtime=DEFAULT_TIME, attr=0x20,
           os_id=b"M", attr_record=None, crc=None, orig_size=None, dir_sep=b"\xff",
           extra_records=(), with_crc_record=True, dirname=None, packed_size=None,
           corrupt_header_crc=False):
    """One member: level-2 header (CRC record first) + body.

    name is bytes (CP932) or str, '/' separated and split into the file-name
    and directory records; a name ending in '/' with method 'd' is a
    directory entry. With dirname given (levels ended by 0xFF, as stored)
    name goes into the file-name record as it is, '/' and all.

    method is one character ('0', '4'..'7', 'd'), or a whole five-byte id
    such as b"-lh1-" that is written as given with data stored as is.
    body, crc, orig_size and packed_size replace what the header would
    otherwise say (the body, the data's CRC and the two sizes), for members
    that lie about themselves; corrupt_header_crc stores a wrong header CRC."""
    if isinstance(name, str):
        name = name.encode("cp932")
    method_id = method if isinstance(method, bytes) else b"-lh" + method.encode() + b"-"
    assert len(method_id) == 5
    if body is None:
        if isinstance(method, bytes) or method == "0":
            body = data
        else:
            body = b"" if method == "d" else compress(data, method)
    if dirname is None:
        parts = name.split(b"/")
        file_part = parts[-1]
        dir_part = b"".join(p + dir_sep for p in parts[:-1])
    else:
        file_part, dir_part = name, dirname
    records = []
    if with_crc_record:
        records.append(ext_record(0x00, b"\0\0"))
    if file_part:
        records.append(ext_record(0x01, file_part))
    if dir_part:
        records.append(ext_record(0x02, dir_part))
    if attr_record is not None:
        records.append(ext_record(0x40, struct.pack("<H", attr_record)))
    records.extend(extra_records)
    chain = b""
    for r in records:
        chain += struct.pack("<H", len(r) + 2) + r
    chain += b"\0\0"  # the last record's nextSize: end of the chain
    fixed_len = 24
    size = fixed_len + len(chain)
    header = bytearray(struct.pack(
        "<H5sIIIBBHB", size, method_id, len(body) if packed_size is None else packed_size,
        len(data) if orig_size is None else orig_size, mtime, attr, 2,
        crc16(data) if crc is None else crc, os_id[0]))
    header += chain
    assert len(header) == size
    if with_crc_record:
        # The CRC record's value sits right behind the first nextSize and type.
        pos = fixed_len + 2 + 1
        value = crc16(bytes(header)) ^ (0x0101 if corrupt_header_crc else 0)
        header[pos:pos + 2] = struct.pack("<H", value)
    return bytes(header) + body

def unix_records(mode=None, uid=None, gid=None, user=None, group=None, mtime=None):
    """The Unix records (0x50 mode, 0x51 gid and uid, 0x52 group, 0x53 user,
    0x54 time) for extra_records or level_member."""
    out = []
    if mode is not None:
        out.append(ext_record(0x50, struct.pack("<H", mode)))
    if uid is not None:
        out.append(ext_record(0x51, struct.pack("<HH", gid, uid)))
    if group is not None:
        out.append(ext_record(0x52, group))
    if user is not None:
        out.append(ext_record(0x53, user))
    if mtime is not None:
        out.append(ext_record(0x54, struct.pack("<I", mtime)))
    return out


def dos_time(seconds):
    """MS-DOS date and time fields (as one 32-bit value) of the UTC time."""
    import time
    t = time.gmtime(seconds)
    date = ((t.tm_year - 1980) << 9) | (t.tm_mon << 5) | t.tm_mday
    return (date << 16) | (t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec // 2)


def level_member(level, name, data=b"", method=b"-lh0-", body=None, mtime=DEFAULT_TIME,
                 records=(), os_id=b"U", attr=0x20, unix0=None, ext0=b""):
    """One member with a header of level 0, 1 or 3 (level 2: member()).

    name is bytes or str, '/' separated: levels 0 and 1 keep it in the base
    header ('\\' separated at level 0; at level 1 the directory goes into a
    0x02 record), level 3 into records. body replaces the data as stored
    (coded data), mtime is Unix time (written as MS-DOS fields at levels 0
    and 1), records are extra records (levels 1 and 3), unix0 a tuple
    (mode, uid, gid) for level 0's Unix extension, ext0 other bytes for
    level 0's extension area."""
    if isinstance(name, str):
        name = name.encode("cp932")
    body = data if body is None else body
    parts = name.split(b"/")
    file_part, dir_part = parts[-1], b"".join(p + b"\xff" for p in parts[:-1])
    stamp = dos_time(mtime) if level < 2 else mtime
    middle = struct.pack("<5sIIIBB", method, 0, len(data), stamp, attr, level)
    if level == 3:
        recs = [ext_record(0x00, b"\0\0"), ext_record(0x01, file_part)]
        if dir_part:
            recs.append(ext_record(0x02, dir_part))
        recs.extend(records)
        h = bytearray(struct.pack("<H", 4) + middle + struct.pack("<HBI", crc16(data), os_id[0], 0))
        h[7:11] = struct.pack("<I", len(body))
        for r in recs:
            h += struct.pack("<I", len(r) + 4) + r
        h += struct.pack("<I", 0)
        h[24:28] = struct.pack("<I", len(h))
        h[33:35] = struct.pack("<H", crc16(bytes(h)))  # the CRC record comes first
        return bytes(h) + body
    recs = []
    if level == 1:
        base_name = file_part
        if dir_part:
            recs.append(ext_record(0x02, dir_part))
        recs.extend(records)
        chain = b""
        for i, r in enumerate(recs):
            following = len(recs[i + 1]) + 2 if i + 1 < len(recs) else 0
            chain += r + struct.pack("<H", following)
        tail = struct.pack("<HBH", crc16(data), os_id[0], len(recs[0]) + 2 if recs else 0)
    else:
        base_name = name.replace(b"/", b"\\")
        chain = b""
        tail = struct.pack("<H", crc16(data))
        if unix0 is not None:
            mode, uid, gid = unix0
            tail += b"U\0" + struct.pack("<IHHH", mtime, mode, uid, gid)
        tail += ext0
    base = bytearray(middle + bytes([len(base_name)]) + base_name + tail)
    base[5:9] = struct.pack("<I", len(body) + len(chain))
    return bytes([len(base), sum(base) & 0xFF]) + bytes(base) + chain + body


ZEROS_BLOCK = 65535 * 256  # bytes of one block of 65535 longest matches


def zeros_body(blocks):
    """-lh5- data of 1 + blocks * ZEROS_BLOCK zero bytes in a few hundred
    bytes: a literal, then blocks whose one literal/length symbol (a 256-byte
    match) and one offset symbol (distance 1) take no bits at all."""
    w = BitWriter()

    def block(count, symbol):
        w.put(16, count)
        w.put(5, 0), w.put(5, 0)          # code-length code: single symbol 0
        w.put(9, 0), w.put(9, symbol)     # literal/length code: single symbol
        w.put(4, 0), w.put(4, 0)          # offset code: single symbol 0
    block(1, 0)
    for _ in range(blocks):
        block(65535, 256 + 256 - 3)
    return w.finish()


def archive(*members, end=b"\0"):
    return b"".join(members) + end


def link_member(level, name, target, mode=0o120777):
    """A Unix symbolic link: -lhd-, the link type in its mode, 'name|target'
    (at level 2 split at the last '/' into the directory and file name)."""
    whole = (name + "|" + target).encode()
    if level == 2:
        cut = whole.rfind(b"/") + 1
        return member(whole[cut:], method="d", os_id=b"U", dirname=whole[:cut].replace(b"/", b"\xff"),
                      extra_records=unix_records(mode=mode))
    return level_member(level, whole, method=b"-lhd-", unix0=(mode, 0, 0) if level == 0 else None,
                        records=unix_records(mode=mode) if level else ())


def macbinary(name, data, mtime=DEFAULT_TIME):
    """A Macintosh file with its 128-byte MacBinary header (no CRC, no
    resource fork) in front of the data fork, padded to 128 bytes."""
    h = bytearray(128)
    h[1] = len(name)
    h[2:2 + len(name)] = name
    h[65:73] = b"TEXTttxt"
    struct.pack_into(">II", h, 0x53, len(data), 0)
    struct.pack_into(">II", h, 0x5B, mtime + 2082844800, mtime + 2082844800)
    return bytes(h) + data + bytes(-len(data) % 128)


def pmarc_archive(*members):
    """PMarc's layout: level-0 members, a zero byte, 0x1A up to 128 bytes."""
    body = b"".join(members) + b"\0"
    return body + b"\x1a" * (-len(body) % 128)

def sfx(archive_bytes, title=b"", command=b"", offset=2048, flags=0):
    """A stand-in self-extractor: 'MZ', the configuration block at 512, the
    archive at offset. Only the layout matters to the host tool."""
    image = bytearray(offset)
    image[0:2] = b"MZ"
    config = struct.pack("<I41s41s256s259sBB", offset, title, b"", b"", command, flags, 0)
    assert len(config) == 603
    image[512:512 + 603] = config
    return bytes(image) + archive_bytes

# ------------------------------------------------- reading and stub images

def read_members(archive):
    """(name, method id, body) of each member, walking headers by their sizes;
    the name is the directory record (0xFF read as '/') and the file name."""
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

REAL_MODE_TEXT = ("このプログラムは Windows 32ﾋﾞｯﾄ版の LZH 自己解凍書庫です.\r\n"
                  "MS-DOS モードでは実行できません．\r\n$").encode("cp932")

def fake_stub(size=0x6234, lfanew=0x500, signature=b"MZ"):
    """A file laid out like the stub, for lzhsfx create to accept: DOS header
    pointing at 0x500, blank configuration block, real-mode text behind a
    short jump at 0x460, the PE signature at 0x500, filler bytes up to size."""
    image = bytearray(size)
    image[0:2] = signature
    struct.pack_into("<I", image, 0x3C, lfanew)
    image[0x460:0x462] = b"\xEB" + bytes([len(REAL_MODE_TEXT)])
    image[0x462:0x462 + len(REAL_MODE_TEXT)] = REAL_MODE_TEXT
    image[0x500:0x504] = b"PE\0\0"
    for i in range(0x600, size):
        image[i] = (i * 7 + 3) & 0xFF or 1
    return bytes(image)

# Offsets and sizes of the configuration block's fields inside the program file.
CONFIG = {"archiveOffset": (512, 4), "title": (516, 41), "prompt": (557, 41),
          "defaultDir": (598, 256), "command": (854, 259), "flags": (1113, 1),
          "restoreAttributes": (1114, 1)}

def read_config(image):
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

# ----------------------------------------------------------------- running

def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def write_tree(root, files, base_time):
    """Writes files (relative name -> bytes) under root in name order, the
    n-th with modification time base_time + 2 n (even, as DOS times keep
    them)."""
    for i, (name, data) in enumerate(sorted(files.items())):
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        write(path, data)
        os.utime(path, (base_time + 2 * i, base_time + 2 * i))


SIGNING_TOOLS = ("openssl", "osslsigncode")

def sign(exe, signed, work):
    """Signs exe into signed as a publisher would, with osslsigncode and a
    throwaway self-signed certificate made in work. The signature pads the
    file to a multiple of 8 bytes and appends the certificate table behind
    the archive's end."""
    key, cert = os.path.join(work, "sign-key.pem"), os.path.join(work, "sign-cert.pem")
    if not os.path.exists(cert):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=lzhsfx test signer", "-keyout", key, "-out", cert],
                       check=True, capture_output=True, timeout=60)
    if os.path.exists(signed):
        os.unlink(signed)  # osslsigncode will not write over a file
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                    "-n", "lzhsfx test", "-in", exe, "-out", signed],
                   check=True, capture_output=True, timeout=60)
    return signed


def run(cmd, cwd=None, env=None, stdin=subprocess.DEVNULL, timeout=10):
    """Runs under a hard timeout; a hang is a test failure, not a stall."""
    full_env = dict(os.environ)
    if env:
        full_env.update(env)
    try:
        p = subprocess.run(cmd, cwd=cwd, env=full_env, stdin=stdin, capture_output=True,
                           timeout=timeout)
    except subprocess.TimeoutExpired:
        raise AssertionError(f"hung (>{timeout}s): {cmd}")
    return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")

class Checker:
    """Collects failures so one run reports every broken case."""
    def __init__(self, name):
        self.name = name
        self.failures = 0
        self.checks = 0

    def check(self, ok, what):
        self.checks += 1
        if not ok:
            self.failures += 1
            print(f"FAIL: {what}", file=sys.stderr)
        return ok

    def done(self):
        print(f"{self.name}: {self.checks - self.failures}/{self.checks} checks passed")
        sys.exit(1 if self.failures or self.checks == 0 else 0)

def run_groups(checker, prefix, groups):
    """Runs each group of checks in a scratch directory of its own run; a
    group that breaks half-way is one more failure and the others still
    run. Ends with the checker's closing count."""
    tmp = tempfile.mkdtemp(prefix=prefix)
    atexit.register(shutil.rmtree, tmp, True)
    os.chdir(tmp)
    for group in groups:
        try:
            group()
        except Exception as e:  # noqa: BLE001
            checker.check(False, f"{group.__name__} broke off: {e!r}")
    checker.done()


def run_tty(cmd, answers=b"", cwd=None, timeout=10):
    """Runs with stdin/stdout/stderr on a pseudo-terminal, typing answers."""
    import pty
    import select
    import time
    master, slave = pty.openpty()
    p = subprocess.Popen(cmd, stdin=slave, stdout=slave, stderr=slave, cwd=cwd)
    os.close(slave)
    if answers:
        os.write(master, answers)
    out = b""
    deadline = time.time() + timeout
    while time.time() < deadline:
        ready, _, _ = select.select([master], [], [], 0.2)
        if ready:
            try:
                data = os.read(master, 4096)
            except OSError:
                break
            if not data:
                break
            out += data
        elif p.poll() is not None:
            break
    os.close(master)
    try:
        rc = p.wait(timeout=max(0.1, deadline - time.time()))
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()
        raise AssertionError(f"hung (>{timeout}s): {cmd}")
    return rc, out.decode("utf-8", "replace")

def stub_sfx(archive_bytes, title=b"", command=b"", offset=2048, flags=0):
    """sfx() on the image of fake_stub(): a self-extracting file that lzhsfx
    recognises as built from its stub (another program is no archive)."""
    image = bytearray(fake_stub(offset))
    image[512:512 + 603] = sfx(b"", title, command, offset, flags)[512:512 + 603]
    return bytes(image) + archive_bytes
