#pragma once
// The operating-system layer: every facility that differs between Windows and
// Linux is reached through the functions declared in this folder.
#include <QString>
#include <QtGlobal>

class QObject;

namespace Platform {

// File names of everything the program reaches beside its executable.
inline constexpr char kDatabaseFile[] = "LibParmt.dat";
inline constexpr char kSqliteLibFile[] = "LibDatFunc.so";
inline constexpr char kMediaInfoLibFile[] = "libmediainfo.so.0";
inline constexpr char kEncoderFile[] = "make";
// The program that probes files for the list, one or several beside the window.
inline constexpr char kProbeFile[] = "mediaprobe";
inline constexpr char kPlayerFile[] = "mplayer";
inline constexpr char kHelpFile[] = "help.html";
inline constexpr char kSettingsFile[] = "libcfg.ini";
inline constexpr char kDefaultSaveDir[] = "SaveFile";
inline constexpr char kQueueFile[] = "ConvQueue.json";

// Path joiner of this platform.
inline constexpr char kPathSep = '/';

// The directory of the running executable, with its trailing separator.
QString ExeDir();
// Points ExeDir() at another folder (tests run the program against a temporary
// installation folder). An empty text goes back to the real executable folder.
void SetExeDir(const QString& dir);
// ExeDir() followed by a file name.
QString ExePath(const QString& fileName);

// The application title (the name shown on the taskbar and in error boxes).
QString AppTitle();

// Makes sure LC_CTYPE is a UTF-8 locale, falling back to C.UTF-8: the media
// library's 8-bit calls cannot open a non-ASCII path in the C locale.
void EnsureUtf8Locale();

// The cores this program may run on (its affinity; at least 1).
int UsableCores();
// The memory available for new work without swapping, in bytes (the system's
// MemAvailable); -1 when it cannot be told.
qint64 AvailableMemory();

// Looks a component up by name among the components that root owns, in the
// order they were created (depth first), comparing without regard to case.
QObject* FindComponent(QObject* root, const QString& name);

}  // namespace Platform
