// Text subtitles: the character set of a subtitle file told and its text brought to
// UTF-8; the cues of a text track or file decoded, timed and bounded (SubtitleBounds); and
// cues written as an MP4 text track.
#pragma once

#include "LibraryObjects.h"

#include <cstdint>
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

// ---- character sets ----------------------------------------------------------------------

struct DecodedText {
  std::string utf8;     // the text in UTF-8, without a byte-order mark
  std::string charset;  // what it was read as: "UTF-8", "UTF-16LE", "GB18030", "WINDOWS-1252", ...
};

// Reads bytes as text, told as careful tools do: a byte-order mark (UTF-8, UTF-16 LE/BE,
// UTF-32 LE/BE) first; then text that is valid UTF-8 (ASCII included), or nearly (four
// sequences of UTF-8 or more for each broken byte); then UTF-16 without a mark, told by its
// zero bytes; then hint (the character set a language part of the file's name suggests, ""
// for none) when the bytes read cleanly in it; then the character set libuchardet detects
// (GB18030/GBK, Big5, Shift-JIS, EUC-KR, Windows-1250 to 1258 and more); then GB18030.
// Bytes the chosen set cannot read become U+FFFD. "" or why the bytes are no text (none of
// these reads them).
std::string DecodeText(const std::string& bytes, const std::string& hint, DecodedText& out);

// ---- cues --------------------------------------------------------------------------------

// One text cue: the times on its track's own clock, counted from the source's start, in
// AV_TIME_BASE units (a file's cues: from its zero), and the event as FFmpeg's decoders
// give it ("ReadOrder,Layer,Style,Name,MarginL,MarginR,MarginV,Effect,Text"), bounded.
struct TextCue {
  int64_t start = 0, end = 0;
  std::string event;
};

// What reading a track's cues left out, for its warning.
struct CueCounts {
  int64_t reversed = 0;    // ending before they start
  int64_t negative = 0;    // starting before the track's zero
  int64_t bounded = 0;     // cut or clamped to the bounds
  int64_t overBudget = 0;  // left out: the track's text or time ran out
};

// The cues of one text subtitle track, decoded from its packets.
class TextCueReader {
 public:
  // A track's cues may take this much text (each cue counting 64 bytes more) and this many
  // seconds of work to decode and bound; the cues after are left out.
  static constexpr int64_t kMaxTrackText = 16 << 20;
  static constexpr double kMaxTrackSeconds = 3.0;
  // A file's cues read at most (a film has a few thousand): the library's reader holds them
  // all at once.
  static constexpr int64_t kMaxFileCues = 100000;
  // A cue without an end of its own lasts until the next one, at most this long.
  static constexpr int64_t kOpenCueLength = 5 * 1000000;

  TextCueReader() = default;
  TextCueReader(const TextCueReader&) = delete;
  TextCueReader& operator=(const TextCueReader&) = delete;

  // Opens the decoder for par (packets timed in timeBase); origin is the time (AV_TIME_BASE)
  // that counts as the track's zero. keepDrawings: drawings stay in the cues (they are
  // drawn). "" or why the track cannot be decoded.
  std::string Open(const AVCodecParameters* par, AVRational timeBase, int64_t origin, bool keepDrawings);
  // The decoder's ASS header (styles), bounded; "" for none.
  const std::string& Header() const { return header_; }
  // Decodes one packet into cues, appended to cues. A damaged packet, a reversed or
  // negative cue and a cue past the track's budget give none (and are counted).
  void Read(const AVPacket* packet, std::vector<TextCue>& cues);
  const CueCounts& Counts() const { return counts_; }

 private:
  TCodecPtr decoder_;
  AVRational timeBase_{1, 1000};
  int64_t origin_ = 0;
  bool keepDrawings_ = false;
  int playResY_ = 288;
  std::string header_;
  CueCounts counts_;
  int64_t text_ = 0;
  double seconds_ = 0;
};

// Reads a subtitle file's cues from its text (UTF-8), by the name's extension (".srt",
// ".ass", ".ssa", ".vtt"; another is probed among these three); the cues past the first
// TextCueReader::kMaxFileCues are left out. "" or why it holds none: a file that cannot be
// parsed, or whose cues show no text, is no subtitle track.
std::string ReadTextCues(std::string utf8, const std::string& name, bool keepDrawings,
                         std::vector<TextCue>& cues, std::string& header, CueCounts& counts);

// The ASS header of plain text cues (one style, "Default"), for a track that comes without.
std::string DefaultHeader();

// The words a warning uses for what was left out of a track: "2 cues that end before they
// start, 1 cue before the start" ("" for nothing).
std::string DescribeDropped(const CueCounts& counts);

// ---- MP4 text tracks ---------------------------------------------------------------------

// One MP4 text track: cues encoded as timed text.
class TextTrack {
 public:
  TextTrack() = default;
  TextTrack(const TextTrack&) = delete;
  TextTrack& operator=(const TextTrack&) = delete;

  // The encoder with the styles of header ("" for plain text), and its stream in file.
  // "" or the line that refuses it.
  std::string Open(AVFormatContext* file, const std::string& header);
  AVStream* Stream() const { return out_; }
  // One cue on the output's clock (AV_TIME_BASE): its packet, timed in the stream's time
  // base; nullptr for a cue that ends before the output's start or cannot be encoded.
  TPacketPtr Encode(const TextCue& cue);

 private:
  TCodecPtr encoder_;
  AVStream* out_ = nullptr;
  std::vector<uint8_t> buffer_;
};

}  // namespace vidmora::encoder
