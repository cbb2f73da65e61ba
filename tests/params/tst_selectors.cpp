// The nine option selectors: the drop-down control's behaviour, filling from
// the database at start-up, remembering choices, the audio codec's refill of
// the other audio selectors, and the command fragments. The main window is
// built and shown as the program does it, against real database files.
#include "ParamsTestUtil.h"
#include "tests/support/TestSupport.h"

#include "app/ConvMainFrm.h"
#include "app/ConvMainFunc.h"
#include "app/Controls.h"
#include "params/DataModule.h"
#include "platform/AppError.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QWindow>
#include <QtTest>

#include <memory>

using namespace TestSupport;
using ParamsTest::DbPath;
using ParamsTest::Sql;

namespace {

TComboBoxEx* Sel(int tag) {
  if (!ConvMainForm) return nullptr;
  return tag <= 5 ? ConvMainForm->CmbExVideo[tag] : ConvMainForm->CmbExAudio[tag - 5];
}

// A pick by the user: the control moves to the entry and reports activation.
void UserPicks(int tag, int position) {
  TComboBoxEx* s = Sel(tag);
  s->setCurrentIndex(position);
  emit s->activated(position);
}

QStringList Captions(int tag) {
  QStringList captions;
  for (int i = 0; i < Sel(tag)->ItemCount(); ++i) captions << Sel(tag)->itemText(i);
  return captions;
}

const char* const kTables[10] = {
    nullptr,           "cmbex_vdocodec", "cmbex_vdobitrate", "cmbex_vdosize",     "cmbex_vdofps",
    "cmbex_vdoaspect", "cmbex_adocodec", "cmbex_adobitrate", "cmbex_adochannels", "cmbex_adofreq"};

// The texts of all message boxes shown.
QStringList Messages(const CapturedDialogs& dialogs) {
  QStringList texts;
  for (const auto& m : dialogs.messages) texts << m.second;
  return texts;
}

// A temporary installation with the pristine database, an update log, and a
// chance to change the database before the program starts.
struct Install {
  explicit Install(const std::function<void(Sql&)>& arrange = {}) {
    ParamsTest::UsePristineDatabase(DbPath(dir));
    Sql sql(DbPath(dir));
    sql.LogUpdates();
    if (arrange) arrange(sql);
  }
  TempAppDir dir;
  QVector<QStringList> Log() {
    Sql sql(DbPath(dir));
    return sql.UpdateLog();
  }
  int Rows(int tag) {
    Sql sql(DbPath(dir));
    return sql.Int(QStringLiteral("select count(*) from %1").arg(QLatin1String(kTables[tag])));
  }
  int Remembered(int tag) {
    Sql sql(DbPath(dir));
    return sql.Int(QStringLiteral("select cmbex_index from cmbex_itemindex where cmbex_tag = %1").arg(tag));
  }
};

}  // namespace

class TestSelectors : public QObject {
  Q_OBJECT

 private slots:
  // ---- the drop-down control ---------------------------------------------
  void selectorKeepsTextApartFromEntries();
  void selectorNotifiesOnTextOrEntryChange();

  // ---- start-up ------------------------------------------------------------
  void startupFillsNineSelectorsAndWritesNothing();
  void pickSurvivesRestart();
  void rememberedPositionOutsideTable_data();
  void rememberedPositionOutsideTable();
  void audioCodecOutsideTableLeavesAudioUnfilled();
  void emptyOptionTable();
  void selectorWithoutRememberedRow();
  void startupWithoutLibrary();
  void startupWithoutTable();
  void lockedDatabaseAtStartupWaitsAndReportsOnce();
  void unwritableDatabaseKeepsPicksForTheSession();

  // ---- picks and fragments -------------------------------------------------
  void pickingSameCaptionIsKeptByPosition();
  void audioCodecPickRefillsOthersAndStoresLast();
  void fragmentsFollowCurrentEntries();
  void fragmentOperationsReadTheirOwnTable();
};

void TestSelectors::selectorKeepsTextApartFromEntries() {
  TComboBoxEx box;
  int changes = 0;
  box.OnChange = [&] { ++changes; };
  box.AddItem(QStringLiteral("甲"), 9, 9);
  box.AddItem(QStringLiteral("乙"), 9, 9);
  // Adding makes no entry current and raises nothing.
  QCOMPARE(box.ItemIndex(), -1);
  QCOMPARE(box.Text(), QString());
  box.SetItemIndex(1);
  QCOMPARE(box.ItemIndex(), 1);
  QCOMPARE(box.Text(), QStringLiteral("乙"));
  // Clearing keeps the shown text.
  box.ClearItems();
  QCOMPARE(box.ItemCount(), 0);
  QCOMPARE(box.ItemIndex(), -1);
  QCOMPARE(box.Text(), QStringLiteral("乙"));
  // Selecting with no entries, or outside them, keeps the text and leaves no
  // current entry.
  box.SetItemIndex(0);
  QCOMPARE(box.ItemIndex(), -1);
  QCOMPARE(box.Text(), QStringLiteral("乙"));
  box.AddItem(QStringLiteral("丙"), 9, 9);
  box.SetItemIndex(0);
  QCOMPARE(box.Text(), QStringLiteral("丙"));
  box.SetItemIndex(1);
  QCOMPARE(box.ItemIndex(), -1);
  QCOMPARE(box.Text(), QStringLiteral("丙"));
  box.SetItemIndex(-5);
  QCOMPARE(box.ItemIndex(), -1);
  QCOMPARE(box.Text(), QStringLiteral("丙"));
  QCOMPARE(changes, 2);
  // Adding while an entry is current keeps it current.
  box.SetItemIndex(0);
  box.AddItem(QStringLiteral("丁"), 9, 9);
  QCOMPARE(box.ItemIndex(), 0);
  QCOMPARE(box.Text(), QStringLiteral("丙"));
}

void TestSelectors::selectorNotifiesOnTextOrEntryChange() {
  TComboBoxEx box;
  QStringList seen;  // the text and position the handler finds when it runs
  box.OnChange = [&] { seen << QStringLiteral("%1@%2").arg(box.Text()).arg(box.ItemIndex()); };
  for (const char* c : {"立体声", "单声道", "立体声"}) box.AddItem(QString::fromUtf8(c), 9, 9);
  box.SetItemIndex(0);
  box.SetItemIndex(0);  // same entry: nothing
  box.SetItemIndex(2);  // another entry, same caption: a change all the same
  QCOMPARE(box.ItemIndex(), 2);
  box.SetItemIndex(1);
  QCOMPARE(seen,
           (QStringList{QStringLiteral("立体声@0"), QStringLiteral("立体声@2"), QStringLiteral("单声道@1")}));
  // The user's pick runs through the same rule.
  box.setCurrentIndex(2);
  emit box.activated(2);
  box.setCurrentIndex(0);
  emit box.activated(0);  // same caption as shown, another entry
  QCOMPARE(box.ItemIndex(), 0);
  QCOMPARE(seen.size(), 5);
  QCOMPARE(seen.last(), QStringLiteral("立体声@0"));
  // A position outside the entries keeps the text and raises nothing.
  box.SetItemIndex(7);
  QCOMPARE(seen.size(), 5);
  // Qt's own change signals stay silent for entries added or cleared, and a
  // refill that selects the entry current before the clear raises nothing.
  box.SetItemIndex(1);
  QSignalSpy spy(&box, &QComboBox::currentIndexChanged);
  box.ClearItems();
  for (const char* c : {"立体声", "单声道"}) box.AddItem(QString::fromUtf8(c), 9, 9);
  QCOMPARE(spy.count(), 0);
  box.SetItemIndex(1);
  QCOMPARE(seen.size(), 6);
}

void TestSelectors::startupFillsNineSelectorsAndWritesNothing() {
  Install install;
  CapturedDialogs dialogs;
  MainWindowFixture fixture;
  QVERIFY(Messages(dialogs).isEmpty());
  QVERIFY(fixture.form()->isVisible());
  Sql sql(DbPath(install.dir));
  for (int tag = 1; tag <= 9; ++tag) {
    const QString table = QString::fromLatin1(kTables[tag]);
    QStringList expected;
    for (const QStringList& row :
         sql.Rows(QStringLiteral("select cmbex_name from %1 order by cmbex_index").arg(table)))
      expected << row[0];
    QCOMPARE(Captions(tag), expected);
    const int remembered =
        sql.Int(QStringLiteral("select cmbex_index from cmbex_itemindex where cmbex_tag = %1").arg(tag));
    QCOMPARE(Sel(tag)->ItemIndex(), remembered);
    QCOMPARE(Sel(tag)->Text(), expected.value(remembered));
  }
  QCOMPARE(Sel(7)->Text(), QStringLiteral("128 kbps"));
  // Every selector showed the position it found, so nothing was written back
  // (a read-only database starts the same way).
  QCOMPARE(install.Log().size(), 0);
}

void TestSelectors::pickSurvivesRestart() {
  Install install;
  CapturedDialogs dialogs;
  {
    MainWindowFixture fixture;
    UserPicks(3, 5);  // 1280x720
    UserPicks(8, 2);  // stereo
    UserPicks(6, 1);  // MP3
    // Stored at once, before the program ends.
    QCOMPARE(install.Remembered(3), 5);
    QCOMPARE(install.Remembered(8), 2);
    QCOMPARE(install.Remembered(6), 1);
  }
  {
    MainWindowFixture fixture;
    QCOMPARE(Sel(3)->ItemIndex(), 5);
    QCOMPARE(Sel(3)->Text(), QStringLiteral("1280x720 (720p)"));
    QCOMPARE(Sel(8)->Text(), QStringLiteral("立体声"));
    QCOMPARE(Sel(6)->Text(), QStringLiteral("MP3"));
    QCOMPARE(Sel(1)->Text(), QStringLiteral("H.264 (AVC)"));
  }
  QVERIFY(Messages(dialogs).isEmpty());
}

void TestSelectors::rememberedPositionOutsideTable_data() {
  QTest::addColumn<int>("tag");
  QTest::addColumn<int>("position");
  QTest::newRow("negative") << 2 << -1;
  QTest::newRow("row count") << 5 << 3;
  QTest::newRow("far beyond") << 9 << 1000;
  QTest::newRow("audio channels negative") << 8 << -7;
}

void TestSelectors::rememberedPositionOutsideTable() {
  QFETCH(int, tag);
  QFETCH(int, position);
  Install install([&](Sql& sql) {
    sql.Exec(QStringLiteral("update cmbex_itemindex set cmbex_index = %1 where cmbex_tag = %2")
                 .arg(position)
                 .arg(tag));
    sql.Exec(QStringLiteral("delete from update_log"));
  });
  CapturedDialogs dialogs;
  MainWindowFixture fixture;
  QVERIFY(Messages(dialogs).isEmpty());
  QVERIFY(Sel(tag)->ItemCount() > 0);
  QCOMPARE(Sel(tag)->ItemIndex(), -1);
  QCOMPARE(Sel(tag)->Text(), QString());
  // Nothing was stored for it, nor for the others (their positions did not change).
  QCOMPARE(install.Log().size(), 0);
  QCOMPARE(install.Remembered(tag), position);
  TConvMainFunc func;
  const QString fragments[10] = {QString(),
                                 func.GetVdoCodecCmd(),
                                 func.GetVdoBitrateCmd(),
                                 func.GetVdoSizeCmd(),
                                 func.GetVdoFpsCmd(),
                                 func.GetVdoAspectCmd(),
                                 func.GetAdoCodecCmd(),
                                 func.GetAdoBitrateCmd(),
                                 func.GetAdoChannelsCmd(),
                                 func.GetAdoFreqCmd()};
  QCOMPARE(fragments[tag], QString());
  QCOMPARE(fragments[1], QStringLiteral("-vcodec libx264"));
  // Until the user picks an entry: then it is remembered.
  UserPicks(tag, 1);
  QCOMPARE(install.Remembered(tag), 1);
}

void TestSelectors::audioCodecOutsideTableLeavesAudioUnfilled() {
  Install install([](Sql& sql) {
    sql.Exec(
        QStringLiteral("update cmbex_itemindex set cmbex_index = (select count(*) from cmbex_adocodec) where "
                       "cmbex_tag = 6"));
    sql.Exec(QStringLiteral("delete from update_log"));
  });
  CapturedDialogs dialogs;
  MainWindowFixture fixture;
  QVERIFY(Messages(dialogs).isEmpty());
  QCOMPARE(Sel(6)->ItemCount(), install.Rows(6));
  QCOMPARE(Sel(6)->ItemIndex(), -1);
  QCOMPARE(Sel(6)->Text(), QString());
  for (int tag = 7; tag <= 9; ++tag) {
    QCOMPARE(Sel(tag)->ItemCount(), 0);
    QCOMPARE(Sel(tag)->Text(), QString());
  }
  QCOMPARE(install.Log().size(), 0);
  {
    TConvMainFunc func;
    QCOMPARE(func.GetAdoCodecCmd(), QString());
    QCOMPARE(func.GetAdoBitrateCmd(), QString());
  }
  // Picking a codec fills the other three.
  UserPicks(6, 0);
  QCOMPARE(Sel(7)->Text(), QStringLiteral("128 kbps"));
  QCOMPARE(Sel(9)->ItemCount(), 5);
  QCOMPARE(install.Remembered(6), 0);
}

void TestSelectors::emptyOptionTable() {
  Install install([](Sql& sql) { sql.Exec(QStringLiteral("delete from cmbex_vdoaspect")); });
  CapturedDialogs dialogs;
  MainWindowFixture fixture;
  QVERIFY(Messages(dialogs).isEmpty());
  QCOMPARE(Sel(5)->ItemCount(), 0);
  QCOMPARE(Sel(5)->ItemIndex(), -1);
  QCOMPARE(Sel(5)->Text(), QString());
  // The rest of start-up went on.
  QCOMPARE(Sel(9)->ItemCount(), 5);
  QCOMPARE(install.Log().size(), 0);
  TConvMainFunc func;
  QCOMPARE(func.GetVdoAspectCmd(), QString());
}

void TestSelectors::selectorWithoutRememberedRow() {
  Install install(
      [](Sql& sql) { sql.Exec(QStringLiteral("delete from cmbex_itemindex where cmbex_tag = 2")); });
  CapturedDialogs dialogs;
  {
    MainWindowFixture fixture;
    QCOMPARE(Sel(2)->ItemIndex(), 0);
    QCOMPARE(Sel(2)->Text(), QStringLiteral("默认码率"));
    UserPicks(2, 4);
    QCOMPARE(Sel(2)->Text(), QStringLiteral("1000 kbps"));
    TConvMainFunc func;
    QCOMPARE(func.GetVdoBitrateCmd(), QStringLiteral("-b:v 1000k"));
  }
  Sql sql(DbPath(install.dir));
  QCOMPARE(sql.Int(QStringLiteral("select count(*) from cmbex_itemindex")), 8);  // never inserted
  {
    MainWindowFixture fixture;
    QCOMPARE(Sel(2)->ItemIndex(), 0);
  }
  QVERIFY(Messages(dialogs).isEmpty());
}

void TestSelectors::startupWithoutLibrary() {
  TempAppDir::Options options;
  options.sqliteLib = false;
  TempAppDir dir(options);
  CapturedDialogs dialogs;
  MainWindowFixture fixture;
  const QString expected = QStringLiteral("Could not load SQLite library(") +
                           dir.File(QString::fromLatin1(Platform::kSqliteLibFile)) + QLatin1Char(')');
  // Once from the data module at once, once more for all the fills that
  // failed, after the show event; nothing is filled, and the window is open.
  QCOMPARE(Messages(dialogs), QStringList{expected});
  QTRY_COMPARE(Messages(dialogs), (QStringList{expected, expected}));
  QCOMPARE(dialogs.messages[0].first, QStringLiteral("Vidmora"));
  QVERIFY(fixture.form()->isVisible());
  // Really on the screen, not only marked visible.
  QVERIFY(fixture.form()->windowHandle() && fixture.form()->windowHandle()->isVisible());
  for (int tag = 1; tag <= 9; ++tag) QCOMPARE(Sel(tag)->ItemCount(), 0);
}

void TestSelectors::startupWithoutTable() {
  // A database without one of its tables is set aside and a fresh one takes
  // its place: one message, and every selector is filled again.
  Install install([](Sql& sql) { sql.Exec(QStringLiteral("drop table cmbex_vdofps")); });
  CapturedDialogs dialogs;
  MainWindowFixture fixture;
  QCOMPARE(Messages(dialogs).size(), 1);
  QVERIFY2(Messages(dialogs)[0].contains(QStringLiteral("LibParmt.dat.broken-")), qPrintable(Messages(dialogs)[0]));
  QTest::qWait(50);
  QCOMPARE(Messages(dialogs).size(), 1);
  for (int tag = 1; tag <= 9; ++tag) QVERIFY(Sel(tag)->ItemCount() > 0);
  QCOMPARE(fixture.form()->AvSaveDirEdit->text(), install.dir.File(QStringLiteral("SaveFile")));
}

void TestSelectors::lockedDatabaseAtStartupWaitsAndReportsOnce() {
  // Another copy of the program holds the database locked for the whole
  // start-up. The window opens with its output folder; the start-up fill waits
  // for the lock once, not once per selector, and one box reports it after
  // the show event. Once reported, the next statement waits again.
  Install install;
  Sql holder(DbPath(install.dir));
  QVERIFY(holder.Exec(QStringLiteral("begin exclusive")));
  CapturedDialogs dialogs;
  QElapsedTimer timer;
  timer.start();
  const int wait = 400;  // the program's 3 s, shortened
  TDataMod::StartWaitMs = wait;
  MainWindowFixture fixture(wait);
  TDataMod::StartWaitMs = 3000;
  const qint64 filled = timer.elapsed();
  qInfo("start-up fill with the database locked: %lld ms", filled);
  QVERIFY(fixture.form()->isVisible());
  QCOMPARE(fixture.form()->AvSaveDirEdit->text(), install.dir.File(QStringLiteral("SaveFile")));
  for (int tag = 1; tag <= 9; ++tag) QCOMPARE(Sel(tag)->ItemCount(), 0);
  // Nine waits would take 3.6 s; the data module's and the fill's take 0.8 s.
  QVERIFY2(filled < 6 * wait, qPrintable(QString::number(filled)));
  QCOMPARE(DataMod->DataBase.TimeOut, 0);
  QVERIFY(Messages(dialogs).isEmpty());
  QTRY_COMPARE(Messages(dialogs),
               QStringList{QStringLiteral("无法读取参数库: 参数库正被其他程序使用\n详细信息: database is locked")});
  QCOMPARE(DataMod->DataBase.TimeOut, wait);
  QTest::qWait(50);
  QCOMPARE(Messages(dialogs).size(), 1);
  QVERIFY(holder.Exec(QStringLiteral("rollback")));
  QCOMPARE(install.Log().size(), 0);
}

void TestSelectors::unwritableDatabaseKeepsPicksForTheSession() {
  // First a read-only file, then one that another copy of the program holds
  // locked for writing: start-up fills all nine selectors and shows the output
  // folder; a pick that cannot be stored stays and is used, with one notice
  // that it will not be remembered, and a refill keeps it too.
  for (const bool locked : {false, true}) {
    Install install;
    const QString db = DbPath(install.dir);
    std::unique_ptr<ParamsTest::ReadOnlyFile> readOnly;
    std::unique_ptr<Sql> holder;
    if (locked) {
      holder = std::make_unique<Sql>(db);
      QVERIFY(holder->Exec(QStringLiteral("begin immediate")));
    } else {
      readOnly = std::make_unique<ParamsTest::ReadOnlyFile>(db);
      if (!readOnly->Ok()) QSKIP("cannot make a file read-only for this user here");
    }
    CapturedDialogs dialogs;
    MainWindowFixture fixture;
    for (int tag = 1; tag <= 9; ++tag) {
      QVERIFY(Sel(tag)->ItemCount() > 0);
      QVERIFY(!Sel(tag)->Text().isEmpty());
    }
    QCOMPARE(fixture.form()->AvSaveDirEdit->text(), install.dir.File(QStringLiteral("SaveFile")));
    QVERIFY(Messages(dialogs).isEmpty());

    // Once started, a pick waits only briefly for another program's write.
    QCOMPARE(DataMod->DataBase.TimeOut, 250);
    DataMod->DataBase.SetTimeOut(200);
    UserPicks(2, 6);
    const QString expected =
        (locked ? QStringLiteral("无法保存选择: 参数库正被其他程序使用\n") : QStringLiteral("无法保存选择: 参数库只读\n")) +
        QStringLiteral("本次仍使用所选的项, 但下次启动时不会记住。\n详细信息: ") +
        (locked ? QStringLiteral("database is locked") : QStringLiteral("attempt to write a readonly database"));
    QCOMPARE(Messages(dialogs), QStringList{expected});
    QCOMPARE(Sel(2)->ItemIndex(), 6);
    TConvMainFunc func;
    QCOMPARE(func.GetVdoBitrateCmd(), QStringLiteral("-b:v 2000k"));
    // Further picks say nothing more; the audio codec's refill of the other
    // audio selectors keeps their picks of this session.
    UserPicks(7, 5);
    UserPicks(6, 1);
    QCOMPARE(Sel(7)->ItemIndex(), 5);
    QCOMPARE(Sel(7)->Text(), QStringLiteral("256 kbps"));
    QCOMPARE(func.GetAdoBitrateCmd(), QStringLiteral("-b:a 256k"));
    QCOMPARE(Sel(6)->ItemIndex(), 1);
    QCOMPARE(Messages(dialogs).size(), 1);
    if (holder) holder->Exec(QStringLiteral("rollback"));
    QCOMPARE(install.Remembered(2), 0);
    QCOMPARE(install.Remembered(7), 2);
    QCOMPARE(install.Remembered(6), 0);
  }
}

void TestSelectors::pickingSameCaptionIsKeptByPosition() {
  // Two "1000 kbps" rows with different fragments; the second one is picked,
  // used, remembered and shown again after a restart.
  Install install([](Sql& sql) {
    sql.Exec(QStringLiteral(
        "update cmbex_vdobitrate set cmbex_name = '1000 kbps', cmbex_cmd = '-b:v 1000k -maxrate 1000k' "
        "where cmbex_index = 5"));
    sql.Exec(QStringLiteral("update cmbex_itemindex set cmbex_index = 4 where cmbex_tag = 2"));
    sql.Exec(QStringLiteral("update cmbex_adochannels set cmbex_name = '立体声' where cmbex_index = 1"));
    sql.Exec(QStringLiteral("update cmbex_itemindex set cmbex_index = 2 where cmbex_tag = 8"));
    sql.Exec(QStringLiteral("delete from update_log"));
  });
  CapturedDialogs dialogs;
  {
    MainWindowFixture fixture;
    QCOMPARE(Sel(2)->Text(), QStringLiteral("1000 kbps"));
    UserPicks(2, 4);  // the current entry: nothing to store
    QCOMPARE(install.Log().size(), 0);
    UserPicks(2, 5);  // the other "1000 kbps"
    QCOMPARE(install.Remembered(2), 5);
    TConvMainFunc func;
    QCOMPARE(func.GetVdoBitrateCmd(), QStringLiteral("-b:v 1000k -maxrate 1000k"));
  }
  {
    MainWindowFixture fixture;
    QCOMPARE(Sel(2)->ItemIndex(), 5);
    TConvMainFunc func;
    QCOMPARE(func.GetVdoBitrateCmd(), QStringLiteral("-b:v 1000k -maxrate 1000k"));
    // The audio codec's refill keeps a same-caption pick of the channels.
    UserPicks(8, 1);
    QCOMPARE(install.Remembered(8), 1);
    UserPicks(6, 1);
    QCOMPARE(Sel(8)->ItemIndex(), 1);
    QCOMPARE(install.Remembered(8), 1);
  }
  QVERIFY(Messages(dialogs).isEmpty());
}

void TestSelectors::audioCodecPickRefillsOthersAndStoresLast() {
  Install install([](Sql& sql) {
    // Two channel entries that read the same.
    sql.Exec(QStringLiteral("update cmbex_adochannels set cmbex_name = '立体声' where cmbex_index = 1"));
    sql.Exec(QStringLiteral("update cmbex_itemindex set cmbex_index = 2 where cmbex_tag = 8"));
  });
  CapturedDialogs dialogs;
  MainWindowFixture fixture;
  UserPicks(7, 4);  // 192 kbps, stored
  UserPicks(9, 3);  // 44100 Hz, stored
  UserPicks(8, 1);  // same caption as shown, another entry: stored
  QCOMPARE(install.Remembered(8), 1);
  QCOMPARE(Sel(8)->ItemIndex(), 1);
  const int before = install.Log().size();
  UserPicks(6, 1);  // MP3
  // The three were filled again from their tables and show the remembered
  // entries.
  QCOMPARE(Sel(7)->ItemIndex(), 4);
  QCOMPARE(Sel(7)->ItemCount(), install.Rows(7));
  QCOMPARE(Sel(9)->ItemIndex(), 3);
  QCOMPARE(Sel(8)->ItemIndex(), 1);
  QCOMPARE(Sel(8)->ItemCount(), 3);
  // Only the codec was stored, after the refills.
  const QVector<QStringList> log = install.Log().mid(before);
  QCOMPARE(log.size(), 1);
  QCOMPARE(log[0], (QStringList{"6", "0", "1"}));
  QVERIFY(Messages(dialogs).isEmpty());
}

void TestSelectors::fragmentsFollowCurrentEntries() {
  Install install;
  CapturedDialogs dialogs;
  MainWindowFixture fixture;
  const int picks[10] = {0, 1, 4, 6, 4, 2, 1, 6, 1, 3};
  for (int tag = 1; tag <= 9; ++tag) UserPicks(tag, picks[tag]);
  TConvMainFunc func;
  const QStringList fragments{func.GetVdoCodecCmd(),   func.GetVdoBitrateCmd(),  func.GetVdoSizeCmd(),
                              func.GetVdoFpsCmd(),     func.GetVdoAspectCmd(),   func.GetAdoCodecCmd(),
                              func.GetAdoBitrateCmd(), func.GetAdoChannelsCmd(), func.GetAdoFreqCmd()};
  QCOMPARE(fragments, (QStringList{"-vcodec libx265", "-b:v 1000k", "-s 1920x1080", "-r 30000/1001",
                                   "-aspect 16:9", "-acodec libmp3lame", "-b:a 320k", "-ac 1", "-ar 44100"}));
  // An entry with an empty fragment gives the empty text.
  UserPicks(2, 0);
  QCOMPARE(func.GetVdoBitrateCmd(), QString());
  QVERIFY(Messages(dialogs).isEmpty());
}

void TestSelectors::fragmentOperationsReadTheirOwnTable() {
  // Every fragment operation must look in its own table, keyed by position:
  // give each table a distinct fragment at position 1 and select position 1.
  Install install([](Sql& sql) {
    for (int tag = 1; tag <= 9; ++tag) {
      sql.Exec(QStringLiteral("update %1 set cmbex_cmd = 'T%2' where cmbex_index = 1")
                   .arg(QLatin1String(kTables[tag]))
                   .arg(tag));
      sql.Exec(QStringLiteral("update cmbex_itemindex set cmbex_index = 1 where cmbex_tag = %1").arg(tag));
    }
  });
  CapturedDialogs dialogs;
  MainWindowFixture fixture;
  QVERIFY(Messages(dialogs).isEmpty());
  TConvMainFunc func;
  QCOMPARE((QStringList{func.GetVdoCodecCmd(), func.GetVdoBitrateCmd(), func.GetVdoSizeCmd(),
                        func.GetVdoFpsCmd(), func.GetVdoAspectCmd(), func.GetAdoCodecCmd(),
                        func.GetAdoBitrateCmd(), func.GetAdoChannelsCmd(), func.GetAdoFreqCmd()}),
           (QStringList{"T1", "T2", "T3", "T4", "T5", "T6", "T7", "T8", "T9"}));
  QCOMPARE(func.LoadItemIndex(7), 1);
  QCOMPARE(func.LoadItemIndex(77), 0);
}

QTEST_MAIN(TestSelectors)
#include "tst_selectors.moc"
