// What a source says of itself that its MP4 keeps: the recording's date, title, artist,
// album, comment, date, genre, location and the camera's make and model, from the names the
// containers use (Matroska's capitals, QuickTime's com.apple.quicktime.* keys, MP4's own) to
// MP4's own forms: the movie header's creation time and the iTunes-style list for the
// writer's keys, its 'loci' box for the location, and QuickTime user-data strings ('©mak',
// '©mod', '©xyz') for what that writer has no MP4 form for. Worked out from text alone.
#pragma once

#include <string>
#include <vector>

namespace vidmora::encoder {

struct Tag {
  std::string key, value;
};

struct KeptFileTags {
  std::vector<Tag> writer;    // under the MP4 writer's keys: creation_time, title, artist, ...
  std::vector<Tag> userData;  // four-byte user-data types ("\xA9mak") and their text
};

// source: the container's tags as the library reads them (keys in any letter case). Tags
// without a value, the writing program's name and the container's own bookkeeping are left out.
KeptFileTags FileTagsToKeep(const std::vector<Tag>& source);

// An ISO 8601 time ("2021-05-01T18:20:30+0800", "2021-05-01 10:20:30", "...Z") as the UTC
// time the writer takes ("2021-05-01T10:20:30.000000Z"); "" when the text is no such time.
std::string UtcTime(const std::string& text);

}  // namespace vidmora::encoder
