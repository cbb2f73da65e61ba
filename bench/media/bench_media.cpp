// Media probe timing: one full properties probe of a large file (median of
// several runs), and adding files one by one through the real main window.
// Usage: bench_media <big file> <runs> <files to add> [sample files...]
#include "app/ConvMainFrm.h"
#include "app/Controls.h"
#include "media/FileFacts.h"
#include "media/MediaInfoDll.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s <big file> <runs> <files to add> [sample files...]\n", argv[0]);
    return 2;
  }
  const QString big = QString::fromLocal8Bit(argv[1]);
  const int runs = std::max(1, atoi(argv[2]));
  const int adds = std::max(1, atoi(argv[3]));
  QStringList samples;
  for (int i = 4; i < argc; ++i) samples << QString::fromLocal8Bit(argv[i]);
  if (samples.isEmpty()) samples << big;

  QElapsedTimer t;
  t.start();
  if (!LoadMediaInfoLib(MediaInfoLibFile())) {
    std::fprintf(stderr, "media library not found\n");
    return 1;
  }
  std::printf("library load: %.2f ms\n", t.nsecsElapsed() / 1e6);

  std::vector<double> times;
  QStringList facts;
  for (int i = 0; i < runs; ++i) {
    t.restart();
    facts = ProbeFileProperties(big).value_or(TFileProperties{}).values;
    times.push_back(t.nsecsElapsed() / 1e6);
  }
  std::printf("probe of %s (%.1f MB, %d runs): median %.2f ms, min %.2f ms, max %.2f ms\n",
              qPrintable(QFileInfo(big).fileName()), QFileInfo(big).size() / 1048576.0, runs, Median(times),
              *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()));
  std::printf("  values: %s\n", qPrintable(facts.join(QStringLiteral(" | "))));

  TestSupport::TempAppDir appDir;
  TestSupport::CapturedDialogs dialogs;
  TestSupport::MainWindowFixture window;
  for (int i = 0; i < adds; ++i) dialogs.fileAnswers.push_back(samples[i % samples.size()]);
  std::vector<double> each;
  t.restart();
  QElapsedTimer one;
  for (int i = 0; i < adds; ++i) {
    one.start();
    window.form()->AddAvFileBtnClick();
    each.push_back(one.nsecsElapsed() / 1e6);
  }
  const double total = t.nsecsElapsed() / 1e6;
  std::printf(
      "add %d files through the window: total %.1f ms, median %.2f ms per file, max %.2f ms (%d rows)\n",
      adds, total, Median(each), *std::max_element(each.begin(), each.end()),
      window.form()->AvFilesList->RowCount());
  return window.form()->AvFilesList->RowCount() == adds ? 0 : 1;
}
