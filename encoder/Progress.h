// What the encoder reports of a conversion's course and end: the progress lines, the
// warning for a source that ends before its header says, and the summary; and the checks
// at the end that measure the output against the content the source held.
#pragma once

#include <cstdint>
#include <string>

namespace vidmora::encoder {

// "frame=  123 fps= 45 size=    512kB time=4.92 bitrate= 852.5kbits/s speed=1.77x":
// pictures encoded, seconds since the start, bytes written, seconds of output written.
std::string ProgressLine(int64_t frames, double elapsed, int64_t bytes, double seconds);

// What the length the progress works towards is known from, as the source is read.
struct LengthClues {
  double stated = -1;    // seconds the source states (or its bit rate suggests); negative: none
  double shift = 0;      // seconds the repaired clock moved the current part by (pause: negative)
  int jumps = 0;         // jumps in the source's clock closed so far
  double content = 0;    // seconds of content read so far, on the repaired clock
  double readShare = 0;  // share of the source file read so far (0 to 1; 0: not known)
  bool ended = false;    // the source has been read to its end: content is all there is
};

// The length in seconds the progress works towards: the stated length until the source
// shows it is wrong (a jump closed in its clock moves the end by the jump; content read
// past it, or nothing stated, is carried on by the share of the file read), never less
// than the content read, and the content itself once the source is read to its end.
// Negative while nothing tells it.
double WorkingLength(const LengthClues& clues);

// "length: 300.00".
std::string LengthLine(double seconds);

// The summary, written last once the file is complete and in place: the bytes of each
// stream and of their headers, and the container's share beyond them in a file of fileSize.
std::string SummaryLine(int64_t videoBytes, int64_t audioBytes, int64_t headerBytes, int64_t fileSize);

// True when the source's data (ending at dataEnd seconds on its own clock) ends before the
// length its header states (seconds; negative: none stated): the header is stale, or the
// file lost its end. The output holds what the data holds all the same.
bool EndsEarly(double dataEnd, double stated);
std::string ShortSourceLine(double dataEnd, double stated);

// True when the output (seconds written) falls short of the content read (seconds, gaps
// closed) by more than encoding can explain: content was lost in decoding.
bool LostContent(double written, double content);

}  // namespace vidmora::encoder
