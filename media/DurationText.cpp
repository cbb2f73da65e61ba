#include "media/DurationText.h"

#include <climits>

namespace {

// Digits only, at least one: "07" -> 7; anything else -> -1.
qint64 Digits(const QString& text) {
  if (text.isEmpty()) return -1;
  qint64 value = 0;
  for (const QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return -1;
    value = value * 10 + (c.unicode() - '0');
    if (value > INT_MAX) return -1;
  }
  return value;
}

}  // namespace

QString DurationTextOf(const QString& libraryText, const QString& fallback) {
  if (libraryText.isEmpty()) return fallback;
  const int colon = libraryText.indexOf(QLatin1Char(':'));
  // "hh:mm:ss" and more hours than two digits hold: keep through the seconds.
  if (colon > 2 && Digits(libraryText.left(colon)) >= 0) return libraryText.left(colon + 6);
  return libraryText.left(8);
}

int DurationSeconds(const QString& text, bool* ok) {
  if (ok) *ok = false;
  const int colon = text.indexOf(QLatin1Char(':'));
  if (colon < 1 || text.size() < colon + 6 || text.at(colon + 3) != QLatin1Char(':')) return 0;
  const qint64 hours = Digits(text.left(colon));
  const qint64 minutes = Digits(text.mid(colon + 1, 2));
  const qint64 seconds = Digits(text.mid(colon + 4, 2));
  if (hours < 0 || minutes < 0 || seconds < 0) return 0;
  const qint64 total = hours * 3600 + minutes * 60 + seconds;
  if (total > INT_MAX) return 0;
  if (ok) *ok = true;
  return int(total);
}

QString DurationTextFromSeconds(int seconds) {
  if (seconds < 0) seconds = 0;
  return QStringLiteral("%1:%2:%3")
      .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
      .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
      .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
