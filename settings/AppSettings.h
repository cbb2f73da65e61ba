#pragma once
// The settings file libcfg.ini beside the executable: the output folder the
// user chose and the homepage address. Values are read and written one at a
// time; nothing is kept open.
#include <QString>
#include <QStringList>

class TAppSettings {
 public:
  // libcfg.ini beside the executable.
  TAppSettings();
  explicit TAppSettings(const QString& file);

  QString File() const { return file_; }

  // The output folder: the folder the user chose ("Dir" once "Flag" is exactly
  // "Yes"), otherwise the default output folder (UserFiles::DefaultSaveDir: the user's
  // Vidmora folder in their videos folder, or SaveFile beside a portable
  // program). A chosen folder that is empty also means the default: the
  // output folder is never empty.
  QString SaveDir() const;
  // Remembers a chosen folder: "Dir", then "Flag" = "Yes". A write that fails
  // raises "Unable to write to <file>"; after a failed "Dir" the flag is not
  // written.
  void StoreSaveDir(const QString& dir) const;
  // The folder of the files last picked in the open dialog, kept in a key of
  // its own ("AddDir", "Dir"); empty when none was stored. Storing returns
  // false when the file cannot be written: the folder is a convenience, and
  // its loss is no error.
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
  // The homepage address: "HttpUrl" when it is an http:// or https:// address
  // with a host, otherwise the built-in address.
  QString HomePage() const;

  static QString DefaultHomePage();
  static QString HelpFile();
  static QString OutputExt() { return QStringLiteral(".mp4"); }

 private:
  QString Read(const QString& section, const QString& key, const QString& defaultValue) const;
  void Write(const QString& section, const QString& key, const QString& value) const;

  QString file_;
};

// Whether a run can put its files into dir: "" when the folder exists and a
// new file can be created in it, otherwise a message naming the folder.
QString CheckSaveDir(const QString& dir);
