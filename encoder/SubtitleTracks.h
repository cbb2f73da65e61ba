// The subtitles of one conversion: which of the source's subtitle tracks and of the files
// beside it are kept as MP4 text tracks or drawn into the picture, in what order, which
// one is the default; and their cues, on the output's clock.
//
// - Order: the source's tracks in its order, then the files beside it, Chinese first
//   (simplified, then traditional), then the others, each group by name.
// - Default (and the track drawn): the first Chinese track; else the one the source marks
//   default; else the first.
// - A track or file that cannot be read, decoded or drawn is left out with one warning line
//   and the conversion goes on; cues left out (reversed, before the start, past the bounds)
//   are counted in one warning line a track.
// - Time: a cue of the source moves with the picture's repaired clock at the point where it
//   is read; a file's cues wait until the picture has reached them on the source's own clock
//   and then move the same way, so both stay with the picture across a closed clock jump.
#pragma once

#include "LibraryObjects.h"
#include "SubtitleDrawing.h"
#include "SubtitlePictures.h"
#include "SubtitleText.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

extern "C" {
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
}

namespace vidmora::encoder {

class Source;

// The pictures subtitles are drawn into.
struct DrawingTarget {
  int width = 0, height = 0;              // the encoder's pictures
  double pixelAspect = 1;                 // their pixels' width over their height, as shown
  int sourceWidth = 0, sourceHeight = 0;  // the source's picture, on which picture cues are placed
};

class SubtitleTracks {
 public:
  SubtitleTracks() = default;
  ~SubtitleTracks();
  SubtitleTracks(const SubtitleTracks&) = delete;
  SubtitleTracks& operator=(const SubtitleTracks&) = delete;

  // Keeps each text track of src and each file beside input that reads as subtitles as an
  // MP4 text track in out, with its language and default flag.
  void Keep(AVFormatContext* out, const Source& src, const std::string& input);
  // Draws the default track (text or pictures) into the pictures of target; where it
  // cannot be drawn, the next track by the same rule. Nothing when none can be.
  void Draw(const Source& src, const std::string& input, const DrawingTarget& target);

  size_t KeptCount() const { return kept_.size(); }
  AVStream* KeptStream(size_t k) const { return kept_[k]->track.Stream(); }
  // What is drawn, for the console; "" when nothing is.
  const std::string& DrawingNote() const { return note_; }
  bool Drawing() const { return drawnText_ != nullptr || drawnPictures_ != nullptr; }

  // Takes each cue of a kept track as an MP4 packet; false when it cannot be taken.
  using CueSink = std::function<bool(size_t track, TPacketPtr cue)>;
  // A packet of the source; shift (AV_TIME_BASE units) moves its time to the output's.
  bool OnSourcePacket(const AVPacket* packet, int64_t shift, const CueSink& sink);
  // The picture has been read up to sourceTime (AV_TIME_BASE units on the source's own clock,
  // as its packets); the files' cues up to there go on, moved by shift.
  bool Reach(int64_t sourceTime, int64_t shift, const CueSink& sink);
  // Draws what is shown at seconds (the output's clock) onto a finished picture.
  bool DrawOn(AVFrame* frame, double seconds);
  // At the end of the source: the warnings of cues left out while converting.
  void Finish();

 private:
  // A file beside the source, read.
  struct File {
    std::string path, part;
    std::string language;  // a three-letter code, "" for none
    int rank = 2;          // see Language::Rank
    std::string header;    // its ASS header
    std::vector<TextCue> cues;
    bool ownStyles = false;  // ASS or SSA
  };
  // Where the cues of a track come from: a stream of the source, or a file's cues.
  struct Origin {
    const AVStream* stream = nullptr;
    File* file = nullptr;
    std::string name;  // for the console: "the source's subtitle track 2", "\"film.srt\""
  };
  struct Kept {
    Origin origin;
    TextCueReader reader;  // for a stream of the source
    TextTrack track;
    size_t next = 0;  // a file's first cue not yet passed on
  };

  std::vector<File> ReadFiles(const std::string& input, bool keepDrawings);
  std::vector<Origin> Order(const Source& src, bool withPictures);
  static int DefaultOf(const std::vector<Origin>& tracks);
  bool Pass(size_t k, TextCue cue, int64_t shift, const CueSink& sink);

  int64_t startTime_ = 0;  // the source's, where a file's zero lies
  std::vector<File> files_;
  std::vector<std::unique_ptr<Kept>> kept_;
  // Drawn: a text track (from the source: reader; from a file: drawnFile_) or pictures.
  std::unique_ptr<TextDrawing> drawnText_;
  std::unique_ptr<TextCueReader> drawnReader_;
  std::unique_ptr<PictureSubtitles> drawnPictures_;
  const File* drawnFile_ = nullptr;
  size_t drawnNext_ = 0;
  int drawnStream_ = -1;
  std::string drawnName_;
  std::string note_;
  std::vector<TextCue> decoded_;  // reused for each packet's cues
};

}  // namespace vidmora::encoder
