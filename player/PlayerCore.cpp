#include "PlayerCore.h"

#include "media/DurationText.h"
#include "platform/ChildProcess.h"
#include "platform/CommandLine.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kKillGraceMs = 1000;

// ASCII-only upper-case folding: "a" to "z" and nothing else.
QString AsciiUpper(const QString& text) {
  QString out = text;
  for (QChar& c : out) {
    if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 'a' + 'A');
  }
  return out;
}

// What both command lines start with: the player, its window and its options.
// The player fills the window it is given, whatever the picture's shape:
// "expand" first pads the picture with black to the panel's shape (365x273),
// so that it keeps its aspect. -zoom lets a video output without hardware
// scaling (no XVideo: virtual machines, Xvfb, some remote desktops) scale the
// whole picture into the panel in software instead of showing its middle at
// 1:1; outputs that scale by themselves ignore it.
QString CommandHead(const QString& playerPath, std::uint32_t window) {
  return Platform::QuoteArg(playerPath) + QStringLiteral("  -slave -identify -wid ") +
         QString::number(window) +
         QStringLiteral(" -colorkey 0x101010 -zoom -framedrop -autosync 100 -vf screenshot -vf-add "
                        "expand=:::::365/273");
}

}  // namespace

namespace Player {


bool ReadDurationText(const QString& text, QString* shown, int* seconds) {
  *shown = DurationTextOf(text, QStringLiteral("02:30:00"));
  bool ok = false;
  *seconds = DurationSeconds(*shown, &ok);
  return ok;
}

QString StartCommand(const QString& playerPath, std::uint32_t window, const QString& file) {
  return CommandHead(playerPath, window) + QLatin1Char(' ') + Platform::QuoteArg(file);
}

QString SeekCommand(const QString& playerPath, std::uint32_t window, int second, const QString& file) {
  return CommandHead(playerPath, window) + QStringLiteral(" -ss ") + DurationTextFromSeconds(second) + QLatin1Char(' ') +
         Platform::QuoteArg(file);
}

namespace {
// The number after a label, blanks skipped.
std::optional<double> NumberAt(const QByteArray& line, qsizetype at) {
  const QByteArray rest = line.mid(at).trimmed();
  char* end = nullptr;
  const double value = std::strtod(rest.constData(), &end);
  if (end == rest.constData()) return std::nullopt;
  return value;
}
}  // namespace

TPlayerReport ReadPlayerLine(const QByteArray& line) {
  TPlayerReport report;
  static const QByteArray kStart("ID_START_TIME=");
  if (line.startsWith(kStart)) {
    report.startTime = NumberAt(line, kStart.size());
    return report;
  }
  const qsizetype video = line.startsWith("V:") ? 0 : line.indexOf(" V:");
  if (video >= 0) {
    report.position = NumberAt(line, video + (video == 0 ? 2 : 3));
  } else if (line.startsWith("A:")) {
    report.position = NumberAt(line, 2);
  }
  return report;
}

}  // namespace Player

TPlayerProcesses& TPlayerProcesses::Instance() {
  static TPlayerProcesses* instance = new TPlayerProcesses();
  return *instance;
}

long long TPlayerProcesses::Start(const QString& commandLine) {
  const QStringList args = Platform::SplitCommandLine(commandLine);
  if (args.isEmpty()) return -1;
  auto* player = new Platform::TChildProcess(this);
  Platform::TChildProcess::Options options;
  options.endWithProgram = true;
  // Its output says where its picture is (it is read as it comes, so that
  // the player never waits on a full pipe).
  options.captureOutput = true;
  if (!player->Start(args, options)) {
    delete player;
    return -1;
  }
  players_.append(player);
  outputs_.insert(player, TOutput());
  newest_ = player;
  position_.reset();
  reportedAt_.invalidate();
  auto* notifier = new QSocketNotifier(player->OutputFd(), QSocketNotifier::Read, player);
  connect(notifier, &QSocketNotifier::activated, this, [this, player, notifier] {
    // Nothing waiting when the notice comes: the player closed its output.
    if (Platform::BytesWaiting(player->OutputFd()) == 0) {
      notifier->setEnabled(false);
      return;
    }
    ReadOutput(player);
  });
  connect(player, &Platform::TChildProcess::Finished, this, [this, player, notifier] {
    delete notifier;
    ReadOutput(player);
    players_.removeAll(player);
    outputs_.remove(player);
    if (newest_ == player) {
      newest_ = nullptr;
      position_.reset();
    }
    player->deleteLater();
    emit PlayerEnded();
  });
  return player->Pid();
}

void TPlayerProcesses::ReadOutput(Platform::TChildProcess* player) {
  auto output = outputs_.find(player);
  const int fd = player->OutputFd();
  if (output == outputs_.end() || fd < 0) return;
  // What is waiting, and no more: the read never blocks.
  const int waiting = qMin(Platform::BytesWaiting(fd), 64 * 1024);
  if (waiting <= 0) return;
  QByteArray chunk(waiting, '\0');
  const ssize_t got = ::read(fd, chunk.data(), size_t(waiting));
  if (got <= 0) return;
  chunk.resize(got);
  QByteArray& pending = output->pending;
  pending += chunk;
  // The status line is rewritten in place with a carriage return.
  qsizetype start = 0;
  bool reported = false;
  for (qsizetype i = 0; i < pending.size(); ++i) {
    if (pending[i] != '\n' && pending[i] != '\r') continue;
    const Player::TPlayerReport report = Player::ReadPlayerLine(pending.mid(start, i - start));
    if (report.startTime) output->startTime = *report.startTime;
    if (report.position && player == newest_) {
      position_ = *report.position - output->startTime;
      reportedAt_.start();
      reported = true;
    }
    start = i + 1;
  }
  if (reported) emit PositionReported();
  pending.remove(0, start);
  // A line longer than any line of the player's is no line of its.
  if (pending.size() > 4096) pending.clear();
}

std::optional<double> TPlayerProcesses::RecentPosition(int withinMs) const {
  if (!position_ || !reportedAt_.isValid() || reportedAt_.elapsed() > withinMs) return std::nullopt;
  return position_;
}

int TPlayerProcesses::EndByName(const QString& name) {
  const QString wanted = AsciiUpper(name);
  int count = 0;
  for (Platform::TChildProcess* player : QList<Platform::TChildProcess*>(players_)) {
    if (!player->Running()) continue;
    const QStringList names = Platform::TChildProcess::ProcessFileNames(player->Pid());
    for (const QString& candidate : names) {
      if (AsciiUpper(candidate) == wanted) {
        player->Terminate(kKillGraceMs);
        ++count;
        break;
      }
    }
  }
  return count;
}

QList<long long> TPlayerProcesses::Running() const {
  QList<long long> pids;
  for (Platform::TChildProcess* player : players_) {
    if (player->Running()) pids << player->Pid();
  }
  return pids;
}

void TPlayerProcesses::EndAllNow() {
  for (Platform::TChildProcess* player : QList<Platform::TChildProcess*>(players_)) {
    if (player->Running()) {
      ::kill(player->Pid(), SIGKILL);
      int status = 0;
      while (::waitpid(player->Pid(), &status, 0) < 0 && errno == EINTR) {
      }
    }
    // Already reaped here: the object sees it ended at its next check.
    player->CheckEnded();
  }
}
