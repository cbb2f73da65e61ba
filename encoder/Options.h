// Command line of the console encoder:
//   make -y -ipt INPUT [OPTION VALUE]... OUTPUT
// Parsing is kept apart from the conversion so it can be checked on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vidmora::encoder {

struct Rational {
  int num = 0;
  int den = 1;
  bool operator==(const Rational& o) const { return num == o.num && den == o.den; }
};

// What becomes of subtitles: kept as tracks the player offers, drawn into the picture, or
// left out.
enum class SubtitleMode { Keep, Burn, None };

struct Options {
  bool overwrite = false;              // -y
  std::string input;                   // -ipt
  std::string output;                  // last token
  std::string videoCodec = "libx264";  // or "copy": the source's stream as it is
  int64_t videoBitRate = 0;            // 0: the codec's own quality default
  int width = 0, height = 0;           // 0: the source's size
  std::optional<Rational> frameRate;
  std::optional<Rational> aspect;  // display aspect ratio
  std::string audioCodec = "aac";  // or "copy"
  int64_t audioBitRate = 128000;
  int channels = 0;                             // 0: the source's
  int sampleRate = 0;                           // 0: the source's
  SubtitleMode subtitles = SubtitleMode::Keep;  // -sub keep|burn|none
  // -threads: the threads the picture's decoder and encoder each use (x264's lookahead
  // too), so that several conversions at once share the cores; 0: the libraries choose
  // by the cores.
  int threads = 0;
  // Options given that a copied stream cannot follow, in the order given; their values
  // above are back at the defaults.
  std::vector<std::string> ignored;
};

struct ParseResult {
  bool ok = false;
  Options options;
  std::string error;  // one line, set when !ok
};

// args: the program's arguments without the program name. Empty tokens are ignored.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

// Value parsers, each returning nothing for a malformed value.
std::optional<int64_t> ParseBitRate(const std::string& text);      // "800000", "1500k", "2M"
std::optional<Rational> ParseFrameRate(const std::string& text);   // "25", "29.97", "30000/1001"
std::optional<Rational> ParseAspect(const std::string& text);      // "16:9", "4/3", "1.85"
bool ParseSize(const std::string& text, int& width, int& height);  // "320x240"
std::optional<int> ParseInteger(const std::string& text, int min, int max);

}  // namespace vidmora::encoder
