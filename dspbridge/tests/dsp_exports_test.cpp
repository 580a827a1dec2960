// The FFT, NNLS and player exports called directly with a real JVM's environment, so that the
// sanitizer build watches their buffers and handles: sizes on both sides of the stack bound,
// both directions, the refused calls, handles that are not live, and handles ended on one
// thread while others use them.
#include <gtest/gtest.h>

#include <com_kestrane_sonvekt_math_NNLS.h>
#include <com_kestrane_sonvekt_math_NativeFFT.h>
#include <com_kestrane_sonvekt_player_AVPlayer.h>

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <barrier>
#include <cmath>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "exported_helpers.h"
#include "jni_scoped.h"
#include "jvm.h"
#include "test_audio.h"
#include "test_files.h"

using kestrane::jni::LocalRef;
using kestrane::test::jniEnv;
using kestrane::test::takePendingException;

namespace {

jfloatArray floats(JNIEnv* env, const std::vector<float>& v) {
    jfloatArray a = env->NewFloatArray(static_cast<jsize>(v.size()));
    env->SetFloatArrayRegion(a, 0, static_cast<jsize>(v.size()), v.data());
    return a;
}

std::vector<float> elements(JNIEnv* env, jobjectArray pair, jsize i) {
    LocalRef<jfloatArray> a(env, static_cast<jfloatArray>(env->GetObjectArrayElement(pair, i)));
    std::vector<float> out(static_cast<std::size_t>(env->GetArrayLength(a.get())));
    env->GetFloatArrayRegion(a.get(), 0, static_cast<jsize>(out.size()), out.data());
    return out;
}

// Rounds of a race: make() gives a handle; four threads use() it while a fifth end()s it; then
// after() looks at it. Every thread has the JNI environment of its own.
void raceToTheEnd(int rounds, const std::function<jlong(JNIEnv*)>& make, const std::function<void(JNIEnv*, jlong)>& use,
                  const std::function<void(JNIEnv*, jlong)>& end, const std::function<void(JNIEnv*, jlong)>& after) {
    constexpr int kUsers = 4;
    std::atomic<jlong> current{0};
    std::barrier sync(kUsers + 2);
    auto rounder = [&](const std::function<void(JNIEnv*, jlong)>& work) {
        return std::thread([&] {
            JNIEnv* env = jniEnv();
            for (int round = 0; round < rounds; ++round) {
                sync.arrive_and_wait();
                work(env, current.load());
                sync.arrive_and_wait();
            }
        });
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kUsers; ++t) threads.push_back(rounder(use));
    threads.push_back(rounder(end));
    JNIEnv* env = jniEnv();
    for (int round = 0; round < rounds; ++round) {
        current = make(env);
        sync.arrive_and_wait();
        sync.arrive_and_wait();
        after(env, current.load());
    }
    for (auto& t : threads) t.join();
}

}  // namespace

TEST(FftExports, RoundTripOnBothSidesOfTheStackBound) {
    JNIEnv* env = jniEnv();
    const jlong setup = Java_com_kestrane_sonvekt_math_NativeFFT_init(env, nullptr, 1 << 16);
    ASSERT_NE(setup, 0);
    for (jint n : {4, 8, 2048, 4096, 1 << 16}) {
        std::vector<float> x(static_cast<std::size_t>(n));
        for (jint m = 0; m < n; ++m) x[static_cast<std::size_t>(m)] = std::sin(0.37f * static_cast<float>(m)) + 0.25f;
        LocalRef<jfloatArray> in(env, floats(env, x));
        LocalRef<jobjectArray> spectrum(env, Java_com_kestrane_sonvekt_math_NativeFFT_realFFT(env, nullptr, setup, JNI_TRUE, n, in.get(), nullptr));
        ASSERT_NE(spectrum.get(), nullptr) << takePendingException(env);
        LocalRef<jfloatArray> re(env, floats(env, elements(env, spectrum.get(), 0)));
        LocalRef<jfloatArray> im(env, floats(env, elements(env, spectrum.get(), 1)));
        LocalRef<jobjectArray> back(env, Java_com_kestrane_sonvekt_math_NativeFFT_realFFT(env, nullptr, setup, JNI_FALSE, n, re.get(), im.get()));
        ASSERT_NE(back.get(), nullptr) << takePendingException(env);
        const std::vector<float> y = elements(env, back.get(), 0);
        for (std::size_t i = 0; i < x.size(); ++i) ASSERT_NEAR(y[i], x[i], 1e-4) << "n=" << n << " i=" << i;
        for (float z : elements(env, back.get(), 1)) ASSERT_EQ(z, 0.0f);
    }
    Java_com_kestrane_sonvekt_math_NativeFFT_destroy(env, nullptr, setup);
}

TEST(FftExports, RefusedCallsThrowAndReturnNull) {
    JNIEnv* env = jniEnv();
    const jlong setup = Java_com_kestrane_sonvekt_math_NativeFFT_init(env, nullptr, 16);
    LocalRef<jfloatArray> sixteen(env, env->NewFloatArray(16));
    LocalRef<jfloatArray> fifteen(env, env->NewFloatArray(15));

    EXPECT_EQ(Java_com_kestrane_sonvekt_math_NativeFFT_realFFT(env, nullptr, setup, JNI_FALSE, 16, sixteen.get(), fifteen.get()), nullptr);
    EXPECT_EQ(takePendingException(env), "java.lang.IllegalArgumentException: The imag array is shorter than the number of samples.");
    EXPECT_EQ(Java_com_kestrane_sonvekt_math_NativeFFT_realFFT(env, nullptr, setup, JNI_TRUE, 32, sixteen.get(), nullptr), nullptr);
    EXPECT_EQ(takePendingException(env), "java.lang.IllegalArgumentException: Number of samples is larger than the FFT setup was made for.");
    EXPECT_EQ(Java_com_kestrane_sonvekt_math_NativeFFT_realFFT(env, nullptr, 0, JNI_TRUE, 16, sixteen.get(), nullptr), nullptr);
    EXPECT_EQ(takePendingException(env), "java.lang.IllegalArgumentException: The FFT setup handle is 0.");
    EXPECT_EQ(Java_com_kestrane_sonvekt_math_NativeFFT_realFFT(env, nullptr, setup, JNI_TRUE, 16, fifteen.get(), nullptr), nullptr);
    EXPECT_EQ(takePendingException(env), "java.lang.IllegalArgumentException: Number of samples must not be less than input array length.");
    EXPECT_EQ(Java_com_kestrane_sonvekt_math_NativeFFT_realFFT(env, nullptr, setup, JNI_TRUE, 16, nullptr, nullptr), nullptr);
    EXPECT_EQ(takePendingException(env), "java.lang.NullPointerException: real must not be null");
    EXPECT_EQ(Java_com_kestrane_sonvekt_math_NativeFFT_init(env, nullptr, 12), 0);
    EXPECT_EQ(takePendingException(env), "java.lang.IllegalArgumentException: Number of samples is not a power of 2.");
    Java_com_kestrane_sonvekt_math_NativeFFT_destroy(env, nullptr, setup);
}

// A setup that cannot be made ends the process as a failure, with the reason in the log on
// standard error. The child runs with its address space held to little more than it has.
TEST(FftExportsDeathTest, ASetupThatCannotBeMadeEndsTheProcessWithALogLine) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator ends the process itself when memory is short";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, without the JVM's threads
    auto starved = [] {
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        rlimit limit{};
        getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t{256} << 20);
        setrlimit(RLIMIT_AS, &limit);
        // The largest size there is: its tables need several gigabytes.
        Java_com_kestrane_sonvekt_math_NativeFFT_init(nullptr, nullptr, jint{1} << 30);
    };
    // The log's form: "<date> <process>[<pid>:<tid>] <message>".
    EXPECT_EXIT(starved(), ::testing::ExitedWithCode(1), "[0-9]+:[0-9]+. FFT_Setup failed to allocate enough memory for the real FFT\\.");
#endif
}

TEST(PlayerErrorRule, CodesChooseTheException) {
    JNIEnv* env = jniEnv();
    playerThrowIOExceptionIfError(env, 0, "nothing");
    EXPECT_EQ(takePendingException(env), "");
    playerThrowIOExceptionIfError(env, -43, "The file is gone");
    EXPECT_EQ(takePendingException(env), "java.io.FileNotFoundException: The file is gone");
    playerThrowIOExceptionIfError(env, -4006, "Could not decode");
    EXPECT_EQ(takePendingException(env), "java.io.IOException: Could not decode");
}

TEST(NnlsExport, SolvesInPlaceAndRefusesShortArrays) {
    JNIEnv* env = jniEnv();
    // A diagonal 300 x 200 problem: the work storage goes past the stack bound.
    const int m = 300, n = 200;
    std::vector<float> a(static_cast<std::size_t>(m * n), 0.0f), b(static_cast<std::size_t>(m), 0.0f);
    for (int k = 0; k < n; ++k) {
        a[static_cast<std::size_t>(k * m + k)] = 2.0f;
        b[static_cast<std::size_t>(k)] = (k % 3 == 0) ? -1.0f : 4.0f;
    }
    LocalRef<jfloatArray> ja(env, floats(env, a)), jb(env, floats(env, b)), jx(env, env->NewFloatArray(n));
    EXPECT_EQ(Java_com_kestrane_sonvekt_math_NNLS_solve(env, nullptr, ja.get(), m, m, n, jb.get(), jx.get()), 1);
    std::vector<float> x(static_cast<std::size_t>(n));
    env->GetFloatArrayRegion(jx.get(), 0, n, x.data());
    for (int k = 0; k < n; ++k) EXPECT_NEAR(x[static_cast<std::size_t>(k)], (k % 3 == 0) ? 0.0f : 2.0f, 1e-5) << k;

    LocalRef<jfloatArray> shortA(env, env->NewFloatArray(m * n - 1));
    EXPECT_EQ(Java_com_kestrane_sonvekt_math_NNLS_solve(env, nullptr, shortA.get(), m, m, n, jb.get(), jx.get()), 0);
    EXPECT_EQ(takePendingException(env), "java.lang.IllegalArgumentException: a holds 59999 values; mda*(n-1)+m = 60000 are needed.");
}

TEST(PlayerExports, OpenQueryAndCloseAFileAndAMissingOne) {
    JNIEnv* env = jniEnv();
    const kestrane::test::TempFolder folder("dspplayer");
    kestrane::test::writeTestWav(folder.path() / "tone.wav", 1.0);
    LocalRef<jstring> url(env, env->NewStringUTF(("file://" + (folder.path() / "tone.wav").string()).c_str()));
    const jlong player = Java_com_kestrane_sonvekt_player_AVPlayer_open(env, nullptr, url.get());
    ASSERT_NE(player, 0) << takePendingException(env);
    EXPECT_EQ(Java_com_kestrane_sonvekt_player_AVPlayer_getDuration(env, nullptr, player), 1000);
    EXPECT_EQ(Java_com_kestrane_sonvekt_player_AVPlayer_getStatus(env, nullptr, player), 1);
    Java_com_kestrane_sonvekt_player_AVPlayer_setTime(env, nullptr, player, 400);
    Java_com_kestrane_sonvekt_player_AVPlayer_start(env, nullptr, player);
    EXPECT_EQ(Java_com_kestrane_sonvekt_player_AVPlayer_isPlaying(env, nullptr, player), JNI_TRUE);
    LocalRef<jstring> reason(env, Java_com_kestrane_sonvekt_player_AVPlayer_getReasonForWaitingToPlay(env, nullptr, player));
    EXPECT_EQ(Java_com_kestrane_sonvekt_player_AVPlayer_getError(env, nullptr, player), nullptr);
    Java_com_kestrane_sonvekt_player_AVPlayer_close(env, nullptr, player);

    LocalRef<jstring> missing(env, env->NewStringUTF(("file://" + (folder.path() / "missing.wav").string()).c_str()));
    EXPECT_EQ(Java_com_kestrane_sonvekt_player_AVPlayer_open(env, nullptr, missing.get()), 0);
    EXPECT_EQ(takePendingException(env).rfind("java.io.FileNotFoundException: ", 0), 0u);
    EXPECT_EQ(Java_com_kestrane_sonvekt_player_AVPlayer_open(env, nullptr, nullptr), 0);
    EXPECT_EQ(takePendingException(env), "java.lang.NullPointerException: url must not be null");
}

// ---- handles that are not live ----------------------------------------------------------------

TEST(FftHandles, DestroyTwiceUseAfterDestroyAndNeverMadeAreRefused) {
    JNIEnv* env = jniEnv();
    LocalRef<jfloatArray> x(env, env->NewFloatArray(16));
    const jlong setup = Java_com_kestrane_sonvekt_math_NativeFFT_init(env, nullptr, 16);
    ASSERT_NE(setup, 0);
    Java_com_kestrane_sonvekt_math_NativeFFT_destroy(env, nullptr, setup);
    Java_com_kestrane_sonvekt_math_NativeFFT_destroy(env, nullptr, setup);  // nothing happens
    for (jlong dead : {setup, jlong{0x12345678}}) {
        EXPECT_EQ(Java_com_kestrane_sonvekt_math_NativeFFT_realFFT(env, nullptr, dead, JNI_TRUE, 16, x.get(), nullptr), nullptr);
        EXPECT_EQ(takePendingException(env).rfind("java.lang.IllegalArgumentException: The FFT setup handle is not a live setup", 0), 0u);
        Java_com_kestrane_sonvekt_math_NativeFFT_destroy(env, nullptr, dead);
    }
}

TEST(FftHandles, TransformsInProgressFinishWhenAnotherThreadDestroysTheSetup) {
    std::atomic<int> wrong{0};
    raceToTheEnd(
        300, [](JNIEnv* env) { return Java_com_kestrane_sonvekt_math_NativeFFT_init(env, nullptr, 4096); },
        [&](JNIEnv* env, jlong setup) {
            LocalRef<jfloatArray> x(env, env->NewFloatArray(4096));
            for (int i = 0; i < 8; ++i) {
                LocalRef<jobjectArray> r(env, Java_com_kestrane_sonvekt_math_NativeFFT_realFFT(env, nullptr, setup, JNI_TRUE,
                                                                                              4096, x.get(), nullptr));
                const std::string thrown = takePendingException(env);
                // Either a whole result or the refusal of a setup that is gone.
                if (r ? !thrown.empty() : thrown.find("not a live setup") == std::string::npos) ++wrong;
            }
        },
        [](JNIEnv* env, jlong setup) { Java_com_kestrane_sonvekt_math_NativeFFT_destroy(env, nullptr, setup); },
        [](JNIEnv*, jlong) {});
    EXPECT_EQ(wrong, 0);
}

namespace {

// Every AVPlayer export with a handle, answering as for no player.
void expectAnswersAsForNoPlayer(JNIEnv* env, jlong handle) {
    Java_com_kestrane_sonvekt_player_AVPlayer_start(env, nullptr, handle);
    Java_com_kestrane_sonvekt_player_AVPlayer_stop(env, nullptr, handle);
    Java_com_kestrane_sonvekt_player_AVPlayer_playImmediatelyAtRate(env, nullptr, handle, 1.0f);
    Java_com_kestrane_sonvekt_player_AVPlayer_reset(env, nullptr, handle);
    Java_com_kestrane_sonvekt_player_AVPlayer_setMuted(env, nullptr, handle, JNI_TRUE);
    Java_com_kestrane_sonvekt_player_AVPlayer_setVolume(env, nullptr, handle, 0.5f);
    Java_com_kestrane_sonvekt_player_AVPlayer_setTime(env, nullptr, handle, 100);
    EXPECT_EQ(Java_com_kestrane_sonvekt_player_AVPlayer_isPlaying(env, nullptr, handle), JNI_FALSE);
    EXPECT_EQ(Java_com_kestrane_sonvekt_player_AVPlayer_isMuted(env, nullptr, handle), JNI_FALSE);
    EXPECT_EQ(Java_com_kestrane_sonvekt_player_AVPlayer_getVolume(env, nullptr, handle), 0.0f);
    EXPECT_EQ(Java_com_kestrane_sonvekt_player_AVPlayer_getTime(env, nullptr, handle), 0);
    EXPECT_EQ(Java_com_kestrane_sonvekt_player_AVPlayer_getDuration(env, nullptr, handle), 0);
    EXPECT_EQ(Java_com_kestrane_sonvekt_player_AVPlayer_getStatus(env, nullptr, handle), 0);
    EXPECT_EQ(Java_com_kestrane_sonvekt_player_AVPlayer_getError(env, nullptr, handle), nullptr);
    EXPECT_EQ(Java_com_kestrane_sonvekt_player_AVPlayer_getTimeControlStatus(env, nullptr, handle), 0);
    EXPECT_EQ(Java_com_kestrane_sonvekt_player_AVPlayer_getReasonForWaitingToPlay(env, nullptr, handle), nullptr);
    Java_com_kestrane_sonvekt_player_AVPlayer_close(env, nullptr, handle);
    EXPECT_EQ(takePendingException(env), "");
}

}  // namespace

TEST(PlayerHandles, ClosedAndNeverMadeHandlesAnswerAsForNone) {
    JNIEnv* env = jniEnv();
    const kestrane::test::TempFolder folder("dsphandles");
    kestrane::test::writeTestWav(folder.path() / "tone.wav", 0.5);
    LocalRef<jstring> url(env, env->NewStringUTF(("file://" + (folder.path() / "tone.wav").string()).c_str()));
    const jlong player = Java_com_kestrane_sonvekt_player_AVPlayer_open(env, nullptr, url.get());
    ASSERT_NE(player, 0) << takePendingException(env);
    Java_com_kestrane_sonvekt_player_AVPlayer_close(env, nullptr, player);
    expectAnswersAsForNoPlayer(env, player);       // every call after close, and a second close
    expectAnswersAsForNoPlayer(env, player + 16);  // never made
    expectAnswersAsForNoPlayer(env, 0);
}

TEST(PlayerHandles, FourThreadsPollWhileAFifthClosesThousandRounds) {
    JNIEnv* env = jniEnv();
    const kestrane::test::TempFolder folder("dsprace");
    kestrane::test::writeTestWav(folder.path() / "tone.wav", 0.5);
    LocalRef<jstring> url(env, env->NewStringUTF(("file://" + (folder.path() / "tone.wav").string()).c_str()));
    std::atomic<int> wrong{0};
    raceToTheEnd(
        1000,
        [&](JNIEnv* menv) {
            const jlong p = Java_com_kestrane_sonvekt_player_AVPlayer_open(menv, nullptr, url.get());
            if (p == 0) ADD_FAILURE() << takePendingException(menv);
            return p;
        },
        [&](JNIEnv* penv, jlong p) {
            for (int i = 0; i < 20; ++i) {
                const jint status = Java_com_kestrane_sonvekt_player_AVPlayer_getStatus(penv, nullptr, p);
                const jlong time = Java_com_kestrane_sonvekt_player_AVPlayer_getTime(penv, nullptr, p);
                if ((status != 0 && status != 1) || time < 0 || time > 500) ++wrong;
            }
        },
        [](JNIEnv* cenv, jlong p) { Java_com_kestrane_sonvekt_player_AVPlayer_close(cenv, nullptr, p); },
        [&](JNIEnv* aenv, jlong p) {
            if (Java_com_kestrane_sonvekt_player_AVPlayer_getStatus(aenv, nullptr, p) != 0) ++wrong;  // closed
        });
    EXPECT_EQ(wrong, 0);
}
