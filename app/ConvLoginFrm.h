#pragma once
#include <QWidget>

class QLabel;
class QTimer;

// The splash window: a frameless 380 x 240 picture with a 2000 ms timer that
// hands over to the main window once.
class TConvLoginForm : public QWidget {
  Q_OBJECT
 public:
  explicit TConvLoginForm(QWidget* parent = nullptr);
  QLabel* ImageBak = nullptr;
  QTimer* LoginTimer = nullptr;

 private:
  void LoginTimerTimer();
};

extern TConvLoginForm* ConvLoginForm;
