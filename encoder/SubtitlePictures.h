// Subtitles drawn as pictures (DVD, Blu-ray, DVB): their cues decoded and drawn into the
// finished pictures of a conversion. MP4 cannot keep them as tracks; they are only drawn.
#pragma once

#include "LibraryObjects.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
struct AVCodecContext;
struct AVCodecParameters;
struct AVFrame;
struct AVPacket;
}

namespace vidmora::encoder {

class PictureSubtitles {
 public:
  PictureSubtitles() = default;
  ~PictureSubtitles();
  PictureSubtitles(const PictureSubtitles&) = delete;
  PictureSubtitles& operator=(const PictureSubtitles&) = delete;

  // Opens a decoder for par (packets timed in timeBase); the cues are placed on a canvas of
  // width x height (the source's picture). "" or why it cannot be decoded.
  std::string Open(const AVCodecParameters* par, AVRational timeBase, int width, int height);
  bool IsOpen() const { return decoder_ != nullptr; }
  // One packet of the track: its cue, moved by shift (AV_TIME_BASE units, added to the
  // source's time), joins those to draw. A cue without an end of its own lasts until the
  // next one (an empty cue only ends the one before); a damaged one is skipped.
  void Add(const AVPacket* packet, int64_t shift);
  // Draws the cue shown at seconds (on the output's clock) onto a YUV 4:2:0 picture, its
  // canvas scaled to the picture. False when the picture cannot be written.
  bool Draw(AVFrame* frame, double seconds);

 private:
  struct Area {
    int x = 0, y = 0, w = 0, h = 0;
    std::vector<uint8_t> index;    // one palette entry a pixel
    std::vector<uint32_t> colour;  // each entry as alpha << 24 | Y << 16 | U << 8 | V
  };
  struct Cue {
    double start = 0, end = 0;  // seconds; end infinite until the next cue ends it
    std::vector<Area> areas;
  };

  AVCodecContext* decoder_ = nullptr;
  int canvasWidth_ = 0, canvasHeight_ = 0;
  std::vector<Cue> cues_;  // in order of their start
};

}  // namespace vidmora::encoder
