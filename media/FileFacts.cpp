#include "media/FileFacts.h"

#include "media/MediaInfoDll.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QVector>

#include <sys/stat.h>

namespace {

const QVector<MediaQuery> kPropertyQueries = {
    MediaQuery::DisplayName,  MediaQuery::Extension,    MediaQuery::Size,         MediaQuery::Duration,
    MediaQuery::VideoCodec,   MediaQuery::VideoBitRate, MediaQuery::PictureSize,  MediaQuery::FrameRate,
    MediaQuery::AspectRatio,  MediaQuery::AudioCodec,   MediaQuery::AudioBitRate, MediaQuery::Channels,
    MediaQuery::SamplingRate,
};

QString UnknownDuration() { return QString::fromUtf8(kUnknownDuration); }

}  // namespace

QString NotASourceReason(const QString& path) {
  struct stat st;
  const QString name = QFileInfo(path).fileName();
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};  // the probe reports what is missing
  if (S_ISREG(st.st_mode)) return {};
  const QString kind = S_ISDIR(st.st_mode)    ? QStringLiteral("文件夹")
                       : S_ISFIFO(st.st_mode) ? QStringLiteral("管道")
                       : S_ISSOCK(st.st_mode) ? QStringLiteral("套接字")
                                              : QStringLiteral("设备");
  return QStringLiteral("%1 是%2，不是普通文件，不能添加").arg(name, kind);
}

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
