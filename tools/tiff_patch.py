"""Finding and patching the values of a TIFF/DNG file in memory, for damaged-input runs.

Only the directory tree is parsed (IFD0, its chain, SubIFDs and the EXIF directory); every tag is
kept as (directory, code, type, count, where its values lie), and patches write new values in place
of the old ones, in the file's byte order, without moving anything. Opcode lists (always
big-endian) are split into their opcodes so that a patch can reach one parameter.
"""

import struct

TYPE_SIZES = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 6: 1, 7: 1, 8: 2, 9: 4, 10: 8, 11: 4, 12: 8, 13: 4, 16: 8, 17: 8, 18: 8}
SUBIFDS, EXIF_IFD = 330, 34665

TAG_NAMES = {
    254: "NewSubFileType", 256: "ImageWidth", 257: "ImageLength", 258: "BitsPerSample", 259: "Compression",
    262: "Photometric", 273: "StripOffsets", 277: "SamplesPerPixel", 278: "RowsPerStrip",
    279: "StripByteCounts", 284: "PlanarConfiguration", 322: "TileWidth", 323: "TileLength",
    324: "TileOffsets", 325: "TileByteCounts", 330: "SubIFDs", 33421: "CFARepeatPatternDim",
    33422: "CFAPattern", 50706: "DNGVersion", 50707: "DNGBackwardVersion", 50708: "UniqueCameraModel",
    50710: "CFAPlaneColor", 50711: "CFALayout", 50712: "LinearizationTable", 50713: "BlackLevelRepeatDim",
    50714: "BlackLevel", 50715: "BlackLevelDeltaH", 50716: "BlackLevelDeltaV", 50717: "WhiteLevel",
    50718: "DefaultScale", 50719: "DefaultCropOrigin", 50720: "DefaultCropSize", 50721: "ColorMatrix1",
    50722: "ColorMatrix2", 50723: "CameraCalibration1", 50724: "CameraCalibration2",
    50725: "ReductionMatrix1", 50726: "ReductionMatrix2", 50727: "AnalogBalance",
    50728: "AsShotNeutral", 50729: "AsShotWhiteXY", 50730: "BaselineExposure", 50731: "BaselineNoise",
    50732: "BaselineSharpness", 50733: "BayerGreenSplit", 50734: "LinearResponseLimit",
    50778: "CalibrationIlluminant1", 50779: "CalibrationIlluminant2", 50780: "BestQualityScale",
    50781: "RawDataUniqueID", 50829: "ActiveArea", 50830: "MaskedAreas", 50964: "ForwardMatrix1",
    50965: "ForwardMatrix2", 51008: "OpcodeList1", 51009: "OpcodeList2", 51022: "OpcodeList3",
    51041: "NoiseProfile", 50932: "AsShotProfileName", 51111: "NewRawImageDigest", 50972: "RawImageDigest",
    50740: "DNGPrivateData", 50739: "ShadowScale", 51125: "DefaultUserCrop",
}


class Tag:
    def __init__(self, ifd, index, entry, code, typ, count, data):
        self.ifd = ifd          # index of its directory in File.ifds
        self.index = index      # entry number in the directory
        self.entry = entry      # offset of the 12-byte entry
        self.code = code
        self.type = typ
        self.count = count
        self.data = data        # offset of the values (inside the entry when they fit in 4 bytes)

    @property
    def name(self):
        return TAG_NAMES.get(self.code, str(self.code))

    @property
    def size(self):
        return TYPE_SIZES.get(self.type, 1) * self.count


class File:
    """A TIFF file's bytes with its directories; patches change self.bytes."""

    def __init__(self, data: bytes):
        self.bytes = bytearray(data)
        if self.bytes[:2] == b"II":
            self.order = "<"
        elif self.bytes[:2] == b"MM":
            self.order = ">"
        else:
            raise ValueError("no TIFF header")
        self.ifds = []      # (offset, kind) with kind "ifd0", "chain", "sub", "exif"
        self.tags = []
        seen = set()
        first = self.u32(4)
        pending = [(first, "ifd0")]
        while pending:
            off, kind = pending.pop(0)
            if off == 0 or off in seen or off + 2 > len(self.bytes) or len(self.ifds) > 64:
                continue
            seen.add(off)
            ifd = len(self.ifds)
            self.ifds.append((off, kind))
            n = self.u16(off)
            for i in range(n):
                e = off + 2 + 12 * i
                if e + 12 > len(self.bytes):
                    break
                code, typ, count = self.u16(e), self.u16(e + 2), self.u32(e + 4)
                size = TYPE_SIZES.get(typ, 1) * count
                data = e + 8 if size <= 4 else self.u32(e + 8)
                tag = Tag(ifd, i, e, code, typ, count, data)
                self.tags.append(tag)
                if code in (SUBIFDS, EXIF_IFD) and typ in (4, 13) and data + 4 * count <= len(self.bytes):
                    for k in range(min(count, 16)):
                        pending.append((self.u32(data + 4 * k), "exif" if code == EXIF_IFD else "sub"))
            nxt = off + 2 + 12 * n
            if nxt + 4 <= len(self.bytes) and kind in ("ifd0", "chain"):
                pending.append((self.u32(nxt), "chain"))

    # Plain numbers in the file's byte order.
    def u16(self, at):
        return struct.unpack_from(self.order + "H", self.bytes, at)[0]

    def u32(self, at):
        return struct.unpack_from(self.order + "I", self.bytes, at)[0]

    def put(self, fmt, at, *values):
        struct.pack_into(self.order + fmt, self.bytes, at, *values)

    def tag(self, code, ifd=None):
        """The first tag with this code (in directory `ifd` when given), or None."""
        for t in self.tags:
            if t.code == code and (ifd is None or t.ifd == ifd):
                return t
        return None

    def raw_ifd(self):
        """The directory of the main raw image: NewSubFileType 0 with CFA or LinearRaw photometric."""
        for i, _ in enumerate(self.ifds):
            sub = self.tag(254, i)
            phot = self.tag(262, i)
            if phot and self.value(phot, 0) in (32803, 34892) and (sub is None or self.value(sub, 0) == 0):
                return i
        return 0

    def in_file(self, tag):
        return 0 <= tag.data and tag.data + tag.size <= len(self.bytes)

    # Value k of a tag as a number (rationals as their quotient, or None for a zero denominator).
    def value(self, tag, k):
        at = tag.data + TYPE_SIZES.get(tag.type, 1) * k
        fmt = {1: "B", 2: "B", 3: "H", 4: "I", 6: "b", 7: "B", 8: "h", 9: "i", 11: "f", 12: "d", 13: "I",
               16: "Q", 17: "q", 18: "Q"}
        if tag.type in (5, 10):
            n, d = struct.unpack_from(self.order + ("II" if tag.type == 5 else "ii"), self.bytes, at)
            return None if d == 0 else n / d
        return struct.unpack_from(self.order + fmt[tag.type], self.bytes, at)[0]

    # Writes value k of a tag, converted to the tag's own type.
    def set_value(self, tag, k, v):
        at = tag.data + TYPE_SIZES.get(tag.type, 1) * k
        t = tag.type
        if t in (1, 7):
            self.put("B", at, int(v) & 0xFF)
        elif t == 6:
            self.put("b", at, max(-128, min(127, int(v))))
        elif t == 3:
            self.put("H", at, int(v) & 0xFFFF)
        elif t == 8:
            self.put("h", at, max(-32768, min(32767, int(v))))
        elif t in (4, 13):
            self.put("I", at, int(v) & 0xFFFFFFFF)
        elif t == 9:
            self.put("i", at, max(-2**31, min(2**31 - 1, int(v))))
        elif t == 11:
            self.put("f", at, float(v))
        elif t == 12:
            self.put("d", at, float(v))
        elif t in (5, 10):
            n, d = v if isinstance(v, tuple) else to_rational(v, signed=(t == 10))
            self.put("II" if t == 5 else "ii", at, n, d)
        else:
            self.put("B", at, int(v) & 0xFF)


def to_rational(v, signed):
    """A value as numerator and denominator that fit 32 bits (clamped), denominator 10000 or less."""
    lo, hi = (-2**31, 2**31 - 1) if signed else (0, 2**32 - 1)
    for d in (10000, 1000, 100, 10, 1):
        n = round(v * d)
        if lo <= n <= hi:
            return n, d
    return (hi if v > 0 else lo), 1


class Opcode:
    def __init__(self, at, id, version, flags, size):
        self.at = at            # offset of its 16-byte head
        self.id = id
        self.version = version
        self.flags = flags
        self.size = size

    @property
    def params(self):
        return self.at + 16


def opcodes(f: File, tag: Tag):
    """The opcodes of an OpcodeList tag (big-endian), as far as they lie inside the tag."""
    out = []
    if not f.in_file(tag) or tag.size < 4:
        return out
    end = tag.data + tag.size
    n = struct.unpack_from(">I", f.bytes, tag.data)[0]
    at = tag.data + 4
    for _ in range(min(n, 1024)):
        if at + 16 > end:
            break
        id, version, flags, size = struct.unpack_from(">IIII", f.bytes, at)
        out.append(Opcode(at, id, version, flags, size))
        at += 16 + size
        if at > end:
            break
    return out


def get_be(f: File, fmt, at):
    return struct.unpack_from(">" + fmt, f.bytes, at)[0]


def put_be(f: File, fmt, at, v):
    struct.pack_into(">" + fmt, f.bytes, at, v)


def warp_coefficient_at(op: Opcode, plane, k):
    """Offset of coefficient k (kr0..kr3, kt0, kt1 = 0..5) of a WarpRectilinear's set `plane`;
    k 6 and 7 are the centre's x and y."""
    if k >= 6:
        return None
    return op.params + 4 + 48 * plane + 8 * k


def warp_centre_at(f: File, op: Opcode, axis):
    n = get_be(f, "I", op.params)
    return op.params + 4 + 48 * n + 8 * axis


def put_opcode_list(f: File, tag: Tag, ops):
    """Replaces an OpcodeList tag's values by the opcodes given as (id, version, flags, params
    bytes), appended at the end of the file (the entry's count and offset point to them)."""
    data = struct.pack(">I", len(ops))
    for id, version, flags, params in ops:
        data += struct.pack(">IIII", id, version, flags, len(params)) + params
    if len(f.bytes) % 2:
        f.bytes.append(0)
    at = len(f.bytes)
    f.bytes += data
    f.put("II", tag.entry + 4, len(data), at)
    tag.count, tag.data = len(data), at
    return tag


def warp_params(id, sets, cx=0.5, cy=0.5, reciprocal=0):
    """Parameters of a lens warp (WarpRectilinear 1, WarpFisheye 2, WarpRectilinear2 14): N, the
    sets' doubles (6, 4 or 19 each), the centre, and for WarpRectilinear2 the reciprocal flag."""
    out = struct.pack(">I", len(sets))
    for s in sets:
        out += struct.pack(">%dd" % len(s), *s)
    out += struct.pack(">dd", cx, cy)
    if id == 14:
        out += struct.pack(">I", reciprocal)
    return out


def put_deltas(f: File, code, values, denominator=2):
    """Gives the main raw directory a BlackLevelDeltaH (50715) or BlackLevelDeltaV (50716) by taking
    over its BlackLevel entry (a black of 0 is the default, and the codes keep their order), the
    SRATIONAL values appended at the end of the file. Returns the new tag."""
    raw = f.raw_ifd()
    old = f.tag(50714, raw)
    if old is None:
        raise ValueError("no BlackLevel entry to take over")
    if len(f.bytes) % 2:
        f.bytes.append(0)
    at = len(f.bytes)
    for v in values:
        f.bytes += struct.pack(f.order + "ii", int(round(v * denominator)), denominator)
    f.put("HHII", old.entry, code, 10, len(values), at)
    tag = Tag(raw, old.index, old.entry, code, 10, len(values), at)
    f.tags[f.tags.index(old)] = tag
    return tag
