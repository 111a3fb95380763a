// The linear-system solver of the generated model code: A·x = b, dense and square, by LU with a
// condition check or, failing that, by a rank-revealing complete orthogonal factorisation that
// gives the minimum-norm solution and names the unknowns the system cannot determine.
#pragma once

// Bits of linsys_options.
constexpr int LinsysOptionSkipLU = 0x1;       // straight to the rank-revealing factorisation
constexpr int LinsysOptionEquilibrate = 0x2;  // scale rows and columns before factorising

// Bits of linsys_state: bits 0-1 say which factorisation the work array holds.
constexpr int LinsysStateFactorMask = 0x3;
constexpr int LinsysStateLU = 0x1;
constexpr int LinsysStateQR = 0x2;
constexpr int LinsysStateRowsScaled = 0x100;
constexpr int LinsysStateColumnsScaled = 0x200;

// Status of linsys_factor_solve.
constexpr int LinsysSolved = 0;
constexpr int LinsysMinimumNorm = 1;  // rank deficient; x is the minimum-norm solution
constexpr int LinsysRejected = 2;

// Sizes of the caller's work arrays for n unknowns.
constexpr long linsys_work_size(long n) { return n * n + 6 * n; }
constexpr long linsys_iwork_size(long n) { return 2 * n + 1; }

// Set on the first call of linsys_solve in the process, then kept.
extern double solverTolerance;

// Solves the system and reports a rejected one (and, at events with printFlags >= 80, a rank
// deficient one) in the log. x holds the right-hand side on entry and the solution on return;
// work (n·n + 6n), iwork (2n + 1) and state persist between calls. names (n names or null)
// label the unknowns in the report. *error is 0, or 1 when the solve was rejected. Returns 0.
int linsys_solve(const int* systemNumber, const int* options, const double* A, const int* lda,
                 const int* n, double* x, const double* time, const int* eventFlag,
                 const int* printFlags, double* work, int* iwork, int* state,
                 const char* const* names, int* error);

// Decides, factorises, solves and checks. pivots is iwork, flags is iwork + n + 1 (one per
// unknown, 1 when it cannot be uniquely computed). *status is LinsysSolved, LinsysMinimumNorm
// or LinsysRejected. Returns 0.
int linsys_factor_solve(const int* options, const double* A, const int* lda, const int* n,
                        double* x, const double* tolerance, int* pivots, double* work, int* flags,
                        int* state, int* status, const int* systemNumber,
                        const char* const* names);

// Report printers. text is blank-padded with a length and need not be NUL-terminated within
// it; trailing blanks are removed (never the first character) and the line is logged, with
// " %G" of *value or " %ld" of *value appended, formatted in the process's current locale.
void print_fstring(const char* text, int length);
void print_fstring_real(const char* text, const double* value, int length);
void print_fstring_integer(const char* text, const int* value, int length);
