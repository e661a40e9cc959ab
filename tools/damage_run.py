#!/usr/bin/env python3
"""Damaged-input run: converts many damaged copies of the sample photos and checks every outcome.

Each copy is a sample with one to three of its values changed in place (integers, rationals,
floats, opcode bytes, lens-warp coefficients, a lens warp of any of the three kinds, sound or
damaged, in place of the sample's, geometry, scales, colour tags, black and white
levels, added black-level deltas, a few directory bytes, a cut). Every copy is converted once by
the headless converter (bench/convert_bench, a Release build), the method turning with the copy
number and a third of the runs at half size. A run passes when:
  - the converter ends within the time limit, without a signal or a sanitizer report, and does not
    answer with the program's "that's a bug" message;
  - the copy it read is byte for byte what it was given;
  - the output folder holds the written file and nothing else, or nothing at all, and nothing is
    left beside the copy;
  - a written file is accepted by the reference DNG validator (exit 0, no "*** Error" line).
Copies live under --work (default /tmp); the samples are only read. Failing runs keep their copy,
output and logs under WORK/failures/. The figures end the run; WORK/runs.jsonl has one line per
copy.

  tools/damage_run.py --bench build/helperA-rel/bench/convert_bench --copies 10000 --jobs 5
"""

import argparse
import hashlib
import json
import math
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

sys.dont_write_bytecode = True  # no __pycache__ in the checkout
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tiff_patch as tp  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Samples and how often each is picked: the photos that convert, often; the ones refused whole
# (monochrome, unknown camera, no DNG, cut short), and the large one, now and then.
SAMPLES = {
    "m9-16bit-rggb.dng": 12, "m9-8bit-squarelaw.dng": 10, "d800-3000x2000.dng": 10, "5d3-2400x1600.dng": 10,
    "sony-a7s-bggr.dng": 10, "leica-t-warp.dng": 24, "leica-m240-jpegpreview.dng": 10, "d200-grbg.dng": 10,
    "d800-fullsize.dng": 1, "m9-mono-linearraw.dng": 1, "canon-7d-unsupported.dng": 1, "not-a-dng.tif": 1,
    "d800-truncated.dng": 1,
}
METHODS = 6

GEOMETRY = {256, 257, 278, 322, 323, 50718, 50719, 50720, 50780, 50829, 50830, 33421, 51125}
COLOUR = {50721, 50722, 50723, 50724, 50725, 50726, 50727, 50728, 50729, 50964, 50965, 33422, 50710, 50778, 50779,
          50730, 50731, 50732, 50733, 50734}
LEVELS = {50713, 50714, 50715, 50716, 50717, 50712}
OPCODES = {51008, 51009, 51022}
STRUCTURE = {254, 258, 259, 262, 273, 277, 279, 284, 324, 325, 330}


def interesting_int(rnd, old):
    return rnd.choice([
        0, 1, 2, 3, 4, 7, 8, 15, 16, 255, 256, 4095, 4096, 16383, 16384, 32767, 32768, 65535, 65536,
        2**31 - 1, 2**31, 2**32 - 1, old + 1, max(0, old - 1), old * 2, old // 2, old * 3 + 1,
        rnd.randrange(0, 2**16), rnd.randrange(0, 2**32)])


def interesting_real(rnd, old):
    old = 1.0 if old is None else old
    return rnd.choice([
        0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 1e-9, -1e-9, 1e-300, 1e20, -1e20, old * rnd.uniform(-3, 3),
        old + rnd.uniform(-1, 1), old * 1.0001, -old, float("inf"), float("nan"), rnd.uniform(-100, 100)])


def scalar_tags(f, codes=None, types=None):
    return [t for t in f.tags if f.in_file(t) and t.count >= 1 and (codes is None or t.code in codes)
            and (types is None or t.type in types)]


def main_tags(f, rnd):
    """Tags for a change anywhere: those of the raw directory and IFD0 (where the conversion reads)
    most of the time, any directory's now and then."""
    if rnd.random() < 0.75:
        keep = {f.raw_ifd(), 0}
        return [t for t in scalar_tags(f) if t.ifd in keep]
    return scalar_tags(f)


def pick_value(rnd, tags, types):
    """One value (tag, index among its first 256) of a tag of one of these TIFF types, or None."""
    tags = [t for t in tags if t.type in types]
    if not tags:
        return None
    t = rnd.choice(tags)
    return t, rnd.randrange(min(t.count, 256))


def change_integer(f, rnd, tags):
    picked = pick_value(rnd, tags, (1, 3, 4, 6, 8, 9, 13))
    if not picked:
        return None
    t, k = picked
    old = f.value(t, k)
    new = interesting_int(rnd, int(old))
    f.set_value(t, k, new)
    return "%s[%d] %s -> %s" % (t.name, k, old, new)


def change_rational(f, rnd, tags):
    picked = pick_value(rnd, tags, (5, 10))
    if not picked:
        return None
    t, k = picked
    at = t.data + 8 * k
    signed = t.type == 10
    n, d = struct.unpack_from(f.order + ("ii" if signed else "II"), f.bytes, at)
    choice = rnd.randrange(6)
    if choice == 0:
        n, d = n, 0
    elif choice == 1:
        n = interesting_int(rnd, abs(n))
    elif choice == 2:
        d = interesting_int(rnd, abs(d))
    elif choice == 3:
        x = interesting_real(rnd, None if d == 0 else n / d)
        if math.isfinite(x):
            n, d = tp.to_rational(x, signed)
    elif choice == 4:
        n = -n if signed else n ^ 0x80000000
    else:
        n, d = rnd.randrange(-2**31, 2**31) if signed else rnd.randrange(0, 2**32), rnd.randrange(1, 2**16)
    if signed:
        n = max(-2**31, min(2**31 - 1, n))
        d = max(-2**31, min(2**31 - 1, d))
    else:
        n &= 0xFFFFFFFF
        d &= 0xFFFFFFFF
    struct.pack_into(f.order + ("ii" if signed else "II"), f.bytes, at, n, d)
    return "%s[%d] -> %d/%d" % (t.name, k, n, d)


def change_real(f, rnd, tags):
    picked = pick_value(rnd, tags, (11, 12))
    if not picked:
        return None
    t, k = picked
    new = interesting_real(rnd, f.value(t, k))
    f.set_value(t, k, new)
    return "%s[%d] -> %r" % (t.name, k, new)


def change_opcode(f, rnd):
    lists = [t for t in scalar_tags(f, OPCODES) if tp.opcodes(f, t)]
    if not lists:
        return None
    t = rnd.choice(lists)
    op = rnd.choice(tp.opcodes(f, t))
    what = rnd.randrange(6)
    if what == 0:
        new = rnd.choice([0, 1, 2, 3, 13, 14, 15, 99, 2**31, op.id + 1])
        tp.put_be(f, "I", op.at, new)
        return "%s opcode id %d -> %d" % (t.name, op.id, new)
    if what == 1:
        new = rnd.choice([0, 1, 2, 3, 0xFFFFFFFF])
        tp.put_be(f, "I", op.at + 8, new)
        return "%s opcode %d flags -> %d" % (t.name, op.id, new)
    if what == 2:
        new = rnd.choice([0, op.size - 1, op.size + 1, op.size + 8, 2**31])
        tp.put_be(f, "I", op.at + 12, new & 0xFFFFFFFF)
        return "%s opcode %d size -> %d" % (t.name, op.id, new)
    if what == 3 and op.size >= 8:
        at = min(op.params + 8 * rnd.randrange(op.size // 8), op.params + op.size - 8)
        new = interesting_real(rnd, tp.get_be(f, "d", at))
        tp.put_be(f, "d", at, new)
        return "%s opcode %d double at +%d -> %r" % (t.name, op.id, at - op.params, new)
    if op.size == 0:
        return None
    at = op.params + rnd.randrange(op.size)
    new = rnd.randrange(256)
    f.bytes[at] = new
    return "%s opcode %d byte +%d -> %d" % (t.name, op.id, at - op.params, new)


def change_warp(f, rnd):
    t = f.tag(51022)
    ops = [op for op in tp.opcodes(f, t) if op.id == 1] if t else []
    if not ops:
        return None
    op = ops[0]
    n = tp.get_be(f, "I", op.params)
    if not 1 <= n <= 4 or op.size != 4 + 48 * n + 16:
        return None
    plane = rnd.randrange(n)
    if rnd.random() < 0.2:
        # A mapping f = r - k r^3 that turns back before the corner (from k = 1/3 on), in one set
        # or in all: readers refuse it or not by the image's size and tiles.
        k = rnd.uniform(0.34, 0.97)
        planes = [plane] if rnd.random() < 0.4 else list(range(n))
        for p in planes:
            for i, v in enumerate((1.0, -k, 0.0, 0.0)):
                tp.put_be(f, "d", tp.warp_coefficient_at(op, p, i), v)
        return "warp turning back, k %r in plane(s) %s" % (k, planes)
    if rnd.random() < 0.15:
        axis = rnd.randrange(2)
        at = tp.warp_centre_at(f, op, axis)
        new = rnd.choice([0.0, 1.0, rnd.random(), -0.01, 1.01, 0.5])
        tp.put_be(f, "d", at, new)
        return "warp centre %s -> %r" % ("xy"[axis], new)
    k = rnd.randrange(6)
    at = tp.warp_coefficient_at(op, plane, k)
    old = tp.get_be(f, "d", at)
    if k < 4:
        new = rnd.choice([0.0, -1.95, rnd.uniform(-2, 2), rnd.uniform(-1, 1), rnd.uniform(-0.5, 0.5),
                          old + rnd.uniform(-0.3, 0.3), old * rnd.uniform(0, 2), rnd.uniform(0, 0.05),
                          1e-3, 2.5, -old, 1.0])
    else:
        new = rnd.choice([0.0, rnd.uniform(-0.05, 0.05), rnd.uniform(-0.5, 0.5), rnd.uniform(-2, 2)])
    tp.put_be(f, "d", at, new)
    return "warp plane %d k%d %r -> %r" % (plane, k, old, new)


def lens_set(kind, kr, kt=(0.0, 0.0), radii=(0.0, 1.0)):
    """One coefficient set of a lens warp of `kind` (1, 2 or 14) from its radial terms."""
    kr = list(kr)
    if kind == 1:
        return (kr + [0.0] * 4)[:4] + list(kt)
    if kind == 2:
        return (kr + [0.0] * 4)[:4]
    return (kr + [0.0] * 15)[:15] + list(kt) + list(radii)


def change_lens(f, rnd):
    """OpcodeList3 replaced by one lens warp of any of the three kinds, sound (what lenses need:
    outward or inward a few percent to a third, tangential terms, a fisheye's unwrap, an optical
    centre off the middle) or damaged (folded, shrunk far, turning back, zoomed out of the image,
    held radii, a reciprocal model crossing zero), with one set or three (the middle one for the
    one-plane file)."""
    t = f.tag(51022, f.raw_ifd())
    if t is None or not f.in_file(t):
        return None
    kind = rnd.choice([1, 2, 14])
    sound = rnd.random() < 0.5
    reciprocal = 0
    cx, cy = 0.5, 0.5
    radii = (0.0, 1.0)
    kt = (0.0, 0.0)
    if sound:
        if kind == 2:
            kr = rnd.choice([[1.0], [1.0, rnd.uniform(-0.15, 0.3)], [rnd.uniform(0.9, 1.3), rnd.uniform(-0.2, 0.2),
                                                                   rnd.uniform(-0.05, 0.05)]])
        else:
            a = rnd.uniform(-0.15, 0.15)
            kr = rnd.choice([[1.0, a], [1.0 - a, a], [1.0 + abs(a), -abs(a)], [rnd.uniform(1.0, 1.1)],
                             [1.32, -0.2, -0.1, -0.02], [1.0, 0.0, -0.03, 0.0, 0.004]])
            if kind == 1 and len(kr) > 4:
                kr = [1.0, -0.03, 0.004]
            if rnd.random() < 0.3:
                kt = (rnd.uniform(-0.03, 0.03), rnd.uniform(-0.03, 0.03))
        if rnd.random() < 0.3:
            cx, cy = rnd.uniform(0.0, 1.0), rnd.uniform(0.0, 1.0)
    else:
        k = rnd.uniform(0.0, 2.0)
        kr = rnd.choice([[-k], [k * 0.05], [1.0, -k], [1.0, 0.0, -k], [1.0, 0.0, 0.0, -k * 2], [1.0 + k],
                         [1.0, k * 3], [rnd.uniform(-3, 3), rnd.uniform(-3, 3), rnd.uniform(-3, 3)], [1e-3], [1e6]])
        if rnd.random() < 0.2:
            kt = (rnd.uniform(-1, 1), rnd.uniform(-1, 1))
        if kind == 14 and rnd.random() < 0.3:
            radii = rnd.choice([(0.0, rnd.uniform(0.1, 1.0)), (rnd.uniform(0.0, 0.9), 1.0), (0.5, 0.5)])
        if kind == 14 and rnd.random() < 0.2:
            reciprocal = 1
        if rnd.random() < 0.2:
            cx, cy = rnd.choice([0.0, 1.0, rnd.random()]), rnd.choice([0.0, 1.0, rnd.random()])
    main = lens_set(kind, kr, kt, radii)
    sets = [main]
    if rnd.random() < 0.6:
        # Red and blue a little apart from green, as lenses' lateral colour is.
        d = rnd.choice([0.0, 0.0004, 0.002, 0.05])
        sets = [[main[0] + d] + main[1:], main, [main[0] - d] + main[1:]]
    version = 0x01060000 if kind == 14 else 0x01030000
    tp.put_opcode_list(f, t, [(kind, version, 0, tp.warp_params(kind, sets, cx, cy, reciprocal))])
    return "%s %s lens warp %s, kr %s, kt %s, centre (%.3g, %.3g)%s%s" % (
        "sound" if sound else "damaged", {1: "WarpRectilinear", 2: "WarpFisheye", 14: "WarpRectilinear2"}[kind],
        "of 3 sets" if len(sets) == 3 else "of 1 set", ["%.4g" % v for v in kr], ["%.3g" % v for v in kt], cx, cy,
        ", radii %r" % (radii,) if kind == 14 else "", ", reciprocal" if reciprocal else "")


def change_levels(f, rnd):
    raw = f.raw_ifd()
    choice = rnd.randrange(4)
    if choice == 0 and f.tag(50714, raw) is not None:
        # Black level deltas for every active row or column (the count readers need), mostly
        # small, sometimes one far out.
        code = rnd.choice([50715, 50716])
        area = f.tag(50829, raw)
        width = f.value(f.tag(256, raw), 0)
        height = f.value(f.tag(257, raw), 0)
        if area is not None and area.count == 4:
            top, left, bottom, right = (f.value(area, i) for i in range(4))
            width, height = right - left, bottom - top
        count = width if code == 50715 else height
        if not 0 < count <= 20000:
            return None
        spread = rnd.choice([0.5, 2.0, 20.0, 200.0])
        values = [rnd.uniform(-spread, spread) for _ in range(count)]
        for _ in range(rnd.choice([0, 1, 1, 3])):
            values[rnd.randrange(count)] = rnd.choice([
                -2684357.5, -65535.0, -65535.5, 65535.0, 65536.0, -1e6, 1e6, rnd.uniform(-70000, 70000),
                rnd.uniform(-20000, 20000)])
        if rnd.random() < 0.1:
            count += rnd.choice([-1, 1])
            values = values[:count] if count < len(values) else values + [0.0]
        tp.put_deltas(f, code, values, denominator=rnd.choice([1, 2, 100]))
        return "%s: %d values, spread %g, extremes %r" % (
            tp.TAG_NAMES[code], len(values), spread, sorted(values)[:1] + sorted(values)[-1:])
    tags = scalar_tags(f, LEVELS)
    if not tags:
        return None
    if choice == 1:
        return change_integer(f, rnd, tags) or change_rational(f, rnd, tags)
    if choice == 2:
        return change_rational(f, rnd, tags) or change_integer(f, rnd, tags)
    # The white level close to the black level.
    white = f.tag(50717, raw)
    if white is None:
        return None
    black = f.tag(50714, raw)
    b = f.value(black, 0) if black is not None else 0
    b = 0 if b is None else b
    new = int(b + rnd.choice([0, 1, 255, 511, 512, 513, 1000, 65535]))
    f.set_value(white, 0, new)
    return "WhiteLevel -> %d (black %s)" % (new, b)


def flip_bytes(f, rnd):
    """A few bytes of one directory entry (tag, type, count or value/offset)."""
    tags = [t for t in f.tags if t.code not in (273, 279, 324, 325)] or f.tags
    t = rnd.choice(tags)
    changed = []
    for _ in range(rnd.randrange(1, 4)):
        at = t.entry + rnd.randrange(12)
        f.bytes[at] = rnd.randrange(256)
        changed.append(at - t.entry)
    return "entry of %s bytes %s changed" % (t.name, changed)


def cut(f, rnd):
    keep = int(len(f.bytes) * rnd.uniform(0.05, 0.999))
    del f.bytes[keep:]
    return "cut to %d bytes" % keep


def mutate(f, rnd, only=None):
    kinds = [
        ("integer", 14, lambda: change_integer(f, rnd, main_tags(f, rnd))),
        ("rational", 12, lambda: change_rational(f, rnd, main_tags(f, rnd))),
        ("real", 3, lambda: change_real(f, rnd, main_tags(f, rnd))),
        ("geometry", 12, lambda: change_integer(f, rnd, [t for t in scalar_tags(f, GEOMETRY) if t.ifd == f.raw_ifd()])
         or change_rational(f, rnd, scalar_tags(f, GEOMETRY))),
        ("scale", 5, lambda: change_rational(f, rnd, scalar_tags(f, {50718, 50780}))),
        ("colour", 12, lambda: change_rational(f, rnd, scalar_tags(f, COLOUR))
         or change_integer(f, rnd, scalar_tags(f, COLOUR))),
        ("levels", 16, lambda: change_levels(f, rnd)),
        ("opcode", 6, lambda: change_opcode(f, rnd)),
        ("warp", 16, lambda: change_warp(f, rnd)),
        ("lens", 16, lambda: change_lens(f, rnd)),
        ("structure", 4, lambda: change_integer(f, rnd, scalar_tags(f, STRUCTURE))),
        ("entry bytes", 3, lambda: flip_bytes(f, rnd)),
        ("cut", 1, lambda: cut(f, rnd)),
    ]
    if only:
        kinds = [k for k in kinds if k[0] in only]
    done = []
    for _ in range(rnd.choice([1, 1, 1, 2, 2, 3])):
        for _attempt in range(8):
            name, _, fn = rnd.choices(kinds, weights=[w for _, w, _ in kinds])[0]
            try:
                what = fn()
            except (struct.error, IndexError, ValueError, OverflowError, TypeError, ZeroDivisionError):
                what = None
            if what:
                done.append("%s: %s" % (name, what))
                break
    return done


class Run:
    def __init__(self, args):
        self.args = args
        self.samples = {}
        for name in SAMPLES:
            path = os.path.join(args.samples, name)
            if os.path.exists(path):
                with open(path, "rb") as fh:
                    self.samples[name] = fh.read()
        if not self.samples:
            sys.exit("no samples in " + args.samples)
        if args.sample:
            self.samples = {args.sample: self.samples[args.sample]}
        self.names = list(self.samples)
        self.weights = [SAMPLES[n] for n in self.names]
        self.lock = threading.Lock()
        self.counts = {}
        self.reasons = {}  # the damage named, numbers left out
        self.lens = {}  # copies with a lens warp put in: readers' verdict on the photo, and ours
        self.done = 0
        os.makedirs(os.path.join(args.work, "jobs"), exist_ok=True)
        os.makedirs(os.path.join(args.work, "failures"), exist_ok=True)
        self.log = open(os.path.join(args.work, "runs.jsonl"), "a")

    def one(self, index):
        rnd = random.Random("%d-%d" % (self.args.seed, index))
        name = rnd.choices(self.names, weights=self.weights)[0]
        data = self.samples[name]
        mutations = []
        for _ in range(4):
            try:
                f = tp.File(data)
            except ValueError:
                break
            mutations = mutate(f, rnd, self.args.only)
            if mutations and bytes(f.bytes) != data:
                data = bytes(f.bytes)
                break
        method = index % METHODS
        half = (index // METHODS) % 3 == 2
        job = os.path.join(self.args.work, "jobs", str(index))
        shutil.rmtree(job, ignore_errors=True)
        out = os.path.join(job, "out")
        os.makedirs(out)
        source = os.path.join(job, os.path.splitext(name)[0] + "-d%d" % index + os.path.splitext(name)[1])
        with open(source, "wb") as fh:
            fh.write(data)
        digest = hashlib.sha256(data).hexdigest()
        cmd = [self.args.bench, source, out, "--method", str(method)] + (["--half"] if half else [])
        env = dict(os.environ, VELLORAY_THREADS="1", ASAN_OPTIONS="detect_leaks=1:abort_on_error=1",
                   UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1")
        record = {"index": index, "sample": name, "method": method, "half": half, "mutations": mutations}
        started = time.time()
        try:
            proc = subprocess.run(cmd, capture_output=True, text=True, errors="replace", timeout=self.args.timeout,
                                  env=env)
            rc, stdout, stderr = proc.returncode, proc.stdout, proc.stderr
        except subprocess.TimeoutExpired as e:
            rc, stdout, stderr = None, (e.stdout or b"").decode(errors="replace") if isinstance(e.stdout, bytes) \
                else (e.stdout or ""), "timeout"
        record["seconds"] = round(time.time() - started, 3)
        faults = []
        with open(source, "rb") as fh:
            if hashlib.sha256(fh.read()).hexdigest() != digest:
                faults.append("source changed")
        if rc is None:
            faults.append("timeout")
        elif rc < 0 or rc >= 128:
            faults.append("signal/exit %d" % rc)
        elif rc not in (0, 1):
            faults.append("exit %d" % rc)
        if "Sanitizer" in stderr or "runtime error:" in stderr:
            faults.append("sanitizer report")
        # Each message with all its lines (the converter prints a message's text as it is; the
        # timed status lines and the closing "result" line are not part of one).
        messages, inside = [], False
        for line in stdout.splitlines():
            if line.startswith("message: "):
                messages.append(line)
                inside = True
            elif line.startswith("result "):
                break
            elif re.match(r"^ +[0-9.]+ s  ", line):
                inside = False
            elif inside and line.strip():
                messages[-1] += " " + line.strip()
        if any("that's a bug" in m for m in messages) or "Whoa" in stdout:
            faults.append("bug message")
        written_path = stdout.strip().splitlines()[-1] if rc == 0 and stdout.strip() else ""
        left = sorted(os.listdir(out))
        expected = [os.path.basename(written_path)] if written_path else []
        if left != expected:
            faults.append("output folder holds %s, expected %s" % (left, expected))
        beside = sorted(set(os.listdir(job)) - {os.path.basename(source), "out"})
        if beside:
            faults.append("left beside the source: %s" % beside)
        outcome = None
        if written_path and os.path.exists(written_path):
            v = subprocess.run([self.args.validator, written_path], capture_output=True, text=True, errors="replace",
                               timeout=self.args.timeout)
            errors = [l for l in (v.stdout + v.stderr).splitlines() if l.startswith("*** Error")]
            if v.returncode == 0 and not errors:
                outcome = "written, validator accepts"
            else:
                outcome = "written, VALIDATOR REFUSES"
                record["validator"] = errors or ["exit %d" % v.returncode]
        elif any("[Damaged file]" in m for m in messages):
            outcome = "refused as damaged"
        elif "result 100006" in stdout and not messages:
            outcome = "not a DNG"
        elif messages:
            outcome = "refused: " + messages[0][len("message: "):].split("]")[0].strip("[")
        else:
            outcome = "not written, no message"
        if any(m.startswith("lens: ") for m in mutations):
            # Whether readers render the photo itself, to tell a sound lens correction refused from
            # a damaged one.
            v = subprocess.run([self.args.validator, source], capture_output=True, text=True, errors="replace",
                               timeout=self.args.timeout)
            record["lens source taken by readers"] = v.returncode == 0 and not any(
                l.startswith("*** Error") for l in (v.stdout + v.stderr).splitlines())
        if faults:
            outcome = "PROGRAM FAULT"
            record["faults"] = faults
        record["outcome"] = outcome
        if messages:
            record["message"] = " ".join(messages)[:600]
        if outcome in ("PROGRAM FAULT", "written, VALIDATOR REFUSES", "not written, no message"):
            record["stdout"] = stdout[-3000:]
            record["stderr"] = stderr[-6000:]
            keep = os.path.join(self.args.work, "failures", "%d" % index)
            shutil.rmtree(keep, ignore_errors=True)
            shutil.move(job, keep)
            with open(os.path.join(keep, "record.json"), "w") as fh:
                json.dump(record, fh, indent=1)
        else:
            shutil.rmtree(job, ignore_errors=True)
        with self.lock:
            if "lens source taken by readers" in record:
                key = "lens, readers %s the photo: %s" % (
                    "take" if record["lens source taken by readers"] else "refuse", outcome)
                self.lens[key] = self.lens.get(key, 0) + 1
            self.counts[outcome] = self.counts.get(outcome, 0) + 1
            if outcome == "refused as damaged":
                reason = messages[0].split("converted:", 1)[-1].replace("main raw image: ", "").strip()
                reason = re.sub(r"-?[0-9][0-9.e+-]*", "#", reason)[:90]
                self.reasons[reason] = self.reasons.get(reason, 0) + 1
            self.done += 1
            self.log.write(json.dumps(record) + "\n")
            self.log.flush()
            if self.done % 250 == 0:
                print("%6d copies: %s" % (self.done, self.summary_line()), flush=True)
        return record

    def summary_line(self):
        return ", ".join("%s %d" % (k, v) for k, v in sorted(self.counts.items()))


def sample_digests(folder):
    out = {}
    for name in SAMPLES:
        path = os.path.join(folder, name)
        if os.path.exists(path):
            with open(path, "rb") as fh:
                out[name] = hashlib.sha256(fh.read()).hexdigest()
    return out


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--bench", required=True, help="the convert_bench program (Release build)")
    p.add_argument("--samples", default=os.path.join(ROOT, "..", "shared", "samples"))
    p.add_argument("--validator", default=os.path.join(ROOT, "..", "shared", "tools", "dng_validate"))
    p.add_argument("--copies", type=int, default=10000)
    p.add_argument("--first", type=int, default=0, help="number of the first copy (copies are reproducible)")
    p.add_argument("--jobs", type=int, default=5)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--timeout", type=float, default=180.0)
    p.add_argument("--work", default="/tmp/velloray-damage-run")
    p.add_argument("--only", nargs="+", metavar="KIND", help="only these kinds of change (integer, rational, real, "
                   "geometry, scale, colour, levels, opcode, warp, lens, structure, entry bytes, cut)")
    p.add_argument("--sample", help="only this sample")
    args = p.parse_args()
    for tool in (args.bench, args.validator):
        if not os.access(tool, os.X_OK):
            sys.exit(tool + " is not there")
    before = sample_digests(args.samples)
    run = Run(args)
    started = time.time()
    with ThreadPoolExecutor(args.jobs) as pool:
        list(pool.map(run.one, range(args.first, args.first + args.copies)))
    after = sample_digests(args.samples)
    print("copies %d in %.0f s (%d jobs)" % (run.done, time.time() - started, args.jobs))
    for k, v in sorted(run.counts.items()):
        print("  %-34s %6d" % (k, v))
    print("lens warps put in (a photo readers take and we refuse is looked at in runs.jsonl: readers may")
    print("still refuse the one-plane file made from it, at full or half size):")
    for k, v in sorted(run.lens.items()):
        print("  %-70s %6d" % (k, v))
    print("damage named most often:")
    for reason, n in sorted(run.reasons.items(), key=lambda kv: -kv[1])[:20]:
        print("  %6d  %s" % (n, reason))
    written = sum(v for k, v in run.counts.items() if k.startswith("written"))
    refused = run.counts.get("written, VALIDATOR REFUSES", 0)
    faults = run.counts.get("PROGRAM FAULT", 0)
    print("written %d, validator refused %d, program faults %d, samples unchanged: %s" % (
        written, refused, faults, "yes" if before == after else "NO"))
    print("details: %s (failures kept in %s)" % (
        os.path.join(args.work, "runs.jsonl"), os.path.join(args.work, "failures")))
    return 1 if refused or faults or before != after else 0


if __name__ == "__main__":
    sys.exit(main())
