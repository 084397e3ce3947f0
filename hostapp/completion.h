// Tab completion for the host program's prompt, read from the commands' own
// usage lines, so that a new command completes as soon as it has one:
//   - a lower-case word is offered as it is ("on|off", "init|start|...");
//   - an upper-case placeholder asks for names: DEVICE, TAKE, MODEL, LABEL,
//     COMMAND, and FILE or FOLDER for paths (FILE.png too);
//   - "[...]" marks a word that may be left out, "--name VALUE" an option.
// A command whose later words depend on an earlier one (panel DEVICE ACTION
// VALUE) lists one usage line per form; completion follows the forms that
// fit the words typed so far.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace orbel::hostapp {

struct CommandForms {
  std::string name;
  std::vector<std::string> forms;  // full usage lines, the command's name first
};

// The names a placeholder stands for ("DEVICE" -> the devices' names); files
// are listed by the completer itself.
using NameLookup = std::function<std::vector<std::string>(const std::string& placeholder)>;

struct Completion {
  // The word under the cursor starts at this byte of the line.
  std::size_t start = 0;
  // What may stand there, unquoted, in order; empty when nothing fits.
  std::vector<std::string> matches;
  // The text that replaces the line from `start` to the cursor: the one match
  // (quoted when it holds blanks, followed by a blank), or what all matches
  // share. Equal to the typed text when completion cannot add anything.
  std::string replacement;
};

// Completes the word that ends at the end of `left` (the line up to the
// cursor).
Completion CompleteLine(const std::string& left, const std::vector<CommandForms>& commands,
                        const NameLookup& names);

}  // namespace orbel::hostapp
