#pragma once
// The preview window: a dark panel the external player draws into, a position
// readout, play and stop buttons and a seek track bar. Every event runs through
// a fresh TPlayMainFunc.
#include <QDialog>
#include <QSlider>

#include <functional>

class QLabel;
class QTimer;
class QToolButton;
class TPlayMainFunc;

// The panel the player draws into. It has a native window of its own whose
// handle is handed to the player.
class TPlayPanel : public QWidget {
  Q_OBJECT
 public:
  explicit TPlayPanel(QWidget* parent = nullptr);
  static constexpr unsigned kColour = 0x101010;  // also the player's colour key

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The seek track bar: a press on the track puts the thumb where it was
// pressed and takes it (a drag goes on from there), the thumb can be dragged,
// the wheel and the keyboard do nothing, and the release of any mouse button
// over it raises MouseUp.
class TSkinTrackBar : public QSlider {
  Q_OBJECT
 public:
  explicit TSkinTrackBar(QWidget* parent = nullptr);

 signals:
  void MouseUp();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

class TPlayMainForm : public QDialog {
  Q_OBJECT
 public:
  explicit TPlayMainForm(QWidget* parent = nullptr);
  ~TPlayMainForm() override;

  // Controls, in the order they are created.
  TPlayPanel* RzPlayPanel = nullptr;
  QLabel* RzLabBgTime = nullptr;
  QLabel* RzLabLine = nullptr;
  QLabel* RzLabEdTime = nullptr;
  QLabel* RzLabFile = nullptr;
  QToolButton* SptBtnPlay = nullptr;
  QToolButton* SpdBtnStop = nullptr;
  TSkinTrackBar* SkinTrkBar = nullptr;
  QTimer* PlayTimer = nullptr;

  // Event handlers.
  void FormShow();
  void FormClose();
  void SptBtnPlayClick();
  void SpdBtnStopClick();
  void PlayTimerTimer();
  void SkinTrkBarMouseUp();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Creates one controller, runs the operation and frees it. Each event of this
  // window is an event of its own modal loop: an error ends that event only.
  void Route(const std::function<void(TPlayMainFunc&)>& operation);
  QLabel* AddLabel(const char* name, const QString& text, int x, int y, int w, int h);
  QToolButton* AddSpeedButton(const char* name, const QString& hint, const QString& glyph, int x,
                              void (TPlayMainForm::*handler)());
};

// The open preview window, set by PlayAvFile while the window lives.
extern TPlayMainForm* PlayMainForm;
