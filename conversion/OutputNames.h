#pragma once
// Output names that never replace a user's file by accident. Before a run
// starts, every row's output is chosen at once: a name that is the source of a
// listed row, a folder, or the output of an earlier row of the same run gets
// the next free name "name (1).mp4", "name (2).mp4", ... An existing file in
// the way is either avoided the same way (keep both) or replaced; a replaced
// file is never written over while the encoder runs: the encoder writes a
// fresh name of its own, and only a complete conversion is moved over the old
// file, so a stop leaves the old file as it was and the partial one beside it.
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

struct TOutputPlan {
  QString output;    // the file the encoder writes: never an existing file
  QString replaces;  // when not empty, the existing file a complete conversion is moved over
};

// The outputs of one run. wanted[i] is row i's own output name (folder, base
// name, ".mp4"), sources[i] its source. With replaceExisting false, existing
// files are avoided like sources; with it true, an existing file (not a
// source, not a folder) in the way is replaced. Names in reserved (the outputs
// of rows planned before) are avoided too.
QVector<TOutputPlan> PlanOutputs(const QStringList& wanted, const QStringList& sources, bool replaceExisting,
                                 const QStringList& reserved = {});

// How many rows of a plan replace an existing file.
int CountReplaced(const QVector<TOutputPlan>& plan);

// A source's base name made fit for an output name: a line break or any other control
// character becomes a blank (a name holding one is legal, but no player lists it well).
QString OutputBaseName(const QString& baseName);

// A folder below the output folder as outputs may go there: its parts joined with "/",
// each made fit as OutputBaseName does; empty, "." and ".." parts and a leading "/" left
// out, so that it never leads out of the output folder.
QString OutputSubFolder(const QString& subFolder);

// "name (n).ext" beside path for the least n >= 1 for which taken() is false
// (the extension is the part after the last dot of the file name).
QString NextFreeName(const QString& path, const std::function<bool(const QString&)>& taken);

// Whether anything at all (a file, a folder, a dangling link) has this name.
bool PathInUse(const QString& path);

// Whether a file name is one of the encoder's temporary outputs (named as
// encoder/TempName.h says, its check characters right); *pid, when given, is
// the process id of the encoder that made it.
bool IsEncoderTempName(const QByteArray& fileName, long* pid = nullptr);

// Removes the encoder's temporary outputs that a killed encoder left in
// folder: plain files of this user whose names are the encoder's own, whose
// encoder (the process id in the name) no longer runs and that nobody holds
// locked (an encoder keeps its temporary locked for its whole life). Nothing
// else is touched, whatever its name. Returns the names removed.
QStringList RemoveStaleTemps(const QString& folder);
