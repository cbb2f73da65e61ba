// The encoders: the picture and sound encoders chosen and set up from the options and the
// source (size, frame rate, aspect, colours; sampling rate, channels, bit rates), each
// with its stream in the output file, and the encoding of one frame.
#pragma once

#include "Muxer.h"
#include "Options.h"
#include "PictureFilter.h"
#include "Source.h"

#include <functional>
#include <string>

namespace vidmora::encoder {

// What the picture encoder was set up with, for the picture chain and the console.
struct PictureSetup {
  PictureSource picture;  // what the source's picture needs on its way to the encoder
  AVRational fps{25, 1};
  AVRational sar{1, 1};
  bool turnedToPortrait = false;  // the size or aspect chosen was taken standing up
};

// Sets up and opens the encoder for the source's picture (or one sound track) in out, with its
// stream in file. Returns why it is refused, if it is.
MaybeFailure OpenVideoEncoder(const Options& opt, Source& src, AVFormatContext* file, OutputStream& out,
                              PictureSetup& setup);
MaybeFailure OpenAudioEncoder(const Options& opt, const InputStream& sound, AVFormatContext* file,
                              OutputStream& out);

// Takes each encoded packet, its timestamps in the output stream's time base; false when
// it could not be written.
using PacketWriter = std::function<bool(AVPacket*)>;

// Gives out's encoder one frame (timestamps in timeBase), or nullptr at the end to flush it,
// and writes what it gives. False on failure: error tells why, or is empty when write
// failed. After a stop, the flush gives up what the encoder still holds after a while.
bool Encode(OutputStream& out, AVFrame* frame, AVRational timeBase, const PacketWriter& write,
            MaybeFailure& error);

}  // namespace vidmora::encoder
