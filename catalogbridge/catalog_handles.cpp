#include "catalog_handles.h"

#include <cmath>

namespace kestrane::catalog {

jlong handleOf(ml::Object* object) {
    if (object == nullptr) return 0;
    return jni::toJava(ml::handOut(object)->handle());
}

jlong toPersistentId(std::optional<std::uint64_t> raw) {
    const std::uint64_t v = raw.value_or(0);
    if (v == 0) return 0;
    return static_cast<jlong>(v ^ (std::uint64_t{1} << 63));
}

jlong millisecondsOf(std::optional<double> seconds) {
    if (!seconds) return 0;
    const double ms = *seconds * 1000.0;
    if (!(std::fabs(ms) < 9.2e18)) return 0;
    return static_cast<jlong>(ms);  // toward zero
}

}  // namespace kestrane::catalog
