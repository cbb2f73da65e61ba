// A source stream put into the MP4 file as it is, without decoding: its packets only get
// timestamps that count from the conversion's start and, where the source's framing
// differs from MP4's, a bitstream filter.
#pragma once

#include "Failure.h"

#include <cstdint>
#include <functional>
#include <string>

extern "C" {
struct AVBSFContext;
struct AVCodecParameters;
struct AVFormatContext;
struct AVPacket;
struct AVStream;
}

namespace vidmora::encoder {

// "" when MP4 can hold the stream's codec as it is (video: H.264, H.265, MPEG-4 Part 2,
// MPEG-1, MPEG-2, VP9, AV1; sound: AAC, MP3, MP2, AC-3, E-AC-3), otherwise why the copy is
// refused.
MaybeFailure CheckCopyable(const AVCodecParameters* par);

class StreamCopy {
 public:
  // Receives each packet ready for the file, its timestamps in the output stream's time
  // base; returns false when the packet could not be written (it has reported why).
  using Writer = std::function<bool(AVPacket*)>;

  StreamCopy() = default;
  ~StreamCopy();
  StreamCopy(const StreamCopy&) = delete;
  StreamCopy& operator=(const StreamCopy&) = delete;

  // Adds the copy of source to out, before its header is written. startTime (in
  // AV_TIME_BASE units) is where the output's time zero lies in the source.
  // Returns why it failed, if it did.
  MaybeFailure Open(AVFormatContext* out, AVStream* source, int64_t startTime);
  bool IsOpen() const { return out_ != nullptr; }
  AVStream* Stream() const { return out_; }

  // One packet of the source stream, or nullptr at the end to pass on what the filter
  // still holds. False on failure: Error() tells why, or is empty when write failed.
  bool Push(AVPacket* packet, const Writer& write);
  const MaybeFailure& Error() const { return error_; }

 private:
  void FillTimestamps(AVPacket* packet);
  bool Pass(AVPacket* packet, const Writer& write);

  AVStream* source_ = nullptr;
  AVStream* out_ = nullptr;
  AVBSFContext* filter_ = nullptr;
  AVPacket* filtered_ = nullptr;   // what the filter gives, reused for every packet
  int64_t offset_ = 0;             // the output's time zero, in the source's time base
  int64_t nextDts_ = INT64_MIN;    // where the next packet is due, likewise
  int64_t frameDuration_ = 0;      // a picture's or sound packet's length, likewise
  bool waitsForKeyFrame_ = false;  // pictures before the first key frame cannot be shown
  int skippedPictures_ = 0;
  MaybeFailure error_;
};

}  // namespace vidmora::encoder
