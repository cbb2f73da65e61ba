// The output folder edit, the folder chooser and the help and homepage
// actions: the window's side of the settings file.
#include "ConvMainFrm.h"
#include "ConvMainFunc.h"
#include "platform/Shell.h"
#include "settings/AppSettings.h"

#include <QDir>
#include <QLineEdit>

void TConvMainFunc::LoadSaveDir() {
  if (AvSaveDirEdit) AvSaveDirEdit->setText(TAppSettings().SaveDir());
}

void TConvMainFunc::SelectSaveDir() {
  const std::optional<QString> chosen =
      Shell::BrowseForFolder(ConvMainForm, QStringLiteral("请选择文件夹"), QDir::homePath());
  // A chooser that gives no path is taken as cancelled: writing an empty
  // folder would send every output file to the working directory.
  if (!chosen || chosen->isEmpty()) {
    LoadSaveDir();
    return;
  }
  if (AvSaveDirEdit) AvSaveDirEdit->setText(*chosen);
  TAppSettings().StoreSaveDir(*chosen);
}

void TConvMainFunc::OpenSaveDir() { Shell::OpenDocument(AvSaveDirEdit ? AvSaveDirEdit->text() : QString()); }

void TConvMainFunc::ShowHelp() { Shell::OpenDocument(TAppSettings::HelpFile()); }

void TConvMainFunc::ShowHomePage() { Shell::OpenDocument(TAppSettings().HomePage()); }

QString TConvMainFunc::GetOutputExt() { return TAppSettings::OutputExt(); }
