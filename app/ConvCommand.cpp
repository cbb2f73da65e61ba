// The encoder's command line and the output file's name.
#include "ConvMainFunc.h"

#include "Controls.h"
#include "conversion/ConvQueue.h"
#include "media/MediaInfoDll.h"
#include "platform/CommandLine.h"
#include "platform/Platform.h"

#include <QFileInfo>
#include <QLineEdit>

QString TConvMainFunc::GetOutputPath(const QString& sourcePath) {
  const QString folder = AvSaveDirEdit ? AvSaveDirEdit->text() : QString();
  // No loader here: a row exists only after the library was loaded, and the
  // queue has just probed the same file for the properties panel.
  QString baseName = ProbeBaseName(sourcePath);
  // A source the probe cannot open still gets its own output name rather than
  // a nameless ".mp4" that every such row would share.
  if (baseName.isEmpty()) baseName = QFileInfo(sourcePath).completeBaseName();
  return folder + QLatin1Char(Platform::kPathSep) + baseName + GetOutputExt();
}

QString TConvMainFunc::BuildConvCommand() {
  const QString encoder = Platform::ExePath(QString::fromLatin1(Platform::kEncoderFile));
  const int row = AvListStat->Text().toInt();
  const QString source = AvFilesList->Caption(row);
  // The output chosen for the row when its run started; outside a run, its own name.
  const bool planned = ConvQueue && ConvQueue->IsRunning() && ConvQueue->Position() == row &&
                       row < ConvQueue->Rows().size() && !ConvQueue->Rows().at(row).output.isEmpty();
  const QString output = planned ? ConvQueue->Rows().at(row).output : GetOutputPath(source);
  const QString fragments[9] = {GetVdoCodecCmd(),   GetVdoBitrateCmd(),  GetVdoSizeCmd(),
                                GetVdoFpsCmd(),     GetVdoAspectCmd(),   GetAdoCodecCmd(),
                                GetAdoBitrateCmd(), GetAdoChannelsCmd(), GetAdoFreqCmd()};
  // Paths with a blank or a double quote are quoted so that they reach the
  // encoder whole; any other path stays exactly as it is. Fragments are the
  // encoder's own option syntax and go in unchanged.
  // A planned name is free when the run starts: nothing there is to be replaced (the
  // queue itself moves a finished file over one the user chose to replace).
  QString line = Platform::QuoteArg(encoder) + (planned ? QStringLiteral(" -ipt ") : QStringLiteral(" -y -ipt ")) +
                 Platform::QuoteArg(source);
  for (const QString& fragment : fragments) line += QLatin1Char(' ') + fragment;
  line += QLatin1Char(' ') + Platform::QuoteArg(output);
  return line;
}
