#pragma once
// Programs that this process starts and forgets (the preview player): started
// without a shell and without waiting, remembered by process id so that they
// can be reaped and so that ending "the player" ends only players of ours.
#include <QList>
#include <QString>

namespace Platform {

// Starts a command line as a new process and returns at once. The argument
// vector is split from the text by SplitCommandLine; no shell is involved. The
// child reads /dev/null and writes to /dev/null. Its process id is kept in the
// list of started processes; -1 when it could not be started (nothing else is
// reported).
long long StartDetached(const QString& commandLine);

// Reaps started processes that have ended, without blocking, and forgets them.
void ReapStarted();

// The started processes that are still known (not yet reaped), oldest first.
QList<long long> StartedProcesses();

// The executable file names a process goes by: the file name part of the
// program it runs (/proc/<pid>/exe), its command name (/proc/<pid>/comm) and
// the file name part of its first argument. Empty when it does not exist.
QStringList ProcessFileNames(long long pid);

// Ends every started process whose executable file name (any of those above)
// equals name without regard to ASCII letter case: a terminate signal first,
// a short wait, then a kill signal for any that is still there; each is reaped.
// Processes that this program did not start are never touched. Returns how
// many were ended.
int EndStartedByName(const QString& name);

}  // namespace Platform
