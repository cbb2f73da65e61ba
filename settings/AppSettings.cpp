#include "settings/AppSettings.h"

#include "platform/AppError.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "platform/UserFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
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
const QString kConvertSection = QStringLiteral("Convert");
const QString kConcurrentKey = QStringLiteral("Concurrent");
const QString kConcurrentAuto = QStringLiteral("auto");
constexpr int kConcurrentMost = 4;
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

const QString kChangesForRun = QStringLiteral("更改只在本次运行中有效。");
const QString kForSession = QStringLiteral("本次运行使用默认设置，") + kChangesForRun;

// What this run knows of one settings file.
struct TSettingsSession {
  bool examined = false;
  bool read = true;   // reads look into the file
  bool write = true;  // changes go to the file
  bool reported = false;
  QString laterMessage;          // said at the first change the file does not take
  QHash<QString, QString> held;  // changes the file did not take, by section and key
};

QHash<QString, TSettingsSession>& Sessions() {
  static QHash<QString, TSettingsSession> sessions;
  return sessions;
}

// Section and key names match without regard to letter case.
QString HeldKey(const QString& section, const QString& key) {
  return section.trimmed().toLower() + QLatin1Char('\n') + key.trimmed().toLower();
}

// The message for a file that is neither read nor written, "" for one that is.
QString RefusalMessage(const QString& file, const Platform::ProfileFileCheck& check) {
  using State = Platform::ProfileFileState;
  const QString target = QDir::toNativeSeparators(check.target);
  const QString kind =
      QFileInfo(check.target).isDir() ? QStringLiteral("文件夹") : QStringLiteral("管道或设备");
  QString why;
  switch (check.state) {
    case State::Missing:
    case State::Usable:
    case State::ReadOnly:
    case State::Damaged:
      return QString();
    case State::BrokenLink:
      why = QStringLiteral("是一个链接，但它指向的文件不存在。链接保持不变。");
      break;
    case State::LinkIntoSystem:
      why =
          QStringLiteral("是指向系统文件夹中的 %1 的链接。为安全起见，本程序不读取也不写入它，链接保持不变。")
              .arg(target);
      break;
    case State::OtherOwner:
      why = check.link
                ? QStringLiteral("是指向其他用户的文件 %1 的链接。本程序不读取也不写入它，链接保持不变。")
                      .arg(target)
                : QStringLiteral("属于其他用户。本程序不读取也不写入它。");
      break;
    case State::NotRegular:
      why = check.link
                ? QStringLiteral("是指向 %1 的链接，那是%2，不是普通文件。链接保持不变。").arg(target, kind)
                : QStringLiteral("是%1，不是普通文件。").arg(kind);
      break;
    case State::TooLarge:
      why = QStringLiteral("超过 1 MB，不是本程序的设置文件。它不会被读取，也不会被改写。");
      break;
    case State::Unreadable:
      why = QStringLiteral("无法读取。它不会被改写。");
      break;
  }
  return QStringLiteral("设置文件 %1 %2").arg(QDir::toNativeSeparators(file), why) + kForSession;
}

TSettingsSession& SessionOf(const QString& file) {
  TSettingsSession& session = Sessions()[file];
  if (session.examined) return session;
  session.examined = true;
  const Platform::ProfileFileCheck check = Platform::CheckProfileFile(file);
  const QString name = QDir::toNativeSeparators(file);
  QString message;
  if (check.state == Platform::ProfileFileState::ReadOnly) {
    session.write = false;
    session.laterMessage = QStringLiteral("设置文件 %1 是只读的，不会被改写。").arg(name) + kChangesForRun;
  } else if (check.state == Platform::ProfileFileState::Damaged) {
    // Set aside like a damaged database: nothing of it is lost, and the next
    // change makes a new file.
    const QString aside = Platform::SetProfileFileAside(file);
    if (aside.isEmpty()) {
      session.read = session.write = false;
      message = QStringLiteral("设置文件 %1 已损坏，且无法移开。它不会被改写。").arg(name) + kForSession;
    } else {
      message = QStringLiteral(
                    "设置文件 %1 已损坏，已另存为 %2。本次运行使用默认设置，以后的更改保存在新的设置文件中。")
                    .arg(name, QFileInfo(aside).fileName());
    }
  } else {
    message = RefusalMessage(file, check);
    if (!message.isEmpty()) session.read = session.write = false;
  }
  if (!message.isEmpty()) {
    session.reported = true;
    ShowAppError(message);
  }
  return session;
}

}  // namespace

TAppSettings::TAppSettings() : file_(UserFiles::SettingsFile()) {}

TAppSettings::TAppSettings(const QString& file) : file_(file) {}

void TAppSettings::Examine() const { SessionOf(file_); }

void TAppSettings::ForgetSessionForTests() { Sessions().clear(); }

QString TAppSettings::Read(const QString& section, const QString& key, const QString& defaultValue) const {
  const TSettingsSession& session = SessionOf(file_);
  const auto held = session.held.constFind(HeldKey(section, key));
  if (held != session.held.constEnd()) return *held;
  if (!session.read) return defaultValue;
  return Platform::GetPrivateProfileString(section, key, defaultValue, file_);
}

bool TAppSettings::Write(const QString& section, const QString& key, const QString& value) const {
  TSettingsSession& session = SessionOf(file_);
  const QString heldKey = HeldKey(section, key);
  if (session.write && Platform::WritePrivateProfileString(section, key, value, file_)) {
    session.held.remove(heldKey);
    return true;
  }
  session.held.insert(heldKey, value);
  if (!session.reported) {
    session.reported = true;
    ShowAppError(session.laterMessage.isEmpty()
                     ? QStringLiteral("无法把设置写入 %1。").arg(QDir::toNativeSeparators(file_)) +
                           kChangesForRun
                     : session.laterMessage);
  }
  return false;
}

QString TAppSettings::SaveDir() const {
  QString dir = Read(kSaveDirSection, kSaveDirKey, QString());
  const QString flag = Read(kFlagSection, kFlagKey, QStringLiteral("No"));
  if (flag != kFlagChosen || dir.trimmed().isEmpty()) return UserFiles::DefaultSaveDir();
  // A folder written with a final separator names the same folder.
  while (dir.size() > 1 && dir.endsWith(QLatin1Char(Platform::kPathSep))) dir.chop(1);
  return dir;
}

void TAppSettings::StoreSaveDir(const QString& dir) const {
  // Without its folder the flag would bring back an older one at the next start.
  if (Write(kSaveDirSection, kSaveDirKey, dir)) {
    Write(kFlagSection, kFlagKey, kFlagChosen);
  } else {
    Sessions()[file_].held.insert(HeldKey(kFlagSection, kFlagKey), kFlagChosen);
  }
}

QString TAppSettings::LastAddDir() const { return Read(kAddDirSection, kAddDirKey, QString()); }

bool TAppSettings::StoreLastAddDir(const QString& dir) const {
  return Write(kAddDirSection, kAddDirKey, dir);
}

QString TAppSettings::SubtitleMode() const {
  const QString mode = Read(kSubtitleSection, kSubtitleKey, QString()).trimmed().toLower();
  return SubtitleModes().contains(mode) ? mode : SubtitleModes().first();
}

bool TAppSettings::StoreSubtitleMode(const QString& mode) const {
  return Write(kSubtitleSection, kSubtitleKey, mode);
}

int TAppSettings::Concurrent() const {
  bool ok = false;
  const int n = Read(kConvertSection, kConcurrentKey, kConcurrentAuto).trimmed().toInt(&ok);
  return ok && n >= 1 && n <= kConcurrentMost ? n : 0;
}

bool TAppSettings::StoreConcurrent(int chosen) const {
  return Write(kConvertSection, kConcurrentKey,
               chosen >= 1 && chosen <= kConcurrentMost ? QString::number(chosen) : kConcurrentAuto);
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
