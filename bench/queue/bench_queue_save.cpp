// How long the window stalls while the list is kept on disk after every change: a
// 1000-row list in the real main window, 200 changes one after the other (a row's
// result shown, as a run does), each followed by the window's save. A 5 ms timer runs
// beside them and records how late each of its ticks comes; the time the window's own
// part of each save takes (its picture of the list, handed to the writer) is timed
// alone. The reference, in the same run: the same changes with the file written on the
// window's thread.
// Usage: bench_queue_save [rows]
#include "app/ConvMainFrm.h"
#include "app/ConvMainFunc.h"
#include "app/Controls.h"
#include "app/ListMarks.h"
#include "conversion/ConvQueue.h"
#include "conversion/QueueFile.h"
#include "tests/support/StallClock.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kChanges = 200;

struct Figures {
  double longestStallMs = 0;
  double longestSaveMs = 0;  // the window's part of one save
  double medianSaveMs = 0;
  double totalMs = 0;
};

TQueueRow Record(const QString& source, int i) {
  TQueueRow r;
  r.source = source;
  r.typeText = QStringLiteral("mp4");
  r.sizeText = QStringLiteral("812.34 MB");
  r.durationText = QStringLiteral("01:32:10");
  r.result = i % 3 == 0 ? TRowResult::Converted : TRowResult::Waiting;
  r.output = QStringLiteral("/home/someone/Videos/Vidmora/第 %1 集 的 视频.mp4").arg(i);
  r.planned = r.output;
  r.options = {QStringLiteral("-ipt"),
               source,
               QStringLiteral("-vcodec"),
               QStringLiteral("libx264"),
               QStringLiteral("-b:v"),
               QStringLiteral("1500k"),
               QStringLiteral("-s"),
               QStringLiteral("1280x720"),
               r.output};
  r.sourceBytes = 851800000;
  r.outputBytes = r.result == TRowResult::Converted ? 301000000 : -1;
  r.tracks = QStringLiteral("声音 2 条, 字幕 1 条");
  return r;
}

enum class TSave { kNone, kWriter, kOnThread };

// Makes the changes, each from the event loop, and saves after each as the window
// does (kWriter), writes the file on the window's thread (kOnThread), or saves
// nothing (kNone: what the machine's other work alone costs the window).
Figures Measure(TConvMainForm* form, TSave save) {
  Figures f;
  std::vector<double> saves;
  TStallClock stalls(5);
  int done = 0;
  std::function<void()> change = [&] {
    TConvMainFunc func;
    const int row = (done * 37) % func.AvFilesList->RowCount();
    TQueueRow r = func.ListRowRecord(row);
    r.result = r.result == TRowResult::Converted ? TRowResult::Waiting : TRowResult::Converted;
    func.ShowRowRecord(row, r);
    QElapsedTimer t;
    t.start();
    if (save == TSave::kOnThread) {
      QVector<TQueueRow> rows;
      for (int k = 0; k < func.AvFilesList->RowCount(); ++k) rows << func.ListRowRecord(k);
      WriteFileWhole(func.BatchStore->Path(), QueueFileBytes(rows));
    } else if (save == TSave::kWriter) {
      func.SaveConvQueue();
    }
    saves.push_back(double(t.nsecsElapsed()) / 1e6);
    if (++done < kChanges) QTimer::singleShot(2, change);
  };
  stalls.Start();
  QTimer::singleShot(0, change);
  while (done < kChanges) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  form->BatchStore->Flush();
  f.totalMs = double(stalls.ElapsedMs());
  f.longestStallMs = stalls.LongestMs();
  std::sort(saves.begin(), saves.end());
  f.longestSaveMs = saves.back();
  f.medianSaveMs = saves[saves.size() / 2];
  return f;
}

void Print(const char* what, const Figures& f) {
  std::printf(
      "%-44s longest stall %5.1f ms  window's part of a save: longest %5.1f ms, median %5.1f ms  (%d changes "
      "in %.0f ms)\n",
      what, f.longestStallMs, f.longestSaveMs, f.medianSaveMs, kChanges, f.totalMs);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  TestSupport::TempAppDir appDir;
  TestSupport::CapturedDialogs dialogs;
  TestSupport::MainWindowFixture window;
  TConvMainForm* form = window.form();
  {
    TConvMainFunc f;
    for (int i = 0; i < rows; ++i) {
      const QString source = QStringLiteral("/home/someone/Videos/录像/第 %1 集 的 视频.mp4").arg(i);
      const int row = form->AvFilesList->AddRow(source, kIconWaiting,
                                                {QStringLiteral("mp4"), QStringLiteral("812.34 MB"),
                                                 QStringLiteral("01:32:10"), QStringLiteral("0%")});
      f.ShowRowRecord(row, Record(source, i));
    }
    f.SaveConvQueue();
  }
  form->BatchStore->Flush();
  std::printf("%d rows, list file %.0f KB (%s)\n", rows, QFileInfo(form->BatchStore->Path()).size() / 1024.0,
              qPrintable(form->BatchStore->Path()));
  const Figures none = Measure(form, TSave::kNone);
  const int before = form->BatchStore->Writes();
  const Figures kept = Measure(form, TSave::kWriter);
  const int writes = form->BatchStore->Writes() - before;
  const Figures reference = Measure(form, TSave::kOnThread);
  Print("reference, nothing written:", none);
  Print("written by the writer thread (the program):", kept);
  Print("reference, written on the window's thread:", reference);
  std::printf("writer thread: %d files written for %d changes (the newest wins while one is written)\n",
              writes, kChanges);
  std::printf("target: the window stalls no more than 20 ms after a change\n");
  return 0;
}
