#pragma once
// A notice on the desktop (the freedesktop notification service over D-Bus).
// Reached only through this interface, so that a test can put a stand-in in
// its place.
#include <QString>

namespace Platform {

class IDesktopNotice {
 public:
  virtual ~IDesktopNotice() = default;
  // Shows a notice with a title and a body. Does not wait: a desktop without
  // a notification service is no error and nothing is reported.
  virtual void Notify(const QString& title, const QString& body) = 0;
};

// The instance in use: the session bus's notification service, unless one was set.
IDesktopNotice& DesktopNotice();
// Puts another instance in place (not owned); nullptr restores the system's.
void SetDesktopNotice(IDesktopNotice* notice);

}  // namespace Platform
