// TEMP-SKELETON: placeholder so the program links; replace the whole file.
#include "DataModule.h"
#include "platform/AppError.h"
TDataMod* DataMod = nullptr;
TASQLite3DB::TASQLite3DB() {}
TASQLite3DB::~TASQLite3DB() {}
void TASQLite3DB::SetDatabase(const QString& p) { database_ = p.trimmed(); }
void TASQLite3DB::SetConnected(bool) {}
TASQLite3Query::TASQLite3Query() {}
TASQLite3Query::~TASQLite3Query() {}
void TASQLite3Query::SetConnection(TASQLite3DB* db) { connection_ = db; }
void TASQLite3Query::SetSQL(const QString& s) { sql_ = s; }
void TASQLite3Query::Open() { throw TAppError(QStringLiteral("TEMP-SKELETON")); }
void TASQLite3Query::Close() {}
void TASQLite3Query::First() {}
void TASQLite3Query::Next() {}
QString TASQLite3Query::FieldAsString(int) const { return {}; }
int TASQLite3Query::FieldAsInteger(int) const { return 0; }
TDataMod::TDataMod() {}
TDataMod::~TDataMod() {}
void TDataMod::DataModuleCreate() {}
