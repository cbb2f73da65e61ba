// The output file is written under a temporary name in its own folder and put in place
// only once it is complete, so a failed or abandoned conversion never leaves a half
// file under the user's name, and never harms a file that was there before.
#pragma once

#include <string>

namespace vidmora::encoder {

// Checks made before anything is written: the source exists and is a file, the output's
// folder exists, the output is not a folder, not the source itself (by any spelling or
// link), and, without overwrite, does not exist yet. Returns an error line or "".
std::string CheckPaths(const std::string& input, const std::string& output, bool overwrite);

class TempOutput {
 public:
  TempOutput() = default;
  ~TempOutput();  // removes the temporary unless committed
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  // Creates ".<name>.part-XXXXXX" beside output. Returns an error line or "".
  std::string Create(const std::string& output);
  const std::string& Path() const { return temp_; }
  // Renames the temporary over the output. Returns an error line or "".
  std::string Commit();
  void Discard();

 private:
  std::string temp_;
  std::string output_;
};

}  // namespace vidmora::encoder
