// Test fixture: a model instance whose logger records every message it receives, formatted as
// an FMI 1.0 host would (the message argument read as a format). Installs itself as the
// current instance for the lifetime of the object.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fmi/model_instance.h"
#include "logged_text.h"
#include "runtime/runtime_state.h"

struct LoggedMessage {
  std::string instanceName;
  fmiStatus status;
  std::string category;
  std::string text;
};

class LogCapture {
 public:
  explicit LogCapture(bool loggingOn = true) {
    instance_ = ModelInstance{};
    instance_.instanceName = name_;
    instance_.loggingOn = loggingOn ? 1 : 0;
    instance_.logger = &LogCapture::record;
    previous_ = currentInstance;
    currentInstance = &instance_;
    active() = this;
  }
  ~LogCapture() {
    currentInstance = previous_;
    active() = nullptr;
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::vector<LoggedMessage>& messages() const { return messages_; }
  // The texts of all messages, in order.
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const auto& m : messages_) out.push_back(m.text);
    return out;
  }
  // The log as one string, as a host would print it.
  std::string joined() const {
    std::string out;
    for (const auto& m : messages_) out += m.text;
    return out;
  }
  void clear() { messages_.clear(); }
  ModelInstance& instance() { return instance_; }

 private:
  static LogCapture*& active() {
    static LogCapture* capture = nullptr;
    return capture;
  }
  static void record(fmiComponent, fmiString instanceName, fmiStatus status, fmiString category,
                     fmiString message, ...) {
    va_list args;
    va_start(args, message);
    std::string text = logged_text(message, args);
    va_end(args);
    if (LogCapture* self = active())
      self->messages_.push_back({instanceName ? instanceName : "", status, category ? category : "",
                                 std::move(text)});
  }

  char name_[8] = "capture";
  ModelInstance instance_;
  ModelInstance* previous_ = nullptr;
  std::vector<LoggedMessage> messages_;
};

// Runs f and tells whether it raised a model error (the unwinding to the model entry).
template <class F>
bool raises_model_error(F&& f) {
  try {
    f();
  } catch (const ModelErrorReturn&) {
    return true;
  }
  return false;
}

// Makes a locale current for the process while it lives; throws nothing, reports availability.
#include <clocale>
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    previous_ = old ? old : "C";
    ok_ = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~ScopedLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
  bool ok() const { return ok_; }

 private:
  std::string previous_;
  bool ok_ = false;
};

// A locale with a decimal comma, by the platform's name for it (set by the build).
constexpr const char* DecimalCommaLocale = TAVELO_DECIMAL_COMMA_LOCALE;
