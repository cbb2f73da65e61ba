#include "params/OptionStore.h"

#include "params/DataModule.h"
#include "platform/AppError.h"

namespace {

const char* const kOptionTables[10] = {
    nullptr,           "cmbex_vdocodec", "cmbex_vdobitrate", "cmbex_vdosize",     "cmbex_vdofps",
    "cmbex_vdoaspect", "cmbex_adocodec", "cmbex_adobitrate", "cmbex_adochannels", "cmbex_adofreq",
};

}  // namespace

TOptionStore::TOptionStore(TASQLite3Query* query) : query_(query) {}

QString TOptionStore::Table(int tag) {
  if (tag < 1 || tag > 9) throw TAppError(QStringLiteral("CmbEx selector %1 not found").arg(tag));
  return QString::fromLatin1(kOptionTables[tag]);
}

TASQLite3Query& TOptionStore::Query() {
  if (!query_) throw TAppError(QStringLiteral("Missing database property"));
  return *query_;
}

QStringList TOptionStore::Captions(int tag) {
  TASQLite3Query& query = Query();
  query.SetSQL(QStringLiteral("select cmbex_index,cmbex_name from ") + Table(tag) +
               QStringLiteral(" order by cmbex_index"));
  query.Open();
  query.First();
  QStringList captions;
  const int count = query.RecordCount();
  for (int i = 0; i < count; ++i) {
    // Field 0 is not read: an entry's position is its key.
    captions << query.FieldAsString(1);
    query.Next();
  }
  return captions;
}

int TOptionStore::RememberedPosition(int tag) {
  TASQLite3Query& query = Query();
  query.SetSQL(QStringLiteral("select cmbex_index from cmbex_itemindex where cmbex_tag = ") +
               QString::number(tag));
  query.Open();
  return query.FieldAsInteger(0);
}

bool TOptionStore::StorePosition(int tag, int position) {
  if (RememberedPosition(tag) == position) return false;
  TASQLite3Query& query = Query();
  // An update that matches no row changes nothing; no row is ever inserted.
  query.SetSQL(QStringLiteral("update cmbex_itemindex set cmbex_index = ") + QString::number(position) +
               QStringLiteral(" where cmbex_tag = ") + QString::number(tag));
  query.Open();
  return true;
}

QString TOptionStore::Fragment(int tag, int position) {
  TASQLite3Query& query = Query();
  query.SetSQL(QStringLiteral("select cmbex_cmd from ") + Table(tag) +
               QStringLiteral(" where cmbex_index = ") + QString::number(position));
  query.Open();
  return query.FieldAsString(0);
}
