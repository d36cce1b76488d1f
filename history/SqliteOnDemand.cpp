// libsqlite3 is loaded with the first use of the history, not at every start. Linked as usual, the
// library is bound at load with some 1,600 symbol relocations of its own: most of what a one-shot
// `diskvigil-cli smart 1` spent before its first drive command, for a history it does not keep.
// Each SQLite function the store calls is defined here and forwards to the library's own; where
// the library cannot be loaded, opening fails with SQLITE_CANTOPEN and the store's usual note, and
// the program goes on without history.
#include <dlfcn.h>
#include <sqlite3.h>

namespace {

constexpr const char* kSqliteLibrary = "libsqlite3.so.0";
constexpr const char* kNoLibrary = "libsqlite3.so.0 could not be loaded";

void* Library() {
  static void* const handle = dlopen(kSqliteLibrary, RTLD_NOW | RTLD_LOCAL);
  return handle;
}

template <typename Function>
Function* Find(const char* name) {
  void* const handle = Library();
  return handle == nullptr ? nullptr : reinterpret_cast<Function*>(dlsym(handle, name));
}

}  // namespace

// One forwarder: the library's function, found once, or `fallback` when there is none.
#define DV_SQLITE_FORWARD(result, name, parameters, arguments, fallback) \
  extern "C" result name parameters {                                    \
    static auto* const real = Find<decltype(name)>(#name);               \
    return real != nullptr ? real arguments : fallback;                  \
  }

extern "C" int sqlite3_open_v2(const char* file, sqlite3** db, int flags, const char* vfs) {
  static auto* const real = Find<decltype(sqlite3_open_v2)>("sqlite3_open_v2");
  if (real != nullptr) return real(file, db, flags, vfs);
  *db = nullptr;
  return SQLITE_CANTOPEN;
}

DV_SQLITE_FORWARD(int, sqlite3_close_v2, (sqlite3 * db), (db), SQLITE_OK)
DV_SQLITE_FORWARD(int, sqlite3_busy_timeout, (sqlite3 * db, int ms), (db, ms), SQLITE_MISUSE)
DV_SQLITE_FORWARD(int, sqlite3_exec,
                  (sqlite3 * db, const char* sql, int (*callback)(void*, int, char**, char**),
                   void* argument, char** error),
                  (db, sql, callback, argument, error), SQLITE_MISUSE)
DV_SQLITE_FORWARD(int, sqlite3_prepare_v3,
                  (sqlite3 * db, const char* sql, int bytes, unsigned int flags,
                   sqlite3_stmt** statement, const char** tail),
                  (db, sql, bytes, flags, statement, tail), SQLITE_MISUSE)
DV_SQLITE_FORWARD(int, sqlite3_step, (sqlite3_stmt * statement), (statement), SQLITE_MISUSE)
DV_SQLITE_FORWARD(int, sqlite3_reset, (sqlite3_stmt * statement), (statement), SQLITE_MISUSE)
DV_SQLITE_FORWARD(int, sqlite3_finalize, (sqlite3_stmt * statement), (statement), SQLITE_OK)
DV_SQLITE_FORWARD(int, sqlite3_clear_bindings, (sqlite3_stmt * statement), (statement),
                  SQLITE_MISUSE)
DV_SQLITE_FORWARD(int, sqlite3_bind_int, (sqlite3_stmt * statement, int index, int value),
                  (statement, index, value), SQLITE_MISUSE)
DV_SQLITE_FORWARD(int, sqlite3_bind_int64,
                  (sqlite3_stmt * statement, int index, sqlite3_int64 value),
                  (statement, index, value), SQLITE_MISUSE)
DV_SQLITE_FORWARD(int, sqlite3_bind_null, (sqlite3_stmt * statement, int index), (statement, index),
                  SQLITE_MISUSE)
DV_SQLITE_FORWARD(int, sqlite3_bind_text,
                  (sqlite3_stmt * statement, int index, const char* text, int bytes,
                   void (*destructor)(void*)),
                  (statement, index, text, bytes, destructor), SQLITE_MISUSE)
DV_SQLITE_FORWARD(int, sqlite3_column_type, (sqlite3_stmt * statement, int column),
                  (statement, column), SQLITE_NULL)
DV_SQLITE_FORWARD(int, sqlite3_column_int, (sqlite3_stmt * statement, int column),
                  (statement, column), 0)
DV_SQLITE_FORWARD(sqlite3_int64, sqlite3_column_int64, (sqlite3_stmt * statement, int column),
                  (statement, column), 0)
DV_SQLITE_FORWARD(double, sqlite3_column_double, (sqlite3_stmt * statement, int column),
                  (statement, column), 0.0)
DV_SQLITE_FORWARD(const unsigned char*, sqlite3_column_text, (sqlite3_stmt * statement, int column),
                  (statement, column), nullptr)
DV_SQLITE_FORWARD(sqlite3_int64, sqlite3_last_insert_rowid, (sqlite3 * db), (db), 0)
DV_SQLITE_FORWARD(int, sqlite3_extended_errcode, (sqlite3 * db), (db), SQLITE_CANTOPEN)
DV_SQLITE_FORWARD(const char*, sqlite3_errmsg, (sqlite3 * db), (db), kNoLibrary)
DV_SQLITE_FORWARD(const char*, sqlite3_errstr, (int code), (code), kNoLibrary)
