// The catalogue's short strings as Java strings, made once per thread and handed out again:
// a library names a few genres, kinds and artists a hundred thousand times, and making a new
// Java string costs the VM an allocation and a copy on every call where handing out one it
// already has costs a local reference.
#pragma once

#include <jni.h>

#include <optional>
#include <string_view>

namespace kestrane::catalog {

// UTF-8 text as a Java string, as jni::javaStringFromUtf8 makes it (null for none): a new local
// reference (transfer full), or null with the VM's error pending. The same text may give the
// same String object again, as a string the calling thread made for it before (strings are
// immutable: only identity tells them apart).
jstring javaStringOfText(JNIEnv* env, std::optional<std::string_view> utf8);

}  // namespace kestrane::catalog
