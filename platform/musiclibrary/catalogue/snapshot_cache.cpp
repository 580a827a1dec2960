#include "snapshot_cache.h"

#include <sys/stat.h>

#include <mutex>
#include <unordered_map>

#include "loader.h"
#include "no_destructor.h"

namespace kestrane::musiclibrary {

namespace {

struct Cache {
    std::mutex mutex;
    std::unordered_map<std::string, const Snapshot*> byPath;  // no references held
};

// Never destroyed: snapshots may still be released by threads that outlive static destructors.
Cache& cache() {
    static NoDestructor<Cache> instance;
    return instance.get();
}

std::optional<FileIdentity> identityOfPath(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return identityOf(st);
}

// The last release of a shared snapshot withdraws it here, before it goes.
void forgetSharedSnapshot(const Snapshot* snapshot) {
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    const auto it = c.byPath.find(snapshot->path);
    if (it != c.byPath.end() && it->second == snapshot) c.byPath.erase(it);
}

}  // namespace

Expected<SnapshotRef> loadSharedSnapshot(const std::string& path, const SnapshotPreparation& prepare) {
    Cache& c = cache();
    if (const std::optional<FileIdentity> now = identityOfPath(path)) {
        std::lock_guard lock(c.mutex);
        const auto it = c.byPath.find(path);
        if (it != c.byPath.end() && it->second->file == now && it->second->tryRetain()) return SnapshotRef(it->second);
    }
    Expected<SnapshotRef> fresh = loadSnapshot(path, prepare);
    if (!fresh || !fresh->get()->file) return fresh;
    Snapshot* snapshot = const_cast<Snapshot*>(fresh->get());  // not yet seen by anyone else
    snapshot->withdraw = &forgetSharedSnapshot;
    std::lock_guard lock(c.mutex);
    c.byPath[path] = snapshot;  // a newer read replaces an older one
    return fresh;
}

}  // namespace kestrane::musiclibrary
