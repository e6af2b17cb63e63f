#!/usr/bin/env python3
"""A hostile-input campaign through vemra-render, by hand (not a test).

Makes a small file in each format the tool reads (movies in eight
containers, GIF, APNG, multi-page TIFF, PNG, OpenEXR, TIFF, DPX, JPEG),
mutates each into COUNT files (bytes flipped or set, 32-bit fields set to
edge values, cut short, ranges copied over others or inserted), runs each
through the tool (best the AddressSanitizer build) under a memory cap and a
time limit, and sorts the outcomes into classes: rendered, refused or
failed in one line, and everything that should never happen (a sanitizer
report, a signal, a time-out, more than one line on standard error, a
temporary or a partial output left behind). Prints the counts per format
and class, and keeps the odd cases in WORK/odd/.

  hostile_campaign.py TOOL EFFECT WORK [--count N] [--seed S] [--jobs J]
"""
import argparse
import collections
import concurrent.futures
import os
import random
import shutil
import struct
import subprocess
import sys

LSAN_SUPPRESSIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "render",
                                 "lsan.supp")
TESTSRC = ["-f", "lavfi", "-i", "testsrc2=size=32x24:rate=25", "-frames:v", "4", "-an"]

# name: (file name, how to make it)
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
    "png": ("seed.png", ["oiiotool", "--pattern", "checker:width=4:height=4", "32x24", "4",
                         "-d", "uint16"]),
    "exr": ("seed.exr", ["oiiotool", "--pattern", "fill:left=0,0,1,1:right=1,0,0,1", "32x24",
                         "4", "-d", "half"]),
    "tiff": ("seed.tif", ["oiiotool", "--pattern", "checker:width=4:height=4", "32x24", "3"]),
    "dpx": ("seed.dpx", ["oiiotool", "--pattern", "checker:width=4:height=4", "32x24", "3",
                         "-d", "uint16"]),
    "jpeg": ("seed.jpg", ["oiiotool", "--pattern", "checker:width=4:height=4", "32x24", "3"]),
}
MOVIES = {"mp4", "mov", "mkv", "avi", "webm", "nut", "ts", "mxf"}
EDGE_WORDS = [0, 1, 0x7F, 0xFF, 0x7FFF, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 10**9]


def make_seeds(folder):
    seeds = {}
    for name, (file_name, command) in SEEDS.items():
        path = os.path.join(folder, file_name)
        if command[0] == "ffmpeg":
            command = ["ffmpeg", "-v", "error", "-y", *command[1:], path]
        else:
            command = [*command, "-o", path]
        subprocess.run(command, check=True)
        seeds[name] = path
    pages = os.path.join(folder, "seed-pages.tif")
    subprocess.run(["oiiotool", seeds["tiff"], seeds["tiff"], "--ch", "R,G,B", seeds["tiff"],
                    "--siappendall", "-o", pages], check=True)
    seeds["tiff-pages"] = pages
    return seeds


def mutate(data, rng):
    data = bytearray(data)
    kind = rng.choice(["flip", "set", "word", "cut", "copy", "insert"])
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


def run_one(tool, effect, case_dir, input_path, output, memory_mb, seconds):
    reports = os.path.join(case_dir, "reports")
    out_dir = os.path.join(case_dir, "out")
    os.makedirs(reports)
    os.makedirs(out_dir)
    env = dict(os.environ)
    env["ASAN_OPTIONS"] = f"log_path={reports}/asan:hard_rss_limit_mb={memory_mb}"
    env["UBSAN_OPTIONS"] = f"log_path={reports}/ubsan"
    env["LSAN_OPTIONS"] = f"suppressions={LSAN_SUPPRESSIONS}:print_suppressions=0"
    command = [tool, "--plugin", effect, "--threads", "1", input_path, "-o",
               os.path.join(out_dir, output)]
    try:
        done = subprocess.run(command, env=env, capture_output=True, timeout=seconds)
        code, err = done.returncode, done.stderr.decode(errors="replace")
    except subprocess.TimeoutExpired:
        code, err = None, ""
    outputs = sorted(os.listdir(out_dir))
    found = sorted(os.listdir(reports))
    return classify(code, err, outputs, found, output), err, found


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
        return "rendered" if outputs else "exit 0, no output"
    if code not in (1, 2):
        return f"exit {code}"
    if lines != 1 or not err.startswith("vemra-render: error: "):
        return f"exit {code}, {lines} lines"
    whole = "%" not in output
    if whole and outputs:
        return f"exit {code}, output left"
    return "refused (2)" if code == 2 else "failed (1)"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("effect")
    parser.add_argument("work")
    parser.add_argument("--count", type=int, default=150)
    parser.add_argument("--seed", type=int, default=23)
    parser.add_argument("--jobs", type=int, default=1)
    parser.add_argument("--memory-mb", type=int, default=3072)
    parser.add_argument("--seconds", type=int, default=60)
    args = parser.parse_args()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(os.path.join(args.work, "seeds"))
    os.makedirs(os.path.join(args.work, "odd"))
    seeds = make_seeds(os.path.join(args.work, "seeds"))
    rng = random.Random(args.seed)
    cases = []
    for name, seed in seeds.items():
        data = open(seed, "rb").read()
        extension = os.path.splitext(seed)[1]
        for i in range(args.count):
            kind, mutated = mutate(data, rng)
            case_dir = os.path.join(args.work, "cases", f"{name}-{i:04d}")
            os.makedirs(case_dir)
            input_path = os.path.join(case_dir, "in" + extension)
            open(input_path, "wb").write(mutated)
            if i % 2 == 0:
                output = "o.%04d.png"
            elif name in MOVIES:
                output = "o.mkv"
            else:
                output = "o" + (extension if name not in ("gif", "apng") else ".png")
            cases.append((name, kind, case_dir, input_path, output))

    counts = collections.Counter()
    per_format = collections.defaultdict(collections.Counter)
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        futures = {pool.submit(run_one, args.tool, args.effect, c[2], c[3], c[4],
                               args.memory_mb, args.seconds): c for c in cases}
        for future in concurrent.futures.as_completed(futures):
            name, kind, case_dir, input_path, output = futures[future]
            outcome, err, reports = future.result()
            counts[outcome] += 1
            per_format[name][outcome] += 1
            if outcome not in ("rendered", "refused (2)", "failed (1)"):
                keep = os.path.join(args.work, "odd", os.path.basename(case_dir))
                shutil.copytree(case_dir, keep)
                open(os.path.join(keep, "outcome.txt"), "w").write(
                    f"{outcome}\nmutation: {kind}\noutput: {output}\nstderr:\n{err}\n")
            else:
                shutil.rmtree(case_dir)
    print(f"{len(cases)} files")
    for outcome, count in counts.most_common():
        print(f"  {outcome:28} {count}")
    for name in seeds:
        print(f"{name:11} " + ", ".join(f"{o}: {c}" for o, c in per_format[name].most_common()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
