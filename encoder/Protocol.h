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
// - An error line begins with kErrorMark, then a short stable code for the kind of
//   failure (one of kErrorCodes), ": " and the technical detail in English. Only such
//   lines explain a failed conversion: the banner and other console text never do.
//   After kErrSourceIncomplete the last progress line holds how much was converted.
// - An output line begins with kOutputMark followed by the path of the finished file,
//   written when the file was put in place under another name than the one asked for
//   (that name was taken meanwhile).
// - A length line begins with kLengthMark followed by the length in seconds that the
//   progress lines' times work towards ("length: 300.00"): the content the source holds
//   once its clock is repaired. It is written before the first progress line from what
//   the source states (or, when it states nothing, from how much of the file has been
//   read), and written again whenever the encoder learns better: a closed jump in the
//   source's clock, content read past it, and the exact content once the source is read
//   to its end (before the last progress line and the summary).
// - An unfinished line begins with kUnfinishedMark followed by the path of the file a
//   stopped conversion left: complete as a file and playable, but shorter than the source.
//   It never takes the output's name: it is named by UnfinishedName (or, when that is
//   taken, the next free "name (未完成) (1).mp4", ...). No summary follows it.
// - kQuitKey arriving on the encoder's standard input asks it to finish early.
#include <string>

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
// Cues of a subtitle track left out or cut down: cues that end before they start or lie
// before the start, text and drawings beyond the bounds a cue may ask, cues that took too
// long to draw. The rest of the track is kept.
inline constexpr char kWarnSubtitleCues[] = "subtitle-cues";
// A sound track left out while another is kept: a stream copy cannot put it into MP4 as it
// is, it cannot be decoded, or it turned out to hold no sound.
inline constexpr char kWarnSoundLeftOut[] = "sound-left-out";
// The tracks the output keeps, said once before the first progress line:
// "tracks: sound=2 subtitles=1"; said again before the summary when a track turned out to
// hold nothing (the last one counts).
inline constexpr char kTracksMark[] = "tracks: ";
inline constexpr char kLengthMark[] = "length: ";
inline constexpr char kUnfinishedMark[] = "unfinished: ";
// What an unfinished file's name adds to the output's, before its extension (UTF-8).
inline constexpr char kUnfinishedTag[] = " (未完成)";
inline constexpr char kQuitKey = 'q';

// The name a stopped conversion's file takes instead of output: "long300.mp4" becomes
// "long300 (未完成).mp4" in the same folder.
inline std::string UnfinishedName(const std::string& output) {
  const std::string::size_type slash = output.find_last_of('/');
  const std::string::size_type nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::string::size_type dot = output.find_last_of('.');
  const bool hasExt = dot != std::string::npos && dot > nameStart;
  return hasExt ? output.substr(0, dot) + kUnfinishedTag + output.substr(dot) : output + kUnfinishedTag;
}

// Error codes. The command line is malformed:
inline constexpr char kErrBadOption[] = "bad-option";
// The chosen encoder or value cannot be used (not available, a rate or channel count it
// does not take):
inline constexpr char kErrOptionUnsupported[] = "option-unsupported";
// The source is not there / cannot be read (permissions, a read error) / is a folder,
// pipe, device or list of other files / holds no readable video or sound / is in a
// format nothing here decodes / ends in damaged data after part of it was converted:
inline constexpr char kErrSourceMissing[] = "source-missing";
inline constexpr char kErrSourceUnreadable[] = "source-unreadable";
inline constexpr char kErrSourceNotRegular[] = "source-not-regular";
inline constexpr char kErrSourceDamaged[] = "source-damaged";
inline constexpr char kErrSourceUnsupported[] = "source-unsupported";
inline constexpr char kErrSourceIncomplete[] = "source-incomplete";
// A stream that MP4 cannot hold as it is was to be copied:
inline constexpr char kErrCopyUnsupported[] = "copy-unsupported";
// The output's disk is full (or the user's quota spent) / the file is larger than its
// file system allows / the folder cannot be written / the name cannot be used there /
// the output is the source file itself:
inline constexpr char kErrOutputFull[] = "output-full";
inline constexpr char kErrOutputTooLarge[] = "output-too-large";
inline constexpr char kErrOutputUnwritable[] = "output-unwritable";
inline constexpr char kErrOutputName[] = "output-name";
inline constexpr char kErrOutputIsSource[] = "output-is-source";
inline constexpr char kErrOutOfMemory[] = "out-of-memory";
// Anything else that went wrong while converting (a library step failed):
inline constexpr char kErrEncodeFailed[] = "encode-failed";
// A stop came before anything was converted, or a second stop gave up at once:
inline constexpr char kErrStopped[] = "stopped";

inline constexpr const char* kErrorCodes[] = {
    kErrBadOption,        kErrOptionUnsupported, kErrSourceMissing,     kErrSourceUnreadable,
    kErrSourceNotRegular, kErrSourceDamaged,     kErrSourceUnsupported, kErrSourceIncomplete,
    kErrCopyUnsupported,  kErrOutputFull,        kErrOutputTooLarge,    kErrOutputUnwritable,
    kErrOutputName,       kErrOutputIsSource,    kErrOutOfMemory,       kErrEncodeFailed,
    kErrStopped};

}  // namespace vidmora::protocol
