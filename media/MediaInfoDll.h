#pragma once
// The media-information library: loaded at run time by file name the first time
// a probe needs it, kept until the program ends, and reached only through the
// probe below. Every caller (file list, properties panel, output name, preview
// player) asks its questions through ProbeMediaFile or one of its shorthands.
#include <QString>
#include <QStringList>
#include <QVector>

// One question about a file. Each has a fixed stream kind, parameter name(s)
// and a small text transformation applied after the library answered.
enum class MediaQuery {
  BaseName,       // general "FileName": name without folder and extension
  Extension,      // general "FileExtension": without the dot
  DisplayName,    // base name + "." + extension
  Size,           // general "FileSize" in bytes, shown as megabytes: "12.34 MB"
  Duration,       // general "Duration/String3" up to its seconds, "hh:mm:ss"
                  // (the caller's fallback when the library gives none)
  VideoCodec,     // first video stream "Codec/String"
  VideoBitRate,   // first video stream "BitRate/String"
  PictureSize,    // first video stream width + "x" + height ("" when either is unknown)
  FrameRate,      // first video stream "FrameRate/String"
  AspectRatio,    // first video stream "DisplayAspectRatio/String"
  AudioCodec,     // first audio stream "Codec/String"
  AudioBitRate,   // first audio stream "BitRate/String"
  Channels,       // first audio stream "Channel(s)" and "ChannelLayout", in words (ChannelCountText)
  ChannelDetail,  // first audio stream "Channel(s)/String" and "ChannelLayout": "6 channels, C L R Ls Rs LFE"
  SamplingRate,   // first audio stream "SamplingRate/String"
};

// Loads the library by file name (a bare name goes through the normal library
// search, which begins with the executable's folder) unless it is loaded
// already, then binds its twenty entry points by name. True when the library is
// loaded, now or earlier. A failed load is tried again by the next call.
bool LoadMediaInfoLib(const QString& fileName);

// The file name the program's operations pass to LoadMediaInfoLib:
// Platform::kMediaInfoLibFile, unless a test named another one.
QString MediaInfoLibFile();
// Test seam: the file name MediaInfoLibFile() gives; empty restores the default.
void SetMediaInfoLibFileForTests(const QString& fileName);

// The channels of a sound track in the user's words: 单声道, 立体声, 5.1 声道
// (six channels with a low-frequency one, or of an unknown layout), otherwise
// "N 声道"; "" when the count is unknown. count is the library's "Channel(s)"
// (the first number counts), layout its "ChannelLayout".
QString ChannelCountText(const QString& count, const QString& layout);

// Opens the file once and answers every query in the given order, one text per
// query, transformed. A file the library cannot read (or a library lacking one
// of the probe's entry points) gives the transformations of empty answers:
// "", "." display name, "MB" size, "" picture size, the duration fallback.
// Does not load the library: call LoadMediaInfoLib first.
QStringList ProbeMediaFile(const QString& path, const QVector<MediaQuery>& queries,
                           const QString& durationFallback = QString());

// Shorthands for single questions (same probe, same rules).
QString ProbeBaseName(const QString& path);
QString ProbeDuration(const QString& path, const QString& fallback);

// The size text of a file of the given byte count ("FileSize" as the library
// gives it): megabytes of 1048576 bytes, four significant digits but at most
// three decimals, at least "0.001" for a file that is not empty, " MB".
// An empty or unparsable text gives "MB".
QString FormatMediaSize(const QString& bytesText);
