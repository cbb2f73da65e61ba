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
import tempfile

from benchlib import alternate, make_source, median_of, paired_ratio


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
        make_source(src, args.seconds, ["-crf", "20", "-bf", "3"], "160k")

    copy_out = os.path.join(work, "copy.mp4")
    encode_out = os.path.join(work, "encode.mp4")
    copy_cmd = [args.encoder, "-y", "-ipt", src, "-vcodec", "copy", "-acodec", "copy", copy_out]
    encode_cmd = [args.encoder, "-y", "-ipt", src, encode_out]

    copies, encodes = alternate(
        copy_cmd, encode_cmd, args.runs,
        lambda n, c, e: print("run %d: copy %.3f s (cpu %.3f s), re-encode %.2f s (cpu %.1f s)"
                              % (n, c[0], c[1], e[0], e[1]), flush=True))

    cw, ew = median_of(copies, 0), median_of(encodes, 0)
    cc, ec = median_of(copies, 1), median_of(encodes, 1)
    pair_ratio = paired_ratio(encodes, copies)
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
