#include "OutputFile.h"

#include "Console.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vidmora::encoder {

namespace {

void SplitPath(const std::string& path, std::string& folder, std::string& name) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    folder = ".";
    name = path;
  } else {
    folder = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
  }
}

std::string RealFolder(const std::string& folder) {
  char buf[PATH_MAX];
  if (!realpath(folder.c_str(), buf)) return {};
  return buf;
}

}  // namespace

std::string CheckPaths(const std::string& input, const std::string& output, bool overwrite) {
  struct stat in;
  if (stat(input.c_str(), &in) != 0)
    return "cannot open the source " + DisplayName(input) + ": " + std::strerror(errno);
  if (S_ISDIR(in.st_mode)) return "the source " + DisplayName(input) + " is a folder, not a file";

  std::string folder, name;
  SplitPath(output, folder, name);
  if (name.empty() || name == "." || name == "..")
    return "the output " + DisplayName(output) + " does not name a file";
  const long nameMax = pathconf(folder.c_str(), _PC_NAME_MAX);
  const size_t longest = nameMax > 0 ? size_t(nameMax) : size_t(NAME_MAX);
  if (name.size() > longest || output.size() >= PATH_MAX)
    return "the output name " + DisplayName(output) + " is too long for the file system (" +
           std::to_string(name.size() > longest ? name.size() : output.size()) + " bytes, at most " +
           std::to_string(name.size() > longest ? longest : size_t(PATH_MAX - 1)) + ")";
  const std::string realDir = RealFolder(folder);
  if (realDir.empty())
    return "the output folder " + DisplayName(folder) + " cannot be used: " + std::strerror(errno);
  struct stat dir;
  if (stat(realDir.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode))
    return "the output folder " + DisplayName(folder) + " is not a folder";

  // The same file whatever the spelling: the folder's real path plus the name, and,
  // when the output exists, its device and inode (which also sees links).
  char realIn[PATH_MAX];
  const std::string canonicalOut = (realDir == "/" ? "" : realDir) + "/" + name;
  if (realpath(input.c_str(), realIn) && canonicalOut == realIn)
    return "the output " + DisplayName(output) + " is the source file itself";
  struct stat out;
  if (stat(output.c_str(), &out) == 0) {
    if (out.st_dev == in.st_dev && out.st_ino == in.st_ino)
      return "the output " + DisplayName(output) + " is the source file itself";
    if (S_ISDIR(out.st_mode)) return "the output " + DisplayName(output) + " is a folder";
    if (!overwrite) return "the output " + DisplayName(output) + " exists already (-y overwrites it)";
  }
  if (access(realDir.c_str(), W_OK) != 0)
    return "the output folder " + DisplayName(folder) + " is not writable: " + std::strerror(errno);
  return {};
}

TempOutput::~TempOutput() { Discard(); }

std::string TempOutput::Create(const std::string& output) {
  std::string folder, name;
  SplitPath(output, folder, name);
  // A long name is shortened so the temporary's name stays within the file system's limit.
  if (name.size() > 200) name.resize(200);
  std::string pattern = (folder == "/" ? "" : folder) + "/." + name + ".part-XXXXXX";
  std::string buf = pattern;
  const int fd = mkstemp(buf.data());
  if (fd < 0) return "cannot write in the output folder " + DisplayName(folder) + ": " + std::strerror(errno);
  // mkstemp makes the file private; the result gets the ordinary permissions.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  fd_ = fd;
  temp_ = buf;
  output_ = output;
  return {};
}

std::string TempOutput::Commit() {
  if (temp_.empty() || fd_ < 0) return "no output was written";
  struct stat written, named;
  const bool same = fstat(fd_, &written) == 0 && lstat(temp_.c_str(), &named) == 0 &&
                    written.st_dev == named.st_dev && written.st_ino == named.st_ino;
  const int closed = close(fd_);
  const std::string closeError = closed != 0 ? std::strerror(errno) : "";
  fd_ = -1;
  if (!same) {
    // Someone replaced the temporary meanwhile: whatever is there now is not ours to move
    // over the user's file, nor to remove.
    temp_.clear();
    return "cannot put the output " + DisplayName(output_) + " in place: its temporary file was replaced";
  }
  if (closed != 0) {
    Discard();
    return "writing the output " + DisplayName(output_) + " failed: " + closeError;
  }
  if (rename(temp_.c_str(), output_.c_str()) != 0) {
    const std::string err = std::strerror(errno);
    Discard();
    return "cannot put the output " + DisplayName(output_) + " in place: " + err;
  }
  temp_.clear();
  return {};
}

void TempOutput::Discard() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    unlink(temp_.c_str());
    temp_.clear();
  }
}

}  // namespace vidmora::encoder
