// What an MP4 keeps of its source's tags, worked out from text alone, and the user-data strings
// added to a finished file's boxes.
#include <QtTest>

#include "FileTags.h"
#include "UserData.h"

#include <fcntl.h>
#include <unistd.h>

using namespace vidmora::encoder;

namespace {

// "key=value|key=value"; "\xA9" is written as "(c)".
std::vector<Tag> Tags(const QString& text) {
  std::vector<Tag> tags;
  for (const QString& pair : text.split('|', Qt::SkipEmptyParts))
    tags.push_back({pair.section('=', 0, 0).toStdString(), pair.section('=', 1).toStdString()});
  return tags;
}

QString Text(const std::vector<Tag>& tags) {
  QStringList out;
  for (const Tag& t : tags)
    out << QString::fromStdString(t.key).replace(QChar(0xFFFD), "(c)") + "=" +
               QString::fromStdString(t.value);
  return out.join('|');
}

QByteArray Box(const char* type, const QByteArray& payload) {
  QByteArray box(4, '\0');
  const quint32 size = quint32(8 + payload.size());
  for (int i = 0; i < 4; ++i) box[i] = char(size >> (24 - 8 * i));
  return box + QByteArray(type, 4) + payload;
}

quint32 SizeAt(const QByteArray& d, int at) {
  quint32 v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | quint8(d[at + i]);
  return v;
}

}  // namespace

class TestEncoderTags : public QObject {
  Q_OBJECT
 private slots:
  void fileTags_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("writer");    // the MP4 writer's keys, in its order
    QTest::addColumn<QString>("userData");  // "(c)mak" for '©mak'

    QTest::newRow("Matroska's capitals")
        << "title=T|ARTIST=A|ALBUM=B|COMMENT=C|DATE=2021|GENRE=G|LOCATION=+39.9042+116.4074/"
           "|MAKE=Apple|MODEL=X|"
           "ENCODER=Lavf"
        << "title=T|artist=A|album=B|date=2021|comment=C|genre=G|location=+39.9042+116.4074/"
        << "(c)xyz=+39.9042+116.4074/|(c)mak=Apple|(c)mod=X";
    QTest::newRow("a phone's QuickTime keys, its date in local time")
        << "com.apple.quicktime.creationdate=2021-05-01T18:20:30+0800|"
           "com.apple.quicktime.location.ISO6709=+39.9042+116.4074+050.000/|com.apple.quicktime.make=Apple|"
           "com.apple.quicktime.model=iPhone 12|com.apple.quicktime.software=16.1"
        << "creation_time=2021-05-01T10:20:30.000000Z|location=+39.9042+116.4074+050.000/"
        << "(c)xyz=+39.9042+116.4074+050.000/|(c)mak=Apple|(c)mod=iPhone 12";
    QTest::newRow("the container's creation time before the phone's")
        << "com.apple.quicktime.creationdate=2020-01-01T00:00:00Z|creation_time=2021-05-01T10:20:30.000000Z"
        << "creation_time=2021-05-01T10:20:30.000000Z"
        << "";
    QTest::newRow("a creation time that is no time") << "creation_time=yesterday|title=x"
                                                     << "title=x"
                                                     << "";
    QTest::newRow("blank values and bookkeeping")
        << "title=  |major_brand=isom|minor_version=512|encoder=Lavf|make="
        << ""
        << "";
  }

  void fileTags() {
    QFETCH(QString, source);
    QFETCH(QString, writer);
    QFETCH(QString, userData);
    const KeptFileTags kept = FileTagsToKeep(Tags(source));
    QCOMPARE(Text(kept.writer), writer);
    QCOMPARE(Text(kept.userData), userData);
  }

  void utcTime_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("utc");
    QTest::newRow("already UTC") << "2021-05-01T10:20:30.000000Z"
                                 << "2021-05-01T10:20:30.000000Z";
    QTest::newRow("offset with a colon, blank for T") << "2021-05-01 18:20:30+08:00"
                                                      << "2021-05-01T10:20:30.000000Z";
    QTest::newRow("west of Greenwich, across midnight") << "2021-12-31T23:20:30-0130"
                                                        << "2022-01-01T00:50:30.000000Z";
    QTest::newRow("hours only, a fraction") << "2021-05-01T10:20:30.5+00"
                                            << "2021-05-01T10:20:30.500000Z";
    QTest::newRow("no zone is taken for UTC") << "2021-05-01T10:20:30"
                                              << "2021-05-01T10:20:30.000000Z";
    QTest::newRow("a day alone") << "2021-05-01"
                                 << "";
    QTest::newRow("month 13") << "2021-13-01T00:00:00Z"
                              << "";
    QTest::newRow("text after the zone") << "2021-05-01T10:20:30Zjunk"
                                         << "";
    QTest::newRow("before MP4's epoch") << "1900-01-01T00:00:00Z"
                                        << "";
  }

  void utcTime() {
    QFETCH(QString, text);
    QFETCH(QString, utc);
    QCOMPARE(QString::fromStdString(UtcTime(text.toStdString())), utc);
  }

  // The strings go at the end of the user-data box, the movie box's last, and both boxes
  // grow by them; without a user-data box a new one ends the movie box; a layout that would
  // need bytes moved is left as it was.
  void userData_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("done");
    QTest::addColumn<int>("udtaAt");  // where the grown user-data box starts; -1: a new one at the end
    const QByteArray head = Box("ftyp", QByteArray("isom\0\0\2\0", 8)) + Box("mdat", "data");
    const QByteArray mvhd = Box("mvhd", QByteArray(12, '\1'));
    const QByteArray udta = Box("udta", Box("meta", "ilst"));
    QTest::newRow("user data last in the movie box")
        << head + Box("moov", mvhd + udta) << true << int(head.size() + 8 + mvhd.size());
    QTest::newRow("no user data") << head + Box("moov", mvhd) << true << -1;
    QTest::newRow("user data before a track") << head + Box("moov", udta + mvhd) << false << 0;
    QTest::newRow("the movie box before the data") << Box("moov", mvhd + udta) + head << false << 0;
    QTest::newRow("a box that runs past the end") << head + Box("moov", mvhd + udta).left(20) << false << 0;
  }

  void userData() {
    QFETCH(QByteArray, file);
    QFETCH(bool, done);
    QFETCH(int, udtaAt);
    QTemporaryDir dir;
    const QString path = dir.filePath("out.mp4");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
    f.close();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR);
    QVERIFY(fd >= 0);
    const std::string error = AppendUserData(fd, {{"\xA9mak", "Apple"}, {"\xA9mod", "手机"}});
    ::close(fd);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray after = f.readAll();
    QCOMPARE(error.empty(), done);
    if (!done) {
      QCOMPARE(after, file);
      return;
    }
    const QByteArray added = Box("\xA9mak", QByteArray("\0\5\x55\xC4", 4) + "Apple") +
                             Box("\xA9mod", QByteArray("\0\6\x55\xC4", 4) + "手机");
    const int moovAt = file.indexOf("moov") - 4;
    QVERIFY(after.startsWith(file.left(moovAt)));
    QCOMPARE(int(SizeAt(after, moovAt)), after.size() - moovAt);
    if (udtaAt >= 0) {
      QCOMPARE(after.mid(file.size()), added);
      QCOMPARE(int(SizeAt(after, udtaAt)), after.size() - udtaAt);
    } else {
      QCOMPARE(after.mid(file.size()), Box("udta", added));
    }
  }
};

QTEST_GUILESS_MAIN(TestEncoderTags)
#include "tst_encoder_tags.moc"
