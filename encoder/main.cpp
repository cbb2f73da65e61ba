// The project's console encoder: converts one source file into one MP4 file.
//   make -y -ipt INPUT [OPTION VALUE]... OUTPUT
#include "Console.h"
#include "Options.h"
#include "StopRequest.h"
#include "Transcoder.h"

#include <exception>
#include <new>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vidmora::encoder;

int main(int argc, char** argv) {
  // A standard stream that was closed by the caller is given /dev/null, so that no file
  // opened later (the output!) can take its number and receive console text.
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0) return 3;
  InstallSignalHandlers();
  InstallLibraryLog();

  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const ParseResult parsed = ParseCommandLine(args);
    if (!parsed.ok) {
      ConsoleError({ErrorCode::BadOption, parsed.error});
      return 2;
    }
    StdinWatcher watcher;
    return Convert(parsed.options);
  } catch (const std::exception& e) {
    // No memory or no thread to be had: one line and a failure status instead of an
    // abort, and the conversion's unfinished file is removed as it unwinds.
    const bool memory = dynamic_cast<const std::bad_alloc*>(&e) != nullptr;
    ConsoleError({memory ? ErrorCode::OutOfMemory : ErrorCode::EncodeFailed,
                  std::string("the conversion could not go on: ") + e.what()});
    return 1;
  }
}

#if defined(__SANITIZE_ADDRESS__)
// Builds with AddressSanitizer: the H.265 library keeps one small block of its own until the
// process ends; it is not ours to free, so the leak check leaves it out.
extern "C" const char* __lsan_default_suppressions() { return "leak:libx265.so\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif
