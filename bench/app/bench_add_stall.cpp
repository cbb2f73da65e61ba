// The longest stall of the window while 1000 files are added: a 10 ms timer
// runs beside the addition and records how late each of its ticks comes. The
// files are added through a drop of their folder and through one pick of the
// open dialog, probed by the probe workers as the program does; and, for
// reference, probed on the window's thread (in 20 ms slices, as the program did
// before its probe workers).
// Usage: bench_add_stall <folder of files>
#include "app/ConvMainFrm.h"
#include "app/Controls.h"
#include "app/FileAdder.h"
#include "media/ProbePool.h"
#include "tests/support/StallClock.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

struct Figures {
  double totalMs = 0;
  double longestStallMs = 0;
  int stallsOver100 = 0;
  int rows = 0;
};

// Runs the event loop for ms, with the 10 ms timer; what it saw.
Figures Watch(const std::function<void()>& start, const std::function<bool()>& done) {
  Figures f;
  TStallClock stalls(10);
  stalls.Start();
  // The addition starts from the event loop, as a drop or a click does.
  if (start) QTimer::singleShot(0, start);
  QApplication::processEvents();
  while (!done()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  // A few more ticks after the end, so that a last long event is counted.
  QElapsedTimer tail;
  tail.start();
  while (tail.elapsed() < 30) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
  f.totalMs = double(stalls.ElapsedMs() - 30);
  f.longestStallMs = stalls.LongestMs();
  f.stallsOver100 = stalls.OverBound();
  return f;
}

Figures Measure(TConvMainForm* form, const std::function<void()>& add) {
  form->AvFilesList->ClearRows();
  Figures f =
      Watch(add, [form] { return !form->AvFileAdder->IsBusy() && form->AvFilesList->RowCount() > 0; });
  f.rows = form->AvFilesList->RowCount();
  return f;
}

void Print(const char* what, const Figures& f) {
  std::printf("%-44s rows %4d  total %6.0f ms  longest stall %5.0f ms  over 100 ms: %3d\n", what, f.rows,
              f.totalMs, f.longestStallMs, f.stallsOver100);
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
  for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name))
    files << QDir(folder).filePath(name);

  TestSupport::TempAppDir appDir;
  TestSupport::CapturedDialogs dialogs;
  TestSupport::MainWindowFixture window;
  TConvMainForm* form = window.form();
  auto drop = [form, folder] { form->AvFilesListDragDrop({folder}, 0); };
  auto pick = [form, &dialogs, files] {
    dialogs.filesAnswers.push_back(files);
    form->AddAvFileBtnClick();
  };
  std::printf("load average at the start: %s", qPrintable(QString::fromLatin1([] {
                QFile f(QStringLiteral("/proc/loadavg"));
                return f.open(QIODevice::ReadOnly) ? f.readLine() : QByteArray("?\n");
              }())));
  {
    // The same timer with nothing to do: what the machine's other work costs.
    QElapsedTimer span;
    span.start();
    Print("nothing added (3 s)", Watch(nullptr, [&span] { return span.elapsed() >= 3000; }));
  }
  Print("drop of the folder, probe workers", Measure(form, drop));
  Print("one pick of all files, probe workers", Measure(form, pick));
  Print("drop of the folder, probe workers (again)", Measure(form, drop));
  // The reference: no worker program, every file probed on the window's thread.
  QElapsedTimer idle;
  idle.start();
  while (idle.elapsed() < 2500) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  form->AvFileAdder->Probes()->Program = QStringLiteral("/nonexistent/mediaprobe");
  Print("drop of the folder, on the window's thread", Measure(form, drop));
  return 0;
}
