#pragma once
// Profile files: INI text read and written one value at a time.
//
// A file is a sequence of lines. "[name]" starts a section; "key=value" lines
// inside a section give its values; lines starting with ';' are comments.
// Section and key names match without regard to letter case; the first
// matching section and, within it, the first matching key count.
// Nothing is kept open between calls, and only regular files are opened (a
// named pipe or a device in the file's place is never read from or written to).
#include <QString>
#include <QtGlobal>

namespace Platform {

// The most characters a read returns.
inline constexpr int kProfileValueMax = 2047;
// The largest profile file, in bytes. A larger file reads as missing and is
// never written: a settings file of a few lines does not grow this big unless
// something else has filled it.
inline constexpr qint64 kProfileFileMax = 1024 * 1024;

// The value of key in section of file: blanks around it removed, and one pair
// of matching quotes ('...' or "...") around the whole value removed. When the
// file, the section or the key is missing, the default with its trailing blanks
// removed. At most kProfileValueMax characters either way. The file is read
// line by line up to the end of the section that holds the key.
QString GetPrivateProfileString(const QString& section, const QString& key, const QString& defaultValue,
                                const QString& file);

// Sets key in section of file to value, creating the file, the section or the
// key as needed. Every other line of the file stays exactly as it was (its
// bytes and its line ending). The new contents replace the file in one step
// (a temporary file in the same folder, written, synced and renamed over it),
// so a failed or interrupted write never leaves a half-written file; the file
// keeps its permissions. Only where the folder takes no new files is a
// writable file written in place: the space for the new contents is reserved
// first, and when a step fails all the same the previous contents are written
// back. A value that would read back differently (blanks or quotes around it)
// is written in double quotes. A file that has no write permission for anyone,
// or none for this user, is left alone (its owner made it read-only). Returns
// false when the file cannot be written
// (every write, the sync and the close are checked), when it or the new
// contents would be larger than kProfileFileMax, for a value longer than a
// read returns (kProfileValueMax), and for names or values that cannot be
// stored on one line (a line break in any of them, a ']' in the section name,
// a '=' in the key, an empty name). On false the file is as it was.
bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& file);

}  // namespace Platform
