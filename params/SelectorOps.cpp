// TEMP-SKELETON: placeholder bodies so the program links while this
// subsystem is being built. Replace every function of this file.
#include "app/ConvMainFunc.h"
#include "platform/AppError.h"

int TConvMainFunc::LoadItemIndex(int) { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::FillVdoCodec() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::FillVdoBitrate() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::FillVdoSize() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::FillVdoFps() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::FillVdoAspect() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::FillAdoCodec() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::FillAdoBitrate() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::FillAdoChannels() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::FillAdoFreq() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TConvMainFunc::SaveItemIndex(TComboBoxEx*) { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
QString TConvMainFunc::GetVdoCodecCmd() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
QString TConvMainFunc::GetVdoBitrateCmd() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
QString TConvMainFunc::GetVdoSizeCmd() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
QString TConvMainFunc::GetVdoFpsCmd() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
QString TConvMainFunc::GetVdoAspectCmd() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
QString TConvMainFunc::GetAdoCodecCmd() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
QString TConvMainFunc::GetAdoBitrateCmd() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
QString TConvMainFunc::GetAdoChannelsCmd() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
QString TConvMainFunc::GetAdoFreqCmd() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
