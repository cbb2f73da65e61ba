/* A stand-in for the SQLite library that exports only some of the functions
 * the connection binds. Each name is left out when OMIT_<name> is defined.
 * None of them is ever called: a library lacking a function is refused
 * before any call. */
#define STUB(name) \
  int name(void);  \
  int name(void) { return 0; }

#ifndef OMIT_sqlite3_open
STUB(sqlite3_open)
#endif
#ifndef OMIT_sqlite3_close
STUB(sqlite3_close)
#endif
STUB(sqlite3_exec)
STUB(sqlite3_libversion)
#ifndef OMIT_sqlite3_errmsg
STUB(sqlite3_errmsg)
#endif
STUB(sqlite3_get_table)
STUB(sqlite3_free_table)
STUB(sqlite3_free)
STUB(sqlite3_complete)
STUB(sqlite3_last_insert_rowid)
STUB(sqlite3_interrupt)
STUB(sqlite3_busy_timeout)
STUB(sqlite3_busy_handler)
#ifndef OMIT_sqlite3_changes
STUB(sqlite3_changes)
#endif
STUB(sqlite3_prepare)
STUB(sqlite3_finalize)
STUB(sqlite3_reset)
#ifndef OMIT_sqlite3_step
STUB(sqlite3_step)
#endif
STUB(sqlite3_column_blob)
STUB(sqlite3_column_bytes)
STUB(sqlite3_column_bytes16)
STUB(sqlite3_column_count)
STUB(sqlite3_column_decltype)
STUB(sqlite3_column_double)
STUB(sqlite3_column_int)
STUB(sqlite3_column_int64)
STUB(sqlite3_column_name)
STUB(sqlite3_column_text)
STUB(sqlite3_column_text16)
#ifndef OMIT_sqlite3_column_type
STUB(sqlite3_column_type)
#endif
STUB(sqlite3_bind_blob)
STUB(sqlite3_bind_value)
#ifndef OMIT_sqlite3_bind_int
STUB(sqlite3_bind_int)
#endif
STUB(sqlite3_bind_double)
STUB(sqlite3_bind_null)
STUB(sqlite3_bind_text)
STUB(sqlite3_bind_text16)
STUB(sqlite3_bind_parameter_count)
STUB(sqlite3_bind_parameter_name)
#ifndef OMIT_sqlite3_create_collation
STUB(sqlite3_create_collation)
#endif
