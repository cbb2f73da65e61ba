#include "ConvMainFrm.h"

#include "ConvMainFunc.h"
#include "Controls.h"
#include "FileAdder.h"
#include "ListMarks.h"
#include "conversion/BatchClock.h"
#include "conversion/ConvQueue.h"
#include "conversion/QueueFile.h"
#include "media/FileFacts.h"
#include "platform/AppError.h"
#include "platform/UserFiles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCloseEvent>
#include <QMoveEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QSvgRenderer>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

TConvMainForm* ConvMainForm = nullptr;
bool TConvMainForm::ShowMainFormAtStart = true;
bool TConvMainForm::QuitWithoutAsking = false;
const QSize TConvMainForm::kClientSize(752, 459);

namespace {

// A caption under a 16-pixel icon needs about 34 pixels to be legible in a
// Chinese font, so the toolbar band takes the free strip above the file list.
constexpr QSize kToolButtonSize(40, 36);
constexpr int kToolBandHeight = 40;
constexpr int kStatusBarHeight = 21;
// The status bar's panels as built; the smallest each may become.
constexpr int kPanel1Width = 10;
constexpr int kMsgPanelWidth = 380, kMsgPanelMin = 150;
constexpr int kRunPanelWidth = 210, kRunPanelMin = 150;
constexpr int kGaugeMin = 40;
// The smallest window: the status bar's panels at their smallest.
constexpr QSize kSmallestClient(kPanel1Width + kMsgPanelMin + kRunPanelMin + kGaugeMin, 120);

QLabel* AddLabel(QWidget* parent, const QString& text, int x, int y, int w, int h) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(x, y, w, h);
  label->setProperty("plainLabel", true);
  return label;
}

}  // namespace

TConvMainForm::TConvMainForm(QWidget* parent) : QWidget(parent) {
  // The reference exists before the creation handler runs, so that a
  // controller created there already finds this window.
  ConvMainForm = this;
  setObjectName(QStringLiteral("ConvMainForm"));
  setWindowTitle(QStringLiteral("视频转换器"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::WindowMinimizeButtonHint);
  setFixedSize(kClientSize);
  setWindowIcon(QIcon(QStringLiteral(":/vidmora.svg")));

  BarImgList = new TImageList(this);
  BuildToolBar();
  BuildLists();
  BuildSaveDirGroup();
  BuildOptionTabs();
  BuildStatusBar();

  AvMsgTimer = new QTimer(this);
  AvMsgTimer->setObjectName(QStringLiteral("AvMsgTimer"));
  AvMsgTimer->setInterval(500);
  connect(AvMsgTimer, &QTimer::timeout, this, &TConvMainForm::AvMsgTimerTimer);
  BuildQueue();
  RunClock = std::make_unique<TBatchClock>();
  AvFileAdder = new TFileAdder(this);
  AvFileAdder->OnRows = [this](const QVector<TFileRow>& rows) {
    Route([&rows](TConvMainFunc& f) { f.AddProbedRows(rows); });
  };
  AvFileAdder->OnEnd = [this] { Route([](TConvMainFunc& f) { f.EndAddition(); }); };
  BatchStore = std::make_unique<TQueueStore>(UserFiles::QueueFile());
  AvSaveTimer = new QTimer(this);
  AvSaveTimer->setObjectName(QStringLiteral("AvSaveTimer"));
  AvSaveTimer->setSingleShot(true);
  AvSaveTimer->setInterval(0);
  connect(AvSaveTimer, &QTimer::timeout, this,
          [this] { Route([](TConvMainFunc& f) { f.SaveConvQueue(); }); });

  OpenDialog = new TOpenDialog(this);
  OpenDialog->setObjectName(QStringLiteral("OpenDialog"));
  OpenDialog->Title = QStringLiteral("添加");
  OpenDialog->Filter = MediaFileFilter();
  BuildShortcuts();

  FitToScreen();
  FormCreate();
  // The batch of the last time comes back before any file of this start joins it.
  Route([](TConvMainFunc& f) { f.LoadConvQueue(); });
}

void TConvMainForm::FitToScreen() {
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect available = screen->availableGeometry();
  // The frame is known once the window manager has framed the window; until
  // then a title bar is reckoned with.
  QMargins frame(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
                 frameGeometry().right() - geometry().right(),
                 frameGeometry().bottom() - geometry().bottom());
  if (!isVisible() || frame.isNull())
    frame = QMargins(0, style()->pixelMetric(QStyle::PM_TitleBarHeight), 0, 0);
  FitInto(available.size().shrunkBy(frame));
  if (isVisible()) return;
  // A window that had to be fitted is placed with its frame; one as built as it always was.
  const QSize framed = size() + QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
  move(StartPosition(ConvScrollArea ? framed : size(), available));
}

void TConvMainForm::FitInto(const QSize& room) {
  if (!ConvScrollArea && kClientSize.width() <= room.width() && kClientSize.height() <= room.height()) return;
  const QSize client = kClientSize.boundedTo(room).expandedTo(kSmallestClient);
  if (!ConvScrollArea) {
    // Every control but the status bar moves, in its order and place, onto a
    // client area of the size as built that scrolls in the window.
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("ConvClientArea"));
    content->setFixedSize(kClientSize.width(), kClientSize.height() - kStatusBarHeight);
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
      if (child == ConvStatusBar || child->isWindow()) continue;
      const bool hidden = child->isHidden();
      child->setParent(content);
      child->setVisible(!hidden);
    }
    ConvScrollArea = new QScrollArea(this);
    ConvScrollArea->setObjectName(QStringLiteral("ConvScrollArea"));
    ConvScrollArea->setFrameShape(QFrame::NoFrame);
    ConvScrollArea->setWidget(content);
    ConvScrollArea->show();
    ConvStatusBar->raise();
  }
  ConvScrollArea->setGeometry(0, 0, client.width(), client.height() - kStatusBarHeight);
  ConvStatusBar->setGeometry(0, client.height() - kStatusBarHeight, client.width(), kStatusBarHeight);
  LayOutStatusBar(client.width());
  setFixedSize(client);
}

void TConvMainForm::LayOutStatusBar(int width) {
  int deficit = kClientSize.width() - width;
  auto give = [&deficit](int built, int least) {
    const int given = qBound(0, deficit, built - least);
    deficit -= given;
    return built - given;
  };
  const int msg = give(kMsgPanelWidth, kMsgPanelMin);
  const int run = give(kRunPanelWidth, kRunPanelMin);
  ConvStatusPanel1->setGeometry(0, 1, kPanel1Width, kStatusBarHeight - 1);
  MsgStatusPanel->setGeometry(kPanel1Width, 1, msg, kStatusBarHeight - 1);
  RunStatusPanel->setGeometry(kPanel1Width + msg, 1, run, kStatusBarHeight - 1);
  CvStatusGauge->setGeometry(kPanel1Width + msg + run, 1, qMax(kGaugeMin, width - kPanel1Width - msg - run),
                             kStatusBarHeight - 1);
}

void TConvMainForm::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  // The window manager has framed the window: the frame may leave less room
  // than was reckoned with.
  if (isVisible() && !frameGeometry().isEmpty()) {
    const QScreen* screen = this->screen();
    if (screen && !screen->availableGeometry().contains(frameGeometry())) FitToScreen();
  }
}

QPoint TConvMainForm::StartPosition(const QSize& window, const QRect& available) {
  const QPoint centred = available.center() - QRect(QPoint(), window).center();
  // Never above or left of the screen's free area: the title bar stays on it
  // where the window is larger than the screen (a large scale factor).
  return {qMax(centred.x(), available.left()), qMax(centred.y(), available.top())};
}

TConvMainForm::~TConvMainForm() {
  // The last change is kept, whichever way the window goes.
  if (AvSaveTimer && AvSaveTimer->isActive() && ConvMainForm == this) {
    AvSaveTimer->stop();
    Route([](TConvMainFunc& f) { f.SaveConvQueue(); });
  }
  BatchStore.reset();
  if (ConvMainForm == this) ConvMainForm = nullptr;
}

QToolButton* TConvMainForm::AddToolButton(const char* name, const QString& caption, const QString& hint,
                                          int icon, void (TConvMainForm::*handler)()) {
  auto* button = new QToolButton(ConvToolBar);
  button->setObjectName(QString::fromLatin1(name));
  button->setText(caption);
  button->setToolTip(hint);
  button->setIcon(BarImgList->Icon(icon));
  button->setIconSize(QSize(16, 16));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setFixedSize(kToolButtonSize);
  button->setAutoRaise(true);
  // Reachable with Tab, in the toolbar's order, ahead of the list.
  button->setFocusPolicy(Qt::TabFocus);
  ConvToolBar->addWidget(button);
  connect(button, &QToolButton::clicked, this, [this, handler] { (this->*handler)(); });
  return button;
}

void TConvMainForm::BuildToolBar() {
  ConvCoolBar = new QFrame(this);
  ConvCoolBar->setObjectName(QStringLiteral("ConvCoolBar"));
  ConvCoolBar->setGeometry(0, 0, 752, kToolBandHeight);
  ConvToolBar = new QToolBar(ConvCoolBar);
  ConvToolBar->setObjectName(QStringLiteral("ConvToolBar"));
  ConvToolBar->setGeometry(2, 2, 748, kToolButtonSize.height());
  ConvToolBar->setMovable(false);
  ConvToolBar->setFloatable(false);
  ConvToolBar->setIconSize(QSize(16, 16));
  ConvToolBar->setContentsMargins(0, 0, 0, 0);
  auto divider = [this] {
    QAction* separator = ConvToolBar->addSeparator();
    separator->setObjectName(QStringLiteral("ToolDivider"));
  };
  AddAvFileBtn = AddToolButton("AddAvFileBtn", QStringLiteral("添加"), QStringLiteral("添加视频文件"), 0,
                               &TConvMainForm::AddAvFileBtnClick);
  DelAvFileBtn = AddToolButton("DelAvFileBtn", QStringLiteral("删除"), QStringLiteral("删除视频文件"), 1,
                               &TConvMainForm::DelAvFileBtnClick);
  ClearAvFileBtn = AddToolButton("ClearAvFileBtn", QStringLiteral("清空"), QStringLiteral("清空视频文件"), 16,
                                 &TConvMainForm::ClearAvFileBtnClick);
  divider();
  CvAvFileBtn = AddToolButton("CvAvFileBtn", QStringLiteral("转换"), QStringLiteral("转换视频"), 2,
                              &TConvMainForm::CvAvFileBtnClick);
  StopCvAvBtn = AddToolButton("StopCvAvBtn", QStringLiteral("停止"), QStringLiteral("停止转换"), 3,
                              &TConvMainForm::StopCvAvBtnClick);
  divider();
  PlayAvFileBtn = AddToolButton("PlayAvFileBtn", QStringLiteral("播放"), QStringLiteral("播放视频文件"), 7,
                                &TConvMainForm::PlayAvFileBtnClick);
  divider();
  ShowHttpBtn = AddToolButton("ShowHttpBtn", QStringLiteral("主页"), QStringLiteral("软件主页"), 12,
                              &TConvMainForm::ShowHttpBtnClick);
  ShowHelpBtn = AddToolButton("ShowHelpBtn", QStringLiteral("帮助"), QStringLiteral("帮助说明"), 13,
                              &TConvMainForm::ShowHelpBtnClick);
  divider();
  ExecExitBtn = AddToolButton("ExecExitBtn", QStringLiteral("退出"), QStringLiteral("退出程序"), 15,
                              &TConvMainForm::ExecExitBtnClick);
}

void TConvMainForm::BuildLists() {
  AvFilesList = new TListViewEx(this);
  AvFilesList->setObjectName(QStringLiteral("AvFilesList"));
  AvFilesList->Images = BarImgList;
  AvFilesList->setGeometry(2, 51, 534, 230);
  AvFilesList->setColumnCount(5);
  AvFilesList->setHeaderLabels({QStringLiteral(" 视频文件"), QStringLiteral(" 文件类型"),
                                QStringLiteral(" 文件大小"), QStringLiteral(" 播放时间"),
                                QStringLiteral(" 转换进度")});
  const int widths[] = {264, 65, 70, 65, 65};
  for (int c = 0; c < 5; ++c) AvFilesList->setColumnWidth(c, widths[c]);
  AvFilesList->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  AvFilesList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  AvFilesList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  connect(AvFilesList, &TListViewEx::Click, this, &TConvMainForm::AvFilesListClick);
  connect(AvFilesList, &TListViewEx::CurrentRowChanged, this, &TConvMainForm::AvFilesListCurrentChange);
  connect(AvFilesList, &TListViewEx::RowActivated, this, &TConvMainForm::AvFilesListActivate);
  connect(AvFilesList, &TListViewEx::RowMenuRequested, this, [this](int row, const QPoint& at) {
    std::unique_ptr<QMenu> menu(BuildRowMenu(row));
    if (menu) menu->exec(at);
  });
  // Files dropped from the desktop are added as the Add button adds them, also
  // during a run, which they join.
  AvFilesList->setAcceptDrops(true);
  AvFilesList->viewport()->setAcceptDrops(true);
  AvFilesList->AcceptsFiles = [] { return true; };
  connect(AvFilesList, &TListViewEx::FilesDropped, this, &TConvMainForm::AvFilesListDragDrop);

  // The list's horizontal scroll bar is a control of its own, shown only when
  // the columns are wider than the list.
  ConvScrollBar = new QScrollBar(Qt::Horizontal, this);
  ConvScrollBar->setObjectName(QStringLiteral("ConvScrollBar"));
  ConvScrollBar->setGeometry(0, 265, 537, 19);
  ConvScrollBar->hide();
  QScrollBar* inner = AvFilesList->horizontalScrollBar();
  connect(inner, &QScrollBar::rangeChanged, this, [this](int min, int max) {
    ConvScrollBar->setRange(min, max);
    ConvScrollBar->setVisible(max > min);
  });
  connect(ConvScrollBar, &QScrollBar::valueChanged, inner, &QScrollBar::setValue);
  connect(inner, &QScrollBar::valueChanged, ConvScrollBar, &QScrollBar::setValue);

  ImgLogo = new QLabel(this);
  ImgLogo->setObjectName(QStringLiteral("ImgLogo"));
  ImgLogo->setGeometry(540, 51, 210, 105);
  QPixmap logo(210, 105);
  logo.fill(Qt::transparent);
  QSvgRenderer renderer(QStringLiteral(":/logo.svg"));
  if (renderer.isValid()) {
    QPainter painter(&logo);
    renderer.render(&painter, QRectF(0, 0, 210, 105));
  }
  ImgLogo->setPixmap(logo);

  AvParamsList = new TListViewEx(this);
  AvParamsList->setObjectName(QStringLiteral("AvParamsList"));
  AvParamsList->Images = BarImgList;
  AvParamsList->setGeometry(540, 160, 210, 275);
  AvParamsList->setColumnCount(2);
  AvParamsList->setHeaderHidden(true);
  AvParamsList->setColumnWidth(0, 78);
  AvParamsList->setColumnWidth(1, 125);
  AvParamsList->setSelectionMode(QAbstractItemView::NoSelection);
  AvParamsList->setFocusPolicy(Qt::NoFocus);
  AvParamsList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  const struct {
    const char* label;
    int icon;
  } rows[kPanelRowCount] = {
      {"文件", kIconWaiting},        {"文件名称", kIconPanelValue}, {"文件类型", kIconPanelValue},
      {"文件大小", kIconPanelValue}, {"播放时间", kIconPanelValue}, {"视频", kIconVideoHeading},
      {"视频编码", kIconPanelValue}, {"视频码率", kIconPanelValue}, {"视频大小", kIconPanelValue},
      {"视频帧率", kIconPanelValue}, {"宽幅比率", kIconPanelValue}, {"音频", kIconAudioHeading},
      {"音频编码", kIconPanelValue}, {"音频码率", kIconPanelValue}, {"音频通道", kIconPanelValue},
      {"采样频率", kIconPanelValue}};
  for (const auto& row : rows) AvParamsList->AddRow(QString::fromUtf8(row.label), row.icon);
}

void TConvMainForm::BuildSaveDirGroup() {
  AvSaveDirGroup = new QGroupBox(this);
  AvSaveDirGroup->setObjectName(QStringLiteral("AvSaveDirGroup"));
  AvSaveDirGroup->setGeometry(1, 282, 535, 56);
  AddLabel(AvSaveDirGroup, QStringLiteral("输出目录"), 10, 28, 61, 13);
  AvSaveDirEdit = new QLineEdit(AvSaveDirGroup);
  AvSaveDirEdit->setObjectName(QStringLiteral("AvSaveDirEdit"));
  AvSaveDirEdit->setGeometry(62, 23, 367, 18);
  AvSaveDirEdit->setReadOnly(true);
  SltDirBtn = new QPushButton(AvSaveDirGroup);
  SltDirBtn->setObjectName(QStringLiteral("SltDirBtn"));
  SltDirBtn->setGeometry(436, 22, 31, 25);
  SltDirBtn->setIcon(BarImgList->Icon(5));
  SltDirBtn->setToolTip(QStringLiteral("选择输出目录"));
  connect(SltDirBtn, &QPushButton::clicked, this, &TConvMainForm::SltDirBtnClick);
  OpenDirBtn = new QPushButton(AvSaveDirGroup);
  OpenDirBtn->setObjectName(QStringLiteral("OpenDirBtn"));
  OpenDirBtn->setGeometry(472, 22, 31, 25);
  OpenDirBtn->setIcon(BarImgList->Icon(6));
  OpenDirBtn->setToolTip(QStringLiteral("打开输出目录"));
  connect(OpenDirBtn, &QPushButton::clicked, this, &TConvMainForm::OpenDirBtnClick);
  AvListStat = new TStatEdit(AvSaveDirGroup);
  AvListStat->setObjectName(QStringLiteral("AvListStat"));
  AvListStat->setGeometry(500, 19, 31, 18);
  AvListStat->setText(QStringLiteral("-1"));
  AvListStat->setVisible(false);
}

void TConvMainForm::BuildOptionTabs() {
  ParamsPageControl = new QTabWidget(this);
  ParamsPageControl->setObjectName(QStringLiteral("ParamsPageControl"));
  ParamsPageControl->setGeometry(1, 347, 535, 88);
  ParamsPageControl->setIconSize(QSize(16, 16));
  auto addTab = [this](const char* name, const QString& caption, int icon) {
    auto* page = new QWidget(ParamsPageControl);
    page->setObjectName(QString::fromLatin1(name));
    ParamsPageControl->addTab(page, BarImgList->Icon(icon), caption);
    return page;
  };
  TabShtVideo = addTab("TabShtVideo", QStringLiteral("视频输出参数"), 18);
  TabShtAudio = addTab("TabShtAudio", QStringLiteral("音频输出参数"), 8);
  TabShtOther = addTab("TabShtOther", QStringLiteral("其他设置"), 17);

  struct Place {
    const char* label;
    int lx, ly, lw, sx, sy;
  };
  const Place video[] = {{"视频编码", 8, 12, 55, 60, 8},
                         {"视频码率", 182, 12, 55, 234, 8},
                         {"视频大小", 356, 12, 55, 408, 8},
                         {"视频帧率", 8, 40, 61, 60, 36},
                         {"宽幅比率", 182, 40, 61, 234, 36}};
  const Place audio[] = {{"音频编码", 8, 12, 55, 60, 8},
                         {"音频码率", 182, 12, 55, 234, 8},
                         {"音频通道", 354, 12, 55, 408, 8},
                         {"采样频率", 8, 40, 55, 60, 36}};
  auto addSelector = [this](QWidget* page, const Place& place, const QString& name, int tag) {
    AddLabel(page, QString::fromUtf8(place.label), place.lx, place.ly, place.lw, 13);
    auto* selector = new TComboBoxEx(page);
    selector->setObjectName(name);
    selector->Tag = tag;
    selector->Images = BarImgList;
    selector->setGeometry(place.sx, place.sy, 115, 20);
    return selector;
  };
  for (int i = 1; i <= kVideoSelectors; ++i) {
    CmbExVideo[i] =
        addSelector(TabShtVideo, video[i - 1], QStringLiteral("CmbExVideo%1").arg(i), kTagVdoCodec + i - 1);
    CmbExVideo[i]->OnChange = [this, i] { CmbExVideoChange(i); };
  }
  for (int i = 1; i <= kAudioSelectors; ++i) {
    CmbExAudio[i] =
        addSelector(TabShtAudio, audio[i - 1], QStringLiteral("CmbExAudio%1").arg(i), kTagAdoCodec + i - 1);
    if (i == 1) {
      CmbExAudio[i]->OnChange = [this] { CmbExAudio1Change(); };
    } else {
      CmbExAudio[i]->OnChange = [this, i] { CmbExAudioChange(i); };
    }
  }
  CvFshChkBox = new QCheckBox(QStringLiteral("转换完毕后关闭计算机"), TabShtOther);
  CvFshChkBox->setObjectName(QStringLiteral("CvFshChkBox"));
  CvFshChkBox->setGeometry(6, 10, 150, 25);
  CvFshChkBox->setChecked(false);
  AddLabel(TabShtOther, QStringLiteral("字幕"), 8, 44, 30, 13);
  CmbSubMode = new QComboBox(TabShtOther);
  CmbSubMode->setObjectName(QStringLiteral("CmbSubMode"));
  CmbSubMode->setGeometry(40, 40, 130, 20);
  // The entries carry the encoder's words for them.
  CmbSubMode->addItem(QStringLiteral("保留为可选字幕"), QStringLiteral("keep"));
  CmbSubMode->addItem(QStringLiteral("烧录到画面"), QStringLiteral("burn"));
  CmbSubMode->addItem(QStringLiteral("不保留"), QStringLiteral("none"));
  connect(CmbSubMode, &QComboBox::activated, this, &TConvMainForm::CmbSubModeChange);
  AddLabel(TabShtOther, QStringLiteral("同时转换"), 196, 44, 52, 13);
  CmbConcurrent = new QComboBox(TabShtOther);
  CmbConcurrent->setObjectName(QStringLiteral("CmbConcurrent"));
  CmbConcurrent->setGeometry(252, 40, 80, 20);
  CmbConcurrent->setToolTip(QStringLiteral(
      "同时转换几个文件。自动: 按处理器核数和画面大小决定 (每个文件分得相应的核), 内存不足时少开"));
  // The entries carry the number the setting keeps (0 for 自动).
  CmbConcurrent->addItem(QStringLiteral("自动"), 0);
  for (int n = 1; n <= 4; ++n) CmbConcurrent->addItem(QString::number(n), n);
  connect(CmbConcurrent, &QComboBox::activated, this, &TConvMainForm::CmbConcurrentChange);
  ParamsPageControl->setCurrentIndex(0);
}

void TConvMainForm::BuildStatusBar() {
  ConvStatusBar = new QFrame(this);
  ConvStatusBar->setObjectName(QStringLiteral("ConvStatusBar"));
  ConvStatusBar->setGeometry(0, kClientSize.height() - kStatusBarHeight, kClientSize.width(),
                             kStatusBarHeight);
  ConvStatusPanel1 = new QLabel(ConvStatusBar);
  ConvStatusPanel1->setObjectName(QStringLiteral("ConvStatusPanel1"));
  ConvStatusPanel1->setFrameShape(QFrame::Panel);
  ConvStatusPanel1->setFrameShadow(QFrame::Sunken);
  MsgStatusPanel = new TStatusPanel(ConvStatusBar);
  MsgStatusPanel->setObjectName(QStringLiteral("MsgStatusPanel"));
  MsgStatusPanel->setFrameShape(QFrame::Panel);
  MsgStatusPanel->setFrameShadow(QFrame::Sunken);
  RunStatusPanel = new QLabel(ConvStatusBar);
  RunStatusPanel->setObjectName(QStringLiteral("RunStatusPanel"));
  RunStatusPanel->setFrameShape(QFrame::Panel);
  RunStatusPanel->setFrameShadow(QFrame::Sunken);
  // Plain text during a run; a link once the batch is over.
  RunStatusPanel->setTextFormat(Qt::AutoText);
  RunStatusPanel->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  connect(RunStatusPanel, &QLabel::linkActivated, this, [this] { OpenDirBtnClick(); });
  CvStatusGauge = new QProgressBar(ConvStatusBar);
  CvStatusGauge->setObjectName(QStringLiteral("CvStatusGauge"));
  CvStatusGauge->setRange(0, 100);
  CvStatusGauge->setValue(0);
  CvStatusGauge->setTextVisible(false);
  LayOutStatusBar(kClientSize.width());
}

void TConvMainForm::BuildQueue() {
  ConvQueue = new TConvQueue(this);
  ConvQueue->setObjectName(QStringLiteral("ConvQueue"));
  // Each row's encoder job is built as the row starts, from the choices of
  // that moment. An error there fails that row (the error is shown once the
  // queue has moved on) instead of holding the run.
  ConvQueue->PrepareRow = [](int row) {
    TConvJob job;
    try {
      TConvMainFunc f;
      job = f.ConvCurrentFile(row);
    } catch (const std::exception& e) {
      const TAppError* app = dynamic_cast<const TAppError*>(&e);
      job.error = app ? app->Message : QString::fromUtf8(e.what());
      QTimer::singleShot(0, [message = job.error] { ShowAppError(message); });
    }
    return job;
  };
  // Every row's output is chosen once, before the first row starts.
  ConvQueue->ResolveOutputs = [](QVector<TQueueRow>& rows) {
    bool go = false;
    RunEvent([&] {
      TConvMainFunc f;
      go = f.PlanOutputNames(rows);
    });
    return go;
  };
  // What a row's conversion works on decides how many run at once.
  ConvQueue->WorkOf = [](int row) {
    TEncoderWork work;
    RunEvent([&] {
      TConvMainFunc f;
      work = f.RowWork(row);
    });
    return work;
  };
  // Rows that join a run are given outputs clear of the run's.
  ConvQueue->PlanAppended = [](QVector<TQueueRow>& rows, int first) {
    RunEvent([&] {
      TConvMainFunc f;
      f.PlanAppendedOutputs(rows, first);
    });
  };
  connect(ConvQueue, &TConvQueue::PositionChanged, this,
          [this](int p) { Route([p](TConvMainFunc& f) { f.ShowQueuePosition(p); }); });
  connect(ConvQueue, &TConvQueue::RowStarted, this,
          [this](int row) { Route([row](TConvMainFunc& f) { f.ShowRowStarted(row); }); });
  connect(ConvQueue, &TConvQueue::RowProgress, this,
          [this](int row) { Route([row](TConvMainFunc& f) { f.ShowConvProgress(row); }); });
  connect(ConvQueue, &TConvQueue::RowPercent, this, [this](int row, qint64 percent) {
    Route([row, percent](TConvMainFunc& f) { f.ShowConvPercent(row, percent); });
  });
  connect(ConvQueue, &TConvQueue::RowFinished, this,
          [this](int row) { Route([row](TConvMainFunc& f) { f.ShowRowResult(row); }); });
  connect(ConvQueue, &TConvQueue::HeldBack, this, [this](int row, qint64 needed, qint64 available) {
    Route([=](TConvMainFunc& f) { f.ShowMemoryHold(row, needed, available); });
  });
  connect(ConvQueue, &TConvQueue::RunEnded, this,
          [this](bool stopped) { Route([stopped](TConvMainFunc& f) { f.EndConvRun(stopped); }); });
}

void TConvMainForm::BuildShortcuts() {
  // A disabled button takes no shortcut either: during a run only Stop answers.
  AddAvFileBtn->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  AddAvFileBtn->setToolTip(QStringLiteral("添加视频文件 (Ctrl+O)"));
  DelAvFileBtn->setShortcut(QKeySequence(Qt::Key_Delete));
  DelAvFileBtn->setToolTip(QStringLiteral("删除视频文件 (Delete)"));
  CvAvFileBtn->setShortcut(QKeySequence(Qt::Key_F5));
  CvAvFileBtn->setToolTip(QStringLiteral("转换视频 (F5, Ctrl+Enter)"));
  StopCvAvBtn->setShortcut(QKeySequence(Qt::Key_Escape));
  StopCvAvBtn->setToolTip(QStringLiteral("停止转换 (Esc)"));
  for (const QKeySequence& key :
       {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
    auto* shortcut = new QShortcut(key, this);
    connect(shortcut, &QShortcut::activated, this, [this] {
      if (CvAvFileBtn->isEnabled()) CvAvFileBtn->click();
    });
  }
}

void TConvMainForm::Route(const std::function<void(TConvMainFunc&)>& operations) {
  RunEvent([&] {
    TConvMainFunc func;
    operations(func);
  });
}

void TConvMainForm::FormCreate() {
  Route([](TConvMainFunc& f) { f.ShowSplash(); });
}

void TConvMainForm::FormShow() {
  // The output folder comes first and on its own: no database error can
  // leave it blank.
  Route([](TConvMainFunc& f) {
    f.ShowAppTitle();
    f.LoadSaveDir();
    f.LoadSubtitleMode();
    f.LoadConcurrent();
  });
  Route([](TConvMainFunc& f) {
    f.FillVdoCodec();
    f.FillVdoBitrate();
    f.FillVdoSize();
    f.FillVdoFps();
    f.FillVdoAspect();
    f.FillAdoCodec();
  });
}

void TConvMainForm::FormClose() {
  // A run cut off by the close is interrupted: its row waits again at the next start.
  Route([](TConvMainFunc& f) { f.StopConvQueue(true); });
  AvSaveTimer->stop();
  Route([](TConvMainFunc& f) { f.SaveConvQueue(); });
  BatchStore->Flush();
}

void TConvMainForm::AddAvFileBtnClick() {
  Route([](TConvMainFunc& f) { f.AddAvFile(); });
}
void TConvMainForm::DelAvFileBtnClick() {
  Route([](TConvMainFunc& f) { f.DeleteAvFile(); });
}
void TConvMainForm::ClearAvFileBtnClick() {
  Route([](TConvMainFunc& f) { f.ClearAvFiles(); });
}
void TConvMainForm::CvAvFileBtnClick() {
  Route([](TConvMainFunc& f) { f.StartConvQueue(); });
}
void TConvMainForm::StopCvAvBtnClick() {
  Route([](TConvMainFunc& f) { f.StopConvQueue(); });
}
void TConvMainForm::PlayAvFileBtnClick() {
  Route([](TConvMainFunc& f) { f.PlayAvFile(); });
}
void TConvMainForm::ShowHttpBtnClick() {
  Route([](TConvMainFunc& f) { f.ShowHomePage(); });
}
void TConvMainForm::CmbSubModeChange() {
  Route([](TConvMainFunc& f) { f.StoreSubtitleMode(); });
}
void TConvMainForm::CmbConcurrentChange() {
  Route([](TConvMainFunc& f) { f.StoreConcurrent(); });
}
void TConvMainForm::ShowHelpBtnClick() {
  Route([](TConvMainFunc& f) { f.ShowHelp(); });
}
void TConvMainForm::ExecExitBtnClick() { close(); }
void TConvMainForm::AvFilesListClick() {
  Route([](TConvMainFunc& f) { f.ShowSelectedParams(); });
}
void TConvMainForm::AvFilesListDragDrop(const QStringList& paths, int notLocal) {
  Route([&paths, notLocal](TConvMainFunc& f) { f.AddAvFiles(paths, notLocal); });
}
void TConvMainForm::TakeStartFiles(const QStringList& paths) {
  if (!paths.isEmpty()) AvFilesListDragDrop(paths, 0);
  if (isVisible()) {
    raise();
    activateWindow();
  }
}
void TConvMainForm::AvFilesListCurrentChange(int row) {
  if (row >= 0) Route([](TConvMainFunc& f) { f.ShowCurrentParams(); });
}
void TConvMainForm::AvFilesListActivate() {
  Route([](TConvMainFunc& f) { f.PlayAvFile(); });
}

QMenu* TConvMainForm::BuildRowMenu(int row) {
  if (row < 0 || row >= AvFilesList->RowCount()) return nullptr;
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("AvFilesMenu"));
  auto add = [this, menu](const char* name, const QString& text, bool enabled,
                          std::function<void(TConvMainFunc&)> operation) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    action->setEnabled(enabled);
    connect(action, &QAction::triggered, this, [this, operation] { Route(operation); });
  };
  const bool idle = !ConvQueue->IsRunning() && !AvFileAdder->IsBusy();
  const QString output = AvFilesList->OutputPath(row);
  const bool failedOrStopped = AvFilesList->ImageIndex(row) == kIconStopped;
  add("PlayRowAct", QStringLiteral("播放"), true, [](TConvMainFunc& f) { f.PlayAvFile(); });
  add("OpenRowDirAct", QStringLiteral("打开所在目录"), true,
      [row](TConvMainFunc& f) { f.OpenSourceDir(row); });
  add("OpenRowOutputAct", QStringLiteral("打开输出文件"), !output.isEmpty() && QFileInfo::exists(output),
      [row](TConvMainFunc& f) { f.OpenOutputFile(row); });
  menu->addSeparator();
  add("RemoveRowAct", QStringLiteral("移除"), idle, [](TConvMainFunc& f) { f.DeleteAvFile(); });
  add("ReconvertRowAct", QStringLiteral("重新转换"), idle && failedOrStopped,
      [row](TConvMainFunc& f) { f.ReconvertAvFile(row); });
  return menu;
}

void TConvMainForm::SltDirBtnClick() {
  Route([](TConvMainFunc& f) { f.SelectSaveDir(); });
}
void TConvMainForm::OpenDirBtnClick() {
  Route([](TConvMainFunc& f) { f.OpenSaveDir(); });
}
void TConvMainForm::CmbExVideoChange(int i) {
  Route([this, i](TConvMainFunc& f) { f.SaveItemIndex(CmbExVideo[i]); });
}
void TConvMainForm::CmbExAudio1Change() {
  Route([this](TConvMainFunc& f) {
    f.FillAdoBitrate();
    f.FillAdoChannels();
    f.FillAdoFreq();
    f.SaveItemIndex(CmbExAudio[1]);
  });
}
void TConvMainForm::CmbExAudioChange(int i) {
  Route([this, i](TConvMainFunc& f) { f.SaveItemIndex(CmbExAudio[i]); });
}
void TConvMainForm::AvMsgTimerTimer() {
  Route([](TConvMainFunc& f) { f.PollConvOutput(); });
}

void TConvMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;
  // The show event is an event of its own: its error is shown here and the
  // window still opens. Carried on out of Qt's show, it would leave the window
  // marked visible but never put on the screen.
  ModalScope ownEvent;
  FormShow();
}

void TConvMainForm::closeEvent(QCloseEvent* event) {
  if (!QuitWithoutAsking) {
    bool close = true;
    Route([&close](TConvMainFunc& f) { close = f.ConfirmClose(); });
    if (!close) {
      event->ignore();
      return;
    }
  }
  FormClose();
  // The splash is hidden by now, so closing the main window ends the program.
  event->accept();
}
