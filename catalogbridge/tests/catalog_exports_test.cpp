// catalogbridge exports called with a real JVM's environment: the log line of an index outside
// an array, and (in a JVM without the peer classes) init when ITLibException cannot be found.
#include <gtest/gtest.h>

#include <com_kestrane_itlibrary_ITLibArray.h>
#include <com_kestrane_itlibrary_ITLibrary.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "jni_scoped.h"
#include "jvm.h"
#include "test_files.h"

namespace fs = std::filesystem;
using kestrane::jni::LocalRef;
using kestrane::test::captureStderr;
using kestrane::test::jniEnv;
using kestrane::test::takePendingException;

namespace {

bool peersAvailable(JNIEnv* env) {
    LocalRef<jclass> cls(env, env->FindClass("com/kestrane/itlibrary/ITLibArray"));
    env->ExceptionClear();
    return static_cast<bool>(cls);
}

}  // namespace

TEST(CatalogExports, IndexOutsideTheArrayLogsTheCount) {
    JNIEnv* env = jniEnv();
    if (!peersAvailable(env)) GTEST_SKIP() << "this JVM runs without the peer classes";
    const kestrane::test::TempFolder folder("catalog");
    const fs::path& dir = folder.path();
    std::ofstream(dir / "Library.xml") << "<plist><dict><key>Tracks</key><dict>"
                                          "<key>1</key><dict><key>Name</key><string>a</string></dict>"
                                          "<key>2</key><dict><key>Name</key><string>b</string></dict></dict></dict></plist>";
    setenv("KESTRANE_MUSIC_LIBRARY", (dir / "Library.xml").c_str(), 1);
    LocalRef<jstring> version(env, env->NewStringUTF("1.1"));
    const jlong library = Java_com_kestrane_itlibrary_ITLibrary_init(env, nullptr, version.get());
    ASSERT_NE(library, 0) << takePendingException(env);
    LocalRef<jclass> libraryClass(env, env->FindClass("com/kestrane/itlibrary/ITLibrary"));
    const jmethodID ofHandle = env->GetStaticMethodID(libraryClass.get(), "ofHandle", "(J)Lcom/kestrane/itlibrary/ITLibrary;");
    LocalRef<jobject> libraryPeer(env, env->CallStaticObjectMethod(libraryClass.get(), ofHandle, library));
    const jlong items = Java_com_kestrane_itlibrary_ITLibrary__1getAllMediaItems(env, libraryPeer.get());
    LocalRef<jclass> arrayClass(env, env->FindClass("com/kestrane/itlibrary/ITLibArray"));
    const jmethodID ctor = env->GetMethodID(arrayClass.get(), "<init>", "(J)V");
    LocalRef<jobject> array(env, env->NewObject(arrayClass.get(), ctor, items));
    LocalRef<jobject> none(env, env->NewObject(arrayClass.get(), ctor, jlong{0}));

    const std::string log = captureStderr([&] {
        EXPECT_NE(Java_com_kestrane_itlibrary_ITLibArray__1get(env, array.get(), 1), 0);
        EXPECT_EQ(Java_com_kestrane_itlibrary_ITLibArray__1get(env, array.get(), 2), 0);
        EXPECT_EQ(Java_com_kestrane_itlibrary_ITLibArray__1get(env, array.get(), -1), 0);
        EXPECT_EQ(Java_com_kestrane_itlibrary_ITLibArray__1get(env, none.get(), 0), 0);
    });
    std::istringstream lines(log);
    std::string line;
    std::vector<std::string> messages;
    while (std::getline(lines, line)) messages.push_back(line.substr(line.find("] ") + 2));
    EXPECT_EQ(messages, (std::vector<std::string>{"Weird... array count = 2. Returning 0L.",
                                                  "Weird... array count = 2. Returning 0L.",
                                                  "Weird... array count = 0. Returning 0L."}));
}

TEST(CatalogExports, InitWithoutTheExceptionClassLeavesTheLookupError) {
    JNIEnv* env = jniEnv();
    if (peersAvailable(env)) GTEST_SKIP() << "this JVM has the peer classes";
    LocalRef<jstring> version(env, env->NewStringUTF("9.9"));
    jlong handle = -1;
    const std::string log = captureStderr([&] { handle = Java_com_kestrane_itlibrary_ITLibrary_init(env, nullptr, version.get()); });
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(log, "");  // nothing logged
    EXPECT_EQ(takePendingException(env).rfind("java.lang.NoClassDefFoundError: com/kestrane/itlibrary/ITLibException", 0), 0u);
}
