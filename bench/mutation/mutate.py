#!/usr/bin/env python3
"""Damaged sources: makes N damaged copies of the test samples and converts each one.

Each copy is one sample with damage chosen by a seeded random generator (a few flipped
bytes, a burst of overwritten bytes, a file cut short, or a cut plus flips), so a run with
the same --seed repeats exactly and a single case can be replayed with --only. Every
copy is converted with a time limit; every --stop-every'th copy is converted larger (so it
takes a while) and gets "q" on its standard input after --stop-after seconds.

Prints the counts: converted, refused with an error, crashed (ended by a signal or an
abort), ran longer than 10x the sample's duration (killed at that limit), output longer
than the damaged source's real content + 2 s, and the longest time from a stop request to
the exit. The real content is what the damaged copy decodes to: its pictures at the
sample's frame rate, or its sound samples, whichever lasts longer; a header's stated
length does not count. Needs ffprobe (package ffmpeg) to measure the files.

    mutate.py --encoder BUILD/vidmora/make [--count 1000] [--seed 1] [--jobs 2]
    mutate.py --encoder ... --count 50 --check    # exits 1 on any crash or runaway
"""
import argparse
import concurrent.futures
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
SAMPLE_DIRS = [os.path.join(ROOT, "tests", "data", "encoder"), os.path.join(ROOT, "tests", "data", "media")]


def probe_duration(path):
    """The container's duration in seconds as ffprobe reads it, or None."""
    try:
        out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                              "default=nw=1:nk=1", path], capture_output=True, text=True, timeout=60).stdout
        return float(out.strip().splitlines()[0])
    except (ValueError, IndexError, subprocess.TimeoutExpired):
        return None


def frame_rate(path):
    """The first video stream's average frame rate as ffprobe reads it, or None."""
    try:
        out = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                              "stream=avg_frame_rate", "-of", "default=nw=1:nk=1", path],
                             capture_output=True, text=True, timeout=60).stdout
        num, den = out.strip().splitlines()[0].split("/")
        rate = float(num) / float(den)
        return rate if rate > 0 else None
    except (ValueError, IndexError, ZeroDivisionError, subprocess.TimeoutExpired):
        return None


def content_length(path, rate):
    """Seconds of picture and sound that path decodes to: its decoded pictures at `rate`
    (the undamaged sample's), or its decoded sound samples, whichever is longer."""
    def probe(args):
        return subprocess.run(["ffprobe", "-v", "error"] + args + ["-of", "csv=p=0", path],
                              capture_output=True, text=True, timeout=120).stdout
    try:
        sample_rate = probe(["-select_streams", "a:0", "-show_entries", "stream=sample_rate"]).strip()
        frames = probe(["-show_entries", "frame=media_type,nb_samples"])
    except subprocess.TimeoutExpired:
        return None
    try:
        sample_rate = float(sample_rate.splitlines()[0])
    except (ValueError, IndexError):
        sample_rate = 0
    pictures, samples = 0, 0
    for line in frames.splitlines():
        fields = line.split(",")
        if fields[0] == "video":
            pictures += 1
        elif fields[0] == "audio" and len(fields) >= 2 and fields[1].isdigit():
            samples += int(fields[1])
    return max(pictures / (rate or 25.0), samples / sample_rate if sample_rate > 0 else 0.0)


def samples():
    found = []
    for folder in SAMPLE_DIRS:
        for base, _, names in os.walk(folder):
            for name in sorted(names):
                path = os.path.join(base, name)
                if os.path.getsize(path) == 0:
                    continue
                duration = probe_duration(path)
                if duration and duration > 0:
                    found.append((path, duration, frame_rate(path)))
    return sorted(found)


def mutate(data, rng):
    """Returns (damaged bytes, description)."""
    data = bytearray(data)
    kind = rng.choice(["flip", "flip", "burst", "cut", "cut+flip"])
    what = []
    if kind.startswith("cut"):
        keep = int(len(data) * rng.uniform(0.2, 0.95))
        del data[keep:]
        what.append("cut at %d" % keep)
    if "flip" in kind:
        for _ in range(rng.randint(1, 8)):
            pos = rng.randrange(len(data))
            data[pos] ^= 1 << rng.randrange(8)
            what.append("flip %d" % pos)
    if kind == "burst":
        pos = rng.randrange(len(data))
        n = rng.randint(4, 64)
        for k in range(pos, min(len(data), pos + n)):
            data[k] = rng.randrange(256)
        what.append("burst %d+%d" % (pos, n))
    return bytes(data), ", ".join(what)


def convert(encoder, source, output, limit, stop_after=None, extra=()):
    """Runs one conversion. Returns a dict: status, seconds, stderr, stop_to_exit."""
    cmd = [encoder, "-y", "-ipt", source] + list(extra) + [output]
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    errors = []
    reader = threading.Thread(target=lambda: errors.append(proc.stderr.read()))
    reader.start()
    stop_sent = None
    killed = False
    while proc.poll() is None:
        now = time.monotonic()
        if stop_after is not None and stop_sent is None and now - start >= stop_after:
            try:
                proc.stdin.write(b"q")
                proc.stdin.flush()
            except OSError:
                pass
            stop_sent = time.monotonic()
        if now - start > limit:
            proc.kill()
            killed = True
            break
        try:
            proc.wait(timeout=0.02)
        except subprocess.TimeoutExpired:
            pass
    proc.wait()
    end = time.monotonic()
    reader.join()
    try:
        proc.stdin.close()
    except OSError:
        pass
    text = (errors[0] if errors else b"").decode("utf-8", "replace")
    return {"code": proc.returncode, "killed": killed, "seconds": end - start, "stderr": text,
            "stop_to_exit": (end - stop_sent) if stop_sent is not None else None}


def run_case(args, index, sample, work):
    path, duration, rate = sample
    rng = random.Random("%d/%d" % (args.seed, index))
    with open(path, "rb") as f:
        data, what = mutate(f.read(), rng)
    folder = tempfile.mkdtemp(prefix="case-%d-" % index, dir=work)
    source = os.path.join(folder, "damaged" + os.path.splitext(path)[1])
    with open(source, "wb") as f:
        f.write(data)
    output = os.path.join(folder, "out.mp4")
    stopping = args.stop_every > 0 and index % args.stop_every == args.stop_every - 1
    # Ten times the sample's own length, at least ten seconds, for the start-up too.
    limit = max(10.0, 10 * duration)
    result = convert(args.encoder, source, output, limit, args.stop_after if stopping else None,
                     ["-s", "1280x720"] if stopping else [])
    result.update(index=index, sample=os.path.relpath(path, ROOT), damage=what)
    code = result["code"]
    if result["killed"]:
        result["outcome"] = "runaway"
    elif code < 0 or code in (134, 139):
        result["outcome"] = "crashed"
    elif code != 0:
        result["outcome"] = "refused"
    else:
        result["outcome"] = "converted"
        # A conversion cut short by the stop leaves its file under the unfinished name.
        unfinished = [line[len("unfinished: "):] for line in result["stderr"].splitlines()
                      if line.startswith("unfinished: ")]
        if unfinished:
            output = unfinished[-1]
        length = probe_duration(output) if os.path.exists(output) else None
        content = content_length(source, rate)
        result["output"] = length
        result["content"] = content
        if length is None:
            result["outcome"] = "unreadable output"
        elif content is not None and length > content + 2.0:
            result["outcome"] = "too long"
    leftovers = [n for n in os.listdir(folder) if n.startswith(".")]
    if leftovers:
        result["leftovers"] = leftovers
    if not args.keep:
        shutil.rmtree(folder, ignore_errors=True)
    return result


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--encoder", required=True, help="path of the built encoder 'make'")
    ap.add_argument("--count", type=int, default=1000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--jobs", type=int, default=1)
    ap.add_argument("--stop-every", type=int, default=5, help="every Nth copy is stopped with q (0: none)")
    ap.add_argument("--stop-after", type=float, default=1.0, help="seconds before the q")
    ap.add_argument("--only", type=int, action="append", help="run only this case number (repeatable)")
    ap.add_argument("--keep", action="store_true", help="keep the damaged copies and outputs")
    ap.add_argument("--check", action="store_true",
                    help="exit 1 on a crash, a runaway, an unreadable or too long output, a leftover file")
    args = ap.parse_args()
    args.encoder = os.path.abspath(args.encoder)
    if not shutil.which("ffprobe"):
        sys.exit("ffprobe is needed (package ffmpeg)")

    pool = samples()
    if not pool:
        sys.exit("no samples found")
    work = tempfile.mkdtemp(prefix="vidmora-mutation-")
    indices = args.only or list(range(args.count))
    results = []
    started = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as ex:
        futures = [ex.submit(run_case, args, i, pool[i % len(pool)], work) for i in indices]
        for fut in concurrent.futures.as_completed(futures):
            results.append(fut.result())
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    else:
        print("kept in", work)

    results.sort(key=lambda r: r["index"])
    counts = {}
    for r in results:
        counts[r["outcome"]] = counts.get(r["outcome"], 0) + 1
    stops = [r["stop_to_exit"] for r in results if r["stop_to_exit"] is not None]
    slowest = max(results, key=lambda r: r["seconds"])
    leftovers = [r for r in results if r.get("leftovers")]
    print("damaged copies: %d of %d samples, seed %d, %.0f s" % (len(results), len(pool), args.seed,
                                                                 time.monotonic() - started))
    for name in ["converted", "refused", "crashed", "runaway", "too long", "unreadable output"]:
        print("  %-18s %d" % (name, counts.get(name, 0)))
    print("  %-18s %d" % ("left files behind", len(leftovers)))
    print("  longest conversion %.2f s (case %d, %s)" % (slowest["seconds"], slowest["index"], slowest["sample"]))
    if stops:
        print("  stops: %d, longest stop-to-exit %.2f s, median %.2f s" %
              (len(stops), max(stops), sorted(stops)[len(stops) // 2]))
    bad = [r for r in results if r["outcome"] in ("crashed", "runaway", "too long", "unreadable output")]
    for r in bad + leftovers:
        last = r["stderr"].strip().splitlines()[-1:] if r["stderr"].strip() else [""]
        print("case %d %s: %s [%s] code %s, %.1f s, output %s of content %s; %s" % (
            r["index"], r["outcome"], r["sample"], r["damage"], r["code"], r["seconds"], r.get("output"),
            r.get("content"), last[0][:160]))
    if args.check and (bad or leftovers):
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
