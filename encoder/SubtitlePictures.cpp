#include "SubtitlePictures.h"

#include "Console.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace vidmora::encoder {

PictureSubtitles::~PictureSubtitles() { avcodec_free_context(&decoder_); }

std::string PictureSubtitles::Open(const AVCodecParameters* par, AVRational timeBase, int width, int height) {
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  if (!codec) return std::string("the subtitles (") + avcodec_get_name(par->codec_id) + ") cannot be decoded";
  decoder_ = avcodec_alloc_context3(codec);
  if (!decoder_ || avcodec_parameters_to_context(decoder_, par) < 0) return "out of memory";
  decoder_->pkt_timebase = timeBase;
  const int r = avcodec_open2(decoder_, codec, nullptr);
  if (r < 0) {
    avcodec_free_context(&decoder_);
    return std::string("cannot decode the subtitles (") + codec->name + "): " + ErrorText(r);
  }
  canvasWidth_ = width;
  canvasHeight_ = height;
  return {};
}

void PictureSubtitles::Add(const AVPacket* packet, int64_t shift) {
  AVSubtitle sub{};
  int got = 0;
  if (avcodec_decode_subtitle2(decoder_, &sub, &got, const_cast<AVPacket*>(packet)) < 0 || !got) return;
  if (sub.pts != AV_NOPTS_VALUE) {
    Cue cue;
    cue.start = double(sub.pts + shift) / AV_TIME_BASE + sub.start_display_time / 1000.0;
    cue.end = sub.end_display_time > sub.start_display_time
                  ? cue.start + (sub.end_display_time - sub.start_display_time) / 1000.0
                  : HUGE_VAL;
    for (unsigned i = 0; i < sub.num_rects; ++i) {
      const AVSubtitleRect* r = sub.rects[i];
      if (r->type != SUBTITLE_BITMAP || r->w <= 0 || r->h <= 0 || !r->data[0] || !r->data[1]) continue;
      Area a;
      a.x = r->x;
      a.y = r->y;
      a.w = r->w;
      a.h = r->h;
      a.index.resize(size_t(r->w) * size_t(r->h));
      for (int y = 0; y < r->h; ++y)
        std::copy_n(r->data[0] + y * r->linesize[0], r->w, &a.index[size_t(y) * r->w]);
      // The palette's colours (ARGB) as limited-range YUV with their alpha.
      const auto* palette = reinterpret_cast<const uint32_t*>(r->data[1]);
      for (int k = 0; k < 256; ++k) {
        const uint32_t c = k < r->nb_colors ? palette[k] : 0;
        const int alpha = int(c >> 24), red = int(c >> 16 & 255), green = int(c >> 8 & 255),
                  blue = int(c & 255);
        const int luma = ((66 * red + 129 * green + 25 * blue + 128) >> 8) + 16;
        const int u = ((-38 * red - 74 * green + 112 * blue + 128) >> 8) + 128;
        const int v = ((112 * red - 94 * green - 18 * blue + 128) >> 8) + 128;
        a.colour.push_back(uint32_t(alpha) << 24 | uint32_t(luma) << 16 | uint32_t(u) << 8 | uint32_t(v));
      }
      cue.areas.push_back(std::move(a));
    }
    // A cue ends the one before it that had no end of its own (an empty cue only does that).
    if (!cues_.empty() && cues_.back().end > cue.start) cues_.back().end = cue.start;
    if (!cue.areas.empty()) cues_.push_back(std::move(cue));
  }
  avsubtitle_free(&sub);
}

bool PictureSubtitles::Draw(AVFrame* frame, double seconds) {
  // Cues that have ended are done with (pictures come in order of time).
  size_t done = 0;
  while (done < cues_.size() && cues_[done].end <= seconds) ++done;
  cues_.erase(cues_.begin(), cues_.begin() + std::ptrdiff_t(done));
  const Cue* shown = nullptr;
  for (const Cue& cue : cues_)
    if (cue.start <= seconds && seconds < cue.end) shown = &cue;
  if (!shown || canvasWidth_ <= 0 || canvasHeight_ <= 0) return true;
  if (frame->format != AV_PIX_FMT_YUV420P || av_frame_make_writable(frame) < 0) return false;
  const int fw = frame->width, fh = frame->height;
  const auto blend = [](uint8_t& to, int value, int alpha) {
    to = uint8_t((value * alpha + to * (255 - alpha)) / 255);
  };
  for (const Area& a : shown->areas) {
    // The area's place on the picture, its pixels picked nearest to each picture pixel.
    const int x0 = std::max(0, int(int64_t(a.x) * fw / canvasWidth_));
    const int x1 = std::min(fw, int(int64_t(a.x + a.w) * fw / canvasWidth_));
    const int y0 = std::max(0, int(int64_t(a.y) * fh / canvasHeight_));
    const int y1 = std::min(fh, int(int64_t(a.y + a.h) * fh / canvasHeight_));
    for (int y = y0; y < y1; ++y) {
      const int sy = std::min(a.h - 1, int(int64_t(y) * canvasHeight_ / fh) - a.y);
      for (int x = x0; x < x1; ++x) {
        const int sx = std::min(a.w - 1, int(int64_t(x) * canvasWidth_ / fw) - a.x);
        if (sx < 0 || sy < 0) continue;
        const uint32_t c = a.colour[a.index[size_t(sy) * a.w + sx]];
        const int alpha = int(c >> 24);
        if (!alpha) continue;
        blend(frame->data[0][y * frame->linesize[0] + x], int(c >> 16 & 255), alpha);
        if ((x | y) & 1) continue;
        blend(frame->data[1][(y / 2) * frame->linesize[1] + x / 2], int(c >> 8 & 255), alpha);
        blend(frame->data[2][(y / 2) * frame->linesize[2] + x / 2], int(c & 255), alpha);
      }
    }
  }
  return true;
}

}  // namespace vidmora::encoder
