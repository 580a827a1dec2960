// A Java virtual machine inside a C++ test process, created once on first use, with the peer
// classes on its class path (KESTRANE_PEERS_JAR) and the libraries' folder in the system
// property kestrane.native.dir (KESTRANE_NATIVE_DIR).
#pragma once

#include <jni.h>

#include <string>

namespace kestrane::test {

// The JNI environment of the calling thread, attaching it to the VM when needed.
JNIEnv* jniEnv();

// Clears a pending exception and returns "<class name>: <message>", or "" when none was pending.
std::string takePendingException(JNIEnv* env);

// The Java string's contents as UTF-16 (null gives an empty string).
std::u16string javaUnits(JNIEnv* env, jstring string);

}  // namespace kestrane::test
