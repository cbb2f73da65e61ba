// The settings file beside the executable and the output folder: the folder the
// user chose is remembered in libcfg.ini and shown in the read-only edit
// AvSaveDirEdit, which is where every converted file goes.
#include "app/ConvMainFrm.h"
#include "app/ConvMainFunc.h"
#include "platform/AppError.h"
#include "platform/Platform.h"
#include "platform/ProfileFile.h"
#include "platform/Shell.h"

#include <QLineEdit>

namespace {

const QString kSaveDirSection = QStringLiteral("SaveDir");
const QString kSaveDirKey = QStringLiteral("Dir");
const QString kFlagSection = QStringLiteral("ChgDirFlag");
const QString kFlagKey = QStringLiteral("Flag");
const QString kFlagChosen = QStringLiteral("Yes");
const QString kHttpSection = QStringLiteral("SoftHttp");
const QString kHttpKey = QStringLiteral("HttpUrl");
// The homepage opened when the settings file names none.
const QString kDefaultHomePage = QStringLiteral("https://vidmora.org/");

QString SettingsFile() { return Platform::ExePath(QString::fromLatin1(Platform::kSettingsFile)); }

QString ReadSetting(const QString& section, const QString& key, const QString& defaultValue) {
  return Platform::GetPrivateProfileString(section, key, defaultValue, SettingsFile());
}

void WriteSetting(const QString& section, const QString& key, const QString& value) {
  const QString file = SettingsFile();
  if (!Platform::WritePrivateProfileString(section, key, value, file)) {
    throw TAppError(QStringLiteral("Unable to write to ") + file);
  }
}

}  // namespace

void TConvMainFunc::LoadSaveDir() {
  const QString dir = ReadSetting(kSaveDirSection, kSaveDirKey, QString());
  const QString flag = ReadSetting(kFlagSection, kFlagKey, QStringLiteral("No"));
  const QString shown =
      flag == kFlagChosen ? dir : Platform::ExePath(QString::fromLatin1(Platform::kDefaultSaveDir));
  if (AvSaveDirEdit) AvSaveDirEdit->setText(shown);
}

void TConvMainFunc::SelectSaveDir() {
  const std::optional<QString> chosen = Shell::BrowseForFolder(ConvMainForm, QStringLiteral("请选择文件夹"));
  // A chooser that gives no path is taken as cancelled: writing an empty
  // folder would send every output file to the working directory.
  if (!chosen || chosen->isEmpty()) {
    LoadSaveDir();
    return;
  }
  if (AvSaveDirEdit) AvSaveDirEdit->setText(*chosen);
  WriteSetting(kSaveDirSection, kSaveDirKey, *chosen);
  WriteSetting(kFlagSection, kFlagKey, kFlagChosen);
}

void TConvMainFunc::OpenSaveDir() { Shell::OpenDocument(AvSaveDirEdit ? AvSaveDirEdit->text() : QString()); }

void TConvMainFunc::ShowHelp() {
  Shell::OpenDocument(Platform::ExePath(QString::fromLatin1(Platform::kHelpFile)));
}

void TConvMainFunc::ShowHomePage() {
  Shell::OpenDocument(ReadSetting(kHttpSection, kHttpKey, kDefaultHomePage));
}

QString TConvMainFunc::GetOutputExt() { return QStringLiteral(".mp4"); }
