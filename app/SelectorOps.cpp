// The nine output option selectors: filling them from their option tables,
// remembering each one's choice in cmbex_itemindex, and reading the command
// fragment behind the current entry. Every statement runs through the one
// shared query, so each operation takes what it needs from the result before
// it selects a position (selecting can run a change handler, and with it
// further statements, at once).
#include "ConvMainFunc.h"
#include "Controls.h"
#include "params/DataModule.h"
#include "platform/AppError.h"

namespace {

// Option table of each selector number (1 to 9).
const char* const kOptionTables[10] = {
    nullptr,           "cmbex_vdocodec", "cmbex_vdobitrate", "cmbex_vdosize",     "cmbex_vdofps",
    "cmbex_vdoaspect", "cmbex_adocodec", "cmbex_adobitrate", "cmbex_adochannels", "cmbex_adofreq",
};

// Icon of a selector entry in the shared image list.
constexpr int kEntryIcon = 9;

QString Table(int tag) { return QString::fromLatin1(kOptionTables[tag]); }

TASQLite3Query& SharedQuery(const TConvMainFunc& func) {
  if (!func.Query) throw TAppError(QStringLiteral("Missing database property"));
  return *func.Query;
}

TComboBoxEx& SelectorOf(const TConvMainFunc& func, int tag) {
  TComboBoxEx* selector = func.Selector(tag);
  if (!selector) throw TAppError(QStringLiteral("CmbEx selector %1 not found").arg(tag));
  return *selector;
}

// Fills selector `tag` from its table and selects its remembered entry. The
// select step comes last: its change handler may run statements of its own.
void FillSelector(TConvMainFunc& func, int tag) {
  TComboBoxEx& selector = SelectorOf(func, tag);
  TASQLite3Query& query = SharedQuery(func);
  selector.ClearItems();
  query.SetSQL(QStringLiteral("select cmbex_index,cmbex_name from ") + Table(tag) +
               QStringLiteral(" order by cmbex_index"));
  query.Open();
  query.First();
  const int count = query.RecordCount();
  for (int i = 0; i < count; ++i) {
    // Field 0 is not read: an entry's position is its key.
    selector.AddItem(query.FieldAsString(1), kEntryIcon, kEntryIcon);
    query.Next();
  }
  const int position = func.LoadItemIndex(tag);
  selector.SetItemIndex(position);
}

// The command fragment of the current entry of selector `tag`; "" when the
// selector has no current entry or its table has no row for the position.
QString SelectedFragment(TConvMainFunc& func, int tag) {
  const int position = SelectorOf(func, tag).ItemIndex();
  TASQLite3Query& query = SharedQuery(func);
  query.SetSQL(QStringLiteral("select cmbex_cmd from ") + Table(tag) +
               QStringLiteral(" where cmbex_index = ") + QString::number(position));
  query.Open();
  return query.FieldAsString(0);
}

}  // namespace

int TConvMainFunc::LoadItemIndex(int tag) {
  TASQLite3Query& query = SharedQuery(*this);
  query.SetSQL(QStringLiteral("select cmbex_index from cmbex_itemindex where cmbex_tag = ") +
               QString::number(tag));
  query.Open();
  return query.FieldAsInteger(0);
}

void TConvMainFunc::FillVdoCodec() { FillSelector(*this, 1); }
void TConvMainFunc::FillVdoBitrate() { FillSelector(*this, 2); }
void TConvMainFunc::FillVdoSize() { FillSelector(*this, 3); }
void TConvMainFunc::FillVdoFps() { FillSelector(*this, 4); }
void TConvMainFunc::FillVdoAspect() { FillSelector(*this, 5); }
void TConvMainFunc::FillAdoCodec() { FillSelector(*this, 6); }
void TConvMainFunc::FillAdoBitrate() { FillSelector(*this, 7); }
void TConvMainFunc::FillAdoChannels() { FillSelector(*this, 8); }
void TConvMainFunc::FillAdoFreq() { FillSelector(*this, 9); }

void TConvMainFunc::SaveItemIndex(TComboBoxEx* selector) {
  if (!selector) return;
  const int position = selector->ItemIndex();
  const int tag = selector->Tag;
  TASQLite3Query& query = SharedQuery(*this);
  // An update that matches no row changes nothing; no row is ever inserted.
  query.SetSQL(QStringLiteral("update cmbex_itemindex set cmbex_index = ") + QString::number(position) +
               QStringLiteral(" where cmbex_tag = ") + QString::number(tag));
  query.Open();
}

QString TConvMainFunc::GetVdoCodecCmd() { return SelectedFragment(*this, 1); }
QString TConvMainFunc::GetVdoBitrateCmd() { return SelectedFragment(*this, 2); }
QString TConvMainFunc::GetVdoSizeCmd() { return SelectedFragment(*this, 3); }
QString TConvMainFunc::GetVdoFpsCmd() { return SelectedFragment(*this, 4); }
QString TConvMainFunc::GetVdoAspectCmd() { return SelectedFragment(*this, 5); }
QString TConvMainFunc::GetAdoCodecCmd() { return SelectedFragment(*this, 6); }
QString TConvMainFunc::GetAdoBitrateCmd() { return SelectedFragment(*this, 7); }
QString TConvMainFunc::GetAdoChannelsCmd() { return SelectedFragment(*this, 8); }
QString TConvMainFunc::GetAdoFreqCmd() { return SelectedFragment(*this, 9); }
