#pragma once
// Powering the computer off, and the program's orderly end. Reached only
// through this interface, so that a test can put a stand-in in its place.
#include <QString>

#include <functional>

namespace Platform {

class IPowerControl {
 public:
  virtual ~IPowerControl() = default;
  // Whether this user may power the computer off without being asked.
  virtual bool CanPowerOff() = 0;
  // Asks the system to shut down and power off; false when it refused.
  virtual bool PowerOff() = 0;
  // Ends the program once the current event has returned.
  virtual void RequestQuit() = 0;
  // Why the last question was answered no, in the user's language (the
  // system's own words may follow in parentheses); "" when nothing is known.
  virtual QString Refusal() const { return QString(); }

  // The same two questions without waiting for the answer: done is called
  // with it later, from the event loop. By default they are asked at once.
  virtual void AskCanPowerOff(std::function<void(bool)> done) { done(CanPowerOff()); }
  virtual void AskPowerOff(std::function<void(bool)> done) { done(PowerOff()); }
};

// The instance in use: the system's login manager over D-Bus, unless one was set.
IPowerControl& PowerControl();
// Puts another instance in place (not owned); nullptr restores the system's.
void SetPowerControl(IPowerControl* control);

}  // namespace Platform
