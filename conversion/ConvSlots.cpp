#include "ConvSlots.h"

#include <algorithm>
#include <cmath>

namespace {

// Pictures taken for 1080p when the probe could not tell their size.
constexpr qint64 kUnknownPixels = qint64(1920) * 1080;
// The cores one encoder keeps busy, by the pixels of its picture (measured with
// x264's default preset and the encoder's own decoding and encoding threads):
// up to SD one core, up to 720p two, up to 1080p four, beyond eight.
constexpr struct {
  qint64 pixels;
  double cores;
} kCoresByPixels[] = {
    {qint64(768) * 576, 1},
    {qint64(1280) * 720, 2},
    {qint64(2048) * 1088, 4},
};
constexpr double kCoresBeyond = 8;
// A copied picture is read and written, never decoded nor encoded.
constexpr double kCopyCores = 0.25;

qint64 Pixels(int width, int height) { return width > 0 && height > 0 ? qint64(width) * height : 0; }

// The pixels of the larger of the two pictures: the decoder works on the
// source's, the encoder on the output's.
qint64 WorkPixels(const TEncoderWork& work) {
  const qint64 source = Pixels(work.sourceWidth, work.sourceHeight);
  const qint64 output = Pixels(work.outputWidth, work.outputHeight);
  const qint64 larger = std::max(source, output);
  return larger > 0 ? larger : kUnknownPixels;
}

}  // namespace

double CoresWanted(const TEncoderWork& work) {
  if (work.copy) return kCopyCores;
  const qint64 pixels = WorkPixels(work);
  for (const auto& step : kCoresByPixels)
    if (pixels <= step.pixels) return step.cores;
  return kCoresBeyond;
}

int EncodersAtOnce(const TEncoderWork& work, int chosen, int cores) {
  cores = std::max(1, cores);
  if (chosen > kConcurrentAuto) return chosen;
  const int fit = static_cast<int>(std::floor(cores / CoresWanted(work) + 1e-9));
  return std::clamp(fit, 1, cores);
}

qint64 EncoderMemory(const TEncoderWork& work, int threads, int cores) {
  // Measured peaks of the encoder (x264's default preset, AAC) with 1, 2 and 4
  // threads at SD, 720p, 1080p and 2160p: 140/155/170 MB at SD, 233/260/289 MB
  // at 720p, 437/494/560 MB at 1080p, 1467/1641/1807 MB at 2160p. They follow
  // 66 MB + 5 MB a thread for the program and its libraries, and 162 bytes a
  // pixel + 14 a thread for the pictures held (the decoder's references, the
  // filters', x264's lookahead and its threads' frames); a tenth more for what
  // other sources hold beyond these. Threads left to the libraries are about
  // one and a half a core.
  constexpr qint64 kMiB = 1 << 20;
  const qint64 t = threads > 0 ? threads : std::max(1, cores * 3 / 2);
  const qint64 base = 66 * kMiB + 5 * kMiB * t;
  if (work.copy) return base;
  const double pictures = double(WorkPixels(work)) * (162.0 + 14.0 * double(t));
  return static_cast<qint64>(1.1 * (double(base) + pictures));
}

TEncoderNeed EncoderNeed(const TEncoderWork& work, int chosen, int cores) {
  cores = std::max(1, cores);
  TEncoderNeed need;
  need.cores = CoresWanted(work);
  const int together = EncodersAtOnce(work, chosen, cores);
  // Alone, an encoder takes the threads it likes; among others, its share.
  need.threads = together <= 1 ? 0 : std::max(1, cores / together);
  need.memoryBytes = EncoderMemory(work, need.threads, cores);
  return need;
}

TStartVerdict MayStart(const QVector<TEncoderNeed>& running, const TEncoderNeed& next, int chosen, int cores,
                       qint64 availableBytes) {
  if (running.isEmpty()) return TStartVerdict::kStart;
  cores = std::max(1, cores);
  const int count = static_cast<int>(running.size());
  if (chosen > kConcurrentAuto) {
    if (count >= chosen) return TStartVerdict::kWaitForCores;
  } else {
    double busy = next.cores;
    for (const TEncoderNeed& need : running) busy += need.cores;
    if (count >= cores || busy > cores + 1e-9) return TStartVerdict::kWaitForCores;
  }
  if (availableBytes >= 0 && availableBytes < next.memoryBytes) return TStartVerdict::kWaitForMemory;
  return TStartVerdict::kStart;
}
