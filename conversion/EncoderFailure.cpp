#include "EncoderFailure.h"

#include <QRegularExpression>

#include <csignal>
#include <cstring>
#include <iterator>

namespace {

using vidmora::protocol::ErrorCode;
using vidmora::protocol::WarningCode;

template <class Code>
struct TSentence {
  Code code;
  const char* sentence;  // UTF-8
};

// One row per code, in the order of its enum: a code added to the protocol and not here
// (or a row moved) stops the build.
template <class Row, std::size_t N>
constexpr bool OneRowPerCodeInOrder(const Row (&rows)[N], std::size_t codes) {
  if (N != codes) return false;
  for (std::size_t i = 0; i < N; ++i)
    if (static_cast<std::size_t>(rows[i].code) != i) return false;
  return true;
}

constexpr TSentence<ErrorCode> kErrorSentences[] = {
    {ErrorCode::BadOption, "编码参数有误, 参数库中的选项可能已损坏"},
    {ErrorCode::OptionUnsupported, "所选的编码或参数无法用于此文件, 请改选其他输出选项"},
    {ErrorCode::SourceMissing, "找不到源文件"},
    {ErrorCode::SourceUnreadable, "无法读取源文件 (没有读取权限或磁盘出错)"},
    {ErrorCode::SourceNotRegular, "源文件不是普通文件 (文件夹、设备或播放列表)"},
    {ErrorCode::SourceDamaged, "源文件已损坏或不是视频文件"},
    {ErrorCode::SourceUnsupported, "不支持源文件的编码格式"},
    {ErrorCode::SourceIncomplete, "源文件不完整 (已转换前 %1 秒)"},
    {ErrorCode::CopyUnsupported, "此编码无法直接复制到 MP4, 请改选转码"},
    {ErrorCode::OutputFull, "输出磁盘已满"},
    {ErrorCode::OutputTooLarge, "输出文件超过输出磁盘允许的大小, 请改选其他输出目录"},
    {ErrorCode::OutputUnwritable, "无法写入输出目录"},
    {ErrorCode::OutputName, "输出文件名无法使用 (过长或含有输出磁盘不接受的字符)"},
    {ErrorCode::OutputIsSource, "输出文件与源文件相同"},
    {ErrorCode::OutOfMemory, "内存不足, 无法继续转换"},
    {ErrorCode::EncodeFailed, "转换过程中出错"},
    {ErrorCode::Stopped, "转换已停止"},
};
static_assert(OneRowPerCodeInOrder(kErrorSentences, std::size(vidmora::protocol::kErrorCodes)),
              "every error code has one sentence, in the order of the codes");

constexpr TSentence<WarningCode> kWarningSentences[] = {
    {WarningCode::ShortSource, "源文件的数据在其标明的长度之前结束：已转换其中的全部内容"},
    {WarningCode::NoPicture, "源文件没有画面，输出只有声音"},
    {WarningCode::PictureSubtitles, "源文件的图形字幕无法存为 MP4 文字字幕，已略过"},
    {WarningCode::SubtitleLeftOut, "有一条字幕无法读取，已略过"},
    {WarningCode::SubtitleCues, "字幕中有部分内容有误或过大，已略过或截短"},
    {WarningCode::SoundLeftOut, "源文件的一条声音无法保留，已略过"},
};
static_assert(OneRowPerCodeInOrder(kWarningSentences, std::size(vidmora::protocol::kWarningCodes)),
              "every warning code has one sentence, in the order of the codes");

template <class Code, class Spelled>
TCodedLine<Code> ReadCoded(const QString& afterMark, Spelled spelled) {
  TCodedLine<Code> read;
  read.text = afterMark.trimmed();
  const int colon = read.text.indexOf(QLatin1String(": "));
  if (colon > 0) read.code = spelled(read.text.left(colon).toStdString());
  read.detail = read.code ? read.text.mid(colon + 2) : read.text;
  return read;
}

}  // namespace

TEncoderError ReadErrorLine(const QString& afterMark) {
  return ReadCoded<ErrorCode>(afterMark, vidmora::protocol::ErrorCodeSpelled);
}

TEncoderWarning ReadWarningLine(const QString& afterMark) {
  return ReadCoded<WarningCode>(afterMark, vidmora::protocol::WarningCodeSpelled);
}

QString ErrorSentence(ErrorCode code) {
  return QString::fromUtf8(kErrorSentences[static_cast<int>(code)].sentence);
}

QString WarningSentence(WarningCode code) {
  return QString::fromUtf8(kWarningSentences[static_cast<int>(code)].sentence);
}

TFailureText EncoderErrorText(const TEncoderError& error, double convertedSeconds) {
  if (!error.code) return {QStringLiteral("编码器报告了错误"), error.text};
  QString sentence = ErrorSentence(*error.code);
  if (*error.code == ErrorCode::SourceIncomplete)
    sentence = sentence.arg(convertedSeconds > 0 ? static_cast<long long>(convertedSeconds) : 0);
  return {sentence, error.detail};
}

QString EncoderWarningText(const TEncoderWarning& warning) {
  if (!warning.code) return QStringLiteral("编码器给出了警告");
  if (*warning.code == WarningCode::ShortSource) {
    // "the source's data ends at 5.0 s of a stated 10.0 s"
    static const QRegularExpression values(QStringLiteral("ends at ([0-9.]+) s of a stated ([0-9.]+) s"));
    const QRegularExpressionMatch m = values.match(warning.detail);
    if (m.hasMatch())
      return QStringLiteral("源文件标明长 %1 秒，但其数据在 %2 秒处就结束了：已转换其中的全部内容")
          .arg(m.captured(2), m.captured(1));
  }
  return WarningSentence(*warning.code);
}

TFailureText EncoderEndText(bool crashed, int signal, int exitCode) {
  if (crashed) {
    QString detail = QStringLiteral("信号 %1: %2").arg(signal).arg(QString::fromLocal8Bit(strsignal(signal)));
    // The system ends a program this way when memory runs out.
    if (signal == SIGKILL) detail += QStringLiteral(" (可能因内存不足被系统终止)");
    return {QStringLiteral("编码器意外终止"), detail};
  }
  if (exitCode == 0) return {QStringLiteral("编码器未报告完成"), QString()};
  return {QStringLiteral("编码器异常退出"), QStringLiteral("退出状态 %1").arg(exitCode)};
}
