#include "Options.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numeric>

namespace vidmora::encoder {

namespace {

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (unsigned char c : s)
    if (!std::isdigit(c)) return false;
  return true;
}

// Parses "123", "123.45" into num/den (den a power of ten). No sign, no exponent.
bool ParseDecimal(const std::string& s, int64_t& num, int64_t& den) {
  const auto dot = s.find('.');
  const std::string whole = s.substr(0, dot);
  const std::string frac = dot == std::string::npos ? std::string() : s.substr(dot + 1);
  if (whole.empty() && frac.empty()) return false;
  if ((!whole.empty() && !AllDigits(whole)) || (dot != std::string::npos && !AllDigits(frac))) return false;
  // At most 9 + 6 digits, so the value always fits in 64 bits.
  if (whole.size() > 9 || frac.size() > 6) return false;
  num = 0;
  den = 1;
  for (char c : whole) num = num * 10 + (c - '0');
  for (char c : frac) {
    num = num * 10 + (c - '0');
    den *= 10;
  }
  return true;
}

// num/den in lowest terms; nothing when a part does not fit in an int (such a value is
// far outside every range an option accepts, and must not wrap round into one).
std::optional<Rational> Reduced(int64_t num, int64_t den) {
  const int64_t g = std::gcd(num, den);
  if (num / g > INT32_MAX || den / g > INT32_MAX) return std::nullopt;
  return Rational{int(num / g), int(den / g)};
}

std::string Lower(std::string s) {
  for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A copied stream keeps the source's picture or sound as it is: the options that would
// need re-encoding it are put back to their defaults and listed, once each.
void DropOptionsOfCopies(Options& o, const std::vector<std::string>& given) {
  const Options defaults;
  for (const std::string& opt : given) {
    const bool video = opt == "-b:v" || opt == "-s" || opt == "-r" || opt == "-aspect";
    const bool audio = opt == "-b:a" || opt == "-ac" || opt == "-ar";
    if (!((video && o.videoCodec == "copy") || (audio && o.audioCodec == "copy"))) continue;
    if (std::find(o.ignored.begin(), o.ignored.end(), opt) == o.ignored.end()) o.ignored.push_back(opt);
  }
  if (o.videoCodec == "copy") {
    o.videoBitRate = defaults.videoBitRate;
    o.width = defaults.width;
    o.height = defaults.height;
    o.frameRate = defaults.frameRate;
    o.aspect = defaults.aspect;
  }
  if (o.audioCodec == "copy") {
    o.audioBitRate = defaults.audioBitRate;
    o.channels = defaults.channels;
    o.sampleRate = defaults.sampleRate;
  }
}

}  // namespace

std::optional<int> ParseInteger(const std::string& text, int min, int max) {
  if (!AllDigits(text) || text.size() > 9) return std::nullopt;
  const long long v = std::stoll(text);
  if (v < min || v > max) return std::nullopt;
  return int(v);
}

std::optional<int64_t> ParseBitRate(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::string digits = text;
  int64_t scale = 1;
  const char last = text.back();
  if (last == 'k' || last == 'K') {
    scale = 1000;
    digits.pop_back();
  } else if (last == 'M' || last == 'm') {
    scale = 1000000;
    digits.pop_back();
  }
  int64_t num = 0, den = 1;
  if (!ParseDecimal(digits, num, den)) return std::nullopt;
  const double bits = double(num) * double(scale) / double(den);
  if (bits < 1000 || bits > 1e9) return std::nullopt;
  return int64_t(bits + 0.5);
}

// "N<sep>D" with whole numbers up to maxPart, or a positive decimal number
// (decimal tells which of the two it was).
static std::optional<Rational> ParseRatio(const std::string& text, const char* separators, int64_t maxPart,
                                          bool& decimal) {
  const auto sep = text.find_first_of(separators);
  decimal = sep == std::string::npos;
  if (!decimal) {
    const auto n = ParseInteger(text.substr(0, sep), 1, maxPart);
    const auto d = ParseInteger(text.substr(sep + 1), 1, maxPart);
    if (!n || !d) return std::nullopt;
    return Reduced(*n, *d);
  }
  int64_t num = 0, den = 1;
  if (!ParseDecimal(text, num, den) || num == 0) return std::nullopt;
  return Reduced(num, den);
}

std::optional<Rational> ParseFrameRate(const std::string& text) {
  bool decimal = false;
  const auto parsed = ParseRatio(text, "/", 10000000, decimal);
  if (!parsed) return std::nullopt;
  Rational r = *parsed;
  // 23.976, 29.97, 59.94 ... stand for the NTSC rates n*1000/1001.
  if (decimal && r.den != 1) {
    const double n = double(r.num) / double(r.den) * 1.001;
    const double rounded = double(int64_t(n + 0.5));
    if (rounded >= 1 && std::abs(n - rounded) < 0.0015)
      r = Reduced(int64_t(rounded) * 1000, 1001).value_or(r);
  }
  const double v = double(r.num) / r.den;
  if (v < 0.1 || v > 1000) return std::nullopt;
  return r;
}

std::optional<Rational> ParseAspect(const std::string& text) {
  bool decimal = false;
  const auto parsed = ParseRatio(text, ":/", 100000, decimal);
  if (!parsed) return std::nullopt;
  const Rational r = *parsed;
  const double v = double(r.num) / r.den;
  if (v < 0.1 || v > 10) return std::nullopt;
  return r;
}

bool ParseSize(const std::string& text, int& width, int& height) {
  const auto x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  const auto w = ParseInteger(text.substr(0, x), 2, 16384);
  const auto h = ParseInteger(text.substr(x + 1), 2, 16384);
  if (!w || !h) return false;
  width = *w;
  height = *h;
  return true;
}

namespace {

// What an option's value is, and how it is read.
enum class TValueKind { None, Path, Choice, BitRate, Size, FrameRate, Aspect, Integer };

// A value once read; the option's store function takes the part its kind fills.
struct TValue {
  std::string text;
  int64_t number = 0;
  Rational ratio;
  int width = 0, height = 0;
};

// One row per option: its spelling, its value kind, the range of an integer value (or the
// accepted words of a choice, separated by '|'), the help shown for a malformed value and
// where the value goes.
struct TOptionRow {
  const char* name;
  TValueKind kind;
  int64_t min, max;
  const char* choices;
  const char* help;
  void (*store)(Options&, const TValue&);
};

const TOptionRow kOptionTable[] = {
    {"-y", TValueKind::None, 0, 0, nullptr, nullptr, [](Options& o, const TValue&) { o.overwrite = true; }},
    {"-ipt", TValueKind::Path, 0, 0, nullptr, nullptr, [](Options& o, const TValue& v) { o.input = v.text; }},
    {"-vcodec", TValueKind::Choice, 0, 0, "libx264|libx265|mpeg4|copy", "libx264, libx265, mpeg4 or copy",
     [](Options& o, const TValue& v) { o.videoCodec = v.text; }},
    {"-b:v", TValueKind::BitRate, 0, 0, nullptr, "a bit rate such as 800k or 2M",
     [](Options& o, const TValue& v) { o.videoBitRate = v.number; }},
    {"-s", TValueKind::Size, 0, 0, nullptr, "WIDTHxHEIGHT, each 2 to 16384",
     [](Options& o, const TValue& v) {
       o.width = v.width;
       o.height = v.height;
     }},
    {"-r", TValueKind::FrameRate, 0, 0, nullptr, "a frame rate such as 25, 29.97 or 30000/1001",
     [](Options& o, const TValue& v) { o.frameRate = v.ratio; }},
    {"-aspect", TValueKind::Aspect, 0, 0, nullptr, "4:3, 16:9 or a decimal such as 1.85",
     [](Options& o, const TValue& v) { o.aspect = v.ratio; }},
    {"-acodec", TValueKind::Choice, 0, 0, "aac|libmp3lame|copy", "aac, libmp3lame or copy",
     [](Options& o, const TValue& v) { o.audioCodec = v.text; }},
    {"-b:a", TValueKind::BitRate, 0, 0, nullptr, "a bit rate such as 800k or 2M",
     [](Options& o, const TValue& v) { o.audioBitRate = v.number; }},
    {"-ac", TValueKind::Integer, 1, 8, nullptr, "a channel count from 1 to 8",
     [](Options& o, const TValue& v) { o.channels = int(v.number); }},
    {"-ar", TValueKind::Integer, 1000, 384000, nullptr, "a sampling rate in Hz such as 44100",
     [](Options& o, const TValue& v) { o.sampleRate = int(v.number); }},
    {"-threads", TValueKind::Integer, 0, 64, nullptr, "a thread count from 0 (automatic) to 64",
     [](Options& o, const TValue& v) { o.threads = int(v.number); }},
    {"-sub", TValueKind::Choice, 0, 0, "keep|burn|none", "keep, burn or none",
     [](Options& o, const TValue& v) {
       o.subtitles = v.text == "burn"   ? SubtitleMode::Burn
                     : v.text == "none" ? SubtitleMode::None
                                        : SubtitleMode::Keep;
     }},
};

const TOptionRow* FindOption(const std::string& token) {
  for (const TOptionRow& row : kOptionTable)
    if (token == row.name) return &row;
  return nullptr;
}

bool IsChoice(const char* choices, const std::string& word) {
  const std::string list = std::string("|") + choices + "|";
  return word.find('|') == std::string::npos && list.find("|" + word + "|") != std::string::npos;
}

// Reads text as the kind of value the option's row names; false when it is malformed or out of range.
bool ReadValue(const TOptionRow& row, const std::string& text, TValue& value) {
  switch (row.kind) {
    case TValueKind::None:
      return true;
    case TValueKind::Path:
      value.text = text;
      return true;
    case TValueKind::Choice:
      value.text = Lower(text);
      return IsChoice(row.choices, value.text);
    case TValueKind::BitRate: {
      const auto rate = ParseBitRate(text);
      value.number = rate.value_or(0);
      return bool(rate);
    }
    case TValueKind::Size:
      return ParseSize(text, value.width, value.height);
    case TValueKind::FrameRate:
    case TValueKind::Aspect: {
      const auto ratio = row.kind == TValueKind::FrameRate ? ParseFrameRate(text) : ParseAspect(text);
      value.ratio = ratio.value_or(Rational{});
      return bool(ratio);
    }
    case TValueKind::Integer: {
      const auto n = ParseInteger(text, int(row.min), int(row.max));
      value.number = n.value_or(0);
      return bool(n);
    }
  }
  return false;
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  std::vector<std::string> tokens;
  for (const auto& a : args)
    if (!a.empty()) tokens.push_back(a);

  auto fail = [&](std::string message) {
    result.ok = false;
    result.error = std::move(message);
    return result;
  };
  static const char* kUsage = "usage: make -y -ipt INPUT [OPTION VALUE]... OUTPUT";

  if (tokens.empty()) return fail(std::string("no arguments; ") + kUsage);
  Options& o = result.options;
  o.output = tokens.back();
  if (FindOption(o.output)) return fail(std::string("the output file is missing; ") + kUsage);

  const size_t end = tokens.size() - 1;
  bool haveInput = false;
  std::vector<std::string> given;
  for (size_t i = 0; i < end; ++i) {
    const std::string& opt = tokens[i];
    const TOptionRow* row = FindOption(opt);
    if (!row) {
      if (!opt.empty() && opt[0] == '-') return fail("unknown option '" + opt + "'");
      return fail("unexpected argument '" + opt + "' (a path that holds blanks must be quoted); " + kUsage);
    }
    TValue value;
    if (row->kind != TValueKind::None) {
      if (i + 1 >= end) return fail("option " + opt + " needs a value");
      const std::string& text = tokens[++i];
      if (!ReadValue(*row, text, value))
        return fail("invalid value '" + text + "' for " + opt + " (expected " + row->help + ")");
    }
    row->store(o, value);
    given.push_back(opt);
    haveInput = haveInput || row->kind == TValueKind::Path;
  }
  if (!haveInput) return fail(std::string("the source file is missing (-ipt INPUT); ") + kUsage);
  DropOptionsOfCopies(o, given);
  result.ok = true;
  return result;
}

}  // namespace vidmora::encoder
