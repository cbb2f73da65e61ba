#pragma once
// Dialogs and shell requests. Each one can be replaced by a test hook, so that
// tests never open a modal window or start another program.
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace Shell {

// An information box with an OK button only.
void MessageBox(QWidget* owner, const QString& text, const QString& caption);
// A question with the given buttons, in this order; defaultButton (the first
// unless said) is what Enter answers, the last is what Esc and closing the box
// answer. Returns the index of the answer.
int Question(QWidget* owner, const QString& caption, const QString& text, const QStringList& buttons,
             int defaultButton = 0);
// The folder chooser, opened at startDir; nothing when the user cancels.
std::optional<QString> BrowseForFolder(QWidget* owner, const QString& title,
                                       const QString& startDir = QString());
// The open-file dialog, opened in startDir, for one file or several; nothing
// when the user cancels. The filter is "Description|*.a;*.b[|Description|*]";
// the dialog's list of filters shows the descriptions only.
std::optional<QStringList> ChooseOpenFiles(QWidget* owner, const QString& title, const QString& filter,
                                           const QString& startDir);
// Opens a document, a folder or an address with the desktop's handler. A local
// path is opened as a file URL. When it cannot be (a local path that does not
// exist, no program on the desktop that opens things, such as xdg-open), a
// message box captioned "提示" says so, naming it; false then.
bool OpenDocument(const QString& pathOrUrl);

struct Hooks {
  std::function<void(const QString& caption, const QString& text)> message;
  std::function<std::optional<QString>(const QString& title, const QString& startDir)> browseFolder;
  std::function<std::optional<QStringList>(const QString& title, const QString& filter, const QString& startDir)>
      openFiles;
  std::function<void(const QString& target)> open;
  std::function<int(const QString& caption, const QString& text, const QStringList& buttons, int defaultButton)>
      question;
};
// Tests set these; an empty hook means the real dialog or request.
Hooks& TestHooks();

// "Description|*.a;*.b" in the form the Qt file dialog takes.
QString QtFilterFromWindowsFilter(const QString& filter);

}  // namespace Shell
