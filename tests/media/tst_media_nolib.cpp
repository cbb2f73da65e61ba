// Without the media-information library no file is added and the panel stays;
// every operation tries the load again, and once the library file is in place
// the next one succeeds.
#include "MediaSamples.h"
#include "tests/support/TestSupport.h"
#include "app/Controls.h"
#include "app/ConvMainFrm.h"
#include "app/ConvMainFunc.h"
#include "media/MediaInfoDll.h"
#include "platform/Platform.h"

#include <QFile>
#include <QtTest>

#include <dlfcn.h>

using namespace TestSupport;

class TestMediaNoLib : public QObject {
  Q_OBJECT
 private slots:
  void missingThenPlaced() {
    TempAppDir appDir;
    CapturedDialogs dialogs;
    MainWindowFixture window;
    dialogs.messages.clear();
    // The program's library name, but looked for in the temporary
    // installation folder, where it is not (yet).
    const QString libPath = appDir.File(QString::fromLatin1(Platform::kMediaInfoLibFile));
    SetMediaInfoLibFileForTests(libPath);
    TListViewEx* list = window.form()->AvFilesList;
    TListViewEx* panel = window.form()->AvParamsList;

    for (int attempt = 0; attempt < 2; ++attempt) {
      dialogs.fileAnswers.push_back(MediaSamples::Avi());
      window.form()->AddAvFileBtnClick();
      QVERIFY(TestSupport::WaitForAddition(window.form()));
      QCOMPARE(list->RowCount(), 0);
    }
    QCOMPARE(dialogs.fileTitles.size(), 2);  // the dialog came first each time
    panel->SetSubItem(1, 0, QStringLiteral("before"));
    TConvMainFunc().ShowAvParams(MediaSamples::Avi());
    QCOMPARE(panel->SubItem(1, 0), QStringLiteral("before"));
    QVERIFY(!panel->HasSubItem(6, 0));
    QVERIFY(dialogs.messages.empty());

    // The library file is placed beside the executable: the next Add works.
    void* sys = dlopen(Platform::kMediaInfoLibFile, RTLD_NOW | RTLD_NOLOAD);
    QVERIFY(!sys);  // nothing of it was loaded by the failed attempts
    QVERIFY(QFile::link(QStringLiteral(VIDMORA_SYSTEM_MEDIAINFO), libPath));
    dialogs.fileAnswers.push_back(MediaSamples::Avi());
    window.form()->AddAvFileBtnClick();
    QVERIFY(TestSupport::WaitForAddition(window.form()));
    QCOMPARE(list->RowCount(), 1);
    QCOMPARE(list->SubItem(0, 0), QStringLiteral("avi"));
    QCOMPARE(panel->SubItem(1, 0), QStringLiteral("clip.avi"));
    QCOMPARE(panel->SubItem(6, 0), QStringLiteral("MPEG-4 Visual"));
    SetMediaInfoLibFileForTests(QString());
  }
};

QTEST_MAIN(TestMediaNoLib)
#include "tst_media_nolib.moc"
