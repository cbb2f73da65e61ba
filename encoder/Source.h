// The source of a conversion: the file opened and probed, its first picture stream, every
// sound track and its subtitle tracks picked, a decoder opened for each picture or sound
// stream that is not copied as it is, and what its header says of its start and length.
#pragma once

#include "LibraryObjects.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace vidmora::encoder {

struct InputStream {
  int index = -1;
  AVStream* stream = nullptr;
  TCodecPtr decoder;               // none when the stream is copied
  TFramePtr frame;                 // what the decoder gives, reused for every picture or sound frame
  int repairId = -1;               // the stream's number in the timestamp repair
  int soundNumber = 0;             // a sound track's place among the source's, from 1
  std::deque<TPacketPtr> waiting;  // packets the repair holds back (see TimestampRepair::Holding)
};

class Source {
 public:
  Source() = default;
  ~Source();
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  // Opens path as a plain local file and picks its streams; the video or the sound tracks
  // are to be copied as they are when copyVideo or copyAudio. "" or the one line that
  // refuses it. A further sound track that MP4 cannot hold as it is (in a copy) or that
  // cannot be decoded is left out and named in leftOut.
  std::string Open(const std::string& path, bool copyVideo, bool copyAudio);

  // The rate the first pictures' own timestamps show, read from a second opening of the
  // source; {0, 1} when they show none (or the source is a pipe, which is read once).
  AVRational MeasuredFrameRate();

  bool Copies(const InputStream& in) const {
    return in.index >= 0 && (&in == &video ? copyVideo_ : copyAudio_);
  }
  // The stream of the first sound track; nullptr without one.
  const InputStream* FirstSound() const { return sounds.empty() ? nullptr : &sounds.front(); }

  AVFormatContext* context = nullptr;
  InputStream video;
  std::vector<InputStream> sounds;  // every sound track, in the source's order
  // The subtitle tracks, in the source's order: text ones (which MP4 holds as text) and
  // the picture ones (which it cannot), apart.
  std::vector<AVStream*> textSubtitles, pictureSubtitles;
  std::vector<std::string> leftOut;  // sound tracks left out, each with why
  // AV_TIME_BASE units, subtracted from every timestamp: the earlier start of the two streams.
  int64_t startTime = 0;
  // AV_TIME_BASE units from startTime; AV_NOPTS_VALUE when the source states no length (a
  // length estimated from the bit rate states nothing). It only tells the progress how far
  // the conversion has come, and whether the data ends before it.
  int64_t announcedEnd = AV_NOPTS_VALUE;

 private:
  bool OpenFile(AVFormatContext** opened);

  std::string path_;
  bool copyVideo_ = false, copyAudio_ = false;
  bool isFile_ = false;  // a regular file, which can be opened twice (a pipe cannot)
  int openError_ = 0;
};

}  // namespace vidmora::encoder
