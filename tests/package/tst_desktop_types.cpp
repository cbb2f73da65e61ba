// "Open with": every kind of file the list takes is offered to Vidmora by the
// file managers. Each accepted extension is looked up in the shared MIME
// database (shared-mime-info's globs2, the file the desktop itself reads), and
// one of the types it maps to must be named in the desktop entry's MimeType.
#include "media/FileFacts.h"
#include "tests/support/TestCore.h"

#include <QFile>
#include <QMultiHash>
#include <QSet>
#include <QtTest>

namespace {

const QString kGlobs = QStringLiteral("/usr/share/mime/globs2");

// Extensions the database has no pattern for: the desktop tells their files'
// kind by their contents, so no MimeType entry can name them by extension.
const QSet<QString> kNoPattern = {QStringLiteral("mpq"), QStringLiteral("m2v")};

}  // namespace

class TestDesktopTypes : public QObject {
  Q_OBJECT

  QMultiHash<QString, QString> typesOf_;  // extension -> MIME types
  QSet<QString> named_;                   // the desktop entry's MimeType

 private slots:
  void initTestCase() {
    QFile globs(kGlobs);
    QVERIFY2(globs.open(QIODevice::ReadOnly), "the shared MIME database is missing (install shared-mime-info)");
    // "weight:type:pattern[:flags]"
    for (const QByteArray& line : globs.readAll().split('\n')) {
      const QList<QByteArray> fields = line.split(':');
      if (line.startsWith('#') || fields.size() < 3 || !fields[2].startsWith("*.")) continue;
      typesOf_.insert(QString::fromUtf8(fields[2].mid(2)).toLower(), QString::fromUtf8(fields[1]));
    }
    const QString entry = TestSupport::SourceDir() + QStringLiteral("/app/vidmora.desktop");
    for (const QString& line : QString::fromUtf8(TestSupport::ReadBytes(entry)).split(QLatin1Char('\n'))) {
      if (line.startsWith(QLatin1String("MimeType=")))
        for (const QString& type : line.mid(9).split(QLatin1Char(';'), Qt::SkipEmptyParts)) named_ << type;
    }
    QVERIFY(!named_.isEmpty());
  }

  void everyAcceptedKindIsOffered_data() {
    QTest::addColumn<QString>("extension");
    for (const QString& extension : MediaExtensions()) QTest::newRow(qPrintable(extension)) << extension;
  }
  void everyAcceptedKindIsOffered() {
    QFETCH(QString, extension);
    const QList<QString> types = typesOf_.values(extension);
    if (kNoPattern.contains(extension)) {
      QVERIFY2(types.isEmpty(), qPrintable(QStringLiteral("the database now knows *.%1 as %2: name it in MimeType")
                                               .arg(extension, types.join(u' '))));
      return;
    }
    QVERIFY2(!types.isEmpty(), qPrintable(QStringLiteral("no type for *.%1").arg(extension)));
    bool offered = false;
    for (const QString& type : types) offered = offered || named_.contains(type);
    QVERIFY2(offered, qPrintable(QStringLiteral("*.%1 is %2, which MimeType does not name")
                                     .arg(extension, types.join(QStringLiteral(" or ")))));
  }
};

QTEST_GUILESS_MAIN(TestDesktopTypes)
#include "tst_desktop_types.moc"
