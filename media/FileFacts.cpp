#include "media/FileFacts.h"

#include "media/MediaInfoDll.h"
#include "platform/FileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QVector>

#include <sys/stat.h>

#include <algorithm>

namespace {

const QVector<MediaQuery> kPropertyQueries = {
    MediaQuery::DisplayName,  MediaQuery::Extension,    MediaQuery::Size,         MediaQuery::Duration,
    MediaQuery::VideoCodec,   MediaQuery::VideoBitRate, MediaQuery::PictureSize,  MediaQuery::FrameRate,
    MediaQuery::AspectRatio,  MediaQuery::AudioCodec,   MediaQuery::AudioBitRate, MediaQuery::Channels,
    MediaQuery::SamplingRate,
};

// The first thirteen are the kinds the program has always listed ("mpq" among
// them, kept as it was); the others are further kinds the encoder reads.
const QStringList kMediaExtensions = {
    QStringLiteral("mp4"),  QStringLiteral("asf"),  QStringLiteral("avi"),  QStringLiteral("qt"),
    QStringLiteral("vob"),  QStringLiteral("mov"),  QStringLiteral("flv"),  QStringLiteral("mpq"),
    QStringLiteral("wmv"),  QStringLiteral("3gp"),  QStringLiteral("3g2"),  QStringLiteral("rm"),
    QStringLiteral("rmvb"), QStringLiteral("mkv"),  QStringLiteral("webm"), QStringLiteral("ts"),
    QStringLiteral("mts"),  QStringLiteral("m2ts"), QStringLiteral("mpg"),  QStringLiteral("mpeg"),
    QStringLiteral("mpe"),  QStringLiteral("m2v"),  QStringLiteral("m4v"),  QStringLiteral("f4v"),
    QStringLiteral("ogv"),  QStringLiteral("dv"),   QStringLiteral("divx"), QStringLiteral("mxf"),
};

QString UnknownDuration() { return QString::fromUtf8(kUnknownDuration); }

}  // namespace

QString NotASourceReason(const QString& path) {
  struct stat st;
  if (::stat(Platform::NativePath(path).constData(), &st) != 0)
    return {};  // the probe reports what is missing
  if (S_ISREG(st.st_mode)) return {};
  const QString kind = S_ISDIR(st.st_mode)    ? QStringLiteral("文件夹")
                       : S_ISFIFO(st.st_mode) ? QStringLiteral("管道")
                       : S_ISSOCK(st.st_mode) ? QStringLiteral("套接字")
                                              : QStringLiteral("设备");
  const QString name = QFileInfo(Platform::ShownPath(path)).fileName();
  return QStringLiteral("%1 是%2，不是普通文件，不能添加").arg(name, kind);
}

std::optional<TFileRow> ProbeFileRow(const QString& path) {
  if (!LoadMediaInfoLib(MediaInfoLibFile())) return std::nullopt;
  const QStringList facts = ProbeMediaFile(
      path, {MediaQuery::Extension, MediaQuery::Size, MediaQuery::Duration, MediaQuery::PictureSize},
      UnknownDuration());
  TFileRow row;
  row.path = path;
  row.type = facts.value(0);
  row.size = facts.value(1);
  row.duration = facts.value(2);
  row.progress = QStringLiteral("0%");
  // "1920x1080": how much work the file's conversion is, and how much memory it takes.
  const QString size = facts.value(3);
  const int x = size.indexOf(QLatin1Char('x'));
  if (x > 0) {
    row.width = std::max(0, size.left(x).toInt());
    row.height = std::max(0, size.mid(x + 1).toInt());
  }
  return row;
}

std::optional<TFileProperties> ProbeFileProperties(const QString& path) {
  if (!LoadMediaInfoLib(MediaInfoLibFile())) return std::nullopt;
  QStringList values = ProbeMediaFile(path, kPropertyQueries + QVector<MediaQuery>{MediaQuery::ChannelDetail},
                                      UnknownDuration());
  const QString detail = values.takeLast();
  return TFileProperties{values, detail};
}

const QStringList& MediaExtensions() { return kMediaExtensions; }

bool IsMediaFileName(const QString& fileName) {
  const int dot = fileName.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return false;
  return kMediaExtensions.contains(fileName.mid(dot + 1).toLower());
}

QString MediaFileFilter() {
  QStringList patterns;
  for (const QString& ext : kMediaExtensions) patterns << QStringLiteral("*.") + ext;
  return QStringLiteral("媒体文件|") + patterns.join(QLatin1Char(';')) + QStringLiteral("|所有文件|*");
}

QVector<TTreeFile> MediaFilesInTree(const QString& folder, int* ignored,
                                    const std::function<void(const QVector<TTreeFile>&)>& found,
                                    const std::atomic<bool>* stop) {
  QVector<TTreeFile> chunk;  // every file found, when no found takes them chunk by chunk
  QVector<Platform::TFolderId> seen;
  int count = 0;
  // Depth first, each folder's files before its subfolders.
  std::function<void(const QString&, const QString&, int)> walk = [&](const QString& dir,
                                                                      const QString& below, int depth) {
    if ((stop && *stop) || count >= kTreeFiles) return;
    QStringList files, folders;
    Platform::TFolderId id;
    if (!Platform::FolderEntries(dir, &files, &folders, &id) || seen.contains(id)) return;
    seen << id;
    const QDir at(dir);
    for (const QString& name : std::as_const(files)) {
      if (!IsMediaFileName(name)) {
        if (ignored) ++*ignored;
        continue;
      }
      if (count++ >= kTreeFiles) return;
      chunk << TTreeFile{at.filePath(name), below};
    }
    if (found && !chunk.isEmpty()) {
      found(chunk);
      chunk.clear();
    }
    if (depth >= kTreeDepth) return;
    for (const QString& name : std::as_const(folders))
      walk(at.filePath(name), below.isEmpty() ? name : below + QLatin1Char('/') + name, depth + 1);
  };
  walk(folder, QString(), 0);
  if (!found) return chunk;
  if (!chunk.isEmpty()) found(chunk);
  return {};
}
