#include "catalog_handles.h"

#include <cmath>

namespace kestrane::catalog {

jlong handleOf(ml::Object* object) {
    if (object == nullptr) return 0;
    return jni::toJava(ml::handOut(object)->handle());
}

jlong millisecondsOf(std::optional<double> seconds) {
    if (!seconds) return 0;
    const double ms = *seconds * 1000.0;
    if (!(std::fabs(ms) < 9.2e18)) return 0;
    return static_cast<jlong>(ms);  // toward zero
}

}  // namespace kestrane::catalog
