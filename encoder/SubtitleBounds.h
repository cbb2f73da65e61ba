// Bounds on what one subtitle cue may ask of the encoder, applied to its text before any
// library parses, encodes or draws it. Subtitle text comes from strangers, and the ASS
// language lets a few bytes ask for a glyph larger than the picture, a drawing of millions
// of points or transforms nested thousands deep; FFmpeg's MP4 text encoder and libass
// then work for minutes or gigabytes, beyond the reach of a stop. Works on text alone.
//
// An event is the line FFmpeg's subtitle decoders give for a cue, nine fields joined by
// commas: "ReadOrder,Layer,Style,Name,MarginL,MarginR,MarginV,Effect,Text". Its Text mixes
// plain text with override blocks "{\tag...}"; after "{\p1}" the text is a drawing (pairs
// of coordinates after commands such as "m" and "l") up to "{\p0}".
#pragma once

#include <string>

namespace vidmora::encoder {

// The limits, chosen far above what real subtitles use and far below what costs time:
// - kMaxCueText: bytes of text one cue shows (a screen holds a few hundred characters);
// - kMaxEventBytes: bytes of the whole Text field with its override blocks and drawings
//   (drawings take at most half);
// - kMaxBlocks: override blocks in a cue (a karaoke line has one a syllable);
// - kMaxNesting: parentheses inside one another ("\t(\clip(...))" is 2; deeper is no ASS);
// - kMaxDrawingPoints: coordinate pairs of the drawings and vector clips in a cue (a traced
//   logo has a few thousand);
// - kMaxScale: percent for \fscx and \fscy; kMaxEdgeShare: outline and shadow at most this
//   share of the script's height; kMaxBlur: \blur and \be.
// Font sizes are clamped to the script's height (PlayResY): a glyph as tall as the picture.
inline constexpr size_t kMaxCueText = 4096;
inline constexpr size_t kMaxEventBytes = 65536;
inline constexpr int kMaxBlocks = 256;
inline constexpr int kMaxNesting = 2;
inline constexpr long kMaxDrawingPoints = 5000;
inline constexpr double kMaxScale = 400;
inline constexpr double kMaxEdgeShare = 0.125;
inline constexpr double kMaxBlur = 20;

// What bounding a cue changed.
struct BoundReport {
  bool textCut = false;     // text beyond kMaxCueText or kMaxEventBytes
  bool blocksCut = false;   // override blocks dropped: too many or nested too deep
  bool drawingCut = false;  // drawings beyond kMaxDrawingPoints, or every drawing (keepDrawings false)
  bool clamped = false;     // a size, scale, edge or blur brought within its bound

  bool Any() const { return textCut || blocksCut || drawingCut || clamped; }
};

// The event with its Text bounded for a script playResY high; the other fields as they are
// (an Effect field of more than 256 bytes is emptied). keepDrawings false drops drawings
// altogether (MP4 text cannot show them). report may be nullptr.
std::string BoundEvent(const std::string& event, int playResY, bool keepDrawings, BoundReport* report);

// The script's header (everything before its events) with the styles' font sizes, scales,
// outlines, shadows and spacing clamped as in events.
std::string BoundHeader(const std::string& header, BoundReport* report);

// The height the script's positions and sizes refer to: its PlayResY, else worked out from
// its PlayResX as libass does (4:3 for most widths), else 288.
int PlayResY(const std::string& header);

// The Text field of an event.
std::string EventText(const std::string& event);

// What an event shows as text: the Text without override blocks and drawings, "\N" and
// "\n" as line breaks, "\h" as a blank.
std::string PlainText(const std::string& event);

}  // namespace vidmora::encoder
