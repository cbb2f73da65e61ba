// A scripted stand-in for the encoder, used by the conversion tests.
//
// Encoder form:  make [-y] -ipt SOURCE [fragments...] OUTPUT
//   The SOURCE file is the script, one command a line:
//     say TEXT       TEXT and a line end on standard error
//     raw TEXT       TEXT without a line end, in one write ("\n" in it is a line end)
//     length S       a length line: the progress works to S seconds
//     progress S     a progress line with time=S
//     summary        the summary line
//     sleep MS       waits; a "q" on standard input ends the program (status 0), and
//                    an OUTPUT written before is moved to its unfinished name (the next
//                    free "name (未完成) (n).mp4" when taken), as the encoder does,
//                    with its unfinished line
//     hold           the n-th hold: appends a byte to SOURCE + ".said" (all that was
//                    written before is in the pipe then) and waits, as sleep does, until
//                    SOURCE + ".ack" holds n bytes (status 3 after two minutes)
//     write          writes the OUTPUT file
//     moved NAME     writes NAME beside OUTPUT instead and says so in an output line
//     exit N         ends at once with status N, nothing more written
//     crash          ends by a signal (SIGSEGV)
//     kill N         ends by signal N
//   Every start, argument, "q" and exit is logged to SOURCE + ".log".
//   A missing script ends with the encoder's error line for a missing source and status 1.
//
// Helper forms for the process runner tests:
//   standin bytes N C     writes N bytes: all C, except the last 1200 which are 'z'
//   standin zero          writes "before", a zero byte, "after"
//   standin args          writes every argument (from argv[1]) hex encoded, one a line
//   standin sleep MS      waits MS milliseconds without writing anything
#include "encoder/Protocol.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string g_log;

void Log(const std::string& line) {
  if (g_log.empty()) return;
  std::ofstream out(g_log, std::ios::app);
  out << line << '\n';
}

void Write(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Waits up to ms milliseconds; true when a "q" arrived on standard input.
bool WaitForQuit(long ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  bool stdinOpen = true;
  for (;;) {
    const long left = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
            .count());
    if (left <= 0) return false;
    if (!stdinOpen) {
      usleep(static_cast<useconds_t>(left) * 1000);
      return false;
    }
    pollfd p{0, POLLIN, 0};
    const int r = poll(&p, 1, static_cast<int>(left));
    if (r > 0) {
      char c = 0;
      const ssize_t n = ::read(0, &c, 1);
      if (n == 1 && c == 'q') return true;
      if (n <= 0) stdinOpen = false;  // the end of input is not a stop
    }
  }
}

long FileSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return in ? static_cast<long>(in.tellg()) : 0;
}

// The n-th hold of a script: 1 quit, 0 acknowledged, -1 given up.
int Hold(const std::string& source, long n) {
  { std::ofstream(source + ".said", std::ios::app | std::ios::binary) << '.'; }
  for (int waited = 0; waited < 120000; waited += 5) {
    if (FileSize(source + ".ack") >= n) return 0;
    if (WaitForQuit(5)) return 1;
  }
  return -1;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// A stop after the output was written: the file is left under the unfinished name.
void LeaveUnfinished(const std::string& output, bool written) {
  if (!written || !Exists(output)) return;
  const std::string name = vidmora::protocol::UnfinishedName(output);
  const std::string target = Exists(name) ? vidmora::naming::NextFreeName(name, Exists) : name;
  if (::rename(output.c_str(), target.c_str()) == 0) Write(2, std::string("unfinished: ") + target + "\n");
}

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

int Helper(int argc, char** argv) {
  const std::string mode = argv[1];
  if (mode == "bytes" && argc >= 4) {
    const long n = std::atol(argv[2]);
    std::string data(static_cast<size_t>(n), argv[3][0]);
    for (long i = n > 1200 ? n - 1200 : 0; i < n; ++i) data[static_cast<size_t>(i)] = 'z';
    Write(1, data);
    return 0;
  }
  if (mode == "zero") {
    Write(1, std::string("before\0after", 12));
    return 0;
  }
  if (mode == "args") {
    std::string out;
    for (int i = 1; i < argc; ++i) out += Hex(argv[i]) + "\n";
    Write(1, out);
    return 0;
  }
  if (mode == "sleep" && argc >= 3) {
    usleep(static_cast<useconds_t>(std::atol(argv[2])) * 1000);
    return 0;
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "-y") != 0 && std::strcmp(argv[1], "-ipt") != 0)
    return Helper(argc, argv);

  std::string source, output;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-ipt") == 0 && i + 1 < argc) source = argv[i + 1];
  }
  if (argc >= 2) output = argv[argc - 1];
  if (!source.empty()) g_log = source + ".log";
  Log("start");
  for (int i = 1; i < argc; ++i) Log("arg:" + std::string(argv[i]));

  std::ifstream script(source);
  if (source.empty() || !script) {
    Write(2, "Error: source-missing: standin: cannot open the source\n");
    Log("exit 1");
    return 1;
  }
  int frame = 0;
  long holds = 0;
  bool written = false;
  std::string line;
  while (std::getline(script, line)) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    std::string rest;
    std::getline(words, rest);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    if (command == "say") {
      Write(2, rest + "\n");
    } else if (command == "raw") {
      // "\n" stands for a line end: several lines in one write.
      for (size_t at; (at = rest.find("\\n")) != std::string::npos;) rest.replace(at, 2, "\n");
      Write(2, rest);
    } else if (command == "length") {
      Write(2, "length: " + rest + "\n");
    } else if (command == "progress") {
      frame += 25;
      char text[256];
      std::snprintf(text, sizeof text,
                    "frame=%5d fps= 50 q=28.0 size=     256kB time=%s bitrate= 800.0kbits/s speed=2.00x\n",
                    frame, rest.c_str());
      Write(2, text);
    } else if (command == "summary") {
      Write(2,
            "video:210kB audio:18kB subtitle:0kB other streams:0kB global headers:0kB muxing overhead: "
            "0.41%\n");
    } else if (command == "sleep") {
      if (WaitForQuit(std::atol(rest.c_str()))) {
        LeaveUnfinished(output, written);
        Log("q");
        Log("exit 0");
        return 0;
      }
    } else if (command == "hold") {
      const int held = Hold(source, ++holds);
      if (held > 0) LeaveUnfinished(output, written);
      if (held != 0) {
        Log(held > 0 ? "q" : "hold given up");
        Log(held > 0 ? "exit 0" : "exit 3");
        return held > 0 ? 0 : 3;
      }
    } else if (command == "write") {
      std::ofstream out(output, std::ios::binary);
      out << "standin output\n";
      written = true;
    } else if (command == "moved") {
      const std::string path = output.substr(0, output.find_last_of('/') + 1) + rest;
      std::ofstream out(path, std::ios::binary);
      out << "standin output\n";
      Write(2, "output: " + path + "\n");
    } else if (command == "exit") {
      const int status = std::atoi(rest.c_str());
      Log("exit " + std::to_string(status));
      return status;
    } else if (command == "crash") {
      Log("crash");
      signal(SIGSEGV, SIG_DFL);
      raise(SIGSEGV);
    } else if (command == "kill") {
      Log("crash");
      const int number = std::atoi(rest.c_str());
      signal(number, SIG_DFL);
      raise(number);
    }
  }
  Log("exit 0");
  return 0;
}
