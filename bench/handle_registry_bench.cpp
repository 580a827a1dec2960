// The registry of live handles against the raw address it replaced: the cost of find() per
// call on one thread, and with four threads looking up the same handle at once (the polling
// pattern of a media player's Java side).
#include <benchmark/benchmark.h>

#include <memory>

#include "handles.h"

namespace {

struct Object {
    int value = 1;
};

kestrane::jni::HandleRegistry<Object>& registry() {
    static kestrane::jni::HandleRegistry<Object> r;
    return r;
}

jlong liveHandle() {
    static const jlong handle = [] {
        for (int i = 0; i < 16; ++i) registry().add(std::make_shared<Object>());  // a few neighbours
        return registry().add(std::make_shared<Object>());
    }();
    return handle;
}

void rawAddress(benchmark::State& state) {
    const jlong handle = liveHandle();
    for (auto _ : state) {
        jlong h = handle;
        benchmark::DoNotOptimize(h);
        benchmark::DoNotOptimize(kestrane::jni::fromHandle<Object>(h)->value);
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
BENCHMARK(registryFind)->Threads(1)->Threads(4);
BENCHMARK_MAIN();
