#include "settings/AppSettings.h"

#include "platform/AppError.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "platform/UserFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QUrl>

namespace {

const QString kSaveDirSection = QStringLiteral("SaveDir");
const QString kSaveDirKey = QStringLiteral("Dir");
const QString kFlagSection = QStringLiteral("ChgDirFlag");
const QString kFlagKey = QStringLiteral("Flag");
const QString kFlagChosen = QStringLiteral("Yes");
const QString kAddDirSection = QStringLiteral("AddDir");
const QString kAddDirKey = QStringLiteral("Dir");
const QString kSubtitleSection = QStringLiteral("Subtitle");
const QString kSubtitleKey = QStringLiteral("Mode");
const QString kHttpSection = QStringLiteral("SoftHttp");
const QString kHttpKey = QStringLiteral("HttpUrl");

// An address the desktop may be asked to open: http or https with a host.
// Anything else (a local file, a program, another scheme) is not handed on.
bool IsWebAddress(const QString& text) {
  const QUrl url(text, QUrl::StrictMode);
  if (!url.isValid() || url.host().isEmpty()) return false;
  const QString scheme = url.scheme().toLower();
  return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

}  // namespace

TAppSettings::TAppSettings() : file_(UserFiles::SettingsFile()) {}

TAppSettings::TAppSettings(const QString& file) : file_(file) {}

QString TAppSettings::Read(const QString& section, const QString& key, const QString& defaultValue) const {
  return Platform::GetPrivateProfileString(section, key, defaultValue, file_);
}

void TAppSettings::Write(const QString& section, const QString& key, const QString& value) const {
  if (!Platform::WritePrivateProfileString(section, key, value, file_)) {
    throw TAppError(QStringLiteral("Unable to write to ") + file_);
  }
}

QString TAppSettings::SaveDir() const {
  const QString dir = Read(kSaveDirSection, kSaveDirKey, QString());
  const QString flag = Read(kFlagSection, kFlagKey, QStringLiteral("No"));
  if (flag == kFlagChosen && !dir.trimmed().isEmpty()) return dir;
  return UserFiles::DefaultSaveDir();
}

void TAppSettings::StoreSaveDir(const QString& dir) const {
  Write(kSaveDirSection, kSaveDirKey, dir);
  Write(kFlagSection, kFlagKey, kFlagChosen);
}

QString TAppSettings::LastAddDir() const { return Read(kAddDirSection, kAddDirKey, QString()); }

bool TAppSettings::StoreLastAddDir(const QString& dir) const {
  return Platform::WritePrivateProfileString(kAddDirSection, kAddDirKey, dir, file_);
}

QString TAppSettings::SubtitleMode() const {
  const QString mode = Read(kSubtitleSection, kSubtitleKey, QString()).trimmed().toLower();
  return SubtitleModes().contains(mode) ? mode : SubtitleModes().first();
}

bool TAppSettings::StoreSubtitleMode(const QString& mode) const {
  return Platform::WritePrivateProfileString(kSubtitleSection, kSubtitleKey, mode, file_);
}

QString TAppSettings::HomePage() const {
  const QString address = Read(kHttpSection, kHttpKey, DefaultHomePage()).trimmed();
  return IsWebAddress(address) ? address : DefaultHomePage();
}


QString TAppSettings::DefaultHomePage() { return QStringLiteral("https://vidmora.org/"); }

QString TAppSettings::HelpFile() { return Platform::ExePath(QString::fromLatin1(Platform::kHelpFile)); }

QString CheckSaveDir(const QString& dir) {
  const QFileInfo info(dir);
  if (dir.isEmpty() || !info.isDir()) return QStringLiteral("输出目录不存在: ") + dir;
  // Creating a file is the only sure test: permissions, read-only mounts and
  // full disks all show here.
  QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".vidmora-XXXXXX")));
  if (!probe.open()) return QStringLiteral("输出目录无法写入文件: ") + dir;
  return QString();
}
