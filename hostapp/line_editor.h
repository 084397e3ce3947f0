// The prompt's line editing on a terminal (libedit): cursor keys and the
// usual Emacs keys, a history kept in a file between runs, Ctrl-R to search
// it, and Tab to complete the word under the cursor. Used only when the
// commands come from a terminal; pipes and files are read as they are.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "completion.h"

namespace orbel::hostapp {

class LineEditor {
 public:
  using Completer = std::function<Completion(const std::string& left)>;
  // Line: a line was entered. Dropped: Ctrl-C abandoned a line being typed.
  // Interrupted: Ctrl-C on an empty line. End: Ctrl-D on an empty line, the
  // end of the input, or a signal after which `stopWanted` answers true.
  enum class Read { Line, Dropped, Interrupted, End };

  // An editor on the terminal `in`, echoing to `out`, with the history of
  // `historyFile` (made, with its folder, at the first line). Null when `in`
  // or `out` is not a terminal, or the terminal cannot be driven.
  // `stopWanted` is asked when a signal interrupts the wait for a key.
  static std::unique_ptr<LineEditor> Open(std::FILE* in, std::FILE* out,
                                          const std::string& historyFile, Completer completer,
                                          std::function<bool()> stopWanted = nullptr);
  ~LineEditor();
  LineEditor(const LineEditor&) = delete;
  LineEditor& operator=(const LineEditor&) = delete;

  // Reads one line (without its newline) and adds it to the history.
  Read ReadLine(const std::string& prompt, std::string* line);

  // Why the history could not be written, once; empty otherwise.
  std::string TakeHistoryProblem();

 private:
  struct Impl;
  explicit LineEditor(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> mImpl;
};

}  // namespace orbel::hostapp
