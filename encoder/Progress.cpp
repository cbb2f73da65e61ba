#include "Progress.h"

#include "Console.h"
#include "Protocol.h"

#include <algorithm>

namespace vidmora::encoder {

namespace {

// A source whose data ends this much (seconds) before the length its header states has
// lost its end (or carries a stale header); less is the usual spread between streams.
constexpr double kShortSourceSlack = 1.0;
// The output must hold the content read but for this share and these seconds (a last
// picture or sound frame that does not decode, pictures before a copy's first key frame).
constexpr double kLostShare = 0.1;
constexpr double kLostSeconds = 2.0;
// The share of a source file that must have been read before it tells the whole file's length.
constexpr double kShareToEstimate = 0.02;

}  // namespace

std::string ProgressLine(int64_t frames, double elapsed, int64_t bytes, double seconds) {
  const double t = seconds > 0 ? seconds : 0.0;
  std::string line = protocol::kProgressMark +
                     Format("%5lld fps=%3.0f size=%8lldkB ", (long long)frames,
                            elapsed > 0 ? frames / elapsed : 0.0, (long long)(bytes / 1024)) +
                     protocol::kTimeMark + Format("%.2f", t);
  if (t > 0) {
    const double speed = elapsed > 0 ? t / elapsed : 0.0;
    line += Format(speed < 100 ? " bitrate=%6.1fkbits/s speed=%4.3gx" : " bitrate=%6.1fkbits/s speed=%4.0fx",
                   bytes * 8.0 / t / 1000.0, speed);
  } else {
    line += " bitrate=N/A speed=N/A";
  }
  return line;
}

std::string SummaryLine(int64_t videoBytes, int64_t audioBytes, int64_t headerBytes, int64_t fileSize) {
  const int64_t payload = videoBytes + audioBytes + headerBytes;
  const std::string overhead =
      payload > 0 ? Format("%.3f%%", (fileSize - payload) * 100.0 / double(payload)) : std::string("unknown");
  return Format("video:%.0fkB audio:%.0fkB ", videoBytes / 1024.0, audioBytes / 1024.0) +
         protocol::kSummaryMark +
         Format("%.0fkB muxing overhead: %s", headerBytes / 1024.0, overhead.c_str());
}

double WorkingLength(const LengthClues& c) {
  if (c.ended) return c.content;
  double length = c.stated > 0 ? c.stated : -1;
  // A closed jump moves where the stated end lands on the repaired clock: a pause takes
  // its gap off, a second part joined on adds the first part's length.
  if (length > 0 && c.jumps > 0) length += c.shift;
  // Nothing stated, or a statement the content has outgrown: the share of the file read
  // carries the content read on to the whole file (once enough is read to tell).
  if ((length <= 0 || c.content > length) && c.readShare >= kShareToEstimate && c.content > 0)
    length = c.content / std::min(1.0, c.readShare);
  if (length <= 0 && c.content <= 0) return -1;
  return std::max(length, c.content);
}

std::string LengthLine(double seconds) { return protocol::kLengthMark + Format("%.2f", seconds); }

bool EndsEarly(double dataEnd, double stated) { return stated > 0 && dataEnd + kShortSourceSlack < stated; }

std::string ShortSourceLine(double dataEnd, double stated) {
  return WarningLine(WarningCode::ShortSource,
                     Format("the source's data ends at %.1f s of a stated %.1f s", dataEnd, stated));
}

bool LostContent(double written, double content) {
  return written < content * (1 - kLostShare) - kLostSeconds;
}

}  // namespace vidmora::encoder
