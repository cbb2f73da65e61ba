// The encoder on the kinds of files people really convert: phone clips stored turned,
// HDR, interlaced camcorder and DVD video, old web and phone formats. Each sample is
// converted at the defaults and the output is read back and decoded to the end.
//
// Every sample's picture, seen upright, has a red mark at the top left, a green one at the
// top right and a blue one at the bottom right (tests/data/encoder/real/make_samples.py).
#include "support/MediaRead.h"

#include <QtTest>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

namespace {

const QString kEncoder = QStringLiteral(VIDMORA_ENCODER_PATH);
const QString kSamples = QStringLiteral(VIDMORA_ENCODER_DATA) + "/real";

// What the shared reader tells, and what the pictures show.
struct Facts : TestMedia::MediaFacts {
  double comb = 0;      // mean over frames: row-to-next-row difference over row-to-row-after-next
  double meanLuma = 0;  // 8-bit pictures only
  QString marks;        // colours at top left, top right, bottom right of one picture: "RGB"
};

char colourAt(const AVFrame* f, int x, int y) {
  // Mean of a small patch of an 8-bit 4:2:0 picture, classified by its chroma.
  double u = 0, v = 0;
  int n = 0;
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx) {
      const int cx = std::clamp(x + dx, 0, f->width - 1) / 2, cy = std::clamp(y + dy, 0, f->height - 1) / 2;
      u += f->data[1][cy * f->linesize[1] + cx];
      v += f->data[2][cy * f->linesize[2] + cx];
      ++n;
    }
  u = u / n - 128;
  v = v / n - 128;
  if (v > 30 && v > u + 30) return 'R';
  if (u > 30 && u > v + 30) return 'B';
  if (u < -20 && v < -20) return 'G';
  return '?';
}

// Reads a file's streams, decodes them to the end and measures each 8-bit picture.
Facts read(const QString& path) {
  Facts facts;
  double combSum = 0, lumaSum = 0;
  int combFrames = 0, lumaFrames = 0, pictures = 0;
  TestMedia::ReadOptions options;
  options.onPicture = [&](const AVFrame* f, double) {
    ++pictures;
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(f->format));
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_RGB) || desc->comp[0].depth != 8 || desc->nb_components < 3)
      return;
    double near = 0, far = 0, luma = 0;
    for (int y = 0; y < f->height; ++y) {
      const uint8_t* row = f->data[0] + y * f->linesize[0];
      for (int x = 0; x < f->width; ++x) {
        luma += row[x];
        if (y + 2 < f->height) {
          near += std::abs(row[x] - row[x + f->linesize[0]]);
          far += std::abs(row[x] - row[x + 2 * f->linesize[0]]);
        }
      }
    }
    if (far > 0) combSum += near / far, ++combFrames;
    lumaSum += luma / (double(f->width) * f->height), ++lumaFrames;
    // The marks are read on a picture a little way in, the same for every sample.
    if (pictures == 10 && f->format == AV_PIX_FMT_YUV420P) {
      const int w = f->width, h = f->height;
      facts.marks = QString(colourAt(f, w / 10, h / 10)) + colourAt(f, w - w / 10, h / 10) +
                    colourAt(f, w - w / 10, h - h / 10);
    }
  };
  static_cast<TestMedia::MediaFacts&>(facts) = TestMedia::Read(path, options);
  facts.comb = combFrames ? combSum / combFrames : 0;
  facts.meanLuma = lumaFrames ? lumaSum / lumaFrames : 0;
  return facts;
}

}  // namespace

class TestEncoderReal : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { av_log_set_level(AV_LOG_QUIET); }

  void corpus_data() {
    QTest::addColumn<QString>("sample");
    QTest::addColumn<bool>("interlaced");
    QTest::addColumn<QString>("colours");  // primaries/transfer/matrix written, "" without video
    QTest::addColumn<QString>("size");     // a chosen picture size, "" for the source's
    QTest::newRow("phone upright, HEVC 10-bit turned a quarter")
        << "phone_portrait_hevc10.mp4" << false << "bt709/bt709/bt709"
        << "";
    // A chosen size is the size of the upright picture.
    QTest::newRow("phone upright at a chosen size")
        << "phone_portrait_hevc10.mp4" << false << "bt709/bt709/bt709"
        << "90x160";
    QTest::newRow("phone upside down") << "phone_upside_down.mp4" << false << "smpte170m/smpte170m/smpte170m"
                                       << "";
    QTest::newRow("front camera, mirrored")
        << "selfie_mirrored.mov" << false << "smpte170m/smpte170m/smpte170m"
        << "";
    QTest::newRow("HLG, BT.2020 10-bit") << "hlg_hevc10.mov" << false << "bt709/bt709/bt709"
                                         << "";
    QTest::newRow("PQ, BT.2020 10-bit") << "pq_hevc10.mkv" << false << "bt709/bt709/bt709"
                                        << "";
    QTest::newRow("interlaced MPEG-2 and AC-3 in TS")
        << "camcorder_interlaced.ts" << true << "smpte170m/smpte170m/smpte170m"
        << "";
    QTest::newRow("anamorphic PAL DVD, 5.1")
        << "dvd_pal_anamorphic.vob" << true << "bt470bg/smpte170m/bt470bg"
        << "";
    QTest::newRow("FLV1 and MP3") << "flash.flv" << false << "smpte170m/smpte170m/smpte170m"
                                  << "";
    QTest::newRow("WMV2 and WMA2 in ASF") << "windows_media.wmv" << false << "smpte170m/smpte170m/smpte170m"
                                          << "";
    QTest::newRow("RealVideo 2") << "realvideo.rm" << false << "smpte170m/smpte170m/smpte170m"
                                 << "";
    QTest::newRow("H.263 in 3GP, 8 kHz mono") << "mobile.3gp" << false << "smpte170m/smpte170m/smpte170m"
                                              << "";
    QTest::newRow("ProRes and PCM in MOV") << "prores_pcm.mov" << false << "smpte170m/smpte170m/smpte170m"
                                           << "";
    QTest::newRow("VP9 and Opus in WebM named .mp4")
        << "webm_named.mp4" << false << "smpte170m/smpte170m/smpte170m"
        << "";
    QTest::newRow("full-range MJPEG, two sound tracks")
        << "mjpeg_two_tracks.mkv" << false << "smpte170m/smpte170m/bt470bg"
        << "";
    QTest::newRow("sound only") << "audio_only.mp4" << false << ""
                                << "";
    QTest::newRow("sound starts 2 s after the picture")
        << "late_sound.mp4" << false << "smpte170m/smpte170m/smpte170m"
        << "";
  }

  void corpus() {
    QFETCH(QString, sample);
    QFETCH(bool, interlaced);
    QFETCH(QString, colours);
    QFETCH(QString, size);
    const QString in = kSamples + "/" + sample;
    const Facts src = read(in);
    QVERIFY2(src.ok, qPrintable(in));
    QTemporaryDir dir;
    const QString out = dir.filePath("out.mp4");
    QProcess p;
    p.start(kEncoder, QStringList{"-y", "-ipt", in} +
                          (size.isEmpty() ? QStringList() : QStringList{"-s", size}) + QStringList{out});
    p.closeWriteChannel();
    QVERIFY(p.waitForFinished(120000));
    const QString console = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, qPrintable(console));
    QVERIFY2(console.contains("global headers:"), qPrintable(console));

    const Facts o = read(out);
    QVERIFY(o.ok);
    QCOMPARE(o.decodeErrors, 0);
    QCOMPARE(o.video.present, src.video.present);
    QCOMPARE(o.audio.present, src.audio.present);
    const double frame = src.video.fps > 0 ? 1 / src.video.fps : 0.05;
    QVERIFY2(std::abs(o.duration - src.duration) <= frame + 0.005,
             qPrintable(QString("%1 s from %2 s").arg(o.duration).arg(src.duration)));
    if (src.video.present && src.audio.present) {
      const double before = src.audio.firstTime - src.video.firstTime, after = o.audio.firstTime - o.video.firstTime;
      QVERIFY2(
          std::abs(after - before) <= frame,
          qPrintable(
              QString("sound starts %1 s after the picture, in the source %2 s").arg(after).arg(before)));
    }
    if (!src.video.present) return;

    // Upright: the sides as a player shows the source, no turn left for players to do, and
    // the marks where they belong.
    const bool quarter = std::abs(std::abs(src.rotation) - 90) < 1;
    QCOMPARE(o.video.width,
             size.isEmpty() ? (quarter ? src.video.height : src.video.width) & ~1 : size.section('x', 0, 0).toInt());
    QCOMPARE(o.video.height,
             size.isEmpty() ? (quarter ? src.video.width : src.video.height) & ~1 : size.section('x', 1, 1).toInt());
    QVERIFY(!o.hasMatrix);
    QCOMPARE(o.marks, QString("RGB"));
    const double srcDar = quarter ? src.video.height / (src.video.width * src.video.sar) : src.video.width * src.video.sar / src.video.height;
    const double dar = o.video.width * o.video.sar / o.video.height;
    QVERIFY2(std::abs(dar - srcDar) < 0.01, qPrintable(QString("aspect %1, source %2").arg(dar).arg(srcDar)));
    QVERIFY2(std::abs(o.video.decoded - src.video.decoded) <= 1,
             qPrintable(QString("%1 pictures of %2").arg(o.video.decoded).arg(src.video.decoded)));

    // Colours: what is written is 8-bit limited range, tagged as it is.
    QCOMPARE(o.primaries + "/" + o.transfer + "/" + o.matrix, colours);
    QCOMPARE(o.range, QString("tv"));
    if (src.transfer == "arib-std-b67" || src.transfer == "smpte2084")
      QVERIFY2(o.meanLuma > 40 && o.meanLuma < 200, qPrintable(QString::number(o.meanLuma)));

    // Interlaced sources come out as whole pictures without combing, and the console says so.
    const bool saysDeinterlaced =
        console.contains(QRegularExpression("^Deinterlacing: .*bwdif", QRegularExpression::MultilineOption));
    QCOMPARE(saysDeinterlaced, interlaced);
    QCOMPARE(o.interlacedPictures, 0);
    if (interlaced) {
      QVERIFY2(src.interlacedPictures > 0 && src.comb > 1.1, qPrintable(QString::number(src.comb)));
      QVERIFY2(o.comb < 0.9, qPrintable(QString::number(o.comb)));
    }
    qInfo("%s: comb %.2f -> %.2f, luma %.1f -> %.1f", qPrintable(sample), src.comb, o.comb, src.meanLuma,
          o.meanLuma);
  }
};

QTEST_GUILESS_MAIN(TestEncoderReal)
#include "tst_encoder_real.moc"
