// TEMP-SKELETON: placeholder bodies so the program links while this
// subsystem is being built. Replace every function of this file.
#include "app/ConvMainFunc.h"
#include "platform/AppError.h"

void TConvMainFunc::StopConvQueue() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::PowerOffComputer(unsigned) { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
