// The encoder's threads and the queue between them, apart from what each stage does (as a
// converter's scheduler is kept apart from its demuxing, decoding, encoding and muxing).
//
// Two stages work at once: reading (demuxing, the timestamp repair, decoding and the filter
// chains) on the thread that calls Run(), and writing (encoding and the MP4 writer) on a thread
// of its own. Decoded frames, packets of streams copied as they are and subtitle cues go from
// the first to the second in order, through a bounded queue, so the two overlap without piling
// up pictures. The first failure either stage records ends both; it is kept as a value for
// the error line.
#pragma once

#include "Failure.h"
#include "LibraryObjects.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

extern "C" {
#include <libavutil/rational.h>
}

namespace vidmora::encoder {

class Scheduler {
 public:
  // What travels from reading to writing: a frame or packet of the picture or of a sound
  // track, a cue of a subtitle track, or the end of the source.
  enum class Kind { Video, Audio, Subtitle, End };
  struct Item {
    Kind kind = Kind::End;
    TFramePtr frame;
    AVRational timeBase{0, 1};
    TPacketPtr packet;  // instead of a frame: a packet of a stream copied as it is, or a cue
    int track = 0;      // the sound or subtitle track's number
  };
  using Clock = std::chrono::steady_clock;

  // capacity: the items that may wait between the stages; tick: how often the writing stage's
  // tick comes, whether items come or not.
  explicit Scheduler(size_t capacity, std::chrono::milliseconds tick = std::chrono::milliseconds(500))
      : capacity_(capacity), tick_(tick) {}
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  // Runs read() on this thread and the writing loop on a thread of its own until both ended:
  // each item goes to write(), in the order sent (false ends the loop: write has failed);
  // tick() comes every tick interval. The loop ends after the End item, or at a failure.
  void Run(const std::function<void()>& read, const std::function<bool(Item&)>& write,
           const std::function<void()>& tick);
  Clock::time_point Started() const { return started_; }

  // Reading stage: hands an item over, waiting while the queue is full. False once the
  // conversion has failed (the item is dropped).
  bool Send(Item item);
  bool SendEnd() { return Send(Item{}); }

  // Either stage: records failure unless one was recorded before, and ends both stages.
  // Always false, so a stage can `return Fail(...)`.
  bool Fail(Failure failure);
  bool Failed() const { return failed_; }
  // The first failure recorded (once Failed()).
  const Failure& FirstFailure() const { return failure_; }

 private:
  // 1: an item, 0: nothing within the wait, -1: the conversion failed.
  int Receive(Item& item, std::chrono::milliseconds wait);

  size_t capacity_;
  std::chrono::milliseconds tick_;
  Clock::time_point started_;
  std::mutex mutex_;
  std::condition_variable notEmpty_, notFull_;
  std::deque<Item> items_;
  std::atomic<bool> failed_{false};
  Failure failure_;
};

}  // namespace vidmora::encoder
