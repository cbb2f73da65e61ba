#pragma once
// Child processes: starting a program with chosen standard handles, without a
// shell, and collecting finished children without ever waiting for them.
#include <QByteArray>
#include <QStringList>

#include <sys/types.h>

namespace Platform {

// Starts argv[0] (a path; a bare name is looked up in PATH) with the argument
// vector as given, no shell involved. The child's standard input, output and
// error become the given descriptors (-1 leaves the child that handle opened on
// /dev/null); every other descriptor of ours is closed in the child, signal
// dispositions that matter to a console program are reset to their defaults.
// The child is remembered so that ReapChildren() collects it once it ends.
// Returns its process id, or -1 when it could not be started.
pid_t SpawnProcess(const QStringList& argv, int stdinFd, int stdoutFd, int stderrFd);

// The same start, but the child is not remembered: the caller collects it
// itself (the preview keeps its own list of the players it started).
pid_t SpawnUnlisted(const QStringList& argv, int stdinFd, int stdoutFd, int stderrFd);

// Collects every child started by SpawnProcess that has ended (never blocks),
// so that none is left as a zombie.
void ReapChildren();

// Whether the child pid started by SpawnProcess has ended (collecting it when it
// has). A pid that is not a child of ours, or -1, counts as ended.
bool ChildHasEnded(pid_t pid);

// Number of bytes waiting unread in a pipe; 0 when empty or on error.
int BytesWaiting(int fd);

// Writes data to a pipe without ever raising SIGPIPE and without blocking on a
// full pipe; returns false when the reader is gone or nothing could be written.
bool WriteToPipe(int fd, const QByteArray& data);

// Closes a descriptor if it is open and sets it to -1.
void CloseFd(int& fd);

}  // namespace Platform
