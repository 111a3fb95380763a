// The two ways a run of tavelo-sim ends early: main prints the message and exits with 1 or 2.
#pragma once

#include <stdexcept>

// A failure that ends the run with one message on stderr (exit status 1).
class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A command line that asks for what the model does not allow (times that do not fit its
// default experiment, a --set it has no place for): a bad command line like one that does not
// parse (exit status 2).
class UsageError : public HostError {
 public:
  using HostError::HostError;
};
