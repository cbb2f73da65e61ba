#include "Shell.h"

#include "AppError.h"
#include "Platform.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QUrl>

namespace Shell {

namespace {
// Wherever the desktop layer is part of the program, errors that end an event
// are shown in its message box.
[[maybe_unused]] const bool g_errorBoxInstalled = [] {
  SetAppErrorHandler([](const QString& text) { MessageBox(nullptr, text, Platform::AppTitle()); });
  return true;
}();
}  // namespace

Hooks& TestHooks() {
  static Hooks hooks;
  return hooks;
}

void MessageBox(QWidget* owner, const QString& text, const QString& caption) {
  if (TestHooks().message) {
    TestHooks().message(caption, text);
    return;
  }
  QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok, owner);
  ModalScope modal;
  box.exec();
}

int Question(QWidget* owner, const QString& caption, const QString& text, const QStringList& buttons,
             int defaultButton) {
  if (TestHooks().question) return TestHooks().question(caption, text, buttons, defaultButton);
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, owner);
  QList<QAbstractButton*> added;
  for (int i = 0; i < buttons.size(); ++i) {
    const bool last = i == buttons.size() - 1;
    QPushButton* b = box.addButton(buttons[i], last ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
    if (i == defaultButton) box.setDefaultButton(b);
    if (last) box.setEscapeButton(b);
    added << b;
  }
  {
    ModalScope modal;
    box.exec();
  }
  const int answer = static_cast<int>(added.indexOf(box.clickedButton()));
  return answer < 0 ? static_cast<int>(buttons.size()) - 1 : answer;
}

std::optional<QString> BrowseForFolder(QWidget* owner, const QString& title, const QString& startDir) {
  if (TestHooks().browseFolder) return TestHooks().browseFolder(title, startDir);
  ModalScope modal;
  const QString dir = QFileDialog::getExistingDirectory(owner, title, startDir, QFileDialog::ShowDirsOnly);
  if (dir.isEmpty()) return std::nullopt;
  return dir;
}

QString QtFilterFromWindowsFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    out << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
  }
  return out.join(QStringLiteral(";;"));
}

std::optional<QStringList> ChooseOpenFiles(QWidget* owner, const QString& title, const QString& filter,
                                           const QString& startDir) {
  if (TestHooks().openFiles) return TestHooks().openFiles(title, filter, startDir);
  ModalScope modal;
  const QStringList files =
      QFileDialog::getOpenFileNames(owner, title, startDir, QtFilterFromWindowsFilter(filter));
  if (files.isEmpty()) return std::nullopt;
  return files;
}

void OpenDocument(const QString& target) {
  if (TestHooks().open) {
    TestHooks().open(target);
    return;
  }
  const QUrl url = target.contains(QStringLiteral("://")) ? QUrl(target) : QUrl::fromLocalFile(target);
  QDesktopServices::openUrl(url);
}

}  // namespace Shell
