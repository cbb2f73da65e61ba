#include "ProgressReport.h"

#include "Chains.h"
#include "Console.h"
#include "Progress.h"
#include "Protocol.h"
#include "Trace.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vidmora::encoder {

void ProgressReport::Describe(const ConversionSetup& setup, double length) {
  std::string line =
      "Input: " + DisplayName(setup.options.input) + " (" + setup.source.context->iformat->name + ")";
  if (setup.source.context->duration != AV_NOPTS_VALUE)
    line += Format(", duration %.2f s%s", setup.source.context->duration / double(AV_TIME_BASE),
                   setup.source.announcedEnd == AV_NOPTS_VALUE ? " (estimated from the bit rate)" : "");
  ConsoleLine(line);
  saidLength_ = length;
  if (saidLength_ > 0) ConsoleLine(LengthLine(saidLength_));
  if (setup.source.video.index >= 0) {
    const AVCodecParameters* d = setup.source.video.stream->codecpar;
    const AVRational fps = av_guess_frame_rate(setup.source.context, setup.source.video.stream, nullptr);
    AVRational sar = setup.source.video.stream->sample_aspect_ratio.num > 0
                         ? setup.source.video.stream->sample_aspect_ratio
                         : d->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0) sar = {1, 1};
    AVRational dar;
    av_reduce(&dar.num, &dar.den, int64_t(d->width) * sar.num, int64_t(d->height) * sar.den, 1000);
    ConsoleLine(Format("  video: %s %dx%d, %.4g fps, aspect %d:%d", avcodec_get_name(d->codec_id), d->width,
                       d->height, fps.den ? av_q2d(fps) : 0.0, dar.num, dar.den));
  }
  for (const InputStream& in : setup.source.sounds) {
    const AVCodecParameters* d = in.stream->codecpar;
    const AVDictionaryEntry* language = av_dict_get(in.stream->metadata, "language", nullptr, 0);
    ConsoleLine(Format("  audio: %s %d Hz, %s%s%s", avcodec_get_name(d->codec_id), d->sample_rate,
                       DescribeLayout(d->ch_layout).c_str(), language ? ", " : "",
                       language ? language->value : ""));
  }
  ConsoleLine("Output: " + DisplayName(setup.options.output) + " (MP4)");
  if (const AVCodecContext* e = setup.video.encoder.get()) {
    AVRational dar;
    av_reduce(&dar.num, &dar.den, int64_t(e->width) * setup.picture.sar.num,
              int64_t(e->height) * setup.picture.sar.den, 1000);
    const std::string rate = e->bit_rate > 0 && setup.options.videoBitRate > 0
                                 ? Format("%lld kbit/s", (long long)(e->bit_rate / 1000))
                                 : std::string("the encoder's default quality");
    ConsoleLine(Format("  video: %s %dx%d, %.4g fps, aspect %d:%d, %s", setup.options.videoCodec.c_str(),
                       e->width, e->height, av_q2d(setup.picture.fps), dar.num, dar.den, rate.c_str()));
    if (setup.picture.turnedToPortrait)
      ConsoleLine(
          Format("  the size and aspect chosen are taken standing up for the portrait picture (%dx%d)",
                 e->width, e->height));
    if (setup.picture.picture.orientation != Orientation::Upright)
      ConsoleLine(std::string("  the picture is turned upright (") +
                  DescribeOrientation(setup.picture.picture.orientation) + ")");
    if (IsHdr(setup.picture.picture.colours.transfer))
      ConsoleLine(Format("  the HDR picture (%s) is tone-mapped to standard range, BT.709",
                         setup.picture.picture.colours.transfer == AVCOL_TRC_ARIB_STD_B67 ? "HLG" : "PQ"));
  }
  if (!setup.burnNote.empty()) ConsoleLine(setup.burnNote);
  std::vector<const OutputStream*> outs{&setup.video};
  for (const OutputStream& out : setup.sounds) {
    outs.push_back(&out);
    if (const AVCodecContext* e = out.encoder.get())
      ConsoleLine(Format("  audio: %s %d Hz, %s, %lld kbit/s", setup.options.audioCodec.c_str(),
                         e->sample_rate, DescribeLayout(e->ch_layout).c_str(),
                         (long long)(e->bit_rate / 1000)));
  }
  for (const OutputStream* out : outs)
    if (out->copy.IsOpen())
      ConsoleLine(Format("  %s: %s copied as it is", out == &setup.video ? "video" : "audio",
                         avcodec_get_name(out->stream->codecpar->codec_id)));
  for (const AVStream* st : setup.subtitles) {
    const AVDictionaryEntry* language = av_dict_get(st->metadata, "language", nullptr, 0);
    ConsoleLine(Format("  subtitles: text%s%s%s", language ? ", " : "", language ? language->value : "",
                       st->disposition & AV_DISPOSITION_DEFAULT ? ", default" : ""));
  }
  if (setup.source.cover) {
    const AVCodecParameters* cover = setup.source.cover->codecpar;
    ConsoleLine(Format("  cover: %s %dx%d, kept as the MP4's cover", avcodec_get_name(cover->codec_id),
                       cover->width, cover->height));
  }
  if (setup.chapters > 0) ConsoleLine(Format("  chapters: %d, kept with their titles", int(setup.chapters)));
  for (const std::string& note : setup.source.notes) ConsoleLine("  " + note);
  for (const std::string& track : setup.source.leftOut) ConsoleWarning(WarningCode::SoundLeftOut, track);
  // Picture subtitles are named where subtitles are kept as tracks; drawn in, only the
  // track drawn counts.
  const bool keptAsTracks = setup.options.subtitles == SubtitleMode::Keep ||
                            (setup.options.subtitles == SubtitleMode::Burn && !setup.video.encoder);
  if (!setup.source.pictureSubtitles.empty() && keptAsTracks) {
    std::string codecs;
    for (const AVStream* st : setup.source.pictureSubtitles) {
      const std::string name = avcodec_get_name(st->codecpar->codec_id);
      if (codecs.find(name) == std::string::npos) codecs += (codecs.empty() ? "" : ", ") + name;
    }
    ConsoleWarning(WarningCode::PictureSubtitles,
                   Format("%d subtitle track%s drawn as pictures (%s) left out; MP4 keeps subtitles as text",
                          int(setup.source.pictureSubtitles.size()),
                          setup.source.pictureSubtitles.size() > 1 ? "s" : "", codecs.c_str()));
  }
  if (setup.options.subtitles == SubtitleMode::Burn && !setup.video.encoder && setup.source.video.index >= 0)
    ConsoleLine("Subtitles cannot be drawn into a picture copied as it is; they are kept as tracks");
  Tracks(int(setup.sounds.size()), int(setup.subtitles.size()));
  if (!setup.options.ignored.empty()) {
    std::string names;
    for (const std::string& name : setup.options.ignored) names += (names.empty() ? "" : ", ") + name;
    ConsoleLine("Ignored for a stream copied as it is: " + names + " (these need re-encoding)");
  }
  if (setup.source.video.index < 0 && setup.options.videoCodec == "copy")
    ConsoleWarning(WarningCode::NoPicture, "the source holds no picture; the output holds its sound only");
  ConsoleLine("Press q to stop early.");
}

void ProgressReport::Jump(const TimestampRepair::Jump& jump, bool video, double at) {
  if (jump.why.empty()) return;
  const char* kind = video ? "video" : "audio";
  if (jump.found)
    Trace(Format("clock: the %s timestamps jump by %.2f s at %.2f s: closed, ", kind, jump.step, at) +
          jump.why);
  else if (jump.held)
    Trace(Format("clock: the %s timestamps step by %.2f s at %.2f s: held, ", kind, jump.step, at) +
          jump.why);
  else
    Trace(Format("clock: the %s presentation times step by %.2f s at %.2f s: not closed, ", kind, jump.step,
                 at) +
          jump.why);
  if (jump.found && !jumpSaid_) {
    jumpSaid_ = true;
    ConsoleLine(
        Format("The source's %s timestamps jump by %.2f s at %.2f s; the output goes on without the gap",
               kind, jump.step, at));
  }
  // A still picture (a screen recording's still screen) is content: said once, as kept.
  if (jump.held && !heldSaid_) {
    heldSaid_ = true;
    ConsoleLine(
        video ? Format("The source's picture is held for %.2f s at %.2f s while the sound goes on; the "
                       "still picture is kept",
                       jump.step, at)
              : Format("The source's sound is held back for %.2f s at %.2f s while the picture goes on; "
                       "the pause is kept",
                       jump.step, at));
  }
}

void ProgressReport::Progress(double working, int64_t frames, int64_t bytes, double outputTime,
                              Clock::time_point started, bool final) {
  const double step = final ? 0.005 : std::max(0.5, 0.01 * saidLength_);
  if (working > 0 && (saidLength_ <= 0 || std::fabs(working - saidLength_) >= step)) {
    saidLength_ = working;
    ConsoleLine(LengthLine(working));
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
  ConsoleLine(ProgressLine(frames, elapsed, bytes, outputTime));
}

void ProgressReport::EmptySound(int place, const char* codec) {
  ConsoleWarning(WarningCode::SoundLeftOut,
                 Format("sound track %d (%s) holds no sound and is left out", place, codec));
}

void ProgressReport::Tracks(int sounds, int subtitles) {
  ConsoleLine(Format("%ssound=%d subtitles=%d", protocol::kTracksMark, sounds, subtitles));
}

}  // namespace vidmora::encoder
