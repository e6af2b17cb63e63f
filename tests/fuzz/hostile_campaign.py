#!/usr/bin/env python3
"""A hostile-input campaign through vemra-render, by hand (not a test).

Makes a small file (32 x 24 pixels) for every reader the tool takes inputs
through: the image library's readers (OpenEXR, TIFF and a multi-page and a
tiled TIFF, JPEG, PNG, DPX, BMP, FITS, GIF, HEIF, HDR, ICO, IFF, JPEG 2000,
PNM, RLA, SGI, Targa, WebP, zfile, and DDS and PSD written by hand), the
movie stages (movies in eight containers, GIF, APNG), and files named as the
image library's FFmpeg reader would take them (a movie, a concat list and an
HLS playlist named .3gp, .qt, .m4a). Each seed is mutated into COUNT files:
bytes flipped or set, 32-bit fields set to edge values, every place that
holds the image's width or height (in either byte order, 16 or 32 bits, or
as text) set to a large size, cut short, ranges copied over others or
inserted. Each runs through the tool (best the AddressSanitizer build)
under a memory cap, a time limit and a small --max-pixels, and its outcome
is sorted into classes: rendered, refused or failed in one line, and
everything that should never happen (a sanitizer report, a signal, a
time-out, anything but notes and one error line, last, on standard error;
a library's own words
("unknown error", a C++ name), a temporary or a partial output left
behind). Prints the counts per class and per format, each format's peak
memory, and keeps the odd cases in WORK/odd/.

  hostile_campaign.py TOOL EFFECT WORK [--count N] [--seed S] [--jobs J]
                      [--memory-mb M] [--max-pixels P] [--only NAME,...]

With an AddressSanitizer build the cap is its hard_rss_limit_mb (a case
above it dies with a report); otherwise it is an address-space limit.
"""
import argparse
import collections
import concurrent.futures
import os
import random
import re
import resource
import shutil
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LSAN_SUPPRESSIONS = os.path.join(HERE, "..", "render", "lsan.supp")
MULTIPAGE = os.path.join(HERE, "..", "..", "bench", "multipage_tiff.py")
WIDTH, HEIGHT = 32, 24
TESTSRC = ["-f", "lavfi", "-i", f"testsrc2=size={WIDTH}x{HEIGHT}:rate=25", "-frames:v", "4",
           "-an"]
PATTERN = ["--pattern", "checker:width=4:height=4", f"{WIDTH}x{HEIGHT}"]

# name: (file name, how to make it); "oiiotool" commands get "-o PATH".
SEEDS = {
    "mp4": ("seed.mp4", ["ffmpeg", *TESTSRC, "-c:v", "libx264", "-preset", "ultrafast"]),
    "mov": ("seed.mov", ["ffmpeg", *TESTSRC, "-c:v", "prores_ks", "-profile:v", "4444"]),
    "mkv": ("seed.mkv", ["ffmpeg", *TESTSRC, "-c:v", "ffv1"]),
    "avi": ("seed.avi", ["ffmpeg", *TESTSRC, "-c:v", "mjpeg"]),
    "webm": ("seed.webm", ["ffmpeg", *TESTSRC, "-c:v", "libvpx-vp9", "-b:v", "100k"]),
    "nut": ("seed.nut", ["ffmpeg", *TESTSRC, "-c:v", "ffv1"]),
    "ts": ("seed.ts", ["ffmpeg", *TESTSRC, "-c:v", "mpeg2video"]),
    "mxf": ("seed.mxf", ["ffmpeg", *TESTSRC, "-c:v", "mpeg2video"]),
    "gif": ("seed.gif", ["ffmpeg", *TESTSRC]),
    "apng": ("seed-anim.png", ["ffmpeg", *TESTSRC, "-f", "apng"]),
    "png": ("seed.png", ["oiiotool", *PATTERN, "4", "-d", "uint16"]),
    "exr": ("seed.exr", ["oiiotool", *PATTERN, "4", "-d", "half"]),
    "exr-tiled": ("seed-tiled.exr", ["oiiotool", *PATTERN, "4", "-d", "half", "--tile", "16",
                                     "16"]),
    "tiff": ("seed.tif", ["oiiotool", *PATTERN, "3"]),
    "tiff-tiled": ("seed-tiled.tif", ["oiiotool", *PATTERN, "3", "--tile", "16", "16"]),
    "dpx": ("seed.dpx", ["oiiotool", *PATTERN, "3", "-d", "uint16"]),
    "jpeg": ("seed.jpg", ["oiiotool", *PATTERN, "3"]),
    "bmp": ("seed.bmp", ["oiiotool", *PATTERN, "3"]),
    "fits": ("seed.fits", ["oiiotool", *PATTERN, "3"]),
    "heif": ("seed.heic", ["oiiotool", *PATTERN, "3"]),
    "hdr": ("seed.hdr", ["oiiotool", *PATTERN, "3"]),
    "ico": ("seed.ico", ["oiiotool", *PATTERN, "4"]),
    "iff": ("seed.iff", ["oiiotool", *PATTERN, "4"]),
    "jpeg2000": ("seed.jp2", ["oiiotool", *PATTERN, "3"]),
    "pnm": ("seed.ppm", ["oiiotool", *PATTERN, "3"]),
    "rla": ("seed.rla", ["oiiotool", *PATTERN, "4"]),
    "sgi": ("seed.sgi", ["oiiotool", *PATTERN, "4"]),
    "targa": ("seed.tga", ["oiiotool", *PATTERN, "4"]),
    "webp": ("seed.webp", ["oiiotool", *PATTERN, "4"]),
    "zfile": ("seed.zfile", ["oiiotool", *PATTERN, "1", "-d", "float"]),
}
MOVIES = {"mp4", "mov", "mkv", "avi", "webm", "nut", "ts", "mxf", "movie.3gp", "movie.qt"}
EDGE_WORDS = [0, 1, 0x7F, 0xFF, 0x7FFF, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 10**9]
LARGE_SIZES = [30000, 46341, 65535, 65536, 0x7FFFFFFF, 0xFFFFFFFF]
# Words of a library or of C++ that a message must never show.
RAW_WORDS = re.compile(r"unknown error|std::|bad_alloc|_M_|basic_string|vector::|"
                       r"patches welcome|Invalid argument$")


def dds(width, height):
    """An uncompressed 32-bit BGRA DDS file."""
    pixel_format = struct.pack("<8I", 32, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000)
    header = struct.pack("<7I", 124, 0x100F, height, width, width * 4, 0, 1)
    header += b"\0" * 44 + pixel_format + struct.pack("<5I", 0x1000, 0, 0, 0, 0)
    pixels = bytes((x * 8 + y) & 0xFF for y in range(height) for x in range(width * 4))
    return b"DDS " + header + pixels


def psd(width, height):
    """A flat 8-bit RGB Photoshop file, its channels raw."""
    header = b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, height, width, 8, 3)
    sections = struct.pack(">III", 0, 0, 0)  # colour mode data, resources, layers
    planes = b"".join(bytes(((x + y) * (c + 1)) & 0xFF for y in range(height)
                            for x in range(width)) for c in range(3))
    return header + sections + struct.pack(">H", 0) + planes


def make_seeds(folder):
    seeds = {}
    for name, (file_name, command) in SEEDS.items():
        path = os.path.join(folder, file_name)
        if command[0] == "ffmpeg":
            command = ["ffmpeg", "-v", "error", "-y", *command[1:], path]
        else:
            command = [*command, "-o", path]
        if subprocess.run(command, capture_output=True).returncode == 0:
            seeds[name] = path
        else:
            print(f"no seed for {name}: {' '.join(command)}", file=sys.stderr)
    for name, data in (("dds", dds(WIDTH, HEIGHT)), ("psd", psd(WIDTH, HEIGHT))):
        seeds[name] = os.path.join(folder, "seed." + name)
        open(seeds[name], "wb").write(data)
    seeds["tiff-pages"] = os.path.join(folder, "seed-pages.tif")
    subprocess.run([sys.executable, MULTIPAGE, "6", seeds["tiff-pages"], "--size", "8"],
                   check=True)
    # Named as the image library's FFmpeg reader takes files: a movie, and
    # lists that lead to other files (the movie seeds, by absolute path).
    ts = os.path.abspath(seeds["ts"])
    playlist = f"#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:1,\n{ts}\n#EXT-X-ENDLIST\n"
    for name, data in (("concat.3gp", f"ffconcat version 1.0\nfile '{ts}'\n"),
                       ("hls.m4a", playlist), ("hls.qt", playlist)):
        seeds[name] = os.path.join(folder, "seed-" + name)
        open(seeds[name], "w").write(data)
    for name in ("movie.3gp", "movie.qt"):
        seeds[name] = os.path.join(folder, "seed-" + name)
        shutil.copy(seeds["mp4"], seeds[name])
    return seeds


def size_places(data):
    """(offset, length, encoding) of every place in the first 4 KiB that holds
    the seed's width or height as a 16- or 32-bit number or as text."""
    head = bytes(data[:4096])
    places = []
    for value in (WIDTH, HEIGHT):
        for form in ("<H", ">H", "<I", ">I"):
            packed = struct.pack(form, value)
            places += [(m.start(), len(packed), form)
                       for m in re.finditer(re.escape(packed), head)]
        places += [(m.start(), m.end() - m.start(), "text")
                   for m in re.finditer(rb"(?<![0-9])%d(?![0-9])" % value, head)]
    return places


def mutate(data, rng):
    data = bytearray(data)
    kind = rng.choice(["flip", "set", "word", "size", "size", "cut", "copy", "insert"])
    if kind == "flip":
        for _ in range(rng.randint(1, 8)):
            data[rng.randrange(len(data))] ^= 1 << rng.randrange(8)
    elif kind == "set":
        for _ in range(rng.randint(1, 4)):
            data[rng.randrange(len(data))] = rng.choice([0, 0xFF, 0x7F, 0x80])
    elif kind == "word":
        # An edge value in a header field: most of the files' sizes and
        # counts sit in their first kilobyte.
        at = rng.randrange(0, max(1, min(len(data), 1024) - 4))
        data[at:at + 4] = struct.pack(rng.choice([">I", "<I"]), rng.choice(EDGE_WORDS))
    elif kind == "size":
        # The declared size made large where the seed states it: some of the
        # places hit are other numbers of the same value, as an attacker's
        # would be.
        places = size_places(data)
        if not places:
            return mutate(bytes(data), rng)
        large = rng.choice(LARGE_SIZES)
        for at, length, form in sorted(rng.sample(places, rng.randint(1, min(3, len(places)))),
                                       reverse=True):
            if form == "text":
                data[at:at + length] = b"%d" % large
            else:
                data[at:at + length] = struct.pack(form, large % (1 << (8 * length)))
    elif kind == "cut":
        data = data[:rng.randrange(1, len(data))]
    elif kind == "copy":
        start = rng.randrange(len(data))
        piece = data[start:start + rng.randint(1, 256)]
        at = rng.randrange(len(data))
        data[at:at + len(piece)] = piece
    else:
        at = rng.randrange(len(data))
        data[at:at] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 64)))
    return kind, bytes(data)


def run_one(args, case_dir, input_path, output):
    reports = os.path.join(case_dir, "reports")
    out_dir = os.path.join(case_dir, "out")
    os.makedirs(reports)
    os.makedirs(out_dir)
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = (f"log_path={reports}/asan:hard_rss_limit_mb={args.memory_mb}:"
                           "quarantine_size_mb=64")
    env["UBSAN_OPTIONS"] = f"log_path={reports}/ubsan"
    env["LSAN_OPTIONS"] = f"suppressions={LSAN_SUPPRESSIONS}:print_suppressions=0"

    def limit():
        if not args.asan:
            cap = args.memory_mb << 20
            resource.setrlimit(resource.RLIMIT_AS, (cap, cap))

    command = [args.tool, "--plugin", args.effect, "--threads", "1", "--max-pixels",
               str(args.max_pixels), input_path, "-o", os.path.join(out_dir, output)]
    err_path = os.path.join(case_dir, "stderr")
    with open(err_path, "wb") as err_file:
        process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                   stderr=err_file, preexec_fn=limit)
        deadline = time.monotonic() + args.seconds
        code = usage = None
        while code is None and time.monotonic() < deadline:
            pid, status, usage = os.wait4(process.pid, os.WNOHANG)
            if pid != 0:
                code = os.waitstatus_to_exitcode(status)
            else:
                time.sleep(0.02)
        if code is None:
            process.kill()
            _, _, usage = os.wait4(process.pid, 0)
    err = open(err_path, "rb").read().decode(errors="replace")
    peak_mb = usage.ru_maxrss / 1024
    outputs = sorted(os.listdir(out_dir))
    found = sorted(os.listdir(reports))
    return classify(code, err, outputs, found, output), err, peak_mb


def classify(code, err, outputs, reports, output):
    lines = err.count("\n")
    if reports:
        return "sanitizer report"
    if code is None:
        return "time-out"
    if code < 0:
        return f"signal {-code}"
    if any(name.startswith(".") for name in outputs):
        return "temporary left"
    if code == 0:
        if lines > 0 and not all(l.startswith("vemra-render: ") for l in err.splitlines()):
            return "exit 0, stray output"
        return "rendered" if outputs else "exit 0, no output"
    if code not in (1, 2):
        return f"exit {code}"
    # One error line, last; the notes before it are lines of their own.
    messages = err.splitlines()
    errors = [m for m in messages if m.startswith("vemra-render: error: ")]
    notes = [m for m in messages if m.startswith("vemra-render: note: ")]
    if len(errors) != 1 or messages[-1] != errors[0] or len(notes) + 1 != len(messages):
        return f"exit {code}, {lines} lines"
    if RAW_WORDS.search(err):
        return f"exit {code}, a library's words"
    whole = "%" not in output
    if whole and outputs:
        return f"exit {code}, output left"
    return "refused (2)" if code == 2 else "failed (1)"


def output_for(name, extension, i):
    if i % 2 == 0:
        return "o.%04d.png"
    if name in MOVIES:
        return "o.mkv"
    if name in ("gif", "apng") or extension not in (".png", ".exr", ".tif", ".jpg", ".dpx"):
        return "o.png"
    return "o" + extension


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("effect")
    parser.add_argument("work")
    parser.add_argument("--count", type=int, default=40)
    parser.add_argument("--seed", type=int, default=23)
    parser.add_argument("--jobs", type=int, default=1)
    parser.add_argument("--memory-mb", type=int, default=2048)
    parser.add_argument("--max-pixels", type=int, default=2048 * 2048)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--only", default="")
    args = parser.parse_args()
    args.asan = b"__asan_init" in open(args.tool, "rb").read()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(os.path.join(args.work, "seeds"))
    os.makedirs(os.path.join(args.work, "odd"))
    seeds = make_seeds(os.path.join(args.work, "seeds"))
    if args.only:
        seeds = {k: v for k, v in seeds.items() if k in args.only.split(",")}
    rng = random.Random(args.seed)
    cases = []
    for name, seed in seeds.items():
        data = open(seed, "rb").read()
        extension = os.path.splitext(seed)[1]
        for i in range(args.count):
            kind, mutated = mutate(data, rng) if i > 0 else ("none", data)
            case_dir = os.path.join(args.work, "cases", f"{name}-{i:04d}")
            os.makedirs(case_dir)
            input_path = os.path.join(case_dir, "in" + extension)
            open(input_path, "wb").write(mutated)
            cases.append((name, kind, case_dir, input_path, output_for(name, extension, i)))

    counts = collections.Counter()
    per_format = collections.defaultdict(collections.Counter)
    peaks = collections.defaultdict(float)
    started = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        futures = {pool.submit(run_one, args, c[2], c[3], c[4]): c for c in cases}
        for future in concurrent.futures.as_completed(futures):
            name, kind, case_dir, input_path, output = futures[future]
            outcome, err, peak_mb = future.result()
            counts[outcome] += 1
            per_format[name][outcome] += 1
            peaks[name] = max(peaks[name], peak_mb)
            if outcome not in ("rendered", "refused (2)", "failed (1)"):
                keep = os.path.join(args.work, "odd", os.path.basename(case_dir))
                shutil.copytree(case_dir, keep)
                open(os.path.join(keep, "outcome.txt"), "w").write(
                    f"{outcome}\nmutation: {kind}\noutput: {output}\npeak: {peak_mb:.0f} MB\n"
                    f"stderr:\n{err}\n")
            shutil.rmtree(case_dir)
    print(f"{len(cases)} files, {len(seeds)} seeds, {time.monotonic() - started:.0f} s, "
          f"--max-pixels {args.max_pixels}, cap {args.memory_mb} MB")
    for outcome, count in counts.most_common():
        print(f"  {outcome:32} {count}")
    for name in seeds:
        print(f"{name:11} peak {peaks[name]:6.0f} MB  " +
              ", ".join(f"{o}: {c}" for o, c in per_format[name].most_common()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
