#include "FileTags.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <strings.h>

namespace vidmora::encoder {

namespace {

// The writer's keys and the names sources use for them, the first present winning.
struct Mapping {
  const char* key;
  std::vector<const char*> names;
  const char* userData;  // also (or only, with no key) kept as this user-data string
};

const std::vector<Mapping>& Mappings() {
  static const std::vector<Mapping> list = {
      {"creation_time", {"creation_time", "com.apple.quicktime.creationdate"}, nullptr},
      {"title", {"title", "com.apple.quicktime.title"}, nullptr},
      {"artist", {"artist", "com.apple.quicktime.artist"}, nullptr},
      {"album_artist", {"album_artist"}, nullptr},
      {"composer", {"composer"}, nullptr},
      {"album", {"album", "com.apple.quicktime.album"}, nullptr},
      {"date", {"date", "com.apple.quicktime.year"}, nullptr},
      {"comment", {"comment", "com.apple.quicktime.comment"}, nullptr},
      {"description", {"description", "com.apple.quicktime.description"}, nullptr},
      {"genre", {"genre", "com.apple.quicktime.genre"}, nullptr},
      {"copyright", {"copyright", "com.apple.quicktime.copyright"}, nullptr},
      {"location", {"location", "com.apple.quicktime.location.ISO6709"}, "\xA9xyz"},
      {nullptr, {"make", "com.apple.quicktime.make"}, "\xA9mak"},
      {nullptr, {"model", "com.apple.quicktime.model"}, "\xA9mod"},
  };
  return list;
}

bool Blank(const std::string& s) {
  for (unsigned char c : s)
    if (!std::isspace(c)) return false;
  return true;
}

}  // namespace

std::string UtcTime(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
  char sep = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &y, &mo, &d, &sep, &h, &mi, &s, &used) != 7 ||
      (sep != 'T' && sep != ' ') || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 ||
      y < 1904)
    return {};
  size_t at = size_t(used);
  std::string fraction;
  if (at < text.size() && text[at] == '.') {
    for (++at; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at)
      if (fraction.size() < 6) fraction += text[at];
  }
  while (fraction.size() < 6) fraction += '0';
  // The zone: Z, +HHMM, +HH:MM, +HH; none is taken for UTC, as the writer takes it.
  long offset = 0;
  if (at < text.size() && (text[at] == 'Z' || text[at] == 'z')) {
    ++at;
  } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    const int sign = text[at] == '-' ? -1 : 1;
    int zh = 0, zm = 0, n = 0;
    const std::string zone = text.substr(at + 1);
    if (std::sscanf(zone.c_str(), "%2d:%2d%n", &zh, &zm, &n) == 2 && n == 5)
      at += 6;
    else if (zone.size() >= 4 && std::sscanf(zone.c_str(), "%2d%2d%n", &zh, &zm, &n) == 2 && n == 4)
      at += 5;
    else if (std::sscanf(zone.c_str(), "%2d%n", &zh, &n) == 1 && n == 2)
      at += 3;
    else
      return {};
    if (zh > 14 || zm > 59) return {};
    offset = sign * (zh * 3600L + zm * 60L);
  }
  if (at != text.size()) return {};
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  const time_t utc = timegm(&t) - offset;
  std::tm out{};
  if (!gmtime_r(&utc, &out)) return {};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%sZ", out.tm_year + 1900, out.tm_mon + 1,
                out.tm_mday, out.tm_hour, out.tm_min, out.tm_sec, fraction.c_str());
  return buf;
}

KeptFileTags FileTagsToKeep(const std::vector<Tag>& source) {
  KeptFileTags kept;
  for (const Mapping& m : Mappings()) {
    std::string value;
    for (const char* name : m.names) {
      for (const Tag& tag : source)
        if (strcasecmp(tag.key.c_str(), name) == 0 && !Blank(tag.value)) {
          value = tag.value;
          break;
        }
      if (!value.empty()) break;
    }
    if (value.empty()) continue;
    if (m.key && std::string(m.key) == "creation_time") {
      value = UtcTime(value);  // a date the movie header cannot hold is left out
      if (value.empty()) continue;
    }
    if (m.key) kept.writer.push_back({m.key, value});
    if (m.userData) kept.userData.push_back({m.userData, value});
  }
  return kept;
}

}  // namespace vidmora::encoder
