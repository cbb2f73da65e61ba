#pragma once
// The data module: the connection to the parameter database and the one query
// through which every statement of the program runs. The SQLite library is
// loaded at run time from the executable's folder and bound by function name.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

struct SqliteApi;  // the bound library functions (DataModule.cpp)

class TASQLite3Query;

class TASQLite3DB {
 public:
  TASQLite3DB();
  ~TASQLite3DB();
  TASQLite3DB(const TASQLite3DB&) = delete;
  TASQLite3DB& operator=(const TASQLite3DB&) = delete;

  // Settings.
  QString Database() const { return database_; }
  void SetDatabase(const QString& path);  // trims blanks at both ends
  QString DriverDLL;
  // How long a statement waits for a lock held by another connection, in
  // milliseconds (0: not at all). Set before connecting, or through
  // SetTimeOut, which also applies it to an open connection.
  int TimeOut = 0;
  void SetTimeOut(int ms);
  QString CharacterEncoding;

  bool Connected() const { return connected_; }
  // Runs a script of statements one after the other, connecting first when
  // needed; the first that fails raises TAppError (DatabaseFailureText, with
  // SQLite's message as the detail).
  void ExecScript(const QString& script);
  // true connects (errors raise TAppError), false disconnects.
  void SetConnected(bool connected);

  // Internal to the query layer.
  SqliteApi* Api() const { return api_; }
  void* Handle() const { return db_; }
  void AttachQuery(TASQLite3Query* query) { queries_.push_back(query); }
  void DetachQuery(TASQLite3Query* query) { queries_.removeAll(query); }
  QString LibVersion() const { return libVersion_; }
  // Statement texts and values cross the boundary in UTF-8 (CharacterEncoding
  // empty or "utf8"), otherwise in the local 8-bit character set.
  QByteArray EncodeText(const QString& text) const;
  QString DecodeText(const char* text, int bytes) const;
  // SQLite's error text for the connection, at most 255 characters.
  QString ErrorText() const;

 private:
  void Connect();
  void Disconnect();

  QString database_;
  bool connected_ = false;
  SqliteApi* api_ = nullptr;
  void* library_ = nullptr;
  void* db_ = nullptr;
  QString libVersion_;
  QString refusal_;  // a library that lacked a function is never used
  QString refusedLibrary_;
  bool utf8_ = true;
  QVector<TASQLite3Query*> queries_;
};

// The user's account of a failed database statement, in Chinese: what could
// not be done (`action`, e.g. "无法保存选择") and why, judged from SQLite's
// result code, then SQLite's own text on a second line. Never the statement.
QString DatabaseFailureText(const QString& action, int resultCode, const QString& sqliteText);

enum class TFieldType { Integer, Float, Text, Blob };

class TASQLite3Query {
 public:
  TASQLite3Query();
  ~TASQLite3Query();
  TASQLite3Query(const TASQLite3Query&) = delete;
  TASQLite3Query& operator=(const TASQLite3Query&) = delete;

  void SetConnection(TASQLite3DB* db);
  TASQLite3DB* Connection() const { return connection_; }

  // Clears the statement text and sets it to one line; closes the query.
  void SetSQL(const QString& statement);
  QString SQL() const { return sql_; }
  // Runs the statement and makes its whole result the current one.
  void Open();
  void Close();
  bool Active() const { return active_; }
  int RecordCount() const { return rows_.size(); }
  void First();
  void Next();
  bool Eof() const { return current_ < 0 || current_ >= rows_.size(); }
  int FieldCount() const { return fieldNames_.size(); }
  QString FieldName(int k) const { return fieldNames_.value(k); }
  TFieldType FieldType(int k) const { return fieldTypes_.value(k, TFieldType::Text); }
  // Field k of the current row; "" and 0 without a current row.
  QString FieldAsString(int k) const;
  int FieldAsInteger(int k) const;
  // The last Open failed because another connection held the database locked
  // for longer than the connection's busy wait.
  bool Busy() const { return busy_; }

 private:
  TASQLite3DB* connection_ = nullptr;
  QString sql_;
  bool active_ = false;
  QStringList fieldNames_;
  QVector<TFieldType> fieldTypes_;
  QVector<QStringList> rows_;
  int current_ = -1;
  bool busy_ = false;
};

class TDataMod {
 public:
  TDataMod();
  ~TDataMod();
  TDataMod(const TDataMod&) = delete;
  TDataMod& operator=(const TDataMod&) = delete;

  // Opens the parameter database (UserFiles::DatabaseFile); an error is shown by
  // the application's error handler and the connection stays closed. A file
  // that is not a sound parameter database (corrupt, empty, a folder, another
  // database) is set aside as "LibParmt.dat.broken-<date and time>" and a fresh
  // database made from the shipped one takes its place, with one message saying
  // that the remembered choices were reset; a missing one is made silently.
  // A database locked by another program is waited for here, once, up to
  // 3 s; later statements wait only briefly, or not at all when it was locked
  // at start-up.
  void DataModuleCreate();

  // How long the start-up waits for another program's lock, in milliseconds
  // (3000; tests shorten it).
  static int StartWaitMs;

  // The text of the shipped database.
  static QString ShippedScript();

  TASQLite3DB DataBase;
  TASQLite3Query PramQuery;

 private:
  // Whether the open database is ours and sound; a lock held too long says
  // nothing of the file, and *locked tells of it.
  bool DatabaseSound(bool* locked);
  void ReplaceDatabase(const QString& path, bool existed);
};

extern TDataMod* DataMod;
