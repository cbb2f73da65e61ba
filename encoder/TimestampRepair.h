// Timestamp repair for the streams converted from one source, worked out from the packets'
// times alone (no media libraries beyond rational arithmetic), so it can be tried on made-up
// sequences of times.
//
// The source's clock may jump: a paused or motion-triggered recording steps forward, files
// joined end to end step back to the second part's start, and damage throws single packets
// (or a stream from some point on) far from their neighbours. Every such jump is closed so
// that the output goes on without the gap, and the same shift is given to every stream that
// jumps at the same point, so picture and sound stay together. A step that the other stream
// goes along with is no jump but content: a still picture held while the sound goes on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/rational.h>
}

namespace vidmora::encoder {

class TimestampRepair {
 public:
  // What the console reports of a jump that was closed, or of a step forward that was kept
  // as content (a picture held while the other stream went on).
  struct Jump {
    bool found = false;
    int stream = -1;
    double step = 0;    // seconds the clock jumped (negative: back)
    double at = 0;      // seconds, the stream's repaired time before the jump
    bool held = false;  // instead of a jump: a step of `step` seconds at `at` kept as it is
    // Why the step was closed or held, for the trace; "" when the packet showed no such step.
    std::string why;
  };

  // Adds a stream whose times are counted in timeBase; returns its number.
  int AddStream(AVRational timeBase);

  // Repairs one packet's presentation and decoding times in place (AV_NOPTS_VALUE where the
  // packet has none); duration is the packet's stated length (0 when unknown). Returns the
  // jump this packet revealed or confirmed, if any, or the step it showed to be held content.
  // A jump seen in the presentation times first is returned only once the decoding times
  // confirm it.
  Jump Repair(int stream, int64_t& pts, int64_t& dts, int64_t duration);

  // True while the stream's packets must wait: the first packet waits for the second (a
  // damaged first time must not move the whole stream), and a jump in the presentation
  // times awaits the decoding times. Repair() then leaves a packet's times as they are; once Holding()
  // is false again, each waiting packet is given to Release(), in order, before the packet
  // that ended the wait. Finish() ends any wait at the end of the source.
  bool Holding(int stream) const;
  void Release(int stream, int64_t& pts, int64_t& dts, int64_t duration);
  void Finish(int stream);

  // The end of the content read so far, on the repaired clock, in AV_TIME_BASE units:
  // the latest end of a packet whose time is settled. AV_NOPTS_VALUE before any packet.
  int64_t ContentEnd() const;

  int Jumps() const { return jumps_; }

  // The shift the stream's current clock gets, in AV_TIME_BASE units: what is read beside
  // it that the repair does not follow (subtitle cues) takes the same, so it stays with it.
  int64_t CurrentShift(int stream) const;

 private:
  enum class Window { None, First, Main, Presentation, Tail };
  struct Stream {
    AVRational tb{1, 1};
    int64_t offset = 0;     // added to the times on the stream's current clock
    int64_t oldOffset = 0;  // the clock before the last move, while its window is open
    int64_t jumpRaw = 0;    // the source's time at which the current clock begins
    Window window = Window::None;
    int windowPackets = 0;
    int64_t lastTs = AV_NOPTS_VALUE;  // the last main (decoding) time, repaired
    int64_t maxPts = AV_NOPTS_VALUE;  // the highest presentation time, repaired
    int64_t lastDuration = 0;
    int64_t lastStep = 0;
    int64_t end = AV_NOPTS_VALUE;         // AV_TIME_BASE units
    int64_t pendingEnd = AV_NOPTS_VALUE;  // likewise, while a move awaits the next packet
    bool started = false;
    int64_t firstTs = AV_NOPTS_VALUE;  // the first packet's main time, while it waits
    int64_t firstDuration = 0;
    int64_t firstFix = 0;  // moves the first packet alone, when it lay far from the rest
    Jump pending;          // a jump in the presentation times, until the decoding times tell
  };
  // The last jump closed, for the other streams to take the same shift at the same point.
  struct SharedJump {
    bool valid = false;
    int from = -1;
    unsigned taken = 0;  // one bit a stream that took it
    int64_t shift = 0;   // AV_TIME_BASE units
  };

  bool OnOldClock(const Stream& s, int64_t t) const;
  int64_t Map(const Stream& s, int64_t t) const;
  bool HeldByOthers(int stream, int64_t ts) const;
  // Why a step forward is content, not a jump; nullptr when it is a jump.
  const char* Held(int stream, int64_t ts, int64_t since) const;
  int64_t Shift(int stream, int64_t raw, int64_t follow);
  void Settle(Stream& s, bool keep);
  void Account(Stream& s, int64_t pts, int64_t dts, int64_t duration);

  std::vector<Stream> streams_;
  SharedJump shared_;
  int jumps_ = 0;
};

}  // namespace vidmora::encoder
