#include "jvm.h"

#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace kestrane::test {

namespace {

JavaVM* theVm = nullptr;

JavaVM* vm() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::vector<std::string> options;
        if (const char* jar = std::getenv("KESTRANE_PEERS_JAR")) options.push_back(std::string("-Djava.class.path=") + jar);
        if (const char* dir = std::getenv("KESTRANE_NATIVE_DIR")) options.push_back(std::string("-Dkestrane.native.dir=") + dir);
        options.push_back("-Xcheck:jni");
        // Keep the VM's own use of stack and signals predictable under the sanitizers.
        options.push_back("-Xss4m");
        std::vector<JavaVMOption> vmOptions;
        for (auto& o : options) vmOptions.push_back(JavaVMOption{o.data(), nullptr});
        JavaVMInitArgs args{};
        args.version = JNI_VERSION_10;
        args.nOptions = static_cast<jint>(vmOptions.size());
        args.options = vmOptions.data();
        args.ignoreUnrecognized = JNI_FALSE;
        JNIEnv* env = nullptr;
        if (JNI_CreateJavaVM(&theVm, reinterpret_cast<void**>(&env), &args) != JNI_OK) {
            throw std::runtime_error("JNI_CreateJavaVM failed");
        }
    });
    return theVm;
}

}  // namespace

JNIEnv* jniEnv() {
    JNIEnv* env = nullptr;
    JavaVM* machine = vm();
    if (machine->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_10) == JNI_EDETACHED) {
        machine->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), nullptr);
    }
    return env;
}

std::string takePendingException(JNIEnv* env) {
    jthrowable thrown = env->ExceptionOccurred();
    if (thrown == nullptr) return "";
    env->ExceptionClear();
    jclass throwableClass = env->FindClass("java/lang/Throwable");
    jmethodID toString = env->GetMethodID(throwableClass, "toString", "()Ljava/lang/String;");
    auto text = static_cast<jstring>(env->CallObjectMethod(thrown, toString));
    if (env->ExceptionCheck()) env->ExceptionClear();
    std::string result;
    if (text != nullptr) {
        const char* utf = env->GetStringUTFChars(text, nullptr);
        result = utf;
        env->ReleaseStringUTFChars(text, utf);
        env->DeleteLocalRef(text);
    }
    env->DeleteLocalRef(throwableClass);
    env->DeleteLocalRef(thrown);
    return result;
}

std::u16string javaUnits(JNIEnv* env, jstring string) {
    if (string == nullptr) return {};
    const jsize n = env->GetStringLength(string);
    std::u16string units(static_cast<std::size_t>(n), u'\0');
    env->GetStringRegion(string, 0, n, reinterpret_cast<jchar*>(units.data()));
    return units;
}

}  // namespace kestrane::test
