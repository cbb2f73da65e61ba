// TEMP-SKELETON: placeholder bodies so the program links while this
// subsystem is being built. Replace every function of this file.
#include "app/ConvMainFunc.h"
#include "platform/AppError.h"

void TConvMainFunc::AddAvFile() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::DeleteAvFile() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::ClearAvFiles() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::ShowAvParams(const QString&) { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::ShowSelectedParams() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::ClearAvParams() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
