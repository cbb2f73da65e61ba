#include "PictureFilter.h"

#include <cmath>
#include <cstdio>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace vidmora::encoder {

namespace {

// -1, 0 or 1 for a 16.16 fixed-point matrix entry divided by the matrix's scale; 2 when
// the entry is neither (a turn that is not a multiple of a quarter turn).
int UnitSign(int32_t value, double scale) {
  const double v = value / 65536.0 / scale;
  if (std::fabs(v) < 0.01) return 0;
  if (std::fabs(std::fabs(v) - 1.0) < 0.01) return v > 0 ? 1 : -1;
  return 2;
}

std::string Join(std::string chain, const std::string& filter) {
  if (!chain.empty()) chain += ',';
  return chain + filter;
}

// zscale's names of the source's colour properties, with BT.2020 where an HDR source
// leaves them open.
const char* ZscaleTransfer(AVColorTransferCharacteristic t) {
  return t == AVCOL_TRC_ARIB_STD_B67 ? "arib-std-b67" : "smpte2084";
}

const char* ZscalePrimaries(AVColorPrimaries p) {
  switch (p) {
    case AVCOL_PRI_BT709:
      return "bt709";
    case AVCOL_PRI_SMPTE432:
      return "smpte432";
    default:
      return "bt2020";
  }
}

// The constant-luminance matrix is defined for the BT.2020 transfer only and is refused
// with PQ or HLG; such sources are read with the usual non-constant one.
const char* ZscaleMatrix(AVColorSpace m) { return m == AVCOL_SPC_BT709 ? "bt709" : "bt2020nc"; }

// The filters that turn a stored picture upright.
const char* OrientationFilters(Orientation o) {
  switch (o) {
    case Orientation::Upright:
      return "";
    case Orientation::Clockwise:
      return "transpose=clock";
    case Orientation::UpsideDown:
      return "hflip,vflip";
    case Orientation::Counterclockwise:
      return "transpose=cclock";
    case Orientation::MirrorLeftRight:
      return "hflip";
    case Orientation::MirrorTopBottom:
      return "vflip";
    case Orientation::Transpose:
      return "transpose=cclock_flip";
    case Orientation::AntiTranspose:
      return "transpose=clock_flip";
  }
  return "";
}

// Standard definition: pictures smaller than 1280x720 either way round.
bool IsStandardDefinition(const PictureSource& s) {
  const int longer = s.width > s.height ? s.width : s.height;
  const int shorter = s.width > s.height ? s.height : s.width;
  return longer < 1280 && shorter < 720;
}

// The 625-line family (PAL and SECAM countries) stores 576 or 288 lines.
bool Is625Lines(const PictureSource& s) {
  const int rows = SwapsSides(s.orientation) ? s.width : s.height;
  return rows == 576 || rows == 288;
}

}  // namespace

Orientation OrientationOf(const int32_t* m) {
  if (!m) return Orientation::Upright;
  // A stored point (x, y) is shown at (a x + c y, b x + d y), y pointing down.
  const double scaleX = std::hypot(m[0] / 65536.0, m[3] / 65536.0);
  const double scaleY = std::hypot(m[1] / 65536.0, m[4] / 65536.0);
  if (scaleX <= 0 || scaleY <= 0) return Orientation::Upright;
  const int a = UnitSign(m[0], scaleX), c = UnitSign(m[3], scaleX);
  const int b = UnitSign(m[1], scaleY), d = UnitSign(m[4], scaleY);
  if (a == 2 || b == 2 || c == 2 || d == 2) return Orientation::Upright;
  if (b == 0 && c == 0) {
    if (a == 1 && d == 1) return Orientation::Upright;
    if (a == -1 && d == -1) return Orientation::UpsideDown;
    if (a == -1 && d == 1) return Orientation::MirrorLeftRight;
    if (a == 1 && d == -1) return Orientation::MirrorTopBottom;
  } else if (a == 0 && d == 0) {
    if (b == 1 && c == -1) return Orientation::Clockwise;
    if (b == -1 && c == 1) return Orientation::Counterclockwise;
    if (b == 1 && c == 1) return Orientation::Transpose;
    if (b == -1 && c == -1) return Orientation::AntiTranspose;
  }
  return Orientation::Upright;
}

bool SwapsSides(Orientation o) {
  return o == Orientation::Clockwise || o == Orientation::Counterclockwise || o == Orientation::Transpose ||
         o == Orientation::AntiTranspose;
}

const char* DescribeOrientation(Orientation o) {
  switch (o) {
    case Orientation::Upright:
      return "upright";
    case Orientation::Clockwise:
      return "a quarter turn clockwise";
    case Orientation::UpsideDown:
      return "half a turn";
    case Orientation::Counterclockwise:
      return "a quarter turn counterclockwise";
    case Orientation::MirrorLeftRight:
      return "mirrored left to right";
    case Orientation::MirrorTopBottom:
      return "mirrored top to bottom";
    case Orientation::Transpose:
      return "rows made columns";
    case Orientation::AntiTranspose:
      return "rows made columns, turned half";
  }
  return "upright";
}

bool IsHdr(AVColorTransferCharacteristic t) {
  return t == AVCOL_TRC_SMPTE2084 || t == AVCOL_TRC_ARIB_STD_B67;
}

Interlacing InterlacingOf(bool pictureInterlaced, bool pictureTopFirst, AVFieldOrder streamOrder) {
  Interlacing result;
  result.interlaced =
      pictureInterlaced || (streamOrder != AV_FIELD_UNKNOWN && streamOrder != AV_FIELD_PROGRESSIVE);
  if (result.interlaced)
    result.bottomFirst =
        pictureInterlaced ? !pictureTopFirst : streamOrder == AV_FIELD_BB || streamOrder == AV_FIELD_BT;
  return result;
}

bool IsFullRange(const PictureSource& s) {
  if (s.colours.range == AVCOL_RANGE_JPEG) return true;
  // The "j" formats of JPEG pictures are full range whatever the tag says.
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(s.format);
  return desc && desc->name && desc->name[0] == 'y' && desc->name[1] == 'u' && desc->name[2] == 'v' &&
         desc->name[3] == 'j';
}

ColourTags OutputColours(const PictureSource& s) {
  ColourTags out;
  out.range = AVCOL_RANGE_MPEG;
  if (IsHdr(s.colours.transfer)) {
    out.primaries = AVCOL_PRI_BT709;
    out.transfer = AVCOL_TRC_BT709;
    out.matrix = AVCOL_SPC_BT709;
    return out;
  }
  const bool sd = IsStandardDefinition(s);
  const bool pal = Is625Lines(s);
  // Values that say nothing (unspecified, reserved, or out of the known set) are filled in.
  const AVColorPrimaries p = s.colours.primaries;
  const bool knownPrimaries = p != AVCOL_PRI_UNSPECIFIED && p != AVCOL_PRI_RESERVED &&
                              p != AVCOL_PRI_RESERVED0 && av_color_primaries_name(p);
  out.primaries = knownPrimaries ? p : !sd ? AVCOL_PRI_BT709 : pal ? AVCOL_PRI_BT470BG : AVCOL_PRI_SMPTE170M;
  const AVColorTransferCharacteristic t = s.colours.transfer;
  const bool knownTransfer = t != AVCOL_TRC_UNSPECIFIED && t != AVCOL_TRC_RESERVED &&
                             t != AVCOL_TRC_RESERVED0 && av_color_transfer_name(t);
  out.transfer = knownTransfer ? t : sd ? AVCOL_TRC_SMPTE170M : AVCOL_TRC_BT709;
  const AVColorSpace m = s.colours.matrix;
  // An RGB "matrix" does not describe the YUV picture that is written.
  const bool knownMatrix =
      m != AVCOL_SPC_UNSPECIFIED && m != AVCOL_SPC_RESERVED && m != AVCOL_SPC_RGB && av_color_space_name(m);
  out.matrix = knownMatrix ? m : !sd ? AVCOL_SPC_BT709 : pal ? AVCOL_SPC_BT470BG : AVCOL_SPC_SMPTE170M;
  return out;
}

std::string PictureChain(const PictureSource& s, AVRational fps, int width, int height) {
  char buf[512];
  std::string chain;
  // Fields are rows of the stored picture: they are woven into whole pictures first, one
  // picture for each, and only pictures marked interlaced are touched.
  if (s.interlaced) chain = Join(chain, "bwdif=mode=send_frame:parity=auto:deint=interlaced");
  // The frame rate before the rest, so dropped pictures are never turned or scaled.
  snprintf(buf, sizeof buf, "fps=fps=%d/%d", fps.num, fps.den);
  chain = Join(chain, buf);
  if (const char* turn = OrientationFilters(s.orientation); *turn) chain = Join(chain, turn);
  const bool hdr = IsHdr(s.colours.transfer);
  if (hdr) {
    // Into linear light, over to BT.709 primaries, compressed into standard range, and back
    // to BT.709 video levels. Each stage names what it takes: pictures need not carry tags.
    const char* primaries = ZscalePrimaries(s.colours.primaries);
    snprintf(buf, sizeof buf,
             "zscale=tin=%s:pin=%s:min=%s:rin=%s:t=linear:npl=100:p=%s,format=gbrpf32le,"
             "zscale=tin=linear:pin=%s:t=linear:p=bt709,tonemap=tonemap=hable:desat=0,"
             "zscale=tin=linear:pin=bt709:t=bt709:p=bt709:m=bt709:r=limited",
             ZscaleTransfer(s.colours.transfer), primaries, ZscaleMatrix(s.colours.matrix),
             IsFullRange(s) ? "full" : "limited", primaries, primaries);
    chain = Join(chain, buf);
  }
  snprintf(buf, sizeof buf, "scale=%d:%d", width, height);
  std::string scale = buf;
  if (!hdr && IsFullRange(s)) scale += ":in_range=full:out_range=limited";
  chain = Join(chain, scale);
  return Join(chain, "format=yuv420p");
}

}  // namespace vidmora::encoder
