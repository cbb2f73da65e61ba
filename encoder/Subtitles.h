// Subtitles: the source's text subtitle tracks and the subtitle files beside it, turned into
// the MP4 form of timed text; the files beside a source found by their names; and the
// filter that draws one track into the picture.
#pragma once

#include "LibraryObjects.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
struct AVCodecContext;
struct AVCodecParameters;
struct AVFormatContext;
struct AVPacket;
struct AVStream;
}

namespace vidmora::encoder {

// A subtitle file beside the source.
struct SubtitleFile {
  std::string path;
  std::string language;  // a three-letter code ("chi", "eng") or "" when the name gives none
  std::string charset;   // the text's character set where it is not UTF-8 ("GB18030"), else ""
};

// The files beside source that share its base name and end in ".srt", ".ass", ".ssa" or
// ".vtt", with at most one part between ("film.srt", "film.chs.ass", "film.en.vtt"), by name.
std::vector<SubtitleFile> FindSubtitleFiles(const std::string& source);

// The language a file name's part names: "chi" for "chs", "zh", "sc"; "eng" for "en"; ""
// for a part that names none.
std::string LanguageOfPart(const std::string& part);

// "" for UTF-8 text (or text marked as UTF-16), "GB18030" for anything else: Chinese subtitle
// files are often in the older code page.
std::string GuessCharset(const std::string& path);

// One text subtitle track written into the MP4 file: its cues decoded and encoded again.
class TextSubtitles {
 public:
  TextSubtitles() = default;
  ~TextSubtitles();
  TextSubtitles(const TextSubtitles&) = delete;
  TextSubtitles& operator=(const TextSubtitles&) = delete;

  // Opens a decoder for par (packets timed in timeBase, text in charset, "" for UTF-8) and
  // the encoder, with a stream in file. "" or the line that refuses it.
  std::string Open(AVFormatContext* file, const AVCodecParameters* par, AVRational timeBase,
                   const std::string& charset);
  AVStream* Stream() const { return out_; }

  // One packet of the track: its cue moved by shift (AV_TIME_BASE units, added to the
  // source's time), as a packet timed in the output stream's time base, given to take.
  // Cues that end before the output's start give nothing. False on failure.
  bool Convert(const AVPacket* packet, int64_t shift, const std::function<bool(TPacketPtr)>& take);

 private:
  AVCodecContext* decoder_ = nullptr;
  AVCodecContext* encoder_ = nullptr;
  AVStream* out_ = nullptr;
  AVRational timeBase_{1, 1000};
  std::vector<uint8_t> buffer_;
};

// A subtitle track drawn as pictures (DVD, Blu-ray, DVB), drawn into the finished pictures.
class PictureSubtitles {
 public:
  PictureSubtitles() = default;
  ~PictureSubtitles();
  PictureSubtitles(const PictureSubtitles&) = delete;
  PictureSubtitles& operator=(const PictureSubtitles&) = delete;

  // Opens a decoder for par (packets timed in timeBase); the cues are placed on a canvas of
  // width x height (the source's picture). "" or why it cannot be decoded.
  std::string Open(const AVCodecParameters* par, AVRational timeBase, int width, int height);
  bool IsOpen() const { return decoder_ != nullptr; }
  // One packet of the track: its cue, moved by shift (AV_TIME_BASE units, added to the
  // source's time), joins those to draw. A damaged one is skipped.
  void Add(const AVPacket* packet, int64_t shift);
  // Draws the cue shown at seconds (on the output's clock) onto a YUV 4:2:0 picture, its
  // canvas scaled to the picture. False when the picture cannot be written.
  bool Draw(AVFrame* frame, double seconds);

 private:
  struct Area {
    int x = 0, y = 0, w = 0, h = 0;
    std::vector<uint8_t> index;    // one palette entry a pixel
    std::vector<uint32_t> colour;  // each entry as alpha << 24 | Y << 16 | U << 8 | V
  };
  struct Cue {
    double start = 0, end = 0;  // seconds; end infinite until the next cue ends it
    std::vector<Area> areas;
  };

  AVCodecContext* decoder_ = nullptr;
  int canvasWidth_ = 0, canvasHeight_ = 0;
  std::vector<Cue> cues_;  // in order of their start
};

// Reads every packet of the subtitle file's only stream, with the file open through the
// file protocol alone. "" or the line that says why it cannot be read.
std::string ReadSubtitleFile(const std::string& path, AVFormatContext** context);

// The filter that draws a text subtitle track (the nth subtitle stream of path, or the
// file's only track for n < 0) into the picture: text in charset ("" UTF-8), the pictures'
// timestamps moved by offset (in the chain's time base) to the source's own clock for it.
// Cues without styles of their own (ownStyles false: SRT, WebVTT) are drawn in a CJK font.
std::string BurnFilter(const std::string& path, int n, const std::string& charset, int64_t offset,
                       bool ownStyles);

}  // namespace vidmora::encoder
