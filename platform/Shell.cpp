#include "Shell.h"

#include "AppError.h"
#include "Platform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
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
  // The filter list shows the entries' names ("媒体文件"), not their patterns.
  const QStringList files = QFileDialog::getOpenFileNames(
      owner, title, startDir, QtFilterFromWindowsFilter(filter), nullptr, QFileDialog::HideNameFilterDetails);
  if (files.isEmpty()) return std::nullopt;
  return files;
}

bool OpenDocument(const QString& target) {
  const bool web = target.contains(QStringLiteral("://"));
  const QString shown = web ? target : QDir::toNativeSeparators(target);
  if (!web && !QFileInfo::exists(target)) {
    MessageBox(QApplication::activeWindow(), QStringLiteral("无法打开 %1: 它不存在。").arg(shown),
               QStringLiteral("提示"));
    return false;
  }
  if (TestHooks().open) {
    TestHooks().open(target);
    return true;
  }
  const QUrl url = web ? QUrl(target) : QUrl::fromLocalFile(target);
  if (QDesktopServices::openUrl(url)) return true;
  // Qt has said why on standard error; the user is told here.
  MessageBox(QApplication::activeWindow(),
             QStringLiteral(
                 "无法打开 %1: 没有找到可以打开它的程序。请安装 xdg-utils (或桌面环境的文件管理器和浏览器)。")
                 .arg(shown),
             QStringLiteral("提示"));
  return false;
}

}  // namespace Shell
