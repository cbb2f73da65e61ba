// Qt's own texts in Chinese: the translation is found beside the program
// first, then in Qt's folder, and the standard dialogs use it.
#include "platform/Platform.h"
#include "platform/Translations.h"
#include "tests/support/TestCore.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

using TestSupport::TempAppDir;

namespace {

QString CancelText() {
  QMessageBox box(QMessageBox::Information, QStringLiteral("提示"), QStringLiteral("x"),
                  QMessageBox::Ok | QMessageBox::Cancel);
  return box.button(QMessageBox::Cancel)->text();
}

// Latin letters in what a widget shows, apart from shortcuts and file patterns.
bool ShowsEnglish(const QString& text) {
  static const QRegularExpression word(QStringLiteral("[A-Za-z]{2,}"));
  QString shown = text.section(QLatin1Char('\t'), 0, 0);  // a menu entry's shortcut follows a tab
  shown.remove(QRegularExpression(QStringLiteral("\\(&?[A-Za-z]\\)|&|\\*\\.[A-Za-z0-9]+|\\(\\*\\)")));
  return shown.contains(word);
}

}  // namespace

class TestTranslations : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { Platform::SetExeDir(QString()); }

  void translationIsShippedBesideTheProgram() {
    QVERIFY(QFile::exists(TestSupport::BuiltAppDir() + QStringLiteral("/qtbase_zh_CN.qm")));
    Platform::SetExeDir(TestSupport::BuiltAppDir());
    QVERIFY(Platform::LoadQtTranslations());
    QCOMPARE(CancelText(), QStringLiteral("取消"));
    QVERIFY(QCoreApplication::testAttribute(Qt::AA_DontUseNativeDialogs));
  }

  void installationFolderComesFirst() {
    // Another language's file under the Chinese name shows which one is used.
    TempAppDir app;
    const QString qtDir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    QVERIFY(
        QFile::copy(qtDir + QStringLiteral("/qtbase_ja.qm"), app.File(QStringLiteral("qtbase_zh_CN.qm"))));
    QVERIFY(Platform::LoadQtTranslations());
    QCOMPARE(CancelText(), QStringLiteral("キャンセル"));

    // Without a file beside the program, Qt's own folder serves.
    QVERIFY(QFile::remove(app.File(QStringLiteral("qtbase_zh_CN.qm"))));
    QVERIFY(Platform::LoadQtTranslations());
    QCOMPARE(CancelText(), QStringLiteral("取消"));
  }

  void standardDialogsAndMenusAreChinese() {
    Platform::SetExeDir(TestSupport::BuiltAppDir());
    QVERIFY(Platform::LoadQtTranslations());

    QFileDialog files(nullptr, QStringLiteral("添加"), QDir::tempPath(),
                      QStringLiteral("视频文件 (*.avi *.mp4);;所有文件 (*.*)"));
    files.setFileMode(QFileDialog::ExistingFile);
    QFileDialog folders(nullptr, QStringLiteral("请选择文件夹"), QDir::tempPath());
    folders.setFileMode(QFileDialog::Directory);
    folders.setOption(QFileDialog::ShowDirsOnly);
    for (QFileDialog* dialog : {&files, &folders}) {
      dialog->show();
      QVERIFY(QTest::qWaitForWindowExposed(dialog));
      int labels = 0;
      for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (!label->isVisible() || label->text().isEmpty()) continue;
        ++labels;
        QVERIFY2(!ShowsEnglish(label->text()), qPrintable(label->text()));
      }
      QVERIFY(labels >= 2);
      for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
        if (button->isVisible()) QVERIFY2(!ShowsEnglish(button->text()), qPrintable(button->text()));
      }
      dialog->reject();
    }

    // Folders and video files in the list are named in Chinese too.
    auto* model = files.findChild<QFileSystemModel*>();
    QVERIFY(model);
    QCOMPARE(model->type(model->index(QDir::tempPath())), QStringLiteral("文件夹"));
    const QString video = TestSupport::SourceDir() + QStringLiteral("/tests/data/media/clip.avi");
    const QString videoType = model->type(model->index(video));
    QVERIFY2(videoType.contains(QStringLiteral("视频")), qPrintable(videoType));

    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Yes |
                             QDialogButtonBox::No);
    for (QAbstractButton* button : buttons.buttons())
      QVERIFY2(!ShowsEnglish(button->text()), qPrintable(button->text()));

    // The context menu of an edit (the output folder is shown in one).
    QLineEdit edit(QStringLiteral("/srv/视频"));
    edit.setReadOnly(true);
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    int actions = 0;
    for (QAction* action : menu->actions()) {
      if (action->isSeparator()) continue;
      ++actions;
      QVERIFY2(!ShowsEnglish(action->text()), qPrintable(action->text()));
    }
    QVERIFY(actions >= 2);
  }
};

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
