#include "cli/cli_host.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <memory>
#include <vector>

#include "common/cancel.h"
#include "fs/env.h"
#include "fs/file_search.h"
#include "pst/ndb/live_temp_files.h"

namespace cli {
namespace {

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_skip = 0;
volatile std::sig_atomic_t g_stops = 0;

// The first Ctrl-C stops after the current message, keeping a complete file; a second one means
// the user will not wait for that: end now, and leave the target as it was.
void OnStop(int) {
  g_stop = 1;
  // Reaches the loops inside a large message too, so the stop does not wait for its end.
  quill::RequestCancel();
  g_stops = g_stops + 1;
  if (g_stops < 2) return;
  pst::ndb::RemoveLiveTemporaryFiles();
  constexpr char kText[] = "\nquillsort-convert: stopped at once; the target was left as it was\n";
  const ssize_t ignored = write(STDERR_FILENO, kText, sizeof kText - 1);
  (void)ignored;  // nothing more can be done about a failed message on the way out
  _exit(130);
}
void OnSkip(int) { g_skip = 1; }

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

CliHost::CliHost(const Options& options, engine::SharedState& shared, std::FILE* out)
    : options_(options), shared_(shared), out_(out), terminal_(isatty(fileno(out)) != 0) {}

void CliHost::InstallSignalHandlers() {
  struct sigaction stop = {};
  stop.sa_handler = OnStop;
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  struct sigaction skip = {};
  skip.sa_handler = OnSkip;
  sigaction(SIGUSR1, &skip, nullptr);
}

double CliHost::EndStretch() {
  const double now =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
  if (lastYieldMs_ >= 0) longestStretchMs_ = std::max(longestStretchMs_, now - lastYieldMs_);
  return now;
}

void CliHost::Yield() {
  lastYieldMs_ = EndStretch();
  if (g_stop) {
    g_stop = 0;
    shared_.StopRequested = true;
    shared_.StopConfirmed = true;
  }
  if (g_skip) {
    g_skip = 0;
    shared_.SkipRequested = true;
  }
  Draw(false);
}

void CliHost::Draw(bool force) {
  if (!terminal_) return;
  const long long now = NowMs();
  if (!force && now - lastDrawMs_ < 100) return;
  lastDrawMs_ = now;
  const int percent = static_cast<int>(progress_.ProgressBar1Value + 0.5f);
  const int filled = std::clamp(percent, 0, 100) / 5;
  std::string line = "[" + std::string(filled, '#') + std::string(20 - filled, ' ') + "] " +
                     progress_.lblProgress + "  " + progress_.lblCount1;
  if (line.size() > 110) line = line.substr(0, 107) + "...";
  std::fprintf(out_, "\r%s%s", line.c_str(),
               std::string(lastWidth_ > line.size() ? lastWidth_ - line.size() : 0, ' ').c_str());
  lastWidth_ = line.size();
  std::fflush(out_);
}

void CliHost::lvMarkRow(std::int32_t index, engine::RowState state) {
  // The end of each folder is told by the summary; only its start is a line of its own.
  if (state != engine::RowState::kConverting) return;
  if (terminal_ && lastWidth_ > 0) std::fputc('\n', out_);
  lastWidth_ = 0;
  std::fprintf(out_, "Converting folder %s\n", rows_.at(index - 1).SubItem.c_str());
}

engine::SaveChoice CliHost::cdlgFileShowSave(const std::string&, const std::string& fileName) {
  std::string path = options_.target;
  fs::Env& env = fs::SystemEnv();
  if (fs::IsDirectory(env, path)) path += (path.back() == '/' ? "" : "/") + fileName;
  fs::FileInfo taken;
  if (env.Stat(path, false, &taken) == 0 && !options_.overwrite) {
    // The Save dialog asks before it replaces a file; without a terminal to ask on, the answer is no.
    bool yes = false;
    if (isatty(STDIN_FILENO)) {
      std::fprintf(out_, "\n%s already exists. Replace it when the new file is complete? [y/N] ",
                   path.c_str());
      std::fflush(out_);
      char answer[16] = {};
      yes = std::fgets(answer, sizeof answer, stdin) != nullptr && (answer[0] == 'y' || answer[0] == 'Y');
    }
    if (!yes) {
      saveProblem_ = path + " already exists; nothing was written (use --overwrite to replace it)";
      return {};
    }
  }
  return {true, path};
}

engine::MsgBoxResult CliHost::MsgBox(const std::string& text, engine::MsgBoxStyle style,
                                     const std::string& title) {
  // A box runs the window's event loop: the stretch up to it counts, and starts again after it.
  EndStretch();
  lastYieldMs_ = -1;
  if (style != engine::MsgBoxStyle::kInformationOk)
    return engine::MsgBoxResult::kYes;  // signals are confirmed
  if (terminal_ && lastWidth_ > 0) std::fputc('\n', out_);
  lastWidth_ = 0;
  std::string plain = text;
  for (std::size_t p; (p = plain.find('\r')) != std::string::npos;) plain.erase(p, 1);
  std::fprintf(out_, "%s: %s\n", title.c_str(), plain.c_str());
  return engine::MsgBoxResult::kOk;
}

std::tm CliHost::Now() {
  const std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return local;
}

bool CliHost::LoadRows(std::string& error) {
  std::string root = options_.root;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::vector<std::string> names = options_.names;
  if (names.empty()) {
    std::unique_ptr<fs::Directory> dir;
    std::vector<std::string> entries;
    if (fs::SystemEnv().OpenDirectory(root, &dir) != 0 || dir->List(&entries) != 0) {
      error = "cannot list the folder \"" + options_.root + "\"";
      return false;
    }
    for (const std::string& name : entries) {
      if (fs::IsDirectory(fs::SystemEnv(), root + "/" + name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
  }
  for (const std::string& name : names) {
    const std::string path = root + "/" + name;
    if (!fs::IsDirectory(fs::SystemEnv(), path)) {
      error = "the folder \"" + path + "\" does not exist";
      return false;
    }
    rows_.push_back({true, name, path});
  }
  return true;
}

}  // namespace cli
