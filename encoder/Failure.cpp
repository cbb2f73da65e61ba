#include "Failure.h"

#include <cerrno>

extern "C" {
#include <libavutil/error.h>
}

namespace vidmora::encoder {

Failure OutOfMemory() { return {ErrorCode::OutOfMemory, "out of memory"}; }

ErrorCode SourceFailure(int averror) {
  switch (averror) {
    case AVERROR(ENOENT):
    case AVERROR(ENOTDIR):
      return ErrorCode::SourceMissing;
    case AVERROR(EACCES):
    case AVERROR(EPERM):
    case AVERROR(EIO):
      return ErrorCode::SourceUnreadable;
    case AVERROR(EISDIR):
      return ErrorCode::SourceNotRegular;
    case AVERROR(ENOMEM):
      return ErrorCode::OutOfMemory;
    case AVERROR_EXIT:
      return ErrorCode::Stopped;
    case AVERROR_PATCHWELCOME:
    case AVERROR_DECODER_NOT_FOUND:
    case AVERROR_DEMUXER_NOT_FOUND:
      return ErrorCode::SourceUnsupported;
    default:
      return ErrorCode::SourceDamaged;
  }
}

ErrorCode OutputFailure(int averror) {
  switch (averror) {
    case AVERROR(ENOSPC):
    case AVERROR(EDQUOT):
      return ErrorCode::OutputFull;
    case AVERROR(EFBIG):
      return ErrorCode::OutputTooLarge;
    case AVERROR(EACCES):
    case AVERROR(EPERM):
    case AVERROR(EROFS):
    case AVERROR(EIO):
    case AVERROR(ENOENT):
    case AVERROR(ENOTDIR):
      return ErrorCode::OutputUnwritable;
    case AVERROR(ENAMETOOLONG):
    case AVERROR(EILSEQ):
      return ErrorCode::OutputName;
    default:
      return StepFailure(averror);
  }
}

ErrorCode StepFailure(int averror) {
  return averror == AVERROR(ENOMEM) ? ErrorCode::OutOfMemory : ErrorCode::EncodeFailed;
}

}  // namespace vidmora::encoder
