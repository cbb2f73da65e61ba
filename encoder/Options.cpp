#include "Options.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <numeric>

namespace vidmora::encoder {

namespace {

bool allDigits(const std::string& s) {
  if (s.empty()) return false;
  for (unsigned char c : s)
    if (!std::isdigit(c)) return false;
  return true;
}

// Parses "123", "123.45" into num/den (den a power of ten). No sign, no exponent.
bool parseDecimal(const std::string& s, int64_t& num, int64_t& den) {
  const auto dot = s.find('.');
  const std::string whole = s.substr(0, dot);
  const std::string frac = dot == std::string::npos ? std::string() : s.substr(dot + 1);
  if (whole.empty() && frac.empty()) return false;
  if ((!whole.empty() && !allDigits(whole)) || (dot != std::string::npos && !allDigits(frac))) return false;
  if (whole.size() > 9 || frac.size() > 6) return false;
  num = whole.empty() ? 0 : std::stoll(whole);
  den = 1;
  for (char c : frac) {
    num = num * 10 + (c - '0');
    den *= 10;
  }
  return true;
}

Rational reduced(int64_t num, int64_t den) {
  const int64_t g = std::gcd(num, den);
  return Rational{int(num / g), int(den / g)};
}

std::string lower(std::string s) {
  for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A copied stream keeps the source's picture or sound as it is: the options that would
// need re-encoding it are put back to their defaults and listed, once each.
void dropOptionsOfCopies(Options& o, const std::vector<std::string>& given) {
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

std::optional<int> parseInteger(const std::string& text, int min, int max) {
  if (!allDigits(text) || text.size() > 9) return std::nullopt;
  const long long v = std::stoll(text);
  if (v < min || v > max) return std::nullopt;
  return int(v);
}

std::optional<int64_t> parseBitRate(const std::string& text) {
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
  if (!parseDecimal(digits, num, den)) return std::nullopt;
  const double bits = double(num) * double(scale) / double(den);
  if (bits < 1000 || bits > 1e9) return std::nullopt;
  return int64_t(bits + 0.5);
}

// "N<sep>D" with whole numbers up to maxPart, or a positive decimal number
// (decimal tells which of the two it was).
static std::optional<Rational> parseRatio(const std::string& text, const char* separators, int64_t maxPart,
                                          bool& decimal) {
  const auto sep = text.find_first_of(separators);
  decimal = sep == std::string::npos;
  if (!decimal) {
    const auto n = parseInteger(text.substr(0, sep), 1, maxPart);
    const auto d = parseInteger(text.substr(sep + 1), 1, maxPart);
    if (!n || !d) return std::nullopt;
    return reduced(*n, *d);
  }
  int64_t num = 0, den = 1;
  if (!parseDecimal(text, num, den) || num == 0) return std::nullopt;
  return reduced(num, den);
}

std::optional<Rational> parseFrameRate(const std::string& text) {
  bool decimal = false;
  const auto parsed = parseRatio(text, "/", 10000000, decimal);
  if (!parsed) return std::nullopt;
  Rational r = *parsed;
  // 23.976, 29.97, 59.94 ... stand for the NTSC rates n*1000/1001.
  if (decimal && r.den != 1) {
    const double n = double(r.num) / double(r.den) * 1.001;
    const double rounded = double(int64_t(n + 0.5));
    if (rounded >= 1 && std::abs(n - rounded) < 0.0015) r = reduced(int64_t(rounded) * 1000, 1001);
  }
  const double v = double(r.num) / r.den;
  if (v < 0.1 || v > 1000) return std::nullopt;
  return r;
}

std::optional<Rational> parseAspect(const std::string& text) {
  bool decimal = false;
  const auto parsed = parseRatio(text, ":/", 100000, decimal);
  if (!parsed) return std::nullopt;
  const Rational r = *parsed;
  const double v = double(r.num) / r.den;
  if (v < 0.1 || v > 10) return std::nullopt;
  return r;
}

bool parseSize(const std::string& text, int& width, int& height) {
  const auto x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  const auto w = parseInteger(text.substr(0, x), 2, 16384);
  const auto h = parseInteger(text.substr(x + 1), 2, 16384);
  if (!w || !h) return false;
  width = *w;
  height = *h;
  return true;
}

ParseResult parseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  std::vector<std::string> tokens;
  for (const auto& a : args)
    if (!a.empty()) tokens.push_back(a);

  auto fail = [&](std::string message) {
    result.ok = false;
    result.error = std::move(message);
    return result;
  };
  static const char* usage = "usage: make -y -ipt INPUT [OPTION VALUE]... OUTPUT";
  static const char* const valued[] = {"-ipt",    "-vcodec", "-b:v", "-s",  "-r",
                                       "-aspect", "-acodec", "-b:a", "-ac", "-ar"};
  auto isOption = [](const std::string& t) {
    if (t == "-y") return true;
    for (const char* o : valued)
      if (t == o) return true;
    return false;
  };

  if (tokens.empty()) return fail(std::string("no arguments; ") + usage);
  Options& o = result.options;
  o.output = tokens.back();
  if (isOption(o.output)) return fail(std::string("the output file is missing; ") + usage);

  const size_t end = tokens.size() - 1;
  bool haveInput = false;
  std::vector<std::string> given;
  for (size_t i = 0; i < end; ++i) {
    const std::string& opt = tokens[i];
    if (opt == "-y") {
      o.overwrite = true;
      continue;
    }
    if (!isOption(opt)) {
      if (!opt.empty() && opt[0] == '-') return fail("unknown option '" + opt + "'");
      return fail("unexpected argument '" + opt + "' (a path that holds blanks must be quoted); " + usage);
    }
    if (i + 1 >= end) return fail("option " + opt + " needs a value");
    const std::string& value = tokens[++i];
    given.push_back(opt);
    auto bad = [&](const char* expected) {
      return fail("invalid value '" + value + "' for " + opt + " (expected " + expected + ")");
    };
    if (opt == "-ipt") {
      o.input = value;
      haveInput = true;
    } else if (opt == "-vcodec") {
      const std::string v = lower(value);
      if (v != "libx264" && v != "libx265" && v != "mpeg4" && v != "copy")
        return bad("libx264, libx265, mpeg4 or copy");
      o.videoCodec = v;
    } else if (opt == "-acodec") {
      const std::string v = lower(value);
      if (v != "aac" && v != "libmp3lame" && v != "copy") return bad("aac, libmp3lame or copy");
      o.audioCodec = v;
    } else if (opt == "-b:v" || opt == "-b:a") {
      const auto rate = parseBitRate(value);
      if (!rate) return bad("a bit rate such as 800k or 2M");
      (opt == "-b:v" ? o.videoBitRate : o.audioBitRate) = *rate;
    } else if (opt == "-s") {
      if (!parseSize(value, o.width, o.height)) return bad("WIDTHxHEIGHT, each 2 to 16384");
    } else if (opt == "-r") {
      o.frameRate = parseFrameRate(value);
      if (!o.frameRate) return bad("a frame rate such as 25, 29.97 or 30000/1001");
    } else if (opt == "-aspect") {
      o.aspect = parseAspect(value);
      if (!o.aspect) return bad("4:3, 16:9 or a decimal such as 1.85");
    } else if (opt == "-ac") {
      const auto n = parseInteger(value, 1, 8);
      if (!n) return bad("a channel count from 1 to 8");
      o.channels = *n;
    } else if (opt == "-ar") {
      const auto n = parseInteger(value, 1000, 384000);
      if (!n) return bad("a sampling rate in Hz such as 44100");
      o.sampleRate = *n;
    }
  }
  if (!haveInput) return fail(std::string("the source file is missing (-ipt INPUT); ") + usage);
  dropOptionsOfCopies(o, given);
  result.ok = true;
  return result;
}

}  // namespace vidmora::encoder
