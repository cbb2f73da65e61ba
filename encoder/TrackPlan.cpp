#include "TrackPlan.h"

#include <algorithm>

namespace vidmora::encoder {

namespace {

// A picture stream this far under way in the scan is a film: a still beside it shows one frame.
constexpr int64_t kPacketsOfAFilm = 10;

bool InProgram(const StreamFacts& s, int program) {
  return program < 0 || s.programs.empty() ||
         std::find(s.programs.begin(), s.programs.end(), program) != s.programs.end();
}

int64_t Area(const StreamFacts& s) { return int64_t(s.width) * s.height; }

const char* KindName(StreamKind kind) {
  switch (kind) {
    case StreamKind::Picture:
      return "video stream";
    case StreamKind::Sound:
      return "sound track";
    case StreamKind::Subtitle:
      return "subtitle track";
    case StreamKind::Other:
      break;
  }
  return "stream";
}

// "sound track 2 (flac)"
std::string Name(const SourceFacts& source, const StreamFacts& s) {
  return std::string(KindName(s.kind)) + " " + std::to_string(PlaceOfKind(source, s.index)) + " (" + s.codec +
         ")";
}

// The films of a program: pictures that are neither covers nor stills beside a moving
// picture, nor empty. Stills count when nothing moves.
std::vector<const StreamFacts*> Films(const SourceFacts& source, int program) {
  std::vector<const StreamFacts*> moving, still;
  for (const StreamFacts& s : source.streams) {
    if (s.kind != StreamKind::Picture || s.attachedPicture || !InProgram(s, program) ||
        HoldsNothing(s, source))
      continue;
    (IsStillPicture(s, source) ? still : moving).push_back(&s);
  }
  return moving.empty() ? still : moving;
}

// The film that is kept of several: one that can be used before one that cannot, then the
// largest, then the one marked default, then the first.
const StreamFacts* BestFilm(const std::vector<const StreamFacts*>& films) {
  const StreamFacts* best = nullptr;
  for (const StreamFacts* s : films) {
    if (!best) {
      best = s;
      continue;
    }
    const bool usable = s->unusable.empty(), bestUsable = best->unusable.empty();
    if (usable != bestUsable) {
      if (usable) best = s;
      continue;
    }
    if (Area(*s) != Area(*best)) {
      if (Area(*s) > Area(*best)) best = s;
      continue;
    }
    if (s->isDefault && !best->isDefault) best = s;
  }
  return best;
}

// The program kept of several: the one whose film is the largest (the first of equals); with
// no pictures at all, the first that holds sound; -1 when the source has fewer than two. *why
// says which rule chose it.
int ChooseProgram(const SourceFacts& source, std::string* why) {
  std::vector<int> programs;
  for (const StreamFacts& s : source.streams)
    for (int id : s.programs)
      if (std::find(programs.begin(), programs.end(), id) == programs.end()) programs.push_back(id);
  if (programs.size() < 2) return -1;
  int chosen = -1;
  int64_t largest = -1;
  for (int id : programs) {
    const StreamFacts* film = BestFilm(Films(source, id));
    // A program whose film cannot be used loses to one whose film can.
    const int64_t area = film ? (film->unusable.empty() ? Area(*film) + 1 : 0) : -1;
    if (area > largest) {
      largest = area;
      chosen = id;
    }
  }
  const std::string name = "program ";
  *why = " of " + std::to_string(programs.size()) + " is kept: ";
  if (largest >= 0) {
    *why = name + std::to_string(chosen) + *why + "its film is the largest (the first of equal ones)";
    return chosen;
  }
  for (int id : programs)
    for (const StreamFacts& s : source.streams)
      if (s.kind == StreamKind::Sound &&
          std::find(s.programs.begin(), s.programs.end(), id) != s.programs.end()) {
        *why = name + std::to_string(id) + *why + "none holds a picture, it is the first with sound";
        return id;
      }
  *why = name + std::to_string(programs.front()) + *why + "none holds a picture or sound, it is the first";
  return programs.front();
}

// Why the film kept is the one: what it was chosen from.
std::string FilmWhy(const std::vector<const StreamFacts*>& films, const StreamFacts& film,
                    const SourceFacts& source) {
  if (films.size() == 1)
    return IsStillPicture(film, source) ? "is the film: the only picture, a still of one frame"
                                        : "is the film: the only moving picture";
  size_t usable = 0, equal = 0;
  for (const StreamFacts* s : films) {
    if (!s->unusable.empty()) continue;
    ++usable;
    equal += Area(*s) == Area(film);
  }
  const std::string of = " of " + std::to_string(films.size()) + " pictures" +
                         (usable < films.size() ? " (the others cannot be used)" : "");
  if (equal == 1) return "is the film: the largest" + of;
  return (film.isDefault ? "is the film: marked default, of equal largest"
                         : "is the film: the first of equal largest") +
         of;
}

}  // namespace

int PlaceOfKind(const SourceFacts& source, int index) {
  int place = 0;
  StreamKind kind = StreamKind::Other;
  for (const StreamFacts& s : source.streams)
    if (s.index == index) kind = s.kind;
  for (const StreamFacts& s : source.streams) {
    if (s.kind == kind) ++place;
    if (s.index == index) return place;
  }
  return 0;
}

bool HoldsNothing(const StreamFacts& s, const SourceFacts& source) {
  if (s.frames == 0) return true;
  return s.frames < 0 && source.scannedToEnd && s.packetsSeen == 0;
}

bool IsStillPicture(const StreamFacts& s, const SourceFacts& source) {
  if (s.kind != StreamKind::Picture) return false;
  if (s.frames >= 0) return s.frames == 1;
  if (source.scannedToEnd) return s.packetsSeen == 1;
  if (s.packetsSeen > 1) return false;
  for (const StreamFacts& other : source.streams)
    if (&other != &s && other.kind == StreamKind::Picture && !other.attachedPicture &&
        other.packetsSeen >= kPacketsOfAFilm)
      return true;
  return false;
}

TrackPlan PlanTracks(const SourceFacts& source) {
  TrackPlan plan;
  plan.program = ChooseProgram(source, &plan.programWhy);
  const auto leaveOut = [&](const StreamFacts& s, const std::string& why, bool warn) {
    plan.leftOut.push_back({s.index, s.kind, Name(source, s) + " " + why, warn});
  };
  const auto keep = [&](const StreamFacts& s, const std::string& why) {
    plan.kept.push_back({s.index, s.kind, Name(source, s) + " " + why});
  };

  const std::vector<const StreamFacts*> films = Films(source, plan.program);
  const StreamFacts* film = BestFilm(films);
  if (film && film->unusable.empty())
    plan.picture = film->index;
  else if (film)
    plan.unusablePicture = film->index;

  bool anySoundUsable = false;
  for (const StreamFacts& s : source.streams)
    if (s.kind == StreamKind::Sound && InProgram(s, plan.program) && !HoldsNothing(s, source) &&
        s.unusable.empty())
      anySoundUsable = true;

  for (const StreamFacts& s : source.streams) {
    if (!InProgram(s, plan.program)) {
      if (s.kind != StreamKind::Other)
        leaveOut(s,
                 "belongs to program " + std::to_string(s.programs.front()) + " and is left out (program " +
                     std::to_string(plan.program) + " is kept)",
                 false);
      continue;
    }
    switch (s.kind) {
      case StreamKind::Picture:
        if (s.attachedPicture) {
          if (plan.cover < 0 && s.coverFormat && !HoldsNothing(s, source)) {
            plan.cover = s.index;
            keep(s, "is kept as the MP4's cover");
          } else {
            leaveOut(s,
                     s.coverFormat ? "is a further cover picture and is left out"
                                   : "is a cover picture in a format MP4 does not keep as its cover",
                     false);
          }
        } else if (s.index == plan.picture) {
          keep(s, FilmWhy(films, s, source));
        } else if (s.index == plan.unusablePicture) {
          break;
        } else if (HoldsNothing(s, source)) {
          leaveOut(s, "holds no pictures and is left out", false);
        } else if (std::find(films.begin(), films.end(), &s) == films.end()) {
          leaveOut(s, "is a still picture (one frame) beside the film and is left out", false);
        } else if (!s.unusable.empty()) {
          leaveOut(s, s.unusable + " and is left out", true);
        } else {
          leaveOut(s,
                   Area(s) < Area(*film) ? "is a smaller picture beside the film and is left out"
                                         : "is a further picture beside the film and is left out",
                   false);
        }
        break;
      case StreamKind::Sound:
        if (HoldsNothing(s, source)) {
          leaveOut(s, "holds no sound and is left out", false);
        } else if (s.unusable.empty()) {
          plan.sounds.push_back(s.index);
          keep(s, "is kept");
        } else if (anySoundUsable) {
          leaveOut(s, s.unusable + " and is left out", true);
        } else if (plan.unusableSound < 0) {
          plan.unusableSound = s.index;
        }
        break;
      case StreamKind::Subtitle:
        if (HoldsNothing(s, source))
          leaveOut(s, "holds no cues and is left out", false);
        else {
          plan.subtitles.push_back(s.index);
          keep(s, s.textSubtitle ? "is kept (text)" : "is taken (drawn as pictures)");
        }
        break;
      case StreamKind::Other:
        break;
    }
  }
  return plan;
}

}  // namespace vidmora::encoder
