#pragma once
// A main window with the scripted stand-in encoder in its installation folder,
// a fake power control, and a record of the window's state after every tick
// of the conversion timer.
#include "app/ConvMainFrm.h"
#include "app/ConvMainFunc.h"
#include "app/Controls.h"
#include "app/ListMarks.h"
#include "conversion/ConvQueue.h"
#include "platform/DesktopNotice.h"
#include "platform/PowerControl.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <memory>
#include <vector>

struct FakePower : Platform::IPowerControl {
  bool allowed = true;
  bool accepts = true;
  int canCalls = 0, offCalls = 0, quitCalls = 0;
  bool CanPowerOff() override {
    ++canCalls;
    return allowed;
  }
  bool PowerOff() override {
    ++offCalls;
    return accepts;
  }
  void RequestQuit() override { ++quitCalls; }
  QString refusal;  // the system's reason for a no
  QString Refusal() const override { return refusal; }
  // With deferred set, each question waits until the test answers it.
  bool deferred = false;
  std::function<void(bool)> pending;
  void AskCanPowerOff(std::function<void(bool)> done) override {
    if (!deferred) return done(CanPowerOff());
    ++canCalls;
    pending = std::move(done);
  }
  void AskPowerOff(std::function<void(bool)> done) override {
    if (!deferred) return done(PowerOff());
    ++offCalls;
    pending = std::move(done);
  }
  void Answer(bool yes) {
    auto done = std::move(pending);
    pending = nullptr;
    done(yes);
  }
};

// Drags paths onto a list and drops them there; whether the list took the drag.
// Unless told not to, waits until the rows of the files dropped are there.
inline bool Drop(TListViewEx* list, const QStringList& paths, bool wait = true) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(list->viewport(), &enter);
  QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(list->viewport(), &drop);
  if (wait && enter.isAccepted() && ConvMainForm) TestSupport::WaitForAddition(ConvMainForm);
  return enter.isAccepted();
}

struct FakeNotice : Platform::IDesktopNotice {
  QStringList notices;  // "title|body"
  QStringList actions;  // the action offered with each notice ("" for none)
  std::function<void()> lastAction;
  void Notify(const QString& title, const QString& body) override {
    notices << title + QLatin1Char('|') + body;
    actions << QString();
  }
  void Notify(const QString& title, const QString& body, const QString& action,
              std::function<void()> onAction) override {
    notices << title + QLatin1Char('|') + body;
    actions << action;
    lastAction = std::move(onAction);
  }
};

struct Snapshot {
  QString stat;
  QVector<int> icons;
  QStringList percents;
  int gauge = 0;
  QString status;
  bool timerActive = false;
  bool buttonsEnabled = false;
};

class QueueEnv {
 public:
  static constexpr int kTickMs = 50;
  explicit QueueEnv(const QString& encoder) {
    const QString make = app.File(QString::fromLatin1("make"));
    QFile::remove(make);
    if (!encoder.isEmpty()) QFile::link(encoder, make);
    Platform::SetPowerControl(&power);
    Platform::SetDesktopNotice(&notice);
    Open();
  }
  ~QueueEnv() {
    window.reset();
    Platform::SetPowerControl(nullptr);
    Platform::SetDesktopNotice(nullptr);
  }

  // A new start of the program on the same installation folder: the window goes
  // (closed as the user closes it, or just gone, as a killed program is) and a new
  // one opens, which finds the list the last one kept.
  void Restart(bool close) {
    if (close) {
      TConvMainForm::QuitWithoutAsking = true;
      form()->close();
      TConvMainForm::QuitWithoutAsking = false;
    }
    window.reset();
    ticks.clear();
    rowEnds.clear();
    Open();
  }
  // The list file of this installation folder.
  QString QueueFile() const { return app.File(QStringLiteral("ConvQueue.json")); }

  void Open() {
    window = std::make_unique<TestSupport::MainWindowFixture>();
    // The window's mirror of the queue is what these tests check; a quicker
    // progress tick than the program's 500 ms keeps them short.
    form()->AvMsgTimer->setInterval(kTickMs);
    // The cores of the machine the tests are made for (CI has two): under 自动, files of
    // an unknown size (the scripts) are converted one at a time.
    form()->ConvQueue->Cores = 2;
    QObject::connect(form()->AvMsgTimer, &QTimer::timeout, form(), [this] {
      ticks.push_back(Take());
      if (afterTick) afterTick();
    });
    // The window's state right after it showed each row's result.
    QObject::connect(form()->ConvQueue, &TConvQueue::RowFinished, form(),
                     [this](int) { rowEnds.push_back(Take()); });
  }

  TConvMainForm* form() const { return window->form(); }
  TListViewEx* list() const { return form()->AvFilesList; }
  QString SaveDir() const { return form()->AvSaveDirEdit->text(); }
  QString SourceDir() const { return sources.path(); }

  // A source file holding a stand-in script, added as a row.
  int AddScripted(const QString& name, const QString& script,
                  const QString& duration = QStringLiteral("00:00:10")) {
    const QString path = sources.filePath(name);
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(script.toUtf8());
    f.close();
    return AddRowFor(path, duration);
  }
  int AddRowFor(const QString& path, const QString& duration) {
    return list()->AddRow(
        path, 4, {QFileInfo(path).suffix(), QStringLiteral("0.01 MB"), duration, QStringLiteral("0%")});
  }
  static QString Log(const QString& source) {
    QFile f(source + QStringLiteral(".log"));
    if (!f.open(QIODevice::ReadOnly)) return QString();
    return QString::fromUtf8(f.readAll());
  }
  QString LogOfRow(int row) const { return Log(list()->Caption(row)); }

  Snapshot Take() const {
    Snapshot s;
    s.stat = form()->AvListStat->Text();
    for (int r = 0; r < list()->RowCount(); ++r) {
      s.icons << list()->ImageIndex(r);
      s.percents << list()->SubItem(r, 3);
    }
    s.gauge = form()->CvStatusGauge->value();
    s.status = form()->MsgStatusPanel->text();
    s.timerActive = form()->AvMsgTimer->isActive();
    s.buttonsEnabled = form()->AddAvFileBtn->isEnabled() && form()->DelAvFileBtn->isEnabled() &&
                       form()->CvAvFileBtn->isEnabled() && form()->ClearAvFileBtn->isEnabled();
    return s;
  }
  bool AllButtons(bool enabled) const {
    const QWidget* buttons[] = {form()->AddAvFileBtn, form()->DelAvFileBtn, form()->CvAvFileBtn,
                                form()->ClearAvFileBtn};
    for (const QWidget* b : buttons) {
      if (b->isEnabled() != enabled) return false;
    }
    return true;
  }
  bool WaitIdle(int timeoutMs = 20000) {
    return QTest::qWaitFor([this] { return !form()->AvMsgTimer->isActive(); }, timeoutMs);
  }
  // Error boxes shown by the program.
  int ErrorBoxes() const { return static_cast<int>(dialogs.messages.size()); }

  TestSupport::CapturedDialogs dialogs;
  TestSupport::TempAppDir app;
  FakePower power;
  FakeNotice notice;
  QTemporaryDir sources;
  std::unique_ptr<TestSupport::MainWindowFixture> window;
  std::vector<Snapshot> ticks;
  std::vector<Snapshot> rowEnds;
  std::function<void()> afterTick;
};
