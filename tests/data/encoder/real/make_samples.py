#!/usr/bin/env python3
"""Makes the small real-world samples the encoder's tests convert (needs the ffmpeg program).

Every picture, seen upright as a player shows it, has three marks on a grey moving pattern:
a red square at the top left, a green one at the top right and a blue one at the bottom right.
Samples whose pictures are stored turned or mirrored get the opposite turn in their pixels
and a display matrix in the track header that turns them back.

    make_samples.py [FOLDER]     (default: the folder of this script)
"""
import os
import struct
import subprocess
import sys

MARKS = ("drawbox=x=0:y=0:w=iw/5:h=ih/5:color=red:t=fill,"
         "drawbox=x=iw*4/5:y=0:w=iw/5:h=ih/5:color=lime:t=fill,"
         "drawbox=x=iw*4/5:y=ih*4/5:w=iw/5:h=ih/5:color=blue:t=fill")

# Display matrices (a, b, c, d of the track header) and the filter that stores the upright
# picture so that the matrix turns it back.
TURNS = {
    "cw90": ((0, 1, -1, 0), "transpose=cclock"),
    "180": ((-1, 0, 0, -1), "hflip,vflip"),
    "mirror": ((-1, 0, 0, 1), "hflip"),
}


def picture(size, rate, seconds, extra=""):
    chain = "testsrc2=s=%s:r=%s:d=%s,hue=s=0,%s" % (size, rate, seconds, MARKS)
    return chain + ("," + extra if extra else "")


def tone(seconds, rate=48000, freq=440):
    return "sine=f=%d:r=%d:d=%s" % (freq, rate, seconds)


def ffmpeg(*args):
    cmd = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y"] + list(args)
    subprocess.run(cmd, check=True)


def set_matrix(path, abcd):
    """Writes a display matrix into the (only) video track header of an MP4 or MOV file."""
    data = bytearray(open(path, "rb").read())
    pos = 0
    found = False
    while True:
        pos = data.find(b"tkhd", pos)
        if pos < 0:
            break
        box = pos - 4
        version = data[pos + 4]
        matrix = box + (8 + 4 + (32 if version == 1 else 20) + 8 + 8)
        width, height = struct.unpack(">II", data[matrix + 36:matrix + 44])
        if width and height:  # the video track
            a, b, c, d = (v * 65536 for v in abcd)
            values = (a, b, 0, c, d, 0, 0, 0, 1 << 30)
            data[matrix:matrix + 36] = struct.pack(">9i", *values)
            found = True
        pos += 4
    if not found:
        sys.exit("no video track header in " + path)
    open(path, "wb").write(data)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    p = lambda name: os.path.join(out, name)

    # A phone held upright: 10-bit HEVC stored landscape, turned a quarter clockwise.
    ffmpeg("-f", "lavfi", "-i", picture("180x320", 30, 2, TURNS["cw90"][1] + ",format=yuv420p10le"),
           "-f", "lavfi", "-i", tone(2, 44100),
           "-c:v", "libx265", "-x265-params", "log-level=error", "-preset", "ultrafast", "-tag:v", "hvc1",
           "-color_primaries", "bt709", "-color_trc", "bt709", "-colorspace", "bt709",
           "-c:a", "aac", "-b:a", "64k", "-shortest", p("phone_portrait_hevc10.mp4"))
    set_matrix(p("phone_portrait_hevc10.mp4"), TURNS["cw90"][0])
    # A phone held upside down.
    ffmpeg("-f", "lavfi", "-i", picture("320x180", 30, 2, TURNS["180"][1]),
           "-f", "lavfi", "-i", tone(2),
           "-c:v", "libx264", "-preset", "ultrafast", "-crf", "32", "-pix_fmt", "yuv420p",
           "-c:a", "aac", "-b:a", "64k", "-shortest", p("phone_upside_down.mp4"))
    set_matrix(p("phone_upside_down.mp4"), TURNS["180"][0])
    # A front camera's mirrored clip.
    ffmpeg("-f", "lavfi", "-i", picture("320x240", 30, 2, TURNS["mirror"][1]),
           "-c:v", "libx264", "-preset", "ultrafast", "-crf", "32", "-pix_fmt", "yuv420p", p("selfie_mirrored.mov"))
    set_matrix(p("selfie_mirrored.mov"), TURNS["mirror"][0])

    # HDR: HLG and PQ, BT.2020, 10 bits.
    to_hdr = ("zscale=tin=bt709:min=bt709:pin=bt709:rin=limited:t=%s:m=bt2020nc:p=bt2020:r=limited,"
              "format=yuv420p10le")
    ffmpeg("-f", "lavfi", "-i", picture("320x180", 25, 2, to_hdr % "arib-std-b67"),
           "-f", "lavfi", "-i", tone(2),
           "-c:v", "libx265", "-x265-params", "log-level=error", "-preset", "ultrafast", "-tag:v", "hvc1",
           "-color_primaries", "bt2020", "-color_trc", "arib-std-b67", "-colorspace", "bt2020nc",
           "-c:a", "aac", "-b:a", "64k", "-shortest", p("hlg_hevc10.mov"))
    ffmpeg("-f", "lavfi", "-i", picture("320x180", 24, 1, to_hdr % "smpte2084"),
           "-c:v", "libx265", "-x265-params", "log-level=error", "-preset", "ultrafast",
           "-color_primaries", "bt2020", "-color_trc", "smpte2084", "-colorspace", "bt2020nc",
           p("pq_hevc10.mkv"))

    # Interlaced camcorder video, top field first, with AC-3 in MPEG-TS.
    ffmpeg("-f", "lavfi", "-i", picture("640x360", 50, 2, "interlace=scan=tff"),
           "-f", "lavfi", "-i", tone(2),
           "-c:v", "mpeg2video", "-b:v", "900k", "-flags", "+ilme+ildct", "-top", "1",
           "-c:a", "ac3", "-b:a", "128k", "-ac", "2", p("camcorder_interlaced.ts"))
    # An anamorphic PAL DVD: 720x576 shown at 16:9, bottom field first, 5.1 AC-3 in a VOB.
    ffmpeg("-f", "lavfi", "-i", picture("720x576", 50, 2, "setsar=64/45,interlace=scan=bff"),
           "-f", "lavfi", "-i", tone(2),
           "-c:v", "mpeg2video", "-b:v", "1500k", "-maxrate", "9000k", "-bufsize", "1835k",
           "-flags", "+ilme+ildct", "-top", "0", "-aspect", "16:9",
           "-c:a", "ac3", "-b:a", "192k", "-ac", "6", "-f", "vob", p("dvd_pal_anamorphic.vob"))

    # Old web and phone formats.
    ffmpeg("-f", "lavfi", "-i", picture("320x240", 25, 2),
           "-f", "lavfi", "-i", tone(2, 22050),
           "-c:v", "flv", "-b:v", "300k", "-c:a", "libmp3lame", "-b:a", "48k", "-ac", "1", p("flash.flv"))
    ffmpeg("-f", "lavfi", "-i", picture("320x240", 25, 2),
           "-f", "lavfi", "-i", tone(2, 44100),
           "-c:v", "wmv2", "-b:v", "300k", "-c:a", "wmav2", "-b:a", "64k", p("windows_media.wmv"))
    ffmpeg("-f", "lavfi", "-i", picture("320x240", 25, 2),
           "-f", "lavfi", "-i", tone(2, 44100),
           "-c:v", "rv20", "-b:v", "300k", "-c:a", "ac3", "-b:a", "96k", p("realvideo.rm"))
    ffmpeg("-f", "lavfi", "-i", picture("176x144", 15, 2),
           "-f", "lavfi", "-i", tone(2, 8000),
           "-c:v", "h263", "-b:v", "100k", "-c:a", "aac", "-b:a", "12k", "-ac", "1", p("mobile.3gp"))

    # Editing and web formats.
    ffmpeg("-f", "lavfi", "-i", picture("320x180", 25, 1),
           "-f", "lavfi", "-i", tone(1),
           "-c:v", "prores_ks", "-profile:v", "0", "-c:a", "pcm_s16le", p("prores_pcm.mov"))
    ffmpeg("-f", "lavfi", "-i", picture("320x180", 25, 2),
           "-f", "lavfi", "-i", tone(2),
           "-c:v", "libvpx-vp9", "-b:v", "200k", "-deadline", "realtime", "-cpu-used", "8",
           "-c:a", "libopus", "-b:a", "48k", "-f", "webm", p("webm_named.mp4"))
    ffmpeg("-f", "lavfi", "-i", picture("320x240", 25, 2, "format=yuvj422p"),
           "-f", "lavfi", "-i", tone(2, 44100),
           "-f", "lavfi", "-i", tone(2, 48000, 880),
           "-map", "0", "-map", "1", "-map", "2",
           "-c:v", "mjpeg", "-q:v", "16", "-c:a:0", "libmp3lame", "-b:a:0", "64k",
           "-c:a:1", "ac3", "-b:a:1", "64k", "-ac:a:1", "1", p("mjpeg_two_tracks.mkv"))

    # Sound alone, and sound that begins two seconds after the picture.
    ffmpeg("-f", "lavfi", "-i", tone(3), "-c:a", "aac", "-b:a", "64k", p("audio_only.mp4"))
    ffmpeg("-f", "lavfi", "-i", picture("320x180", 25, 4),
           "-itsoffset", "2", "-f", "lavfi", "-i", tone(2),
           "-c:v", "libx264", "-preset", "ultrafast", "-crf", "32", "-pix_fmt", "yuv420p",
           "-c:a", "aac", "-b:a", "64k", p("late_sound.mp4"))


if __name__ == "__main__":
    main()
