// The real encoder through the real main window: files added through the open
// dialog, converted in turn into playable MP4 files; no user's file is ever
// replaced unasked, and a stop halfway leaves a playable shorter file beside
// the one it was to replace.
#include "ProcessCheck.h"
#include "app/FileAdder.h"
#include "QueueEnv.h"
#include "conversion/ConvQueue.h"
#include "conversion/DosConvFunc.h"
#include "conversion/EncoderFailure.h"
#include "platform/FileNames.h"
#include "platform/Platform.h"
#include "support/MediaRead.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QMap>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

// Waits here end on what they wait for; this limit only ends a run that hangs, and is far
// beyond what the slowest busy machine takes.
constexpr int kHangMs = 300000;

QString DataFile(const QString& name) {
  return TestSupport::SourceDir() + QStringLiteral("/tests/data/") + name;
}

quint64 Inode(const QString& path) {
  struct stat st;
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// Whether a file opens and how long it lasts, with its first picture decoded.
TestMedia::MediaFacts CheckMedia(const QString& path) {
  TestMedia::ReadOptions options;
  options.decode = TestMedia::Decode::FirstPicture;
  return TestMedia::Read(path, options);
}

void AddThroughDialog(QueueEnv& env, const QString& path) {
  env.dialogs.fileAnswers.push_back(path);
  env.form()->AddAvFileBtnClick();
  QVERIFY(TestSupport::WaitForAddition(env.form()));
}

// The slow codec at a large picture size, so that a file is still converting when the
// test acts.
void SlowSettings(TConvMainForm* form) {
  auto* codec = qobject_cast<TComboBoxEx*>(Platform::FindComponent(form, QStringLiteral("CmbExVideo1")));
  auto* size = qobject_cast<TComboBoxEx*>(Platform::FindComponent(form, QStringLiteral("CmbExVideo3")));
  codec->SetItemIndex(1);
  size->SetItemIndex(5);
}

// Whether a process has ended: gone, or a zombie that the system's first process reaps
// when it gets to it.
bool Ended(long long pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return true;
  const QByteArray text = stat.readAll();
  return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
}

// No file in folder lies under a final name and is shorter than its source: every file
// either holds all of the source's seconds, or is named unfinished. Returns the names.
QStringList NoCutFileUnderAFinalName(const QString& folder, double sourceSeconds) {
  const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
  for (const QString& name : names) {
    const TestMedia::MediaFacts facts = CheckMedia(folder + QLatin1Char('/') + name);
    [&] {
      QVERIFY2(facts.ok && facts.video.decoded, qPrintable(name));
      if (name.contains(QStringLiteral("(未完成)")))
        QVERIFY2(facts.duration < sourceSeconds, qPrintable(name));
      else
        QVERIFY2(
            qAbs(facts.duration - sourceSeconds) < 0.5,
            qPrintable(
                QStringLiteral("%1 holds %2 s of %3 s").arg(name).arg(facts.duration).arg(sourceSeconds)));
    }();
  }
  return names;
}

}  // namespace

class TestConvEndToEnd : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    if (!QFileInfo(TestSupport::BuiltAppDir() + QStringLiteral("/make")).isExecutable())
      QSKIP("the encoder has not been built");
  }

  // A program killed mid-run takes its encoder with it: the encoder finishes
  // its file as on a stop, under the unfinished name (or, when it had read the
  // whole source already, complete under the planned one), and is gone soon after.
  void encoderEndsWithProgram() {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("talk.mp4"));
    QProcess host;
    host.start(QStringLiteral(ENCODER_HOST), {TestSupport::BuiltAppDir() + QStringLiteral("/make"),
                                              DataFile(QStringLiteral("encoder/src_long.mp4")), out});
    QString seen;
    QVERIFY(QTest::qWaitFor(
        [&] {
          seen += QString::fromUtf8(host.readAllStandardOutput());
          return seen.contains(QStringLiteral("\nframe="));
        },
        30000));
    const long long encoder = seen.section(QLatin1Char('\n'), 0, 0).section(QLatin1Char(' '), 1).toLongLong();
    QVERIFY(encoder > 0 && ::kill(static_cast<pid_t>(encoder), 0) == 0);
    QElapsedTimer clock;
    clock.start();
    ::kill(static_cast<pid_t>(host.processId()), SIGKILL);
    QVERIFY(host.waitForFinished(5000));
    // Ended: gone, or a zombie that the system's first process reaps when it gets to it.
    const auto ended = [encoder] {
      QFile stat(QStringLiteral("/proc/%1/stat").arg(encoder));
      if (!stat.open(QIODevice::ReadOnly)) return true;
      const QByteArray text = stat.readAll();
      return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
    };
    QVERIFY(QTest::qWaitFor(ended, 10000));
    qInfo("the encoder ended %lld ms after the program was killed", static_cast<long long>(clock.elapsed()));
    const QStringList names = NoCutFileUnderAFinalName(dir.path(), 10);
    QVERIFY2(names == QStringList{QStringLiteral("talk (未完成).mp4")} ||
                 names == QStringList{QStringLiteral("talk.mp4")},
             qPrintable(names.join('|')));
  }

  // kill -9 of the window during the second of three files, then a new start: three
  // rows, the first finished and not converted again, the second interrupted with its
  // unfinished file; 转换 then gives exactly three complete outputs under their final
  // names, and the unfinished file goes to the trash.
  void killedWindowThenRestart() {
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    const auto unset = qScopeGuard([] { qunsetenv("XDG_DATA_HOME"); });
    QueueEnv env{TestSupport::BuiltAppDir() + QStringLiteral("/make")};
    QStringList sources;
    for (const char* name : {"a.mp4", "b.mp4", "c.mp4"}) {
      sources << env.SourceDir() + QLatin1Char('/') + QLatin1String(name);
      QVERIFY(QFile::copy(DataFile(QStringLiteral("encoder/src_long.mp4")), sources.last()));
    }
    QProcess host;
    QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    system.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    host.setProcessEnvironment(system);
    host.start(QStringLiteral(WINDOW_HOST), QStringList{env.app.Path()} + sources);
    QString seen;
    QVERIFY(QTest::qWaitFor(
        [&] {
          seen += QString::fromUtf8(host.readAllStandardOutput());
          static const QRegularExpression underWay(QStringLiteral("\\nprogress 1 [1-9]"));
          return underWay.match(seen).hasMatch() || host.state() == QProcess::NotRunning;
        },
        kHangMs));
    const QRegularExpressionMatch started =
        QRegularExpression(QStringLiteral("started 1 (\\d+)")).match(seen);
    QVERIFY2(started.hasMatch(), qPrintable(seen));
    const long long encoder = started.captured(1).toLongLong();
    ::kill(static_cast<pid_t>(host.processId()), SIGKILL);
    QVERIFY(host.waitForFinished(5000));
    QVERIFY(QTest::qWaitFor([&] { return Ended(encoder); }, kHangMs));
    QCOMPARE(NoCutFileUnderAFinalName(env.SaveDir(), 10), (QStringList{"a.mp4", "b (未完成).mp4"}));
    const quint64 first = Inode(env.SaveDir() + QStringLiteral("/a.mp4"));

    env.Restart(false);
    QCOMPARE(env.list()->RowCount(), 3);
    QCOMPARE(env.list()->ImageIndex(0), kIconFinished);
    QCOMPARE(env.list()->SubItem(1, 3), QStringLiteral("已中断"));
    QVERIFY2(
        env.list()->topLevelItem(1)->toolTip(4).contains(env.SaveDir() + QStringLiteral("/b (未完成).mp4")),
        qPrintable(env.list()->topLevelItem(1)->toolTip(4)));
    QCOMPARE(env.list()->ImageIndex(2), kIconWaiting);
    QCOMPARE(env.form()->MsgStatusPanel->text(),
             QStringLiteral("已恢复上次未完成的 2 个文件, 另有 1 个已完成"));
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(kHangMs));
    QCOMPARE(env.ErrorBoxes(), 0);
    QCOMPARE(NoCutFileUnderAFinalName(env.SaveDir(), 10), (QStringList{"a.mp4", "b.mp4", "c.mp4"}));
    QCOMPARE(Inode(env.SaveDir() + QStringLiteral("/a.mp4")), first);  // not converted again
    QCOMPARE(QDir(home.filePath(QStringLiteral("Trash/files"))).entryList(QDir::Files),
             QStringList{QStringLiteral("b (未完成).mp4")});
  }

  // Closing the window during a run leaves no file under a final name shorter than its
  // source; the next start shows the row interrupted, with its unfinished file.
  void closeDuringRun() {
    QueueEnv env{TestSupport::BuiltAppDir() + QStringLiteral("/make")};
    const QString source = env.SourceDir() + QStringLiteral("/long.mp4");
    QVERIFY(QFile::copy(DataFile(QStringLiteral("encoder/src_long.mp4")), source));
    AddThroughDialog(env, source);
    SlowSettings(env.form());
    env.form()->CvAvFileBtnClick();
    QVERIFY(QTest::qWaitFor([&] { return env.list()->SubItem(0, 3).remove(QLatin1Char('%')).toInt() >= 10; },
                            kHangMs));
    const long long encoder = env.form()->ConvQueue->Encoder()->Pid();
    env.dialogs.questionAnswers.push_back(0);  // 停止并退出
    QVERIFY(env.form()->close());
    QVERIFY(QTest::qWaitFor([&] { return !ProcessCheck::IsChild(encoder); }, kHangMs));
    QCOMPARE(NoCutFileUnderAFinalName(env.SaveDir(), 10), QStringList{QStringLiteral("long (未完成).mp4")});
    env.Restart(false);
    QCOMPARE(env.list()->SubItem(0, 3), QStringLiteral("已中断"));
    QVERIFY2(
        env.list()->topLevelItem(0)->toolTip(4).contains(QStringLiteral("long (未完成).mp4 (含前 00:00:")),
        qPrintable(env.list()->topLevelItem(0)->toolTip(4)));
  }

  void threeRealFiles() {
    QueueEnv env{TestSupport::BuiltAppDir() + QStringLiteral("/make")};
    env.form()->AvMsgTimer->setInterval(500);  // the program's own tick
    // One source in a folder with a blank and Chinese characters, under a
    // name with a blank.
    const QString folder = env.SourceDir() + QStringLiteral("/我的 视频");
    QDir().mkpath(folder);
    const QString sources[3] = {folder + QStringLiteral("/片段 一.mp4"),
                                env.SourceDir() + QStringLiteral("/clip.mkv"),
                                env.SourceDir() + QStringLiteral("/stream.ts")};
    QVERIFY(QFile::copy(DataFile(QStringLiteral("media/测试 视频/片段 一.mp4")), sources[0]));
    QVERIFY(QFile::copy(DataFile(QStringLiteral("encoder/src_mpeg4_mp3.mkv")), sources[1]));
    QVERIFY(QFile::copy(DataFile(QStringLiteral("encoder/src_mpeg2_mp2.ts")), sources[2]));
    for (const QString& s : sources) AddThroughDialog(env, s);
    QCOMPARE(env.list()->RowCount(), 3);

    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(kHangMs));
    QCOMPARE(env.ErrorBoxes(), 0);
    QCOMPARE(env.form()->AvListStat->Text(), QStringLiteral("3"));
    const QString names[3] = {QStringLiteral("片段 一.mp4"), QStringLiteral("clip.mp4"),
                              QStringLiteral("stream.mp4")};
    for (int r = 0; r < 3; ++r) {
      QCOMPARE(env.list()->ImageIndex(r), kIconFinished);
      QCOMPARE(env.list()->SubItem(r, 3), QStringLiteral("100%"));
      const TestMedia::MediaFacts in = CheckMedia(sources[r]);
      const TestMedia::MediaFacts out = CheckMedia(env.SaveDir() + QLatin1Char('/') + names[r]);
      QVERIFY2(out.ok && out.video.decoded, qPrintable(names[r]));
      QCOMPARE(out.format.contains(QStringLiteral("mp4")), true);
      QVERIFY2(
          qAbs(out.duration - in.duration) < 0.25,
          qPrintable(QStringLiteral("%1: %2 s from %3 s").arg(names[r]).arg(out.duration).arg(in.duration)));
    }
  }

  // An AVI cut in half converts what it holds; the row is done with the warning
  // mark and says how much was converted of the listed length.
  void cutShortAviIsMarked() {
    QueueEnv env{TestSupport::BuiltAppDir() + QStringLiteral("/make")};
    const QString source = env.SourceDir() + QStringLiteral("/cut.avi");
    const QByteArray whole = TestSupport::ReadBytes(DataFile(QStringLiteral("media/clip.avi")));
    TestSupport::WriteBytes(source, whole.left(whole.size() / 2));
    AddThroughDialog(env, source);
    QCOMPARE(env.list()->SubItem(0, 2), QStringLiteral("00:00:03"));
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(60000));
    QCOMPARE(env.list()->ImageIndex(0), kIconFinishedWithWarning);
    const QString tip = env.list()->topLevelItem(0)->toolTip(4);
    QVERIFY2(
        tip.startsWith(QStringLiteral("只转换了 1.")) && tip.contains(QStringLiteral("列表中的长度为 3 秒")),
        qPrintable(tip));
    // The summary ends with the batch's sizes before and after.
    QVERIFY2(env.form()->MsgStatusPanel->text().startsWith(
                 QStringLiteral("完成 1 个, 失败 0 个, 其中 1 个有警告, 源文件共 ")),
             qPrintable(env.form()->MsgStatusPanel->text()));
    QVERIFY(CheckMedia(env.SaveDir() + QStringLiteral("/cut.mp4")).video.decoded);
  }

  // A file that cannot be converted says why in the user's words: the row's tool tip
  // holds the sentence and, under it, the encoder's own detail; the status text the sentence.
  void failuresSayWhy_data() {
    using vidmora::protocol::ErrorCode;
    QTest::addColumn<QString>("sample");   // the source, from the test data
    QTest::addColumn<bool>("noise");       // its bytes replaced by noise
    QTest::addColumn<bool>("removed");     // gone before the run
    QTest::addColumn<int>("videoChoice");  // the video codec's item, -1 as it is
    QTest::addColumn<bool>("smallDisk");   // the output on a file system far smaller than it
    QTest::addColumn<int>("code");         // the failure the row names
    const QString longClip = QStringLiteral("encoder/src_long.mp4");
    QTest::newRow("damaged source") << longClip << true << false << -1 << false << int(ErrorCode::SourceDamaged);
    QTest::newRow("source moved away") << longClip << false << true << -1 << false << int(ErrorCode::SourceMissing);
    // The encoder copies into MP4 only the pictures MP4 carries (not Flash's H.263).
    QTest::newRow("copy of an FLV1 picture")
        << QStringLiteral("encoder/src_flv1_mp3.flv") << false << false << 3 << false
        << int(ErrorCode::CopyUnsupported);
    QTest::newRow("output disk full") << longClip << false << false << -1 << true << int(ErrorCode::OutputFull);
  }

  void failuresSayWhy() {
    QFETCH(QString, sample);
    QFETCH(bool, noise);
    QFETCH(bool, removed);
    QFETCH(int, videoChoice);
    QFETCH(bool, smallDisk);
    QFETCH(int, code);
    const QString reason = ErrorSentence(static_cast<vidmora::protocol::ErrorCode>(code));
    QueueEnv env{TestSupport::BuiltAppDir() + QStringLiteral("/make")};
    const QString source = env.SourceDir() + QStringLiteral("/clip.mp4");
    QVERIFY(QFile::copy(DataFile(sample), source));
    env.AddRowFor(source, QStringLiteral("00:00:10"));
    QString mounted;
    if (noise) {
      QByteArray bytes(200000, '\0');
      quint32 x = 777;
      for (char& c : bytes) c = char((x = x * 1664525u + 1013904223u) >> 24);
      TestSupport::WriteBytes(source, bytes);
    }
    if (removed) QVERIFY(QFile::remove(source));
    if (videoChoice >= 0) {
      auto* codec =
          qobject_cast<TComboBoxEx*>(Platform::FindComponent(env.form(), QStringLiteral("CmbExVideo1")));
      codec->SetItemIndex(videoChoice);
      QVERIFY(codec->Text().contains(QStringLiteral("原始视频")));
    }
    if (smallDisk) {
      const QString folder = env.SourceDir() + QStringLiteral("/small disk");
      QDir().mkpath(folder);
      if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP(qPrintable(QStringLiteral("cannot mount a small file system here: %1").arg(strerror(errno))));
      mounted = folder;
      env.form()->AvSaveDirEdit->setText(folder);
    }
    const auto unmount = qScopeGuard([&] {
      if (!mounted.isEmpty()) ::umount2(QFile::encodeName(mounted).constData(), MNT_DETACH);
    });

    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(kHangMs));
    QCOMPARE(env.list()->ImageIndex(0), 11);
    const QStringList tip = env.list()->topLevelItem(0)->toolTip(4).split(QLatin1Char('\n'));
    QCOMPARE(tip.size(), 2);
    QCOMPARE(tip[0], reason);
    QVERIFY2(!tip[1].isEmpty() && !tip[1].startsWith(QLatin1String("Error")), qPrintable(tip[1]));
    QCOMPARE(env.rowEnds.at(0).status, QStringLiteral("转换失败: clip.mp4: ") + reason);
    // Nothing half-written is left behind.
    QCOMPARE(QDir(env.SaveDir()).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(env.ErrorBoxes(), 0);
  }

  // Every name a user has: a folder holding a file whose name is not UTF-8 (GBK, as zips
  // from Chinese Windows hold them) and one whose name holds a line break is added whole; each
  // row is probed and converted from its own bytes; the GBK name is shown as GB18030, the line
  // break as a blank, and the outputs are named from the names as shown.
  void everyNameConverts() {
    QueueEnv env{TestSupport::BuiltAppDir() + QStringLiteral("/make")};
    const QString folder = env.SourceDir() + QStringLiteral("/名字");
    QDir().mkpath(folder);
    const QByteArray sample = TestSupport::ReadBytes(DataFile(QStringLiteral("encoder/src_h264_aac.mp4")));
    // Raw names, written past Qt, which cannot name the GBK one.
    const QList<QByteArray> names = {"plain.mp4", QByteArray::fromHex("d6d0cec42e6d7034") /* 中文.mp4 */,
                                     "line1\nline2.mp4"};
    for (const QByteArray& name : names) {
      const int fd =
          ::open((QFile::encodeName(folder) + '/' + name).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
      QVERIFY(fd >= 0 && ::write(fd, sample.constData(), size_t(sample.size())) == sample.size());
      ::close(fd);
    }
    // Qt cannot remove what it cannot name.
    const auto removeNames = qScopeGuard([&] {
      for (const QByteArray& name : names) ::unlink((QFile::encodeName(folder) + '/' + name).constData());
    });
    QVERIFY(Drop(env.list(), {folder}));
    QTRY_VERIFY_WITH_TIMEOUT(!env.form()->AvFileAdder->IsBusy(), 60000);
    QCOMPARE(env.list()->RowCount(), 3);
    const QMap<QString, QString> outputs = {
        {QStringLiteral("plain.mp4"), QStringLiteral("plain.mp4")},
        {QStringLiteral("中文.mp4"), QStringLiteral("中文.mp4")},
        {QStringLiteral("line1 line2.mp4"), QStringLiteral("line1 line2.mp4")}};
    QStringList shown;
    for (int r = 0; r < 3; ++r) {
      const QString text = env.list()->topLevelItem(r)->text(0);
      shown << QFileInfo(text).fileName();
      // The row holds the file's own bytes, and the probe read the file through them.
      const QByteArray bytes = Platform::NativePath(env.list()->Caption(r));
      QVERIFY2(names.contains(bytes.mid(bytes.lastIndexOf('/') + 1)), bytes.constData());
      QCOMPARE(env.list()->SubItem(r, 0), QStringLiteral("mp4"));
      QCOMPARE(env.list()->SubItem(r, 2), QStringLiteral("00:00:03"));
    }
    std::sort(shown.begin(), shown.end());
    QStringList expected = outputs.keys();
    std::sort(expected.begin(), expected.end());
    QCOMPARE(shown, expected);

    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(kHangMs));
    QCOMPARE(env.ErrorBoxes(), 0);
    for (int r = 0; r < 3; ++r) QCOMPARE(env.list()->ImageIndex(r), kIconFinished);
    QStringList written = QDir(env.SaveDir()).entryList(QDir::Files);
    std::sort(written.begin(), written.end());
    QStringList wanted = outputs.values();
    std::sort(wanted.begin(), wanted.end());
    QCOMPARE(written, wanted);
    for (const QString& name : wanted) {
      const TestMedia::MediaFacts out = CheckMedia(env.SaveDir() + QLatin1Char('/') + name);
      QVERIFY2(out.ok && out.video.decoded && qAbs(out.duration - 3.0) < 0.25, qPrintable(name));
    }
  }

  // A phone's folder of two days, each with its VIDEO_001.mp4, dropped whole and
  // converted two at a time by the real encoder: each output in the matching
  // folder below the output folder, whole.
  void phoneFolderKeepsItsDays() {
    QueueEnv env{TestSupport::BuiltAppDir() + QStringLiteral("/make")};
    env.form()->CmbConcurrent->setCurrentIndex(env.form()->CmbConcurrent->findData(2));
    env.form()->CmbConcurrentChange();
    const QString dcim = env.SourceDir() + QStringLiteral("/DCIM");
    for (const QString& day : {QStringLiteral("100ANDRO"), QStringLiteral("101ANDRO")}) {
      QDir().mkpath(dcim + QLatin1Char('/') + day);
      QVERIFY(QFile::copy(DataFile(QStringLiteral("encoder/src_h264_aac.mp4")),
                          dcim + QLatin1Char('/') + day + QStringLiteral("/VIDEO_001.mp4")));
    }
    QVERIFY(Drop(env.list(), {dcim}));
    QCOMPARE(env.list()->RowCount(), 2);
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(kHangMs));
    QCOMPARE(env.ErrorBoxes(), 0);
    for (const QString& day : {QStringLiteral("100ANDRO"), QStringLiteral("101ANDRO")}) {
      const QString output = env.SaveDir() + QLatin1Char('/') + day + QStringLiteral("/VIDEO_001.mp4");
      const TestMedia::MediaFacts out = CheckMedia(output);
      QVERIFY2(out.ok && out.video.decoded && qAbs(out.duration - 3.0) < 0.25, qPrintable(output));
    }
    QCOMPARE(QDir(env.SaveDir()).entryList(QDir::Files), QStringList());
    // Two at once, each with its share of the cores.
    QVERIFY(env.form()->ConvQueue->Rows().at(0).options.contains(QStringLiteral("-threads")));
  }

  void neverReplacesUserFiles() {
    QueueEnv env{TestSupport::BuiltAppDir() + QStringLiteral("/make")};
    // Two clip.avi of different content from two camera folders, and a
    // holiday.avi beside the user's own holiday.mp4 in the output folder.
    const QString root = env.SourceDir();
    for (const char* d : {"A", "B", "C"}) QDir(root).mkdir(QString::fromLatin1(d));
    const QString c = root + QStringLiteral("/C/");
    const QStringList sources = {root + QStringLiteral("/A/clip.avi"), root + QStringLiteral("/B/clip.avi"),
                                 c + QStringLiteral("holiday.avi"), c + QStringLiteral("holiday.mp4")};
    QVERIFY(QFile::copy(DataFile(QStringLiteral("media/clip.avi")), sources[0]));
    QVERIFY(QFile::copy(DataFile(QStringLiteral("encoder/src_mpeg4_mp3.mkv")), sources[1]));
    QVERIFY(QFile::copy(DataFile(QStringLiteral("encoder/src_h264_aac.flv")), sources[2]));
    QVERIFY(QFile::copy(DataFile(QStringLiteral("media/clip.mp4")), sources[3]));
    QMap<QString, QByteArray> before;
    for (const QString& s : sources) {
      before[s] = TestSupport::ReadBytes(s);
      AddThroughDialog(env, s);
    }
    env.form()->AvSaveDirEdit->setText(root + QStringLiteral("/C"));
    const QStringList outputs = {c + QStringLiteral("clip.mp4"), c + QStringLiteral("clip (1).mp4"),
                                 c + QStringLiteral("holiday (1).mp4"),
                                 c + QStringLiteral("holiday (2).mp4")};

    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(kHangMs));
    QVERIFY(env.dialogs.questions.empty());
    QVERIFY2(env.form()->MsgStatusPanel->text().startsWith(QStringLiteral("完成 4 个, 失败 0 个, 源文件共 ")),
             qPrintable(env.form()->MsgStatusPanel->text()));
    for (int r = 0; r < 4; ++r) {
      QCOMPARE(TestSupport::ReadBytes(sources[r]), before[sources[r]]);
      // Each output holds its own source: their lengths agree.
      const TestMedia::MediaFacts out = CheckMedia(outputs[r]);
      QVERIFY2(out.ok && out.video.decoded, qPrintable(outputs[r]));
      QVERIFY2(qAbs(out.duration - CheckMedia(sources[r]).duration) < 0.25, qPrintable(outputs[r]));
      before[outputs[r]] = TestSupport::ReadBytes(outputs[r]);
    }
    QCOMPARE(QDir(c).entryList(QDir::Files | QDir::Hidden).size(), 6);
    auto unchanged = [&] {
      for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (TestSupport::ReadBytes(it.key()) != it.value()) return false;
      }
      return true;
    };

    // Again: the outputs exist now, and the user is asked once. Cancel starts nothing.
    env.dialogs.questionAnswers = {2};
    env.form()->CvAvFileBtnClick();
    QCOMPARE(env.dialogs.questions.size(), size_t(1));
    QCOMPARE(env.dialogs.questions[0].caption, QStringLiteral("Vidmora"));
    QCOMPARE(env.dialogs.questions[0].buttons,
             (QStringList{QStringLiteral("替换"), QStringLiteral("保留两者"), QStringLiteral("取消")}));
    QVERIFY(env.dialogs.questions[0].text.contains(QStringLiteral("holiday (2).mp4")));
    QVERIFY(!env.form()->AvMsgTimer->isActive());
    QVERIFY(env.AllButtons(true));
    QVERIFY(unchanged());
    QCOMPARE(QDir(c).entryList(QDir::Files | QDir::Hidden).size(), 6);

    // Keep both: four new files beside the earlier ones.
    env.dialogs.questionAnswers = {1};
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(kHangMs));
    QCOMPARE(env.dialogs.questions.size(), size_t(2));
    QVERIFY(unchanged());
    for (const char* n : {"clip (2).mp4", "clip (3).mp4", "holiday (3).mp4", "holiday (4).mp4"}) {
      QVERIFY2(CheckMedia(c + QString::fromUtf8(n)).video.decoded, n);
    }
    QCOMPARE(QDir(c).entryList(QDir::Files | QDir::Hidden).size(), 10);

    // Replace: the first run's outputs are replaced (new files under the same
    // names), the sources still are not, and no other name is left behind.
    QMap<QString, quint64> inodes;
    for (const QString& o : outputs) inodes[o] = Inode(o);
    env.dialogs.questionAnswers = {0};
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(kHangMs));
    QCOMPARE(env.dialogs.questions.size(), size_t(3));
    QVERIFY2(env.form()->MsgStatusPanel->text().startsWith(QStringLiteral("完成 4 个, 失败 0 个, 源文件共 ")),
             qPrintable(env.form()->MsgStatusPanel->text()));
    for (int r = 0; r < 4; ++r) {
      QCOMPARE(TestSupport::ReadBytes(sources[r]), before[sources[r]]);
      QVERIFY2(Inode(outputs[r]) != inodes[outputs[r]], qPrintable(outputs[r]));
      QVERIFY(CheckMedia(outputs[r]).video.decoded);
    }
    QCOMPARE(QDir(c).entryList(QDir::Files | QDir::Hidden).size(), 10);
    QCOMPARE(env.ErrorBoxes(), 0);
  }

  void stopHalfwayLeavesPlayableFile() {
    QueueEnv env{TestSupport::BuiltAppDir() + QStringLiteral("/make")};
    const QString source = env.SourceDir() + QStringLiteral("/long clip.mp4");
    QVERIFY(QFile::copy(DataFile(QStringLiteral("encoder/src_long.mp4")), source));
    AddThroughDialog(env, source);
    // The slow codec at a large picture size, so that the stop comes halfway.
    SlowSettings(env.form());
    QVERIFY(env.form()->CmbExVideo[1]->Text().contains(QStringLiteral("265")));
    // An earlier output of the same name: the user chooses to replace it.
    const QString old = env.SaveDir() + QStringLiteral("/long clip.mp4");
    QVERIFY(QFile::copy(DataFile(QStringLiteral("media/clip.mp4")), old));
    const QByteArray oldBytes = TestSupport::ReadBytes(old);
    env.dialogs.questionAnswers = {0};
    env.form()->CvAvFileBtnClick();
    // Stopped once a fifth is done, however long the machine takes to get there; the
    // limits below only end a run that hangs.
    QVERIFY(QTest::qWaitFor([&] { return env.list()->SubItem(0, 3).remove(QLatin1Char('%')).toInt() >= 20; },
                            kHangMs));
    const long long encoder = env.form()->ConvQueue->Encoder()->Pid();
    env.form()->StopCvAvBtnClick();
    QCOMPARE(env.list()->ImageIndex(0), kIconStopped);
    QCOMPARE(env.form()->AvListStat->Text(), QStringLiteral("-1"));
    // The encoder closes its file and ends by itself.
    // The slow codec's last frames take a while on a busy machine.
    const bool gone = QTest::qWaitFor([&] { return !ProcessCheck::IsChild(encoder); }, kHangMs);
    QVERIFY2(gone,
             ProcessCheck::Zombies() ? "the encoder ended but was not reaped" : "the encoder still runs");
    QVERIFY(encoder > 0);
    // The old file keeps its bytes; the partial one lies beside it under a name that
    // says it is unfinished, and the status text says where.
    QCOMPARE(TestSupport::ReadBytes(old), oldBytes);
    const QString partial = env.SaveDir() + QStringLiteral("/long clip (1) (未完成).mp4");
    QVERIFY(env.form()->MsgStatusPanel->text().contains(partial));
    const TestMedia::MediaFacts out = CheckMedia(partial);
    QVERIFY(out.ok && out.video.decoded);
    QVERIFY2(out.duration > 0.5 && out.duration < 9.0, qPrintable(QString::number(out.duration)));
    QCOMPARE(env.ErrorBoxes(), 0);
  }
};

QTEST_MAIN(TestConvEndToEnd)
#include "tst_conv_e2e.moc"
