// The output folder and the settings file as the main window uses them: what
// the edit shows, what a folder choice writes, and the shell requests of the
// folder, help and homepage actions.
#include "app/ConvLoginFrm.h"
#include "app/ConvMainFrm.h"
#include "app/ConvMainFunc.h"
#include "platform/AppError.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "settings/AppSettings.h"
#include "tests/support/TestSupport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

using TestSupport::CapturedDialogs;
using TestSupport::TempAppDir;

namespace {

TempAppDir::Options BareFolder() {
  TempAppDir::Options options;
  options.database = false;
  options.sqliteLib = false;
  options.encoder = false;
  options.player = false;
  options.saveDir = false;
  return options;
}

// The main window as built, not shown: these operations need its controls
// only, not the parameter database.
class WindowOnly {
 public:
  WindowOnly() {
    new TConvMainForm();
    if (ConvLoginForm) ConvLoginForm->LoginTimer->stop();
  }
  ~WindowOnly() {
    delete ConvMainForm;
    delete ConvLoginForm;
    ConvLoginForm = nullptr;
  }
  QLineEdit* Edit() const { return ConvMainForm->AvSaveDirEdit; }
};

using TestSupport::ReadBytes;
using TestSupport::WriteBytes;

QString LoadedSaveDir() {
  ConvMainForm->AvSaveDirEdit->setText(QStringLiteral("<not loaded>"));
  TConvMainFunc func;
  func.LoadSaveDir();
  return ConvMainForm->AvSaveDirEdit->text();
}

}  // namespace

class TestSettingsOps : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Vidmora")); }

  // The rules of the settings file are tested without the window; here the
  // edit shows what they give.
  void loadSaveDirFollowsTheFlag_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("expected");  // "<default>" = SaveFile beside the executable
    QTest::newRow("no file") << QByteArray() << QStringLiteral("<default>");
    QTest::newRow("chosen") << QByteArray("[SaveDir]\nDir=/srv/out\n[ChgDirFlag]\nFlag=Yes\n")
                            << QStringLiteral("/srv/out");
    QTest::newRow("flag without dir")
        << QByteArray("[ChgDirFlag]\nFlag=Yes\n") << QStringLiteral("<default>");
  }
  void loadSaveDirFollowsTheFlag() {
    QFETCH(QByteArray, ini);
    QFETCH(QString, expected);
    TempAppDir app(BareFolder());
    CapturedDialogs dialogs;
    WindowOnly window;
    const QString settings = app.File(QStringLiteral("libcfg.ini"));
    if (!ini.isEmpty()) WriteBytes(settings, ini);
    if (expected == QLatin1String("<default>")) expected = app.Path() + QStringLiteral("SaveFile");
    QCOMPARE(LoadedSaveDir(), expected);
    // Reading never writes: a missing file stays missing, a present one unchanged.
    if (ini.isEmpty()) {
      QVERIFY(!QFile::exists(settings));
    } else {
      QCOMPARE(ReadBytes(settings), ini);
    }
    QVERIFY(dialogs.messages.empty());
  }

  void cancelledChooserPutsBackTheStoredFolder() {
    TempAppDir app(BareFolder());
    CapturedDialogs dialogs;
    WindowOnly window;
    const QString settings = app.File(QStringLiteral("libcfg.ini"));

    // Without a settings file: the default folder comes back, no file appears.
    window.Edit()->setText(QStringLiteral("/somewhere/else"));
    dialogs.folderAnswers.push_back(std::nullopt);
    ConvMainForm->SltDirBtn->click();
    QCOMPARE(dialogs.folderTitles, QStringList{QStringLiteral("请选择文件夹")});
    // The chooser opens in the user's home folder, not the working directory.
    QCOMPARE(dialogs.folderStarts, QStringList{QDir::homePath()});
    QCOMPARE(window.Edit()->text(), app.Path() + QStringLiteral("SaveFile"));
    QVERIFY(!QFile::exists(settings));

    // With one: its folder comes back and its bytes stay as they were.
    const QByteArray ini = "; mine\r\n[SaveDir]\r\nDir=/kept\r\n[ChgDirFlag]\r\nFlag=Yes\r\n";
    WriteBytes(settings, ini);
    window.Edit()->setText(QStringLiteral("/somewhere/else"));
    dialogs.folderAnswers.push_back(std::nullopt);
    ConvMainForm->SltDirBtn->click();
    QCOMPARE(window.Edit()->text(), QStringLiteral("/kept"));
    QCOMPARE(ReadBytes(settings), ini);

    // A chooser that hands back no path counts as cancelled.
    dialogs.folderAnswers.push_back(QString());
    ConvMainForm->SltDirBtn->click();
    QCOMPARE(window.Edit()->text(), QStringLiteral("/kept"));
    QCOMPARE(ReadBytes(settings), ini);
    QVERIFY(dialogs.messages.empty());
  }

  void chosenFolderIsShownAndRemembered() {
    TempAppDir app(BareFolder());
    CapturedDialogs dialogs;
    WindowOnly window;
    const QString settings = app.File(QStringLiteral("libcfg.ini"));
    const QString chosen = app.Path() + QStringLiteral("输出 文件夹");
    QDir().mkpath(chosen);

    dialogs.folderAnswers.push_back(chosen);
    ConvMainForm->SltDirBtn->click();
    QVERIFY(dialogs.messages.empty());
    QCOMPARE(window.Edit()->text(), chosen);
    QCOMPARE(Platform::GetPrivateProfileString("SaveDir", "Dir", "", settings), chosen);
    QCOMPARE(Platform::GetPrivateProfileString("ChgDirFlag", "Flag", "", settings), QStringLiteral("Yes"));
    // The next start shows it.
    QCOMPARE(LoadedSaveDir(), chosen);

    // A second choice replaces the folder and keeps what else the file holds.
    WriteBytes(settings, ReadBytes(settings) + "[SoftHttp]\nHttpUrl=https://mirror.example/\n");
    dialogs.folderAnswers.push_back(QStringLiteral("/srv/second"));
    ConvMainForm->SltDirBtn->click();
    QCOMPARE(LoadedSaveDir(), QStringLiteral("/srv/second"));
    QCOMPARE(ReadBytes(settings), QByteArray("[SaveDir]\nDir=/srv/second\n[ChgDirFlag]\nFlag=Yes\n"
                                             "[SoftHttp]\nHttpUrl=https://mirror.example/\n"));
  }

  // The subtitle choice: shown from the settings file (an unknown value is the
  // default), remembered in a section of its own when the user picks another,
  // and given to the encoder as its option.
  void subtitleChoice_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("shown");
    QTest::newRow("no file") << QByteArray() << 0;
    QTest::newRow("burned in") << QByteArray("[Subtitle]\nMode=burn\n") << 1;
    QTest::newRow("other case, blanks") << QByteArray("[subtitle]\r\n mode = NONE \r\n") << 2;
    QTest::newRow("unknown value") << QByteArray("[Subtitle]\nMode=all\n") << 0;
  }
  void subtitleChoice() {
    QFETCH(QByteArray, ini);
    QFETCH(int, shown);
    TempAppDir app(BareFolder());
    CapturedDialogs dialogs;
    WindowOnly window;
    const QString settings = app.File(QStringLiteral("libcfg.ini"));
    if (!ini.isEmpty()) WriteBytes(settings, ini);
    QComboBox* box = ConvMainForm->CmbSubMode;
    QCOMPARE(box->count(), 3);
    TConvMainFunc().LoadSubtitleMode();
    QCOMPARE(box->currentIndex(), shown);
    QCOMPARE(QFile::exists(settings), !ini.isEmpty());  // showing never writes
    const QStringList words{"keep", "burn", "none"};
    const QStringList option = shown == 0 ? QStringList() : QStringList{QStringLiteral("-sub"), words[shown]};
    QCOMPARE(TConvMainFunc().GetSubtitleCmd(), option);

    const int picked = (shown + 1) % 3;
    box->setCurrentIndex(picked);
    emit box->activated(picked);
    QCOMPARE(Platform::GetPrivateProfileString("Subtitle", "Mode", "", settings), words[picked]);
    box->setCurrentIndex(shown);
    TConvMainFunc().LoadSubtitleMode();
    QCOMPARE(box->currentIndex(), picked);
    QVERIFY(dialogs.messages.empty());
  }

  // Said once, in Chinese, naming the file; the chosen folder holds for the run.
  void unwritableSettingsFileReportsOnce_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("said");
    QTest::newRow("settings path is a folder")
        << QStringLiteral("folder") << QStringLiteral("是文件夹，不是普通文件");
    QTest::newRow("parent of the settings path is a file")
        << QStringLiteral("parent file") << QStringLiteral("无法把设置写入");
    QTest::newRow("settings file made read-only by its owner")
        << QStringLiteral("read-only") << QStringLiteral("是只读的，不会被改写");
  }
  void unwritableSettingsFileReportsOnce() {
    QFETCH(QString, how);
    QFETCH(QString, said);
    TempAppDir app(BareFolder());
    CapturedDialogs dialogs;
    WindowOnly window;
    const QByteArray kept = "[SaveDir]\nDir=/srv/kept\n[ChgDirFlag]\nFlag=Yes\n";
    if (how == QLatin1String("folder")) {
      QDir().mkpath(app.File(QStringLiteral("libcfg.ini")));
    } else if (how == QLatin1String("read-only")) {
      WriteBytes(app.File(QStringLiteral("libcfg.ini")), kept);
      QVERIFY(QFile::setPermissions(app.File(QStringLiteral("libcfg.ini")),
                                    QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    } else {
      WriteBytes(app.File(QStringLiteral("notadir")), "x");
      Platform::SetExeDir(app.File(QStringLiteral("notadir")) + QLatin1Char('/'));
    }
    const QString settings = Platform::ExePath(QStringLiteral("libcfg.ini"));

    for (const char* chosen : {"/srv/chosen", "/srv/second"}) {
      dialogs.folderAnswers.push_back(QString::fromLatin1(chosen));
      ConvMainForm->SltDirBtn->click();
      // The edit shows the new folder, and it holds for the rest of this run.
      QCOMPARE(window.Edit()->text(), QString::fromLatin1(chosen));
      QCOMPARE(LoadedSaveDir(), QString::fromLatin1(chosen));
    }
    QCOMPARE(dialogs.messages.size(), size_t(1));
    QCOMPARE(dialogs.messages[0].first, QStringLiteral("Vidmora"));
    QVERIFY2(dialogs.messages[0].second.contains(said) && dialogs.messages[0].second.contains(settings),
             qPrintable(dialogs.messages[0].second));
    if (how == QLatin1String("read-only")) {
      // Not replaced, not written: the same bytes and the same permissions.
      QCOMPARE(ReadBytes(settings), kept);
      QCOMPARE(QFileInfo(settings).permissions() & 0x7077,
               QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }
    // The next start: what the file holds.
    TAppSettings::ForgetSessionForTests();
    QCOMPARE(LoadedSaveDir(), how == QLatin1String("read-only")
                                  ? QStringLiteral("/srv/kept")
                                  : Platform::ExeDir() + QStringLiteral("SaveFile"));
  }

  void shellRequests() {
    TempAppDir app(BareFolder());
    CapturedDialogs dialogs;
    WindowOnly window;
    const QString settings = app.File(QStringLiteral("libcfg.ini"));

    // Homepage: the built-in address without a settings file, the configured
    // one with it.
    ConvMainForm->ShowHttpBtn->click();
    QCOMPARE(dialogs.opened, QStringList{QStringLiteral("https://vidmora.org/")});
    QVERIFY(!QFile::exists(settings));
    WriteBytes(settings, "[softhttp]\nHTTPURL = \"https://mirror.example/vidmora\"\n");
    ConvMainForm->ShowHttpBtn->click();
    QCOMPARE(dialogs.opened.last(), QStringLiteral("https://mirror.example/vidmora"));
    // Anything but a web address is never handed to the desktop.
    WriteBytes(settings, "[SoftHttp]\nHttpUrl=/usr/bin/xterm\n");
    ConvMainForm->ShowHttpBtn->click();
    QCOMPARE(dialogs.opened.last(), QStringLiteral("https://vidmora.org/"));

    // Help: the page beside the executable.
    WriteBytes(app.File(QStringLiteral("help.html")), "<html></html>");
    ConvMainForm->ShowHelpBtn->click();
    QCOMPARE(dialogs.opened.last(), app.Path() + QStringLiteral("help.html"));

    // Output folder: whatever the edit shows.
    const QString folder = app.Path() + QStringLiteral("视频 out");
    QDir().mkpath(folder);
    window.Edit()->setText(folder);
    ConvMainForm->OpenDirBtn->click();
    QCOMPARE(dialogs.opened.last(), folder);
    QCOMPARE(dialogs.opened.size(), 5);
    QVERIFY(dialogs.messages.empty());

    // What does not exist is not handed on: the user is told which.
    QFile::remove(app.File(QStringLiteral("help.html")));
    QDir().rmdir(folder);
    ConvMainForm->ShowHelpBtn->click();
    ConvMainForm->OpenDirBtn->click();
    QCOMPARE(dialogs.opened.size(), 5);
    QCOMPARE(dialogs.messages.size(), size_t(2));
    QCOMPARE(dialogs.messages[0],
             std::make_pair(QStringLiteral("提示"),
                            QStringLiteral("无法打开 %1: 它不存在。").arg(app.File("help.html"))));
    QCOMPARE(dialogs.messages[1].second, QStringLiteral("无法打开 %1: 它不存在。").arg(folder));

    TConvMainFunc func;
    QCOMPARE(func.GetOutputExt(), QStringLiteral(".mp4"));
  }

  // One separator between the output folder and the name, whatever the folder ends with.
  void outputPathHasOneSeparator_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "/srv/out"
                           << "/srv/out/a b.mp4";
    QTest::newRow("final separator") << "/srv/out/"
                                     << "/srv/out/a b.mp4";
    QTest::newRow("the root folder") << "/"
                                     << "/a b.mp4";
  }
  void outputPathHasOneSeparator() {
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    TempAppDir app(BareFolder());
    CapturedDialogs dialogs;
    WindowOnly window;
    window.Edit()->setText(folder);
    QCOMPARE(TConvMainFunc().GetOutputPath(QStringLiteral("/nowhere/a b.avi")), expected);
  }

  void startAndExitNeverWriteTheSettingsFile() {
    TempAppDir app;
    CapturedDialogs dialogs;
    const QString settings = app.File(QStringLiteral("libcfg.ini"));
    {
      TestSupport::MainWindowFixture fixture;
      QCOMPARE(fixture.form()->AvSaveDirEdit->text(), app.Path() + QStringLiteral("SaveFile"));
      fixture.form()->close();
    }
    QVERIFY(!QFile::exists(settings));

    const QByteArray ini = "[SaveDir]\nDir=/srv/kept\n[ChgDirFlag]\nFlag=Yes\n";
    WriteBytes(settings, ini);
    {
      TestSupport::MainWindowFixture fixture;
      QCOMPARE(fixture.form()->AvSaveDirEdit->text(), QStringLiteral("/srv/kept"));
      fixture.form()->close();
    }
    QCOMPARE(ReadBytes(settings), ini);
  }

  void helpPageIsInstalledBesideTheProgram() {
    const QString page = TestSupport::BuiltAppDir() + QStringLiteral("/help.html");
    QVERIFY2(QFile::exists(page), qPrintable(page));
    const QString text = QString::fromUtf8(ReadBytes(page));
    QVERIFY(text.contains(QStringLiteral("<meta charset=\"utf-8\">")));
    for (const char* word : {"添加",     "删除",     "清空",     "转换",     "停止",
                             "播放",     "主页",     "帮助",     "退出",     "视频编码",
                             "视频码率", "视频大小", "视频帧率", "宽幅比率", "音频编码",
                             "音频码率", "音频通道", "采样频率", "输出目录", "转换完毕后关闭计算机",
                             "SaveFile", ".mp4",
                             // where the installed package keeps each user's files
                             "~/.config/vidmora/libcfg.ini", "~/.local/share/vidmora/LibParmt.dat",
                             "~/Videos/Vidmora"}) {
      QVERIFY2(text.contains(QString::fromUtf8(word)), word);
    }
    // The audio codec does not change what the other audio selectors offer.
    QVERIFY(!text.contains(QStringLiteral("支持的取值")));
  }
};

QTEST_MAIN(TestSettingsOps)
#include "tst_settings_ops.moc"
