// Runs a fuzz target's entry point once on every file of a corpus folder, so
// the seeds and the inputs fuzzing has found stay checked in an ordinary
// build (any compiler, no libFuzzer). A target's failed check aborts the
// process; the file being replayed was named just before.
//
//   fuzz_<name>_replay <corpus folder>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Optional in a target, as with libFuzzer.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace fs = std::filesystem;

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "replay: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Fail(std::string("usage: ") + (argc > 0 ? argv[0] : "replay") + " <corpus folder>");
  const fs::path dir = argv[1];
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return Fail("no corpus folder " + dir.string());

  std::vector<fs::path> files;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec)) files.push_back(it->path());
  }
  if (ec) return Fail("cannot list " + dir.string() + ": " + ec.message());
  if (files.empty()) return Fail("empty corpus folder " + dir.string());
  std::sort(files.begin(), files.end());  // the same order on every run

  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);

  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return Fail("cannot read " + file.string());
    // A buffer of exactly the input's size, as libFuzzer passes it, so the
    // sanitizers see a read past its end.
    std::unique_ptr<uint8_t[]> data(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), data.get());
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", file.string().c_str(), bytes.size());
    std::fflush(stderr);
    const int result = LLVMFuzzerTestOneInput(data.get(), bytes.size());
    if (result != 0 && result != -1) return Fail(file.string() + " returned " + std::to_string(result));
  }
  std::fprintf(stderr, "replay: %zu files passed\n", files.size());
  return 0;
}
