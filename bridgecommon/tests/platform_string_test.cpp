// String conversions against a real JVM.
#include <gtest/gtest.h>

#include <vector>

#include "jvm.h"
#include "jni_scoped.h"
#include "platform_string.h"

using kestrane::jni::ElementPath;
using kestrane::jni::InitialElement;
using kestrane::jni::LocalRef;
using kestrane::test::javaUnits;
using kestrane::test::jniEnv;
using kestrane::test::takePendingException;

namespace {

// Units that a careless conversion would change: a surrogate pair (U+1F3B5), a lone high and
// a lone low surrogate, and U+0000 between letters.
const std::u16string kTricky = {u'a', 0xD83C, 0xDFB5, u'b', 0xD800, u'c', 0xDC00, u'\0', u'd'};

jstring newJavaString(JNIEnv* env, const std::u16string& units) {
    return env->NewString(reinterpret_cast<const jchar*>(units.data()), static_cast<jsize>(units.size()));
}

std::vector<std::u16string> elements(JNIEnv* env, jobjectArray array) {
    std::vector<std::u16string> out;
    const jsize n = env->GetArrayLength(array);
    for (jsize i = 0; i < n; ++i) {
        LocalRef<jstring> e(env, static_cast<jstring>(env->GetObjectArrayElement(array, i)));
        out.push_back(javaUnits(env, e.get()));
    }
    return out;
}

}  // namespace

TEST(PlatformToJava, NilIsNullAndEmptyIsEmpty) {
    JNIEnv* env = jniEnv();
    EXPECT_EQ(kestrane::jni::javaString(env, std::nullopt), nullptr);
    LocalRef<jstring> empty(env, kestrane::jni::javaString(env, std::u16string()));
    ASSERT_NE(empty.get(), nullptr);
    EXPECT_EQ(env->GetStringLength(empty.get()), 0);
}

TEST(JavaToPlatform, BothPathsKeepEveryUnitAndRoundTrip) {
    JNIEnv* env = jniEnv();
    LocalRef<jstring> original(env, newJavaString(env, kTricky));

    PlatformString copied = kestrane::jni::platformString(env, original.get());
    PlatformString adopted = kestrane::jni::adoptedPlatformString(env, original.get());
    ASSERT_TRUE(copied.has_value());
    ASSERT_TRUE(adopted.has_value());
    EXPECT_EQ(*copied, kTricky);
    EXPECT_EQ(*adopted, kTricky);

    LocalRef<jstring> back(env, kestrane::jni::javaString(env, copied));
    EXPECT_EQ(javaUnits(env, back.get()), kTricky);
    EXPECT_TRUE(env->IsSameObject(back.get(), original.get()) == JNI_FALSE);
    EXPECT_EQ(takePendingException(env), "");
}

TEST(JavaToPlatform, EmptyJavaStringGivesEmptyNotNil) {
    JNIEnv* env = jniEnv();
    LocalRef<jstring> empty(env, env->NewStringUTF(""));
    PlatformString copied = kestrane::jni::platformString(env, empty.get());
    PlatformString adopted = kestrane::jni::adoptedPlatformString(env, empty.get());
    ASSERT_TRUE(copied.has_value());
    ASSERT_TRUE(adopted.has_value());
    EXPECT_TRUE(copied->empty());
    EXPECT_TRUE(adopted->empty());
}

TEST(JavaToPlatform, NullGivesNilOrANamedNullPointerException) {
    JNIEnv* env = jniEnv();
    EXPECT_FALSE(kestrane::jni::adoptedPlatformString(env, nullptr).has_value());
    EXPECT_EQ(takePendingException(env), "");  // the adopting form accepts null quietly

    EXPECT_FALSE(kestrane::jni::platformString(env, nullptr, "url").has_value());
    EXPECT_EQ(takePendingException(env), "java.lang.NullPointerException: url must not be null");
}

TEST(StringArrays, ZeroOneAndSeveralElementsInOrderForBothInitialElements) {
    JNIEnv* env = jniEnv();
    const std::vector<std::vector<std::u16string>> lists = {
        {}, {u"only"}, {u"first", u"", kTricky, u"last"}};
    for (InitialElement initial : {InitialElement::null, InitialElement::emptyString}) {
        for (const auto& list : lists) {
            LocalRef<jobjectArray> array(env, kestrane::jni::newStringArray(env, list, initial, ElementPath::utf16));
            ASSERT_NE(array.get(), nullptr);
            EXPECT_EQ(elements(env, array.get()), list);
        }
    }
    EXPECT_EQ(takePendingException(env), "");
}

TEST(StringArrays, Utf8PathCutsAtNulAndKeepsSupplementaryCharacters) {
    JNIEnv* env = jniEnv();
    const std::vector<std::u16string> list = {
        {u'x', u'\0', u'y'},                 // C-string form ends at U+0000
        {u'n', 0xD83C, 0xDFB5, u'!'},        // a surrogate pair survives the UTF-8 trip
        {u'a', 0xD800, u'b'},                // a lone surrogate has no UTF-8 form
        u"Grüße, 日本"};
    LocalRef<jobjectArray> array(env, kestrane::jni::newStringArray(env, list, InitialElement::null, ElementPath::utf8));
    ASSERT_NE(array.get(), nullptr);
    const std::vector<std::u16string> expected = {
        u"x", {u'n', 0xD83C, 0xDFB5, u'!'}, {u'a', 0xFFFD, u'b'}, u"Grüße, 日本"};
    EXPECT_EQ(elements(env, array.get()), expected);
    EXPECT_EQ(takePendingException(env), "");
}

TEST(Utf8, DecodingReplacesWhatIsNotUtf8) {
    using kestrane::jni::utf16FromUtf8;
    EXPECT_EQ(utf16FromUtf8("plain"), u"plain");
    EXPECT_EQ(utf16FromUtf8("\xF0\x9F\x8E\xB5"), (std::u16string{0xD83C, 0xDFB5}));
    EXPECT_EQ(utf16FromUtf8("a\xC0\xAF" "b"), (std::u16string{u'a', 0xFFFD, 0xFFFD, u'b'}));  // overlong
    EXPECT_EQ(utf16FromUtf8("\xED\xA0\x80"), (std::u16string{0xFFFD, 0xFFFD, 0xFFFD}));      // encoded surrogate
    EXPECT_EQ(utf16FromUtf8("cut\xE2\x82"), (std::u16string{u'c', u'u', u't', 0xFFFD, 0xFFFD}));
}
