#include "PowerControl.h"

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

// The login manager (logind) on the system bus.
class LogindPowerControl : public IPowerControl {
 public:
  bool CanPowerOff() override {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return false;
    const QDBusReply<QString> reply =
        bus.call(Request(QStringLiteral("CanPowerOff")), QDBus::Block, kTimeoutMs);
    return reply.isValid() && reply.value() == QLatin1String("yes");
  }

  bool PowerOff() override {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return false;
    // Not interactive: nobody is asked.
    const QDBusMessage reply =
        bus.call(Request(QStringLiteral("PowerOff"), {QVariant(false)}), QDBus::Block, kTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
  }

  // The asynchronous calls: the program stays responsive while logind takes
  // its time (up to the time-out) to answer.
  void AskCanPowerOff(std::function<void(bool)> done) override {
    Call(QStringLiteral("CanPowerOff"), {}, [done](const QDBusMessage& reply) {
      done(reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().toString() == QLatin1String("yes"));
    });
  }

  void AskPowerOff(std::function<void(bool)> done) override {
    Call(QStringLiteral("PowerOff"), {QVariant(false)},
         [done](const QDBusMessage& reply) { done(reply.type() == QDBusMessage::ReplyMessage); });
  }

  void RequestQuit() override {
    if (QCoreApplication* app = QCoreApplication::instance()) {
      QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
    }
  }

 private:
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

IPowerControl*& Current() {
  static IPowerControl* current = nullptr;
  return current;
}

}  // namespace

IPowerControl& PowerControl() {
  static LogindPowerControl system;
  IPowerControl* current = Current();
  return current ? *current : system;
}

void SetPowerControl(IPowerControl* control) { Current() = control; }

}  // namespace Platform
