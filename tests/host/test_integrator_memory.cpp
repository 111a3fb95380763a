// The bound on the counts of states and event indicators: the memory the integrator takes for
// them against half of the machine's.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "host/errors.h"
#include "host/integrator.h"

namespace {

TEST(IntegratorMemory, GrowsWithTheSquareOfTheStates) {
  // The dense Jacobian and the linear solver's saved copy: 8·n² bytes each, then the vectors.
  for (const size_t n : {1u, 4u, 1000u, 40000u, 100000u}) {
    SCOPED_TRACE(n);
    const double square = 8.0 * static_cast<double>(n) * static_cast<double>(n);
    EXPECT_GE(Integrator::memory_needed(n, 0), 2 * square + 32.0 * 8 * n);
    EXPECT_LE(Integrator::memory_needed(n, 0), 2 * square + 64.0 * 8 * n + 2 * 8 * n);
  }
  // The root finding's arrays: a few values per indicator.
  EXPECT_GE(Integrator::memory_needed(4, 100000) - Integrator::memory_needed(4, 0), 48.0 * 100000);
  EXPECT_LE(Integrator::memory_needed(4, 100000) - Integrator::memory_needed(4, 0), 128.0 * 100000);
}

struct Counts {
  const char* what;
  size_t states, indicators;
  double memory;
  bool refused;
};

TEST(IntegratorMemory, CountsThatTakeMoreThanHalfTheMemoryAreRefused) {
  const double gb = 1e9;
  const double half40000 = Integrator::memory_needed(40000, 32);
  const Counts cases[] = {
      {"the pendulum on a small machine", 4, 32, 0.5 * gb, false},
      {"100000 states on 64 GB", 100000, 32, 64 * gb, true},
      {"40000 states on 32 GB", 40000, 32, 32 * gb, true},
      {"20000 states on 32 GB", 20000, 32, 32 * gb, false},
      {"exactly half the memory", 40000, 32, 2 * half40000, false},
      {"just more than half", 40000, 32, std::nextafter(2 * half40000, 0.0), true},
      {"a machine that cannot tell", 100000, 100000, INFINITY, false},
  };
  for (const Counts& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.refused) {
      EXPECT_NO_THROW(Integrator::check_counts(c.states, c.indicators, c.memory));
      continue;
    }
    try {
      Integrator::check_counts(c.states, c.indicators, c.memory);
      ADD_FAILURE() << "not refused";
    } catch (const HostError& e) {
      const std::string text = e.what();
      EXPECT_EQ(text.rfind("modelDescription.xml: " + std::to_string(c.states) +
                               " continuous states and 32 event indicators would take ", 0),
                0u) << text;
      EXPECT_NE(text.find("more than half of this machine's"), std::string::npos) << text;
    }
  }
}

TEST(IntegratorMemory, TheMessageSaysHowMuch) {
  try {
    Integrator::check_counts(40000, 32, 16e9);
    FAIL() << "not refused";
  } catch (const HostError& e) {
    EXPECT_STREQ(e.what(),
                 "modelDescription.xml: 40000 continuous states and 32 event indicators would "
                 "take 25.6 GB for the integrator (its dense Jacobian grows with the square of "
                 "the states), more than half of this machine's 16 GB of memory");
  }
}

TEST(IntegratorMemory, TheMessageNamesACgroupsLimit) {
  try {
    Integrator::check_counts(8000, 32, 1e9, true);
    FAIL() << "not refused";
  } catch (const HostError& e) {
    EXPECT_STREQ(e.what(),
                 "modelDescription.xml: 8000 continuous states and 32 event indicators would "
                 "take 1.03 GB for the integrator (its dense Jacobian grows with the square of "
                 "the states), more than half of the 1 GB of memory that the cgroup of this "
                 "process allows");
  }
}

TEST(IntegratorMemory, ThisMachineHasMemory) {
  EXPECT_GT(Integrator::physical_memory(), 1e8);
}

}  // namespace
