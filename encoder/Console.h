// Everything the encoder writes goes to standard error, one whole line per write,
// so that a reader polling the pipe never sees two lines interleaved.
#pragma once

#include "Failure.h"

#include <string>

namespace vidmora::encoder {

// Writes one line (a newline is appended).
void ConsoleLine(const std::string& line);

// The one line that reports a failure: "Error: <code>: <detail>" (line breaks in the detail
// become blanks). ErrorLine forms it, ConsoleError writes it.
std::string ErrorLine(const Failure& failure);
void ConsoleError(const Failure& failure);

// A warning: "warning: <code>: <detail>".
std::string WarningLine(WarningCode code, const std::string& detail);
void ConsoleWarning(WarningCode code, const std::string& detail);

// A file name made safe to show: control characters become '?', and the two texts the
// front-end watches for ("frame=" at a line start cannot happen here, "time=" and
// "global headers:") are broken up, so a strange file name cannot pose as progress or
// as the end of a conversion.
std::string DisplayName(const std::string& path);

// The libraries' own log goes through here: it is kept quiet (a conversion reports in
// its own lines) and the last error message is remembered to explain a failure.
// VIDMORA_ENCODER_DEBUG=1 in the environment lets the libraries' log through.
void InstallLibraryLog();
std::string LastLibraryError();
void ClearLibraryError();

// printf into a string, for the console's lines (up to 2 kB).
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// "Invalid data found when processing input" for an AVERROR code.
std::string ErrorText(int averror);

}  // namespace vidmora::encoder
