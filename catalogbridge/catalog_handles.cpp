#include "catalog_handles.h"

#include <cmath>

namespace kestrane::catalog {

jlong handleOf(ml::Object* object) {
    return jni::toHandle(ml::handOut(object));
}

jlong toPersistentId(std::optional<std::uint64_t> raw) {
    const std::uint64_t v = raw.value_or(0);
    if (v == 0) return 0;
    return static_cast<jlong>(v ^ (std::uint64_t{1} << 63));
}

std::uint64_t* PersistentIdArray::room(std::size_t n) {
    array_ = env_->NewLongArray(static_cast<jsize>(n));
    if (array_ == nullptr) return nullptr;  // OutOfMemoryError pending
    count_ = n;
    elements_.emplace(env_, array_);
    // jlong and std::uint64_t are a signed and unsigned pair of one size: the array's memory
    // takes the raw IDs as they are.
    return reinterpret_cast<std::uint64_t*>(elements_->data());
}

jlongArray PersistentIdArray::finish() {
    if (elements_ && elements_->data() != nullptr) {
        jlong* ids = elements_->data();
        for (std::size_t i = 0; i < count_; ++i) ids[i] = toPersistentId(static_cast<std::uint64_t>(ids[i]));
    }
    elements_.reset();
    if (array_ == nullptr && !env_->ExceptionCheck()) return env_->NewLongArray(0);
    return array_;
}

jlong millisecondsOf(std::optional<double> seconds) {
    if (!seconds) return 0;
    const double ms = *seconds * 1000.0;
    if (!(std::fabs(ms) < 9.2e18)) return 0;
    return static_cast<jlong>(ms);  // toward zero
}

}  // namespace kestrane::catalog
