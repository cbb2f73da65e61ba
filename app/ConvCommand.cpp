// The encoder's job for a row (its arguments, and the same as one command-line
// text) and the output file's name.
#include "ConvMainFunc.h"

#include "Controls.h"
#include "conversion/ConvQueue.h"
#include "conversion/OutputNames.h"
#include "media/MediaInfoDll.h"
#include "platform/CommandLine.h"
#include "platform/FileNames.h"
#include "platform/Platform.h"

#include <QFileInfo>
#include <QLineEdit>

namespace {

// The path of name inside folder: a folder that ends in a separator (the root folder) gets no
// second one.
QString Inside(const QString& folder, const QString& name) {
  const QChar sep = QLatin1Char(Platform::kPathSep);
  return folder + (folder.endsWith(sep) ? QString() : QString(sep)) + name;
}

}  // namespace

QString TConvMainFunc::GetOutputPath(const QString& sourcePath, const QString& subFolder) {
  QString folder = AvSaveDirEdit ? AvSaveDirEdit->text() : QString();
  const QString below = OutputSubFolder(subFolder);
  if (!below.isEmpty()) folder = Inside(folder, below);
  // The source's own name as it is shown (a name that is not UTF-8 read as GB18030):
  // the media library reads no better (it makes a line break " / "), and a source it
  // cannot open still gets its own output name. (No loader here: a row exists only after
  // the library was loaded.)
  QString baseName = QFileInfo(Platform::ShownPath(sourcePath)).completeBaseName();
  if (baseName.isEmpty()) baseName = ProbeBaseName(sourcePath);
  return Inside(folder, OutputBaseName(baseName) + GetOutputExt());
}

namespace {

// A row's encoder arguments in their groups: the leading ones (switches and
// source), the words of each of the nine fragments, and the output.
struct TConvPieces {
  QString program;
  QStringList head;
  QVector<QStringList> fragments;
  QStringList subtitles;  // the subtitle option, when not the default
  QStringList threads;    // the encoder's share of the cores, when several run at once
  QString output;
};

TConvPieces PiecesOf(TConvMainFunc& f, int row) {
  TConvPieces p;
  p.program = Platform::ExePath(QString::fromLatin1(Platform::kEncoderFile));
  const QString source = f.AvFilesList->Caption(row);
  // The output chosen for the row when its run started; outside a run, its own name.
  const TConvQueue* queue = f.ConvQueue;
  const bool planned = queue && queue->IsRunning() && queue->Position() == row &&
                       row < queue->Rows().size() && !queue->Rows().at(row).output.isEmpty();
  p.output = planned ? queue->Rows().at(row).output : f.GetOutputPath(source, f.ListRowRecord(row).subFolder);
  // A planned name is free when the run starts: nothing there is to be replaced (the
  // queue itself moves a finished file over one the user chose to replace).
  if (!planned) p.head << QStringLiteral("-y");
  p.head << QStringLiteral("-ipt") << source;
  // Fragments are the encoder's own option syntax, kept in the database as text:
  // their words are its arguments. Paths are never split.
  for (const QString& fragment :
       {f.GetVdoCodecCmd(), f.GetVdoBitrateCmd(), f.GetVdoSizeCmd(), f.GetVdoFpsCmd(), f.GetVdoAspectCmd(),
        f.GetAdoCodecCmd(), f.GetAdoBitrateCmd(), f.GetAdoChannelsCmd(), f.GetAdoFreqCmd()})
    p.fragments << Platform::SplitCommandLine(fragment);
  p.subtitles = f.GetSubtitleCmd();
  if (planned && queue->Rows().at(row).threads > 0)
    p.threads = QStringList{QStringLiteral("-threads"), QString::number(queue->Rows().at(row).threads)};
  return p;
}

QString Quoted(const QStringList& args) {
  QStringList quoted;
  for (const QString& arg : args) quoted << Platform::QuoteArg(arg);
  return quoted.join(QLatin1Char(' '));
}

}  // namespace

TConvJob TConvMainFunc::BuildConvJob(int row) {
  const TConvPieces p = PiecesOf(*this, row);
  TConvJob job;
  job.program = p.program;
  job.arguments = p.head;
  for (const QStringList& words : p.fragments) job.arguments << words;
  job.arguments << p.subtitles << p.threads << p.output;
  job.output = p.output;
  return job;
}

QString TConvMainFunc::BuildConvCommand(int row) {
  // Every fragment keeps its place: an empty one leaves two blanks side by side.
  const TConvPieces p = PiecesOf(*this, row);
  QString line = Platform::QuoteArg(p.program) + QLatin1Char(' ') + Quoted(p.head);
  for (const QStringList& words : p.fragments) line += QLatin1Char(' ') + Quoted(words);
  if (!p.subtitles.isEmpty()) line += QLatin1Char(' ') + Quoted(p.subtitles);
  if (!p.threads.isEmpty()) line += QLatin1Char(' ') + Quoted(p.threads);
  return line + QLatin1Char(' ') + Platform::QuoteArg(p.output);
}
