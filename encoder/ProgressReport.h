// What the console says of one conversion, in the encoder's own words: the description of
// the input and the output before the work, the decisions that concern the user (a jump in
// the source's clock closed, a still picture held, tracks left out), the length and progress
// lines, the tracks line; and, with the trace on (Trace.h), every jump decided. The
// conversion hands it values; the sentences are here (the forms of the protocol's lines are
// in Progress.h).
#pragma once

#include "Encoders.h"
#include "Muxer.h"
#include "Options.h"
#include "Source.h"
#include "TimestampRepair.h"

#include <chrono>
#include <deque>
#include <string>
#include <vector>

namespace vidmora::encoder {

// The conversion as it was set up, for its description.
struct ConversionSetup {
  const Options& options;
  const Source& source;
  const OutputStream& video;
  const std::deque<OutputStream>& sounds;
  const PictureSetup& picture;
  std::vector<const AVStream*> subtitles;  // the output's subtitle tracks
  std::string burnNote;                    // which subtitles are drawn into the picture; "" none
  size_t chapters = 0;
};

class ProgressReport {
 public:
  using Clock = std::chrono::steady_clock;

  // The input, the output and what becomes of each stream, before the first progress line;
  // length: the length the progress works to (negative: not known yet).
  void Describe(const ConversionSetup& setup, double length);

  // A jump in the source's clock closed, or a step kept as content, in a stream of the given
  // kind at `at` seconds from the start: the first of each said, every one traced.
  void Jump(const TimestampRepair::Jump& jump, bool video, double at);

  // The progress line, after a length line when the working length has moved (final: by any
  // amount, so the last length said is the content's). started: when the work began.
  void Progress(double working, int64_t frames, int64_t bytes, double outputTime, Clock::time_point started,
                bool final = false);

  // A sound track (its place among the source's, from 1) that wrote nothing and is left out.
  static void EmptySound(int place, const char* codec);
  // "tracks: sound=2 subtitles=1".
  static void Tracks(int sounds, int subtitles);

 private:
  double saidLength_ = -1;  // the last length said
  bool jumpSaid_ = false;   // a jump closed was said
  bool heldSaid_ = false;   // a held picture or pause was said
};

}  // namespace vidmora::encoder
