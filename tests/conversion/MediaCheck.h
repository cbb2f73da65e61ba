#pragma once
// Reads a finished output file back with FFmpeg's libraries: whether it opens,
// holds a video stream that decodes, and how long it lasts.
#include <QString>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

struct MediaFacts {
  bool opens = false;
  bool videoDecodes = false;
  bool hasAudio = false;
  double seconds = 0;
  QString format;
};

inline MediaFacts CheckMedia(const QString& path) {
  MediaFacts facts;
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.toUtf8().constData(), nullptr, nullptr) != 0) return facts;
  if (avformat_find_stream_info(fmt, nullptr) < 0) {
    avformat_close_input(&fmt);
    return facts;
  }
  facts.opens = true;
  facts.format = QString::fromLatin1(fmt->iformat->name);
  if (fmt->duration > 0) facts.seconds = double(fmt->duration) / AV_TIME_BASE;
  facts.hasAudio = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) >= 0;
  const int video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (video >= 0) {
    const AVCodec* codec = avcodec_find_decoder(fmt->streams[video]->codecpar->codec_id);
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (ctx && avcodec_parameters_to_context(ctx, fmt->streams[video]->codecpar) >= 0 &&
        avcodec_open2(ctx, codec, nullptr) >= 0) {
      AVPacket* pkt = av_packet_alloc();
      AVFrame* frame = av_frame_alloc();
      while (!facts.videoDecodes && av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == video && avcodec_send_packet(ctx, pkt) >= 0 &&
            avcodec_receive_frame(ctx, frame) >= 0) {
          facts.videoDecodes = true;
        }
        av_packet_unref(pkt);
      }
      if (!facts.videoDecodes) {  // frames held back by the decoder
        avcodec_send_packet(ctx, nullptr);
        facts.videoDecodes = avcodec_receive_frame(ctx, frame) >= 0;
      }
      av_frame_free(&frame);
      av_packet_free(&pkt);
    }
    avcodec_free_context(&ctx);
  }
  avformat_close_input(&fmt);
  return facts;
}
