#include "StopRequest.h"

#include "Protocol.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

namespace vidmora::encoder {

namespace {
// Requests so far ("q" and signals together); a second one gives up at once.
std::atomic<int> g_requests{0};
std::atomic<int64_t> g_firstRequestNs{0};  // CLOCK_MONOTONIC of the first request
std::atomic<bool> g_parentGone{false};
char g_abandonPath[4096] = {0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<int64_t>::is_always_lock_free,
              "used from a signal handler");

struct termios g_savedTerminal;
volatile sig_atomic_t g_terminalChanged = 0;

void RestoreTerminal() {
  if (g_terminalChanged) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    g_terminalChanged = 0;
  }
}

int64_t MonotonicNs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);  // async-signal-safe
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Counts one request; true when it is the second or a later one.
bool CountRequest() {
  const int64_t now = MonotonicNs();
  int64_t unset = 0;
  g_firstRequestNs.compare_exchange_strong(unset, now);
  return g_requests.fetch_add(1) + 1 >= 2;
}

void OnParentGone(int) {
  g_parentGone = true;
  // An orderly stop when none was asked for yet; never the one that gives up.
  if (g_requests.load() == 0) CountRequest();
}

void OnSignal(int) {
  if (CountRequest()) {
    // Only async-signal-safe calls from here on.
    if (g_abandonPath[0]) unlink(g_abandonPath);
    RestoreTerminal();
    static const char msg[] = "Error: stopped: conversion abandoned\n";
    ssize_t ignored = write(STDERR_FILENO, msg, sizeof msg - 1);
    (void)ignored;
    _exit(255);
  }
}
}  // namespace

bool ParentGone() { return g_parentGone.load(); }

bool StopRequested() { return g_requests.load(std::memory_order_relaxed) > 0; }

double SecondsSinceStopRequest() {
  const int64_t first = g_firstRequestNs.load();
  return first ? (MonotonicNs() - first) / 1e9 : 0.0;
}

void RequestStop() {
  // A second request gives up at once; the signal handler does that for every thread,
  // with the abandoned file's name at hand.
  if (CountRequest()) kill(getpid(), SIGTERM);
}

void InstallSignalHandlers() {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sa.sa_handler = OnParentGone;
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

void SetAbandonPath(const std::string& path) {
  // Written while no signal handler can run on a half-copied string: block first.
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  sigaddset(&block, SIGTERM);
  sigaddset(&block, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  const size_t n = std::min(path.size(), sizeof g_abandonPath - 1);
  std::memcpy(g_abandonPath, path.data(), n);
  g_abandonPath[n] = 0;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

StdinWatcher::StdinWatcher() {
  if (pipe(wake_) != 0) {
    wake_[0] = wake_[1] = -1;
    return;
  }
  if (isatty(STDIN_FILENO) && tcgetpgrp(STDIN_FILENO) == getpgrp() &&
      tcgetattr(STDIN_FILENO, &g_savedTerminal) == 0) {
    struct termios raw = g_savedTerminal;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) g_terminalChanged = 1;
  }
  // A "q" typed ahead counts before the conversion opens anything.
  struct pollfd ahead = {STDIN_FILENO, POLLIN, 0};
  char buf[256];
  ssize_t got = 0;
  if (poll(&ahead, 1, 0) == 1 && (ahead.revents & POLLIN) && (got = read(STDIN_FILENO, buf, sizeof buf)) > 0)
    for (ssize_t i = 0; i < got; ++i)
      if (std::tolower(static_cast<unsigned char>(buf[i])) == protocol::kQuitKey) RequestStop();
  thread_ = std::thread([this] { Run(); });
}

StdinWatcher::~StdinWatcher() {
  if (wake_[1] >= 0) {
    const char c = 'x';
    ssize_t ignored = write(wake_[1], &c, 1);
    (void)ignored;
  }
  if (thread_.joinable()) thread_.join();
  RestoreTerminal();
  for (int fd : wake_)
    if (fd >= 0) close(fd);
}

void StdinWatcher::Run() {
  // Blocks every signal so that they are handled by the conversion's threads.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
  bool watchInput = true;
  for (;;) {
    struct pollfd fds[2];
    fds[0] = {wake_[0], POLLIN, 0};
    fds[1] = {STDIN_FILENO, POLLIN, 0};
    const int n = poll(fds, watchInput ? 2 : 1, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents) return;
    if (!watchInput || !fds[1].revents) continue;
    if (fds[1].revents & POLLNVAL) {
      watchInput = false;
      continue;
    }
    char buf[256];
    const ssize_t got = read(STDIN_FILENO, buf, sizeof buf);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) {
      watchInput = false;  // end of input: not a stop request
      continue;
    }
    for (ssize_t i = 0; i < got; ++i)
      if (std::tolower(static_cast<unsigned char>(buf[i])) == protocol::kQuitKey) RequestStop();
  }
}

}  // namespace vidmora::encoder
