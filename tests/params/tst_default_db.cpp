// The default parameter database that the build delivers: its rows obey the
// rules the program relies on, its fragments are options the encoder accepts,
// and the build never replaces a database that already holds choices.
#include "Options.h"
#include "ParamsTestUtil.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using ParamsTest::Sql;

namespace {

const char* const kTables[10] = {
    nullptr,           "cmbex_vdocodec", "cmbex_vdobitrate", "cmbex_vdosize",     "cmbex_vdofps",
    "cmbex_vdoaspect", "cmbex_adocodec", "cmbex_adobitrate", "cmbex_adochannels", "cmbex_adofreq"};

// The encoder's option vocabulary: each option with the pattern of its value.
const QMap<QString, QRegularExpression>& Vocabulary() {
  static const QMap<QString, QRegularExpression> vocabulary{
      {QStringLiteral("-vcodec"), QRegularExpression(QStringLiteral("^(libx264|libx265|mpeg4|copy)$"))},
      {QStringLiteral("-b:v"), QRegularExpression(QStringLiteral("^[0-9]+[kM]?$"))},
      {QStringLiteral("-s"), QRegularExpression(QStringLiteral("^[1-9][0-9]*x[1-9][0-9]*$"))},
      {QStringLiteral("-r"), QRegularExpression(QStringLiteral("^([0-9]+(\\.[0-9]+)?|[0-9]+/[1-9][0-9]*)$"))},
      {QStringLiteral("-aspect"),
       QRegularExpression(QStringLiteral("^([1-9][0-9]*:[1-9][0-9]*|[0-9]+(\\.[0-9]+)?)$"))},
      {QStringLiteral("-acodec"), QRegularExpression(QStringLiteral("^(aac|libmp3lame|copy)$"))},
      {QStringLiteral("-b:a"), QRegularExpression(QStringLiteral("^[0-9]+[kM]?$"))},
      {QStringLiteral("-ac"), QRegularExpression(QStringLiteral("^[1-9][0-9]*$"))},
      {QStringLiteral("-ar"), QRegularExpression(QStringLiteral("^[1-9][0-9]*$"))},
  };
  return vocabulary;
}

// Option and value pairs of a fragment; an error text when it is not valid.
QString CheckFragment(const QString& fragment, const QString& expectedOption) {
  if (fragment.isEmpty()) return QString();
  const QStringList tokens = fragment.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  if (tokens.size() % 2 != 0) return QStringLiteral("odd number of tokens");
  for (int i = 0; i < tokens.size(); i += 2) {
    const QString option = tokens[i];
    if (!Vocabulary().contains(option)) return QStringLiteral("unknown option ") + option;
    if (option != expectedOption)
      return QStringLiteral("option %1 in the table of %2").arg(option, expectedOption);
    if (!Vocabulary()[option].match(tokens[i + 1]).hasMatch())
      return QStringLiteral("bad value ") + tokens[i + 1];
  }
  return QString();
}

int RunPlace(const QString& src, const QString& dest) {
  return QProcess::execute(
      QStringLiteral(VIDMORA_CMAKE_COMMAND),
      {QStringLiteral("-DMODE=place"), QStringLiteral("-DSRC=") + src, QStringLiteral("-DDEST=") + dest,
       QStringLiteral("-P"), TestSupport::SourceDir() + QStringLiteral("/data/database.cmake")});
}

}  // namespace

class TestDefaultDatabase : public QObject {
  Q_OBJECT

 private slots:
  void fragmentValidatorRejectsFaults();
  void fragmentsAreEncoderOptions();
  void positionsRunFromZeroWithoutGap();
  void rememberedPositionsCoverNineSelectors();
  void keyColumnsAreDeclaredInteger();
  void buildKeepsExistingDatabase();
};

void TestDefaultDatabase::fragmentValidatorRejectsFaults() {
  QVERIFY(CheckFragment(QStringLiteral("-b:v 1000k"), QStringLiteral("-b:v")).isEmpty());
  QVERIFY(!CheckFragment(QStringLiteral("-b:v"), QStringLiteral("-b:v")).isEmpty());
  QVERIFY(!CheckFragment(QStringLiteral("-vb 1000k"), QStringLiteral("-b:v")).isEmpty());
  QVERIFY(!CheckFragment(QStringLiteral("-s 1280*720"), QStringLiteral("-s")).isEmpty());
  QVERIFY(!CheckFragment(QStringLiteral("-acodec mp3"), QStringLiteral("-acodec")).isEmpty());
  QVERIFY(!CheckFragment(QStringLiteral("-ar 44100"), QStringLiteral("-ac")).isEmpty());
}

void TestDefaultDatabase::fragmentsAreEncoderOptions() {
  const QString expectedOption[10] = {QString(),
                                      QStringLiteral("-vcodec"),
                                      QStringLiteral("-b:v"),
                                      QStringLiteral("-s"),
                                      QStringLiteral("-r"),
                                      QStringLiteral("-aspect"),
                                      QStringLiteral("-acodec"),
                                      QStringLiteral("-b:a"),
                                      QStringLiteral("-ac"),
                                      QStringLiteral("-ar")};
  Sql sql(ParamsTest::PristineDatabase());
  for (int tag = 1; tag <= 9; ++tag) {
    const auto rows =
        sql.Rows(QStringLiteral("select cmbex_index, cmbex_name, cmbex_cmd from %1 order by cmbex_index")
                     .arg(QLatin1String(kTables[tag])));
    QVERIFY2(rows.size() >= 2, kTables[tag]);
    QSet<QString> captions;
    QSet<QString> fragments;
    for (const QStringList& row : rows) {
      const QString where =
          QStringLiteral("%1 row %2: '%3'").arg(QLatin1String(kTables[tag]), row[0], row[2]);
      QVERIFY2(!row[1].trimmed().isEmpty(), qPrintable(where));
      QVERIFY2(row[2] != QStringLiteral("<null>"), qPrintable(where));
      const QString error = CheckFragment(row[2], expectedOption[tag]);
      QVERIFY2(error.isEmpty(), qPrintable(where + QStringLiteral(": ") + error));
      // The encoder's own parser takes it.
      std::vector<std::string> args{"-y", "-ipt", "in.mkv"};
      for (const QString& token : row[2].split(QLatin1Char(' '), Qt::SkipEmptyParts))
        args.push_back(token.toStdString());
      args.push_back("out.mp4");
      const auto parsed = vidmora::encoder::ParseCommandLine(args);
      QVERIFY2(parsed.ok, qPrintable(where + QStringLiteral(": ") + QString::fromStdString(parsed.error)));
      // Two entries of one selector differ in caption and in fragment.
      QVERIFY2(!captions.contains(row[1]), qPrintable(where));
      QVERIFY2(!fragments.contains(row[2]), qPrintable(where));
      captions << row[1];
      fragments << row[2];
    }
  }
  // The codec selectors always name a codec.
  QCOMPARE(sql.Int(QStringLiteral("select count(*) from cmbex_vdocodec where cmbex_cmd = ''")), 0);
  QCOMPARE(sql.Int(QStringLiteral("select count(*) from cmbex_adocodec where cmbex_cmd = ''")), 0);
  // Each codec selector offers a copy without re-encoding, and every other selector of its
  // kind an entry without a fragment, so a copy can be chosen that ignores no option.
  QCOMPARE(sql.Int(QStringLiteral("select count(*) from cmbex_vdocodec where cmbex_cmd = '-vcodec copy'")),
           1);
  QCOMPARE(sql.Int(QStringLiteral("select count(*) from cmbex_adocodec where cmbex_cmd = '-acodec copy'")),
           1);
  for (int tag : {2, 3, 4, 5, 7, 8, 9})
    QVERIFY2(sql.Int(QStringLiteral("select count(*) from %1 where cmbex_cmd = ''")
                         .arg(QLatin1String(kTables[tag]))) == 1,
             kTables[tag]);
}

void TestDefaultDatabase::positionsRunFromZeroWithoutGap() {
  Sql sql(ParamsTest::PristineDatabase());
  for (int tag = 1; tag <= 9; ++tag) {
    const auto rows = sql.Rows(
        QStringLiteral("select cmbex_index from %1 order by cmbex_index").arg(QLatin1String(kTables[tag])));
    for (int i = 0; i < rows.size(); ++i) {
      QVERIFY2(rows[i][0] == QString::number(i), kTables[tag]);
      QCOMPARE(sql.Value(QStringLiteral("select typeof(cmbex_index) from %1 where cmbex_index = %2")
                             .arg(QLatin1String(kTables[tag]))
                             .arg(i)),
               QStringLiteral("integer"));
    }
  }
}

void TestDefaultDatabase::rememberedPositionsCoverNineSelectors() {
  Sql sql(ParamsTest::PristineDatabase());
  const auto rows =
      sql.Rows(QStringLiteral("select cmbex_tag, cmbex_index from cmbex_itemindex order by cmbex_tag"));
  QCOMPARE(rows.size(), 9);
  for (int tag = 1; tag <= 9; ++tag) {
    QCOMPARE(rows[tag - 1][0], QString::number(tag));
    const int position = rows[tag - 1][1].toInt();
    const int count = sql.Int(QStringLiteral("select count(*) from %1").arg(QLatin1String(kTables[tag])));
    QVERIFY2(position >= 0 && position < count, kTables[tag]);
  }
  // Audio bit rate starts on 128 kbps.
  QCOMPARE(sql.Value(QStringLiteral("select o.cmbex_cmd from cmbex_adobitrate o join cmbex_itemindex i "
                                    "on i.cmbex_tag = 7 and o.cmbex_index = i.cmbex_index")),
           QStringLiteral("-b:a 128k"));
}

void TestDefaultDatabase::keyColumnsAreDeclaredInteger() {
  Sql sql(ParamsTest::PristineDatabase());
  auto declared = [&](const QString& table, const QString& column) {
    for (const QStringList& row : sql.Rows(QStringLiteral("pragma table_info(%1)").arg(table)))
      if (row[1] == column) return row[2].toUpper();
    return QString();
  };
  QCOMPARE(declared(QStringLiteral("cmbex_itemindex"), QStringLiteral("cmbex_tag")),
           QStringLiteral("INTEGER"));
  QCOMPARE(declared(QStringLiteral("cmbex_itemindex"), QStringLiteral("cmbex_index")),
           QStringLiteral("INTEGER"));
  for (int tag = 1; tag <= 9; ++tag) {
    const QString table = QString::fromLatin1(kTables[tag]);
    QCOMPARE(declared(table, QStringLiteral("cmbex_index")), QStringLiteral("INTEGER"));
    QCOMPARE(declared(table, QStringLiteral("cmbex_name")), QStringLiteral("TEXT"));
    QCOMPARE(declared(table, QStringLiteral("cmbex_cmd")), QStringLiteral("TEXT"));
  }
}

void TestDefaultDatabase::buildKeepsExistingDatabase() {
  // The installation folder of the build holds a database.
  QVERIFY(QFileInfo(TestSupport::BuiltAppDir() + QStringLiteral("/LibParmt.dat")).size() > 0);
  QTemporaryDir dir;
  const QString dest = dir.filePath(QStringLiteral("sub/LibParmt.dat"));
  // Absent: placed.
  QCOMPARE(RunPlace(ParamsTest::PristineDatabase(), dest), 0);
  {
    Sql sql(dest);
    QCOMPARE(sql.Int(QStringLiteral("select count(*) from cmbex_itemindex")), 9);
    QVERIFY(sql.Exec(QStringLiteral("update cmbex_itemindex set cmbex_index = 2 where cmbex_tag = 1")));
  }
  // Present with the user's choices: kept.
  QCOMPARE(RunPlace(ParamsTest::PristineDatabase(), dest), 0);
  {
    Sql sql(dest);
    QCOMPARE(sql.Int(QStringLiteral("select cmbex_index from cmbex_itemindex where cmbex_tag = 1")), 2);
  }
  // Empty (left by a start without a database): replaced.
  {
    QFile empty(dest);
    QVERIFY(empty.open(QIODevice::WriteOnly | QIODevice::Truncate));
  }
  QCOMPARE(RunPlace(ParamsTest::PristineDatabase(), dest), 0);
  QCOMPARE(QFileInfo(dest).size(), QFileInfo(ParamsTest::PristineDatabase()).size());
}

QTEST_MAIN(TestDefaultDatabase)
#include "tst_default_db.moc"
