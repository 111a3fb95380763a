#include "host/memory_budget.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

#include "host/errors.h"

namespace {

constexpr double NoLimit = std::numeric_limits<double>::infinity();

// Bytes as the messages give them: "25.6 GB".
std::string gigabytes(double bytes) {
  char text[40];
  std::snprintf(text, sizeof text, "%.3g GB", bytes / 1e9);
  return text;
}

// The bytes a limit file gives; NoLimit for a file that does not read as a number of them,
// "max" among them.
double limit_in(const std::string& file) {
  std::ifstream in(file);
  std::string text;
  if (!(in >> text)) return NoLimit;
  char* end = nullptr;
  const double bytes = std::strtod(text.c_str(), &end);
  return end != text.c_str() && *end == '\0' && bytes > 0.0 ? bytes : NoLimit;
}

// The smallest limit in the cgroup at path below top and in those above it, up to top's own.
double smallest_limit(const std::string& top, std::string path, const std::string& file) {
  double limit = NoLimit;
  for (;;) {
    limit = std::min(limit, limit_in(top + path + "/" + file));
    const size_t slash = path.find_last_of('/');
    if (path.empty() || slash == std::string::npos) return limit;
    path.erase(slash);  // "/a/b" to "/a", "/a" and "/" to "", that is top
  }
}

bool lists(const std::string& controllers, const std::string& controller) {
  std::istringstream list(controllers);
  for (std::string c; std::getline(list, c, ',');)
    if (c == controller) return true;
  return false;
}

}  // namespace

double integrator_memory(size_t states, size_t indicators) {
  constexpr double DenseMatrices = 2;  // the Jacobian and the linear solver's saved copy
  // The integrator's history of order 5 and its work vectors, the linear solver's vectors and
  // pivots, the host's own copies.
  constexpr double StateVectors = 40;
  // The integrator's values at both ends of the root search, the root's, its flags; the
  // host's copy.
  constexpr double IndicatorArrays = 8;
  const double n = static_cast<double>(states);
  const double nz = static_cast<double>(indicators);
  return DenseMatrices * 8.0 * n * (n + 1.0) + StateVectors * 8.0 * n + IndicatorArrays * 8.0 * nz;
}

void check_memory(size_t states, size_t indicators, double memory, bool cgroupLimit) {
  const double needed = integrator_memory(states, indicators);
  if (needed <= memory / 2.0) return;
  throw HostError("modelDescription.xml: " + std::to_string(states) +
                  " continuous states and " + std::to_string(indicators) +
                  " event indicators would take " + gigabytes(needed) +
                  " for the integrator (its dense Jacobian grows with the square of the "
                  "states), more than half of " +
                  (cgroupLimit ? "the " + gigabytes(memory) +
                                     " of memory that the cgroup of this process allows"
                               : "this machine's " + gigabytes(memory) + " of memory"));
}

void check_run_memory(size_t states, size_t indicators, double machine, double cgroup) {
  check_memory(states, indicators, std::min(machine, cgroup), cgroup < machine);
}

void check_run_memory(size_t states, size_t indicators) {
  check_run_memory(states, indicators, physical_memory(), cgroup_memory_limit());
}

double physical_memory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return NoLimit;
  return static_cast<double>(pages) * static_cast<double>(pageSize);
}

double cgroup_memory_limit(const std::string& cgroupList, const std::string& root) {
  std::ifstream in(cgroupList);
  double limit = NoLimit;
  // Each line: hierarchy:controllers:path.
  for (std::string line; std::getline(in, line);) {
    const size_t first = line.find(':');
    const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string hierarchy = line.substr(0, first);
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    if (hierarchy == "0" && controllers.empty())
      limit = std::min(limit, smallest_limit(root, path, "memory.max"));
    else if (lists(controllers, "memory"))
      limit = std::min(limit, smallest_limit(root + "/memory", path, "memory.limit_in_bytes"));
  }
  return limit;
}
