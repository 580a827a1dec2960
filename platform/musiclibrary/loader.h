// Loading the library file into a snapshot: one streaming pass of the property-list reader,
// then the steps that tie the tracks together (artists, albums, the persistent-ID index,
// playlists).
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "expected.h"
#include "snapshot.h"

namespace kestrane::musiclibrary {

// Why a load failed.
constexpr int kUnreadable = 2;   // the file cannot be opened or read, or is a folder
constexpr int kNotALibrary = 3;  // not a property list of a library (message with line and column)

// One reference to a snapshot, given back when the holder goes (transfer full in and out).
class SnapshotRef {
public:
    SnapshotRef() = default;
    // Adopts a reference the caller holds.
    explicit SnapshotRef(const Snapshot* adopted) : snapshot_(adopted) {}
    SnapshotRef(SnapshotRef&& other) noexcept : snapshot_(std::exchange(other.snapshot_, nullptr)) {}
    SnapshotRef& operator=(SnapshotRef&& other) noexcept {
        if (this != &other) {
            reset();
            snapshot_ = std::exchange(other.snapshot_, nullptr);
        }
        return *this;
    }
    SnapshotRef(const SnapshotRef&) = delete;
    SnapshotRef& operator=(const SnapshotRef&) = delete;
    ~SnapshotRef() { reset(); }

    // A new reference to the same snapshot.
    SnapshotRef share() const {
        if (snapshot_ != nullptr) snapshot_->retain();
        return SnapshotRef(snapshot_);
    }
    void reset() {
        if (snapshot_ != nullptr) snapshot_->release();
        snapshot_ = nullptr;
    }

    const Snapshot* get() const { return snapshot_; }
    const Snapshot* operator->() const { return snapshot_; }
    explicit operator bool() const { return snapshot_ != nullptr; }

private:
    const Snapshot* snapshot_ = nullptr;
};

// Loads the library file at path.
Expected<SnapshotRef> loadSnapshot(const std::string& path);

// Parses library-file bytes (for tests and fuzzing); errors as for loadSnapshot, without the
// file's name.
Expected<SnapshotRef> parseSnapshot(std::string_view bytes);

}  // namespace kestrane::musiclibrary
