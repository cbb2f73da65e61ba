// TEMP-SKELETON: placeholder bodies so the program links while this
// subsystem is being built. Replace every function of this file.
#include "app/ConvMainFunc.h"
#include "platform/AppError.h"

void TConvMainFunc::StartConvQueue() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::ConvCurrentFile() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::PollConvOutput() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
int TConvMainFunc::GetAvDuration() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
int TConvMainFunc::ParseProgressTime(const QString&) { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::DisableFileButtons() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::EnableFileButtons() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
