// The picture and sound chains between the decoders and the encoders: each decoded frame
// is brought to what its encoder takes (size, frame rate, orientation, colours, sampling
// rate, channels, frame size) through a filter graph built from the first frame. A source
// that changes its format midway is brought back to the first frame's format first.
#pragma once

#include "Failure.h"
#include "LibraryObjects.h"
#include "PictureFilter.h"

#include <cstdint>
#include <functional>
#include <string>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/rational.h>
struct AVCodecContext;
struct AVFilterContext;
struct AVFilterGraph;
struct AVStream;
struct SwrContext;
struct SwsContext;
}

namespace vidmora::encoder {

// Takes each frame a chain gives, with its time base; false when it cannot be taken (the
// conversion is ending).
using FrameSink = std::function<bool(TFramePtr frame, AVRational timeBase)>;

class Chain {
 public:
  Chain(const Chain&) = delete;
  Chain& operator=(const Chain&) = delete;

  // After the last frame: passes on what the filters still hold (the last picture for its
  // whole duration). After a stop it is dropped.
  bool Close(const FrameSink& sink);
  // Why Push() or Close() failed; empty when the sink refused a frame.
  const MaybeFailure& Error() const { return error_; }

 protected:
  Chain() = default;
  ~Chain();
  // A new, empty filter graph (one thread: the chains run beside the encoders); false when
  // memory ran out.
  bool NewGraph();
  // Joins a source and a sink of the given kinds ("buffer"/"buffersink" or
  // "abuffer"/"abuffersink") through the filter chain and configures the graph.
  int Connect(const char* sourceKind, const std::string& sourceArgs, const char* sinkKind,
              const std::string& chain);
  bool Drain(const FrameSink& sink);
  bool Failed(Failure failure) {
    error_ = std::move(failure);
    return false;
  }

  AVFilterGraph* graph_ = nullptr;
  AVFilterContext* source_ = nullptr;
  AVFilterContext* sink_ = nullptr;
  int64_t nextPts_ = AV_NOPTS_VALUE;  // end of the last frame fed, in the source's time base
  TFramePtr converted_;               // a frame brought back to the first one's format

 private:
  bool closed_ = false;
  MaybeFailure error_;
};

class PictureConverter : public Chain {
 public:
  ~PictureConverter();
  // stream: the source's picture stream; picture: what it needs on its way (turning,
  // tone mapping), the interlace decision left to the first picture; fps, width, height:
  // the encoder's; decoder: its frame rate (or else fps) gives a picture without a duration
  // its length; startTime: the source's time zero, AV_TIME_BASE units.
  void Configure(const AVStream* stream, const PictureSource& picture, AVRational fps, int width, int height,
                 const AVCodecContext* decoder, int64_t startTime);
  // One decoded picture (its timestamp is rewritten). False on failure.
  bool Push(AVFrame* frame, const FrameSink& sink);

 private:
  bool Build(const AVFrame* frame);

  const AVStream* stream_ = nullptr;
  PictureSource picture_;
  AVRational fps_{25, 1};
  const AVCodecContext* decoder_ = nullptr;
  int encoderWidth_ = 0, encoderHeight_ = 0;
  int64_t startTime_ = 0;
  int width_ = 0, height_ = 0, format_ = -1;  // what the graph was built for
  SwsContext* sws_ = nullptr;
};

class SoundConverter : public Chain {
 public:
  ~SoundConverter();
  // stream: the source's sound stream; the encoder's sample format, rate, channel layout
  // and frame size (0: any); startTime as above.
  void Configure(const AVStream* stream, int sampleFormat, int sampleRate, const AVChannelLayout& layout,
                 int frameSize, int64_t startTime);
  // One decoded sound frame (its timestamp is rewritten). False on failure.
  bool Push(AVFrame* frame, const FrameSink& sink);

 private:
  bool Build(const AVFrame* frame);

  const AVStream* stream_ = nullptr;
  int encoderFormat_ = -1, encoderRate_ = 0, frameSize_ = 0;
  AVChannelLayout encoderLayout_{};
  int64_t startTime_ = 0;
  int sampleRate_ = 0, format_ = -1;  // what the graph was built for
  AVChannelLayout layout_{};
  int64_t lastInputPts_ = AV_NOPTS_VALUE;  // the last frame's timestamp as decoded
  SwrContext* swr_ = nullptr;
};

// "stereo" for a layout.
std::string DescribeLayout(const AVChannelLayout& layout);

}  // namespace vidmora::encoder
