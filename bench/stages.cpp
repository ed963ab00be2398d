// Throughput of every decoder's and encoder's measure and convert, of the
// line-ending converter and of detection (first and score), on the corpora that corpus.py
// writes. The corpus folder is the first argument (default bench/corpus).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "convert/fused_paths.h"
#include "detect/scored_detection.h"
#include "mek/converter.h"
#include "mek/detect.h"
#include "mek/registry.h"
#include "simd/unit_runs.h"
#include "simd/utf8_blocks.h"
#include "simd/utf8_shuffle.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const char* const kCodeNames[] = {"auto",         "sjis",     "euc_jp",   "jis",
                                  "utf8",         "utf16_be", "utf16_le", "utf16_be_bom",
                                  "utf16_le_bom", "utf32_be", "utf32_le", "utf32_be_bom",
                                  "utf32_le_bom"};

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs one converter over the whole input; exits when it rejects the input.
Bytes runOnce(const mek::Converter& converter, const Bytes& input) {
  mek::ConversionBuffer b;
  b.in_begin = input.data();
  b.in_end = input.data() + input.size();
  if (!converter.measure(b)) {
    std::fprintf(stderr, "benchmark input rejected\n");
    std::exit(1);
  }
  Bytes out(static_cast<std::size_t>(b.size));
  b.out = out.data();
  if (!converter.convert(b)) std::exit(1);
  out.resize(static_cast<std::size_t>(b.size));
  return out;
}

// Inputs live for the whole run; benchmarks hold pointers into them.
std::vector<Bytes>& store() {
  static std::vector<Bytes> inputs;
  inputs.reserve(256);
  return inputs;
}

const Bytes* keep(Bytes bytes) {
  store().push_back(std::move(bytes));
  return &store().back();
}

void measureBench(benchmark::State& state, const mek::Converter* c, const Bytes* input) {
  mek::ConversionBuffer b;
  b.in_begin = input->data();
  b.in_end = input->data() + input->size();
  for (auto _ : state) {
    benchmark::DoNotOptimize(c->measure(b));
    benchmark::DoNotOptimize(b.size);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->size()));
}

void convertBench(benchmark::State& state, const mek::Converter* c, const Bytes* input) {
  mek::ConversionBuffer b;
  b.in_begin = input->data();
  b.in_end = input->data() + input->size();
  c->measure(b);
  Bytes out(static_cast<std::size_t>(b.size));
  for (auto _ : state) {
    b.out = out.data();
    benchmark::DoNotOptimize(c->convert(b));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->size()));
}

void detectBench(benchmark::State& state, const Bytes* input) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(mek::detectEncoding(input->data(), input->data() + input->size()));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->size()));
}

void scoreBench(benchmark::State& state, const Bytes* input) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        mek::ScoredDetector::detect(input->data(), input->data() + input->size()).code);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->size()));
}

// The UTF-8 block writers alone, on one path, over the stretches that the
// codec would hand them; the bytes outside stretches are skipped.
void writeSequencesBench(benchmark::State& state, mek::Utf8Path path, const Bytes* input) {
  Bytes out(2 * input->size() + 64);
  const std::uint8_t* const end = input->data() + input->size();
  for (auto _ : state) {
    const std::uint8_t* p = input->data();
    std::uint8_t* dst = out.data();
    while (p < end) {
      const std::uint8_t* stretch = mek::shortSequencePrefix(p, end);
      if (stretch == p) {
        ++p;
        while (p < end && (*p & 0xC0) == 0x80) ++p;
        continue;
      }
      dst = mek::writeShortSequencesOn(path, p, stretch, dst);
      p = stretch;
    }
    benchmark::DoNotOptimize(dst);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->size()));
}

void writeUnitsBench(benchmark::State& state, mek::Utf8Path path, const Bytes* input) {
  Bytes out(2 * input->size() + 64);
  const std::uint8_t* const end = input->data() + input->size();
  for (auto _ : state) {
    const std::uint8_t* p = input->data();
    std::uint8_t* dst = out.data();
    while (end - p >= 2) {
      const std::size_t run = mek::nonSurrogateUnits<0>(p, end);
      dst = mek::writeUnitsUtf8On(path, p, run, dst);
      p += 2 * run + 2;
    }
    benchmark::DoNotOptimize(dst);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->size()));
}

void registerUtf8Paths(const std::string& kind, const Bytes* utf8, const Bytes* internal) {
  const std::pair<mek::Utf8Path, const char*> paths[] = {{mek::Utf8Path::kPlain, "plain"},
                                                         {mek::Utf8Path::kSsse3, "ssse3"},
                                                         {mek::Utf8Path::kAvx2, "avx2"}};
  for (const auto& [path, name] : paths) {
    if (!mek::utf8PathSupported(path)) continue;
    benchmark::RegisterBenchmark((kind + "/utf8_write_sequences/" + name).c_str(),
                                 writeSequencesBench, path, utf8)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((kind + "/utf8_write_units/" + name).c_str(), writeUnitsBench,
                                 path, internal)
        ->Unit(benchmark::kMillisecond);
  }
}

void registerPair(const std::string& name, const mek::Converter* c, const Bytes* input) {
  benchmark::RegisterBenchmark((name + "/measure").c_str(), measureBench, c, input)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark((name + "/convert").c_str(), convertBench, c, input)
      ->Unit(benchmark::kMillisecond);
}

// The fused paths between UTF-8 and the Japanese codes, line endings kept:
// the whole conversion of the tool's commonest pairs in one scan.
void registerFusedPairs(const std::string& kind, const Bytes* utf8) {
  const int keepLines = mek::numberOf(mek::LineEnding::keep);
  for (int code : {1, 2, 3, 6}) {
    const mek::Converter* to = mek::findFusedPath(4, code, keepLines);
    const mek::Converter* from = mek::findFusedPath(code, 4, keepLines);
    if (from == nullptr) continue;
    const Bytes* encoded =
        keep(runOnce(*mek::findEncoder(code), runOnce(*mek::findDecoder(4), *utf8)));
    registerPair(kind + "/" + kCodeNames[code] + "_to_utf8", from, encoded);
    if (to != nullptr) registerPair(kind + "/utf8_to_" + kCodeNames[code], to, utf8);
  }
}

void registerCorpus(const std::string& folder, const std::string& kind) {
  const Bytes utf8 = readFile(folder + "/" + kind + ".utf8");
  if (utf8.empty()) return;
  const Bytes* internal = keep(runOnce(*mek::findDecoder(4), utf8));
  registerFusedPairs(kind, keep(utf8));
  registerUtf8Paths(kind, keep(utf8), internal);
  registerPair(kind + "/eol_lf", mek::findLineEndConverter(1), internal);
  registerPair(kind + "/eol_crlf", mek::findLineEndConverter(2), internal);
  for (int code = 1; code <= 12; ++code) {
    const mek::Converter* encoder = mek::findEncoder(code);
    const mek::Converter* decoder = mek::findDecoder(code);
    if (encoder == nullptr || decoder == nullptr) continue;
    const Bytes* encoded = keep(runOnce(*encoder, *internal));
    registerPair(kind + "/encode_" + kCodeNames[code], encoder, internal);
    registerPair(kind + "/decode_" + kCodeNames[code], decoder, encoded);
    benchmark::RegisterBenchmark((kind + "/detect_" + kCodeNames[code]).c_str(), detectBench,
                                 encoded)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((kind + "/detect_score_" + kCodeNames[code]).c_str(), scoreBench,
                                 encoded)
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::string folder = argc > 1 ? argv[1] : "bench/corpus";
  for (const char* kind : {"mixed", "ascii", "kanji"}) registerCorpus(folder, kind);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
