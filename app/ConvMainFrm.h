#pragma once
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QMenu;
class TBatchClock;
class TFileAdder;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QScrollBar;
class QTabWidget;
class QTimer;
class QToolBar;
class QToolButton;
class TComboBoxEx;
class TConvMainFunc;
class TConvQueue;
class TImageList;
class TQueueStore;
class TListViewEx;
class TOpenDialog;
class TStatEdit;

// The main window. Every event runs through a fresh TConvMainFunc.
class TConvMainForm : public QWidget {
  Q_OBJECT
 public:
  explicit TConvMainForm(QWidget* parent = nullptr);
  ~TConvMainForm() override;

  // Whether the application shows the main window when its message loop
  // starts; the splash turns it off.
  static bool ShowMainFormAtStart;
  // Set when the program is told to end (a signal): closing then asks nothing.
  static bool QuitWithoutAsking;

  // Where the window of the given size opens on a screen's free area: in its
  // middle, or at its top or left edge where the window does not fit.
  static QPoint StartPosition(const QSize& window, const QRect& available);

  // The client area as built, 752 x 459.
  static const QSize kClientSize;
  // Fits the window into room, the screen's free area less the window's frame:
  // where the client area as built does not fit (a large scale factor on a
  // small screen), the window takes the room there is, its controls scroll in
  // ConvScrollArea and the status bar stays at its bottom, its panels
  // narrower. Where it fits, the window is exactly as built.
  void FitInto(const QSize& room);
  // FitInto the free area of the window's screen, with the frame the window
  // manager gives it (a title bar's height until it is known), and places the
  // window on it as StartPosition says.
  void FitToScreen();

  // Controls, in the order they are created.
  QFrame* ConvCoolBar = nullptr;
  QToolBar* ConvToolBar = nullptr;
  QToolButton* AddAvFileBtn = nullptr;
  QToolButton* DelAvFileBtn = nullptr;
  QToolButton* ClearAvFileBtn = nullptr;
  QToolButton* CvAvFileBtn = nullptr;
  QToolButton* StopCvAvBtn = nullptr;
  QToolButton* PlayAvFileBtn = nullptr;
  QToolButton* ShowHttpBtn = nullptr;
  QToolButton* ShowHelpBtn = nullptr;
  QToolButton* ExecExitBtn = nullptr;
  TListViewEx* AvFilesList = nullptr;
  QScrollBar* ConvScrollBar = nullptr;
  QLabel* ImgLogo = nullptr;
  TListViewEx* AvParamsList = nullptr;
  QGroupBox* AvSaveDirGroup = nullptr;
  QLineEdit* AvSaveDirEdit = nullptr;
  QPushButton* SltDirBtn = nullptr;
  QPushButton* OpenDirBtn = nullptr;
  TStatEdit* AvListStat = nullptr;
  QTabWidget* ParamsPageControl = nullptr;
  QWidget* TabShtVideo = nullptr;
  QWidget* TabShtAudio = nullptr;
  QWidget* TabShtOther = nullptr;
  TComboBoxEx* CmbExVideo[6] = {};  // 1 to 5
  TComboBoxEx* CmbExAudio[5] = {};  // 1 to 4
  QCheckBox* CvFshChkBox = nullptr;
  QComboBox* CmbSubMode = nullptr;  // what becomes of subtitles
  QComboBox* CmbConcurrent = nullptr;  // how many files are converted at once
  QFrame* ConvStatusBar = nullptr;
  QLabel* ConvStatusPanel1 = nullptr;
  QLabel* MsgStatusPanel = nullptr;
  QLabel* RunStatusPanel = nullptr;  // position, speed and remaining time of a run
  QProgressBar* CvStatusGauge = nullptr;
  QTimer* AvMsgTimer = nullptr;
  TConvQueue* ConvQueue = nullptr;
  std::unique_ptr<TBatchClock> RunClock;
  // The list kept on disk: the queue file, and the timer that writes it once the
  // events of the moment are handled.
  std::unique_ptr<TQueueStore> BatchStore;
  QTimer* AvSaveTimer = nullptr;
  TFileAdder* AvFileAdder = nullptr;
  TOpenDialog* OpenDialog = nullptr;
  TImageList* BarImgList = nullptr;
  // Made only on a screen too small for the window: holds every control but
  // the status bar.
  QScrollArea* ConvScrollArea = nullptr;

  // Event handlers.
  void FormCreate();
  void FormShow();
  void FormClose();
  void AddAvFileBtnClick();
  void DelAvFileBtnClick();
  void ClearAvFileBtnClick();
  void CvAvFileBtnClick();
  void StopCvAvBtnClick();
  void PlayAvFileBtnClick();
  void ShowHttpBtnClick();
  void ShowHelpBtnClick();
  void CmbSubModeChange();
  void CmbConcurrentChange();
  void ExecExitBtnClick();
  void AvFilesListClick();
  // Files and folders dropped onto the list; also the way in for files named
  // on the command line.
  void AvFilesListDragDrop(const QStringList& paths, int notLocal);
  // Files handed over by a later start of the program ("Open with"): added as
  // dropped ones are (joining a run that goes on), and the window comes forward.
  void TakeStartFiles(const QStringList& paths);
  void AvFilesListCurrentChange(int row);
  void AvFilesListActivate();
  // The context menu of a row, built but not shown; nullptr below the rows.
  QMenu* BuildRowMenu(int row);
  void SltDirBtnClick();
  void OpenDirBtnClick();
  void CmbExVideoChange(int i);
  void CmbExAudio1Change();
  void CmbExAudioChange(int i);
  void AvMsgTimerTimer();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;

 private:
  // Creates one controller, runs the operations and frees it.
  void Route(const std::function<void(TConvMainFunc&)>& operations);
  void BuildToolBar();
  void BuildLists();
  void BuildSaveDirGroup();
  void BuildOptionTabs();
  void BuildStatusBar();
  void BuildQueue();
  void BuildShortcuts();
  // The status bar's panels across a width: the message panel gives way first.
  void LayOutStatusBar(int width);
  QToolButton* AddToolButton(const char* name, const QString& caption, const QString& hint, int icon,
                             void (TConvMainForm::*handler)());
};

extern TConvMainForm* ConvMainForm;
