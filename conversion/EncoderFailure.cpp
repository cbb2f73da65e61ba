#include "EncoderFailure.h"

#include "encoder/Protocol.h"

#include <csignal>
#include <cstring>

namespace {

using namespace vidmora::protocol;

// One sentence for each code the encoder writes.
struct TCodeSentence {
  const char* code;
  const char* sentence;  // UTF-8; %1 is the whole seconds converted
};

const TCodeSentence kSentences[] = {
    {kErrBadOption, "编码参数有误, 参数库中的选项可能已损坏"},
    {kErrOptionUnsupported, "所选的编码或参数无法用于此文件, 请改选其他输出选项"},
    {kErrSourceMissing, "找不到源文件"},
    {kErrSourceUnreadable, "无法读取源文件 (没有读取权限或磁盘出错)"},
    {kErrSourceNotRegular, "源文件不是普通文件 (文件夹、设备或播放列表)"},
    {kErrSourceDamaged, "源文件已损坏或不是视频文件"},
    {kErrSourceUnsupported, "不支持源文件的编码格式"},
    {kErrSourceIncomplete, "源文件不完整 (已转换前 %1 秒)"},
    {kErrCopyUnsupported, "此编码无法直接复制到 MP4, 请改选转码"},
    {kErrOutputFull, "输出磁盘已满"},
    {kErrOutputTooLarge, "输出文件超过输出磁盘允许的大小, 请改选其他输出目录"},
    {kErrOutputUnwritable, "无法写入输出目录"},
    {kErrOutputName, "输出文件名无法使用 (过长或含有输出磁盘不接受的字符)"},
    {kErrOutputIsSource, "输出文件与源文件相同"},
    {kErrOutOfMemory, "内存不足, 无法继续转换"},
    {kErrEncodeFailed, "转换过程中出错"},
    {kErrStopped, "转换已停止"},
};

}  // namespace

TFailureText EncoderErrorText(const QString& errorLine, double convertedSeconds) {
  QString text = errorLine.trimmed();
  if (text.startsWith(QLatin1String(kErrorMark))) text = text.mid(int(std::strlen(kErrorMark)));
  const int colon = text.indexOf(QLatin1String(": "));
  const QString code = colon > 0 ? text.left(colon) : QString();
  for (const TCodeSentence& entry : kSentences) {
    if (code != QLatin1String(entry.code)) continue;
    QString sentence = QString::fromUtf8(entry.sentence);
    if (sentence.contains(QLatin1String("%1")))
      sentence = sentence.arg(convertedSeconds > 0 ? static_cast<long long>(convertedSeconds) : 0);
    return {sentence, text.mid(colon + 2)};
  }
  return {QStringLiteral("编码器报告了错误"), text};
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
