// The runtime's text reaches the host only through the current instance: while one exists,
// as fmiOK messages under the logging rule; before instantiation and after the free, nowhere.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fmi/fmi_functions.h"
#include "fmi/model_instance.h"

namespace {

std::vector<std::string> received;
std::vector<std::string> receivedNames;

void record(fmiComponent, fmiString instanceName, fmiStatus status, fmiString, fmiString message,
            ...) {
  EXPECT_EQ(status, fmiOK);
  received.push_back(message);
  receivedNames.push_back(instanceName);
}

TEST(FmiLogging, RuntimeTextGoesThroughTheCurrentInstanceOnly) {
  ASSERT_EQ(currentInstance, nullptr);
  received.clear();
  receivedNames.clear();
  log_message_line("before");

  const fmiCallbackFunctions functions{record, std::calloc, std::free};
  fmiComponent c = fmiInstantiateModel("unit", modelGUID, functions, fmiTrue);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(currentInstance, c);
  log_message_line("100% done");
  log_message_text("no line end");
  ASSERT_EQ(fmiSetDebugLogging(c, fmiFalse), fmiOK);
  log_message_line("suppressed");

  fmiFreeModelInstance(c);
  EXPECT_EQ(currentInstance, nullptr);
  log_message_line("after");

  // The texts as handed over: "%" doubled for a logger that reads its message as a format.
  EXPECT_EQ(received, (std::vector<std::string>{"100%% done\n", "no line end"}));
  EXPECT_EQ(receivedNames, (std::vector<std::string>{"unit", "unit"}));
}

}  // namespace
