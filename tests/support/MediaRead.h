#pragma once
// Reads a media file back with FFmpeg's libraries, as the tests judge an output (or
// its source): what the container says of its first video and first audio stream, and
// what decoding their packets gives.
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QStringList>
#include <QString>

#include <functional>

extern "C" {
struct AVFrame;
struct AVPacket;
struct AVStream;
}

namespace TestMedia {

struct StreamFacts {
  bool present = false;
  QString codec;
  QString tag;                 // the container's four-character code
  int width = 0, height = 0;   // pictures as stored
  double fps = 0, sar = 1, dar = 0;
  int sampleRate = 0, channels = 0;
  double start = 0;            // the stream's start after the file's, seconds
  double duration = 0;         // as the stream states it, seconds (0 when it does not)
  qint64 bytes = 0;            // of all its packets
  int decoded = 0;             // frames decoded
  double firstTime = 0;        // time of the first decoded frame, seconds
};

// Every stream of a file, in file order: its kind, language, default flag and first packet.
struct TrackFacts {
  int type = -1;  // an AVMediaType
  QString codec, language;
  bool isDefault = false;
  bool attachedPicture = false;  // a cover picture
  QByteArray firstPacket;        // the first packet of more than two bytes (an MP4 text track
                                 // begins with an empty sample up to its first cue)
  double firstTime = 0;          // seconds, of that packet
  double firstDuration = 0;      // seconds, of that packet (a cue: how long it is shown)
};

struct MediaFacts {
  bool ok = false;  // the file opens and its streams are known
  QString error;
  QString format;
  double duration = 0;  // the container's, seconds (0 when it states none)
  StreamFacts video, audio;
  QList<TrackFacts> tracks;
  int decodeErrors = 0;
  int interlacedPictures = 0;
  double rotation = 0;     // degrees, from the video stream's display matrix
  bool hasMatrix = false;  // a display matrix other than "as stored"
  QString primaries, transfer, matrix, range;  // the video stream's colour tags
  QMap<QString, QString> tags;                 // the container's, keys as the library gives them
  QStringList chapters;                        // "start seconds:title", in order
};

enum class Decode { None, FirstPicture, All };

struct ReadOptions {
  Decode decode = Decode::All;
  // Each decoded picture and sound frame, in order, with its time in seconds.
  std::function<void(const AVFrame*, double time)> onPicture, onSound;
  // Each packet of the two streams, in file order (video: whether it is the video stream's).
  std::function<void(const AVPacket*, const AVStream*, bool video)> onPacket;
};

MediaFacts Read(const QString& path, const ReadOptions& options = {});

}  // namespace TestMedia
