#pragma once
// The controller of the main window. Every event handler creates one, runs one
// to four of its operations and frees it; it keeps no state between events.
// Its operations read and write the window's controls and leave the work to
// the subsystem libraries, which take and return plain values.
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTimer;
class QWidget;
class TASQLite3Query;
class TComboBoxEx;
class TListViewEx;
class TOpenDialog;
class TStatEdit;

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
  void ConvCurrentFile();
  void PollConvOutput();
  int GetAvDuration();
  int ParseProgressTime(const QString& text);
  void DisableFileButtons();
  void EnableFileButtons();

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
  QLabel* MsgStatusPanel = nullptr;
  QProgressBar* CvStatusGauge = nullptr;
  QCheckBox* CvFshChkBox = nullptr;
  QString AppTitle;

  // The selector in slot tag (1 to 9).
  TComboBoxEx* Selector(int tag) const;
};
