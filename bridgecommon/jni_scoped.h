// Small RAII holders for JNI resources, so that no exit path of an export leaks a local
// reference or forgets a Release call. Each is move-only and releases in its destructor.
#pragma once

#include <jni.h>

#include <cstddef>
#include <utility>

namespace kestrane::jni {

// A JNI local reference, deleted when the holder goes out of scope.
template <class T = jobject>
class LocalRef {
public:
    LocalRef() = default;
    LocalRef(JNIEnv* env, T ref) : env_(env), ref_(ref) {}
    LocalRef(LocalRef&& other) noexcept : env_(other.env_), ref_(std::exchange(other.ref_, nullptr)) {}
    LocalRef& operator=(LocalRef&& other) noexcept {
        if (this != &other) {
            reset();
            env_ = other.env_;
            ref_ = std::exchange(other.ref_, nullptr);
        }
        return *this;
    }
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    ~LocalRef() { reset(); }

    T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }

    // Hands the reference to the caller (transfer full), typically as an export's result.
    T release() { return std::exchange(ref_, nullptr); }

    void reset() {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
        ref_ = nullptr;
    }

private:
    JNIEnv* env_ = nullptr;
    T ref_ = nullptr;
};

// The UTF-16 units of a Java string, pinned or copied by the VM between construction and
// destruction (GetStringChars / ReleaseStringChars). The string must not be null.
class StringChars {
public:
    StringChars(JNIEnv* env, jstring string)
        : env_(env), string_(string), chars_(env->GetStringChars(string, nullptr)),
          length_(chars_ != nullptr ? static_cast<std::size_t>(env->GetStringLength(string)) : 0) {}
    StringChars(const StringChars&) = delete;
    StringChars& operator=(const StringChars&) = delete;
    ~StringChars() {
        if (chars_ != nullptr) env_->ReleaseStringChars(string_, chars_);
    }

    // Null when the VM could not provide the units (an OutOfMemoryError is then pending).
    const jchar* data() const { return chars_; }
    std::size_t size() const { return length_; }

private:
    JNIEnv* env_;
    jstring string_;
    const jchar* chars_;
    std::size_t length_;
};

// Access to the elements of a primitive Java array. Release mode 0 (the default) copies
// native changes back; JNI_ABORT discards them, for arrays that are only read.
template <class ArrayT, class ElemT,
          ElemT* (JNIEnv::*Get)(ArrayT, jboolean*),
          void (JNIEnv::*Release)(ArrayT, ElemT*, jint)>
class ArrayElements {
public:
    ArrayElements(JNIEnv* env, ArrayT array, jint releaseMode = 0)
        : env_(env), array_(array), mode_(releaseMode),
          elements_(array != nullptr ? (env->*Get)(array, nullptr) : nullptr),
          length_(elements_ != nullptr ? static_cast<std::size_t>(env->GetArrayLength(array)) : 0) {}
    ArrayElements(const ArrayElements&) = delete;
    ArrayElements& operator=(const ArrayElements&) = delete;
    ~ArrayElements() {
        if (elements_ != nullptr) (env_->*Release)(array_, elements_, mode_);
    }

    // Null for a null array, or when the VM could not provide the elements.
    ElemT* data() const { return elements_; }
    std::size_t size() const { return length_; }
    explicit operator bool() const { return elements_ != nullptr; }

private:
    JNIEnv* env_;
    ArrayT array_;
    jint mode_;
    ElemT* elements_;
    std::size_t length_;
};

using ByteArrayElements = ArrayElements<jbyteArray, jbyte, &JNIEnv::GetByteArrayElements, &JNIEnv::ReleaseByteArrayElements>;
using IntArrayElements = ArrayElements<jintArray, jint, &JNIEnv::GetIntArrayElements, &JNIEnv::ReleaseIntArrayElements>;
using LongArrayElements = ArrayElements<jlongArray, jlong, &JNIEnv::GetLongArrayElements, &JNIEnv::ReleaseLongArrayElements>;
using FloatArrayElements = ArrayElements<jfloatArray, jfloat, &JNIEnv::GetFloatArrayElements, &JNIEnv::ReleaseFloatArrayElements>;

// Direct access to a primitive array's elements (GetPrimitiveArrayCritical), for loops that
// would otherwise copy the array in and out. While a holder is alive the calling thread must
// make no JNI call and must not block: take every holder after the last allocation of the
// export and let them go before the next JNI call. Release mode as for ArrayElements.
template <class ArrayT, class ElemT>
class CriticalArray {
public:
    CriticalArray(JNIEnv* env, ArrayT array, jint releaseMode = 0)
        : env_(env), array_(array), mode_(releaseMode),
          elements_(array != nullptr ? static_cast<ElemT*>(env->GetPrimitiveArrayCritical(array, nullptr)) : nullptr) {}
    CriticalArray(const CriticalArray&) = delete;
    CriticalArray& operator=(const CriticalArray&) = delete;
    ~CriticalArray() {
        if (elements_ != nullptr) env_->ReleasePrimitiveArrayCritical(array_, elements_, mode_);
    }

    // Null for a null array, or when the VM could not provide the elements.
    ElemT* data() const { return elements_; }
    explicit operator bool() const { return elements_ != nullptr; }

private:
    JNIEnv* env_;
    ArrayT array_;
    jint mode_;
    ElemT* elements_;
};

using CriticalFloats = CriticalArray<jfloatArray, jfloat>;

// A local frame: every local reference made inside it is freed when the frame ends, except
// the one handed out by pop().
class LocalFrame {
public:
    LocalFrame(JNIEnv* env, jint capacity) : env_(env), pushed_(env->PushLocalFrame(capacity) == 0) {}
    LocalFrame(const LocalFrame&) = delete;
    LocalFrame& operator=(const LocalFrame&) = delete;
    ~LocalFrame() {
        if (pushed_) env_->PopLocalFrame(nullptr);
    }
    bool ok() const { return pushed_; }

    // Ends the frame and returns result as a reference of the enclosing frame (transfer full).
    jobject pop(jobject result) {
        if (!pushed_) return result;
        pushed_ = false;
        return env_->PopLocalFrame(result);
    }

private:
    JNIEnv* env_;
    bool pushed_;
};

}  // namespace kestrane::jni
