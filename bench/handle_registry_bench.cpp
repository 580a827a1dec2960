// The handle table against the raw address it replaced: the cost per call of following a handle
// the way the catalogue's exports do (a pin and a checked lookup) and the way the registry of
// objects that the Java side ends does (a lookup that takes a shared reference), on one thread
// and with four threads looking up the same handle at once (the polling pattern of a media
// player's Java side).
#include <benchmark/benchmark.h>

#include <memory>

#include "handles.h"

namespace {

struct Object {
    int value = 1;
};

using Registry = kestrane::jni::HandleRegistry<Object, kestrane::HandleKind::player>;

Registry& registry() {
    static Registry r;
    return r;
}

Object& plainObject() {
    static Object object;
    return object;
}

jlong liveHandle() {
    static const jlong handle = [] {
        for (int i = 0; i < 16; ++i) registry().add(std::make_shared<Object>());  // a few neighbours
        return registry().add(std::make_shared<Object>());
    }();
    return handle;
}

jlong tableHandle() {
    static const jlong handle = kestrane::jni::toJava(kestrane::HandleTable::instance().issue(&plainObject(), kestrane::HandleKind::mediaItem));
    return handle;
}

void rawAddress(benchmark::State& state) {
    const jlong handle = static_cast<jlong>(reinterpret_cast<std::uintptr_t>(&plainObject()));
    for (auto _ : state) {
        jlong h = handle;
        benchmark::DoNotOptimize(h);
        benchmark::DoNotOptimize(reinterpret_cast<Object*>(static_cast<std::uintptr_t>(h))->value);
    }
}

void pinnedLookup(benchmark::State& state) {
    const jlong handle = tableHandle();
    for (auto _ : state) {
        jlong h = handle;
        benchmark::DoNotOptimize(h);
        const kestrane::jni::HandlePin pin;
        auto* object = static_cast<Object*>(kestrane::HandleTable::instance().find(kestrane::jni::fromJava(h), kestrane::HandleKind::mediaItem));
        benchmark::DoNotOptimize(object->value);
    }
}

void registryFind(benchmark::State& state) {
    const jlong handle = liveHandle();
    for (auto _ : state) {
        const std::shared_ptr<Object> object = registry().find(handle);
        benchmark::DoNotOptimize(object->value);
    }
}

}  // namespace

BENCHMARK(rawAddress)->Threads(1)->Threads(4);
BENCHMARK(pinnedLookup)->Threads(1)->Threads(4);
BENCHMARK(registryFind)->Threads(1)->Threads(4);
BENCHMARK_MAIN();
