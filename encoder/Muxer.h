// The output stage: the MP4 writer, written through the descriptor of the temporary file,
// and the order in which the encoded streams reach it.
#pragma once

#include "Failure.h"
#include "LibraryObjects.h"
#include "StreamCopy.h"
#include "UserData.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

extern "C" {
struct AVDictionary;
struct AVFormatContext;
struct AVPacket;
struct AVStream;
}

namespace vidmora::encoder {

struct OutputStream {
  TCodecPtr encoder;  // none when the stream is copied
  StreamCopy copy;
  AVStream* stream = nullptr;
  TPacketPtr packet;  // what the encoder gives, reused for every packet
  int64_t bytes = 0;
  int64_t frames = 0;
  int64_t nextPts = AV_NOPTS_VALUE;  // sound: where the next frame should start
  int64_t lastDts = AV_NOPTS_VALUE;  // last decoding time written
};

// A track's names from the source's tags of it: its language and title, the title also as
// the handler's name, by which MP4 players name a track.
void KeepTrackNames(AVStream* out, const AVDictionary* from);

class Muxer {
 public:
  // video: the output's picture stream, which the writer gets once it is added.
  // displayName: the output's name as the console shows it.
  Muxer(OutputStream& video, std::string displayName) : video_(video), name_(std::move(displayName)) {}
  ~Muxer();
  Muxer(const Muxer&) = delete;
  Muxer& operator=(const Muxer&) = delete;

  // The MP4 writer for path, to which streams are then added. False when it is not available.
  bool Create(const std::string& path);
  AVFormatContext* Context() const { return out_; }
  // The source's cover (an attached picture) kept as the MP4's cover: added before the
  // header, its picture written with it. False when memory ran out.
  bool AddCover(const AVStream* source);
  // User-data strings added once the file is complete (see UserData.h).
  void SetUserData(std::vector<UserDataString> strings) { userData_ = std::move(strings); }
  // Writes the header into the file open at fd. False on failure (Error() tells why).
  bool Start(int fd);
  // A chapter, in AV_TIME_BASE units from the output's start, with the source's tags (its
  // title): added after the header, the writer puts it in as the file is completed.
  bool AddChapter(int64_t start, int64_t end, const AVDictionary* tags);

  // One packet whose timestamps are in its output stream's time base. Subtitles do not
  // count towards the output's time: the cues of a subtitle file are all known at the start.
  bool Write(OutputStream& out, AVPacket* packet);
  // A picture: written, and then the sound it has caught up with.
  bool WritePicture(AVPacket* packet);
  // Encoded sound is held until the pictures have reached its time, so that a stop that
  // leaves the pictures inside the encoder unwritten can leave the sound after them out
  // too. (The picture encoder holds a second or more; the sound encoder next to nothing.)
  bool HoldSound(OutputStream& out, AVPacket* packet);
  // Writes the sound held up to upTo seconds (all of it: HUGE_VAL).
  bool WriteHeldSound(double upTo);

  // Completes the file (its index), then closes the writer's buffer and adds the user data.
  // False on failure; user data that cannot be added leaves the file as it was and is told
  // by UserDataError().
  bool Finish();
  bool Close();
  const std::string& UserDataError() const { return userDataError_; }

  int64_t Position() const;                          // bytes written so far
  double OutputTime() const { return outputTime_; }  // seconds of output written so far
  double VideoEnd() const { return videoEnd_; }      // seconds: the end of the pictures written
  const MaybeFailure& Error() const { return error_; }

 private:
  bool Failed(Failure failure) {
    if (!error_) error_ = std::move(failure);
    return false;
  }
  int CloseIo();  // the write error seen, if any

  OutputStream& video_;
  std::string name_;
  AVFormatContext* out_ = nullptr;
  int fd_ = -1;  // the temporary file's descriptor, as the writer's opaque
  const AVStream* coverSource_ = nullptr;
  AVStream* cover_ = nullptr;
  std::vector<UserDataString> userData_;
  std::string userDataError_;
  bool finished_ = false;  // the trailer is written
  struct HeldPacket {
    OutputStream* out;
    TPacketPtr packet;
    double Time() const;  // seconds; NAN without a timestamp
  };
  std::deque<HeldPacket> heldSound_;  // of every sound track, in the order encoded
  double outputTime_ = 0;
  double videoEnd_ = 0;
  MaybeFailure error_;
};

}  // namespace vidmora::encoder
