// orbel-host: the headless host program. It loads plug-ins as the real host
// does at start-up (dlopen, LIBRARY_INIT, entry point with kFBDllLoad,
// library stages) and, for now, lists what they registered.
//
//   orbel-host --plugins DIR [--list]
//
// Exit status: 0 when every plug-in candidate loaded, 1 when one failed (each
// failure is reported on stderr), 2 for a usage error.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fbhost/fbhost.h>

namespace {

struct Options {
  std::vector<std::string> pluginDirs;
  bool list = false;
};

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: orbel-host --plugins DIR [--plugins DIR ...] [--list]\n"
               "  --plugins DIR  load every lib*.so in DIR that exports the plug-in entry points\n"
               "  --list         print the registrations and the type numbers taken\n");
}

// Answers false (after a message) for a bad command line.
bool ParseOptions(int argc, char** argv, Options* options, bool* help) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--plugins") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "orbel-host: '--plugins' needs a folder\n");
        return false;
      }
      options->pluginDirs.emplace_back(argv[++i]);
    } else if (arg == "--list") {
      options->list = true;
    } else if (arg == "--help" || arg == "-h") {
      *help = true;
    } else {
      std::fprintf(stderr, "orbel-host: unknown argument '%s'\n", arg.c_str());
      return false;
    }
  }
  return true;
}

void PrintList(const std::vector<fbhost::PluginLoadResult>& loaded) {
  std::printf("plug-ins loaded: %zu\n", loaded.size());
  for (const auto& p : loaded) {
    const int taken = p.endTypeNumber - p.firstTypeNumber;
    std::printf("  %s\n    type numbers taken: %d", p.path.c_str(), taken);
    if (taken > 0) std::printf(" (%d to %d)", p.firstTypeNumber, p.endTypeNumber - 1);
    std::printf("\n    library objects: %d\n", p.libraryObjects);
  }
  const auto registrations = fbhost::Registrations();
  std::printf("registrations: %zu\n", registrations.size());
  std::printf("  %-26s %-22s %-34s %s\n", "group", "entry", "description", "icon");
  for (const auto& r : registrations) {
    std::printf("  %-26s %-22s %-34s %s\n", r.group.c_str(), r.entry.c_str(),
                r.description.c_str(), r.icon.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool help = false;
  if (!ParseOptions(argc, argv, &options, &help)) {
    PrintUsage(stderr);
    return 2;
  }
  if (help) {
    PrintUsage(stdout);
    return 0;
  }
  if (options.pluginDirs.empty()) {
    std::fprintf(stderr, "orbel-host: no plug-in folder given\n");
    PrintUsage(stderr);
    return 2;
  }

  bool failed = false;
  for (const auto& dir : options.pluginDirs) {
    for (const auto& result : fbhost::LoadPluginDirectory(dir)) {
      if (result.status == fbhost::PluginLoadStatus::Failed) {
        std::fprintf(stderr, "orbel-host: %s\n", result.message.c_str());
        failed = true;
      } else if (!result.message.empty()) {
        std::fprintf(stderr, "orbel-host: %s\n", result.message.c_str());
      }
    }
  }
  if (options.list) PrintList(fbhost::LoadedPlugins());
  return failed ? 1 : 0;
}
