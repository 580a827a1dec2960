#include "tag_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "audio_stream.h"

namespace kestrane::audiofile {

namespace {
constexpr std::int64_t kHead = 256 * 1024;
constexpr std::int64_t kTail = 64 * 1024;
// What one read loads at least: the tags and stream headers of most files.
constexpr std::int64_t kChunk = 16 * 1024;
}  // namespace

TagStream::TagStream(const std::string& path) : path_(path) {
    Expected<UniqueFd> fd = openRegularFile(path, &size_, &modified_);
    if (!fd) return;
    fd_ = std::move(fd).value();
    headSpan_ = std::min(size_, kHead);
    tailStart_ = std::max<std::int64_t>(0, size_ - kTail);
    tailLoaded_ = size_;
    head_ = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(headSpan_));
    tail_ = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(size_ - tailStart_));
    // An unreadable file (a directory's descriptor would have failed above; an I/O error
    // here) is not open.
    if (!loadHead(std::min(size_, kChunk))) fd_.reset();
}

bool TagStream::readAt(std::int64_t offset, char* into, std::int64_t n) {
    std::int64_t done = 0;
    while (done < n) {
        const ssize_t got = pread(fd_.get(), into + done, static_cast<std::size_t>(n - done), offset + done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += got;
    }
    return true;
}

bool TagStream::loadHead(std::int64_t end) {
    if (end <= headLoaded_) return true;
    end = std::min(headSpan_, std::max({end, headLoaded_ + kChunk, headLoaded_ * 2}));
    if (!readAt(headLoaded_, head_.get() + headLoaded_, end - headLoaded_)) return false;
    headLoaded_ = end;
    return true;
}

bool TagStream::loadTail(std::int64_t from) {
    if (from >= tailLoaded_) return true;
    from = std::max(tailStart_, std::min({from, tailLoaded_ - kChunk, tailLoaded_ - (size_ - tailLoaded_)}));
    if (!readAt(from, tail_.get() + (from - tailStart_), tailLoaded_ - from)) return false;
    tailLoaded_ = from;
    return true;
}

std::optional<std::string_view> TagStream::bytesAt(std::int64_t offset, std::size_t n) {
    const std::int64_t end = offset + static_cast<std::int64_t>(n);
    if (!fd_ || offset < 0 || end > size_) return std::nullopt;
    // Bytes the head holds already, else the tail (a read near the end of a small file need not
    // load all the file before it), else the head again.
    if (end <= headLoaded_) return std::string_view(head_.get() + offset, n);
    if (offset >= tailStart_ && loadTail(offset)) return std::string_view(tail_.get() + (offset - tailStart_), n);
    if (end <= headSpan_ && loadHead(end)) return std::string_view(head_.get() + offset, n);
    return std::nullopt;
}

TagLib::ByteVector TagStream::readBlock(unsigned long length) {
    const std::int64_t n = std::min<std::int64_t>(static_cast<std::int64_t>(std::min<unsigned long>(length, 1ul << 30)), size_ - position_);
    if (n <= 0 || !fd_) return TagLib::ByteVector();
    TagLib::ByteVector block(static_cast<unsigned>(n), '\0');
    std::int64_t done = 0;
    while (done < n) {
        const std::int64_t at = position_ + done;
        std::int64_t piece = 0;
        if (at < headLoaded_) {
            piece = std::min(n - done, headLoaded_ - at);
            std::memcpy(block.data() + done, head_.get() + at, static_cast<std::size_t>(piece));
        } else if (at >= tailStart_ && loadTail(at)) {
            piece = std::min(n - done, size_ - at);
            std::memcpy(block.data() + done, tail_.get() + (at - tailStart_), static_cast<std::size_t>(piece));
        } else if (at < headSpan_ && loadHead(std::min(headSpan_, position_ + n))) {
            piece = std::min(n - done, headLoaded_ - at);
            std::memcpy(block.data() + done, head_.get() + at, static_cast<std::size_t>(piece));
        } else if (at >= headSpan_ && at < tailStart_) {
            piece = std::min({n - done, tailStart_ - at, kBudget - spent_});
            if (piece <= 0) break;  // the budget is spent: the file reads as ended here
            const ssize_t got = pread(fd_.get(), block.data() + done, static_cast<std::size_t>(piece), at);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            piece = got;
            spent_ += got;
        } else {
            break;  // the file ended early (cut while open)
        }
        done += piece;
    }
    block.resize(static_cast<unsigned>(done));
    position_ += done;
    return block;
}

void TagStream::seek(long offset, Position from) {
    const std::int64_t base = from == Beginning ? 0 : from == Current ? position_ : size_;
    position_ = std::clamp<std::int64_t>(base + offset, 0, size_);
}

}  // namespace kestrane::audiofile
