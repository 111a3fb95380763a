// The model's messages as the host holds them for a call and reports them after a failure.
#include <gtest/gtest.h>

#include <string>

#include "host/model_messages.h"

namespace {

void say(fmiStatus status, const std::string& text) {
  host_logger(nullptr, "m", status, "", "%s", text.c_str());
}

class ModelMessages : public ::testing::Test {
 protected:
  void SetUp() override { drop_call_messages(); }
  void TearDown() override { drop_call_messages(); }
};

TEST_F(ModelMessages, ErrorsGoOnTheHostsLineTheOtherLinesBelowIt) {
  say(fmiOK, "The following error was detected at time: 0\n");
  say(fmiOK, "Model error - division by zero");
  say(fmiError, "fmiInitialize: dsblock_ failed, QiErr = 1");
  say(fmiError, "second error");
  const CallMessages m = take_call_messages();
  EXPECT_FALSE(call_said_anything());
  EXPECT_EQ(error_messages(m), "fmiInitialize: dsblock_ failed, QiErr = 1; second error");
  EXPECT_EQ(report_lines(m),
            "\n  The following error was detected at time: 0\n  Model error - division by zero");
}

TEST_F(ModelMessages, AReportShowsTwentyLinesAndCountsTheRest) {
  struct Case {
    int lines;
    std::string last;  // the report's last line
  };
  const Case cases[] = {
      {20, "  line 20"},
      {21, "  ... 1 more lines (--log shows them all)"},
      // Beyond the 300 lines held a call's messages are counted, not kept.
      {300, "  ... 280 more lines (--log shows them all)"},
      {450, "  ... 430 more lines (--log shows them all)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    for (int i = 1; i <= c.lines; ++i) say(fmiOK, "line " + std::to_string(i));
    const CallMessages m = take_call_messages();
    EXPECT_LE(m.messages.size(), 300u);
    const std::string report = report_lines(m);
    EXPECT_EQ(report.substr(report.rfind('\n') + 1), c.last);
    EXPECT_EQ(report.substr(0, 10), "\n  line 1\n");
  }
}

TEST_F(ModelMessages, AMessageLongerThanTheBoundIsHeldUpToIt) {
  std::string text;
  for (int i = 1; i <= 350; ++i) text += (i > 1 ? "\n" : "") + ("L" + std::to_string(i));
  say(fmiOK, text);
  const CallMessages chatter = take_call_messages();
  const std::string report = report_lines(chatter);
  EXPECT_EQ(report.substr(0, 11), "\n  L1\n  L2\n");
  EXPECT_EQ(report.substr(report.rfind('\n') + 1), "  ... 330 more lines (--log shows them all)");
  // An error's lines beyond the bound are no lines of the report.
  say(fmiError, text);
  const CallMessages error = take_call_messages();
  EXPECT_EQ(error_messages(error).substr(0, 6), "L1\nL2\n");
  EXPECT_EQ(error_messages(error).substr(error_messages(error).rfind('\n') + 1), "L300");
  EXPECT_EQ(report_lines(error), "");
}

TEST_F(ModelMessages, ErrorsAreHeldBesideALongCall) {
  for (int i = 0; i < 400; ++i) say(fmiOK, "chatter");
  say(fmiFatal, "the reason");
  EXPECT_EQ(error_messages(take_call_messages()), "the reason");
}

TEST_F(ModelMessages, AWarningIsNamedByItsOwnMessages) {
  say(fmiOK, "context");
  say(fmiWarning, "argument nx = 3 is incorrect  \nshould be 4");
  EXPECT_EQ(warning_text(take_call_messages()), "argument nx = 3 is incorrect; should be 4");
  say(fmiOK, "only this");
  say(fmiOK, "and this");
  EXPECT_EQ(warning_text(take_call_messages()), "only this; and this");
  EXPECT_EQ(warning_text(take_call_messages()), "");
  say(fmiWarning, std::string(400, 'x'));
  EXPECT_EQ(warning_text(take_call_messages()), std::string(297, 'x') + "...");
}

TEST_F(ModelMessages, TheLoggerFormatsItsArguments) {
  host_logger(nullptr, "m", fmiError, "", "%s = %d%%", "n", 3);
  EXPECT_EQ(error_messages(take_call_messages()), "n = 3%");
}

}  // namespace
