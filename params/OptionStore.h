#pragma once
// The nine option selectors' side of the parameter database: each selector's
// entries (the captions of its option table, in position order), its
// remembered position in cmbex_itemindex, and the command fragment of a
// position. Selectors are numbered 1 to 9 (five video, then four audio).
//
// Every statement runs through the one shared query: a caller takes what it
// needs from one call before it makes the next.
#include <QString>
#include <QStringList>

class TASQLite3Query;

class TOptionStore {
 public:
  // A null query raises "Missing database property" at the first use.
  explicit TOptionStore(TASQLite3Query* query);

  // The option table of selector `tag` (1 to 9).
  static QString Table(int tag);

  QStringList Captions(int tag);
  // The remembered position; 0 when the selector has no row.
  int RememberedPosition(int tag);
  // Remembers `position` unless it is the remembered one already, so a
  // read-only database is written only for a real change. True when a statement
  // ran. A database error is raised.
  bool StorePosition(int tag, int position);
  // The fragment of the entry at `position`; "" when there is none.
  QString Fragment(int tag, int position);

 private:
  TASQLite3Query& Query();
  TASQLite3Query* query_;
};
