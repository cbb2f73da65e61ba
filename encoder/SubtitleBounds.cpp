#include "SubtitleBounds.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vidmora::encoder {

namespace {

bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string Number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// The bound of a tag whose value is a number; 0 for a tag that is not bounded here.
double TagBound(const std::string& name, int playResY) {
  if (name == "fs" || name == "fsp") return playResY;
  if (name == "fscx" || name == "fscy") return kMaxScale;
  if (name == "bord" || name == "xbord" || name == "ybord" || name == "shad" || name == "xshad" ||
      name == "yshad")
    return std::max(1.0, playResY * kMaxEdgeShare);
  if (name == "blur" || name == "be") return kMaxBlur;
  return 0;
}

// Numbers in a drawing's text: two make a point.
long CountNumbers(const std::string& s, size_t from, size_t to) {
  long n = 0;
  for (size_t i = from; i < to; ++i)
    if (IsDigit(s[i]) && (i == from || !(IsDigit(s[i - 1]) || s[i - 1] == '.'))) ++n;
  return n;
}

int Nesting(const std::string& s, size_t from, size_t to) {
  int depth = 0, deepest = 0;
  for (size_t i = from; i < to; ++i) {
    if (s[i] == '(') deepest = std::max(deepest, ++depth);
    if (s[i] == ')' && depth > 0) --depth;
  }
  return deepest;
}

// The cut of a UTF-8 text at most max bytes long that splits no character.
size_t Utf8Cut(const std::string& s, size_t from, size_t max) {
  size_t end = from + max;
  if (end >= s.size()) return s.size();
  while (end > from && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return end;
}

// Where the Text field begins: after the eighth comma; 0 when the event has fewer fields.
size_t TextStart(const std::string& event) {
  size_t at = 0;
  for (int k = 0; k < 8; ++k) {
    at = event.find(',', at);
    if (at == std::string::npos) return 0;
    ++at;
  }
  return at;
}

class EventBounder {
 public:
  EventBounder(int playResY, bool keepDrawings, BoundReport& report)
      : playResY_(std::max(1, playResY)), keepDrawings_(keepDrawings), report_(report) {}

  std::string Run(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
      const size_t open = text.find('{', i);
      const size_t close = open == std::string::npos ? std::string::npos : text.find('}', open);
      // Text (or a drawing) up to the next whole block; a brace never closed is text.
      const size_t textEnd = close == std::string::npos ? text.size() : open;
      if (textEnd > i && !Text(text, i, textEnd)) break;
      if (close == std::string::npos) break;
      if (!Block(text, open + 1, close)) break;
      i = close + 1;
    }
    return out_;
  }

 private:
  // False once the event is full.
  bool Append(const std::string& s) {
    if (out_.size() + s.size() > kMaxEventBytes) {
      report_.textCut = true;
      return false;
    }
    out_ += s;
    return true;
  }

  bool Text(const std::string& s, size_t from, size_t to) {
    const size_t original = to;
    if (drawing_) {
      if (!keepDrawings_ || points_ >= kMaxDrawingPoints) {
        report_.drawingCut = true;
        return true;
      }
      // The drawing up to where its points or its share of the event run out.
      const size_t room = kMaxEventBytes / 2 > drawn_ ? kMaxEventBytes / 2 - drawn_ : 0;
      to = std::min(to, from + room);
      size_t end = from;
      long numbers = points_ * 2;
      for (; end < to; ++end)
        if (IsDigit(s[end]) && (end == from || !(IsDigit(s[end - 1]) || s[end - 1] == '.')) &&
            ++numbers > kMaxDrawingPoints * 2)
          break;
      points_ = numbers / 2;
      if (end < to || to < original) {
        report_.drawingCut = true;
        // Back to the last command letter, so the drawing ends on a whole point.
        while (end > from && !IsLetter(s[end - 1])) --end;
        if (end > from) --end;
      }
      drawn_ += end - from;
      return Append(s.substr(from, end - from));
    }
    if (shown_ >= kMaxCueText) {
      report_.textCut = true;
      return true;
    }
    size_t end = Utf8Cut(s, from, std::min(to - from, kMaxCueText - shown_));
    if (end < to) {
      report_.textCut = true;
      // An escape ("\N") is not cut in two.
      if (end > from && s[end - 1] == '\\') --end;
    }
    shown_ += end - from;
    return Append(s.substr(from, end - from));
  }

  bool Block(const std::string& s, size_t from, size_t to) {
    if (++blocks_ > kMaxBlocks || Nesting(s, from, to) > kMaxNesting) {
      report_.blocksCut = true;
      return true;
    }
    std::string block = "{";
    bool drawing = drawing_;
    long points = points_;
    for (size_t i = from; i < to;) {
      if (s[i] != '\\') {
        block += s[i++];
        continue;
      }
      size_t n = i + 1;
      while (n < to && IsLetter(s[n])) ++n;
      std::string name = s.substr(i + 1, n - i - 1);
      for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
      block += s.substr(i, n - i);
      i = n;
      if (name == "p") {
        drawing = std::atoi(s.substr(i, std::min<size_t>(to - i, 12)).c_str()) > 0;
        continue;
      }
      if (name == "clip" || name == "iclip") {
        // A vector clip is a drawing: its points count with the drawings'.
        const size_t end = std::min(to, s.find(')', i));
        bool vector = false;
        for (size_t k = i; k < end; ++k) vector = vector || IsLetter(s[k]);
        if (vector) points += CountNumbers(s, i, end) / 2;
        continue;
      }
      const double bound = TagBound(name, playResY_);
      if (bound <= 0) continue;
      size_t e = i;
      if (e < to && (s[e] == '+' || s[e] == '-')) ++e;
      while (e < to && (IsDigit(s[e]) || s[e] == '.')) ++e;
      if (e == i) continue;
      const std::string value = s.substr(i, e - i);
      const double v = std::strtod(value.c_str(), nullptr);
      if (std::fabs(v) > bound || !std::isfinite(v)) {
        block += (v < 0 ? "-" : value[0] == '+' ? "+" : "") + Number(bound);
        report_.clamped = true;
      } else {
        block += value;
      }
      i = e;
    }
    if (points > kMaxDrawingPoints) {
      report_.drawingCut = true;
      return true;
    }
    block += '}';
    if (!Append(block)) return false;
    drawing_ = drawing;
    points_ = points;
    return true;
  }

  const int playResY_;
  const bool keepDrawings_;
  BoundReport& report_;
  std::string out_;
  size_t shown_ = 0;  // bytes of text shown
  size_t drawn_ = 0;  // bytes of drawings
  int blocks_ = 0;
  long points_ = 0;
  bool drawing_ = false;
};

std::vector<std::string> Split(const std::string& s, char by) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (size_t next; (next = s.find(by, at)) != std::string::npos; at = next + 1)
    parts.push_back(s.substr(at, next - at));
  parts.push_back(s.substr(at));
  return parts;
}

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

std::string LowerAscii(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The value of a "Key: value" line of the script's info, or -1.
long InfoValue(const std::string& header, const char* key) {
  for (const std::string& line : Split(header, '\n')) {
    const std::string t = Trim(line);
    const size_t colon = t.find(':');
    if (colon != std::string::npos && LowerAscii(Trim(t.substr(0, colon))) == key)
      return std::strtol(t.c_str() + colon + 1, nullptr, 10);
  }
  return -1;
}

}  // namespace

std::string EventText(const std::string& event) { return event.substr(TextStart(event)); }

std::string BoundEvent(const std::string& event, int playResY, bool keepDrawings, BoundReport* report) {
  BoundReport ignored;
  BoundReport& r = report ? *report : ignored;
  const size_t textAt = TextStart(event);
  std::string head = event.substr(0, textAt);
  // The Effect field, the last before the text.
  if (textAt > 0) {
    const size_t effectAt = head.rfind(',', head.size() - 2) + 1;
    if (head.size() - effectAt > 257) {
      head.erase(effectAt, head.size() - 1 - effectAt);
      r.textCut = true;
    }
  }
  return head + EventBounder(playResY, keepDrawings, r).Run(event.substr(textAt));
}

std::string BoundHeader(const std::string& header, BoundReport* report) {
  BoundReport ignored;
  BoundReport& r = report ? *report : ignored;
  const int playResY = PlayResY(header);
  std::vector<std::string> lines = Split(header, '\n');
  bool styles = false;
  std::vector<std::string> format;
  for (std::string& line : lines) {
    const std::string t = Trim(line);
    if (!t.empty() && t[0] == '[') {
      styles = LowerAscii(t).find("styles]") != std::string::npos;
      continue;
    }
    if (!styles) continue;
    const size_t colon = t.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = LowerAscii(Trim(t.substr(0, colon)));
    std::vector<std::string> fields = Split(t.substr(colon + 1), ',');
    if (key == "format") {
      format.clear();
      for (const std::string& f : fields) format.push_back(LowerAscii(Trim(f)));
      continue;
    }
    if (key != "style") continue;
    bool changed = false;
    for (size_t k = 0; k < fields.size() && k < format.size(); ++k) {
      const std::string& name = format[k];
      const double bound = name == "fontsize" || name == "spacing" ? playResY
                           : name == "scalex" || name == "scaley"  ? kMaxScale
                           : name == "outline" || name == "shadow" ? std::max(1.0, playResY * kMaxEdgeShare)
                                                                   : 0.0;
      if (bound <= 0) continue;
      const double v = std::strtod(fields[k].c_str(), nullptr);
      if (std::fabs(v) > bound || !std::isfinite(v)) {
        fields[k] = (v < 0 ? "-" : "") + Number(bound);
        changed = true;
      }
    }
    if (!changed) continue;
    r.clamped = true;
    std::string rebuilt = t.substr(0, colon + 1) + " ";
    for (size_t k = 0; k < fields.size(); ++k) rebuilt += (k ? "," : "") + Trim(fields[k]);
    line = rebuilt + (line.size() && line.back() == '\r' ? "\r" : "");
  }
  std::string out;
  for (size_t k = 0; k < lines.size(); ++k) out += (k ? "\n" : "") + lines[k];
  return out;
}

int PlayResY(const std::string& header) {
  const long y = InfoValue(header, "playresy");
  if (y > 0) return int(std::min<long>(y, 1 << 20));
  const long x = InfoValue(header, "playresx");
  if (x == 1280) return 1024;
  if (x > 0) return int(std::min<long>(x * 3 / 4, 1 << 20));
  return 288;
}

std::string PlainText(const std::string& event) {
  const std::string text = EventText(event);
  std::string out;
  bool drawing = false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '{') {
      const size_t close = text.find('}', i);
      if (close != std::string::npos) {
        // A drawing starts or ends in this block.
        for (size_t p = text.find("\\p", i); p < close; p = text.find("\\p", p + 2))
          if (p + 2 < close && IsDigit(text[p + 2])) drawing = text[p + 2] != '0';
        i = close;
        continue;
      }
    }
    if (drawing) continue;
    if (text[i] == '\\' && i + 1 < text.size() &&
        (text[i + 1] == 'N' || text[i + 1] == 'n' || text[i + 1] == 'h')) {
      out += text[i + 1] == 'h' ? ' ' : '\n';
      ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

}  // namespace vidmora::encoder
