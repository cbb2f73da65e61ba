// The timestamp repair on made-up packet sequences: a picture stream (a packet every 40 ms)
// and a sound stream (every 20 ms), in milliseconds, read in the order a file stores them.
// Each case lays out the content and the times the source gives it; after the repair every
// packet must lie where its content lies, picture and sound alike.
#include <QtTest>

#include "Console.h"
#include "OutputNaming.h"
#include "Progress.h"
#include "Protocol.h"
#include "TimestampRepair.h"

#include <set>

#include <functional>

using namespace vidmora::encoder;

namespace {

struct Packet {
  int stream;       // 0 picture, 1 sound
  int64_t content;  // where the packet lies in the content, ms
  int64_t pts, dts, duration;
};

// Packets of both streams over [0, length) ms of content, in content order. `raw` gives the
// source's time for a packet's content time; `present` leaves packets out; `duration` gives
// each one's stated length (0: none).
QVector<Packet> Make(int64_t length, const std::function<int64_t(int, int64_t)>& raw,
                     const std::function<bool(int, int64_t)>& present, bool sound = true,
                     const std::function<int64_t(int, int64_t)>& duration = {}) {
  QVector<Packet> packets;
  for (int64_t t = 0; t < length; t += 20) {
    for (int stream : {0, 1}) {
      if (stream == 0 && t % 40) continue;
      if (stream == 1 && !sound) continue;
      if (!present(stream, t)) continue;
      const int64_t r = raw(stream, t);
      packets.push_back({stream, t, r, r, duration ? duration(stream, t) : (stream == 0 ? 40 : 20)});
    }
  }
  return packets;
}

// Runs the packets through the repair as the encoder does: a packet the repair holds back
// waits, and goes on (Release) before the next packet of its stream that is not held.
// Returns the packets in the order they go on, with their repaired times; reports receives
// what the console would say of each: "jump" or "held".
QVector<Packet> Run(TimestampRepair& repair, const QVector<Packet>& packets, QStringList* reports = nullptr) {
  QVector<Packet> waiting[2], out;
  for (const Packet& p : packets) {
    Packet q = p;
    const TimestampRepair::Jump jump = repair.Repair(p.stream, q.pts, q.dts, p.duration);
    if (reports && (jump.found || jump.held)) *reports << (jump.found ? "jump" : "held");
    if (repair.Holding(p.stream)) {
      waiting[p.stream].push_back(p);
      continue;
    }
    for (Packet& w : waiting[p.stream]) {
      repair.Release(w.stream, w.pts, w.dts, w.duration);
      out.push_back(w);
    }
    waiting[p.stream].clear();
    out.push_back(q);
  }
  for (int stream : {0, 1}) {
    repair.Finish(stream);
    for (Packet& w : waiting[stream]) {
      repair.Release(w.stream, w.pts, w.dts, w.duration);
      out.push_back(w);
    }
  }
  return out;
}

// A stretch of one or both streams' content, [from, to) ms, and a time added to it.
enum { kPicture = 1, kSound = 2 };
constexpr int64_t kForever = INT64_MAX;
struct Span {
  int streams = 0;  // kPicture, kSound or both; 0: none
  int64_t from = 0, to = 0, shift = 0;
};

// How a source lays out its content: its length, whether it has sound, where the source's
// clock differs from the content (shifts), where packets are missing, where content follows
// a gap the repair closes (closed: its shift moves the content), and a picture whose stated
// duration (stated.shift) differs from its frame's.
struct Layout {
  int64_t length = 8000;
  bool sound = true;
  QVector<Span> shifts, missing;
  Span closed, stated;
};

}  // namespace

Q_DECLARE_METATYPE(Layout)

class TestEncoderTiming : public QObject {
  Q_OBJECT
 private slots:
  void jumps_data() {
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<double>("contentEnd");  // seconds the content lasts after the repair
    QTest::addColumn<QString>("said");       // what the console says: a jump closed, or a picture held
    // The length the source's header states, where the closed jump must bring the length the
    // progress works to onto the content (-1: not checked).
    QTest::addColumn<double>("stated");
    // The sound dropped its last frames before the pause.
    QTest::newRow("paused recording: both streams 30 s on at 4 s")
        << Layout{8000, true, {Span{kPicture | kSound, 4000, kForever, 30000}}, {Span{kSound, 3900, 4000, 0}},
                  {},   {}}
        << 8.0 << "jump" << 38.0;
    QTest::newRow("joined parts: both streams back to 0 at 4 s")
        << Layout{8000, true, {Span{kPicture | kSound, 4000, kForever, -4000}}, {}, {}, {}} << 8.0 << "jump"
        << 4.0;
    QTest::newRow("damage: pictures 30 s late from 2 s on")
        << Layout{8000, true, {Span{kPicture, 2000, kForever, 30000}}, {}, {}, {}} << 8.0 << "jump" << -1.0;
    QTest::newRow("damage: one picture 100 s late")
        << Layout{8000, true, {Span{kPicture, 2000, 2040, 100000}}, {}, {}, {}} << 8.0 << "jump" << -1.0;
    QTest::newRow("damage: the first picture 100 s late")
        << Layout{8000, true, {Span{kPicture, 0, 40, 100000}}, {}, {}, {}} << 8.0 << "jump" << -1.0;
    QTest::newRow("damage: the first sound frame 50 s back")
        << Layout{8000, true, {Span{kSound, 0, 20, -50000}}, {}, {}, {}} << 8.0 << "jump" << -1.0;
    QTest::newRow("damage: one sound frame 5 s back")
        << Layout{8000, true, {Span{kSound, 2000, 2020, -5000}}, {}, {}, {}} << 8.0 << "jump" << -1.0;
    // Pictures up to 1.96 s and from 22 s on.
    QTest::newRow("still picture for 20 s while the sound goes on, no duration stated")
        << Layout{24000, true, {}, {Span{kPicture, 2000, 22000, 0}}, {}, {}} << 24.0 << "held" << -1.0;
    QTest::newRow("still picture, no sound, its duration stated")
        << Layout{24000, false, {}, {Span{kPicture, 2000, 22000, 0}}, {}, Span{kPicture, 1960, 1961, 20040}}
        << 24.0 << "held" << -1.0;
    // The gap is closed: the pictures after it follow on.
    QTest::newRow("gap of 20 s in pictures alone, nothing says why")
        << Layout{24000, false, {}, {Span{kPicture, 2000, 22000, 0}}, Span{kPicture, 22000, kForever, -20000},
                  {}}
        << 4.04 << "jump" << -1.0;
    // A recorder that dropped frames under load: a gap shorter than a jump is kept.
    QTest::newRow("gap of 4 s in pictures alone, nothing says why")
        << Layout{8000, false, {}, {Span{kPicture, 2000, 6000, 0}}, {}, {}} << 8.0 << "" << -1.0;
  }

  void jumps() {
    QFETCH(Layout, layout);
    QFETCH(double, contentEnd);
    QFETCH(QString, said);
    QFETCH(double, stated);
    const auto in = [](const Span& s, int stream, int64_t t) {
      return (s.streams & (1 << stream)) && t >= s.from && t < s.to;
    };
    QVector<Packet> packets = Make(
        layout.length,
        [&](int stream, int64_t t) {
          for (const Span& s : layout.shifts)
            if (in(s, stream, t)) return t + s.shift;
          return t;
        },
        [&](int stream, int64_t t) {
          for (const Span& s : layout.missing)
            if (in(s, stream, t)) return false;
          return true;
        },
        layout.sound,
        [&](int stream, int64_t t) -> int64_t {
          return in(layout.stated, stream, t) ? layout.stated.shift : (stream == 0 ? 40 : 20);
        });
    for (Packet& p : packets)
      if (in(layout.closed, p.stream, p.content)) p.content += layout.closed.shift;

    TimestampRepair repair;
    QCOMPARE(repair.AddStream({1, 1000}), 0);
    QCOMPARE(repair.AddStream({1, 1000}), 1);
    QStringList reports;
    const QVector<Packet> out = Run(repair, packets, &reports);
    reports.removeDuplicates();
    QCOMPARE(reports.join(' '), said);
    QCOMPARE(out.size(), packets.size());
    for (const Packet& p : out) {
      // A closed gap lets the next packet follow the one before: within a frame of its place.
      QVERIFY2(qAbs(p.pts - p.content) <= 40 && p.dts == p.pts,
               qPrintable(QString("stream %1 at %2 ms: %3").arg(p.stream).arg(p.content).arg(p.pts)));
    }
    QVERIFY2(qAbs(repair.ContentEnd() / 1e6 - contentEnd) < 0.05,
             qPrintable(QString::number(repair.ContentEnd())));
    // A paused recording states the length of its clock, a joined file the length of one
    // part: the closed jump brings the length the progress works to onto the content
    // before its end is read.
    if (stated >= 0) {
      LengthClues clues;
      clues.stated = stated;
      clues.jumps = repair.Jumps();
      clues.shift = repair.CurrentShift(0) / 1e6;
      clues.content = 5.0;
      QVERIFY2(qAbs(WorkingLength(clues) - contentEnd) < 0.05,
               qPrintable(QString::number(WorkingLength(clues))));
    }
  }

  // The length the progress works to, from what the source states and what has been read.
  void workingLength_data() {
    QTest::addColumn<double>("stated");  // -1: none
    QTest::addColumn<int>("jumps");
    QTest::addColumn<double>("shift");
    QTest::addColumn<double>("content");
    QTest::addColumn<double>("share");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<double>("expected");  // -1: not known
    QTest::newRow("stated, nothing read yet") << 300.0 << 0 << 0.0 << 0.0 << 0.0 << false << 300.0;
    QTest::newRow("nothing stated, nothing read") << -1.0 << 0 << 0.0 << 0.0 << 0.0 << false << -1.0;
    QTest::newRow("nothing stated, a tenth read") << -1.0 << 0 << 0.0 << 30.0 << 0.1 << false << 300.0;
    QTest::newRow("nothing stated, too little read to tell")
        << -1.0 << 0 << 0.0 << 1.0 << 0.01 << false << 1.0;
    QTest::newRow("pause of 30 s closed") << 38.0 << 1 << -30.0 << 5.0 << 0.6 << false << 8.0;
    QTest::newRow("second part joined on") << 4.0 << 1 << 4.0 << 5.0 << 0.6 << false << 8.0;
    QTest::newRow("content beyond the statement") << 4.0 << 0 << 0.0 << 9.0 << 0.9 << false << 10.0;
    QTest::newRow("stale long header: trusted until the end")
        << 3600.0 << 0 << 0.0 << 3.0 << 0.5 << false << 3600.0;
    QTest::newRow("stale long header, read to the end") << 3600.0 << 0 << 0.0 << 6.0 << 1.0 << true << 6.0;
    QTest::newRow("file cut short, read to the end") << 10.0 << 0 << 0.0 << 5.0 << 1.0 << true << 5.0;
    QTest::newRow("joined, read to the end") << 4.0 << 1 << 4.0 << 8.0 << 1.0 << true << 8.0;
  }
  void workingLength() {
    QFETCH(double, stated);
    QFETCH(int, jumps);
    QFETCH(double, shift);
    QFETCH(double, content);
    QFETCH(double, share);
    QFETCH(bool, ended);
    QFETCH(double, expected);
    LengthClues clues;
    clues.stated = stated;
    clues.jumps = jumps;
    clues.shift = shift;
    clues.content = content;
    clues.readShare = share;
    clues.ended = ended;
    QCOMPARE(WorkingLength(clues), expected);
    QCOMPARE(QString::fromStdString(LengthLine(12.5)), QStringLiteral("length: 12.50"));
  }

  // Pictures shown out of order cross a step in their presentation times two packets
  // before their decoding times do (as Matroska and MP4 files give them). At a pause (the
  // sound jumps as well) those presentation times are moved with the rest; at a still
  // picture (the sound goes on through the step before the decoding times cross) nothing
  // is moved. Either way sound and pictures after the step start together.
  void presentationCrossesFirst_data() {
    QTest::addColumn<bool>("pause");
    QTest::newRow("pause of 30 s") << true;
    QTest::newRow("picture still for 30 s") << false;
  }

  void presentationCrossesFirst() {
    QFETCH(bool, pause);
    TimestampRepair repair;
    repair.AddStream({1, 1000});
    repair.AddStream({1, 1000});
    using P = Packet;
    QVector<P> packets;
    for (int64_t t = 0; t < 3900; t += 40) packets.push_back({0, 0, t + 80, t, 40});
    for (int64_t t = 0; t < (pause ? 4000 : 34000); t += 20) packets.push_back({1, 0, t, t, 20});
    std::stable_sort(packets.begin(), packets.end(), [](const P& a, const P& b) { return a.dts < b.dts; });
    // The two packets whose presentation crosses come before the sound of the still stretch.
    const auto at = std::find_if(packets.begin(), packets.end(), [](const P& p) { return p.dts >= 3900; });
    const int still = int(at - packets.begin());
    packets.insert(still, P{0, 0, 34160, 3940, 40});
    packets.insert(still, P{0, 0, 34000, 3900, 40});
    packets += {{0, 0, 34080, 34000, 40}, {1, 0, 34000, 34000, 20}, {0, 0, 34040, 34040, 40},
                {1, 0, 34020, 34020, 20}, {0, 0, 34120, 34080, 40}, {1, 0, 34040, 34040, 20}};
    QStringList reports;
    const QVector<P> out = Run(repair, packets, &reports);
    QCOMPARE(out.size(), packets.size());
    // Said once the decoding times have told which it is.
    reports.removeDuplicates();
    QCOMPARE(reports, QStringList{pause ? "jump" : "held"});
    const int64_t shift = pause ? 30000 : 0;  // the pause is closed, the still picture kept
    int64_t firstPicture = INT64_MAX, firstSound = INT64_MAX, lastDts = -1;
    for (int i = 0; i < out.size(); ++i) {
      const P& p = out[i];
      if (p.stream == 0) {
        QVERIFY2(p.dts > lastDts, qPrintable(QString::number(p.dts)));
        lastDts = p.dts;
      }
      if (p.pts >= 34000 - shift) {
        int64_t& first = p.stream == 0 ? firstPicture : firstSound;
        first = std::min(first, p.pts);
      } else if (p.stream == 0) {
        QVERIFY2(p.pts < 4100, qPrintable(QString("packet %1: %2").arg(i).arg(p.pts)));
      }
    }
    QCOMPARE(firstPicture, 34000 - shift);
    QCOMPARE(firstSound, 34000 - shift);
  }

  // The checks at the end: a header's length only decides the warning, never success;
  // success is the output holding the content read.
  void outcome_data() {
    QTest::addColumn<double>("dataEnd");
    QTest::addColumn<double>("stated");  // -1: no length stated
    QTest::addColumn<double>("written");
    QTest::addColumn<double>("content");
    QTest::addColumn<bool>("warned");
    QTest::addColumn<bool>("lost");
    QTest::newRow("whole file") << 60.0 << 60.0 << 60.0 << 60.0 << false << false;
    QTest::newRow("header says 5 s of 60 s") << 60.0 << 5.0 << 60.0 << 60.0 << false << false;
    QTest::newRow("no length stated") << 60.0 << -1.0 << 60.0 << 60.0 << false << false;
    QTest::newRow("file cut at 12.4 s of 60 s") << 12.4 << 60.0 << 12.4 << 12.4 << true << false;
    QTest::newRow("header says 3600 s of 60 s") << 60.0 << 3600.0 << 60.0 << 60.0 << true << false;
    QTest::newRow("streams end half a second apart") << 59.5 << 60.0 << 59.5 << 59.5 << false << false;
    QTest::newRow("pause closed: 36 s of clock, 6 s of content")
        << 36.0 << 36.0 << 6.0 << 6.0 << false << false;
    QTest::newRow("half the pictures undecodable") << 60.0 << 60.0 << 30.0 << 60.0 << false << true;
    QTest::newRow("last frames undecodable") << 60.0 << 60.0 << 58.5 << 60.0 << false << false;
  }

  void outcome() {
    QFETCH(double, dataEnd);
    QFETCH(double, stated);
    QFETCH(double, written);
    QFETCH(double, content);
    QFETCH(bool, warned);
    QFETCH(bool, lost);
    QCOMPARE(EndsEarly(dataEnd, stated), warned);
    QCOMPARE(LostContent(written, content), lost);
    if (warned)
      QCOMPARE(QString::fromStdString(ShortSourceLine(dataEnd, stated)),
               QString("warning: short-source: the source's data ends at %1 s of a stated %2 s")
                   .arg(dataEnd, 0, 'f', 1)
                   .arg(stated, 0, 'f', 1));
  }

  // The one rule for another name beside an output: numbered for a name taken, tagged for an
  // unfinished file. Names are bytes (a GBK name from an old archive included).
  void outputNames_data() {
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("n");
    QTest::addColumn<QByteArray>("numbered");
    QTest::addColumn<QByteArray>("unfinished");
    QTest::newRow("plain") << QByteArray("/v/out.mp4") << 2 << QByteArray("/v/out (2).mp4")
                           << QByteArray("/v/out (未完成).mp4");
    QTest::newRow("dots in the name")
        << QByteArray("/v/a.b.mp4") << 1 << QByteArray("/v/a.b (1).mp4") << QByteArray("/v/a.b (未完成).mp4");
    QTest::newRow("a dot in the folder only")
        << QByteArray("/v.d/film") << 1 << QByteArray("/v.d/film (1)") << QByteArray("/v.d/film (未完成)");
    QTest::newRow("a name that is all extension")
        << QByteArray("/v/.mp4") << 1 << QByteArray("/v/.mp4 (1)") << QByteArray("/v/.mp4 (未完成)");
    QTest::newRow("no folder") << QByteArray("out.mp4") << 12 << QByteArray("out (12).mp4")
                               << QByteArray("out (未完成).mp4");
    QTest::newRow("GBK bytes") << QByteArray("/v/\xc4\xe3\xba\xc3.mp4") << 1
                               << QByteArray("/v/\xc4\xe3\xba\xc3 (1).mp4")
                               << QByteArray("/v/\xc4\xe3\xba\xc3 (未完成).mp4");
  }
  void outputNames() {
    QFETCH(QByteArray, path);
    QFETCH(int, n);
    QFETCH(QByteArray, numbered);
    QFETCH(QByteArray, unfinished);
    QCOMPARE(QByteArray::fromStdString(vidmora::naming::NumberedName(path.toStdString(), n)), numbered);
    QCOMPARE(QByteArray::fromStdString(vidmora::protocol::UnfinishedName(path.toStdString())), unfinished);
    // The first free one: the numbers before n are taken, the name itself too.
    const auto taken = [&](const std::string& name) {
      for (int k = 1; k < n; ++k)
        if (name == vidmora::naming::NumberedName(path.toStdString(), k)) return true;
      return false;
    };
    QCOMPARE(QByteArray::fromStdString(vidmora::naming::NextFreeName(path.toStdString(), taken)), numbered);
  }

  // A failure or a warning on its line: the code as the protocol spells it, the detail after
  // it and on the same line whatever it holds.
  void codedLines_data() {
    QTest::addColumn<bool>("error");
    QTest::addColumn<int>("code");  // in the order of its table
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("line");
    QTest::newRow("source cut short")
        << true << int(ErrorCode::SourceIncomplete) << "only 2.00 s of 9.00 s could be converted"
        << "Error: source-incomplete: only 2.00 s of 9.00 s could be converted";
    QTest::newRow("a line break in the detail")
        << true << int(ErrorCode::BadOption) << "unknown option '-a\nb'"
        << "Error: bad-option: unknown option '-a b'";
    QTest::newRow("the last error code")
        << true << int(ErrorCode::Stopped) << "stopped before the conversion began"
        << "Error: stopped: stopped before the conversion began";
    QTest::newRow("a sound track left out")
        << false << int(WarningCode::SoundLeftOut) << "sound track 2 (flac) cannot be decoded and is left out"
        << "warning: sound-left-out: sound track 2 (flac) cannot be decoded and is left out";
    QTest::newRow("a carriage return in a warning") << false << int(WarningCode::SubtitleLeftOut) << "a\rb"
                                                    << "warning: subtitle-left-out: a b";
  }
  void codedLines() {
    QFETCH(bool, error);
    QFETCH(int, code);
    QFETCH(QString, detail);
    QFETCH(QString, line);
    const std::string said = error ? ErrorLine({ErrorCode(code), detail.toStdString()})
                                   : WarningLine(WarningCode(code), detail.toStdString());
    QCOMPARE(QString::fromStdString(said), line);
  }

  // Each code of the two tables is spelled once, in lower-case words joined by '-'.
  void codesSpelledOnce() {
    const QRegularExpression form("^[a-z]+(-[a-z]+)*$");
    std::set<std::string> seen;
    for (const char* code : vidmora::protocol::kErrorCodes) {
      QVERIFY2(form.match(code).hasMatch(), code);
      QVERIFY2(seen.insert(code).second, code);
    }
    for (const char* code : vidmora::protocol::kWarningCodes) {
      QVERIFY2(form.match(code).hasMatch(), code);
      QVERIFY2(seen.insert(code).second, code);
    }
    QCOMPARE(seen.size(),
             std::size(vidmora::protocol::kErrorCodes) + std::size(vidmora::protocol::kWarningCodes));
  }
};

QTEST_GUILESS_MAIN(TestEncoderTiming)
#include "tst_encoder_timing.moc"
