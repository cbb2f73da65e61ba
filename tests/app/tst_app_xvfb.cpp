// The main window on a real X server: it fits the screen (also a 1366x768
// screen at scale factor 2, on an X server of the test's own), the Add
// dialog names its filters in Chinese, and opening a folder, the help page
// or the homepage says so when there is no program to open them with.
#include "app/ConvMainFrm.h"
#include "app/ConvMainFunc.h"
#include "app/Controls.h"
#include "platform/Shell.h"
#include "platform/Translations.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// An X server of the test's own with one screen of the given size.
class ScreenServer {
 public:
  bool Start(const char* screen) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp", nullptr};
    const int spawned = ::posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
      pid_ = -1;
      ::close(fds[0]);
      return false;
    }
    // The server writes its display number once it takes connections.
    QByteArray number;
    pollfd ready{fds[0], POLLIN, 0};
    char c = 0;
    while (::poll(&ready, 1, 20000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    display_ = number.isEmpty() ? QByteArray() : ':' + number;
    return !display_.isEmpty();
  }
  ~ScreenServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  QByteArray Display() const { return display_; }

 private:
  pid_t pid_ = -1;
  QByteArray display_;
};

bool g_small = false;  // the 1366x768 screen at scale 2

QString OutDir() {
  const QString dir = QStringLiteral(VIDMORA_TEST_BIN_DIR) + QStringLiteral("/app");
  QDir().mkpath(dir);
  return dir;
}

QRect GlobalRect(const QWidget* widget) { return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()); }

}  // namespace

class AppXvfbTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) QSKIP("no X server (DISPLAY is not set)");
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
  }

  // On a screen that holds it, the window is as built; on one that does not,
  // it takes the room there is and every control can be reached: the status
  // bar at its bottom, the rest by scrolling.
  void windowFitsTheScreen() {
    TestSupport::TempAppDir app;
    TestSupport::CapturedDialogs dialogs;
    TestSupport::MainWindowFixture window;
    TConvMainForm* form = window.form();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    const QRect available = form->screen()->availableGeometry();
    if (g_small) QCOMPARE(available.size(), QSize(683, 384));
    QTRY_VERIFY2(available.contains(form->frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4").arg(form->frameGeometry().x()).arg(form->frameGeometry().y())
                                .arg(form->frameGeometry().width()).arg(form->frameGeometry().height())));
    const QRect inside(form->mapToGlobal(QPoint(0, 0)), form->size());
    QVERIFY(inside.contains(GlobalRect(form->ConvStatusBar)));
    for (const QWidget* panel :
         QList<QWidget*>{form->MsgStatusPanel, form->RunStatusPanel, form->CvStatusGauge}) {
      QVERIFY(inside.contains(GlobalRect(panel)));
      QVERIFY(panel->width() >= 40);
    }
    if (!g_small) {
      QVERIFY(!form->ConvScrollArea);
      QCOMPARE(form->size(), TConvMainForm::kClientSize);
    } else {
      QVERIFY(form->ConvScrollArea);
      // Whatever lies beyond the window's edge is scrolled into it.
      for (QWidget* control : QList<QWidget*>{form->ExecExitBtn, form->CmbExVideo[3], form->OpenDirBtn,
                                              form->ParamsPageControl, form->AvParamsList}) {
        form->ConvScrollArea->ensureWidgetVisible(control, 0, 0);
        const QRect shown(form->ConvScrollArea->viewport()->mapToGlobal(QPoint(0, 0)),
                          form->ConvScrollArea->viewport()->size());
        QVERIFY2(shown.intersects(GlobalRect(control)), qPrintable(control->objectName()));
      }
      form->ConvScrollArea->ensureVisible(0, 0);
    }
    QApplication::processEvents();
    form->screen()->grabWindow(0).save(OutDir() + (g_small ? QStringLiteral("/screen-scale2.png")
                                                            : QStringLiteral("/screen-normal.png")));
  }

  // The Add button's dialog: its filters read "媒体文件" and "所有文件",
  // without their patterns.
  void addDialogNamesItsFiltersInChinese() {
    if (g_small) QSKIP("the dialog is looked at on the normal screen");
    TestSupport::TempAppDir app;
    TestSupport::CapturedDialogs dialogs;
    TestSupport::MainWindowFixture window;
    Shell::TestHooks().openFiles = nullptr;  // the real dialog
    QStringList filters;
    int attempts = 0;
    std::function<void()> look = [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog && ++attempts < 100) {
        QTimer::singleShot(100, look);
        return;
      }
      if (!dialog) return;
      if (auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
        for (int i = 0; i < types->count(); ++i) filters << types->itemText(i);
      }
      dialog->screen()->grabWindow(0).save(OutDir() + QStringLiteral("/add-dialog.png"));
      dialog->reject();
    };
    QTimer::singleShot(100, look);
    window.form()->AddAvFileBtnClick();
    QCOMPARE(filters, (QStringList{QStringLiteral("媒体文件"), QStringLiteral("所有文件")}));
  }

  // Without a program that opens things, each action says so, naming what it
  // could not open; with one, it is handed over and nothing is said.
  void openingSaysWhenItCannot() {
    if (g_small) QSKIP("checked on the normal screen");
    TestSupport::TempAppDir app;
    TestSupport::CapturedDialogs dialogs;
    TestSupport::MainWindowFixture window;
    TConvMainForm* form = window.form();
    Shell::TestHooks().open = nullptr;  // the desktop's own launcher
    QTemporaryDir bin;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()));
    const QString folder = app.File(QStringLiteral("输出"));
    QDir().mkpath(folder);
    form->AvSaveDirEdit->setText(folder);
    form->AvFilesList->AddRow(app.File(QStringLiteral("clip.mp4")), 4, {"mp4", "1 MB", "00:00:01", "0%"});
    struct Action {
      std::function<void()> run;
      QString named;
    };
    const Action actions[] = {
        {[form] { form->OpenDirBtn->click(); }, folder},
        {[form] { form->ShowHelpBtn->click(); }, app.File(QStringLiteral("help.html"))},
        {[form] { form->ShowHttpBtn->click(); }, QStringLiteral("https://vidmora.org/")},
        {[] { TConvMainFunc().OpenSourceDir(0); }, app.Path().chopped(1)},
    };
    WriteHelp(app.File(QStringLiteral("help.html")));
    for (const Action& action : actions) {
      dialogs.messages.clear();
      action.run();
      QCOMPARE(dialogs.messages.size(), size_t(1));
      QCOMPARE(dialogs.messages[0].first, QStringLiteral("提示"));
      QVERIFY2(dialogs.messages[0].second.contains(action.named) &&
                   dialogs.messages[0].second.contains(QStringLiteral("没有找到可以打开它的程序")),
               qPrintable(dialogs.messages[0].second));
    }
    // A launcher in the path: the folder is handed to it, nothing is said.
    const QString log = bin.filePath(QStringLiteral("opened.log"));
    TestSupport::WriteBytes(bin.filePath(QStringLiteral("xdg-open")),
                            "#!/bin/sh\necho \"$1\" >> '" + QFile::encodeName(log) + "'\n");
    QFile::setPermissions(bin.filePath(QStringLiteral("xdg-open")), QFile::ReadOwner | QFile::ExeOwner);
    dialogs.messages.clear();
    form->OpenDirBtn->click();
    QTRY_COMPARE(QString::fromUtf8(TestSupport::ReadBytes(log)).trimmed(),
                 QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded));
    QVERIFY(dialogs.messages.empty());
    qputenv("PATH", path);
  }

 private:
  static void WriteHelp(const QString& file) { TestSupport::WriteBytes(file, "<html></html>"); }
};

int main(int argc, char** argv) {
  // VIDMORA_TEST_SMALL_SCREEN: the whole test on a 1366x768 screen at scale 2.
  ScreenServer server;
  g_small = qEnvironmentVariableIsSet("VIDMORA_TEST_SMALL_SCREEN");
  if (g_small) {
    if (!server.Start("1366x768x24")) {
      std::fprintf(stderr, "Xvfb could not be started\n");
      return 1;
    }
    qputenv("DISPLAY", server.Display());
    qputenv("QT_SCALE_FACTOR", "2");
  }
  // Without an X server the xcb platform cannot start: come up offscreen so
  // that the test can report itself skipped.
  if (qEnvironmentVariableIsEmpty("DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // As the program starts: Qt's own texts in Chinese.
  Platform::LoadQtTranslations();
  QFile sheet(QStringLiteral(":/vidmora.qss"));
  if (sheet.open(QIODevice::ReadOnly)) app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
  AppXvfbTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "tst_app_xvfb.moc"
