// orbel-host: the headless host program. It loads plug-ins as the real host
// does at start-up (dlopen, LIBRARY_INIT, the entry point with kFBDllLoad,
// the library stages), then runs commands: typed at its prompt, listed in a
// script file, or given with -c. hostapp/COMMANDS.md describes them.
//
// Exit status: 0 when every plug-in candidate loaded and every command
// succeeded, 1 when one did not (each failure is reported on stderr), 2 for
// a usage error or a --config-dir that cannot hold files, 143 when SIGTERM
// ended it (cleanly: devices offline). Ctrl-C during a command stops that
// command and keeps what it recorded (interrupts.h).
#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <fbhost/fbhost.h>

#include "command_words.h"
#include "file_output.h"
#include "interrupts.h"
#include "shell.h"

namespace {

// What a shell reports for a program that SIGTERM ended: 128 + 15.
constexpr int kTerminatedStatus = 143;

struct Options {
  std::vector<std::string> pluginDirs;
  std::string configDir;
  std::string script;
  std::string commands;
  bool haveCommands = false;
  bool list = false;
  bool quiet = false;
  // --view [PORT]: the command that turns the view on; empty for none.
  std::string view;
  orbel::hostapp::ShellOptions shell;
};

void PrintUsage(std::FILE* to) {
  std::fprintf(
      to,
      "usage: orbel-host [options]\n"
#if defined(_WIN32)
      "  --plugins DIR      load every *.dll in DIR that exports the plug-in entry points\n"
      "                     (repeatable; default: this program's own folder)\n"
#else
      "  --plugins DIR      load every lib*.so in DIR that exports the plug-in entry points\n"
      "                     (repeatable; default: the lib folder beside this program's bin)\n"
#endif
      "  --list             print the plug-ins, their registrations and type numbers\n"
      "  --script FILE      run the commands in FILE (one per line, '#' comments)\n"
      "  -c \"CMD; CMD\"      run these commands\n"
      "  --set NAME=VALUE   give ${NAME} in commands a value (repeatable)\n"
      "  --config-dir DIR   keep settings files in DIR (default ~/.config/orbel-host)\n"
      "  --step-mode        no host threads: a clock that moves only at 'step' (tests)\n"
      "  --no-status        no live status line during 'wait' and 'record'\n"
      "  --quiet            do not echo the devices' progress boxes\n"
      "  --view [PORT]      serve the live 3D view on 127.0.0.1 (default port 7700; 0 picks\n"
      "                     a free one), as the 'view on' command does\n"
      "  --help             show this text\n"
      "Without --script or -c (and without --list alone), commands are read from the\n"
      "standard input; type 'help' for the list.\n");
}

// Answers false (after a message) for a bad command line.
bool ParseOptions(int argc, char** argv, Options* options, bool* help) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "orbel-host: '%s' needs a value\n", arg.c_str());
        return false;
      }
      *out = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "--plugins") {
      if (!value(&text)) return false;
      options->pluginDirs.push_back(text);
    } else if (arg == "--list") {
      options->list = true;
    } else if (arg == "--script") {
      if (!value(&options->script)) return false;
    } else if (arg == "-c") {
      if (!value(&options->commands)) return false;
      options->haveCommands = true;
    } else if (arg == "--set") {
      if (!value(&text)) return false;
      const std::size_t equals = text.find('=');
      if (equals == std::string::npos || equals == 0) {
        std::fprintf(stderr, "orbel-host: --set wants NAME=VALUE, not '%s'\n", text.c_str());
        return false;
      }
      options->shell.variables[text.substr(0, equals)] = text.substr(equals + 1);
    } else if (arg == "--config-dir") {
      if (!value(&options->configDir)) return false;
      if (options->configDir.empty()) {
        std::fprintf(stderr, "orbel-host: --config-dir needs a folder\n");
        return false;
      }
    } else if (arg == "--step-mode") {
      options->shell.stepMode = true;
    } else if (arg == "--no-status") {
      options->shell.statusLine = false;
    } else if (arg == "--view") {
      options->view = "view on";
      // The port is optional: take the next word only when it is a number.
      if (i + 1 < argc && argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9') {
        options->view += std::string(" ") + argv[++i];
      }
    } else if (arg == "--quiet") {
      options->quiet = true;
    } else if (arg == "--help" || arg == "-h") {
      *help = true;
    } else {
      std::fprintf(stderr, "orbel-host: unknown argument '%s'\n", arg.c_str());
      return false;
    }
  }
  if (!options->script.empty() && options->haveCommands) {
    std::fprintf(stderr, "orbel-host: give --script or -c, not both\n");
    return false;
  }
  return true;
}

// The build puts programs in bin/ and libraries, the plug-in among them,
// in lib/ beside it; on Windows DLLs go beside the programs.
std::string DefaultPluginDir() {
#if defined(_WIN32)
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return std::string();
  const std::string exe(path, n);
  const std::size_t slash = exe.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : exe.substr(0, slash);
#else
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return std::string();
  std::string exe(path, static_cast<std::size_t>(n));
  const std::size_t slash = exe.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  const std::string lib = exe.substr(0, slash) + "/../lib";
  return access(lib.c_str(), R_OK | X_OK) == 0 ? lib : std::string();
#endif
}

void PrintList(orbel::hostapp::Shell& shell) { shell.Run("list"); }

// The settings folder must take files: every option change writes one, and
// finding out only then would give an error per change while a script
// carries on. Makes the folder when it is missing.
bool UsableConfigFolder(const std::string& folder, std::string* why) {
  const int made = orbel::hostapp::MakeFolders(folder);
  if (made != 0) {
    *why = std::strerror(made);
    return false;
  }
#if defined(_WIN32)
  // Windows has no search bit for folders to ask about.
  const int mode = W_OK;
#else
  const int mode = W_OK | X_OK;
#endif
  if (access(folder.c_str(), mode) != 0) {
    *why = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // The terminal's character set, for the line editor; numbers keep the C
  // locale's format.
  std::setlocale(LC_CTYPE, "");
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
    const std::string fallback = DefaultPluginDir();
    if (fallback.empty()) {
      std::fprintf(stderr, "orbel-host: no plug-in folder given (--plugins DIR)\n");
      PrintUsage(stderr);
      return 2;
    }
    options.pluginDirs.push_back(fallback);
  }
  if (!options.configDir.empty()) {
    std::string why;
    if (!UsableConfigFolder(options.configDir, &why)) {
      std::fprintf(stderr, "orbel-host: --config-dir %s cannot hold the settings files: %s\n",
                   orbel::hostapp::Quote(options.configDir).c_str(), why.c_str());
      return 2;
    }
    fbhost::SetConfigFolder(options.configDir);
  }
  if (options.quiet) fbhost::SetProgressEcho(false);

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

  const bool listOnly = options.list && options.script.empty() && !options.haveCommands;
  bool ok = true;
  orbel::hostapp::interrupts::Install();
  {
    orbel::hostapp::Shell shell(options.shell, stdout, stderr);
    if (options.list) PrintList(shell);
    if (!options.view.empty() && !shell.Run(options.view, "--view")) {
      ok = false;
    } else if (!options.script.empty()) {
      ok = shell.RunScript(options.script);
    } else if (options.haveCommands) {
      ok = shell.RunCommands(options.commands);
    } else if (!listOnly) {
      ok = shell.RunInteractive(stdin);
    }
  }
  // The shell's end put every device offline and shut it down.
  if (orbel::hostapp::interrupts::TerminateRequested()) return kTerminatedStatus;
  return failed || !ok ? 1 : 0;
}
