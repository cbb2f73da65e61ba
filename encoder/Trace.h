// A trace of the encoder's decisions, for the developer whose user's file came out wrong:
// with VIDMORA_TRACE=1 in the encoder's environment, each decision is one line on standard
// error beginning "trace: " (see docs/encoder.md): every jump in the source's clock closed or
// held and why, every stream kept or left out and why, every subtitle file taken or left out.
// Without it nothing is written and nothing changes on the console.
#pragma once

#include <string>

namespace vidmora::encoder {

inline constexpr char kTraceMark[] = "trace: ";

// Whether the environment asks for the trace (read once: VIDMORA_TRACE set, not empty, not "0").
bool TraceOn();

// Writes "trace: " + line when the trace is on.
void Trace(const std::string& line);

}  // namespace vidmora::encoder
