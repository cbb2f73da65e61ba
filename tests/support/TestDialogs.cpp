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
  hooks.question = [this](const QString& caption, const QString& text, const QStringList& buttons) {
    questions.push_back({caption, text, buttons});
    if (questionAnswers.empty()) return static_cast<int>(buttons.size()) - 1;
    const int answer = questionAnswers.front();
    questionAnswers.erase(questionAnswers.begin());
    return answer;
  };
  hooks.openFile = [this](const QString& title, const QString&) -> std::optional<QString> {
    fileTitles << title;
    if (fileAnswers.empty()) return std::nullopt;
    std::optional<QString> answer = fileAnswers.front();
    fileAnswers.erase(fileAnswers.begin());
    return answer;
  };
}

CapturedDialogs::~CapturedDialogs() { Shell::TestHooks() = Shell::Hooks{}; }

}  // namespace TestSupport
