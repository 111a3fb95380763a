// A disk that fills up during a run, at the FMI boundary: every call returns as it does on a
// disk with room, and "dsres.mat" keeps the rows that fitted, whole and counted, so that any
// MAT reader opens it. The run is made in a forked child with a file-size limit.
#include <sys/resource.h>

#include <csignal>
#include <string>

#include "child_process.h"
#include "fmi_fixture.h"
#include "scipy_check.h"

namespace {

constexpr size_t BytesBeforeRows = 513942;
constexpr size_t BytesPerRow = 432;
// A limit just past the start of the rows: seven rows fit, and part of the eighth.
constexpr rlim_t Limit = 505 * 1024;
constexpr int32_t RowsThatFit = 7;
static_assert(BytesBeforeRows + RowsThatFit * BytesPerRow < Limit &&
              Limit < BytesBeforeRows + (RowsThatFit + 1) * BytesPerRow);

using ResultFileOnFullDisk = FmiTestInScratch;

TEST_F(ResultFileOnFullDisk, RunReturnsAsUsualAndKeepsTheRowsThatFit) {
  create();
  const ChildOutcome outcome = run_in_child([this] {
    std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG
    rlimit r{};
    if (getrlimit(RLIMIT_FSIZE, &r) != 0) std::_Exit(10);
    r.rlim_cur = Limit;
    if (setrlimit(RLIMIT_FSIZE, &r) != 0) std::_Exit(10);
    fmiEventInfo info{};
    if (lib.Initialize(c(), fmiFalse, 1e-6, &info) != fmiOK) std::_Exit(11);  // row 1 at t = 0
    for (int k = 1; k <= 12; ++k) {  // one row per millisecond; the rows from t = 0.007 fail
      fmiBoolean callEventUpdate = fmiFalse;
      if (lib.SetTime(c(), k * 0.001) != fmiOK ||
          lib.CompletedIntegratorStep(c(), &callEventUpdate) != fmiOK)
        std::_Exit(12);
    }
    if (lib.Terminate(c()) != fmiOK) std::_Exit(13);
    std::_Exit(logged_messages().empty() ? 0 : 14);  // nothing reported
  });
  ASSERT_EQ(outcome.exitStatus, 0) << outcome.stderrText;
  EXPECT_EQ(outcome.stderrText, "");

  const std::string bytes = mat4::slurp("dsres.mat");
  EXPECT_EQ(bytes.size(), BytesBeforeRows + RowsThatFit * BytesPerRow);
  const mat4::File f = mat4::parse(bytes);
  ASSERT_TRUE(f.ok) << f.error;
  const mat4::Matrix& data2 = *f.find("data_2");
  ASSERT_EQ(data2.ncols, RowsThatFit);
  for (int32_t row = 0; row < RowsThatFit; ++row)
    EXPECT_EQ(data2.number(0, row), static_cast<float>(row * 0.001)) << "row " << row;
  EXPECT_TRUE(scipy_loads({{dir.file("dsres.mat"), "data_2", 108, RowsThatFit}}));
}

}  // namespace
