// The track plan on made-up sources: which picture, sound, subtitle and cover streams an
// output keeps, of which program, and what it leaves out and whether that is worth a warning.
#include <QtTest>

#include "TrackPlan.h"

using namespace vidmora::encoder;

namespace {

// A source in a few words, streams separated by ';', numbered from 0 in that order. Each
// stream starts with its kind (v picture, a sound, s text subtitles, p picture subtitles,
// c a cover in JPEG, c! a cover in another format, d data), then any of: WxH its size,
// f=N the frames the container counts, n=N packets met in the scan, P=N a program holding
// it, x it cannot be used, def marked default, codec=NAME.
SourceFacts Parse(const QString& text, bool scannedToEnd) {
  SourceFacts facts;
  facts.scannedToEnd = scannedToEnd;
  const QStringList streams = text.split(';', Qt::SkipEmptyParts);
  for (int i = 0; i < streams.size(); ++i) {
    StreamFacts s;
    s.index = i;
    s.width = 640;
    s.height = 360;
    s.packetsSeen = 50;
    const QStringList words = streams[i].split(' ', Qt::SkipEmptyParts);
    const QString kind = words.value(0);
    s.kind = kind == "v" || kind.startsWith("c") ? StreamKind::Picture
             : kind == "a"                       ? StreamKind::Sound
             : kind == "s" || kind == "p"        ? StreamKind::Subtitle
                                                 : StreamKind::Other;
    s.attachedPicture = kind.startsWith("c");
    s.coverFormat = kind == "c";
    s.textSubtitle = kind == "s";
    s.codec = kind == "a" ? "aac" : kind == "v" ? "h264" : "mjpeg";
    if (s.attachedPicture) s.packetsSeen = 1;
    for (const QString& w : words.mid(1)) {
      const QString value = w.section('=', 1);
      if (w.contains('x') && w != "x" && !w.contains('=')) {
        s.width = w.section('x', 0, 0).toInt();
        s.height = w.section('x', 1).toInt();
      } else if (w.startsWith("f=")) {
        s.frames = value.toLongLong();
      } else if (w.startsWith("n=")) {
        s.packetsSeen = value.toLongLong();
      } else if (w.startsWith("P=")) {
        s.programs.push_back(value.toInt());
      } else if (w.startsWith("codec=")) {
        s.codec = value.toStdString();
      } else if (w == "x") {
        s.unusable = "cannot be decoded";
      } else if (w == "def") {
        s.isDefault = true;
      }
    }
    facts.streams.push_back(s);
  }
  return facts;
}

QString Join(const std::vector<int>& list) {
  QStringList out;
  for (int k : list) out << QString::number(k);
  return out.join(',');
}

// "1 3!": the streams left out, '!' after those worth a warning.
QString LeftOut(const TrackPlan& plan) {
  QStringList out;
  for (const LeftOutStream& s : plan.leftOut) out << QString::number(s.index) + (s.warn ? "!" : "");
  return out.join(' ');
}

}  // namespace

class TestEncoderPlan : public QObject {
  Q_OBJECT
 private slots:
  void plan_data() {
    QTest::addColumn<QString>("streams");
    QTest::addColumn<bool>("scannedToEnd");
    QTest::addColumn<int>("picture");
    QTest::addColumn<QString>("sounds");
    QTest::addColumn<QString>("subtitles");
    QTest::addColumn<int>("cover");
    QTest::addColumn<int>("program");
    QTest::addColumn<QString>("leftOut");
    QTest::addColumn<QString>("refused");  // "picture N" or "sound N": nothing of that kind can be used

    QTest::newRow("a film with sound and both kinds of subtitles")
        << "v 1920x1080; a; s; p" << false << 0 << "1"
        << "2,3" << -1 << -1 << ""
        << "";
    QTest::newRow("thumbnail first (one packet while the film is under way)")
        << "v 320x180 n=1; v 1920x1080 n=200; a" << false << 1 << "2"
        << "" << -1 << -1 << "0"
        << "";
    QTest::newRow("a counted one-frame still beats its larger size")
        << "v 1920x1080 f=1; v 1280x720 f=500; a" << false << 1 << "2"
        << "" << -1 << -1 << "0"
        << "";
    QTest::newRow("a single picture stream of one packet is the film")
        << "v n=1; a n=100" << false << 0 << "1"
        << "" << -1 << -1 << ""
        << "";
    QTest::newRow("a one-frame video alone is converted") << "v f=1; a" << false << 0 << "1"
                                                          << "" << -1 << -1 << ""
                                                          << "";
    QTest::newRow("a smaller picture beside the film") << "v 320x240; v 1920x1080; a" << false << 1 << "2"
                                                       << "" << -1 << -1 << "0"
                                                       << "";
    QTest::newRow("of two equal pictures the default one") << "v; v def; a" << false << 1 << "2"
                                                           << "" << -1 << -1 << "0"
                                                           << "";
    QTest::newRow("cover kept beside the film") << "v; a; c 600x600" << false << 0 << "1"
                                                << "" << 2 << -1 << ""
                                                << "";
    QTest::newRow("a sound file with its cover") << "a; c" << false << -1 << "0"
                                                 << "" << 1 << -1 << ""
                                                 << "";
    QTest::newRow("a cover MP4 cannot hold, and a second cover") << "v; a; c!; c; c" << false << 0 << "1"
                                                                 << "" << 3 << -1 << "2 4"
                                                                 << "";
    QTest::newRow("two programs: the one with the larger picture, its own tracks only")
        << "v 720x576 P=1; a P=1; a P=1; v 1920x1080 P=2; a P=2; s P=2" << false << 3 << "4"
        << "5" << -1 << 2 << "0 1 2"
        << "";
    QTest::newRow("two programs of equal pictures: the first")
        << "v P=7; a P=7; v P=9; a P=9" << false << 0 << "1"
        << "" << -1 << 7 << "2 3"
        << "";
    QTest::newRow("two radio programs: the first with sound") << "a P=3; a P=4" << false << -1 << "0"
                                                              << "" << -1 << 3 << "1"
                                                              << "";
    QTest::newRow("the first sound track cannot be decoded, the second can")
        << "v; a x; a" << false << 0 << "2"
        << "" << -1 << -1 << "1!"
        << "";
    QTest::newRow("no sound track can be decoded") << "v; a x; a x" << false << 0 << ""
                                                   << "" << -1 << -1 << ""
                                                   << "sound 1";
    QTest::newRow("an empty sound track, the scan read everything") << "v; a; a n=0" << true << 0 << "1"
                                                                    << "" << -1 << -1 << "2"
                                                                    << "";
    QTest::newRow("a sound track not met near the start may begin later")
        << "v; a; a n=0" << false << 0 << "1,2"
        << "" << -1 << -1 << ""
        << "";
    QTest::newRow("a sound track the container counts empty") << "v; a f=0; a" << false << 0 << "2"
                                                              << "" << -1 << -1 << "1"
                                                              << "";
    QTest::newRow("empty subtitles, the scan read everything") << "v; s n=0; s n=4" << true << 0 << ""
                                                               << "2" << -1 << -1 << "1"
                                                               << "";
    QTest::newRow("the film cannot be decoded, a smaller picture can")
        << "v 1920x1080 x; v 640x360; a" << false << 1 << "2"
        << "" << -1 << -1 << "0!"
        << "";
    QTest::newRow("the only film cannot be decoded") << "v x; a" << false << -1 << "1"
                                                     << "" << -1 << -1 << ""
                                                     << "picture 0";
    QTest::newRow("data streams are no tracks") << "v; d; a" << false << 0 << "2"
                                                << "" << -1 << -1 << ""
                                                << "";
  }

  void plan() {
    QFETCH(QString, streams);
    QFETCH(bool, scannedToEnd);
    QFETCH(int, picture);
    QFETCH(QString, sounds);
    QFETCH(QString, subtitles);
    QFETCH(int, cover);
    QFETCH(int, program);
    QFETCH(QString, leftOut);
    QFETCH(QString, refused);
    const TrackPlan plan = PlanTracks(Parse(streams, scannedToEnd));
    QCOMPARE(plan.picture, picture);
    QCOMPARE(Join(plan.sounds), sounds);
    QCOMPARE(Join(plan.subtitles), subtitles);
    QCOMPARE(plan.cover, cover);
    QCOMPARE(plan.program, program);
    QCOMPARE(LeftOut(plan), leftOut);
    const QString refusal = plan.unusablePicture >= 0 ? QString("picture %1").arg(plan.unusablePicture)
                            : plan.unusableSound >= 0 ? QString("sound %1").arg(plan.unusableSound)
                                                      : QString();
    QCOMPARE(refusal, refused);
  }

  // What is left out is named by its place among the source's streams of its kind.
  void reasonsNameTheTrack() {
    const TrackPlan plan = PlanTracks(Parse("v; a; a x codec=flac; s; a n=0", true));
    QCOMPARE(plan.leftOut.size(), size_t(2));
    QCOMPARE(QString::fromStdString(plan.leftOut[0].why),
             QString("sound track 2 (flac) cannot be decoded and is left out"));
    QCOMPARE(QString::fromStdString(plan.leftOut[1].why),
             QString("sound track 3 (aac) holds no sound and is left out"));
  }
};

QTEST_GUILESS_MAIN(TestEncoderPlan)
#include "tst_encoder_plan.moc"
