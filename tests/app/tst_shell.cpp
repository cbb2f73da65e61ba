// The application shell: start-up order, the splash hand-over, the main
// window's controls and the event routing with its error handling.
#include "app/ConvLoginFrm.h"
#include "app/ConvMainFrm.h"
#include "app/ConvMainFunc.h"
#include "app/Controls.h"
#include "app/ListMarks.h"
#include "params/DataModule.h"
#include "platform/AppError.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

using namespace TestSupport;

class TestShell : public QObject {
  Q_OBJECT

 private slots:
  void init() { QCoreApplication::setApplicationName(QStringLiteral("Vidmora")); }

  // The 752x459 window in logical pixels on screens' free areas: a 1366x768
  // screen at scale factor 2 is 683x384, a panel may take its top or left.
  void windowOpensWithItsTitleBarOnScreen_data() {
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("fits: centred") << QRect(0, 0, 1366, 768) << QPoint(307, 154);
    QTest::newRow("scale 2: top-left") << QRect(0, 0, 683, 384) << QPoint(0, 0);
    QTest::newRow("scale 2 below a panel") << QRect(0, 27, 683, 357) << QPoint(0, 27);
    QTest::newRow("second screen, too low") << QRect(1366, 0, 1024, 400) << QPoint(1502, 0);
    QTest::newRow("too narrow only") << QRect(0, 0, 700, 768) << QPoint(0, 154);
  }
  void windowOpensWithItsTitleBarOnScreen() {
    QFETCH(QRect, available);
    QFETCH(QPoint, expected);
    QCOMPARE(TConvMainForm::StartPosition(QSize(752, 459), available), expected);
  }

  // Start-up as the program runs it: only the splash is on screen, about two
  // seconds later the main window is shown once, captioned with the title.
  void splashHandsOverOnce() {
    TempAppDir appDir;
    CapturedDialogs dialogs;
    TConvMainForm::ShowMainFormAtStart = true;
    DataMod = new TDataMod();
    auto* form = new TConvMainForm();
    QVERIFY(!TConvMainForm::ShowMainFormAtStart);
    QVERIFY(ConvLoginForm);
    QVERIFY(ConvLoginForm->isVisible());
    QVERIFY(!form->isVisible());
    QCOMPARE(ConvLoginForm->size(), QSize(380, 240));
    QCOMPARE(form->windowTitle(), QStringLiteral("视频转换器"));

    int shows = 0;
    struct ShowCounter : QObject {
      int* count;
      explicit ShowCounter(int* c) : count(c) {}
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show) ++*count;
        return false;
      }
    } counter(&shows);
    form->installEventFilter(&counter);

    // The program's splash lasts 2000 ms; the test runs the same hand-over on
    // a 200 ms timer.
    QCOMPARE(ConvLoginForm->LoginTimer->interval(), 2000);
    QVERIFY(ConvLoginForm->LoginTimer->isActive());
    QVERIFY(!ConvLoginForm->LoginTimer->isSingleShot());
    ConvLoginForm->LoginTimer->setInterval(200);
    QTest::qWait(100);
    QVERIFY(!form->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(form->isVisible(), 2500);
    QVERIFY(!ConvLoginForm->isVisible());
    QCOMPARE(form->windowTitle(), QStringLiteral("Vidmora"));
    QVERIFY(!ConvLoginForm->LoginTimer->isActive());
    // Several more periods of the timer: the window is not shown again.
    QTest::qWait(600);
    QCOMPARE(shows, 1);
    QVERIFY(form->AvSaveDirEdit->text().endsWith(QStringLiteral("SaveFile")));
    QVERIFY(form->CmbExVideo[1]->ItemIndex() >= 0);

    form->removeEventFilter(&counter);
    delete form;
    delete ConvLoginForm;
    ConvLoginForm = nullptr;
    delete DataMod;
    DataMod = nullptr;
  }

  // A controller created during the window's own creation already finds the
  // window's controls by name.
  void controllerBindsEveryControlByName() {
    TempAppDir appDir;
    CapturedDialogs dialogs;
    MainWindowFixture fixture;
    TConvMainFunc f;
    QVERIFY(f.Query == &DataMod->PramQuery);
    QCOMPARE(f.ParamCtrls[0], static_cast<QWidget*>(fixture.form()->AvSaveDirEdit));
    for (int tag = 1; tag <= 9; ++tag) {
      TComboBoxEx* selector = f.Selector(tag);
      QVERIFY2(selector, qPrintable(QString::number(tag)));
      QCOMPARE(selector->Tag, tag);
      QCOMPARE(selector->objectName(), tag <= 5 ? QStringLiteral("CmbExVideo%1").arg(tag)
                                                : QStringLiteral("CmbExAudio%1").arg(tag - 5));
    }
    QVERIFY(f.OpenDialog && f.AvFilesList && f.AvParamsList && f.AddAvFileBtn && f.DelAvFileBtn &&
            f.CvAvFileBtn && f.StopCvAvBtn && f.ClearAvFileBtn && f.AvListStat && f.AvSaveDirEdit &&
            f.MsgStatusPanel && f.CvStatusGauge && f.AvMsgTimer && f.CvFshChkBox);
    QCOMPARE(f.AvSaveDirEdit, fixture.form()->AvSaveDirEdit);
    QCOMPARE(f.AvMsgTimer->interval(), 500);
    QCOMPARE(f.AppTitle, QStringLiteral("Vidmora"));
    // Lookup ignores letter case and walks the window's components.
    QCOMPARE(Platform::FindComponent(fixture.form(), QStringLiteral("avliststat")),
             static_cast<QObject*>(fixture.form()->AvListStat));
    QVERIFY(!Platform::FindComponent(fixture.form(), QStringLiteral("NoSuchControl")));
  }

  void windowAsBuilt() {
    TempAppDir appDir;
    CapturedDialogs dialogs;
    MainWindowFixture fixture;
    TConvMainForm* form = fixture.form();
    QCOMPARE(form->size(), QSize(752, 459));
    QCOMPARE(form->minimumSize(), form->maximumSize());
    QVERIFY(!(form->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form->windowFlags() & Qt::WindowMinimizeButtonHint);

    // Nine buttons in five groups, separated by four dividers.
    QStringList layout;
    for (QAction* action : form->ConvToolBar->actions()) {
      if (action->isSeparator()) {
        layout << QStringLiteral("|");
      } else {
        auto* button = qobject_cast<QToolButton*>(form->ConvToolBar->widgetForAction(action));
        QVERIFY(button);
        QCOMPARE(button->width(), 40);
        QVERIFY(button->geometry().bottom() < 51);  // above the file list
        QVERIFY(!button->toolTip().isEmpty());
        layout << button->text();
      }
    }
    QCOMPARE(layout.join(QLatin1Char(' ')),
             QStringLiteral("添加 删除 清空 | 转换 停止 | 播放 | 主页 帮助 | 退出"));

    QCOMPARE(form->AvFilesList->columnCount(), 5);
    const int widths[] = {264, 65, 70, 65, 65};
    for (int c = 0; c < 5; ++c) {
      QCOMPARE(form->AvFilesList->columnWidth(c), widths[c]);
      QVERIFY(form->AvFilesList->headerItem()->text(c).startsWith(QLatin1Char(' ')));
    }
    QCOMPARE(form->AvFilesList->RowCount(), 0);

    const QStringList labels = {"文件",     "文件名称", "文件类型", "文件大小", "播放时间", "视频",
                                "视频编码", "视频码率", "视频大小", "视频帧率", "宽幅比率", "音频",
                                "音频编码", "音频码率", "音频通道", "采样频率"};
    QCOMPARE(form->AvParamsList->RowCount(), int(kPanelRowCount));
    for (int r = 0; r < kPanelRowCount; ++r) {
      QCOMPARE(form->AvParamsList->Caption(r), labels[r]);
      const int expected = r == kPanelFileHeading    ? kIconWaiting
                           : r == kPanelVideoHeading ? kIconVideoHeading
                           : r == kPanelAudioHeading ? kIconAudioHeading
                                                     : kIconPanelValue;
      QCOMPARE(form->AvParamsList->ImageIndex(r), expected);
    }

    QCOMPARE(form->ParamsPageControl->currentIndex(), 0);
    QCOMPARE(form->ParamsPageControl->tabText(0), QStringLiteral("视频输出参数"));
    QVERIFY(form->AvListStat->isHidden());
    QCOMPARE(form->AvListStat->text(), QStringLiteral("-1"));
    QVERIFY(!form->AvMsgTimer->isActive());
    QVERIFY(!form->CvFshChkBox->isChecked());
    QCOMPARE(form->CvStatusGauge->value(), 0);
    QVERIFY(!form->CvStatusGauge->isTextVisible());
    QCOMPARE(form->MsgStatusPanel->width(), 380);
    QCOMPARE(form->OpenDialog->Title, QStringLiteral("添加"));
    QVERIFY(form->BarImgList->Count() == 20);
    for (int i = 0; i < 20; ++i) {
      if (i == 14) continue;  // drawn, but shown nowhere
      QVERIFY2(!form->BarImgList->Icon(i).isNull(), qPrintable(QString::number(i)));
    }
  }

  // The closed selector is narrow: its hint holds the whole caption of the choice
  // (the copy entries' captions do not fit).
  void selectorHintShowsWholeCaption() {
    TempAppDir appDir;
    CapturedDialogs dialogs;
    MainWindowFixture fixture;
    TComboBoxEx* box = fixture.form()->CmbExVideo[1];
    const int copy = box->findText(QStringLiteral("原始视频 (不转码)"));
    QVERIFY(copy >= 0);
    box->SetItemIndex(copy);
    QCOMPARE(box->toolTip(), box->itemText(copy));
    box->SetItemIndex(0);
    QCOMPARE(box->toolTip(), box->itemText(0));
  }

  // An error inside a nested event ends the outer event too and is shown once.
  void nestedErrorEndsOuterEventOnce() {
    TempAppDir appDir;
    CapturedDialogs dialogs;
    MainWindowFixture fixture;
    dialogs.messages.clear();
    TStatEdit* edit = fixture.form()->AvListStat;
    edit->OnChange = [] { RunEvent([] { throw TAppError(QStringLiteral("boom")); }); };
    bool outerCarriedOn = false;
    RunEvent([&] {
      edit->SetText(QStringLiteral("5"));
      outerCarriedOn = true;
    });
    QVERIFY(!outerCarriedOn);
    QCOMPARE(dialogs.messages.size(), size_t(1));
    QCOMPARE(dialogs.messages[0].first, QStringLiteral("Vidmora"));
    QCOMPARE(dialogs.messages[0].second, QStringLiteral("boom"));

    // The same text again raises no change event; the next event runs normally.
    int changes = 0;
    edit->OnChange = [&] { ++changes; };
    edit->SetText(QStringLiteral("5"));
    QCOMPARE(changes, 0);
    edit->SetText(QStringLiteral("6"));
    QCOMPARE(changes, 1);
  }

  // Events delivered by a modal loop opened inside an event are events of
  // their own: their errors are shown there and the opening event goes on.
  void errorInsideModalLoopIsShownThere() {
    CapturedDialogs dialogs;
    bool outerCarriedOn = false;
    RunEvent([&] {
      {
        ModalScope modal;
        RunEvent([] { throw TAppError(QStringLiteral("inside the dialog")); });
      }
      outerCarriedOn = true;
      throw TAppError(QStringLiteral("after the dialog"));
    });
    QVERIFY(outerCarriedOn);
    QCOMPARE(dialogs.messages.size(), size_t(2));
    QCOMPARE(dialogs.messages[0].second, QStringLiteral("inside the dialog"));
    QCOMPARE(dialogs.messages[1].second, QStringLiteral("after the dialog"));
  }

  void exitButtonClosesTheProgram() {
    TempAppDir appDir;
    CapturedDialogs dialogs;
    MainWindowFixture fixture;
    fixture.form()->ExecExitBtn->click();
    QVERIFY(!fixture.form()->isVisible());
    // With no window left on screen the message loop ends and so does the program.
    QVERIFY(QGuiApplication::quitOnLastWindowClosed());
    for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY2(!w->isVisible(), qPrintable(w->objectName()));
  }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
