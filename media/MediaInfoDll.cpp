#include "media/MediaInfoDll.h"

#include "media/DurationText.h"

#include "platform/FileNames.h"
#include "platform/Platform.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The library's C interface, 8-bit variants. Stream kinds and info kinds are
// plain ints in the C interface; text is in the locale's encoding (UTF-8 here).
using NewFn = void* (*)();
using DeleteFn = void (*)(void*);
using OpenFn = std::size_t (*)(void*, const char* file);
using CloseFn = void (*)(void*);
using GetFn = const char* (*)(void*, int streamKind, std::size_t streamNumber, const char* parameter,
                              int infoKind, int searchKind);
using OptionFn = const char* (*)(void*, const char* option, const char* value);

// The twenty exported names, in the order they are bound.
constexpr const char* kEntryNames[20] = {
    "MediaInfo_New",       "MediaInfo_Delete",    "MediaInfo_Open",       "MediaInfo_Close",
    "MediaInfo_Inform",    "MediaInfo_GetI",      "MediaInfo_Get",        "MediaInfo_Option",
    "MediaInfo_State_Get", "MediaInfo_Count_Get", "MediaInfoA_New",       "MediaInfoA_Delete",
    "MediaInfoA_Open",     "MediaInfoA_Close",    "MediaInfoA_Inform",    "MediaInfoA_GetI",
    "MediaInfoA_Get",      "MediaInfoA_Option",   "MediaInfoA_State_Get", "MediaInfoA_Count_Get",
};
enum Slot { kANew = 10, kADelete = 11, kAOpen = 12, kAClose = 13, kAGet = 16, kAOption = 17 };

// Process-wide library state: the module handle (never released) and the slots.
void* g_module = nullptr;
void* g_entries[20] = {};
QString g_libFileOverride;

enum StreamKind { kGeneral = 0, kVideo = 1, kAudio = 2 };

struct Question {
  int streamKind;
  const char* parameter;
};

// The library calls behind each query (one or two questions).
QVector<Question> QuestionsOf(MediaQuery query) {
  switch (query) {
    case MediaQuery::BaseName:
      return {{kGeneral, "FileName"}};
    case MediaQuery::Extension:
      return {{kGeneral, "FileExtension"}};
    case MediaQuery::DisplayName:
      return {{kGeneral, "FileName"}, {kGeneral, "FileExtension"}};
    case MediaQuery::Size:
      return {{kGeneral, "FileSize"}};
    case MediaQuery::Duration:
      return {{kGeneral, "Duration/String3"}};
    case MediaQuery::VideoCodec:
      return {{kVideo, "Codec/String"}};
    case MediaQuery::VideoBitRate:
      return {{kVideo, "BitRate/String"}};
    case MediaQuery::PictureSize:
      return {{kVideo, "Width"}, {kVideo, "Height"}};
    case MediaQuery::FrameRate:
      return {{kVideo, "FrameRate/String"}};
    case MediaQuery::AspectRatio:
      return {{kVideo, "DisplayAspectRatio/String"}};
    case MediaQuery::AudioCodec:
      return {{kAudio, "Codec/String"}};
    case MediaQuery::AudioBitRate:
      return {{kAudio, "BitRate/String"}};
    case MediaQuery::Channels:
      return {{kAudio, "Channel(s)"}, {kAudio, "ChannelLayout"}};
    case MediaQuery::ChannelDetail:
      return {{kAudio, "Channel(s)/String"}, {kAudio, "ChannelLayout"}};
    case MediaQuery::SamplingRate:
      return {{kAudio, "SamplingRate/String"}};
  }
  return {};
}

QString Transform(MediaQuery query, const QStringList& answers, const QString& durationFallback) {
  switch (query) {
    case MediaQuery::DisplayName:
      return answers.value(0) + QLatin1Char('.') + answers.value(1);
    case MediaQuery::PictureSize:
      if (answers.value(0).isEmpty() || answers.value(1).isEmpty()) return QString();
      return answers.value(0) + QLatin1Char('x') + answers.value(1);
    case MediaQuery::Channels:
      return ChannelCountText(answers.value(0), answers.value(1));
    case MediaQuery::ChannelDetail:
      return QStringList{answers.value(0), answers.value(1)}
          .filter(QRegularExpression(QStringLiteral("\\S")))
          .join(QStringLiteral(", "));
    case MediaQuery::Size:
      return FormatMediaSize(answers.value(0));
    case MediaQuery::Duration:
      return DurationTextOf(answers.value(0), durationFallback);
    default:
      return answers.value(0);
  }
}

bool LocaleIsUtf8() {
  const char* loc = std::setlocale(LC_CTYPE, nullptr);
  return loc && (strcasestr(loc, "UTF-8") || strcasestr(loc, "utf8"));
}

}  // namespace

QString ChannelCountText(const QString& count, const QString& layout) {
  // "6 / 2" for a track whose count changes: the first one counts.
  bool ok = false;
  const int channels = count.section(QLatin1Char('/'), 0, 0).trimmed().toInt(&ok);
  if (!ok || channels <= 0) return QString();
  if (channels == 1) return QStringLiteral("单声道");
  if (channels == 2) return QStringLiteral("立体声");
  if (channels == 6 && (layout.trimmed().isEmpty() || layout.contains(QLatin1String("LFE"))))
    return QStringLiteral("5.1 声道");
  return QStringLiteral("%1 声道").arg(channels);
}

bool LoadMediaInfoLib(const QString& fileName) {
  if (!g_module) g_module = dlopen(QFile::encodeName(fileName).constData(), RTLD_NOW | RTLD_LOCAL);
  if (!g_module) return false;
  for (int i = 0; i < 20; ++i) g_entries[i] = dlsym(g_module, kEntryNames[i]);
  return true;
}

QString MediaInfoLibFile() {
  return g_libFileOverride.isEmpty() ? QString::fromLatin1(Platform::kMediaInfoLibFile) : g_libFileOverride;
}

void SetMediaInfoLibFileForTests(const QString& fileName) { g_libFileOverride = fileName; }

QStringList ProbeMediaFile(const QString& path, const QVector<MediaQuery>& queries,
                           const QString& durationFallback) {
  auto aNew = reinterpret_cast<NewFn>(g_entries[kANew]);
  auto aOpen = reinterpret_cast<OpenFn>(g_entries[kAOpen]);
  auto aGet = reinterpret_cast<GetFn>(g_entries[kAGet]);
  auto aClose = reinterpret_cast<CloseFn>(g_entries[kAClose]);
  auto aDelete = reinterpret_cast<DeleteFn>(g_entries[kADelete]);
  auto aOption = reinterpret_cast<OptionFn>(g_entries[kAOption]);

  void* handle = (aNew && aOpen && aGet && aClose) ? aNew() : nullptr;
  // The 8-bit calls read and write UTF-8 only in a UTF-8 locale (the C locale
  // cannot open a path with Chinese characters); make sure of it whatever the
  // program was started with.
  if (handle && !LocaleIsUtf8()) Platform::EnsureUtf8Locale();
  if (handle && aOption) {
    // Current library versions answer "Codec/String" only with the legacy
    // parameter names switched on.
    aOption(handle, "Legacy", "1");
  }
  // The library reads a file name as text of the locale: a name that is not UTF-8 is
  // opened here and handed over as the descriptor's name, and the file's own name is
  // answered from the name as shown.
  int fd = -1;
  const bool foreign = Platform::HasForeignBytes(path);
  if (handle && foreign) {
    fd = ::open(Platform::NativePath(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
      ::close(fd);
      fd = -1;
    }
    if (fd >= 0) aOpen(handle, QByteArray("/proc/self/fd/" + QByteArray::number(fd)).constData());
  } else if (handle) {
    aOpen(handle, QFile::encodeName(path).constData());
  }
  const bool opened = handle && (!foreign || fd >= 0);
  // Only a name the library was not given is answered from the name as shown.
  const QFileInfo shown(foreign && opened ? Platform::ShownPath(path) : QString());

  QStringList result;
  result.reserve(queries.size());
  for (MediaQuery query : queries) {
    QStringList answers;
    for (const Question& q : QuestionsOf(query)) {
      const char* text = opened ? aGet(handle, q.streamKind, 0, q.parameter, 1, 0) : nullptr;
      QString answer = text ? QString::fromUtf8(text) : QString();  // copied at once
      if (foreign && opened && q.streamKind == kGeneral) {
        if (std::strcmp(q.parameter, "FileName") == 0)
          answer = shown.completeBaseName();
        else if (std::strcmp(q.parameter, "FileExtension") == 0)
          answer = shown.suffix();
      }
      answers << answer;
    }
    result << Transform(query, answers, durationFallback);
  }
  if (handle) {
    aClose(handle);
    if (aDelete) aDelete(handle);  // the handle is not used after the close
  }
  if (fd >= 0) ::close(fd);
  return result;
}

QString ProbeBaseName(const QString& path) { return ProbeMediaFile(path, {MediaQuery::BaseName}).value(0); }

QString ProbeDuration(const QString& path, const QString& fallback) {
  return ProbeMediaFile(path, {MediaQuery::Duration}, fallback).value(0);
}

QString FormatMediaSize(const QString& bytesText) {
  bool ok = false;
  const double bytes = bytesText.trimmed().toDouble(&ok);
  if (!ok || bytes < 0 || !std::isfinite(bytes)) return QStringLiteral("MB");
  // Megabytes of 1048576 bytes (MiB), the unit the library's own size texts use.
  const double mb = bytes / 1048576.0;
  if (mb == 0) return QStringLiteral("0 MB");
  // Four significant digits but at most three decimals, never in exponent
  // form: 0.436, 0.057, 12.34, 2560, 12345. A file too small for three
  // decimals still shows a digit: 0.001.
  const int magnitude = static_cast<int>(std::floor(std::log10(mb)));
  const int decimals = qBound(0, 3 - magnitude, 3);
  QString text = QString::number(std::max(mb, 0.001), 'f', decimals);
  if (text.contains(QLatin1Char('.'))) {
    while (text.endsWith(QLatin1Char('0'))) text.chop(1);
    if (text.endsWith(QLatin1Char('.'))) text.chop(1);
  }
  return text + QStringLiteral(" MB");
}
