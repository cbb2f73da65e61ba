// Opens the main window as the program does and shows, for screenshots, a run
// with a failed row and its tool tip ("failed"), or the question asked when
// outputs exist already ("question"), or a file cut short that is converted
// with a warning ("warning"); ends after a few seconds.
// Usage: safety_screenshot failed|question|warning [seconds]
#include "app/ConvMainFrm.h"
#include "app/Controls.h"
#include "conversion/ConvQueue.h"
#include "platform/Platform.h"
#include "platform/Translations.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QToolTip>

#include <cstdlib>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("failed");
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 6;
  Platform::SetExeDir(TestSupport::BuiltAppDir());
  Platform::LoadQtTranslations();
  QFile sheet(QStringLiteral(":/vidmora.qss"));
  if (sheet.open(QIODevice::ReadOnly)) app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
  TestSupport::TempAppDir appDir;
  TestSupport::CapturedDialogs* dialogs = new TestSupport::CapturedDialogs();
  TestSupport::MainWindowFixture window;
  TConvMainForm* form = window.form();
  form->move(0, 0);
  form->show();
  const QString data = TestSupport::SourceDir() + QStringLiteral("/tests/data/");
  QTemporaryDir sources;
  const QString broken =
      sources.filePath(mode == QLatin1String("warning") ? QStringLiteral("不完整的视频.avi")
                                                        : QStringLiteral("损坏的视频.avi"));
  const QString good = sources.filePath(QStringLiteral("clip.avi"));
  if (mode == QLatin1String("warning")) {
    const QByteArray whole = TestSupport::ReadBytes(data + QStringLiteral("media/clip.avi"));
    TestSupport::WriteBytes(broken, whole.left(whole.size() / 2));
  } else {
    QFile::copy(data + QStringLiteral("media/random.avi"), broken);
  }
  QFile::copy(data + QStringLiteral("media/clip.avi"), good);
  dialogs->fileAnswers = {good, broken};
  for (int i = 0; i < 2; ++i) {
    form->AddAvFileBtnClick();
    TestSupport::WaitForAddition(form);
  }
  if (mode == QLatin1String("question")) {
    // The real question box, over an output that exists already.
    QFile::copy(data + QStringLiteral("media/clip.mp4"),
                form->AvSaveDirEdit->text() + QStringLiteral("/clip.mp4"));
    delete dialogs;
    QTimer::singleShot(300, [form] { form->CvAvFileBtnClick(); });
  } else {
    QObject::connect(form->ConvQueue, &TConvQueue::RunEnded, form, [form] {
      QTimer::singleShot(300, [form] {
        TListViewEx* list = form->AvFilesList;
        const QRect cell = list->visualRect(list->model()->index(1, 4));
        QToolTip::showText(list->viewport()->mapToGlobal(cell.center()), list->topLevelItem(1)->toolTip(4),
                           list->viewport());
      });
    });
    QTimer::singleShot(300, [form] { form->CvAvFileBtnClick(); });
  }
  QTimer::singleShot(seconds * 1000, [] {
    if (QWidget* dialog = QApplication::activeModalWidget()) dialog->close();
    QApplication::quit();
  });
  return app.exec();
}
