#include "TimestampRepair.h"

#include "Console.h"

#include <algorithm>

extern "C" {
#include <libavutil/mathematics.h>
}

namespace vidmora::encoder {

namespace {

// A step between two packets of one stream is a jump of the source's clock when it goes
// forward by more than kMaxForwardStep or back by more than kMaxBackwardStep, unless the
// content shows it is real (below).
// - Five seconds forward: pictures and sound frames come far more often than that, and a
//   gap of up to this is filled as it is (a recorder that dropped frames under load): at
//   most this much of a held picture is invented where nothing says the picture lasts.
// - One second back: reordering and interleaving move a stream's times back by a few
//   frames at most; smaller steps back are left to the frame checks, which drop what
//   overlaps.
constexpr double kMaxForwardStep = 5.0;
constexpr double kMaxBackwardStep = 1.0;
// A step forward is real when another stream has already reached within this of the new
// time: a still screen, a slide show or a paused camera while the sound goes on. Three
// seconds allow for sources that store one stream's packets somewhat ahead of the other's.
constexpr double kCoverSlack = 3.0;
// With no other stream to go by, a picture is held as long as the container says it lasts,
// up to this: a longer stated length is taken for damage.
constexpr double kMaxHeldPicture = 60.0;
// A jump seen in the presentation times before the decoding times (pictures shown out of
// order cross the jump first) waits this many packets for the decoding times to follow;
// the packets wait with it. When the decoding times do not follow, the presentation time
// alone was damaged, and when the other stream has gone along with them meanwhile, the
// picture was held: either way nothing is moved.
constexpr int kPresentationWindow = 32;
// After a move is confirmed, presentation times of pictures decoded before the jump but
// shown after it are still told apart for this many packets.
constexpr int kTailPackets = 16;

int64_t Seconds(double s, AVRational tb) {
  return av_rescale_q(int64_t(s * AV_TIME_BASE), AV_TIME_BASE_Q, tb);
}

}  // namespace

int64_t TimestampRepair::CurrentShift(int stream) const {
  if (stream < 0 || stream >= int(streams_.size())) return 0;
  return av_rescale_q(streams_[stream].offset, streams_[stream].tb, AV_TIME_BASE_Q);
}

int TimestampRepair::AddStream(AVRational timeBase) {
  Stream s;
  s.tb = timeBase;
  streams_.push_back(s);
  return int(streams_.size()) - 1;
}

// While a move's window is open, a time closer to the clock before the move than to the
// one after it still belongs to the clock before: the two lie a whole jump apart.
bool TimestampRepair::OnOldClock(const Stream& s, int64_t t) const {
  if (s.window == Window::None || s.offset == s.oldOffset) return false;
  const int64_t width = s.offset - s.oldOffset;  // negative when the source jumped forward
  return width < 0 ? t < s.jumpRaw + width / 2 : t > s.jumpRaw + width / 2;
}

int64_t TimestampRepair::Map(const Stream& s, int64_t t) const {
  if (t == AV_NOPTS_VALUE) return t;
  return t + (OnOldClock(s, t) ? s.oldOffset : s.offset);
}

// True when another stream has already reached (nearly) the time ts of this one.
bool TimestampRepair::HeldByOthers(int stream, int64_t ts) const {
  const int64_t at = av_rescale_q(ts, streams_[stream].tb, AV_TIME_BASE_Q);
  for (size_t k = 0; k < streams_.size(); ++k) {
    const Stream& o = streams_[k];
    if (int(k) == stream || o.lastTs == AV_NOPTS_VALUE) continue;
    if (av_rescale_q(o.lastTs, o.tb, AV_TIME_BASE_Q) >= at - int64_t(kCoverSlack * AV_TIME_BASE)) return true;
  }
  return false;
}

// Why a step forward from `since` to ts is content, not a jump: another stream goes along
// with it, or, with no other stream yet, the packet before says it lasts that long. nullptr
// when it is a jump.
const char* TimestampRepair::Held(int stream, int64_t ts, int64_t since) const {
  const Stream& s = streams_[stream];
  bool others = false;
  for (size_t k = 0; k < streams_.size(); ++k)
    others = others || (int(k) != stream && streams_[k].lastTs != AV_NOPTS_VALUE);
  if (others)
    return HeldByOthers(stream, ts) ? "another stream has already reached the new time: a still picture or a "
                                      "pause that is content"
                                    : nullptr;
  return s.lastDuration > 0 && s.lastDuration <= Seconds(kMaxHeldPicture, s.tb) &&
                 ts <= since + s.lastDuration + Seconds(kMaxForwardStep, s.tb)
             ? "the packet before states that it lasts until then"
             : nullptr;
}

// The shift that brings the packet at raw (on the stream's current clock) to follow: the
// shift another stream took for the same jump when it fits this stream as well, so that
// all streams jumping at one point move alike.
int64_t TimestampRepair::Shift(int stream, int64_t raw, int64_t follow) {
  Stream& s = streams_[stream];
  const unsigned bit = 1u << (stream & 31);
  if (shared_.valid && shared_.from != stream && !(shared_.taken & bit)) {
    const int64_t shift = av_rescale_q(shared_.shift, AV_TIME_BASE_Q, s.tb);
    const int64_t moved = raw + s.offset + shift;
    if (moved >= s.lastTs - Seconds(kMaxBackwardStep, s.tb) &&
        moved <= follow + Seconds(kMaxForwardStep, s.tb)) {
      shared_.taken |= bit;
      return shift;
    }
  }
  const int64_t shift = follow - (raw + s.offset);
  shared_ = {true, stream, bit, av_rescale_q(shift, s.tb, AV_TIME_BASE_Q)};
  return shift;
}

// Ends a move's wait: kept, the content it moved counts; undone, the stream goes back to
// the clock before it.
void TimestampRepair::Settle(Stream& s, bool keep) {
  if (keep) {
    if (s.pendingEnd != AV_NOPTS_VALUE)
      s.end = std::max(s.end == AV_NOPTS_VALUE ? s.pendingEnd : s.end, s.pendingEnd);
    s.window = Window::Tail;
    s.windowPackets = 0;
  } else {
    const int stream = int(&s - streams_.data());
    if (shared_.valid && shared_.from == stream) shared_.valid = false;
    s.offset = s.oldOffset;
    s.window = Window::None;
  }
  s.pendingEnd = AV_NOPTS_VALUE;
}

TimestampRepair::Jump TimestampRepair::Repair(int stream, int64_t& pts, int64_t& dts, int64_t duration) {
  Jump jump;
  Stream& s = streams_[stream];
  const int64_t raw = dts != AV_NOPTS_VALUE ? dts : pts;
  if (raw == AV_NOPTS_VALUE) return jump;

  // The first packet waits for the second: when the two lie a jump apart, the first one is
  // taken for damaged and is moved to just before the second, rather than the whole stream
  // being moved after it.
  if (!s.started) {
    s.started = true;
    s.firstTs = Map(s, raw);
    s.firstDuration = duration;
    s.window = Window::First;
    return jump;
  }
  if (s.window == Window::First) {
    const int64_t ts = Map(s, raw);
    const int64_t step = ts - s.firstTs;
    s.lastDuration = s.firstDuration;
    const bool apart = (step > Seconds(kMaxForwardStep, s.tb) && !Held(stream, ts, s.firstTs)) ||
                       step < -Seconds(kMaxBackwardStep, s.tb);
    s.window = Window::None;
    if (apart) {
      s.firstFix = ts - std::max<int64_t>(1, s.firstDuration) - s.firstTs;
      ++jumps_;
      jump = {true,
              stream,
              av_q2d(s.tb) * double(step),
              av_q2d(s.tb) * double(s.firstTs),
              false,
              "the first packet lies a jump away from the second: it is moved to just before it"};
    } else {
      s.lastTs = s.firstTs;
    }
  }

  // A move made at an earlier packet is confirmed or undone by where this one lies.
  switch (s.window) {
    case Window::Main:
      Settle(s, !OnOldClock(s, raw));
      break;
    case Window::Presentation:
      if (!OnOldClock(s, raw)) {
        // The decoding times have crossed: a jump when they step as far and nothing went
        // along, a picture held when the other stream went along.
        const int64_t unmoved = raw + s.oldOffset;
        const bool far = unmoved - s.lastTs > Seconds(kMaxForwardStep, s.tb);
        const char* heldWhy = far ? Held(stream, unmoved, s.lastTs) : nullptr;
        const bool held = heldWhy != nullptr;
        if (far) {
          jump = s.pending;
          jump.found = !held;
          jump.held = held;
          jump.why = held ? heldWhy : "the presentation times jumped first and the decoding times followed";
          if (!held) ++jumps_;
        } else {
          jump = s.pending;
          jump.found = false;
          jump.why =
              "the presentation times stepped alone and the decoding times did not follow: a damaged time, "
              "nothing is moved";
        }
        Settle(s, far && !held);
      } else if (++s.windowPackets > kPresentationWindow) {
        jump = s.pending;
        jump.found = false;
        jump.why =
            "the presentation times stepped and the decoding times did not follow within a while: a "
            "damaged time, nothing is moved";
        Settle(s, false);
      }
      break;
    case Window::Tail:
      if (++s.windowPackets > kTailPackets) s.window = Window::None;
      break;
    case Window::None:
    case Window::First:
      break;
  }

  int64_t ts = Map(s, raw);
  bool moved = false;
  if (s.lastTs != AV_NOPTS_VALUE) {
    const int64_t follow = s.lastTs + std::max<int64_t>(1, s.lastDuration > 0 ? s.lastDuration : s.lastStep);
    const int64_t step = ts - s.lastTs;
    const bool far = step > Seconds(kMaxForwardStep, s.tb);
    const char* heldWhy = far ? Held(stream, ts, s.lastTs) : nullptr;
    const bool forward = far && !heldWhy;
    const bool back = step < -Seconds(kMaxBackwardStep, s.tb);
    if (heldWhy)
      jump = {false, stream, av_q2d(s.tb) * double(step), av_q2d(s.tb) * double(s.lastTs), true, heldWhy};
    if (forward || back) {
      const int64_t shift = Shift(stream, raw, follow);
      s.oldOffset = s.offset;
      s.offset += shift;
      s.jumpRaw = raw;
      s.window = Window::Main;
      moved = true;
      std::string why =
          forward ? Format("a step forward of more than %.0f s that no other stream goes along with",
                           kMaxForwardStep)
                  : Format("a step back of more than %.0f s", kMaxBackwardStep);
      if (shared_.from != stream) why += "; moved by the same shift as the stream that jumped there first";
      jump = {true, stream, av_q2d(s.tb) * double(step), av_q2d(s.tb) * double(s.lastTs), false, why};
      ts = raw + s.offset;
    } else if (step > 0) {
      s.lastStep = step;
    }
  }
  // Pictures shown out of order may cross a jump in their presentation times before their
  // decoding times do: the presentation times are checked as well.
  if (!moved && s.window == Window::None && dts != AV_NOPTS_VALUE && pts != AV_NOPTS_VALUE &&
      s.maxPts != AV_NOPTS_VALUE) {
    const int64_t p = Map(s, pts);
    const int64_t step = p - s.maxPts;
    if (step > Seconds(kMaxForwardStep, s.tb) && !Held(stream, p, s.maxPts)) {
      const int64_t follow =
          s.maxPts + std::max<int64_t>(1, s.lastDuration > 0 ? s.lastDuration : s.lastStep);
      const int64_t shift = Shift(stream, pts, follow);
      s.oldOffset = s.offset;
      s.offset += shift;
      s.jumpRaw = pts;
      s.window = Window::Presentation;
      s.windowPackets = 0;
      s.pending = {true, stream, av_q2d(s.tb) * double(step), av_q2d(s.tb) * double(s.maxPts), false, {}};
    }
  }
  if (jump.found && moved) ++jumps_;

  s.lastTs = ts;
  if (duration > 0) s.lastDuration = duration;
  // While the decoding times have not shown whether a presentation jump stands, the
  // packet's times stay as the source gives them; Release() maps them later.
  if (s.window == Window::Presentation) return jump;
  pts = Map(s, pts);
  dts = Map(s, dts);
  Account(s, pts, dts, duration);
  return jump;
}

bool TimestampRepair::Holding(int stream) const {
  const Window w = streams_[stream].window;
  return w == Window::Presentation || w == Window::First;
}

void TimestampRepair::Release(int stream, int64_t& pts, int64_t& dts, int64_t duration) {
  Stream& s = streams_[stream];
  pts = Map(s, pts);
  dts = Map(s, dts);
  if (s.firstFix) {  // the first packet, found far from the rest
    if (pts != AV_NOPTS_VALUE) pts += s.firstFix;
    if (dts != AV_NOPTS_VALUE) dts += s.firstFix;
    s.firstFix = 0;
  }
  Account(s, pts, dts, duration);
}

void TimestampRepair::Finish(int stream) {
  Stream& s = streams_[stream];
  if (s.window == Window::First)
    s.window = Window::None;
  else if (s.window == Window::Presentation)
    Settle(s, false);
}

void TimestampRepair::Account(Stream& s, int64_t pts, int64_t dts, int64_t duration) {
  if (pts != AV_NOPTS_VALUE) s.maxPts = s.maxPts == AV_NOPTS_VALUE ? pts : std::max(s.maxPts, pts);
  const int64_t last = std::max(pts == AV_NOPTS_VALUE ? dts : pts, dts == AV_NOPTS_VALUE ? pts : dts);
  const int64_t end = av_rescale_q(last + std::max<int64_t>(0, duration), s.tb, AV_TIME_BASE_Q);
  int64_t& into = s.window == Window::Main ? s.pendingEnd : s.end;
  into = into == AV_NOPTS_VALUE ? end : std::max(into, end);
}

int64_t TimestampRepair::ContentEnd() const {
  int64_t end = AV_NOPTS_VALUE;
  for (const Stream& s : streams_)
    if (s.end != AV_NOPTS_VALUE) end = end == AV_NOPTS_VALUE ? s.end : std::max(end, s.end);
  return end;
}

}  // namespace vidmora::encoder
