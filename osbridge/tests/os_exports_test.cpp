// osbridge exports called with a real JVM's environment, so that the sanitizer build watches
// their conversions: file tags with U+0000 and non-BMP text, numbers, nulls, folders.
#include <gtest/gtest.h>

#include <com_kestrane_core_OperatingSystemOSX.h>
#include <com_kestrane_core_osx_FileTag.h>
#include <com_kestrane_core_osx_ProcessInfo.h>
#include <com_kestrane_core_osx_UIElementColor.h>
#include <com_kestrane_core_osx_UserNotificationCenter.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "fake_dbus_service.h"
#include "fake_notifications.h"
#include "jni_scoped.h"
#include "jvm.h"
#include "session_bus.h"
#include "test_files.h"

using kestrane::jni::LocalRef;
using kestrane::test::javaUnits;
using kestrane::test::jniEnv;
using kestrane::test::takePendingException;

namespace {

jstring javaString(JNIEnv* env, const std::u16string& s) {
    return env->NewString(reinterpret_cast<const jchar*>(s.data()), static_cast<jsize>(s.size()));
}

}  // namespace

TEST(FileTagExports, TagsNumbersAndNulls) {
    JNIEnv* env = jniEnv();
    const kestrane::test::TempFolder folder("ostags");
    const auto file = folder.path() / "a b.flac";
    std::ofstream(file) << "x";
    LocalRef<jstring> url(env, env->NewStringUTF(("file://" + folder.path().string() + "/a%20b.flac").c_str()));
    LocalRef<jstring> tagsKey(env, env->NewStringUTF("NSURLTagNamesKey"));
    LocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
    const std::u16string withNul = {u'a', u'\0', u'b'}, music = u"\U0001F3B5 Musik";
    LocalRef<jobjectArray> tags(env, env->NewObjectArray(2, stringClass.get(), nullptr));
    LocalRef<jstring> t0(env, javaString(env, withNul)), t1(env, javaString(env, music));
    env->SetObjectArrayElement(tags.get(), 0, t0.get());
    env->SetObjectArrayElement(tags.get(), 1, t1.get());
    // A tag holding U+0000 is refused whole: nothing is written.
    ASSERT_EQ(Java_com_kestrane_core_osx_FileTag_setResourceValueForKey__Ljava_lang_String_2_3Ljava_lang_String_2Ljava_lang_String_2(
                  env, nullptr, url.get(), tags.get(), tagsKey.get()),
              JNI_FALSE)
        << takePendingException(env);
    LocalRef<jstring> plain(env, env->NewStringUTF("a"));
    env->SetObjectArrayElement(tags.get(), 0, plain.get());
    ASSERT_EQ(Java_com_kestrane_core_osx_FileTag_setResourceValueForKey__Ljava_lang_String_2_3Ljava_lang_String_2Ljava_lang_String_2(
                  env, nullptr, url.get(), tags.get(), tagsKey.get()),
              JNI_TRUE)
        << takePendingException(env);
    LocalRef<jobjectArray> back(env, static_cast<jobjectArray>(
                                         Java_com_kestrane_core_osx_FileTag_getResourceValueForKey(env, nullptr, url.get(), tagsKey.get())));
    ASSERT_NE(back.get(), nullptr);
    ASSERT_EQ(env->GetArrayLength(back.get()), 2);
    LocalRef<jstring> b0(env, static_cast<jstring>(env->GetObjectArrayElement(back.get(), 0)));
    LocalRef<jstring> b1(env, static_cast<jstring>(env->GetObjectArrayElement(back.get(), 1)));
    EXPECT_EQ(javaUnits(env, b0.get()), u"a");
    EXPECT_EQ(javaUnits(env, b1.get()), music);

    LocalRef<jstring> rating(env, env->NewStringUTF("rating"));
    EXPECT_EQ(Java_com_kestrane_core_osx_FileTag_setResourceValueForKey__Ljava_lang_String_2ILjava_lang_String_2(
                  env, nullptr, url.get(), -5, rating.get()),
              JNI_TRUE);
    LocalRef<jobject> number(env, Java_com_kestrane_core_osx_FileTag_getResourceValueForKey(env, nullptr, url.get(), rating.get()));
    ASSERT_NE(number.get(), nullptr);
    LocalRef<jclass> integerClass(env, env->FindClass("java/lang/Integer"));
    EXPECT_EQ(env->CallIntMethod(number.get(), env->GetMethodID(integerClass.get(), "intValue", "()I")), -5);

    EXPECT_EQ(Java_com_kestrane_core_osx_FileTag_getResourceValueForKey(env, nullptr, nullptr, rating.get()), nullptr);
    EXPECT_EQ(takePendingException(env), "java.lang.NullPointerException: url must not be null");
    LocalRef<jobjectArray> withNull(env, env->NewObjectArray(1, stringClass.get(), nullptr));
    EXPECT_EQ(Java_com_kestrane_core_osx_FileTag_setResourceValueForKey__Ljava_lang_String_2_3Ljava_lang_String_2Ljava_lang_String_2(
                  env, nullptr, url.get(), withNull.get(), tagsKey.get()),
              JNI_FALSE);
    EXPECT_EQ(takePendingException(env), "java.lang.NullPointerException: values[0] must not be null");
}

TEST(OperatingSystemExports, FoldersAndApplicationsOfNothing) {
    JNIEnv* env = jniEnv();
    LocalRef<jstring> folder(env, Java_com_kestrane_core_OperatingSystemOSX_findFolder(env, nullptr, 2, 7));
    EXPECT_EQ(javaUnits(env, folder.get()), u"/home");
    EXPECT_EQ(Java_com_kestrane_core_OperatingSystemOSX_findFolder(env, nullptr, 2, 18), nullptr);
    LocalRef<jstring> notUrl(env, env->NewStringUTF("not a url"));
    LocalRef<jobjectArray> apps(env, Java_com_kestrane_core_OperatingSystemOSX_getExternalApplications(env, nullptr, notUrl.get()));
    ASSERT_NE(apps.get(), nullptr);
    EXPECT_EQ(env->GetArrayLength(apps.get()), 0);
    EXPECT_EQ(takePendingException(env), "");
}

// A delivery through the export reaches a notification server on the session bus with the
// picture of the Java byte array and the unused second string left out.
TEST(NotificationExports, DeliveryReachesTheServer) {
    JNIEnv* env = jniEnv();
    kestrane::test::PrivateSessionBus bus;
    kestrane::test::NotificationServer server(bus.address(), true);
    const std::vector<std::uint8_t> png = kestrane::test::pngOf(3, 2);
    LocalRef<jbyteArray> image(env, env->NewByteArray(static_cast<jsize>(png.size())));
    env->SetByteArrayRegion(image.get(), 0, static_cast<jsize>(png.size()), reinterpret_cast<const jbyte*>(png.data()));
    LocalRef<jstring> title(env, javaString(env, u"Caf\u00e9 \U0001F3B5")), unused(env, env->NewStringUTF("unused"));
    Java_com_kestrane_core_osx_UserNotificationCenter_nativeDeliverNotification(env, nullptr, title.get(), unused.get(),
                                                                                 nullptr, nullptr, image.get());
    ASSERT_TRUE(server.service().waitForCalls("Notify", 1));
    for (int i = 0; i < 100 && server.last() == nullptr; ++i) usleep(10000);
    ASSERT_NE(server.last(), nullptr);
    EXPECT_EQ(server.field(3), "'Caf\u00e9 \U0001F3B5'");
    EXPECT_EQ(server.field(4), "''");
    EXPECT_NE(server.hint("image-data"), nullptr);
    EXPECT_EQ(takePendingException(env), "");
}

// A simulated older system lacks the two newer colours: zeros and the exact log line, on
// every call; the other colours are there. 10.13 has the find highlight but not the accent.
TEST(ColorExports, ColoursOfNewerSystems) {
    JNIEnv* env = jniEnv();
    auto components = [env](jfloatArray a) {
        std::vector<float> v(4, -1);
        env->GetFloatArrayRegion(a, 0, 4, v.data());
        env->DeleteLocalRef(a);
        return v;
    };
    // Lines of this export only: a notification of the test before may still log its end.
    auto missingLines = [](const std::string& log) {
        std::size_t n = 0;
        for (std::size_t at = log.find("only supported in macOS"); at != std::string::npos;
             at = log.find("only supported in macOS", at + 1)) {
            ++n;
        }
        return n;
    };
    setenv("KESTRANE_APPEARANCE_SYSTEM_VERSION", "10.13", 1);
    const std::string only = kestrane::test::captureStderr([&] {
        EXPECT_EQ(components(Java_com_kestrane_core_osx_UIElementColor__1getFindHighlightColor(env, nullptr))[3], 1.0f);
        EXPECT_EQ(components(Java_com_kestrane_core_osx_UIElementColor__1getControlAccentColor(env, nullptr))[3], 0.0f);
    });
    EXPECT_EQ(missingLines(only), 1u) << only;
    EXPECT_NE(only.find("] controlAccentColor only supported in macOS 10.14 or later.\n"), std::string::npos) << only;
    setenv("KESTRANE_APPEARANCE_SYSTEM_VERSION", "10.12", 1);
    std::vector<float> accent, find;
    const std::string log = kestrane::test::captureStderr([&] {
        accent = components(Java_com_kestrane_core_osx_UIElementColor__1getControlAccentColor(env, nullptr));
        find = components(Java_com_kestrane_core_osx_UIElementColor__1getFindHighlightColor(env, nullptr));
        components(Java_com_kestrane_core_osx_UIElementColor__1getControlAccentColor(env, nullptr));
    });
    unsetenv("KESTRANE_APPEARANCE_SYSTEM_VERSION");
    EXPECT_EQ(accent, std::vector<float>(4, 0.0f));
    EXPECT_EQ(find, std::vector<float>(4, 0.0f));
    EXPECT_NE(log.find("] controlAccentColor only supported in macOS 10.14 or later.\n"), std::string::npos) << log;
    EXPECT_NE(log.find("] findHighlightColor only supported in macOS 10.13 or later.\n"), std::string::npos) << log;
    EXPECT_EQ(missingLines(log), 3u) << log;
    EXPECT_EQ(components(Java_com_kestrane_core_osx_UIElementColor__1getShadowColor(env, nullptr))[3], 0.07f);
    EXPECT_EQ(components(Java_com_kestrane_core_osx_UIElementColor__1getControlAccentColor(env, nullptr))[3], 1.0f);
}

// The Java API's option bits of an activity as the locks asked of a desktop portal on the
// session bus.
TEST(ProcessInfoExports, OptionBitsAskThePortalForTheirLocks) {
    JNIEnv* env = jniEnv();
    kestrane::test::PrivateSessionBus bus;
    kestrane::test::FakeDBusService portal(
        bus.address(), "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
        R"(<node><interface name="org.freedesktop.portal.Inhibit"><method name="Inhibit"><arg type="s" direction="in"/>
           <arg type="u" direction="in"/><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
           </interface><interface name="org.freedesktop.portal.Request"><method name="Close"/></interface></node>)",
        [](const std::string& method, GVariant*, GDBusMethodInvocation* invocation) {
            g_dbus_method_invocation_return_value(
                invocation, method == "Inhibit" ? g_variant_new("(o)", "/org/freedesktop/portal/desktop") : nullptr);
        });
    const struct {
        jlong options;
        const char* flags;  // what the portal is asked for, or null for nothing
    } rows[] = {
        {jlong{1} << 20, "4"}, {jlong{1} << 40, "8"}, {jlong{1} << 14, "1"},
        {(jlong{1} << 20) | (jlong{1} << 40) | (jlong{1} << 14) | 0xFF, "13"}, {0xFF, nullptr},
    };
    LocalRef<jstring> reason(env, env->NewStringUTF("playing"));
    for (const auto& row : rows) {
        const std::size_t before = portal.calls().size();
        const jlong activity = Java_com_kestrane_core_osx_ProcessInfo_nativeBeginActivityWithOptions(env, nullptr, row.options, reason.get());
        ASSERT_NE(activity, 0);
        const auto calls = portal.calls();
        if (row.flags == nullptr) {
            EXPECT_EQ(calls.size(), before) << row.options;
        } else {
            ASSERT_EQ(calls.size(), before + 1) << row.options;
            EXPECT_EQ(calls.back().parameters, std::string("('', ") + row.flags + ", {'reason': <'playing'>})");
        }
        Java_com_kestrane_core_osx_ProcessInfo_nativeEndActivity(env, nullptr, activity);
    }
    EXPECT_EQ(takePendingException(env), "");
}
