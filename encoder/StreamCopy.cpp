#include "StreamCopy.h"

#include "Console.h"
#include "LibraryFields.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

namespace vidmora::encoder {

namespace {

// Pictures dropped at most while waiting for a key frame: ten seconds at 25 frames a second.
constexpr int kMaxSkippedPictures = 250;

// What MP4 holds as it is and the usual players play from it: the codecs MP4 registers
// (the MPEG families, Dolby's two through their own sample entries, VP9 and AV1 through
// theirs). FLAC (which the writer here calls experimental), Opus, DTS, Vorbis and VP8 are
// left to conversion: many players and TVs do not play them from MP4, or the writer refuses.
bool IsCopyable(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_VP9:
    case AV_CODEC_ID_AV1:
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_MP3:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_AC3:
    case AV_CODEC_ID_EAC3:
      return true;
    default:
      return false;
  }
}

// MPEG audio below 16 kHz (the half and quarter rates of MPEG-2.5) is refused by the MP4 writer.
constexpr int kLowestMpegAudioRate = 16000;

}  // namespace

MaybeFailure CheckCopyable(const AVCodecParameters* par) {
  const bool video = par->codec_type == AVMEDIA_TYPE_VIDEO;
  if (IsCopyable(par->codec_id)) {
    // Without its parameter sets in the stream's header, a copy of H.264 or H.265 would
    // give a file that no player can start.
    // (AV1 likewise without its configuration record.)
    if ((par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_HEVC ||
         par->codec_id == AV_CODEC_ID_AV1) &&
        par->extradata_size <= 0)
      return Failure{
          ErrorCode::CopyUnsupported,
          std::string("the source's video (") + avcodec_get_name(par->codec_id) +
              ") holds no parameter sets at its start and cannot be copied into MP4; choose a video "
              "codec to convert it"};
    if (par->codec_id == AV_CODEC_ID_MP3 && par->sample_rate > 0 && par->sample_rate < kLowestMpegAudioRate)
      return Failure{
          ErrorCode::CopyUnsupported,
          Format("the source's audio (mp3 at %d Hz) cannot be copied into MP4, which takes MPEG audio at "
                 "16 kHz or more; choose an audio codec to convert it",
                 par->sample_rate)};
    return {};
  }
  if (video)
    return Failure{
        ErrorCode::CopyUnsupported,
        std::string("the source's video (") + avcodec_get_name(par->codec_id) +
            ") cannot be copied into MP4, which takes H.264, H.265, MPEG-4 Part 2, MPEG-1, MPEG-2, VP9 or "
            "AV1 as they are; choose a video codec to convert it"};
  return Failure{
      ErrorCode::CopyUnsupported,
      std::string("the source's audio (") + avcodec_get_name(par->codec_id) +
          ") cannot be copied into MP4, which takes AAC, MP3, MP2, AC-3 or E-AC-3 as they are; choose an "
          "audio codec to convert it"};
}

StreamCopy::~StreamCopy() {
  av_bsf_free(&filter_);
  av_packet_free(&filtered_);
}

MaybeFailure StreamCopy::Open(AVFormatContext* out, AVStream* source, int64_t startTime) {
  const AVCodecParameters* par = source->codecpar;
  if (MaybeFailure refusal = CheckCopyable(par)) return refusal;
  source_ = source;
  offset_ = av_rescale_q(startTime, AV_TIME_BASE_Q, source->time_base);

  // AAC cut into ADTS frames (MPEG transport streams, bare .aac files) carries its
  // configuration in every frame header; MP4 wants it once, in the stream's header.
  const AVCodecParameters* outPar = par;
  if (par->codec_id == AV_CODEC_ID_AAC && par->extradata_size <= 0) {
    const AVBitStreamFilter* kind = av_bsf_get_by_name("aac_adtstoasc");
    if (!kind) return Failure{ErrorCode::EncodeFailed, "the filter for AAC in ADTS frames is not available"};
    int r = av_bsf_alloc(kind, &filter_);
    if (r >= 0) r = avcodec_parameters_copy(filter_->par_in, par);
    if (r >= 0) {
      filter_->time_base_in = source->time_base;
      r = av_bsf_init(filter_);
    }
    if (r < 0)
      return Failure{StepFailure(r), "cannot prepare the source's AAC sound for MP4: " + ErrorText(r)};
    filtered_ = av_packet_alloc();
    if (!filtered_) return OutOfMemory();
    outPar = filter_->par_out;
  }

  AVStream* st = avformat_new_stream(out, nullptr);
  if (!st || avcodec_parameters_copy(st->codecpar, outPar) < 0) return OutOfMemory();
  // The source container's own tag (an AVI's "XVID", a file's "hev1") means nothing in
  // MP4: the writer picks the tag, except for H.265, where players expect "hvc1".
  st->codecpar->codec_tag = par->codec_id == AV_CODEC_ID_HEVC ? MKTAG('h', 'v', 'c', '1') : 0;
  st->time_base = source->time_base;
  st->avg_frame_rate = source->avg_frame_rate;
  st->r_frame_rate = source->r_frame_rate;
  // The pixel shape the container states (a Matroska track's display size) outranks the one
  // inside the stream, as players take it; the MP4 gets it in both places, which its writer
  // requires to agree.
  AVRational sar = source->sample_aspect_ratio;
  if (sar.num <= 0 || sar.den <= 0) sar = par->sample_aspect_ratio;
  if (sar.num <= 0 || sar.den <= 0) sar = {0, 1};
  st->sample_aspect_ratio = sar;
  st->codecpar->sample_aspect_ratio = sar;
  st->disposition = source->disposition & AV_DISPOSITION_DEFAULT;
  // The rotation of a phone's recording and similar facts travel with the stream.
  if (!CopyStreamSideData(source, st)) return OutOfMemory();

  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    waitsForKeyFrame_ = true;
    AVRational rate = source->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = source->r_frame_rate;
    if (rate.num > 0 && rate.den > 0) frameDuration_ = av_rescale_q(1, av_inv_q(rate), source->time_base);
  } else if (par->frame_size > 0 && par->sample_rate > 0) {
    frameDuration_ = av_rescale_q(par->frame_size, {1, par->sample_rate}, source->time_base);
  }
  out_ = st;
  return {};
}

// Packets without a decoding or a presentation time (raw streams, some transport streams)
// get them from their neighbours, so the file's index stays in order.
void StreamCopy::FillTimestamps(AVPacket* packet) {
  if (packet->duration <= 0 && frameDuration_ > 0) packet->duration = frameDuration_;
  if (packet->dts == AV_NOPTS_VALUE) {
    if (nextDts_ != INT64_MIN)
      packet->dts = nextDts_;
    else if (packet->pts != AV_NOPTS_VALUE)
      // Pictures that are shown after later ones (B-frames) put the first decoding time
      // that many pictures before the first presentation time.
      packet->dts = packet->pts - source_->codecpar->video_delay * frameDuration_;
    else
      packet->dts = offset_;
  }
  if (packet->pts == AV_NOPTS_VALUE) packet->pts = packet->dts;
  nextDts_ = packet->dts + std::max<int64_t>(packet->duration, 1);
}

bool StreamCopy::Push(AVPacket* packet, const Writer& write) {
  if (packet) {
    if (packet->size <= 0) return true;
    // A recording cut in the middle of a group of pictures begins with pictures that refer
    // to ones it does not hold; a player would show them broken, so the copy starts at the
    // first key frame, as a decoder would. A source that marks no key frames at all is
    // copied after a while all the same, rather than not at all.
    if (waitsForKeyFrame_ && !(packet->flags & AV_PKT_FLAG_KEY) && ++skippedPictures_ <= kMaxSkippedPictures)
      return true;
    waitsForKeyFrame_ = false;
    FillTimestamps(packet);
  }
  if (!filter_) return !packet || Pass(packet, write);

  int r = av_bsf_send_packet(filter_, packet);
  if (r < 0 && r != AVERROR_EOF) {
    error_ = Failure{StepFailure(r), "the source's sound could not be prepared for MP4: " + ErrorText(r)};
    return false;
  }
  bool ok = true;
  while (ok) {
    r = av_bsf_receive_packet(filter_, filtered_);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
    if (r < 0) {
      error_ = Failure{StepFailure(r), "the source's sound could not be prepared for MP4: " + ErrorText(r)};
      ok = false;
      break;
    }
    ok = Pass(filtered_, write);
    av_packet_unref(filtered_);
  }
  return ok;
}

bool StreamCopy::Pass(AVPacket* packet, const Writer& write) {
  if (packet->pts != AV_NOPTS_VALUE) packet->pts -= offset_;
  if (packet->dts != AV_NOPTS_VALUE) packet->dts -= offset_;
  // The writer may have chosen its own time base when it wrote the header.
  av_packet_rescale_ts(packet, source_->time_base, out_->time_base);
  packet->stream_index = out_->index;
  packet->pos = -1;
  return write(packet);
}

}  // namespace vidmora::encoder
