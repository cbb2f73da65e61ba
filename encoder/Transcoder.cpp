#include "Transcoder.h"

#include "Console.h"
#include "OutputFile.h"
#include "PictureFilter.h"
#include "StopRequest.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace vidmora::encoder {

namespace {

using Clock = std::chrono::steady_clock;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char buf[2048];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

std::string describeLayout(const AVChannelLayout& layout) {
  char buf[128] = {0};
  av_channel_layout_describe(&layout, buf, sizeof buf);
  return buf;
}

// Decoded and filtered frames travel from the decoding thread to the encoding thread
// through this bounded queue, so the two stages overlap without piling up pictures.
class FrameQueue {
 public:
  enum Kind { Video, Audio, End };
  struct Item {
    Kind kind = End;
    AVFrame* frame = nullptr;
    AVRational timeBase{0, 1};
  };

  explicit FrameQueue(size_t capacity) : m_capacity(capacity) {}
  ~FrameQueue() {
    for (auto& item : m_items) av_frame_free(&item.frame);
  }

  // False when the queue was aborted; the frame is then freed.
  bool push(Item item) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_notFull.wait(lock, [&] { return m_aborted || m_items.size() < m_capacity; });
    if (m_aborted) {
      av_frame_free(&item.frame);
      return false;
    }
    m_items.push_back(item);
    m_notEmpty.notify_one();
    return true;
  }

  // 1: an item, 0: nothing within the wait, -1: aborted.
  int pop(Item& item, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_notEmpty.wait_for(lock, wait, [&] { return m_aborted || !m_items.empty(); })) return 0;
    if (m_aborted) return -1;
    item = m_items.front();
    m_items.pop_front();
    m_notFull.notify_one();
    return 1;
  }

  void abort() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_aborted = true;
    m_notEmpty.notify_all();
    m_notFull.notify_all();
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_notEmpty, m_notFull;
  std::deque<Item> m_items;
  size_t m_capacity;
  bool m_aborted = false;
};

struct InputStream {
  int index = -1;
  AVStream* stream = nullptr;
  AVCodecContext* decoder = nullptr;
};

struct OutputStream {
  AVCodecContext* encoder = nullptr;
  AVStream* stream = nullptr;
  int64_t bytes = 0;
  int64_t frames = 0;
  int64_t nextPts = AV_NOPTS_VALUE;  // sound: where the next frame should start
  int64_t lastDts = AV_NOPTS_VALUE;  // last decoding time written
};

// A filter graph with one source and one sink, built from the first decoded frame.
struct Graph {
  AVFilterGraph* graph = nullptr;
  AVFilterContext* source = nullptr;
  AVFilterContext* sink = nullptr;
  // What the source was configured for; frames that differ are converted first.
  int width = 0, height = 0, format = -1, sampleRate = 0;
  AVChannelLayout layout{};
  int64_t nextPts = AV_NOPTS_VALUE;  // end of the last frame fed, in the source's time base
  bool closed = false;

  ~Graph() {
    avfilter_graph_free(&graph);
    av_channel_layout_uninit(&layout);
  }

  // Joins a source and a sink of the given kinds ("buffer"/"buffersink" or
  // "abuffer"/"abuffersink") through the filter chain and configures the graph.
  int connect(const char* sourceKind, const std::string& sourceArgs, const char* sinkKind,
              const std::string& chain) {
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    int r = avfilter_graph_create_filter(&source, avfilter_get_by_name(sourceKind), "in", sourceArgs.c_str(),
                                         nullptr, graph);
    if (r >= 0)
      r = avfilter_graph_create_filter(&sink, avfilter_get_by_name(sinkKind), "out", nullptr, nullptr, graph);
    if (r >= 0 && !(outputs && inputs)) r = AVERROR(ENOMEM);
    if (r >= 0) {
      outputs->name = av_strdup("in");
      outputs->filter_ctx = source;
      inputs->name = av_strdup("out");
      inputs->filter_ctx = sink;
      r = avfilter_graph_parse_ptr(graph, chain.c_str(), &inputs, &outputs, nullptr);
    }
    if (r >= 0) r = avfilter_graph_config(graph, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    return r;
  }
};

class Conversion {
 public:
  explicit Conversion(const Options& options) : m_opt(options), m_queue(12) {}
  ~Conversion();
  int run();

 private:
  bool fail(const std::string& message);
  bool openInput();
  bool openOutput();
  bool setUpVideo();
  bool setUpAudio();
  void describe();

  // Decoding thread.
  bool demuxAndDecode();
  bool decode(InputStream& in, const AVPacket* packet);
  bool filterVideo(AVFrame* frame);
  bool filterAudio(AVFrame* frame);
  bool buildVideoGraph(const AVFrame* frame);
  bool buildAudioGraph(const AVFrame* frame);
  bool drain(Graph& graph, FrameQueue::Kind kind);
  bool closeGraphs();

  // Encoding thread.
  void encodeLoop();
  bool encode(OutputStream& out, AVFrame* frame, AVRational timeBase);
  void progress();

  static int interrupted(void*) { return stopRequested() ? 1 : 0; }

  Options m_opt;
  AVFormatContext* m_in = nullptr;
  AVFormatContext* m_out = nullptr;
  InputStream m_vin, m_ain;
  OutputStream m_vout, m_aout;
  Graph m_vgraph, m_agraph;
  SwsContext* m_sws = nullptr;
  SwrContext* m_swr = nullptr;
  AVRational m_fps{25, 1};
  AVRational m_sar{1, 1};
  PictureSource m_picture;  // what the source's picture needs on its way to the encoder
  int64_t m_startTime = 0;  // AV_TIME_BASE units, subtracted from every timestamp
  TempOutput m_temp;
  FrameQueue m_queue;

  std::mutex m_failMutex;
  std::string m_failure;
  std::atomic<bool> m_failed{false};

  int64_t m_decodedFrames = 0;
  int64_t m_badPackets = 0;
  bool m_sawCorruptPacket = false;
  int64_t m_lastDemuxedTime = AV_NOPTS_VALUE;  // AV_TIME_BASE units, relative to m_startTime
  double m_outputTime = 0;                     // seconds of output written so far
  Clock::time_point m_started;
  Clock::time_point m_lastProgress;
};

Conversion::~Conversion() {
  avcodec_free_context(&m_vin.decoder);
  avcodec_free_context(&m_ain.decoder);
  avcodec_free_context(&m_vout.encoder);
  avcodec_free_context(&m_aout.encoder);
  sws_freeContext(m_sws);
  swr_free(&m_swr);
  avformat_close_input(&m_in);
  if (m_out) {
    if (m_out->pb) avio_closep(&m_out->pb);
    avformat_free_context(m_out);
  }
}

bool Conversion::fail(const std::string& message) {
  std::lock_guard<std::mutex> lock(m_failMutex);
  if (!m_failed) {
    m_failure = message;
    m_failed = true;
  }
  m_queue.abort();
  return false;
}

bool Conversion::openInput() {
  m_in = avformat_alloc_context();
  if (!m_in) return fail("out of memory");
  m_in->interrupt_callback.callback = &Conversion::interrupted;
  m_in->interrupt_callback.opaque = this;
  clearLibraryError();
  int r = avformat_open_input(&m_in, m_opt.input.c_str(), nullptr, nullptr);
  if (r >= 0) r = avformat_find_stream_info(m_in, nullptr);
  if (r < 0) {
    if (stopRequested()) return fail("stopped before the conversion began");
    std::string why = errorText(r);
    const std::string detail = lastLibraryError();
    if (!detail.empty() && detail.find(why) == std::string::npos) why += " (" + detail + ")";
    return fail("cannot read the source " + displayName(m_opt.input) + ": " + why);
  }

  for (unsigned i = 0; i < m_in->nb_streams; ++i) {
    AVStream* st = m_in->streams[i];
    const AVCodecParameters* par = st->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && m_vin.index < 0 &&
        !(st->disposition & AV_DISPOSITION_ATTACHED_PIC) && par->width > 0 && par->height > 0)
      m_vin = {int(i), st, nullptr};
    else if (par->codec_type == AVMEDIA_TYPE_AUDIO && m_ain.index < 0 && par->ch_layout.nb_channels > 0 &&
             par->sample_rate > 0)
      m_ain = {int(i), st, nullptr};
  }
  if (m_vin.index < 0 && m_ain.index < 0)
    return fail("the source " + displayName(m_opt.input) + " holds no video or audio that can be read");

  for (InputStream* in : {&m_vin, &m_ain}) {
    if (in->index < 0) continue;
    const AVCodecParameters* par = in->stream->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    const char* kind = par->codec_type == AVMEDIA_TYPE_VIDEO ? "video" : "audio";
    if (!codec)
      return fail(format("the source's %s (%s) cannot be decoded", kind, avcodec_get_name(par->codec_id)));
    in->decoder = avcodec_alloc_context3(codec);
    if (!in->decoder || avcodec_parameters_to_context(in->decoder, par) < 0) return fail("out of memory");
    in->decoder->pkt_timebase = in->stream->time_base;
    in->decoder->thread_count = 0;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO)
      in->decoder->framerate = av_guess_frame_rate(m_in, in->stream, nullptr);
    clearLibraryError();
    r = avcodec_open2(in->decoder, codec, nullptr);
    if (r < 0)
      return fail(format("cannot decode the source's %s (%s): %s", kind, codec->name, errorText(r).c_str()));
  }
  // Timestamps count from the earliest start of the two streams converted (other streams,
  // such as subtitles, may start earlier and are left out), so the output starts at zero
  // with sound and picture as far apart as in the source.
  m_startTime = AV_NOPTS_VALUE;
  for (const InputStream* in : {&m_vin, &m_ain}) {
    if (in->index < 0 || in->stream->start_time == AV_NOPTS_VALUE) continue;
    const int64_t start = av_rescale_q(in->stream->start_time, in->stream->time_base, AV_TIME_BASE_Q);
    if (m_startTime == AV_NOPTS_VALUE || start < m_startTime) m_startTime = start;
  }
  if (m_startTime == AV_NOPTS_VALUE) m_startTime = m_in->start_time == AV_NOPTS_VALUE ? 0 : m_in->start_time;
  return true;
}

bool Conversion::setUpVideo() {
  const AVCodec* codec = avcodec_find_encoder_by_name(m_opt.videoCodec.c_str());
  if (!codec) return fail("the video encoder " + m_opt.videoCodec + " is not available");
  AVCodecContext* dec = m_vin.decoder;
  m_picture.width = dec->width;
  m_picture.height = dec->height;
  m_picture.format = dec->pix_fmt;
  m_picture.colours = {dec->color_primaries, dec->color_trc, dec->colorspace, dec->color_range};
  size_t matrixSize = 0;
  const uint8_t* matrix = av_stream_get_side_data(m_vin.stream, AV_PKT_DATA_DISPLAYMATRIX, &matrixSize);
  m_picture.orientation = matrix && matrixSize >= 9 * sizeof(int32_t)
                              ? orientationOf(reinterpret_cast<const int32_t*>(matrix))
                              : Orientation::Upright;
  // Sizes and aspect are those of the upright picture, as players show it.
  const bool swap = swapsSides(m_picture.orientation);
  const int srcW = swap ? dec->height : dec->width, srcH = swap ? dec->width : dec->height;
  int w = m_opt.width ? m_opt.width : srcW;
  int h = m_opt.height ? m_opt.height : srcH;
  // 4:2:0 pictures need even sizes.
  w = std::max(2, w & ~1);
  h = std::max(2, h & ~1);

  if (m_opt.frameRate) {
    m_fps = {m_opt.frameRate->num, m_opt.frameRate->den};
  } else {
    m_fps = av_guess_frame_rate(m_in, m_vin.stream, nullptr);
    if (m_fps.num <= 0 || m_fps.den <= 0 || av_q2d(m_fps) > 240) {
      const AVRational avg = m_vin.stream->avg_frame_rate;
      m_fps = (avg.num > 0 && avg.den > 0 && av_q2d(avg) <= 240) ? avg : AVRational{25, 1};
    }
  }
  // MPEG-4 Part 2 keeps its time base within 16 bits.
  if (codec->id == AV_CODEC_ID_MPEG4 && (m_fps.num > 65535 || m_fps.den > 65535))
    av_reduce(&m_fps.num, &m_fps.den, m_fps.num, m_fps.den, 65535);

  AVRational srcSar = m_vin.stream->sample_aspect_ratio;
  if (srcSar.num <= 0 || srcSar.den <= 0) srcSar = dec->sample_aspect_ratio;
  if (srcSar.num <= 0 || srcSar.den <= 0) srcSar = {1, 1};
  if (swap) std::swap(srcSar.num, srcSar.den);
  if (m_opt.aspect) {
    av_reduce(&m_sar.num, &m_sar.den, int64_t(m_opt.aspect->num) * h, int64_t(m_opt.aspect->den) * w, 65535);
  } else {
    // A new size keeps the source's display aspect ratio.
    av_reduce(&m_sar.num, &m_sar.den, int64_t(srcSar.num) * srcW * h, int64_t(srcSar.den) * srcH * w, 65535);
  }

  AVCodecContext* enc = avcodec_alloc_context3(codec);
  if (!enc) return fail("out of memory");
  m_vout.encoder = enc;
  enc->width = w;
  enc->height = h;
  enc->pix_fmt = AV_PIX_FMT_YUV420P;
  enc->time_base = av_inv_q(m_fps);
  enc->framerate = m_fps;
  enc->sample_aspect_ratio = m_sar;
  enc->thread_count = 0;
  const ColourTags tags = outputColours(m_picture);
  enc->color_primaries = tags.primaries;
  enc->color_trc = tags.transfer;
  enc->colorspace = tags.matrix;
  enc->color_range = tags.range;
  if (m_opt.videoBitRate > 0) enc->bit_rate = m_opt.videoBitRate;
  if (m_out->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (codec->id == AV_CODEC_ID_HEVC) av_opt_set(enc->priv_data, "x265-params", "log-level=error", 0);
  clearLibraryError();
  int r = avcodec_open2(enc, codec, nullptr);
  if (r < 0) {
    const std::string detail = lastLibraryError();
    return fail("cannot start the video encoder " + m_opt.videoCodec + ": " +
                (detail.empty() ? errorText(r) : detail));
  }
  m_vout.stream = avformat_new_stream(m_out, nullptr);
  if (!m_vout.stream || avcodec_parameters_from_context(m_vout.stream->codecpar, enc) < 0)
    return fail("out of memory");
  m_vout.stream->time_base = enc->time_base;
  m_vout.stream->avg_frame_rate = m_fps;
  m_vout.stream->sample_aspect_ratio = m_sar;
  // The tag most players expect for H.265 in MP4.
  if (codec->id == AV_CODEC_ID_HEVC) m_vout.stream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
  return true;
}

bool Conversion::setUpAudio() {
  const AVCodec* codec = avcodec_find_encoder_by_name(m_opt.audioCodec.c_str());
  if (!codec) return fail("the audio encoder " + m_opt.audioCodec + " is not available");
  AVCodecContext* dec = m_ain.decoder;

  int rate = m_opt.sampleRate ? m_opt.sampleRate : dec->sample_rate;
  if (const int* rates = codec->supported_samplerates) {
    bool supported = false;
    int closest = rates[0];
    std::string list;
    for (const int* p = rates; *p; ++p) {
      supported = supported || *p == rate;
      if (std::abs(*p - rate) < std::abs(closest - rate)) closest = *p;
      list += (list.empty() ? "" : ", ") + std::to_string(*p);
    }
    if (!supported && m_opt.sampleRate)
      return fail(
          format("the audio encoder %s cannot use %d Hz (it takes %s)", codec->name, rate, list.c_str()));
    if (!supported) rate = closest;
  }

  const int channels = m_opt.channels ? m_opt.channels : dec->ch_layout.nb_channels;
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
    if (!match && m_opt.channels)
      return fail(format("the audio encoder %s cannot encode %d channels", codec->name, channels));
    if (!match) match = fallback ? fallback : layouts;
    av_channel_layout_uninit(&layout);
    av_channel_layout_copy(&layout, match);
  }

  AVCodecContext* enc = avcodec_alloc_context3(codec);
  if (!enc) {
    av_channel_layout_uninit(&layout);
    return fail("out of memory");
  }
  m_aout.encoder = enc;
  enc->sample_rate = rate;
  av_channel_layout_copy(&enc->ch_layout, &layout);
  av_channel_layout_uninit(&layout);
  enc->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
  enc->bit_rate = m_opt.audioBitRate;
  enc->time_base = {1, rate};
  if (m_out->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  clearLibraryError();
  int r = avcodec_open2(enc, codec, nullptr);
  if (r < 0) {
    const std::string detail = lastLibraryError();
    return fail("cannot start the audio encoder " + m_opt.audioCodec + ": " +
                (detail.empty() ? errorText(r) : detail));
  }
  m_aout.stream = avformat_new_stream(m_out, nullptr);
  if (!m_aout.stream || avcodec_parameters_from_context(m_aout.stream->codecpar, enc) < 0)
    return fail("out of memory");
  m_aout.stream->time_base = enc->time_base;
  return true;
}

bool Conversion::openOutput() {
  int r = avformat_alloc_output_context2(&m_out, nullptr, "mp4", m_opt.output.c_str());
  if (r < 0 || !m_out) return fail("the MP4 writer is not available");
  if (m_vin.index >= 0 && !setUpVideo()) return false;
  if (m_ain.index >= 0 && !setUpAudio()) return false;

  // Only now, with everything checked, is anything created in the output folder.
  const std::string err = m_temp.create(m_opt.output);
  if (!err.empty()) return fail(err);
  setAbandonPath(m_temp.path());
  r = avio_open(&m_out->pb, m_temp.path().c_str(), AVIO_FLAG_WRITE);
  if (r < 0) return fail("cannot write the output " + displayName(m_opt.output) + ": " + errorText(r));
  clearLibraryError();
  r = avformat_write_header(m_out, nullptr);
  if (r < 0) {
    const std::string detail = lastLibraryError();
    return fail("cannot write the output " + displayName(m_opt.output) + ": " +
                (detail.empty() ? errorText(r) : detail));
  }
  return true;
}

void Conversion::describe() {
  std::string line = "Input: " + displayName(m_opt.input) + " (" + m_in->iformat->name + ")";
  if (m_in->duration != AV_NOPTS_VALUE)
    line += format(", duration %.2f s", m_in->duration / double(AV_TIME_BASE));
  consoleLine(line);
  if (m_vin.index >= 0) {
    const AVCodecContext* d = m_vin.decoder;
    const AVRational fps = av_guess_frame_rate(m_in, m_vin.stream, nullptr);
    AVRational sar = m_vin.stream->sample_aspect_ratio.num > 0 ? m_vin.stream->sample_aspect_ratio
                                                               : d->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0) sar = {1, 1};
    AVRational dar;
    av_reduce(&dar.num, &dar.den, int64_t(d->width) * sar.num, int64_t(d->height) * sar.den, 1000);
    consoleLine(format("  video: %s %dx%d, %.4g fps, aspect %d:%d", avcodec_get_name(d->codec_id), d->width,
                       d->height, fps.den ? av_q2d(fps) : 0.0, dar.num, dar.den));
  }
  if (m_ain.index >= 0) {
    const AVCodecContext* d = m_ain.decoder;
    consoleLine(format("  audio: %s %d Hz, %s", avcodec_get_name(d->codec_id), d->sample_rate,
                       describeLayout(d->ch_layout).c_str()));
  }
  consoleLine("Output: " + displayName(m_opt.output) + " (MP4)");
  if (const AVCodecContext* e = m_vout.encoder) {
    AVRational dar;
    av_reduce(&dar.num, &dar.den, int64_t(e->width) * m_sar.num, int64_t(e->height) * m_sar.den, 1000);
    const std::string rate = e->bit_rate > 0 && m_opt.videoBitRate > 0
                                 ? format("%lld kbit/s", (long long)(e->bit_rate / 1000))
                                 : std::string("the encoder's default quality");
    consoleLine(format("  video: %s %dx%d, %.4g fps, aspect %d:%d, %s", m_opt.videoCodec.c_str(), e->width,
                       e->height, av_q2d(m_fps), dar.num, dar.den, rate.c_str()));
    if (m_picture.orientation != Orientation::Upright)
      consoleLine(std::string("  the picture is turned upright (") +
                  describeOrientation(m_picture.orientation) + ")");
    if (isHdr(m_picture.colours.transfer))
      consoleLine(format("  the HDR picture (%s) is tone-mapped to standard range, BT.709",
                         m_picture.colours.transfer == AVCOL_TRC_ARIB_STD_B67 ? "HLG" : "PQ"));
  }
  if (const AVCodecContext* e = m_aout.encoder) {
    consoleLine(format("  audio: %s %d Hz, %s, %lld kbit/s", m_opt.audioCodec.c_str(), e->sample_rate,
                       describeLayout(e->ch_layout).c_str(), (long long)(e->bit_rate / 1000)));
  }
  consoleLine("Press q to stop early.");
}

// ---- decoding thread -------------------------------------------------------------------

bool Conversion::demuxAndDecode() {
  AVPacket* packet = av_packet_alloc();
  if (!packet) return fail("out of memory");
  bool ok = true;
  while (ok && !m_failed && !stopRequested()) {
    const int r = av_read_frame(m_in, packet);
    if (r == AVERROR_EOF) break;
    if (r < 0) {
      if (stopRequested()) break;
      if (r == AVERROR(EAGAIN)) continue;
      if (m_in->pb && avio_feof(m_in->pb) && !m_in->pb->error) break;
      ok = fail("reading the source " + displayName(m_opt.input) + " failed: " + errorText(r));
      break;
    }
    InputStream* in = packet->stream_index == m_vin.index   ? &m_vin
                      : packet->stream_index == m_ain.index ? &m_ain
                                                            : nullptr;
    if (in) {
      if (packet->flags & AV_PKT_FLAG_CORRUPT) m_sawCorruptPacket = true;
      const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      if (ts != AV_NOPTS_VALUE) {
        const int64_t t = av_rescale_q(ts, in->stream->time_base, AV_TIME_BASE_Q) - m_startTime;
        if (m_lastDemuxedTime == AV_NOPTS_VALUE || t > m_lastDemuxedTime) m_lastDemuxedTime = t;
      }
      ok = decode(*in, packet);
    }
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  if (!ok || m_failed) return false;
  if (!stopRequested()) {
    // Frames the decoders still hold.
    for (InputStream* in : {&m_vin, &m_ain})
      if (in->index >= 0 && !decode(*in, nullptr)) return false;
  }
  if (!closeGraphs()) return false;
  return m_queue.push({FrameQueue::End, nullptr, {0, 1}});
}

bool Conversion::decode(InputStream& in, const AVPacket* packet) {
  int r = avcodec_send_packet(in.decoder, packet);
  if (r < 0 && r != AVERROR_EOF) {
    // A damaged packet is skipped, as players do; the conversion goes on.
    ++m_badPackets;
    return true;
  }
  AVFrame* frame = av_frame_alloc();
  if (!frame) return fail("out of memory");
  bool ok = true;
  while (ok) {
    r = avcodec_receive_frame(in.decoder, frame);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
    if (r < 0) {
      ++m_badPackets;
      break;
    }
    ++m_decodedFrames;
    ok = &in == &m_vin ? filterVideo(frame) : filterAudio(frame);
    av_frame_unref(frame);
  }
  av_frame_free(&frame);
  return ok;
}

bool Conversion::buildVideoGraph(const AVFrame* frame) {
  Graph& g = m_vgraph;
  g.graph = avfilter_graph_alloc();
  if (!g.graph) return fail("out of memory");
  g.graph->nb_threads = 1;
  const AVRational tb = m_vin.stream->time_base;
  AVRational sar = frame->sample_aspect_ratio;
  if (sar.num <= 0 || sar.den <= 0) sar = {1, 1};
  const std::string srcArgs =
      format("video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d", frame->width, frame->height,
             frame->format, tb.num, tb.den, sar.num, sar.den);
  // Interlacing is told by the decoded pictures, or by the stream where its first
  // pictures happen to be progressive.
  const AVFieldOrder order = m_vin.stream->codecpar->field_order;
  m_picture.interlaced =
      frame->interlaced_frame || (order != AV_FIELD_UNKNOWN && order != AV_FIELD_PROGRESSIVE);
  if (m_picture.interlaced) {
    const bool bottomFirst =
        frame->interlaced_frame ? !frame->top_field_first : order == AV_FIELD_BB || order == AV_FIELD_BT;
    consoleLine(
        format("Deinterlacing: the source is interlaced (%s field first); bwdif makes one picture of each",
               bottomFirst ? "bottom" : "top"));
  }
  const std::string chain = pictureChain(m_picture, m_fps, m_vout.encoder->width, m_vout.encoder->height);
  const int r = g.connect("buffer", srcArgs, "buffersink", chain);
  if (r < 0) return fail("cannot set up the picture conversion: " + errorText(r));
  g.width = frame->width;
  g.height = frame->height;
  g.format = frame->format;
  return true;
}

bool Conversion::buildAudioGraph(const AVFrame* frame) {
  Graph& g = m_agraph;
  g.graph = avfilter_graph_alloc();
  if (!g.graph) return fail("out of memory");
  g.graph->nb_threads = 1;
  if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || !av_channel_layout_check(&frame->ch_layout))
    av_channel_layout_default(&g.layout, frame->ch_layout.nb_channels);
  else
    av_channel_layout_copy(&g.layout, &frame->ch_layout);
  g.sampleRate = frame->sample_rate;
  g.format = frame->format;
  const AVCodecContext* enc = m_aout.encoder;
  const std::string srcArgs = format(
      "time_base=1/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s", frame->sample_rate, frame->sample_rate,
      av_get_sample_fmt_name(AVSampleFormat(frame->format)), describeLayout(g.layout).c_str());
  const std::string chain = format("aformat=sample_fmts=%s:sample_rates=%d:channel_layouts=%s",
                                   av_get_sample_fmt_name(enc->sample_fmt), enc->sample_rate,
                                   describeLayout(enc->ch_layout).c_str());
  const int r = g.connect("abuffer", srcArgs, "abuffersink", chain);
  if (r < 0) return fail("cannot set up the sound conversion: " + errorText(r));
  // AAC takes 1024 samples a frame, MP3 1152: the sink cuts frames to the encoder's size.
  if (enc->frame_size > 0 && !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
    av_buffersink_set_frame_size(g.sink, unsigned(enc->frame_size));
  return true;
}

bool Conversion::filterVideo(AVFrame* frame) {
  if (!m_vout.encoder) return true;
  const AVRational tb = m_vin.stream->time_base;
  const int64_t offset = av_rescale_q(m_startTime, AV_TIME_BASE_Q, tb);
  Graph& g = m_vgraph;
  int64_t pts = frame->best_effort_timestamp;
  pts = pts == AV_NOPTS_VALUE ? (g.nextPts == AV_NOPTS_VALUE ? 0 : g.nextPts) : pts - offset;
  int64_t duration = frame->pkt_duration;
  if (duration <= 0) {
    const AVRational rate = m_vin.decoder->framerate.num > 0 ? m_vin.decoder->framerate : m_fps;
    duration = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), tb));
  }
  frame->pts = pts;
  if (g.nextPts == AV_NOPTS_VALUE || pts + duration > g.nextPts) g.nextPts = pts + duration;

  if (!g.graph && !buildVideoGraph(frame)) return false;
  AVFrame* input = frame;
  AVFrame* converted = nullptr;
  if (frame->width != g.width || frame->height != g.height || frame->format != g.format) {
    // The source changed its picture size or format midway: bring it back to the first.
    m_sws = sws_getCachedContext(m_sws, frame->width, frame->height, AVPixelFormat(frame->format), g.width,
                                 g.height, AVPixelFormat(g.format), SWS_BICUBIC, nullptr, nullptr, nullptr);
    converted = av_frame_alloc();
    if (!m_sws || !converted) {
      av_frame_free(&converted);
      return fail("cannot convert a changed picture size");
    }
    converted->width = g.width;
    converted->height = g.height;
    converted->format = g.format;
    if (av_frame_get_buffer(converted, 0) < 0 || av_frame_copy_props(converted, frame) < 0) {
      av_frame_free(&converted);
      return fail("out of memory");
    }
    sws_scale(m_sws, frame->data, frame->linesize, 0, frame->height, converted->data, converted->linesize);
    input = converted;
  }
  const int r = av_buffersrc_add_frame_flags(g.source, input, AV_BUFFERSRC_FLAG_KEEP_REF);
  av_frame_free(&converted);
  if (r < 0) return fail("the picture conversion failed: " + errorText(r));
  return drain(g, FrameQueue::Video);
}

bool Conversion::filterAudio(AVFrame* frame) {
  if (!m_aout.encoder) return true;
  Graph& g = m_agraph;
  const AVRational tb = m_ain.stream->time_base;
  const AVRational sampleTb{1, frame->sample_rate};
  int64_t pts = frame->best_effort_timestamp;
  if (pts == AV_NOPTS_VALUE)
    pts = g.nextPts == AV_NOPTS_VALUE ? 0 : g.nextPts;
  else
    pts = av_rescale_q(pts - av_rescale_q(m_startTime, AV_TIME_BASE_Q, tb), tb, sampleTb);
  if (!g.graph && !buildAudioGraph(frame)) return false;

  AVFrame* input = frame;
  AVFrame* converted = nullptr;
  const bool sameLayout = frame->ch_layout.nb_channels == g.layout.nb_channels &&
                          (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
                           !av_channel_layout_compare(&frame->ch_layout, &g.layout));
  if (frame->sample_rate != g.sampleRate || frame->format != g.format || !sameLayout) {
    // The source changed its sound format midway: bring it back to the first.
    converted = av_frame_alloc();
    if (!converted) return fail("out of memory");
    converted->sample_rate = g.sampleRate;
    converted->format = g.format;
    av_channel_layout_copy(&converted->ch_layout, &g.layout);
    AVFrame tmpIn = *frame;
    AVChannelLayout inLayout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
      av_channel_layout_default(&inLayout, frame->ch_layout.nb_channels);
    else
      av_channel_layout_copy(&inLayout, &frame->ch_layout);
    tmpIn.ch_layout = inLayout;
    if (!m_swr) m_swr = swr_alloc();
    int r = m_swr ? swr_convert_frame(m_swr, converted, &tmpIn) : AVERROR(ENOMEM);
    if (r == AVERROR_INPUT_CHANGED || r == AVERROR_OUTPUT_CHANGED) {
      swr_close(m_swr);
      r = swr_convert_frame(m_swr, converted, &tmpIn);
    }
    av_channel_layout_uninit(&inLayout);
    if (r < 0) {
      av_frame_free(&converted);
      return fail("cannot convert a changed sound format: " + errorText(r));
    }
    pts = av_rescale_q(pts, sampleTb, {1, g.sampleRate});
    input = converted;
  }
  input->pts = pts;
  const int64_t end = pts + input->nb_samples;
  if (g.nextPts == AV_NOPTS_VALUE || end > g.nextPts) g.nextPts = end;
  const int r =
      input->nb_samples > 0 ? av_buffersrc_add_frame_flags(g.source, input, AV_BUFFERSRC_FLAG_KEEP_REF) : 0;
  av_frame_free(&converted);
  if (r < 0) return fail("the sound conversion failed: " + errorText(r));
  return drain(g, FrameQueue::Audio);
}

bool Conversion::drain(Graph& g, FrameQueue::Kind kind) {
  for (;;) {
    AVFrame* out = av_frame_alloc();
    if (!out) return fail("out of memory");
    const int r = av_buffersink_get_frame(g.sink, out);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) {
      av_frame_free(&out);
      return true;
    }
    if (r < 0) {
      av_frame_free(&out);
      return fail("the filters failed: " + errorText(r));
    }
    if (!m_queue.push({kind, out, av_buffersink_get_time_base(g.sink)})) return false;
  }
}

bool Conversion::closeGraphs() {
  for (auto [g, kind] : {std::pair{&m_vgraph, FrameQueue::Video}, std::pair{&m_agraph, FrameQueue::Audio}}) {
    if (!g->graph || g->closed) continue;
    g->closed = true;
    // The end time lets the frame-rate filter fill the last picture's whole duration.
    const int r = av_buffersrc_close(g->source, g->nextPts, AV_BUFFERSRC_FLAG_PUSH);
    if (r < 0) return fail("the filters failed: " + errorText(r));
    if (!drain(*g, kind)) return false;
  }
  return true;
}

// ---- encoding thread -------------------------------------------------------------------

void Conversion::encodeLoop() {
  for (;;) {
    FrameQueue::Item item;
    const int r = m_queue.pop(item, std::chrono::milliseconds(100));
    if (Clock::now() - m_lastProgress >= std::chrono::milliseconds(500)) progress();
    if (r < 0) return;
    if (r == 0) continue;
    if (item.kind == FrameQueue::End) {
      for (OutputStream* out : {&m_vout, &m_aout})
        if (out->encoder && !encode(*out, nullptr, {0, 1})) return;
      return;
    }
    OutputStream& out = item.kind == FrameQueue::Video ? m_vout : m_aout;
    const bool ok = encode(out, item.frame, item.timeBase);
    av_frame_free(&item.frame);
    if (!ok) return;
  }
}

bool Conversion::encode(OutputStream& out, AVFrame* frame, AVRational timeBase) {
  AVCodecContext* enc = out.encoder;
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
  int r = avcodec_send_frame(enc, frame);
  if (r < 0 && r != AVERROR_EOF)
    return fail(std::string("the ") + enc->codec->name + " encoder failed: " + errorText(r));
  AVPacket* packet = av_packet_alloc();
  if (!packet) return fail("out of memory");
  for (;;) {
    r = avcodec_receive_packet(enc, packet);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
    if (r < 0) {
      av_packet_free(&packet);
      return fail(std::string("the ") + enc->codec->name + " encoder failed: " + errorText(r));
    }
    av_packet_rescale_ts(packet, enc->time_base, out.stream->time_base);
    packet->stream_index = out.stream->index;
    // The file needs rising decoding times; a packet that would break that is moved on.
    if (packet->dts != AV_NOPTS_VALUE) {
      if (out.lastDts != AV_NOPTS_VALUE && packet->dts <= out.lastDts) {
        packet->dts = out.lastDts + 1;
        if (packet->pts != AV_NOPTS_VALUE && packet->pts < packet->dts) packet->pts = packet->dts;
      }
      out.lastDts = packet->dts;
    }
    out.bytes += packet->size;
    if (packet->pts != AV_NOPTS_VALUE) {
      const double end =
          (packet->pts + std::max<int64_t>(0, packet->duration)) * av_q2d(out.stream->time_base);
      m_outputTime = std::max(m_outputTime, end);
    }
    r = av_interleaved_write_frame(m_out, packet);
    if (r < 0) {
      av_packet_free(&packet);
      return fail("writing the output " + displayName(m_opt.output) + " failed: " + errorText(r));
    }
  }
  av_packet_free(&packet);
  return true;
}

void Conversion::progress() {
  m_lastProgress = Clock::now();
  const double elapsed = std::chrono::duration<double>(m_lastProgress - m_started).count();
  const int64_t frames = m_vout.frames;
  const int64_t size = m_out && m_out->pb ? std::max<int64_t>(0, avio_tell(m_out->pb)) : 0;
  const double t = std::max(0.0, m_outputTime);
  std::string line = format("frame=%5lld fps=%3.0f size=%8lldkB time=%.2f", (long long)frames,
                            elapsed > 0 ? frames / elapsed : 0.0, (long long)(size / 1024), t);
  if (t > 0) {
    const double speed = elapsed > 0 ? t / elapsed : 0.0;
    line += format(speed < 100 ? " bitrate=%6.1fkbits/s speed=%4.3gx" : " bitrate=%6.1fkbits/s speed=%4.0fx",
                   size * 8.0 / t / 1000.0, speed);
  } else
    line += " bitrate=N/A speed=N/A";
  consoleLine(line);
}

int Conversion::run() {
  auto failed = [this] {
    consoleError(m_failure);
    m_temp.discard();
    setAbandonPath({});
    return 1;
  };
  const std::string pathError = checkPaths(m_opt.input, m_opt.output, m_opt.overwrite);
  if (!pathError.empty()) return fail(pathError), failed();
  if (!openInput() || !openOutput()) return failed();
  describe();

  m_started = m_lastProgress = Clock::now();
  std::thread encoder([this] { encodeLoop(); });
  demuxAndDecode();
  encoder.join();
  if (m_failed) return failed();

  // A file without a single picture or sound frame is no conversion: a stop that came
  // before the first frame reached the encoders ends as a stop during the opening does,
  // and leaves any earlier file at the output path alone.
  if (m_vout.frames + m_aout.frames == 0) {
    if (stopRequested()) return fail("stopped before the conversion began"), failed();
    return fail("the source " + displayName(m_opt.input) + " holds no video or audio that can be decoded" +
                (m_badPackets ? format(" (%lld damaged packets)", (long long)m_badPackets) : std::string())),
           failed();
  }
  // A source whose data ends well before the length its container announces is damaged
  // (typically a file cut short by an interrupted copy or download); its conversion is not
  // reported as a success. A length merely estimated from the bit rate proves nothing.
  const bool announcedLength = m_in->duration != AV_NOPTS_VALUE && m_in->duration > 0 &&
                               m_in->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;
  const bool endsEarly = m_lastDemuxedTime != AV_NOPTS_VALUE &&
                         m_lastDemuxedTime + AV_TIME_BASE < m_in->duration &&
                         (m_sawCorruptPacket || m_lastDemuxedTime < m_in->duration * 9 / 10);
  if (!stopRequested() && announcedLength && endsEarly)
    return fail(format("the source %s is damaged or cut short: its data ends at %.2f s of %.2f s",
                       displayName(m_opt.input).c_str(), m_lastDemuxedTime / double(AV_TIME_BASE),
                       m_in->duration / double(AV_TIME_BASE))),
           failed();

  int r = av_write_trailer(m_out);
  if (r < 0)
    return fail("finishing the output " + displayName(m_opt.output) + " failed: " + errorText(r)), failed();
  progress();
  avio_flush(m_out->pb);
  const int ioError = m_out->pb->error;
  r = avio_closep(&m_out->pb);
  if (ioError < 0 || r < 0)
    return fail("writing the output " + displayName(m_opt.output) +
                " failed: " + errorText(ioError < 0 ? ioError : r)),
           failed();

  struct stat st;
  const int64_t fileSize = stat(m_temp.path().c_str(), &st) == 0 ? int64_t(st.st_size) : 0;
  const std::string commitError = m_temp.commit();
  setAbandonPath({});
  if (!commitError.empty()) return fail(commitError), failed();

  int64_t headers = 0;
  for (const OutputStream* out : {&m_vout, &m_aout})
    if (out->encoder) headers += out->encoder->extradata_size;
  const int64_t payload = m_vout.bytes + m_aout.bytes + headers;
  const std::string overhead =
      payload > 0 ? format("%.3f%%", (fileSize - payload) * 100.0 / double(payload)) : std::string("unknown");
  consoleLine(format("video:%.0fkB audio:%.0fkB global headers:%.0fkB muxing overhead: %s",
                     m_vout.bytes / 1024.0, m_aout.bytes / 1024.0, headers / 1024.0, overhead.c_str()));
  return 0;
}

}  // namespace

int convert(const Options& options) {
  Conversion conversion(options);
  return conversion.run();
}

}  // namespace vidmora::encoder
