#include "PlayerCore.h"

#include "media/DurationText.h"
#include "platform/ChildProcess.h"
#include "platform/CommandLine.h"

#include <cerrno>
#include <csignal>
#include <sys/wait.h>

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
  if (!player->Start(args, options)) {
    delete player;
    return -1;
  }
  players_.append(player);
  connect(player, &Platform::TChildProcess::Finished, this, [this, player] {
    players_.removeAll(player);
    player->deleteLater();
    emit PlayerEnded();
  });
  return player->Pid();
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
