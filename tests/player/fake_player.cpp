// A stand-in for the external player: records its argument vector and stays
// alive until it is ended. The vector goes to $VIDMORA_FAKE_PLAYER_LOG/<pid>.args,
// one argument after another, each followed by a NUL byte. With
// VIDMORA_FAKE_PLAYER_STUBBORN set it ignores the terminate signal; with
// VIDMORA_FAKE_PLAYER_SAYS set it first writes that text to its output, as the
// player reports where its picture is.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
  if (std::getenv("VIDMORA_FAKE_PLAYER_STUBBORN")) std::signal(SIGTERM, SIG_IGN);
  if (const char* says = std::getenv("VIDMORA_FAKE_PLAYER_SAYS")) {
    std::fputs(says, stdout);
    std::fflush(stdout);
  }
  const char* dir = std::getenv("VIDMORA_FAKE_PLAYER_LOG");
  if (dir && *dir) {
    const std::string base = std::string(dir) + "/" + std::to_string(getpid());
    const std::string temp = base + ".tmp";
    if (FILE* out = std::fopen(temp.c_str(), "wb")) {
      for (int i = 0; i < argc; ++i) {
        std::fputs(argv[i], out);
        std::fputc('\0', out);
      }
      std::fclose(out);
      std::rename(temp.c_str(), (base + ".args").c_str());
    }
  }
  for (;;) pause();
}
