// One conversion: the first video stream and every sound track of a source, decoded,
// shaped by filter graphs (size, frame rate, aspect, sampling rate, channels) and
// encoded into an MP4 file, with its subtitles kept as text tracks or drawn into the picture.
#pragma once

#include "Options.h"

namespace vidmora::encoder {

// Runs the conversion to its end (or to an early stop) and reports on the console.
// Returns the process exit status: 0 once the output file is complete and in place
// (the summary line has then been written), non-zero after one error line.
int Convert(const Options& options);

}  // namespace vidmora::encoder
