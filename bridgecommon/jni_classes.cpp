#include "jni_classes.h"

#include "jni_scoped.h"

namespace kestrane::jni {

jclass JavaClass::get(JNIEnv* env) const {
    if (jclass cached = class_.load(std::memory_order_acquire)) return cached;
    LocalRef<jclass> local(env, env->FindClass(name_));
    if (!local) return nullptr;
    auto global = static_cast<jclass>(env->NewGlobalRef(local.get()));
    if (global == nullptr) return nullptr;  // OutOfMemoryError pending
    jclass expected = nullptr;
    if (!class_.compare_exchange_strong(expected, global, std::memory_order_acq_rel)) {
        env->DeleteGlobalRef(global);  // another thread was first; keep its reference
        return expected;
    }
    return global;
}

jfieldID PeerPointer::lookUp(JNIEnv* env, jobject peer) const {
    LocalRef<jclass> cls(env, env->GetObjectClass(peer));
    const jfieldID field = env->GetFieldID(cls.get(), "pointer", "J");
    if (field != nullptr) field_.store(field, std::memory_order_release);
    return field;
}

}  // namespace kestrane::jni
