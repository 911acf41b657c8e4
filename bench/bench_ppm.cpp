// PPM compression of text against zlib and bzip2 at their levels, in one
// run, on a corpus of the project's own sources and the French texts of the
// sample installation. Each benchmark reports MB/s (of uncompressed bytes)
// and the ratio compressed / original; SQLite storing the same corpus as
// one BLOB (in memory) gives the cost of keeping it uncompressed.
//
//   bench_ppm [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <bzlib.h>
#include <sqlite3.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "storage/file/ppm/SDBPPM.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// The sources and sample texts of the repository this file belongs to.
const Bytes& Corpus() {
  static const Bytes corpus = [] {
    const fs::path root = fs::path(__FILE__).parent_path().parent_path();
    std::vector<fs::path> files;
    for (const char* dir : {"src", "tests", "samples"}) {
      if (!fs::exists(root / dir)) continue;
      for (const auto& e : fs::recursive_directory_iterator(root / dir)) {
        const std::string ext = e.path().extension().string();
        if (e.is_regular_file() && (ext == ".cpp" || ext == ".h" || ext == ".txt" || ext == ".xml" || ext == ".ini" ||
                                    ext == ".fr3"))
          files.push_back(e.path());
      }
    }
    std::sort(files.begin(), files.end());
    Bytes all;
    for (const auto& f : files) {
      std::ifstream in(f, std::ios::binary);
      all.insert(all.end(), std::istreambuf_iterator<char>(in), {});
    }
    std::fprintf(stderr, "corpus: %zu files, %zu bytes\n", files.size(), all.size());
    return all;
  }();
  return corpus;
}

void Report(benchmark::State& state, size_t packed) {
  const Bytes& in = Corpus();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
  state.counters["ratio"] = static_cast<double>(packed) / static_cast<double>(in.size());
}

// --- PPM ---------------------------------------------------------------

void BM_PPM_Compress(benchmark::State& state) {
  const Bytes& in = Corpus();
  Bytes out;
  for (auto _ : state) {
    sdb::PPMCompressBuffer(static_cast<uint8_t>(state.range(0)), in.data(), static_cast<int64_t>(in.size()), out);
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, out.size());
}

void BM_PPM_Decompress(benchmark::State& state) {
  const Bytes& in = Corpus();
  Bytes packed, out;
  sdb::PPMCompressBuffer(static_cast<uint8_t>(state.range(0)), in.data(), static_cast<int64_t>(in.size()), packed);
  for (auto _ : state) {
    sdb::PPMDecompressBuffer(packed.data(), static_cast<int64_t>(packed.size()), static_cast<int64_t>(in.size()), out);
    benchmark::DoNotOptimize(out.data());
  }
  if (out != in) state.SkipWithError("round trip failed");
  Report(state, packed.size());
}

// --- zlib --------------------------------------------------------------

Bytes ZlibPack(int level) {
  const Bytes& in = Corpus();
  uLongf n = compressBound(static_cast<uLong>(in.size()));
  Bytes out(n);
  compress2(out.data(), &n, in.data(), static_cast<uLong>(in.size()), level);
  out.resize(n);
  return out;
}

void BM_Zlib_Compress(benchmark::State& state) {
  Bytes out;
  for (auto _ : state) {
    out = ZlibPack(static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, out.size());
}

void BM_Zlib_Decompress(benchmark::State& state) {
  const Bytes& in = Corpus();
  const Bytes packed = ZlibPack(static_cast<int>(state.range(0)));
  Bytes out(in.size());
  for (auto _ : state) {
    uLongf n = static_cast<uLongf>(out.size());
    uncompress(out.data(), &n, packed.data(), static_cast<uLong>(packed.size()));
    benchmark::DoNotOptimize(out.data());
  }
  if (out != in) state.SkipWithError("round trip failed");
  Report(state, packed.size());
}

// --- bzip2 -------------------------------------------------------------

Bytes BzipPack(int level) {
  const Bytes& in = Corpus();
  auto n = static_cast<unsigned>(in.size() + in.size() / 100 + 600);
  Bytes out(n);
  BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &n,
                           const_cast<char*>(reinterpret_cast<const char*>(in.data())),
                           static_cast<unsigned>(in.size()), level, 0, 0);
  out.resize(n);
  return out;
}

void BM_Bzip2_Compress(benchmark::State& state) {
  Bytes out;
  for (auto _ : state) {
    out = BzipPack(static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(out.data());
  }
  Report(state, out.size());
}

void BM_Bzip2_Decompress(benchmark::State& state) {
  const Bytes& in = Corpus();
  Bytes packed = BzipPack(static_cast<int>(state.range(0)));
  Bytes out(in.size());
  for (auto _ : state) {
    auto n = static_cast<unsigned>(out.size());
    BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &n, reinterpret_cast<char*>(packed.data()),
                               static_cast<unsigned>(packed.size()), 0, 0);
    benchmark::DoNotOptimize(out.data());
  }
  if (out != in) state.SkipWithError("round trip failed");
  Report(state, packed.size());
}

// --- SQLite: the corpus kept as it is ------------------------------------

void BM_SQLite_StoreBlob(benchmark::State& state) {
  const Bytes& in = Corpus();
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_exec(db, "CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB)", nullptr, nullptr, nullptr);
  sqlite3_stmt* put = nullptr;
  sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO t(id, b) VALUES(1, ?)", -1, &put, nullptr);
  for (auto _ : state) {
    sqlite3_bind_blob(put, 1, in.data(), static_cast<int>(in.size()), SQLITE_STATIC);
    sqlite3_step(put);
    sqlite3_reset(put);
  }
  sqlite3_finalize(put);
  sqlite3_close(db);
  Report(state, in.size());
}

}  // namespace

BENCHMARK(BM_PPM_Compress)->Arg(1)->Arg(5)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PPM_Decompress)->Arg(1)->Arg(5)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Zlib_Compress)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Zlib_Decompress)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bzip2_Compress)->Arg(1)->Arg(5)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Bzip2_Decompress)->Arg(1)->Arg(5)->Arg(9)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SQLite_StoreBlob)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
