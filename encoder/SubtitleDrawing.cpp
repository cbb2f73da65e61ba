#include "SubtitleDrawing.h"

#include "StopRequest.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>

extern "C" {
#include <ass/ass.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace vidmora::encoder {

namespace {

using Clock = std::chrono::steady_clock;

// The font that draws text whose own style names none the system has (SRT and WebVTT cues,
// ASS styles in fonts that are not installed): one that holds Chinese, Japanese and Korean.
constexpr char kCjkFont[] = "Noto Sans CJK SC";

// libass speaks through the console only when the libraries' log is let through.
void Quiet(int, const char*, va_list, void*) {}

// Glyphs and bitmaps libass keeps between pictures: enough for a film's worth of text.
constexpr int kCachedGlyphs = 2000;
constexpr int kCachedBitmapsMb = 64;

}  // namespace

TextDrawing::~TextDrawing() {
  if (track_) ass_free_track(track_);
  if (renderer_) ass_renderer_done(renderer_);
  if (library_) ass_library_done(library_);
}

std::string TextDrawing::Open(const std::string& header, bool ownStyles, int width, int height,
                              double pixelAspect) {
  library_ = ass_library_init();
  if (!library_) return "the subtitle renderer (libass) cannot be started";
  ass_set_message_cb(library_, Quiet, nullptr);
  ass_set_extract_fonts(library_, 1);
  renderer_ = ass_renderer_init(library_);
  if (!renderer_) return "the subtitle renderer (libass) cannot be started";
  ass_set_frame_size(renderer_, width, height);
  if (pixelAspect > 0) ass_set_pixel_aspect(renderer_, pixelAspect);
  ass_set_cache_limits(renderer_, kCachedGlyphs, kCachedBitmapsMb);
  ass_set_fonts(renderer_, nullptr, kCjkFont, ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
  if (!ownStyles) {
    // Plain text cues get the CJK font in every style.
    static char fontName[] = "FontName=Noto Sans CJK SC";
    char* overrides[] = {fontName, nullptr};
    ass_set_style_overrides(library_, overrides);
  }
  track_ = ass_new_track(library_);
  if (!track_) return "the subtitle renderer (libass) cannot be started";
  // Every cue is taken as it comes; the events are pruned here as the pictures pass them.
  ass_set_check_readorder(track_, 0);
  const std::string styles = header.empty() ? DefaultHeader() : header;
  std::vector<char> text(styles.begin(), styles.end());
  ass_process_codec_private(track_, text.data(), int(text.size()));
  if (!ownStyles) ass_process_force_style(track_);
  bt709_ = height >= 720 || width >= 1280;
  opened_ = Clock::now();
  return {};
}

void TextDrawing::Add(const TextCue& cue) {
  if (!track_ || gaveUp_ || cue.end <= std::max<int64_t>(cue.start, 0)) return;
  const long long start = std::max<int64_t>(cue.start, 0) / 1000;
  const long long length = std::max<long long>(1, cue.end / 1000 - start);
  std::vector<char> event(cue.event.begin(), cue.event.end());
  const int before = track_->n_events;
  ass_process_chunk(track_, event.data(), int(event.size()), start, length);
  cost_.resize(size_t(std::max(track_->n_events, before)), 0.0);
}

void TextDrawing::Prune(int64_t nowMs) {
  int kept = 0;
  for (int i = 0; i < track_->n_events; ++i) {
    const ASS_Event& e = track_->events[i];
    const bool slow = cost_[size_t(i)] > kMaxCueSeconds;
    if (slow || e.Start + e.Duration <= nowMs) {
      slowCues_ += slow;
      ass_free_event(track_, i);
      continue;
    }
    if (kept != i) {
      track_->events[kept] = track_->events[i];
      cost_[size_t(kept)] = cost_[size_t(i)];
    }
    ++kept;
  }
  track_->n_events = kept;
  cost_.resize(size_t(kept));
}

bool TextDrawing::Draw(AVFrame* frame, double seconds) {
  if (!track_ || gaveUp_ || StopRequested()) return true;
  const int64_t now = std::llround(seconds * 1000);
  Prune(now);
  bool shown = false;
  for (int i = 0; i < track_->n_events && !shown; ++i)
    shown = track_->events[i].Start <= now && now < track_->events[i].Start + track_->events[i].Duration;
  if (!shown) return true;
  if (frame->format != AV_PIX_FMT_YUV420P || av_frame_make_writable(frame) < 0) return false;
  const auto began = Clock::now();
  int changed = 0;
  const ASS_Image* images = ass_render_frame(renderer_, track_, now, &changed);
  Blend(frame, images);
  const double cost = std::chrono::duration<double>(Clock::now() - began).count();
  // The cost is each shown cue's: one that costs too much is left out from the next picture.
  for (int i = 0; i < track_->n_events; ++i)
    if (track_->events[i].Start <= now && now < track_->events[i].Start + track_->events[i].Duration)
      cost_[size_t(i)] += cost;
  drawing_ += cost;
  const double elapsed = std::chrono::duration<double>(Clock::now() - opened_).count();
  if (drawing_ > kBaseSeconds + kShareOfWork * std::max(0.0, elapsed - drawing_)) gaveUp_ = true;
  return true;
}

void TextDrawing::Blend(AVFrame* frame, const void* first) const {
  const int fw = frame->width, fh = frame->height;
  for (auto* img = static_cast<const ASS_Image*>(first); img; img = img->next) {
    const int alpha = 255 - int(img->color & 0xFF);
    if (alpha == 0 || img->w <= 0 || img->h <= 0) continue;
    const double r = img->color >> 24, g = img->color >> 16 & 0xFF, b = img->color >> 8 & 0xFF;
    // The colour as limited-range YUV of the picture's matrix.
    const double kr = bt709_ ? 0.2126 : 0.299, kb = bt709_ ? 0.0722 : 0.114, kg = 1 - kr - kb;
    const double luma = kr * r + kg * g + kb * b;
    const int y = int(std::lround(16 + luma * 219 / 255));
    const int u = int(std::lround(128 + (b - luma) / (2 * (1 - kb)) * 224 / 255));
    const int v = int(std::lround(128 + (r - luma) / (2 * (1 - kr)) * 224 / 255));
    const int x0 = std::max(0, img->dst_x), x1 = std::min(fw, img->dst_x + img->w);
    const int y0 = std::max(0, img->dst_y), y1 = std::min(fh, img->dst_y + img->h);
    if (x0 >= x1 || y0 >= y1) continue;
    const auto coverage = [&](int px, int py) {
      if (px < x0 || px >= x1 || py < y0 || py >= y1) return 0;
      return img->bitmap[(py - img->dst_y) * img->stride + (px - img->dst_x)] * alpha / 255;
    };
    for (int py = y0; py < y1; ++py) {
      uint8_t* row = frame->data[0] + py * frame->linesize[0];
      for (int px = x0; px < x1; ++px) {
        const int k = coverage(px, py);
        if (k) row[px] = uint8_t((row[px] * (255 - k) + y * k) / 255);
      }
    }
    for (int cy = y0 / 2; cy <= (y1 - 1) / 2; ++cy) {
      uint8_t* ur = frame->data[1] + cy * frame->linesize[1];
      uint8_t* vr = frame->data[2] + cy * frame->linesize[2];
      for (int cx = x0 / 2; cx <= (x1 - 1) / 2 && cx < (fw + 1) / 2; ++cx) {
        const int k = (coverage(2 * cx, 2 * cy) + coverage(2 * cx + 1, 2 * cy) +
                       coverage(2 * cx, 2 * cy + 1) + coverage(2 * cx + 1, 2 * cy + 1)) /
                      4;
        if (!k) continue;
        ur[cx] = uint8_t((ur[cx] * (255 - k) + u * k) / 255);
        vr[cx] = uint8_t((vr[cx] * (255 - k) + v * k) / 255);
      }
    }
  }
}

}  // namespace vidmora::encoder
