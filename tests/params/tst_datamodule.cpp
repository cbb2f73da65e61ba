// The data module against the real SQLite library and real files in a
// temporary installation folder: loading and binding the library, connecting,
// the query layer and the database faults a user can meet.
#include "ParamsTestUtil.h"
#include "tests/support/TestSupport.h"

#include "params/DataModule.h"
#include "platform/AppError.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>

using namespace TestSupport;
using ParamsTest::DbPath;
using ParamsTest::ErrorOf;
using ParamsTest::Sql;

namespace {

TempAppDir::Options WithoutLibrary() {
  TempAppDir::Options options;
  options.sqliteLib = false;
  return options;
}

QString LibPath(const TempAppDir& dir) { return dir.File(QString::fromLatin1(Platform::kSqliteLibFile)); }

void LinkLibrary(const TempAppDir& dir, const QString& target) {
  QFile::remove(LibPath(dir));
  QVERIFY(QFile::link(target, LibPath(dir)));
}

QString RealLibrary() {
  return QFileInfo(BuiltAppDir() + QLatin1Char('/') + QString::fromLatin1(Platform::kSqliteLibFile))
      .canonicalFilePath();
}

// Runs one statement through the module's query; the error's technical text
// (its detail, or its message when it has none), or "" when it ran.
QString TryOpen(TDataMod& mod, const QString& sql, QString* userText = nullptr) {
  try {
    mod.PramQuery.SetSQL(sql);
    mod.PramQuery.Open();
  } catch (const TAppError& error) {
    if (userText) *userText = error.Message;
    return error.Detail.isEmpty() ? error.Message : error.Detail;
  }
  return QString();
}

const QString kFillCodec =
    QStringLiteral("select cmbex_index,cmbex_name from cmbex_vdocodec order by cmbex_index");

// The rows of the video codec table in the database the build delivers.
int CodecRows() {
  ParamsTest::Sql sql(ParamsTest::PristineDatabase());
  return sql.Int(QStringLiteral("select count(*) from cmbex_vdocodec"));
}

}  // namespace

class TestDataModule : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Vidmora")); }

  // ---- loading and binding the library --------------------------------
  void libraryLackingFunctionsIsRefused_data();
  void libraryLackingFunctionsIsRefused();
  void missingLibraryIsReportedAndRetried();
  void emptyDatabaseNameIsRefused();

  // ---- the query layer --------------------------------------------------
  void selectHoldsWholeResultWithTypedFields();
  void fieldsWithoutCurrentRowAreEmpty();
  void updateRunsOnceAndIsInTheFileAtOnce();
  void errorsCarryStatementAndQueryStaysUsable();
  void failuresReadInChinese_data();
  void failuresReadInChinese();
  void chineseTextRoundTrips();
  void collationsCompareWithinGivenLengths();
  void disconnectClosesQueryAndOpenReconnects();

  // ---- database faults ---------------------------------------------------
  void missingDatabaseIsMadeFresh();
  void lockedDatabaseIsWaitedFor();
  void readOnlyFileAllowsSelectsOnly();
  void lockedAtStartIsWaitedForOnce();
  void brokenDatabaseIsSetAside_data();
  void brokenDatabaseIsSetAside();
};

void TestDataModule::libraryLackingFunctionsIsRefused_data() {
  QTest::addColumn<QString>("stub");
  QTest::addColumn<QString>("message");
  QTest::newRow("step") << QStringLiteral(VIDMORA_STUB_NOSTEP)
                        << QStringLiteral("DLL::SQlite3Step not found");
  // Lacks step, bind_int, changes and column_type: the first in binding order is named.
  QTest::newRow("several") << QStringLiteral(VIDMORA_STUB_SEVERAL)
                           << QStringLiteral("DLL::SQlite3Changes not found");
  QTest::newRow("last") << QStringLiteral(VIDMORA_STUB_NOCOLLATION)
                        << QStringLiteral("DLL::SQlite3CreateCollation not found");
  QTest::newRow("first") << QStringLiteral(VIDMORA_STUB_NOOPEN)
                         << QStringLiteral("DLL::SQlite3Open not found");
}

void TestDataModule::libraryLackingFunctionsIsRefused() {
  QFETCH(QString, stub);
  QFETCH(QString, message);
  TempAppDir dir(WithoutLibrary());
  LinkLibrary(dir, stub);
  CapturedDialogs dialogs;
  TDataMod mod;
  // Start-up shows the refusal once and goes on with the connection closed.
  QCOMPARE(dialogs.messages.size(), size_t(1));
  QCOMPARE(dialogs.messages[0].first, QStringLiteral("Vidmora"));
  QCOMPARE(dialogs.messages[0].second, message);
  QVERIFY(!mod.DataBase.Connected());
  QCOMPARE(TryOpen(mod, kFillCodec), message);
  // Such a library is never used: even with a complete library in its place,
  // every later attempt fails with the same message.
  LinkLibrary(dir, RealLibrary());
  QCOMPARE(TryOpen(mod, kFillCodec), message);
  QVERIFY(!mod.DataBase.Connected());
}

void TestDataModule::missingLibraryIsReportedAndRetried() {
  TempAppDir dir(WithoutLibrary());
  // The installation folder keeps the database of its first build; the count
  // below is the one of the delivered database.
  ParamsTest::UsePristineDatabase(DbPath(dir));
  CapturedDialogs dialogs;
  TDataMod mod;
  const QString expected = QStringLiteral("Could not load SQLite library(") + LibPath(dir) + QLatin1Char(')');
  QCOMPARE(dialogs.messages.size(), size_t(1));
  QCOMPARE(dialogs.messages[0].second, expected);
  QVERIFY(QFileInfo(LibPath(dir)).isAbsolute());
  QVERIFY(!mod.DataBase.Connected());
  // Each use tries again and fails the same way.
  QCOMPARE(TryOpen(mod, kFillCodec), expected);
  QCOMPARE(TryOpen(mod, kFillCodec), expected);
  // Once the library is there, the next use connects.
  LinkLibrary(dir, RealLibrary());
  QCOMPARE(TryOpen(mod, kFillCodec), QString());
  QVERIFY(mod.DataBase.Connected());
  QCOMPARE(mod.PramQuery.RecordCount(), CodecRows());
  QCOMPARE(dialogs.messages.size(), size_t(1));  // the module shows nothing itself after start-up
}

void TestDataModule::emptyDatabaseNameIsRefused() {
  TempAppDir dir;
  TASQLite3DB db;
  db.DriverDLL = LibPath(dir);
  db.SetDatabase(QStringLiteral("   "));
  QCOMPARE(db.Database(), QString());
  QCOMPARE(ErrorOf([&] { db.SetConnected(true); }), QStringLiteral("Missing database property"));
  QVERIFY(!db.Connected());
  db.SetDatabase(QStringLiteral("  ") + DbPath(dir) + QStringLiteral(" \t"));
  QCOMPARE(db.Database(), DbPath(dir));
  db.SetConnected(true);
  QVERIFY(db.Connected());
  QVERIFY(!db.LibVersion().isEmpty());
}

void TestDataModule::selectHoldsWholeResultWithTypedFields() {
  TempAppDir dir;
  ParamsTest::UsePristineDatabase(DbPath(dir));
  CapturedDialogs dialogs;
  TDataMod mod;
  QVERIFY(dialogs.messages.empty());
  QVERIFY(mod.DataBase.Connected());
  TASQLite3Query& q = mod.PramQuery;
  q.SetSQL(QStringLiteral("select cmbex_index,cmbex_name,cmbex_cmd from cmbex_vdosize order by cmbex_index"));
  q.Open();
  QVERIFY(q.Active());
  QCOMPARE(q.RecordCount(), 7);
  QCOMPARE(q.FieldCount(), 3);
  QCOMPARE(q.FieldName(1), QStringLiteral("cmbex_name"));
  QCOMPARE(q.FieldType(0), TFieldType::Integer);
  QCOMPARE(q.FieldType(1), TFieldType::Text);
  // Positioned on the first row; walking forward and back over the held rows.
  QCOMPARE(q.FieldAsInteger(0), 0);
  QCOMPARE(q.FieldAsString(1), QStringLiteral("原始大小"));
  QCOMPARE(q.FieldAsString(2), QString());
  for (int i = 1; i < 7; ++i) q.Next();
  QCOMPARE(q.FieldAsInteger(0), 6);
  QCOMPARE(q.FieldAsString(2), QStringLiteral("-s 1920x1080"));
  q.First();
  QCOMPARE(q.FieldAsString(0), QStringLiteral("0"));
  // The result stays readable while another connection changes the table: it
  // was read whole into memory.
  {
    Sql other(DbPath(dir));
    QVERIFY(other.Exec(QStringLiteral("delete from cmbex_vdosize")));
  }
  q.Next();
  QCOMPARE(q.FieldAsString(1), QStringLiteral("320x240"));
  // An expression column has no declared type and reads as text.
  q.SetSQL(QStringLiteral("select count(*), 'x' || 1 from cmbex_vdocodec"));
  QVERIFY(!q.Active());
  q.Open();
  QCOMPARE(q.FieldType(1), TFieldType::Text);
  QCOMPARE(q.FieldAsString(1), QStringLiteral("x1"));
  QCOMPARE(q.FieldAsInteger(0), CodecRows());
}

void TestDataModule::fieldsWithoutCurrentRowAreEmpty() {
  TempAppDir dir;
  ParamsTest::UsePristineDatabase(DbPath(dir));
  TDataMod mod;
  TASQLite3Query& q = mod.PramQuery;
  q.SetSQL(QStringLiteral("select cmbex_index from cmbex_itemindex where cmbex_tag = 42"));
  q.Open();
  QCOMPARE(q.RecordCount(), 0);
  QVERIFY(q.Eof());
  QCOMPARE(q.FieldAsInteger(0), 0);
  QCOMPARE(q.FieldAsString(0), QString());
  // Past the last row, and for a column that does not exist.
  q.SetSQL(QStringLiteral("select cmbex_cmd from cmbex_adocodec where cmbex_index = 1"));
  q.Open();
  QCOMPARE(q.FieldAsString(0), QStringLiteral("-acodec libmp3lame"));
  QCOMPARE(q.FieldAsString(5), QString());
  q.Next();
  QCOMPARE(q.FieldAsString(0), QString());
  QCOMPARE(q.FieldAsInteger(0), 0);
  // NULL reads as "" and 0.
  q.SetSQL(QStringLiteral("select null, cast(null as integer)"));
  q.Open();
  QCOMPARE(q.RecordCount(), 1);
  QCOMPARE(q.FieldAsString(0), QString());
  QCOMPARE(q.FieldAsInteger(1), 0);
  // Text that is no number cannot be read as an integer.
  q.SetSQL(QStringLiteral("select 'abc', ' 7 ', 2.9, -3"));
  q.Open();
  QVERIFY(!ErrorOf([&] { q.FieldAsInteger(0); }).isEmpty());
  QCOMPARE(q.FieldAsInteger(1), 7);
  QCOMPARE(q.FieldAsInteger(2), 2);
  QCOMPARE(q.FieldAsInteger(3), -3);
}

void TestDataModule::updateRunsOnceAndIsInTheFileAtOnce() {
  TempAppDir dir;
  ParamsTest::UsePristineDatabase(DbPath(dir));
  {
    Sql setup(DbPath(dir));
    QVERIFY(setup.LogUpdates());
  }
  TDataMod mod;
  TASQLite3Query& q = mod.PramQuery;
  q.SetSQL(QStringLiteral("update cmbex_itemindex set cmbex_index = 4 where cmbex_tag = 2"));
  q.Open();
  QCOMPARE(q.RecordCount(), 0);
  QCOMPARE(q.FieldAsString(0), QString());
  Sql check(DbPath(dir));
  // Another connection sees the value at once: no transaction stays open.
  QCOMPARE(check.Int(QStringLiteral("select cmbex_index from cmbex_itemindex where cmbex_tag = 2")), 4);
  QCOMPARE(check.UpdateLog().size(), 1);
  // An update of a selector number without a row changes nothing and is no error.
  q.SetSQL(QStringLiteral("update cmbex_itemindex set cmbex_index = 1 where cmbex_tag = 12"));
  q.Open();
  QCOMPARE(check.Int(QStringLiteral("select count(*) from cmbex_itemindex")), 9);
  QCOMPARE(check.UpdateLog().size(), 1);
}

void TestDataModule::errorsCarryStatementAndQueryStaysUsable() {
  TempAppDir dir;
  ParamsTest::UsePristineDatabase(DbPath(dir));
  TDataMod mod;
  TASQLite3Query& q = mod.PramQuery;
  QCOMPARE(TryOpen(mod, QString()), QStringLiteral("no query specified"));
  QCOMPARE(TryOpen(mod, QStringLiteral("  \t ")), QStringLiteral("no query specified"));
  const QString bad = QStringLiteral("selec cmbex_name from cmbex_vdocodec");
  QCOMPARE(TryOpen(mod, bad), QStringLiteral("near \"selec\": syntax error\n\n") + bad);
  QVERIFY(!q.Active());
  const QString noColumn = QStringLiteral("select cmbex_nope from cmbex_vdocodec");
  QCOMPARE(TryOpen(mod, noColumn), QStringLiteral("no such column: cmbex_nope\n\n") + noColumn);
  // A failure while stepping (not while preparing) also names the statement.
  const QString overflow = QStringLiteral("select abs(-9223372036854775807 - 1)");
  QCOMPARE(TryOpen(mod, overflow), QStringLiteral("integer overflow\n\n") + overflow);
  // SQLite's error text is cut to 255 characters.
  const QString longName = QString(300, QLatin1Char('x'));
  const QString longSql = QStringLiteral("select * from ") + longName;
  const QString longError = TryOpen(mod, longSql);
  QCOMPARE(longError,
           (QStringLiteral("no such table: ") + longName).left(255) + QStringLiteral("\n\n") + longSql);
  // After a failure the query works normally.
  QCOMPARE(TryOpen(mod, kFillCodec), QString());
  QCOMPARE(q.RecordCount(), CodecRows());
  QCOMPARE(q.FieldAsString(1), QStringLiteral("H.264 (AVC)"));
}

// What a user reads of a failed statement: what could not be done and why, in
// Chinese, SQLite's text on a second line, never the statement.
void TestDataModule::failuresReadInChinese_data() {
  QTest::addColumn<QString>("arrange");  // "", "readonly" or "locked"
  QTest::addColumn<QString>("sql");
  QTest::addColumn<QString>("expected");
  const QString update = QStringLiteral("update cmbex_itemindex set cmbex_index = 2 where cmbex_tag = 1");
  QTest::newRow("read-only update") << "readonly" << update
                                    << QStringLiteral("无法保存选择: 参数库只读\n详细信息: attempt to write a readonly database");
  QTest::newRow("locked select") << "locked" << kFillCodec
                                 << QStringLiteral("无法读取参数库: 参数库正被其他程序使用\n详细信息: database is locked");
  QTest::newRow("locked update") << "locked" << update
                                 << QStringLiteral("无法保存选择: 参数库正被其他程序使用\n详细信息: database is locked");
  QTest::newRow("missing table") << "" << QStringLiteral("select cmbex_name from cmbex_nope")
                                 << QStringLiteral("无法读取参数库: 参数库内容有误\n详细信息: no such table: cmbex_nope");
}

void TestDataModule::failuresReadInChinese() {
  QFETCH(QString, arrange);
  QFETCH(QString, sql);
  QFETCH(QString, expected);
  TempAppDir dir;
  ParamsTest::UsePristineDatabase(DbPath(dir));
  std::unique_ptr<ParamsTest::ReadOnlyFile> readOnly;
  if (arrange == QLatin1String("readonly")) {
    readOnly = std::make_unique<ParamsTest::ReadOnlyFile>(DbPath(dir));
    if (!readOnly->Ok()) QSKIP("cannot make a file read-only for this user here");
  }
  TDataMod mod;
  Sql holder(DbPath(dir));
  if (arrange == QLatin1String("locked")) QVERIFY(holder.Exec(QStringLiteral("begin exclusive")));
  QString userText;
  const QString detail = TryOpen(mod, sql, &userText);
  QCOMPARE(userText, expected);
  QVERIFY(detail.endsWith(QStringLiteral("\n\n") + sql));
  // Codes come as extended ones too (SQLITE_READONLY_DBMOVED, SQLITE_IOERR_WRITE).
  QCOMPARE(DatabaseFailureText(QStringLiteral("无法保存选择"), 1032, QString()), QStringLiteral("无法保存选择: 参数库只读"));
  QCOMPARE(DatabaseFailureText(QStringLiteral("无法建立参数库"), 778, QStringLiteral("disk I/O error")),
           QStringLiteral("无法建立参数库: 读写参数库文件时出错\n详细信息: disk I/O error"));
  QCOMPARE(DatabaseFailureText(QStringLiteral("无法建立参数库"), 13, QString()), QStringLiteral("无法建立参数库: 磁盘已满"));
}

void TestDataModule::chineseTextRoundTrips() {
  TempAppDir dir;
  ParamsTest::UsePristineDatabase(DbPath(dir));
  TDataMod mod;
  const QString caption = QStringLiteral("立体声（环绕）");
  QCOMPARE(TryOpen(mod, QStringLiteral("update cmbex_adochannels set cmbex_name = '") + caption +
                            QStringLiteral("' where cmbex_index = 2")),
           QString());
  Sql check(DbPath(dir));
  QCOMPARE(check.Value(QStringLiteral("select cmbex_name from cmbex_adochannels where cmbex_index = 2")),
           caption);
  QCOMPARE(
      check.Int(QStringLiteral("select length(cmbex_name) from cmbex_adochannels where cmbex_index = 2")),
      caption.size());
  QCOMPARE(TryOpen(mod, QStringLiteral("select cmbex_index from cmbex_adochannels where cmbex_name = '") +
                            caption + QLatin1Char('\'')),
           QString());
  QCOMPARE(mod.PramQuery.FieldAsInteger(0), 2);
}

void TestDataModule::collationsCompareWithinGivenLengths() {
  TempAppDir dir;
  ParamsTest::UsePristineDatabase(DbPath(dir));
  TDataMod mod;
  // SQLite hands the collation texts that are not NUL-terminated; prefixes of
  // each other only compare right when the given lengths are respected.
  QCOMPARE(TryOpen(mod, QStringLiteral("create temp table words (w text)")), QString());
  for (const char* w : {"banana", "Apple", "apple", "ab", "abc", "a", "Cherry"}) {
    QCOMPARE(TryOpen(mod, QStringLiteral("insert into words values ('%1')").arg(QLatin1String(w))),
             QString());
  }
  auto ordered = [&](const QString& collation) {
    QStringList words;
    if (!TryOpen(mod, QStringLiteral("select w from words order by w collate ") + collation).isEmpty())
      return words;
    for (int i = 0; i < mod.PramQuery.RecordCount(); ++i, mod.PramQuery.Next())
      words << mod.PramQuery.FieldAsString(0);
    return words;
  };
  const QStringList noCase = ordered(QStringLiteral("systemnocase"));
  QCOMPARE(noCase.size(), 7);
  QCOMPARE(noCase.mid(0, 3), (QStringList{"a", "ab", "abc"}));
  QCOMPARE(noCase.mid(5), (QStringList{"banana", "Cherry"}));
  QCOMPARE(noCase.mid(3, 2).join(QLatin1Char(',')).toLower(), QStringLiteral("apple,apple"));
  // Case-sensitive: still a locale order, not the byte order that puts every
  // upper-case word first.
  const QStringList withCase = ordered(QStringLiteral("system"));
  QCOMPARE(withCase.size(), 7);
  QStringList expected{"banana", "Apple", "apple", "ab", "abc", "a", "Cherry"};
  std::sort(expected.begin(), expected.end(),
            [](const QString& x, const QString& y) { return QString::localeAwareCompare(x, y) < 0; });
  QCOMPARE(withCase, expected);
  // Equality under the case-blind collation.
  QCOMPARE(TryOpen(mod, QStringLiteral("select count(*) from words where w = 'APPLE' collate systemnocase")),
           QString());
  QCOMPARE(mod.PramQuery.FieldAsInteger(0), 2);
}

void TestDataModule::disconnectClosesQueryAndOpenReconnects() {
  TempAppDir dir;
  ParamsTest::UsePristineDatabase(DbPath(dir));
  TDataMod mod;
  QCOMPARE(TryOpen(mod, kFillCodec), QString());
  QVERIFY(mod.PramQuery.Active());
  mod.DataBase.SetConnected(false);
  QVERIFY(!mod.DataBase.Connected());
  QVERIFY(!mod.PramQuery.Active());
  QCOMPARE(mod.PramQuery.RecordCount(), 0);
  QCOMPARE(mod.PramQuery.FieldAsString(1), QString());
  mod.PramQuery.Open();  // the statement is kept; opening connects again
  QVERIFY(mod.DataBase.Connected());
  QCOMPARE(mod.PramQuery.RecordCount(), CodecRows());
}

void TestDataModule::missingDatabaseIsMadeFresh() {
  TempAppDir::Options options;
  options.database = false;
  TempAppDir dir(options);
  CapturedDialogs dialogs;
  TDataMod mod;
  QVERIFY(dialogs.messages.empty());  // nothing was remembered, nothing is lost
  QVERIFY(mod.DataBase.Connected());
  QCOMPARE(TryOpen(mod, kFillCodec), QString());
  QCOMPARE(mod.PramQuery.RecordCount(), CodecRows());
  QCOMPARE(QDir(dir.Path()).entryList({QStringLiteral("LibParmt.dat*")}), QStringList{"LibParmt.dat"});
}

void TestDataModule::lockedDatabaseIsWaitedFor() {
  TempAppDir dir;
  ParamsTest::UsePristineDatabase(DbPath(dir));
  TDataMod mod;
  // The program waited up to 3 s at start-up; later statements wait briefly.
  // The test connects again with the wait set to 600 ms.
  QCOMPARE(mod.DataBase.TimeOut, 250);
  mod.DataBase.SetConnected(false);
  mod.DataBase.TimeOut = 600;
  mod.DataBase.SetConnected(true);
  const QString update = QStringLiteral("update cmbex_itemindex set cmbex_index = 1 where cmbex_tag = 1");
  // Another copy of the program holds an exclusive lock and lets go of it
  // 150 ms later: the statement waits for it and then runs.
  {
    std::atomic<bool> locked{false};
    std::thread other([&] {
      Sql holder(DbPath(dir));
      holder.Exec(QStringLiteral("begin exclusive"));
      locked = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      holder.Exec(QStringLiteral("commit"));
    });
    while (!locked) std::this_thread::yield();
    const QString error = TryOpen(mod, update);
    other.join();
    QCOMPARE(error, QString());
    Sql check(DbPath(dir));
    QCOMPARE(check.Int(QStringLiteral("select cmbex_index from cmbex_itemindex where cmbex_tag = 1")), 1);
  }
  // A lock that is not given up in time ends the statement with SQLite's error.
  Sql holder(DbPath(dir));
  QVERIFY(holder.Exec(QStringLiteral("begin exclusive")));
  QElapsedTimer timer;
  timer.start();
  const QString error = TryOpen(mod, kFillCodec);
  qInfo("locked database: the select failed after %lld ms", timer.elapsed());
  QCOMPARE(error, QStringLiteral("database is locked\n\n") + kFillCodec);
  QVERIFY(holder.Exec(QStringLiteral("rollback")));
  QCOMPARE(TryOpen(mod, kFillCodec), QString());
}

void TestDataModule::readOnlyFileAllowsSelectsOnly() {
  TempAppDir dir;
  ParamsTest::UsePristineDatabase(DbPath(dir));
  ParamsTest::ReadOnlyFile readOnly(DbPath(dir));
  if (!readOnly.Ok()) QSKIP("cannot make a file read-only for this user here");
  CapturedDialogs dialogs;
  TDataMod mod;
  QVERIFY(dialogs.messages.empty());
  QCOMPARE(TryOpen(mod, kFillCodec), QString());
  QCOMPARE(mod.PramQuery.RecordCount(), CodecRows());
  const QString update = QStringLiteral("update cmbex_itemindex set cmbex_index = 2 where cmbex_tag = 1");
  QCOMPARE(TryOpen(mod, update), QStringLiteral("attempt to write a readonly database\n\n") + update);
  QCOMPARE(TryOpen(mod, QStringLiteral("select cmbex_index from cmbex_itemindex where cmbex_tag = 1")),
           QString());
  QCOMPARE(mod.PramQuery.FieldAsInteger(0), 0);
}

// A database locked by another program when the program starts is waited for
// once; it is not taken for a broken one, and later statements do not wait.
void TestDataModule::lockedAtStartIsWaitedForOnce() {
  TempAppDir dir;
  ParamsTest::UsePristineDatabase(DbPath(dir));
  Sql holder(DbPath(dir));
  QVERIFY(holder.Exec(QStringLiteral("begin exclusive")));
  CapturedDialogs dialogs;
  TDataMod::StartWaitMs = 300;  // the program's 3 s, shortened
  TDataMod mod;
  TDataMod::StartWaitMs = 3000;
  QVERIFY(dialogs.messages.empty());
  QCOMPARE(mod.DataBase.TimeOut, 0);
  QElapsedTimer timer;
  timer.start();
  QCOMPARE(TryOpen(mod, kFillCodec), QStringLiteral("database is locked\n\n") + kFillCodec);
  qInfo("a statement on the locked database failed after %lld ms", timer.elapsed());
  QVERIFY(holder.Exec(QStringLiteral("rollback")));
  QCOMPARE(TryOpen(mod, kFillCodec), QString());
  QCOMPARE(QDir(dir.Path()).entryList({QStringLiteral("LibParmt.dat*")}), QStringList{"LibParmt.dat"});
}

// A parameter database that is no sound one of ours is set aside under a dated
// name no earlier file has, and a fresh one made from the shipped text takes its
// place, with one message.
enum class TBrokenBase { kBytes, kFolder, kFresh, kPristine };
Q_DECLARE_METATYPE(TBrokenBase)

namespace {

QByteArray RandomBytes(int size) {
  QByteArray bytes(size, '\0');
  QRandomGenerator generator(1234);
  for (char& c : bytes) c = char(generator.bounded(256));
  return bytes;
}

// Misstates the fragmented bytes in the header of a table's root page: every
// table is there and reads, but the integrity check reports the page.
void DamageRootPage(const QString& path, const QString& table) {
  int page = 0, pageSize = 0;
  {
    Sql sql(path);
    const auto root = sql.Rows(QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name = '%1'").arg(table));
    const auto size = sql.Rows(QStringLiteral("PRAGMA page_size"));
    QVERIFY(!root.isEmpty() && !size.isEmpty());
    page = root[0][0].toInt();
    pageSize = size[0][0].toInt();
  }
  QVERIFY(page > 1 && pageSize > 0);
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadWrite));
  QVERIFY(file.seek(qint64(page - 1) * pageSize + 7));
  QCOMPARE(file.write(QByteArray(1, '\x01')), qint64(1));
}

}  // namespace

void TestDataModule::brokenDatabaseIsSetAside_data() {
  QTest::addColumn<TBrokenBase>("base");
  QTest::addColumn<QByteArray>("bytes");  // the file's content, for kBytes
  QTest::addColumn<QString>("statement");  // run on the database before the start
  QTest::addColumn<QString>("damagedTable");  // whose root page is damaged
  QTest::newRow("random bytes") << TBrokenBase::kBytes << RandomBytes(8192) << QString() << QString();
  QTest::newRow("empty file") << TBrokenBase::kBytes << QByteArray() << QString() << QString();
  QTest::newRow("folder") << TBrokenBase::kFolder << QByteArray() << QString() << QString();
  QTest::newRow("another database") << TBrokenBase::kFresh << QByteArray()
                                    << QStringLiteral("create table notes (t text)") << QString();
  QTest::newRow("a table missing") << TBrokenBase::kPristine << QByteArray()
                                   << QStringLiteral("drop table cmbex_adofreq") << QString();
  QTest::newRow("one damaged page, every table there")
      << TBrokenBase::kPristine << QByteArray() << QString() << QStringLiteral("cmbex_vdosize");
}

void TestDataModule::brokenDatabaseIsSetAside() {
  QFETCH(TBrokenBase, base);
  QFETCH(QByteArray, bytes);
  QFETCH(QString, statement);
  QFETCH(QString, damagedTable);
  TempAppDir dir;
  const QString path = DbPath(dir);
  QFile::remove(path);
  if (base == TBrokenBase::kFolder) QVERIFY(QDir().mkdir(path));
  if (base == TBrokenBase::kPristine) ParamsTest::UsePristineDatabase(path);
  if (base == TBrokenBase::kBytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
  }
  if (!statement.isEmpty()) QVERIFY(Sql(path).Exec(statement));
  if (!damagedTable.isEmpty()) DamageRootPage(path, damagedTable);
  // Files set aside earlier, under every name this minute can give, stay as they are.
  QStringList earlier;
  const QDateTime now = QDateTime::currentDateTime();
  for (int s = -1; s < 60; ++s) {
    const QString name = QStringLiteral("LibParmt.dat.broken-") +
                         now.addSecs(s).toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QFile file(dir.File(name));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("earlier") == 7);
    earlier << name;
  }
  CapturedDialogs dialogs;
  TDataMod mod;
  QCOMPARE(dialogs.messages.size(), size_t(1));
  QStringList aside = QDir(dir.Path()).entryList({QStringLiteral("LibParmt.dat.broken-*")},
                                                 QDir::AllEntries | QDir::NoDotAndDotDot);
  for (const QString& name : earlier) {
    QFile file(dir.File(name));
    QVERIFY2(file.open(QIODevice::ReadOnly) && file.readAll() == "earlier", qPrintable(name));
    aside.removeOne(name);
  }
  QCOMPARE(aside.size(), 1);
  QVERIFY2(dialogs.messages[0].second.contains(aside[0]), qPrintable(dialogs.messages[0].second));
  QCOMPARE(QFileInfo(dir.File(aside[0])).isDir(), base == TBrokenBase::kFolder);
  if (base == TBrokenBase::kBytes) QCOMPARE(QFileInfo(dir.File(aside[0])).size(), qint64(bytes.size()));
  QCOMPARE(TryOpen(mod, kFillCodec), QString());
  QCOMPARE(mod.PramQuery.RecordCount(), CodecRows());
  // The next start finds it sound and says nothing.
  CapturedDialogs again;
  TDataMod next;
  QVERIFY(again.messages.empty());
}

QTEST_MAIN(TestDataModule)
#include "tst_datamodule.moc"
