// The console encoder run as the front-end runs it: a separate process with an input pipe
// that nobody writes. Outputs are opened with the media libraries and decoded to the end.
#include "support/MediaRead.h"

#include <QtTest>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <iconv.h>
#include <functional>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace {

const QString kEncoder = QStringLiteral(VIDMORA_ENCODER_PATH);
// Loaded into the encoder: a file system that can neither rename without replacing nor link.
const QString kNoAtomicRename = QStringLiteral(VIDMORA_NO_ATOMIC_RENAME);
const QString kData = QStringLiteral(VIDMORA_ENCODER_DATA);

using TestMedia::MediaFacts;

// Opens a file and decodes every packet of its first video and audio stream.
MediaFacts inspect(const QString& path) { return TestMedia::Read(path); }
using TestMedia::TrackFacts;

// The luma plane of the first picture at or after a time.
struct Luma {
  QByteArray plane;
  int width = 0;
};

MediaFacts inspectAt(const QString& path, double at, Luma& luma) {
  TestMedia::ReadOptions options;
  options.onPicture = [&](const AVFrame* frame, double time) {
    if (!luma.plane.isEmpty() || time < at - 1e-3) return;
    luma.width = frame->width;
    for (int y = 0; y < frame->height; ++y)
      luma.plane.append(reinterpret_cast<const char*>(frame->data[0] + y * frame->linesize[0]), frame->width);
  };
  return TestMedia::Read(path, options);
}

struct Run {
  bool finished = false;
  int exitCode = -1;
  qint64 ms = 0;
  QStringList lines;  // standard error, line by line, empty lines dropped
  QString stdOut;

  QString text() const { return lines.join('\n'); }
  QStringList progressLines() const { return lines.filter(QRegularExpression("^frame=")); }
  int count(const QString& s) const {
    int n = 0;
    for (const QString& l : lines) n += l.count(s);
    return n;
  }
};

// Runs the encoder with the given tokens. `during` may act on the running process each
// time a line arrives on its standard error; it returns true once it has done its part.
// environment: "NAME=value" entries added to the encoder's; folder: its working folder.
Run runEncoder(const QStringList& args, bool closeInput = false,
               const std::function<bool(QProcess&, const QString&)>& during = {}, int timeoutMs = 60000,
               const QStringList& environment = {}, const QString& folder = {}) {
  Run run;
  QProcess p;
  p.setProgram(kEncoder);
  p.setArguments(args);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const QString& entry : environment) env.insert(entry.section('=', 0, 0), entry.section('=', 1));
  p.setProcessEnvironment(env);
  if (!folder.isEmpty()) p.setWorkingDirectory(folder);
  QElapsedTimer timer;
  timer.start();
  p.start();
  if (!p.waitForStarted(10000)) return run;
  if (closeInput) p.closeWriteChannel();
  QString pending;
  bool done = !during;
  auto collect = [&] {
    pending += QString::fromUtf8(p.readAllStandardError());
    int nl;
    while ((nl = pending.indexOf('\n')) >= 0) {
      const QString line = pending.left(nl).trimmed();
      pending.remove(0, nl + 1);
      if (line.isEmpty()) continue;
      run.lines << line;
      if (!done) done = during(p, line);
    }
  };
  while (p.state() != QProcess::NotRunning && timer.elapsed() < timeoutMs) {
    p.waitForReadyRead(100);
    collect();
  }
  if (p.state() != QProcess::NotRunning) {
    p.kill();
    p.waitForFinished(5000);
    collect();
    run.ms = timer.elapsed();
    return run;
  }
  p.waitForFinished(1000);
  collect();
  if (!pending.trimmed().isEmpty()) run.lines << pending.trimmed();
  run.ms = timer.elapsed();
  run.finished = p.exitStatus() == QProcess::NormalExit;
  run.exitCode = p.exitCode();
  run.stdOut = QString::fromUtf8(p.readAllStandardOutput());
  return run;
}

QByteArray fileHash(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash h(QCryptographicHash::Sha1);
  h.addData(&f);
  return h.result();
}

QStringList folderEntries(const QString& dir) {
  return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDir::Name);
}

// Every entry below a folder with what it is: a file with its bytes' hash, a link with its
// target, a folder; pipes and devices by their kind alone (reading them would never end).
QStringList treeSnapshot(const QString& folder) {
  QStringList entries;
  QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) continue;
    QString what = S_ISLNK(st.st_mode)   ? "link to " + QFile::symLinkTarget(path)
                   : S_ISDIR(st.st_mode) ? QString("folder")
                   : S_ISREG(st.st_mode) ? QString::fromLatin1(fileHash(path).toHex())
                                         : QString("special");
    entries << QDir(folder).relativeFilePath(path) + ": " + what;
  }
  entries.sort();
  return entries;
}

// The length lines' seconds, in order.
QList<double> statedLengths(const Run& run) {
  QList<double> lengths;
  for (const QString& line : run.lines)
    if (line.startsWith("length: ")) lengths << line.mid(8).toDouble();
  return lengths;
}

// Progress times rise and stay within a second of the output's length; the last length
// line says the output's length (the content, whatever the source stated); the summary is
// the last line and comes exactly once.
void checkConsoleOfSuccess(const Run& run, double outputDuration) {
  const QStringList progress = run.progressLines();
  const QList<double> lengths = statedLengths(run);
  QVERIFY2(!lengths.isEmpty(), qPrintable(run.text()));
  QVERIFY2(qAbs(lengths.last() - outputDuration) <= 0.3 + 0.02 * outputDuration,
           qPrintable(QString("stated %1 s, the output lasts %2 s").arg(lengths.last()).arg(outputDuration)));
  QVERIFY2(!progress.isEmpty(), qPrintable(run.text()));
  static const QRegularExpression timeRe("time=\\s*(\\d+)\\.(\\d\\d)(?!\\d)");
  double last = -1;
  for (const QString& line : progress) {
    QVERIFY2(line.startsWith("frame="), qPrintable(line));
    const auto m = timeRe.match(line);
    QVERIFY2(m.hasMatch(), qPrintable(line));
    const double t = m.captured(1).toDouble() + m.captured(2).toDouble() / 100;
    QVERIFY2(t >= last, qPrintable(run.text()));
    QVERIFY2(t <= outputDuration + 1.0, qPrintable(line));
    last = t;
  }
  QCOMPARE(run.count("global headers:"), 1);
  QVERIFY2(run.lines.last().contains("global headers:"), qPrintable(run.text()));
  QVERIFY(QRegularExpression("^video:\\d+kB audio:\\d+kB global headers:\\d+kB muxing overhead: ")
              .match(run.lines.last())
              .hasMatch());
  QVERIFY(!run.text().contains("Error"));
  QVERIFY(run.stdOut.isEmpty());
}

// A conversion cut short by a stop: progress as for a success, then the unfinished line
// naming where the file went, last, and no summary.
void checkConsoleOfStop(const Run& run, const QString& unfinished, double outputDuration) {
  double last = -1;
  for (const QString& line : run.progressLines()) {
    const double t = line.section("time=", 1).section(' ', 0, 0).toDouble();
    QVERIFY2(t >= last && t <= outputDuration + 1.0, qPrintable(run.text()));
    last = t;
  }
  QCOMPARE(run.count("global headers:"), 0);
  QCOMPARE(run.lines.last(), "unfinished: " + unfinished);
  QVERIFY(!run.text().contains("Error"));
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& data) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

quint32 bigEndian(const QByteArray& d, int at, int bytes) {
  quint32 v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | quint8(d[at + i]);
  return v;
}

void putBigEndian(QByteArray& d, int at, int bytes, quint32 v) {
  for (int i = bytes - 1; i >= 0; --i, v >>= 8) d[at + i] = char(v & 0xff);
}

// Damage as a broken muxer or a flipped byte leaves it: adds `add` milliseconds to the
// timestamp of the nth (from 1) FLV tag of the given type (8 sound, 9 picture), or to
// that tag and every later one when `onward`. Returns whether the tag was found.
bool shiftFlvTime(QByteArray& d, int type, int nth, quint32 add, bool onward = false) {
  int at = int(bigEndian(d, 5, 4)) + 4;
  int n = 0;
  bool found = false;
  while (at + 11 <= d.size()) {
    const int size = int(bigEndian(d, at + 1, 3));
    if (d[at] == char(type) && (++n == nth || (onward && n > nth))) {
      const quint32 t = (bigEndian(d, at + 4, 3) | quint32(quint8(d[at + 7])) << 24) + add;
      putBigEndian(d, at + 4, 3, t & 0xffffff);
      d[at + 7] = char(t >> 24);
      found = true;
    }
    at += 11 + size + 4;
  }
  return found;
}

// The same for the nth packet of a RealMedia stream.
bool shiftRmTime(QByteArray& d, int stream, int nth, quint32 add) {
  int at = d.indexOf("DATA");
  if (at < 0) return false;
  at += 18;
  int n = 0;
  while (at + 12 <= d.size()) {
    const int length = int(bigEndian(d, at + 2, 2));
    if (length < 12) return false;
    if (int(bigEndian(d, at + 4, 2)) == stream && ++n == nth) {
      putBigEndian(d, at + 6, 4, bigEndian(d, at + 6, 4) + add);
      return true;
    }
    at += length;
  }
  return false;
}

// Makes a Matroska file declare another picture rate (its tracks' default duration)
// than its timestamps keep.
bool setMkvDefaultDuration(QByteArray& d, quint32 nanoseconds) {
  const int at = d.indexOf(QByteArray::fromHex("23e383"));
  if (at < 0 || quint8(d[at + 3]) != 0x84) return false;
  putBigEndian(d, at + 4, 4, nanoseconds);
  return true;
}

// The packets of a file's first video and audio stream: a checksum of each packet's bytes
// and its presentation time counted from the stream's earliest one.
struct StreamPackets {
  QList<QByteArray> hashes;
  QList<double> times;
  double start = 0;  // earliest presentation time, seconds
};

struct FilePackets {
  StreamPackets video, audio;
  QString videoTag;
  QList<bool> videoKeys;  // each video packet's key-frame flag, in file order
};

FilePackets readPackets(const QString& path) {
  FilePackets result;
  TestMedia::ReadOptions options;
  options.decode = TestMedia::Decode::None;
  options.onPacket = [&result](const AVPacket* pkt, const AVStream* st, bool video) {
    StreamPackets& list = video ? result.video : result.audio;
    if (video) result.videoKeys << bool(pkt->flags & AV_PKT_FLAG_KEY);
    list.hashes << QCryptographicHash::hash(
        QByteArray::fromRawData(reinterpret_cast<const char*>(pkt->data), pkt->size),
        QCryptographicHash::Md5);
    list.times << (pkt->pts == AV_NOPTS_VALUE ? -1.0 : pkt->pts * av_q2d(st->time_base));
  };
  result.videoTag = TestMedia::Read(path, options).video.tag;
  for (StreamPackets* list : {&result.video, &result.audio}) {
    if (list->times.isEmpty()) continue;
    list->start = *std::min_element(list->times.begin(), list->times.end());
    for (double& t : list->times) t -= list->start;
  }
  return result;
}

// ---- recordings made here with the ffmpeg program ------------------------------------
// Two parts that can be told apart in any output: a red picture with a 440 Hz tone, then a
// blue one with 880 Hz. 160x120 at 25 frames a second, AAC sound at 44.1 kHz.

bool ffmpeg(const QStringList& args) {
  QProcess p;
  p.start("ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-nostdin", "-y"} + args);
  return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QStringList colourAndTone(const QString& colour, int hz, double seconds) {
  return {
      "-f", "lavfi", "-i", QString("color=c=%1:size=160x120:rate=25:duration=%2").arg(colour).arg(seconds),
      "-f", "lavfi", "-i", QString("sine=frequency=%1:sample_rate=44100:duration=%2").arg(hz).arg(seconds)};
}

// Both parts in one file, with `gap` seconds of the source's clock between them.
bool twoParts(const QString& out, double first, double second, const QStringList& codecs, double gap = 0) {
  QString g = "[0:v][1:a][2:v][3:a]concat=n=2:v=1:a=1[v][a]";
  if (gap > 0)
    g += QString(";[v]setpts='if(gte(T,%1),PTS+%2/TB,PTS)'[vo];[a]asetpts='if(gte(T,%1),PTS+%2/TB,PTS)'[ao]")
             .arg(first)
             .arg(gap);
  else
    g += ";[v]null[vo];[a]anull[ao]";
  return ffmpeg(
      colourAndTone("red", 440, first) + colourAndTone("blue", 880, second) +
      QStringList{"-filter_complex", g, "-map", "[vo]", "-map", "[ao]", "-fps_mode", "passthrough"} + codecs +
      QStringList{out});
}

// One part alone, as a camera or recorder writes each file.
bool onePart(const QString& out, const QString& colour, int hz, double seconds, const QStringList& codecs) {
  return ffmpeg(colourAndTone(colour, hz, seconds) + codecs + QStringList{out});
}

// Overwrites bytes from `skip` bytes after the first occurrence of `marker`.
bool patchAfter(QByteArray& d, const QByteArray& marker, int skip, const QByteArray& bytes) {
  const int at = d.indexOf(marker);
  if (at < 0) return false;
  d.replace(at + marker.size() + skip, bytes.size(), bytes);
  return true;
}

QByteArray bigEndianDouble(double v) {
  quint64 bits;
  memcpy(&bits, &v, 8);
  QByteArray b(8, '\0');
  for (int i = 7; i >= 0; --i, bits >>= 8) b[i] = char(bits & 0xff);
  return b;
}

// Where the second part begins in a file: the time of its first blue picture and of its
// first sound frame at 880 Hz (told by the zero crossings); -1 where there is none.
struct PartStart {
  double picture = -1, sound = -1;
};

PartStart secondPartStart(const QString& path) {
  PartStart start;
  TestMedia::ReadOptions options;
  options.onPicture = [&start](const AVFrame* f, double t) {
    if (start.picture >= 0 || f->format != AV_PIX_FMT_YUV420P) return;
    const int u = f->data[1][(f->height / 4) * f->linesize[1] + f->width / 4];
    const int v = f->data[2][(f->height / 4) * f->linesize[2] + f->width / 4];
    if (u > v + 64) start.picture = t;
  };
  options.onSound = [&start](const AVFrame* f, double t) {
    if (start.sound >= 0 || f->nb_samples <= 0 ||
        !(f->format == AV_SAMPLE_FMT_FLTP || f->format == AV_SAMPLE_FMT_S16P ||
          f->format == AV_SAMPLE_FMT_S16))
      return;
    int crossings = 0;
    double before = 0, peak = 0;
    const int step = f->format == AV_SAMPLE_FMT_S16 ? f->ch_layout.nb_channels : 1;
    for (int i = 0; i < f->nb_samples; ++i) {
      const double x = f->format == AV_SAMPLE_FMT_FLTP
                           ? reinterpret_cast<const float*>(f->data[0])[i]
                           : reinterpret_cast<const int16_t*>(f->data[0])[i * step] / 32768.0;
      if (i > 0 && (x > 0) != (before > 0)) ++crossings;
      before = x;
      peak = std::max(peak, std::abs(x));
    }
    // The tones are at an eighth of full scale; near silence (an encoder's first frame)
    // tells nothing.
    const double hz = crossings / 2.0 * f->sample_rate / f->nb_samples;
    if (peak > 0.05 && hz > 660 && hz < 1100) start.sound = t;
  };
  TestMedia::Read(path, options);
  return start;
}

// ---- what files hold beside their picture and sound --------------------------------------

// Replaces the first occurrence of `from` by `to` (of the same length).
// Replaces the occurrences of `from` numbered in `which` (from 1) by `to`, of the same size.
bool replaceNth(const QString& path, const QByteArray& from, const QByteArray& to, const QList<int>& which) {
  QByteArray d = readAll(path);
  if (from.size() != to.size()) return false;
  int at = -1;
  for (int n = 1; n <= *std::max_element(which.begin(), which.end()); ++n) {
    at = d.indexOf(from, at + 1);
    if (at < 0) return false;
    if (which.contains(n)) d.replace(at, from.size(), to);
  }
  return writeAll(path, d);
}

bool replaceFirst(const QString& path, const QByteArray& from, const QByteArray& to) {
  return replaceNth(path, from, to, {1});
}

// A source for keepsWhatTheFileHolds, made in dir; its path, or "" when it could not be made.
// Films are 160x120 at 25 frames a second with a tone (AAC, 44.1 kHz, mono), 3 s long.
QString makeKept(const QString& recipe, const QString& dir) {
  const QStringList film = {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=3",
                            "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=3"};
  const QStringList h264 = {"-c:v", "libx264", "-preset", "veryfast", "-c:a", "aac"};
  const QString in = dir + "/in." + (recipe == "programs" || recipe == "ts joined" ? "ts" : "mkv");
  bool ok = false;
  if (recipe == "thumbnail") {  // a one-frame picture, larger than the film, as the first video track
    ok = ffmpeg(QStringList{"-f", "lavfi", "-i", "color=c=white:size=320x180:rate=25:duration=0.04"} + film +
                QStringList{"-map", "0", "-map", "1", "-map", "2", "-c:v:0", "mjpeg", "-c:v:1", "libx264",
                            "-preset", "veryfast", "-c:a", "aac", in});
  } else if (recipe == "chapters") {
    ok = writeAll(dir + "/chapters.txt",
                  ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=2000\ntitle=第一章\n"
                  "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2000\nEND=3000\ntitle=第二章\n") &&
         ffmpeg(film +
                QStringList{"-i", dir + "/chapters.txt", "-map", "0", "-map", "1", "-map_chapters", "2"} +
                h264 + QStringList{in});
  } else if (recipe == "paused chapters") {  // 30 s of the clock skipped at 2 s; the second chapter after it
    ok = writeAll(dir + "/chapters.txt",
                  ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=2000\ntitle=第一章\n"
                  "[CHAPTER]\nTIMEBASE=1/1000\nSTART=32000\nEND=33000\ntitle=第二章\n") &&
         ffmpeg(film +
                QStringList{"-i", dir + "/chapters.txt", "-map", "0", "-map", "1", "-map_chapters", "2",
                            "-vf", "setpts='if(gte(T,2),PTS+30/TB,PTS)'", "-af",
                            "asetpts='if(gte(T,2),PTS+30/TB,PTS)'", "-fps_mode", "passthrough"} +
                h264 + QStringList{in});
  } else if (recipe == "tags") {
    ok = ffmpeg(film + h264 +
                QStringList{"-metadata", "creation_time=2021-05-01T10:20:30.000000Z", "-metadata",
                            "title=标题", "-metadata", "location=+39.9042+116.4074/", "-metadata",
                            "make=Apple", "-metadata", "model=iPhone 12", in});
  } else if (recipe == "cover") {
    ok = ffmpeg({"-f", "lavfi", "-i", "color=c=red:size=64x48:duration=0.04", "-frames:v", "1",
                 dir + "/cover.jpg"}) &&
         ffmpeg(film + h264 +
                QStringList{"-attach", dir + "/cover.jpg", "-metadata:s:t", "mimetype=image/jpeg",
                            "-metadata:s:t", "filename=cover.jpg", in});
  } else if (recipe == "vp9 eac3") {
    ok = ffmpeg(film + QStringList{"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-c:a",
                                   "eac3", "-ar", "48000", "-ac", "2", in});
  } else if (recipe == "mpeg2 mp2") {
    ok = ffmpeg(film + QStringList{"-c:v", "mpeg2video", "-c:a", "mp2", "-ar", "48000", in});
  } else if (recipe == "aspect") {  // 16:9 in the container only: the picture says square pixels
    ok = ffmpeg(film + h264 + QStringList{dir + "/square.mkv"}) &&
         ffmpeg({"-i", dir + "/square.mkv", "-c", "copy", "-aspect", "16:9", in});
  } else if (recipe == "programs") {  // program 2 has the larger picture, its sound at 48 kHz
    ok = ffmpeg(film +
                QStringList{"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=3", "-f", "lavfi",
                            "-i", "sine=frequency=880:sample_rate=48000:duration=3", "-map", "0", "-map", "1",
                            "-map", "2", "-map", "3"} +
                h264 + QStringList{"-program", "title=one:st=0:st=1", "-program", "title=two:st=2:st=3", in});
  } else if (recipe == "undecodable") {  // the first sound track's codec made unknown
    ok = ffmpeg(film +
                QStringList{"-f", "lavfi", "-i", "sine=frequency=880:sample_rate=48000:duration=3", "-map",
                            "0", "-map", "1", "-map", "2"} +
                h264 + QStringList{in}) &&
         replaceFirst(in, "A_AAC", "A_XYZ");
  } else if (recipe == "no sound decodable") {  // its only sound track's codec made unknown
    ok = ffmpeg(film + QStringList{"-map", "0", "-map", "1"} + h264 + QStringList{in}) &&
         replaceFirst(in, "A_AAC", "A_XYZ");
  } else if (recipe == "undecodable 1 and 3") {  // four sound tracks, the first and third unknown
    ok = ffmpeg(film + QStringList{"-map", "0", "-map", "1", "-map", "1", "-map", "1", "-map", "1"} + h264 +
                QStringList{"-metadata:s:a:0", "language=jpn", "-metadata:s:a:1", "language=eng",
                            "-metadata:s:a:2", "language=ger", "-metadata:s:a:3", "language=fre", in}) &&
         replaceNth(in, "A_AAC", "A_XYZ", {1, 3});
  } else if (recipe == "flac second") {  // aac, flac, mp3
    ok = ffmpeg(film + QStringList{"-map",
                                   "0",
                                   "-map",
                                   "1",
                                   "-map",
                                   "1",
                                   "-map",
                                   "1",
                                   "-c:v",
                                   "libx264",
                                   "-preset",
                                   "veryfast",
                                   "-c:a:0",
                                   "aac",
                                   "-c:a:1",
                                   "flac",
                                   "-c:a:2",
                                   "libmp3lame",
                                   "-metadata:s:a:0",
                                   "language=jpn",
                                   "-metadata:s:a:1",
                                   "language=ger",
                                   "-metadata:s:a:2",
                                   "language=eng",
                                   in});
  } else if (recipe == "empty") {  // a second sound track without a single packet
    ok = ffmpeg(film + QStringList{"-map", "0", "-map", "1", "-map", "1", "-filter:a:1", "atrim=start=10"} +
                h264 + QStringList{in});
  } else if (recipe == "ts joined") {  // two transport streams joined end to end: the clock steps back
    const QStringList ts = {"-c:v", "libx264", "-preset", "veryfast", "-c:a", "aac", "-f", "mpegts"};
    ok = onePart(dir + "/a", "red", 440, 3, ts) && onePart(dir + "/b", "blue", 880, 3, ts) &&
         writeAll(in, readAll(dir + "/a") + readAll(dir + "/b"));
  } else if (recipe == "portrait") {
    ok = ffmpeg({"-f", "lavfi", "-i", "testsrc=size=360x640:rate=25:duration=1", "-c:v", "libx264", "-preset",
                 "veryfast", in});
  } else if (recipe == "turned phone") {  // stored 320x180 and turned a quarter
    return kData + "/real/phone_portrait_hevc10.mp4";
  }
  return ok ? in : QString();
}

// ---- a film as they are shared: several sound tracks and subtitles --------------------

const char kFilmAss[] =
    "[Script Info]\nScriptType: v4.00+\nPlayResX: 320\nPlayResY: 240\n\n[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, "
    "Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, "
    "MarginL, MarginR, MarginV, Encoding\n"
    "Style: Default,Noto Sans CJK SC,48,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,"
    "3,0,2,10,10,10,1\n\n[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, "
    "Effect, Text\nDialogue: 0,0:00:01.00,0:00:03.00,Default,,0,0,0,,你好世界\n";
const char kFilmSrt[] = "1\n00:00:00,500 --> 00:00:02,000\nHello there\n";

// A cue of a DVD subtitle track: at `at` seconds, a white bar over the bottom of a 320x240
// picture (rows 180 to 219; at the top, rows 20 to 59), with its own end after `length`
// seconds or none (0).
struct PictureCue {
  double at = 0;
  bool bottom = true;
  double length = 0;
};

QByteArray dvdCue(const PictureCue& cue) {
  AVCodecContext* enc = avcodec_alloc_context3(avcodec_find_encoder(AV_CODEC_ID_DVD_SUBTITLE));
  if (!enc) return {};
  enc->width = 320;
  enc->height = 240;
  enc->time_base = {1, 1000};
  QByteArray out;
  uint8_t pixels[240 * 40];
  std::fill_n(pixels, sizeof pixels, uint8_t(1));
  uint32_t palette[4] = {0, 0xFFFFFFFF, 0xFF000000, 0xFF808080};
  AVSubtitleRect rect{};
  rect.x = 40;
  rect.y = cue.bottom ? 180 : 20;
  rect.w = 240;
  rect.h = 40;
  rect.nb_colors = 4;
  rect.type = SUBTITLE_BITMAP;
  rect.data[0] = pixels;
  rect.linesize[0] = 240;
  rect.data[1] = reinterpret_cast<uint8_t*>(palette);
  AVSubtitleRect* rects[1] = {&rect};
  AVSubtitle sub{};
  sub.num_rects = 1;
  sub.rects = rects;
  sub.end_display_time = uint32_t(cue.length * 1000);
  if (avcodec_open2(enc, enc->codec, nullptr) >= 0) {
    QByteArray buffer(1 << 16, '\0');
    const int n =
        avcodec_encode_subtitle(enc, reinterpret_cast<uint8_t*>(buffer.data()), buffer.size(), &sub);
    if (n > 0) out = buffer.left(n);
  }
  avcodec_free_context(&enc);
  return out;
}

// Copies the streams of `in` to `out` (Matroska) and adds a track of DVD subtitles with
// the given cues (in order of time), by default two bars shown for 2 s, at 1 s and 3 s.
bool addPictureSubtitles(const QString& in, const QString& out,
                         const QList<PictureCue>& pictureCues = {{1, true, 2}, {3, true, 2}}) {
  AVFormatContext *ic = nullptr, *oc = nullptr;
  if (avformat_open_input(&ic, QFile::encodeName(in).constData(), nullptr, nullptr) < 0) return false;
  bool ok = avformat_find_stream_info(ic, nullptr) >= 0 &&
            avformat_alloc_output_context2(&oc, nullptr, "matroska", QFile::encodeName(out).constData()) >= 0;
  for (unsigned i = 0; ok && i < ic->nb_streams; ++i) {
    AVStream* st = avformat_new_stream(oc, nullptr);
    ok = st && avcodec_parameters_copy(st->codecpar, ic->streams[i]->codecpar) >= 0 &&
         av_dict_copy(&st->metadata, ic->streams[i]->metadata, 0) >= 0;
    if (ok) st->disposition = ic->streams[i]->disposition;
    if (ok) st->time_base = ic->streams[i]->time_base;
  }
  AVStream* dvd = ok ? avformat_new_stream(oc, nullptr) : nullptr;
  ok = dvd != nullptr;
  if (ok) {
    dvd->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
    dvd->codecpar->codec_id = AV_CODEC_ID_DVD_SUBTITLE;
    dvd->time_base = {1, 1000};
    ok = avio_open(&oc->pb, QFile::encodeName(out).constData(), AVIO_FLAG_WRITE) >= 0 &&
         avformat_write_header(oc, nullptr) >= 0;
  }
  AVPacket* pkt = av_packet_alloc();
  int cues = 0;
  while (ok && av_read_frame(ic, pkt) >= 0) {
    const AVRational from = ic->streams[pkt->stream_index]->time_base;
    const double t = pkt->pts == AV_NOPTS_VALUE ? 0 : pkt->pts * av_q2d(from);
    av_packet_rescale_ts(pkt, from, oc->streams[pkt->stream_index]->time_base);
    ok = av_interleaved_write_frame(oc, pkt) >= 0;
    if (ok && cues < pictureCues.size() && t >= pictureCues[cues].at) {
      const QByteArray bar = dvdCue(pictureCues[cues]);
      AVPacket* cue = av_packet_alloc();
      ok = cue && !bar.isEmpty() && av_new_packet(cue, bar.size()) >= 0;
      if (ok) {
        std::copy_n(bar.constData(), bar.size(), cue->data);
        cue->stream_index = dvd->index;
        cue->pts = cue->dts = int64_t(t * 1000);
        cue->duration = int64_t(pictureCues[cues].length * 1000);
        ok = av_interleaved_write_frame(oc, cue) >= 0;
      }
      av_packet_free(&cue);
      ++cues;
    }
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  ok = ok && av_write_trailer(oc) >= 0;
  if (oc) avio_closep(&oc->pb);
  avformat_free_context(oc);
  avformat_close_input(&ic);
  return ok;
}

// The film: grey pictures; a Japanese mono sound track, then a Chinese stereo one marked
// default; Chinese ASS and English SRT subtitles; DVD subtitles; and, beside it, Chinese
// subtitles in the older Chinese code page. Also dvd.mkv: the film with its DVD subtitles only.
bool makeFilm(const QString& dir) {
  if (!writeAll(dir + "/s.ass", kFilmAss) || !writeAll(dir + "/s.srt", kFilmSrt)) return false;
  if (!writeAll(dir + "/film.chs.srt", QByteArray("1\n00:00:00,500 --> 00:00:01,500\n") +
                                           QByteArray::fromHex("cde2b9d2d7d6c4bb") + "\n"))
    return false;
  return ffmpeg({"-f",
                 "lavfi",
                 "-i",
                 "color=c=gray:size=320x240:rate=25:duration=5",
                 "-f",
                 "lavfi",
                 "-i",
                 "sine=frequency=440:sample_rate=44100:duration=5",
                 "-f",
                 "lavfi",
                 "-i",
                 "sine=frequency=880:sample_rate=48000:duration=5",
                 "-i",
                 dir + "/s.ass",
                 "-i",
                 dir + "/s.srt",
                 "-map",
                 "0:v",
                 "-map",
                 "1:a",
                 "-map",
                 "2:a",
                 "-map",
                 "3",
                 "-map",
                 "4",
                 "-c:v",
                 "libx264",
                 "-c:a",
                 "aac",
                 "-ac:a:1",
                 "2",
                 "-c:s:0",
                 "ass",
                 "-c:s:1",
                 "srt",
                 "-metadata:s:a:0",
                 "language=jpn",
                 "-metadata:s:a:1",
                 "language=chi",
                 "-disposition:a:0",
                 "0",
                 "-disposition:a:1",
                 "default",
                 "-metadata:s:s:0",
                 "language=chi",
                 "-metadata:s:s:1",
                 "language=eng",
                 dir + "/plain.mkv"}) &&
         addPictureSubtitles(dir + "/plain.mkv", dir + "/film.mkv") &&
         ffmpeg({"-i", dir + "/plain.mkv", "-map", "0:v", "-map", "0:a", "-c", "copy", dir + "/sound.mkv"}) &&
         addPictureSubtitles(dir + "/sound.mkv", dir + "/dvd.mkv");
}

// The text of an MP4 subtitle sample: a 16-bit length, then the text.
QString cueText(const QByteArray& sample) {
  if (sample.size() < 2) return {};
  const int length = int(bigEndian(sample, 0, 2));
  return QString::fromUtf8(sample.mid(2, length));
}

// Mean and largest difference of two luma planes of the given width over rows [top, bottom).
std::pair<double, int> lumaDifference(const QByteArray& a, const QByteArray& b, int width, int top,
                                      int bottom) {
  double sum = 0;
  int largest = 0, n = 0;
  for (int i = top * width; i < bottom * width && i < a.size() && i < b.size(); ++i, ++n) {
    const int d = std::abs(int(uchar(a[i])) - int(uchar(b[i])));
    sum += d;
    largest = std::max(largest, d);
  }
  return {n ? sum / n : 255.0, largest};
}

// ---- subtitle files beside a clip ----------------------------------------------------

// A 2 s grey 320x240 clip (H.264, AAC) in MKV, on which any drawn cue shows.
bool makeGreyClip(const QString& path, double seconds = 2) {
  return ffmpeg({"-f", "lavfi", "-i", QString("color=c=gray:size=320x240:rate=25:duration=%1").arg(seconds),
                 "-f", "lavfi", "-i",
                 QString("sine=frequency=440:sample_rate=44100:duration=%1").arg(seconds), "-c:v", "libx264",
                 "-preset", "veryfast", "-c:a", "aac", path});
}

// Text in a legacy character set, through the C library's converter.
QByteArray inCharset(const QString& text, const char* charset) {
  const QByteArray utf8 = text.toUtf8();
  iconv_t cd = iconv_open(charset, "UTF-8");
  if (cd == iconv_t(-1)) return {};
  QByteArray out(utf8.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(utf8.constData());
  size_t inLeft = size_t(utf8.size()), outLeft = size_t(out.size());
  char* to = out.data();
  const size_t r = iconv(cd, &in, &inLeft, &to, &outLeft);
  iconv_close(cd);
  if (r == size_t(-1)) return {};
  out.resize(out.size() - int(outLeft));
  return out;
}

// One SRT cue from 0.5 s to 1.8 s.
QByteArray srtCue(const QByteArray& text) {
  return "1\r\n00:00:00,500 --> 00:00:01,800\r\n" + text + "\r\n\r\n";
}

// An ASS script of one event over the clip's first three seconds.
QByteArray assEvent(const QByteArray& text) {
  return QByteArray(kFilmAss).left(QByteArray(kFilmAss).indexOf("Dialogue:")) +
         "Dialogue: 0,0:00:00.00,0:00:03.00,Default,,0,0,0,," + text + "\n";
}

// Where a link planted beside a source by someone else points: as root, a readable file of
// another user holding a cue (read by mistake, it would show); otherwise a file the user may
// not read.
QString otherUsersFile(const QString& dir) {
  if (geteuid() != 0) return "/etc/shadow";
  const QString path = dir + "/others.srt";
  if (!writeAll(path, srtCue("secret")) || chown(QFile::encodeName(path).constData(), 65534, 65534) != 0)
    return {};
  return path;
}

// The largest luma difference between two pictures (whole frame).
int largestDifference(const Luma& a, const Luma& b) {
  return lumaDifference(a.plane, b.plane, a.width, 0, a.width ? a.plane.size() / a.width : 0).second;
}

// Whether the output shows a cue at `at` seconds: its picture there differs from the grey
// source's.
bool drawnAt(const QString& source, const QString& out, double at) {
  Luma src, drawn;
  inspectAt(source, at, src);
  inspectAt(out, at, drawn);
  return largestDifference(src, drawn) > 100;
}

// A subtitle track of an output: its language, first cue's text, time and length.
struct CueTrack {
  QString language, text;
  double start = 0, length = 0;
  bool isDefault = false;
};

QList<CueTrack> subtitleTracks(const MediaFacts& facts) {
  QList<CueTrack> tracks;
  for (const TrackFacts& t : facts.tracks)
    if (t.type == AVMEDIA_TYPE_SUBTITLE)
      tracks << CueTrack{t.language, cueText(t.firstPacket), t.firstTime, t.firstDuration, t.isDefault};
  return tracks;
}

}  // namespace

Q_DECLARE_METATYPE(QList<PictureCue>)

class TestEncoderConversion : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    av_log_set_level(AV_LOG_QUIET);
    QVERIFY2(QFileInfo(kEncoder).isExecutable(), qPrintable(kEncoder));
    QVERIFY(QFileInfo::exists(kData + "/src_h264_aac.mp4"));
  }

  // Without options every property of the source is kept: size, aspect, frame rate,
  // channels and sampling rate; the codecs are H.264 and AAC. The input pipe is closed
  // at once: the end of standard input is not a request to stop.
  void defaultsKeepSource_data() {
    QTest::addColumn<QString>("source");
    QTest::newRow("mp4 h264 aac") << "src_h264_aac.mp4";
    QTest::newRow("mkv mpeg4 mp3, non-square pixels, 29.97") << "src_mpeg4_mp3.mkv";
    QTest::newRow("ts with a start offset") << "src_mpeg2_mp2.ts";
    QTest::newRow("ts joined from two parts: size, rate, channels change, sound steps back")
        << "src_changing.ts";
    QTest::newRow("video only") << "src_video_only.mkv";
    QTest::newRow("audio only") << "src_audio_only.mp3";
  }

  void defaultsKeepSource() {
    QFETCH(QString, source);
    QTemporaryDir dir;
    const QString in = kData + "/" + source;
    const QString out = dir.filePath("out.mp4");
    const MediaFacts src = inspect(in);
    QVERIFY(src.ok);

    const Run run = runEncoder({"-y", "-ipt", in, out}, /*closeInput=*/true);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    QVERIFY2(run.lines.first().startsWith("Input:") && run.text().contains("Output:"),
             qPrintable(run.text()));
    // The length it works to is said before the first progress line.
    const qsizetype firstLength = run.lines.indexOf(QRegularExpression("length: .*"));
    QVERIFY2(firstLength >= 0 && firstLength < run.lines.indexOf(QRegularExpression("frame=.*")),
             qPrintable(run.text()));
    QCOMPARE(folderEntries(dir.path()), QStringList{"out.mp4"});

    const MediaFacts o = inspect(out);
    QVERIFY(o.ok);
    QVERIFY(o.format.contains("mp4"));
    QCOMPARE(o.decodeErrors, 0);
    QVERIFY2(qAbs(o.duration - src.duration) <= 0.1,
             qPrintable(QString("%1 vs %2").arg(o.duration).arg(src.duration)));
    QCOMPARE(o.video.present, src.video.present);
    QCOMPARE(o.audio.present, src.audio.present);
    if (src.video.present) {
      QCOMPARE(o.video.codec, QString("h264"));
      QCOMPARE(o.video.width, src.video.width);
      QCOMPARE(o.video.height, src.video.height);
      QVERIFY2(qAbs(o.video.dar - src.video.dar) < 0.01, qPrintable(QString::number(o.video.dar)));
      QVERIFY2(qAbs(o.video.fps - src.video.fps) < 0.01, qPrintable(QString::number(o.video.fps)));
      QVERIFY(o.video.decoded >= int(src.duration * src.video.fps) - 2);
      QVERIFY2(o.video.start < 0.1, qPrintable(QString::number(o.video.start)));
    }
    if (src.audio.present) {
      QCOMPARE(o.audio.codec, QString("aac"));
      QCOMPARE(o.audio.sampleRate, src.audio.sampleRate);
      QCOMPARE(o.audio.channels, src.audio.channels);
      QVERIFY(o.audio.decoded > 0);
      QVERIFY2(o.audio.start < 0.1, qPrintable(QString::number(o.audio.start)));
      // 128 kbit/s unless told otherwise; AAC spends less on a plain tone in mono at a
      // low sampling rate, but far more than the source's 32 or 64 kbit/s.
      const double kbps = o.audio.bytes * 8 / o.audio.duration / 1000;
      QVERIFY2(kbps > 60 && kbps < 150, qPrintable(QString::number(kbps)));
    }
    checkConsoleOfSuccess(run, o.duration);
  }

  // Every option, each changing the output the way it says.
  void options_data() {
    QTest::addColumn<QStringList>("opts");
    QTest::addColumn<QString>("vcodec");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("fps");
    QTest::addColumn<double>("dar");
    QTest::addColumn<double>("vkbps");  // 0: not checked
    QTest::addColumn<QString>("acodec");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("rate");
    QTest::addColumn<double>("akbps");

    QTest::newRow("h265, mp3 and every option")
        << QStringList{"-vcodec", "libx265",    "-b:v",    "300k", "-s",      "240x180",
                       "-r",      "30000/1001", "-aspect", "16:9", "-acodec", "libmp3lame",
                       "-b:a",    "96k",        "-ac",     "1",    "-ar",     "22050"}
        << "hevc" << 240 << 180 << 29.97 << 16.0 / 9 << 300.0 << "mp3" << 1 << 22050 << 96.0;
    QTest::newRow("mpeg4, decimal aspect, empty tokens")
        << QStringList{"",        "-vcodec", "mpeg4", "",     "-s",  "160x120", "-r",   "15",
                       "-aspect", "1.5",     "",      "-b:a", "64k", "-ar",     "48000"}
        << "mpeg4" << 160 << 120 << 15.0 << 1.5 << 0.0 << "aac" << 2 << 48000 << 64.0;
    QTest::newRow("h264 at a bit rate, 29.97, odd size, more channels")
        << QStringList{"-vcodec", "libx264", "-b:v",    "0.4M", "-s",  "201x151", "-r",  "29.97",
                       "-aspect", "4:3",     "-acodec", "aac",  "-ac", "6",       "-ar", "32000"}
        << "h264" << 200 << 150 << 29.97 << 4.0 / 3 << 400.0 << "aac" << 6 << 32000 << 0.0;
  }

  void options() {
    QFETCH(QStringList, opts);
    QFETCH(QString, vcodec);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, fps);
    QFETCH(double, dar);
    QFETCH(double, vkbps);
    QFETCH(QString, acodec);
    QFETCH(int, channels);
    QFETCH(int, rate);
    QFETCH(double, akbps);

    QTemporaryDir dir;
    const QString in = kData + "/src_h264_aac.mp4";
    const QString out = dir.filePath("out.mp4");
    const Run run = runEncoder(QStringList{"-y", "-ipt", in} + opts + QStringList{out});
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));

    const MediaFacts o = inspect(out);
    QVERIFY(o.ok);
    QCOMPARE(o.decodeErrors, 0);
    QVERIFY2(qAbs(o.duration - 3.0) <= 0.1, qPrintable(QString::number(o.duration)));
    QCOMPARE(o.video.codec, vcodec);
    QCOMPARE(o.video.width, width);
    QCOMPARE(o.video.height, height);
    QVERIFY2(qAbs(o.video.fps - fps) < 0.01, qPrintable(QString::number(o.video.fps)));
    QVERIFY2(qAbs(o.video.dar - dar) < 0.01, qPrintable(QString::number(o.video.dar)));
    QVERIFY2(qAbs(o.video.decoded - 3.0 * fps) <= 2, qPrintable(QString::number(o.video.decoded)));
    if (vkbps > 0) {
      const double kbps = o.video.bytes * 8 / o.video.duration / 1000;
      QVERIFY2(kbps > vkbps * 0.5 && kbps < vkbps * 1.5, qPrintable(QString::number(kbps)));
    }
    QCOMPARE(o.audio.codec, acodec);
    QCOMPARE(o.audio.channels, channels);
    QCOMPARE(o.audio.sampleRate, rate);
    if (akbps > 0) {
      const double kbps = o.audio.bytes * 8 / o.audio.duration / 1000;
      QVERIFY2(kbps > akbps * 0.8 && kbps < akbps * 1.2, qPrintable(QString::number(kbps)));
    }
    checkConsoleOfSuccess(run, o.duration);
  }

  // Streams copied as they are: the same packets at the same times, sound and picture as
  // far apart as in the source, a file that decodes, one stream copied while the other is
  // encoded, and the options a copy cannot follow named on the console.
  void copy_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("opts");
    QTest::addColumn<QString>("vcodec");
    QTest::addColumn<QString>("acodec");
    QTest::addColumn<bool>("sameVideoBytes");  // false: re-encoded, or reframed for MP4
    QTest::addColumn<bool>("sameAudioBytes");
    QTest::addColumn<QString>("ignored");  // the options named as ignored, "" for no such line

    const QStringList both{"-vcodec", "copy", "-acodec", "copy"};
    QTest::newRow("mkv: h264 with B-frames, aac") << "src_h264_aac_bframes.mkv" << both << "h264"
                                                  << "aac" << true << true << "";
    QTest::newRow("flv") << "src_h264_aac.flv" << both << "h264"
                         << "aac" << true << true << "";
    QTest::newRow("ts: Annex B picture, ADTS sound") << "src_h264_aac.ts" << both << "h264"
                                                     << "aac" << false << false << "";
    QTest::newRow("mkv: hevc, ac-3") << "src_hevc_ac3.mkv" << both << "hevc"
                                     << "ac3" << true << true << "";
    QTest::newRow("picture copied, sound encoded")
        << "src_h264_aac_bframes.mkv"
        << QStringList{"-vcodec", "copy", "-acodec", "libmp3lame", "-ar", "22050"} << "h264"
        << "mp3" << true << false << "";
    QTest::newRow("sound copied, picture encoded")
        << "src_h264_aac.ts"
        << QStringList{"-vcodec", "mpeg4", "-s", "160x120", "-acodec", "copy", "-ac", "1"} << "mpeg4"
        << "aac" << false << false << "-ac";
    QTest::newRow("remembered options ignored")
        << "src_h264_aac_bframes.mkv"
        << QStringList{"-vcodec", "copy",    "-s",   "640x480", "-r",  "30",  "-b:v",
                       "2M",      "-acodec", "copy", "-b:a",    "96k", "-ar", "48000"}
        << "h264"
        << "aac" << true << true << "-s, -r, -b:v, -b:a, -ar";
    QTest::newRow("sound only: aac") << "src_audio_only.m4a" << QStringList{"-acodec", "copy"} << ""
                                     << "aac" << false << true << "";
    QTest::newRow("sound only, picture copy asked") << "src_audio_only.mp3" << both << ""
                                                    << "mp3" << false << true << "";
  }

  void copy() {
    QFETCH(QString, source);
    QFETCH(QStringList, opts);
    QFETCH(QString, vcodec);
    QFETCH(QString, acodec);
    QFETCH(bool, sameVideoBytes);
    QFETCH(bool, sameAudioBytes);
    QFETCH(QString, ignored);
    QTemporaryDir dir;
    const QString in = kData + "/" + source;
    const QString out = dir.filePath("out.mp4");
    const Run run = runEncoder(QStringList{"-y", "-ipt", in} + opts + QStringList{out}, true);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    const QStringList ignoredLines = run.lines.filter("Ignored");
    if (ignored.isEmpty()) {
      QVERIFY2(ignoredLines.isEmpty(), qPrintable(run.text()));
    } else {
      QCOMPARE(ignoredLines.size(), 1);
      QVERIFY2(ignoredLines[0].contains(": " + ignored + " ("), qPrintable(ignoredLines[0]));
    }

    const MediaFacts src = inspect(in);
    const MediaFacts o = inspect(out);
    QVERIFY(o.ok);
    QCOMPARE(o.decodeErrors, 0);
    QCOMPARE(o.video.codec, vcodec);
    QCOMPARE(o.audio.codec, acodec);
    QVERIFY2(qAbs(o.duration - src.duration) <= 0.1,
             qPrintable(QString("%1 vs %2").arg(o.duration).arg(src.duration)));
    const bool videoCopied = opts.join(' ').contains("-vcodec copy");
    const bool audioCopied = opts.join(' ').contains("-acodec copy");
    if (videoCopied) {
      QCOMPARE(o.video.width, src.video.width);
      QCOMPARE(o.video.height, src.video.height);
    }
    if (audioCopied) {
      QCOMPARE(o.audio.channels, src.audio.channels);
      QCOMPARE(o.audio.sampleRate, src.audio.sampleRate);
    }

    const FilePackets a = readPackets(in);
    const FilePackets b = readPackets(out);
    auto compare = [](const StreamPackets& x, const StreamPackets& y, bool sameBytes) {
      QCOMPARE(y.times.size(), x.times.size());
      if (sameBytes) QVERIFY(y.hashes == x.hashes);
      for (int i = 0; i < x.times.size(); ++i)
        QVERIFY2(qAbs(y.times[i] - x.times[i]) < 1e-4,
                 qPrintable(QString("packet %1: %2 vs %3").arg(i).arg(y.times[i]).arg(x.times[i])));
    };
    if (videoCopied) compare(a.video, b.video, sameVideoBytes);
    if (QTest::currentTestFailed()) return;
    if (audioCopied) compare(a.audio, b.audio, sameAudioBytes);
    if (QTest::currentTestFailed()) return;
    if (videoCopied && audioCopied && !vcodec.isEmpty())
      QVERIFY2(qAbs((b.video.start - b.audio.start) - (a.video.start - a.audio.start)) < 1e-3,
               qPrintable(QString("%1 %2").arg(b.video.start).arg(b.audio.start)));
    if (videoCopied && vcodec == "hevc") QCOMPARE(b.videoTag, QString("hvc1"));
    // A picture copy asked of a source without one says so in a warning line.
    QCOMPARE(run.lines.filter(QRegularExpression("^warning: no-picture: ")).size(),
             videoCopied && vcodec.isEmpty() ? 1 : 0);
    checkConsoleOfSuccess(run, o.duration);
  }

  // A recording cut in the middle of a group of pictures: the copy starts at the first key
  // frame (the pictures before it refer to ones the file does not hold), with the sound
  // from its start, and keeps every picture from the key frame on.
  void copyOfCutRecording() {
    QTemporaryDir dir;
    QFile whole(kData + "/src_h264_aac.ts");
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QString in = dir.filePath("cut.ts");
    {
      QFile cut(in);
      QVERIFY(cut.open(QIODevice::WriteOnly));
      cut.write(whole.readAll().mid(60 * 188));  // whole transport packets, mid-group
    }
    const FilePackets a = readPackets(in);
    QVERIFY(!a.videoKeys.isEmpty() && !a.videoKeys.first());
    const int firstKey = int(a.videoKeys.indexOf(true));
    QVERIFY(firstKey > 0);

    const QString out = dir.filePath("out.mp4");
    const Run run = runEncoder({"-y", "-ipt", in, "-vcodec", "copy", "-acodec", "copy", out}, true);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    const FilePackets b = readPackets(out);
    QVERIFY(!b.videoKeys.isEmpty() && b.videoKeys.first());
    QCOMPARE(b.videoKeys.size(), a.videoKeys.size() - firstKey);
    QCOMPARE(b.audio.times.size(), a.audio.times.size());
    QVERIFY2(b.video.start > b.audio.start + 0.1,
             qPrintable(QString("%1 %2").arg(b.video.start).arg(b.audio.start)));
    QCOMPARE(inspect(out).decodeErrors, 0);
    checkConsoleOfSuccess(run, inspect(out).duration);
  }

  // "q" during a copy: the file that is there when it comes plays. (Sources are regular
  // files, which never stall, so the copy may be done before the stop: then it is complete
  // and takes the output's name, with the summary; cut short, it is named unfinished.)
  void stopDuringCopy() {
    QTemporaryDir dir;
    const QString in = kData + "/src_h264_aac.ts";
    const QString out = dir.filePath("out.mp4");
    const Run run = runEncoder({"-y", "-ipt", in, "-vcodec", "copy", "-acodec", "copy", out}, false,
                               [&](QProcess& p, const QString& line) {
                                 if (!line.startsWith("frame=")) return false;
                                 p.write("q");
                                 return true;
                               });
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    const bool cut = run.lines.last().startsWith("unfinished: ");
    const QString file = cut ? dir.filePath("out (未完成).mp4") : out;
    const MediaFacts o = inspect(file);
    QVERIFY(o.ok);
    QCOMPARE(o.decodeErrors, 0);
    QVERIFY2(o.duration > 0 && o.duration <= inspect(in).duration + 0.1,
             qPrintable(QString::number(o.duration)));
    QVERIFY(o.video.decoded > 0 && o.audio.decoded > 0);
    QCOMPARE(folderEntries(dir.path()), (QStringList{QFileInfo(file).fileName()}));
    if (cut) {
      checkConsoleOfStop(run, file, o.duration);
    } else {
      checkConsoleOfSuccess(run, o.duration);
    }
  }

  // With -y an existing output is replaced, and only once the new one is complete.
  void overwriteWithY() {
    QTemporaryDir dir;
    const QString out = dir.filePath("out.mp4");
    {
      QFile f(out);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("an older file of the user's");
    }
    const Run run = runEncoder({"-y", "-ipt", kData + "/src_video_only.mkv", out});
    QVERIFY2(run.exitCode == 0, qPrintable(run.text()));
    const MediaFacts o = inspect(out);
    QVERIFY(o.ok && o.video.present);
    QCOMPARE(folderEntries(dir.path()), QStringList{"out.mp4"});
    QVERIFY(QFileInfo(out).permissions() & QFile::ReadOther);
  }

  // A file that takes the output name while a conversion runs is never replaced, with or
  // without -y: the output takes the next free name and one line says so. Two encoders
  // racing to one name both keep their files.
  // A file that takes the output's name while the encoder runs stays; the output takes the
  // next free name. Also where the file system can neither rename without replacing nor
  // link (the encoder then looks at the name just before it renames). The temporary is
  // locked all the while, so no sweep for leftovers takes it.
  void nothingReplacedMeanwhile_data() {
    QTest::addColumn<QString>("rival");  // what takes the name while the encoder runs
    QTest::addColumn<bool>("overwrite");
    QTest::addColumn<bool>("atomicRename");  // the file system renames without replacing
    for (const bool atomic : {true, false}) {
      const char* fs = atomic ? "" : ", no rename without replacing";
      QTest::addRow("user file, no -y%s", fs) << "file" << false << atomic;
      QTest::addRow("user file, -y%s", fs) << "file" << true << atomic;
      QTest::addRow("second encoder%s", fs) << "encoder" << false << atomic;
    }
  }

  void nothingReplacedMeanwhile() {
    QFETCH(QString, rival);
    QFETCH(bool, overwrite);
    QFETCH(bool, atomicRename);
    QTemporaryDir dir;
    const QString out = dir.filePath("talk.mp4");
    const QStringList args = QStringList(overwrite ? QStringList{"-y"} : QStringList{}) +
                             QStringList{"-ipt", kData + "/src_long.mp4", "-s", "640x480", out};
    const QStringList env =
        atomicRename ? QStringList{}
                     : QStringList{"LD_PRELOAD=" + kNoAtomicRename, "ASAN_OPTIONS=verify_asan_link_order=0"};
    Run second;
    int lockRefused = -1;  // errno of a lock asked of the running encoder's temporary
    const Run run = runEncoder(
        args, true,
        [&](QProcess&, const QString& line) {
          if (!line.startsWith("frame=")) return false;
          const QStringList temps =
              QDir(dir.path()).entryList({".talk.mp4.part-*"}, QDir::Files | QDir::Hidden);
          if (temps.size() == 1) {
            const int fd =
                ::open(QFile::encodeName(dir.filePath(temps[0])).constData(), O_RDONLY | O_CLOEXEC);
            lockRefused = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0 ? errno : 0;
            if (fd >= 0) ::close(fd);
          }
          // The rival finishes first, while this run is still going.
          if (rival == "file") return writeAll(out, "the user's");
          second = runEncoder({"-ipt", kData + "/src_video_only.mkv", "-vcodec", "copy", out}, true, {},
                              60000, env);
          return true;
        },
        60000, env);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    QCOMPARE(lockRefused, EWOULDBLOCK);
    const QString renamed = dir.filePath("talk (1).mp4");
    QCOMPARE(run.lines.filter("output: ").size(), 1);
    QVERIFY2(run.lines.contains("output: " + renamed), qPrintable(run.text()));
    QCOMPARE(run.lines.last().contains("global headers:"), true);
    QVERIFY(inspect(renamed).video.present);
    if (rival == "file") {
      QCOMPARE(readAll(out), QByteArray("the user's"));
    } else {
      QVERIFY2(second.exitCode == 0 && second.lines.filter("output: ").isEmpty(), qPrintable(second.text()));
      QVERIFY(inspect(out).video.present);
    }
    QCOMPARE(folderEntries(dir.path()), (QStringList{"talk (1).mp4", "talk.mp4"}));
  }

  // An output folder on FAT refuses ':' in a name: the output takes "_" in its place and
  // the output line names it. Needs a FAT image that can be made and mounted here.
  void fatRefusedCharacters() {
    const QString mkfs = QStandardPaths::findExecutable("mkfs.vfat", {"/sbin", "/usr/sbin"});
    if (mkfs.isEmpty()) QSKIP("no mkfs.vfat here (package dosfstools)");
    if (geteuid() != 0) QSKIP("mounting a FAT image needs root");
    QTemporaryDir dir;
    const QString image = dir.filePath("fat.img");
    const QString mountPoint = dir.filePath("stick");
    QVERIFY(QDir().mkdir(mountPoint));
    QFile f(image);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(32 << 20));
    f.close();
    if (QProcess::execute(mkfs, {"-q", image}) != 0) QSKIP("cannot make a FAT image here");
    if (QProcess::execute("mount", {"-o", "loop", "-t", "vfat", image, mountPoint}) != 0)
      QSKIP("cannot mount a FAT image here");
    const QString out = mountPoint + "/a:b.mp4";
    const Run run = runEncoder({"-ipt", kData + "/src_video_only.mkv", out}, true);
    const QStringList entries = folderEntries(mountPoint);
    QProcess::execute("umount", {mountPoint});
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    QVERIFY2(run.lines.contains("output: " + mountPoint + "/a_b.mp4"), qPrintable(run.text()));
    QCOMPARE(entries, QStringList{"a_b.mp4"});
  }

  // Paths with blanks, non-ASCII letters and texts the front-end watches for reach the
  // encoder as single tokens; the console never shows them as progress or as an end.
  void unusualNames() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QString::fromUtf8("my clips/été")));
    const QString in = dir.filePath(QString::fromUtf8("my clips/été/time=9 global headers: видео.mkv"));
    QVERIFY(QFile::copy(kData + "/src_video_only.mkv", in));
    const QString out = dir.filePath(QString::fromUtf8("my clips/frame= 1 ü.mp4"));
    const Run run = runEncoder({"-y", "-ipt", in, out});
    QVERIFY2(run.exitCode == 0, qPrintable(run.text()));
    QVERIFY(inspect(out).video.present);
    QVERIFY(run.text().contains(QString::fromUtf8("видео")));
    checkConsoleOfSuccess(run, 1.0);
  }

  // "q" on standard input, SIGINT, SIGTERM and SIGHUP (the program that started it is
  // gone) end the conversion early with a playable and shorter file and status 0. It is
  // cut short, so it never takes the output's name (nor replaces the file there): it is
  // named unfinished, one line says where, and no summary says it is complete.
  void stopEarly_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QStringList>("before");  // files in the folder before the start
    QTest::addColumn<QString>("unfinished");
    QTest::newRow("q") << "q" << QStringList() << "out (未完成).mp4";
    QTest::newRow("SIGINT") << "INT" << QStringList() << "out (未完成).mp4";
    QTest::newRow("SIGTERM") << "TERM" << QStringList() << "out (未完成).mp4";
    QTest::newRow("SIGHUP") << "HUP" << QStringList() << "out (未完成).mp4";
    QTest::newRow("q, the user's out.mp4 and an earlier stop's file there")
        << "q" << QStringList{"out.mp4", "out (未完成).mp4"} << "out (未完成) (1).mp4";
  }

  void stopEarly() {
    QFETCH(QString, how);
    QFETCH(QStringList, before);
    QFETCH(QString, unfinished);
    QTemporaryDir dir;
    const QString out = dir.filePath("out.mp4");
    for (const QString& name : before) QVERIFY(writeAll(dir.filePath(name), name.toUtf8()));
    // A 10 s source made large enough that its conversion takes a while.
    const Run run =
        runEncoder({"-y", "-ipt", kData + "/src_long.mp4", "-s", "1280x720", out}, false,
                   [&](QProcess& p, const QString& line) {
                     if (!line.startsWith("frame=") || line.contains("time=0.00")) return false;
                     if (how == "q")
                       p.write("q");
                     else
                       ::kill(pid_t(p.processId()), how == "INT" ? SIGINT : how == "HUP" ? SIGHUP : SIGTERM);
                     return true;
                   });
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    const MediaFacts o = inspect(dir.filePath(unfinished));
    QVERIFY(o.ok);
    QCOMPARE(o.decodeErrors, 0);
    // However early the stop: a slow picture encoder's flush may be cut short after a stop,
    // so the file can be very short, but it is never empty.
    QVERIFY2(o.duration > 0 && o.duration < 9.0, qPrintable(QString::number(o.duration)));
    QVERIFY(o.video.decoded > 0 && o.audio.decoded > 0);
    QVERIFY2(qAbs(o.video.duration - o.audio.duration) < 0.5,
             qPrintable(QString("%1 %2").arg(o.video.duration).arg(o.audio.duration)));
    QStringList expected = before;
    expected << unfinished;
    expected.sort();
    QCOMPARE(folderEntries(dir.path()), expected);
    for (const QString& name : before) QCOMPARE(readAll(dir.filePath(name)), name.toUtf8());
    checkConsoleOfStop(run, dir.filePath(unfinished), o.duration);
  }

  // A stop while subtitles beside the source are met: a pipe named clip.ass once held the
  // encoder before it said anything, deaf to the first SIGTERM and to its parent's end. Each
  // request, sent once the pipe is named, ends the conversion by itself.
  void stopWithSubtitles_data() {
    QTest::addColumn<int>("signal");  // 0: "q" on standard input
    QTest::newRow("q") << 0;
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP, the parent gone") << int(SIGHUP);
  }

  void stopWithSubtitles() {
    QFETCH(int, signal);
    QTemporaryDir dir;
    const QString in = dir.filePath("clip.mkv"), out = dir.filePath("out.mp4");
    QVERIFY(makeGreyClip(in));
    QVERIFY(mkfifo(QFile::encodeName(dir.filePath("clip.ass")).constData(), 0600) == 0);
    const Run run =
        runEncoder({"-y", "-ipt", in, "-sub", "burn", out}, false, [&](QProcess& p, const QString& line) {
          if (!line.contains("clip.ass")) return false;
          if (signal == 0)
            p.write("q");
          else
            ::kill(pid_t(p.processId()), signal);
          return true;
        });
    QVERIFY2(run.finished, qPrintable(run.text()));
    QVERIFY2(run.exitCode == 0 || run.lines.last().startsWith("Error: stopped"), qPrintable(run.text()));
  }

  // A "q" that comes before the first frame (typed ahead, waiting on standard input when
  // the encoder starts): no empty file is passed off as a conversion, the file already at
  // the output path stays, and the status is non-zero.
  void stopBeforeFirstFrame() {
    QTemporaryDir dir;
    const QString out = dir.filePath("out.mp4");
    QVERIFY(writeAll(out, "keep me"));
    QVERIFY(writeAll(dir.filePath("keys"), "q"));
    QProcess p;
    p.setStandardInputFile(dir.filePath("keys"));
    p.start(kEncoder, {"-y", "-ipt", kData + "/src_long.mp4", out});
    const bool finished = p.waitForStarted(10000) && p.waitForFinished(20000);
    const QString text = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(finished && p.exitStatus() == QProcess::NormalExit, qPrintable(text));
    QVERIFY2(p.exitCode() != 0 && text.trimmed().section('\n', -1).startsWith("Error: stopped"),
             qPrintable(text));
    QVERIFY(!text.contains("global headers:"));
    QCOMPARE(readAll(out), QByteArray("keep me"));
    QCOMPARE(folderEntries(dir.path()), (QStringList{"keys", "out.mp4"}));
  }

  // Sources whose timestamps or declared rate were damaged convert by themselves to an
  // output no longer than the source announces (+2 s), without a frozen stretch filling a
  // jump and without copies multiplying a falsely high frame rate; nothing of the
  // undamaged part is lost.
  void damagedTimestamps_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("damage");
    QTest::newRow("flv: one picture 100 s late") << "src_flv1_mp3.flv"
                                                 << "flv picture";
    QTest::newRow("flv: one sound frame 100 s late") << "src_flv1_mp3.flv"
                                                     << "flv sound";
    QTest::newRow("flv: all pictures from 2 s on 30 s late") << "src_flv1_mp3.flv"
                                                             << "flv onward";
    QTest::newRow("flv: one picture 5 s back") << "src_flv1_mp3.flv"
                                               << "flv back";
    QTest::newRow("rm: one picture 3 hours late") << "src_rv20_ac3.rm"
                                                  << "rm picture";
    QTest::newRow("mkv: declares 125 fps, times keep 25") << "src_video_only.mkv"
                                                          << "mkv rate";
    QTest::newRow("rm whose sound times all read 0") << "src_rv20_ra144.rm"
                                                     << "none";
  }

  void damagedTimestamps() {
    QFETCH(QString, source);
    QFETCH(QString, damage);
    QTemporaryDir dir;
    QByteArray data = readAll(kData + "/" + source);
    bool damaged = false;
    if (damage == "flv picture")
      damaged = shiftFlvTime(data, 9, 60, 100000);
    else if (damage == "flv sound")
      damaged = shiftFlvTime(data, 8, 60, 100000);
    else if (damage == "flv onward")
      damaged = shiftFlvTime(data, 9, 50, 30000, true);
    else if (damage == "flv back")
      damaged = shiftFlvTime(data, 9, 60, quint32(-5000));
    else if (damage == "rm picture")
      damaged = shiftRmTime(data, 0, 40, 3 * 3600 * 1000);
    else if (damage == "mkv rate")
      damaged = setMkvDefaultDuration(data, 8000000);
    else if (damage == "none")
      damaged = !data.isEmpty();
    QVERIFY(damaged);
    const QString in = dir.filePath("damaged." + QFileInfo(source).suffix());
    const QString out = dir.filePath("out.mp4");
    QVERIFY(writeAll(in, data));
    const MediaFacts src = inspect(kData + "/" + source);
    const MediaFacts bad = inspect(in);
    QVERIFY(src.ok && bad.ok);

    const Run run = runEncoder({"-y", "-ipt", in, out}, true, {}, 60000);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    const MediaFacts o = inspect(out);
    QVERIFY(o.ok);
    QVERIFY2(o.duration <= bad.duration + 2.0 && o.duration <= src.duration + 2.0,
             qPrintable(QString("%1 of %2").arg(o.duration).arg(bad.duration)));
    QVERIFY2(o.duration >= src.duration - 1.0, qPrintable(QString::number(o.duration)));
    // Picture and sound stay together: a moved packet does not move the rest of its stream.
    if (src.video.present && src.audio.present)
      QVERIFY2(qAbs(o.video.duration - o.audio.duration) < 0.5,
               qPrintable(QString("%1 %2").arg(o.video.duration).arg(o.audio.duration)));
    if (src.video.present) {
      QVERIFY2(qAbs(o.video.fps - 25) < 0.01, qPrintable(QString::number(o.video.fps)));
      QVERIFY2(o.video.decoded <= int(src.duration * 25) + 3, qPrintable(QString::number(o.video.decoded)));
    }
    checkConsoleOfSuccess(run, o.duration);
  }

  // Recordings as people have them: headers that state a wrong length (short, zero,
  // missing, far too long), files joined end to end, recordings with a pause, a screen
  // recording whose picture stands still while the sound goes on, a file cut short. The
  // output holds all the content, re-encoded and copied, and the second part's picture
  // and sound start together where that part begins.
  void wholeRecording_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<double>("content");     // seconds; 0: what the source decodes to
    QTest::addColumn<double>("secondPart");  // where it begins in the output; -1: not checked
    QTest::addColumn<bool>("copy");
    const QList<std::tuple<const char*, const char*, double, double, bool>> rows = {
        {"flv, duration says 1 s of 6 s", "flv short", 6, 3, true},
        {"flv, duration 0", "flv zero", 6, 3, true},
        {"flv, no duration", "flv absent", 6, 3, true},
        {"flv, duration says 3600 s of 6 s", "flv long", 6, 3, true},
        {"mkv, segment duration says 1 s of 6 s", "mkv short", 6, 3, true},
        {"mp4, movie header says 1 s of 6 s", "mp4 short", 6, 3, true},
        {"two ts files joined with cat", "ts joined", 8, 4, true},
        {"two vob files joined with cat", "vob joined", 8, 4, false},
        {"ts with a 30 s pause", "ts pause", 8, 4, true},
        {"mkv with a 30 s pause, pictures out of order", "mkv pause", 8, 4, true},
        {"mp4, picture still for 20 s, sound goes on", "mp4 still", 24, 22, true},
        {"mp4 cut short", "mp4 cut", 0, -1, true},
    };
    for (const auto& [name, kind, content, second, copies] : rows) {
      QTest::addRow("%s, re-encoded", name) << kind << content << second << false;
      if (copies) QTest::addRow("%s, copied", name) << kind << content << second << true;
    }
  }

  void wholeRecording() {
    QFETCH(QString, kind);
    QFETCH(double, content);
    QFETCH(double, secondPart);
    QFETCH(bool, copy);
    QTemporaryDir dir;
    const QStringList h264 = {"-c:v", "libx264", "-preset", "veryfast", "-c:a", "aac"};
    const QString format = kind.section(' ', 0, 0);
    const QString in = dir.filePath("in." + format);
    QByteArray data;
    if (kind.startsWith("flv") || kind == "mkv short" || kind == "mp4 short" || kind == "mp4 cut") {
      QVERIFY(twoParts(in, 3, 3,
                       h264 + (kind == "mp4 cut" ? QStringList{"-movflags", "+faststart"} : QStringList{})));
      data = readAll(in);
      bool patched = true;
      if (kind == "flv short")
        patched = patchAfter(data, "duration", 1, bigEndianDouble(1));
      else if (kind == "flv zero")
        patched = patchAfter(data, "duration", 1, bigEndianDouble(0));
      else if (kind == "flv long")
        patched = patchAfter(data, "duration", 1, bigEndianDouble(3600));
      else if (kind == "flv absent")
        patched = patchAfter(data, "dura", 0, "Xion");  // an unknown name instead
      else if (kind == "mkv short")                     // in milliseconds, the default scale
        patched = patchAfter(data, QByteArray::fromHex("448988"), 0, bigEndianDouble(1000));
      else if (kind == "mp4 short") {
        const int at = data.indexOf("mvhd");  // version 0: times, time scale, duration
        patched = at > 0 && data[at + 4] == 0;
        if (patched) putBigEndian(data, at + 20, 4, bigEndian(data, at + 16, 4));
      } else if (kind == "mp4 cut")
        data.truncate(data.size() * 6 / 10);
      QVERIFY(patched);
      QVERIFY(writeAll(in, data));
    } else if (kind.endsWith("joined") || kind == "ts pause") {
      const QStringList codecs = kind == "vob joined"
                                     ? QStringList{"-c:v", "mpeg2video", "-c:a", "mp2", "-f", "vob"}
                                     : h264 + QStringList{"-f", "mpegts"};
      const QString a = dir.filePath("a"), b = dir.filePath("b");
      QVERIFY(onePart(a, "red", 440, 4, codecs));
      QVERIFY(
          onePart(b, "blue", 880, 4,
                  codecs + (kind == "ts pause" ? QStringList{"-output_ts_offset", "34"} : QStringList{})));
      QVERIFY(writeAll(in, readAll(a) + readAll(b)));
    } else if (kind == "mkv pause") {
      QVERIFY(twoParts(in, 4, 4, h264, 30));
    } else if (kind == "mp4 still") {
      // Red for 2 s, then that picture stays for 20 s (one picture lasting 20 s), then blue;
      // the first tone goes on through the still picture.
      QVERIFY(ffmpeg(colourAndTone("red", 440, 2) + colourAndTone("blue", 880, 2) +
                     QStringList{"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100:duration=20",
                                 "-filter_complex",
                                 "[0:v][2:v]concat=n=2:v=1:a=0,setpts='if(gte(T,2),PTS+20/TB,PTS)'[v];"
                                 "[1:a][4:a][3:a]concat=n=3:v=0:a=1[a]",
                                 "-map", "[v]", "-map", "[a]", "-fps_mode", "passthrough"} +
                     h264 + QStringList{in}));
    }
    const MediaFacts src = inspect(in);
    QVERIFY(src.ok);
    if (content == 0) content = src.video.decoded / 25.0;

    const QString out = dir.filePath("out.mp4");
    QStringList args = {"-y", "-ipt", in};
    if (copy)
      args << "-vcodec"
           << "copy"
           << "-acodec"
           << "copy";
    const Run run = runEncoder(args << out, true);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    const MediaFacts o = inspect(out);
    QVERIFY(o.ok && o.video.present && o.audio.present);
    for (double length : {o.video.duration, o.audio.duration})
      QVERIFY2(length >= 0.95 * content && length <= content + 2,
               qPrintable(QString("%1 %2 of %3").arg(o.video.duration).arg(o.audio.duration).arg(content)));
    if (secondPart >= 0) {
      const PartStart start = secondPartStart(out);
      QVERIFY2(qAbs(start.picture - secondPart) < 0.5 && qAbs(start.picture - start.sound) <= 0.1,
               qPrintable(QString("picture %1, sound %2").arg(start.picture).arg(start.sound)));
    }
    // Only a source whose data ends before its header says gets the warning line, once,
    // just before the summary.
    const QStringList warnings = run.lines.filter(
        QRegularExpression("^warning: short-source: .+ at [\\d.]+ s of a stated [\\d.]+ s$"));
    QCOMPARE(warnings.size(), kind == "mp4 cut" || kind == "flv long" ? 1 : 0);
    if (!warnings.isEmpty()) QCOMPARE(run.lines.indexOf(warnings.first()), run.lines.size() - 2);
    checkConsoleOfSuccess(run, o.duration);
  }

  // With VIDMORA_TRACE=1 every decision is one "trace: " line that says why; without it
  // nothing is traced, and the rest of the console is the same either way.
  void traceOfDecisions_data() {
    QTest::addColumn<QString>("source");  // the recipe of makeKept
    QTest::addColumn<QString>("traced");  // a trace line that must be there (a pattern)
    QTest::newRow("ts files joined: the jump back closed")
        << "ts joined"
        << "^trace: clock: the video timestamps jump by -[\\d.]+ s at [\\d.]+ s: closed, a step back of more "
           "than 1 s$";
    QTest::newRow("ts files joined: the sound moved alike")
        << "ts joined"
        << "^trace: clock: the audio timestamps jump by -[\\d.]+ s at [\\d.]+ s: closed, .*moved by the same "
           "shift as the stream that jumped there first$";
    QTest::newRow("a thumbnail first: left out as a still")
        << "thumbnail"
        << "^trace: streams: #0 video stream 1 \\(mjpeg\\) is a still picture \\(one frame\\) beside the "
           "film "
           "and is left out$";
    QTest::newRow("a thumbnail first: the film kept")
        << "thumbnail"
        << "^trace: streams: #1 video stream 2 \\(h264\\) is the film: the only moving picture$";
    QTest::newRow("the first sound track cannot be decoded")
        << "undecodable"
        << "^trace: streams: #1 sound track 1 \\(an unknown codec\\) cannot be decoded and is "
           "left out$";
    QTest::newRow("of two programs the larger picture's")
        << "programs"
        << "^trace: streams: program 2 of 2 is kept: its film is the largest";
  }

  void traceOfDecisions() {
    QFETCH(QString, source);
    QFETCH(QString, traced);
    QTemporaryDir dir;
    const QString in = makeKept(source, dir.path());
    QVERIFY2(!in.isEmpty(), qPrintable(source));
    const QStringList args{"-y", "-ipt", in, dir.filePath("out.mp4")};
    const Run plain = runEncoder(args, true);
    const Run run = runEncoder(args, true, {}, 60000, {"VIDMORA_TRACE=1"});
    QVERIFY2(plain.finished && plain.exitCode == 0, qPrintable(plain.text()));
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    const QRegularExpression trace("^trace: ");
    QCOMPARE(plain.lines.filter(trace), QStringList{});
    QVERIFY2(!run.lines.filter(QRegularExpression(traced)).isEmpty(),
             qPrintable(run.lines.filter(trace).join('\n')));
    // Progress and length lines come as the clock allows; all else is said alike.
    const auto said = [&](const Run& r) {
      QStringList lines;
      for (const QString& line : r.lines)
        if (!line.startsWith("trace: ") && !line.startsWith("frame=") && !line.startsWith("length: ") &&
            !line.contains("global headers:"))
          lines << line;
      return lines;
    };
    QCOMPARE(said(run), said(plain));
  }

  // A second request gives up at once: no summary, a failure status, no temporary file,
  // and the file that was at the output path stays as it was.
  void secondStopGivesUp_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("q twice") << "qq";
    QTest::newRow("q, then SIGTERM") << "q TERM";
    QTest::newRow("SIGTERM, then SIGINT") << "TERM INT";  // one signal twice may merge into one
  }

  void secondStopGivesUp() {
    QFETCH(QString, how);
    QTemporaryDir dir;
    const QString out = dir.filePath("out.mp4");
    QVERIFY(writeAll(out, "keep me"));
    const Run run = runEncoder({"-y", "-ipt", kData + "/src_long.mp4", "-s", "1280x720", out}, false,
                               [&](QProcess& p, const QString& line) {
                                 if (!line.startsWith("frame=") || line.contains("time=0.00")) return false;
                                 const pid_t pid = pid_t(p.processId());
                                 for (const QString& request : how.split(' ')) {
                                   if (request.startsWith("q")) {
                                     p.write(request.toLatin1());
                                     p.waitForBytesWritten(1000);
                                   } else {
                                     ::kill(pid, request == "INT" ? SIGINT : SIGTERM);
                                   }
                                 }
                                 return true;
                               });
    QVERIFY2(run.finished && run.exitCode != 0, qPrintable(run.text()));
    QCOMPARE(run.count("global headers:"), 0);
    QVERIFY2(run.lines.last().startsWith("Error: "), qPrintable(run.text()));
    QCOMPARE(readAll(out), QByteArray("keep me"));
    QCOMPARE(folderEntries(dir.path()), QStringList{"out.mp4"});
  }

  // The temporary file is written through the descriptor that created it: a link put in
  // its place during the conversion is neither written through nor moved over the output,
  // and a link planted at the output path is replaced, not followed.
  void linksNeverFollowed_data() {
    QTest::addColumn<QString>("where");
    QTest::newRow("link swapped in for the temporary file") << "temporary";
    QTest::newRow("link planted at the output path") << "output";
  }

  void linksNeverFollowed() {
    QFETCH(QString, where);
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath("victim.txt");
    QVERIFY(writeAll(victim, "precious"));
    const QString out = dir.filePath("out.mp4");
    if (where == "output") QVERIFY(QFile::link(victim, out));
    bool swapped = false;
    // The swap needs a conversion still running at its first progress line; a
    // link at the output path is checked with any source.
    const QString source = where == "temporary" ? "/src_long.mp4" : "/src_h264_aac.mp4";
    const Run run = runEncoder(
        {"-y", "-ipt", kData + source, "-s", "640x360", out}, true, [&](QProcess&, const QString& line) {
          if (where != "temporary" || !line.startsWith("frame=")) return false;
          const QStringList parts =
              QDir(dir.path()).entryList({".out.mp4.part-*"}, QDir::Files | QDir::Hidden);
          if (parts.isEmpty()) return false;
          // Replaced by rename, as an attacker would, in one step.
          const QString temp = dir.filePath(parts.first());
          const QString link = dir.filePath("planted");
          swapped = QFile::link(victim, link) &&
                    ::rename(QFile::encodeName(link).constData(), QFile::encodeName(temp).constData()) == 0;
          return true;
        });
    QCOMPARE(readAll(victim), QByteArray("precious"));
    QVERIFY2(run.finished, qPrintable(run.text()));
    if (where == "temporary") {
      QVERIFY(swapped);
      QVERIFY2(run.exitCode != 0 && run.lines.last().contains("temporary file was replaced"),
               qPrintable(run.text()));
      QVERIFY(!QFileInfo::exists(out));
    } else {
      QVERIFY2(run.exitCode == 0, qPrintable(run.text()));
      QVERIFY(!QFileInfo(out).isSymLink());
      QVERIFY(inspect(out).video.present);
    }
  }

  // Refusals and failures: one clear line, a non-zero status, no summary, quickly; the
  // source and any file already at the output path are left as they were, and no
  // temporary file stays behind.
  // A film with several sound tracks and subtitles: every sound track in order with its
  // language and the source's default; text subtitles (the source's and the file beside
  // it) as MP4 text tracks with their first cue; the picture subtitles named once; burned
  // in (text or DVD subtitles), the cue is in the picture and nowhere else.
  void tracks_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("opts");
    QTest::addColumn<QStringList>("subtitles");  // language and first cue of each text track
    QTest::addColumn<bool>("skipLine");          // the DVD subtitles named as left out
    QTest::addColumn<bool>("burned");
    const QStringList kept{"chi", "你好世界", "eng", "Hello there", "chi", "外挂字幕"};
    QTest::newRow("subtitles kept") << "film" << QStringList{} << kept << true << false;
    QTest::newRow("subtitles kept, said so")
        << "film" << QStringList{"-sub", "keep"} << kept << true << false;
    QTest::newRow("stream copy") << "film" << QStringList{"-vcodec", "copy", "-acodec", "copy"} << kept
                                 << true << false;
    QTest::newRow("subtitles left out")
        << "film" << QStringList{"-sub", "none"} << QStringList{} << false << false;
    QTest::newRow("text subtitles burned in")
        << "film" << QStringList{"-sub", "burn"} << QStringList{} << false << true;
    QTest::newRow("DVD subtitles kept") << "dvd" << QStringList{} << QStringList{} << true << false;
    QTest::newRow("DVD subtitles burned in")
        << "dvd" << QStringList{"-sub", "burn"} << QStringList{} << false << true;
  }

  void tracks() {
    QFETCH(QString, source);
    QFETCH(QStringList, opts);
    QFETCH(QStringList, subtitles);
    QFETCH(bool, skipLine);
    QFETCH(bool, burned);
    QTemporaryDir dir;
    QVERIFY(makeFilm(dir.path()));
    const QString in = dir.filePath(source + ".mkv"), out = dir.filePath("out.mp4");
    const Run run = runEncoder(QStringList{"-y", "-ipt", in} + opts + QStringList{out}, true);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    Luma outLuma, srcLuma;
    const MediaFacts o = inspectAt(out, 2.0, outLuma);
    QVERIFY(o.ok);
    QCOMPARE(o.decodeErrors, 0);
    checkConsoleOfSuccess(run, o.duration);

    QStringList sounds, texts;
    int defaultSound = -1, defaultText = -1;
    for (const TrackFacts& t : o.tracks) {
      QStringList& list = t.type == AVMEDIA_TYPE_AUDIO ? sounds : texts;
      int& def = t.type == AVMEDIA_TYPE_AUDIO ? defaultSound : defaultText;
      if (t.type == AVMEDIA_TYPE_VIDEO) continue;
      if (t.isDefault) {
        QCOMPARE(def, -1);  // one default of each kind
        def = list.size() / (t.type == AVMEDIA_TYPE_AUDIO ? 1 : 2);
      }
      list << t.language;
      if (t.type != AVMEDIA_TYPE_SUBTITLE) continue;
      list << cueText(t.firstPacket);
      // In time with the picture: the source's cues at 1 s and 0.5 s, the file's at 0.5 s.
      const double expected[] = {1.0, 0.5, 0.5};
      QVERIFY2(qAbs(t.firstTime - expected[texts.size() / 2 - 1]) < 0.05,
               qPrintable(QString::number(t.firstTime)));
    }
    QCOMPARE(sounds, (QStringList{"jpn", "chi"}));
    QCOMPARE(defaultSound, 1);
    QCOMPARE(texts, subtitles);
    QCOMPARE(defaultText, subtitles.isEmpty() ? -1 : 0);
    QCOMPARE(run.lines.filter(QString("tracks: sound=2 subtitles=%1").arg(subtitles.size() / 2)).size(), 1);
    // The DVD subtitles are named once where subtitles are kept as tracks.
    QCOMPARE(run.lines.filter(QRegularExpression("^warning: picture-subtitles: 1 .*dvd_subtitle")).size(),
             skipLine ? 1 : 0);

    // At 2 s the ASS cue stands at the bottom: burned in, the picture differs there from the
    // source's and nowhere else; otherwise it does not differ.
    inspectAt(in, 2.0, srcLuma);
    QCOMPARE(outLuma.width, 320);
    const auto top = lumaDifference(srcLuma.plane, outLuma.plane, 320, 0, 120);
    const auto bottom = lumaDifference(srcLuma.plane, outLuma.plane, 320, 170, 240);
    QVERIFY2(top.first < 2 && top.second < 40, qPrintable(QString::number(top.first)));
    if (burned)
      QVERIFY2(bottom.second > 100, qPrintable(QString::number(bottom.second)));
    else
      QVERIFY2(bottom.second < 40, qPrintable(QString::number(bottom.second)));
  }

  // Subtitle files of every kind beside a 2 s clip, kept and burned: the conversion ends
  // (exit 0) with at most one warning line about the file, the expected cue text kept (or
  // no track), a cue drawn or not, and an output no longer than its picture.
  void subtitleFilesBeside_data() {
    QTest::addColumn<QString>("name");     // the file beside clip.mkv
    QTest::addColumn<QString>("entry");    // what it is: file, pipe, folder, link (data: its target)
    QTest::addColumn<QByteArray>("data");  // its bytes
    QTest::addColumn<QString>("warning");  // the one warning line about it ("" none)
    QTest::addColumn<QString>("kept");     // the first cue's text kept, a pattern ("" no track)
    QTest::addColumn<bool>("drawn");       // burned in, a cue shows at 1 s

    const QString leftOut = "^warning: subtitle-left-out: the subtitle file \"[^\"]*clip\\.%1\" %2";
    const QString cut = "^warning: subtitle-cues: the subtitle file \"[^\"]*clip\\.%1\": .*%2";
    QByteArray noise(200000, '\0');
    quint32 x = 99;
    for (char& c : noise) c = char((x = x * 1664525u + 1013904223u) >> 24);
    const QString french = "Ça a été très difficile, n'est-ce pas ?\r\nOù êtes-vous, élève ?";
    const QString big5 = "我們這個時候還沒有來過這裡，請問發生了什麼事情？";
    const QString japanese = "これは日本語の字幕です。ありがとうございました。";
    const QString simplified = "我们这个时候还没有来过这里，请问发生了什么事情？";
    QByteArray drawing = "{\\p1}m 0 0";
    for (int i = 0; i < 200000; ++i)
      drawing += " l " + QByteArray::number(i % 300) + " " + QByteArray::number(i % 200);
    QByteArray nested =
        "{" + QByteArray("\\t(").repeated(20000) + "\\fs40" + QByteArray(")").repeated(20000) + "}";

    QTest::newRow("pipe") << "ass"
                          << "pipe" << QByteArray() << leftOut.arg("ass", "is a pipe") << "" << false;
    QTest::newRow("link to /dev/urandom")
        << "vtt"
        << "link" << QByteArray("/dev/urandom") << leftOut.arg("vtt", "is a link to a device") << "" << false;
    QTest::newRow("link to /dev/zero")
        << "srt"
        << "link" << QByteArray("/dev/zero") << leftOut.arg("srt", "is a link to a device") << "" << false;
    QTest::newRow("link to another user's file")
        << "srt"
        << "link" << QByteArray("@other") << leftOut.arg("srt", "is a link to a file of another user") << ""
        << false;
    QTest::newRow("link to a file of the user") << "srt"
                                                << "link" << QByteArray("@mine") << ""
                                                << "Mine" << true;
    QTest::newRow("another user's link to a file of the user")
        << "srt"
        << "link" << QByteArray("@mine, linked by another")
        << leftOut.arg("srt", "is a link another user made") << "" << false;
    QTest::newRow("folder") << "srt"
                            << "folder" << QByteArray() << leftOut.arg("srt", "is a folder") << "" << false;
    QTest::newRow("empty") << "srt"
                           << "file" << QByteArray() << leftOut.arg("srt", "is empty") << "" << false;
    QTest::newRow("random bytes") << "srt"
                                  << "file" << noise << leftOut.arg("srt", "") << "" << false;
    QTest::newRow("UTF-16 with a byte-order mark")
        << "srt"
        << "file" << inCharset("\uFEFF" + QString::fromUtf8(srtCue("你好，世界")), "UTF-16LE") << ""
        << "你好，世界" << true;
    QTest::newRow("UTF-8 with a broken byte")
        << "srt"
        << "file"
        << srtCue(
               "Caf\xC3\xA9 cr\xE8me \xC3\xA0 la fran\xC3\xA7"
               "aise, tr\xC3\xA8s bien")
        << "" << QRegularExpression::escape("Café cr\uFFFDme à la française, très bien") << true;
    QTest::newRow("French in Windows-1252")
        << "srt"
        << "file" << srtCue(inCharset(french, "WINDOWS-1252")) << ""
        << QRegularExpression::escape(QString(french).replace("\r\n", "\n")) << true;
    QTest::newRow("traditional Chinese in Big5")
        << "srt"
        << "file" << srtCue(inCharset(big5, "BIG5")) << "" << big5 << true;
    QTest::newRow("Japanese in Shift-JIS")
        << "srt"
        << "file" << srtCue(inCharset(japanese, "SHIFT_JIS")) << "" << japanese << true;
    QTest::newRow("simplified Chinese in GB18030")
        << "srt"
        << "file" << srtCue(inCharset(simplified, "GB18030")) << "" << simplified << true;
    QTest::newRow("ASS drawing of 200,000 points")
        << "ass"
        << "file" << assEvent(drawing + "{\\p0}Drawn") << cut.arg("ass", "cut down") << "Drawn" << true;
    QTest::newRow("ASS transforms nested 20,000 deep")
        << "ass"
        << "file" << assEvent(nested + "Nested") << cut.arg("ass", "cut down") << "Nested" << true;
    QTest::newRow("ASS font size 100,000,000")
        << "ass"
        << "file" << assEvent("{\\fs100000000}Big") << cut.arg("ass", "cut down") << "Big" << true;
    QTest::newRow("SRT line of 1 MB")
        << "srt"
        << "file" << srtCue(QByteArray(1 << 20, 'x')) << cut.arg("srt", "cut down") << "x{4000,4096}" << true;
    QTest::newRow("SRT of 50 MB") << "srt"
                                  << "file" << srtCue("Big file")
                                  << leftOut.arg("srt", "is larger than 20 MB") << "" << false;
    QTest::newRow("WebVTT with a reversed and a very long cue")
        << "vtt"
        << "file"
        << QByteArray(
               "WEBVTT\n\n00:00:01.000 --> 00:00:00.200\nReversed\n\n00:00:00.500 --> 01:00:00.000\nLong\n")
        << cut.arg("vtt", "1 cue that ends before it starts") << "Long" << true;
  }

  void subtitleFilesBeside() {
    QFETCH(QString, name);
    QFETCH(QString, entry);
    QFETCH(QByteArray, data);
    QFETCH(QString, warning);
    QFETCH(QString, kept);
    QFETCH(bool, drawn);
    QTemporaryDir dir;
    const QString in = dir.filePath("clip.mkv"), beside = dir.filePath("clip." + name);
    QVERIFY(makeGreyClip(in));
    if (entry == "file") {
      QVERIFY(writeAll(beside, data));
      // The 50 MB file: its first cue, then nothing (a sparse file is as large to a reader).
      if (QTest::currentDataTag() == QLatin1String("SRT of 50 MB")) QVERIFY(QFile(beside).resize(50 << 20));
    } else if (entry == "pipe") {
      QVERIFY(mkfifo(QFile::encodeName(beside).constData(), 0600) == 0);
    } else if (entry == "folder") {
      QVERIFY(QDir(dir.path()).mkdir("clip." + name));
    } else {
      QString target = QString::fromUtf8(data);
      if (target == "@other") target = otherUsersFile(dir.path());
      const bool linkedByAnother = target.endsWith(", linked by another");
      if (linkedByAnother && geteuid() != 0) QSKIP("only root can give a link to another user");
      if (target.startsWith("@mine")) {
        target = dir.filePath("mine.txt");
        QVERIFY(writeAll(target, srtCue("Mine")));
      }
      QVERIFY(!target.isEmpty() && QFile::link(target, beside));
      if (linkedByAnother) QVERIFY(lchown(QFile::encodeName(beside).constData(), 65534, 65534) == 0);
    }
    for (const QString mode : {"keep", "burn"}) {
      const QString out = dir.filePath(mode + ".mp4");
      const Run run = runEncoder({"-y", "-ipt", in, "-sub", mode, out}, false, {}, 120000);
      QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
      if (entry == "pipe")
        qInfo("%s with a pipe beside the source: ended after %lld ms", qPrintable(mode), run.ms);
      const QStringList about = run.lines.filter(QRegularExpression("^warning: .*clip\\." + name));
      QCOMPARE(about.size(), warning.isEmpty() ? 0 : 1);
      if (!warning.isEmpty())
        QVERIFY2(QRegularExpression(warning).match(about[0]).hasMatch(), qPrintable(about[0]));
      const MediaFacts o = inspect(out);
      QVERIFY(o.ok);
      checkConsoleOfSuccess(run, o.duration);
      QVERIFY2(o.duration <= o.video.duration + 0.1, qPrintable(QString::number(o.duration)));
      const QList<CueTrack> tracks = subtitleTracks(o);
      if (mode == "keep") {
        QCOMPARE(tracks.size(), kept.isEmpty() ? 0 : 1);
        if (!kept.isEmpty())
          QVERIFY2(
              QRegularExpression(QRegularExpression::anchoredPattern(kept)).match(tracks[0].text).hasMatch(),
              qPrintable(tracks[0].text.left(100)));
      } else {
        QCOMPARE(tracks.size(), 0);
        QCOMPARE(drawnAt(in, out, 1.0), drawn);
      }
    }
  }

  // When cues are shown: the first cue's start and length as the file (or the source's
  // track) gives them, after a closed 30 s pause of the source's clock too, and never past
  // the end of the picture.
  void cueTiming_data() {
    QTest::addColumn<double>("pause");     // seconds of the source's clock between its two 2 s parts
    QTest::addColumn<bool>("inside");      // the cues are a track of the source, not a file beside it
    QTest::addColumn<QString>("name");     // the file's extension
    QTest::addColumn<QByteArray>("cues");  // the file
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("length");
    const QByteArray srt =
        "1\n00:00:00,500 --> 00:00:01,700\nFirst\n\n2\n00:00:02,500 --> 00:00:03,000\nSecond\n";
    const QByteArray late = "1\n00:00:33,000 --> 00:00:33,500\nAfter the pause\n";
    QTest::newRow("SRT beside") << 0.0 << false << "srt" << srt << 0.5 << 1.2;
    QTest::newRow("WebVTT beside") << 0.0 << false << "vtt"
                                   << QByteArray("WEBVTT\n\n00:00:01.250 --> 00:00:01.750\nFirst\n") << 1.25
                                   << 0.5;
    QTest::newRow("ASS beside") << 0.0 << false << "ass"
                                << QByteArray(kFilmAss).replace("0:00:01.00,0:00:03.00",
                                                                "0:00:00.40,0:00:01.00")
                                << 0.4 << 0.6;
    QTest::newRow("SRT inside") << 0.0 << true << "srt" << srt << 0.5 << 1.2;
    QTest::newRow("past the end of the picture")
        << 0.0 << false << "srt" << QByteArray("1\n00:00:03,500 --> 00:01:00,000\nLast\n") << 3.5 << 0.5;
    QTest::newRow("beside, after a 30 s pause") << 30.0 << false << "srt" << late << 3.0 << 0.5;
    QTest::newRow("inside, after a 30 s pause") << 30.0 << true << "srt" << late << 3.0 << 0.5;
  }

  void cueTiming() {
    QFETCH(double, pause);
    QFETCH(bool, inside);
    QFETCH(QString, name);
    QFETCH(QByteArray, cues);
    QFETCH(double, start);
    QFETCH(double, length);
    QTemporaryDir dir;
    const QString clip = dir.filePath("clip.mkv"), cueFile = dir.filePath("clip." + name);
    const QString in = inside ? dir.filePath("with.mkv") : clip;
    QVERIFY(twoParts(clip, 2, 2, {"-c:v", "libx264", "-preset", "veryfast", "-c:a", "aac"}, pause));
    QVERIFY(writeAll(cueFile, cues));
    if (inside) {
      QVERIFY(ffmpeg({"-i", clip, "-i", cueFile, "-map", "0", "-map", "1", "-c", "copy", "-c:s", "srt", in}));
      QVERIFY(QFile::remove(cueFile));
    }
    const QString out = dir.filePath("out.mp4");
    const Run run = runEncoder({"-y", "-ipt", in, out}, true);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    const MediaFacts o = inspect(out);
    QVERIFY2(o.duration <= o.video.duration + 0.1, qPrintable(QString::number(o.duration)));
    const QList<CueTrack> tracks = subtitleTracks(o);
    QCOMPARE(tracks.size(), 1);
    QVERIFY2(qAbs(tracks[0].start - start) < 0.05, qPrintable(QString::number(tracks[0].start)));
    QVERIFY2(qAbs(tracks[0].length - length) < 0.05, qPrintable(QString::number(tracks[0].length)));
  }

  // DVD subtitles burned in: a cue without an end of its own (at the bottom) is shown until
  // the next cue (at the top) ends it, and not again after that one; one with its own end is
  // gone after it.
  void pictureCueEnds_data() {
    QTest::addColumn<QList<PictureCue>>("cues");
    QTest::addColumn<double>("at");
    QTest::addColumn<bool>("bottom");  // the bottom bar is drawn at `at`
    const QList<PictureCue> open{{1, true, 0}, {3, false, 0}};
    QTest::newRow("no end, before the next") << open << 2.5 << true;
    QTest::newRow("no end, after the next") << open << 3.5 << false;
    // Ended by the next, it stays ended once the next has gone too.
    QTest::newRow("no end, after the next has ended")
        << QList<PictureCue>{{1, true, 0}, {3, false, 0.4}} << 3.7 << false;
    QTest::newRow("an end of its own, after it") << QList<PictureCue>{{1, true, 1}} << 2.5 << false;
  }

  void pictureCueEnds() {
    QFETCH(QList<PictureCue>, cues);
    QFETCH(double, at);
    QFETCH(bool, bottom);
    QTemporaryDir dir;
    const QString plain = dir.filePath("plain.mkv"), in = dir.filePath("dvd.mkv"),
                  out = dir.filePath("out.mp4");
    QVERIFY(makeGreyClip(plain, 4));
    QVERIFY(addPictureSubtitles(plain, in, cues));
    const Run run = runEncoder({"-y", "-ipt", in, "-sub", "burn", out}, true);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    Luma src, drawn;
    inspectAt(in, at, src);
    inspectAt(out, at, drawn);
    QCOMPARE(drawn.width, 320);
    QCOMPARE(lumaDifference(src.plane, drawn.plane, 320, 170, 240).second > 100, bottom);
  }

  // The reader's language first: files beside the source ordered Chinese (simplified, then
  // traditional), then the others, whatever their names' letter case; the first Chinese
  // track is the default and the one drawn.
  void subtitleLanguages_data() {
    QTest::addColumn<QStringList>("files");         // name, then an SRT cue's text and its start second
    QTest::addColumn<QStringList>("kept");          // language and first cue of each track, in order
    QTest::addColumn<double>("shownAt");            // the default track's cue, drawn when burned
    QTest::addColumn<QList<double>>("notDrawnAt");  // the others' cues
    QTest::newRow("Chinese without a language part, zh, en")
        << QStringList{"film.en.vtt", "English",     "1.5",      "film.srt", "中文字幕",
                       "0.2",         "film.zh.ass", "中文特效", "1.0"}
        << QStringList{"chi", "中文字幕", "chi", "中文特效", "eng", "English"} << 0.5
        << QList<double>{1.2, 1.7};
    QTest::newRow("Windows spellings in capitals")
        << QStringList{"film.ENG.srt", "English",      "1.5",  "film.CHT.srt", "繁體",
                       "1.0",          "film.CHS.srt", "简体", "0.2"}
        << QStringList{"chi", "简体", "chi", "繁體", "eng", "English"} << 0.5 << QList<double>{1.2, 1.7};
  }

  void subtitleLanguages() {
    QFETCH(QStringList, files);
    QFETCH(QStringList, kept);
    QFETCH(double, shownAt);
    QFETCH(QList<double>, notDrawnAt);
    QTemporaryDir dir;
    const QString in = dir.filePath("film.mkv");
    QVERIFY(makeGreyClip(in));
    for (int k = 0; k + 2 < files.size(); k += 3) {
      const double at = files[k + 2].toDouble();
      const QString times = QString("00:00:0%1,%2 --> 00:00:0%3,%4")
                                .arg(int(at))
                                .arg(int(at * 1000) % 1000, 3, 10, QChar('0'))
                                .arg(int(at + 0.4))
                                .arg(int((at + 0.4) * 1000) % 1000, 3, 10, QChar('0'));
      const QString ext = files[k].section('.', -1);
      QByteArray data = ("1\n" + times + "\n" + files[k + 1] + "\n").toUtf8();
      if (ext == "vtt") data = "WEBVTT\n\n" + data.mid(2).replace(',', '.');
      if (ext == "ass")
        data =
            assEvent(files[k + 1].toUtf8())
                .replace("0:00:00.00,0:00:03.00",
                         QString("0:00:0%1,0:00:0%2").arg(at, 0, 'f', 2).arg(at + 0.4, 0, 'f', 2).toUtf8());
      QVERIFY(writeAll(dir.filePath(files[k]), data));
    }
    const QString out = dir.filePath("out.mp4"), burned = dir.filePath("burned.mp4");
    Run run = runEncoder({"-y", "-ipt", in, out}, true);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    QStringList texts;
    int defaultTrack = -1;
    const QList<CueTrack> tracks = subtitleTracks(inspect(out));
    for (int k = 0; k < tracks.size(); ++k) {
      texts << tracks[k].language << tracks[k].text;
      if (tracks[k].isDefault) defaultTrack = defaultTrack < 0 ? k : -2;
    }
    QCOMPARE(texts, kept);
    QCOMPARE(defaultTrack, 0);
    run = runEncoder({"-y", "-ipt", in, "-sub", "burn", burned}, true);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    QVERIFY(drawnAt(in, burned, shownAt));
    for (double at : notDrawnAt) QVERIFY2(!drawnAt(in, burned, at), qPrintable(QString::number(at)));
  }

  // A sound track that a copy cannot put into MP4 as it is (FLAC), or that cannot be decoded,
  // is left out and named by its place among the source's, the first one included, while
  // another can be kept; the tracks after it keep their place and their own sound.
  void soundTrackLeftOut_data() {
    QTest::addColumn<QString>("source");  // the recipe of makeKept
    QTest::addColumn<QStringList>("opts");
    QTest::addColumn<QStringList>("kept");     // each sound track of the output: codec and language
    QTest::addColumn<QStringList>("leftOut");  // the tracks named in warning lines
    const QStringList copy{"-vcodec", "copy", "-acodec", "copy"};
    QTest::newRow("flac second, copied")
        << "flac second" << copy << QStringList{"aac jpn", "mp3 eng"} << QStringList{"sound track 2 (flac)"};
    QTest::newRow("flac second, converted") << "flac second" << QStringList{"-acodec", "libmp3lame"}
                                            << QStringList{"mp3 jpn", "mp3 ger", "mp3 eng"} << QStringList{};
    QTest::newRow("first and third undecodable")
        << "undecodable 1 and 3" << QStringList{} << QStringList{"aac eng", "aac fre"}
        << QStringList{"sound track 1 (an unknown codec)", "sound track 3 (an unknown codec)"};
    QTest::newRow("first and third undecodable, sound copied")
        << "undecodable 1 and 3" << QStringList{"-acodec", "copy"} << QStringList{"aac eng", "aac fre"}
        << QStringList{"sound track 1 (an unknown codec)", "sound track 3 (an unknown codec)"};
  }
  void soundTrackLeftOut() {
    QFETCH(QString, source);
    QFETCH(QStringList, opts);
    QFETCH(QStringList, kept);
    QFETCH(QStringList, leftOut);
    QTemporaryDir dir;
    const QString in = makeKept(source, dir.path()), out = dir.filePath("out.mp4");
    QVERIFY(!in.isEmpty());
    const Run run = runEncoder(QStringList{"-y", "-ipt", in} + opts + QStringList{out}, true);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    QStringList sounds;
    for (const TrackFacts& t : inspect(out).tracks)
      if (t.type == AVMEDIA_TYPE_AUDIO) sounds << t.codec + " " + t.language;
    QCOMPARE(sounds, kept);
    QStringList named;
    for (const QString& line : run.lines.filter(QRegularExpression("^warning: sound-left-out: ")))
      named << line.section(": ", 2).section(')', 0, 0) + ")";
    QCOMPARE(named, leftOut);
    QCOMPARE(run.lines.filter(QRegularExpression("^tracks: ")).last(),
             QString("tracks: sound=%1 subtitles=0").arg(kept.size()));
  }

  // What a file holds is kept: the film and not its thumbnail, chapters, tags, a cover; a
  // copy puts what MP4 carries into it as it is, with the container's aspect; of two
  // programs the one with the larger picture, with its own sound only; a sound track that
  // cannot be decoded or holds nothing is left out and the tracks said as kept; a portrait
  // picture takes the chosen size standing up, with square pixels.
  void keepsWhatTheFileHolds_data() {
    QTest::addColumn<QString>("source");  // the recipe of makeKept
    QTest::addColumn<QStringList>("opts");
    QTest::addColumn<QString>("picture");  // the output's picture: codec and size
    QTest::addColumn<double>("dar");       // its display aspect; 0: not checked
    QTest::addColumn<QStringList>("sounds");
    QTest::addColumn<int>("rate");  // of the first sound track
    QTest::addColumn<QStringList>("chapters");
    QTest::addColumn<QString>("tags");  // "key=value|..." the output holds (among others)
    QTest::addColumn<bool>("cover");
    QTest::addColumn<bool>("samePackets");  // the picture's and first sound's packets are the source's
    QTest::addColumn<QString>("said");      // a console line that must be there (a pattern); "" none
    QTest::addColumn<QString>("tracks");    // the last tracks line

    const QStringList copy{"-vcodec", "copy", "-acodec", "copy"};
    const QStringList chapters{"0:第一章", "2:第二章"};
    const QString tags =
        "creation_time=2021-05-01T10:20:30.000000Z|title=标题|location=+39.9042+116.4074/|"
        "make=Apple|model=iPhone 12";
    const QString one = "sound=1 subtitles=0";
    for (const bool copied : {false, true}) {
      const QStringList opts = copied ? copy : QStringList{};
      const char* how = copied ? "copied" : "converted";
      QTest::addRow("thumbnail-first mkv, %s", how)
          << "thumbnail" << opts << "h264 160x120" << 4.0 / 3 << QStringList{"aac"} << 44100 << QStringList{}
          << "" << false << false
          << "video stream 1 \\(mjpeg\\) is a still picture \\(one frame\\) beside the film" << one;
      QTest::addRow("two chapters with their titles, %s", how)
          << "chapters" << opts << "h264 160x120" << 0.0 << QStringList{"aac"} << 44100 << chapters << ""
          << false << copied << "chapters: 2" << one;
      QTest::addRow("chapters across a 30 s pause, %s", how)
          << "paused chapters" << opts << "h264 160x120" << 0.0 << QStringList{"aac"} << 44100
          << QStringList{"0:第一章", "2:第二章"} << "" << false << copied << "jump by 30" << one;
      QTest::addRow("tags, %s", how) << "tags" << opts << "h264 160x120" << 0.0 << QStringList{"aac"} << 44100
                                     << QStringList{} << tags << false << copied << "" << one;
      QTest::addRow("a cover, %s", how)
          << "cover" << opts << "h264 160x120" << 0.0 << QStringList{"aac"} << 44100 << QStringList{} << ""
          << true << copied << "cover: mjpeg 64x48" << one;
      QTest::addRow("two programs, %s", how)
          << "programs" << opts << "h264 320x240" << 0.0 << QStringList{"aac"} << 48000 << QStringList{} << ""
          << false << false << "sound track 1 \\(aac\\) belongs to program 1 and is left out" << one;
      QTest::addRow("an empty sound track, %s", how)
          << "empty" << opts << "h264 160x120" << 0.0 << QStringList{"aac"} << 44100 << QStringList{} << ""
          << false << copied << "sound track 2 \\(aac\\) holds no sound" << one;
    }
    QTest::newRow("vp9 and e-ac-3 copied")
        << "vp9 eac3" << copy << "vp9 160x120" << 0.0 << QStringList{"eac3"} << 48000 << QStringList{} << ""
        << false << true << "" << one;
    QTest::newRow("mpeg-2 and mp2 copied (MP4 names MPEG audio mp3)")
        << "mpeg2 mp2" << copy << "mpeg2video 160x120" << 0.0 << QStringList{"mp3"} << 48000 << QStringList{}
        << "" << false << true << "" << one;
    QTest::newRow("16:9 only in the container, copied")
        << "aspect" << copy << "h264 160x120" << 16.0 / 9 << QStringList{"aac"} << 44100 << QStringList{}
        << "" << false << true << "" << one;
    QTest::newRow("the first sound track cannot be decoded")
        << "undecodable" << QStringList{} << "h264 160x120" << 0.0 << QStringList{"aac"} << 48000
        << QStringList{} << "" << false << false
        << "^warning: sound-left-out: sound track 1 \\(an unknown codec\\) cannot be decoded" << one;
    QTest::newRow("portrait 360x640 at 640x360")
        << "portrait" << QStringList{"-s", "640x360"} << "h264 360x640" << 9.0 / 16 << QStringList{} << 0
        << QStringList{} << "" << false << false << "standing up"
        << "sound=0 subtitles=0";
    QTest::newRow("a turned phone recording at 640x360, aspect 16:9")
        << "turned phone" << QStringList{"-s", "640x360", "-aspect", "16:9"} << "h264 360x640" << 9.0 / 16
        << QStringList{"aac"} << 0 << QStringList{} << "" << false << false << "standing up" << one;
  }

  void keepsWhatTheFileHolds() {
    QFETCH(QString, source);
    QFETCH(QStringList, opts);
    QFETCH(QString, picture);
    QFETCH(double, dar);
    QFETCH(QStringList, sounds);
    QFETCH(int, rate);
    QFETCH(QStringList, chapters);
    QFETCH(QString, tags);
    QFETCH(bool, cover);
    QFETCH(bool, samePackets);
    QFETCH(QString, said);
    QFETCH(QString, tracks);
    QTemporaryDir dir;
    const QString in = makeKept(source, dir.path());
    QVERIFY2(!in.isEmpty(), qPrintable(source));
    const QString out = dir.filePath("out.mp4");
    const Run run = runEncoder(QStringList{"-y", "-ipt", in} + opts + QStringList{out}, true);
    QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.text()));
    const MediaFacts o = inspect(out);
    QVERIFY(o.ok);
    QCOMPARE(o.decodeErrors, 0);
    checkConsoleOfSuccess(run, o.duration);

    QCOMPARE(QString("%1 %2x%3").arg(o.video.codec).arg(o.video.width).arg(o.video.height), picture);
    if (dar > 0) QVERIFY2(qAbs(o.video.dar - dar) < 0.01, qPrintable(QString::number(o.video.dar)));
    // The whole film: the picture lasts as long as the file, a picture every frame.
    QVERIFY2(
        o.video.duration >= 0.9 * o.duration && o.video.decoded >= int(o.video.duration * o.video.fps) - 2,
        qPrintable(
            QString("%1 pictures, %2 s of %3 s").arg(o.video.decoded).arg(o.video.duration).arg(o.duration)));
    QStringList outSounds;
    bool hasCover = false;
    for (const TrackFacts& t : o.tracks) {
      if (t.type == AVMEDIA_TYPE_AUDIO) outSounds << t.codec;
      hasCover = hasCover || t.attachedPicture;
    }
    QCOMPARE(outSounds, sounds);
    if (rate) QCOMPARE(o.audio.sampleRate, rate);
    QCOMPARE(o.chapters, chapters);
    for (const QString& tag : tags.split('|', Qt::SkipEmptyParts))
      QCOMPARE(o.tags.value(tag.section('=', 0, 0)), tag.section('=', 1));
    QCOMPARE(hasCover, cover);
    if (samePackets) {
      const FilePackets a = readPackets(in), b = readPackets(out);
      QVERIFY(!b.video.hashes.isEmpty() && b.video.hashes == a.video.hashes);
      QVERIFY(!b.audio.hashes.isEmpty() && b.audio.hashes == a.audio.hashes);
    }
    if (!said.isEmpty())
      QVERIFY2(!run.lines.filter(QRegularExpression(said)).isEmpty(), qPrintable(run.text()));
    const QStringList tracksLines = run.lines.filter(QRegularExpression("^tracks: "));
    QVERIFY(!tracksLines.isEmpty());
    QCOMPARE(tracksLines.last(), "tracks: " + tracks);
  }

  // Refusals and failures: one error line with the code the front-end reads, nothing else
  // said, and nothing in the folder touched. Each row lays out the scratch folder (files with
  // their bytes, then links, pipes and read-only folders), runs the encoder there with its
  // tokens (paths relative to the folder) and names the code and a part of the detail.
  void errors_data() {
    QTest::addColumn<QVariantMap>("files");  // path -> bytes
    QTest::addColumn<QStringList>(
        "made");  // "link PATH TARGET", "hardlink PATH TARGET", "fifo PATH", "readonly PATH"
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message");

    QByteArray noise(200000, '\0');
    quint32 x = 12345;
    for (char& c : noise) c = char((x = x * 1664525u + 1013904223u) >> 24);
    const QVariantMap sample{{"sub/in.mp4", readAll(kData + "/src_h264_aac.mp4")}};
    const auto with = [&](const QVariantMap& more) {
      QVariantMap files = sample;
      files.insert(more);
      return files;
    };
    QTemporaryDir scratch;
    const QByteArray noSound = readAll(makeKept("no sound decodable", scratch.path()));
    const QStringList none;

    QTest::newRow("unknown option") << sample << none
                                    << QStringList{"-y", "-ipt", "sub/in.mp4", "-crf", "20", "out.mp4"}
                                    << "bad-option"
                                    << "unknown option '-crf'";
    QTest::newRow("missing value") << sample << none
                                   << QStringList{"-y", "-ipt", "sub/in.mp4", "-b:v", "out.mp4"}
                                   << "bad-option"
                                   << "needs a value";
    QTest::newRow("malformed size") << sample << none
                                    << QStringList{"-y", "-ipt", "sub/in.mp4", "-s", "320by240", "out.mp4"}
                                    << "bad-option"
                                    << "invalid value '320by240'";
    QTest::newRow("missing input") << sample << none
                                   << QStringList{"-y", "-ipt", "sub/nothing-here.avi", "out.mp4"}
                                   << "source-missing"
                                   << "No such file";
    QTest::newRow("random bytes") << QVariantMap{{"sub/in.mp4", noise}} << none
                                  << QStringList{"-y", "-ipt", "sub/in.mp4", "out.mp4"} << "source-damaged"
                                  << "the source";
    QTest::newRow("zero bytes") << QVariantMap{{"sub/in.mp4", QByteArray("")}} << none
                                << QStringList{"-y", "-ipt", "sub/in.mp4", "out.mp4"} << "source-damaged"
                                << "the source";
    QTest::newRow("truncated mp4, index at the end")
        << QVariantMap{{"sub/in.mp4", readAll(kData + "/src_long.mp4").left(50000)}} << none
        << QStringList{"-y", "-ipt", "sub/in.mp4", "out.mp4"} << "source-damaged"
        << "the source";
    QTest::newRow("no sound track can be decoded")
        << QVariantMap{{"sub/in.mkv", noSound}} << none << QStringList{"-y", "-ipt", "sub/in.mkv", "out.mp4"}
        << "source-unsupported"
        << "the source's audio (an unknown codec) cannot be decoded";
    QTest::newRow("output folder missing")
        << sample << none << QStringList{"-y", "-ipt", "sub/in.mp4", "absent/out.mp4"} << "output-unwritable"
        << "output folder";
    QTest::newRow("output folder is a file")
        << with({{"plain", QByteArray("x")}}) << none
        << QStringList{"-y", "-ipt", "sub/in.mp4", "plain/out.mp4"} << "output-unwritable"
        << "output folder";
    QTest::newRow("output folder its owner may not write")
        << sample << QStringList{"readonly locked"}
        << QStringList{"-y", "-ipt", "sub/in.mp4", "locked/out.mp4"} << "output-unwritable"
        << "output folder";
    QTest::newRow("output folder nobody may write, root included")
        << sample << none << QStringList{"-y", "-ipt", "sub/in.mp4", "/proc/vidmora-out.mp4"}
        << "output-unwritable"
        << "output folder";
    QTest::newRow("output is input") << sample << none
                                     << QStringList{"-y", "-ipt", "sub/in.mp4", "sub/in.mp4"}
                                     << "output-is-source"
                                     << "is the source file itself";
    QTest::newRow("output is input via ./")
        << sample << none << QStringList{"-y", "-ipt", "sub/in.mp4", "sub/./in.mp4"} << "output-is-source"
        << "is the source file itself";
    QTest::newRow("output is input via ../")
        << sample << none << QStringList{"-y", "-ipt", "sub/in.mp4", "sub/../sub/in.mp4"}
        << "output-is-source"
        << "is the source file itself";
    QTest::newRow("output is a link to input")
        << sample << QStringList{"link link.mp4 sub/in.mp4"}
        << QStringList{"-y", "-ipt", "sub/in.mp4", "link.mp4"} << "output-is-source"
        << "is the source file itself";
    QTest::newRow("output is a hard link to input")
        << sample << QStringList{"hardlink hard.mp4 sub/in.mp4"}
        << QStringList{"-y", "-ipt", "sub/in.mp4", "hard.mp4"} << "output-is-source"
        << "is the source file itself";
    QTest::newRow("existing output without -y")
        << with({{"out.mp4", QByteArray("keep me")}}) << none << QStringList{"-ipt", "sub/in.mp4", "out.mp4"}
        << "output-name"
        << "exists already";
    QTest::newRow("failed conversion over existing output")
        << QVariantMap{{"sub/in.mp4", noise}, {"out.mp4", QByteArray("keep me")}} << none
        << QStringList{"-y", "-ipt", "sub/in.mp4", "out.mp4"} << "source-damaged"
        << "the source";
    QTest::newRow("mp3 at an impossible rate")
        << sample << none
        << QStringList{"-y", "-ipt", "sub/in.mp4", "-acodec", "libmp3lame", "-ar", "96000", "out.mp4"}
        << "option-unsupported"
        << "96000 Hz";
    // Both name the sample beside them; neither may pull it into the output.
    QTest::newRow("local playlist named .mp4")
        << with({{"sub/list.mp4",
                  QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:3\n#EXTINF:3,\nin.mp4\n#EXT-X-ENDLIST\n")}})
        << none << QStringList{"-y", "-ipt", "sub/list.mp4", "out.mp4"} << "source-not-regular"
        << "list of other files";
    QTest::newRow("concatenation list named .mp4")
        << with({{"sub/list.mp4", QByteArray("ffconcat version 1.0\nfile in.mp4\n")}}) << none
        << QStringList{"-y", "-ipt", "sub/list.mp4", "out.mp4"} << "source-not-regular"
        << "list of other files";
    QTest::newRow("output name of 300 bytes")
        << sample << none << QStringList{"-y", "-ipt", "sub/in.mp4", QString(296, 'n') + ".mp4"}
        << "output-name"
        << "too long";
    QTest::newRow("copy of flv1 picture")
        << QVariantMap{{"sub/in.flv", readAll(kData + "/src_flv1_mp3.flv")}} << none
        << QStringList{"-y", "-ipt", "sub/in.flv", "-vcodec", "copy", "out.mp4"} << "copy-unsupported"
        << "video (flv1) cannot be copied";
    QTest::newRow("copy of opus sound")
        << QVariantMap{{"sub/in.webm", readAll(kData + "/src_vp9_opus.webm")}} << none
        << QStringList{"-y", "-ipt", "sub/in.webm", "-acodec", "copy", "out.mp4"} << "copy-unsupported"
        << "audio (opus) cannot be copied";
    QTest::newRow("named pipe as source")
        << QVariantMap{} << QStringList{"fifo sub/pipe.avi"}
        << QStringList{"-y", "-ipt", "sub/pipe.avi", "out.mp4"} << "source-not-regular"
        << "is not a regular file (a pipe)";
    QTest::newRow("device as source")
        << QVariantMap{} << none << QStringList{"-y", "-ipt", "/dev/zero", "out.mp4"} << "source-not-regular"
        << "is not a regular file (a device)";
  }

  void errors() {
    QFETCH(QVariantMap, files);
    QFETCH(QStringList, made);
    QFETCH(QStringList, args);
    QFETCH(QString, code);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QDir root(dir.path());
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
      QVERIFY(root.mkpath(QFileInfo(it.key()).path()));
      QVERIFY(writeAll(root.filePath(it.key()), it.value().toByteArray()));
    }
    for (const QString& entry : made) {
      const QStringList w = entry.split(' ');
      const QByteArray path = QFile::encodeName(root.filePath(w[1]));
      QVERIFY(root.mkpath(QFileInfo(w[1]).path()));
      if (w[0] == "link") QVERIFY(QFile::link(w[2], root.filePath(w[1])));
      if (w[0] == "hardlink")
        QVERIFY(::link(QFile::encodeName(root.filePath(w[2])).constData(), path.constData()) == 0);
      if (w[0] == "fifo") QVERIFY(mkfifo(path.constData(), 0600) == 0);
      if (w[0] == "readonly") {
        if (geteuid() == 0) QSKIP("root may write in a folder its owner may not");
        QVERIFY(root.mkdir(w[1]) &&
                QFile::setPermissions(root.filePath(w[1]), QFile::ReadOwner | QFile::ExeOwner));
      }
    }
    const QStringList before = treeSnapshot(dir.path());

    const Run run = runEncoder(args, false, {}, 20000, {}, dir.path());
    QVERIFY2(run.finished, "the encoder did not end by itself");
    QVERIFY2(run.exitCode != 0, qPrintable(run.text()));
    QVERIFY2(run.ms < 10000, qPrintable(QString::number(run.ms)));
    // Refused before any work: the error line is all that is said.
    QVERIFY2(run.lines.size() == 1, qPrintable(run.text()));
    QVERIFY2(run.lines.last().startsWith("Error: " + code + ": "), qPrintable(run.text()));
    QVERIFY2(run.lines.last().contains(message), qPrintable(run.lines.last()));
    QCOMPARE(treeSnapshot(dir.path()), before);
  }
};

QTEST_GUILESS_MAIN(TestEncoderConversion)
#include "tst_encoder_conversion.moc"
