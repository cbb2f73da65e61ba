#pragma once
// Shared test support: the main window built the way the program builds it,
// with the window-free support and the captured dialogs.
#include "TestDialogs.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

class TConvMainForm;

namespace TestSupport {

// Creates the data module and the main window as the program's start-up does,
// then shows the main window at once (the splash's hand-over), without waiting
// for the splash timer. Destroys both at the end. A busyWaitMs of 0 or more
// replaces the database's busy wait (3 s in the program) before the window
// is shown.
class MainWindowFixture {
 public:
  explicit MainWindowFixture(int busyWaitMs = -1);
  ~MainWindowFixture();
  TConvMainForm* form() const;
};

// Waits until the window's addition of files is over (its rows are all there); false
// after timeoutMs.
bool WaitForAddition(TConvMainForm* form, int timeoutMs = 30000);

}  // namespace TestSupport
