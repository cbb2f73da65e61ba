#include "DosConvFunc.h"

#include "platform/CommandLine.h"
#include "platform/Process.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

int OutReadPipe = -1;
int OutWritePipe = -1;
int InReadPipe = -1;
int InWritePipe = -1;

namespace {

constexpr int kChunk = 4800;

pid_t g_pid = -1;

// The program's ends of the pipes of earlier starts whose encoder was still
// running when it was replaced. Closing the output pipe under a running
// encoder would end it on its next write (for instance while a stopped
// encoder is still closing its output file), so these are drained and kept
// until their process has ended.
struct Retired {
  pid_t pid;
  int outRead;
  int inWrite;
};
std::vector<Retired>& RetiredPipes() {
  static std::vector<Retired> retired;
  return retired;
}

void Discard(int fd) {
  char buffer[4096];
  while (Platform::BytesWaiting(fd) > 0) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0 && errno != EINTR) break;
  }
}

void RetireCurrent() {
  Platform::CloseFd(OutWritePipe);
  Platform::CloseFd(InReadPipe);
  if (OutReadPipe < 0 && InWritePipe < 0) return;
  if (Platform::ChildHasEnded(g_pid)) {
    Platform::CloseFd(OutReadPipe);
    Platform::CloseFd(InWritePipe);
  } else {
    RetiredPipes().push_back({g_pid, OutReadPipe, InWritePipe});
    OutReadPipe = -1;
    InWritePipe = -1;
  }
  g_pid = -1;
}

}  // namespace

void ReapDosProcesses() {
  Platform::ReapChildren();
  std::vector<Retired>& retired = RetiredPipes();
  for (auto it = retired.begin(); it != retired.end();) {
    Discard(it->outRead);
    if (Platform::ChildHasEnded(it->pid)) {
      Platform::CloseFd(it->outRead);
      Platform::CloseFd(it->inWrite);
      it = retired.erase(it);
    } else {
      ++it;
    }
  }
}

void StartDosProcess(const QString& commandLine) {
  RetireCurrent();
  ReapDosProcesses();

  int out[2] = {-1, -1};
  int in[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0) return;
  if (pipe2(in, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return;
  }
  OutReadPipe = out[0];
  OutWritePipe = out[1];
  InReadPipe = in[0];
  InWritePipe = in[1];

  const QStringList argv = Platform::SplitCommandLine(commandLine);
  g_pid = Platform::SpawnProcess(argv, InReadPipe, OutWritePipe, OutWritePipe);

  // The child holds its own copies now; with ours closed, the output pipe
  // reports its end once the encoder has ended.
  Platform::CloseFd(OutWritePipe);
  Platform::CloseFd(InReadPipe);
}

QString ReadDosPipe(int pipe) {
  QString result;
  if (Platform::BytesWaiting(pipe) == 0) return result;
  QByteArray buffer(kChunk + 1, '\0');
  for (;;) {
    ssize_t n;
    do {
      n = ::read(pipe, buffer.data(), kChunk);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) break;
    buffer[static_cast<int>(n)] = '\0';
    const char* data = buffer.constData();
    result = QString::fromUtf8(data, static_cast<int>(strnlen(data, static_cast<size_t>(n))));
    if (n < kChunk || Platform::BytesWaiting(pipe) == 0) break;
  }
  return result;
}

bool DosProcessEnded() { return Platform::ChildHasEnded(g_pid); }

pid_t DosProcessId() { return g_pid; }

bool SendDosQuitKey() { return Platform::WriteToPipe(InWritePipe, QByteArrayLiteral("q")); }
