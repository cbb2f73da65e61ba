#include "ConvLoginFrm.h"

#include "ConvMainFunc.h"
#include "platform/AppError.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <QTimer>

TConvLoginForm* ConvLoginForm = nullptr;

TConvLoginForm::TConvLoginForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::SplashScreen) {
  setObjectName(QStringLiteral("ConvLoginForm"));
  setWindowTitle(QStringLiteral("Vidmora 启动"));
  setFixedSize(380, 240);
  ImageBak = new QLabel(this);
  ImageBak->setObjectName(QStringLiteral("ImageBak"));
  ImageBak->setGeometry(0, 0, 380, 240);
  QPixmap picture(380, 240);
  picture.fill(QColor(0x1d, 0x4e, 0x89));
  QSvgRenderer renderer(QStringLiteral(":/splash.svg"));
  if (renderer.isValid()) {
    QPainter painter(&picture);
    renderer.render(&painter, QRectF(0, 0, 380, 240));
  }
  ImageBak->setPixmap(picture);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  LoginTimer = new QTimer(this);
  LoginTimer->setObjectName(QStringLiteral("LoginTimer"));
  LoginTimer->setInterval(2000);
  connect(LoginTimer, &QTimer::timeout, this, &TConvLoginForm::LoginTimerTimer);
  LoginTimer->start();
}

void TConvLoginForm::LoginTimerTimer() {
  RunEvent([] {
    TConvMainFunc func;
    func.EndSplash();
  });
  // Disabled only after the handover has run, so it happens once.
  LoginTimer->stop();
}
