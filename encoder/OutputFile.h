// The output file is written under a temporary name in its own folder and put in place
// only once it is complete, so a failed or abandoned conversion never leaves a half
// file under the user's name, and never harms a file that was there before.
#pragma once

#include "Failure.h"

#include <string>
#include <sys/types.h>

namespace vidmora::encoder {

// Checks made before anything is written: the source is a regular file (opened without
// waiting, so a pipe or a device is refused at once rather than blocking), the output's
// folder exists, the output is not a folder, not the source itself (by any spelling or
// link), and, without overwrite, does not exist yet; its name fits the file system.
// Returns why it failed, if it did.
MaybeFailure CheckPaths(const std::string& input, const std::string& output, bool overwrite);

class TempOutput {
 public:
  TempOutput() = default;
  ~TempOutput();  // removes the temporary unless committed
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  // Creates the temporary beside output (named as TempName.h says), locks it for the
  // encoder's life and keeps it open: everything is written through Descriptor(), never
  // by opening the name again, so a link planted at the name is not followed. A folder
  // whose file system refuses a character of the name (FAT: " * : < > ? \ |) is tried
  // once more with those characters replaced by "_". overwrite: the output may replace
  // a file that stands at its name when it is committed. Returns why it failed, if it did.
  MaybeFailure Create(const std::string& output, bool overwrite);
  const std::string& Path() const { return temp_; }
  int Descriptor() const { return fd_; }
  // Closes the temporary and puts it in place, if the name still holds the file written
  // (not something put in its place meanwhile). With overwrite, only the file that stood
  // at the name when the temporary was created is replaced; otherwise (and once the
  // program that started the encoder is gone) nothing is: a file that took the name
  // meanwhile stays, and the output takes the next free name "name (1).mp4". When
  // the file ends up under another name than asked for, one output line says where.
  // Returns why it failed, if it did.
  MaybeFailure Commit();
  // Closes the temporary of a conversion that was stopped early and puts it under the
  // unfinished name (protocol::UnfinishedName of the output), or the next free
  // "name (未完成) (n).mp4": it never replaces anything, and never takes the output's own
  // name. One unfinished line says where it went. Returns why it failed, if it did.
  MaybeFailure CommitUnfinished();
  void Discard();

 private:
  MaybeFailure CreateAt(const std::string& output, int* error);
  // Closes the temporary once its data is on the disk.
  MaybeFailure CloseWritten();
  // Moves the temporary to target, or the next free numbered name beside it (OutputNaming.h).
  MaybeFailure MoveToFreeName(const std::string& target);

  std::string temp_;
  std::string asked_;   // the output as asked for
  std::string output_;  // the name the output is meant to have (a refused character replaced)
  std::string final_;
  bool overwrite_ = false;
  // With overwrite: the file that stood at the output name at the start, if any.
  bool replaces_ = false;
  dev_t replacedDev_ = 0;
  ino_t replacedIno_ = 0;
  int fd_ = -1;
};

// Puts the file `from` at `to` unless something is there: 0, EEXIST when the name is
// taken, or another errno value.
int MoveWithoutReplacing(const std::string& from, const std::string& to);

}  // namespace vidmora::encoder
