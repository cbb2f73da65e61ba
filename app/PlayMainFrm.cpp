#include "PlayMainFrm.h"

#include "PlayMainFunc.h"
#include "platform/AppError.h"
#include "player/PlayerCore.h"

#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QToolButton>

TPlayMainForm* PlayMainForm = nullptr;

namespace {

// The glyph of a speed button from the resources, or a plain drawing of it
// when the resource is not there.
QIcon Glyph(const QString& resource, bool play) {
  if (QFile::exists(resource)) return QIcon(resource);
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x26, 0x2e, 0x38));
  if (play) {
    QPainterPath triangle;
    triangle.moveTo(4.5, 2.5);
    triangle.lineTo(13.5, 8);
    triangle.lineTo(4.5, 13.5);
    triangle.closeSubpath();
    painter.drawPath(triangle);
  } else {
    painter.drawRect(QRectF(3.5, 3.5, 9, 9));
  }
  return QIcon(pixmap);
}

}  // namespace

TPlayPanel::TPlayPanel(QWidget* parent) : QWidget(parent) {
  // A window of its own, so that another process can draw into it.
  setAttribute(Qt::WA_NativeWindow);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(false);
}

void TPlayPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor::fromRgb(kColour));
}

TSkinTrackBar::TSkinTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
  setFocusPolicy(Qt::NoFocus);
}

void TSkinTrackBar::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::LeftButton) return;
  QStyleOptionSlider option;
  initStyleOption(&option);
  const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
  const QPoint at = event->position().toPoint();
  if (!handle.contains(at)) {
    // The thumb comes to the point pressed, centred under the mouse, and is
    // taken there: the value is the point's second, not one page step on.
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const int span = groove.width() - handle.width();
    const int from = at.x() - groove.x() - handle.width() / 2;
    setValue(QStyle::sliderValueFromPosition(minimum(), maximum(), qBound(0, from, span), span,
                                             option.upsideDown));
    // Taken where it now is, however narrow the thumb is against a second.
    initStyleOption(&option);
    const QPoint grip =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this).center();
    QMouseEvent press(event->type(), QPointF(grip), mapToGlobal(QPointF(grip)), event->button(),
                      event->buttons(), event->modifiers());
    QSlider::mousePressEvent(&press);
    return;
  }
  QSlider::mousePressEvent(event);
}

void TSkinTrackBar::mouseReleaseEvent(QMouseEvent* event) {
  QSlider::mouseReleaseEvent(event);
  event->accept();
  emit MouseUp();
}

void TSkinTrackBar::wheelEvent(QWheelEvent* event) { event->accept(); }

void TSkinTrackBar::keyPressEvent(QKeyEvent* event) { event->ignore(); }

TPlayMainForm::TPlayMainForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("PlayMainForm"));
  setWindowTitle(QStringLiteral("多媒体播放器"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(365, 322);
  setSizeGripEnabled(false);

  RzPlayPanel = new TPlayPanel(this);
  RzPlayPanel->setObjectName(QStringLiteral("RzPlayPanel"));
  RzPlayPanel->setGeometry(0, 0, 365, 273);
  // What a player drew stays in the panel's window after the player has gone;
  // the panel paints itself dark again once no player draws into it.
  connect(&TPlayerProcesses::Instance(), &TPlayerProcesses::PlayerEnded, RzPlayPanel,
          [panel = RzPlayPanel] { panel->update(); });
  // The clock follows the player as soon as it says where its picture is.
  connect(&TPlayerProcesses::Instance(), &TPlayerProcesses::PositionReported, this, [this] {
    if (PlayMainForm == this) Route([](TPlayMainFunc& f) { f.FollowPlayer(); });
  });

  RzLabBgTime = AddLabel("RzLabBgTime", QStringLiteral("00:00:00"), 128, 278, 49, 13);
  RzLabLine = AddLabel("RzLabLine", QStringLiteral("/"), 176, 278, 13, 13);
  RzLabEdTime = AddLabel("RzLabEdTime", QStringLiteral("00:00:00"), 188, 278, 49, 13);
  RzLabFile = AddLabel("RzLabFile", QString(), 246, 278, 115, 13);
  RzLabFile->setVisible(false);

  SptBtnPlay = AddSpeedButton("SptBtnPlay", QStringLiteral("播放"), QStringLiteral(":/play.svg"), 6,
                              &TPlayMainForm::SptBtnPlayClick);
  SpdBtnStop = AddSpeedButton("SpdBtnStop", QStringLiteral("停止"), QStringLiteral(":/stop.svg"), 36,
                              &TPlayMainForm::SpdBtnStopClick);

  SkinTrkBar = new TSkinTrackBar(this);
  SkinTrkBar->setObjectName(QStringLiteral("SkinTrkBar"));
  SkinTrkBar->setGeometry(66, 295, 294, 20);
  SkinTrkBar->setRange(0, 100);
  SkinTrkBar->setValue(0);
  connect(SkinTrkBar, &TSkinTrackBar::MouseUp, this, &TPlayMainForm::SkinTrkBarMouseUp);

  PlayTimer = new QTimer(this);
  PlayTimer->setObjectName(QStringLiteral("PlayTimer"));
  PlayTimer->setInterval(1000);
  connect(PlayTimer, &QTimer::timeout, this, &TPlayMainForm::PlayTimerTimer);

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

TPlayMainForm::~TPlayMainForm() {
  if (PlayMainForm == this) PlayMainForm = nullptr;
}

QLabel* TPlayMainForm::AddLabel(const char* name, const QString& text, int x, int y, int w, int h) {
  auto* label = new QLabel(text, this);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(x, y, w, h);
  label->setAlignment(Qt::AlignCenter);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, Qt::black);
  label->setPalette(palette);
  QFont font = label->font();
  font.setPixelSize(11);
  label->setFont(font);
  return label;
}

QToolButton* TPlayMainForm::AddSpeedButton(const char* name, const QString& hint, const QString& glyph, int x,
                                           void (TPlayMainForm::*handler)()) {
  auto* button = new QToolButton(this);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(x, 292, 25, 25);
  button->setToolTip(hint);
  button->setIcon(Glyph(glyph, handler == &TPlayMainForm::SptBtnPlayClick));
  button->setIconSize(QSize(16, 16));
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  connect(button, &QToolButton::clicked, this, [this, handler] { (this->*handler)(); });
  return button;
}

void TPlayMainForm::Route(const std::function<void(TPlayMainFunc&)>& operation) {
  // The window's events come from its own modal loop, which PlayAvFile runs
  // as a modal scope: an error is shown here and the window stays.
  RunEvent([&] {
    TPlayMainFunc func;
    operation(func);
  });
}

void TPlayMainForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TPlayMainForm::closeEvent(QCloseEvent* event) {
  FormClose();
  QDialog::closeEvent(event);
}

void TPlayMainForm::keyPressEvent(QKeyEvent* event) {
  // Escape closes the window the way its close button does, through the close
  // event (which stops the player), not behind its back.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    close();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TPlayMainForm::FormShow() {
  Route([this](TPlayMainFunc& f) { f.StartPlay(RzLabFile->text()); });
}
void TPlayMainForm::FormClose() {
  Route([](TPlayMainFunc& f) { f.StopPlay(); });
}
void TPlayMainForm::SptBtnPlayClick() {
  Route([this](TPlayMainFunc& f) { f.StartPlay(RzLabFile->text()); });
}
void TPlayMainForm::SpdBtnStopClick() {
  Route([](TPlayMainFunc& f) { f.StopPlay(); });
}
void TPlayMainForm::PlayTimerTimer() {
  Route([](TPlayMainFunc& f) { f.StepClock(); });
}
void TPlayMainForm::SkinTrkBarMouseUp() {
  Route([this](TPlayMainFunc& f) { f.SeekPlay(RzLabFile->text()); });
}
