// The picture's filter chain worked out from a source's properties: which way a display
// matrix turns the picture, which colour tags are written, and that every chain the
// encoder can ask for is accepted by the filter library and gives the size it promises.
#include <QtTest>

#include "PictureFilter.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

using namespace vidmora::encoder;

Q_DECLARE_METATYPE(Orientation)

namespace {

// Sends one mid-grey picture of the source's size and format through "buffer -> chain ->
// buffersink"; 8-bit pictures get a bright 4x4 spot at (8, 4). The picture that comes out,
// or none when the filter library refuses the chain.
AVFrame* Filter(const PictureSource& s, const std::string& chain) {
  AVFrame* in = av_frame_alloc();
  in->width = s.width;
  in->height = s.height;
  in->format = s.format;
  in->pts = 0;
  if (av_frame_get_buffer(in, 0) < 0) {
    av_frame_free(&in);
    return nullptr;
  }
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(s.format);
  const bool wide = desc->comp[0].depth > 8;
  for (int p = 0; p < 3; ++p) {
    const int rows = p ? AV_CEIL_RSHIFT(s.height, desc->log2_chroma_h) : s.height;
    const int cols = p ? AV_CEIL_RSHIFT(s.width, desc->log2_chroma_w) : s.width;
    for (int row = 0; row < rows; ++row) {
      uint8_t* line = in->data[p] + row * in->linesize[p];
      for (int col = 0; col < cols; ++col) {
        if (wide)
          reinterpret_cast<uint16_t*>(line)[col] = p ? 512 : 300;
        else
          line[col] = p ? 128 : (row >= 4 && row < 8 && col >= 8 && col < 12) ? 235 : 40;
      }
    }
  }
  AVFilterGraph* graph = avfilter_graph_alloc();
  AVFilterContext *src = nullptr, *sink = nullptr;
  const QByteArray args = QString("video_size=%1x%2:pix_fmt=%3:time_base=1/25:pixel_aspect=1/1")
                              .arg(s.width)
                              .arg(s.height)
                              .arg(int(s.format))
                              .toLatin1();
  AVFilterInOut* outputs = avfilter_inout_alloc();
  AVFilterInOut* inputs = avfilter_inout_alloc();
  AVFrame* out = av_frame_alloc();
  bool ok = avfilter_graph_create_filter(&src, avfilter_get_by_name("buffer"), "in", args.constData(),
                                         nullptr, graph) >= 0 &&
            avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                         graph) >= 0;
  if (ok) {
    outputs->name = av_strdup("in");
    outputs->filter_ctx = src;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink;
    ok = avfilter_graph_parse_ptr(graph, chain.c_str(), &inputs, &outputs, nullptr) >= 0 &&
         avfilter_graph_config(graph, nullptr) >= 0 && av_buffersrc_add_frame(src, in) >= 0 &&
         av_buffersrc_close(src, 1, AV_BUFFERSRC_FLAG_PUSH) >= 0 && av_buffersink_get_frame(sink, out) >= 0;
  }
  if (!ok) av_frame_free(&out);
  av_frame_free(&in);
  avfilter_inout_free(&inputs);
  avfilter_inout_free(&outputs);
  avfilter_graph_free(&graph);
  return out;
}

}  // namespace

class TestEncoderPicture : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { av_log_set_level(AV_LOG_QUIET); }

  // Display matrices as cameras write them: a stored point (x, y) is shown at
  // (a x + c y, b x + d y), y pointing down. A bright spot of a stored picture sent through
  // the chain lands where the matrix shows it.
  void orientation_data() {
    QTest::addColumn<QVector<double>>("abcd");
    QTest::addColumn<Orientation>("expected");
    QTest::newRow("as stored") << QVector<double>{1, 0, 0, 1} << Orientation::Upright;
    QTest::newRow("quarter clockwise (phone held upright)")
        << QVector<double>{0, 1, -1, 0} << Orientation::Clockwise;
    QTest::newRow("half") << QVector<double>{-1, 0, 0, -1} << Orientation::UpsideDown;
    QTest::newRow("quarter counterclockwise")
        << QVector<double>{0, -1, 1, 0} << Orientation::Counterclockwise;
    QTest::newRow("mirrored left to right") << QVector<double>{-1, 0, 0, 1} << Orientation::MirrorLeftRight;
    QTest::newRow("mirrored top to bottom") << QVector<double>{1, 0, 0, -1} << Orientation::MirrorTopBottom;
    QTest::newRow("rows made columns") << QVector<double>{0, 1, 1, 0} << Orientation::Transpose;
    QTest::newRow("rows made columns, other way")
        << QVector<double>{0, -1, -1, 0} << Orientation::AntiTranspose;
    QTest::newRow("an eighth turn: left as stored")
        << QVector<double>{0.7071, 0.7071, -0.7071, 0.7071} << Orientation::Upright;
  }

  void orientation() {
    QFETCH(QVector<double>, abcd);
    QFETCH(Orientation, expected);
    int32_t m[9] = {int32_t(abcd[0] * 65536),
                    int32_t(abcd[1] * 65536),
                    0,
                    int32_t(abcd[2] * 65536),
                    int32_t(abcd[3] * 65536),
                    0,
                    0,
                    0,
                    1 << 30};
    QCOMPARE(OrientationOf(m), expected);
    QCOMPARE(OrientationOf(nullptr), Orientation::Upright);
    if (expected == Orientation::Upright) return;

    // Where the matrix puts the centre of a stored 4x4 spot at (8, 4) of a 64x48 picture,
    // counted from the top left of the shown picture.
    const double w = 64, h = 48, x = 10, y = 6;
    auto shown = [&](double px, double py) {
      return QPointF(abcd[0] * px + abcd[2] * py, abcd[1] * px + abcd[3] * py);
    };
    double minX = 1e9, minY = 1e9;
    for (QPointF corner : {shown(0, 0), shown(w, 0), shown(0, h), shown(w, h)}) {
      minX = std::min(minX, corner.x());
      minY = std::min(minY, corner.y());
    }
    const QPointF want = shown(x, y) - QPointF(minX, minY);

    PictureSource s;
    s.width = int(w);
    s.height = int(h);
    s.format = AV_PIX_FMT_YUV420P;
    s.orientation = expected;
    const QSize size = SwapsSides(expected) ? QSize(48, 64) : QSize(64, 48);
    AVFrame* out = Filter(s, PictureChain(s, {25, 1}, size.width(), size.height()));
    QVERIFY(out);
    double sx = 0, sy = 0, n = 0;
    for (int row = 0; row < out->height; ++row)
      for (int col = 0; col < out->width; ++col)
        if (out->data[0][row * out->linesize[0] + col] > 150) sx += col + 0.5, sy += row + 0.5, ++n;
    av_frame_free(&out);
    const QPointF got = n > 0 ? QPointF(sx / n, sy / n) : QPointF(-1, -1);
    QVERIFY2(
        std::abs(got.x() - want.x()) < 1 && std::abs(got.y() - want.y()) < 1,
        qPrintable(
            QString("spot at %1,%2, expected %3,%4").arg(got.x()).arg(got.y()).arg(want.x()).arg(want.y())));
  }

  // Tags written where the samples do not reach: HDR without primaries, HD either way
  // round, a turned PAL picture, SDR in BT.2020 (kept), an RGB matrix (not what is written).
  void colours() {
    auto tags = [](int w, int h, ColourTags in, Orientation o = Orientation::Upright) {
      PictureSource s;
      s.width = w;
      s.height = h;
      s.format = AV_PIX_FMT_YUV420P;
      s.colours = in;
      s.orientation = o;
      const ColourTags t = OutputColours(s);
      return QString("%1/%2/%3/%4")
          .arg(av_color_primaries_name(t.primaries), av_color_transfer_name(t.transfer),
               av_color_space_name(t.matrix), av_color_range_name(t.range));
    };
    const ColourTags none;
    const ColourTags pqBare{AVCOL_PRI_UNSPECIFIED, AVCOL_TRC_SMPTE2084, AVCOL_SPC_UNSPECIFIED,
                            AVCOL_RANGE_UNSPECIFIED};
    const ColourTags sdr2020{AVCOL_PRI_BT2020, AVCOL_TRC_BT2020_10, AVCOL_SPC_BT2020_NCL, AVCOL_RANGE_JPEG};
    const ColourTags rgbMatrix{AVCOL_PRI_UNSPECIFIED, AVCOL_TRC_UNSPECIFIED, AVCOL_SPC_RGB,
                               AVCOL_RANGE_UNSPECIFIED};
    QCOMPARE(tags(640, 360, pqBare), QString("bt709/bt709/bt709/tv"));
    QCOMPARE(tags(1920, 1080, none), QString("bt709/bt709/bt709/tv"));
    QCOMPARE(tags(1080, 1920, none, Orientation::Clockwise), QString("bt709/bt709/bt709/tv"));
    QCOMPARE(tags(576, 720, none, Orientation::Counterclockwise), QString("bt470bg/smpte170m/bt470bg/tv"));
    QCOMPARE(tags(1920, 1080, sdr2020), QString("bt2020/bt2020-10/bt2020nc/tv"));
    QCOMPARE(tags(320, 240, rgbMatrix), QString("smpte170m/smpte170m/smpte170m/tv"));
  }

  // HLG and PQ are different curves: the same stored grey tone-maps to a different
  // brightness under each, so a chain that reads one with the other's curve shows.
  void hdrCurvesDiffer() {
    auto lumaOf = [](AVColorTransferCharacteristic transfer) {
      PictureSource s;
      s.width = 64;
      s.height = 48;
      s.format = AV_PIX_FMT_YUV420P10LE;
      s.colours = {AVCOL_PRI_BT2020, transfer, AVCOL_SPC_BT2020_NCL, AVCOL_RANGE_MPEG};
      AVFrame* out = Filter(s, PictureChain(s, {25, 1}, 64, 48));
      // An 8-bit picture keeps its byte; a wider one is read as its 16-bit word.
      const bool wide = out && av_pix_fmt_desc_get(AVPixelFormat(out->format))->comp[0].depth > 8;
      const uint8_t* line = out ? out->data[0] + 20 * out->linesize[0] : nullptr;
      const int luma = !out ? -1 : wide ? reinterpret_cast<const uint16_t*>(line)[30] : line[30];
      av_frame_free(&out);
      return luma;
    };
    const int hlg = lumaOf(AVCOL_TRC_ARIB_STD_B67), pq = lumaOf(AVCOL_TRC_SMPTE2084);
    QVERIFY2(hlg > 16 && pq > 0 && std::abs(hlg - pq) >= 8,
             qPrintable(QString("HLG %1, PQ %2").arg(hlg).arg(pq)));
  }

  // A plain progressive SDR source gets the chain it always had; the others get their
  // stages in working order, and the filter library accepts every combination with the
  // promised size at the end.
  void chains() {
    PictureSource plain;
    plain.width = 320;
    plain.height = 240;
    plain.format = AV_PIX_FMT_YUV420P;
    QCOMPARE(PictureChain(plain, {25, 1}, 320, 240),
             std::string("fps=fps=25/1,scale=320:240,format=yuv420p"));

    for (int turn = 0; turn <= int(Orientation::AntiTranspose); ++turn)
      for (AVColorTransferCharacteristic transfer :
           {AVCOL_TRC_UNSPECIFIED, AVCOL_TRC_SMPTE2084, AVCOL_TRC_ARIB_STD_B67})
        for (AVPixelFormat format :
             {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUV422P10LE})
          for (bool interlaced : {false, true}) {
            PictureSource s;
            s.width = 64;
            s.height = 48;
            s.format = format;
            s.orientation = Orientation(turn);
            // Primaries and matrices vary with the turn, so each kind meets each of them.
            const AVColorPrimaries primaries[] = {AVCOL_PRI_BT2020, AVCOL_PRI_SMPTE432, AVCOL_PRI_BT709,
                                                  AVCOL_PRI_UNSPECIFIED};
            const AVColorSpace matrices[] = {AVCOL_SPC_BT2020_CL, AVCOL_SPC_BT2020_NCL, AVCOL_SPC_BT709,
                                             AVCOL_SPC_UNSPECIFIED};
            s.colours = {primaries[turn % 4], transfer, matrices[turn / 2 % 4], AVCOL_RANGE_UNSPECIFIED};
            s.interlaced = interlaced;
            const QSize want = SwapsSides(s.orientation) ? QSize(24, 32) : QSize(32, 24);
            const std::string chain = PictureChain(s, {30000, 1001}, want.width(), want.height());
            AVFrame* out = Filter(s, chain);
            const QSize got = out ? QSize(out->width, out->height) : QSize();
            av_frame_free(&out);
            QVERIFY2(got == want, chain.c_str());
            const size_t bwdif = chain.find("bwdif"), fps = chain.find("fps="), scale = chain.find("scale=");
            QCOMPARE(bwdif != std::string::npos, interlaced);
            QVERIFY2((!interlaced || bwdif < fps) && fps < scale, chain.c_str());
            if (IsHdr(transfer)) QVERIFY2(chain.find("tonemap") < chain.find(",scale="), chain.c_str());
            if (format == AV_PIX_FMT_YUVJ422P && !IsHdr(transfer))
              QVERIFY2(chain.find("in_range=full:out_range=limited") != std::string::npos, chain.c_str());
          }
  }

  // The interlace decision: the first decoded picture tells, and where it happens to be
  // progressive, the stream's field order does; the field order picks the first field.
  void interlacing_data() {
    QTest::addColumn<bool>("pictureInterlaced");
    QTest::addColumn<bool>("pictureTopFirst");
    QTest::addColumn<int>("streamOrder");
    QTest::addColumn<bool>("interlaced");
    QTest::addColumn<bool>("bottomFirst");
    QTest::newRow("progressive picture, order unknown")
        << false << false << int(AV_FIELD_UNKNOWN) << false << false;
    QTest::newRow("progressive picture and stream")
        << false << true << int(AV_FIELD_PROGRESSIVE) << false << false;
    QTest::newRow("interlaced picture, top first") << true << true << int(AV_FIELD_UNKNOWN) << true << false;
    QTest::newRow("interlaced picture, bottom first, stream says top")
        << true << false << int(AV_FIELD_TT) << true << true;
    QTest::newRow("progressive first picture, stream bottom first")
        << false << true << int(AV_FIELD_BB) << true << true;
    QTest::newRow("progressive first picture, stream bottom coded first")
        << false << false << int(AV_FIELD_BT) << true << true;
    QTest::newRow("progressive first picture, stream top first")
        << false << false << int(AV_FIELD_TB) << true << false;
  }

  void interlacing() {
    QFETCH(bool, pictureInterlaced);
    QFETCH(bool, pictureTopFirst);
    QFETCH(int, streamOrder);
    QFETCH(bool, interlaced);
    QFETCH(bool, bottomFirst);
    const Interlacing got = InterlacingOf(pictureInterlaced, pictureTopFirst, AVFieldOrder(streamOrder));
    QCOMPARE(got.interlaced, interlaced);
    QCOMPARE(got.bottomFirst, bottomFirst);
  }
};

QTEST_GUILESS_MAIN(TestEncoderPicture)
#include "tst_encoder_picture.moc"
