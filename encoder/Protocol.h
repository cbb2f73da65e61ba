#pragma once
// The encoder's console protocol, shared by the encoder that speaks it and the
// conversion queue that reads it. Plain C++ without Qt, so both sides include it.
//
// - A progress line begins with kProgressMark and holds kTimeMark followed by the
//   elapsed output time in seconds ("time=12.48").
// - The summary line, written once the output file is complete and closed, holds
//   kSummaryMark. It is never written for a failed conversion.
// - kQuitKey arriving on the encoder's standard input asks it to finish early.
namespace vidmora::protocol {

inline constexpr char kProgressMark[] = "frame=";
inline constexpr char kTimeMark[] = "time=";
inline constexpr char kSummaryMark[] = "global headers:";
inline constexpr char kQuitKey = 'q';

}  // namespace vidmora::protocol
