// Small RAII holders for JNI resources, so that no exit path of an export leaks a local
// reference or forgets a Release call. Each is move-only and releases in its destructor.
#pragma once

#include <jni.h>

#include <cstddef>
#include <type_traits>
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

// Whether a holder of array elements only reads them or also writes them back.
enum class Access { readOnly, readWrite };

// Access to the elements of a primitive Java array (Get<Type>ArrayElements). A read-only
// holder gives const elements and releases with JNI_ABORT, so that nothing is copied back into
// the array; a read-write one copies the native changes back (release mode 0). Use the
// aliases below: ReadOnlyBytes, ReadWriteFloats, ...
template <class ArrayT, class ElemT, ElemT* (JNIEnv::*Get)(ArrayT, jboolean*),
          void (JNIEnv::*Release)(ArrayT, ElemT*, jint), Access access>
class ArrayElements {
public:
    using Pointer = std::conditional_t<access == Access::readOnly, const ElemT*, ElemT*>;

    ArrayElements(JNIEnv* env, ArrayT array)
        : env_(env), array_(array), elements_(array != nullptr ? (env->*Get)(array, nullptr) : nullptr),
          length_(elements_ != nullptr ? static_cast<std::size_t>(env->GetArrayLength(array)) : 0) {}
    ArrayElements(const ArrayElements&) = delete;
    ArrayElements& operator=(const ArrayElements&) = delete;
    ~ArrayElements() {
        if (elements_ != nullptr) (env_->*Release)(array_, elements_, access == Access::readOnly ? JNI_ABORT : 0);
    }

    // Null for a null array, or when the VM could not provide the elements.
    Pointer data() const { return elements_; }
    std::size_t size() const { return length_; }
    explicit operator bool() const { return elements_ != nullptr; }

private:
    JNIEnv* env_;
    ArrayT array_;
    ElemT* elements_;
    std::size_t length_;
};

template <Access access>
using ByteElements = ArrayElements<jbyteArray, jbyte, &JNIEnv::GetByteArrayElements, &JNIEnv::ReleaseByteArrayElements, access>;
template <Access access>
using IntElements = ArrayElements<jintArray, jint, &JNIEnv::GetIntArrayElements, &JNIEnv::ReleaseIntArrayElements, access>;
template <Access access>
using LongElements = ArrayElements<jlongArray, jlong, &JNIEnv::GetLongArrayElements, &JNIEnv::ReleaseLongArrayElements, access>;
template <Access access>
using FloatElements =
    ArrayElements<jfloatArray, jfloat, &JNIEnv::GetFloatArrayElements, &JNIEnv::ReleaseFloatArrayElements, access>;

using ReadOnlyBytes = ByteElements<Access::readOnly>;
using ReadWriteBytes = ByteElements<Access::readWrite>;
using ReadOnlyInts = IntElements<Access::readOnly>;
using ReadWriteInts = IntElements<Access::readWrite>;
using ReadOnlyLongs = LongElements<Access::readOnly>;
using ReadWriteLongs = LongElements<Access::readWrite>;
using ReadOnlyFloats = FloatElements<Access::readOnly>;
using ReadWriteFloats = FloatElements<Access::readWrite>;

// Direct access to a primitive array's elements (GetPrimitiveArrayCritical), for loops that
// would otherwise copy the array in and out. While a holder is alive the calling thread must
// make no JNI call and must not block: take every holder after the last allocation of the
// export and let them go before the next JNI call. Blocking includes what hides in a
// destructor: taking a lock, or dropping a reference whose last release takes one. Fill the
// array first and let such references go after the holder has ended (declare them before it). Read-only and read-write as for
// ArrayElements: a read-only holder releases with JNI_ABORT and gives const elements.
template <class ArrayT, class ElemT, Access access>
class CriticalElements {
public:
    using Pointer = std::conditional_t<access == Access::readOnly, const ElemT*, ElemT*>;

    CriticalElements(JNIEnv* env, ArrayT array)
        : env_(env), array_(array),
          elements_(array != nullptr ? static_cast<ElemT*>(env->GetPrimitiveArrayCritical(array, nullptr)) : nullptr) {}
    CriticalElements(const CriticalElements&) = delete;
    CriticalElements& operator=(const CriticalElements&) = delete;
    ~CriticalElements() {
        if (elements_ != nullptr) {
            env_->ReleasePrimitiveArrayCritical(array_, elements_, access == Access::readOnly ? JNI_ABORT : 0);
        }
    }

    // Null for a null array, or when the VM could not provide the elements.
    Pointer data() const { return elements_; }
    explicit operator bool() const { return elements_ != nullptr; }

private:
    JNIEnv* env_;
    ArrayT array_;
    ElemT* elements_;
};

template <class ArrayT, class ElemT>
using ReadOnlyCritical = CriticalElements<ArrayT, ElemT, Access::readOnly>;
template <class ArrayT, class ElemT>
using ReadWriteCritical = CriticalElements<ArrayT, ElemT, Access::readWrite>;

using ReadOnlyCriticalFloats = ReadOnlyCritical<jfloatArray, jfloat>;
using ReadWriteCriticalFloats = ReadWriteCritical<jfloatArray, jfloat>;
using ReadWriteCriticalLongs = ReadWriteCritical<jlongArray, jlong>;

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
