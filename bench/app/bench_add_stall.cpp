// The longest stall of the window while 1000 files are added: a 10 ms timer
// runs beside the addition and records how late each of its ticks comes. The
// addition runs once in slices (as the program does) and once in a single
// event (as the program did before slices), through a drop of the folder and
// through one pick of the open dialog.
// Usage: bench_add_stall <folder of files>
#include "app/ConvMainFrm.h"
#include "app/Controls.h"
#include "app/FileAdder.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <functional>
#include <cstdio>
#include <vector>

namespace {

struct Figures {
  double totalMs = 0;
  double longestSliceMs = 0;
  double longestStallMs = 0;
  int stallsOver100 = 0;
  int rows = 0;
};

Figures Measure(TConvMainForm* form, int sliceMs, const std::function<void()>& add) {
  form->AvFilesList->ClearRows();
  form->AvFileAdder->SliceMs = sliceMs;
  Figures f;
  QElapsedTimer clock;
  QTimer ticker;
  ticker.setInterval(10);
  qint64 last = 0;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    const double late = double(now - last);
    f.longestStallMs = std::max(f.longestStallMs, late);
    if (late > 100) ++f.stallsOver100;
    last = now;
  });
  // The time inside each later slice, apart from what the machine's other
  // work takes from the window.
  const std::function<void()> slice = form->AvFileAdder->OnSlice;
  form->AvFileAdder->OnSlice = [&f, slice] {
    QElapsedTimer t;
    t.start();
    slice();
    f.longestSliceMs = std::max(f.longestSliceMs, double(t.nsecsElapsed()) / 1e6);
  };
  clock.start();
  ticker.start();
  // The addition starts from the event loop, as a drop or a click does.
  QTimer::singleShot(0, add);
  QApplication::processEvents();
  while (form->AvFileAdder->IsBusy() || form->AvFilesList->RowCount() == 0) {
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  // One more tick after the end, so that a last long slice is counted.
  QElapsedTimer tail;
  tail.start();
  while (tail.elapsed() < 30) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  f.totalMs = double(clock.elapsed() - 30);
  f.rows = form->AvFilesList->RowCount();
  form->AvFileAdder->OnSlice = slice;
  return f;
}

void Print(const char* what, const Figures& f) {
  std::printf("%-34s rows %4d  total %6.0f ms  longest stall %5.0f ms  over 100 ms: %3d  longest later slice %4.0f ms\n",
              what, f.rows, f.totalMs, f.longestStallMs, f.stallsOver100, f.longestSliceMs);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <folder of files>\n", argv[0]);
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  QStringList files;
  for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name)) files << QDir(folder).filePath(name);

  TestSupport::TempAppDir appDir;
  TestSupport::CapturedDialogs dialogs;
  TestSupport::MainWindowFixture window;
  TConvMainForm* form = window.form();
  const int sliceMs = form->AvFileAdder->SliceMs;  // the program's own
  auto drop = [form, folder] { form->AvFilesListDragDrop({folder}, 0); };
  auto pick = [form, &dialogs, files] {
    dialogs.filesAnswers.push_back(files);
    form->AddAvFileBtnClick();
  };
  // A first addition loads the media library; it is not counted.
  Measure(form, INT_MAX, drop);
  {
    // The same timer with nothing to do: what the machine's other work costs.
    Figures idle;
    QElapsedTimer clock, span;
    QTimer ticker;
    ticker.setInterval(10);
    qint64 last = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      const qint64 now = clock.elapsed();
      idle.longestStallMs = std::max(idle.longestStallMs, double(now - last));
      if (now - last > 100) ++idle.stallsOver100;
      last = now;
    });
    clock.start();
    ticker.start();
    span.start();
    while (span.elapsed() < 5000) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    idle.totalMs = 5000;
    Print("nothing added (5 s)", idle);
  }
  Print("drop of the folder, one event", Measure(form, INT_MAX, drop));
  Print("drop of the folder, slices", Measure(form, sliceMs, drop));
  Print("one pick of all files, one event", Measure(form, INT_MAX, pick));
  Print("one pick of all files, slices", Measure(form, sliceMs, pick));
  return 0;
}
