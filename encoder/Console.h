// Everything the encoder writes goes to standard error, one whole line per write,
// so that a reader polling the pipe never sees two lines interleaved.
#pragma once

#include <string>

namespace vidmora::encoder {

// Writes one line (a newline is appended).
void ConsoleLine(const std::string& line);

// The one line that reports a failure: message is "code: detail" (see Coded); a message
// without a known code is reported as a failed conversion step.
void ConsoleError(const std::string& message);

// A failure's message: its code (one of the protocol's error codes), ": " and the detail.
std::string Coded(const char* code, const std::string& detail);
// "out-of-memory: out of memory".
std::string OutOfMemory();
// The code for a system or library error (errno as AVERROR(errno), or an AVERROR) met
// while opening or reading the source, while writing the output, or in any other step
// (out-of-memory or encode-failed).
const char* SourceFailure(int averror);
const char* OutputFailure(int averror);
const char* StepFailure(int averror);

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
