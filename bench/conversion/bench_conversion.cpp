// Times a batch of ten 2-second clips through the real main window against
// the same ten encoder runs back to back, measures the longest time the UI
// thread spends in one tick of the conversion timer, and watches the
// program's memory across batches. Prints figures; asserts nothing.
#include "app/ConvMainFrm.h"
#include "app/ConvMainFunc.h"
#include "app/Controls.h"
#include "conversion/ConvQueue.h"
#include "platform/Platform.h"
#include "platform/PowerControl.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <vector>

extern char** environ;

namespace {

constexpr int kFiles = 10;

long RssKb() {
  QFile f(QStringLiteral("/proc/self/status"));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : f.readAll().split('\n')) {
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  }
  return 0;
}

// Runs one command line to its end, output discarded.
void RunToEnd(const QStringList& argv) {
  std::vector<QByteArray> bytes;
  for (const QString& a : argv) bytes.push_back(a.toUtf8());
  std::vector<char*> args;
  for (QByteArray& b : bytes) args.push_back(b.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ) == 0) waitpid(pid, nullptr, 0);
  posix_spawn_file_actions_destroy(&fa);
}

struct NoPower : Platform::IPowerControl {
  bool CanPowerOff() override { return false; }
  bool PowerOff() override { return false; }
  void RequestQuit() override {}
};

// Times the UI thread's work in each tick: from the timer event reaching the
// timer to the last slot connected to it.
class TickClock : public QObject {
 public:
  QElapsedTimer clock;
  double longestMs = 0;
  int ticks = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Timer) clock.start();
    return false;
  }
  void Done() {
    if (!clock.isValid()) return;
    longestMs = std::max(longestMs, clock.nsecsElapsed() / 1e6);
    ++ticks;
    clock.invalidate();
  }
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  Platform::EnsureUtf8Locale();
  QApplication app(argc, argv);
  const QString make = TestSupport::BuiltAppDir() + QStringLiteral("/make");
  if (!QFileInfo(make).isExecutable()) {
    std::printf("the encoder %s has not been built\n", qPrintable(make));
    return 1;
  }
  NoPower power;
  Platform::SetPowerControl(&power);
  TestSupport::CapturedDialogs dialogs;
  TestSupport::TempAppDir appDir;
  QTemporaryDir sources;
  const QString clip = TestSupport::SourceDir() + QStringLiteral("/tests/data/media/测试 视频/片段 一.mp4");
  QStringList files;
  for (int i = 0; i < kFiles; ++i) {
    files << sources.filePath(QStringLiteral("clip%1.mp4").arg(i, 2, 10, QLatin1Char('0')));
    QFile::copy(clip, files.last());
  }

  TestSupport::MainWindowFixture window;
  TConvMainForm* form = window.form();
  // One file at a time: the overhead is the time between one encoder's end and
  // the next one's start, and the work per progress line.
  form->CmbConcurrent->setCurrentIndex(form->CmbConcurrent->findData(1));
  form->CmbConcurrentChange();
  for (const QString& f : files) {
    dialogs.fileAnswers.push_back(f);
    form->AddAvFileBtnClick();
    TestSupport::WaitForAddition(form);
  }

  // The same command lines, run back to back.
  QList<QStringList> lines;
  {
    TConvMainFunc f;
    for (int i = 0; i < kFiles; ++i) {
      const TConvJob job = f.BuildConvJob(i);
      lines << QStringList{job.program} + job.arguments;
    }
  }
  // The reference: the same encoder runs back to back, timed right before each
  // batch so that both see the same load on a shared machine.
  auto backToBack = [&lines] {
    QElapsedTimer clock;
    clock.start();
    for (const QStringList& argv : lines) RunToEnd(argv);
    return clock.nsecsElapsed() / 1e9;
  };

  TickClock ticks;
  form->AvMsgTimer->installEventFilter(&ticks);
  QObject::connect(form->AvMsgTimer, &QTimer::timeout, form, [&ticks] { ticks.Done(); });

  std::printf("files: %d x 2 s clip (h264+aac), default options\n", kFiles);
  std::vector<long> rss;
  std::vector<double> overheads;
  double longestTick = 0;
  for (int batch = 1; batch <= 3; ++batch) {
    const double scriptSec = backToBack();
    // The window's batch writes the same files anew: without the reference's
    // outputs in its way it asks nothing and keeps the names of the command lines.
    for (const QStringList& argv : lines) QFile::remove(argv.last());
    ticks.longestMs = 0;
    ticks.ticks = 0;
    QElapsedTimer t;
    t.start();
    form->CvAvFileBtnClick();
    const bool ended = QTest::qWaitFor([form] { return !form->AvMsgTimer->isActive(); }, 600000);
    const double windowSec = t.nsecsElapsed() / 1e9;
    int finished = 0;
    for (int i = 0; i < kFiles; ++i) finished += form->AvFilesList->ImageIndex(i) == 5;
    rss.push_back(RssKb());
    overheads.push_back((windowSec - scriptSec) / kFiles);
    longestTick = std::max(longestTick, ticks.longestMs);
    std::printf(
        "batch %d: back to back %.2f s, window %.2f s for %d/%d files%s, overhead %.3f s per file, "
        "%d ticks, longest tick %.2f ms, RSS %ld kB\n",
        batch, scriptSec, windowSec, finished, kFiles, ended ? "" : " (did not end)", overheads.back(),
        ticks.ticks, ticks.longestMs, rss.back());
  }
  std::sort(overheads.begin(), overheads.end());
  std::printf("queue overhead per file (median of 3): %.3f s; longest tick %.2f ms\n", overheads[1],
              longestTick);
  std::printf("memory across batches: %+ld kB (batch 1 to batch 3)\n", rss.back() - rss.front());
  std::printf("error boxes: %d\n", static_cast<int>(dialogs.messages.size()));
  Platform::SetPowerControl(nullptr);
  return 0;
}
