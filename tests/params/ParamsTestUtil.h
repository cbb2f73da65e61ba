#pragma once
// Helpers of the parameter database tests: an independent SQLite connection
// (linked directly, not through the program's loader) to arrange and inspect
// database files, and the database the SQL text of the source tree makes.
#include "platform/AppError.h"
#include "platform/Platform.h"
#include "support/TestCore.h"

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtTest>

#include <sqlite3.h>
#include <unistd.h>

#include <functional>

namespace ParamsTest {

// The parameter database of a temporary installation folder.
inline QString DbPath(const TestSupport::TempAppDir& dir) {
  return dir.File(QString::fromLatin1(Platform::kDatabaseFile));
}

// The text of the error that body raises, or "" when it raises none.
inline QString ErrorOf(const std::function<void()>& body) {
  try {
    body();
  } catch (const TAppError& error) {
    return error.Message;
  }
  return QString();
}

// The pristine default database of this build (generated from data/LibParmt.sql).
inline QString PristineDatabase() { return QStringLiteral(VIDMORA_PRISTINE_DATABASE); }

// Replaces the database of a temporary installation folder with a pristine one,
// so tests never depend on choices stored in the build's own copy.
inline void UsePristineDatabase(const QString& path) {
  QFile::remove(path);
  QVERIFY(QFile::copy(PristineDatabase(), path));
  QFile(path).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

class Sql {
 public:
  explicit Sql(const QString& path) {
    if (sqlite3_open(path.toUtf8().constData(), &db_) != SQLITE_OK) {
      qWarning("cannot open %s: %s", qPrintable(path), sqlite3_errmsg(db_));
    }
  }
  ~Sql() { sqlite3_close(db_); }
  Sql(const Sql&) = delete;
  Sql& operator=(const Sql&) = delete;

  // Runs statements; false (with a warning) when one fails.
  bool Exec(const QString& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
      qWarning("sql failed: %s (%s)", error ? error : "?", qPrintable(sql));
      sqlite3_free(error);
      return false;
    }
    return true;
  }

  // All rows of a select, each as its column texts ("<null>" for NULL).
  QVector<QStringList> Rows(const QString& sql) {
    QVector<QStringList> rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK) {
      qWarning("prepare failed: %s (%s)", sqlite3_errmsg(db_), qPrintable(sql));
      return rows;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      QStringList row;
      for (int k = 0; k < sqlite3_column_count(stmt); ++k) {
        const unsigned char* text = sqlite3_column_text(stmt, k);
        row << (text ? QString::fromUtf8(reinterpret_cast<const char*>(text)) : QStringLiteral("<null>"));
      }
      rows << row;
    }
    sqlite3_finalize(stmt);
    return rows;
  }

  QString Value(const QString& sql) {
    const QVector<QStringList> rows = Rows(sql);
    return rows.isEmpty() || rows.first().isEmpty() ? QString() : rows.first().first();
  }
  int Int(const QString& sql) { return Value(sql).toInt(); }

  // Records every update of cmbex_itemindex in a table update_log
  // (seq, tag, old, new), so tests can count the updates the program runs.
  bool LogUpdates() {
    return Exec(
        QStringLiteral("create table update_log (seq integer primary key autoincrement, tag integer, old "
                       "integer, new integer);"
                       "create trigger log_itemindex after update on cmbex_itemindex begin "
                       "insert into update_log (tag, old, new) values (old.cmbex_tag, old.cmbex_index, "
                       "new.cmbex_index); end;"));
  }
  QVector<QStringList> UpdateLog() {
    return Rows(QStringLiteral("select tag, old, new from update_log order by seq"));
  }

  sqlite3* Handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// Makes a file read-only for this process. For root, permission bits are not
// enough; the immutable attribute is used and removed again on destruction.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const QString& path) : path_(path) {
    QFile(path).setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (geteuid() == 0) {
      immutable_ = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path}) == 0;
      ok_ = immutable_;
    } else {
      ok_ = true;
    }
  }
  ~ReadOnlyFile() {
    if (immutable_) QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path_});
    QFile(path_).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  }
  bool Ok() const { return ok_; }

 private:
  QString path_;
  bool immutable_ = false;
  bool ok_ = false;
};

}  // namespace ParamsTest
