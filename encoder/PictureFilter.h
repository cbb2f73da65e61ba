// What a source's picture needs before it is scaled and encoded, worked out from the
// source's properties alone: turning it upright, deinterlacing it, bringing HDR down to
// standard range, and the colour tags that describe what is finally written.
#pragma once

#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

namespace vidmora::encoder {

// How a stored picture is turned or mirrored to be seen upright, named by what is done to it.
enum class Orientation {
  Upright,
  Clockwise,         // a quarter turn clockwise
  UpsideDown,        // half a turn
  Counterclockwise,  // a quarter turn counterclockwise
  MirrorLeftRight,
  MirrorTopBottom,
  Transpose,      // rows become columns (top left stays)
  AntiTranspose,  // rows become columns (bottom right goes to the top left)
};

// The orientation a display matrix (nine 32-bit values, a b u / c d v / x y w, as stored in
// MP4 track headers) asks for. Upright for no matrix and for turns that are not a multiple
// of a quarter turn.
Orientation OrientationOf(const int32_t* displayMatrix);

// True when the upright picture's width is the stored height.
bool SwapsSides(Orientation orientation);

// A short description for the console: "a quarter turn clockwise".
const char* DescribeOrientation(Orientation orientation);

// True for the transfers of HDR video: PQ (SMPTE ST 2084) and HLG (ARIB STD-B67).
bool IsHdr(AVColorTransferCharacteristic transfer);

struct ColourTags {
  AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
  AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
  AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
};

struct PictureSource {
  int width = 0, height = 0;  // as stored
  AVPixelFormat format = AV_PIX_FMT_NONE;
  ColourTags colours;
  Orientation orientation = Orientation::Upright;
  bool interlaced = false;
};

// Whether a source is interlaced, and which field comes first: told by its first decoded
// picture, or by the stream's field order where that picture happens to be progressive.
struct Interlacing {
  bool interlaced = false;
  bool bottomFirst = false;
};
Interlacing InterlacingOf(bool pictureInterlaced, bool pictureTopFirst, AVFieldOrder streamOrder);

// True when the source's samples use the full 0-255 range.
bool IsFullRange(const PictureSource& source);

// The tags of the picture as written (8-bit 4:2:0, limited range): BT.709 for HDR sources,
// which are tone-mapped; otherwise the source's own tags, with BT.709 (HD) or BT.601 (SD)
// filled in where the source has none.
ColourTags OutputColours(const PictureSource& source);

// The filter chain from the decoded picture to the encoder's input at width x height and the
// frame rate fps: deinterlacing, frame rate, turning upright, tone mapping, scaling. For a
// plain progressive SDR source it is "fps=fps=N/D,scale=W:H,format=yuv420p".
std::string PictureChain(const PictureSource& source, AVRational fps, int width, int height);

}  // namespace vidmora::encoder
