// What `help COMMAND` shows beyond a command's usage line, and what tab
// completion follows: one example per command, and for a command whose later
// words depend on an earlier one, its forms, one usage line each.
#pragma once

#include <string>
#include <vector>

namespace orbel::hostapp {

struct CommandGuide {
  const char* name;
  const char* example;
  std::vector<const char*> forms;  // empty: the usage line is the only form
};

// The guide of a command; null for a command that has none.
const CommandGuide* FindCommandGuide(const std::string& name);

// The panel's actions, in the order help lists them ("set-address", ...).
std::vector<std::string> PanelActionNames();

}  // namespace orbel::hostapp
