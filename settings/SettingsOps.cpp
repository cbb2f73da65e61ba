// TEMP-SKELETON: placeholder bodies so the program links while this
// subsystem is being built. Replace every function of this file.
#include "app/ConvMainFunc.h"
#include "platform/AppError.h"

void TConvMainFunc::LoadSaveDir() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::SelectSaveDir() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::OpenSaveDir() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::ShowHelp() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::ShowHomePage() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
QString TConvMainFunc::GetOutputExt() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
