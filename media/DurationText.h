#pragma once
// Duration texts, "hh:mm:ss": hours, minutes and seconds in two digits each,
// separated by colons. From 100 hours on the hours take as many digits as they
// need ("123:45:06"). Every place that shows a duration or turns one into
// seconds goes through these functions.
#include <QString>

// The shown part of the media library's "Duration/String3" text
// ("01:02:03.456" -> "01:02:03", "123:45:06.789" -> "123:45:06"); an empty text
// gives the fallback. A text without the usual form keeps its first eight
// characters.
QString DurationTextOf(const QString& libraryText, const QString& fallback);

// The seconds of a duration text: the hours up to the first colon, then two
// digits of minutes and two of seconds. *ok (when given) tells whether the
// text had that form; a text without it gives 0.
int DurationSeconds(const QString& text, bool* ok = nullptr);

// The duration text of a number of seconds (negative counts as 0).
QString DurationTextFromSeconds(int seconds);
