// The output folder edit, the folder chooser and the help and homepage
// actions: the window's side of the settings file.
#include "ConvMainFrm.h"
#include "ConvMainFunc.h"
#include "conversion/ConvQueue.h"
#include "platform/Shell.h"
#include "settings/AppSettings.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>

void TConvMainFunc::LoadSaveDir() {
  if (AvSaveDirEdit) AvSaveDirEdit->setText(TAppSettings().SaveDir());
}

void TConvMainFunc::LoadSubtitleMode() {
  if (!CmbSubMode) return;
  const int at = CmbSubMode->findData(TAppSettings().SubtitleMode());
  CmbSubMode->setCurrentIndex(at < 0 ? 0 : at);
}

void TConvMainFunc::StoreSubtitleMode() {
  // The choice holds for this session even when the file cannot keep it.
  if (CmbSubMode) TAppSettings().StoreSubtitleMode(CmbSubMode->currentData().toString());
}

QStringList TConvMainFunc::GetSubtitleCmd() {
  const QString mode = CmbSubMode ? CmbSubMode->currentData().toString() : QString();
  if (mode.isEmpty() || mode == TAppSettings::SubtitleModes().first()) return {};
  return {QStringLiteral("-sub"), mode};
}

void TConvMainFunc::LoadConcurrent() {
  if (!CmbConcurrent) return;
  const int at = CmbConcurrent->findData(TAppSettings().Concurrent());
  CmbConcurrent->setCurrentIndex(at < 0 ? 0 : at);
}

void TConvMainFunc::StoreConcurrent() {
  // The choice holds for this session even when the file cannot keep it.
  const int chosen = GetConcurrent();
  TAppSettings().StoreConcurrent(chosen);
  // A run going on follows it from its next file on.
  if (ConvQueue) {
    ConvQueue->Chosen = chosen;
    ConvQueue->Poll();
  }
}

int TConvMainFunc::GetConcurrent() { return CmbConcurrent ? CmbConcurrent->currentData().toInt() : 0; }

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
