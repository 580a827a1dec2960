#include "scan_cache.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <thread>
#include <unordered_set>

#include "folders.h"
#include "log.h"
#include "sqlite_ptr.h"
#include "url.h"

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
    std::string path;
    sqlite3* handle() const { return connection.get(); }
    bool exec(const char* sql) { return sqlite3_exec(handle(), sql, nullptr, nullptr, nullptr) == SQLITE_OK; }
    // The first column of the first row when it is an integer; none otherwise.
    std::optional<std::int64_t> integer(const char* sql) {
        const StatementPtr s = prepare(handle(), sql);
        if (!s || sqlite3_step(s.get()) != SQLITE_ROW || sqlite3_column_type(s.get(), 0) != SQLITE_INTEGER) return std::nullopt;
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

namespace {

void makeCacheFolder(const std::string& path) {
    const std::string dir = path.substr(0, path.find_last_of('/'));
    mkdir(dir.substr(0, dir.find_last_of('/')).c_str(), 0700);
    mkdir(dir.c_str(), 0700);
}

constexpr const char* kColumns = "path,size,modified,track_id,persistent_id,date_added,fields";

std::int64_t randomSalt() {
    std::random_device random;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(random()) << 32) | random()) | 1;
}

std::unique_ptr<ScanCache::Db> connect(const std::string& path, int flags, int& status) {
    auto db = std::make_unique<ScanCache::Db>();
    db->path = path;
    sqlite3* opened = nullptr;
    status = sqlite3_open_v2(path.c_str(), &opened, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    db->connection.reset(opened);  // even a failed open leaves a connection to close
    if (status != SQLITE_OK) return nullptr;
    sqlite3_busy_timeout(db->handle(), 5000);
    // The cache keeps a write-ahead log, where commits that skip the flush to disk still leave
    // the database whole: a power cut may lose the last scan's writes, never the cache. A first
    // scan of a large folder so waits for no disk.
    sqlite3_exec(db->handle(), "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    return db;
}

// The names of a table's columns, joined by commas; "" for no such table.
std::string columnsOf(ScanCache::Db& db, const char* table) {
    const StatementPtr s = prepare(db.handle(), (std::string("PRAGMA table_info(") + table + ")").c_str());
    std::string names;
    while (s && sqlite3_step(s.get()) == SQLITE_ROW) {
        const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 1));
        if (!names.empty()) names += ',';
        names += name != nullptr ? name : "";
    }
    return names;
}

// The track and persistent IDs and dates a database of any layout still holds, each row
// checked as files() checks it; the rest is lost.
struct Salvage {
    std::vector<std::pair<std::string, CachedFile>> rows;
    std::optional<std::int64_t> salt;
};

Salvage salvage(ScanCache::Db& db) {
    Salvage out;
    out.salt = db.integer("SELECT value FROM counters WHERE name='salt'");
    if (out.salt && *out.salt == 0) out.salt.reset();
    const StatementPtr s = prepare(db.handle(), "SELECT path, track_id, persistent_id, date_added FROM files ORDER BY rowid");
    std::set<std::int64_t> trackIds;
    std::set<std::int64_t> persistentIds;
    while (s && sqlite3_step(s.get()) == SQLITE_ROW) {
        sqlite3_stmt* r = s.get();
        if (sqlite3_column_type(r, 0) != SQLITE_TEXT || sqlite3_column_type(r, 1) != SQLITE_INTEGER ||
            sqlite3_column_type(r, 2) != SQLITE_INTEGER) continue;
        const std::int64_t id = sqlite3_column_int64(r, 1), persistent = sqlite3_column_int64(r, 2);
        if (id <= 0 || id >= std::numeric_limits<std::int64_t>::max() / 2 || persistent == 0 ||
            !trackIds.insert(id).second || !persistentIds.insert(persistent).second) continue;
        CachedFile f;
        f.size = f.modified = -1;  // read again: only the IDs are trusted
        f.trackId = id;
        f.persistentId = static_cast<std::uint64_t>(persistent);
        const int dateType = sqlite3_column_type(r, 3);
        f.dateAdded = dateType == SQLITE_FLOAT || dateType == SQLITE_INTEGER ? sqlite3_column_double(r, 3) : -1;
        out.rows.emplace_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(r, 0)),
                                          static_cast<std::size_t>(sqlite3_column_bytes(r, 0))),
                              std::move(f));
    }
    return out;
}

// Makes db the current layout holding what was salvaged, as one transaction.
bool rebuild(ScanCache::Db& db, const Salvage& kept) {
    std::vector<std::string> tables;
    {
        const StatementPtr s = prepare(db.handle(), "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%'");
        while (s && sqlite3_step(s.get()) == SQLITE_ROW) tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0)));
    }
    if (!db.exec("BEGIN IMMEDIATE")) return false;
    bool ok = true;
    for (const std::string& table : tables) {
        std::string quoted = "\"";
        for (char c : table) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        ok = ok && db.exec(("DROP TABLE " + quoted + "\"").c_str());
    }
    std::int64_t next = 1;
    for (const auto& [path, f] : kept.rows) next = std::max(next, f.trackId + 1);
    const std::string create =
        "CREATE TABLE files(path TEXT PRIMARY KEY, size INTEGER, modified INTEGER, track_id INTEGER,"
        " persistent_id INTEGER, date_added REAL, fields BLOB);"
        "CREATE TABLE counters(name TEXT PRIMARY KEY, value INTEGER);"
        "INSERT INTO counters VALUES('next_track_id', " + std::to_string(next) + ");"
        "INSERT INTO counters VALUES('salt', " + std::to_string(kept.salt.value_or(randomSalt())) + ");"
        "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
    ok = ok && db.exec(create.c_str());
    const StatementPtr insert = ok ? prepare(db.handle(), "INSERT INTO files VALUES(?, -1, -1, ?, ?, ?, x'')") : nullptr;
    ok = ok && insert != nullptr;
    for (auto it = kept.rows.begin(); ok && it != kept.rows.end(); ++it) {
        sqlite3_stmt* s = insert.get();
        sqlite3_bind_text(s, 1, it->first.data(), static_cast<int>(it->first.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(s, 2, it->second.trackId);
        sqlite3_bind_int64(s, 3, static_cast<std::int64_t>(it->second.persistentId));
        sqlite3_bind_double(s, 4, it->second.dateAdded);
        ok = sqlite3_step(s) == SQLITE_DONE;
        sqlite3_reset(s);
    }
    if (!ok || !db.exec("COMMIT")) {
        db.exec("ROLLBACK");
        return false;
    }
    return true;
}

// What is wrong with db's layout or counters; "" when nothing is, after making a new database
// (user_version 0, no tables) the current layout. notDatabase: the file is no database at all.
std::string problemOf(ScanCache::Db& db, bool& notDatabase) {
    notDatabase = false;
    const StatementPtr version = prepare(db.handle(), "PRAGMA user_version");
    if (!version || sqlite3_step(version.get()) != SQLITE_ROW) {
        const int code = sqlite3_extended_errcode(db.handle()) & 0xff;
        notDatabase = code == SQLITE_NOTADB || code == SQLITE_CORRUPT;
        return notDatabase ? "is not a database" : std::string("cannot be read (") + sqlite3_errmsg(db.handle()) + ")";
    }
    const std::int64_t v = sqlite3_column_int64(version.get(), 0);
    sqlite3_reset(version.get());  // a statement left running holds a read transaction open
    if (v == 0 && db.integer("SELECT count(*) FROM sqlite_master") == 0) {
        if (sqlite3_db_readonly(db.handle(), "main") == 1) return "";  // empty and read-only: nothing to read
        const std::string create =
            "PRAGMA journal_mode=WAL; BEGIN IMMEDIATE;"
            "CREATE TABLE IF NOT EXISTS files(path TEXT PRIMARY KEY, size INTEGER, modified INTEGER, track_id INTEGER,"
            " persistent_id INTEGER, date_added REAL, fields BLOB);"
            "CREATE TABLE IF NOT EXISTS counters(name TEXT PRIMARY KEY, value INTEGER);"
            "INSERT OR IGNORE INTO counters VALUES('next_track_id', 1);"
            "INSERT OR IGNORE INTO counters VALUES('salt', " + std::to_string(randomSalt()) + ");"
            "PRAGMA user_version=" + std::to_string(kSchemaVersion) + "; COMMIT;";
        if (!db.exec(create.c_str())) {
            std::string why = sqlite3_errmsg(db.handle());
            db.exec("ROLLBACK");
            return "cannot be set up (" + why + ")";
        }
        return "";
    }
    if (v != kSchemaVersion) return "is of another version (" + std::to_string(v) + ")";
    if (columnsOf(db, "files") != kColumns || columnsOf(db, "counters") != "name,value") return "has tables of another layout";
    // The counter must lie above every stored track ID, and the salt must be there: else new
    // files would take IDs that stored ones have.
    const auto next = db.integer("SELECT value FROM counters WHERE name='next_track_id'");
    const auto salt = db.integer("SELECT value FROM counters WHERE name='salt'");
    const auto highest = db.integer("SELECT coalesce(max(track_id), 0) FROM files WHERE typeof(track_id)='integer'");
    if (!next || !salt || *salt == 0 || !highest || *next <= *highest || *next <= 0) return "has damaged counters";
    return "";
}

}  // namespace

std::unique_ptr<ScanCache> ScanCache::open(const std::string& folder) {
    const std::string path = pathFor(folder);
    makeCacheFolder(path);

    int status = SQLITE_OK;
    std::unique_ptr<Db> db = connect(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, status);
    bool writable = db != nullptr && sqlite3_db_readonly(db->handle(), "main") == 0;
    bool notDatabase = false;
    std::string problem = db ? problemOf(*db, notDatabase) : std::string("cannot be opened (") + sqlite3_errstr(status) + ")";
    if ((!writable || problem.rfind("cannot", 0) == 0) && !notDatabase && access(path.c_str(), F_OK) == 0) {
        // A database this process cannot write (a read-only file or folder, a full disk): read
        // as it is, so that the files it knows keep their IDs (the scan says that new ones'
        // are provisional).
        std::unique_ptr<Db> readOnly = connect("file:" + url::percentEncode(path, "/") + "?immutable=1", SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, status);
        bool unused = false;
        if (readOnly && problemOf(*readOnly, unused).empty()) {
            const std::int64_t salt = readOnly->integer("SELECT value FROM counters WHERE name='salt'").value_or(0);
            auto cache = std::make_unique<ScanCache>(std::move(readOnly), static_cast<std::uint64_t>(salt), false);
            // SQLite's words, without ours around them.
            const std::size_t from = problem.find('('), to = problem.rfind(')');
            if (writable) cache->lastError_ = from < to ? problem.substr(from + 1, to - from - 1) : problem;
            return cache;
        }
    }
    if (!problem.empty() && db && !notDatabase && writable) {
        // Rebuilt once, keeping the IDs of every file that can still be read.
        const Salvage kept = salvage(*db);
        if (rebuild(*db, kept)) {
            logFormat("The scan cache %s %s; it is rebuilt, keeping the IDs of %zu files.", path.c_str(), problem.c_str(), kept.rows.size());
            problem.clear();
        }
    }
    if (!problem.empty()) {
        logLine("The scan cache " + path + " " + problem + "; it is made anew from the music folder.");
        db.reset();
        for (const char* suffix : {"", "-wal", "-shm"}) unlink((path + suffix).c_str());
        db = connect(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, status);
        writable = db != nullptr && sqlite3_db_readonly(db->handle(), "main") == 0;
        if (!db || !problemOf(*db, notDatabase).empty()) return nullptr;
    }
    const std::int64_t salt = db->integer("SELECT value FROM counters WHERE name='salt'").value_or(0);
    return std::make_unique<ScanCache>(std::move(db), static_cast<std::uint64_t>(salt), writable);
}

ScanCache::ScanCache(std::unique_ptr<Db> db, std::uint64_t salt, bool writable)
    : db_(std::move(db)), salt_(salt), writable_(writable), lastError_(writable ? "" : "it is read-only") {}

std::uint64_t stableHash(std::string_view text) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ull;
    return h;
}

std::uint64_t persistentIdFor(std::int64_t trackId, std::uint64_t salt) {
    return mix(static_cast<std::uint64_t>(trackId) ^ salt);
}
ScanCache::~ScanCache() = default;

CachedFiles ScanCache::select(const char* sql, const std::vector<std::string>* paths) {
    CachedFiles out;
    const StatementPtr statement = prepare(db_->handle(), sql);
    if (!statement) return out;
    // IDs at or above the counter were never handed out by it: a row holding one is damaged.
    const std::int64_t next = db_->integer("SELECT value FROM counters WHERE name='next_track_id'").value_or(std::numeric_limits<std::int64_t>::max());
    std::unordered_set<std::int64_t> trackIds;
    std::unordered_set<std::uint64_t> persistentIds;
    std::vector<std::int64_t> damaged;
    sqlite3_stmt* s = statement.get();
    const std::size_t rounds = paths != nullptr ? paths->size() : 1;
    for (std::size_t round = 0; round < rounds; ++round) {
        if (paths != nullptr) {
            sqlite3_reset(s);
            sqlite3_bind_text(s, 1, (*paths)[round].data(), static_cast<int>((*paths)[round].size()), SQLITE_STATIC);
        }
        while (sqlite3_step(s) == SQLITE_ROW) {
            const auto* path = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
            const std::int64_t trackId = sqlite3_column_int64(s, 3);
            const auto persistentId = static_cast<std::uint64_t>(sqlite3_column_int64(s, 4));
            if (sqlite3_column_type(s, 0) != SQLITE_TEXT || path == nullptr || *path == '\0' ||
                sqlite3_column_type(s, 3) != SQLITE_INTEGER || sqlite3_column_type(s, 4) != SQLITE_INTEGER ||
                trackId <= 0 || trackId >= next || persistentId == 0 ||
                !trackIds.insert(trackId).second || !persistentIds.insert(persistentId).second) {
                damaged.push_back(sqlite3_column_int64(s, 7));
                continue;
            }
            CachedFile f;
            f.trackId = trackId;
            f.persistentId = persistentId;
            const int dateType = sqlite3_column_type(s, 5);
            f.dateAdded = dateType == SQLITE_FLOAT || dateType == SQLITE_INTEGER ? sqlite3_column_double(s, 5) : -1;
            const int blobType = sqlite3_column_type(s, 6);
            const bool sound = sqlite3_column_type(s, 1) == SQLITE_INTEGER && sqlite3_column_type(s, 2) == SQLITE_INTEGER &&
                               (blobType == SQLITE_BLOB || blobType == SQLITE_NULL);
            const auto* blob = static_cast<const char*>(sqlite3_column_blob(s, 6));
            auto values = sound ? decodeValues(std::string_view(blob != nullptr ? blob : "", static_cast<std::size_t>(sqlite3_column_bytes(s, 6))))
                                : std::nullopt;
            if (values) {
                f.size = sqlite3_column_int64(s, 1);
                f.modified = sqlite3_column_int64(s, 2);
                f.values = std::move(*values);
            } else {
                f.size = f.modified = -1;  // the IDs stay; the file is read again
            }
            out.emplace(std::string(path, static_cast<std::size_t>(sqlite3_column_bytes(s, 0))), std::move(f));
        }
    }
    if (!damaged.empty()) {
        logFormat("The scan cache %s has %zu damaged rows; their files are read again and take new IDs.", db_->path.c_str(), damaged.size());
        // Removed, so that the repair happens once and the rows' IDs go to no file later.
        const StatementPtr erase = writable_ ? prepare(db_->handle(), "DELETE FROM files WHERE rowid = ?") : nullptr;
        for (const std::int64_t row : damaged) {
            if (!erase) break;
            sqlite3_bind_int64(erase.get(), 1, row);
            sqlite3_step(erase.get());
            sqlite3_reset(erase.get());
        }
    }
    return out;
}

CachedFiles ScanCache::files() {
    return select("SELECT path, size, modified, track_id, persistent_id, date_added, fields, rowid FROM files ORDER BY rowid", nullptr);
}

CachedFiles ScanCache::filesAt(const std::vector<std::string>& paths) {
    if (paths.empty()) return {};
    return select("SELECT path, size, modified, track_id, persistent_id, date_added, fields, rowid FROM files WHERE path = ?", &paths);
}

std::optional<std::int64_t> ScanCache::reserveTrackIds(std::int64_t count) {
    // Read and advance the counter in one transaction, so that no other scan takes the same
    // numbers; any failure (a busy or full database) gives none.
    if (!writable_) return std::nullopt;  // lastError_ says why since the open
    if (!db_->exec("BEGIN IMMEDIATE")) {
        lastError_ = sqlite3_errmsg(db_->handle());
        return std::nullopt;
    }
    const std::optional<std::int64_t> first = db_->integer("SELECT value FROM counters WHERE name='next_track_id'");
    const std::string sql = "UPDATE counters SET value = value + " + std::to_string(count) + " WHERE name='next_track_id'";
    if (!first || *first <= 0 || !db_->exec(sql.c_str()) || sqlite3_changes(db_->handle()) != 1 || !db_->exec("COMMIT")) {
        lastError_ = sqlite3_errmsg(db_->handle());
        db_->exec("ROLLBACK");
        return std::nullopt;
    }
    return first;
}

std::uint64_t ScanCache::persistentIdOf(std::int64_t trackId) const { return persistentIdFor(trackId, salt_); }

bool ScanCache::store(const CachedFiles& files, const std::vector<std::string>& changed, const std::vector<std::string>& removed) {
    if (!writable_) return false;
    if (!db_->exec("BEGIN IMMEDIATE")) {
        lastError_ = sqlite3_errmsg(db_->handle());
        return false;
    }
    const StatementPtr insert = prepare(db_->handle(), "INSERT OR REPLACE INTO files VALUES(?, ?, ?, ?, ?, ?, ?)");
    const StatementPtr erase = prepare(db_->handle(), "DELETE FROM files WHERE path = ?");
    bool ok = insert != nullptr && erase != nullptr;
    for (auto it = removed.begin(); ok && it != removed.end(); ++it) {
        sqlite3_bind_text(erase.get(), 1, it->data(), static_cast<int>(it->size()), SQLITE_STATIC);
        ok = sqlite3_step(erase.get()) == SQLITE_DONE;
        sqlite3_reset(erase.get());
    }
    sqlite3_stmt* s = insert.get();
    for (auto it = changed.begin(); ok && it != changed.end(); ++it) {
        const auto found = files.find(*it);
        if (found == files.end()) continue;
        const CachedFile& f = found->second;
        const std::string blob = encodeValues(f.values);
        sqlite3_bind_text(s, 1, it->data(), static_cast<int>(it->size()), SQLITE_STATIC);
        sqlite3_bind_int64(s, 2, f.size);
        sqlite3_bind_int64(s, 3, f.modified);
        sqlite3_bind_int64(s, 4, f.trackId);
        sqlite3_bind_int64(s, 5, static_cast<std::int64_t>(f.persistentId));
        sqlite3_bind_double(s, 6, f.dateAdded);
        sqlite3_bind_blob(s, 7, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
        ok = sqlite3_step(s) == SQLITE_DONE;
        sqlite3_reset(s);
    }
    if (!ok || !db_->exec("COMMIT")) {
        lastError_ = sqlite3_errmsg(db_->handle());
        db_->exec("ROLLBACK");
        return false;
    }
    return true;
}

ScanLock::ScanLock(const std::string& folder, int timeoutMs) {
    const std::string path = ScanCache::pathFor(folder);
    makeCacheFolder(path);
    fd_.reset(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd_) return;
    for (int waited = 0; flock(fd_.get(), LOCK_EX | LOCK_NB) != 0; waited += 20) {
        if (errno != EWOULDBLOCK || waited >= timeoutMs) {
            fd_.reset();  // scan without the lock rather than not at all
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace kestrane::musiclibrary
