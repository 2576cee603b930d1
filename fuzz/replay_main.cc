// Runs a fuzz target over files and directories of inputs, for builds without
// libFuzzer: every seed of the checked-in corpus goes through the target under
// the build's sanitizers.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int RunFile(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  if (!stream) {
    std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
    return 1;
  }
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(stream), {}};
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int failures = 0;
  size_t inputs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::directory_iterator(path)) {
        if (!entry.is_regular_file()) continue;
        failures += RunFile(entry.path());
        ++inputs;
      }
    } else {
      failures += RunFile(path);
      ++inputs;
    }
  }
  std::printf("replayed %zu inputs\n", inputs);
  return failures == 0 && inputs > 0 ? 0 : 1;
}
