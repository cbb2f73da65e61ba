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

void splitPath(const std::string& path, std::string& folder, std::string& name) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    folder = ".";
    name = path;
  } else {
    folder = slash == 0 ? "/" : path.substr(0, slash);
    name = path.substr(slash + 1);
  }
}

std::string realFolder(const std::string& folder) {
  char buf[PATH_MAX];
  if (!realpath(folder.c_str(), buf)) return {};
  return buf;
}

}  // namespace

std::string checkPaths(const std::string& input, const std::string& output, bool overwrite) {
  struct stat in;
  if (stat(input.c_str(), &in) != 0)
    return "cannot open the source " + displayName(input) + ": " + std::strerror(errno);
  if (S_ISDIR(in.st_mode)) return "the source " + displayName(input) + " is a folder, not a file";

  std::string folder, name;
  splitPath(output, folder, name);
  if (name.empty() || name == "." || name == "..")
    return "the output " + displayName(output) + " does not name a file";
  const std::string realDir = realFolder(folder);
  if (realDir.empty())
    return "the output folder " + displayName(folder) + " cannot be used: " + std::strerror(errno);
  struct stat dir;
  if (stat(realDir.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode))
    return "the output folder " + displayName(folder) + " is not a folder";

  // The same file whatever the spelling: the folder's real path plus the name, and,
  // when the output exists, its device and inode (which also sees links).
  char realIn[PATH_MAX];
  const std::string canonicalOut = (realDir == "/" ? "" : realDir) + "/" + name;
  if (realpath(input.c_str(), realIn) && canonicalOut == realIn)
    return "the output " + displayName(output) + " is the source file itself";
  struct stat out;
  if (stat(output.c_str(), &out) == 0) {
    if (out.st_dev == in.st_dev && out.st_ino == in.st_ino)
      return "the output " + displayName(output) + " is the source file itself";
    if (S_ISDIR(out.st_mode)) return "the output " + displayName(output) + " is a folder";
    if (!overwrite) return "the output " + displayName(output) + " exists already (-y overwrites it)";
  }
  if (access(realDir.c_str(), W_OK) != 0)
    return "the output folder " + displayName(folder) + " is not writable: " + std::strerror(errno);
  return {};
}

TempOutput::~TempOutput() { discard(); }

std::string TempOutput::create(const std::string& output) {
  std::string folder, name;
  splitPath(output, folder, name);
  // A long name is shortened so the temporary's name stays within the file system's limit.
  if (name.size() > 200) name.resize(200);
  std::string pattern = (folder == "/" ? "" : folder) + "/." + name + ".part-XXXXXX";
  std::string buf = pattern;
  const int fd = mkstemp(buf.data());
  if (fd < 0) return "cannot write in the output folder " + displayName(folder) + ": " + std::strerror(errno);
  // mkstemp makes the file private; the result gets the ordinary permissions.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  m_temp = buf;
  m_output = output;
  return {};
}

std::string TempOutput::commit() {
  if (m_temp.empty()) return "no output was written";
  if (rename(m_temp.c_str(), m_output.c_str()) != 0) {
    const std::string err = std::strerror(errno);
    discard();
    return "cannot put the output " + displayName(m_output) + " in place: " + err;
  }
  m_temp.clear();
  return {};
}

void TempOutput::discard() {
  if (!m_temp.empty()) {
    unlink(m_temp.c_str());
    m_temp.clear();
  }
}

}  // namespace vidmora::encoder
