// The media probe: loader, query catalogue and its text transformations, read
// against the facts the sample files were generated with.
#include "MediaSamples.h"
#include "media/DurationText.h"
#include "media/FileFacts.h"
#include "media/MediaInfoDll.h"
#include "platform/Platform.h"

#include <QRegularExpression>
#include <QtTest>

#include <clocale>
#include <cstdlib>

namespace {
const QVector<MediaQuery> kAll = {
    MediaQuery::BaseName,  MediaQuery::Extension,    MediaQuery::DisplayName,  MediaQuery::Size,
    MediaQuery::Duration,  MediaQuery::VideoCodec,   MediaQuery::VideoBitRate, MediaQuery::PictureSize,
    MediaQuery::FrameRate, MediaQuery::AspectRatio,  MediaQuery::AudioCodec,   MediaQuery::AudioBitRate,
    MediaQuery::Channels,  MediaQuery::SamplingRate,
};
const QRegularExpression kBitRate(QStringLiteral("^[0-9.]+ kb/s$"));
}  // namespace

class TestMediaProbe : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { QVERIFY(LoadMediaInfoLib(MediaInfoLibFile())); }

  void sizeText_data() {
    QTest::addColumn<QString>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("446.5 KiB") << "457216"
                               << "0.436 MB";
    QTest::newRow("zero bytes") << "0"
                                << "0 MB";
    QTest::newRow("one byte shows one digit") << "1"
                                              << "0.001 MB";
    QTest::newRow("600 bytes round to 0.001") << "600"
                                              << "0.001 MB";
    QTest::newRow("0.05722 MiB, three decimals") << "60000"
                                                 << "0.057 MB";
    QTest::newRow("0.1 MiB, no trailing zeros") << "104858"
                                                << "0.1 MB";
    QTest::newRow("1023 KiB") << "1047552"
                              << "0.999 MB";
    QTest::newRow("1 KiB under 1 MiB, rounds up") << "1048575"
                                                  << "1 MB";
    QTest::newRow("exactly 1 MiB") << "1048576"
                                   << "1 MB";
    QTest::newRow("12.34 MiB") << QString::number(qint64(12.34 * 1048576)) << "12.34 MB";
    QTest::newRow("999.95 MiB rounds to 1000") << QString::number(qint64(999.96 * 1048576)) << "1000 MB";
    QTest::newRow("1023.9 MiB") << QString::number(qint64(1023.9 * 1048576)) << "1024 MB";
    QTest::newRow("exactly 1 GiB") << "1073741824"
                                   << "1024 MB";
    QTest::newRow("2.5 GiB") << "2684354560"
                             << "2560 MB";
    QTest::newRow("20 GiB, no exponent") << "21474836480"
                                         << "20480 MB";
    QTest::newRow("empty answer") << ""
                                  << "MB";
    QTest::newRow("not a number") << "n/a"
                                  << "MB";
    QTest::newRow("negative") << "-5"
                              << "MB";
  }
  void sizeText() {
    QFETCH(QString, bytes);
    QFETCH(QString, expected);
    QCOMPARE(FormatMediaSize(bytes), expected);
  }

  // The channels in the user's words, from the library's count and layout.
  void channelWords_data() {
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("expected");
    QTest::newRow("mono") << "1"
                          << "M"
                          << "单声道";
    QTest::newRow("stereo") << "2"
                            << "L R"
                            << "立体声";
    QTest::newRow("5.1") << "6"
                         << "C L R Ls Rs LFE"
                         << "5.1 声道";
    QTest::newRow("six, layout unknown") << "6"
                                         << ""
                                         << "5.1 声道";
    QTest::newRow("six without LFE (hexagonal)") << "6"
                                                 << "L R C Lb Rb Cb"
                                                 << "6 声道";
    QTest::newRow("7.1") << "8"
                         << "L R C LFE Lb Rb Ls Rs"
                         << "8 声道";
    QTest::newRow("count that changes: the first") << "6 / 2"
                                                   << ""
                                                   << "5.1 声道";
    QTest::newRow("no sound") << ""
                              << ""
                              << "";
    QTest::newRow("not a number") << "n/a"
                                  << ""
                                  << "";
  }
  void channelWords() {
    QFETCH(QString, count);
    QFETCH(QString, layout);
    QFETCH(QString, expected);
    QCOMPARE(ChannelCountText(count, layout), expected);
  }

  // The shown duration text and its seconds, below and from 100 hours on.
  void durationText() {
    QCOMPARE(DurationTextOf(QString(), QStringLiteral("02:00:00")), QStringLiteral("02:00:00"));
    QCOMPARE(DurationTextOf(QString(), QStringLiteral("02:30:00")), QStringLiteral("02:30:00"));
    QCOMPARE(DurationTextOf(QStringLiteral("01:02:03.456"), QStringLiteral("x")),
             QStringLiteral("01:02:03"));
    QCOMPARE(DurationTextOf(QStringLiteral("99:59:59.999"), QStringLiteral("x")),
             QStringLiteral("99:59:59"));
    QCOMPARE(DurationTextOf(QStringLiteral("100:00:10.000"), QStringLiteral("x")),
             QStringLiteral("100:00:10"));
    QCOMPARE(DurationTextOf(QStringLiteral("123:45:06.789"), QStringLiteral("x")),
             QStringLiteral("123:45:06"));
    QCOMPARE(DurationTextOf(QStringLiteral("01:02"), QStringLiteral("x")), QStringLiteral("01:02"));

    const struct {
      const char* text;
      bool ok;
      int seconds;
    } cases[] = {
        {"00:00:00", true, 0},        {"02:00:00", true, 7200},    {"01:02:03", true, 3723},
        {"99:59:59", true, 359999},   {"100:00:10", true, 360010}, {"123:45:06", true, 445506},
        {"01:02:03.456", true, 3723}, {"01:02", false, 0},         {"", false, 0},
        {"ab:cd:ef", false, 0},       {":01:02", false, 0},        {"1:02:03", true, 3723},
        {"99999999:00:00", false, 0}, {"01:02-03", false, 0},    {"01:02:0", false, 0},
        {"-1:02:03", false, 0},
    };
    for (const auto& c : cases) {
      bool ok = !c.ok;
      QCOMPARE(DurationSeconds(QString::fromLatin1(c.text), &ok), c.seconds);
      QVERIFY2(ok == c.ok, c.text);
    }
    for (const int seconds : {0, 59, 3723, 359999, 360010, 445506}) {
      const QString text = DurationTextFromSeconds(seconds);
      QCOMPARE(DurationSeconds(text), seconds);
    }
    QCOMPARE(DurationTextFromSeconds(445506), QStringLiteral("123:45:06"));
    QCOMPARE(DurationTextFromSeconds(-4), QStringLiteral("00:00:00"));
  }

  // The file list's row and the panel's values come from one probe each.
  void rowAndPanelValues() {
    const std::optional<TFileRow> row = ProbeFileRow(MediaSamples::Avi());
    QVERIFY(row);
    QCOMPARE(row->SubItems(),
             (QStringList{QStringLiteral("avi"), MediaSamples::ExpectedSize(MediaSamples::Avi()),
                          QStringLiteral("00:00:03"), QStringLiteral("0%")}));
    QCOMPARE(ProbeFileRow(MediaSamples::Random())->duration, QStringLiteral("未知"));
    const std::optional<TFileProperties> panel = ProbeFileProperties(MediaSamples::Mp4());
    QVERIFY(panel);
    QCOMPARE(panel->values.size(), 13);
    QCOMPARE(panel->values.first(), QStringLiteral("clip.mp4"));
    QCOMPARE(panel->values.at(2), MediaSamples::ExpectedSize(MediaSamples::Mp4()));
    QCOMPARE(panel->values.at(6), QStringLiteral("352x288"));
  }

  // Every value of the catalogue for the two complete samples.
  void fullProbe_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("expected");  // "*kbps" = any bit rate text, "=size" = file size
    QTest::newRow("avi mpeg4+mp3") << MediaSamples::Avi()
                                   << QStringList{"clip",
                                                  "avi",
                                                  "clip.avi",
                                                  "=size",
                                                  "00:00:03",
                                                  "MPEG-4 Visual",
                                                  "*kbps",
                                                  "320x240",
                                                  "25.000 FPS",
                                                  "4:3",
                                                  "MPEG-1 Audio layer 3",
                                                  "64.0 kb/s",
                                                  "立体声",
                                                  "44.1 kHz"};
    QTest::newRow("mp4 h264+aac") << MediaSamples::Mp4()
                                  << QStringList{"clip",   "mp4",   "clip.mp4", "=size",      "00:00:05",
                                                 "AVC",    "*kbps", "352x288",  "30.000 FPS", "1.222",
                                                 "AAC LC", "*kbps", "单声道",   "48.0 kHz"};
    QTest::newRow("mp4 without audio")
        << MediaSamples::Silent()
        << QStringList{"silent",  "mp4",        "silent.mp4", "=size", "00:00:02", "AVC", "*kbps",
                       "160x120", "15.000 FPS", "4:3",        "",      "",         "",    ""};
    QTest::newRow("no extension") << MediaSamples::NoExt()
                                  << QStringList{"noext",  "",      "noext.",  "=size",      "00:00:05",
                                                 "AVC",    "*kbps", "352x288", "30.000 FPS", "1.222",
                                                 "AAC LC", "*kbps", "单声道",  "48.0 kHz"};
    QTest::newRow("zero bytes") << MediaSamples::Empty()
                                << QStringList{"empty", "mp4", "empty.mp4", "0 MB", "02:00:00", "", "",
                                               "",      "",    "",          "",     "",         "", ""};
    QTest::newRow("random bytes") << MediaSamples::Random()
                                  << QStringList{"random", "avi", "random.avi", "=size", "02:00:00", "", "",
                                                 "",       "",    "",           "",      "",         "", ""};
    QTest::newRow("unreadable") << MediaSamples::Missing()
                                << QStringList{"", "", ".", "MB", "02:00:00", "", "",
                                               "", "", "",  "",   "",         "", ""};
    QTest::newRow("chinese folder and name")
        << MediaSamples::Chinese()
        << QStringList{"片段 一", "mp4",        "片段 一.mp4", "=size",  "00:00:02", "AVC",    "*kbps",
                       "176x144", "25.000 FPS", "1.222",       "AAC LC", "*kbps",    "立体声", "22.05 kHz"};
  }
  void fullProbe() {
    QFETCH(QString, path);
    QFETCH(QStringList, expected);
    const QStringList got = ProbeMediaFile(path, kAll, QStringLiteral("02:00:00"));
    QCOMPARE(got.size(), kAll.size());
    for (int i = 0; i < got.size(); ++i) {
      const QString& want = expected[i];
      if (want == QLatin1String("*kbps"))
        QVERIFY2(kBitRate.match(got[i]).hasMatch(), qPrintable(QString::number(i) + ": " + got[i]));
      else if (want == QLatin1String("=size"))
        QCOMPARE(got[i], MediaSamples::ExpectedSize(path));
      else
        QVERIFY2(got[i] == want,
                 qPrintable(QStringLiteral("query %1: got \"%2\", want \"%3\"").arg(i).arg(got[i], want)));
    }
  }

  // Answers come back in the caller's order, repeated queries included, and the
  // shorthands use the callers' fallbacks.
  void orderAndShorthands() {
    const QStringList got = ProbeMediaFile(
        MediaSamples::Avi(), {MediaQuery::Duration, MediaQuery::Extension, MediaQuery::Duration},
        QStringLiteral("zz"));
    QCOMPARE(got, (QStringList{"00:00:03", "avi", "00:00:03"}));
    QCOMPARE(ProbeBaseName(MediaSamples::Chinese()), QStringLiteral("片段 一"));
    QCOMPARE(ProbeDuration(MediaSamples::Mp4(), QStringLiteral("02:30:00")), QStringLiteral("00:00:05"));
    QCOMPARE(ProbeDuration(MediaSamples::Random(), QStringLiteral("02:30:00")), QStringLiteral("02:30:00"));
    QVERIFY(ProbeMediaFile(MediaSamples::Avi(), {}).isEmpty());
  }

  // A Chinese folder and file name with blanks opens also when the program runs
  // in the C locale: the probe switches to a UTF-8 character type first.
  void chinesePathUnderCLocale() {
    const QByteArray oldAll = qgetenv("LC_ALL");
    qputenv("LC_ALL", "C");
    qunsetenv("LC_CTYPE");
    qputenv("LANG", "C");
    std::setlocale(LC_ALL, "C");
    const QStringList got = ProbeMediaFile(
        MediaSamples::Chinese(), {MediaQuery::DisplayName, MediaQuery::Duration, MediaQuery::PictureSize},
        QStringLiteral("02:00:00"));
    QCOMPARE(got, (QStringList{"片段 一.mp4", "00:00:02", "176x144"}));
    qputenv("LC_ALL", oldAll);
  }

  // A second load keeps the first library and still reports success, also for a
  // name that would not load on its own.
  void loadedLibraryIsKept() {
    QVERIFY(LoadMediaInfoLib(QStringLiteral("/nonexistent/libnothing.so")));
    QCOMPARE(ProbeBaseName(MediaSamples::Avi()), QStringLiteral("clip"));
    QCOMPARE(MediaInfoLibFile(), QString::fromLatin1(Platform::kMediaInfoLibFile));
  }
};

QTEST_GUILESS_MAIN(TestMediaProbe)
#include "tst_media_probe.moc"
