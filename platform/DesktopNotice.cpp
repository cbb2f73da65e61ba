#include "DesktopNotice.h"

#include "Platform.h"
#include "ServiceSlot.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <map>
#include <QFileInfo>
#include <QVariantMap>

namespace Platform {

namespace {

// Whether a session bus is there to be reached. Without one, connecting would
// ask the bus library to start a bus of its own ("autolaunch"): a notice is
// not worth a new daemon.
bool SessionBusKnown() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kActionKey = QStringLiteral("open");

}  // namespace

// The actions of the notices shown, by the notice's id, until it closes.
class NoticeActions : public QObject {
  Q_OBJECT
 public:
  std::map<uint, std::function<void()>> pending;

 public slots:
  void Invoked(uint id, const QString& key) {
    const auto it = pending.find(id);
    if (it == pending.end() || (key != kActionKey && key != QLatin1String("default"))) return;
    const std::function<void()> action = it->second;
    pending.erase(it);
    if (action) action();
  }
  void Closed(uint id, uint) { pending.erase(id); }
};

namespace {

class FreedesktopNotice : public IDesktopNotice {
 public:
  void Notify(const QString& title, const QString& body) override { Notify(title, body, QString(), nullptr); }

  void Notify(const QString& title, const QString& body, const QString& action,
              std::function<void()> onAction) override {
    if (!SessionBusKnown()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("vidmora"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout
    QStringList actions;
    if (onAction) actions << kActionKey << action;
    call << AppTitle() << 0u << QStringLiteral("vidmora") << title << body << actions << hints << -1;
    // Sent without waiting for the answer; an error reply is dropped.
    call.setAutoStartService(true);
    const QDBusPendingCall reply = bus.asyncCall(call);
    if (!onAction) return;
    if (!actions_) {
      actions_ = new NoticeActions();
      bus.connect(kService, kPath, kService, QStringLiteral("ActionInvoked"), actions_,
                  SLOT(Invoked(uint, QString)));
      bus.connect(kService, kPath, kService, QStringLiteral("NotificationClosed"), actions_,
                  SLOT(Closed(uint, uint)));
    }
    // The notice's id comes with the answer; the action waits for it.
    auto* watcher = new QDBusPendingCallWatcher(reply, actions_);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, actions_,
                     [this, watcher, onAction = std::move(onAction)] {
                       const QDBusPendingReply<uint> id = *watcher;
                       if (!id.isError()) actions_->pending[id.value()] = onAction;
                       watcher->deleteLater();
                     });
  }

 private:
  NoticeActions* actions_ = nullptr;  // lives as long as the program
};

TServiceSlot<IDesktopNotice, FreedesktopNotice>& Slot() {
  static TServiceSlot<IDesktopNotice, FreedesktopNotice> slot;
  return slot;
}

}  // namespace

IDesktopNotice& DesktopNotice() { return Slot().Get(); }

void SetDesktopNotice(IDesktopNotice* notice) { Slot().Set(notice); }

}  // namespace Platform

#include "DesktopNotice.moc"
