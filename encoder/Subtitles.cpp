#include "Subtitles.h"

#include "Console.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <dirent.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/pixfmt.h>
}

namespace vidmora::encoder {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The font that draws text whose own style names none the system has (SRT and WebVTT cues,
// ASS styles in fonts that are not installed): one that holds Chinese, Japanese and Korean.
constexpr char kCjkFont[] = "Noto Sans CJK SC";

// A value for a filter's option, and the option list for the filter graph: each level
// takes away one level of backslashes.
std::string Escaped(const std::string& text, const char* special) {
  char* out = nullptr;
  if (!av_escape(&out, text.c_str(), special, AV_ESCAPE_MODE_BACKSLASH, 0)) return text;
  std::string result(out);
  av_free(out);
  return result;
}

bool ValidUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const int n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (n < 0) return false;
    // A sequence cut off by the end of what was read counts as whole.
    for (int k = 1; k <= n && i + k < s.size(); ++k)
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    i += size_t(n) + 1;
  }
  return true;
}

}  // namespace

std::string LanguageOfPart(const std::string& part) {
  static const struct {
    const char* code;
    const char* names;  // '|'-separated, lower case
  } kLanguages[] = {
      {"chi", "|zh|chs|cht|sc|tc|chi|zho|cn|gb|big5|zh-cn|zh-tw|zh-hans|zh-hant|zh_cn|zh_tw|"},
      {"eng", "|en|eng|"},
      {"jpn", "|ja|jp|jpn|"},
      {"kor", "|ko|kor|"},
      {"fre", "|fr|fre|fra|"},
      {"ger", "|de|ger|deu|"},
      {"spa", "|es|spa|"},
      {"ita", "|it|ita|"},
      {"por", "|pt|por|"},
      {"rus", "|ru|rus|"},
  };
  const std::string key = "|" + Lower(part) + "|";
  for (const auto& l : kLanguages)
    if (std::string(l.names).find(key) != std::string::npos) return l.code;
  return {};
}

std::string GuessCharset(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return {};
  std::string text(1 << 20, '\0');
  text.resize(std::fread(&text[0], 1, text.size(), f));
  std::fclose(f);
  const auto starts = [&](const char* bom) {
    return text.compare(0, std::char_traits<char>::length(bom), bom) == 0;
  };
  if (starts("\xFF\xFE") || starts("\xFE\xFF")) return {};  // UTF-16, which the readers know
  return ValidUtf8(text) ? std::string() : std::string("GB18030");
}

std::vector<SubtitleFile> FindSubtitleFiles(const std::string& source) {
  const size_t slash = source.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : source.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? source : source.substr(slash + 1);
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);

  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) names.push_back(entry->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  std::vector<SubtitleFile> files;
  for (const std::string& name : names) {
    if (name.size() <= base.size() + 1 || name.compare(0, base.size() + 1, base + ".") != 0) continue;
    const std::string rest = name.substr(base.size() + 1);  // "srt" or "chs.ass"
    const size_t extAt = rest.rfind('.');
    const std::string ext = Lower(extAt == std::string::npos ? rest : rest.substr(extAt + 1));
    if (ext != "srt" && ext != "ass" && ext != "ssa" && ext != "vtt") continue;
    const std::string part = extAt == std::string::npos ? std::string() : rest.substr(0, extAt);
    if (part.find('.') != std::string::npos || (extAt != std::string::npos && part.empty())) continue;
    const std::string path = (slash == std::string::npos ? std::string() : folder) + name;
    if (path == source) continue;
    files.push_back({path, LanguageOfPart(part), GuessCharset(path)});
  }
  return files;
}

std::string ReadSubtitleFile(const std::string& path, AVFormatContext** context) {
  AVDictionary* options = nullptr;
  av_dict_set(&options, "protocol_whitelist", "file", 0);
  av_dict_set(&options, "format_whitelist", "srt,ass,webvtt", 0);
  int r = avformat_open_input(context, ("file:" + path).c_str(), nullptr, &options);
  av_dict_free(&options);
  if (r >= 0) r = avformat_find_stream_info(*context, nullptr);
  if (r >= 0 &&
      ((*context)->nb_streams != 1 || (*context)->streams[0]->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE))
    r = AVERROR_INVALIDDATA;
  if (r < 0) {
    avformat_close_input(context);
    return "the subtitle file " + DisplayName(path) + " cannot be read: " + ErrorText(r);
  }
  return {};
}

TextSubtitles::~TextSubtitles() {
  avcodec_free_context(&decoder_);
  avcodec_free_context(&encoder_);
}

std::string TextSubtitles::Open(AVFormatContext* file, const AVCodecParameters* par, AVRational timeBase,
                                const std::string& charset) {
  const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
  const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MOV_TEXT);
  if (!decoder)
    return std::string("the subtitles (") + avcodec_get_name(par->codec_id) + ") cannot be decoded";
  if (!encoder) return "the MP4 subtitle encoder is not available";
  decoder_ = avcodec_alloc_context3(decoder);
  if (!decoder_ || avcodec_parameters_to_context(decoder_, par) < 0) return "out of memory";
  decoder_->pkt_timebase = timeBase;
  AVDictionary* options = nullptr;
  if (!charset.empty()) av_dict_set(&options, "sub_charenc", charset.c_str(), 0);
  int r = avcodec_open2(decoder_, decoder, &options);
  av_dict_free(&options);
  if (r < 0) return std::string("cannot decode the subtitles (") + decoder->name + "): " + ErrorText(r);

  encoder_ = avcodec_alloc_context3(encoder);
  if (!encoder_) return "out of memory";
  encoder_->time_base = timeBase_;
  // The cues' styles (ASS) travel in the decoder's header; the encoder keeps what MP4 can.
  if (decoder_->subtitle_header_size > 0) {
    encoder_->subtitle_header = static_cast<uint8_t*>(av_mallocz(size_t(decoder_->subtitle_header_size) + 1));
    if (!encoder_->subtitle_header) return "out of memory";
    std::copy_n(decoder_->subtitle_header, decoder_->subtitle_header_size, encoder_->subtitle_header);
    encoder_->subtitle_header_size = decoder_->subtitle_header_size;
  }
  if (file->oformat->flags & AVFMT_GLOBALHEADER) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  r = avcodec_open2(encoder_, encoder, nullptr);
  if (r < 0) return "cannot start the MP4 subtitle encoder: " + ErrorText(r);
  out_ = avformat_new_stream(file, nullptr);
  if (!out_ || avcodec_parameters_from_context(out_->codecpar, encoder_) < 0) return "out of memory";
  out_->time_base = timeBase_;
  buffer_.resize(1 << 16);
  return {};
}

bool TextSubtitles::Convert(const AVPacket* packet, int64_t shift,
                            const std::function<bool(TPacketPtr)>& take) {
  AVSubtitle sub{};
  int got = 0;
  // A damaged cue is skipped, as players do.
  if (avcodec_decode_subtitle2(decoder_, &sub, &got, const_cast<AVPacket*>(packet)) < 0 || !got) return true;
  bool ok = true;
  if (sub.num_rects > 0 && sub.pts != AV_NOPTS_VALUE) {
    // Cues without an end given last until the next one; five seconds stand for that.
    uint32_t length =
        sub.end_display_time > sub.start_display_time ? sub.end_display_time - sub.start_display_time : 5000;
    int64_t start = sub.pts + shift + int64_t(sub.start_display_time) * 1000;
    if (start < 0) {
      const int64_t cut = std::min<int64_t>(-start / 1000, length);
      length -= uint32_t(cut);
      start = 0;
    }
    sub.pts = start;
    sub.start_display_time = 0;
    sub.end_display_time = length;
    const int size =
        length > 0 ? avcodec_encode_subtitle(encoder_, buffer_.data(), int(buffer_.size()), &sub) : 0;
    if (size > 0) {
      TPacketPtr out(av_packet_alloc());
      ok = out && av_new_packet(out.get(), size) >= 0;
      if (ok) {
        std::copy_n(buffer_.data(), size, out->data);
        out->pts = out->dts = av_rescale_q(start, AV_TIME_BASE_Q, out_->time_base);
        out->duration = av_rescale_q(length, {1, 1000}, out_->time_base);
        out->stream_index = out_->index;
        ok = take(std::move(out));
      }
    }
  }
  avsubtitle_free(&sub);
  return ok;
}

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

std::string BurnFilter(const std::string& path, int n, const std::string& charset, int64_t offset,
                       bool ownStyles) {
  std::string options = "filename=" + Escaped("file:" + path, ":=");
  if (n >= 0) options += Format(":si=%d", n);
  if (!charset.empty()) options += ":charenc=" + Escaped(charset, ":=");
  // ASS styles are honoured (a font the system lacks falls back glyph by glyph); plain text
  // cues get the CJK font.
  if (!ownStyles) options += ":force_style=" + Escaped(std::string("FontName=") + kCjkFont, ":=,");
  const std::string filter = "subtitles=" + Escaped(options, "[],;");
  if (offset == 0) return filter;
  return Format("setpts=PTS+%lld,", (long long)offset) + filter +
         Format(",setpts=PTS-%lld", (long long)offset);
}

}  // namespace vidmora::encoder
