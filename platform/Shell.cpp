#include "Shell.h"

#include "AppError.h"
#include "Platform.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
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

std::optional<QString> ChooseOpenFile(QWidget* owner, const QString& title, const QString& filter) {
  if (TestHooks().openFile) return TestHooks().openFile(title, filter);
  ModalScope modal;
  const QString file =
      QFileDialog::getOpenFileName(owner, title, QString(), QtFilterFromWindowsFilter(filter));
  if (file.isEmpty()) return std::nullopt;
  return file;
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
