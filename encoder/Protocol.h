#pragma once
// The encoder's console protocol, shared by the encoder that speaks it and the
// conversion queue that reads it. Plain C++ without Qt, so both sides include it.
//
// - A progress line begins with kProgressMark and holds kTimeMark followed by the
//   elapsed output time in seconds ("time=12.48").
// - The summary line, written once the output file is complete and closed, holds
//   kSummaryMark. It is never written for a failed conversion.
// - A warning line begins with kWarningMark, then a short stable code, ": " and the
//   detail. It is written for a conversion that still succeeded but is not what the
//   user may expect (kWarnShortSource: the source's data ends before the length its
//   header states, and the output holds what the data holds).
// - An error line begins with kErrorMark followed by what went wrong. Only such lines
//   explain a failed conversion: the banner and other console text never do.
// - An output line begins with kOutputMark followed by the path of the finished file,
//   written when the file was put in place under another name than the one asked for
//   (that name was taken meanwhile).
// - kQuitKey arriving on the encoder's standard input asks it to finish early.
namespace vidmora::protocol {

inline constexpr char kProgressMark[] = "frame=";
inline constexpr char kTimeMark[] = "time=";
inline constexpr char kSummaryMark[] = "global headers:";
inline constexpr char kErrorMark[] = "Error: ";
inline constexpr char kWarningMark[] = "warning: ";
inline constexpr char kWarnShortSource[] = "short-source";
inline constexpr char kOutputMark[] = "output: ";
inline constexpr char kWarnNoPicture[] = "no-picture";
// Subtitle tracks drawn as pictures (DVD, Blu-ray, DVB) that MP4 cannot keep as text.
inline constexpr char kWarnPictureSubtitles[] = "picture-subtitles";
// A subtitle track or a subtitle file beside the source that cannot be read; the
// conversion goes on without it.
inline constexpr char kWarnSubtitleLeftOut[] = "subtitle-left-out";
// A further sound track left out: a stream copy cannot put it into MP4 as it is, or it
// cannot be decoded.
inline constexpr char kWarnSoundLeftOut[] = "sound-left-out";
// The tracks the output keeps, said once before the first progress line:
// "tracks: sound=2 subtitles=1".
inline constexpr char kTracksMark[] = "tracks: ";
inline constexpr char kQuitKey = 'q';

}  // namespace vidmora::protocol
