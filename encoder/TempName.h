#pragma once
// The names of the encoder's temporary output files, shared by the encoder that makes
// them and the program that clears away what a killed encoder left. Plain C++.
//
// A temporary is "." + the output's file name (cut to kNameCut bytes) + ".part-" + the
// encoder's process id + "-" + four random letters or digits + four check characters
// worked out from all that came before. A user's file can match only by copying one of
// ours; even then it is removed only when no encoder with that process id runs and
// nobody holds the lock the encoder keeps on its temporary for its whole life.
#include <cstdint>
#include <string>

namespace vidmora::tempname {

inline constexpr char kMark[] = ".part-";
inline constexpr std::size_t kNameCut = 200;
inline constexpr int kRandomLength = 4;
inline constexpr int kCheckLength = 4;
inline constexpr char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

inline std::string CheckOf(const std::string& name, const std::string& pid, const std::string& random) {
  std::uint32_t h = 2166136261u;  // FNV-1a
  auto mix = [&h](const std::string& s) {
    for (unsigned char c : s) {
      h ^= c;
      h *= 16777619u;
    }
    h ^= 0xff;
    h *= 16777619u;
  };
  mix(name);
  mix(pid);
  mix(random);
  std::string check;
  for (int i = 0; i < kCheckLength; ++i) {
    check += kAlphabet[h % 62];
    h /= 62;
  }
  return check;
}

// The temporary's file name for output file name `name` (no folder).
inline std::string Make(std::string name, long pid, const std::string& random) {
  if (name.size() > kNameCut) name.resize(kNameCut);
  const std::string id = std::to_string(pid);
  return "." + name + kMark + id + "-" + random + CheckOf(name, id, random);
}

// Whether fileName is one of the encoder's temporaries; *pid is its encoder's process id.
inline bool Parse(const std::string& fileName, long* pid) {
  const std::size_t tagLength = kRandomLength + kCheckLength;
  if (fileName.size() < 2 || fileName[0] != '.') return false;
  const std::size_t dash = fileName.rfind('-');
  if (dash == std::string::npos || fileName.size() - dash - 1 != tagLength) return false;
  const std::size_t mark = fileName.rfind(kMark, dash);
  if (mark == std::string::npos || mark < 2) return false;
  const std::string id = fileName.substr(mark + sizeof kMark - 1, dash - mark - (sizeof kMark - 1));
  if (id.empty() || id.size() > 9 || id[0] == '0') return false;
  for (char c : id)
    if (c < '0' || c > '9') return false;
  const std::string name = fileName.substr(1, mark - 1);
  const std::string random = fileName.substr(dash + 1, kRandomLength);
  for (char c : random)
    if (std::string(kAlphabet).find(c) == std::string::npos) return false;
  if (fileName.compare(dash + 1 + kRandomLength, kCheckLength, CheckOf(name, id, random)) != 0) return false;
  *pid = std::stol(id);
  return true;
}

}  // namespace vidmora::tempname
