#include "UserData.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace vidmora::encoder {

namespace {

// 'und' as an ISO 639-2 code packed into 15 bits, as MP4 stores languages.
constexpr uint16_t kUndetermined =
    ((('u' - 0x60) & 0x1f) << 10) | ((('n' - 0x60) & 0x1f) << 5) | (('d' - 0x60) & 0x1f);

struct Box {
  int64_t at = 0;    // where its header starts
  int64_t size = 0;  // header included
  int header = 8;    // 16 with a 64-bit size
  char type[5] = {};
};

// Reads or writes n bytes at `at` with io (pread or pwrite), taking up where a call stopped short.
template <class Io, class Byte>
bool Whole(Io io, int fd, Byte* p, size_t n, int64_t at) {
  while (n > 0) {
    const ssize_t done = io(fd, p, n, off_t(at));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    p += done;
    n -= size_t(done);
    at += done;
  }
  return true;
}

bool ReadAll(int fd, void* into, size_t n, int64_t at) {
  return Whole(pread, fd, static_cast<char*>(into), n, at);
}

bool WriteAll(int fd, const void* from, size_t n, int64_t at) {
  return Whole(pwrite, fd, static_cast<const char*>(from), n, at);
}

uint64_t BigEndian(const unsigned char* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
  return v;
}

void PutBigEndian(std::string& into, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) into += char((v >> (8 * i)) & 0xff);
}

// The box whose header starts at `at`, within [at, end); false when none fits there.
bool ReadBox(int fd, int64_t at, int64_t end, Box& box) {
  unsigned char head[16];
  if (end - at < 8 || !ReadAll(fd, head, 8, at)) return false;
  box.at = at;
  box.header = 8;
  box.size = int64_t(BigEndian(head, 4));
  std::memcpy(box.type, head + 4, 4);
  if (box.size == 1) {
    if (end - at < 16 || !ReadAll(fd, head + 8, 8, at + 8)) return false;
    box.size = int64_t(BigEndian(head + 8, 8));
    box.header = 16;
  } else if (box.size == 0) {
    box.size = end - at;  // to the end
  }
  return box.size >= box.header && box.size <= end - at;
}

// The last box of [from, end) when the boxes there follow each other up to end exactly.
bool LastBox(int fd, int64_t from, int64_t end, Box& last, Box* named = nullptr, const char* name = nullptr) {
  Box box;
  bool any = false;
  for (int64_t at = from; at < end; at += box.size) {
    if (!ReadBox(fd, at, end, box)) return false;
    if (named && std::memcmp(box.type, name, 4) == 0) *named = box;
    last = box;
    any = true;
  }
  return any;
}

// Rewrites a box's size; false when it does not fit the size field it has.
bool SetSize(int fd, const Box& box, int64_t size) {
  std::string field;
  if (box.header == 16) {
    PutBigEndian(field, uint64_t(size), 8);
    return WriteAll(fd, field.data(), field.size(), box.at + 8);
  }
  if (size > int64_t(UINT32_MAX)) return false;
  PutBigEndian(field, uint64_t(size), 4);
  return WriteAll(fd, field.data(), field.size(), box.at);
}

}  // namespace

std::string AppendUserData(int fd, const std::vector<UserDataString>& strings) {
  std::string payload;
  for (const auto& [type, text] : strings) {
    if (type.size() != 4 || text.empty() || text.size() > 0xffff) continue;
    PutBigEndian(payload, 8 + 4 + text.size(), 4);
    payload += type;
    PutBigEndian(payload, text.size(), 2);
    PutBigEndian(payload, kUndetermined, 2);
    payload += text;
  }
  if (payload.empty()) return {};
  struct stat st;
  if (fstat(fd, &st) != 0) return std::strerror(errno);
  const int64_t fileEnd = st.st_size;
  Box moov, lastChild, udta;
  if (!LastBox(fd, 0, fileEnd, moov) || std::memcmp(moov.type, "moov", 4) != 0)
    return "the movie box does not end the file";
  const int64_t moovEnd = moov.at + moov.size;
  udta.at = -1;
  if (!LastBox(fd, moov.at + moov.header, moovEnd, lastChild, &udta, "udta"))
    return "the movie box cannot be read";
  const bool hasUserData = udta.at >= 0;
  if (hasUserData && udta.at != lastChild.at) return "the user-data box is not the movie box's last";
  std::string added;
  if (!hasUserData) {
    PutBigEndian(added, 8 + payload.size(), 4);
    added += "udta";
  }
  added += payload;
  const int64_t grow = int64_t(added.size());
  if (moov.header == 8 && moov.size + grow > int64_t(UINT32_MAX)) return "the movie box would grow too large";
  if (hasUserData && udta.header == 8 && udta.size + grow > int64_t(UINT32_MAX))
    return "the user-data box would grow too large";
  // The new bytes first, then the sizes that take them in: until the sizes change, a reader
  // sees the file as it was, with a few bytes after its last box.
  if (!WriteAll(fd, added.data(), added.size(), fileEnd)) return std::strerror(errno ? errno : EIO);
  if ((hasUserData && !SetSize(fd, udta, udta.size + grow)) || !SetSize(fd, moov, moov.size + grow)) {
    // Back as it was: the old sizes, without the new bytes.
    const int error = errno ? errno : EIO;
    if (hasUserData) SetSize(fd, udta, udta.size);
    SetSize(fd, moov, moov.size);
    if (ftruncate(fd, off_t(fileEnd)) != 0) return std::strerror(errno);
    return std::strerror(error);
  }
  return {};
}

}  // namespace vidmora::encoder
