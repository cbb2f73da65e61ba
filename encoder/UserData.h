// QuickTime user-data strings ('©mak', '©mod', '©xyz') added to a finished MP4 file, for the
// facts the MP4 writer has no form for: the movie box ('moov') ends the file, so its user-data
// box ('udta', the movie box's last child, or a new one) grows at the end of the file and the
// two box sizes are rewritten; nothing before it moves, so no offset in the file changes.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vidmora::encoder {

// type: the four bytes of the box type ("\xA9mak"); text: UTF-8, written as QuickTime's
// international text (its length, the language "und", the text).
using UserDataString = std::pair<std::string, std::string>;

// Appends the strings to the MP4 file open for reading and writing at fd. "" when done (or
// nothing to do), else why the file was left as it was: its boxes are not laid out as
// described (a movie box that does not end the file, a user-data box before other boxes).
std::string AppendUserData(int fd, const std::vector<UserDataString>& strings);

}  // namespace vidmora::encoder
