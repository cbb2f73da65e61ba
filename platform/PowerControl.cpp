#include "PowerControl.h"

#include "ServiceSlot.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QMetaObject>

namespace Platform {

namespace {

const char kService[] = "org.freedesktop.login1";
const char kPath[] = "/org/freedesktop/login1";
const char kInterface[] = "org.freedesktop.login1.Manager";
constexpr int kTimeoutMs = 10000;

// A call of one of the login manager's methods.
QDBusMessage Request(const QString& method, const QVariantList& args = {}) {
  QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                                     QLatin1String(kInterface), method);
  call.setArguments(args);
  return call;
}

const char kNoManager[] = "找不到系统的登录管理器";

// The reason of a failed call: no login manager to ask, or its own refusal.
QString CallRefusal(const QDBusMessage& reply, const char* refused) {
  if (reply.errorName().isEmpty()) return QString::fromUtf8(kNoManager);  // no system bus
  const bool absent = reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
                      reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
                      reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoServer");
  QString reason = QString::fromUtf8(absent ? kNoManager : refused);
  const QString own = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
  return reason + QStringLiteral(" (") + own + QLatin1Char(')');
}

// The reason of a CanPowerOff answer other than "yes".
QString AnswerRefusal(const QString& answer) {
  if (answer == QLatin1String("challenge")) return QStringLiteral("关机需要管理员授权 (challenge)");
  if (answer == QLatin1String("na")) return QStringLiteral("此系统不支持关机 (na)");
  return QStringLiteral("系统不允许当前用户关机 (%1)").arg(answer);
}

// The login manager (logind) on the system bus.
class LogindPowerControl : public IPowerControl {
 public:
  bool CanPowerOff() override {
    return CanFrom(QDBusConnection::systemBus().isConnected()
                       ? QDBusConnection::systemBus().call(Request(QStringLiteral("CanPowerOff")),
                                                           QDBus::Block, kTimeoutMs)
                       : QDBusMessage::createError(QString(), QString()));
  }

  bool PowerOff() override {
    // Not interactive: nobody is asked.
    return OffFrom(QDBusConnection::systemBus().isConnected()
                       ? QDBusConnection::systemBus().call(
                             Request(QStringLiteral("PowerOff"), {QVariant(false)}), QDBus::Block, kTimeoutMs)
                       : QDBusMessage::createError(QString(), QString()));
  }

  // The asynchronous calls: the program stays responsive while logind takes
  // its time (up to the time-out) to answer.
  void AskCanPowerOff(std::function<void(bool)> done) override {
    Call(QStringLiteral("CanPowerOff"), {},
         [this, done](const QDBusMessage& reply) { done(CanFrom(reply)); });
  }

  void AskPowerOff(std::function<void(bool)> done) override {
    Call(QStringLiteral("PowerOff"), {QVariant(false)},
         [this, done](const QDBusMessage& reply) { done(OffFrom(reply)); });
  }

  QString Refusal() const override { return refusal_; }

  void RequestQuit() override {
    if (QCoreApplication* app = QCoreApplication::instance()) {
      QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
    }
  }

 private:
  bool CanFrom(const QDBusMessage& reply) {
    refusal_.clear();
    if (reply.type() != QDBusMessage::ReplyMessage) {
      refusal_ = CallRefusal(reply, "登录管理器没有回答能否关机");
      return false;
    }
    const QString answer = reply.arguments().isEmpty() ? QString() : reply.arguments().first().toString();
    if (answer == QLatin1String("yes")) return true;
    refusal_ = AnswerRefusal(answer);
    return false;
  }

  bool OffFrom(const QDBusMessage& reply) {
    refusal_.clear();
    if (reply.type() == QDBusMessage::ReplyMessage) return true;
    refusal_ = CallRefusal(reply, "系统拒绝了关机请求");
    return false;
  }

  QString refusal_;

  static void Call(const QString& method, const QVariantList& args,
                   std::function<void(const QDBusMessage&)> done);
};

void LogindPowerControl::Call(const QString& method, const QVariantList& args,
                              std::function<void(const QDBusMessage&)> done) {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) {
    // Answered from the event loop all the same, as a real call would be.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [done] { done(QDBusMessage::createError(QString(), QString())); },
        Qt::QueuedConnection);
    return;
  }
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(Request(method, args), kTimeoutMs),
                                              QCoreApplication::instance());
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [done](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    done(w->reply());
  });
}

TServiceSlot<IPowerControl, LogindPowerControl>& Slot() {
  static TServiceSlot<IPowerControl, LogindPowerControl> slot;
  return slot;
}

}  // namespace

IPowerControl& PowerControl() { return Slot().Get(); }

void SetPowerControl(IPowerControl* control) { Slot().Set(control); }

}  // namespace Platform
