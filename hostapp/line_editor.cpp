#include "line_editor.h"

#include <histedit.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cwchar>

#include "file_output.h"

namespace orbel::hostapp {

namespace {

constexpr int kHistoryEntries = 1000;
// More matches than this are counted, not listed.
constexpr std::size_t kMaxListed = 300;

volatile std::sig_atomic_t gInterrupted = 0;
// Whether a line was being typed when Ctrl-C came.
bool gInterruptedWithText = false;

void OnInterrupt(int) { gInterrupted = 1; }

std::size_t CodePoints(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string Shown(const std::string& match) {
  const std::size_t slash = match.find_last_of('/', match.size() >= 2 ? match.size() - 2 : 0);
  return slash == std::string::npos ? match : match.substr(slash + 1);
}

}  // namespace

struct LineEditor::Impl {
  EditLine* el = nullptr;
  History* entries = nullptr;
  std::FILE* out = nullptr;
  int inFd = -1;
  std::string prompt;
  std::string historyFile;
  bool historyFolderMade = false;
  std::string historyProblem;
  bool historyProblemTold = false;
  Completer completer;
  std::function<bool()> stopWanted;

  ~Impl() {
    if (el != nullptr) el_end(el);
    if (entries != nullptr) history_end(entries);
  }

  static Impl* Of(EditLine* el) {
    void* data = nullptr;
    el_get(el, EL_CLIENTDATA, &data);
    return static_cast<Impl*>(data);
  }

  static char* Prompt(EditLine* el) { return Of(el)->prompt.data(); }

  // Bytes from the terminal, decoded in the locale's encoding. Reading
  // ourselves lets Ctrl-C end the read instead of being retried.
  static int ReadChar(EditLine* el, wchar_t* out) {
    Impl* self = Of(el);
    std::mbstate_t state{};
    for (;;) {
      char byte = 0;
      const ssize_t n = read(self->inFd, &byte, 1);
      if (n == 0) return 0;
      if (n < 0) {
        if (errno == EINTR && gInterrupted == 0 && !(self->stopWanted && self->stopWanted())) {
          continue;
        }
        if (gInterrupted != 0) {
          const LineInfo* typed = el_line(el);
          gInterruptedWithText = typed != nullptr && typed->lastchar != typed->buffer;
        }
        return -1;
      }
      wchar_t wide = 0;
      const std::size_t used = std::mbrtowc(&wide, &byte, 1, &state);
      if (used == static_cast<std::size_t>(-2)) continue;
      if (used == static_cast<std::size_t>(-1)) {
        state = std::mbstate_t{};
        continue;
      }
      *out = wide;
      return 1;
    }
  }

  static unsigned char Complete(EditLine* el, int) {
    Impl* self = Of(el);
    const LineInfo* info = el_line(el);
    const std::string left(info->buffer, static_cast<std::size_t>(info->cursor - info->buffer));
    const Completion c = self->completer(left);
    const std::string typed = left.substr(c.start);
    if (c.replacement != typed) {
      el_deletestr(el, static_cast<int>(CodePoints(typed)));
      el_insertstr(el, c.replacement.c_str());
      return CC_REFRESH;
    }
    if (c.matches.size() < 2) return CC_REFRESH_BEEP;
    self->List(c.matches);
    return CC_REDISPLAY;
  }

  void List(const std::vector<std::string>& matches) {
    std::fputc('\n', out);
    if (matches.size() > kMaxListed) {
      std::fprintf(out, "(%zu matches; type more of the word)\n", matches.size());
      return;
    }
    winsize size{};
    const int width = ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0
                          ? static_cast<int>(size.ws_col)
                          : 80;
    std::size_t widest = 1;
    for (const auto& m : matches) widest = std::max(widest, CodePoints(Shown(m)));
    const std::size_t columns =
        std::max<std::size_t>(1, static_cast<std::size_t>(width) / (widest + 2));
    const std::size_t rows = (matches.size() + columns - 1) / columns;
    for (std::size_t row = 0; row < rows; ++row) {
      for (std::size_t column = 0; column < columns; ++column) {
        const std::size_t i = column * rows + row;
        if (i >= matches.size()) break;
        const std::string shown = Shown(matches[i]);
        std::fputs(shown.c_str(), out);
        if (column + 1 < columns && i + rows < matches.size()) {
          std::fprintf(out, "%*s", static_cast<int>(widest + 2 - CodePoints(shown)), "");
        }
      }
      std::fputc('\n', out);
    }
    std::fflush(out);
  }

  void Remember(const std::string& line) {
    HistEvent event;
    history(entries, &event, H_ENTER, line.c_str());
    if (!historyFolderMade) {
      const std::size_t slash = historyFile.rfind('/');
      if (slash != std::string::npos && slash > 0) MakeFolders(historyFile.substr(0, slash));
      historyFolderMade = true;
    }
    if (history(entries, &event, H_SAVE, historyFile.c_str()) < 0 && historyProblem.empty() &&
        !historyProblemTold) {
      historyProblem = "the command history is not kept: cannot write '" + historyFile + "'";
    }
  }
};

LineEditor::LineEditor(std::unique_ptr<Impl> impl) : mImpl(std::move(impl)) {}

LineEditor::~LineEditor() = default;

std::unique_ptr<LineEditor> LineEditor::Open(std::FILE* in, std::FILE* out,
                                             const std::string& historyFile, Completer completer,
                                             std::function<bool()> stopWanted) {
  if (isatty(fileno(in)) == 0 || isatty(fileno(out)) == 0) return nullptr;
  auto impl = std::make_unique<Impl>();
  impl->out = out;
  impl->inFd = fileno(in);
  impl->historyFile = historyFile;
  impl->completer = std::move(completer);
  impl->stopWanted = std::move(stopWanted);
  impl->el = el_init("orbel-host", in, out, stderr);
  impl->entries = history_init();
  if (impl->el == nullptr || impl->entries == nullptr) return nullptr;
  HistEvent event;
  history(impl->entries, &event, H_SETSIZE, kHistoryEntries);
  history(impl->entries, &event, H_SETUNIQUE, 1);
  history(impl->entries, &event, H_LOAD, historyFile.c_str());

  EditLine* el = impl->el;
  el_set(el, EL_CLIENTDATA, impl.get());
  el_set(el, EL_EDITOR, "emacs");
  el_set(el, EL_PROMPT, &Impl::Prompt);
  el_set(el, EL_HIST, history, impl->entries);
  el_set(el, EL_GETCFN, &Impl::ReadChar);
  // The wide form keeps the names as given; the narrow one copies them and
  // never frees the copies.
  el_wset(el, EL_ADDFN, L"orbel-complete", L"complete the word under the cursor", &Impl::Complete);
  el_set(el, EL_BIND, "^I", "orbel-complete", nullptr);
  el_set(el, EL_BIND, "^R", "em-inc-search-prev", nullptr);
  // As in other shells, rather than libedit's kill-region.
  el_set(el, EL_BIND, "^W", "ed-delete-prev-word", nullptr);
  // Home, End and Delete as terminals send them, whatever the terminal
  // description says (a TERM copied from another terminal is common).
  static const std::pair<const char*, const char*> kKeys[] = {
      {"\\e[H", "ed-move-to-beg"},      {"\\eOH", "ed-move-to-beg"}, {"\\e[1~", "ed-move-to-beg"},
      {"\\e[F", "ed-move-to-end"},      {"\\eOF", "ed-move-to-end"}, {"\\e[4~", "ed-move-to-end"},
      {"\\e[3~", "ed-delete-next-char"}};
  for (const auto& [keys, function] : kKeys) el_set(el, EL_BIND, keys, function, nullptr);
  // The user's own ~/.editrc, as every libedit program reads it.
  el_source(el, nullptr);
  return std::unique_ptr<LineEditor>(new LineEditor(std::move(impl)));
}

LineEditor::Read LineEditor::ReadLine(const std::string& prompt, std::string* line) {
  mImpl->prompt = prompt;
  // Ctrl-C while typing drops the line, as in other shells; whatever the
  // program does with Ctrl-C otherwise is back in force once the line is in.
  struct sigaction mine {
  }, previous{};
  mine.sa_handler = &OnInterrupt;
  sigemptyset(&mine.sa_mask);
  gInterrupted = 0;
  gInterruptedWithText = false;
  sigaction(SIGINT, &mine, &previous);
  int count = 0;
  const char* text = el_gets(mImpl->el, &count);
  sigaction(SIGINT, &previous, nullptr);
  if (gInterrupted != 0) {
    std::fputs("^C\n", mImpl->out);
    std::fflush(mImpl->out);
    line->clear();
    return gInterruptedWithText ? Read::Dropped : Read::Interrupted;
  }
  if (text == nullptr || count <= 0) return Read::End;
  line->assign(text, static_cast<std::size_t>(count));
  while (!line->empty() && (line->back() == '\n' || line->back() == '\r')) line->pop_back();
  if (line->find_first_not_of(" \t") != std::string::npos) mImpl->Remember(*line);
  return Read::Line;
}

std::string LineEditor::TakeHistoryProblem() {
  std::string problem;
  problem.swap(mImpl->historyProblem);
  if (!problem.empty()) mImpl->historyProblemTold = true;
  return problem;
}

}  // namespace orbel::hostapp
