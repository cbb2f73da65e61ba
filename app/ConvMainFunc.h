#pragma once
// The controller of the main window. Every event handler creates one, runs one
// to four of its operations and frees it; it keeps no state between events.
// Its operations read and write the window's controls and leave the work to
// the subsystem libraries, which take and return plain values.
#include <QString>
#include <QStringList>
#include <QVector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTimer;
class QWidget;
class TASQLite3Query;
class TComboBoxEx;
class TConvQueue;
struct TConvJob;
class TListViewEx;
class TOpenDialog;
class TStatEdit;
struct TQueueRow;

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
  // Adds one file as the Add button does; false when the media library is missing.
  bool AddAvFilePath(const QString& path);
  // Files and folders dropped onto the list: each file the open dialog's filter
  // admits, and those directly inside each folder, in name order; the others
  // are counted in the status text. Nothing during a run.
  void AddDroppedFiles(const QStringList& paths, int notLocal = 0);
  void DeleteAvFile();
  void ClearAvFiles();
  void ShowAvParams(const QString& path);
  void ShowSelectedParams();
  void ClearAvParams();

  // Encoder command line.
  QString GetOutputPath(const QString& sourcePath);
  QString BuildConvCommand();

  // Conversion queue and progress.
  void StartConvQueue();
  // Chooses every row's output before the first row starts: no source, no
  // earlier row's output and no existing file is written over; when existing
  // outputs stand in the way the user chooses to replace them or keep both.
  // False when the user cancels.
  bool PlanOutputNames(QVector<TQueueRow>& rows);
  // Shows the queue's current row as started and gives its command line.
  TConvJob ConvCurrentFile();
  void PollConvOutput();
  int GetAvDuration();
  int ParseProgressTime(const QString& text);
  void DisableFileButtons();
  void EnableFileButtons();
  // What the queue reports, shown in the window.
  void ShowQueuePosition(int position);
  void ShowConvProgress(int row, const QString& text);
  void ShowConvPercent(int row, qint64 percent);
  void ShowRowResult(int row);
  void EndConvRun(bool stopped);

  // Stopping and power-off.
  void StopConvQueue();
  void PowerOffComputer(unsigned flags = 8);

  // Preview player.
  void PlayAvFile();

  // Fields, bound by name when the controller is created.
  TASQLite3Query* Query = nullptr;
  // Slot 0 the output folder edit, slots 1 to 9 the selectors by tag.
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
  TConvQueue* ConvQueue = nullptr;  // the window's conversion queue
  QLabel* MsgStatusPanel = nullptr;
  QProgressBar* CvStatusGauge = nullptr;
  QCheckBox* CvFshChkBox = nullptr;
  QString AppTitle;

  // The selector in slot tag (1 to 9).
  TComboBoxEx* Selector(int tag) const;
};
