#pragma once
// The settings file libcfg.ini beside the executable: the output folder the
// user chose and the homepage address. Values are read and written one at a
// time; nothing is kept open.
//
// The file is examined once in a run of the program (Examine, or the first
// read or write), and what cannot be trusted is said once, in Chinese, through
// the application's error box; the program then works on:
//   - a link is followed only to a regular file of the user's outside the
//     system's folders; any other link is left as it is and not read;
//   - a folder, pipe or device, another user's file (unless shared with this
//     user), a file larger than a settings file grows or one that cannot be
//     read is neither read nor written;
//   - a damaged file (random bytes, a line cut off) is set aside as
//     "libcfg.ini.broken-<date and time>" and a new one is made at the next
//     change; where it cannot be moved it is neither read nor written;
//   - a read-only or immutable file is read and never written; that is said
//     at the first change that cannot be kept.
// In each case the defaults apply, and every change the file cannot take is
// kept for the rest of the run and read back from there.
#include <QString>
#include <QStringList>

class TAppSettings {
 public:
  // libcfg.ini beside the executable.
  TAppSettings();
  explicit TAppSettings(const QString& file);

  QString File() const { return file_; }

  // Examines the file, once in a run (later calls do nothing); the program
  // calls it at start-up, before any window.
  void Examine() const;
  // Forgets what this run knows of every settings file (tests).
  static void ForgetSessionForTests();

  // The output folder: the folder the user chose ("Dir" once "Flag" is exactly
  // "Yes"), otherwise the default output folder (UserFiles::DefaultSaveDir: the user's
  // Vidmora folder in their videos folder, or SaveFile beside a portable
  // program). A chosen folder that is empty also means the default: the
  // output folder is never empty.
  QString SaveDir() const;
  // Remembers a chosen folder: "Dir", then "Flag" = "Yes". What the file
  // cannot take holds for this run (see above); after a failed "Dir" the flag
  // is not written to the file either.
  void StoreSaveDir(const QString& dir) const;
  // The folder of the files last picked in the open dialog, kept in a key of
  // its own ("AddDir", "Dir"); empty when none was stored. Storing returns
  // false when the file cannot be written (the folder holds for this run).
  QString LastAddDir() const;
  bool StoreLastAddDir(const QString& dir) const;
  // What becomes of a source's subtitles, as the encoder's word: "keep" (tracks
  // the player offers; also for a missing or unknown value), "burn" (drawn into
  // the picture) or "none"; section "Subtitle", key "Mode". Storing returns
  // false when the file cannot be written, like the last folder above.
  QString SubtitleMode() const;
  bool StoreSubtitleMode(const QString& mode) const;
  static QStringList SubtitleModes() {
    return {QStringLiteral("keep"), QStringLiteral("burn"), QStringLiteral("none")};
  }
  // How many files are converted at once (同时转换): 0 for 自动 (also for a
  // missing or unknown value), or 1 to 4; section "Convert", key "Concurrent",
  // "auto" or the number. Storing returns false when the file cannot be
  // written, like the last folder above.
  int Concurrent() const;
  bool StoreConcurrent(int chosen) const;
  // The homepage address: "HttpUrl" when it is an http:// or https:// address
  // with a host, otherwise the built-in address.
  QString HomePage() const;

  static QString DefaultHomePage();
  static QString HelpFile();
  static QString OutputExt() { return QStringLiteral(".mp4"); }

 private:
  QString Read(const QString& section, const QString& key, const QString& defaultValue) const;
  // False when the file did not take the value (it holds for this run).
  bool Write(const QString& section, const QString& key, const QString& value) const;

  QString file_;
};

// Whether a run can put its files into dir: "" when the folder exists and a
// new file can be created in it, otherwise a message naming the folder.
QString CheckSaveDir(const QString& dir);
