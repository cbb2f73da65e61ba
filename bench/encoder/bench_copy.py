#!/usr/bin/env python3
"""Conversion without re-encoding against re-encoding, both by our console encoder.

Makes a 720p H.264/AAC recording in MKV (with B-frames, as cameras and recorders write
it), then alternately copies its streams into MP4 (-vcodec copy -acodec copy) and
re-encodes it at the encoder's defaults (H.264, AAC 128 kbit/s). Prints the median wall
and CPU time of each, the speed-up (re-encode / copy; aim: at least 50) and the sizes.
Needs the packages ffmpeg (to make the source) and time.

    bench_copy.py --encoder BUILD/vidmora/make [--runs 3] [--seconds 20] [--format mkv|ts|flv]
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile


def run_timed(cmd):
    """Runs cmd under /usr/bin/time; returns (wall seconds, CPU seconds)."""
    proc = subprocess.run(["/usr/bin/time", "-f", "%e %U %S"] + cmd, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if proc.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), proc.stderr[-2000:]))
    wall, user, system = (float(x) for x in proc.stderr.strip().splitlines()[-1].split())
    return wall, user + system


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--encoder", required=True, help="path of the built encoder 'make'")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--seconds", type=int, default=20)
    ap.add_argument("--format", default="mkv", choices=["mkv", "ts", "flv"])
    ap.add_argument("--keep", help="folder to keep the files in (default: a temporary one)")
    args = ap.parse_args()

    work = args.keep or tempfile.mkdtemp(prefix="vidmora-bench-copy-")
    os.makedirs(work, exist_ok=True)
    src = os.path.join(work, "source-720p-%ds.%s" % (args.seconds, args.format))
    if not os.path.exists(src):
        subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-nostdin",
                        "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=%d" % args.seconds,
                        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=%d" % args.seconds,
                        "-vf", "noise=alls=3:allf=t", "-c:v", "libx264", "-preset", "veryfast", "-crf", "20",
                        "-bf", "3", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "160k", "-ac", "2", src],
                       check=True)

    copy_out = os.path.join(work, "copy.mp4")
    encode_out = os.path.join(work, "encode.mp4")
    copy_cmd = [args.encoder, "-y", "-ipt", src, "-vcodec", "copy", "-acodec", "copy", copy_out]
    encode_cmd = [args.encoder, "-y", "-ipt", src, encode_out]

    copies, encodes = [], []
    for i in range(args.runs):
        # Alternate which goes first so that drifting machine load hits both alike.
        order = [(copy_cmd, copies), (encode_cmd, encodes)]
        if i % 2:
            order.reverse()
        for cmd, results in order:
            results.append(run_timed(cmd))
        print("run %d: copy %.3f s (cpu %.3f s), re-encode %.2f s (cpu %.1f s)"
              % (i + 1, copies[-1][0], copies[-1][1], encodes[-1][0], encodes[-1][1]), flush=True)

    cw = statistics.median(r[0] for r in copies)
    ew = statistics.median(r[0] for r in encodes)
    cc = statistics.median(r[1] for r in copies)
    ec = statistics.median(r[1] for r in encodes)
    pair_ratio = statistics.median(e[0] / max(c[0], 1e-3) for c, e in zip(copies, encodes))
    print()
    print("source:          %s (%d s, 1280x720, 25 fps, H.264 with B-frames, AAC stereo, %d bytes)"
          % (src, args.seconds, os.path.getsize(src)))
    print("median wall:     copy %.3f s, re-encode %.2f s" % (cw, ew))
    print("speed-up:        %.0fx (re-encode / copy, median of paired runs; aim >= 50)" % pair_ratio)
    print("median CPU:      copy %.3f s, re-encode %.1f s" % (cc, ec))
    print("output size:     copy %d bytes, re-encode %d bytes"
          % (os.path.getsize(copy_out), os.path.getsize(encode_out)))


if __name__ == "__main__":
    main()
