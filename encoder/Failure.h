// A failure as a value: the kind of failure (a code of the protocol's table) and the detail in
// English. It is made where the failure arises, carried up as it is, and worded once, in the
// error line (Console.h); nothing reads a message back to learn its kind.
#pragma once

#include "Protocol.h"

#include <optional>
#include <string>

namespace vidmora::encoder {

using protocol::ErrorCode;
using protocol::WarningCode;

struct Failure {
  ErrorCode code = ErrorCode::EncodeFailed;
  std::string detail;
};

// What a step that may fail gives: nothing when it went well, else why it failed.
using MaybeFailure = std::optional<Failure>;

// {out-of-memory, "out of memory"}.
Failure OutOfMemory();

// The code for a system or library error (errno as AVERROR(errno), or an AVERROR) met while
// opening or reading the source, while writing the output, or in any other step
// (out-of-memory or encode-failed).
ErrorCode SourceFailure(int averror);
ErrorCode OutputFailure(int averror);
ErrorCode StepFailure(int averror);

}  // namespace vidmora::encoder
