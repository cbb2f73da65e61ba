#pragma once
// How many encoders run at once, and what each gets of the machine. The user
// chooses a number (1 to 4) or 自动 (0): then each encoder is weighed by the
// cores its picture keeps busy (x264 and the decoder fill about four cores at
// 1080p, two at 720p, one at SD; a copied picture costs little), and a further
// encoder starts while the weights of those running and its own fit the cores.
// 自动 never runs more encoders than cores (a number chosen is taken as it
// is), and none starts whose memory is not there: an
// encoder starts beside others only while the memory available holds what it
// needs at its picture size. Each encoder's threads are its share of the cores,
// so that N encoders together use the cores once, not N times over.
#include <QtGlobal>
#include <QVector>

// What one encoder asks of the machine.
struct TEncoderNeed {
  double cores = 4;        // the cores it keeps busy when it runs on its own
  int threads = 0;         // the threads it is given (its -threads); 0: as many as it likes
  qint64 memoryBytes = 0;  // its memory at its peak, with those threads
};

// The picture an encoder works on: the source's (0 x 0 when unknown), the
// output's when a size is chosen (0 x 0 for the source's), and whether the
// picture is copied as it is. Unknown sizes are taken for 1080p.
struct TEncoderWork {
  int sourceWidth = 0, sourceHeight = 0;
  int outputWidth = 0, outputHeight = 0;
  bool copy = false;
};

// The choice of the setting 同时转换: 0 自动, otherwise the number of encoders.
inline constexpr int kConcurrentAuto = 0;
inline constexpr int kConcurrentMax = 4;

// The cores an encoder of that work keeps busy on its own (see above).
double CoresWanted(const TEncoderWork& work);
// How many such encoders run together under a choice on a machine of that many cores.
int EncodersAtOnce(const TEncoderWork& work, int chosen, int cores);
// What an encoder of that work asks for under a choice: its threads are the
// cores shared among EncodersAtOnce (0, its own choice, when it runs alone),
// its memory follows from its pictures and threads.
TEncoderNeed EncoderNeed(const TEncoderWork& work, int chosen, int cores);
// The memory an encoder takes at its peak: its libraries, and the pictures its
// decoder, filters, lookahead and threads hold (pixels of the larger of the
// source's and the output's picture).
qint64 EncoderMemory(const TEncoderWork& work, int threads, int cores);

enum class TStartVerdict {
  kStart,          // start it now
  kWaitForCores,   // the encoders running fill the machine (or the number chosen)
  kWaitForMemory,  // the memory available does not hold what it needs
};

// Whether the next encoder may start beside those running: always when none
// runs; otherwise only below the number chosen (under 自动, while the cores
// wanted by those running and by it fit the cores, and never beyond the
// cores), and only while availableBytes holds what it needs.
TStartVerdict MayStart(const QVector<TEncoderNeed>& running, const TEncoderNeed& next, int chosen, int cores,
                       qint64 availableBytes);
