#include "Trace.h"

#include "Console.h"

#include <cstdlib>
#include <cstring>

namespace vidmora::encoder {

bool TraceOn() {
  static const bool on = [] {
    const char* value = std::getenv("VIDMORA_TRACE");
    return value && *value && std::strcmp(value, "0") != 0;
  }();
  return on;
}

void Trace(const std::string& line) {
  if (TraceOn()) ConsoleLine(kTraceMark + line);
}

}  // namespace vidmora::encoder
