#pragma once
// Shared test support: a temporary installation folder, the main window built
// the way the program builds it, and captured message boxes and dialogs.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

class TConvMainForm;

namespace TestSupport {

// A file's whole contents ("<unreadable>" when it cannot be read).
QByteArray ReadBytes(const QString& path);
// Replaces a file's contents; a failure fails the running test.
void WriteBytes(const QString& path, const QByteArray& data);

// The installation folder that the build made.
QString BuiltAppDir();
// The source tree.
QString SourceDir();

// A temporary installation folder that the program is pointed at
// (Platform::SetExeDir). By default it holds links to the built encoder, the
// SQLite library and the player, and a fresh copy of the default database.
class TempAppDir {
 public:
  struct Options {
    bool database = true;   // copy of the built LibParmt.dat
    bool sqliteLib = true;  // LibDatFunc.so link
    bool encoder = true;    // make link
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

// Message boxes, folder chooser, open dialog and shell requests are captured
// while one of these lives.
class CapturedDialogs {
 public:
  CapturedDialogs();
  ~CapturedDialogs();
  // Every message box shown, as (caption, text).
  std::vector<std::pair<QString, QString>> messages;
  // Every shell open request.
  QStringList opened;
  // Answers for the next folder chooser / open dialog (nothing = cancel).
  std::vector<std::optional<QString>> folderAnswers;
  std::vector<std::optional<QString>> fileAnswers;
  QStringList folderTitles;
  QStringList fileTitles;
};

// Creates the data module and the main window as the program's start-up does,
// then shows the main window at once (the splash's hand-over), without waiting
// for the splash timer. Destroys both at the end.
class MainWindowFixture {
 public:
  MainWindowFixture();
  ~MainWindowFixture();
  TConvMainForm* form() const;
};

}  // namespace TestSupport
