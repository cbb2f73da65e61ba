// Languages of subtitles: the language a part of a file name or a track's tag names, the
// language a text's own characters show, and the order the reader meets the tracks in:
// Chinese first (simplified, then traditional), then the others. Works on text alone.
#pragma once

#include <string>

namespace vidmora::encoder {

// How a Chinese text is written; Unknown for Chinese whose script is not known and for
// other languages.
enum class ChineseScript { Unknown, Simplified, Traditional };

struct Language {
  std::string code;  // a three-letter code ("chi", "eng", "jpn") or "" when none is named
  ChineseScript script = ChineseScript::Unknown;

  bool IsChinese() const { return code == "chi"; }
  // The place among the tracks, lowest first: simplified (or unspecified) Chinese 0,
  // traditional Chinese 1, any other language or none 2.
  int Rank() const;
};

// The language a part of a file name ("chs" in "film.chs.ass") or a track's language tag
// names, read case-insensitively in the common spellings: "chs", "SC", "zh-CN", "zh_Hans",
// "简体" (simplified Chinese); "cht", "TC", "zh-TW", "zh-Hant", "big5", "繁体" (traditional);
// "zh", "chi", "zho", "chinese", "中文" (Chinese); "en", "ENG", "english"; "ja", "jp", "jpn";
// "ko", "kor"; and the usual codes of a dozen more. A part joined from two with '&', '+',
// '-' or '_' ("chs&eng", "简英") names its first. An empty code for a part that names none.
Language LanguageOfName(const std::string& part);

// The character set a language part suggests for a file not in Unicode: "GB18030" for
// simplified Chinese ("chs", "sc", "gb", "简体"), "Big5" for traditional ("cht", "tc", "big5",
// "繁体"); "" otherwise.
std::string CharsetOfName(const std::string& part);

// The language a subtitle text (UTF-8) is written in, told by its characters, for a file
// whose name names none: Chinese (with its script where common characters tell it) when
// Han characters make up most of its letters and no Japanese kana or Korean Hangul are
// among them; Japanese and Korean by their own letters; nothing otherwise.
Language LanguageOfText(const std::string& utf8);

}  // namespace vidmora::encoder
