// Subtitle files beside a source: found by their names, and read safely. They come from
// strangers: only regular files are read, opened without blocking and checked on the
// descriptor that is then read (never opened again by name); a link is followed only to a
// regular file that the running user owns or could read as their own (never, as root,
// another user's file), and only when the user made the link or it points to a file of the
// one who did; a file larger than kMaxSubtitleFile is not read; and reading ends at a stop
// request.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vidmora::encoder {

// The largest subtitle file read: a whole film's subtitles take well under 1 MB, richly
// typeset ones a few MB.
inline constexpr int64_t kMaxSubtitleFile = 20 << 20;
// The most subtitle files taken beside one source.
inline constexpr size_t kMaxSubtitleFiles = 32;

// A subtitle file beside the source.
struct SubtitleFile {
  std::string path;
  std::string part;  // the part of the name between the source's base name and the extension: "chs", or ""
};

// The files beside source that share its base name and end in ".srt", ".ass", ".ssa" or
// ".vtt" (in any letter case), with at most one part between ("film.srt", "film.chs.ass",
// "film.en.vtt"), in the order of their names; at most kMaxSubtitleFiles. Nothing is opened.
std::vector<SubtitleFile> FindSubtitleFiles(const std::string& source);

// Reads the file at path whole into bytes. "" or why it is not read, as the end of a
// sentence that begins with the file's name: "is a pipe", "is a link to another user's
// file", "is larger than 20 MB", "is empty", "stopped".
std::string ReadSubtitleFile(const std::string& path, std::string& bytes);

}  // namespace vidmora::encoder
