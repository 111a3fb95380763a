// The reference LAPACK and BLAS routines the runtime calls, as the Fortran compiler exports
// them: lower case with a trailing underscore, every argument by reference, and one hidden
// length argument (size_t) per CHARACTER argument, appended after the visible ones in order.
// Matrices are column-major.
#pragma once

#include <cstddef>

extern "C" {

// LAPACK's argument-error handler. Ours returns at once without output (runtime/xerbla.cpp).
void xerbla_(const char* name, const int* info, size_t nameLength);

// Row and column equilibration factors of a general matrix.
void dgeequ_(const int* m, const int* n, const double* a, const int* lda, double* r, double* c,
             double* rowcnd, double* colcnd, double* amax, int* info);
// Applies the factors of dgeequ_ when they are worth it; equed tells what was done.
void dlaqge_(const int* m, const int* n, double* a, const int* lda, const double* r,
             const double* c, const double* rowcnd, const double* colcnd, const double* amax,
             char* equed, size_t equedLength);
// A matrix norm ("1", "I", "F" or "M").
double dlange_(const char* norm, const int* m, const int* n, const double* a, const int* lda,
               double* work, size_t normLength);
// LU factorisation with partial pivoting.
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
// Reciprocal condition number estimate from the LU factors.
void dgecon_(const char* norm, const int* n, const double* a, const int* lda, const double* anorm,
             double* rcond, double* work, int* iwork, int* info, size_t normLength);
// Solve with the LU factors.
void dgetrs_(const char* trans, const int* n, const int* nrhs, const double* a, const int* lda,
             const int* ipiv, double* b, const int* ldb, int* info, size_t transLength);
// QR factorisation with column pivoting (deprecated routine, still provided).
void dgeqpf_(const int* m, const int* n, double* a, const int* lda, int* jpvt, double* tau,
             double* work, int* info);
// One step of incremental condition estimation.
void dlaic1_(const int* job, const int* j, const double* x, const double* sest, const double* w,
             const double* gamma, double* sestpr, double* s, double* c);
// Reduction of an upper trapezoidal matrix to upper triangular form (deprecated).
void dtzrqf_(const int* m, const int* n, double* a, const int* lda, double* tau, int* info);
// Applies the orthogonal factor of a QR factorisation (unblocked).
void dorm2r_(const char* side, const char* trans, const int* m, const int* n, const int* k,
             const double* a, const int* lda, const double* tau, double* c, const int* ldc,
             double* work, int* info, size_t sideLength, size_t transLength);
// Applies one elementary reflector of dtzrqf_ (deprecated).
void dlatzm_(const char* side, const int* m, const int* n, const double* v, const int* incv,
             const double* tau, double* c1, double* c2, const int* ldc, double* work,
             size_t sideLength);

// BLAS.
void dtrsm_(const char* side, const char* uplo, const char* transa, const char* diag,
            const int* m, const int* n, const double* alpha, const double* a, const int* lda,
            double* b, const int* ldb, size_t sideLength, size_t uploLength, size_t transaLength,
            size_t diagLength);
void dcopy_(const int* n, const double* x, const int* incx, double* y, const int* incy);
void dgemv_(const char* trans, const int* m, const int* n, const double* alpha, const double* a,
            const int* lda, const double* x, const int* incx, const double* beta, double* y,
            const int* incy, size_t transLength);
void daxpy_(const int* n, const double* alpha, const double* x, const int* incx, double* y,
            const int* incy);

}  // extern "C"
