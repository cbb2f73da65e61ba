#include "TestSupport.h"

#include "app/ConvLoginFrm.h"
#include "app/ConvMainFrm.h"
#include "app/ConvMainFunc.h"
#include "params/DataModule.h"
#include "platform/AppError.h"
#include "platform/Platform.h"
#include "platform/Shell.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QtTest>

namespace TestSupport {

QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
  return f.readAll();
}

void WriteBytes(const QString& path, const QByteArray& data) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(f.write(data), data.size());
}

QString BuiltAppDir() { return QStringLiteral(VIDMORA_APP_DIR); }
QString SourceDir() { return QStringLiteral(VIDMORA_SOURCE_DIR); }

TempAppDir::TempAppDir() : TempAppDir(Options{}) {}

TempAppDir::TempAppDir(const Options& options) {
  const QString built = BuiltAppDir() + QLatin1Char('/');
  auto link = [&](const QString& name) {
    const QString target =
        QFileInfo(built + name).exists() ? QFileInfo(built + name).canonicalFilePath() : built + name;
    QFile::link(target, File(name));
  };
  if (options.sqliteLib) link(QString::fromLatin1(Platform::kSqliteLibFile));
  if (options.encoder) link(QString::fromLatin1(Platform::kEncoderFile));
  if (options.player) link(QString::fromLatin1(Platform::kPlayerFile));
  if (options.database) {
    QFile::copy(built + QLatin1String(Platform::kDatabaseFile),
                File(QString::fromLatin1(Platform::kDatabaseFile)));
    QFile(File(QString::fromLatin1(Platform::kDatabaseFile)))
        .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  }
  if (options.saveDir) QDir().mkpath(File(QString::fromLatin1(Platform::kDefaultSaveDir)));
  Platform::SetExeDir(Path());
}

TempAppDir::~TempAppDir() { Platform::SetExeDir(QString()); }

QString TempAppDir::Path() const { return dir_.path() + QLatin1Char('/'); }
QString TempAppDir::File(const QString& name) const { return Path() + name; }

CapturedDialogs::CapturedDialogs() {
  Shell::Hooks& hooks = Shell::TestHooks();
  hooks.message = [this](const QString& caption, const QString& text) {
    messages.emplace_back(caption, text);
  };
  hooks.open = [this](const QString& target) { opened << target; };
  hooks.browseFolder = [this](const QString& title) -> std::optional<QString> {
    folderTitles << title;
    if (folderAnswers.empty()) return std::nullopt;
    std::optional<QString> answer = folderAnswers.front();
    folderAnswers.erase(folderAnswers.begin());
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

MainWindowFixture::MainWindowFixture() {
  QCoreApplication::setApplicationName(QStringLiteral("Vidmora"));
  DataMod = new TDataMod();
  new TConvMainForm();
  if (ConvLoginForm) ConvLoginForm->LoginTimer->stop();
  RunEvent([] {
    TConvMainFunc func;
    func.EndSplash();
  });
}

MainWindowFixture::~MainWindowFixture() {
  delete ConvMainForm;
  delete ConvLoginForm;
  ConvLoginForm = nullptr;
  delete DataMod;
  DataMod = nullptr;
}

TConvMainForm* MainWindowFixture::form() const { return ConvMainForm; }

}  // namespace TestSupport
