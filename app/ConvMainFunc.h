#pragma once
// The controller of the main window. Every event handler creates one, runs one
// to four of its operations and frees it; it keeps no state between events.
// Its operations read and write the window's controls and leave the work to
// the subsystem libraries, which take and return plain values.
#include <QString>
#include <QStringList>
#include <QVector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTimer;
class QWidget;
class TASQLite3Query;
class TBatchClock;
class TFileAdder;
class TComboBoxEx;
class TConvQueue;
class TQueueStore;
struct TConvJob;
struct TEncoderWork;
class TListViewEx;
class TOpenDialog;
class TStatEdit;
struct TQueueRow;
struct TFileRow;

class TConvMainFunc {
 public:
  TConvMainFunc();
  TConvMainFunc(const TConvMainFunc&) = delete;
  TConvMainFunc& operator=(const TConvMainFunc&) = delete;

  // Application shell.
  void ShowAppTitle();
  void ShowSplash();
  void EndSplash();

  // Settings file and output folder.
  void LoadSaveDir();
  // The subtitle choice of the other settings: shown from the settings file, stored
  // there when the user picks one, and the encoder's option for it ("" for the default).
  void LoadSubtitleMode();
  void StoreSubtitleMode();
  QStringList GetSubtitleCmd();
  // How many files are converted at once (同时转换): shown from the settings file
  // and stored there when the user picks one; a run going on follows the choice
  // from its next file on.
  void LoadConcurrent();
  void StoreConcurrent();
  int GetConcurrent();
  void SelectSaveDir();
  void OpenSaveDir();
  void ShowHelp();
  void ShowHomePage();
  QString GetOutputExt();

  // Output option selectors.
  int LoadItemIndex(int tag);
  void FillVdoCodec();
  void FillVdoBitrate();
  void FillVdoSize();
  void FillVdoFps();
  void FillVdoAspect();
  void FillAdoCodec();
  void FillAdoBitrate();
  void FillAdoChannels();
  void FillAdoFreq();
  void SaveItemIndex(TComboBoxEx* selector);
  QString GetVdoCodecCmd();
  QString GetVdoBitrateCmd();
  QString GetVdoSizeCmd();
  QString GetVdoFpsCmd();
  QString GetVdoAspectCmd();
  QString GetAdoCodecCmd();
  QString GetAdoBitrateCmd();
  QString GetAdoChannelsCmd();
  QString GetAdoFreqCmd();

  // Source file list and properties panel.
  void AddAvFile();
  // The one way files enter the list, whether picked in the open dialog,
  // dropped, or named on the command line: files and folders, in the order
  // given; of a folder the media files of its whole tree, each folder's files
  // in name order before its subfolders (their outputs keep the tree's
  // structure below the output folder). Files that are no media files are
  // counted in the status text with notLocal (dropped items that are no local
  // files), unless anyKind takes every file as it is (files picked one by one).
  // Files added during a run join it. The files are probed away from the
  // window, and their rows come after this returns (AddProbedRows).
  void AddAvFiles(const QStringList& paths, int notLocal = 0, bool anyKind = false);
  // Rows of the addition whose probes have finished, in the order given; the
  // addition's end (buttons, the panel, what was added and left out).
  void AddProbedRows(const QVector<TFileRow>& rows);
  void EndAddition();
  // Appends a probed file's row (its record knows the folder its output goes to and its
  // picture's size); its position.
  int AddFileRow(const TFileRow& row);
  void DeleteAvFile();
  void ClearAvFiles();
  void ShowAvParams(const QString& path);
  void ShowSelectedParams();
  // The panel follows the list's current row, however it was chosen.
  void ShowCurrentParams();
  // The row whose file the panel shows (the current one when it does), else
  // the selected row; -1 when none.
  int ShownRow();
  // A row's context menu: its source folder, its output file (once converted),
  // and a failed or stopped row put back to waiting, for the next run.
  void OpenSourceDir(int row);
  void OpenOutputFile(int row);
  void ReconvertAvFile(int row);
  void ClearAvParams();

  // Encoder command line.
  // The output of a source: its name in the output folder, or in subFolder below it (a
  // source that came with a folder keeps that folder's structure).
  QString GetOutputPath(const QString& sourcePath, const QString& subFolder = QString());
  // The encoder and its arguments for a row: the source, the selectors' nine
  // fragments and the output (the one planned for it while it is the queue's
  // running row, else its own name).
  TConvJob BuildConvJob(int row);
  // The same job as one command-line text, each argument quoted where it holds
  // a blank or a quote (an empty fragment leaves two blanks). Nothing in the
  // window shows it; the tests check the command line's form through it.
  QString BuildConvCommand(int row);

  // Conversion queue and progress.
  void StartConvQueue();
  // Chooses every row's output before the first row starts: no source, no
  // earlier row's output and no existing file is written over; when existing
  // outputs stand in the way the user chooses to replace them or keep both.
  // False when the user cancels.
  bool PlanOutputNames(QVector<TQueueRow>& rows);
  // The outputs of rows that join a running run: never an existing file.
  void PlanAppendedOutputs(QVector<TQueueRow>& rows, int first);
  // Shows the queue's row as started and gives its job.
  TConvJob ConvCurrentFile(int row);
  // The row's encoder runs: its record says where it writes.
  void ShowRowStarted(int row);
  void PollConvOutput();
  void DisableFileButtons();
  void EnableFileButtons();
  // What the queue reports, shown in the window.
  void ShowQueuePosition(int position);
  // The running row's progress in our own words, its sizes and the run's clock.
  void ShowConvProgress(int row);
  void ShowConvPercent(int row, qint64 percent);
  void ShowRowResult(int row);
  void EndConvRun(bool stopped);
  // The second status panel: position, speed and remaining time of the run.
  void ShowRunClock();
  // What a row's conversion works on: its picture, the size chosen, a copy.
  TEncoderWork RowWork(int row);
  // The next file waits for memory (row -1: no longer), in the status text.
  void ShowMemoryHold(int row, qint64 needed, qint64 available);
  // The position of a list row among the rows of the run.
  int RunIndexOf(int row);
  // A message that progress does not replace for a few seconds, and whether one is shown.
  void SayForAWhile(const QString& text);
  bool StatusHeld();

  // The batch kept on disk. A row's record: what the queue knows of it, with
  // what the list shows; a record shown on its row.
  TQueueRow ListRowRecord(int row);
  void ShowRowRecord(int row, const TQueueRow& record);
  // Writes the list to the queue file soon (once the events of the moment are
  // handled), or now: the writing itself happens apart from the window.
  void ScheduleQueueSave();
  void SaveConvQueue();
  // Shows the rows the queue file kept, as a new start shows them, and says
  // what was restored.
  void LoadConvQueue();

  // Stopping and power-off. closing: the program ends, and the running row is
  // interrupted (it waits again at the next start) rather than stopped.
  void StopConvQueue(bool closing = false);
  // Asked when the window is to close: during a run, whether to stop it and
  // quit. False keeps the window and the run.
  bool ConfirmClose();
  void PowerOffComputer(unsigned flags = 8);

  // Preview player.
  void PlayAvFile();

  // Fields, bound by name when the controller is created (the run's clock is
  // the window's own member).
  TASQLite3Query* Query = nullptr;
  // Slot 0 the output folder edit, slots 1 to 9 the selectors by tag (TSelectorTag).
  QWidget* ParamCtrls[10] = {};
  TOpenDialog* OpenDialog = nullptr;
  TListViewEx* AvFilesList = nullptr;
  TListViewEx* AvParamsList = nullptr;
  QWidget* AddAvFileBtn = nullptr;
  QWidget* DelAvFileBtn = nullptr;
  QWidget* CvAvFileBtn = nullptr;
  QWidget* StopCvAvBtn = nullptr;
  QWidget* ClearAvFileBtn = nullptr;
  TStatEdit* AvListStat = nullptr;
  QLineEdit* AvSaveDirEdit = nullptr;
  QTimer* AvMsgTimer = nullptr;
  TConvQueue* ConvQueue = nullptr;    // the window's conversion queue
  TQueueStore* BatchStore = nullptr;  // the window's queue file
  QTimer* AvSaveTimer = nullptr;      // writes the queue file once the events of the moment are handled
  QLabel* MsgStatusPanel = nullptr;
  QLabel* RunStatusPanel = nullptr;
  TFileAdder* AvFileAdder = nullptr;
  TBatchClock* RunClock = nullptr;  // the window's clock of the run
  QProgressBar* CvStatusGauge = nullptr;
  QCheckBox* CvFshChkBox = nullptr;
  QComboBox* CmbSubMode = nullptr;
  QComboBox* CmbConcurrent = nullptr;
  QString AppTitle;

  // The selector in slot tag (1 to 9).
  TComboBoxEx* Selector(int tag) const;
};
