#include "Muxer.h"

#include "Console.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
}

namespace vidmora::encoder {

namespace {

// The output is written through the descriptor of the temporary file, never reopened by
// name. The MP4 writer seeks back to complete its header, so the context seeks too.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using TWriteBuffer = const uint8_t*;
#else
using TWriteBuffer = uint8_t*;
#endif

int WriteToDescriptor(void* opaque, TWriteBuffer data, int size) {
  const int fd = *static_cast<const int*>(opaque);
  int done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size_t(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? AVERROR(errno) : AVERROR(EIO);
    done += int(n);
  }
  return done;
}

int64_t SeekDescriptor(void* opaque, int64_t offset, int whence) {
  const int fd = *static_cast<const int*>(opaque);
  if (whence & AVSEEK_SIZE) {
    struct stat st;
    return fstat(fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
  }
  const off_t at = lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(errno) : int64_t(at);
}

}  // namespace

Muxer::~Muxer() {
  if (out_) {
    CloseIo();
    avformat_free_context(out_);
  }
}

bool Muxer::Create(const std::string& path) {
  const int r = avformat_alloc_output_context2(&out_, nullptr, "mp4", path.c_str());
  return r >= 0 && out_;
}

void KeepTrackNames(AVStream* out, const AVDictionary* from) {
  for (const char* key : {"language", "title"})
    if (const AVDictionaryEntry* e = av_dict_get(from, key, nullptr, 0))
      av_dict_set(&out->metadata, key, e->value, 0);
  if (const AVDictionaryEntry* e = av_dict_get(from, "title", nullptr, 0))
    av_dict_set(&out->metadata, "handler_name", e->value, 0);
}

bool Muxer::AddCover(const AVStream* source) {
  cover_ = avformat_new_stream(out_, nullptr);
  if (!cover_ || avcodec_parameters_copy(cover_->codecpar, source->codecpar) < 0) return false;
  cover_->codecpar->codec_tag = 0;
  cover_->disposition = AV_DISPOSITION_ATTACHED_PIC;
  cover_->time_base = {1, 90000};
  coverSource_ = source;
  return true;
}

bool Muxer::AddChapter(int64_t start, int64_t end, const AVDictionary* tags) {
  auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
  if (!chapter) return Failed(OutOfMemory());
  chapter->id = int64_t(out_->nb_chapters) + 1;
  chapter->time_base = {1, 1000};
  chapter->start = av_rescale_q(start, AV_TIME_BASE_Q, chapter->time_base);
  chapter->end = av_rescale_q(end, AV_TIME_BASE_Q, chapter->time_base);
  if (av_dict_copy(&chapter->metadata, tags, 0) < 0 ||
      av_reallocp_array(&out_->chapters, out_->nb_chapters + 1, sizeof(*out_->chapters)) < 0) {
    av_dict_free(&chapter->metadata);
    av_free(chapter);
    out_->nb_chapters = 0;  // the array is gone when it could not grow
    return Failed(OutOfMemory());
  }
  out_->chapters[out_->nb_chapters++] = chapter;
  return true;
}

bool Muxer::Start(int fd) {
  fd_ = fd;
  constexpr int kBufferSize = 1 << 16;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
  if (!buffer) return Failed(OutOfMemory());
  out_->pb = avio_alloc_context(buffer, kBufferSize, 1, &fd_, nullptr, &WriteToDescriptor, &SeekDescriptor);
  if (!out_->pb) {
    av_free(buffer);
    return Failed(OutOfMemory());
  }
  out_->flags |= AVFMT_FLAG_CUSTOM_IO;
  ClearLibraryError();
  const int r = avformat_write_header(out_, nullptr);
  if (r < 0) {
    const std::string detail = LastLibraryError();
    return Failed(Failure{OutputFailure(r), "cannot write the output " + name_ + ": " +
                                                (detail.empty() ? ErrorText(r) : detail)});
  }
  if (cover_) {
    // The writer keeps the picture for the cover box it writes at the end.
    TPacketPtr picture(av_packet_clone(&coverSource_->attached_pic));
    if (!picture) return Failed(OutOfMemory());
    picture->stream_index = cover_->index;
    picture->pts = picture->dts = 0;
    picture->duration = 0;
    picture->pos = -1;
    const int w = av_interleaved_write_frame(out_, picture.get());
    if (w < 0)
      return Failed(Failure{OutputFailure(w), "writing the output " + name_ + " failed: " + ErrorText(w)});
  }
  return true;
}

int Muxer::CloseIo() {
  if (!out_ || !out_->pb) return 0;
  avio_flush(out_->pb);
  const int error = out_->pb->error;
  av_freep(&out_->pb->buffer);
  avio_context_free(&out_->pb);
  return error;
}

bool Muxer::Write(OutputStream& out, AVPacket* packet) {
  // The file needs rising decoding times; a packet that would break that is moved on.
  if (packet->dts != AV_NOPTS_VALUE) {
    if (out.lastDts != AV_NOPTS_VALUE && packet->dts <= out.lastDts) {
      packet->dts = out.lastDts + 1;
      if (packet->pts != AV_NOPTS_VALUE && packet->pts < packet->dts) packet->pts = packet->dts;
    }
    out.lastDts = packet->dts;
  }
  out.bytes += packet->size;
  if (packet->pts != AV_NOPTS_VALUE && out.stream->codecpar->codec_type != AVMEDIA_TYPE_SUBTITLE) {
    const double end = (packet->pts + std::max<int64_t>(0, packet->duration)) * av_q2d(out.stream->time_base);
    outputTime_ = std::max(outputTime_, end);
    if (&out == &video_) videoEnd_ = std::max(videoEnd_, end);
  }
  const int r = av_interleaved_write_frame(out_, packet);
  if (r < 0) {
    av_packet_unref(packet);
    return Failed(Failure{OutputFailure(r), "writing the output " + name_ + " failed: " + ErrorText(r)});
  }
  return true;
}

bool Muxer::WritePicture(AVPacket* packet) { return Write(video_, packet) && WriteHeldSound(videoEnd_); }

double Muxer::HeldPacket::Time() const {
  return packet->pts == AV_NOPTS_VALUE ? NAN : packet->pts * av_q2d(out->stream->time_base);
}

bool Muxer::HoldSound(OutputStream& out, AVPacket* packet) {
  TPacketPtr held(av_packet_alloc());
  if (!held) return Failed(OutOfMemory());
  av_packet_move_ref(held.get(), packet);
  heldSound_.push_back({&out, std::move(held)});
  return WriteHeldSound(videoEnd_);
}

bool Muxer::WriteHeldSound(double upTo) {
  while (!heldSound_.empty()) {
    const double first = heldSound_.front().Time(), last = heldSound_.back().Time();
    // Pictures that lag this far behind are not an encoder's delay but a picture stream
    // that has ended or paused: the sound is not held for them.
    const bool heldLong = !std::isnan(first) && !std::isnan(last) && last - first > 5.0;
    if (!heldLong && !std::isnan(first) && first > upTo) break;
    if (!Write(*heldSound_.front().out, heldSound_.front().packet.get())) return false;
    heldSound_.pop_front();
  }
  return true;
}

bool Muxer::Finish() {
  const int r = av_write_trailer(out_);
  if (r < 0)
    return Failed(Failure{OutputFailure(r), "finishing the output " + name_ + " failed: " + ErrorText(r)});
  finished_ = true;
  return true;
}

bool Muxer::Close() {
  const int error = CloseIo();
  if (error < 0)
    return Failed(
        Failure{OutputFailure(error), "writing the output " + name_ + " failed: " + ErrorText(error)});
  if (finished_ && fd_ >= 0 && !userData_.empty()) userDataError_ = AppendUserData(fd_, userData_);
  return true;
}

int64_t Muxer::Position() const { return out_ && out_->pb ? std::max<int64_t>(0, avio_tell(out_->pb)) : 0; }

}  // namespace vidmora::encoder
