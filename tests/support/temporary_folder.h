// A fresh folder of the system's temporary folder for one test: TMPDIR on
// Linux, %TEMP% on Windows (which has no mkdtemp).
#pragma once

#include <chrono>
#include <filesystem>
#include <random>
#include <string>

// PREFIX-xxxxxxxx, made here and by nobody else; empty when none can be made.
inline std::string MakeTemporaryFolder(const std::string& prefix) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  if (error) return {};
  std::mt19937_64 random(
      std::random_device{}() ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path folder = base / (prefix + "-" + std::to_string(random() % 100000000));
    if (fs::create_directory(folder, error)) return folder.string();
  }
  return {};
}
