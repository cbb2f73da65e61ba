"""What the encoder benchmarks share: a timed run of a program, a generated 720p source
with grain and a tone, and alternating runs of two commands."""
import re
import statistics
import subprocess
import sys
import time


def run_timed(cmd):
    """Runs cmd under /usr/bin/time -v; returns (wall seconds, CPU seconds, peak RSS in MB)."""
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
    return wall, cpu, int(peak.group(1)) / 1024.0 if peak else float("nan")


def make_source(path, seconds, video_args, audio_bitrate):
    """Writes a 1280x720 25 fps moving test pattern with grain (so the encoder has real
    work) and a 440 Hz stereo tone, H.264 with video_args and AAC at audio_bitrate."""
    subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-nostdin",
                    "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25:duration=%d" % seconds,
                    "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=%d" % seconds,
                    "-vf", "noise=alls=3:allf=t", "-c:v", "libx264", "-preset", "veryfast"] + video_args
                   + ["-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", audio_bitrate, "-ac", "2", path],
                   check=True)


def alternate(first, second, runs, report):
    """Runs the commands first and second `runs` times each, alternating which goes first
    so that drifting machine load hits both alike. After each pair calls report(run
    number, result of first, result of second). Returns both lists of run_timed results."""
    a, b = [], []
    for i in range(runs):
        order = [(first, a), (second, b)]
        if i % 2:
            order.reverse()
        for cmd, results in order:
            results.append(run_timed(cmd))
        report(i + 1, a[-1], b[-1])
    return a, b


def median_of(results, k):
    """The median of field k (0 wall, 1 CPU, 2 peak memory) over a list of results."""
    return statistics.median(r[k] for r in results)


def paired_ratio(a, b):
    """Median over the pairs of a's wall time / b's: each pair ran back to back under much
    the same load, which is steadier than the ratio of the medians on a shared machine."""
    return statistics.median(x[0] / max(y[0], 1e-3) for x, y in zip(a, b))
