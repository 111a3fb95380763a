#include "host/cgroup_memory.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>

namespace {

constexpr double NoLimit = std::numeric_limits<double>::infinity();

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
