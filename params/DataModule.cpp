#include "DataModule.h"

#include "platform/AppError.h"
#include "platform/Platform.h"
#include "platform/UserFiles.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <sys/stat.h>

#include <climits>

#include <dlfcn.h>

TDataMod* DataMod = nullptr;

// ---------------------------------------------------------------------------
// The SQLite library, bound by function name.
// ---------------------------------------------------------------------------

namespace {

// Result codes and constants of the SQLite C interface that this layer uses.
constexpr int kSqliteOk = 0;
constexpr int kSqliteError = 1;
constexpr int kSqliteBusy = 5;
constexpr int kSqliteMisuse = 21;
constexpr int kSqliteRow = 100;
constexpr int kSqliteDone = 101;
constexpr int kSqliteUtf8 = 1;
constexpr int kSqliteNull = 5;

// The functions the connection binds, in the order their presence is tested,
// each with the message raised when the library lacks it.
struct Binding {
  const char* name;
  const char* missing;
};
constexpr Binding kBindings[] = {
    {"sqlite3_open", "DLL::SQlite3Open not found"},
    {"sqlite3_close", "DLL::SQlite3Close not found"},
    {"sqlite3_exec", "DLL::SQlite3Exe not found"},
    {"sqlite3_libversion", "DLL::SQliteLibversion not found"},
    {"sqlite3_errmsg", "DLL::SQlite3ErrorStringnot found"},
    {"sqlite3_get_table", "DLL::SQlite3GetTable not found"},
    {"sqlite3_free_table", "DLL::SQlite3FreeTable not found"},
    {"sqlite3_free", "DLL::SQlite3FreeMem not found"},
    {"sqlite3_complete", "DLL::SQlite3Complete not found"},
    {"sqlite3_last_insert_rowid", "DLL::SQlite3LastInsertRow not found"},
    {"sqlite3_interrupt", "DLL::SQlite3Cancel not found"},
    {"sqlite3_busy_timeout", "DLL::SQlite3Busytimeout not found"},
    {"sqlite3_busy_handler", "DLL::SQlite3BusyHandler not found"},
    {"sqlite3_changes", "DLL::SQlite3Changes not found"},
    {"sqlite3_prepare", "DLL::SQlite3Prepare not found"},
    {"sqlite3_finalize", "DLL::SQlite3Finalize not found"},
    {"sqlite3_reset", "DLL::SQlite3Reset not found"},
    {"sqlite3_step", "DLL::SQlite3Step not found"},
    {"sqlite3_column_blob", "DLL::SQlite3ColumnBlob not found"},
    {"sqlite3_column_bytes", "DLL::SQlite3ColumnBytes not found"},
    {"sqlite3_column_bytes16", "DLL::SQlite3ColumnBytes16 not found"},
    {"sqlite3_column_count", "DLL::SQlite3ColumnCount not found"},
    {"sqlite3_column_decltype", "DLL::SQlite3ColumnDeclType not found"},
    {"sqlite3_column_double", "DLL::SQlite3ColumnDouble not found"},
    {"sqlite3_column_int", "DLL::SQlite3ColumnInt not found"},
    {"sqlite3_column_int64", "DLL::SQlite3ColumnInt64 not found"},
    {"sqlite3_column_name", "DLL::SQlite3ColumnName not found"},
    {"sqlite3_column_text", "DLL::SQlite3ColumnText not found"},
    {"sqlite3_column_text16", "DLL::SQlite3ColumnText16 not found"},
    {"sqlite3_column_type", "DLL::SQlite3COlumnTypenot found"},
    {"sqlite3_bind_blob", "DLL::SQlite3BindBlob not found"},
    {"sqlite3_bind_value", "DLL::SQlite3BindValue not found"},
    {"sqlite3_bind_int", "DLL::SQlite3BindInt not found"},
    {"sqlite3_bind_double", "DLL::SQlite3BindDouble not found"},
    {"sqlite3_bind_null", "DLL::SQlite3BindNull not found"},
    {"sqlite3_bind_text", "DLL::SQlite3BindText not found"},
    {"sqlite3_bind_text16", "DLL::SQlite3BindText16 not found"},
    {"sqlite3_bind_parameter_count", "DLL::SQlite3BindParameterCount not found"},
    {"sqlite3_bind_parameter_name", "DLL::SQlite3BindParameterName not found"},
    {"sqlite3_create_collation", "DLL::SQlite3CreateCollation not found"},
};
constexpr int kBindingCount = int(sizeof(kBindings) / sizeof(kBindings[0]));
static_assert(kBindingCount == 40, "the connection binds forty functions");

// Positions in kBindings of the functions this layer calls.
enum Fn {
  kOpen = 0,
  kClose = 1,
  kLibversion = 3,
  kErrmsg = 4,
  kBusyTimeout = 11,
  kPrepare = 14,
  kFinalize = 15,
  kReset = 16,
  kStep = 17,
  kColumnBytes = 19,
  kColumnCount = 21,
  kColumnDecltype = 22,
  kColumnName = 26,
  kColumnText = 27,
  kColumnType = 29,
  kCreateCollation = 39,
};

using CollationFn = int (*)(void*, int, const void*, int, const void*);

// Locale-aware comparison of two UTF-8 texts within the lengths SQLite passes.
int CompareTexts(int len1, const void* s1, int len2, const void* s2, bool ignoreCase) {
  QString a = QString::fromUtf8(static_cast<const char*>(s1), len1 < 0 ? 0 : len1);
  QString b = QString::fromUtf8(static_cast<const char*>(s2), len2 < 0 ? 0 : len2);
  if (ignoreCase) {
    a = a.toCaseFolded();
    b = b.toCaseFolded();
  }
  const int result = QString::localeAwareCompare(a, b);
  return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

int CollateSystemNoCase(void*, int len1, const void* s1, int len2, const void* s2) {
  return CompareTexts(len1, s1, len2, s2, true);
}

int CollateSystem(void*, int len1, const void* s1, int len2, const void* s2) {
  return CompareTexts(len1, s1, len2, s2, false);
}

// "3.40.1" later than "3.2.5"?
bool VersionLaterThan(const QString& version, int major, int minor, int patch) {
  const QStringList parts = version.split(QLatin1Char('.'));
  const int want[3] = {major, minor, patch};
  for (int i = 0; i < 3; ++i) {
    const int have = parts.value(i).toInt();
    if (have != want[i]) return have > want[i];
  }
  return false;
}

}  // namespace

struct SqliteApi {
  void* sym[kBindingCount] = {};

  template <typename F>
  F get(Fn fn) const {
    return reinterpret_cast<F>(sym[fn]);
  }

  int open(const char* path, void** db) const { return get<int (*)(const char*, void**)>(kOpen)(path, db); }
  int close(void* db) const { return get<int (*)(void*)>(kClose)(db); }
  const char* libversion() const { return get<const char* (*)()>(kLibversion)(); }
  const char* errmsg(void* db) const { return get<const char* (*)(void*)>(kErrmsg)(db); }
  int busyTimeout(void* db, int ms) const { return get<int (*)(void*, int)>(kBusyTimeout)(db, ms); }
  int prepare(void* db, const char* sql, int bytes, void** stmt, const char** tail) const {
    return get<int (*)(void*, const char*, int, void**, const char**)>(kPrepare)(db, sql, bytes, stmt, tail);
  }
  int finalize(void* stmt) const { return get<int (*)(void*)>(kFinalize)(stmt); }
  int reset(void* stmt) const { return get<int (*)(void*)>(kReset)(stmt); }
  int step(void* stmt) const { return get<int (*)(void*)>(kStep)(stmt); }
  int columnBytes(void* stmt, int k) const { return get<int (*)(void*, int)>(kColumnBytes)(stmt, k); }
  int columnCount(void* stmt) const { return get<int (*)(void*)>(kColumnCount)(stmt); }
  const char* columnDecltype(void* stmt, int k) const {
    return get<const char* (*)(void*, int)>(kColumnDecltype)(stmt, k);
  }
  const char* columnName(void* stmt, int k) const {
    return get<const char* (*)(void*, int)>(kColumnName)(stmt, k);
  }
  const unsigned char* columnText(void* stmt, int k) const {
    return get<const unsigned char* (*)(void*, int)>(kColumnText)(stmt, k);
  }
  int columnType(void* stmt, int k) const { return get<int (*)(void*, int)>(kColumnType)(stmt, k); }
  int createCollation(void* db, const char* name, int encoding, void* arg, CollationFn compare) const {
    return get<int (*)(void*, const char*, int, void*, CollationFn)>(kCreateCollation)(db, name, encoding,
                                                                                       arg, compare);
  }
};

// ---------------------------------------------------------------------------
// The connection.
// ---------------------------------------------------------------------------

QString DatabaseFailureText(const QString& action, int resultCode, const QString& sqliteText) {
  QString cause;
  switch (resultCode & 0xff) {  // the primary code of an extended one
    case 3:  // SQLITE_PERM
    case 23:  // SQLITE_AUTH
      cause = QStringLiteral("没有访问参数库的权限");
      break;
    case 5:  // SQLITE_BUSY
    case 6:  // SQLITE_LOCKED
      cause = QStringLiteral("参数库正被其他程序使用");
      break;
    case 8:  // SQLITE_READONLY
      cause = QStringLiteral("参数库只读");
      break;
    case 10:  // SQLITE_IOERR
      cause = QStringLiteral("读写参数库文件时出错");
      break;
    case 11:  // SQLITE_CORRUPT
    case 26:  // SQLITE_NOTADB
      cause = QStringLiteral("参数库已损坏");
      break;
    case 13:  // SQLITE_FULL
      cause = QStringLiteral("磁盘已满");
      break;
    case 14:  // SQLITE_CANTOPEN
      cause = QStringLiteral("无法打开参数库文件");
      break;
    default:
      cause = QStringLiteral("参数库内容有误");
      break;
  }
  QString text = action + QStringLiteral(": ") + cause;
  if (!sqliteText.isEmpty()) text += QStringLiteral("\n详细信息: ") + sqliteText;
  return text;
}

TASQLite3DB::TASQLite3DB() = default;

TASQLite3DB::~TASQLite3DB() {
  Disconnect();
  // A library that loaded but whose database never opened is released too.
  if (library_) dlclose(library_);
  library_ = nullptr;
  delete api_;
  api_ = nullptr;
}

void TASQLite3DB::SetDatabase(const QString& path) { database_ = path.trimmed(); }

void TASQLite3DB::SetConnected(bool connected) {
  if (connected == connected_) return;
  if (connected) {
    Connect();
  } else {
    Disconnect();
  }
}

void TASQLite3DB::Connect() {
  const QString encoding = CharacterEncoding.trimmed();
  utf8_ = encoding.isEmpty() || encoding.compare(QLatin1String("utf8"), Qt::CaseInsensitive) == 0;

  if (database_.isEmpty()) throw TAppError(QStringLiteral("Missing database property"));
  // A bare file name lies beside the executable; a path is used unchanged.
  QString path = database_;
  if (!path.contains(QLatin1Char(Platform::kPathSep))) path = Platform::ExePath(path);

  if (!library_) {
    // A library found lacking a function is never used again.
    if (!refusal_.isEmpty() && refusedLibrary_ == DriverDLL) throw TAppError(refusal_);
    void* library = dlopen(QFile::encodeName(DriverDLL).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
      throw TAppError(QStringLiteral("Could not load SQLite library(") + DriverDLL + QLatin1Char(')'));
    auto* api = new SqliteApi;
    for (int i = 0; i < kBindingCount; ++i) {
      api->sym[i] = dlsym(library, kBindings[i].name);
      if (!api->sym[i]) {
        delete api;
        dlclose(library);
        refusal_ = QString::fromLatin1(kBindings[i].missing);
        refusedLibrary_ = DriverDLL;
        throw TAppError(refusal_);
      }
    }
    library_ = library;
    api_ = api;
  }

  connected_ = true;
  const char* version = api_->libversion();
  libVersion_ = QString::fromLatin1(version ? version : "");

  const QByteArray pathBytes =
      VersionLaterThan(libVersion_, 3, 2, 5) ? path.toUtf8() : QFile::encodeName(path);
  void* db = nullptr;
  api_->open(pathBytes.constData(), &db);  // only the handle tells
  if (!db) {
    connected_ = false;
    throw TAppError(QStringLiteral("Cannot open database"));
  }
  db_ = db;
  api_->createCollation(db_, "systemnocase", kSqliteUtf8, nullptr, &CollateSystemNoCase);
  api_->createCollation(db_, "system", kSqliteUtf8, nullptr, &CollateSystem);
  if (TimeOut > 0) api_->busyTimeout(db_, TimeOut);
}

void TASQLite3DB::ExecScript(const QString& script) {
  if (!connected_) Connect();
  const QByteArray text = EncodeText(script);
  const char* at = text.constData();
  while (at && *at) {
    void* stmt = nullptr;
    const char* tail = nullptr;
    auto scriptError = [this](int code) {
      const QString sqlite = ErrorText();
      return TAppError(DatabaseFailureText(QStringLiteral("无法建立参数库"), code, sqlite), sqlite);
    };
    const int prepared = api_->prepare(db_, at, -1, &stmt, &tail);
    if (prepared != kSqliteOk) {
      const TAppError error = scriptError(prepared);
      if (stmt) api_->finalize(stmt);
      throw error;
    }
    if (stmt) {
      int rc;
      while ((rc = api_->step(stmt)) == kSqliteRow) {
      }
      const int finalized = api_->finalize(stmt);
      if (rc != kSqliteDone || finalized != kSqliteOk) throw scriptError(finalized != kSqliteOk ? finalized : rc);
    }
    at = tail;
  }
}

void TASQLite3DB::SetTimeOut(int ms) {
  TimeOut = ms;
  if (connected_ && db_) api_->busyTimeout(db_, ms > 0 ? ms : 0);
}

void TASQLite3DB::Disconnect() {
  if (!connected_ || !library_) return;
  for (TASQLite3Query* query : queries_) query->Close();
  if (db_) api_->close(db_);
  db_ = nullptr;
  dlclose(library_);
  library_ = nullptr;
  delete api_;
  api_ = nullptr;
  connected_ = false;
}

QByteArray TASQLite3DB::EncodeText(const QString& text) const {
  return utf8_ ? text.toUtf8() : text.toLocal8Bit();
}

QString TASQLite3DB::DecodeText(const char* text, int bytes) const {
  if (!text) return QString();
  return utf8_ ? QString::fromUtf8(text, bytes) : QString::fromLocal8Bit(text, bytes);
}

QString TASQLite3DB::ErrorText() const {
  if (!api_ || !db_) return QString();
  const char* message = api_->errmsg(db_);
  return DecodeText(message, message ? int(qstrlen(message)) : 0).left(255);
}

// ---------------------------------------------------------------------------
// The query.
// ---------------------------------------------------------------------------

namespace {

TFieldType TypeFromDeclaration(const QString& declared) {
  const QString type = declared.toUpper();
  if (type.contains(QLatin1String("INT"))) return TFieldType::Integer;
  if (type.contains(QLatin1String("REAL")) || type.contains(QLatin1String("FLOA")) ||
      type.contains(QLatin1String("DOUB")) || type.contains(QLatin1String("NUMERIC")) ||
      type.contains(QLatin1String("DECIMAL")))
    return TFieldType::Float;
  if (type.contains(QLatin1String("BLOB"))) return TFieldType::Blob;
  return TFieldType::Text;
}

}  // namespace

TASQLite3Query::TASQLite3Query() = default;

TASQLite3Query::~TASQLite3Query() {
  if (connection_) connection_->DetachQuery(this);
}

void TASQLite3Query::SetConnection(TASQLite3DB* db) {
  if (connection_ == db) return;
  Close();
  if (connection_) connection_->DetachQuery(this);
  connection_ = db;
  if (connection_) connection_->AttachQuery(this);
}

void TASQLite3Query::SetSQL(const QString& statement) {
  Close();
  sql_ = statement;
}

void TASQLite3Query::Close() {
  active_ = false;
  fieldNames_.clear();
  fieldTypes_.clear();
  rows_.clear();
  current_ = -1;
}

void TASQLite3Query::Open() {
  Close();
  busy_ = false;
  if (sql_.trimmed().isEmpty()) throw TAppError(QStringLiteral("no query specified"));
  if (!connection_) throw TAppError(QStringLiteral("Missing database property"));
  if (!connection_->Connected()) connection_->SetConnected(true);

  const SqliteApi* api = connection_->Api();
  void* db = connection_->Handle();
  const QString statementText = sql_;
  // The user reads what failed and why; SQLite's text and the statement are
  // the detail, for the standard error stream. The program's only writes are
  // its updates of the remembered choices.
  auto databaseError = [&](int code) {
    const QString sqlite = connection_->ErrorText();
    const bool writing = statementText.trimmed().startsWith(QLatin1String("update"), Qt::CaseInsensitive);
    const QString action = writing ? QStringLiteral("无法保存选择") : QStringLiteral("无法读取参数库");
    return TAppError(DatabaseFailureText(action, code, sqlite), sqlite + QStringLiteral("\n\n") + statementText);
  };

  const QByteArray text = connection_->EncodeText(sql_);
  void* stmt = nullptr;
  const char* tail = nullptr;
  const int prepared = api->prepare(db, text.constData(), -1, &stmt, &tail);
  if (prepared != kSqliteOk) {
    busy_ = prepared == kSqliteBusy;
    const TAppError error = databaseError(prepared);
    if (stmt) api->finalize(stmt);
    throw error;
  }
  if (!stmt) {  // only blanks or a comment: an empty result
    active_ = true;
    return;
  }

  QStringList names;
  QVector<TFieldType> types;
  QVector<QStringList> rows;
  const int columns = api->columnCount(stmt);
  for (int k = 0; k < columns; ++k) {
    const char* name = api->columnName(stmt, k);
    names << connection_->DecodeText(name, name ? int(qstrlen(name)) : 0);
    const char* declared = api->columnDecltype(stmt, k);
    types << TypeFromDeclaration(QString::fromLatin1(declared ? declared : ""));
  }

  for (;;) {
    const int rc = api->step(stmt);
    if (rc == kSqliteRow) {
      QStringList row;
      row.reserve(columns);
      for (int k = 0; k < columns; ++k) {
        if (api->columnType(stmt, k) == kSqliteNull) {
          row << QString();
          continue;
        }
        const unsigned char* value = api->columnText(stmt, k);
        const int bytes = api->columnBytes(stmt, k);
        row << connection_->DecodeText(reinterpret_cast<const char*>(value), bytes);
      }
      rows << row;
      continue;
    }
    if (rc == kSqliteError || rc == kSqliteBusy || rc == kSqliteMisuse) {
      // A statement prepared this way reports a failed step as a bare
      // SQLITE_ERROR; resetting it hands the specific error text ("attempt to
      // write a readonly database") to the connection before it is read.
      const int reported = api->reset(stmt);
      busy_ = rc == kSqliteBusy || reported == kSqliteBusy;
      const TAppError error = databaseError(reported != kSqliteOk ? reported : rc);
      api->finalize(stmt);
      throw error;
    }
    break;  // SQLITE_DONE or anything else ends the statement
  }

  api->reset(stmt);
  const int finalized = api->finalize(stmt);
  if (finalized != kSqliteOk)
    throw TAppError(QStringLiteral("SQLiteExecute error: ") + QString::number(finalized));

  fieldNames_ = names;
  fieldTypes_ = types;
  rows_ = rows;
  active_ = true;
  current_ = rows_.isEmpty() ? -1 : 0;
}

void TASQLite3Query::First() { current_ = rows_.isEmpty() ? -1 : 0; }

void TASQLite3Query::Next() {
  if (current_ >= 0 && current_ < rows_.size()) ++current_;
}

QString TASQLite3Query::FieldAsString(int k) const {
  if (Eof() || k < 0 || k >= rows_[current_].size()) return QString();
  return rows_[current_][k];
}

int TASQLite3Query::FieldAsInteger(int k) const {
  const QString value = FieldAsString(k).trimmed();
  if (value.isEmpty()) return 0;
  bool ok = false;
  const qlonglong whole = value.toLongLong(&ok);
  if (ok && whole >= INT_MIN && whole <= INT_MAX) return int(whole);
  // A real number stored in the column counts by its whole part, as SQLite's
  // own conversion to an integer does.
  const double real = value.toDouble(&ok);
  if (ok && real > double(INT_MIN) - 1.0 && real < double(INT_MAX) + 1.0) return int(real);
  throw TAppError(QStringLiteral("“%1” 不是有效的整数").arg(value));
}

// ---------------------------------------------------------------------------
// The data module.
// ---------------------------------------------------------------------------

TDataMod::TDataMod() {
  PramQuery.SetConnection(&DataBase);
  DataBase.CharacterEncoding.clear();
  try {
    DataModuleCreate();
  } catch (const TAppError& error) {
    // Start-up goes on with the connection closed; later uses try again.
    ShowAppError(error);
  }
}

TDataMod::~TDataMod() {
  DataBase.SetConnected(false);
  PramQuery.SetConnection(nullptr);
}

namespace {

// The tables of the parameter database.
const char* const kTables[] = {"cmbex_itemindex",  "cmbex_vdocodec",    "cmbex_vdobitrate",
                               "cmbex_vdosize",    "cmbex_vdofps",      "cmbex_vdoaspect",
                               "cmbex_adocodec",   "cmbex_adobitrate",  "cmbex_adochannels",
                               "cmbex_adofreq"};
constexpr int kTableCount = int(sizeof kTables / sizeof kTables[0]);

// How long a statement waits for another program's lock once start-up is over.
constexpr int kLaterWaitMs = 250;

}  // namespace

int TDataMod::StartWaitMs = 3000;

QString TDataMod::ShippedScript() {
  QFile script(QStringLiteral(":/params/LibParmt.sql"));
  return script.open(QIODevice::ReadOnly) ? QString::fromUtf8(script.readAll()) : QString();
}

bool TDataMod::DatabaseSound(bool* locked) {
  *locked = false;
  try {
    PramQuery.SetSQL(QStringLiteral("PRAGMA quick_check"));
    PramQuery.Open();
    PramQuery.First();
    if (PramQuery.FieldAsString(0) != QLatin1String("ok")) return false;
    QStringList names;
    for (const char* table : kTables) names << QStringLiteral("'%1'").arg(QLatin1String(table));
    PramQuery.SetSQL(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN (%1)")
                         .arg(names.join(QLatin1Char(','))));
    PramQuery.Open();
    PramQuery.First();
    const bool ours = PramQuery.FieldAsInteger(0) == kTableCount;
    PramQuery.Close();
    return ours;
  } catch (const TAppError&) {
    *locked = PramQuery.Busy();
    PramQuery.Close();
    return *locked;
  }
}

void TDataMod::ReplaceDatabase(const QString& path, bool existed) {
  DataBase.SetConnected(false);
  const QByteArray target = QFile::encodeName(path);
  QString setAside;
  if (existed) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    setAside = path + QStringLiteral(".broken-") + stamp;
    for (int n = 2; QFileInfo::exists(setAside); ++n)
      setAside = path + QStringLiteral(".broken-%1-%2").arg(stamp).arg(n);
    if (std::rename(target.constData(), QFile::encodeName(setAside).constData()) != 0)
      throw TAppError(QStringLiteral("参数数据库 %1 已损坏，且无法移开").arg(path));
  }
  // Made beside it under another name and put in place whole.
  const QString fresh = path + QStringLiteral(".new");
  QFile::remove(fresh);
  {
    TASQLite3DB maker;
    maker.SetDatabase(fresh);
    maker.DriverDLL = DataBase.DriverDLL;
    maker.SetConnected(true);
    maker.ExecScript(ShippedScript());
    maker.SetConnected(false);
  }
  if (std::rename(QFile::encodeName(fresh).constData(), target.constData()) != 0)
    throw TAppError(QStringLiteral("无法建立新的参数数据库 %1").arg(path));
  DataBase.SetConnected(true);
  if (existed)
    ShowAppError(QStringLiteral("参数数据库已损坏，已另存为 %1，并换用了一份新的数据库。"
                                "记住的输出选项已恢复为默认值。")
                     .arg(QFileInfo(setAside).fileName()));
}

void TDataMod::DataModuleCreate() {
  DataBase.SetConnected(false);
  DataBase.SetDatabase(UserFiles::DatabaseFile());
  DataBase.DriverDLL = Platform::ExePath(QString::fromLatin1(Platform::kSqliteLibFile));
  QString path = DataBase.Database();
  if (!path.contains(QLatin1Char(Platform::kPathSep))) path = Platform::ExePath(path);
  struct stat st;
  const bool existed = ::lstat(QFile::encodeName(path).constData(), &st) == 0;
  // Another copy of the program may be writing the file: waited for once, here.
  DataBase.SetTimeOut(StartWaitMs);
  DataBase.SetConnected(true);
  bool locked = false;
  if (!existed || !DatabaseSound(&locked)) ReplaceDatabase(path, existed);
  DataBase.SetTimeOut(locked ? 0 : kLaterWaitMs);
}
