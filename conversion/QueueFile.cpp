#include "QueueFile.h"

#include "platform/FileNames.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kFormat[] = "vidmora-queue";

const struct {
  TRowResult result;
  const char* word;
} kStates[] = {
    {TRowResult::Waiting, "waiting"},         {TRowResult::Converting, "converting"},
    {TRowResult::Converted, "converted"},     {TRowResult::Failed, "failed"},
    {TRowResult::Stopped, "stopped"},         {TRowResult::Skipped, "skipped"},
    {TRowResult::Interrupted, "interrupted"},
};

QString StateWord(TRowResult result) {
  for (const auto& s : kStates)
    if (s.result == result) return QString::fromLatin1(s.word);
  return QStringLiteral("waiting");
}

bool StateOf(const QString& word, TRowResult* result) {
  for (const auto& s : kStates) {
    if (word == QLatin1String(s.word)) {
      *result = s.result;
      return true;
    }
  }
  return false;
}

QJsonArray Strings(const QStringList& list) { return QJsonArray::fromStringList(list); }

// A path as the file keeps it: its text, or, when its name holds bytes that are no
// UTF-8 (which JSON's text cannot carry), those bytes whole.
QJsonValue PathValue(const QString& path) {
  if (!Platform::HasForeignBytes(path)) return path;
  return QJsonObject{{QStringLiteral("bytes"), QString::fromLatin1(Platform::NativePath(path).toBase64())}};
}

QString PathOf(const QJsonValue& value) {
  if (!value.isObject()) return value.toString();
  return Platform::PathFromNative(
      QByteArray::fromBase64(value.toObject().value(QStringLiteral("bytes")).toString().toLatin1()));
}

QJsonArray PathValues(const QStringList& paths) {
  QJsonArray out;
  for (const QString& p : paths) out.append(PathValue(p));
  return out;
}

QStringList PathsOf(const QJsonValue& value) {
  QStringList out;
  for (const auto& v : value.toArray())
    if (v.isString() || v.isObject()) out << PathOf(v);
  return out;
}

QStringList StringsOf(const QJsonValue& value) {
  QStringList out;
  for (const auto& v : value.toArray())
    if (v.isString()) out << v.toString();
  return out;
}

QJsonObject RowObject(const TQueueRow& r) {
  QJsonObject o;
  o[QStringLiteral("source")] = PathValue(r.source);
  o[QStringLiteral("type")] = r.typeText;
  o[QStringLiteral("size")] = r.sizeText;
  o[QStringLiteral("duration")] = r.durationText;
  o[QStringLiteral("subFolder")] = PathValue(r.subFolder);
  o[QStringLiteral("width")] = r.pictureWidth;
  o[QStringLiteral("height")] = r.pictureHeight;
  o[QStringLiteral("state")] = StateWord(r.result);
  o[QStringLiteral("output")] = PathValue(r.output);
  o[QStringLiteral("planned")] = PathValue(r.planned);
  o[QStringLiteral("replaces")] = PathValue(r.replaces);
  o[QStringLiteral("unfinished")] = PathValues(r.unfinished);
  o[QStringLiteral("nextUnfinished")] = PathValue(r.nextUnfinished);
  o[QStringLiteral("reason")] = r.reason;
  o[QStringLiteral("detail")] = r.detail;
  o[QStringLiteral("warning")] = r.warning;
  o[QStringLiteral("warningDetail")] = r.warningDetail;
  o[QStringLiteral("tracks")] = r.tracks;
  o[QStringLiteral("disposal")] = r.disposal;
  o[QStringLiteral("options")] = Strings(r.options);
  o[QStringLiteral("converted")] = r.convertedSeconds;
  o[QStringLiteral("length")] = r.lengthSeconds;
  o[QStringLiteral("sourceBytes")] = double(r.sourceBytes);
  o[QStringLiteral("outputBytes")] = double(r.outputBytes);
  return o;
}

bool RowOf(const QJsonObject& o, TQueueRow* r) {
  r->source = PathOf(o.value(QStringLiteral("source")));
  if (r->source.isEmpty() || !StateOf(o.value(QStringLiteral("state")).toString(), &r->result)) return false;
  r->typeText = o.value(QStringLiteral("type")).toString();
  r->sizeText = o.value(QStringLiteral("size")).toString();
  r->durationText = o.value(QStringLiteral("duration")).toString();
  // A list kept before folders kept their structure has none: the output folder itself.
  r->subFolder = PathOf(o.value(QStringLiteral("subFolder")));
  r->pictureWidth = std::max(0, o.value(QStringLiteral("width")).toInt(0));
  r->pictureHeight = std::max(0, o.value(QStringLiteral("height")).toInt(0));
  r->output = PathOf(o.value(QStringLiteral("output")));
  r->planned = PathOf(o.value(QStringLiteral("planned")));
  r->replaces = PathOf(o.value(QStringLiteral("replaces")));
  r->unfinished = PathsOf(o.value(QStringLiteral("unfinished")));
  r->nextUnfinished = PathOf(o.value(QStringLiteral("nextUnfinished")));
  r->reason = o.value(QStringLiteral("reason")).toString();
  r->detail = o.value(QStringLiteral("detail")).toString();
  r->warning = o.value(QStringLiteral("warning")).toString();
  r->warningDetail = o.value(QStringLiteral("warningDetail")).toString();
  r->tracks = o.value(QStringLiteral("tracks")).toString();
  r->disposal = o.value(QStringLiteral("disposal")).toString();
  r->options = StringsOf(o.value(QStringLiteral("options")));
  r->convertedSeconds = o.value(QStringLiteral("converted")).toDouble(0);
  r->lengthSeconds = o.value(QStringLiteral("length")).toDouble(-1);
  r->sourceBytes = static_cast<qint64>(o.value(QStringLiteral("sourceBytes")).toDouble(-1));
  r->outputBytes = static_cast<qint64>(o.value(QStringLiteral("outputBytes")).toDouble(-1));
  r->percent = r->result == TRowResult::Converted ? 100 : 0;
  return true;
}

// The whole of a regular file of this user's, opened without waiting; false with
// why when it is none or larger than kQueueFileMaxBytes.
bool ReadOwnFile(const QString& path, QByteArray* data, QString* why, bool* missing) {
  *missing = false;
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *missing = errno == ENOENT;
    *why = QStringLiteral("无法打开 (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    return false;
  }
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0;
  if (ok && (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid())) {
    *why = QStringLiteral("不是本用户的普通文件");
    ok = false;
  } else if (ok && st.st_size > kQueueFileMaxBytes) {
    *why = QStringLiteral("文件过大");
    ok = false;
  }
  while (ok) {
    char buffer[65536];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *why = QStringLiteral("读取出错 (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
      ok = false;
    }
    if (n <= 0) break;
    data->append(buffer, static_cast<int>(n));
    if (data->size() > kQueueFileMaxBytes) {
      *why = QStringLiteral("文件过大");
      ok = false;
    }
  }
  ::close(fd);
  return ok;
}

bool SyncFd(int fd) { return ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP || errno == EROFS; }

}  // namespace

QByteArray QueueFileBytes(const QVector<TQueueRow>& rows) {
  QJsonArray list;
  for (const TQueueRow& r : rows) list.append(RowObject(r));
  QJsonObject top;
  top[QStringLiteral("format")] = QLatin1String(kFormat);
  top[QStringLiteral("version")] = kQueueFileVersion;
  top[QStringLiteral("rows")] = list;
  return QJsonDocument(top).toJson(QJsonDocument::Compact);
}

bool ParseQueueFile(const QByteArray& bytes, QVector<TQueueRow>* rows, QString* why) {
  rows->clear();
  if (bytes.trimmed().isEmpty()) {
    *why = QStringLiteral("文件是空的");
    return false;
  }
  QJsonParseError error;
  const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
  const QJsonObject top = doc.object();
  if (error.error != QJsonParseError::NoError || !doc.isObject() ||
      top.value(QStringLiteral("format")).toString() != QLatin1String(kFormat)) {
    *why = QStringLiteral("文件已损坏");
    return false;
  }
  const int version = top.value(QStringLiteral("version")).toInt(0);
  if (version != kQueueFileVersion) {
    *why = QStringLiteral("文件来自其他版本 (格式 %1)").arg(version);
    return false;
  }
  for (const auto& v : top.value(QStringLiteral("rows")).toArray()) {
    TQueueRow row;
    if (!v.isObject() || !RowOf(v.toObject(), &row)) {
      rows->clear();
      *why = QStringLiteral("文件已损坏");
      return false;
    }
    *rows << row;
  }
  return true;
}

TQueueFileRead ReadQueueFile(const QString& path) {
  TQueueFileRead read;
  QByteArray bytes;
  bool missing = false;
  QString why;
  if (ReadOwnFile(path, &bytes, &why, &missing)) {
    if (ParseQueueFile(bytes, &read.rows, &why)) {
      read.state = TQueueFileRead::TState::kRead;
      return read;
    }
  } else if (missing) {
    return read;
  }
  // Set aside as a damaged database is: the file stays for whoever wants to look at
  // it, and the start goes on with an empty list.
  read.why = why;
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  QString aside = path + QStringLiteral(".broken-") + stamp;
  for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
    aside = path + QStringLiteral(".broken-%1-%2").arg(stamp).arg(n);
  if (std::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) == 0) {
    read.state = TQueueFileRead::TState::kSetAside;
    read.setAsideAs = aside;
  } else {
    read.state = TQueueFileRead::TState::kUnusable;
  }
  read.rows.clear();
  return read;
}

QVector<TQueueRow> RestoredRows(const QVector<TQueueRow>& saved) {
  QVector<TQueueRow> rows = saved;
  for (TQueueRow& r : rows) {
    switch (r.result) {
      case TRowResult::Converted: {
        // Finished is what its file shows: there, and as large as it was made.
        const QFileInfo out(r.output);
        const bool whole =
            !r.output.isEmpty() && out.isFile() && (r.outputBytes < 0 || out.size() == r.outputBytes);
        if (whole) {
          r.percent = 100;
          break;
        }
        r.result = TRowResult::Waiting;
        r.reason = out.exists()
                       ? QStringLiteral("上次转换的输出文件 %1 已被改动, 将重新转换").arg(out.fileName())
                       : QStringLiteral("上次转换的输出文件 %1 已不在, 将重新转换").arg(out.fileName());
        r.detail.clear();
        r.warning.clear();
        r.warningDetail.clear();
        r.percent = 0;
        break;
      }
      case TRowResult::Converting:
        // Cut off while the program was not there to see it end: a kill, a crash, a
        // power cut. The encoder, told of it, leaves what it had under the name it
        // would take at a stop.
        r.result = TRowResult::Interrupted;
        r.reason = QStringLiteral("上次转换时程序意外结束 (被终止、崩溃或断电), 这个文件没有转换完");
        r.detail.clear();
        if (!r.nextUnfinished.isEmpty() && !r.unfinished.contains(r.nextUnfinished))
          r.unfinished << r.nextUnfinished;
        r.percent = 0;
        break;
      case TRowResult::Interrupted:
        if (r.reason.isEmpty()) r.reason = QStringLiteral("上次关闭程序时, 这个文件没有转换完");
        r.percent = 0;
        break;
      case TRowResult::Waiting:
        r.percent = 0;
        break;
      case TRowResult::Failed:
      case TRowResult::Stopped:
      case TRowResult::Skipped:
        break;
    }
    r.nextUnfinished.clear();
  }
  return rows;
}

QString WriteFileWhole(const QString& path, const QByteArray& data) {
  const QFileInfo info(path);
  if (!QDir().mkpath(info.absolutePath()))
    return QStringLiteral("无法建立文件夹 %1").arg(info.absolutePath());
  const QByteArray target = QFile::encodeName(path);
  QByteArray temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = target + ".new-" + QByteArray::number(QRandomGenerator::global()->generate() % 0x1000000u, 16);
    fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return QString::fromLocal8Bit(std::strerror(errno));
  const char* p = data.constData();
  qsizetype left = data.size();
  bool ok = true;
  while (ok && left > 0) {
    const ssize_t n = ::write(fd, p, size_t(left));
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) {
      p += n;
      left -= n;
    }
  }
  ok = ok && SyncFd(fd);
  const int error = ok ? 0 : errno;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temp.constData(), target.constData()) == 0;
  if (!ok) {
    QString why = QString::fromLocal8Bit(std::strerror(error ? error : errno));
    ::unlink(temp.constData());
    return why;
  }
  // The new name on the disk too.
  const int dir =
      ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    SyncFd(dir);
    ::close(dir);
  }
  return QString();
}

TQueueStore::TQueueStore(const QString& path) : path_(path) {
  thread_ = std::thread([this] { Run(); });
}

TQueueStore::~TQueueStore() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TQueueStore::Save(const QVector<TQueueRow>& rows) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = rows;
  }
  wake_.notify_all();
}

void TQueueStore::Flush() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return !pending_ && !writing_; });
}

int TQueueStore::Writes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writes_;
}

QString TQueueStore::LastError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastError_;
}

void TQueueStore::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || pending_; });
    if (!pending_) return;  // quitting with nothing left to write
    const QVector<TQueueRow> rows = std::move(*pending_);
    pending_.reset();
    writing_ = true;
    lock.unlock();
    const QString error = WriteFileWhole(path_, QueueFileBytes(rows));
    lock.lock();
    writing_ = false;
    ++writes_;
    lastError_ = error;
    if (!pending_) idle_.notify_all();
  }
}
