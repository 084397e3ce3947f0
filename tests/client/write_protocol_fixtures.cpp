// Writes the golden protocol fixtures into the folder given as argument.
// Run it only when the wire format changes on purpose, then review the diff.
#include <cstdio>

#include "fixture_messages.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_protocol_fixtures FOLDER\n");
    return 2;
  }
  for (const auto& f : orbel::protocol::fixtures::all()) {
    const std::string path = std::string(argv[1]) + "/" + f.name + ".bin";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(f.bytes.data(), 1, f.bytes.size(), file) != f.bytes.size()) {
      std::fprintf(stderr, "cannot write '%s'\n", path.c_str());
      if (file) std::fclose(file);
      return 1;
    }
    std::fclose(file);
    std::printf("%s: %zu bytes\n", path.c_str(), f.bytes.size());
  }
  return 0;
}
