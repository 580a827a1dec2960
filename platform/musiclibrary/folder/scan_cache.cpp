#include "scan_cache.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "folders.h"
#include "log.h"
#include "sqlite_ptr.h"

namespace kestrane::musiclibrary {

namespace {

constexpr int kSchemaVersion = 1;

// A bijection on 64-bit numbers (the splitmix64 finaliser): distinct track numbers give
// distinct persistent IDs.
std::uint64_t mix(std::uint64_t x) {
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}


void putNumber(std::string& out, std::uint32_t n) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((n >> (8 * i)) & 0xff));
}

bool takeNumber(std::string_view& in, std::uint32_t& n) {
    if (in.size() < 4) return false;
    n = 0;
    for (int i = 0; i < 4; ++i) n |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[static_cast<std::size_t>(i)])) << (8 * i);
    in.remove_prefix(4);
    return true;
}

bool takeText(std::string_view& in, std::string& text) {
    std::uint32_t n = 0;
    if (!takeNumber(in, n) || in.size() < n) return false;
    text.assign(in.substr(0, n));
    in.remove_prefix(n);
    return true;
}

}  // namespace

struct ScanCache::Db {
    DatabasePtr connection;
    sqlite3* handle() const { return connection.get(); }
    bool exec(const char* sql) { return sqlite3_exec(handle(), sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
    // The first column of the first row; none without a row.
    std::optional<std::int64_t> integer(const char* sql) {
        const StatementPtr s = prepare(handle(), sql);
        if (!s || sqlite3_step(s.get()) != SQLITE_ROW) return std::nullopt;
        return sqlite3_column_int64(s.get(), 0);
    }
};

std::string encodeValues(const TrackValues& values) {
    std::string out;
    for (const TrackValue& v : values) {
        out.push_back(static_cast<char>(v.kind));
        putNumber(out, static_cast<std::uint32_t>(v.key.size()));
        out += v.key;
        putNumber(out, static_cast<std::uint32_t>(v.text.size()));
        out += v.text;
    }
    return out;
}

std::optional<TrackValues> decodeValues(std::string_view in) {
    TrackValues values;
    while (!in.empty()) {
        TrackValue v;
        const auto kind = static_cast<unsigned char>(in[0]);
        if (kind > static_cast<unsigned char>(ValueKind::boolean)) return std::nullopt;
        v.kind = static_cast<ValueKind>(kind);
        in.remove_prefix(1);
        if (!takeText(in, v.key) || !takeText(in, v.text)) return std::nullopt;
        values.push_back(std::move(v));
    }
    return values;
}

std::string ScanCache::pathFor(const std::string& folder) {
    const std::string base = folders::folderPath(folders::Folder::caches, folders::Domain::user).value_or("/tmp");
    char name[64];
    std::snprintf(name, sizeof name, "/kestrane/scan-%016llx.sqlite", static_cast<unsigned long long>(stableHash(folder)));
    return base + name;
}

std::unique_ptr<ScanCache> ScanCache::open(const std::string& folder) {
    const std::string path = pathFor(folder);
    const std::string dir = path.substr(0, path.find_last_of('/'));
    mkdir(dir.substr(0, dir.find_last_of('/')).c_str(), 0700);
    mkdir(dir.c_str(), 0700);

    auto attempt = [&path]() -> std::unique_ptr<Db> {
        auto db = std::make_unique<Db>();
        sqlite3* opened = nullptr;
        const int status = sqlite3_open_v2(path.c_str(), &opened, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        db->connection.reset(opened);  // even a failed open leaves a connection to close
        if (status != SQLITE_OK) return nullptr;
        sqlite3_busy_timeout(db->handle(), 5000);
        return db;
    };
    auto prepared = [](Db& db, std::string& problem) {
        const std::int64_t version = db.integer("PRAGMA user_version").value_or(-1);
        if (version < 0) {
            problem = "is not a database";
            return false;
        }
        if (version != 0 && version != kSchemaVersion) {
            problem = "is of another version (" + std::to_string(version) + ")";
            return false;
        }
        if (version == 0) {
            const std::string create =
                "PRAGMA journal_mode=WAL;"
                "CREATE TABLE IF NOT EXISTS files(path TEXT PRIMARY KEY, size INTEGER, modified INTEGER, track_id INTEGER,"
                " persistent_id INTEGER, date_added REAL, fields BLOB);"
                "CREATE TABLE IF NOT EXISTS counters(name TEXT PRIMARY KEY, value INTEGER);"
                "INSERT OR IGNORE INTO counters VALUES('next_track_id', 1);"
                "INSERT OR IGNORE INTO counters VALUES('salt', " +
                std::to_string(static_cast<std::int64_t>(std::random_device{}() * 4294967296ull + std::random_device{}())) + ");"
                "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
            if (!db.exec(create.c_str())) {
                problem = std::string("cannot be set up: ") + sqlite3_errmsg(db.handle());
                return false;
            }
        }
        return db.integer("SELECT count(*) FROM files").has_value();
    };

    std::unique_ptr<Db> db = attempt();
    std::string problem = "cannot be opened";
    if (!db || !prepared(*db, problem)) {
        logLine("The scan cache " + path + " " + problem + "; it is made anew from the music folder.");
        db.reset();
        for (const char* suffix : {"", "-wal", "-shm"}) unlink((path + suffix).c_str());
        db = attempt();
        if (!db || !prepared(*db, problem)) return nullptr;
    }
    return std::make_unique<ScanCache>(std::move(db));
}

ScanCache::ScanCache(std::unique_ptr<Db> db) : db_(std::move(db)) {
    salt_ = static_cast<std::uint64_t>(db_->integer("SELECT value FROM counters WHERE name='salt'").value_or(0));
}

std::uint64_t stableHash(std::string_view text) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ull;
    return h;
}

std::uint64_t persistentIdFor(std::int64_t trackId, std::uint64_t salt) {
    return mix(static_cast<std::uint64_t>(trackId) ^ salt);
}
ScanCache::~ScanCache() = default;

std::unordered_map<std::string, CachedFile> ScanCache::files() {
    std::unordered_map<std::string, CachedFile> out;
    const StatementPtr statement = prepare(db_->handle(), "SELECT path, size, modified, track_id, persistent_id, date_added, fields FROM files");
    if (!statement) return out;
    sqlite3_stmt* s = statement.get();
    while (sqlite3_step(s) == SQLITE_ROW) {
        CachedFile f;
        f.size = sqlite3_column_int64(s, 1);
        f.modified = sqlite3_column_int64(s, 2);
        f.trackId = sqlite3_column_int64(s, 3);
        f.persistentId = static_cast<std::uint64_t>(sqlite3_column_int64(s, 4));
        f.dateAdded = sqlite3_column_double(s, 5);
        const auto* blob = static_cast<const char*>(sqlite3_column_blob(s, 6));
        auto values = decodeValues(std::string_view(blob != nullptr ? blob : "", static_cast<std::size_t>(sqlite3_column_bytes(s, 6))));
        if (!values) continue;  // a damaged row: the file is read again
        f.values = std::move(*values);
        out.emplace(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), std::move(f));
    }
    return out;
}

std::optional<std::int64_t> ScanCache::reserveTrackIds(std::int64_t count) {
    // Read and advance the counter in one transaction, so that no other scan takes the same
    // numbers; any failure (a busy or full database, a counter that is gone) gives none.
    if (!db_->exec("BEGIN IMMEDIATE")) return std::nullopt;
    const std::optional<std::int64_t> first = db_->integer("SELECT value FROM counters WHERE name='next_track_id'");
    const std::string sql = "UPDATE counters SET value = value + " + std::to_string(count) + " WHERE name='next_track_id'";
    if (!first || *first <= 0 || !db_->exec(sql.c_str()) || sqlite3_changes(db_->handle()) != 1 || !db_->exec("COMMIT")) {
        db_->exec("ROLLBACK");
        return std::nullopt;
    }
    return first;
}

std::uint64_t ScanCache::persistentIdOf(std::int64_t trackId) const { return persistentIdFor(trackId, salt_); }

bool ScanCache::store(const std::unordered_map<std::string, CachedFile>& files) {
    if (!db_->exec("BEGIN IMMEDIATE")) return false;
    bool ok = db_->exec("DELETE FROM files");
    const StatementPtr statement = ok ? prepare(db_->handle(), "INSERT INTO files VALUES(?, ?, ?, ?, ?, ?, ?)") : nullptr;
    ok = ok && statement != nullptr;
    sqlite3_stmt* s = statement.get();
    for (auto it = files.begin(); ok && it != files.end(); ++it) {
        const CachedFile& f = it->second;
        const std::string blob = encodeValues(f.values);
        sqlite3_bind_text(s, 1, it->first.data(), static_cast<int>(it->first.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(s, 2, f.size);
        sqlite3_bind_int64(s, 3, f.modified);
        sqlite3_bind_int64(s, 4, f.trackId);
        sqlite3_bind_int64(s, 5, static_cast<std::int64_t>(f.persistentId));
        sqlite3_bind_double(s, 6, f.dateAdded);
        sqlite3_bind_blob(s, 7, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
        ok = sqlite3_step(s) == SQLITE_DONE;
        sqlite3_reset(s);
    }
    if (!ok) {
        db_->exec("ROLLBACK");
        return false;
    }
    return db_->exec("COMMIT");
}

}  // namespace kestrane::musiclibrary
