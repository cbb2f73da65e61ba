// Throughput of a batch through the real main window with 同时转换 at 自动
// against 1, in one run and in turns (1, 自动, 1, 自动, ...), so that both see
// the same load on a shared machine; and the peak memory of each (this program
// and every encoder it runs, sampled every 50 ms). Prints figures; asserts
// nothing.
// Usage: bench_batch ROUNDS NAME CLIP... [-- NAME CLIP...]...
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
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct NoPower : Platform::IPowerControl {
  bool CanPowerOff() override { return false; }
  bool PowerOff() override { return false; }
  void RequestQuit() override {}
};

long RssKbOf(const QString& pid) {
  QFile f(QStringLiteral("/proc/%1/status").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  return 0;
}

// This program's memory and its children's (the encoders), in kB.
long TreeRssKb() {
  const QString self = QString::number(QCoreApplication::applicationPid());
  long sum = RssKbOf(self);
  for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid == self || !stat.open(QIODevice::ReadOnly)) continue;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    if (close < 0) continue;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.value(1) == self.toLatin1()) sum += RssKbOf(pid);
  }
  return sum;
}

QString LoadAverage() {
  QFile f(QStringLiteral("/proc/loadavg"));
  return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(QLatin1Char(' '), 0, 2)
                                     : QString();
}

struct Figures {
  double seconds = 0;
  long peakKb = 0;
  int most = 0;
  int converted = 0;
};

Figures RunBatch(TConvMainForm* form, int chosen) {
  form->CmbConcurrent->setCurrentIndex(form->CmbConcurrent->findData(chosen));
  form->CmbConcurrentChange();
  // The outputs of the last batch go: nothing stands in the way.
  QDir(form->AvSaveDirEdit->text()).removeRecursively();
  QDir().mkpath(form->AvSaveDirEdit->text());
  Figures f;
  QTimer sampler;
  QObject::connect(&sampler, &QTimer::timeout, [&] {
    f.peakKb = std::max(f.peakKb, TreeRssKb());
    f.most = std::max(f.most, static_cast<int>(form->ConvQueue->RunningRows().size()));
  });
  sampler.start(50);
  QElapsedTimer t;
  t.start();
  form->CvAvFileBtnClick();
  if (!QTest::qWaitFor([form] { return !form->AvMsgTimer->isActive(); }, 3600000))
    std::printf("  (the batch did not end within an hour)\n");
  f.seconds = t.nsecsElapsed() / 1e9;
  for (int r = 0; r < form->AvFilesList->RowCount(); ++r)
    f.converted += form->AvFilesList->ImageIndex(r) == 5;
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  Platform::EnsureUtf8Locale();
  QApplication app(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s ROUNDS NAME CLIP... [-- NAME CLIP...]...\n", argv[0]);
    return 2;
  }
  const int rounds = std::max(1, QString::fromLocal8Bit(argv[1]).toInt());
  QList<QPair<QString, QStringList>> batches;
  for (int i = 2; i < argc; ++i) {
    const QString word = QString::fromLocal8Bit(argv[i]);
    if (word == QLatin1String("--") || batches.isEmpty()) {
      if (word == QLatin1String("--")) ++i;
      if (i < argc) batches.append({QString::fromLocal8Bit(argv[i]), {}});
      continue;
    }
    batches.last().second << word;
  }
  NoPower power;
  Platform::SetPowerControl(&power);
  TestSupport::CapturedDialogs dialogs;
  TestSupport::TempAppDir appDir;
  TestSupport::MainWindowFixture window;
  TConvMainForm* form = window.form();
  std::printf("cores %d, load average at the start %s\n", Platform::UsableCores(), qPrintable(LoadAverage()));
  for (const auto& batch : batches) {
    form->AvFilesList->ClearRows();
    form->AvFilesListDragDrop(batch.second, 0);
    TestSupport::WaitForAddition(form);
    std::printf("%s: %d files\n", qPrintable(batch.first), form->AvFilesList->RowCount());
    double one = 0, autos = 0;
    long peakOne = 0, peakAuto = 0;
    for (int round = 1; round <= rounds; ++round) {
      for (int chosen : {1, 0}) {
        const Figures f = RunBatch(form, chosen);
        std::printf(
            "  round %d, %s: %.1f s, %d/%d converted, at most %d at once, peak memory %ld MB, load %s\n",
            round, chosen ? "1    " : "自动", f.seconds, f.converted, form->AvFilesList->RowCount(), f.most,
            f.peakKb / 1024, qPrintable(LoadAverage()));
        (chosen ? one : autos) += f.seconds;
        long& peak = chosen ? peakOne : peakAuto;
        peak = std::max(peak, f.peakKb);
      }
    }
    std::printf(
        "  %s: 自动 against 1: %.2fx the throughput (%.1f s against %.1f s over %d rounds); peak memory "
        "%ld MB against %ld MB\n",
        qPrintable(batch.first), one / autos, autos, one, rounds, peakAuto / 1024, peakOne / 1024);
  }
  std::printf("error boxes: %d\n", static_cast<int>(dialogs.messages.size()));
  Platform::SetPowerControl(nullptr);
  return 0;
}
