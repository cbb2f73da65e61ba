#include "Source.h"

#include "Console.h"
#include "Protocol.h"
#include "StopRequest.h"
#include "StreamCopy.h"
#include "Trace.h"

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

// The codec's name, for the reasons given: "an unknown codec" where the container names one
// the libraries do not know.
std::string CodecName(const AVCodecParameters* par) {
  return par->codec_id == AV_CODEC_ID_NONE ? "an unknown codec" : avcodec_get_name(par->codec_id);
}

// Whether a subtitle stream is text (which MP4 holds as text), not pictures.
bool IsTextSubtitle(const AVCodecParameters* par) {
  const AVCodecDescriptor* d = avcodec_descriptor_get(par->codec_id);
  return d && (d->props & AV_CODEC_PROP_TEXT_SUB);
}

// Every stream kept or left out, and why.
void TracePlan(const TrackPlan& plan) {
  if (!TraceOn()) return;
  if (!plan.programWhy.empty()) Trace("streams: " + plan.programWhy);
  std::vector<std::pair<int, std::string>> lines;
  for (const KeptStream& s : plan.kept) lines.push_back({s.index, s.why});
  for (const LeftOutStream& s : plan.leftOut) lines.push_back({s.index, s.why});
  std::stable_sort(lines.begin(), lines.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& line : lines) Trace(Format("streams: #%d ", line.first) + line.second);
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

// Refused before anything else: a playlist or list of files (by name, before the library is
// asked to open it), a file that cannot be opened or read.
MaybeFailure Source::Refusal() {
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
      return Failure{ErrorCode::SourceNotRegular, "the source " + DisplayName(path_) +
                                                      " is a list of other files (" + format->name +
                                                      "); only plain media files are converted"};
  }
  ClearLibraryError();
  int r = OpenFile(&context) ? 0 : openError_;
  if (r >= 0) r = avformat_find_stream_info(context, nullptr);
  if (r < 0) {
    if (StopRequested()) return Failure{ErrorCode::Stopped, "stopped before the conversion began"};
    std::string why = ErrorText(r);
    const std::string detail = LastLibraryError();
    if (!detail.empty() && detail.find(why) == std::string::npos) why += " (" + detail + ")";
    return Failure{SourceFailure(r), "cannot read the source " + DisplayName(path_) + ": " + why};
  }
  return {};
}

// Reads the start of the data through a second opening (the first is left where the
// conversion begins): how many packets each stream has there, and the first timestamps of
// each picture stream. It ends at the end of the data, once every picture and sound stream
// has shown itself and the moving pictures have shown enough of their rate, or after a
// bounded number of packets. A second opening that sees other streams tells nothing (some
// demuxers, a transport stream's, add streams as they come upon them: each is checked then).
void Source::Scan() {
  constexpr int kMaxPackets = 2000;
  constexpr size_t kTimes = 60;
  const unsigned n = context->nb_streams;
  packetsSeen_.assign(n, 0);
  pictureTimes_.assign(n, {});
  scannedToEnd_ = false;
  if (!isFile_) return;  // a pipe is read once
  AVFormatContext* ic = nullptr;
  if (!OpenFile(&ic)) return;
  const auto sameStream = [&](unsigned i) {
    return i < n && ic->streams[i]->codecpar->codec_type == context->streams[i]->codecpar->codec_type &&
           !av_cmp_q(ic->streams[i]->time_base, context->streams[i]->time_base);
  };
  bool same = ic->nb_streams <= n;
  for (unsigned i = 0; same && i < ic->nb_streams; ++i) same = sameStream(i);
  TPacketPtr packet(av_packet_alloc());
  bool ended = false;
  int read = 0;
  const auto isPicture = [&](unsigned i) {
    const AVStream* st = context->streams[i];
    return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
  };
  const auto enough = [&] {
    size_t mostTimes = 0;
    for (unsigned i = 0; i < n; ++i)
      if (isPicture(i)) mostTimes = std::max(mostTimes, pictureTimes_[i].size());
    for (unsigned i = 0; i < n; ++i) {
      const bool picture = isPicture(i);
      if ((picture || context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) &&
          packetsSeen_[i] == 0)
        return false;
      // A picture shows its rate, unless it is a still of one frame beside a film that has.
      if (picture && pictureTimes_[i].size() < kTimes && (packetsSeen_[i] > 1 || mostTimes < kTimes))
        return false;
    }
    return true;
  };
  while (same && packet && read < kMaxPackets && !StopRequested() && !enough()) {
    const int r = av_read_frame(ic, packet.get());
    if (r == AVERROR_EOF || (r < 0 && ic->pb && avio_feof(ic->pb))) {
      ended = true;
      break;
    }
    if (r < 0) break;
    ++read;
    const int k = packet->stream_index;
    same = k >= 0 && unsigned(k) < ic->nb_streams && sameStream(unsigned(k));
    if (same) {
      ++packetsSeen_[k];
      const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      if (ic->streams[k]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && ts != AV_NOPTS_VALUE &&
          pictureTimes_[k].size() < kTimes)
        pictureTimes_[k].push_back(ts);
    }
    av_packet_unref(packet.get());
  }
  same = same && ic->nb_streams <= n;
  avformat_close_input(&ic);
  if (!same) {
    packetsSeen_.assign(n, 0);
    pictureTimes_.assign(n, {});
  }
  scannedToEnd_ = same && ended;
}

SourceFacts Source::Facts() const {
  SourceFacts facts;
  facts.scannedToEnd = scannedToEnd_;
  for (unsigned i = 0; i < context->nb_streams; ++i) {
    const AVStream* st = context->streams[i];
    const AVCodecParameters* par = st->codecpar;
    StreamFacts s;
    s.index = int(i);
    s.codec = CodecName(par);
    s.isDefault = st->disposition & AV_DISPOSITION_DEFAULT;
    s.frames = st->nb_frames > 0 ? st->nb_frames : -1;
    s.packetsSeen = i < packetsSeen_.size() ? packetsSeen_[i] : 0;
    const bool copies = par->codec_type == AVMEDIA_TYPE_VIDEO ? copyVideo_ : copyAudio_;
    const char* unusable = copies ? "cannot be copied into MP4 as it is" : "cannot be decoded";
    const bool decodes = avcodec_find_decoder(par->codec_id) != nullptr;
    switch (par->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        s.kind = StreamKind::Picture;
        s.attachedPicture = st->disposition & AV_DISPOSITION_ATTACHED_PIC;
        s.coverFormat = par->codec_id == AV_CODEC_ID_MJPEG || par->codec_id == AV_CODEC_ID_PNG ||
                        par->codec_id == AV_CODEC_ID_BMP;
        s.width = par->width;
        s.height = par->height;
        // A picture without a size cannot be shown, let alone converted.
        if (!s.attachedPicture && (par->width <= 0 || par->height <= 0))
          s.unusable = "states no picture size";
        else if (!s.attachedPicture && (copies ? CheckCopyable(par).has_value() : !decodes))
          s.unusable = unusable;
        break;
      case AVMEDIA_TYPE_AUDIO:
        s.kind = StreamKind::Sound;
        // Sound whose rate and channels could not be read from any packet holds nothing
        // that can be decoded or described: it counts as empty, not as a refusal.
        if (par->ch_layout.nb_channels <= 0 || par->sample_rate <= 0) s.frames = 0;
        if (copies ? CheckCopyable(par).has_value() : !decodes) s.unusable = unusable;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        s.kind = StreamKind::Subtitle;
        s.textSubtitle = IsTextSubtitle(par);
        break;
      default:
        s.kind = StreamKind::Other;
        break;
    }
    facts.streams.push_back(std::move(s));
  }
  for (unsigned p = 0; p < context->nb_programs; ++p) {
    const AVProgram* program = context->programs[p];
    for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
      if (program->stream_index[k] < context->nb_streams)
        facts.streams[program->stream_index[k]].programs.push_back(program->id);
  }
  return facts;
}

// Takes the streams the plan keeps; a refusal when the film, or every sound track, cannot be
// used (or nothing can be read at all).
MaybeFailure Source::Pick(const TrackPlan& plan) {
  video = InputStream();
  sounds.clear();
  textSubtitles.clear();
  pictureSubtitles.clear();
  cover = nullptr;
  leftOut.clear();
  notes.clear();
  const auto kindOf = [&](AVStream* st) {
    return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? "video" : "audio";
  };
  for (int k : {plan.unusablePicture, plan.unusableSound}) {
    if (k < 0) continue;
    AVStream* st = context->streams[k];
    const AVCodecParameters* par = st->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO ? copyVideo_ : copyAudio_) {
      if (MaybeFailure refusal = CheckCopyable(par)) return refusal;
    }
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && (par->width <= 0 || par->height <= 0))
      return Failure{ErrorCode::SourceDamaged,
                     "the source's video (" + CodecName(par) + ") states no picture size"};
    return Failure{ErrorCode::SourceUnsupported,
                   Format("the source's %s (%s) cannot be decoded", kindOf(st), CodecName(par).c_str())};
  }
  if (plan.picture >= 0) {
    video.index = plan.picture;
    video.stream = context->streams[plan.picture];
  }
  for (int k : plan.sounds) {
    InputStream sound;
    sound.index = k;
    sound.stream = context->streams[k];
    sounds.push_back(std::move(sound));
  }
  for (int k : plan.subtitles) {
    AVStream* st = context->streams[k];
    (IsTextSubtitle(st->codecpar) ? textSubtitles : pictureSubtitles).push_back(st);
  }
  if (plan.cover >= 0) cover = context->streams[plan.cover];
  for (const LeftOutStream& out : plan.leftOut) (out.warn ? leftOut : notes).push_back(out.why);
  if (video.index < 0 && sounds.empty())
    return Failure{ErrorCode::SourceDamaged,
                   "the source " + DisplayName(path_) + " holds no video or audio that can be read"};
  return {};
}

// The decoder of a stream that is converted; "" or why it cannot be decoded.
MaybeFailure Source::OpenDecoder(InputStream& in) {
  const AVCodecParameters* par = in.stream->codecpar;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  const char* kind = par->codec_type == AVMEDIA_TYPE_VIDEO ? "video" : "audio";
  if (!codec)
    return Failure{ErrorCode::SourceUnsupported,
                   Format("the source's %s (%s) cannot be decoded", kind, CodecName(par).c_str())};
  in.decoder.reset(avcodec_alloc_context3(codec));
  in.frame.reset(av_frame_alloc());
  if (!in.decoder || !in.frame || avcodec_parameters_to_context(in.decoder.get(), par) < 0)
    return OutOfMemory();
  in.decoder->pkt_timebase = in.stream->time_base;
  in.decoder->thread_count = threads;
  if (par->codec_type == AVMEDIA_TYPE_VIDEO)
    in.decoder->framerate = av_guess_frame_rate(context, in.stream, nullptr);
  ClearLibraryError();
  const int opened = avcodec_open2(in.decoder.get(), codec, nullptr);
  if (opened < 0)
    return Failure{
        opened == AVERROR(ENOMEM) ? ErrorCode::OutOfMemory : ErrorCode::SourceUnsupported,
        Format("cannot decode the source's %s (%s): %s", kind, codec->name, ErrorText(opened).c_str())};
  return {};
}

MaybeFailure Source::Open(const std::string& path, bool copyVideo, bool copyAudio) {
  path_ = path;
  copyVideo_ = copyVideo;
  copyAudio_ = copyAudio;
  if (MaybeFailure refusal = Refusal()) return refusal;
  Scan();
  SourceFacts facts = Facts();
  // A decoder that will not open after all makes its stream unusable, and the streams are
  // picked again without it (each time one stream fewer can be picked). When that stream
  // was the last film or sound track, its own reason refuses the source.
  MaybeFailure failed;
  int failedIndex = -1;
  for (;;) {
    const TrackPlan plan = PlanTracks(facts);
    if (failedIndex >= 0 && (plan.unusablePicture == failedIndex || plan.unusableSound == failedIndex))
      return failed;
    if (MaybeFailure refusal = Pick(plan)) return refusal;
    failed.reset();
    for (size_t k = 0; k <= sounds.size() && !failed; ++k) {
      InputStream& in = k == 0 ? video : sounds[k - 1];
      if (in.index < 0 || Copies(in)) continue;
      failed = OpenDecoder(in);
      failedIndex = in.index;
    }
    if (!failed) {
      TracePlan(plan);
      break;
    }
    if (failed->code == ErrorCode::OutOfMemory) return failed;
    Trace("streams: " + failed->detail + "; the streams are picked again without it");
    facts.streams[size_t(failedIndex)].unusable = "cannot be decoded";
  }
  FindStart();
  return {};
}

// Timestamps count from the earliest start of the picture and sound streams (subtitles may
// start earlier and are left out), so the output starts at zero with sound and picture as far
// apart as in the source; and what the header says of the length.
void Source::FindStart() {
  std::vector<const InputStream*> streams{&video};
  for (const InputStream& sound : sounds) streams.push_back(&sound);
  startTime = AV_NOPTS_VALUE;
  for (const InputStream* in : streams) {
    if (in->index < 0 || in->stream->start_time == AV_NOPTS_VALUE) continue;
    const int64_t start = av_rescale_q(in->stream->start_time, in->stream->time_base, AV_TIME_BASE_Q);
    if (startTime == AV_NOPTS_VALUE || start < startTime) startTime = start;
  }
  if (startTime == AV_NOPTS_VALUE)
    startTime = context->start_time == AV_NOPTS_VALUE ? 0 : context->start_time;
  // A length merely estimated from the bit rate is no announcement.
  announcedEnd = AV_NOPTS_VALUE;
  if (context->duration != AV_NOPTS_VALUE && context->duration > 0 &&
      context->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE) {
    announcedEnd = context->duration;
  }
}

int Source::PlaceOfKind(int index) const {
  const AVMediaType kind = context->streams[index]->codecpar->codec_type;
  int place = 0;
  for (int i = 0; i <= index; ++i) place += context->streams[i]->codecpar->codec_type == kind;
  return place;
}

// The rate the first pictures' own timestamps show, from the scan; {0, 1} when they show
// none. Timestamps are sorted first, so pictures stored out of display order count too.
AVRational Source::MeasuredFrameRate() const {
  if (video.index < 0 || size_t(video.index) >= pictureTimes_.size()) return {0, 1};
  std::vector<int64_t> times = pictureTimes_[size_t(video.index)];
  const AVRational tb = video.stream->time_base;
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
