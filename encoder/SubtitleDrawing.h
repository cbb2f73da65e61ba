// Text subtitles drawn into the finished pictures of a conversion with libass: the cues of
// one track (bounded by SubtitleBounds), styled by its ASS header, timed on the output's
// clock. Drawing is bounded in time: a cue whose drawing costs more than kMaxCueSeconds over
// its pictures is left out, and once all drawing has cost more than kBaseSeconds plus
// kShareOfWork of the rest of the conversion's time, the rest of the track is not drawn.
// A stop request skips the drawing.
#pragma once

#include "SubtitleText.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
struct AVFrame;
}

struct ass_library;
struct ass_renderer;
struct ass_track;

namespace vidmora::encoder {

class TextDrawing {
 public:
  static constexpr double kMaxCueSeconds = 0.5;
  static constexpr double kBaseSeconds = 5.0;
  static constexpr double kShareOfWork = 0.5;

  TextDrawing() = default;
  ~TextDrawing();
  TextDrawing(const TextDrawing&) = delete;
  TextDrawing& operator=(const TextDrawing&) = delete;

  // Sets up libass for pictures width x height whose pixels are pixelAspect as wide as they
  // are high, with the track's ASS header ("" for none). ownStyles false (SRT, WebVTT):
  // every style is drawn in a font that holds Chinese, Japanese and Korean. "" or why the
  // track cannot be drawn.
  std::string Open(const std::string& header, bool ownStyles, int width, int height, double pixelAspect);
  bool IsOpen() const { return track_ != nullptr; }
  // A cue on the output's clock (AV_TIME_BASE units).
  void Add(const TextCue& cue);
  // Draws the cues shown at seconds (on the output's clock) onto a YUV 4:2:0 picture. False
  // when the picture cannot be written.
  bool Draw(AVFrame* frame, double seconds);
  // Cues left out because drawing them took too long; whether the rest was given up.
  int64_t SlowCues() const { return slowCues_; }
  bool GaveUp() const { return gaveUp_; }

 private:
  void Prune(int64_t nowMs);
  void Blend(AVFrame* frame, const void* images) const;

  ass_library* library_ = nullptr;
  ass_renderer* renderer_ = nullptr;
  ass_track* track_ = nullptr;
  std::vector<double> cost_;  // seconds of drawing so far, one an event of the track
  double drawing_ = 0;        // seconds of drawing in all
  std::chrono::steady_clock::time_point opened_;
  int64_t slowCues_ = 0;
  bool gaveUp_ = false;
  bool bt709_ = true;
};

}  // namespace vidmora::encoder
