#include "TestDialogs.h"

#include "platform/Shell.h"

namespace TestSupport {

CapturedDialogs::CapturedDialogs() {
  Shell::Hooks& hooks = Shell::TestHooks();
  hooks.message = [this](const QString& caption, const QString& text) {
    messages.emplace_back(caption, text);
  };
  hooks.open = [this](const QString& target) { opened << target; };
  hooks.browseFolder = [this](const QString& title, const QString& startDir) -> std::optional<QString> {
    folderTitles << title;
    folderStarts << startDir;
    if (folderAnswers.empty()) return std::nullopt;
    std::optional<QString> answer = folderAnswers.front();
    folderAnswers.erase(folderAnswers.begin());
    return answer;
  };
  hooks.question = [this](const QString& caption, const QString& text, const QStringList& buttons,
                          int defaultButton) {
    questions.push_back({caption, text, buttons, defaultButton});
    if (questionAnswers.empty()) return static_cast<int>(buttons.size()) - 1;
    const int answer = questionAnswers.front();
    questionAnswers.erase(questionAnswers.begin());
    return answer;
  };
  hooks.openFiles = [this](const QString& title, const QString& filter,
                           const QString& startDir) -> std::optional<QStringList> {
    fileTitles << title;
    fileFilters << filter;
    fileStarts << startDir;
    if (!filesAnswers.empty()) {
      std::optional<QStringList> answer = filesAnswers.front();
      filesAnswers.erase(filesAnswers.begin());
      return answer;
    }
    if (fileAnswers.empty()) return std::nullopt;
    const std::optional<QString> answer = fileAnswers.front();
    fileAnswers.erase(fileAnswers.begin());
    if (!answer) return std::nullopt;
    return QStringList{*answer};
  };
}

CapturedDialogs::~CapturedDialogs() { Shell::TestHooks() = Shell::Hooks{}; }

}  // namespace TestSupport
