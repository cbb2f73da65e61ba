#pragma once
// Shared test support: the main window built the way the program builds it,
// and captured message boxes and dialogs (with the window-free support).
#include "TestCore.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

class TConvMainForm;

namespace TestSupport {

// Message boxes, folder chooser, open dialog and shell requests are captured
// while one of these lives.
class CapturedDialogs {
 public:
  CapturedDialogs();
  ~CapturedDialogs();
  // Every message box shown, as (caption, text).
  std::vector<std::pair<QString, QString>> messages;
  // Every shell open request.
  QStringList opened;
  // Answers for the next folder chooser / open dialog (nothing = cancel).
  std::vector<std::optional<QString>> folderAnswers;
  std::vector<std::optional<QString>> fileAnswers;
  QStringList folderTitles;
  QStringList folderStarts;  // where each folder chooser opened
  QStringList fileTitles;
};

// Creates the data module and the main window as the program's start-up does,
// then shows the main window at once (the splash's hand-over), without waiting
// for the splash timer. Destroys both at the end.
class MainWindowFixture {
 public:
  MainWindowFixture();
  ~MainWindowFixture();
  TConvMainForm* form() const;
};

}  // namespace TestSupport
