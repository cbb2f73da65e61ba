// The selectors' side of the parameter database without the window: entries,
// remembered positions, fragments, and which stores reach the file.
#include "ParamsTestUtil.h"
#include "tests/support/TestDialogs.h"

#include "params/DataModule.h"
#include "params/OptionStore.h"
#include "platform/AppError.h"
#include "platform/Platform.h"

#include <QtTest>

using namespace TestSupport;
using ParamsTest::DbPath;
using ParamsTest::ErrorOf;
using ParamsTest::Sql;

class TestOptionStore : public QObject {
  Q_OBJECT

 private slots:
  void entriesAndFragmentsByPosition() {
    TempAppDir dir;
    ParamsTest::UsePristineDatabase(DbPath(dir));
    {
      // Each table gets a fragment of its own at position 1, and a row whose
      // caption repeats another.
      Sql sql(DbPath(dir));
      for (int tag = 1; tag <= 9; ++tag) {
        sql.Exec(QStringLiteral("update %1 set cmbex_cmd = 'T%2' where cmbex_index = 1")
                     .arg(TOptionStore::Table(tag))
                     .arg(tag));
      }
      sql.Exec(QStringLiteral("update cmbex_vdobitrate set cmbex_name = '1000 kbps' where cmbex_index = 5"));
    }
    CapturedDialogs dialogs;
    TDataMod mod;
    TOptionStore store(&mod.PramQuery);
    const QStringList bitrates = store.Captions(2);
    QCOMPARE(bitrates.size(), 9);
    QCOMPARE(bitrates.mid(3, 3), (QStringList{"768 kbps", "1000 kbps", "1000 kbps"}));
    for (int tag = 1; tag <= 9; ++tag) QCOMPARE(store.Fragment(tag, 1), QStringLiteral("T%1").arg(tag));
    QCOMPARE(store.Fragment(2, 5), QStringLiteral("-b:v 1500k"));
    QCOMPARE(store.Fragment(2, -1), QString());
    QCOMPARE(store.Fragment(2, 9), QString());
    QCOMPARE(ErrorOf([&] { TOptionStore::Table(10); }), QStringLiteral("CmbEx selector 10 not found"));
    QCOMPARE(ErrorOf([] { TOptionStore(nullptr).Captions(1); }), QStringLiteral("Missing database property"));
    QVERIFY(dialogs.messages.empty());
  }

  void onlyRealChangesAreStored() {
    TempAppDir dir;
    ParamsTest::UsePristineDatabase(DbPath(dir));
    {
      Sql sql(DbPath(dir));
      sql.LogUpdates();
      sql.Exec(QStringLiteral("delete from cmbex_itemindex where cmbex_tag = 4"));
    }
    CapturedDialogs dialogs;
    TDataMod mod;
    TOptionStore store(&mod.PramQuery);
    Sql check(DbPath(dir));
    QCOMPARE(store.RememberedPosition(3), 0);
    QVERIFY(!store.StorePosition(3, 0));
    QCOMPARE(check.UpdateLog().size(), 0);
    QVERIFY(store.StorePosition(3, 5));
    QCOMPARE(check.UpdateLog(), (QVector<QStringList>{{"3", "0", "5"}}));
    QCOMPARE(store.RememberedPosition(3), 5);
    // No row: remembered as 0, a store changes nothing and inserts nothing.
    QCOMPARE(store.RememberedPosition(4), 0);
    store.StorePosition(4, 2);
    QCOMPARE(store.RememberedPosition(4), 0);
    QCOMPARE(check.Int(QStringLiteral("select count(*) from cmbex_itemindex")), 8);

    // A read-only file: an unchanged position needs no write and raises
    // nothing; a changed one raises the database's error.
    ParamsTest::ReadOnlyFile readOnly(DbPath(dir));
    if (!readOnly.Ok()) QSKIP("cannot make a file read-only for this user here");
    TDataMod readOnlyMod;
    TOptionStore readOnlyStore(&readOnlyMod.PramQuery);
    QCOMPARE(ErrorOf([&] { readOnlyStore.StorePosition(3, 5); }), QString());
    QCOMPARE(ErrorOf([&] { readOnlyStore.StorePosition(3, 6); }),
             QStringLiteral("无法保存选择: 参数库只读\n详细信息: attempt to write a readonly database"));
    QCOMPARE(readOnlyStore.RememberedPosition(3), 5);
    QVERIFY(dialogs.messages.empty());
  }
};

QTEST_GUILESS_MAIN(TestOptionStore)
#include "tst_option_store.moc"
