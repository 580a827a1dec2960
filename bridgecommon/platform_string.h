// Strings across the JNI boundary. The platform string is a sequence of UTF-16 code units or
// nil; nil is distinct from the empty string. Conversions copy units one for one: surrogate
// pairs, unpaired surrogates and U+0000 pass through unchanged.
//
// The libraries' visible helpers under the original platform's names
// (CreateJavaStringFromNSString and its kin) forward to these; each library declares the ones
// it carries in its exported_helpers.h.
#pragma once

#include <jni.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "utf.h"

// A platform string: std::nullopt is nil.
using PlatformString = std::optional<std::u16string>;
// A borrowed platform string; converts implicitly from PlatformString.
using PlatformStringView = std::optional<std::u16string_view>;

namespace kestrane::jni {

// Platform to Java. nil gives null without a JNI call; empty gives an empty Java string.
// Returns a new local reference (transfer full), or null with the VM's error pending.
jstring javaString(JNIEnv* env, PlatformStringView string);

// UTF-8 text (the catalogue keeps its strings so) as a Java string: the units of its UTF-16
// form, invalid sequences becoming U+FFFD; none gives null without a JNI call. Returns a new
// local reference (transfer full), or null with the VM's error pending.
jstring javaStringFromUtf8(JNIEnv* env, std::optional<std::string_view> utf8);

// Java to platform, copying: the units are copied while the VM holds them (GetStringChars ..
// ReleaseStringChars). A Java null throws java.lang.NullPointerException naming
// argumentName and gives nil, so that the export returns its neutral value.
PlatformString platformString(JNIEnv* env, jstring string, const char* argumentName = "string");

// Java to platform, adopting: null gives nil without a JNI call; otherwise one copy of the
// units (GetStringRegion) into a buffer that the result owns.
PlatformString adoptedPlatformString(JNIEnv* env, jstring string);

// How a String[] made from a platform list starts before its elements are stored.
enum class InitialElement { null, emptyString };
// How each element becomes a Java string: unit for unit, or through its UTF-8 form (which
// ends at the first U+0000, as a C string does).
enum class ElementPath { utf16, utf8 };

// A platform list of strings as a Java String[] in list order; an empty list gives an array
// of length 0. Returns a new local reference, or null with the VM's error pending.
jobjectArray newStringArray(JNIEnv* env, std::span<const std::u16string> list, InitialElement initial,
                            ElementPath path);

// UTF-16 from UTF-8 (invalid sequences become U+FFFD), and standard UTF-8 of a platform
// string with every unit kept, for text handed to the operating system.
using kestrane::text::utf16FromUtf8;
using kestrane::text::utf8FromUtf16;

// A Java string as UTF-8 for the operating system: the copying conversion, then UTF-8. A Java
// null throws NullPointerException naming argumentName and gives none.
std::optional<std::string> javaStringToUtf8(JNIEnv* env, jstring string, const char* argumentName);

// The UTF-8 strings as a Java String[] (see newStringArray).
jobjectArray newStringArrayFromUtf8(JNIEnv* env, std::span<const std::string> list, InitialElement initial,
                                    ElementPath path);

}  // namespace kestrane::jni
