// What reaches the server's log from its peers. A client chooses the text
// of its goodbye and how often it connects; neither may choose what the log
// looks like. Kept apart from the event loop so that any loop can use it.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace orbel::server {

// How much of one peer text is logged, counted before escaping.
inline constexpr std::size_t kLoggedPeerTextBytes = 200;

// The text as printable ASCII on one line: a backslash is doubled, tab,
// newline and carriage return become \t, \n and \r, every other byte outside
// 0x20..0x7E becomes \xHH (so no terminal escape sequence and no UTF-8 byte
// passes raw). Past maxBytes the text is cut and says how long it was.
std::string escapeForLog(std::string_view text, std::size_t maxBytes = kLoggedPeerTextBytes);

// Turns a burst of like events (clients refused, accepts failing) into a
// few log lines: the first in full at once, the rest as a count when the
// burst has been quiet for `quiet` and, while it lasts, every `every`.
class LogBurst {
 public:
  using Clock = std::chrono::steady_clock;

  LogBurst(Clock::duration quiet, Clock::duration every) : quiet_(quiet), every_(every) {}

  // Counts one event; true when it opens a burst and is to be logged whole.
  bool note(Clock::time_point now);
  // Events after the first that are not yet logged, when it is time to log
  // them as a count (and they are then taken as logged); 0 otherwise.
  std::size_t due(Clock::time_point now);
  bool open() const { return open_; }

 private:
  Clock::duration quiet_;
  Clock::duration every_;
  bool open_ = false;
  Clock::time_point last_{};
  Clock::time_point reported_{};
  std::size_t unreported_ = 0;
};

}  // namespace orbel::server
