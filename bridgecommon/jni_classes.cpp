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

jmethodID JavaMethod::get(JNIEnv* env) const {
    if (jmethodID cached = method_.load(std::memory_order_acquire)) return cached;
    const jclass cls = owner_.get(env);
    if (cls == nullptr) return nullptr;
    const jmethodID found = kind_ == Kind::staticMethod ? env->GetStaticMethodID(cls, name_, signature_)
                                                       : env->GetMethodID(cls, name_, signature_);
    // Every thread finds the same ID, so a race between two first calls stores it twice.
    if (found != nullptr) method_.store(found, std::memory_order_release);
    return found;
}

jfieldID PeerPointer::lookUp(JNIEnv* env, jobject peer) const {
    LocalRef<jclass> cls(env, env->GetObjectClass(peer));
    const jfieldID field = env->GetFieldID(cls.get(), "pointer", "J");
    if (field != nullptr) field_.store(field, std::memory_order_release);
    return field;
}

}  // namespace kestrane::jni
