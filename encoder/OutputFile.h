// The output file is written under a temporary name in its own folder and put in place
// only once it is complete, so a failed or abandoned conversion never leaves a half
// file under the user's name, and never harms a file that was there before.
#pragma once

#include <string>

namespace vidmora::encoder {

// Checks made before anything is written: the source exists and is a file, the output's
// folder exists, the output is not a folder, not the source itself (by any spelling or
// link), and, without overwrite, does not exist yet; its name fits the file system.
// Returns an error line or "".
std::string CheckPaths(const std::string& input, const std::string& output, bool overwrite);

class TempOutput {
 public:
  TempOutput() = default;
  ~TempOutput();  // removes the temporary unless committed
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  // Creates ".<name>.part-XXXXXX" beside output (the name cut to 200 bytes, XXXXXX six
  // random characters) and keeps it open: everything is written through Descriptor(),
  // never by opening the name again, so a link planted at the name is not followed.
  // Returns an error line or "".
  std::string Create(const std::string& output);
  const std::string& Path() const { return temp_; }
  int Descriptor() const { return fd_; }
  // Closes the temporary and renames it over the output, if the name still holds the
  // file written (not something put in its place meanwhile). Returns an error line or "".
  std::string Commit();
  void Discard();

 private:
  std::string temp_;
  std::string output_;
  int fd_ = -1;
};

}  // namespace vidmora::encoder
