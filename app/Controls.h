#pragma once
// The program's own controls: the selector, the report lists, the hidden queue
// edit, the open dialog and the shared image list.
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QStringList>
#include <QTreeWidget>
#include <QVector>

#include <functional>

// A tool tip: the text for the user, and under it, on a line of its own marked
// kTechnicalMark, the technical account (a library's or a program's own words)
// when there is one.
inline constexpr char kTechnicalMark[] = "技术信息: ";
QString ToolTipWithDetail(const QString& text, const QString& detail);

// The shared image list: nineteen 16 x 16 icons, addressed by index.
class TImageList : public QObject {
  Q_OBJECT
 public:
  explicit TImageList(QObject* owner);
  static constexpr int kCount = 20;
  QIcon Icon(int index) const;
  int Count() const { return kCount; }

 private:
  QVector<QIcon> icons_;
};

// The drop-down selector. It keeps its shown text and its last current position
// apart from its entries: clearing the entries keeps both, selecting a position
// outside the entries keeps the text and leaves no current entry. OnChange runs
// (on a user's pick or SetItemIndex) when the shown text changes to a different
// text, or when an entry at another position than the last current one becomes
// current, though its caption equals the shown text.
class TComboBoxEx : public QComboBox {
  Q_OBJECT
 public:
  explicit TComboBoxEx(QWidget* parent = nullptr);

  int Tag = 0;
  TImageList* Images = nullptr;
  std::function<void()> OnChange;

  void ClearItems();
  // Adds an entry at the end with its caption, icon and selected icon.
  void AddItem(const QString& caption, int imageIndex, int selectedImageIndex);
  int ItemCount() const { return count(); }
  // The current position, -1 when no entry is current.
  int ItemIndex() const { return currentIndex(); }
  void SetItemIndex(int position);
  QString Text() const { return shownText_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString shownText_;
  int position_ = -1;
};

// A list in report view: rows with a caption, sub-items and an image index.
// Sub-item k is shown in column k + 1; a sub-item may be absent, which shows the
// same as an empty one.
class TListViewEx : public QTreeWidget {
  Q_OBJECT
 public:
  explicit TListViewEx(QWidget* parent = nullptr);

  TImageList* Images = nullptr;

  int RowCount() const { return topLevelItemCount(); }
  // The caption is a path as the program holds it (platform/FileNames.h); the list shows it
  // as ShownPath gives it, Caption() gives it back as it was added.
  int AddRow(const QString& caption, int imageIndex, const QStringList& subItems = {});
  // Afterwards no row is selected and none is current.
  void DeleteRow(int row);
  void ClearRows();
  QString Caption(int row) const;
  QString SubItem(int row, int k) const;
  bool HasSubItem(int row, int k) const;
  void SetSubItem(int row, int k, const QString& text);
  // The tool tip of sub-item k (none when empty).
  void SetSubItemToolTip(int row, int k, const QString& tip);
  // Removes the sub-items and their tool tips.
  void RemoveSubItems(int row);
  int ImageIndex(int row) const;
  void SetImageIndex(int row, int imageIndex);
  // The selected row, -1 when none (the first of several).
  int SelectedRow() const;
  // Every selected row, in ascending order.
  QList<int> SelectedRows() const;
  // The row that has the keyboard's focus mark, -1 when none.
  int CurrentRow() const;
  // The file a converted row was written to (empty until then).
  QString OutputPath(int row) const;
  void SetOutputPath(int row, const QString& path);
  // What the program keeps of a row beyond what it shows (never shown itself).
  QVariant RowData(int row) const;
  void SetRowData(int row, const QVariant& value);
  void SelectRow(int row);
  // A row's tool tip: the caption column shows the caption, followed by text
  // on a line of its own; the other columns show text. Empty text: the caption only.
  void SetRowToolTip(int row, const QString& text);

  // Files dropped from the desktop are offered through FilesDropped, unless
  // AcceptsFiles says no (then the drop is refused). Unset: no drops.
  std::function<bool()> AcceptsFiles;

 signals:
  // Any click on the list, also one that selects nothing.
  void Click();
  // The current row changed, by mouse, keyboard or program; -1 for none.
  void CurrentRowChanged(int row);
  // Enter on the current row, or a double-click on a row.
  void RowActivated(int row);
  // A right-click on a row (-1 below the rows), at a global position.
  void RowMenuRequested(int row, const QPoint& globalPos);
  // Local files and folders dropped onto the list, in the order given, and
  // how many dropped items were no local files.
  void FilesDropped(const QStringList& paths, int notLocal);

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  bool WantsDrop(const QMimeData* mime) const;
};

// The hidden queue edit. SetText runs OnChange at once when the text changes;
// writing the text the edit already holds does nothing.
class TStatEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit TStatEdit(QWidget* parent = nullptr);
  std::function<void()> OnChange;
  void SetText(const QString& text);
  QString Text() const { return text(); }
};

// A framed text panel of the status bar. It holds the whole text it is given
// but shows one line of it: the first, cut to the panel's width.
class TStatusPanel : public QLabel {
  Q_OBJECT
 public:
  explicit TStatusPanel(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The open-file dialog component: title, filter ("Description|*.a;*.b", one
// pair per entry), the folder it opens in, one file or several per choice.
class TOpenDialog : public QObject {
  Q_OBJECT
 public:
  explicit TOpenDialog(QWidget* owner);
  QString Title;
  QString Filter;
  QString InitialDir;
  QStringList Files;  // the files chosen, in the dialog's order
  QString FileName;   // the first of them
  // Shows the dialog; false when the user cancels.
  bool Execute();

 private:
  QWidget* owner_;
};
