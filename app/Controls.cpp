#include "Controls.h"

#include "platform/FileNames.h"
#include "platform/Shell.h"

#include <QFile>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>

#include <algorithm>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QStylePainter>

namespace {
constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kSelectedImageRole = Qt::UserRole + 2;
constexpr int kPresentRole = Qt::UserRole + 3;
constexpr int kOutputRole = Qt::UserRole + 4;
constexpr int kPathRole = Qt::UserRole + 5;  // the caption as the program holds it
constexpr int kRecordRole = Qt::UserRole + 6;
}  // namespace

QString ToolTipWithDetail(const QString& text, const QString& detail) {
  if (detail.trimmed().isEmpty()) return text;
  return text + QLatin1Char('\n') + QString::fromUtf8(kTechnicalMark) + detail.trimmed();
}

TImageList::TImageList(QObject* owner) : QObject(owner) {
  setObjectName(QStringLiteral("BarImgList"));
  for (int i = 0; i < kCount; ++i) {
    const QString path = QStringLiteral(":/icons/%1.svg").arg(i, 2, 10, QLatin1Char('0'));
    icons_.push_back(QFile::exists(path) ? QIcon(path) : QIcon());
  }
}

QIcon TImageList::Icon(int index) const {
  if (index < 0 || index >= icons_.size()) return QIcon();
  return icons_[index];
}

TComboBoxEx::TComboBoxEx(QWidget* parent) : QComboBox(parent) {
  setEditable(false);
  setMaxVisibleItems(8);
  setIconSize(QSize(16, 16));
  setFocusPolicy(Qt::StrongFocus);
  connect(this, QOverload<int>::of(&QComboBox::activated), this,
          [this](int position) { SetItemIndex(position); });
}

void TComboBoxEx::ClearItems() {
  const QSignalBlocker block(this);
  clear();
  update();
}

void TComboBoxEx::AddItem(const QString& caption, int imageIndex, int selectedImageIndex) {
  const QSignalBlocker block(this);
  const int current = currentIndex();
  addItem(Images ? Images->Icon(imageIndex) : QIcon(), caption);
  const int added = count() - 1;
  setItemData(added, imageIndex, kImageRole);
  setItemData(added, selectedImageIndex, kSelectedImageRole);
  // A plain combo box makes its first entry current; an entry becomes current
  // here only when it is selected.
  setCurrentIndex(current);
}

void TComboBoxEx::SetItemIndex(int position) {
  QString newText = shownText_;
  const bool valid = position >= 0 && position < count();
  {
    const QSignalBlocker block(this);
    setCurrentIndex(valid ? position : -1);
    if (valid) newText = itemText(position);
  }
  // Another entry with the same caption is a change too: the choice is its
  // position, and it must be stored like any other pick.
  const bool otherEntry = valid && position != position_;
  position_ = valid ? position : -1;
  if (newText == shownText_ && !otherEntry) {
    update();
    return;
  }
  shownText_ = newText;
  // The closed box is narrow: its hint shows the whole caption of the choice.
  setToolTip(shownText_);
  update();
  if (OnChange) OnChange();
}

void TComboBoxEx::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionComboBox option;
  initStyleOption(&option);
  option.currentText = shownText_;
  const int current = currentIndex();
  if (current >= 0 && Images) {
    option.currentIcon = Images->Icon(itemData(current, kSelectedImageRole).toInt());
  } else if (current < 0) {
    option.currentIcon = QIcon();
  }
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

TListViewEx::TListViewEx(QWidget* parent) : QTreeWidget(parent) {
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setItemsExpandable(false);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setAllColumnsShowFocus(true);
  setIconSize(QSize(16, 16));
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  connect(this, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* item) { emit CurrentRowChanged(item ? indexOfTopLevelItem(item) : -1); });
}

int TListViewEx::AddRow(const QString& caption, int imageIndex, const QStringList& subItems) {
  auto* item = new QTreeWidgetItem(this);
  // A path is shown with its names read as the user knows them; the row keeps its bytes.
  item->setText(0, Platform::ShownPath(caption));
  item->setData(0, kPathRole, caption);
  item->setToolTip(0, item->text(0));
  for (int k = 0; k < subItems.size(); ++k) {
    item->setText(k + 1, subItems[k]);
    item->setData(k + 1, kPresentRole, true);
  }
  const int row = topLevelItemCount() - 1;
  SetImageIndex(row, imageIndex);
  return row;
}

void TListViewEx::DeleteRow(int row) {
  // Taking out the selected row would make the next one current and selected,
  // and the next Delete or Play would act on a file nobody picked.
  if (selectionModel()) selectionModel()->clear();
  delete takeTopLevelItem(row);
  if (selectionModel()) selectionModel()->clear();
}

void TListViewEx::ClearRows() { clear(); }

QString TListViewEx::Caption(int row) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? item->data(0, kPathRole).toString() : QString();
}

QString TListViewEx::SubItem(int row, int k) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? item->text(k + 1) : QString();
}

bool TListViewEx::HasSubItem(int row, int k) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item && item->data(k + 1, kPresentRole).toBool();
}

void TListViewEx::SetSubItem(int row, int k, const QString& text) {
  if (QTreeWidgetItem* item = topLevelItem(row)) {
    item->setText(k + 1, text);
    item->setData(k + 1, kPresentRole, true);
  }
}

void TListViewEx::SetSubItemToolTip(int row, int k, const QString& tip) {
  if (QTreeWidgetItem* item = topLevelItem(row)) item->setToolTip(k + 1, tip);
}

void TListViewEx::RemoveSubItems(int row) {
  if (QTreeWidgetItem* item = topLevelItem(row)) {
    for (int c = 1; c < columnCount(); ++c) {
      item->setText(c, QString());
      item->setToolTip(c, QString());
      item->setData(c, kPresentRole, false);
    }
  }
}

int TListViewEx::ImageIndex(int row) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? item->data(0, kImageRole).toInt() : -1;
}

void TListViewEx::SetImageIndex(int row, int imageIndex) {
  if (QTreeWidgetItem* item = topLevelItem(row)) {
    item->setData(0, kImageRole, imageIndex);
    item->setIcon(0, Images ? Images->Icon(imageIndex) : QIcon());
  }
}

int TListViewEx::SelectedRow() const {
  const QList<QTreeWidgetItem*> items = selectedItems();
  return items.isEmpty() ? -1 : indexOfTopLevelItem(items.first());
}

QList<int> TListViewEx::SelectedRows() const {
  QList<int> rows;
  for (QTreeWidgetItem* item : selectedItems()) rows << indexOfTopLevelItem(item);
  std::sort(rows.begin(), rows.end());
  return rows;
}

int TListViewEx::CurrentRow() const {
  QTreeWidgetItem* item = currentItem();
  return item ? indexOfTopLevelItem(item) : -1;
}

QString TListViewEx::OutputPath(int row) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? item->data(0, kOutputRole).toString() : QString();
}

void TListViewEx::SetOutputPath(int row, const QString& path) {
  if (QTreeWidgetItem* item = topLevelItem(row)) item->setData(0, kOutputRole, path);
}

QVariant TListViewEx::RowData(int row) const {
  const QTreeWidgetItem* item = topLevelItem(row);
  return item ? item->data(0, kRecordRole) : QVariant();
}

void TListViewEx::SetRowData(int row, const QVariant& value) {
  if (QTreeWidgetItem* item = topLevelItem(row)) item->setData(0, kRecordRole, value);
}

void TListViewEx::SelectRow(int row) {
  clearSelection();
  if (QTreeWidgetItem* item = topLevelItem(row)) {
    item->setSelected(true);
    setCurrentItem(item);
  }
}

void TListViewEx::SetRowToolTip(int row, const QString& text) {
  if (QTreeWidgetItem* item = topLevelItem(row)) {
    item->setToolTip(0, text.isEmpty() ? item->text(0) : item->text(0) + QLatin1Char('\n') + text);
    for (int c = 1; c < columnCount(); ++c) item->setToolTip(c, text);
  }
}

void TListViewEx::mouseReleaseEvent(QMouseEvent* event) {
  QTreeWidget::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton) emit Click();
}

void TListViewEx::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidget::mouseDoubleClickEvent(event);
  if (event->button() != Qt::LeftButton) return;
  if (QTreeWidgetItem* item = itemAt(event->position().toPoint())) emit RowActivated(indexOfTopLevelItem(item));
}

void TListViewEx::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    if (CurrentRow() >= 0) emit RowActivated(CurrentRow());
    event->accept();
    return;
  }
  QTreeWidget::keyPressEvent(event);
}

void TListViewEx::contextMenuEvent(QContextMenuEvent* event) {
  QTreeWidgetItem* item = itemAt(event->pos());
  // A right-click on a row outside the selection makes it the only one chosen.
  if (item && !item->isSelected()) SelectRow(indexOfTopLevelItem(item));
  if (item) setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
  emit RowMenuRequested(item ? indexOfTopLevelItem(item) : -1, event->globalPos());
  event->accept();
}

bool TListViewEx::WantsDrop(const QMimeData* mime) const {
  if (!mime || !mime->hasUrls() || !AcceptsFiles || !AcceptsFiles()) return false;
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile()) return true;
  }
  return false;
}

void TListViewEx::dragEnterEvent(QDragEnterEvent* event) {
  if (WantsDrop(event->mimeData())) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void TListViewEx::dragMoveEvent(QDragMoveEvent* event) {
  if (WantsDrop(event->mimeData())) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void TListViewEx::dropEvent(QDropEvent* event) {
  // Checked again: a run may have started since the drag entered.
  if (!WantsDrop(event->mimeData())) {
    event->ignore();
    return;
  }
  QStringList paths;
  int notLocal = 0;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) {
      // The path's own bytes: a name that is not UTF-8 arrives percent-encoded.
      paths << Platform::PathFromNative(
          QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
    } else {
      ++notLocal;
    }
  }
  event->acceptProposedAction();
  emit FilesDropped(paths, notLocal);
}

TStatEdit::TStatEdit(QWidget* parent) : QLineEdit(parent) {}

void TStatEdit::SetText(const QString& newText) {
  if (newText == text()) return;
  setText(newText);
  if (OnChange) OnChange();
}

TStatusPanel::TStatusPanel(QWidget* parent) : QLabel(parent) {}

void TStatusPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  drawFrame(&painter);
  QString line = text().section(QLatin1Char('\n'), 0, 0);
  line.remove(QLatin1Char('\r'));
  const QRect area = contentsRect().adjusted(3, 0, -3, 0);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(line.trimmed(), Qt::ElideRight, area.width()));
}

TOpenDialog::TOpenDialog(QWidget* owner) : QObject(owner), owner_(owner) {}

bool TOpenDialog::Execute() {
  const std::optional<QStringList> chosen = Shell::ChooseOpenFiles(owner_, Title, Filter, InitialDir);
  if (!chosen || chosen->isEmpty()) return false;
  Files = *chosen;
  FileName = Files.first();
  return true;
}
