#pragma once
// Files probed for the list away from the window's thread. The media library
// is not used from several threads of this program: its documentation promises
// nothing of the kind, its tracker holds crashes of concurrent use (dates in its
// text library, MXF files parsed by two threads), and a file that makes it
// crash or hang must not take the window with it. So each probe runs in a
// child process of its own kind ("mediaprobe", beside the program): a few of
// them at once, each taking one file at a time over a pipe, answered as they
// finish. A probe that crashes or takes longer than TimeoutMs is ended and its
// file gets a row of unknown facts; its worker is started anew.
#include "media/FileFacts.h"

#include <QByteArray>
#include <QObject>
#include <QQueue>
#include <QString>
#include <QVector>

class QTimer;

namespace Platform {
class TChildProcess;
}

// What the probe of one file came to.
struct TProbeAnswer {
  enum class TKind {
    kRow,        // row holds the file's facts (unknown ones when it could not be read)
    kRefused,    // the path is no regular file: refusal says why (Chinese)
    kNoLibrary,  // the media library cannot be loaded: nothing can be added
  };
  TKind kind = TKind::kRow;
  TFileRow row;
  QString refusal;
};

class TProbePool : public QObject {
  Q_OBJECT
 public:
  explicit TProbePool(QObject* parent = nullptr);
  ~TProbePool() override;

  // The worker program (Platform::kProbeFile beside the program unless set). Where
  // it cannot be started, files are probed on the caller's thread, as before.
  QString Program;
  // Workers at most (0: the cores, at most four), and the time one probe may take.
  int MaxWorkers = 0;
  int TimeoutMs = 20000;
  // Workers with nothing to do end after this long; the next probe starts them anew.
  int IdleMs = 1500;

  // Probes path; Answered(id, ...) comes once it is done (answers of several
  // files may come in another order than they were asked for).
  void Probe(qint64 id, const QString& path);
  // Forgets every probe not answered yet (their answers never come).
  void Clear();

  // The worker's side: answers each request line on standard input with one
  // line on standard output until input ends. The program's main.
  static int RunWorker(int argc, char** argv);

 signals:
  void Answered(qint64 id, const TProbeAnswer& answer);

 private:
  struct TWorker {
    Platform::TChildProcess* process = nullptr;
    QByteArray buffer;
    qint64 id = -1;  // the request it works on, -1 when idle
    QString path;
    QTimer* timer = nullptr;
    class QSocketNotifier* notifier = nullptr;
  };
  void Dispatch();
  void ScheduleDispatch(int ms);
  TWorker* StartWorker();
  void TakeOutput(TWorker* worker);
  void WorkerGone(TWorker* worker, bool timedOut);
  void Answer(TWorker* worker, const TProbeAnswer& answer);
  void EndIdleWorkers();
  // Lets a worker go: asked to end when it still runs, and forgotten.
  void Retire(TWorker* worker);
  // Lets every worker go.
  void RetireAll();

  struct TRequest {
    qint64 id;
    QString path;
  };
  QQueue<TRequest> queue_;
  QVector<TWorker*> workers_;
  int busy_ = 0;
  bool unavailable_ = false;  // the program could not be started: probes run here
  QTimer* idle_ = nullptr;
  QTimer* dispatch_ = nullptr;
};

// What a worker answers for a file: one line. And back.
QByteArray ProbeAnswerLine(const TProbeAnswer& answer);
bool ParseProbeAnswerLine(const QByteArray& line, const QString& path, TProbeAnswer* answer);
