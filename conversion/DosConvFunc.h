#pragma once
// The encoder's console process: started with its output on a pipe, read on
// the queue's timer without ever waiting for more output.
#include <QString>

#include <sys/types.h>

// Pipe ends of the most recent start, process-wide; -1 when not open. The
// program keeps the output pipe's read end (polled by the queue) and the input
// pipe's write end (the quit key is written there); the child's two ends are
// closed in the program right after the start, so that the end of the output
// is seen once the encoder has ended.
extern int OutReadPipe;
extern int OutWritePipe;
extern int InReadPipe;
extern int InWritePipe;

// Starts the program named by the command line's first token with the
// argument vector split from it by the Windows rules (no shell). Its standard
// output and error go into the output pipe, its standard input is the input
// pipe. Returns at once and reports nothing; when the program cannot be
// started the pipes still exist and nothing is ever written into them. The
// pipes of the previous start are released (once its process has ended).
void StartDosProcess(const QString& commandLine);

// The text waiting in the pipe, or the empty text when nothing is waiting
// (never blocks). Reads chunks of at most 4800 bytes until the pipe is
// drained and returns the last chunk only, up to its first zero byte.
QString ReadDosPipe(int pipe);

// Whether the process of the most recent start has ended (also when it never
// started). Its output may still be waiting in the pipe.
bool DosProcessEnded();

// Process id of the most recent start, -1 when it did not start.
pid_t DosProcessId();

// Writes the quit key "q" into the input pipe of the most recent start. A
// process that has gone already is no error; returns whether it was written.
bool SendDosQuitKey();

// Collects finished encoders and releases the pipes of earlier starts whose
// process has ended. Never waits.
void ReapDosProcesses();
