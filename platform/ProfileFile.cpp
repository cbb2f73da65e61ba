#include "ProfileFile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace Platform {

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

// Blanks as the profile functions see them (never the ideographic space, which
// may well end a folder name).
bool IsBlank(QChar c) {
  return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
         c == QLatin1Char('\n') || c == QLatin1Char('\v') || c == QLatin1Char('\f');
}
bool IsBlankByte(char c) { return IsBlank(QLatin1Char(c)); }

QString Trim(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.mid(begin, end - begin);
}

QString TrimRight(const QString& text) {
  qsizetype end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  return text.left(end);
}

bool IsQuote(QChar c) { return c == QLatin1Char('"') || c == QLatin1Char('\''); }

QString Unquote(const QString& value) {
  if (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front()) {
    return value.mid(1, value.size() - 2);
  }
  return value;
}

QString Limit(const QString& text) {
  if (text.size() <= kProfileValueMax) return text;
  QString cut = text.left(kProfileValueMax);
  // Never leave half of a surrogate pair behind.
  if (cut.back().isHighSurrogate()) cut.chop(1);
  return cut;
}

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// One line of the file, as byte offsets into the whole text.
struct Line {
  enum Kind { Blank, Comment, Section, Key, Other };
  Kind kind = Other;
  qsizetype begin = 0;       // first byte
  qsizetype contentEnd = 0;  // end of the text, before the line break
  qsizetype next = 0;        // first byte of the next line
  qsizetype equals = -1;     // position of '=' in a key line, -1 when it has none
  QString name;              // section or key name, blanks removed
  QString value;             // a key's value as read (blanks and quotes removed)
};

QList<Line> ParseLines(const QByteArray& data) {
  QList<Line> lines;
  qsizetype pos = data.startsWith(kUtf8Bom) ? kUtf8Bom.size() : 0;
  while (pos < data.size()) {
    Line line;
    line.begin = pos;
    qsizetype nl = data.indexOf('\n', pos);
    line.next = nl < 0 ? data.size() : nl + 1;
    line.contentEnd = nl < 0 ? data.size() : nl;
    if (nl > line.begin && data[nl - 1] == '\r') --line.contentEnd;
    pos = line.next;

    const QByteArray raw = data.mid(line.begin, line.contentEnd - line.begin);
    const QString text = Trim(QString::fromUtf8(raw));
    if (text.isEmpty()) {
      line.kind = Line::Blank;
    } else if (text.front() == QLatin1Char(';')) {
      line.kind = Line::Comment;
    } else if (text.front() == QLatin1Char('[')) {
      const qsizetype close = text.lastIndexOf(QLatin1Char(']'));
      if (close > 0) {
        line.kind = Line::Section;
        line.name = Trim(text.mid(1, close - 1));
      }
    } else {
      line.kind = Line::Key;
      const qsizetype eq = raw.indexOf('=');
      if (eq >= 0) {
        line.equals = line.begin + eq;
        line.name = Trim(QString::fromUtf8(raw.left(eq)));
        line.value = Unquote(Trim(QString::fromUtf8(raw.mid(eq + 1))));
      } else {
        line.name = text;
      }
    }
    lines.append(line);
  }
  return lines;
}

// Where a key sits: the first section of that name, the first key of that name
// in it, and the last key line of the section (-1 for each one not found).
struct Place {
  qsizetype section = -1;
  qsizetype key = -1;
  qsizetype lastKey = -1;
};

Place Locate(const QList<Line>& lines, const QString& section, const QString& key) {
  Place place;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (line.kind == Line::Section) {
      if (place.section >= 0) break;  // the end of the section that matched
      if (SameName(line.name, section)) place.section = i;
      continue;
    }
    if (place.section < 0 || line.kind != Line::Key) continue;
    place.lastKey = i;
    if (place.key < 0 && SameName(line.name, key)) place.key = i;
  }
  return place;
}

bool HasLineBreak(const QString& text) {
  return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

// The value as it must be written so that a read gives it back unchanged.
QString EncodeValue(const QString& value) {
  if (value.isEmpty()) return value;
  const bool blankAround = IsBlank(value.front()) || IsBlank(value.back());
  const bool quotedAround = Unquote(value) != value;
  if (blankAround || quotedAround) return QLatin1Char('"') + value + QLatin1Char('"');
  return value;
}

QByteArray LineBreakOf(const QByteArray& data) {
  const qsizetype nl = data.indexOf('\n');
  if (nl > 0 && data[nl - 1] == '\r') return QByteArrayLiteral("\r\n");
  return QByteArrayLiteral("\n");
}

}  // namespace

QString GetPrivateProfileString(const QString& section, const QString& key, const QString& defaultValue,
                                const QString& file) {
  const QString fallback = Limit(TrimRight(defaultValue));
  QFile in(file);
  if (QFileInfo(file).isDir() || !in.open(QIODevice::ReadOnly)) return fallback;
  const QList<Line> lines = ParseLines(in.readAll());
  const Place place = Locate(lines, Trim(section), Trim(key));
  if (place.key < 0) return fallback;
  return Limit(lines[place.key].value);
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& file) {
  const QString sectionName = Trim(section);
  const QString keyName = Trim(key);
  if (sectionName.isEmpty() || keyName.isEmpty()) return false;
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  if (sectionName.contains(QLatin1Char(']'))) return false;
  if (keyName.contains(QLatin1Char('=')) || keyName.front() == QLatin1Char(';') ||
      keyName.front() == QLatin1Char('[')) {
    return false;
  }

  const QFileInfo info(file);
  QByteArray data;
  if (info.exists()) {
    if (info.isDir()) return false;
    QFile in(file);
    // Without the old contents every other line would be lost.
    if (!in.open(QIODevice::ReadOnly)) return false;
    data = in.readAll();
    if (in.error() != QFileDevice::NoError) return false;
  }

  const QList<Line> lines = ParseLines(data);
  const Place place = Locate(lines, sectionName, keyName);
  const QByteArray eol = LineBreakOf(data);
  const QByteArray encoded = EncodeValue(value).toUtf8();

  if (place.key >= 0) {
    const Line& line = lines[place.key];
    QByteArray prefix;
    if (line.equals >= 0) {
      // Keep the key as written and the blanks around '='.
      qsizetype valueStart = line.equals + 1;
      while (valueStart < line.contentEnd && IsBlankByte(data[valueStart])) ++valueStart;
      prefix = data.mid(line.begin, valueStart - line.begin);
    } else {
      qsizetype end = line.contentEnd;
      while (end > line.begin && IsBlankByte(data[end - 1])) --end;
      prefix = data.mid(line.begin, end - line.begin) + '=';
    }
    data.replace(line.begin, line.contentEnd - line.begin, prefix + encoded);
  } else {
    const QByteArray entry = keyName.toUtf8() + '=' + encoded;
    if (place.section >= 0) {
      const Line& after = lines[place.lastKey >= 0 ? place.lastKey : place.section];
      if (after.next == data.size() && !data.endsWith('\n')) {
        // The last line of the file, without a line break of its own.
        data.insert(after.next, eol + entry);
      } else {
        data.insert(after.next, entry + eol);
      }
    } else {
      if (!data.isEmpty() && data != kUtf8Bom && !data.endsWith('\n')) data += eol;
      data += '[' + sectionName.toUtf8() + ']' + eol + entry + eol;
    }
  }

  QSaveFile out(file);
  // A writable file in a folder that takes no new files (an installation
  // folder with a settings file made writable for its users) is written in
  // place rather than refused.
  out.setDirectWriteFallback(true);
  if (!out.open(QIODevice::WriteOnly)) return false;
  if (out.write(data) != data.size()) {
    out.cancelWriting();
    return false;
  }
  return out.commit();
}

}  // namespace Platform
