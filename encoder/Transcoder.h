// One conversion: the first video and the first audio stream of a source, decoded,
// shaped by filter graphs (size, frame rate, aspect, sampling rate, channels) and
// encoded into an MP4 file.
#pragma once

#include "Options.h"

namespace vidmora::encoder {

// Runs the conversion to its end (or to an early stop) and reports on the console.
// Returns the process exit status: 0 once the output file is complete and in place
// (the summary line has then been written), non-zero after one error line.
int Convert(const Options& options);

}  // namespace vidmora::encoder
