#include "SubtitleText.h"

#include "Console.h"
#include "StopRequest.h"
#include "SubtitleBounds.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iconv.h>
#include <uchardet.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

namespace vidmora::encoder {

namespace {

using Clock = std::chrono::steady_clock;

// Well-formed UTF-8 sequences of more than one byte in s (no overlong forms, surrogates or
// values past U+10FFFF), and bytes that begin none.
struct Utf8Count {
  size_t sequences = 0, broken = 0;
};

Utf8Count CountUtf8(const std::string& s) {
  Utf8Count count;
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (i + n > s.size()) n = 0;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) n = 0;
    const unsigned char d = n ? static_cast<unsigned char>(s[i + 1]) : 0;
    if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d > 0x9F) || (c == 0xF0 && d < 0x90) ||
        (c == 0xF4 && d > 0x8F))
      n = 0;
    if (n == 0) {
      ++count.broken;
      ++i;
      continue;
    }
    ++count.sequences;
    i += n;
  }
  return count;
}

// Converts bytes (from `skip` on) from charset to UTF-8. Strict: false at the first byte
// the set cannot read; else such bytes become U+FFFD, and false only when the set is
// unknown or most of the text is unreadable.
bool Convert(const std::string& bytes, size_t skip, const std::string& charset, bool strict,
             std::string& out) {
  iconv_t cd = iconv_open("UTF-8", charset.c_str());
  if (cd == iconv_t(-1)) return false;
  out.clear();
  out.reserve((bytes.size() - skip) * 3 / 2 + 16);
  char* in = const_cast<char*>(bytes.data()) + skip;
  size_t inLeft = bytes.size() - skip;
  size_t bad = 0;
  char buffer[16384];
  bool ok = true;
  while (inLeft > 0) {
    char* to = buffer;
    size_t toLeft = sizeof buffer;
    const size_t r = iconv(cd, &in, &inLeft, &to, &toLeft);
    out.append(buffer, size_t(to - buffer));
    if (r != size_t(-1)) break;
    if (errno == E2BIG) continue;
    if (strict) {
      ok = false;
      break;
    }
    // A byte the set cannot read (EILSEQ) or a character cut off at the end (EINVAL).
    out += "\xEF\xBF\xBD";
    ++bad;
    ++in;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(cd);
  if (ok && bad * 4 > bytes.size() - skip + 4) ok = false;
  // The readers stop at a zero byte: none may stay in the text.
  out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());
  return ok;
}

// UTF-16 without a mark: text of Latin letters and digits has a zero byte in every pair.
std::string Utf16WithoutMark(const std::string& bytes) {
  const size_t n = std::min<size_t>(bytes.size() & ~size_t(1), 4096);
  if (n < 16) return {};
  size_t zeroEven = 0, zeroOdd = 0;
  for (size_t i = 0; i < n; i += 2) {
    zeroEven += bytes[i] == 0;
    zeroOdd += bytes[i + 1] == 0;
  }
  const size_t pairs = n / 2;
  if (zeroOdd * 10 >= pairs * 3 && zeroEven * 20 < pairs) return "UTF-16LE";
  if (zeroEven * 10 >= pairs * 3 && zeroOdd * 20 < pairs) return "UTF-16BE";
  return {};
}

std::string Detect(const std::string& bytes) {
  uchardet_t detector = uchardet_new();
  if (!detector) return {};
  std::string found;
  if (uchardet_handle_data(detector, bytes.data(), std::min<size_t>(bytes.size(), 1 << 20)) == 0) {
    uchardet_data_end(detector);
    found = uchardet_get_charset(detector);
  }
  uchardet_delete(detector);
  return found;
}

bool StartsWith(const std::string& s, const char* prefix, size_t n) {
  return s.compare(0, n, prefix, n) == 0;
}

// Memory read through the media libraries' I/O, with the stop request as its interrupt.
struct MemoryInput {
  const std::string* data;
  size_t at = 0;

  static int Read(void* opaque, uint8_t* buf, int size) {
    auto* m = static_cast<MemoryInput*>(opaque);
    if (StopRequested()) return AVERROR_EXIT;
    const size_t n = std::min(size_t(size), m->data->size() - m->at);
    if (n == 0) return AVERROR_EOF;
    std::memcpy(buf, m->data->data() + m->at, n);
    m->at += n;
    return int(n);
  }
  static int64_t Seek(void* opaque, int64_t offset, int whence) {
    auto* m = static_cast<MemoryInput*>(opaque);
    const int64_t size = int64_t(m->data->size());
    if (whence == AVSEEK_SIZE) return size;
    const int64_t to = (whence & ~AVSEEK_FORCE) == SEEK_CUR   ? int64_t(m->at) + offset
                       : (whence & ~AVSEEK_FORCE) == SEEK_END ? size + offset
                                                              : offset;
    if (to < 0 || to > size) return AVERROR(EINVAL);
    m->at = size_t(to);
    return to;
  }
};

// Whether a cue has anything to show: text, or (when drawings are kept) a drawing.
bool ShowsSomething(const std::string& event, bool keepDrawings) {
  for (char c : PlainText(event))
    if (!std::isspace(static_cast<unsigned char>(c))) return true;
  if (!keepDrawings) return false;
  const std::string text = EventText(event);
  for (size_t p = text.find("\\p"); p != std::string::npos; p = text.find("\\p", p + 2))
    if (p + 2 < text.size() && text[p + 2] >= '1' && text[p + 2] <= '9') return true;
  return false;
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

// ---- character sets ----------------------------------------------------------------------

std::string DecodeText(const std::string& bytes, const std::string& hint, DecodedText& out) {
  static const struct {
    const char* mark;
    size_t length;
    const char* charset;
  } kMarks[] = {{"\xEF\xBB\xBF", 3, "UTF-8"},
                {"\xFF\xFE\x00\x00", 4, "UTF-32LE"},
                {"\x00\x00\xFE\xFF", 4, "UTF-32BE"},
                {"\xFF\xFE", 2, "UTF-16LE"},
                {"\xFE\xFF", 2, "UTF-16BE"}};
  for (const auto& m : kMarks) {
    if (!StartsWith(bytes, m.mark, m.length)) continue;
    out.charset = m.charset;
    if (Convert(bytes, m.length, m.charset, false, out.utf8)) return {};
    return std::string("it is marked as ") + m.charset + " but is not";
  }
  const Utf8Count utf8 = CountUtf8(bytes);
  if (utf8.broken == 0) {
    out.charset = "UTF-8";
    out.utf8 = bytes;
    out.utf8.erase(std::remove(out.utf8.begin(), out.utf8.end(), '\0'), out.utf8.end());
    return {};
  }
  // UTF-8 with a few broken bytes (a line pasted from elsewhere): text in another set
  // seldom forms a sequence of UTF-8 by chance, let alone four for each broken byte.
  if (utf8.sequences >= 4 * utf8.broken && Convert(bytes, 0, "UTF-8", false, out.utf8)) {
    out.charset = "UTF-8";
    return {};
  }
  std::vector<std::string> candidates;
  if (const std::string utf16 = Utf16WithoutMark(bytes); !utf16.empty()) candidates.push_back(utf16);
  if (!hint.empty()) candidates.push_back(hint);
  // Strict first: a set that reads every byte. Then the detector's answer as it is.
  for (const std::string& charset : candidates)
    if (Convert(bytes, 0, charset, true, out.utf8)) {
      out.charset = charset;
      return {};
    }
  const std::string detected = Detect(bytes);
  for (const std::string& charset : {detected, std::string("GB18030")}) {
    if (charset.empty()) continue;
    if (Convert(bytes, 0, charset, false, out.utf8)) {
      out.charset = charset;
      return {};
    }
  }
  return "its character set cannot be told";
}

// ---- cues --------------------------------------------------------------------------------

std::string TextCueReader::Open(const AVCodecParameters* par, AVRational timeBase, int64_t origin,
                                bool keepDrawings) {
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  if (!codec) return std::string("its subtitles (") + avcodec_get_name(par->codec_id) + ") cannot be decoded";
  decoder_.reset(avcodec_alloc_context3(codec));
  if (!decoder_ || avcodec_parameters_to_context(decoder_.get(), par) < 0) return "out of memory";
  decoder_->pkt_timebase = timeBase;
  const int r = avcodec_open2(decoder_.get(), codec, nullptr);
  if (r < 0) return std::string("its subtitles (") + codec->name + ") cannot be decoded: " + ErrorText(r);
  timeBase_ = timeBase;
  origin_ = origin;
  keepDrawings_ = keepDrawings;
  if (decoder_->subtitle_header && decoder_->subtitle_header_size > 0) {
    const std::string raw(reinterpret_cast<const char*>(decoder_->subtitle_header),
                          size_t(decoder_->subtitle_header_size));
    header_ = BoundHeader(raw.substr(0, raw.find('\0')), nullptr);
    playResY_ = PlayResY(header_);
  }
  return {};
}

void TextCueReader::Read(const AVPacket* packet, std::vector<TextCue>& cues) {
  if (text_ > kMaxTrackText || seconds_ > kMaxTrackSeconds) {
    ++counts_.overBudget;
    return;
  }
  const auto began = Clock::now();
  const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
  if (ts == AV_NOPTS_VALUE) return;
  if (ts < 0) {
    ++counts_.negative;
    return;
  }
  if (packet->duration < 0) {
    ++counts_.reversed;
    return;
  }
  AVSubtitle sub{};
  int got = 0;
  // A damaged cue is skipped, as players do.
  if (avcodec_decode_subtitle2(decoder_.get(), &sub, &got, const_cast<AVPacket*>(packet)) < 0 || !got) return;
  TextCue cue;
  cue.start = av_rescale_q(ts, timeBase_, AV_TIME_BASE_Q) - origin_ + int64_t(sub.start_display_time) * 1000;
  if (packet->duration > 0)
    cue.end = cue.start + av_rescale_q(packet->duration, timeBase_, AV_TIME_BASE_Q);
  else if (sub.end_display_time > sub.start_display_time && sub.end_display_time != UINT32_MAX)
    cue.end = cue.start + int64_t(sub.end_display_time - sub.start_display_time) * 1000;
  else
    cue.end = cue.start + kOpenCueLength;
  for (unsigned i = 0; i < sub.num_rects; ++i) {
    const AVSubtitleRect* rect = sub.rects[i];
    if (rect->type != SUBTITLE_ASS || !rect->ass) continue;
    BoundReport report;
    cue.event = BoundEvent(rect->ass, playResY_, keepDrawings_, &report);
    counts_.bounded += report.Any();
    text_ += int64_t(cue.event.size()) + 64;
    if (text_ > kMaxTrackText) {
      ++counts_.overBudget;
      break;
    }
    cues.push_back(cue);
  }
  avsubtitle_free(&sub);
  seconds_ += std::chrono::duration<double>(Clock::now() - began).count();
}

namespace {

// Cuts text after kMaxFileCues cues (their time lines, "-->", or ASS events, "Dialogue:"),
// before the library's reader holds every one as a packet; returns how many were cut off.
int64_t CutAfterCues(std::string& text) {
  int64_t seen = 0;
  size_t cutAt = std::string::npos;
  size_t arrow = text.find("-->"), event = text.find("\nDialogue:");
  for (;;) {
    const size_t next = std::min(arrow, event);
    if (next == std::string::npos) break;
    if (++seen > TextCueReader::kMaxFileCues && cutAt == std::string::npos)
      cutAt = next == arrow ? text.rfind('\n', next) : next;
    if (next == arrow)
      arrow = text.find("-->", arrow + 3);
    else
      event = text.find("\nDialogue:", event + 1);
  }
  if (cutAt == std::string::npos) return 0;
  text.resize(cutAt);
  return seen - TextCueReader::kMaxFileCues;
}

}  // namespace

std::string ReadTextCues(std::string text, const std::string& name, bool keepDrawings,
                         std::vector<TextCue>& cues, std::string& header, CueCounts& counts) {
  const int64_t cutOff = CutAfterCues(text);
  MemoryInput input{&text};
  const int kBuffer = 65536;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBuffer));
  AVIOContext* io =
      buffer ? avio_alloc_context(buffer, kBuffer, 0, &input, &MemoryInput::Read, nullptr, &MemoryInput::Seek)
             : nullptr;
  AVFormatContext* context = io ? avformat_alloc_context() : nullptr;
  if (!context) {
    if (io)
      av_freep(&io->buffer);
    else
      av_free(buffer);
    avio_context_free(&io);
    return "out of memory";
  }
  context->pb = io;
  context->flags |= AVFMT_FLAG_CUSTOM_IO;
  context->interrupt_callback.callback = [](void*) { return StopRequested() ? 1 : 0; };
  // The extension names the format; the content decides among the three otherwise.
  const std::string ext = Lower(name.substr(name.rfind('.') + 1));
  const AVInputFormat* format = ext == "srt"                   ? av_find_input_format("srt")
                                : ext == "ass" || ext == "ssa" ? av_find_input_format("ass")
                                : ext == "vtt"                 ? av_find_input_format("webvtt")
                                                               : nullptr;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "format_whitelist", "srt,ass,webvtt", 0);
  int r = avformat_open_input(&context, name.c_str(), format, &options);
  av_dict_free(&options);
  std::string error;
  if (r < 0) {
    error = StopRequested() ? "stopped" : "it holds no subtitles that can be read (" + ErrorText(r) + ")";
  } else if (context->nb_streams != 1 || context->streams[0]->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) {
    error = "it holds no subtitles that can be read";
  } else {
    const AVStream* st = context->streams[0];
    TextCueReader reader;
    error = reader.Open(st->codecpar, st->time_base, 0, keepDrawings);
    TPacketPtr packet(error.empty() ? av_packet_alloc() : nullptr);
    if (error.empty() && !packet) error = "out of memory";
    while (packet && !StopRequested() && (r = av_read_frame(context, packet.get())) >= 0) {
      reader.Read(packet.get(), cues);
      av_packet_unref(packet.get());
    }
    if (error.empty() && StopRequested()) error = "stopped";
    header = reader.Header();
    counts = reader.Counts();
    counts.overBudget += cutOff;
  }
  avformat_close_input(&context);
  if (io) av_freep(&io->buffer);
  avio_context_free(&io);
  if (!error.empty()) return error;
  std::stable_sort(cues.begin(), cues.end(),
                   [](const TextCue& a, const TextCue& b) { return a.start < b.start; });
  const bool shows = std::any_of(cues.begin(), cues.end(),
                                 [&](const TextCue& c) { return ShowsSomething(c.event, keepDrawings); });
  if (!shows) {
    cues.clear();
    return "it holds no subtitle text";
  }
  return {};
}

std::string DescribeDropped(const CueCounts& c) {
  std::string text;
  const auto add = [&](int64_t n, const char* one, const char* many) {
    if (n > 0) text += (text.empty() ? "" : ", ") + Format("%lld %s", (long long)n, n == 1 ? one : many);
  };
  add(c.reversed, "cue that ends before it starts", "cues that end before they start");
  add(c.negative, "cue before the start", "cues before the start");
  add(c.overBudget, "cue past the track's limit of text or time",
      "cues past the track's limit of text or time");
  return text;
}

std::string DefaultHeader() {
  return "[Script Info]\nScriptType: v4.00+\nPlayResX: 384\nPlayResY: 288\n\n[V4+ Styles]\n"
         "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, "
         "Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, "
         "Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
         "Style: Default,Arial,16,&Hffffff,&Hffffff,&H0,&H0,0,0,0,0,100,100,0,0,1,1,0,2,10,10,10,0\n\n"
         "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
}

// ---- MP4 text tracks ---------------------------------------------------------------------

std::string TextTrack::Open(AVFormatContext* file, const std::string& header) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MOV_TEXT);
  if (!codec) return "the MP4 subtitle encoder is not available";
  encoder_.reset(avcodec_alloc_context3(codec));
  if (!encoder_) return "out of memory";
  encoder_->time_base = {1, 1000};
  // The cues' styles travel in the header; the encoder keeps what MP4 can.
  const std::string styles = header.empty() ? DefaultHeader() : header;
  encoder_->subtitle_header = static_cast<uint8_t*>(av_mallocz(styles.size() + 1));
  if (!encoder_->subtitle_header) return "out of memory";
  std::copy(styles.begin(), styles.end(), encoder_->subtitle_header);
  encoder_->subtitle_header_size = int(styles.size());
  if (file->oformat->flags & AVFMT_GLOBALHEADER) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int r = avcodec_open2(encoder_.get(), codec, nullptr);
  if (r < 0) return "cannot start the MP4 subtitle encoder: " + ErrorText(r);
  out_ = avformat_new_stream(file, nullptr);
  if (!out_ || avcodec_parameters_from_context(out_->codecpar, encoder_.get()) < 0) return "out of memory";
  out_->time_base = {1, 1000};
  // A cue's text is bounded (kMaxEventBytes); its styles take a few bytes a block more.
  buffer_.resize(1 << 16);
  return {};
}

TPacketPtr TextTrack::Encode(const TextCue& cue) {
  int64_t start = cue.start;
  if (cue.end <= std::max<int64_t>(start, 0)) return nullptr;
  start = std::max<int64_t>(start, 0);
  std::vector<char> event(cue.event.begin(), cue.event.end());
  event.push_back('\0');
  AVSubtitleRect rect{};
  rect.type = SUBTITLE_ASS;
  rect.ass = event.data();
  AVSubtitleRect* rects[1] = {&rect};
  AVSubtitle sub{};
  sub.num_rects = 1;
  sub.rects = rects;
  sub.pts = start;
  sub.end_display_time = uint32_t(std::min<int64_t>((cue.end - start) / 1000, UINT32_MAX - 1));
  const int size = avcodec_encode_subtitle(encoder_.get(), buffer_.data(), int(buffer_.size()), &sub);
  if (size <= 0) return nullptr;
  TPacketPtr out(av_packet_alloc());
  if (!out || av_new_packet(out.get(), size) < 0) return nullptr;
  std::copy_n(buffer_.data(), size, out->data);
  out->pts = out->dts = av_rescale_q(start, AV_TIME_BASE_Q, out_->time_base);
  out->duration = std::max<int64_t>(1, av_rescale_q(cue.end - start, AV_TIME_BASE_Q, out_->time_base));
  out->stream_index = out_->index;
  return out;
}

}  // namespace vidmora::encoder
