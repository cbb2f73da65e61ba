#pragma once
// The small media files committed beside the tests, and the facts they were
// made with (ffmpeg test sources: picture size, frame rate, length, channels,
// sampling rate and codecs are fixed when each file is generated).
#include "tests/support/TestCore.h"

#include <QFileInfo>
#include <QString>

namespace MediaSamples {

inline QString Dir() { return TestSupport::SourceDir() + QStringLiteral("/tests/data/media/"); }
inline QString File(const QString& name) { return Dir() + name; }

// mpeg4 320x240 25 fps + mp3 stereo 44.1 kHz 64 kb/s, 3 s.
inline QString Avi() { return File(QStringLiteral("clip.avi")); }
// h264 352x288 30 fps + aac mono 48 kHz, 5 s.
inline QString Mp4() { return File(QStringLiteral("clip.mp4")); }
// h264 160x120 15 fps, no audio, 2 s.
inline QString Silent() { return File(QStringLiteral("silent.mp4")); }
// The same bytes as clip.mp4 under a name without extension.
inline QString NoExt() { return File(QStringLiteral("noext")); }
inline QString Empty() { return File(QStringLiteral("empty.mp4")); }
// 20000 random bytes.
inline QString Random() { return File(QStringLiteral("random.avi")); }
// h264 176x144 25 fps + aac stereo 22.05 kHz, 2 s, in a folder with a Chinese
// name and a blank.
inline QString Chinese() { return File(QStringLiteral("测试 视频/片段 一.mp4")); }
// A path that does not exist: the library reads nothing.
inline QString Missing() { return File(QStringLiteral("no such file.mp4")); }

// The size text computed independently of the program: MiB, %.4g from 1 MiB
// on, three decimals below it without trailing zeros (the samples are small).
inline QString ExpectedSize(const QString& path) {
  const double mb = double(QFileInfo(path).size()) / (1024.0 * 1024.0);
  if (mb >= 1) return QString::asprintf("%.4g MB", mb);
  QString text = QString::asprintf("%.3f", mb);
  while (text.endsWith(QLatin1Char('0'))) text.chop(1);
  if (text.endsWith(QLatin1Char('.'))) text.chop(1);
  return text + QStringLiteral(" MB");
}

}  // namespace MediaSamples
