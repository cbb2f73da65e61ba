#pragma once
// A notice on the desktop (the freedesktop notification service over D-Bus).
// Reached only through this interface, so that a test can put a stand-in in
// its place.
#include <QString>

#include <functional>

namespace Platform {

class IDesktopNotice {
 public:
  virtual ~IDesktopNotice() = default;
  // Shows a notice with a title and a body. Does not wait: a desktop without
  // a notification service is no error and nothing is reported.
  virtual void Notify(const QString& title, const QString& body) = 0;
  // The same notice with one action offered on it (a button where the
  // desktop shows them); onAction runs on this thread when the user picks it.
  // Where actions are not shown, the notice comes without it.
  virtual void Notify(const QString& title, const QString& body, const QString& action,
                      std::function<void()> onAction) {
    Q_UNUSED(action);
    Q_UNUSED(onAction);
    Notify(title, body);
  }
};

// The instance in use: the session bus's notification service, unless one was set.
IDesktopNotice& DesktopNotice();
// Puts another instance in place (not owned); nullptr restores the system's.
void SetDesktopNotice(IDesktopNotice* notice);

}  // namespace Platform
