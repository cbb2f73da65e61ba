#pragma once
// What the encoder's coded lines tell the user. The encoder writes a failure or a caveat as
// "code: detail" after its mark; the runner reads each such line back into a value, and one
// table per kind gives each code its Chinese sentence.
#include "encoder/Protocol.h"

#include <QString>

#include <optional>

// A coded line read back: its code (none when the line spells no code this program knows:
// a newer encoder's, or none at all), the encoder's English detail, and the whole text after
// the mark for the technical account.
template <class Code>
struct TCodedLine {
  std::optional<Code> code;
  QString detail;
  QString text;
};
using TEncoderError = TCodedLine<vidmora::protocol::ErrorCode>;
using TEncoderWarning = TCodedLine<vidmora::protocol::WarningCode>;

// The part of an error or warning line after its mark, read into a value.
TEncoderError ReadErrorLine(const QString& afterMark);
TEncoderWarning ReadWarningLine(const QString& afterMark);

struct TFailureText {
  QString sentence;  // for the user, in Chinese: what happened and, where it helps, what to do
  QString detail;    // the technical account (the encoder's English detail, a signal), or empty
};

// Each code's sentence as the table holds it (the incomplete source's holds %1 for the
// seconds converted).
QString ErrorSentence(vidmora::protocol::ErrorCode code);
QString WarningSentence(vidmora::protocol::WarningCode code);

// Why a row failed, from the encoder's error: its code's sentence with the encoder's detail
// beside it; an error without a known code gets a general sentence with its whole text.
// convertedSeconds: the output time the encoder reached (its last progress).
TFailureText EncoderErrorText(const TEncoderError& error, double convertedSeconds);

// What the user reads of a caveat; the short source's names both lengths when its detail
// holds them.
QString EncoderWarningText(const TEncoderWarning& warning);

// An encoder that ended without an error line: by a signal, or with an exit status.
TFailureText EncoderEndText(bool crashed, int signal, int exitCode);
