#include "DosConvFunc.h"

#include "encoder/Protocol.h"
#include "platform/ChildProcess.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {
constexpr int kChunk = 4800;
}  // namespace

QString ReadDosPipe(int pipe, QByteArray* all) {
  QString result;
  if (Platform::BytesWaiting(pipe) == 0) return result;
  QByteArray buffer(kChunk + 1, '\0');
  for (;;) {
    ssize_t n;
    do {
      n = ::read(pipe, buffer.data(), kChunk);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) break;
    if (all) all->append(buffer.constData(), static_cast<int>(n));
    buffer[static_cast<int>(n)] = '\0';
    const char* data = buffer.constData();
    result = QString::fromUtf8(data, static_cast<int>(strnlen(data, static_cast<size_t>(n))));
    if (n < kChunk || Platform::BytesWaiting(pipe) == 0) break;
  }
  return result;
}

TDosProcess::TDosProcess(QObject* parent) : QObject(parent) {}

TDosProcess::~TDosProcess() {
  // The notifier goes before the descriptor it watches is closed or handed on.
  delete lineNotifier_;
  lineNotifier_ = nullptr;
}

bool TDosProcess::StartDosProcess(const QString& program, const QStringList& arguments) {
  if (process_) return false;
  process_ = new Platform::TChildProcess(this);
  connect(process_, &Platform::TChildProcess::Finished, this, &TDosProcess::Ended);
  Platform::TChildProcess::Options options;
  options.captureOutput = true;
  options.inputPipe = true;
  options.endWithProgram = true;
  options.endSignal = SIGHUP;
  return process_->Start(QStringList{program} + arguments, options);
}

QString TDosProcess::ReadDosPipe() {
  if (!process_) return QString();
  QByteArray all;
  QString text = ::ReadDosPipe(process_->OutputFd(), &all);
  TakeLines(all, process_->Ended() && process_->BytesWaiting() == 0);
  return text;
}

void TDosProcess::ReadLinesAsTheyCome() {
  if (!process_ || lineNotifier_ || process_->OutputFd() < 0) return;
  lineNotifier_ = new QSocketNotifier(process_->OutputFd(), QSocketNotifier::Read, this);
  connect(lineNotifier_, &QSocketNotifier::activated, this, [this] {
    if (!lineNotifier_) return;
    // Readable with nothing waiting is the end of the output: nothing more will come.
    if (process_->BytesWaiting() == 0) {
      lineNotifier_->setEnabled(false);
      TakeLines(QByteArray(), process_->Ended());
      return;
    }
    TakeWaiting();
  });
}

void TDosProcess::TakeWaiting() {
  if (!process_) return;
  const int fd = process_->OutputFd();
  QByteArray all;
  char buffer[16384];
  while (fd >= 0 && process_->BytesWaiting() > 0) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    all.append(buffer, static_cast<int>(n));
  }
  TakeLines(all, process_->Ended() && process_->BytesWaiting() == 0);
}

bool ParseProgressSeconds(const QString& text, double* seconds) {
  *seconds = 0;
  const int k = text.indexOf(QLatin1String(vidmora::protocol::kTimeMark));
  if (k < 0) return false;
  const QString value = text.mid(k + int(sizeof vidmora::protocol::kTimeMark) - 1)
                            .section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty)
                            .section(QLatin1Char('\n'), 0, 0);
  bool ok = false;
  *seconds = value.toDouble(&ok);
  if (!ok) *seconds = 0;
  return ok;
}

void TDosProcess::TakeLine(const QString& line) {
  // The output and unfinished lines hold a path, which may hold any text: they are
  // recognised first.
  if (line.startsWith(QLatin1String(vidmora::protocol::kOutputMark))) {
    outputPath_ = line.mid(static_cast<int>(sizeof vidmora::protocol::kOutputMark) - 1);
  } else if (line.startsWith(QLatin1String(vidmora::protocol::kUnfinishedMark))) {
    unfinishedPath_ = line.mid(static_cast<int>(sizeof vidmora::protocol::kUnfinishedMark) - 1);
  } else if (line.startsWith(QLatin1String(vidmora::protocol::kWarningMark))) {
    warnings_ << ReadWarningLine(line.mid(static_cast<int>(sizeof vidmora::protocol::kWarningMark) - 1));
  } else if (line.startsWith(QLatin1String(vidmora::protocol::kTracksMark))) {
    // "tracks: sound=2 subtitles=1"
    static const QRegularExpression counts(QStringLiteral("\\bsound=(\\d+) subtitles=(\\d+)\\b"));
    const QRegularExpressionMatch m = counts.match(line);
    if (m.hasMatch()) {
      soundTracks_ = m.captured(1).toInt();
      subtitleTracks_ = m.captured(2).toInt();
    }
  } else if (line.startsWith(QLatin1String(vidmora::protocol::kLengthMark))) {
    bool ok = false;
    const double length = line.mid(static_cast<int>(sizeof vidmora::protocol::kLengthMark) - 1).toDouble(&ok);
    if (ok && length >= 0) workingLength_ = length;
  } else if (line.contains(QLatin1String(vidmora::protocol::kSummaryMark))) {
    summarySeen_ = true;
  } else if (line.startsWith(QLatin1String(vidmora::protocol::kProgressMark))) {
    double t = 0;
    if (ParseProgressSeconds(line, &t)) lastProgress_ = t;
  } else if (line.startsWith(QLatin1String(vidmora::protocol::kErrorMark))) {
    // Only a marked error line explains a failure; the banner and other text do not.
    lastError_ = ReadErrorLine(line.mid(static_cast<int>(sizeof vidmora::protocol::kErrorMark) - 1));
  }
  emit LineRead(line);
}

void TDosProcess::TakeLines(const QByteArray& bytes, bool final) {
  partialLine_ += bytes;
  // The whole lines are cut off first: whoever takes a line may read the pipe again.
  QList<QByteArray> lines;
  int start = 0;
  for (int i = 0; i < partialLine_.size(); ++i) {
    const char c = partialLine_[i];
    if (c == '\n' || c == '\r' || c == '\0') {
      lines << partialLine_.mid(start, i - start);
      start = i + 1;
    }
  }
  partialLine_.remove(0, start);
  if (final && !partialLine_.isEmpty()) {
    lines << partialLine_;
    partialLine_.clear();
  }
  for (const QByteArray& raw : lines) {
    const QString line = QString::fromUtf8(raw).trimmed();
    if (!line.isEmpty()) TakeLine(line);
  }
}

bool TDosProcess::SendQuitKey() {
  return process_ && process_->Write(QByteArray(1, vidmora::protocol::kQuitKey));
}

bool TDosProcess::Started() const { return process_ && process_->Pid() > 0; }
bool TDosProcess::HasEnded() const { return !Started() || process_->Ended(); }
int TDosProcess::ExitCode() const { return process_ ? process_->ExitCode() : -1; }
bool TDosProcess::Crashed() const { return process_ && process_->Crashed(); }
int TDosProcess::EndSignal() const { return process_ ? process_->EndSignal() : 0; }
long long TDosProcess::Pid() const { return process_ ? process_->Pid() : -1; }

void TDosProcess::DiscardOutput() {
  // One reader of the pipe at a time (this may be called while the notifier reports).
  if (lineNotifier_) {
    lineNotifier_->setEnabled(false);
    lineNotifier_->deleteLater();
    lineNotifier_ = nullptr;
  }
  if (process_) process_->SetDiscardOutput(true);
}
