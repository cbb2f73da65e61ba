#!/usr/bin/env python3
"""Speed, size and memory of the console encoder against the Debian ffmpeg program.

Makes a 720p source with sound, converts it with both programs using the same settings
(H.264 at the codec's defaults, AAC at 128 kbit/s), alternating runs, and prints the
median wall time of each, their ratio (ours / theirs), both output sizes and both peak
memories. Needs the packages ffmpeg and time.

    bench_encoder.py --encoder BUILD/vidmora/make [--runs 5] [--seconds 20]
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time


def run_timed(cmd):
    """Runs cmd under /usr/bin/time -v; returns (wall seconds, peak RSS in MB, CPU seconds)."""
    start = time.monotonic()
    proc = subprocess.run(["/usr/bin/time", "-v"] + cmd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    wall = time.monotonic() - start
    if proc.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), proc.stderr[-2000:]))
    peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", proc.stderr)
    user = re.search(r"User time \(seconds\): ([\d.]+)", proc.stderr)
    system = re.search(r"System time \(seconds\): ([\d.]+)", proc.stderr)
    cpu = float(user.group(1)) + float(system.group(1)) if user and system else float("nan")
    return wall, int(peak.group(1)) / 1024.0 if peak else float("nan"), cpu


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--encoder", required=True, help="path of the built encoder 'make'")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--seconds", type=int, default=20)
    ap.add_argument("--keep", help="folder to keep the files in (default: a temporary one)")
    args = ap.parse_args()

    work = args.keep or tempfile.mkdtemp(prefix="vidmora-bench-")
    os.makedirs(work, exist_ok=True)
    src = os.path.join(work, "source-720p.mp4")
    if not os.path.exists(src):
        # Moving test pattern with grain, so the encoder has real work, and a tone.
        subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-nostdin",
                        "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=%d" % args.seconds,
                        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=%d" % args.seconds,
                        "-vf", "noise=alls=3:allf=t", "-c:v", "libx264", "-preset", "veryfast", "-crf", "18",
                        "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "192k", "-ac", "2", src], check=True)

    ours_out = os.path.join(work, "ours.mp4")
    theirs_out = os.path.join(work, "theirs.mp4")
    ours_cmd = [args.encoder, "-y", "-ipt", src, ours_out]
    theirs_cmd = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-i", src,
                  "-map", "0:v:0", "-map", "0:a:0", "-c:v", "libx264", "-pix_fmt", "yuv420p",
                  "-c:a", "aac", "-b:a", "128k", theirs_out]

    ours, theirs = [], []
    for i in range(args.runs):
        # Alternate which goes first so that drifting machine load hits both alike.
        order = [(ours_cmd, ours), (theirs_cmd, theirs)]
        if i % 2:
            order.reverse()
        for cmd, results in order:
            results.append(run_timed(cmd))
        print("run %d: ours %.2f s (cpu %.1f s), ffmpeg %.2f s (cpu %.1f s)"
              % (i + 1, ours[-1][0], ours[-1][2], theirs[-1][0], theirs[-1][2]), flush=True)

    ow = statistics.median(r[0] for r in ours)
    tw = statistics.median(r[0] for r in theirs)
    om = statistics.median(r[1] for r in ours)
    tm = statistics.median(r[1] for r in theirs)
    oc = statistics.median(r[2] for r in ours)
    tc = statistics.median(r[2] for r in theirs)
    # Each pair ran back to back under much the same load: the median of the pairs' ratios
    # is steadier than the ratio of the medians on a shared machine.
    pair_ratio = statistics.median(o[0] / t[0] for o, t in zip(ours, theirs))
    osz = os.path.getsize(ours_out)
    tsz = os.path.getsize(theirs_out)
    print()
    print("source:         %s (%d s, 1280x720, 25 fps, AAC stereo)" % (src, args.seconds))
    print("median wall:    ours %.2f s, ffmpeg %.2f s" % (ow, tw))
    print("wall ratio:     %.3f (ours / ffmpeg, median of paired runs; aim <= 1.00)" % pair_ratio)
    print("ratio of medians: %.3f" % (ow / tw))
    print("median CPU:     ours %.1f s, ffmpeg %.1f s" % (oc, tc))
    print("output size:    ours %d bytes, ffmpeg %d bytes (%+.2f %%, aim within 5 %%)"
          % (osz, tsz, (osz - tsz) * 100.0 / tsz))
    print("peak memory:    ours %.1f MB, ffmpeg %.1f MB (median; aim: ours no higher)" % (om, tm))


if __name__ == "__main__":
    main()
