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
#include "OutputNaming.h"

#include <cstddef>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace vidmora::protocol {

inline constexpr char kProgressMark[] = "frame=";
inline constexpr char kTimeMark[] = "time=";
inline constexpr char kSummaryMark[] = "global headers:";
inline constexpr char kErrorMark[] = "Error: ";
inline constexpr char kWarningMark[] = "warning: ";
inline constexpr char kOutputMark[] = "output: ";
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
  return naming::TaggedName(output, kUnfinishedTag);
}

// Error codes, one row each: the name the programs use, its spelling on the console, and
// what it means. The encoder carries a failure as a value {code, detail} from where it arises
// to its error line; the queue words each code for the user. A new code is one row here, its
// sentence on the queue's side and one test row.
#define VIDMORA_ERROR_CODES(X)                                                                      \
  /* The command line is malformed. */                                                              \
  X(BadOption, "bad-option")                                                                        \
  /* The chosen encoder or value cannot be used (not available, a rate or channel count it does  */ \
  /* not take). */                                                                                  \
  X(OptionUnsupported, "option-unsupported")                                                        \
  /* The source is not there / cannot be read (permissions, a read error) / is a folder, pipe,   */ \
  /* device or list of other files / holds no readable video or sound / is in a format nothing   */ \
  /* here decodes / ends in damaged data after part of it was converted. */                         \
  X(SourceMissing, "source-missing")                                                                \
  X(SourceUnreadable, "source-unreadable")                                                          \
  X(SourceNotRegular, "source-not-regular")                                                         \
  X(SourceDamaged, "source-damaged")                                                                \
  X(SourceUnsupported, "source-unsupported")                                                        \
  X(SourceIncomplete, "source-incomplete")                                                          \
  /* A stream that MP4 cannot hold as it is was to be copied. */                                    \
  X(CopyUnsupported, "copy-unsupported")                                                            \
  /* The output's disk is full (or the user's quota spent) / the file is larger than its file    */ \
  /* system allows / the folder cannot be written / the name cannot be used there / the output   */ \
  /* is the source file itself. */                                                                  \
  X(OutputFull, "output-full")                                                                      \
  X(OutputTooLarge, "output-too-large")                                                             \
  X(OutputUnwritable, "output-unwritable")                                                          \
  X(OutputName, "output-name")                                                                      \
  X(OutputIsSource, "output-is-source")                                                             \
  X(OutOfMemory, "out-of-memory")                                                                   \
  /* Anything else that went wrong while converting (a library step failed). */                     \
  X(EncodeFailed, "encode-failed")                                                                  \
  /* A stop came before anything was converted, or a second stop gave up at once. */                \
  X(Stopped, "stopped")

// Warning codes, likewise: a warning line is written for a conversion that still succeeded
// but is not what the user may expect.
#define VIDMORA_WARNING_CODES(X)                                                                   \
  /* The source's data ends before the length its header states; the output holds what the     */  \
  /* data holds. */                                                                                \
  X(ShortSource, "short-source")                                                                   \
  /* A picture copy was asked of a source that holds none: its sound is converted alone. */        \
  X(NoPicture, "no-picture")                                                                       \
  /* Subtitle tracks drawn as pictures (DVD, Blu-ray, DVB) that MP4 cannot keep as text. */        \
  X(PictureSubtitles, "picture-subtitles")                                                         \
  /* A subtitle track or a subtitle file beside the source that cannot be read; the conversion  */ \
  /* goes on without it. */                                                                        \
  X(SubtitleLeftOut, "subtitle-left-out")                                                          \
  /* Cues of a subtitle track left out or cut down: cues that end before they start or lie      */ \
  /* before the start, text and drawings beyond the bounds a cue may ask, cues that took too    */ \
  /* long to draw. The rest of the track is kept. */                                               \
  X(SubtitleCues, "subtitle-cues")                                                                 \
  /* A sound track left out while another is kept: a stream copy cannot put it into MP4 as it   */ \
  /* is, it cannot be decoded, or it turned out to hold no sound. */                               \
  X(SoundLeftOut, "sound-left-out")

#define VIDMORA_CODE_NAME(name, spelling) name,
#define VIDMORA_CODE_SPELLING(name, spelling) spelling,
#define VIDMORA_ERROR_CONSTANT(name, spelling) inline constexpr const char* kErr##name = spelling;
#define VIDMORA_WARNING_CONSTANT(name, spelling) inline constexpr const char* kWarn##name = spelling;

enum class ErrorCode { VIDMORA_ERROR_CODES(VIDMORA_CODE_NAME) };
enum class WarningCode { VIDMORA_WARNING_CODES(VIDMORA_CODE_NAME) };

// Each code's spelling, in the order of its enum.
inline constexpr const char* kErrorCodes[] = {VIDMORA_ERROR_CODES(VIDMORA_CODE_SPELLING)};
inline constexpr const char* kWarningCodes[] = {VIDMORA_WARNING_CODES(VIDMORA_CODE_SPELLING)};

inline constexpr const char* Spelling(ErrorCode code) { return kErrorCodes[static_cast<int>(code)]; }
inline constexpr const char* Spelling(WarningCode code) { return kWarningCodes[static_cast<int>(code)]; }

// The code a line spells, or none for a spelling not in the table (a newer encoder's code, or
// none at all): the reader of a line's "code: detail".
template <class Code, std::size_t N>
std::optional<Code> CodeSpelled(std::string_view spelling, const char* const (&spellings)[N]) {
  for (std::size_t i = 0; i < N; ++i)
    if (spelling == spellings[i]) return static_cast<Code>(i);
  return std::nullopt;
}
inline std::optional<ErrorCode> ErrorCodeSpelled(std::string_view spelling) {
  return CodeSpelled<ErrorCode>(spelling, kErrorCodes);
}
inline std::optional<WarningCode> WarningCodeSpelled(std::string_view spelling) {
  return CodeSpelled<WarningCode>(spelling, kWarningCodes);
}

// The spellings by name, for code that compares a line's code with one of them:
// kErrSourceIncomplete, kWarnSoundLeftOut, ...
VIDMORA_ERROR_CODES(VIDMORA_ERROR_CONSTANT)
VIDMORA_WARNING_CODES(VIDMORA_WARNING_CONSTANT)

#undef VIDMORA_CODE_NAME
#undef VIDMORA_CODE_SPELLING
#undef VIDMORA_ERROR_CONSTANT
#undef VIDMORA_WARNING_CONSTANT

}  // namespace vidmora::protocol
