#include "host/replay.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int ReplaySeconds = 10;               // a replay still running then is ended
constexpr size_t ReplayOutputLimit = 1u << 20;  // bytes taken from the child at most
constexpr size_t ReportLines = 20;              // lines of the model's report shown at most
constexpr size_t ReportLineLength = 300;        // characters of one line at most
constexpr int InterruptCheckMs = 100;           // how often a signal's flag is looked at

// The child's end of the pipe and whether messages are captured (in the child only).
int replayFd = -1;
bool capturing = false;

// The child reports in records: a kind, its text, a NUL. 'M' a message (its status as a
// digit, then the text), 'S' the status of the replayed call, 'F' a failed set-up.
void write_record(char kind, const std::string& text) {
  std::string record(1, kind);
  record += text;
  record += '\0';
  const char* p = record.data();
  size_t left = record.size();
  while (left > 0) {
    const ssize_t n = write(replayFd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) _exit(3);  // the host stopped listening
    p += n;
    left -= static_cast<size_t>(n);
  }
}

char status_digit(fmiStatus status) { return static_cast<char>('0' + static_cast<int>(status)); }

fmiStatus status_of(char digit) {
  const int s = digit - '0';
  return s >= fmiOK && s <= fmiFatal ? static_cast<fmiStatus>(s) : fmiFatal;
}

// Standard streams on /dev/null, the pipe as descriptor 3, every other descriptor closed: the
// run's result file among them, so nothing the child does can write into it.
void isolate_child(int pipeEnd) {
  const int pipeFd = fcntl(pipeEnd, F_DUPFD, 3);
  if (pipeFd < 0) _exit(4);
  const int null = open("/dev/null", O_RDWR);
  if (null < 0) _exit(4);
  for (int fd = 0; fd < 3; ++fd)
    if (null != fd && dup2(null, fd) != fd) _exit(4);
  if (pipeFd != 3 && dup2(pipeFd, 3) != 3) _exit(4);
  if (close_range(4, ~0u, 0) != 0)
    for (int fd = 4; fd < 65536; ++fd) close(fd);
  replayFd = 3;
}

[[noreturn]] void child(pid_t host, int pipeEnd, const std::string& folder,
                        const std::function<fmiStatus()>& body) {
  // A host ended at once (a second signal, SIGKILL) takes its replay with it: a model that
  // hangs would otherwise run on for ever.
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != host) _exit(4);
  std::signal(SIGPIPE, SIG_IGN);
  isolate_child(pipeEnd);
  if (chdir(folder.c_str()) != 0) _exit(4);
  try {
    const fmiStatus status = body();
    capturing = false;
    write_record('S', std::string(1, status_digit(status)));
  } catch (...) {
    _exit(5);
  }
  // No exit handlers, no flushing of stdio buffers taken over from the host.
  _exit(0);
}

// The child's scratch folder, removed with what the model left in it.
void remove_folder(const std::string& folder) {
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") unlink((folder + "/" + name).c_str());
    }
    closedir(dir);
  }
  rmdir(folder.c_str());
}

int interrupted_by(InterruptFlag interrupt) { return interrupt != nullptr ? *interrupt : 0; }

std::string interrupted_text(int sig) {
  return "the replay was interrupted by " +
         (sig == SIGINT    ? std::string("SIGINT")
          : sig == SIGTERM ? std::string("SIGTERM")
                           : "signal " + std::to_string(sig));
}

enum class Read { Complete, Stop, Interrupted };

// Reads what the child writes until it closes its end (Complete), the deadline passes or the
// limit is reached (Stop), or a signal asks the run to end (Interrupted). The flag is looked
// at whenever a signal breaks the wait, and at least every InterruptCheckMs.
Read read_child(int fd, std::string& bytes, std::chrono::steady_clock::time_point deadline,
                InterruptFlag interrupt) {
  char buffer[4096];
  for (;;) {
    if (interrupted_by(interrupt) != 0) return Read::Interrupted;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Read::Stop;
    pollfd p{fd, POLLIN, 0};
    const int ready =
        poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), InterruptCheckMs)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Read::Stop;
    if (ready == 0) continue;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Read::Complete;  // the child closed its end
    bytes.append(buffer, static_cast<size_t>(n));
    if (bytes.size() > ReplayOutputLimit) return Read::Stop;
  }
}

// Waits for the child until the deadline, then ends it. The child's wait status.
int reap(pid_t pid, std::chrono::steady_clock::time_point deadline, bool stop) {
  int status = 0;
  while (!stop) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return status;
}

}  // namespace

ReplayOutcome run_replay(const std::function<fmiStatus()>& body,
                         InterruptFlag interrupt) noexcept {
  ReplayOutcome outcome;
  try {
    if (const int sig = interrupted_by(interrupt); sig != 0) {
      outcome.problem = interrupted_text(sig);
      return outcome;
    }
    // Named like the scratch folder of the FMU's binary, after the host's pid: where the host
    // is killed during the replay, a later run removes it.
    const pid_t host = getpid();
    std::string folder = scratch_folder_template();
    if (mkdtemp(folder.data()) == nullptr) {
      outcome.problem = std::string("no folder for the replay: ") + std::strerror(errno);
      return outcome;
    }
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
      outcome.problem = std::string("no pipe for the replay: ") + std::strerror(errno);
      rmdir(folder.c_str());
      return outcome;
    }
    const pid_t pid = fork();
    if (pid == 0) {
      close(pipeFds[0]);
      child(host, pipeFds[1], folder, body);
    }
    close(pipeFds[1]);
    if (pid < 0) {
      outcome.problem = std::string("the replay could not start: ") + std::strerror(errno);
      close(pipeFds[0]);
      rmdir(folder.c_str());
      return outcome;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(ReplaySeconds);
    std::string bytes;
    const Read read = read_child(pipeFds[0], bytes, deadline, interrupt);
    const bool complete = read == Read::Complete;
    close(pipeFds[0]);
    const int wait = reap(pid, deadline, !complete);
    remove_folder(folder);
    if (read == Read::Interrupted) {
      outcome.problem = interrupted_text(interrupted_by(interrupt));
      return outcome;
    }

    std::string setupFailure;
    size_t at = 0;
    while (at < bytes.size()) {
      const size_t end = bytes.find('\0', at);
      if (end == std::string::npos) break;  // cut short
      const std::string record = bytes.substr(at, end - at);
      at = end + 1;
      if (record.size() >= 2 && record[0] == 'M') {
        outcome.messages.emplace_back(status_of(record[1]), record.substr(2));
      } else if (record.size() == 2 && record[0] == 'S') {
        outcome.ended = true;
        outcome.status = status_of(record[1]);
      } else if (!record.empty() && record[0] == 'F') {
        setupFailure = record.substr(1);
      }
    }
    if (outcome.ended) return outcome;
    if (!setupFailure.empty())
      outcome.problem = "the replay failed before the call: " + setupFailure;
    else if (!complete)
      outcome.problem = "the replay did not end within " + std::to_string(ReplaySeconds) + " s";
    else if (wait != -1 && WIFSIGNALED(wait))
      outcome.problem = std::string("the replay ended by signal ") +
                        std::to_string(WTERMSIG(wait)) + " (" + strsignal(WTERMSIG(wait)) + ")";
    else
      outcome.problem = "the replay ended without an outcome";
  } catch (...) {
    outcome.ended = false;
    outcome.problem = "the replay could not run";
  }
  return outcome;
}

void replay_capture(bool on) { capturing = on; }

void replay_setup_failed(const std::string& what) {
  capturing = false;
  write_record('F', what);
  _exit(0);
}

bool in_replay() { return replayFd >= 0; }

void replay_message(fmiStatus status, const std::string& text) {
  if (capturing) write_record('M', std::string(1, status_digit(status)) + text);
}

ReplayOutcome replay_on_instance(const FmiFunctions& fmi, fmiComponent c, const ReplayRequest& r,
                                 InterruptFlag interrupt) {
  return run_replay([&]() {
    fmi.SetDebugLogging(c, fmiTrue);
    replay_capture(true);
    if (r.atPoint) {
      fmi.SetTime(c, r.time);
      fmi.SetContinuousStates(c, r.states.data(), r.states.size());
    }
    return r.again(c);
  }, interrupt);
}

std::vector<std::string> message_lines(const std::vector<std::string>& messages) {
  std::vector<std::string> lines;
  for (const std::string& m : messages) {
    size_t begin = 0;
    while (begin <= m.size()) {
      size_t end = m.find('\n', begin);
      if (end == std::string::npos) end = m.size();
      std::string line = m.substr(begin, end - begin);
      while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t'))
        line.pop_back();
      if (!line.empty()) lines.push_back(std::move(line));
      begin = end + 1;
    }
  }
  return lines;
}

std::string cut_line(std::string line) {
  if (line.size() > ReportLineLength) line = line.substr(0, ReportLineLength - 3) + "...";
  return line;
}

std::string failure_report(const ReplayOutcome* outcome, const std::vector<std::string>& shown) {
  const std::string logHint = "--log shows the model's messages";
  if (outcome == nullptr) return " (" + logHint + ")";
  if (!outcome->ended) return " (" + outcome->problem + "; " + logHint + ")";
  if (outcome->status <= fmiWarning)
    return " (made again with debug logging on, the call did not fail; " + logHint + ")";
  std::vector<std::string> said;
  for (const auto& message : outcome->messages) said.push_back(message.second);
  const std::vector<std::string> known = message_lines(shown);
  std::vector<std::string> report;
  for (std::string& line : message_lines(said))
    if (std::find(known.begin(), known.end(), line) == known.end())
      report.push_back(std::move(line));
  std::string text;
  for (size_t i = 0; i < report.size() && i < ReportLines; ++i)
    text += "\n  " + cut_line(report[i]);
  if (report.size() > ReportLines)
    text += "\n  ... " + std::to_string(report.size() - ReportLines) +
            " more lines (--log shows them all)";
  return text;
}
