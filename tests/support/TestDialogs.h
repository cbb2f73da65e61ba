#pragma once
// Captured message boxes, choosers and shell requests: no modal window opens
// and no other program starts while a test runs.
#include "TestCore.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

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
  // Each answer of the open dialog is one file, or several in filesAnswers
  // (taken first while it holds any).
  std::vector<std::optional<QString>> fileAnswers;
  std::vector<std::optional<QStringList>> filesAnswers;
  QStringList folderTitles;
  QStringList folderStarts;  // where each folder chooser opened
  QStringList fileTitles;
  QStringList fileStarts;   // where each open dialog opened
  QStringList fileFilters;  // the filter each open dialog offered
  // Every question asked, and the answers to give (button indices; none left =
  // the last button, as closing the box).
  struct Question {
    QString caption, text;
    QStringList buttons;
    int defaultButton = 0;
  };
  std::vector<Question> questions;
  std::vector<int> questionAnswers;
};

}  // namespace TestSupport
