#include "SubtitleFiles.h"

#include "StopRequest.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vidmora::encoder {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// What a file that is not regular is, for the warning.
const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISLNK(mode)) return "a link";
  return "not a regular file";
}

bool InGroup(gid_t gid) {
  if (gid == getegid()) return true;
  gid_t groups[256];
  const int n = getgroups(256, groups);
  return std::find(groups, groups + std::max(n, 0), gid) != groups + std::max(n, 0);
}

// Whether the file's permission bits let the running user read it as an ordinary user
// (root's power to read anything is not counted).
bool ReadableAsOwn(const struct stat& st) {
  if (st.st_uid == geteuid()) return st.st_mode & S_IRUSR;
  if (InGroup(st.st_gid)) return st.st_mode & S_IRGRP;
  return st.st_mode & S_IROTH;
}

// A link is followed to a file the user owns, or (not as root) one they could read anyway.
bool FollowedTo(const struct stat& st) {
  return st.st_uid == geteuid() || (geteuid() != 0 && ReadableAsOwn(st));
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::vector<SubtitleFile> FindSubtitleFiles(const std::string& source) {
  const size_t slash = source.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : source.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? source : source.substr(slash + 1);
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);

  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = StopRequested() ? nullptr : readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.size() <= base.size() + 1 || name.compare(0, base.size() + 1, base + ".") != 0) continue;
      const std::string rest = name.substr(base.size() + 1);  // "srt" or "chs.ass"
      const size_t extAt = rest.rfind('.');
      const std::string ext = Lower(extAt == std::string::npos ? rest : rest.substr(extAt + 1));
      if (ext != "srt" && ext != "ass" && ext != "ssa" && ext != "vtt") continue;
      if (extAt != std::string::npos && (extAt == 0 || rest.find('.') != extAt)) continue;
      names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  std::vector<SubtitleFile> files;
  for (const std::string& name : names) {
    const std::string path = (slash == std::string::npos ? std::string() : folder) + name;
    if (path == source || files.size() >= kMaxSubtitleFiles) continue;
    const std::string rest = name.substr(base.size() + 1);
    const size_t extAt = rest.rfind('.');
    files.push_back({path, extAt == std::string::npos ? std::string() : rest.substr(0, extAt)});
  }
  return files;
}

std::string ReadSubtitleFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  // What the name is, without following a link and without opening it: a pipe, device or
  // folder is never opened (opening some devices does something).
  struct stat named;
  if (lstat(path.c_str(), &named) != 0) return std::string("cannot be read: ") + std::strerror(errno);
  const bool link = S_ISLNK(named.st_mode);
  if (!link && !S_ISREG(named.st_mode)) return std::string("is ") + KindOf(named.st_mode);
  if (link) {
    struct stat target;
    if (stat(path.c_str(), &target) != 0) return "is a link to nothing that can be read";
    if (!S_ISREG(target.st_mode)) return std::string("is a link to ") + KindOf(target.st_mode);
  }
  // Opened without blocking, and checked again on the descriptor: the name may have been
  // replaced meanwhile.
  const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (link ? 0 : O_NOFOLLOW);
  Descriptor fd(open(path.c_str(), flags));
  if (fd.Get() < 0)
    return std::string("cannot be read: ") +
           (errno == ELOOP ? "it was replaced by a link" : std::strerror(errno));
  struct stat st;
  if (fstat(fd.Get(), &st) != 0) return std::string("cannot be read: ") + std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return std::string(link ? "is a link to " : "is ") + KindOf(st.st_mode);
  if (link && !FollowedTo(st)) return "is a link to a file of another user";
  // Nor is a link another user planted to a file that is not theirs (the user's own secrets).
  if (link && named.st_uid != geteuid() && named.st_uid != st.st_uid) return "is a link another user made";
  if (!link && geteuid() == 0 && !ReadableAsOwn(st))
    return "is another user's file that only its owner may read";
  if (st.st_size > kMaxSubtitleFile)
    return "is larger than " + std::to_string(kMaxSubtitleFile >> 20) + " MB, more than subtitles take";
  if (st.st_size == 0) return "is empty";
  // The size may change while it is read: never more than the limit is taken.
  bytes.reserve(size_t(st.st_size));
  char buffer[1 << 16];
  for (;;) {
    if (StopRequested()) return "stopped";
    const ssize_t n = read(fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::string("cannot be read: ") + std::strerror(errno);
    if (n == 0) break;
    bytes.append(buffer, size_t(n));
    if (int64_t(bytes.size()) > kMaxSubtitleFile)
      return "is larger than " + std::to_string(kMaxSubtitleFile >> 20) + " MB, more than subtitles take";
  }
  if (bytes.empty()) return "is empty";
  return {};
}

}  // namespace vidmora::encoder
