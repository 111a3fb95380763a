// tavelo-sim: simulates an FMI 1.0 Model Exchange FMU from the command line.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sundials/sundials_config.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/fmu_model.h"
#include "host/options.h"
#include "host/result_file.h"
#include "host/simulation.h"

namespace {

constexpr int ExitFailure = 1;  // the run failed
constexpr int ExitUsage = 2;    // the command line is wrong

using Clock = std::chrono::steady_clock;

// The file the model writes its result into (Tavelo: every variable, a row per recorded time).
constexpr const char* ResultFileName = "dsres.mat";

// ---- SIGINT and SIGTERM ----------------------------------------------------------------------

// The first of them asks the run to end after the step it is in: the model is terminated and
// freed (so its result file is complete), the summary says where the run ended, the exit
// status is 128 + the signal's number. A second one ends the process at once, as the signal
// would have without a handler.
volatile std::sig_atomic_t interruptSignal = 0;

extern "C" void on_interrupt(int sig) {
  if (interruptSignal != 0) {
    struct sigaction byDefault = {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(sig, &byDefault, nullptr);
    raise(sig);  // blocked until the handler returns, then the default action
    return;
  }
  interruptSignal = sig;
}

void catch_interrupts() {
  struct sigaction action = {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  action.sa_flags = SA_RESTART;  // the model's reads and writes go on undisturbed
  for (int sig : {SIGINT, SIGTERM}) {
    struct sigaction before = {};
    sigaction(sig, &action, &before);
    // A signal ignored from the start (a background job of a shell) stays ignored.
    if (before.sa_handler == SIG_IGN) sigaction(sig, &before, nullptr);
  }
}

const char* signal_name(int sig) {
  return sig == SIGINT ? "SIGINT" : sig == SIGTERM ? "SIGTERM" : "a signal";
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string seconds_text(double t) {
  char text[40];
  std::snprintf(text, sizeof text, "%g s", t);
  return text;
}

// The result directory with the folders above it that are missing, as mkdir -p makes them.
void make_result_directory(const std::string& directory) {
  for (size_t end = directory.find('/', 1);; end = directory.find('/', end + 1)) {
    const std::string folder = directory.substr(0, end);
    if (folder.back() != '/' && mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
      throw HostError("cannot make the result directory " + directory + ": " +
                      (folder.size() < directory.size() ? folder + ": " : "") +
                      std::strerror(errno));
    if (end == std::string::npos) break;
  }
}

// The run then works in the result directory.
void enter_result_directory(const std::string& directory) {
  if (chdir(directory.c_str()) != 0)
    throw HostError("cannot enter the result directory " + directory + ": " +
                    std::strerror(errno));
}

std::string current_directory() {
  std::vector<char> buffer(4096);
  return getcwd(buffer.data(), buffer.size()) ? buffer.data() : ".";
}

// The path a chain of symbolic links ends at; the path itself when it is no link. A link's
// relative target lies in the link's folder.
std::string final_link_target(std::string path) {
  for (int hop = 0; hop < 40; ++hop) {
    char target[4096];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof target) break;
    const std::string next(target, static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    path = next[0] == '/' || slash == std::string::npos ? next : path.substr(0, slash + 1) + next;
  }
  return path;
}

// The folder a file path lies in.
std::string folder_of(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The library creates or truncates "dsres.mat" in the result directory when the model is
// initialised, and ends the process when it cannot. The host finds out first, without
// creating or changing the file: an existing one must open for writing (not a folder, not
// read-only), else the folder must take a new file; for a symbolic link to a file yet to be
// made, the folder of the link's target.
void check_result_file(const std::string& directory) {
  std::string folder = directory.empty() ? current_directory() : directory;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::string path = (folder == "/" ? "" : folder) + "/dsres.mat";
  const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    close(fd);
    return;
  }
  std::string link;
  if (errno == ENOENT) {
    const std::string target = final_link_target(path);
    if (target != path) link = " (a link to " + target + ")";
    if (faccessat(AT_FDCWD, folder_of(target).c_str(), W_OK | X_OK, AT_EACCESS) == 0) return;
  }
  throw HostError("cannot write the result file " + path + link + ": " + std::strerror(errno));
}

// One line on the terminal that shows how far the run is, once it takes longer than a second.
class ProgressLine {
 public:
  ProgressLine(bool enabled, double start, double stop)
      : enabled_(enabled && isatty(STDERR_FILENO)), start_(start), stop_(stop) {}
  void update(double t) {
    if (!enabled_) return;
    const auto now = Clock::now();
    if (now - begin_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(100))
      return;
    last_ = now;
    std::fprintf(stderr, "\rtavelo-sim: t = %.3f s of %g s (%3.0f %%)", t, stop_,
                 100.0 * (t - start_) / (stop_ - start_));
    std::fflush(stderr);
    shown_ = true;
  }
  void clear() {
    if (shown_) std::fputs("\r\033[K", stderr);
    shown_ = false;
  }

 private:
  bool enabled_;
  double start_, stop_;
  Clock::time_point begin_ = Clock::now();
  Clock::time_point last_{};
  bool shown_ = false;
};

// The rows of the result file, when this run wrote one.
struct ResultRows {
  bool written = false;
  std::optional<long> rows;  // nothing when the file does not read as a result file
};

void print_result_rows(const ResultRows& r) {
  if (!r.written)
    std::printf("  result rows       none counted (no %s written by this run)\n", ResultFileName);
  else if (!r.rows)
    std::printf("  result rows       none counted (%s holds no readable data_2)\n",
                ResultFileName);
  else
    std::printf("  result rows       %ld in %s\n", *r.rows, ResultFileName);
}

void print_summary(const std::string& fmuPath, const SimulationSettings& s,
                   const SimulationSummary& summary, const ResultRows& rows, double wallTime) {
  if (!summary.started) {
    std::printf("%s: interrupted by %s before the simulation started\n", fmuPath.c_str(),
                signal_name(summary.interruptedBy));
    print_result_rows(rows);
    std::printf("  wall time         %.3f s\n", wallTime);
    return;
  }
  std::string how;
  if (summary.stoppedByModel) how = " (stopped by the model)";
  if (summary.interruptedBy != 0)
    how = std::string(", interrupted by ") + signal_name(summary.interruptedBy) +
          " (stop time " + seconds_text(s.stop) + ")";
  std::printf("%s: simulated from %g s to %.9g s%s\n", fmuPath.c_str(), s.start, summary.endTime,
              how.c_str());
  std::printf("  integrator steps  %ld\n", summary.steps);
  std::printf("  events            %ld\n", summary.events);
  std::printf("  output points     %ld (every %g s)\n", summary.outputPoints, s.interval);
  print_result_rows(rows);
  std::printf("  final states\n");
  size_t width = 0;
  for (const auto& [name, value] : summary.finalStates) width = std::max(width, name.size());
  for (const auto& [name, value] : summary.finalStates)
    std::printf("    %-*s  %.10g\n", static_cast<int>(width), name.c_str(), value);
  if (summary.warnings > 0)
    std::printf("  warnings          %ld calls returned fmiWarning, the first %s\n",
                summary.warnings, summary.firstWarning.c_str());
  std::printf("  wall time         %.3f s\n", wallTime);
  std::printf("  result in         %s\n", current_directory().c_str());
}

int run(const Options& o) {
  const Clock::time_point begin = Clock::now();
  SimulationSettings s;
  // What the command line asks is checked against the model description, and the result
  // directory made ready, before the library is loaded.
  const Fmu fmu(o.fmuPath, [&](const ModelDescription& d) {
    s.start = o.start.value_or(d.defaultStart.value_or(0.0));
    s.stop = o.stop.value_or(d.defaultStop.value_or(s.start + 1.0));
    // Without --start and --stop the times are the FMU's own: a default experiment that ends
    // before it starts is a broken FMU, not a bad command line.
    if (!(s.stop > s.start) && !o.start && !o.stop)
      throw HostError("modelDescription.xml: the default experiment's stop time " +
                      seconds_text(s.stop) + " does not lie after its start time " +
                      seconds_text(s.start));
    if (!(s.stop > s.start))
      throw UsageError("the stop time " + seconds_text(s.stop) +
                       " does not lie after the start time " + seconds_text(s.start));
    for (const Assignment& a : o.assignments) resolve_assignment(d, a);
    if (!o.resultDirectory.empty()) make_result_directory(o.resultDirectory);
    check_result_file(o.resultDirectory);
  });
  s.interval = o.interval;
  s.tolerance = o.tolerance;
  s.assignments = o.assignments;
  s.log = o.log;
  s.interrupt = &interruptSignal;
  if (!o.resultDirectory.empty()) enter_result_directory(o.resultDirectory);

  ProgressLine progress(!o.quiet, s.start, s.stop);
  SimulationSummary summary;
  const FileStamp before = stamp_of(ResultFileName);
  try {
    summary = simulate(fmu, s, [&](double t) { progress.update(t); });
  } catch (...) {
    progress.clear();
    throw;
  }
  progress.clear();
  if (!o.quiet) {
    // The model has been freed: its file is closed, whole.
    ResultRows rows;
    rows.written = written_since(before, stamp_of(ResultFileName));
    if (rows.written) rows.rows = result_rows(ResultFileName);
    print_summary(o.fmuPath, s, summary, rows, seconds_since(begin));
  }
  // A run with warnings ends well, but not unnoticed: one line even with --quiet.
  if (summary.warnings > 0) {
    std::fflush(stdout);
    std::fprintf(stderr, "tavelo-sim: warning: %ld calls returned fmiWarning, the first %s\n",
                 summary.warnings, summary.firstWarning.c_str());
  }
  return summary.interruptedBy != 0 ? 128 + summary.interruptedBy : 0;
}

}  // namespace

int main(int argc, char** argv) {
  catch_interrupts();
  const ParsedOptions parsed = parse_options(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "tavelo-sim: %s (see tavelo-sim --help)\n", parsed.error.c_str());
    return ExitUsage;
  }
  const Options& o = parsed.options;
  if (o.help) {
    std::fputs(usageText, stdout);
    return 0;
  }
  if (o.version) {
    std::printf("tavelo-sim 1.0 (FMI 1.0 Model Exchange host, SUNDIALS CVODE %s)\n",
                SUNDIALS_VERSION);
    return 0;
  }
  try {
    return run(o);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "tavelo-sim: %s (see tavelo-sim --help)\n", e.what());
    return ExitUsage;
  } catch (const HostError& e) {
    std::fprintf(stderr, "tavelo-sim: %s\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tavelo-sim: internal error: %s\n", e.what());
  }
  return ExitFailure;
}
