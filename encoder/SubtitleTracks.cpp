#include "SubtitleTracks.h"

#include "Console.h"
#include "Muxer.h"
#include "Protocol.h"
#include "Source.h"
#include "StopRequest.h"
#include "SubtitleBounds.h"
#include "SubtitleFiles.h"
#include "SubtitleLanguage.h"
#include "Trace.h"

#include <algorithm>
#include <cctype>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vidmora::encoder {

namespace {

// The cues a track lost, in one warning line; nothing when it lost none.
void WarnCues(const std::string& name, const CueCounts& counts, int64_t slow = 0, bool gaveUp = false) {
  std::string what = DescribeDropped(counts);
  const auto add = [&](const std::string& s) { what += (what.empty() ? "" : "; ") + s; };
  if (!what.empty()) what = "left out " + what;
  if (counts.bounded > 0)
    add(Format("%lld cue%s cut down to the limits of size and work", (long long)counts.bounded,
               counts.bounded == 1 ? "" : "s"));
  if (slow > 0)
    add(Format("%lld cue%s took too long to draw and left out", (long long)slow, slow == 1 ? "" : "s"));
  if (gaveUp) add("drawing took too long, the rest is not drawn");
  if (!what.empty()) ConsoleWarning(WarningCode::SubtitleCues, name + ": " + what);
}

// The language of a track of the source, from its tags.
Language LanguageOfStream(const AVStream* st) {
  const AVDictionaryEntry* tag = av_dict_get(st->metadata, "language", nullptr, 0);
  Language language = LanguageOfName(tag ? tag->value : "");
  // A title such as "繁體中文" or "简体" tells the script.
  if (const AVDictionaryEntry* title = av_dict_get(st->metadata, "title", nullptr, 0)) {
    const Language named = LanguageOfName(title->value);
    if (named.IsChinese() && (language.code.empty() || language.IsChinese())) language = named;
  }
  return language;
}

bool IsAssCodec(int id) { return id == AV_CODEC_ID_ASS || id == AV_CODEC_ID_SSA; }

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

SubtitleTracks::~SubtitleTracks() = default;

std::vector<SubtitleTracks::File> SubtitleTracks::ReadFiles(const std::string& input, bool keepDrawings) {
  std::vector<File> files;
  for (const SubtitleFile& found : FindSubtitleFiles(input)) {
    if (StopRequested()) break;
    const std::string name = "the subtitle file " + DisplayName(found.path);
    const auto leaveOut = [&](const std::string& why) {
      ConsoleWarning(WarningCode::SubtitleLeftOut, name + " " + why + "; it is left out");
      Trace("subtitles: " + name + " " + why + ": left out");
    };
    std::string bytes;
    std::string error = ReadSubtitleFile(found.path, bytes);
    if (!error.empty()) {
      leaveOut(error);
      continue;
    }
    DecodedText text;
    error = DecodeText(bytes, CharsetOfName(found.part), text);
    std::string().swap(bytes);
    if (!error.empty()) {
      leaveOut("cannot be read as text: " + error);
      continue;
    }
    File file;
    file.path = found.path;
    file.part = found.part;
    const std::string ext = Lower(found.path.substr(found.path.rfind('.') + 1));
    file.ownStyles = ext == "ass" || ext == "ssa";
    CueCounts counts;
    error = ReadTextCues(std::move(text.utf8), found.path, keepDrawings, file.cues, file.header, counts);
    if (!error.empty()) {
      leaveOut(error);
      continue;
    }
    WarnCues(name, counts);
    // The name's language part, else what the text is written in.
    Language language = LanguageOfName(found.part);
    if (language.code.empty()) {
      std::string shown;
      for (size_t k = 0; k < file.cues.size() && shown.size() < 65536; ++k)
        shown += PlainText(file.cues[k].event) + "\n";
      language = LanguageOfText(shown);
    }
    if (language.IsChinese() && language.script == ChineseScript::Unknown)
      language.script = text.charset == "BIG5" || text.charset == "Big5" ? ChineseScript::Traditional
                        : text.charset == "GB18030"                      ? ChineseScript::Simplified
                                                                         : ChineseScript::Unknown;
    file.language = language.code;
    file.rank = language.Rank();
    Trace("subtitles: " + name + " is taken, read as " + text.charset + ", language " +
          (language.code.empty() ? std::string("unknown") : language.code) +
          (LanguageOfName(found.part).code.empty() ? " (from its text)" : " (from its name)"));
    files.push_back(std::move(file));
  }
  std::stable_sort(files.begin(), files.end(), [](const File& a, const File& b) { return a.rank < b.rank; });
  return files;
}

std::vector<SubtitleTracks::Origin> SubtitleTracks::Order(const Source& src, bool withPictures) {
  std::vector<const AVStream*> streams(src.textSubtitles.begin(), src.textSubtitles.end());
  if (withPictures) streams.insert(streams.end(), src.pictureSubtitles.begin(), src.pictureSubtitles.end());
  std::sort(streams.begin(), streams.end(),
            [](const AVStream* a, const AVStream* b) { return a->index < b->index; });
  std::vector<Origin> tracks;
  for (const AVStream* st : streams)
    tracks.push_back({st, nullptr, Format("the source's subtitle track %d", src.PlaceOfKind(st->index))});
  for (File& file : files_) tracks.push_back({nullptr, &file, "the subtitle file " + DisplayName(file.path)});
  return tracks;
}

int SubtitleTracks::DefaultOf(const std::vector<Origin>& tracks) {
  for (size_t k = 0; k < tracks.size(); ++k) {
    const Origin& o = tracks[k];
    if (o.stream ? LanguageOfStream(o.stream).IsChinese() : o.file->language == "chi") return int(k);
  }
  for (size_t k = 0; k < tracks.size(); ++k)
    if (tracks[k].stream && (tracks[k].stream->disposition & AV_DISPOSITION_DEFAULT)) return int(k);
  return tracks.empty() ? -1 : 0;
}

void SubtitleTracks::Keep(AVFormatContext* out, const Source& src, const std::string& input) {
  startTime_ = src.startTime;
  files_ = ReadFiles(input, false);
  std::vector<Origin> origins;
  for (const Origin& origin : Order(src, false)) {
    auto kept = std::make_unique<Kept>();
    kept->origin = origin;
    std::string header = origin.file ? origin.file->header : std::string();
    std::string error;
    if (origin.stream) {
      error = kept->reader.Open(origin.stream->codecpar, origin.stream->time_base, 0, false);
      header = kept->reader.Header();
    }
    if (error.empty()) error = kept->track.Open(out, header);
    if (!error.empty()) {
      ConsoleWarning(WarningCode::SubtitleLeftOut, origin.name + ": " + error + "; it is left out");
      continue;
    }
    AVStream* to = kept->track.Stream();
    if (origin.stream) {
      KeepTrackNames(to, origin.stream->metadata);
    } else if (!origin.file->language.empty()) {
      av_dict_set(&to->metadata, "language", origin.file->language.c_str(), 0);
    }
    origins.push_back(origin);
    kept_.push_back(std::move(kept));
  }
  const int def = DefaultOf(origins);
  if (def >= 0)
    Trace("subtitles: " + origins[size_t(def)].name +
          " is the default track: the first Chinese track, else the source's default, else the first");
  for (size_t k = 0; k < kept_.size(); ++k)
    kept_[k]->track.Stream()->disposition = int(k) == def ? AV_DISPOSITION_DEFAULT : 0;
}

void SubtitleTracks::Draw(const Source& src, const std::string& input, const DrawingTarget& target) {
  startTime_ = src.startTime;
  files_ = ReadFiles(input, true);
  std::vector<Origin> origins = Order(src, true);
  while (!origins.empty() && !StopRequested()) {
    const size_t k = size_t(DefaultOf(origins));
    const Origin o = origins[k];
    origins.erase(origins.begin() + std::ptrdiff_t(k));
    const bool pictures = o.stream && std::find(src.pictureSubtitles.begin(), src.pictureSubtitles.end(),
                                                o.stream) != src.pictureSubtitles.end();
    std::string error;
    if (pictures) {
      drawnPictures_ = std::make_unique<PictureSubtitles>();
      error = drawnPictures_->Open(o.stream->codecpar, o.stream->time_base, target.sourceWidth,
                                   target.sourceHeight);
    } else {
      std::string header = o.file ? o.file->header : std::string();
      if (o.stream) {
        drawnReader_ = std::make_unique<TextCueReader>();
        error = drawnReader_->Open(o.stream->codecpar, o.stream->time_base, 0, true);
        header = drawnReader_->Header();
      }
      if (error.empty()) {
        drawnText_ = std::make_unique<TextDrawing>();
        const bool ownStyles = o.stream ? IsAssCodec(o.stream->codecpar->codec_id) : o.file->ownStyles;
        error = drawnText_->Open(header, ownStyles, target.width, target.height, target.pixelAspect);
      }
    }
    if (!error.empty()) {
      ConsoleWarning(WarningCode::SubtitleLeftOut,
                     o.name + " cannot be drawn: " + error + "; it is left out");
      drawnPictures_.reset();
      drawnReader_.reset();
      drawnText_.reset();
      Trace("subtitles: " + o.name + " cannot be drawn (" + error +
            "): the next one by the same rule is tried");
      continue;
    }
    Trace("subtitles: " + o.name +
          " is drawn into the picture: the first Chinese track, else the source's default, " +
          "else the first");
    drawnStream_ = o.stream ? o.stream->index : -1;
    drawnFile_ = o.file;
    drawnName_ = o.name;
    note_ =
        "  subtitles drawn into the picture: " +
        (pictures ? Format("the source's %s track", avcodec_get_name(o.stream->codecpar->codec_id)) : o.name);
    return;
  }
}

bool SubtitleTracks::Pass(size_t k, TextCue cue, int64_t shift, const CueSink& sink) {
  cue.start += shift;
  cue.end += shift;
  TPacketPtr packet = kept_[k]->track.Encode(cue);
  return !packet || sink(k, std::move(packet));
}

bool SubtitleTracks::OnSourcePacket(const AVPacket* packet, int64_t shift, const CueSink& sink) {
  for (size_t k = 0; k < kept_.size(); ++k) {
    Kept& kept = *kept_[k];
    if (!kept.origin.stream || kept.origin.stream->index != packet->stream_index) continue;
    decoded_.clear();
    kept.reader.Read(packet, decoded_);
    for (const TextCue& cue : decoded_)
      if (!Pass(k, cue, shift, sink)) return false;
  }
  if (packet->stream_index != drawnStream_ || drawnStream_ < 0) return true;
  if (drawnPictures_) drawnPictures_->Add(packet, shift);
  if (drawnReader_ && drawnText_) {
    decoded_.clear();
    drawnReader_->Read(packet, decoded_);
    for (TextCue& cue : decoded_) {
      cue.start += shift;
      cue.end += shift;
      drawnText_->Add(cue);
    }
  }
  return true;
}

bool SubtitleTracks::Reach(int64_t sourceTime, int64_t shift, const CueSink& sink) {
  // A file's time zero is the source's start.
  // After a stop no more cues are written.
  const auto reached = [&](const TextCue& cue) {
    return cue.start + startTime_ <= sourceTime && !StopRequested();
  };
  for (size_t k = 0; k < kept_.size(); ++k) {
    Kept& kept = *kept_[k];
    if (!kept.origin.file) continue;
    const std::vector<TextCue>& cues = kept.origin.file->cues;
    for (; kept.next < cues.size() && reached(cues[kept.next]); ++kept.next)
      if (!Pass(k, cues[kept.next], startTime_ + shift, sink)) return false;
  }
  if (drawnFile_ && drawnText_) {
    for (; drawnNext_ < drawnFile_->cues.size() && reached(drawnFile_->cues[drawnNext_]); ++drawnNext_) {
      TextCue cue = drawnFile_->cues[drawnNext_];
      cue.start += startTime_ + shift;
      cue.end += startTime_ + shift;
      drawnText_->Add(cue);
    }
  }
  return true;
}

bool SubtitleTracks::DrawOn(AVFrame* frame, double seconds) {
  if (drawnPictures_) return drawnPictures_->Draw(frame, seconds);
  if (drawnText_) return drawnText_->Draw(frame, seconds);
  return true;
}

void SubtitleTracks::Finish() {
  for (const auto& kept : kept_)
    if (kept->origin.stream) WarnCues(kept->origin.name, kept->reader.Counts());
  if (drawnText_)
    WarnCues(drawnName_, drawnReader_ ? drawnReader_->Counts() : CueCounts{}, drawnText_->SlowCues(),
             drawnText_->GaveUp());
}

}  // namespace vidmora::encoder
