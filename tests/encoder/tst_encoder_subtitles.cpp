// What the encoder works out from subtitle text alone: the bounds on what one cue may ask,
// and the languages of file names, tags and texts.
#include "SubtitleBounds.h"
#include "SubtitleLanguage.h"

#include <QtTest>

using namespace vidmora::encoder;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// An event as FFmpeg's decoders give it, with text as its Text field.
std::string Event(const QByteArray& text) { return "0,0,Default,,0,0,0,," + text.toStdString(); }

}  // namespace

class TestEncoderSubtitles : public QObject {
  Q_OBJECT
 private slots:
  // Each cue is bounded in its text, blocks, nesting, drawings and sizes (script 288 high);
  // what stays within the bounds is left as it is.
  void boundEvent_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("keepDrawings");
    QTest::addColumn<QByteArray>("expected");  // a pattern for the bounded Text
    QTest::addColumn<QString>("report");       // what the report says: t text, b blocks, d drawing, c clamped
    const QByteArray points = QByteArray(" l 1 2").repeated(6000);
    QTest::newRow("plain text") << QByteArray("Hello\\Nworld") << true << QByteArray("Hello\\\\Nworld") << "";
    QTest::newRow("sizes within bounds") << QByteArray("{\\fs40\\fscx120\\bord3\\blur2}Hi") << true
                                         << QByteArray("\\{\\\\fs40\\\\fscx120\\\\bord3\\\\blur2\\}Hi") << "";
    QTest::newRow("font size past the script's height")
        << QByteArray("{\\fs100000000}Big") << true << QByteArray("\\{\\\\fs288\\}Big") << "c";
    QTest::newRow("font size in capitals")
        << QByteArray("{\\FS5000}Big") << true << QByteArray("\\{\\\\FS288\\}Big") << "c";
    QTest::newRow("scale, outline, shadow, blur")
        << QByteArray("{\\fscx9000\\fscy-9000\\bord500\\shad500\\be1000}x") << true
        << QByteArray("\\{\\\\fscx400\\\\fscy-400\\\\bord36\\\\shad36\\\\be20\\}x") << "c";
    QTest::newRow("a transform of a clip, two deep")
        << QByteArray("{\\t(\\clip(0,0,10,10))}x") << true
        << QByteArray("\\{\\\\t\\(\\\\clip\\(0,0,10,10\\)\\)\\}x") << "";
    QTest::newRow("transforms three deep")
        << QByteArray("{\\t(\\t(\\t(\\fs9)))}x") << true << QByteArray("x") << "b";
    QTest::newRow("transforms 20,000 deep")
        << "{" + QByteArray("\\t(").repeated(20000) + QByteArray(")").repeated(20000) + "}x" << true
        << QByteArray("x") << "b";
    QTest::newRow("300 blocks") << QByteArray("{\\b1}a").repeated(300) << true
                                << QByteArray("(\\{\\\\b1\\}a){256}a{44}") << "b";
    QTest::newRow("text of 1 MB") << QByteArray(1 << 20, 'x') << true << QByteArray("x{4096}") << "t";
    QTest::newRow("a cut never splits a character")
        << QByteArray("a") + QByteArray("中").repeated(2000) << true << QByteArray("a(中){1365}") << "t";
    QTest::newRow("a drawing within bounds")
        << QByteArray("{\\p1}m 0 0 l 10 0 10 10{\\p0}x") << true
        << QByteArray("\\{\\\\p1\\}m 0 0 l 10 0 10 10\\{\\\\p0\\}x") << "";
    QTest::newRow("a drawing of 6,000 points, then text")
        << "{\\p1}m 0 0" + points + "{\\p0}after" << true
        << QByteArray("\\{\\\\p1\\}m 0 0(?: l 1 2)+ ?\\{\\\\p0\\}after") << "d";
    QTest::newRow("drawings left out of text tracks")
        << QByteArray("{\\p1}m 0 0 l 10 0{\\p0}x") << false << QByteArray("\\{\\\\p1\\}\\{\\\\p0\\}x") << "d";
    QTest::newRow("a vector clip of 6,000 points")
        << "{\\clip(m 0 0" + points + ")}x" << true << QByteArray("x") << "d";
    QTest::newRow("a brace never closed is text") << QByteArray("a{b") << true << QByteArray("a\\{b") << "";
  }

  void boundEvent() {
    QFETCH(QByteArray, text);
    QFETCH(bool, keepDrawings);
    QFETCH(QByteArray, expected);
    QFETCH(QString, report);
    BoundReport r;
    const std::string bounded = BoundEvent(Event(text), 288, keepDrawings, &r);
    QVERIFY(bounded.size() <= kMaxEventBytes + 64);
    QCOMPARE(Q(bounded).left(15), QString("0,0,Default,,0,"));
    const QString got = Q(EventText(bounded));
    // Points of drawings: each "m" and "l" command here has one.
    QVERIFY(got.count(QLatin1String("m ")) + got.count(QLatin1String(" l ")) <= kMaxDrawingPoints);
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(QString::fromUtf8(expected)));
    QVERIFY2(pattern.isValid(), qPrintable(pattern.errorString()));
    QVERIFY2(pattern.match(got).hasMatch(),
             qPrintable(got.left(100) + " ... " + got.right(100) + " " + QString::number(got.size())));
    QString said;
    if (r.textCut) said += 't';
    if (r.blocksCut) said += 'b';
    if (r.drawingCut) said += 'd';
    if (r.clamped) said += 'c';
    QCOMPARE(said, report);
  }

  // Styles are clamped as events are, by the Format line's own order; the script's height.
  void boundHeader_data() {
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("style");  // the Style line after bounding
    QTest::addColumn<int>("playResY");
    const QByteArray format =
        "[V4+ Styles]\nFormat: Name, Fontname, Fontsize, ScaleX, ScaleY, Outline, Shadow, Spacing\n";
    QTest::newRow("within bounds") << "[Script Info]\nPlayResY: 720\n\n" + format +
                                          "Style: A,Arial,60,100,100,2,1,0"
                                   << "Style: A,Arial,60,100,100,2,1,0" << 720;
    QTest::newRow("too large, PlayResY from PlayResX")
        << "[Script Info]\nPlayResX: 640\n\n" + format + "Style: A,Arial,100000000,9999,100,999,999,-99999"
        << "Style: A,Arial,480,400,100,60,60,-480" << 480;
    QTest::newRow("another order, no script info")
        << QByteArray("[V4+ Styles]\nFormat: Name, Fontsize, Fontname\nStyle: B,5000,Arial")
        << "Style: B,288,Arial" << 288;
  }

  void boundHeader() {
    QFETCH(QByteArray, header);
    QFETCH(QString, style);
    QFETCH(int, playResY);
    QCOMPARE(PlayResY(header.toStdString()), playResY);
    const QString bounded = Q(BoundHeader(header.toStdString(), nullptr));
    QCOMPARE(bounded.section('\n', -1), style);
  }

  void plainText() {
    QCOMPARE(Q(PlainText(Event("{\\b1}Hello{\\b0}\\Nworld\\hagain"))), QString("Hello\nworld again"));
    QCOMPARE(Q(PlainText(Event("{\\p1}m 0 0 l 1 1{\\p0}shown"))), QString("shown"));
  }

  // A file name's language part in the usual spellings, in any letter case.
  void languageOfName_data() {
    QTest::addColumn<QString>("part");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("rank");         // 0 simplified Chinese, 1 traditional, 2 other
    QTest::addColumn<QString>("charset");  // what the part suggests for a file not in Unicode
    const QList<std::tuple<const char*, const char*, int, const char*>> rows = {
        {"chs", "chi", 0, "GB18030"},   {"CHS", "chi", 0, "GB18030"},
        {"sc", "chi", 0, "GB18030"},    {"SC", "chi", 0, "GB18030"},
        {"gb", "chi", 0, "GB18030"},    {"zh-CN", "chi", 0, "GB18030"},
        {"zh_cn", "chi", 0, "GB18030"}, {"zh-Hans", "chi", 0, "GB18030"},
        {"简体", "chi", 0, "GB18030"},  {"cht", "chi", 1, "Big5"},
        {"CHT", "chi", 1, "Big5"},      {"tc", "chi", 1, "Big5"},
        {"TC", "chi", 1, "Big5"},       {"big5", "chi", 1, "Big5"},
        {"zh-TW", "chi", 1, "Big5"},    {"zh-Hant", "chi", 1, "Big5"},
        {"繁体", "chi", 1, "Big5"},     {"zh", "chi", 0, ""},
        {"ZH", "chi", 0, ""},           {"chi", "chi", 0, ""},
        {"zho", "chi", 0, ""},          {"Chinese", "chi", 0, ""},
        {"中文", "chi", 0, ""},         {"chs&eng", "chi", 0, "GB18030"},
        {"简英", "chi", 0, "GB18030"},  {"en", "eng", 2, ""},
        {"ENG", "eng", 2, ""},          {"English", "eng", 2, ""},
        {"ja", "jpn", 2, ""},           {"jp", "jpn", 2, ""},
        {"JPN", "jpn", 2, ""},          {"ko", "kor", 2, ""},
        {"KOR", "kor", 2, ""},          {"fr", "fre", 2, ""},
        {"forced", "", 2, ""},          {"", "", 2, ""},
    };
    for (const auto& [part, code, rank, charset] : rows)
      QTest::newRow(part[0] ? part : "(none)") << QString::fromUtf8(part) << code << rank << charset;
  }

  void languageOfName() {
    QFETCH(QString, part);
    QFETCH(QString, code);
    QFETCH(int, rank);
    QFETCH(QString, charset);
    const Language l = LanguageOfName(part.toStdString());
    QCOMPARE(Q(l.code), code);
    QCOMPARE(l.Rank(), rank);
    QCOMPARE(Q(CharsetOfName(part.toStdString())), charset);
  }

  // A text's language, for a file whose name names none.
  void languageOfText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("rank");
    QTest::newRow("simplified") << "我们这个时候还没有来过这里"
                                << "chi" << 0;
    QTest::newRow("traditional") << "我們這個時候還沒有來過這裡"
                                 << "chi" << 1;
    QTest::newRow("Chinese with English names") << "你好，Tom。今天我们去看电影。"
                                                << "chi" << 0;
    QTest::newRow("Chinese and English lines") << "我们走吧\nLet's go\n你在哪里\nWhere are you"
                                               << "chi" << 0;
    QTest::newRow("Japanese") << "これは日本語の字幕です"
                              << "jpn" << 2;
    QTest::newRow("Korean") << "안녕하세요 여러분"
                            << "kor" << 2;
    QTest::newRow("English") << "Hello there, how are you?"
                             << "" << 2;
    QTest::newRow("English with one Chinese word") << "The word for tea is 茶 in Chinese, they said."
                                                   << "" << 2;
  }

  void languageOfText() {
    QFETCH(QString, text);
    QFETCH(QString, code);
    QFETCH(int, rank);
    const Language l = LanguageOfText(text.toStdString());
    QCOMPARE(Q(l.code), code);
    QCOMPARE(l.Rank(), rank);
  }
};

QTEST_GUILESS_MAIN(TestEncoderSubtitles)
#include "tst_encoder_subtitles.moc"
