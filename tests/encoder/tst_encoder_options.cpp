// The encoder's command line: what it accepts, how values are read, and which lines it
// refuses with a message.
#include "Options.h"

#include <QtTest>

using namespace vidmora::encoder;

namespace {
std::vector<std::string> split(const QString& line) {
  std::vector<std::string> out;
  // Blanks separate tokens; "||" stands for an empty token the front-end may pass.
  for (const QString& t : line.split(' ', Qt::SkipEmptyParts))
    out.push_back(t == "||" ? std::string() : t.toStdString());
  return out;
}
}  // namespace

class TestEncoderOptions : public QObject {
  Q_OBJECT
 private slots:
  void fullLine() {
    const auto r =
        ParseCommandLine(split("-y -ipt /v/clip.avi -vcodec libx265 -b:v 1500k -s 640x360 -r 29.97 "
                               "-aspect 16:9 -acodec libmp3lame -b:a 192k -ac 1 -ar 22050 /out/clip.mp4"));
    QVERIFY2(r.ok, r.error.c_str());
    const Options& o = r.options;
    QVERIFY(o.overwrite);
    QCOMPARE(o.input, std::string("/v/clip.avi"));
    QCOMPARE(o.output, std::string("/out/clip.mp4"));
    QCOMPARE(o.videoCodec, std::string("libx265"));
    QCOMPARE(o.videoBitRate, int64_t(1500000));
    QCOMPARE(o.width, 640);
    QCOMPARE(o.height, 360);
    QVERIFY(o.frameRate && *o.frameRate == (Rational{30000, 1001}));
    QVERIFY(o.aspect && *o.aspect == (Rational{16, 9}));
    QCOMPARE(o.audioCodec, std::string("libmp3lame"));
    QCOMPARE(o.audioBitRate, int64_t(192000));
    QCOMPARE(o.channels, 1);
    QCOMPARE(o.sampleRate, 22050);
    QVERIFY(o.subtitles == SubtitleMode::Keep);
    // The subtitle choice, in any letter case; the last one given holds.
    const auto burn = ParseCommandLine(split("-y -ipt a -sub none -sub BURN o"));
    QVERIFY(burn.ok && burn.options.subtitles == SubtitleMode::Burn);
    QVERIFY(ParseCommandLine(split("-y -ipt a -sub none o")).options.subtitles == SubtitleMode::None);
    // A conversion's share of the cores; 0 leaves the choice to the libraries.
    QCOMPARE(ParseCommandLine(split("-y -ipt a -threads 2 o")).options.threads, 2);
    QCOMPARE(ParseCommandLine(split("-y -ipt a -threads 0 o")).options.threads, 0);
    QCOMPARE(o.threads, 0);
  }

  void defaultsAndEmptyTokens() {
    // Empty fragments leave empty tokens; they are skipped.
    const auto r = ParseCommandLine(split("-y -ipt in.avi || || -vcodec mpeg4 || out.mp4"));
    QVERIFY2(r.ok, r.error.c_str());
    const Options& o = r.options;
    QCOMPARE(o.videoCodec, std::string("mpeg4"));
    QCOMPARE(o.videoBitRate, int64_t(0));
    QCOMPARE(o.width, 0);
    QVERIFY(!o.frameRate);
    QVERIFY(!o.aspect);
    QCOMPARE(o.audioCodec, std::string("aac"));
    QCOMPARE(o.audioBitRate, int64_t(128000));
    QCOMPARE(o.channels, 0);
    QCOMPARE(o.sampleRate, 0);

    const auto noY = ParseCommandLine(split("-ipt in.avi out.mp4"));
    QVERIFY(noY.ok);
    QVERIFY(!noY.options.overwrite);
  }

  // A copied stream keeps the source's picture or sound: options that need re-encoding
  // are dropped and named once each, wherever they stand; the other stream's stay.
  void copyDropsReencodingOptions() {
    const auto v =
        ParseCommandLine(split("-y -ipt in.mkv -s 640x480 -b:v 1M -vcodec COPY -r 25 -aspect 4:3 "
                               "-s 320x240 -acodec aac -b:a 96k -ac 1 out.mp4"));
    QVERIFY2(v.ok, v.error.c_str());
    QCOMPARE(v.options.videoCodec, std::string("copy"));
    QCOMPARE(v.options.ignored, (std::vector<std::string>{"-s", "-b:v", "-r", "-aspect"}));
    QCOMPARE(v.options.width, 0);
    QCOMPARE(v.options.videoBitRate, int64_t(0));
    QVERIFY(!v.options.frameRate && !v.options.aspect);
    QCOMPARE(v.options.audioBitRate, int64_t(96000));
    QCOMPARE(v.options.channels, 1);

    const auto a = ParseCommandLine(
        split("-y -ipt in.mkv -vcodec libx265 -s 640x480 -acodec copy -b:a 64k -ac 1 -ar 22050 out.mp4"));
    QVERIFY2(a.ok, a.error.c_str());
    QCOMPARE(a.options.ignored, (std::vector<std::string>{"-b:a", "-ac", "-ar"}));
    QCOMPARE(a.options.audioBitRate, int64_t(128000));
    QCOMPARE(a.options.channels, 0);
    QCOMPARE(a.options.sampleRate, 0);
    QCOMPARE(a.options.width, 640);

    const auto none = ParseCommandLine(split("-y -ipt in.mkv -vcodec copy -acodec copy out.mp4"));
    QVERIFY(none.ok && none.options.ignored.empty());
  }

  void values() {
    QCOMPARE(ParseBitRate("800000").value_or(-1), int64_t(800000));
    QCOMPARE(ParseBitRate("96k").value_or(-1), int64_t(96000));
    QCOMPARE(ParseBitRate("2M").value_or(-1), int64_t(2000000));
    QCOMPARE(ParseBitRate("1.5M").value_or(-1), int64_t(1500000));
    // 2^64 + 128000 and 2^64 + 25: read with a 64-bit wrap they would pass as 128 kbit/s and 25 fps.
    for (const char* bad :
         {"", "k", "12x", "-5k", "0", "1e6", "99999999999k", "12345678901234567890", "18446744073709679616"})
      QVERIFY2(!ParseBitRate(bad), bad);

    QVERIFY(ParseFrameRate("25") == (Rational{25, 1}));
    QVERIFY(ParseFrameRate("29.97") == (Rational{30000, 1001}));
    QVERIFY(ParseFrameRate("23.976") == (Rational{24000, 1001}));
    QVERIFY(ParseFrameRate("59.94") == (Rational{60000, 1001}));
    QVERIFY(ParseFrameRate("30000/1001") == (Rational{30000, 1001}));
    QVERIFY(ParseFrameRate("12.5") == (Rational{25, 2}));
    // Read exactly, digit by digit: 24123456/1000000 in lowest terms.
    QVERIFY(ParseFrameRate("24.123456") == (Rational{376929, 15625}));
    for (const char* bad : {"", "abc", "0", "25/0", "/25", "-25", "5000", "25fps", "4319.967297",
                            "12345678901234567890", "18446744073709551641"})
      QVERIFY2(!ParseFrameRate(bad), bad);

    QVERIFY(ParseAspect("4:3") == (Rational{4, 3}));
    QVERIFY(ParseAspect("16:9") == (Rational{16, 9}));
    QVERIFY(ParseAspect("1.85") == (Rational{37, 20}));
    for (const char* bad : {"", "4:0", "0:3", "x", "16:", "100", "4296.967297"})
      QVERIFY2(!ParseAspect(bad), bad);

    int w = 0, h = 0;
    QVERIFY(ParseSize("320x240", w, h));
    QCOMPARE(w, 320);
    QCOMPARE(h, 240);
    for (const char* bad : {"", "320", "320x", "x240", "0x240", "320x-2", "99999x240", "320*240"})
      QVERIFY2(!ParseSize(bad, w, h), bad);
  }

  void refused_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("message");
    QTest::newRow("nothing") << ""
                             << "no arguments";
    QTest::newRow("no output") << "-y -ipt in.avi -y"
                               << "output file is missing";
    QTest::newRow("no input") << "-y -vcodec libx264 out.mp4"
                              << "source file is missing";
    QTest::newRow("unknown option") << "-y -ipt in.avi -crf 20 out.mp4"
                                    << "unknown option '-crf'";
    QTest::newRow("value missing") << "-y -ipt in.avi -b:v out.mp4"
                                   << "-b:v needs a value";
    QTest::newRow("stray token") << "-y -ipt my video.avi out.mp4"
                                 << "unexpected argument 'video.avi'";
    QTest::newRow("video codec") << "-y -ipt a -vcodec h263 o"
                                 << "invalid value 'h263' for -vcodec";
    QTest::newRow("audio codec") << "-y -ipt a -acodec opus o"
                                 << "invalid value 'opus' for -acodec";
    QTest::newRow("bit rate") << "-y -ipt a -b:v fast o"
                              << "invalid value 'fast' for -b:v";
    QTest::newRow("audio bit rate") << "-y -ipt a -b:a 12q o"
                                    << "invalid value '12q' for -b:a";
    QTest::newRow("size") << "-y -ipt a -s 640:360 o"
                          << "invalid value '640:360' for -s";
    QTest::newRow("rate") << "-y -ipt a -r fast o"
                          << "invalid value 'fast' for -r";
    QTest::newRow("aspect") << "-y -ipt a -aspect wide o"
                            << "invalid value 'wide' for -aspect";
    QTest::newRow("channels") << "-y -ipt a -ac 0 o"
                              << "invalid value '0' for -ac";
    QTest::newRow("channels text") << "-y -ipt a -ac stereo o"
                                   << "invalid value 'stereo' for -ac";
    QTest::newRow("sampling rate") << "-y -ipt a -ar 44.1k o"
                                   << "invalid value '44.1k' for -ar";
    QTest::newRow("subtitles") << "-y -ipt a -sub all o"
                               << "invalid value 'all' for -sub";
    QTest::newRow("threads too many") << "-y -ipt a -threads 65 o"
                                      << "invalid value '65' for -threads";
    QTest::newRow("threads negative") << "-y -ipt a -threads -1 o"
                                      << "invalid value '-1' for -threads";
  }

  void refused() {
    QFETCH(QString, line);
    QFETCH(QString, message);
    const auto r = ParseCommandLine(split(line));
    QVERIFY(!r.ok);
    QVERIFY2(QString::fromStdString(r.error).contains(message), r.error.c_str());
    QVERIFY(r.error.find('\n') == std::string::npos);
  }
};

QTEST_GUILESS_MAIN(TestEncoderOptions)
#include "tst_encoder_options.moc"
