// Owning holders for SQLite's database connections and prepared statements, released when the
// holder goes (sqlite3_close_v2, sqlite3_finalize).
#pragma once

#include <sqlite3.h>

#include <memory>

namespace kestrane::musiclibrary {

struct CloseDatabase {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DatabasePtr = std::unique_ptr<sqlite3, CloseDatabase>;

struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// A prepared statement of sql on db; null when it cannot be prepared.
inline StatementPtr prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);  // null, or what a failed prepare left
        return nullptr;
    }
    return StatementPtr(statement);
}

}  // namespace kestrane::musiclibrary
