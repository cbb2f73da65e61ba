// The media libraries' objects held by unique pointers, each freed by its own function.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace vidmora::encoder {

struct FrameFree {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFree {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct CodecFree {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using TFramePtr = std::unique_ptr<AVFrame, FrameFree>;
using TPacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using TCodecPtr = std::unique_ptr<AVCodecContext, CodecFree>;

}  // namespace vidmora::encoder
