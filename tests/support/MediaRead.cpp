#include "MediaRead.h"

#include "encoder/LibraryFields.h"

#include <QFile>

#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace TestMedia {

namespace {

double Seconds(int64_t t, AVRational tb) { return t == AV_NOPTS_VALUE ? 0 : double(t) * av_q2d(tb); }

QString Name(const char* name) { return name ? QString::fromLatin1(name) : QString(); }

void ReadVideoStream(AVFormatContext* ic, AVStream* st, MediaFacts& facts) {
  const AVCodecParameters* par = st->codecpar;
  StreamFacts& v = facts.video;
  v.width = par->width;
  v.height = par->height;
  const AVRational rate = av_guess_frame_rate(ic, st, nullptr);
  v.fps = rate.den ? av_q2d(rate) : 0;
  const AVRational sar = av_guess_sample_aspect_ratio(ic, st, nullptr);
  v.sar = sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0;
  v.dar = par->height > 0 ? par->width * v.sar / par->height : 0;
  char tag[AV_FOURCC_MAX_STRING_SIZE] = {0};
  av_fourcc_make_string(tag, par->codec_tag);
  v.tag = QString::fromLatin1(tag);
  size_t size = 0;
  const uint8_t* m = vidmora::encoder::StreamSideData(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (m && size >= 9 * sizeof(int32_t)) {
    const int32_t* matrix = reinterpret_cast<const int32_t*>(m);
    const double r = av_display_rotation_get(matrix);
    facts.rotation = std::isnan(r) ? 0 : r;
    facts.hasMatrix = !(matrix[0] == 65536 && matrix[1] == 0 && matrix[3] == 0 && matrix[4] == 65536);
  }
  facts.primaries = Name(av_color_primaries_name(par->color_primaries));
  facts.transfer = Name(av_color_transfer_name(par->color_trc));
  facts.matrix = Name(av_color_space_name(par->color_space));
  facts.range = Name(av_color_range_name(par->color_range));
}

AVCodecContext* OpenDecoder(const AVStream* st) {
  const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
  AVCodecContext* dec = codec ? avcodec_alloc_context3(codec) : nullptr;
  if (dec && (avcodec_parameters_to_context(dec, st->codecpar) < 0 || avcodec_open2(dec, codec, nullptr) < 0))
    avcodec_free_context(&dec);
  return dec;
}

}  // namespace

MediaFacts Read(const QString& path, const ReadOptions& options) {
  MediaFacts facts;
  AVFormatContext* ic = nullptr;
  if (avformat_open_input(&ic, QFile::encodeName(path).constData(), nullptr, nullptr) < 0) {
    facts.error = QStringLiteral("cannot open");
    return facts;
  }
  if (avformat_find_stream_info(ic, nullptr) < 0) {
    avformat_close_input(&ic);
    facts.error = QStringLiteral("no stream info");
    return facts;
  }
  facts.ok = true;
  facts.format = Name(ic->iformat->name);
  facts.duration = ic->duration > 0 ? double(ic->duration) / AV_TIME_BASE : 0;
  const double fileStart = ic->start_time == AV_NOPTS_VALUE ? 0 : double(ic->start_time) / AV_TIME_BASE;
  const AVDictionaryEntry* tag = nullptr;
  while ((tag = av_dict_get(ic->metadata, "", tag, AV_DICT_IGNORE_SUFFIX)))
    facts.tags.insert(QString::fromUtf8(tag->key), QString::fromUtf8(tag->value));
  for (unsigned i = 0; i < ic->nb_chapters; ++i) {
    const AVChapter* c = ic->chapters[i];
    const AVDictionaryEntry* title = av_dict_get(c->metadata, "title", nullptr, 0);
    facts.chapters << QString::number(Seconds(c->start, c->time_base)) + ':' +
                          (title ? QString::fromUtf8(title->value) : QString());
  }

  // The first video and the first audio stream, as the encoder picks them.
  AVStream* streams[2] = {nullptr, nullptr};
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    AVStream* st = ic->streams[i];
    const AVMediaType type = st->codecpar->codec_type;
    const AVDictionaryEntry* language = av_dict_get(st->metadata, "language", nullptr, 0);
    TrackFacts track;
    track.type = type;
    track.codec = Name(avcodec_get_name(st->codecpar->codec_id));
    track.language = language ? Name(language->value) : QString();
    track.isDefault = st->disposition & AV_DISPOSITION_DEFAULT;
    track.attachedPicture = st->disposition & AV_DISPOSITION_ATTACHED_PIC;
    facts.tracks.append(track);
    const int k = type == AVMEDIA_TYPE_VIDEO && !track.attachedPicture ? 0
                  : type == AVMEDIA_TYPE_AUDIO                         ? 1
                                                                       : -1;
    if (k < 0 || streams[k]) continue;
    streams[k] = st;
    StreamFacts& s = k == 0 ? facts.video : facts.audio;
    s.present = true;
    s.codec = Name(avcodec_get_name(st->codecpar->codec_id));
    s.start = st->start_time == AV_NOPTS_VALUE ? 0 : Seconds(st->start_time, st->time_base) - fileStart;
    s.duration = Seconds(st->duration, st->time_base);
    if (k == 0) {
      ReadVideoStream(ic, st, facts);
    } else {
      s.sampleRate = st->codecpar->sample_rate;
      s.channels = st->codecpar->ch_layout.nb_channels;
    }
  }

  // Only the pictures are decoded when the first one is all that is asked for.
  const bool firstOnly = options.decode == Decode::FirstPicture;
  AVCodecContext* dec[2] = {nullptr, nullptr};
  if (options.decode != Decode::None)
    for (int k = 0; k < (firstOnly ? 1 : 2); ++k)
      if (streams[k] && !(dec[k] = OpenDecoder(streams[k]))) ++facts.decodeErrors;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto receive = [&](int k) {
    StreamFacts& s = k == 0 ? facts.video : facts.audio;
    while (avcodec_receive_frame(dec[k], frame) == 0) {
      const double time = Seconds(frame->best_effort_timestamp, streams[k]->time_base);
      if (++s.decoded == 1) s.firstTime = time;
      if (k == 0 && vidmora::encoder::FrameInterlaced(frame)) ++facts.interlacedPictures;
      const auto& each = k == 0 ? options.onPicture : options.onSound;
      if (each) each(frame, time);
      av_frame_unref(frame);
    }
  };
  auto done = [&] { return firstOnly && (!dec[0] || facts.video.decoded > 0); };
  while (!done() && av_read_frame(ic, pkt) >= 0) {
    TrackFacts& track = facts.tracks[pkt->stream_index];
    if (track.firstPacket.isEmpty() && pkt->size > 2) {
      track.firstPacket = QByteArray(reinterpret_cast<const char*>(pkt->data), pkt->size);
      track.firstTime = Seconds(pkt->pts, ic->streams[pkt->stream_index]->time_base);
      track.firstDuration = Seconds(pkt->duration, ic->streams[pkt->stream_index]->time_base);
    }
    int k = -1;
    for (int j = 0; j < 2; ++j)
      if (streams[j] && streams[j]->index == pkt->stream_index) k = j;
    if (k >= 0) {
      (k == 0 ? facts.video : facts.audio).bytes += pkt->size;
      if (options.onPacket) options.onPacket(pkt, streams[k], k == 0);
      if (dec[k]) {
        if (avcodec_send_packet(dec[k], pkt) < 0) ++facts.decodeErrors;
        receive(k);
      }
    }
    av_packet_unref(pkt);
  }
  for (int k = 0; k < 2; ++k) {
    if (dec[k] && !done()) {  // frames the decoder held back
      avcodec_send_packet(dec[k], nullptr);
      receive(k);
    }
    avcodec_free_context(&dec[k]);
  }
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avformat_close_input(&ic);
  return facts;
}

}  // namespace TestMedia
