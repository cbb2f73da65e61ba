#include "Transcoder.h"

#include "Chains.h"
#include "Console.h"
#include "Encoders.h"
#include "FileTags.h"
#include "Muxer.h"
#include "OutputFile.h"
#include "PictureFilter.h"
#include "Progress.h"
#include "ProgressReport.h"
#include "Scheduler.h"
#include "Source.h"
#include "StopRequest.h"
#include "StreamCopy.h"
#include "SubtitleTracks.h"
#include "TimestampRepair.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <string>
#include <sys/stat.h>
#include <vector>

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

// A subtitle track of the output: its cues wait until the picture and sound written have
// passed them, so that no cue runs past the end of the file.
struct SubtitleTrack {
  OutputStream out;
  std::deque<TPacketPtr> cues;
};

class Conversion {
 public:
  explicit Conversion(const Options& options)
      : opt_(options), muxer_(vout_, DisplayName(options.output)), scheduler_(12) {
    toVideoEncoder_ = [this](TFramePtr frame, AVRational tb) {
      if (subtitleTracks_.Drawing() && !subtitleTracks_.DrawOn(frame.get(), frame->pts * av_q2d(tb)))
        return Fail(OutOfMemory());
      return scheduler_.Send({Scheduler::Kind::Video, std::move(frame), tb, nullptr});
    };
    toCueWriter_ = [this](size_t k, TPacketPtr cue) {
      return scheduler_.Send({Scheduler::Kind::Subtitle, nullptr, {0, 1}, std::move(cue), int(k)});
    };
  }
  int Run();

 private:
  int Complete();
  bool Fail(Failure failure) { return scheduler_.Fail(std::move(failure)); }
  // Reports the failure (the first one recorded wins), removes the unfinished file and
  // gives the process's exit status.
  int Abandon(MaybeFailure failure = {});
  bool OpenOutput();
  bool SetUpVideo();
  bool SetUpAudio(size_t k);
  bool SetUpCopy(OutputStream& out, const InputStream& in);
  bool SetUpSubtitles();
  void KeepFileFacts();
  bool AddChapters();
  void SetUpDrawing();
  void Describe();
  InputStream* InputOf(int streamIndex);
  size_t TrackOf(const InputStream& in) const { return size_t(&in - src_.sounds.data()); }

  // Decoding thread.
  bool DemuxAndDecode();
  void RepairTimestamps(InputStream& in, AVPacket* packet);
  bool Decode(InputStream& in, const AVPacket* packet);
  bool PassOn(InputStream& in, const AVPacket* packet);
  bool ReleaseWaiting(InputStream& in);
  bool Filter(InputStream& in, AVFrame* frame);
  bool CloseChains();

  // Encoding thread: one item handed over from the decoding thread; false once it failed.
  bool Write(Scheduler::Item& item);
  bool Encode(OutputStream& out, AVFrame* frame, AVRational timeBase);
  bool Copy(OutputStream& out, AVPacket* packet);
  bool WriteCues(double upTo, bool last);
  // The progress line, after a length line when the working length has moved (final: by
  // any amount, so the last length said is the content's).
  void Progress(bool final = false) {
    report_.Progress(working_, vout_.frames, muxer_.Position(), muxer_.OutputTime(), scheduler_.Started(),
                     final);
  }
  // Works the length out again from what has been read (decoding thread).
  void UpdateWorkingLength(bool ended);

  Options opt_;
  Source src_;
  TempOutput temp_;  // outlives the writer, which writes through its descriptor
  OutputStream vout_;
  std::deque<OutputStream> aouts_;  // one a sound track, as the source's
  std::deque<SubtitleTrack> subtitles_;
  SubtitleTracks subtitleTracks_;  // which subtitles are kept or drawn, and their cues
  SubtitleTracks::CueSink toCueWriter_;
  Muxer muxer_;
  PictureConverter pictures_;
  std::deque<SoundConverter> sounds_;
  FrameSink toVideoEncoder_;
  std::vector<FrameSink> toAudioEncoder_;
  TPacketPtr packet_;   // what the source gives, reused for every packet
  PictureSetup setup_;  // what the picture encoder was set up with
  TimestampRepair repair_;
  Scheduler scheduler_;
  ProgressReport report_;

  std::string burnNote_;  // which subtitles are drawn into the picture, for the console

  int64_t badPackets_ = 0;
  // The source's chapters in the order of their starts, each with the shift its time takes:
  // the repair's shift of the picture (or else the first sound track) when it reached the
  // chapter's start (AV_TIME_BASE units; INT64_MIN while not reached).
  std::vector<const AVChapter*> chapters_;
  std::vector<int64_t> chapterShifts_;
  size_t nextChapter_ = 0;
  // AV_TIME_BASE units, relative to src_.startTime: the end of the last packet on the source's
  // own clock, before any repair.
  int64_t dataEnd_ = AV_NOPTS_VALUE;

  // The length the progress works towards (seconds; negative: not known), worked out by
  // the decoding thread and said by the encoding thread, and the last length said.
  std::atomic<double> working_{-1};
  int64_t sourceSize_ = 0;  // bytes; 0 before it was asked, -1 when it cannot be known
  // Whether a stop left out part of the source (set by the encoding thread at the end).
  bool cutShort_ = false;
};

int Conversion::Abandon(MaybeFailure failure) {
  if (failure) Fail(std::move(*failure));
  const Failure& first = scheduler_.FirstFailure();
  // How much was converted before the source's data broke off: the last progress line.
  if (first.code == ErrorCode::SourceIncomplete) Progress();
  ConsoleError(first);
  muxer_.Close();  // before its descriptor is closed
  temp_.Discard();
  SetAbandonPath({});
  return 1;
}

bool Conversion::SetUpVideo() {
  if (MaybeFailure failure = OpenVideoEncoder(opt_, src_, muxer_.Context(), vout_, setup_))
    return Fail(std::move(*failure));
  pictures_.Configure(src_.video.stream, setup_.picture, setup_.fps, vout_.encoder->width,
                      vout_.encoder->height, src_.video.decoder.get(), src_.startTime);
  SetUpDrawing();
  return true;
}

bool Conversion::SetUpAudio(size_t k) {
  OutputStream& out = aouts_[k];
  if (MaybeFailure failure = OpenAudioEncoder(opt_, src_.sounds[k], muxer_.Context(), out))
    return Fail(std::move(*failure));
  // AAC takes 1024 samples a frame, MP3 1152: the chain cuts frames to the encoder's size.
  const AVCodecContext* enc = out.encoder.get();
  const bool fixedSize =
      enc->frame_size > 0 && !(enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  sounds_[k].Configure(src_.sounds[k].stream, enc->sample_fmt, enc->sample_rate, enc->ch_layout,
                       fixedSize ? enc->frame_size : 0, src_.startTime);
  return true;
}

// Copies a track's language and title to the output; marks it default or not.
void KeepTags(AVStream* out, const AVDictionary* from, bool isDefault) {
  KeepTrackNames(out, from);
  out->disposition = isDefault ? AV_DISPOSITION_DEFAULT : 0;
}

// The track among streams whose source marks it default, else the first; -1 for none.
int DefaultOf(const std::vector<const AVStream*>& streams) {
  for (size_t k = 0; k < streams.size(); ++k)
    if (streams[k] && (streams[k]->disposition & AV_DISPOSITION_DEFAULT)) return int(k);
  return streams.empty() ? -1 : 0;
}

// Burned in: the default subtitle track is drawn onto the finished pictures (as they go to
// the encoder, not by a filter of the chain).
void Conversion::SetUpDrawing() {
  if (opt_.subtitles != SubtitleMode::Burn) return;
  const AVCodecContext* dec = src_.video.decoder.get();
  DrawingTarget target;
  target.width = vout_.encoder->width;
  target.height = vout_.encoder->height;
  target.pixelAspect = setup_.sar.num > 0 && setup_.sar.den > 0 ? av_q2d(setup_.sar) : 1.0;
  target.sourceWidth = dec->width;
  target.sourceHeight = dec->height;
  subtitleTracks_.Draw(src_, opt_.input, target);
  burnNote_ = subtitleTracks_.DrawingNote();
}

// Kept: a text track in the MP4 for each of the source's and each file beside it that can
// be read; one that cannot is left out and named.
bool Conversion::SetUpSubtitles() {
  subtitleTracks_.Keep(muxer_.Context(), src_, opt_.input);
  for (size_t k = 0; k < subtitleTracks_.KeptCount(); ++k)
    subtitles_.emplace_back().out.stream = subtitleTracks_.KeptStream(k);
  return !StopRequested() || Fail({ErrorCode::Stopped, "stopped before the conversion began"});
}

bool Conversion::SetUpCopy(OutputStream& out, const InputStream& in) {
  if (MaybeFailure failure = out.copy.Open(muxer_.Context(), in.stream, src_.startTime))
    return Fail(std::move(*failure));
  out.stream = out.copy.Stream();
  return true;
}

bool Conversion::OpenOutput() {
  if (!muxer_.Create(opt_.output)) return Fail({ErrorCode::EncodeFailed, "the MP4 writer is not available"});
  if (src_.video.index >= 0 && !(src_.Copies(src_.video) ? SetUpCopy(vout_, src_.video) : SetUpVideo()))
    return false;
  std::vector<const AVStream*> soundStreams;
  for (const InputStream& in : src_.sounds) soundStreams.push_back(in.stream);
  const int defaultSound = DefaultOf(soundStreams);
  for (size_t k = 0; k < src_.sounds.size(); ++k) {
    aouts_.emplace_back();
    sounds_.emplace_back();
    toAudioEncoder_.push_back([this, k](TFramePtr frame, AVRational tb) {
      return scheduler_.Send({Scheduler::Kind::Audio, std::move(frame), tb, nullptr, int(k)});
    });
    const InputStream& in = src_.sounds[k];
    if (!(src_.Copies(in) ? SetUpCopy(aouts_[k], in) : SetUpAudio(k))) return false;
    KeepTags(aouts_[k].stream, in.stream->metadata, int(k) == defaultSound);
  }
  // Subtitles stay tracks unless they are drawn into a picture that is encoded.
  const bool burned = opt_.subtitles == SubtitleMode::Burn && vout_.encoder;
  if (opt_.subtitles != SubtitleMode::None && !burned && !SetUpSubtitles()) return false;

  KeepFileFacts();
  if (src_.cover && !muxer_.AddCover(src_.cover)) return Fail(OutOfMemory());

  // Only now, with everything checked, is anything created in the output folder.
  if (MaybeFailure failure = temp_.Create(opt_.output, opt_.overwrite)) return Fail(std::move(*failure));
  SetAbandonPath(temp_.Path());
  return muxer_.Start(temp_.Descriptor()) || Fail(*muxer_.Error());
}

// What the file says of itself (its tags, in MP4's own forms), and its chapters, whose times
// are settled as the conversion goes.
void Conversion::KeepFileFacts() {
  std::vector<Tag> tags;
  const AVDictionaryEntry* e = nullptr;
  while ((e = av_dict_get(src_.context->metadata, "", e, AV_DICT_IGNORE_SUFFIX)))
    tags.push_back({e->key, e->value});
  const KeptFileTags kept = FileTagsToKeep(tags);
  for (const Tag& tag : kept.writer)
    av_dict_set(&muxer_.Context()->metadata, tag.key.c_str(), tag.value.c_str(), 0);
  std::vector<UserDataString> userData;
  for (const Tag& tag : kept.userData) userData.push_back({tag.key, tag.value});
  muxer_.SetUserData(std::move(userData));

  for (unsigned i = 0; i < src_.context->nb_chapters; ++i) chapters_.push_back(src_.context->chapters[i]);
  std::stable_sort(chapters_.begin(), chapters_.end(), [](const AVChapter* a, const AVChapter* b) {
    return av_compare_ts(a->start, a->time_base, b->start, b->time_base) < 0;
  });
  chapterShifts_.assign(chapters_.size(), INT64_MIN);
}

// The chapters, on the output's clock: each moved as the picture was where it begins, ending
// where the next begins (or its own end, or the output's), those past the output's end left out.
bool Conversion::AddChapters() {
  const InputStream* ref = src_.ClockStream();
  const int64_t lastShift = ref ? repair_.CurrentShift(ref->repairId) : 0;
  const int64_t outputEnd = int64_t(muxer_.OutputTime() * AV_TIME_BASE);
  std::vector<std::pair<int64_t, const AVChapter*>> starts;
  for (size_t k = 0; k < chapters_.size(); ++k) {
    const int64_t shift = chapterShifts_[k] == INT64_MIN ? lastShift : chapterShifts_[k];
    const int64_t start =
        std::max<int64_t>(0, av_rescale_q(chapters_[k]->start, chapters_[k]->time_base, AV_TIME_BASE_Q) -
                                 src_.startTime + shift);
    if (start >= outputEnd) continue;
    if (!starts.empty() && start <= starts.back().first) continue;  // two at one time: the first
    starts.push_back({start, chapters_[k]});
  }
  for (size_t k = 0; k < starts.size(); ++k) {
    const AVChapter* c = starts[k].second;
    const int64_t ownEnd = av_rescale_q(c->end, c->time_base, AV_TIME_BASE_Q) -
                           av_rescale_q(c->start, c->time_base, AV_TIME_BASE_Q) + starts[k].first;
    int64_t end = k + 1 < starts.size() ? starts[k + 1].first : std::min(ownEnd, outputEnd);
    if (end <= starts[k].first) end = outputEnd;
    if (!muxer_.AddChapter(starts[k].first, end, c->metadata)) return Fail(*muxer_.Error());
  }
  return true;
}

void Conversion::Describe() {
  UpdateWorkingLength(false);
  ConversionSetup setup{opt_, src_, vout_, aouts_, setup_, {}, burnNote_, chapters_.size()};
  for (const SubtitleTrack& track : subtitles_) setup.subtitles.push_back(track.out.stream);
  report_.Describe(setup, working_);
}

// ---- decoding thread -------------------------------------------------------------------

bool Conversion::DemuxAndDecode() {
  packet_.reset(av_packet_alloc());
  if (!packet_) return Fail(OutOfMemory());
  AVPacket* packet = packet_.get();
  // Cues and chapters move with the picture (or else the first sound track) when its clock
  // is repaired.
  const InputStream* ref = src_.ClockStream();
  bool ok = true;
  while (ok && !scheduler_.Failed() && !StopRequested()) {
    const int r = av_read_frame(src_.context, packet);
    if (r == AVERROR_EOF) break;
    if (r < 0) {
      if (StopRequested()) break;
      if (r == AVERROR(EAGAIN)) continue;
      if (src_.context->pb && avio_feof(src_.context->pb) && !src_.context->pb->error) break;
      // Damaged data after some was read: the source is converted up to there.
      ErrorCode code = SourceFailure(r);
      if (code == ErrorCode::SourceDamaged && dataEnd_ != AV_NOPTS_VALUE) code = ErrorCode::SourceIncomplete;
      ok = Fail({code, "reading the source " + DisplayName(opt_.input) + " failed: " + ErrorText(r)});
      break;
    }
    InputStream* in = InputOf(packet->stream_index);
    const int64_t cueShift = repair_.CurrentShift(ref->repairId) - src_.startTime;
    ok = subtitleTracks_.OnSourcePacket(packet, cueShift, toCueWriter_);
    if (in && ok) {
      const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      int64_t reached = AV_NOPTS_VALUE;  // the picture's own time, for the cues of files beside it
      if (ts != AV_NOPTS_VALUE) {
        reached = av_rescale_q(ts, in->stream->time_base, AV_TIME_BASE_Q);
        const int64_t t =
            av_rescale_q(ts + std::max<int64_t>(0, packet->duration), in->stream->time_base, AV_TIME_BASE_Q) -
            src_.startTime;
        if (dataEnd_ == AV_NOPTS_VALUE || t > dataEnd_) dataEnd_ = t;
      }
      RepairTimestamps(*in, packet);
      // A chapter whose start the picture has reached takes the picture's shift there.
      while (in == ref && ts != AV_NOPTS_VALUE && nextChapter_ < chapters_.size() &&
             av_compare_ts(ts, in->stream->time_base, chapters_[nextChapter_]->start,
                           chapters_[nextChapter_]->time_base) >= 0)
        chapterShifts_[nextChapter_++] = repair_.CurrentShift(ref->repairId);
      if (in == ref && reached != AV_NOPTS_VALUE && !repair_.Holding(in->repairId))
        ok = subtitleTracks_.Reach(reached, repair_.CurrentShift(ref->repairId) - src_.startTime,
                                   toCueWriter_);
      if (repair_.Holding(in->repairId)) {
        TPacketPtr copy(av_packet_alloc());
        if (!copy) ok = Fail(OutOfMemory());
        if (copy) av_packet_move_ref(copy.get(), packet);
        if (copy) in->waiting.push_back(std::move(copy));
      } else {
        ok = ReleaseWaiting(*in) && (in->decoder ? Decode(*in, packet) : PassOn(*in, packet));
      }
    }
    av_packet_unref(packet);
    UpdateWorkingLength(false);
  }
  if (!ok || scheduler_.Failed()) return false;
  if (!StopRequested()) {
    // The cues of files beside the source up to the end of its data (later ones show nowhere).
    if (dataEnd_ != AV_NOPTS_VALUE &&
        !subtitleTracks_.Reach(dataEnd_ + src_.startTime,
                               repair_.CurrentShift(ref->repairId) - src_.startTime, toCueWriter_))
      return false;
    std::vector<InputStream*> streams{&src_.video};
    for (InputStream& sound : src_.sounds) streams.push_back(&sound);
    for (InputStream* in : streams) {
      if (in->index < 0) continue;
      repair_.Finish(in->repairId);
      if (!ReleaseWaiting(*in)) return false;
    }
    // Frames the decoders still hold.
    for (InputStream* in : streams)
      if (in->decoder && !Decode(*in, nullptr)) return false;
    // All the content there is has been read.
    UpdateWorkingLength(true);
  }
  if (!CloseChains()) return false;
  subtitleTracks_.Finish();
  return scheduler_.SendEnd();
}

InputStream* Conversion::InputOf(int streamIndex) {
  if (streamIndex == src_.video.index) return &src_.video;
  for (InputStream& sound : src_.sounds)
    if (sound.index == streamIndex) return &sound;
  return nullptr;
}

// The packets the timestamp repair held back go on, with their times now settled.
bool Conversion::ReleaseWaiting(InputStream& in) {
  while (!in.waiting.empty()) {
    AVPacket* packet = in.waiting.front().get();
    repair_.Release(in.repairId, packet->pts, packet->dts, packet->duration);
    if (!(in.decoder ? Decode(in, packet) : PassOn(in, packet))) return false;
    in.waiting.pop_front();
  }
  return true;
}

// A packet of a copied stream goes to the writing thread as it is.
bool Conversion::PassOn(InputStream& in, const AVPacket* packet) {
  TPacketPtr clone(av_packet_clone(packet));
  if (!clone) return Fail(OutOfMemory());
  const bool video = &in == &src_.video;
  return scheduler_.Send({video ? Scheduler::Kind::Video : Scheduler::Kind::Audio, nullptr,
                          in.stream->time_base, std::move(clone), video ? 0 : int(TrackOf(in))});
}

void Conversion::RepairTimestamps(InputStream& in, AVPacket* packet) {
  const TimestampRepair::Jump jump = repair_.Repair(in.repairId, packet->pts, packet->dts, packet->duration);
  report_.Jump(jump, in.stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO,
               jump.at - src_.startTime / double(AV_TIME_BASE));
}

bool Conversion::Decode(InputStream& in, const AVPacket* packet) {
  int r = avcodec_send_packet(in.decoder.get(), packet);
  if (r < 0 && r != AVERROR_EOF) {
    // A damaged packet is skipped, as players do; the conversion goes on.
    ++badPackets_;
    return true;
  }
  AVFrame* frame = in.frame.get();
  bool ok = true;
  while (ok) {
    r = avcodec_receive_frame(in.decoder.get(), frame);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
    if (r < 0) {
      ++badPackets_;
      break;
    }
    ok = Filter(in, frame);
    av_frame_unref(frame);
  }
  return ok;
}

// Passes a decoded frame on to its chain, when its stream is converted.
bool Conversion::Filter(InputStream& in, AVFrame* frame) {
  const bool video = &in == &src_.video;
  const size_t k = video ? 0 : TrackOf(in);
  Chain& chain = video ? static_cast<Chain&>(pictures_) : sounds_[k];
  if (!(video ? vout_ : aouts_[k]).encoder) return true;
  const bool ok = video ? pictures_.Push(frame, toVideoEncoder_) : sounds_[k].Push(frame, toAudioEncoder_[k]);
  return ok || !chain.Error() ? ok : Fail(*chain.Error());
}

bool Conversion::CloseChains() {
  if (!pictures_.Close(toVideoEncoder_)) return pictures_.Error() ? Fail(*pictures_.Error()) : false;
  for (size_t k = 0; k < sounds_.size(); ++k)
    if (!sounds_[k].Close(toAudioEncoder_[k])) return sounds_[k].Error() ? Fail(*sounds_[k].Error()) : false;
  return true;
}

// ---- encoding thread -------------------------------------------------------------------

bool Conversion::Write(Scheduler::Item& item) {
  if (item.kind == Scheduler::Kind::End) {
    // A stop that came before the end was reached has cut the file short: what was
    // read or queued after it was left out. (A stop after this point cuts nothing.)
    cutShort_ = StopRequested();
    std::vector<OutputStream*> outs{&vout_};
    for (OutputStream& out : aouts_) outs.push_back(&out);
    for (OutputStream* out : outs) {
      if (out->encoder && !Encode(*out, nullptr, {0, 1})) return false;
      if (out->copy.IsOpen() && !Copy(*out, nullptr)) return false;
    }
    // After a stop whose flush was cut short, sound past the last picture is left out.
    if (!muxer_.WriteHeldSound(cutShort_ ? muxer_.VideoEnd() : HUGE_VAL)) return Fail(*muxer_.Error());
    return WriteCues(muxer_.OutputTime(), true);
  }
  if (StopRequested()) return true;  // frames still queued at a stop are not encoded
  if (item.kind == Scheduler::Kind::Subtitle) {
    subtitles_[size_t(item.track)].cues.push_back(std::move(item.packet));
    return true;
  }
  OutputStream& out = item.kind == Scheduler::Kind::Video ? vout_ : aouts_[size_t(item.track)];
  if (!(item.packet ? Copy(out, item.packet.get()) : Encode(out, item.frame.get(), item.timeBase)))
    return false;
  return WriteCues(muxer_.OutputTime(), false);
}

bool Conversion::Encode(OutputStream& out, AVFrame* frame, AVRational timeBase) {
  MaybeFailure error;
  // Sound waits until the pictures have reached its time.
  const PacketWriter write = [&](AVPacket* packet) {
    return &out == &vout_            ? muxer_.WritePicture(packet)
           : vout_.stream != nullptr ? muxer_.HoldSound(out, packet)
                                     : muxer_.Write(out, packet);
  };
  return encoder::Encode(out, frame, timeBase, write, error) || Fail(error ? *error : *muxer_.Error());
}

// packet: a packet of the source's copied stream, or nullptr at its end.
bool Conversion::Copy(OutputStream& out, AVPacket* packet) {
  const bool ok = out.copy.Push(packet, [&](AVPacket* ready) {
    ++out.frames;
    return &out == &vout_ ? muxer_.WritePicture(ready) : muxer_.Write(out, ready);
  });
  return ok || Fail(out.copy.Error() ? *out.copy.Error() : *muxer_.Error());
}

// Writes the cues that the picture and sound written have passed (up to upTo seconds): a cue
// once its end is passed, or once the next cue of its track has begun (which ends it in
// MP4); the last time, those that start before the end, cut to it, and no others.
bool Conversion::WriteCues(double upTo, bool last) {
  for (SubtitleTrack& track : subtitles_) {
    const AVRational tb = track.out.stream->time_base;
    while (!track.cues.empty()) {
      AVPacket* cue = track.cues.front().get();
      const AVPacket* next = track.cues.size() > 1 ? track.cues[1].get() : nullptr;
      const bool passed =
          (cue->pts + cue->duration) * av_q2d(tb) <= upTo || (next && next->pts * av_q2d(tb) <= upTo);
      if (!last && !passed) break;
      if (last && cue->pts * av_q2d(tb) >= upTo) {
        track.cues.clear();
        break;
      }
      if (next && next->pts > cue->pts) cue->duration = std::min(cue->duration, next->pts - cue->pts);
      if (last)
        cue->duration = std::min(cue->duration, std::max<int64_t>(1, int64_t(upTo / av_q2d(tb)) - cue->pts));
      if (!muxer_.Write(track.out, cue)) return Fail(*muxer_.Error());
      track.cues.pop_front();
    }
  }
  return true;
}

void Conversion::UpdateWorkingLength(bool ended) {
  LengthClues clues;
  const int64_t stated = src_.announcedEnd != AV_NOPTS_VALUE ? src_.announcedEnd : src_.context->duration;
  clues.stated = stated != AV_NOPTS_VALUE && stated > 0 ? stated / double(AV_TIME_BASE) : -1;
  const InputStream* ref = src_.ClockStream();
  clues.jumps = repair_.Jumps();
  clues.shift = ref ? repair_.CurrentShift(ref->repairId) / double(AV_TIME_BASE) : 0;
  const int64_t content = repair_.ContentEnd();
  clues.content =
      content == AV_NOPTS_VALUE ? 0 : std::max(0.0, (content - src_.startTime) / double(AV_TIME_BASE));
  if (sourceSize_ == 0)
    sourceSize_ = src_.context->pb ? std::max<int64_t>(-1, avio_size(src_.context->pb)) : -1;
  if (sourceSize_ > 0 && src_.context->pb)
    clues.readShare = avio_tell(src_.context->pb) / double(sourceSize_);
  clues.ended = ended;
  working_ = WorkingLength(clues);
}

int Conversion::Run() {
  if (MaybeFailure refusal = CheckPaths(opt_.input, opt_.output, opt_.overwrite)) return Abandon(refusal);
  src_.threads = opt_.threads;
  if (MaybeFailure refusal = src_.Open(opt_.input, opt_.videoCodec == "copy", opt_.audioCodec == "copy"))
    return Abandon(refusal);
  if (src_.video.index >= 0) src_.video.repairId = repair_.AddStream(src_.video.stream->time_base);
  for (InputStream& sound : src_.sounds) sound.repairId = repair_.AddStream(sound.stream->time_base);
  if (!OpenOutput()) return Abandon();
  Describe();

  scheduler_.Run([this] { DemuxAndDecode(); }, [this](Scheduler::Item& item) { return Write(item); },
                 [this] { Progress(); });
  return scheduler_.Failed() ? Abandon() : Complete();
}

// Measures the output against the content read, completes the file and puts it in place.
int Conversion::Complete() {
  // A file without a single picture or sound frame is no conversion: a stop that came
  // before the first frame reached the encoders ends as a stop during the opening does,
  // and leaves any earlier file at the output path alone.
  int64_t soundFrames = 0, soundBytes = 0;
  for (const OutputStream& out : aouts_) {
    soundFrames += out.frames;
    soundBytes += out.bytes;
  }
  if (vout_.frames + soundFrames == 0) {
    if (StopRequested()) return Abandon(Failure{ErrorCode::Stopped, "stopped before the conversion began"});
    return Abandon(Failure{
        ErrorCode::SourceDamaged,
        "the source " + DisplayName(opt_.input) + " holds no video or audio that can be decoded" +
            (badPackets_ ? Format(" (%lld damaged packets)", (long long)badPackets_) : std::string())});
  }
  // The output holds what the source's data holds (its segments, with the gaps between
  // them closed), whatever its header says: what was written is measured against that.
  const int64_t content = repair_.ContentEnd();
  const double contentSeconds =
      content == AV_NOPTS_VALUE ? 0.0 : (content - src_.startTime) / double(AV_TIME_BASE);
  if (!cutShort_ && LostContent(muxer_.OutputTime(), contentSeconds))
    return Abandon(Failure{ErrorCode::SourceIncomplete,
                           Format("the source %s is damaged: only %.2f s of its %.2f s could be converted",
                                  DisplayName(opt_.input).c_str(), muxer_.OutputTime(), contentSeconds)});
  const double dataEnd = dataEnd_ == AV_NOPTS_VALUE ? 0.0 : dataEnd_ / double(AV_TIME_BASE);
  const double stated = src_.announcedEnd == AV_NOPTS_VALUE ? -1.0 : src_.announcedEnd / double(AV_TIME_BASE);

  // A sound track that held nothing after all has no place in the file: said, and the tracks
  // said again as the file keeps them.
  int keptSounds = 0;
  for (size_t k = 0; k < aouts_.size(); ++k) {
    if (aouts_[k].bytes > 0) {
      ++keptSounds;
      continue;
    }
    ProgressReport::EmptySound(src_.PlaceOfKind(src_.sounds[k].index),
                               avcodec_get_name(src_.sounds[k].stream->codecpar->codec_id));
  }
  if (keptSounds < int(aouts_.size())) ProgressReport::Tracks(keptSounds, int(subtitles_.size()));
  if (!AddChapters()) return Abandon();
  if (!muxer_.Finish()) return Abandon(muxer_.Error());
  Progress(true);
  if (!muxer_.Close()) return Abandon(muxer_.Error());
  if (!muxer_.UserDataError().empty())
    ConsoleLine("The make, model and place of the recording could not be added: " + muxer_.UserDataError());

  struct stat st;
  const int64_t fileSize = fstat(temp_.Descriptor(), &st) == 0 ? int64_t(st.st_size) : 0;
  // A file cut short by a stop plays, but it never takes the output's name, whatever
  // stood there, and no summary says it is complete.
  MaybeFailure commitFailure = cutShort_ ? temp_.CommitUnfinished() : temp_.Commit();
  SetAbandonPath({});
  if (commitFailure) return Abandon(commitFailure);
  if (cutShort_) return 0;

  int64_t headers = 0;
  if (vout_.stream) headers += vout_.stream->codecpar->extradata_size;
  for (const OutputStream& out : aouts_) headers += out.stream->codecpar->extradata_size;
  // Said once the file is in place, before the summary that ends the conversion.
  if (EndsEarly(dataEnd, stated)) ConsoleLine(ShortSourceLine(dataEnd, stated));
  ConsoleLine(SummaryLine(vout_.bytes, soundBytes, headers, fileSize));
  return 0;
}

}  // namespace

int Convert(const Options& options) {
  Conversion conversion(options);
  return conversion.Run();
}

}  // namespace vidmora::encoder
