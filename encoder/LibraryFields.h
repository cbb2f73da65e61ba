// Facts of the media libraries' frames and streams that later library versions keep in
// other places, read and written here in one way. FFmpeg 5.1 is the oldest version the
// encoder is built with; newer versions get their current forms.
#pragma once

#include <cstdint>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

namespace vidmora::encoder {

// Whether a decoded picture is interlaced, and then whether its top field comes first.
inline bool FrameInterlaced(const AVFrame* frame) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(58, 7, 100)
  return frame->flags & AV_FRAME_FLAG_INTERLACED;
#else
  return frame->interlaced_frame;
#endif
}

inline bool FrameTopFieldFirst(const AVFrame* frame) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(58, 7, 100)
  return frame->flags & AV_FRAME_FLAG_TOP_FIELD_FIRST;
#else
  return frame->top_field_first;
#endif
}

// How long a decoded frame lasts, in its stream's time base (0 when unknown).
inline int64_t FrameDuration(const AVFrame* frame) {
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 30, 100)
  return frame->duration;
#else
  return frame->pkt_duration;
#endif
}

// A stream's side data of one type (a phone recording's display matrix and the like),
// nullptr when it has none; size receives its size in bytes.
inline const uint8_t* StreamSideData(const AVStream* stream, AVPacketSideDataType type, size_t* size) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 29, 100)
  const AVPacketSideData* sd =
      av_packet_side_data_get(stream->codecpar->coded_side_data, stream->codecpar->nb_coded_side_data, type);
  if (size) *size = sd ? sd->size : 0;
  return sd ? sd->data : nullptr;
#else
  size_t bytes = 0;
  const uint8_t* data = av_stream_get_side_data(stream, type, &bytes);
  if (size) *size = bytes;
  return data;
#endif
}

// Gives `to` each side data of `from` that it lacks. False when memory ran out.
inline bool CopyStreamSideData(const AVStream* from, AVStream* to) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 29, 100)
  const AVCodecParameters* src = from->codecpar;
  AVCodecParameters* dst = to->codecpar;
  for (int i = 0; i < src->nb_coded_side_data; ++i) {
    const AVPacketSideData& sd = src->coded_side_data[i];
    if (av_packet_side_data_get(dst->coded_side_data, dst->nb_coded_side_data, sd.type)) continue;
    AVPacketSideData* copy =
        av_packet_side_data_new(&dst->coded_side_data, &dst->nb_coded_side_data, sd.type, sd.size, 0);
    if (!copy) return false;
    memcpy(copy->data, sd.data, sd.size);
  }
#else
  for (int i = 0; i < from->nb_side_data; ++i) {
    const AVPacketSideData& sd = from->side_data[i];
    if (av_stream_get_side_data(to, sd.type, nullptr)) continue;
    uint8_t* copy = av_stream_new_side_data(to, sd.type, sd.size);
    if (!copy) return false;
    memcpy(copy, sd.data, sd.size);
  }
#endif
  return true;
}

}  // namespace vidmora::encoder
