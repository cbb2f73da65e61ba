#pragma once
// Test support that needs no window: whole-file reads and writes, the built
// installation folder and a temporary one that the program is pointed at, and
// file access as another user.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace TestSupport {

// A file's whole contents ("<unreadable>" when it cannot be read).
QByteArray ReadBytes(const QString& path);
// Replaces a file's contents; a failure fails the running test.
void WriteBytes(const QString& path, const QByteArray& data);

// The installation folder that the build made.
QString BuiltAppDir();
// The source tree.
QString SourceDir();

// File access as another user (65534, "nobody") on this thread while it
// lives: root may write anywhere, that user only where permissions allow.
class OtherUser {
 public:
  static constexpr int kId = 65534;
  OtherUser();
  ~OtherUser();
  OtherUser(const OtherUser&) = delete;
  OtherUser& operator=(const OtherUser&) = delete;

 private:
  int group_;
  int user_;
};

// A temporary installation folder that the program is pointed at
// (Platform::SetExeDir). By default it holds links to the built encoder, the
// SQLite library and the player, a fresh copy of the built database (readable
// and writable by its owner only) and an empty SaveFile folder; Options leaves
// any of them out. The program's folder is unset again when it goes.
class TempAppDir {
 public:
  struct Options {
    bool database = true;   // copy of the built LibParmt.dat
    bool sqliteLib = true;  // LibDatFunc.so link
    bool encoder = true;    // make link
    bool probe = true;      // mediaprobe link
    bool player = true;     // mplayer link
    bool saveDir = true;    // SaveFile folder
  };
  TempAppDir();
  explicit TempAppDir(const Options& options);
  ~TempAppDir();
  QString Path() const;                     // with trailing '/'
  QString File(const QString& name) const;  // Path() + name
  bool IsValid() const { return dir_.isValid(); }

 private:
  QTemporaryDir dir_;
};

}  // namespace TestSupport
