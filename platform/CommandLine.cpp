#include "CommandLine.h"

#include <QDir>
#include <QUrl>

namespace Platform {

QStringList SplitCommandLine(const QString& line) {
  QStringList args;
  QString current;
  bool inArg = false;
  bool inQuotes = false;
  const int n = line.size();
  for (int i = 0; i < n;) {
    const QChar c = line[i];
    if (c == QLatin1Char('\\')) {
      int slashes = 0;
      while (i < n && line[i] == QLatin1Char('\\')) {
        ++slashes;
        ++i;
      }
      if (i < n && line[i] == QLatin1Char('"')) {
        current += QString(slashes / 2, QLatin1Char('\\'));
        if (slashes % 2 == 1) {
          current += QLatin1Char('"');
          ++i;
        }
      } else {
        current += QString(slashes, QLatin1Char('\\'));
      }
      inArg = true;
      continue;
    }
    if (c == QLatin1Char('"')) {
      // Inside quotes, a doubled quote stands for one quote character.
      if (inQuotes && i + 1 < n && line[i + 1] == QLatin1Char('"')) {
        current += QLatin1Char('"');
        i += 2;
        continue;
      }
      inQuotes = !inQuotes;
      inArg = true;
      ++i;
      continue;
    }
    if (!inQuotes && (c == QLatin1Char(' ') || c == QLatin1Char('\t'))) {
      if (inArg) args << current;
      current.clear();
      inArg = false;
      ++i;
      continue;
    }
    current += c;
    inArg = true;
    ++i;
  }
  if (inArg) args << current;
  return args;
}

QString QuoteArg(const QString& arg) {
  if (!arg.contains(QLatin1Char(' ')) && !arg.contains(QLatin1Char('\t')) &&
      !arg.contains(QLatin1Char('"'))) {
    return arg;
  }
  QString out = QStringLiteral("\"");
  int slashes = 0;
  for (const QChar c : arg) {
    if (c == QLatin1Char('\\')) {
      ++slashes;
      continue;
    }
    if (c == QLatin1Char('"')) {
      out += QString(slashes * 2 + 1, QLatin1Char('\\'));
      out += QLatin1Char('"');
    } else {
      out += QString(slashes, QLatin1Char('\\'));
      out += c;
    }
    slashes = 0;
  }
  // Backslashes before the closing quote are doubled so they stay literal.
  out += QString(slashes * 2, QLatin1Char('\\'));
  out += QLatin1Char('"');
  return out;
}

QStringList StartPaths(const QStringList& args, const QString& folder, QStringList* unknown) {
  QStringList paths;
  bool options = true;
  const QDir base(folder);
  for (const QString& arg : args) {
    if (options && arg == QLatin1String("--")) {
      options = false;
      continue;
    }
    if (options && arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
      if (unknown) unknown->append(arg);
      continue;
    }
    if (arg.isEmpty()) continue;
    QString path = arg;
    if (arg.startsWith(QLatin1String("file:"))) {
      const QUrl url(arg);
      // A file on another host is no path of this machine.
      const QString host = url.host();
      if (!url.isLocalFile() || !(host.isEmpty() || host == QLatin1String("localhost"))) continue;
      path = url.toLocalFile();
    }
    paths << QDir::cleanPath(base.absoluteFilePath(path));
  }
  return paths;
}

}  // namespace Platform
