#include "OutputFile.h"

#include "Console.h"
#include "OutputNaming.h"
#include "StopRequest.h"
#include "TempName.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/error.h>
}

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

// Characters that FAT and exFAT refuse in a name (besides "/" and control characters).
constexpr char kRefusedByFat[] = "\"*:<>?\\|";

std::string RandomTag() {
  static std::random_device device;
  static std::mt19937 engine(device());
  std::uniform_int_distribution<int> pick(0, 61);
  std::string tag;
  for (int i = 0; i < tempname::kRandomLength; ++i) tag += tempname::kAlphabet[pick(engine)];
  return tag;
}

// A path for the output line: the path as it is, unless a control character would break
// the line (then it is only shown).
std::string LinePath(const std::string& path) {
  for (unsigned char c : path)
    if (c < 0x20 || c == 0x7f) return DisplayName(path);
  return path;
}

}  // namespace

MaybeFailure CheckPaths(const std::string& input, const std::string& output, bool overwrite) {
  // Opened without waiting: a pipe with no writer or a device must not hold the program.
  const int inFd = open(input.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (inFd < 0) {
    const int error = errno;
    struct stat st;
    if (error == EISDIR || (stat(input.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
      return Failure{ErrorCode::SourceNotRegular,
                     "the source " + DisplayName(input) + " is a folder, not a file"};
    return Failure{SourceFailure(AVERROR(error)),
                   "cannot open the source " + DisplayName(input) + ": " + std::strerror(error)};
  }
  struct stat in;
  const bool statted = fstat(inFd, &in) == 0;
  close(inFd);
  if (!statted)
    return Failure{SourceFailure(AVERROR(errno)),
                   "cannot open the source " + DisplayName(input) + ": " + std::strerror(errno)};
  if (S_ISDIR(in.st_mode))
    return Failure{ErrorCode::SourceNotRegular,
                   "the source " + DisplayName(input) + " is a folder, not a file"};
  if (!S_ISREG(in.st_mode))
    return Failure{ErrorCode::SourceNotRegular, "the source " + DisplayName(input) +
                                                    " is not a regular file (" +
                                                    (S_ISFIFO(in.st_mode)   ? "a pipe"
                                                     : S_ISSOCK(in.st_mode) ? "a socket"
                                                                            : "a device") +
                                                    "); only files are converted"};

  std::string folder, name;
  SplitPath(output, folder, name);
  if (name.empty() || name == "." || name == "..")
    return Failure{ErrorCode::OutputName, "the output " + DisplayName(output) + " does not name a file"};
  const long nameMax = pathconf(folder.c_str(), _PC_NAME_MAX);
  const size_t longest = nameMax > 0 ? size_t(nameMax) : size_t(NAME_MAX);
  if (name.size() > longest || output.size() >= PATH_MAX)
    return Failure{ErrorCode::OutputName,
                   "the output name " + DisplayName(output) + " is too long for the file system (" +
                       std::to_string(name.size() > longest ? name.size() : output.size()) +
                       " bytes, at most " +
                       std::to_string(name.size() > longest ? longest : size_t(PATH_MAX - 1)) + ")"};
  const std::string realDir = RealFolder(folder);
  if (realDir.empty())
    return Failure{OutputFailure(AVERROR(errno)),
                   "the output folder " + DisplayName(folder) + " cannot be used: " + std::strerror(errno)};
  struct stat dir;
  if (stat(realDir.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode))
    return Failure{ErrorCode::OutputUnwritable,
                   "the output folder " + DisplayName(folder) + " is not a folder"};

  // The same file whatever the spelling: the folder's real path plus the name, and,
  // when the output exists, its device and inode (which also sees links).
  char realIn[PATH_MAX];
  const std::string canonicalOut = (realDir == "/" ? "" : realDir) + "/" + name;
  if (realpath(input.c_str(), realIn) && canonicalOut == realIn)
    return Failure{ErrorCode::OutputIsSource,
                   "the output " + DisplayName(output) + " is the source file itself"};
  struct stat out;
  if (stat(output.c_str(), &out) == 0) {
    if (out.st_dev == in.st_dev && out.st_ino == in.st_ino)
      return Failure{ErrorCode::OutputIsSource,
                     "the output " + DisplayName(output) + " is the source file itself"};
    if (S_ISDIR(out.st_mode))
      return Failure{ErrorCode::OutputName, "the output " + DisplayName(output) + " is a folder"};
    if (!overwrite)
      return Failure{ErrorCode::OutputName,
                     "the output " + DisplayName(output) + " exists already (-y overwrites it)"};
  }
  if (access(realDir.c_str(), W_OK) != 0)
    return Failure{OutputFailure(AVERROR(errno)),
                   "the output folder " + DisplayName(folder) + " is not writable: " + std::strerror(errno)};
  return {};
}

TempOutput::~TempOutput() { Discard(); }

int MoveWithoutReplacing(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  // A file system that cannot rename without replacing: a second link, which fails on a
  // taken name, then the temporary name goes.
  if (link(from.c_str(), to.c_str()) == 0) {
    unlink(from.c_str());
    return 0;
  }
  if (errno == EEXIST) return EEXIST;
  if (errno != EPERM && errno != ENOTSUP && errno != EMLINK && errno != ENOSYS) return errno;
  // Neither (FAT has no links): the name is looked at just before the rename.
  struct stat st;
  if (lstat(to.c_str(), &st) == 0) return EEXIST;
  return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

MaybeFailure TempOutput::CreateAt(const std::string& output, int* error) {
  std::string folder, name;
  SplitPath(output, folder, name);
  const std::string prefix = folder == "/" ? "/" : folder + "/";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = prefix + tempname::Make(name, long(getpid()), RandomTag());
    // The ordinary permissions (the umask applies); never through a link.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      *error = errno;
      return Failure{OutputFailure(AVERROR(errno)), "cannot write in the output folder " +
                                                        DisplayName(folder) + ": " + std::strerror(errno)};
    }
    // Held until the encoder ends: a sweep for leftovers never takes a locked file.
    flock(fd, LOCK_EX | LOCK_NB);
    fd_ = fd;
    temp_ = path;
    return {};
  }
  *error = EEXIST;
  return Failure{ErrorCode::OutputUnwritable,
                 "cannot write in the output folder " + DisplayName(folder) + ": no free temporary name"};
}

MaybeFailure TempOutput::Create(const std::string& output, bool overwrite) {
  asked_ = output_ = output;
  overwrite_ = overwrite;
  struct stat there;
  replaces_ = overwrite && lstat(output.c_str(), &there) == 0;
  if (replaces_) {
    replacedDev_ = there.st_dev;
    replacedIno_ = there.st_ino;
  }
  int error = 0;
  MaybeFailure failure = CreateAt(output, &error);
  if (!failure) return {};
  std::string folder, name;
  SplitPath(output, folder, name);
  const auto refused = name.find_first_of(kRefusedByFat);
  if (refused == std::string::npos || (error != EINVAL && error != EPERM && error != EILSEQ)) return failure;
  // The folder's file system refuses the name: once more with "_" for what it refuses.
  std::string safe = name;
  for (char& c : safe)
    if (std::strchr(kRefusedByFat, c)) c = '_';
  const std::string safePath = (folder == "/" ? "/" : folder + "/") + safe;
  if (CreateAt(safePath, &error))
    return Failure{ErrorCode::OutputName, "the file system of the output folder " + DisplayName(folder) +
                                              " does not accept the character '" + name[refused] +
                                              "' in the name " + DisplayName(name) + ": " +
                                              std::strerror(error)};
  output_ = safePath;
  overwrite_ = replaces_ = false;  // a name the caller never asked for replaces nothing
  return {};
}

MaybeFailure TempOutput::CloseWritten() {
  if (temp_.empty() || fd_ < 0) return Failure{ErrorCode::EncodeFailed, "no output was written"};
  struct stat written, named;
  const bool same = fstat(fd_, &written) == 0 && lstat(temp_.c_str(), &named) == 0 &&
                    written.st_dev == named.st_dev && written.st_ino == named.st_ino;
  // On the disk before it takes a name: a power cut after the rename must not leave a
  // file of the right name and the wrong contents. A file system that cannot sync is no
  // failure.
  const int synced = fsync(fd_) == 0 || errno == EINVAL || errno == ENOTSUP || errno == EROFS ? 0 : errno;
  const int closed = close(fd_);
  const int closeErrno = closed != 0 ? errno : synced;
  fd_ = -1;
  if (!same) {
    // Someone replaced the temporary meanwhile: whatever is there now is not ours to move
    // over the user's file, nor to remove.
    temp_.clear();
    return Failure{ErrorCode::OutputUnwritable, "cannot put the output " + DisplayName(output_) +
                                                    " in place: its temporary file was replaced"};
  }
  if (closeErrno != 0) {
    Discard();
    return Failure{OutputFailure(AVERROR(closeErrno)),
                   "writing the output " + DisplayName(output_) + " failed: " + std::strerror(closeErrno)};
  }
  return {};
}

MaybeFailure TempOutput::MoveToFreeName(const std::string& target) {
  int error = EEXIST;
  std::string name = target;
  for (int n = 1; n <= 10000 && error == EEXIST; ++n) {
    error = MoveWithoutReplacing(temp_, name);
    if (error == EEXIST) name = naming::NumberedName(target, n);
  }
  if (error != 0) {
    Discard();
    return Failure{OutputFailure(AVERROR(error)),
                   "cannot put the output " + DisplayName(target) + " in place: " + std::strerror(error)};
  }
  final_ = name;
  temp_.clear();
  return {};
}

MaybeFailure TempOutput::Commit() {
  if (MaybeFailure failure = CloseWritten()) return failure;
  struct stat there;
  const bool stillThere = replaces_ && lstat(output_.c_str(), &there) == 0 && there.st_dev == replacedDev_ &&
                          there.st_ino == replacedIno_;
  if (overwrite_ && stillThere && !ParentGone()) {
    if (rename(temp_.c_str(), output_.c_str()) != 0) {
      const int error = errno;
      Discard();
      return Failure{OutputFailure(AVERROR(error)),
                     "cannot put the output " + DisplayName(output_) + " in place: " + std::strerror(error)};
    }
    final_ = output_;
    temp_.clear();
  } else {
    if (MaybeFailure failure = MoveToFreeName(output_)) return failure;
  }
  if (final_ != asked_) ConsoleLine(protocol::kOutputMark + LinePath(final_));
  return {};
}

MaybeFailure TempOutput::CommitUnfinished() {
  if (MaybeFailure failure = CloseWritten()) return failure;
  if (MaybeFailure failure = MoveToFreeName(protocol::UnfinishedName(output_))) return failure;
  ConsoleLine(protocol::kUnfinishedMark + LinePath(final_));
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
