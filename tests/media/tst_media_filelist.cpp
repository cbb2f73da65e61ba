// The source file list and the properties panel, driven through the main
// window's own event handlers with the open dialog answered by the test.
#include "MediaSamples.h"
#include "tests/support/TestSupport.h"
#include "app/Controls.h"
#include "app/ConvMainFrm.h"
#include "app/ListMarks.h"
#include "media/MediaInfoDll.h"

#include <QtTest>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace TestSupport;

namespace {
const QStringList kBlankPanel = {"", "", "", "", "", "", "", "", "", "", "", "", "", ""};
}

class TestMediaFileList : public QObject {
  Q_OBJECT

  std::unique_ptr<TempAppDir> appDir_;
  std::unique_ptr<CapturedDialogs> dialogs_;
  std::unique_ptr<MainWindowFixture> window_;

  TConvMainForm* form() const { return window_->form(); }
  TListViewEx* list() const { return form()->AvFilesList; }
  TListViewEx* panel() const { return form()->AvParamsList; }

  // Adds one file through the Add button's event.
  void add(const QString& path) {
    dialogs_->fileAnswers.push_back(path);
    form()->AddAvFileBtnClick();
    QVERIFY(TestSupport::WaitForAddition(form()));
  }
  QStringList row(int r) const {
    QStringList out{list()->Caption(r)};
    for (int k = 0; k < 4; ++k) out << list()->SubItem(r, k);
    return out;
  }
  // Values of panel rows 1 to 15.
  QStringList panelValues() const {
    QStringList out;
    for (int r = 1; r <= 15; ++r) out << panel()->SubItem(r, 0);
    return out;
  }
  QString panelName() const { return panel()->SubItem(1, 0); }
  // Headings 0, 5 and 11 never carry a value once the panel was written.
  void verifyHeadings() const {
    QVERIFY(!panel()->HasSubItem(5, 0));
    QVERIFY(!panel()->HasSubItem(11, 0));
    QVERIFY(!panel()->HasSubItem(0, 0));
  }
  void verifyBlankPanel() const {
    for (int r = 1; r <= 15; ++r) {
      QCOMPARE(panel()->SubItem(r, 0), QString());
      QCOMPARE(panel()->HasSubItem(r, 0), r != 5 && r != 11);
    }
  }

 private slots:
  void init() {
    appDir_ = std::make_unique<TempAppDir>();
    dialogs_ = std::make_unique<CapturedDialogs>();
    window_ = std::make_unique<MainWindowFixture>();
    // Start-up work of other parts of the program is not under test here.
    dialogs_->messages.clear();
  }
  void cleanup() {
    window_.reset();
    dialogs_.reset();
    appDir_.reset();
  }

  void addShowsRowAndPanel() {
    QCOMPARE(panelValues(), QStringList(15, QString()));
    add(MediaSamples::Avi());
    QCOMPARE(dialogs_->fileTitles, QStringList{QStringLiteral("添加")});
    QCOMPARE(list()->RowCount(), 1);
    QCOMPARE(row(0), (QStringList{MediaSamples::Avi(), "avi", MediaSamples::ExpectedSize(MediaSamples::Avi()),
                                  "00:00:03", "0%"}));
    QCOMPARE(list()->ImageIndex(0), kIconWaiting);
    QCOMPARE(list()->SelectedRow(), -1);
    const QStringList values = panelValues();
    QCOMPARE(values.mid(0, 4),
             (QStringList{"clip.avi", "avi", MediaSamples::ExpectedSize(MediaSamples::Avi()), "00:00:03"}));
    QCOMPARE(values[4], QString());  // heading
    QCOMPARE(values[5], QStringLiteral("MPEG-4 Visual"));
    QVERIFY(values[6].endsWith(QLatin1String(" kb/s")));
    QCOMPARE(values.mid(7, 3), (QStringList{"320x240", "25.000 FPS", "4:3"}));
    QCOMPARE(values[10], QString());  // heading
    QCOMPARE(values.mid(11), (QStringList{"MPEG-1 Audio layer 3", "64.0 kb/s", "立体声", "44.1 kHz"}));
    // The channels in words; the library's own account on a marked line under them.
    QCOMPARE(panel()->topLevelItem(kPanelChannels)->toolTip(1),
             QStringLiteral("立体声\n技术信息: 2 channels"));
    verifyHeadings();
    QVERIFY(dialogs_->messages.empty());
  }

  // After an Add the panel shows the new file even though another row stays
  // selected; the same file twice gives two identical rows.
  void addKeepsSelectionAndAllowsDuplicates() {
    add(MediaSamples::Mp4());
    list()->SelectRow(0);
    add(MediaSamples::Silent());
    add(MediaSamples::Silent());
    QCOMPARE(list()->RowCount(), 3);
    QCOMPARE(list()->SelectedRow(), 0);
    QCOMPARE(row(1), row(2));
    QCOMPARE(row(1)[3], QStringLiteral("00:00:02"));
    QCOMPARE(panelName(), QStringLiteral("silent.mp4"));
    QCOMPARE(panel()->SubItem(12, 0), QString());  // no audio stream
    QCOMPARE(panel()->SubItem(8, 0), QStringLiteral("160x120"));
  }

  void cancelledDialogAddsNothing() {
    form()->AddAvFileBtnClick();  // no answer queued = cancel
    QCOMPARE(list()->RowCount(), 0);
    QCOMPARE(dialogs_->fileTitles.size(), 1);
  }

  void unreadableAndOddFiles() {
    add(MediaSamples::Missing());
    QCOMPARE(row(0), (QStringList{MediaSamples::Missing(), "", "MB", "未知", "0%"}));
    QCOMPARE(panelValues(), (QStringList{".", "", "MB", "未知", "", "", "", "", "", "", "", "", "", "", ""}));
    verifyHeadings();
    add(MediaSamples::NoExt());
    QCOMPARE(panelName(), QStringLiteral("noext."));
    QCOMPARE(row(1)[1], QString());
    add(MediaSamples::Empty());
    QCOMPARE(row(2), (QStringList{MediaSamples::Empty(), "mp4", "0 MB", "未知", "0%"}));
    add(MediaSamples::Chinese());
    QCOMPARE(row(3), (QStringList{MediaSamples::Chinese(), "mp4",
                                  MediaSamples::ExpectedSize(MediaSamples::Chinese()), "00:00:02", "0%"}));
    QCOMPARE(panelName(), QStringLiteral("片段 一.mp4"));
    QCOMPARE(panel()->SubItem(6, 0), QStringLiteral("AVC"));
    QCOMPARE(panel()->SubItem(12, 0), QStringLiteral("AAC LC"));
  }

  // Pipes, devices and sockets are refused as they are added, never probed (opening
  // a pipe waits for a writer), with the reason in the status line.
  void notRegularFilesRefused_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("named pipe") << "fifo" << "talk.avi 是管道，不是普通文件，不能添加";
    QTest::newRow("device") << "device" << "null 是设备，不是普通文件，不能添加";
    QTest::newRow("socket") << "socket" << "sock.avi 是套接字，不是普通文件，不能添加";
  }

  void notRegularFilesRefused() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QString path = dir.filePath(kind == "socket" ? "sock.avi" : "talk.avi");
    int fd = -1;
    if (kind == "fifo") {
      QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    } else if (kind == "device") {
      path = "/dev/null";
    } else {
      fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      const QByteArray name = QFile::encodeName(path);
      QVERIFY(fd >= 0 && size_t(name.size()) < sizeof address.sun_path);
      std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
      QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    }
    add(path);
    if (fd >= 0) ::close(fd);
    QCOMPARE(list()->RowCount(), 0);
    QCOMPARE(form()->MsgStatusPanel->text(), reason);
  }

  void deleteRows() {
    add(MediaSamples::Avi());
    add(MediaSamples::Mp4());
    add(MediaSamples::Silent());
    // Nothing selected: nothing changes.
    form()->DelAvFileBtnClick();
    QCOMPARE(list()->RowCount(), 3);
    QCOMPARE(panelName(), QStringLiteral("silent.mp4"));
    // The file the panel shows (the selected one) is removed while rows
    // remain: it is shown no more; the rows below move up.
    list()->SelectRow(0);
    QCOMPARE(panelName(), QStringLiteral("clip.avi"));
    form()->DelAvFileBtnClick();
    QCOMPARE(list()->RowCount(), 2);
    QCOMPARE(list()->Caption(0), MediaSamples::Mp4());
    verifyBlankPanel();
    // A file shown in two rows is still listed when one of them goes.
    add(MediaSamples::Silent());
    list()->SelectRow(1);
    form()->DelAvFileBtnClick();
    QCOMPARE(list()->RowCount(), 2);
    QCOMPARE(panelName(), QStringLiteral("silent.mp4"));
    list()->SelectRow(1);
    form()->DelAvFileBtnClick();
    // The last row: the panel is blanked.
    list()->SelectRow(0);
    form()->DelAvFileBtnClick();
    QCOMPARE(list()->RowCount(), 0);
    verifyBlankPanel();
    // Delete on an empty list blanks again and does no harm.
    form()->DelAvFileBtnClick();
    verifyBlankPanel();
    QVERIFY(dialogs_->messages.empty());
  }

  // After a delete nothing is selected: a second Delete removes nothing and
  // Play asks for a file instead of playing one the user never picked.
  void deleteLeavesNoSelection() {
    add(MediaSamples::Avi());
    add(MediaSamples::Mp4());
    add(MediaSamples::Silent());
    form()->show();
    const QRect first = list()->visualItemRect(list()->topLevelItem(0));
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, first.center());
    QCOMPARE(list()->SelectedRow(), 0);
    form()->DelAvFileBtnClick();
    QCOMPARE(list()->RowCount(), 2);
    QCOMPARE(list()->SelectedRow(), -1);
    QVERIFY(!list()->currentItem());
    form()->DelAvFileBtnClick();
    QCOMPARE(list()->RowCount(), 2);
    QCOMPARE(list()->Caption(0), MediaSamples::Mp4());
    form()->PlayAvFileBtnClick();
    QCOMPARE(dialogs_->messages.size(), size_t(1));
    QCOMPARE(dialogs_->messages[0].second, QStringLiteral("请选择要播放的视频文件"));
    // The keyboard moves from no current row to the first one, as before any pick.
    QTest::keyClick(list()->viewport(), Qt::Key_Down);
    QCOMPARE(list()->Caption(list()->indexOfTopLevelItem(list()->currentItem())), MediaSamples::Mp4());
  }

  void clearRows() {
    // An empty list: the panel is not blanked (it never held values).
    form()->ClearAvFileBtnClick();
    QCOMPARE(panel()->HasSubItem(1, 0), false);
    add(MediaSamples::Avi());
    add(MediaSamples::Mp4());
    list()->SelectRow(1);
    form()->ClearAvFileBtnClick();
    QCOMPARE(list()->RowCount(), 0);
    verifyBlankPanel();
    QCOMPARE(panel()->Caption(0), QStringLiteral("文件"));
    QCOMPARE(panel()->Caption(5), QStringLiteral("视频"));
    // A panel filled directly (as the queue does) stays on a clear of an empty list.
    window_->form()->AvParamsList->SetSubItem(1, 0, QStringLiteral("kept"));
    form()->ClearAvFileBtnClick();
    QCOMPARE(panelName(), QStringLiteral("kept"));
  }

  // Clicks on the list: a row shows its file, a click that selects nothing
  // changes nothing.
  void clicks() {
    add(MediaSamples::Avi());
    add(MediaSamples::Mp4());
    QCOMPARE(panelName(), QStringLiteral("clip.mp4"));
    form()->show();
    QVERIFY(QTest::qWaitForWindowExposed(form()));
    const QRect first = list()->visualItemRect(list()->topLevelItem(0));
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, first.center());
    QCOMPARE(list()->SelectedRow(), 0);
    QCOMPARE(panelName(), QStringLiteral("clip.avi"));
    // A current row chosen without a click: the panel follows it.
    list()->SelectRow(1);
    QCOMPARE(panelName(), QStringLiteral("clip.mp4"));
    list()->SelectRow(0);
    // A click below the rows with nothing selected.
    list()->clearSelection();
    panel()->SetSubItem(1, 0, QStringLiteral("marker"));
    const QPoint empty(first.center().x(), list()->viewport()->height() - 3);
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, empty);
    QCOMPARE(list()->SelectedRow(), -1);
    QCOMPARE(panelName(), QStringLiteral("marker"));
    // The event handler on its own, with a selection.
    list()->SelectRow(1);
    panel()->SetSubItem(1, 0, QStringLiteral("marker"));
    form()->AvFilesListClick();
    QCOMPARE(panelName(), QStringLiteral("clip.mp4"));
  }
};

QTEST_MAIN(TestMediaFileList)
#include "tst_media_filelist.moc"
