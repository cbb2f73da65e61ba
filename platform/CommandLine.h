#pragma once
// Command-line text as Windows programs take it: blanks separate arguments,
// double quotes group, a backslash run before a quote is halved.
#include <QString>
#include <QStringList>

namespace Platform {

// Splits a command-line text into its argument vector. Empty arguments (two
// blanks side by side) do not count; "" is an empty argument.
QStringList SplitCommandLine(const QString& line);

// Quotes one argument for a command-line text when it holds a blank, a tab or a
// double quote (inner quotes and the backslashes before them are escaped by the
// Windows rules); any other argument is returned unchanged.
QString QuoteArg(const QString& arg);

// The files and folders named on the program's own command line (its arguments
// without the program's name), as absolute clean paths: relative ones are taken
// from folder, "file:" URLs become their local paths, and arguments after "--"
// are paths whatever they begin with. Other arguments beginning with "-" are
// options, which the program has none of besides --help and --version; they
// are returned through unknown and left out.
QStringList StartPaths(const QStringList& args, const QString& folder, QStringList* unknown = nullptr);

}  // namespace Platform
