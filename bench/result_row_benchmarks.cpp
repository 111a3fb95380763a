// Result rows: the writer's row (the walk that samples the values, then the append) against
// the specified append alone.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "anchors.h"
#include "model/variable_table.h"
#include "results/result_writer.h"

namespace {

constexpr size_t BytesBeforeRows = 513942;  // the file up to the first row of "data_2"

std::string scratch_file(const char* name) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tavelo-bench";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

// The model's value arrays with the start values, as an instance holds them.
struct ModelValues {
  std::vector<double> parameters = std::vector<double>(ModelParameterCount + 1);
  std::vector<double> states = std::vector<double>(ModelStateCount + 1);
  std::vector<double> derivatives = std::vector<double>(ModelStateCount + 1);
  std::vector<double> outputs = std::vector<double>(1);
  std::vector<double> inputs = std::vector<double>(1);
  std::vector<double> auxiliaries = std::vector<double>(ModelAuxiliaryCount + 1);
  ModelValues() {
    ResultWriterPhase = 0;
    declare_(states.data(), parameters.data(), nullptr);
    for (size_t i = 0; i < auxiliaries.size(); ++i) auxiliaries[i] = 0.001 * static_cast<double>(i);
  }
};

// The library's result writer: one row per iteration, "dsres.mat" in a scratch folder.
void BM_ResultRow(benchmark::State& state) {
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(std::filesystem::path(scratch_file("row")).parent_path());
  ModelValues v;
  ResultFile result{};
  ResultWriterPhase = 0;
  result_file_prepare(&result);
  result_file_open(&result, 0.0, 1e-9, v.parameters.data(), v.states.data(),
                   v.derivatives.data(), v.outputs.data(), v.inputs.data(), v.auxiliaries.data());
  double t = 0.0;
  for (auto _ : state) {
    t += 0.001;
    v.states[0] = t;  // a value that changes from row to row
    result_file_write_row(&result, t, 1e-9, v.parameters.data(), v.states.data(),
                          v.derivatives.data(), v.outputs.data(), v.inputs.data(),
                          v.auxiliaries.data());
  }
  result_file_close(&result);
  state.SetItemsProcessed(state.iterations());
  std::filesystem::current_path(previous);
}
BENCHMARK(BM_ResultRow)->Iterations(50000)->Repetitions(3)->ReportAggregatesOnly(true);

// Anchor: the specified append alone, the same number of rows of the same size.
void BM_SpecifiedAppend(benchmark::State& state) {
  SpecifiedAppend append;
  if (!append.open(scratch_file("append.mat"), BytesBeforeRows)) {
    state.SkipWithError("cannot open the scratch file");
    return;
  }
  for (auto _ : state) {
    if (!append.append()) {
      state.SkipWithError("append failed");
      break;
    }
  }
  append.close();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SpecifiedAppend)->Iterations(50000)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace

// Write-only, as the library opens its result file: on a read-write stream each seek back to the
// header would also read the block under it.
bool SpecifiedAppend::open(const std::string& path, size_t bytesBefore) {
  file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  std::vector<unsigned char> before(bytesBefore, 0);
  if (std::fwrite(before.data(), 1, before.size(), file) != before.size()) return false;
  // The header of the growing matrix stands 27 bytes before the first row.
  if (std::fseek(file, static_cast<long>(bytesBefore) - 27, SEEK_SET) != 0) return false;
  if (std::fgetpos(file, &header) != 0) return false;
  return std::fseek(file, 0, SEEK_END) == 0;
}

bool SpecifiedAppend::append() {
  std::fpos_t end;
  bool ok = std::fwrite(row, 1, sizeof row, file) == sizeof row;
  ok = ok && std::fgetpos(file, &end) == 0;
  ok = ok && std::fsetpos(file, &header) == 0;
  ++headerBytes[8];  // the row count changes
  ok = ok && std::fwrite(headerBytes, 1, sizeof headerBytes, file) == sizeof headerBytes;
  ok = ok && std::fsetpos(file, &end) == 0;
  return ok && std::fflush(file) == 0;
}

void SpecifiedAppend::close() {
  if (file != nullptr) std::fclose(file);
  file = nullptr;
}
