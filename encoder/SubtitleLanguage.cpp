#include "SubtitleLanguage.h"

#include <cctype>
#include <cstdint>
#include <cstring>

namespace vidmora::encoder {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));  // ASCII letters only
  return s;
}

struct Spelling {
  const char* code;
  ChineseScript script;
  const char* names;  // '|'-separated, lower case (ASCII); '_' is read as '-'
};

const Spelling kSpellings[] = {
    {"chi", ChineseScript::Simplified,
     "|chs|sc|gb|gbk|gb2312|gb18030|zh-cn|zh-hans|zh-sg|zh-hans-cn|cn|简|简体|简中|简体中文|中文简体|"},
    {"chi", ChineseScript::Traditional,
     "|cht|tc|big5|zh-tw|zh-hk|zh-mo|zh-hant|zh-hant-tw|zh-hant-hk|tw|hk|繁|繁体|繁體|繁中|繁体中文|繁體中文|"
     "中文繁体|中文繁體|"},
    {"chi", ChineseScript::Unknown, "|zh|chi|zho|chinese|中文|中|汉语|漢語|国语|國語|"},
    {"eng", ChineseScript::Unknown, "|en|eng|english|en-us|en-gb|英|英文|英语|"},
    {"jpn", ChineseScript::Unknown, "|ja|jp|jpn|japanese|日|日文|日语|日本語|"},
    {"kor", ChineseScript::Unknown, "|ko|kor|korean|kr|韩|韩文|韩语|한국어|"},
    {"fre", ChineseScript::Unknown, "|fr|fre|fra|french|"},
    {"ger", ChineseScript::Unknown, "|de|ger|deu|german|"},
    {"spa", ChineseScript::Unknown, "|es|spa|spanish|"},
    {"ita", ChineseScript::Unknown, "|it|ita|italian|"},
    {"por", ChineseScript::Unknown, "|pt|por|portuguese|pt-br|"},
    {"rus", ChineseScript::Unknown, "|ru|rus|russian|"},
    {"ara", ChineseScript::Unknown, "|ar|ara|arabic|"},
    {"tha", ChineseScript::Unknown, "|th|tha|thai|"},
    {"vie", ChineseScript::Unknown, "|vi|vie|vietnamese|"},
    {"ind", ChineseScript::Unknown, "|id|ind|indonesian|"},
    {"dut", ChineseScript::Unknown, "|nl|dut|nld|dutch|"},
    {"pol", ChineseScript::Unknown, "|pl|pol|polish|"},
    {"tur", ChineseScript::Unknown, "|tr|tur|turkish|"},
};

const Spelling* Find(const std::string& name) {
  if (name.empty()) return nullptr;
  const std::string key = "|" + name + "|";
  for (const Spelling& s : kSpellings)
    if (std::strstr(s.names, key.c_str())) return &s;
  return nullptr;
}

// The spelling of a whole part, else of its first piece ("chs&eng", "zh_cn", "简英").
const Spelling* SpellingOf(const std::string& part) {
  std::string name = Lower(part);
  for (char& c : name)
    if (c == '_') c = '-';
  if (const Spelling* s = Find(name)) return s;
  const size_t cut = name.find_first_of("&+-. ");
  if (cut != std::string::npos && cut > 0)
    if (const Spelling* s = Find(name.substr(0, cut))) return s;
  // A part of Chinese characters: its first character ("简英": simplified, then English).
  const unsigned char c = static_cast<unsigned char>(name[0]);
  if (c >= 0xE0 && c < 0xF0 && name.size() > 3) return Find(name.substr(0, 3));
  return nullptr;
}

// The code point of the UTF-8 sequence at s[i], its length in n; -1 for a broken one.
int32_t Decode(const std::string& s, size_t i, size_t& n) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > s.size()) {
    n = 1;
    return -1;
  }
  int32_t cp = n == 1 ? c : c & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  return cp;
}

// Frequent characters written differently in the two scripts, in the same order.
const char kSimplifiedOnly[] = "们这个来说时会国对没过还为么样发经见头么实问题话让认听谁将爱觉离开关门";
const char kTraditionalOnly[] = "們這個來說時會國對沒過還為麼樣發經見頭麼實問題話讓認聽誰將愛覺離開關門";

bool Among(const char* set, const std::string& s, size_t i, size_t n) {
  for (const char* p = set; *p; p += 3)
    if (n == 3 && std::strncmp(p, s.data() + i, 3) == 0) return true;
  return false;
}

}  // namespace

int Language::Rank() const {
  if (!IsChinese()) return 2;
  return script == ChineseScript::Traditional ? 1 : 0;
}

Language LanguageOfName(const std::string& part) {
  const Spelling* s = SpellingOf(part);
  return s ? Language{s->code, s->script} : Language{};
}

std::string CharsetOfName(const std::string& part) {
  const Spelling* s = SpellingOf(part);
  if (!s || std::strcmp(s->code, "chi") != 0) return {};
  return s->script == ChineseScript::Simplified    ? "GB18030"
         : s->script == ChineseScript::Traditional ? "Big5"
                                                   : "";
}

Language LanguageOfText(const std::string& text) {
  // Counted over the first 256 kB: a subtitle file shows its language long before that.
  const size_t end = std::min<size_t>(text.size(), 256 * 1024);
  long han = 0, kana = 0, hangul = 0, latin = 0, simplified = 0, traditional = 0;
  for (size_t i = 0, n = 1; i < end; i += n) {
    const int32_t cp = Decode(text, i, n);
    if ((cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z'))
      ++latin;
    else if (cp >= 0x3040 && cp <= 0x30FF)
      ++kana;
    else if ((cp >= 0xAC00 && cp <= 0xD7AF) || (cp >= 0x1100 && cp <= 0x11FF))
      ++hangul;
    else if ((cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0x3400 && cp <= 0x4DBF)) {
      ++han;
      simplified += Among(kSimplifiedOnly, text, i, n);
      traditional += Among(kTraditionalOnly, text, i, n);
    }
  }
  // Subtitle files hold times, numbers and tags too: letters of a script are what count.
  // Latin letters of ASS tags and styles are many; a Han character says as much as a word.
  if (kana > 0 && kana * 10 >= han) return {"jpn", ChineseScript::Unknown};
  if (hangul > 0 && hangul * 2 >= han) return {"kor", ChineseScript::Unknown};
  if (han == 0 || han * 5 < latin) return {};
  const ChineseScript script = simplified > traditional   ? ChineseScript::Simplified
                               : traditional > simplified ? ChineseScript::Traditional
                                                          : ChineseScript::Unknown;
  return {"chi", script};
}

}  // namespace vidmora::encoder
