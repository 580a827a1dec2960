// The JVM's modified UTF-8, the form that NewStringUTF and ThrowNew read: U+0000 as the two
// bytes C0 80 and characters outside the BMP as two 3-byte surrogates. Standard UTF-8 is not
// that form, so text bound for those calls goes through here first.
#pragma once

#include <string>
#include <string_view>

namespace kestrane::jni {

// The modified UTF-8 of UTF-16 units, cut at the first U+0000 (as a C string ends there). An
// unpaired surrogate becomes U+FFFD, since it has no UTF-8 form.
std::string utf8Form(std::u16string_view units);

// Standard UTF-8 as modified UTF-8, keeping every character: U+0000 as C0 80 and characters
// outside the BMP as two 3-byte surrogates (invalid sequences become U+FFFD).
std::string modifiedUtf8(std::string_view utf8);

}  // namespace kestrane::jni
