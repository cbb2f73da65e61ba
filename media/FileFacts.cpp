#include "media/FileFacts.h"

#include "media/MediaInfoDll.h"

#include <QVector>

namespace {

const QVector<MediaQuery> kPropertyQueries = {
    MediaQuery::DisplayName,  MediaQuery::Extension,    MediaQuery::Size,         MediaQuery::Duration,
    MediaQuery::VideoCodec,   MediaQuery::VideoBitRate, MediaQuery::PictureSize,  MediaQuery::FrameRate,
    MediaQuery::AspectRatio,  MediaQuery::AudioCodec,   MediaQuery::AudioBitRate, MediaQuery::Channels,
    MediaQuery::SamplingRate,
};

QString UnknownDuration() { return QString::fromLatin1(kUnknownDuration); }

}  // namespace

std::optional<TFileRow> ProbeFileRow(const QString& path) {
  if (!LoadMediaInfoLib(MediaInfoLibFile())) return std::nullopt;
  const QStringList facts = ProbeMediaFile(
      path, {MediaQuery::Extension, MediaQuery::Size, MediaQuery::Duration}, UnknownDuration());
  return TFileRow{path, facts.value(0), facts.value(1), facts.value(2), QStringLiteral("0%")};
}

std::optional<TFileProperties> ProbeFileProperties(const QString& path) {
  if (!LoadMediaInfoLib(MediaInfoLibFile())) return std::nullopt;
  return TFileProperties{ProbeMediaFile(path, kPropertyQueries, UnknownDuration())};
}
