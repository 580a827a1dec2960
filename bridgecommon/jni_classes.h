// The Java classes, methods and fields the libraries use, looked up once and kept. FindClass,
// GetMethodID and GetFieldID each cost more than a whole property read, so paying for them on
// every call showed in every benchmark; caching gives the same classes, methods and fields,
// because a JNI library belongs to exactly one class loader and so always sees the same ones.
//
// The caches fill on first use (not in JNI_OnLoad): the C++ tests call exports before any
// Java class has loaded the library, and a JVM without the peer classes must still get the
// lookup's own NoClassDefFoundError, as an uncached lookup would give it.
#pragma once

#include <jni.h>

#include <atomic>

namespace kestrane::jni {

// A class looked up by its slash-separated name ("java/lang/String", "[F") and kept as a
// global reference for the life of the library.
class JavaClass {
public:
    explicit constexpr JavaClass(const char* name) : name_(name) {}
    JavaClass(const JavaClass&) = delete;
    JavaClass& operator=(const JavaClass&) = delete;

    // The class (transfer none), or null with the lookup's error (NoClassDefFoundError)
    // pending; a failed lookup is tried again on the next call.
    jclass get(JNIEnv* env) const;
    const char* name() const { return name_; }

private:
    const char* name_;
    mutable std::atomic<jclass> class_{nullptr};
};

// A method of a JavaClass, looked up once (GetStaticMethodID or GetMethodID) and kept. A
// method ID stays valid for as long as its class is loaded, and the JavaClass keeps the class.
class JavaMethod {
public:
    enum class Kind { instanceMethod, staticMethod };

    constexpr JavaMethod(const JavaClass& owner, const char* name, const char* signature, Kind kind)
        : owner_(owner), name_(name), signature_(signature), kind_(kind) {}
    JavaMethod(const JavaMethod&) = delete;
    JavaMethod& operator=(const JavaMethod&) = delete;

    // The method (transfer none), or null with the lookup's error pending (the class's
    // NoClassDefFoundError, or NoSuchMethodError); a failed lookup is tried again next time.
    jmethodID get(JNIEnv* env) const;
    const JavaClass& owner() const { return owner_; }

private:
    const JavaClass& owner_;
    const char* name_;
    const char* signature_;
    Kind kind_;
    mutable std::atomic<jmethodID> method_{nullptr};
};

// The long field "pointer" through which the peers of one Java class hold their handles.
// The field is looked up in the class of the first object that comes by; every export
// bound to a peer class receives instances of that class only, so every later object has
// the same field. (A global reference to the class is not needed: the field ID stays valid
// for as long as the class is loaded, and the class stays loaded while this library is.)
class PeerPointer {
public:
    constexpr PeerPointer() = default;
    PeerPointer(const PeerPointer&) = delete;
    PeerPointer& operator=(const PeerPointer&) = delete;

    // The handle in peer's "pointer" field; 0 for a null peer, or when the class has no such
    // field (NoSuchFieldError is then pending).
    jlong read(JNIEnv* env, jobject peer) const {
        if (peer == nullptr) return 0;
        jfieldID field = field_.load(std::memory_order_acquire);
        if (field == nullptr && (field = lookUp(env, peer)) == nullptr) return 0;
        return env->GetLongField(peer, field);
    }

private:
    jfieldID lookUp(JNIEnv* env, jobject peer) const;
    mutable std::atomic<jfieldID> field_{nullptr};
};

// The classes the libraries use. Each library has its own copy of these; one that a library
// never asks for is never looked up.
inline constinit const JavaClass kString("java/lang/String");
inline constinit const JavaClass kInteger("java/lang/Integer");
inline constinit const JavaClass kFloatArray("[F");
inline constinit const JavaClass kNullPointerException("java/lang/NullPointerException");
inline constinit const JavaClass kIllegalArgumentException("java/lang/IllegalArgumentException");
inline constinit const JavaClass kOutOfMemoryError("java/lang/OutOfMemoryError");
inline constinit const JavaClass kIOException("java/io/IOException");
inline constinit const JavaClass kFileNotFoundException("java/io/FileNotFoundException");

// The methods the libraries call.
inline constinit const JavaMethod kIntegerValueOf(kInteger, "valueOf", "(I)Ljava/lang/Integer;",
                                                  JavaMethod::Kind::staticMethod);

}  // namespace kestrane::jni
