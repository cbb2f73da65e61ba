// Everyday batches through the main window: every media kind by drop and by
// the dialog, the remembered folder, several rows at once, the keyboard, the
// run's second status panel, a row's menu and 重新转换.
#include "app/FileAdder.h"
#include "media/FileFacts.h"
#include "platform/ProfileFile.h"
#include "platform/Shell.h"
#include "tests/conversion/QueueEnv.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QtTest>

#include <memory>

namespace {

const QString kStandin = QStringLiteral(STANDIN_PATH);

QStringList Captions(TListViewEx* list) {
  QStringList out;
  for (int r = 0; r < list->RowCount(); ++r) out << list->Caption(r);
  return out;
}

QAction* MenuAction(QMenu* menu, const char* name) {
  return menu->findChild<QAction*>(QString::fromLatin1(name));
}

}  // namespace

class TestBatches : public QObject {
  Q_OBJECT

 private slots:
  // Each media extension, in lower and in upper case, by a drop of their
  // folder and by one pick of the dialog; other files are counted.
  void everyMediaKindByDropAndPick() {
    QueueEnv env(kStandin);
    const QString dir = env.SourceDir() + QStringLiteral("/kinds");
    QDir().mkpath(dir);
    QStringList expected;
    for (const QString& ext : MediaExtensions()) {
      for (const QString& name : {QStringLiteral("lower.") + ext, QStringLiteral("UPPER.") + ext.toUpper()}) {
        TestSupport::WriteBytes(dir + QLatin1Char('/') + name, "x");
        expected << dir + QLatin1Char('/') + name;
      }
    }
    for (const char* other : {"notes.txt", "cover.JPG", "noext"}) {
      TestSupport::WriteBytes(dir + QLatin1Char('/') + QLatin1String(other), "x");
    }
    for (const char* must : {"mkv", "webm", "ts", "mts", "m2ts", "mpg", "mpeg", "m4v", "f4v", "ogv", "dv",
                             "divx", "rmvb", "mxf", "mpq"}) {
      QVERIFY2(MediaExtensions().contains(must), qPrintable(must));
    }
    std::sort(expected.begin(), expected.end(), [](const QString& a, const QString& b) {
      return QFileInfo(a).fileName() < QFileInfo(b).fileName();
    });

    Drop(env.list(), {dir});
    QTRY_VERIFY_WITH_TIMEOUT(!env.form()->AvFileAdder->IsBusy(), 60000);
    QCOMPARE(Captions(env.list()), expected);
    QVERIFY(env.form()->MsgStatusPanel->text().endsWith(QStringLiteral("已忽略 3 个不是视频的文件")));

    // The dialog: the first entry holds every kind, the second every file;
    // files picked there are taken whatever their kind.
    env.list()->ClearRows();
    QStringList picked = expected;
    picked << dir + QStringLiteral("/notes.txt");
    env.dialogs.filesAnswers.push_back(picked);
    env.form()->AddAvFileBtnClick();
    QTRY_VERIFY_WITH_TIMEOUT(!env.form()->AvFileAdder->IsBusy(), 60000);
    QCOMPARE(Captions(env.list()), picked);
    const QString filter = env.dialogs.fileFilters.value(0);
    QVERIFY(filter.startsWith(QStringLiteral("媒体文件|*.mp4;*.asf;*.avi;")));
    QVERIFY(Shell::QtFilterFromWindowsFilter(filter).endsWith(QStringLiteral(";;所有文件 (*)")));
    QCOMPARE(env.dialogs.fileTitles, QStringList{QStringLiteral("添加")});
  }

  // The dialog opens in the folder of the last pick, after a restart too; the
  // folder has a key of its own and the other settings stay as they were.
  void dialogRemembersFolder() {
    TestSupport::TempAppDir app;
    TestSupport::CapturedDialogs dialogs;
    QTemporaryDir media;
    QDir().mkpath(media.filePath(QStringLiteral("a")));
    const QString file = media.filePath(QStringLiteral("a/one.avi"));
    TestSupport::WriteBytes(file, "x");
    const QString ini = app.File(QStringLiteral("libcfg.ini"));
    TestSupport::WriteBytes(ini, "[SaveDir]\r\nDir=/somewhere\r\n[ChgDirFlag]\r\nFlag=Yes\r\n");
    {
      TestSupport::MainWindowFixture window;
      QCOMPARE(window.form()->AvSaveDirEdit->text(), QStringLiteral("/somewhere"));
      dialogs.filesAnswers.push_back(QStringList{file});
      window.form()->AddAvFileBtnClick();
      QVERIFY(TestSupport::WaitForAddition(window.form()));
      QCOMPARE(window.form()->AvFilesList->RowCount(), 1);
      window.form()->AddAvFileBtnClick();  // cancelled
    }
    TestSupport::MainWindowFixture again;
    again.form()->AddAvFileBtnClick();
    QCOMPARE(dialogs.fileStarts, (QStringList{QDir::homePath(), media.filePath(QStringLiteral("a")),
                                              media.filePath(QStringLiteral("a"))}));
    QCOMPARE(again.form()->AvSaveDirEdit->text(), QStringLiteral("/somewhere"));
    QCOMPARE(
        Platform::GetPrivateProfileString(QStringLiteral("AddDir"), QStringLiteral("Dir"), QString(), ini),
        media.filePath(QStringLiteral("a")));
    // A folder that is gone: the home folder again.
    QDir(media.filePath(QStringLiteral("a"))).removeRecursively();
    again.form()->AddAvFileBtnClick();
    QCOMPARE(dialogs.fileStarts.last(), QDir::homePath());
  }

  // Delete removes exactly the selected rows; the panel follows the arrow
  // keys; Enter previews the current row (refused here: a run is going).
  void keyboardOnTheList() {
    QueueEnv env(kStandin);
    const QString media = TestSupport::SourceDir() + QStringLiteral("/tests/data/media/");
    env.dialogs.filesAnswers.push_back(QStringList{media + "clip.avi", media + "clip.mp4",
                                                   media + "silent.mp4", media + "clip.avi",
                                                   media + "clip.mp4"});
    env.form()->show();
    QVERIFY(QTest::qWaitForWindowActive(env.form()));
    QTest::keyClick(env.form(), Qt::Key_O, Qt::ControlModifier);
    QTRY_COMPARE(env.list()->RowCount(), 5);
    for (int r : {0, 2, 3}) env.list()->topLevelItem(r)->setSelected(true);
    env.list()->setFocus();
    QTest::keyClick(env.list(), Qt::Key_Delete);
    QTRY_COMPARE(env.list()->RowCount(), 2);
    QCOMPARE(Captions(env.list()), (QStringList{media + "clip.mp4", media + "clip.mp4"}));

    env.list()->ClearRows();
    env.dialogs.filesAnswers.push_back(
        QStringList{media + "clip.avi", media + "silent.mp4", media + "clip.mp4"});
    env.form()->AddAvFileBtnClick();
    QTRY_COMPARE(env.list()->RowCount(), 3);
    env.list()->setFocus();
    QTest::keyClick(env.list(), Qt::Key_Home);
    QCOMPARE(env.form()->AvParamsList->SubItem(1, 0), QStringLiteral("clip.avi"));
    QTest::keyClick(env.list(), Qt::Key_Down);
    QCOMPARE(env.form()->AvParamsList->SubItem(1, 0), QStringLiteral("silent.mp4"));
    QTest::keyClick(env.list(), Qt::Key_Down);
    QCOMPARE(env.form()->AvParamsList->SubItem(1, 0), QStringLiteral("clip.mp4"));
    QTest::keyClick(env.list(), Qt::Key_Up);
    QCOMPARE(env.list()->CurrentRow(), 1);
    QCOMPARE(env.form()->AvParamsList->SubItem(1, 0), QStringLiteral("silent.mp4"));
    // A Ctrl+click adds a row to the selection and shows that row.
    auto rowCenter = [&](int r) { return env.list()->visualItemRect(env.list()->topLevelItem(r)).center(); };
    QTest::mouseClick(env.list()->viewport(), Qt::LeftButton, {}, rowCenter(0));
    QTest::mouseClick(env.list()->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCenter(2));
    QCOMPARE(env.list()->SelectedRows(), (QList<int>{0, 2}));
    QCOMPARE(env.form()->AvParamsList->SubItem(1, 0), QStringLiteral("clip.mp4"));
    QCOMPARE(env.ErrorBoxes(), 0);

    // The toolbar is in the Tab order, ahead of the list.
    env.form()->AddAvFileBtn->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(env.form()->DelAvFileBtn));
    QVERIFY(env.form()->AddAvFileBtn->toolTip().contains(QStringLiteral("Ctrl+O")));

    // F5 converts, Enter on the list asks to play (refused during a run), Esc stops.
    env.list()->ClearRows();
    env.AddScripted(QStringLiteral("long.avi"), QStringLiteral("sleep 10000\nsummary\n"));
    env.list()->setFocus();
    QTest::keyClick(env.list(), Qt::Key_F5);
    QTRY_VERIFY(env.form()->ConvQueue->IsRunning());
    QTest::keyClick(env.list(), Qt::Key_Home);
    QTest::keyClick(env.list(), Qt::Key_Return);
    QCOMPARE(env.ErrorBoxes(), 1);
    QCOMPARE(env.dialogs.messages[0].second, QStringLiteral("正在转换视频文件,无法播放"));
    QTest::keyClick(env.list(), Qt::Key_Escape);
    QTRY_VERIFY(!env.form()->ConvQueue->IsRunning());
    QCOMPARE(env.list()->ImageIndex(0), kIconStopped);
  }

  // During a run the second panel tells the position and, once known, the
  // speed and the time left; at the end it offers the output folder.
  void secondStatusPanel() {
    QueueEnv env(kStandin);
    env.AddScripted(QStringLiteral("a.avi"), QStringLiteral("progress 2.00\nsleep 300\nsummary\nwrite\n"));
    env.AddScripted(QStringLiteral("b.avi"), QStringLiteral("progress 4.00\nsleep 400\nsummary\nwrite\n"));
    // What the panel shows as each row starts (the window has seen the start).
    QStringList seen;
    QObject::connect(env.form()->ConvQueue, &TConvQueue::PositionChanged, env.form(),
                     [&] { seen << env.form()->RunStatusPanel->text(); });
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(10000));
    QCOMPARE(seen.size(), 3);  // two rows, then the end
    QVERIFY2(seen[0].startsWith(QStringLiteral("完成 0/2 个")), qPrintable(seen.join('|')));
    QVERIFY2(seen[1].startsWith(QStringLiteral("完成 1/2 个")), qPrintable(seen.join('|')));
    const QString end = env.form()->RunStatusPanel->text();
    QVERIFY(end.contains(QStringLiteral("打开输出目录")));
    emit env.form()->RunStatusPanel->linkActivated(QStringLiteral("open"));
    QCOMPARE(env.dialogs.opened, QStringList{env.SaveDir()});
    // The desktop's notice offers the same, for the folder of that run.
    QCOMPARE(env.notice.actions, QStringList{QStringLiteral("打开输出目录")});
    const QString folder = env.SaveDir();
    env.form()->AvSaveDirEdit->setText(QStringLiteral("/elsewhere"));
    env.notice.lastAction();
    QCOMPARE(env.dialogs.opened, (QStringList{folder, folder}));
  }

  // A failed row is put back by 重新转换 and converted in the next run, alone;
  // a converted row's menu opens its output.
  void reconvertFailedRow() {
    QueueEnv env(kStandin);
    env.AddScripted(QStringLiteral("bad.avi"), QStringLiteral("say Error: broken\nexit 1\n"));
    env.AddScripted(QStringLiteral("good.avi"), QStringLiteral("write\nsummary\n"));
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(5000));
    QCOMPARE(env.list()->ImageIndex(0), kIconStopped);
    QCOMPARE(env.list()->ImageIndex(1), kIconFinished);

    std::unique_ptr<QMenu> bad(env.form()->BuildRowMenu(0));
    std::unique_ptr<QMenu> good(env.form()->BuildRowMenu(1));
    QVERIFY(!env.form()->BuildRowMenu(-1));
    QStringList texts;
    for (QAction* a : bad->actions()) {
      if (!a->isSeparator()) texts << a->text();
    }
    QCOMPARE(texts, (QStringList{"播放", "打开所在目录", "打开输出文件", "移除", "重新转换"}));
    QVERIFY(MenuAction(bad.get(), "ReconvertRowAct")->isEnabled());
    QVERIFY(!MenuAction(bad.get(), "OpenRowOutputAct")->isEnabled());
    QVERIFY(!MenuAction(good.get(), "ReconvertRowAct")->isEnabled());
    QVERIFY(MenuAction(good.get(), "OpenRowOutputAct")->isEnabled());
    MenuAction(good.get(), "OpenRowOutputAct")->trigger();
    MenuAction(good.get(), "OpenRowDirAct")->trigger();
    QCOMPARE(env.dialogs.opened, (QStringList{env.SaveDir() + QStringLiteral("/good.mp4"), env.SourceDir()}));

    TestSupport::WriteBytes(env.list()->Caption(0), "write\nsummary\n");
    MenuAction(bad.get(), "ReconvertRowAct")->trigger();
    QCOMPARE(env.list()->ImageIndex(0), kIconWaiting);
    QCOMPARE(env.list()->SubItem(0, 3), QStringLiteral("0%"));
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(5000));
    QCOMPARE(env.list()->ImageIndex(0), kIconFinished);
    QCOMPARE(env.LogOfRow(0).count(QStringLiteral("start")), 2);
    QCOMPARE(env.LogOfRow(1).count(QStringLiteral("start")), 1);  // not converted again
    QCOMPARE(env.form()->MsgStatusPanel->text(),
             QStringLiteral("完成 1 个, 失败 0 个, 源文件共 1 KB, 输出共 1 KB"));
    QCOMPARE(env.dialogs.questions.size(), size_t(0));
  }

  // The replace question: Enter keeps both.
  void replaceQuestionDefaultsToKeepBoth() {
    QueueEnv env(kStandin);
    env.AddScripted(QStringLiteral("same.avi"), QStringLiteral("write\nsummary\n"));
    TestSupport::WriteBytes(env.SaveDir() + QStringLiteral("/same.mp4"), "earlier");
    env.form()->CvAvFileBtnClick();  // no answer: closed, as cancel
    QCOMPARE(env.dialogs.questions.size(), size_t(1));
    QCOMPARE(env.dialogs.questions[0].buttons.value(env.dialogs.questions[0].defaultButton),
             QStringLiteral("保留两者"));
    QVERIFY(!env.form()->ConvQueue->IsRunning());
  }

  // A large addition goes on in slices: the window answers between them and
  // says how far it has come; the file buttons wait for its end.
  void largeAdditionInSlices() {
    QueueEnv env(kStandin);
    const QString dir = env.SourceDir() + QStringLiteral("/many");
    QDir().mkpath(dir);
    for (int i = 0; i < 300; ++i)
      TestSupport::WriteBytes(dir + QStringLiteral("/%1.mp4").arg(i, 3, 10, QLatin1Char('0')), "x");
    env.form()->AvFileAdder->SliceRows = 10;
    Drop(env.list(), {dir}, false);
    // Nothing is probed inside the drop: the rows come as their probes finish.
    QVERIFY(env.form()->AvFileAdder->IsBusy());
    QCOMPARE(env.list()->RowCount(), 0);
    QVERIFY(env.form()->MsgStatusPanel->text().startsWith(QStringLiteral("正在添加文件")));
    QVERIFY(!env.form()->CvAvFileBtn->isEnabled());
    QTRY_VERIFY(env.list()->RowCount() > 0);
    QVERIFY(env.list()->RowCount() < 300);
    // More files dropped meanwhile join the addition.
    TestSupport::WriteBytes(env.SourceDir() + QStringLiteral("/late.mkv"), "x");
    Drop(env.list(), {env.SourceDir() + QStringLiteral("/late.mkv")}, false);
    QTRY_VERIFY_WITH_TIMEOUT(!env.form()->AvFileAdder->IsBusy(), 60000);
    QCOMPARE(env.list()->RowCount(), 301);
    QCOMPARE(env.list()->Caption(300), env.SourceDir() + QStringLiteral("/late.mkv"));
    QCOMPARE(env.form()->MsgStatusPanel->text(), QStringLiteral("已添加 301 个文件"));
    QVERIFY(env.AllButtons(true));
    // In the order given, whatever order the probes finished in.
    for (int i = 0; i < 300; ++i)
      QCOMPARE(QFileInfo(env.list()->Caption(i)).fileName(),
               QStringLiteral("%1.mp4").arg(i, 3, 10, QLatin1Char('0')));
  }

  // A folder brings its whole tree, and its files' outputs keep its structure below the
  // output folder: a phone's DCIM/100ANDRO/VIDEO_001.mp4 and DCIM/101ANDRO/VIDEO_001.mp4
  // become 100ANDRO/VIDEO_001.mp4 and 101ANDRO/VIDEO_001.mp4. A file added one by one
  // goes to the output folder itself. Links to folders are not followed; the list file
  // keeps where each output goes.
  void folderBringsItsTree() {
    QueueEnv env(kStandin);
    const QString dcim = env.SourceDir() + QStringLiteral("/DCIM");
    const QByteArray script = "length 2\nwrite\nprogress 2.00\nsummary\n";
    for (const char* name : {"/100ANDRO/VIDEO_001.mp4", "/101ANDRO/VIDEO_001.mp4", "/top.mp4",
                             "/101ANDRO/sub/deep.mkv", "/.thumbnails/hidden.mp4"})
      TestSupport::WriteBytes(dcim + QString::fromLatin1(name), script);
    TestSupport::WriteBytes(dcim + QStringLiteral("/100ANDRO/note.txt"), "not a video");
    const QString elsewhere = env.SourceDir() + QStringLiteral("/elsewhere");
    TestSupport::WriteBytes(elsewhere + QStringLiteral("/VIDEO_001.mp4"), script);
    TestSupport::WriteBytes(elsewhere + QStringLiteral("/outside.mp4"), script);
    // A link back up into the tree and one out of it: neither is followed.
    QVERIFY(QFile::link(dcim, dcim + QStringLiteral("/100ANDRO/loop")));
    QVERIFY(QFile::link(elsewhere, dcim + QStringLiteral("/out")));
    Drop(env.list(), {dcim});
    QTRY_VERIFY(!env.form()->AvFileAdder->IsBusy());
    env.dialogs.fileAnswers.push_back(elsewhere + QStringLiteral("/VIDEO_001.mp4"));
    env.form()->AddAvFileBtnClick();
    QTRY_VERIFY(!env.form()->AvFileAdder->IsBusy());
    const QStringList expected{"top.mp4", "100ANDRO/VIDEO_001.mp4", "101ANDRO/VIDEO_001.mp4",
                               "101ANDRO/sub/deep.mkv"};
    QCOMPARE(env.list()->RowCount(), 5);
    for (int r = 0; r < 4; ++r) QCOMPARE(env.list()->Caption(r), dcim + QLatin1Char('/') + expected[r]);
    QCOMPARE(env.list()->Caption(4), elsewhere + QStringLiteral("/VIDEO_001.mp4"));
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(20000));
    const QStringList outputs{"top.mp4", "100ANDRO/VIDEO_001.mp4", "101ANDRO/VIDEO_001.mp4",
                              "101ANDRO/sub/deep.mp4", "VIDEO_001.mp4"};
    for (int r = 0; r < 5; ++r) {
      QCOMPARE(env.list()->ImageIndex(r), kIconFinished);
      QCOMPARE(env.list()->OutputPath(r), env.SaveDir() + QLatin1Char('/') + outputs[r]);
      QVERIFY(QFileInfo(env.list()->OutputPath(r)).isFile());
    }
    // After a restart the rows know where their outputs go: converted again, keeping both.
    env.Restart(true);
    QCOMPARE(env.list()->RowCount(), 5);
    env.dialogs.questionAnswers.push_back(1);
    env.form()->CvAvFileBtnClick();
    QVERIFY(env.WaitIdle(20000));
    QCOMPARE(env.list()->OutputPath(2), env.SaveDir() + QStringLiteral("/101ANDRO/VIDEO_001 (1).mp4"));
    QCOMPARE(env.list()->OutputPath(4), env.SaveDir() + QStringLiteral("/VIDEO_001 (1).mp4"));
    QCOMPARE(env.ErrorBoxes(), 0);
  }
};

QTEST_MAIN(TestBatches)
#include "tst_batches.moc"
