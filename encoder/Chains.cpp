#include "Chains.h"

#include "Console.h"
#include "Protocol.h"
#include "LibraryFields.h"
#include "StopRequest.h"

#include <algorithm>
#include <cerrno>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace vidmora::encoder {

namespace {

// The last picture is held for its stated duration, but no longer than this (seconds): a
// damaged duration must not have it fill hours. Pictures before it are held until the next
// one, whose time the timestamp repair has already bounded.
constexpr double kMaxLastPicture = 5.0;

}  // namespace

std::string DescribeLayout(const AVChannelLayout& layout) {
  char buf[128] = {0};
  av_channel_layout_describe(&layout, buf, sizeof buf);
  return buf;
}

// ---- both chains ------------------------------------------------------------------------

Chain::~Chain() { avfilter_graph_free(&graph_); }

int Chain::Connect(const char* sourceKind, const std::string& sourceArgs, const char* sinkKind,
                   const std::string& chain) {
  AVFilterInOut* outputs = avfilter_inout_alloc();
  AVFilterInOut* inputs = avfilter_inout_alloc();
  int r = avfilter_graph_create_filter(&source_, avfilter_get_by_name(sourceKind), "in", sourceArgs.c_str(),
                                       nullptr, graph_);
  if (r >= 0)
    r = avfilter_graph_create_filter(&sink_, avfilter_get_by_name(sinkKind), "out", nullptr, nullptr, graph_);
  if (r >= 0 && !(outputs && inputs)) r = AVERROR(ENOMEM);
  if (r >= 0) {
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source_;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink_;
    r = avfilter_graph_parse_ptr(graph_, chain.c_str(), &inputs, &outputs, nullptr);
  }
  if (r >= 0) r = avfilter_graph_config(graph_, nullptr);
  avfilter_inout_free(&inputs);
  avfilter_inout_free(&outputs);
  return r;
}

bool Chain::Drain(const FrameSink& sink) {
  // After a stop the filters are not asked for more: a gap they would fill with copies
  // of one picture could hold thousands.
  while (!StopRequested()) {
    // Each filtered frame is handed over to the encoding thread, so it is a new one.
    TFramePtr out(av_frame_alloc());
    if (!out) return Failed(OutOfMemory());
    const int r = av_buffersink_get_frame(sink_, out.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return Failed(Failure{StepFailure(r), "the filters failed: " + ErrorText(r)});
    if (!sink(std::move(out), av_buffersink_get_time_base(sink_))) return false;
  }
  return true;
}

bool Chain::NewGraph() {
  graph_ = avfilter_graph_alloc();
  if (!graph_) return Failed(OutOfMemory());
  graph_->nb_threads = 1;
  return true;
}

bool Chain::Close(const FrameSink& sink) {
  if (!graph_ || closed_) return true;
  closed_ = true;
  if (StopRequested()) return true;  // what the filters hold is dropped
  // The end time lets the frame-rate filter fill the last picture's whole duration.
  const int r = av_buffersrc_close(source_, nextPts_, AV_BUFFERSRC_FLAG_PUSH);
  if (r < 0) return Failed(Failure{StepFailure(r), "the filters failed: " + ErrorText(r)});
  return Drain(sink);
}

// ---- pictures ---------------------------------------------------------------------------

PictureConverter::~PictureConverter() { sws_freeContext(sws_); }

void PictureConverter::Configure(const AVStream* stream, const PictureSource& picture, AVRational fps,
                                 int width, int height, const AVCodecContext* decoder, int64_t startTime) {
  stream_ = stream;
  picture_ = picture;
  fps_ = fps;
  encoderWidth_ = width;
  encoderHeight_ = height;
  decoder_ = decoder;
  startTime_ = startTime;
}

bool PictureConverter::Build(const AVFrame* frame) {
  if (!NewGraph()) return false;
  const AVRational tb = stream_->time_base;
  AVRational sar = frame->sample_aspect_ratio;
  if (sar.num <= 0 || sar.den <= 0) sar = {1, 1};
  const std::string srcArgs =
      Format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", frame->width, frame->height,
             frame->format, tb.num, tb.den, sar.num, sar.den);
  const Interlacing interlacing =
      InterlacingOf(FrameInterlaced(frame), FrameTopFieldFirst(frame), stream_->codecpar->field_order);
  picture_.interlaced = interlacing.interlaced;
  if (interlacing.interlaced)
    ConsoleLine(
        Format("Deinterlacing: the source is interlaced (%s field first); bwdif makes one picture of each",
               interlacing.bottomFirst ? "bottom" : "top"));
  const int r =
      Connect("buffer", srcArgs, "buffersink", PictureChain(picture_, fps_, encoderWidth_, encoderHeight_));
  if (r < 0) return Failed(Failure{StepFailure(r), "cannot set up the picture conversion: " + ErrorText(r)});
  width_ = frame->width;
  height_ = frame->height;
  format_ = frame->format;
  return true;
}

bool PictureConverter::Push(AVFrame* frame, const FrameSink& sink) {
  const AVRational tb = stream_->time_base;
  const int64_t offset = av_rescale_q(startTime_, AV_TIME_BASE_Q, tb);
  int64_t pts = frame->best_effort_timestamp;
  pts = pts == AV_NOPTS_VALUE ? (nextPts_ == AV_NOPTS_VALUE ? 0 : nextPts_) : pts - offset;
  int64_t duration = FrameDuration(frame);
  if (duration <= 0) {
    const AVRational rate = decoder_->framerate.num > 0 ? decoder_->framerate : fps_;
    duration = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), tb));
  }
  duration = std::min(duration, av_rescale_q(int64_t(kMaxLastPicture * AV_TIME_BASE), AV_TIME_BASE_Q, tb));
  frame->pts = pts;
  if (nextPts_ == AV_NOPTS_VALUE || pts + duration > nextPts_) nextPts_ = pts + duration;

  if (!graph_ && !Build(frame)) return false;
  AVFrame* input = frame;
  if (frame->width != width_ || frame->height != height_ || frame->format != format_) {
    // The source changed its picture size or format midway: bring it back to the first.
    sws_ = sws_getCachedContext(sws_, frame->width, frame->height, AVPixelFormat(frame->format), width_,
                                height_, AVPixelFormat(format_), SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!converted_) converted_.reset(av_frame_alloc());
    AVFrame* converted = converted_.get();
    if (!sws_ || !converted)
      return Failed(Failure{ErrorCode::EncodeFailed, "cannot convert a changed picture size"});
    av_frame_unref(converted);
    converted->width = width_;
    converted->height = height_;
    converted->format = format_;
    if (av_frame_get_buffer(converted, 0) < 0 || av_frame_copy_props(converted, frame) < 0)
      return Failed(OutOfMemory());
    sws_scale(sws_, frame->data, frame->linesize, 0, frame->height, converted->data, converted->linesize);
    input = converted;
  }
  const int r = av_buffersrc_add_frame_flags(source_, input, AV_BUFFERSRC_FLAG_KEEP_REF);
  if (input != frame) av_frame_unref(input);
  if (r < 0) return Failed(Failure{StepFailure(r), "the picture conversion failed: " + ErrorText(r)});
  return Drain(sink);
}

// ---- sound ------------------------------------------------------------------------------

SoundConverter::~SoundConverter() {
  swr_free(&swr_);
  av_channel_layout_uninit(&layout_);
  av_channel_layout_uninit(&encoderLayout_);
}

void SoundConverter::Configure(const AVStream* stream, int sampleFormat, int sampleRate,
                               const AVChannelLayout& layout, int frameSize, int64_t startTime) {
  stream_ = stream;
  encoderFormat_ = sampleFormat;
  encoderRate_ = sampleRate;
  av_channel_layout_uninit(&encoderLayout_);
  av_channel_layout_copy(&encoderLayout_, &layout);
  frameSize_ = frameSize;
  startTime_ = startTime;
}

bool SoundConverter::Build(const AVFrame* frame) {
  if (!NewGraph()) return false;
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || !av_channel_layout_check(&frame->ch_layout))
    av_channel_layout_default(&layout_, frame->ch_layout.nb_channels);
  else
    av_channel_layout_copy(&layout_, &frame->ch_layout);
  sampleRate_ = frame->sample_rate;
  format_ = frame->format;
  const std::string srcArgs = Format(
      "time_base=1/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s", frame->sample_rate, frame->sample_rate,
      av_get_sample_fmt_name(AVSampleFormat(frame->format)), DescribeLayout(layout_).c_str());
  const std::string chain = Format("aformat=sample_fmts=%s:sample_rates=%d:channel_layouts=%s",
                                   av_get_sample_fmt_name(AVSampleFormat(encoderFormat_)), encoderRate_,
                                   DescribeLayout(encoderLayout_).c_str());
  const int r = Connect("abuffer", srcArgs, "abuffersink", chain);
  if (r < 0) return Failed(Failure{StepFailure(r), "cannot set up the sound conversion: " + ErrorText(r)});
  // AAC takes 1024 samples a frame, MP3 1152: the sink cuts frames to the encoder's size.
  if (frameSize_ > 0) av_buffersink_set_frame_size(sink_, unsigned(frameSize_));
  return true;
}

bool SoundConverter::Push(AVFrame* frame, const FrameSink& sink) {
  const AVRational tb = stream_->time_base;
  const AVRational sampleTb{1, frame->sample_rate};
  int64_t pts = frame->best_effort_timestamp;
  // Sound frames that repeat the timestamp before them (several in one packet, or a
  // stream whose times all read 0) follow the one before, instead of being dropped as
  // already written.
  const bool repeated = pts != AV_NOPTS_VALUE && pts == lastInputPts_ && nextPts_ != AV_NOPTS_VALUE;
  lastInputPts_ = pts;
  if (pts == AV_NOPTS_VALUE || repeated)
    pts = nextPts_ == AV_NOPTS_VALUE ? 0 : nextPts_;
  else
    pts = av_rescale_q(pts - av_rescale_q(startTime_, AV_TIME_BASE_Q, tb), tb, sampleTb);
  if (!graph_ && !Build(frame)) return false;

  AVFrame* input = frame;
  const bool sameLayout = frame->ch_layout.nb_channels == layout_.nb_channels &&
                          (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
                           !av_channel_layout_compare(&frame->ch_layout, &layout_));
  if (frame->sample_rate != sampleRate_ || frame->format != format_ || !sameLayout) {
    // The source changed its sound format midway: bring it back to the first.
    if (!converted_) converted_.reset(av_frame_alloc());
    AVFrame* converted = converted_.get();
    if (!converted) return Failed(OutOfMemory());
    av_frame_unref(converted);
    converted->sample_rate = sampleRate_;
    converted->format = format_;
    av_channel_layout_copy(&converted->ch_layout, &layout_);
    // The resampler reads the frame through a new reference whose layout is always a
    // known one (a source may leave its channel order unspecified).
    TFramePtr in(av_frame_alloc());
    if (!in || av_frame_ref(in.get(), frame) < 0) return Failed(OutOfMemory());
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
      av_channel_layout_uninit(&in->ch_layout);
      av_channel_layout_default(&in->ch_layout, frame->ch_layout.nb_channels);
    }
    if (!swr_) swr_ = swr_alloc();
    int r = swr_ ? swr_convert_frame(swr_, converted, in.get()) : AVERROR(ENOMEM);
    if (r == AVERROR_INPUT_CHANGED || r == AVERROR_OUTPUT_CHANGED) {
      swr_close(swr_);
      r = swr_convert_frame(swr_, converted, in.get());
    }
    if (r < 0) {
      av_frame_unref(converted);
      return Failed(Failure{StepFailure(r), "cannot convert a changed sound format: " + ErrorText(r)});
    }
    pts = av_rescale_q(pts, sampleTb, {1, sampleRate_});
    input = converted;
  }
  input->pts = pts;
  const int64_t end = pts + input->nb_samples;
  if (nextPts_ == AV_NOPTS_VALUE || end > nextPts_) nextPts_ = end;
  const int r =
      input->nb_samples > 0 ? av_buffersrc_add_frame_flags(source_, input, AV_BUFFERSRC_FLAG_KEEP_REF) : 0;
  if (input != frame) av_frame_unref(input);
  if (r < 0) return Failed(Failure{StepFailure(r), "the sound conversion failed: " + ErrorText(r)});
  return Drain(sink);
}

}  // namespace vidmora::encoder
