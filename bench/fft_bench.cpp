// Our FFT engine against FFTW (r2c/c2r, FFTW_MEASURE plans made outside the timed loop) and
// KissFFT (kiss_fftr), single precision, for N = 256 .. 65536, forward and inverse. Both
// references are linked into this benchmark only, never into the product.
//
// What is timed, per transform:
//   ours     forward: packed forward transform from the real samples (the split into even/odd
//            halves folded into its first pass)
//            inverse: copy the packed spectrum in + inverse transform into the samples (the
//            merge folded into its last pass)
//   fftw     forward: fftwf_execute of an r2c plan; inverse: copy the spectrum in + c2r
//   kissfft  forward: kiss_fftr;                    inverse: copy the spectrum in + kiss_fftri
// (c2r destroys its input, so each inverse starts from a fresh copy for all three.)
// Each benchmark runs in repetitions interleaved at random with the others'; the table takes
// each one's least thread CPU time (see TableReporter). --short: fewer, shorter repetitions.
#include <benchmark/benchmark.h>
#include <fftw3.h>
#include <kiss_fftr.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench_row.h"
#include "fft.h"

namespace {

namespace fft = kestrane::fft;
namespace bench = kestrane::bench;

std::vector<float> randomSignal(std::size_t n) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (auto& v : x) v = dist(rng);
    return x;
}

void oursForward(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const int log2n = __builtin_ctzll(n);
    const fft::SetupPtr setup = fft::createSetup(log2n);
    const std::vector<float> x = randomSignal(n);
    std::vector<float> re(n / 2), im(n / 2), work(n);
    for (auto _ : state) {
        fft::realTransformFromSamples(*setup, x.data(), {re.data(), im.data()}, log2n, work.data());
        benchmark::DoNotOptimize(re.data());
        benchmark::ClobberMemory();
    }
}

void oursInverse(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const int log2n = __builtin_ctzll(n);
    const fft::SetupPtr setup = fft::createSetup(log2n);
    const std::vector<float> specRe = randomSignal(n / 2), specIm = randomSignal(n / 2);
    std::vector<float> re(n / 2), im(n / 2), work(n), out(n);
    for (auto _ : state) {
        std::memcpy(re.data(), specRe.data(), n / 2 * sizeof(float));
        std::memcpy(im.data(), specIm.data(), n / 2 * sizeof(float));
        fft::realTransformToSamples(*setup, {re.data(), im.data()}, out.data(), log2n, work.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

void fftwForward(benchmark::State& state) {
    const auto n = static_cast<int>(state.range(0));
    float* in = fftwf_alloc_real(static_cast<std::size_t>(n));
    fftwf_complex* out = fftwf_alloc_complex(static_cast<std::size_t>(n / 2 + 1));
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
    const std::vector<float> x = randomSignal(static_cast<std::size_t>(n));
    std::memcpy(in, x.data(), x.size() * sizeof(float));
    for (auto _ : state) {
        fftwf_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
}

void fftwInverse(benchmark::State& state) {
    const auto n = static_cast<int>(state.range(0));
    fftwf_complex* in = fftwf_alloc_complex(static_cast<std::size_t>(n / 2 + 1));
    float* out = fftwf_alloc_real(static_cast<std::size_t>(n));
    fftwf_plan plan = fftwf_plan_dft_c2r_1d(n, in, out, FFTW_MEASURE);
    const std::vector<float> spec = randomSignal(static_cast<std::size_t>(n + 2));
    for (auto _ : state) {
        std::memcpy(in, spec.data(), spec.size() * sizeof(float));
        fftwf_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
}

void kissForward(benchmark::State& state) {
    const auto n = static_cast<int>(state.range(0));
    kiss_fftr_cfg cfg = kiss_fftr_alloc(n, 0, nullptr, nullptr);
    const std::vector<float> x = randomSignal(static_cast<std::size_t>(n));
    std::vector<kiss_fft_cpx> out(static_cast<std::size_t>(n / 2 + 1));
    for (auto _ : state) {
        kiss_fftr(cfg, x.data(), out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    kiss_fftr_free(cfg);
}

void kissInverse(benchmark::State& state) {
    const auto n = static_cast<int>(state.range(0));
    kiss_fftr_cfg cfg = kiss_fftr_alloc(n, 1, nullptr, nullptr);
    const std::vector<float> spec = randomSignal(static_cast<std::size_t>(n + 2));
    std::vector<kiss_fft_cpx> in(static_cast<std::size_t>(n / 2 + 1));
    std::vector<float> out(static_cast<std::size_t>(n));
    for (auto _ : state) {
        std::memcpy(in.data(), spec.data(), spec.size() * sizeof(float));
        kiss_fftri(cfg, in.data(), out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    kiss_fftr_free(cfg);
}

// Collects the results to print the ratio table after the run: per benchmark, the best
// (least) CPU time of the benchmark's thread over its repetitions. On a shared machine the
// wall clock counts the time other processes hold the core, and other load only ever adds.
class TableReporter : public benchmark::ConsoleReporter {
public:
    TableReporter() : ConsoleReporter(OO_Tabular) {}  // no colour codes in logs
    std::map<std::string, double> nanos;      // "oursForward/1024" -> CPU ns per transform
    std::map<std::string, double> wallNanos;  // the same in wall-clock time, for ENGINE_NS
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration) continue;
            std::string name = r.benchmark_name();
            name = name.substr(0, name.find("/min_time"));
            name = name.substr(0, name.find("/repeats"));
            keepLeast(nanos, name, r.GetAdjustedCPUTime());
            keepLeast(wallNanos, name, r.GetAdjustedRealTime());
        }
    }

private:
    static void keepLeast(std::map<std::string, double>& into, const std::string& name, double ns) {
        auto [it, fresh] = into.emplace(name, ns);
        if (!fresh && ns < it->second) it->second = ns;
    }
};

// The bar this benchmark holds our engine to: no slower than FFTW at any size, either way.
constexpr double kBarOverFftw = 1.0;

}  // namespace

int main(int argc, char** argv) {
    // --short: fewer, shorter repetitions, for the benchmark table (scripts/bench).
    bool shortRun = false;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::string(argv[i]) == "--short") shortRun = true;
        else args.push_back(argv[i]);
    }
    // Repetitions of all benchmarks interleaved at random, so that a burst of other load on a
    // shared machine hits ours and the references alike; the table takes each one's best.
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());

    const double minTime = shortRun ? 0.02 : 0.05;
    const int repetitions = shortRun ? 8 : 20;
    using Fn = void (*)(benchmark::State&);
    const std::pair<const char*, Fn> all[] = {{"oursForward", oursForward}, {"fftwForward", fftwForward},
                                              {"kissForward", kissForward}, {"oursInverse", oursInverse},
                                              {"fftwInverse", fftwInverse}, {"kissInverse", kissInverse}};
    for (const auto& [name, fn] : all) {
        benchmark::RegisterBenchmark(name, fn)->RangeMultiplier(4)->Range(256, 65536)->MinTime(minTime)->Repetitions(
            repetitions);
    }

    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nFFT engine (%s) against FFTW and KissFFT, ns per transform (thread CPU time, best of %d)\n", fft::instructionSet(),
                repetitions);
    std::printf("%-8s %6s %10s %10s %10s %10s %10s\n", "dir", "N", "ours", "fftw", "kissfft", "ours/fftw", "ours/kiss");
    bool barsHold = true;
    std::vector<std::function<void()>> rows;  // printed after the table
    for (const char* dir : {"Forward", "Inverse"}) {
        for (long n = 256; n <= 65536; n *= 4) {
            const std::string suffix = std::string(dir) + "/" + std::to_string(n);
            const double ours = reporter.nanos["ours" + suffix], fftw = reporter.nanos["fftw" + suffix],
                         kiss = reporter.nanos["kiss" + suffix];
            const bool ran = ours > 0 && fftw > 0 && kiss > 0;  // a size that did not run cannot hold a bar
            const bool holds = ran && ours / fftw <= kBarOverFftw;
            barsHold = barsHold && holds && ours < kiss;
            rows.push_back([=] {
                bench::row(bench::format("FFT %s %ld ours/FFTW", dir[0] == 'F' ? "forward" : "inverse", n), bench::format("%.1f ns", ours),
                           bench::format("%.1f ns", fftw), bench::format("%.2f", ran ? ours / fftw : 0.0),
                           bench::format("<= %.1f", kBarOverFftw), holds);
            });
            if (!ran) continue;
            std::printf("%-8s %6ld %10.1f %10.1f %10.1f %10.2f %10.2f\n", dir, n, ours, fftw, kiss, ours / fftw, ours / kiss);
        }
    }
    // Machine-readable engine times for comparisons made by other benchmark programs, which
    // time the wall clock (best of their rounds): the best wall-clock time here too.
    for (const char* dir : {"Forward", "Inverse"})
        for (long n = 256; n <= 65536; n *= 4)
            std::printf("ENGINE_NS %s %ld %.3f\n", dir, n, reporter.wallNanos["ours" + std::string(dir) + "/" + std::to_string(n)]);
    std::printf("bars (ours <= %.1f x fftw and faster than kissfft at every size): %s\n", kBarOverFftw,
                barsHold ? "hold" : "FAIL");
    for (const auto& row : rows) row();
    return 0;
}
