// The source of a conversion: the file opened and probed, its start scanned, its streams
// picked through the track plan (the film, every sound track, its subtitle tracks and its
// cover), a decoder opened for each picture or sound stream that is not copied as it is, and
// what its header says of its start and length.
#pragma once

#include "Failure.h"
#include "LibraryObjects.h"
#include "TrackPlan.h"

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
  std::deque<TPacketPtr> waiting;  // packets the repair holds back (see TimestampRepair::Holding)
};

class Source {
 public:
  Source() = default;
  ~Source();
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  // Opens path as a plain local file and picks its streams through the track plan; the
  // video or the sound tracks are to be copied as they are when copyVideo or copyAudio.
  // Returns why it is refused, if it is. A sound track that MP4 cannot hold as it is (in a copy)
  // or that cannot be decoded is left out and named in leftOut while another can be kept;
  // the other streams left out are named in notes.
  MaybeFailure Open(const std::string& path, bool copyVideo, bool copyAudio);

  // The rate the first pictures' own timestamps show, read in the scan of the source's start;
  // {0, 1} when they show none (or the source is a pipe, which is read once).
  AVRational MeasuredFrameRate() const;

  bool Copies(const InputStream& in) const {
    return in.index >= 0 && (&in == &video ? copyVideo_ : copyAudio_);
  }
  // The stream whose clock cues and chapters follow: the picture, or else the first sound
  // track; nullptr with neither.
  const InputStream* ClockStream() const {
    return video.index >= 0 ? &video : sounds.empty() ? nullptr : &sounds.front();
  }

  // The stream's place among the source's streams of its kind, from 1 ("sound track 2").
  int PlaceOfKind(int index) const;

  // The threads each decoder uses (set before Open); 0: the library chooses by the cores.
  int threads = 0;
  AVFormatContext* context = nullptr;
  InputStream video;
  std::vector<InputStream> sounds;  // every sound track, in the source's order
  // The subtitle tracks, in the source's order: text ones (which MP4 holds as text) and
  // the picture ones (which it cannot), apart.
  std::vector<AVStream*> textSubtitles, pictureSubtitles;
  AVStream* cover = nullptr;         // an attached picture kept as the MP4's cover
  std::vector<std::string> leftOut;  // tracks left out that the user may miss, each with why
  std::vector<std::string> notes;    // other streams left out, each with why
  // AV_TIME_BASE units, subtracted from every timestamp: the earlier start of the two streams.
  int64_t startTime = 0;
  // AV_TIME_BASE units from startTime; AV_NOPTS_VALUE when the source states no length (a
  // length estimated from the bit rate states nothing). It only tells the progress how far
  // the conversion has come, and whether the data ends before it.
  int64_t announcedEnd = AV_NOPTS_VALUE;

 private:
  bool OpenFile(AVFormatContext** opened);
  MaybeFailure Refusal();                    // nothing when the file opens as a plain media file
  void Scan();                               // reads the start of the data through a second opening
  SourceFacts Facts() const;                 // the streams as the track plan sees them
  MaybeFailure Pick(const TrackPlan& plan);  // takes the plan's streams, or refuses the source
  MaybeFailure OpenDecoder(InputStream& in);
  void FindStart();

  std::string path_;
  bool copyVideo_ = false, copyAudio_ = false;
  bool isFile_ = false;  // a regular file, which can be opened twice (a pipe cannot)
  int openError_ = 0;
  // What the scan met: packets per stream, whether it read to the end, and the first
  // timestamps of each picture stream.
  std::vector<int64_t> packetsSeen_;
  bool scannedToEnd_ = false;
  std::vector<std::vector<int64_t>> pictureTimes_;
};

}  // namespace vidmora::encoder
