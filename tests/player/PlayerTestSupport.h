#pragma once
// Shared pieces of the preview player tests: the stand-in player in place of
// the real one, the argument vectors it records, and process checks.
#include "platform/Platform.h"
#include "player/PlayerCore.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>

namespace PlayerTest {

inline QString FakePlayerBinary() { return QStringLiteral(VIDMORA_FAKE_PLAYER); }
inline QString SampleClip() {
  return TestSupport::SourceDir() + QStringLiteral("/tests/data/media/clip.mp4");
}

// Whether a process exists and has not ended (a zombie has ended).
inline bool IsAlive(long long pid) {
  if (pid <= 0) return false;
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return false;
  const QByteArray text = stat.readAll();
  const int close = text.lastIndexOf(')');
  return close > 0 && close + 2 < text.size() && text[close + 2] != 'Z';
}

// Puts the stand-in where the program looks for the player (a link named like
// the player, as the installation folder has it) and records into a folder
// of its own.
class FakePlayer {
 public:
  explicit FakePlayer(const QString& appDir) {
    QFile::remove(appDir + QLatin1String(Platform::kPlayerFile));
    QFile::link(FakePlayerBinary(), appDir + QLatin1String(Platform::kPlayerFile));
    qputenv("VIDMORA_FAKE_PLAYER_LOG", log_.path().toLocal8Bit());
  }
  ~FakePlayer() {
    // Nothing of ours may outlive a test.
    TPlayerProcesses::Instance().EndAllNow();
    qunsetenv("VIDMORA_FAKE_PLAYER_LOG");
    qunsetenv("VIDMORA_FAKE_PLAYER_STUBBORN");
    qunsetenv("VIDMORA_FAKE_PLAYER_SAYS");
  }
  // Every stand-in started so far (by us or by anyone using this log), by pid.
  QMap<long long, QStringList> Runs() const {
    QMap<long long, QStringList> runs;
    const QStringList files = QDir(log_.path()).entryList({QStringLiteral("*.args")}, QDir::Files);
    for (const QString& name : files) {
      QFile file(log_.path() + QLatin1Char('/') + name);
      if (!file.open(QIODevice::ReadOnly)) continue;
      QStringList args;
      const QList<QByteArray> parts = file.readAll().split('\0');
      for (int i = 0; i + 1 < parts.size(); ++i) args << QString::fromLocal8Bit(parts[i]);
      runs.insert(name.section(QLatin1Char('.'), 0, 0).toLongLong(), args);
    }
    return runs;
  }
  // Waits until count stand-ins have recorded themselves.
  bool WaitForRuns(int count) const {
    for (int i = 0; i < 500; ++i) {
      if (Runs().size() >= count) return Runs().size() == count;
      QTest::qWait(10);
    }
    return false;
  }
  QString LogDir() const { return log_.path(); }

 private:
  QTemporaryDir log_;
};

}  // namespace PlayerTest
