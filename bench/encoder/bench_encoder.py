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
import tempfile

from benchlib import alternate, make_source, median_of, paired_ratio


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
        make_source(src, args.seconds, ["-crf", "18"], "192k")

    ours_out = os.path.join(work, "ours.mp4")
    theirs_out = os.path.join(work, "theirs.mp4")
    ours_cmd = [args.encoder, "-y", "-ipt", src, ours_out]
    theirs_cmd = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-i", src,
                  "-map", "0:v:0", "-map", "0:a:0", "-c:v", "libx264", "-pix_fmt", "yuv420p",
                  "-c:a", "aac", "-b:a", "128k", theirs_out]

    ours, theirs = alternate(
        ours_cmd, theirs_cmd, args.runs,
        lambda n, o, t: print("run %d: ours %.2f s (cpu %.1f s), ffmpeg %.2f s (cpu %.1f s)"
                              % (n, o[0], o[1], t[0], t[1]), flush=True))

    ow, tw = median_of(ours, 0), median_of(theirs, 0)
    oc, tc = median_of(ours, 1), median_of(theirs, 1)
    om, tm = median_of(ours, 2), median_of(theirs, 2)
    pair_ratio = paired_ratio(ours, theirs)
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
