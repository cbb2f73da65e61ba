// Which of a source's streams the MP4 keeps, decided once, up front, from a plain description
// of the streams (no media libraries), so each decision can be tried on made-up sources:
// - the picture is the film: never a cover (an attached picture) nor a still thumbnail (one
//   frame, or a smaller picture beside a larger one); of several films the largest;
// - with several programs (a broadcast), one program: the one with the largest picture, with
//   only its own sound and subtitles;
// - every sound track that can be used (decoded, or put into MP4 as it is in a copy); one that
//   cannot is left out with a warning while another can be used, the first one included;
// - every subtitle track of the source, in its order;
// - the first cover that MP4 can hold as its cover picture;
// - a stream that holds no packets at all is not planned;
// and what is left out, and why.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vidmora::encoder {

enum class StreamKind { Picture, Sound, Subtitle, Other };

// One stream of the source as the plan sees it.
struct StreamFacts {
  int index = -1;  // the stream's number in the source
  StreamKind kind = StreamKind::Other;
  std::string codec;             // "h264", for the reasons given
  bool attachedPicture = false;  // a cover stored as a picture stream
  bool coverFormat = false;      // an attached picture that MP4 can hold as its cover (JPEG, PNG, BMP)
  bool isDefault = false;        // marked as the default track of its kind
  int width = 0, height = 0;     // a picture's size as it is shown
  int64_t frames = -1;           // pictures or packets the source holds; -1 when unknown
  int64_t packetsSeen = 0;       // packets met in the scan of the source's start
  std::vector<int> programs;     // the programs that hold it (their ids); none outside programs
  // Why the stream cannot be used ("cannot be decoded", "cannot be copied into MP4 as it is");
  // "" when it decodes (converted) or goes into MP4 as it is (copied).
  std::string unusable;
  bool textSubtitle = false;  // subtitles as text, which MP4 keeps; false: drawn as pictures
};

struct SourceFacts {
  std::vector<StreamFacts> streams;  // in the source's order
  bool scannedToEnd = false;         // the scan met the end of the data: packetsSeen counts all
};

struct LeftOutStream {
  int index = -1;
  StreamKind kind = StreamKind::Other;
  std::string why;    // "sound track 2 (flac) cannot be decoded"
  bool warn = false;  // worth a warning line: something the user may have wanted is missing
};

struct KeptStream {
  int index = -1;
  StreamKind kind = StreamKind::Other;
  std::string why;  // "video stream 2 (h264) is the film: the largest of 2 moving pictures"
};

struct TrackPlan {
  int picture = -1;              // the film; -1 for none
  std::vector<int> sounds;       // in the source's order
  std::vector<int> subtitles;    // text and picture ones, in the source's order
  int cover = -1;                // an attached picture kept as the MP4's cover
  int program = -1;              // the program kept, when the source has more than one
  std::vector<KeptStream> kept;  // what is kept, and why, in the source's order
  std::vector<LeftOutStream> leftOut;
  std::string programWhy;  // why the program kept was chosen; "" with fewer than two
  // Set when nothing of a kind the source holds can be used: the film that cannot (no other
  // film can), the first sound track (none can). The caller refuses the source with its reason.
  int unusablePicture = -1;
  int unusableSound = -1;
};

TrackPlan PlanTracks(const SourceFacts& source);

// True when a picture stream is a still thumbnail rather than a film: one frame (counted by
// the source, or by the scan while another picture stream is well under way).
bool IsStillPicture(const StreamFacts& stream, const SourceFacts& source);

// Whether a stream with no packets met in the scan holds none at all (the scan read all).
bool HoldsNothing(const StreamFacts& stream, const SourceFacts& source);

// "sound track 2" style names: the stream's place among the source's streams of its kind, from 1.
int PlaceOfKind(const SourceFacts& source, int index);

}  // namespace vidmora::encoder
