// The linear-system solver. All arrays are the caller's; the solver keeps only the tolerance.
//
// Work array layout for n unknowns (column-major, leading dimension n):
//   work[0 .. n·n-1]   the factored matrix W
//   block 1            QR reflector scalars; start of the 4n work area of the condition estimate
//   block 2            scalars of the trapezoidal reduction; start of the 3n work area of the
//                      pivoted QR factorisation
//   block 3            smallest singular vector estimate; then placement marks; then residual
//   block 4            largest singular vector estimate; then the saved right-hand side
//   block 5, 6         row and column scale factors
// iwork: pivots or column permutation (n), the rank of a stored QR factorisation, n flags.
#include "runtime/linsys.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "runtime/clocale.h"
#include "runtime/lapack.h"
#include "runtime/output.h"
#include "runtime/runtime_state.h"

double solverTolerance = 0.0;

namespace {

bool solverToleranceSet = false;

constexpr double MachineEpsilon = 0x1p-52;
constexpr double LargestFinite = std::numeric_limits<double>::max();

// NaN, infinite, or at least the largest finite double.
bool not_finite(double v) { return !(std::fabs(v) < LargestFinite); }

// Views of the caller's work arrays.
struct Workspace {
  int n;
  double* W;
  double* tau;       // block 1
  double* tauZ;      // block 2
  double* scratch;   // block 3
  double* saved;     // block 4
  double* rowScale;  // block 5
  double* colScale;  // block 6
  int* pivots;       // iwork[0 .. n-1]
  int* rank;         // iwork[n]
  int* flags;        // iwork[n+1 .. 2n]
};

Workspace workspace(int n, double* work, int* pivots, int* flags) {
  double* blocks = work + static_cast<long>(n) * n;
  Workspace ws{};
  ws.n = n;
  ws.W = work;
  ws.tau = blocks;
  ws.tauZ = blocks + n;
  ws.scratch = blocks + 2L * n;
  ws.saved = blocks + 3L * n;
  ws.rowScale = blocks + 4L * n;
  ws.colScale = blocks + 5L * n;
  ws.pivots = pivots;
  ws.rank = pivots + n;
  ws.flags = flags;
  return ws;
}

// The four component messages are formatted in the "C" locale.
void log_component(const char* what, long component, long system, double value) {
  char line[200];
  clocale_snprintf(line, sizeof line, "%s component %ld of system %ld is %e", what, component,
                   system, value);
  log_message_line(line);
}

void copy_matrix(const Workspace& ws, const double* A, int lda) {
  const int n = ws.n;
  for (int j = 0; j < n; ++j)
    std::memcpy(ws.W + static_cast<long>(j) * n, A + static_cast<long>(j) * lda,
                sizeof(double) * static_cast<size_t>(n));
}

// Applies the equilibration factors to W; returns the state bits for what was scaled.
int apply_scaling(const Workspace& ws, double rowcnd, double colcnd, double amax) {
  char equed = 'N';
  dlaqge_(&ws.n, &ws.n, ws.W, &ws.n, ws.rowScale, ws.colScale, &rowcnd, &colcnd, &amax, &equed,
          1);
  switch (equed) {
    case 'R': return LinsysStateRowsScaled;
    case 'C': return LinsysStateColumnsScaled;
    case 'B': return LinsysStateRowsScaled | LinsysStateColumnsScaled;
    default: return 0;
  }
}

// The rank decision by incremental condition estimation on the pivoted QR factor. rankEps
// counts the columns that keep the estimated condition below 1/eps; the returned rank counts
// the leading run of those that also keep it below 1/tolerance.
int estimate_rank(const Workspace& ws, double tolerance, int& rankEps) {
  const int n = ws.n;
  double* vmin = ws.scratch;
  double* vmax = ws.saved;
  double smax = std::fabs(ws.W[0]);
  double smin = smax;
  vmin[0] = 1.0;
  vmax[0] = 1.0;
  if (ws.W[0] == 0.0) {
    rankEps = 0;
    return 0;
  }
  rankEps = 1;
  int rankTol = 1;
  const int jobMin = 2;
  const int jobMax = 1;
  while (rankEps < n) {
    const long i = rankEps;  // 0-based index of the next column
    const double* column = ws.W + i * n;
    const double gamma = ws.W[i + i * n];
    double sminpr = 0.0, s1 = 0.0, c1 = 0.0, smaxpr = 0.0, s2 = 0.0, c2 = 0.0;
    dlaic1_(&jobMin, &rankEps, vmin, &smin, column, &gamma, &sminpr, &s1, &c1);
    dlaic1_(&jobMax, &rankEps, vmax, &smax, column, &gamma, &smaxpr, &s2, &c2);
    if (smaxpr * MachineEpsilon > sminpr) break;
    if (smaxpr * tolerance <= sminpr && rankTol == rankEps) ++rankTol;
    for (int k = 0; k < rankEps; ++k) {
      vmin[k] *= s1;
      vmax[k] *= s2;
    }
    vmin[rankEps] = c1;
    vmax[rankEps] = c2;
    smin = sminpr;
    smax = smaxpr;
    ++rankEps;
  }
  return rankTol;
}

// Factorises A into the work arrays and sets the state word. rankEps > 0 (a restart) fixes
// the rank of the orthogonal factorisation instead of estimating it.
void factorise(const Workspace& ws, int options, const double* A, int lda, double tolerance,
               int* state, int& rankEps) {
  const int n = ws.n;
  copy_matrix(ws, A, lda);
  int scaling = 0;
  int info = 0;
  bool zeroRowOrColumn = false;
  double rowcnd = 1.0, colcnd = 1.0, amax = 0.0;
  if (options & LinsysOptionEquilibrate) {
    dgeequ_(&n, &n, A, &lda, ws.rowScale, ws.colScale, &rowcnd, &colcnd, &amax, &info);
    if (info == 0)
      scaling = apply_scaling(ws, rowcnd, colcnd, amax);
    else
      zeroRowOrColumn = info > 0;
  }

  if (!(options & LinsysOptionSkipLU)) {
    if (!zeroRowOrColumn) {
      const double anorm = dlange_("1", &n, &n, ws.W, &n, ws.tau, 1);
      dgetrf_(&n, &n, ws.W, &n, ws.pivots, &info);
      if (info == 0) {
        double rcond = 0.0;  // stays 0 should the estimate refuse its arguments
        dgecon_("1", &n, ws.W, &n, &anorm, &rcond, ws.tau, ws.flags, &info, 1);
        if (rcond > tolerance) {
          for (int i = 0; i < n; ++i) ws.flags[i] = 0;
          *state = scaling | LinsysStateLU;
          return;
        }
      }
    }
    // The LU attempt overwrote W (or was skipped): start again from A.
    copy_matrix(ws, A, lda);
    if (scaling != 0) apply_scaling(ws, rowcnd, colcnd, amax);
  }

  for (int j = 0; j < n; ++j) ws.pivots[j] = 0;  // every column free
  dgeqpf_(&n, &n, ws.W, &n, ws.pivots, ws.tau, ws.tauZ, &info);
  int rank = rankEps > 0 ? rankEps : estimate_rank(ws, tolerance, rankEps);
  if (rank < n) dtzrqf_(&rank, &n, ws.W, &n, ws.tauZ, &info);
  *state = scaling | LinsysStateQR;
  *ws.rank = rank;
}

// Moves x and the flags from pivoted order into the caller's order of unknowns: the value at
// pivoted position k belongs to unknown pivots[k].
void unpermute(const Workspace& ws, double* x) {
  const int n = ws.n;
  double* placed = ws.scratch;  // 1.0 while a position is still to be placed
  for (int i = 0; i < n; ++i) placed[i] = 1.0;
  for (int i = 0; i < n; ++i) {
    if (placed[i] != 1.0 || ws.pivots[i] == i + 1) continue;
    int k = i;
    double value = x[k];
    int flag = ws.flags[k];
    // A cycle has at most n members; the bound also stops a corrupt permutation.
    for (int step = 0; step < n; ++step) {
      const int dest = ws.pivots[k] - 1;
      if (dest < 0 || dest >= n) break;
      const double nextValue = x[dest];
      const int nextFlag = ws.flags[dest];
      x[dest] = value;
      ws.flags[dest] = flag;
      placed[k] = 0.0;
      value = nextValue;
      flag = nextFlag;
      k = dest;
      if (k == i) break;
    }
  }
}

// Solves with the stored factorisation; returns the status before the checks.
int solve_factored(const Workspace& ws, int state, double* x) {
  const int n = ws.n;
  const int one = 1;
  int info = 0;
  if (state & LinsysStateRowsScaled)
    for (int i = 0; i < n; ++i) x[i] *= ws.rowScale[i];

  int status = LinsysSolved;
  if ((state & LinsysStateFactorMask) == LinsysStateLU) {
    dgetrs_("N", &n, &one, ws.W, &n, ws.pivots, x, &n, &info, 1);
  } else {
    const int rank = *ws.rank;
    status = rank >= n ? LinsysSolved : LinsysMinimumNorm;
    for (int i = 0; i < n; ++i) ws.flags[i] = 0;
    dorm2r_("L", "T", &n, &one, &n, ws.W, &n, ws.tau, x, &n, ws.scratch, &info, 1, 1);
    for (int i = rank; i < n; ++i) {
      ws.flags[i] = 1;
      x[i] = 0.0;
    }
    if (rank > 0) {
      const double alpha = 1.0;
      dtrsm_("L", "U", "N", "N", &rank, &one, &alpha, ws.W, &n, x, &n, 1, 1, 1, 1);
      if (rank < n) {
        const int m = n - rank + 1;
        for (int i = 0; i < rank; ++i)
          dlatzm_("L", &m, &one, ws.W + i + static_cast<long>(rank) * n, &n, ws.tauZ + i, x + i,
                  x + rank, &n, ws.scratch, 1);
      }
    }
    unpermute(ws, x);
  }

  if (state & LinsysStateColumnsScaled)
    for (int i = 0; i < n; ++i) x[i] *= ws.colScale[i];
  return status;
}

// r := saved right-hand side - A·x, into block 3.
void residual(const Workspace& ws, const double* A, int lda, const double* x) {
  const int one = 1;
  const double minusOne = -1.0;
  const double plusOne = 1.0;
  dcopy_(&ws.n, ws.saved, &one, ws.scratch, &one);
  dgemv_("N", &ws.n, &ws.n, &minusOne, A, &lda, x, &one, &plusOne, ws.scratch, &one, 1);
}

// Logs every NaN or overflowing solution component; returns true when there was none.
bool check_solution(const double* x, int n, long system, const char* const* names) {
  bool finite = true;
  for (int i = 0; i < n; ++i) {
    if (!not_finite(x[i])) continue;
    finite = false;
    if (names != nullptr) {
      const char* name = names[i] != nullptr ? names[i] : "";
      char line[300];
      clocale_snprintf(line, sizeof line, "In system %ld %.140s%s = %e", system, name,
                       std::strlen(name) > 140 ? "..." : "", x[i]);
      log_message_line(line);
    } else {
      log_component("Solution", i + 1, system, x[i]);
    }
  }
  return finite;
}

}  // namespace

int linsys_factor_solve(const int* options, const double* A, const int* lda, const int* N,
                        double* x, const double* tolerance, int* pivots, double* work, int* flags,
                        int* state, int* status, const int* systemNumber,
                        const char* const* names) {
  const int n = *N;
  const long system = *systemNumber;
  const double tol = *tolerance;
  *status = LinsysSolved;
  if (n <= 0) return 0;
  if (*lda < n) {
    // A cannot be read as an n x n matrix: nothing is computed, nothing determined.
    for (int i = 0; i < n; ++i) flags[i] = 1;
    *status = LinsysRejected;
    return 0;
  }
  const Workspace ws = workspace(n, work, pivots, flags);

  int rankEps = 0;  // kept across a restart
  for (;;) {
    *status = LinsysSolved;
    for (int i = 0; i < n; ++i)
      if (not_finite(x[i])) log_component("Rhs", i + 1, system, x[i]);

    // A stored factorisation is used as it stands; a state word that names none (or a rank
    // out of range) means factorising anew.
    const int stored = *state & LinsysStateFactorMask;
    const bool usable = stored == LinsysStateLU ||
                        (stored == LinsysStateQR && *ws.rank >= 0 && *ws.rank <= n);
    if (!usable) factorise(ws, *options, A, *lda, tol, state, rankEps);

    const bool isQR = (*state & LinsysStateFactorMask) == LinsysStateQR;
    const int rank = isQR ? *ws.rank : n;
    const bool deficient = isQR && rank < n;
    if (deficient) std::memcpy(ws.saved, x, sizeof(double) * static_cast<size_t>(n));

    *status = solve_factored(ws, *state, x);

    if (deficient) {
      residual(ws, A, *lda, x);
      bool restart = false;
      for (int i = 0; i < n; ++i) {
        // NaN and infinity are too large as well.
        if (std::fabs(ws.scratch[i]) <= tol) continue;
        if (rank < rankEps) {
          restart = true;  // try again at the finer rank
          break;
        }
        log_component("Residual", i + 1, system, ws.scratch[i]);
        *status = LinsysRejected;
      }
      if (restart) {
        std::memcpy(x, ws.saved, sizeof(double) * static_cast<size_t>(n));
        *state = 0;
        continue;
      }
      if (!check_solution(x, n, system, names)) *status = LinsysRejected;
    } else if (!check_solution(x, n, system, names)) {
      // At full rank only the solution is checked: A·x may overflow for an exact solution.
      *status = LinsysRejected;
    }
    return 0;
  }
}

namespace {

// Copies at most min(length, limit) characters of text into line, stopping at a NUL, and
// removes trailing blanks but never the first character. Returns the length kept.
size_t copy_trimmed(char* line, const char* text, int length, int limit) {
  const int max = length < limit ? length : limit;
  size_t n = 0;
  if (text != nullptr)
    while (static_cast<int>(n) < max && text[n] != '\0') {
      line[n] = text[n];
      ++n;
    }
  while (n > 1 && line[n - 1] == ' ') --n;
  line[n] = '\0';
  return n;
}

template <size_t N>
constexpr int text_length(const char (&)[N]) {
  return static_cast<int>(N - 1);
}

constexpr char HeadingMinimumNorm[] = "... System of equations is singular at Time = ";
constexpr char HeadingRejected[] = "LINEAR SYSTEM OF EQUATIONS IS SINGULAR AT TIME = ";
constexpr char SystemNumberLine[] = "...    Linear system of equations number = ";
constexpr char UnknownsLine[] = "... Variables which cannot be uniquely computed:";
constexpr char UnknownsLineNoNames[] = "...    Variables X(i) which cannot be uniquely computed:";
constexpr char UnknownNoName[] = "...     ";
constexpr char ContinuesLine[] = "... Simulation continues with minimum norm solution.";
constexpr char RejectedLine[] = "... NOT ACCEPTING SINCE TOO LARGE RESDIUAL";
static_assert(text_length(HeadingMinimumNorm) == 46);
static_assert(text_length(HeadingRejected) == 49);
static_assert(text_length(SystemNumberLine) == 43);
static_assert(text_length(UnknownsLineNoNames) == 56);
static_assert(text_length(UnknownNoName) == 8);
static_assert(text_length(ContinuesLine) == 52);
static_assert(text_length(RejectedLine) == 42);

void report(int status, const int* systemNumber, int n, const double* x, const double* time,
            const int* flags, const char* const* names) {
  if (status == LinsysMinimumNorm)
    print_fstring_real(HeadingMinimumNorm, time, text_length(HeadingMinimumNorm));
  else
    print_fstring_real(HeadingRejected, time, text_length(HeadingRejected));
  print_fstring_integer(SystemNumberLine, systemNumber, text_length(SystemNumberLine));
  if (names != nullptr) {
    log_message_line(UnknownsLine);
    for (int i = 0; i < n; ++i) {
      if (flags[i] != 1) continue;
      const char* name = names[i] != nullptr ? names[i] : "";
      char line[200];
      std::snprintf(line, sizeof line, "%.140s%s = ", name, std::strlen(name) > 140 ? "..." : "");
      print_fstring_real(line, &x[i], static_cast<int>(std::strlen(line)));
    }
  } else {
    print_fstring(UnknownsLineNoNames, text_length(UnknownsLineNoNames));
    for (int i = 0; i < n; ++i) {
      if (flags[i] != 1) continue;
      const int unknown = i + 1;
      print_fstring_integer(UnknownNoName, &unknown, text_length(UnknownNoName));
    }
  }
  if (status == LinsysMinimumNorm)
    print_fstring(ContinuesLine, text_length(ContinuesLine));
  else
    print_fstring(RejectedLine, text_length(RejectedLine));
}

}  // namespace

int linsys_solve(const int* systemNumber, const int* options, const double* A, const int* lda,
                 const int* n, double* x, const double* time, const int* eventFlag,
                 const int* printFlags, double* work, int* iwork, int* state,
                 const char* const* names, int* error) {
  *error = 0;
  if (!solverToleranceSet) {
    solverTolerance = (modelRuntime.fixedStepMode != 0 ? 1e11 : 1e7) * MachineEpsilon;
    solverToleranceSet = true;
  }
  if (*n <= 0) return 0;
  int* flags = iwork + *n + 1;
  int status = LinsysSolved;
  linsys_factor_solve(options, A, lda, n, x, &solverTolerance, iwork, work, flags, state, &status,
                      systemNumber, names);
  if (status == LinsysSolved) return 0;
  if (status == LinsysMinimumNorm && !(*eventFlag == 1 && *printFlags >= 80)) return 0;
  report(status, systemNumber, *n, x, time, flags, names);
  if (status == LinsysRejected) *error = 1;
  return 0;
}

void print_fstring(const char* text, int length) {
  char line[200];
  copy_trimmed(line, text, length, 198);
  log_message_line(line);
}

void print_fstring_real(const char* text, const double* value, int length) {
  char line[200];
  const size_t used = copy_trimmed(line, text, length, 178);
  std::snprintf(line + used, sizeof line - used, " %G", *value);
  log_message_line(line);
}

void print_fstring_integer(const char* text, const int* value, int length) {
  char line[200];
  const size_t used = copy_trimmed(line, text, length, 183);
  std::snprintf(line + used, sizeof line - used, " %ld", static_cast<long>(*value));
  log_message_line(line);
}
