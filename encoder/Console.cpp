#include "Console.h"

#include "Protocol.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace vidmora::encoder {

namespace {
std::mutex g_consoleMutex;
std::mutex g_logMutex;
std::string g_lastError;
bool g_passThrough = false;

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
    s.replace(pos, from.size(), to);
}

void LibraryLog(void* avcl, int level, const char* fmt, va_list vl) {
  if (g_passThrough) {
    av_log_default_callback(avcl, level, fmt, vl);
    return;
  }
  if (level > AV_LOG_ERROR) return;
  char line[1024];
  int printPrefix = 0;
  av_log_format_line2(avcl, level, fmt, vl, line, sizeof line, &printPrefix);
  std::string text(line);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  if (text.empty()) return;
  std::lock_guard<std::mutex> lock(g_logMutex);
  g_lastError = text;
}

// The mark, the code, ": " and the detail, on one line whatever the detail holds.
std::string CodedLine(const char* mark, const char* code, const std::string& detail) {
  std::string line = std::string(mark) + code + ": " + detail;
  for (auto& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  return line;
}

}  // namespace

void ConsoleLine(const std::string& line) {
  std::string text = line;
  text += '\n';
  std::lock_guard<std::mutex> lock(g_consoleMutex);
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // nobody reads us any more; the conversion goes on regardless
    }
    p += n;
    left -= size_t(n);
  }
}

std::string ErrorLine(const Failure& failure) {
  return CodedLine(protocol::kErrorMark, protocol::Spelling(failure.code), failure.detail);
}

void ConsoleError(const Failure& failure) { ConsoleLine(ErrorLine(failure)); }

std::string WarningLine(WarningCode code, const std::string& detail) {
  return CodedLine(protocol::kWarningMark, protocol::Spelling(code), detail);
}

void ConsoleWarning(WarningCode code, const std::string& detail) { ConsoleLine(WarningLine(code, detail)); }

std::string DisplayName(const std::string& path) {
  std::string s = path;
  for (auto& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  // Each mark gets a backslash before its last character: "time\\=".
  for (const std::string mark : {protocol::kSummaryMark, protocol::kTimeMark, protocol::kProgressMark})
    ReplaceAll(s, mark, mark.substr(0, mark.size() - 1) + "\\" + mark.back());
  return "\"" + s + "\"";
}

void InstallLibraryLog() {
  const char* debug = std::getenv("VIDMORA_ENCODER_DEBUG");
  g_passThrough = debug && *debug && std::strcmp(debug, "0") != 0;
  if (!g_passThrough) av_log_set_level(AV_LOG_ERROR);
  av_log_set_callback(LibraryLog);
}

std::string LastLibraryError() {
  std::lock_guard<std::mutex> lock(g_logMutex);
  return g_lastError;
}

void ClearLibraryError() {
  std::lock_guard<std::mutex> lock(g_logMutex);
  g_lastError.clear();
}

std::string ErrorText(int averror) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(averror, buf, sizeof buf);
  return buf;
}

std::string Format(const char* fmt, ...) {
  char buf[2048];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

}  // namespace vidmora::encoder
