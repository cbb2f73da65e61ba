#include "Encoders.h"

#include "Console.h"
#include "LibraryFields.h"
#include "StopRequest.h"

#include <algorithm>
#include <cstdlib>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace vidmora::encoder {

namespace {

// After a stop, the encoders give up what they hold for at most this long (seconds), so
// the program ends soon after the request even with a slow encoder and a deep lookahead.
constexpr double kStopFlushBudget = 1.4;
// A declared frame rate this much above the pictures' real spacing is taken for damage.
constexpr double kRateMismatch = 1.5;

// Opens the encoder prepared in out (picture or sound) and gives it a stream in the file.
MaybeFailure OpenEncoder(AVFormatContext* file, OutputStream& out, const AVCodec* codec, const char* kind,
                         const std::string& name) {
  AVCodecContext* enc = out.encoder.get();
  if (file->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  ClearLibraryError();
  const int r = avcodec_open2(enc, codec, nullptr);
  if (r < 0) {
    const std::string detail = LastLibraryError();
    // An encoder that refuses to open refuses what it was asked for (a size, a rate).
    return Failure{r == AVERROR(ENOMEM) ? ErrorCode::OutOfMemory : ErrorCode::OptionUnsupported,
                   std::string("cannot start the ") + kind + " encoder " + name + ": " +
                       (detail.empty() ? ErrorText(r) : detail)};
  }
  out.packet.reset(av_packet_alloc());
  out.stream = avformat_new_stream(file, nullptr);
  if (!out.packet || !out.stream || avcodec_parameters_from_context(out.stream->codecpar, enc) < 0)
    return OutOfMemory();
  out.stream->time_base = enc->time_base;
  return {};
}

}  // namespace

MaybeFailure OpenVideoEncoder(const Options& opt, Source& src, AVFormatContext* file, OutputStream& out,
                              PictureSetup& setup) {
  const AVCodec* codec = avcodec_find_encoder_by_name(opt.videoCodec.c_str());
  if (!codec)
    return Failure{ErrorCode::OptionUnsupported, "the video encoder " + opt.videoCodec + " is not available"};
  const AVCodecContext* dec = src.video.decoder.get();
  setup.picture.width = dec->width;
  setup.picture.height = dec->height;
  setup.picture.format = dec->pix_fmt;
  setup.picture.colours = {dec->color_primaries, dec->color_trc, dec->colorspace, dec->color_range};
  size_t matrixSize = 0;
  const uint8_t* matrix = StreamSideData(src.video.stream, AV_PKT_DATA_DISPLAYMATRIX, &matrixSize);
  setup.picture.orientation = matrix && matrixSize >= 9 * sizeof(int32_t)
                                  ? OrientationOf(reinterpret_cast<const int32_t*>(matrix))
                                  : Orientation::Upright;
  // Sizes and aspect are those of the upright picture, as players show it.
  const bool swap = SwapsSides(setup.picture.orientation);
  const int srcW = swap ? dec->height : dec->width, srcH = swap ? dec->width : dec->height;
  AVRational srcSar = src.video.stream->sample_aspect_ratio;
  if (srcSar.num <= 0 || srcSar.den <= 0) srcSar = dec->sample_aspect_ratio;
  if (srcSar.num <= 0 || srcSar.den <= 0) srcSar = {1, 1};
  if (swap) std::swap(srcSar.num, srcSar.den);
  // A size (and an aspect) chosen is a box the picture fits in its own orientation: a
  // portrait picture (taller than wide as shown) takes a landscape choice standing up.
  const bool portrait = int64_t(srcW) * srcSar.num < int64_t(srcH) * srcSar.den;
  int boxW = opt.width, boxH = opt.height;
  std::optional<Rational> aspect = opt.aspect;
  setup.turnedToPortrait = portrait && ((boxW > boxH) || (aspect && aspect->num > aspect->den));
  if (portrait && boxW > boxH) std::swap(boxW, boxH);
  if (portrait && aspect && aspect->num > aspect->den) std::swap(aspect->num, aspect->den);
  int w = boxW ? boxW : srcW;
  int h = boxH ? boxH : srcH;
  // 4:2:0 pictures need even sizes.
  w = std::max(2, w & ~1);
  h = std::max(2, h & ~1);

  if (opt.frameRate) {
    setup.fps = {opt.frameRate->num, opt.frameRate->den};
  } else {
    setup.fps = av_guess_frame_rate(src.context, src.video.stream, nullptr);
    const AVRational measured = src.MeasuredFrameRate();
    if (setup.fps.num <= 0 || setup.fps.den <= 0 || av_q2d(setup.fps) > 240) {
      const AVRational avg = src.video.stream->avg_frame_rate;
      setup.fps = (avg.num > 0 && avg.den > 0 && av_q2d(avg) <= 240) ? avg
                  : measured.num > 0                                 ? measured
                                                                     : AVRational{25, 1};
    }
    // Damaged metadata may declare a rate far above the pictures' real one (125 for 25);
    // the real one then decides, so the frame count is not multiplied by copies.
    if (measured.num > 0 && av_q2d(setup.fps) > kRateMismatch * av_q2d(measured)) setup.fps = measured;
  }
  // MPEG-4 Part 2 keeps its time base within 16 bits.
  if (codec->id == AV_CODEC_ID_MPEG4 && (setup.fps.num > 65535 || setup.fps.den > 65535))
    av_reduce(&setup.fps.num, &setup.fps.den, setup.fps.num, setup.fps.den, 65535);

  if (aspect) {
    av_reduce(&setup.sar.num, &setup.sar.den, int64_t(aspect->num) * h, int64_t(aspect->den) * w, 65535);
  } else {
    // A new size keeps the source's display aspect ratio.
    av_reduce(&setup.sar.num, &setup.sar.den, int64_t(srcSar.num) * srcW * h, int64_t(srcSar.den) * srcH * w,
              65535);
  }

  out.encoder.reset(avcodec_alloc_context3(codec));
  AVCodecContext* enc = out.encoder.get();
  if (!enc) return OutOfMemory();
  enc->width = w;
  enc->height = h;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  enc->time_base = av_inv_q(setup.fps);
  enc->framerate = setup.fps;
  enc->sample_aspect_ratio = setup.sar;
  // Its share of the cores when several conversions run at once (0: as many as it likes).
  enc->thread_count = opt.threads;
  if (opt.threads > 0 && codec->id == AV_CODEC_ID_H264 && std::string(codec->name) == "libx264")
    av_opt_set(enc->priv_data, "x264-params",
               Format("lookahead-threads=%d", std::max(1, opt.threads / 2)).c_str(), 0);
  const ColourTags tags = OutputColours(setup.picture);
  enc->color_primaries = tags.primaries;
  enc->color_trc = tags.transfer;
  enc->colorspace = tags.matrix;
  enc->color_range = tags.range;
  if (opt.videoBitRate > 0) enc->bit_rate = opt.videoBitRate;
  if (codec->id == AV_CODEC_ID_HEVC) {
    // x265 keeps a pool of its own threads: its share too.
    std::string params = "log-level=error";
    if (opt.threads > 0)
      params += Format(":pools=%d:frame-threads=%d", opt.threads, std::max(1, opt.threads / 2));
    av_opt_set(enc->priv_data, "x265-params", params.c_str(), 0);
  }
  if (MaybeFailure failure = OpenEncoder(file, out, codec, "video", opt.videoCodec)) return failure;
  out.stream->avg_frame_rate = setup.fps;
  out.stream->sample_aspect_ratio = setup.sar;
  // The tag most players expect for H.265 in MP4.
  if (codec->id == AV_CODEC_ID_HEVC) out.stream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
  return {};
}

MaybeFailure OpenAudioEncoder(const Options& opt, const InputStream& sound, AVFormatContext* file,
                              OutputStream& out) {
  const AVCodec* codec = avcodec_find_encoder_by_name(opt.audioCodec.c_str());
  if (!codec)
    return Failure{ErrorCode::OptionUnsupported, "the audio encoder " + opt.audioCodec + " is not available"};
  const AVCodecContext* dec = sound.decoder.get();

  int rate = opt.sampleRate ? opt.sampleRate : dec->sample_rate;
  if (const int* rates = codec->supported_samplerates) {
    bool supported = false;
    int closest = rates[0];
    std::string list;
    for (const int* p = rates; *p; ++p) {
      supported = supported || *p == rate;
      if (std::abs(*p - rate) < std::abs(closest - rate)) closest = *p;
      list += (list.empty() ? "" : ", ") + std::to_string(*p);
    }
    if (!supported && opt.sampleRate)
      return Failure{
          ErrorCode::OptionUnsupported,
          Format("the audio encoder %s cannot use %d Hz (it takes %s)", codec->name, rate, list.c_str())};
    if (!supported) rate = closest;
  }

  const int channels = opt.channels ? opt.channels : dec->ch_layout.nb_channels;
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, channels);
  if (const AVChannelLayout* layouts = codec->ch_layouts) {
    const AVChannelLayout *match = nullptr, *fallback = nullptr;
    for (const AVChannelLayout* p = layouts; p->nb_channels; ++p) {
      if (!av_channel_layout_compare(p, &layout))
        match = p;
      else if (!match && p->nb_channels == channels)
        match = p;
      if (p->nb_channels <= channels && (!fallback || p->nb_channels > fallback->nb_channels)) fallback = p;
    }
    if (!match && opt.channels)
      return Failure{ErrorCode::OptionUnsupported,
                     Format("the audio encoder %s cannot encode %d channels", codec->name, channels)};
    if (!match) match = fallback ? fallback : layouts;
    av_channel_layout_uninit(&layout);
    av_channel_layout_copy(&layout, match);
  }

  out.encoder.reset(avcodec_alloc_context3(codec));
  AVCodecContext* enc = out.encoder.get();
  if (!enc) {
    av_channel_layout_uninit(&layout);
    return OutOfMemory();
  }
  enc->sample_rate = rate;
  av_channel_layout_copy(&enc->ch_layout, &layout);
  av_channel_layout_uninit(&layout);
  enc->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
  enc->bit_rate = opt.audioBitRate;
  enc->time_base = {1, rate};
  return OpenEncoder(file, out, codec, "audio", opt.audioCodec);
}

bool Encode(OutputStream& out, AVFrame* frame, AVRational timeBase, const PacketWriter& write,
            MaybeFailure& error) {
  AVCodecContext* enc = out.encoder.get();
  if (frame) {
    frame->pts = av_rescale_q(frame->pts, timeBase, enc->time_base);
    if (enc->codec_type == AVMEDIA_TYPE_AUDIO) {
      // Sound whose timestamps step back (sources joined end to end do this) would
      // reach the file out of order: a frame wholly inside what was already encoded is
      // dropped, one that overlaps it in part is moved just after it.
      if (out.nextPts != AV_NOPTS_VALUE && frame->pts < out.nextPts) {
        if (frame->pts + frame->nb_samples <= out.nextPts) return true;
        frame->pts = out.nextPts;
      }
      out.nextPts = frame->pts + frame->nb_samples;
    }
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO) {
      frame->pict_type = AV_PICTURE_TYPE_NONE;
      frame->sample_aspect_ratio = enc->sample_aspect_ratio;
    }
    ++out.frames;
  }
  const auto failed = [&](int r) {
    error =
        Failure{StepFailure(r), std::string("the ") + enc->codec->name + " encoder failed: " + ErrorText(r)};
    return false;
  };
  int r = avcodec_send_frame(enc, frame);
  if (r < 0 && r != AVERROR_EOF) return failed(r);
  AVPacket* packet = out.packet.get();
  for (;;) {
    // A flush after a stop ends when its time is up; the packets written so far make a
    // complete file, the pictures still inside the encoder are left out.
    if (!frame && StopRequested() && SecondsSinceStopRequest() > kStopFlushBudget) break;
    r = avcodec_receive_packet(enc, packet);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
    if (r < 0) return failed(r);
    av_packet_rescale_ts(packet, enc->time_base, out.stream->time_base);
    packet->stream_index = out.stream->index;
    if (!write(packet)) return false;
  }
  return true;
}

}  // namespace vidmora::encoder
