#include "java_string_cache.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "no_destructor.h"
#include "platform_string.h"

namespace kestrane::catalog {

namespace {

// Texts up to this long are kept; longer ones (titles, locations) seldom repeat.
constexpr std::size_t kMaxBytes = 32;
constexpr std::size_t kSlots = 256;

// The global references of threads that ended: freed by the next thread that makes a string,
// since a thread that is ending may no longer reach the VM.
struct Orphans {
    std::mutex mutex;
    std::vector<jobject> references;
    std::atomic<bool> any{false};
};
Orphans& orphans() {
    static NoDestructor<Orphans> instance;
    return instance.get();
}

void freeOrphans(JNIEnv* env) {
    Orphans& o = orphans();
    if (!o.any.load(std::memory_order_acquire)) return;
    std::vector<jobject> references;
    {
        std::lock_guard lock(o.mutex);
        references.swap(o.references);
        o.any.store(false, std::memory_order_release);
    }
    for (jobject reference : references) env->DeleteGlobalRef(reference);
}

// One thread's strings, by a hash of their text. A text gets a global reference the second time
// it is met in a row at its slot, so that text met once (a title) costs no more than before.
class ThreadStrings {
public:
    ~ThreadStrings() {
        std::vector<jobject> references;
        for (const Slot& slot : slots_) {
            if (slot.string != nullptr) references.push_back(slot.string);
        }
        if (references.empty()) return;
        Orphans& o = orphans();
        std::lock_guard lock(o.mutex);
        o.references.insert(o.references.end(), references.begin(), references.end());
        o.any.store(true, std::memory_order_release);
    }

    jstring get(JNIEnv* env, std::string_view text) {
        std::uint32_t hash = 2166136261u;  // FNV-1a
        for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        Slot& slot = slots_[hash % kSlots];
        const bool same = slot.length == text.size() && std::memcmp(slot.bytes.data(), text.data(), text.size()) == 0;
        if (same && slot.string != nullptr) return static_cast<jstring>(env->NewLocalRef(slot.string));
        const jstring made = jni::javaStringFromUtf8(env, text);
        if (made == nullptr) return nullptr;  // the VM's error is pending
        if (same) {
            slot.string = env->NewGlobalRef(made);  // none when the VM has no room: made next time again
            return made;
        }
        if (slot.string != nullptr) env->DeleteGlobalRef(slot.string);
        slot.string = nullptr;
        slot.length = text.size();
        if (!text.empty()) std::memcpy(slot.bytes.data(), text.data(), text.size());
        return made;
    }

private:
    struct Slot {
        std::array<char, kMaxBytes> bytes{};
        std::size_t length = kMaxBytes + 1;  // matches no text
        jobject string = nullptr;            // a global reference, once the text came twice
    };
    std::array<Slot, kSlots> slots_;
};

}  // namespace

jstring javaStringOfText(JNIEnv* env, std::optional<std::string_view> utf8) {
    if (!utf8 || utf8->size() > kMaxBytes) return jni::javaStringFromUtf8(env, utf8);
    // Only a pointer lives in thread-local storage: the library's static TLS block is small.
    thread_local std::unique_ptr<ThreadStrings> strings;
    if (!strings) {
        try {
            strings = std::make_unique<ThreadStrings>();
        } catch (const std::bad_alloc&) {
            return jni::javaStringFromUtf8(env, utf8);
        }
    }
    freeOrphans(env);
    return strings->get(env, *utf8);
}

}  // namespace kestrane::catalog
