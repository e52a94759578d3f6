// Row conversion of the colour manager beside the plain loops a hand-written decoder would
// use (memcpy for copies, a byte loop for the RGB→BGR swap, a float YCbCr formula).
#include "imaging/colormanager.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr std::uint32_t RowPixels = 2048;

std::vector<std::uint8_t> Row(std::size_t bytes)
{
    std::mt19937 random(1);
    std::vector<std::uint8_t> row(bytes);
    for (auto& byte : row)
        byte = static_cast<std::uint8_t>(random());
    return row;
}

void Translate(benchmark::State& state, SampleScheme in, SampleScheme out, unsigned inSamples, unsigned outSamples,
    std::uint8_t mask = 0xFF)
{
    TColorManager manager;
    manager.SetInScheme(in);
    manager.SetOutScheme(out);
    manager.SetInSamples(static_cast<std::uint8_t>(inSamples));
    manager.SetOutSamples(static_cast<std::uint8_t>(outSamples));
    const auto source = Row(RowPixels * inSamples);
    std::vector<std::uint8_t> target(RowPixels * outSamples);
    for (auto _ : state) {
        manager.TranslateRow(source.data(), target.data(), RowPixels, mask);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * RowPixels * outSamples);
}

void BM_Ours_RGBToBGR(benchmark::State& state) { Translate(state, schRGB, schBGR, 3, 3); }
void BM_Ours_RGBAToBGRA(benchmark::State& state) { Translate(state, schRGBA, schBGRA, 4, 4); }
void BM_Ours_RGBAToBGR(benchmark::State& state) { Translate(state, schRGBA, schBGR, 4, 3); }
void BM_Ours_BGRCopy(benchmark::State& state) { Translate(state, schBGR, schBGR, 3, 3); }
void BM_Ours_RGBToBGRInterlacedPass(benchmark::State& state) { Translate(state, schRGB, schBGR, 3, 3, 0x88); }
void BM_Ours_GrayCopy(benchmark::State& state) { Translate(state, schGray, schGray, 1, 1); }
void BM_Ours_YCbCrToBGR(benchmark::State& state) { Translate(state, schYCbCr, schBGR, 3, 3); }
void BM_Ours_CMYKToBGR(benchmark::State& state) { Translate(state, schCMYK, schBGR, 4, 3); }

void BM_Reference_Memcpy3(benchmark::State& state)
{
    const auto source = Row(RowPixels * 3);
    std::vector<std::uint8_t> target(RowPixels * 3);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), target.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * RowPixels * 3);
}

void BM_Reference_SwapLoop(benchmark::State& state)
{
    const auto source = Row(RowPixels * 3);
    std::vector<std::uint8_t> target(RowPixels * 3);
    for (auto _ : state) {
        const std::uint8_t* s = source.data();
        std::uint8_t* t = target.data();
        for (std::uint32_t i = 0; i < RowPixels; ++i, s += 3, t += 3) {
            t[0] = s[2];
            t[1] = s[1];
            t[2] = s[0];
        }
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * RowPixels * 3);
}

void BM_Reference_YCbCrFloat(benchmark::State& state)
{
    const auto source = Row(RowPixels * 3);
    std::vector<std::uint8_t> target(RowPixels * 3);
    const auto clamp = [](float value) { return static_cast<std::uint8_t>(std::clamp(value + 0.5f, 0.0f, 255.0f)); };
    for (auto _ : state) {
        const std::uint8_t* s = source.data();
        std::uint8_t* t = target.data();
        for (std::uint32_t i = 0; i < RowPixels; ++i, s += 3, t += 3) {
            const float y = s[0], cb = s[1] - 128.0f, cr = s[2] - 128.0f;
            t[0] = clamp(y + 1.772f * cb);
            t[1] = clamp(y - 0.344136f * cb - 0.714136f * cr);
            t[2] = clamp(y + 1.402f * cr);
        }
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * RowPixels * 3);
}

} // namespace

BENCHMARK(BM_Ours_RGBToBGR);
BENCHMARK(BM_Reference_SwapLoop);
BENCHMARK(BM_Ours_BGRCopy);
BENCHMARK(BM_Reference_Memcpy3);
BENCHMARK(BM_Ours_RGBAToBGRA);
BENCHMARK(BM_Ours_RGBAToBGR);
BENCHMARK(BM_Ours_RGBToBGRInterlacedPass);
BENCHMARK(BM_Ours_GrayCopy);
BENCHMARK(BM_Ours_YCbCrToBGR);
BENCHMARK(BM_Reference_YCbCrFloat);
BENCHMARK(BM_Ours_CMYKToBGR);
BENCHMARK_MAIN();
