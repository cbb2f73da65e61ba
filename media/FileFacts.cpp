#include "media/FileFacts.h"

#include "media/MediaInfoDll.h"

#include <QDir>
#include <QRegularExpression>
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

bool MatchesFileFilter(const QString& fileName, const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  for (int i = 1; i < parts.size(); i += 2) {
    for (const QString& pattern : parts[i].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern.trimmed()),
                                  QRegularExpression::CaseInsensitiveOption);
      if (re.match(fileName).hasMatch()) return true;
    }
  }
  return false;
}

QStringList FilesMatchingFilter(const QString& folder, const QString& filter, int* ignored) {
  QStringList files;
  const QDir dir(folder);
  for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
    if (MatchesFileFilter(name, filter)) {
      files << dir.filePath(name);
    } else if (ignored) {
      ++*ignored;
    }
  }
  return files;
}
