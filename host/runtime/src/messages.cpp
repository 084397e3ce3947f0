#include "fbhost/messages.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace fbhost {
namespace {

struct MessageTable {
  std::mutex lock;
  std::vector<HostMessage> messages;
  std::atomic<bool> echo{true};
};

MessageTable& Table() {
  // Never destroyed: plug-in statics may report during exit.
  static MessageTable* table = new MessageTable;
  return *table;
}

const char* LevelName(MessageLevel level) {
  switch (level) {
    case MessageLevel::Info:
      return "info";
    case MessageLevel::Warning:
      return "warning";
    case MessageLevel::Error:
      return "error";
  }
  return "message";
}

}  // namespace

void ReportMessage(MessageLevel level, const std::string& text) {
  auto& table = Table();
  if (table.echo.load())
    std::fprintf(stderr, "orbel-host: %s: %s\n", LevelName(level), text.c_str());
  std::lock_guard<std::mutex> lock(table.lock);
  // A runaway reporter must not eat the memory: keep the newest ones.
  constexpr std::size_t kKept = 10000;
  if (table.messages.size() >= kKept) table.messages.erase(table.messages.begin());
  table.messages.push_back(HostMessage{level, text});
}

std::vector<HostMessage> Messages() {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.lock);
  return table.messages;
}

void ClearMessages() {
  auto& table = Table();
  std::lock_guard<std::mutex> lock(table.lock);
  table.messages.clear();
}

void SetMessageEcho(bool on) { Table().echo.store(on); }

}  // namespace fbhost
