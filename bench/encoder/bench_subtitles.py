#!/usr/bin/env python3
"""Subtitle files beside a short clip that cost a careless reader minutes or gigabytes.

Makes a 3 s 640x360 clip, then converts it with one subtitle file of each kind beside it,
kept as a track and drawn into the picture, and prints for each the wall time, the CPU
time, the peak memory and how much longer it ran than the same clip without subtitles (the
reference, timed in the same run). A run that has not ended after --timeout seconds is
stopped with SIGTERM (then SIGKILL) and marked as such; the time from the stop to the
process end is printed too. Needs the packages ffmpeg (to make the clip) and time.

    bench_subtitles.py --encoder BUILD/vidmora/make [--timeout 60] [--only NAME...]
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

ASS_HEAD = ("[Script Info]\nScriptType: v4.00+\nPlayResX: 640\nPlayResY: 360\n\n[V4+ Styles]\n"
            "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, "
            "Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, "
            "Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
            "Style: Default,Noto Sans CJK SC,36,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,"
            "0,0,1,2,0,2,10,10,10,1\n\n[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, "
            "MarginV, Effect, Text\n")


def ass(text):
    return (ASS_HEAD + "Dialogue: 0,0:00:00.00,0:00:03.00,Default,,0,0,0,," + text + "\n").encode()


def srt_cues(total_bytes):
    """Many short cues over the clip's three seconds and far beyond, total_bytes long."""
    out, k = [], 0
    size = 0
    while size < total_bytes:
        ms = k * 10
        cue = "%d\n%02d:%02d:%02d,%03d --> %02d:%02d:%02d,%03d\nLine %d of a long file\n\n" % (
            k + 1, ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms % 1000,
            (ms + 9) // 3600000, (ms + 9) // 60000 % 60, (ms + 9) // 1000 % 60, (ms + 9) % 1000, k)
        out.append(cue)
        size += len(cue)
        k += 1
    return "".join(out).encode()


CASES = {
    "ass-drawing-200k": lambda: ("ass", ass("{\\p1}m 0 0 " + " ".join("l %d %d" % (i % 600, (i * 7) % 300)
                                                                         for i in range(200000)) + "{\\p0}")),
    "ass-nested-t-20k": lambda: ("ass", ass("{" + "\\t(" * 20000 + "\\fs40" + ")" * 20000 + "}Nested")),
    "ass-font-1e8": lambda: ("ass", ass("{\\fs100000000}Big")),
    "srt-1mb-line": lambda: ("srt", b"1\n00:00:00,000 --> 00:00:03,000\n" + b"x" * (1 << 20) + b"\n"),
    "srt-19mb": lambda: ("srt", srt_cues(19 << 20)),
    "srt-50mb": lambda: ("srt", srt_cues(50 << 20)),
}


def run(cmd, timeout):
    """(wall s, CPU s, peak MB, ended by itself, seconds from the stop to the end). A run not
    ended after timeout seconds gets SIGTERM."""
    start = time.monotonic()
    proc = subprocess.Popen(["/usr/bin/time", "-v"] + cmd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                            start_new_session=True)
    ended, stop_to_end = True, 0.0
    try:
        _, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        ended = False
        stopped = time.monotonic()
        # SIGTERM to the encoder (the child of time), as a window that closes sends it.
        with open("/proc/%d/task/%d/children" % (proc.pid, proc.pid)) as f:
            for child in f.read().split():
                os.kill(int(child), signal.SIGTERM)
        try:
            _, err = proc.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            _, err = proc.communicate()
        stop_to_end = time.monotonic() - stopped
    wall = time.monotonic() - start
    peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", err)
    user = re.search(r"User time \(seconds\): ([\d.]+)", err)
    system = re.search(r"System time \(seconds\): ([\d.]+)", err)
    cpu = float(user.group(1)) + float(system.group(1)) if user and system else float("nan")
    return wall, cpu, int(peak.group(1)) / 1024.0 if peak else float("nan"), ended, stop_to_end


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--encoder", required=True, help="path of the built encoder 'make'")
    ap.add_argument("--timeout", type=float, default=60)
    ap.add_argument("--only", nargs="*", help="case names to run (default: all, and the pipe)")
    args = ap.parse_args()

    work = tempfile.mkdtemp(prefix="vidmora-bench-subtitles-")
    try:
        clip = os.path.join(work, "clip.mkv")
        subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-nostdin",
                        "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25:duration=3",
                        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=3",
                        "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-c:a", "aac", clip],
                       check=True)
        out = os.path.join(work, "out.mp4")

        def convert(mode):
            return run([args.encoder, "-y", "-ipt", clip, "-sub", mode, out], args.timeout)

        def clear():
            for name in os.listdir(work):
                if name.startswith("clip.") and name != "clip.mkv":
                    os.remove(os.path.join(work, name))

        # The reference: the best of three, the first run also loading the libraries.
        reference = {mode: min((convert(mode) for _ in range(3)), key=lambda r: r[0]) for mode in ("keep", "burn")}
        print("%-18s %-5s %8s %8s %9s %9s" % ("case", "mode", "wall s", "CPU s", "peak MB", "added s"))
        for mode, r in reference.items():
            print("%-18s %-5s %8.2f %8.2f %9.0f %9s" % ("(no subtitles)", mode, r[0], r[1], r[2], "-"))
        names = args.only if args.only else list(CASES) + ["pipe"]
        for name in names:
            clear()
            if name == "pipe":
                os.mkfifo(os.path.join(work, "clip.ass"))
            else:
                ext, data = CASES[name]()
                with open(os.path.join(work, "clip." + ext), "wb") as f:
                    f.write(data)
            for mode in ("keep", "burn"):
                r = convert(mode)
                if name == "srt-19mb":
                    # A stop while the file is read and converted: SIGTERM after a tenth of the run.
                    stop = run([args.encoder, "-y", "-ipt", clip, "-sub", mode, out], r[0] / 10)
                    print("%-18s %-5s SIGTERM at %.2f s ended it in %.2f s" % (name, mode, r[0] / 10, stop[4]))
                note = "" if r[3] else "  not ended after %.0f s; SIGTERM ended it in %.2f s" % (args.timeout, r[4])
                print("%-18s %-5s %8.2f %8.2f %9.0f %9.2f%s" % (name, mode, r[0], r[1], r[2],
                                                              r[0] - reference[mode][0], note), flush=True)
        clear()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
