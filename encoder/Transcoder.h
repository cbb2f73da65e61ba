// One conversion: the first video stream and every sound track of a source into an MP4
// file, with its text subtitles kept as tracks or drawn into the picture. Each stream is
// either copied as it is ("copy") or decoded, shaped by filter graphs (orientation,
// deinterlacing, HDR to SDR, size, frame rate, aspect; sampling rate, channels) and
// encoded. The file is written under a temporary name beside the output and put in
// place once complete.
#pragma once

#include "Options.h"

namespace vidmora::encoder {

// Runs the conversion to its end (or to an early stop) and reports on the console.
// Returns the process exit status: 0 once the output file is complete and in place
// (the summary line has then been written), non-zero after one error line.
int Convert(const Options& options);

}  // namespace vidmora::encoder
