#include "handles.h"

#include <cmath>

#include "jni_scoped.h"

jlong getPointer(JNIEnv* env, jobject object) {
    kestrane::jni::LocalRef<jclass> cls(env, env->GetObjectClass(object));
    const jfieldID field = env->GetFieldID(cls.get(), "pointer", "J");
    if (field == nullptr) return 0;
    return env->GetLongField(object, field);
}

jlong toPersistentId(std::optional<std::uint64_t> raw) {
    const std::uint64_t v = raw.value_or(0);
    if (v == 0) return 0;
    return static_cast<jlong>(v ^ (std::uint64_t{1} << 63));
}

namespace kestrane::catalog {

jlong handleOf(ml::Object* object) {
    return static_cast<jlong>(reinterpret_cast<std::uintptr_t>(ml::handOut(object)));
}

jlong millisecondsOf(std::optional<double> seconds) {
    if (!seconds) return 0;
    const double ms = *seconds * 1000.0;
    if (!(std::fabs(ms) < 9.2e18)) return 0;
    return static_cast<jlong>(ms);  // toward zero
}

}  // namespace kestrane::catalog
