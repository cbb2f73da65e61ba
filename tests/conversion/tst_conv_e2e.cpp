// The real encoder through the real main window: files added through the open
// dialog, converted in turn into playable MP4 files; a stop halfway leaves a
// playable shorter file.
#include "MediaCheck.h"
#include "ProcessCheck.h"
#include "QueueEnv.h"
#include "conversion/ConvQueue.h"
#include "conversion/DosConvFunc.h"
#include "platform/Platform.h"

#include <QFileInfo>

namespace {

QString DataFile(const QString& name) {
  return TestSupport::SourceDir() + QStringLiteral("/tests/data/") + name;
}

void AddThroughDialog(QueueEnv& env, const QString& path) {
  env.dialogs.fileAnswers.push_back(path);
  env.form()->AddAvFileBtnClick();
}

}  // namespace

class TestConvEndToEnd : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    if (!QFileInfo(TestSupport::BuiltAppDir() + QStringLiteral("/make")).isExecutable())
      QSKIP("the encoder has not been built");
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
    QVERIFY(env.WaitIdle(120000));
    QCOMPARE(env.ErrorBoxes(), 0);
    QCOMPARE(env.form()->AvListStat->Text(), QStringLiteral("3"));
    const QString names[3] = {QStringLiteral("片段 一.mp4"), QStringLiteral("clip.mp4"),
                              QStringLiteral("stream.mp4")};
    for (int r = 0; r < 3; ++r) {
      QCOMPARE(env.list()->ImageIndex(r), 5);
      QCOMPARE(env.list()->SubItem(r, 3), QStringLiteral("100%"));
      const MediaFacts in = CheckMedia(sources[r]);
      const MediaFacts out = CheckMedia(env.SaveDir() + QLatin1Char('/') + names[r]);
      QVERIFY2(out.opens && out.videoDecodes, qPrintable(names[r]));
      QCOMPARE(out.format.contains(QStringLiteral("mp4")), true);
      QVERIFY2(
          qAbs(out.seconds - in.seconds) < 0.25,
          qPrintable(QStringLiteral("%1: %2 s from %3 s").arg(names[r]).arg(out.seconds).arg(in.seconds)));
    }
  }

  void missingOutputFolderFailsAndRunMovesOn() {
    QueueEnv env{TestSupport::BuiltAppDir() + QStringLiteral("/make")};
    const QString source = env.SourceDir() + QStringLiteral("/a.mkv");
    QVERIFY(QFile::copy(DataFile(QStringLiteral("encoder/src_mpeg4_mp3.mkv")), source));
    AddThroughDialog(env, source);
    AddThroughDialog(env, source);
    env.form()->AvSaveDirEdit->setText(env.SourceDir() + QStringLiteral("/no such folder"));
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(30000));
    QCOMPARE(env.list()->ImageIndex(0), 11);
    QCOMPARE(env.list()->ImageIndex(1), 11);
    QCOMPARE(env.form()->MsgStatusPanel->text(), QStringLiteral("转换失败: a.mkv"));
    QVERIFY(env.AllButtons(true));
    QCOMPARE(env.ErrorBoxes(), 0);
  }

  void stopHalfwayLeavesPlayableFile() {
    QueueEnv env{TestSupport::BuiltAppDir() + QStringLiteral("/make")};
    const QString source = env.SourceDir() + QStringLiteral("/long clip.mp4");
    QVERIFY(QFile::copy(DataFile(QStringLiteral("encoder/src_long.mp4")), source));
    AddThroughDialog(env, source);
    // The slow codec at a large picture size, so that the stop comes halfway.
    auto* codec =
        qobject_cast<TComboBoxEx*>(Platform::FindComponent(env.form(), QStringLiteral("CmbExVideo1")));
    auto* size =
        qobject_cast<TComboBoxEx*>(Platform::FindComponent(env.form(), QStringLiteral("CmbExVideo3")));
    codec->SetItemIndex(1);
    size->SetItemIndex(5);
    QVERIFY(codec->Text().contains(QStringLiteral("265")));
    env.form()->CvAvFileBtnClick();
    QVERIFY(QTest::qWaitFor([&] { return env.list()->SubItem(0, 3).remove(QLatin1Char('%')).toInt() >= 20; },
                            60000));
    const long long encoder = env.form()->ConvQueue->Encoder()->Pid();
    env.form()->StopCvAvBtnClick();
    QCOMPARE(env.list()->ImageIndex(0), 11);
    QCOMPARE(env.form()->AvListStat->Text(), QStringLiteral("-1"));
    // The encoder closes its file and ends by itself.
    // The slow codec's last frames take a while on a busy machine.
    const bool gone = QTest::qWaitFor([&] { return !ProcessCheck::IsChild(encoder); }, 90000);
    QVERIFY2(gone,
             ProcessCheck::Zombies() ? "the encoder ended but was not reaped" : "the encoder still runs");
    QVERIFY(encoder > 0);
    const MediaFacts out = CheckMedia(env.SaveDir() + QStringLiteral("/long clip.mp4"));
    QVERIFY(out.opens && out.videoDecodes);
    QVERIFY2(out.seconds > 0.5 && out.seconds < 9.0, qPrintable(QString::number(out.seconds)));
    QCOMPARE(env.ErrorBoxes(), 0);
  }
};

QTEST_MAIN(TestConvEndToEnd)
#include "tst_conv_e2e.moc"
