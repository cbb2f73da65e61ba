#pragma once
// What the file list and the properties panel show of a file, as plain values
// from one probe each.
#include <QString>
#include <QStringList>

#include <QVector>

#include <atomic>
#include <functional>
#include <optional>

// The duration shown when the media library gives none (no time, so that it is
// never taken for a real length).
inline constexpr char kUnknownDuration[] = "未知";

// A new row of the file list: the path as its caption, then type, size,
// duration and progress.
struct TFileRow {
  QString path;
  QString type;      // the extension, without the dot
  QString size;      // "12.34 MB"
  QString duration;  // duration text, kUnknownDuration when unknown
  QString progress;  // "0%"
  // Where below the output folder the file's output goes: its folder below a folder that was
  // added whole ("100ANDRO" for DCIM/100ANDRO/VIDEO_001.mp4 when DCIM was added); "" for a
  // file added one by one or lying directly in the added folder.
  QString subFolder;
  int width = 0, height = 0;  // the picture's size; 0 when unknown
  QStringList SubItems() const { return {type, size, duration, progress}; }
};

// The properties panel's thirteen values, in the panel's order: file name,
// type, size, duration; video codec, bit rate, picture size, frame rate,
// aspect ratio; audio codec, bit rate, channels, sampling rate.
struct TFileProperties {
  QStringList values;
  // The library's own account of the channels ("6 channels, C L R Ls Rs
  // LFE"), for a tool tip: the panel says them in words.
  QString channelDetail;
};

// Why a path cannot be a source: "" for a regular file (also through a link);
// otherwise the reason, in Chinese, naming the file. Never opens the file, so a
// pipe or a device cannot hold the program.
QString NotASourceReason(const QString& path);

// Both load the media library first; nothing when it cannot be loaded.
std::optional<TFileRow> ProbeFileRow(const QString& path);
std::optional<TFileProperties> ProbeFileProperties(const QString& path);

// The extensions of the video files the program lists, lower case without the
// dot: those the encoder reads, which the open dialog offers and drops and
// folders take. A name matches without regard to case.
const QStringList& MediaExtensions();
bool IsMediaFileName(const QString& fileName);
// The open dialog's filter: "媒体文件" with every media extension, then
// "所有文件" with every file.
QString MediaFileFilter();

// One media file of a folder's tree: its path and its folder below the folder walked.
struct TTreeFile {
  QString path;
  QString subFolder;  // "" for a file directly inside it
};
// The media files of a folder and of all its subfolders, each folder's own files
// in name order before its subfolders, in name order. Links to folders are not
// followed (they may lead out of the tree or back into it), each folder is seen
// once, and the walk goes at most kTreeDepth folders deep and stops after
// kTreeFiles files. ignored counts the other files; found, when given, takes each
// chunk of files as it is found (then nothing is returned); stop, when given and
// true, ends the walk.
inline constexpr int kTreeDepth = 64;
inline constexpr int kTreeFiles = 100000;
QVector<TTreeFile> MediaFilesInTree(const QString& folder, int* ignored,
                                    const std::function<void(const QVector<TTreeFile>&)>& found = {},
                                    const std::atomic<bool>* stop = nullptr);
