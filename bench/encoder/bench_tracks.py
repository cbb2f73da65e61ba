#!/usr/bin/env python3
"""A film with three sound tracks against the same film with one, both by our encoder.

Makes a 720p H.264 recording in MKV with three AAC stereo sound tracks (and one with only
the first of them), then alternately converts each at the encoder's defaults. Every sound
track is encoded, so the three-track film should cost no more than the two extra sound
encodings: prints the median wall and CPU time of each, their ratio, and the cost of one
sound track measured on its own (sound-only conversion), for comparison. Also times a
stream copy of the three-track film. Needs the packages ffmpeg (to make the sources) and time.

    bench_tracks.py --encoder BUILD/vidmora/make [--runs 3] [--seconds 20]
"""
import argparse
import os
import subprocess
import tempfile

from benchlib import alternate, median_of, paired_ratio, run_timed


def make_film(path, seconds, tracks):
    inputs = ["-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=%d" % seconds]
    maps = ["-map", "0:v"]
    for k in range(tracks):
        inputs += ["-f", "lavfi", "-i", "sine=frequency=%d:sample_rate=48000:duration=%d" % (330 + 110 * k, seconds)]
        maps += ["-map", "%d:a" % (k + 1)]
    subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-nostdin"] + inputs + maps
                   + ["-vf", "noise=alls=3:allf=t", "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p",
                      "-c:a", "aac", "-b:a", "160k", "-ac", "2", path], check=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--encoder", required=True, help="path of the built encoder 'make'")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--seconds", type=int, default=20)
    ap.add_argument("--keep", help="folder to keep the files in (default: a temporary one)")
    args = ap.parse_args()

    work = args.keep or tempfile.mkdtemp(prefix="vidmora-bench-tracks-")
    os.makedirs(work, exist_ok=True)
    one = os.path.join(work, "one-track-%ds.mkv" % args.seconds)
    three = os.path.join(work, "three-tracks-%ds.mkv" % args.seconds)
    if not os.path.exists(one):
        make_film(one, args.seconds, 1)
    if not os.path.exists(three):
        make_film(three, args.seconds, 3)

    out = os.path.join(work, "out.mp4")
    ones, threes = alternate(
        [args.encoder, "-y", "-ipt", one, out], [args.encoder, "-y", "-ipt", three, out], args.runs,
        lambda n, a, b: print("run %d: one track %.2f s (cpu %.1f s), three tracks %.2f s (cpu %.1f s)"
                              % (n, a[0], a[1], b[0], b[1]), flush=True))
    # One sound track's encoding alone: the film without its picture.
    sound = [run_timed([args.encoder, "-y", "-ipt", one, "-vcodec", "copy", out]) for _ in range(args.runs)]
    copy = [run_timed([args.encoder, "-y", "-ipt", three, "-vcodec", "copy", "-acodec", "copy", out])
            for _ in range(args.runs)]

    ow, tw = median_of(ones, 0), median_of(threes, 0)
    oc, tc = median_of(ones, 1), median_of(threes, 1)
    sc = median_of(sound, 1)
    print()
    print("sources:         %d s, 1280x720, 25 fps, H.264; AAC stereo 160 kbit/s: 1 track / 3 tracks" % args.seconds)
    print("median wall:     one track %.2f s, three tracks %.2f s" % (ow, tw))
    print("wall ratio:      %.3f (three / one, median of paired runs)" % paired_ratio(threes, ones))
    print("median CPU:      one track %.2f s, three tracks %.2f s (added %.2f s)" % (oc, tc, tc - oc))
    print("one sound track: %.2f s CPU (picture copied); two more would add %.2f s" % (sc, 2 * sc))
    print("stream copy:     three tracks %.3f s wall" % median_of(copy, 0))


if __name__ == "__main__":
    main()
