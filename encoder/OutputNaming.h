#pragma once
// The one rule for varying an output's name when the name asked for cannot be used, shared by
// the encoder (whose finished file goes beside one that took its name meanwhile, and whose
// unfinished file is tagged) and the queue (which plans every row's name before a run). Plain
// C++ without Qt, so both sides include it.
//
// A path is split at its last '/' (the folder, kept as it is) and at the last '.' of the file
// name that is not its first character (the extension: "a.b.mp4" has ".mp4", ".mp4" and "film"
// have none). A numbered name is "name (n).ext" in the same folder, a tagged one "name<tag>.ext".
// Paths are bytes: UTF-8 and the GBK of old archives alike ('/' and '.' never stand inside
// one of their characters).
#include <string>

namespace vidmora::naming {

struct NameParts {
  std::string folder;  // up to and with the last '/'; "" for a bare name
  std::string stem;    // the file name without its extension
  std::string ext;     // ".mp4"; "" for none
};

inline NameParts SplitName(const std::string& path) {
  const std::string::size_type slash = path.find_last_of('/');
  const std::string::size_type nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::string::size_type dot = path.find_last_of('.');
  const bool hasExt = dot != std::string::npos && dot > nameStart;
  NameParts parts;
  parts.folder = path.substr(0, nameStart);
  parts.stem = path.substr(nameStart, hasExt ? dot - nameStart : std::string::npos);
  parts.ext = hasExt ? path.substr(dot) : std::string();
  return parts;
}

// "name<tag>.ext" beside path: "out.mp4" with " (未完成)" is "out (未完成).mp4".
inline std::string TaggedName(const std::string& path, const std::string& tag) {
  const NameParts parts = SplitName(path);
  return parts.folder + parts.stem + tag + parts.ext;
}

// "name (n).ext" beside path: "/v/out.mp4" and 2 give "/v/out (2).mp4".
inline std::string NumberedName(const std::string& path, int n) {
  return TaggedName(path, " (" + std::to_string(n) + ")");
}

// The first NumberedName(path, n), n = 1, 2, ..., for which taken(name) is false. (The encoder
// does not ask first: it tries each name with a move that fails on a taken one.)
template <class Taken>
std::string NextFreeName(const std::string& path, const Taken& taken) {
  for (int n = 1;; ++n) {
    std::string name = NumberedName(path, n);
    if (!taken(name)) return name;
  }
}

}  // namespace vidmora::naming
