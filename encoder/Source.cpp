#include "Source.h"

#include "Console.h"
#include "Protocol.h"
#include "StopRequest.h"
#include "StreamCopy.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace vidmora::encoder {

namespace {

// Demuxers that read other files named inside the source (playlists, concatenation
// lists, compositions, scripts): a text file named "x.mp4" must not pull other files in.
const char* const kRefusedFormats[] = {"hls", "dash", "concat", "imf", "avisynth", "vapoursynth"};

bool IsRefusedFormat(const char* name) {
  for (const char* refused : kRefusedFormats)
    if (name && std::strcmp(name, refused) == 0) return true;
  return false;
}

// Every demuxer but the refused ones, as a format whitelist.
const std::string& AllowedFormats() {
  static const std::string list = [] {
    std::string names;
    void* it = nullptr;
    while (const AVInputFormat* f = av_demuxer_iterate(&it)) {
      if (IsRefusedFormat(f->name)) continue;
      names += (names.empty() ? "" : ",") + std::string(f->name);
    }
    return names;
  }();
  return list;
}

}  // namespace

Source::~Source() { avformat_close_input(&context); }

// Opens the source as a plain local file: through the file protocol only (a name such as
// "concat:a|b" is a file name here), with none of the demuxers that read other files.
// False with *opened null when it cannot be opened; the library's error stays in
// LastLibraryError and the return code in openError_.
bool Source::OpenFile(AVFormatContext** opened) {
  *opened = avformat_alloc_context();
  if (!*opened) {
    openError_ = AVERROR(ENOMEM);
    return false;
  }
  (*opened)->interrupt_callback.callback = [](void*) { return StopRequested() ? 1 : 0; };
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  av_dict_set(&options, "format_whitelist", AllowedFormats().c_str(), 0);
  openError_ = avformat_open_input(opened, ("file:" + path_).c_str(), nullptr, &options);
  av_dict_free(&options);
  return openError_ >= 0;
}

std::string Source::Open(const std::string& path, bool copyVideo, bool copyAudio) {
  path_ = path;
  copyVideo_ = copyVideo;
  copyAudio_ = copyAudio;
  // A playlist or list of files is refused by name before the library is asked to open it.
  // (Only a regular file is read twice: what a pipe gives is for the conversion.)
  struct stat facts;
  isFile_ = stat(path_.c_str(), &facts) == 0 && S_ISREG(facts.st_mode);
  FILE* f = isFile_ ? std::fopen(path_.c_str(), "rb") : nullptr;
  if (f) {
    std::vector<unsigned char> head(4096 + AVPROBE_PADDING_SIZE, 0);
    const size_t n = std::fread(head.data(), 1, 4096, f);
    std::fclose(f);
    AVProbeData probe{};
    probe.filename = path_.c_str();
    probe.buf = head.data();
    probe.buf_size = int(n);
    int score = 0;
    const AVInputFormat* format = av_probe_input_format3(&probe, 1, &score);
    if (format && IsRefusedFormat(format->name))
      return Coded(protocol::kErrSourceNotRegular, "the source " + DisplayName(path_) + " is a list of other files (" +
                                                       format->name + "); only plain media files are converted");
  }
  ClearLibraryError();
  int r = OpenFile(&context) ? 0 : openError_;
  if (r >= 0) r = avformat_find_stream_info(context, nullptr);
  if (r < 0) {
    if (StopRequested()) return Coded(protocol::kErrStopped, "stopped before the conversion began");
    std::string why = ErrorText(r);
    const std::string detail = LastLibraryError();
    if (!detail.empty() && detail.find(why) == std::string::npos) why += " (" + detail + ")";
    return Coded(SourceFailure(r), "cannot read the source " + DisplayName(path_) + ": " + why);
  }

  for (unsigned i = 0; i < context->nb_streams; ++i) {
    AVStream* st = context->streams[i];
    const AVCodecParameters* par = st->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && video.index < 0 &&
        !(st->disposition & AV_DISPOSITION_ATTACHED_PIC) && par->width > 0 && par->height > 0) {
      video.index = int(i);
      video.stream = st;
    } else if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->ch_layout.nb_channels > 0 &&
               par->sample_rate > 0) {
      InputStream sound;
      sound.index = int(i);
      sound.stream = st;
      sound.soundNumber = int(sounds.size()) + 1;
      sounds.push_back(std::move(sound));
    } else if (par->codec_type == AVMEDIA_TYPE_SUBTITLE) {
      const AVCodecDescriptor* d = avcodec_descriptor_get(par->codec_id);
      (d && (d->props & AV_CODEC_PROP_TEXT_SUB) ? textSubtitles : pictureSubtitles).push_back(st);
    }
  }
  if (video.index < 0 && sounds.empty())
    return Coded(protocol::kErrSourceDamaged,
                 "the source " + DisplayName(path_) + " holds no video or audio that can be read");

  // Names a further sound track that cannot be kept, and takes it out of the list.
  const auto leaveOut = [&](size_t k, const char* why) {
    leftOut.push_back(Format("sound track %d (%s) %s and is left out", sounds[k].soundNumber,
                             avcodec_get_name(sounds[k].stream->codecpar->codec_id), why));
    sounds.erase(sounds.begin() + std::ptrdiff_t(k));
  };
  // A copy keeps every sound track MP4 can hold as it is; the first one decides whether the
  // copy can be made at all, a further one that cannot is left out and named.
  if (copyAudio_) {
    for (size_t k = 1; k < sounds.size();) {
      const std::string refusal = CheckCopyable(sounds[k].stream->codecpar);
      if (refusal.empty()) {
        ++k;
        continue;
      }
      leaveOut(k, "cannot be copied into MP4 as it is");
    }
  }

  // The decoder of a stream that is converted; "" or why it cannot be decoded.
  const auto openDecoder = [&](InputStream& in) -> std::string {
    const AVCodecParameters* par = in.stream->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    const char* kind = par->codec_type == AVMEDIA_TYPE_VIDEO ? "video" : "audio";
    if (!codec)
      return Coded(protocol::kErrSourceUnsupported,
                   Format("the source's %s (%s) cannot be decoded", kind, avcodec_get_name(par->codec_id)));
    in.decoder.reset(avcodec_alloc_context3(codec));
    in.frame.reset(av_frame_alloc());
    if (!in.decoder || !in.frame || avcodec_parameters_to_context(in.decoder.get(), par) < 0)
      return OutOfMemory();
    in.decoder->pkt_timebase = in.stream->time_base;
    in.decoder->thread_count = 0;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO)
      in.decoder->framerate = av_guess_frame_rate(context, in.stream, nullptr);
    ClearLibraryError();
    const int opened = avcodec_open2(in.decoder.get(), codec, nullptr);
    if (opened < 0)
      return Coded(opened == AVERROR(ENOMEM) ? protocol::kErrOutOfMemory : protocol::kErrSourceUnsupported,
                   Format("cannot decode the source's %s (%s): %s", kind, codec->name, ErrorText(opened).c_str()));
    return {};
  };
  for (size_t k = 0; k <= sounds.size(); ++k) {
    InputStream& in = k == 0 ? video : sounds[k - 1];
    if (in.index < 0) continue;
    if (Copies(in)) {
      // Refused here, before anything is written, when MP4 cannot hold it as it is.
      const std::string refusal = CheckCopyable(in.stream->codecpar);
      if (!refusal.empty()) return refusal;
      continue;
    }
    const std::string error = openDecoder(in);
    if (error.empty()) continue;
    // The picture and the first sound track are what the conversion is for; a further
    // sound track that cannot be decoded is left out and named.
    if (k <= 1) return error;
    leaveOut(k - 1, "cannot be decoded");
    --k;
  }
  std::vector<const InputStream*> streams{&video};
  for (const InputStream& sound : sounds) streams.push_back(&sound);
  // Timestamps count from the earliest start of the picture and sound streams (subtitles
  // may start earlier and are left out), so the output starts at zero with sound and
  // picture as far apart as in the source.
  startTime = AV_NOPTS_VALUE;
  for (const InputStream* in : streams) {
    if (in->index < 0 || in->stream->start_time == AV_NOPTS_VALUE) continue;
    const int64_t start = av_rescale_q(in->stream->start_time, in->stream->time_base, AV_TIME_BASE_Q);
    if (startTime == AV_NOPTS_VALUE || start < startTime) startTime = start;
  }
  if (startTime == AV_NOPTS_VALUE)
    startTime = context->start_time == AV_NOPTS_VALUE ? 0 : context->start_time;
  // A length merely estimated from the bit rate is no announcement.
  if (context->duration != AV_NOPTS_VALUE && context->duration > 0 &&
      context->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
    announcedEnd = context->duration;
  }
  return {};
}

// The rate the first pictures' own timestamps show, read from a second opening of the
// source (the first is left where the conversion begins); {0, 1} when they show none.
// Timestamps are sorted first, so pictures stored out of display order count too.
AVRational Source::MeasuredFrameRate() {
  if (!isFile_) return {0, 1};  // a pipe is read once
  AVFormatContext* ic = nullptr;
  if (!OpenFile(&ic)) return {0, 1};
  std::vector<int64_t> times;
  TPacketPtr packet(av_packet_alloc());
  const AVRational tb = video.stream->time_base;
  for (int read = 0; packet && read < 1000 && times.size() < 60 && !StopRequested(); ++read) {
    if (av_read_frame(ic, packet.get()) < 0) break;
    const int k = packet->stream_index;
    if (k == video.index && k < int(ic->nb_streams) &&
        ic->streams[k]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
        !av_cmp_q(ic->streams[k]->time_base, tb)) {
      const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      if (ts != AV_NOPTS_VALUE) times.push_back(ts);
    }
    av_packet_unref(packet.get());
  }
  avformat_close_input(&ic);
  std::sort(times.begin(), times.end());
  std::vector<int64_t> steps;
  for (size_t i = 1; i < times.size(); ++i)
    if (times[i] > times[i - 1]) steps.push_back(times[i] - times[i - 1]);
  if (steps.size() < 8) return {0, 1};
  std::sort(steps.begin(), steps.end());
  // The shortest spacing that pictures keep (a tenth of them may come closer), averaged
  // over the steps near it.
  const int64_t shortest = steps[steps.size() / 10];
  double sum = 0;
  int n = 0;
  for (int64_t s : steps)
    if (s <= shortest * 3 / 2) {
      sum += double(s);
      ++n;
    }
  const double rate = 1.0 / (sum / n * av_q2d(tb));
  if (!(rate > 0.5 && rate <= 240)) return {0, 1};
  // Timestamps in milliseconds give 29.94 or 30.03 for 29.97: the usual rates are kept.
  static const AVRational usual[] = {{24000, 1001}, {24, 1},       {25, 1}, {30000, 1001}, {30, 1},
                                     {50, 1},       {60000, 1001}, {60, 1}, {15, 1},       {10, 1}};
  for (const AVRational& u : usual)
    if (std::abs(rate / av_q2d(u) - 1) < 0.01) return u;
  return av_d2q(rate, 100000);
}

}  // namespace vidmora::encoder
