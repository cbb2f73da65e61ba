#pragma once
// What a failed conversion tells the user: one Chinese sentence for each kind of
// failure the encoder reports, with the encoder's own technical account beside it.
#include <QString>

struct TFailureText {
  QString sentence;  // for the user, in Chinese: what happened and, where it helps, what to do
  QString detail;    // the technical account (the encoder's English detail, a signal), or empty
};

// The text of an encoder error line, "Error: code: detail". A line without a code, or
// with a code not known here, gets a general sentence with the whole line as its
// detail. convertedSeconds: the output time the encoder reached (its last progress).
TFailureText EncoderErrorText(const QString& errorLine, double convertedSeconds);

// An encoder that ended without an error line: by a signal, or with an exit status.
TFailureText EncoderEndText(bool crashed, int signal, int exitCode);
