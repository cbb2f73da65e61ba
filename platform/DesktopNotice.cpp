#include "DesktopNotice.h"

#include "Platform.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
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

class FreedesktopNotice : public IDesktopNotice {
 public:
  void Notify(const QString& title, const QString& body) override {
    if (!SessionBusKnown()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("vidmora"));
    // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout
    call << AppTitle() << 0u << QStringLiteral("vidmora") << title << body << QStringList() << hints << -1;
    // Sent without waiting for the answer; an error reply is dropped.
    call.setAutoStartService(true);
    bus.asyncCall(call);
  }
};

IDesktopNotice*& Current() {
  static IDesktopNotice* current = nullptr;
  return current;
}

}  // namespace

IDesktopNotice& DesktopNotice() {
  static FreedesktopNotice system;
  IDesktopNotice* current = Current();
  return current ? *current : system;
}

void SetDesktopNotice(IDesktopNotice* notice) { Current() = notice; }

}  // namespace Platform
