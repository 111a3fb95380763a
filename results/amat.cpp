// Matrix-file writer: MAT version 4 binary matrices and the line-oriented text format.
// Numbers in the text format and in messages are formatted in the "C" locale.
#include "results/amat.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "results/file_cut.h"
#include "runtime/clocale.h"

static_assert(std::endian::native == std::endian::little,
              "MAT version 4 files are written little-endian from memory");
static_assert(sizeof(float) == 4 && sizeof(double) == 8);

char amatErrorMessage[AmatErrorMessageSize] = "No message.";
int32_t amatFailAllocationAfter = -1;

void* amat_malloc(size_t size) {
  if (amatFailAllocationAfter == 0) {
    amatFailAllocationAfter = -1;
    errno = ENOMEM;
    return nullptr;
  }
  if (amatFailAllocationAfter > 0) --amatFailAllocationAfter;
  return std::malloc(size ? size : 1);
}

char* amat_strdup(const char* text) {
  if (!text) text = "";
  size_t n = std::strlen(text) + 1;
  char* copy = static_cast<char*>(amat_malloc(n));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

namespace {

void report(const char* format, ...) TAVELO_CLOCALE_PRINTF(1, 2);
void report(const char* format, ...) {
  va_list args;
  va_start(args, format);
  clocale_vsnprintf(amatErrorMessage, sizeof amatErrorMessage, format, args);
  va_end(args);
}

const char* text_of(const char* s) { return s ? s : ""; }
// The standard output has no file name; messages call it "stdout".
const char* file_label(const AmatFile* file) { return file->fileName ? file->fileName : "stdout"; }
// The system's text for the error number as it is now; read before anything else can set it.
const char* system_error() { return std::strerror(errno); }

// "Error when writing matrix ..." with the given system text; returns 1.
int matrix_failure(const AmatFile* file, const AmatMatrix* m, const char* systemText) {
  report("Error when writing matrix \"%s(%ld,%ld)\" to file \"%s\":\n%s\n", text_of(m->name),
         static_cast<long>(m->nrow), static_cast<long>(m->ncol), file_label(file), systemText);
  return 1;
}
int write_failure(const AmatFile* file, const AmatMatrix* m) {
  return matrix_failure(file, m, system_error());
}

int rowwise_failure(const AmatFile* file, const char* name, const char* systemText) {
  report("Error when writing matrix \"%s\" row-wise to file \"%s\":\n%s\n", text_of(name),
         file_label(file), systemText);
  return 1;
}

// Checks shared by every whole-matrix writer: an open stream, dimensions that are not
// negative, and data where there are elements.
bool writable(const AmatFile* file, const AmatMatrix* m) {
  if (!file->fp) return matrix_failure(file, m, "the file is not open"), false;
  if (m->nrow < 0 || m->ncol < 0) return matrix_failure(file, m, "negative dimension"), false;
  bool hasElements = m->type == charMatrix ? m->nrow > 0 : m->nrow > 0 && m->ncol > 0;
  if (hasElements && !m->data) return matrix_failure(file, m, "matrix.data is null"), false;
  return true;
}

bool write_bytes(FILE* fp, const void* bytes, size_t n) {
  return n == 0 || std::fwrite(bytes, 1, n, fp) == n;
}

bool write_header(const AmatFile* file) {
  const int32_t words[5] = {file->type, file->mrows, file->ncols, file->imagf, file->namlen};
  return write_bytes(file->fp, words, sizeof words);
}

bool write_name(FILE* fp, const char* name) {
  name = text_of(name);
  return write_bytes(fp, name, std::strlen(name) + 1);
}

int32_t name_length(const char* name) {
  return static_cast<int32_t>(std::strlen(text_of(name)) + 1);
}

void fill_header(AmatFile* file, int32_t type, int32_t nrow, int32_t ncol, const char* name) {
  file->type = type;
  file->imagf = 0;
  file->namlen = name_length(name);
  if (file->bstruct == binTrans) {
    file->mrows = ncol;
    file->ncols = nrow;
  } else {
    file->mrows = nrow;
    file->ncols = ncol;
  }
}

// The three column-major numeric writers.
template <typename T>
int put_numeric(AmatFile* file, const AmatMatrix* m, int32_t matType) {
  if (!writable(file, m)) return 1;
  fill_header(file, matType, m->nrow, m->ncol, m->name);
  if (!write_header(file) || !write_name(file->fp, m->name)) return write_failure(file, m);
  const T* data = static_cast<const T*>(m->data);
  const size_t nrow = static_cast<size_t>(m->nrow);
  const size_t ncol = static_cast<size_t>(m->ncol);
  if (file->bstruct == binTrans) {
    for (size_t i = 0; i < nrow; ++i)
      for (size_t j = 0; j < ncol; ++j)
        if (!write_bytes(file->fp, &data[i + j * nrow], sizeof(T))) return write_failure(file, m);
  } else if (!write_bytes(file->fp, data, nrow * ncol * sizeof(T))) {
    return write_failure(file, m);
  }
  return 0;
}

const char* char_row(const AmatMatrix* m, int32_t i) {
  const char* const* rows = static_cast<const char* const*>(m->data);
  return text_of(rows[i]);
}

int put_row_comment(FILE* fp, const char* const* rowComments, int32_t i, int indent) {
  if (!rowComments) return 0;
  if (indent > 0) return clocale_fprintf(fp, "%*s# %s", indent - 1, "", text_of(rowComments[i]));
  return clocale_fprintf(fp, "%s", text_of(rowComments[i]));
}

int put_comment(FILE* fp, const char* comment) {
  if (!comment || !comment[0]) return 0;
  return clocale_fprintf(fp, "%s\n", comment);
}

long decimal_digits(int64_t magnitude) {
  long digits = 1;
  while (magnitude >= 10) {
    magnitude /= 10;
    ++digits;
  }
  return digits;
}

bool small_integral(double v) { return v == std::floor(v) && v >= -100000.0 && v <= 100000.0; }

// Double and double-row text writers: element(i, j) gives the value.
template <typename Element>
int put_text_double(AmatFile* file, const AmatMatrix* m, const char* comment,
                    const char* const* rowComments, int indent, Element element) {
  if (!writable(file, m)) return 1;
  FILE* fp = file->fp;
  // Width of each integral column (every element integral and below 10^7 in magnitude),
  // 0 for the other columns.
  int* widths = static_cast<int*>(amat_malloc(static_cast<size_t>(m->ncol) * sizeof(int)));
  if (!widths) return matrix_failure(file, m, "not enough memory\n");
  for (int32_t j = 0; j < m->ncol; ++j) {
    long width = 1;
    bool integral = true;
    for (int32_t i = 0; i < m->nrow && integral; ++i) {
      double v = element(i, j);
      if (v != std::floor(v) || !(std::fabs(v) < 1e7)) {
        integral = false;
      } else {
        long d = decimal_digits(static_cast<int64_t>(std::fabs(v)));
        if (d > width) width = d;
      }
    }
    widths[j] = integral ? static_cast<int>(width) : 0;
  }
  bool ok = put_comment(fp, comment) >= 0 &&
            clocale_fprintf(fp, "double %s(%ld,%ld)\n", text_of(m->name),
                            static_cast<long>(m->nrow), static_cast<long>(m->ncol)) >= 0;
  for (int32_t i = 0; i < m->nrow && ok; ++i) {
    int lineChars = 0;
    for (int32_t j = 0; j < m->ncol && ok; ++j) {
      if (lineChars > 70) {
        ok = clocale_fprintf(fp, "\n") >= 0;
        lineChars = 0;
      }
      double v = element(i, j);
      int n;
      if (widths[j] > 0)
        n = clocale_fprintf(fp, " %*ld", widths[j] + 1, static_cast<long>(v));
      else if (small_integral(v))
        n = clocale_fprintf(fp, " %7ld                ", static_cast<long>(v));
      else
        n = clocale_fprintf(fp, " %23.15E", v);
      ok = ok && n >= 0;
      lineChars += n;
    }
    ok = ok && put_row_comment(fp, rowComments, i, indent) >= 0 && clocale_fprintf(fp, "\n") >= 0;
  }
  ok = ok && clocale_fprintf(fp, "\n") >= 0;
  int failed = ok ? 0 : write_failure(file, m);
  std::free(widths);
  return failed;
}

}  // namespace

AmatMatrix* amatClear(AmatMatrix* matrix) {
  *matrix = AmatMatrix{nullptr, 0, 0, voidMatrix, nullptr, 0, 0};
  return matrix;
}

AmatMatrix* amatSet(char* name, int32_t nrow, int32_t ncol, int32_t type, void* data,
                    AmatMatrix* matrix) {
  *matrix = AmatMatrix{name, nrow, ncol, type, data, 0, 0};
  return matrix;
}

void amatFree(AmatMatrix* matrix) {
  if (!matrix) return;
  std::free(matrix->name);
  if (matrix->data && (matrix->type == charMatrix || matrix->type == doubleRowMatrix)) {
    void** entries = static_cast<void**>(matrix->data);
    for (int32_t i = 0; i < matrix->nrow; ++i) {
      std::free(entries[i]);
      entries[i] = nullptr;
    }
  }
  std::free(matrix->data);
  amatClear(matrix);
}

int amatPutOpen(const char* fileName, int32_t format, int32_t bstruct, const char* className,
                const char* version, const char* description, AmatFile* file) {
  file->fp = nullptr;
  file->fileName = nullptr;
  file->bstruct = binNormal;
  file->rowName = nullptr;
  file->headerPos = 0;
  file->rowType = 0;
  file->rowLength = 0;
  file->rowsWritten = 0;
  file->rowsEnd = -1;
  file->isFile = 0;
  file->type = file->mrows = file->ncols = file->imagf = file->namlen = 0;
  file->format = format;

  if (fileName && fileName[0]) {
    file->fp = std::fopen(fileName, format == 1 ? "wb" : "w");
    if (!file->fp) {
      report("Error opening file \"%s\": %s\n", fileName, system_error());
      return 1;
    }
    file->isFile = 1;
    file->fileName = amat_strdup(fileName);
    if (!file->fileName) {
      report("Not possible to allocate enough storage in order to open\nfile \"%s\" for writing "
             "of matrices:\n%s\n",
             fileName, system_error());
      std::fclose(file->fp);
      file->fp = nullptr;
      file->isFile = 0;
      return 1;
    }
  } else {
    file->fp = stdout;
  }

  bool ok = format != 0 || std::fputs("#1\n", file->fp) >= 0;
  if (ok && className && className[0]) {
    const char* rows[4] = {className, version ? version : " ", description ? description : " ",
                           bstruct == binTrans ? "binTrans" : "binNormal"};
    AmatMatrix aclass;
    amatSet(const_cast<char*>("Aclass"), format == 0 ? 3 : 4, 0, charMatrix,
            const_cast<const char**>(rows), &aclass);
    ok = amatPutMatrixEx(file, &aclass, nullptr, nullptr, 0, ' ') == 0;
  }
  if (!ok) {
    report("Error writing class description of class \"%s\" to\nfile \"%s\":\n%s\n",
           text_of(className), file_label(file), system_error());
    std::fclose(file->fp);
    std::free(file->fileName);
    std::free(file->rowName);
    file->fp = nullptr;
    file->fileName = nullptr;
    file->rowName = nullptr;
    return 1;
  }
  file->bstruct = bstruct;
  return 0;
}

void amatPutClose(AmatFile* file) {
  if (!file->fp) return;
  std::fclose(file->fp);
  std::free(file->fileName);
  std::free(file->rowName);
  file->fp = nullptr;
  file->fileName = nullptr;
  file->rowName = nullptr;
}

int amatPutMatrixEx(AmatFile* file, const AmatMatrix* matrix, const char* comment,
                    const char* const* rowComments, int indent, char pad) {
  if (matrix->type == voidMatrix) {
    report("Error when writing matrix \"%s(%ld,%ld)\" to file \"%s\":\nThe datatype of the matrix "
           "is not specified (matrix.type = voidMatrix).\n",
           text_of(matrix->name), static_cast<long>(matrix->nrow),
           static_cast<long>(matrix->ncol), file_label(file));
    return 1;
  }
  if (matrix->type < voidMatrix || matrix->type > doubleRowMatrix) {
    report("Error should never occur when writing matrix \"%s(%ld,%ld)\" to\nfile \"%s\" "
           "(matrix.type = %ld)\n",
           text_of(matrix->name), static_cast<long>(matrix->nrow),
           static_cast<long>(matrix->ncol), file_label(file), static_cast<long>(matrix->type));
    return 1;
  }
  if (file->format == 0) {
    switch (matrix->type) {
      case integerMatrix: return amatTextPutInteger(file, matrix, comment, rowComments, indent);
      case realMatrix: return amatTextPutReal(file, matrix, comment, rowComments, indent);
      case doubleMatrix: return amatTextPutDouble(file, matrix, comment, rowComments, indent);
      case charMatrix: return amatTextPutChar(file, matrix, comment);
      default: return amatTextPutDoubleRows(file, matrix, comment, rowComments, indent);
    }
  }
  switch (matrix->type) {
    case integerMatrix: return amatBinPutInteger(file, matrix);
    case realMatrix: return amatBinPutReal(file, matrix);
    case doubleMatrix: return amatBinPutDouble(file, matrix);
    case charMatrix: return amatBinPutChar(file, matrix, pad);
    default: return amatBinPutDoubleRows(file, matrix);
  }
}

int amatPutMatrixComment(AmatFile* file, const AmatMatrix* matrix, const char* comment,
                         const char* const* rowComments, int indent) {
  return amatPutMatrixEx(file, matrix, comment, rowComments, indent, ' ');
}

int amatPutMatrix(AmatFile* file, const AmatMatrix* matrix) {
  return amatPutMatrixEx(file, matrix, nullptr, nullptr, 0, ' ');
}

int amatBinPutInteger(AmatFile* file, const AmatMatrix* matrix) {
  return put_numeric<int32_t>(file, matrix, 20);
}

int amatBinPutReal(AmatFile* file, const AmatMatrix* matrix) {
  return put_numeric<float>(file, matrix, 10);
}

int amatBinPutDouble(AmatFile* file, const AmatMatrix* matrix) {
  return put_numeric<double>(file, matrix, 0);
}

int amatBinPutDoubleRows(AmatFile* file, const AmatMatrix* m) {
  if (!writable(file, m)) return 1;
  fill_header(file, 0, m->nrow, m->ncol, m->name);
  if (!write_header(file) || !write_name(file->fp, m->name)) return write_failure(file, m);
  const double* const* rows = static_cast<const double* const*>(m->data);
  const size_t ncol = static_cast<size_t>(m->ncol);
  if (file->bstruct == binTrans) {
    // Without columns there are no elements, and the row array need not exist.
    for (int32_t i = 0; ncol > 0 && i < m->nrow; ++i)
      if (!write_bytes(file->fp, rows[i], ncol * sizeof(double))) return write_failure(file, m);
  } else {
    for (size_t j = 0; j < ncol; ++j)
      for (int32_t i = 0; i < m->nrow; ++i)
        if (!write_bytes(file->fp, &rows[i][j], sizeof(double))) return write_failure(file, m);
  }
  return 0;
}

int amatBinPutChar(AmatFile* file, const AmatMatrix* m, char pad) {
  if (!writable(file, m)) return 1;
  size_t width = 0;
  for (int32_t i = 0; i < m->nrow; ++i) width = std::max(width, std::strlen(char_row(m, i)));
  fill_header(file, 51, m->nrow, static_cast<int32_t>(width), m->name);
  if (!write_header(file) || !write_name(file->fp, m->name)) return write_failure(file, m);
  FILE* fp = file->fp;
  if (file->bstruct == binTrans) {
    for (int32_t i = 0; i < m->nrow; ++i) {
      const char* s = char_row(m, i);
      size_t length = std::strlen(s);
      if (!write_bytes(fp, s, length)) return write_failure(file, m);
      for (size_t k = length; k < width; ++k)
        if (std::putc(pad, fp) == EOF) return write_failure(file, m);
    }
  } else {
    for (size_t j = 0; j < width; ++j) {
      for (int32_t i = 0; i < m->nrow; ++i) {
        const char* s = char_row(m, i);
        size_t length = std::strlen(s);
        char c = j < length ? s[j] : j == length ? '\0' : pad;
        if (std::putc(c, fp) == EOF) return write_failure(file, m);
      }
    }
  }
  return 0;
}

int amatTextPutInteger(AmatFile* file, const AmatMatrix* m, const char* comment,
                       const char* const* rowComments, int indent) {
  if (!writable(file, m)) return 1;
  FILE* fp = file->fp;
  const int32_t* data = static_cast<const int32_t*>(m->data);
  const size_t nrow = static_cast<size_t>(m->nrow);
  const size_t count = nrow * static_cast<size_t>(m->ncol);
  int64_t largest = 0;
  bool negative = false;
  for (size_t k = 0; k < count; ++k) {
    int64_t v = data[k];
    if (v < 0) negative = true;
    largest = std::max(largest, v < 0 ? -v : v);
  }
  const int width = static_cast<int>(decimal_digits(largest)) + (negative ? 1 : 0);
  bool ok = put_comment(fp, comment) >= 0 &&
            clocale_fprintf(fp, "int %s(%ld,%ld)\n", text_of(m->name), static_cast<long>(m->nrow),
                            static_cast<long>(m->ncol)) >= 0;
  for (int32_t i = 0; i < m->nrow && ok; ++i) {
    for (int32_t j = 0; j < m->ncol && ok; ++j) {
      if (j > 0 && j % 7 == 0) ok = clocale_fprintf(fp, "\n    ") >= 0;
      ok = ok && clocale_fprintf(fp, " %*ld", width,
                                 static_cast<long>(data[static_cast<size_t>(i) +
                                                        static_cast<size_t>(j) * nrow])) >= 0;
    }
    ok = ok && put_row_comment(fp, rowComments, i, indent) >= 0 && clocale_fprintf(fp, "\n") >= 0;
  }
  ok = ok && clocale_fprintf(fp, "\n") >= 0;
  return ok ? 0 : write_failure(file, m);
}

int amatTextPutReal(AmatFile* file, const AmatMatrix* m, const char* comment,
                    const char* const* rowComments, int indent) {
  if (!writable(file, m)) return 1;
  FILE* fp = file->fp;
  const float* data = static_cast<const float*>(m->data);
  const size_t nrow = static_cast<size_t>(m->nrow);
  bool ok = put_comment(fp, comment) >= 0 &&
            clocale_fprintf(fp, "float %s(%ld,%ld)\n", text_of(m->name),
                            static_cast<long>(m->nrow), static_cast<long>(m->ncol)) >= 0;
  for (int32_t i = 0; i < m->nrow && ok; ++i) {
    for (int32_t j = 0; j < m->ncol && ok; ++j) {
      if (j > 0 && j % 5 == 0) ok = clocale_fprintf(fp, "\n    ") >= 0;
      double v = data[static_cast<size_t>(i) + static_cast<size_t>(j) * nrow];
      if (small_integral(v))
        ok = ok && clocale_fprintf(fp, " %7ld       ", static_cast<long>(v)) >= 0;
      else
        ok = ok && clocale_fprintf(fp, " %14.7E", v) >= 0;
    }
    ok = ok && put_row_comment(fp, rowComments, i, indent) >= 0 && clocale_fprintf(fp, "\n") >= 0;
  }
  ok = ok && clocale_fprintf(fp, "\n") >= 0;
  return ok ? 0 : write_failure(file, m);
}

int amatTextPutDouble(AmatFile* file, const AmatMatrix* m, const char* comment,
                      const char* const* rowComments, int indent) {
  const double* data = static_cast<const double*>(m->data);
  const size_t nrow = m->nrow > 0 ? static_cast<size_t>(m->nrow) : 0;
  return put_text_double(file, m, comment, rowComments, indent, [=](int32_t i, int32_t j) {
    return data[static_cast<size_t>(i) + static_cast<size_t>(j) * nrow];
  });
}

int amatTextPutDoubleRows(AmatFile* file, const AmatMatrix* m, const char* comment,
                          const char* const* rowComments, int indent) {
  const double* const* rows = static_cast<const double* const*>(m->data);
  return put_text_double(file, m, comment, rowComments, indent,
                         [=](int32_t i, int32_t j) { return rows[i][j]; });
}

int amatTextPutChar(AmatFile* file, const AmatMatrix* m, const char* comment) {
  if (!writable(file, m)) return 1;
  FILE* fp = file->fp;
  long width = m->ncol;
  if (width == 0 || m->nrow == 0) {
    width = 0;
    for (int32_t i = 0; i < m->nrow; ++i)
      width = std::max(width, static_cast<long>(std::strlen(char_row(m, i))));
  }
  bool ok = put_comment(fp, comment) >= 0 &&
            clocale_fprintf(fp, "char %s(%ld,%ld)\n", text_of(m->name),
                            static_cast<long>(m->nrow), width) >= 0;
  for (int32_t i = 0; i < m->nrow && ok; ++i) ok = clocale_fprintf(fp, "%s\n", char_row(m, i)) >= 0;
  ok = ok && clocale_fprintf(fp, "\n") >= 0;
  return ok ? 0 : write_failure(file, m);
}

// Row-wise writing. The binary header (or, in text, the dimensions after the name) sits at
// headerPos and is rewritten after every row, so the file always states its row count.

namespace {

// Rewrites the row count at headerPos and returns to where the writing stopped (the end), which
// is where the next row begins.
bool rewrite_row_count(AmatFile* file) {
  FILE* fp = file->fp;
  off_t end = ftello(fp);
  bool ok = end >= 0 && fseeko(fp, file->headerPos, SEEK_SET) == 0;
  if (ok && file->format == 1)
    ok = write_header(file);
  else if (ok)
    ok = clocale_fprintf(fp, "(%ld,%ld) ", static_cast<long>(file->rowsWritten),
                         static_cast<long>(file->rowLength)) >= 0;
  if (ok) ok = fseeko(fp, end, SEEK_SET) == 0;
  file->rowsEnd = ok ? end : -1;
  if (!ok) {
    int error = errno;
    fseeko(fp, 0, SEEK_END);  // continue appending at the end whatever failed
    errno = error;
  }
  return ok;
}

// Takes back a row whose write or flush failed, so that the file ends with the last whole row
// and the next append starts where this one did. stdio may still hold bytes of the row, and the
// descriptor may stand anywhere past the row's start: the stream is moved to the start first (a
// seek writes out what the buffer holds; when that fails the buffer is dropped, and a second
// seek moves), the file is cut there, and the stream is moved there again, so that nothing
// buffered can reach the file past the cut. errno keeps the row's failure.
void take_back_row(AmatFile* file, off_t rowStart) {
  FILE* fp = file->fp;
  const int error = errno;
  bool atStart = rowStart >= 0 && (fseeko(fp, rowStart, SEEK_SET) == 0 ||
                                   fseeko(fp, rowStart, SEEK_SET) == 0);
  if (atStart) {
    file_cut(fp, rowStart);
    atStart = fseeko(fp, rowStart, SEEK_SET) == 0;
    std::clearerr(fp);
  }
  file->rowsEnd = atStart ? rowStart : -1;
  errno = error;
}

// Reports a row that did not reach the file and takes it back; returns 1.
int row_failure(AmatFile* file, long row, off_t rowStart) {
  report("Error when writing row %ld of matrix \"%s\" row-wise\nto file \"%s\": %s\n", row,
         text_of(file->rowName), file_label(file), system_error());
  take_back_row(file, rowStart);
  return 1;
}

}  // namespace

int amatPutRinit(AmatFile* file, const char* name, int32_t rowLength, int32_t type) {
  if (!file->fp) return rowwise_failure(file, name, "the file is not open");
  if (!file->isFile) {
    report("Not possible to use functions amatPutRxxx, in order to write\nmatrix \"%s\" "
           "row-wise, because output stream is no file, but stdout.\n",
           text_of(name));
    return 1;
  }
  if (type == doubleRowMatrix) type = doubleMatrix;
  if (type != realMatrix && type != doubleMatrix) {
    report("Wrong argument \"type\" (= %ld) in function amatPutRinit,\nwhen initializing writing "
           "of matrix \"%s\" to file \"%s\".\n(type = realMatrix or doubleMatrix required).\n",
           static_cast<long>(type), text_of(name), file_label(file));
    return 1;
  }
  if (file->bstruct != binTrans) {
    report("In order to write matrix \"%s\" row-wise to file \"%s\",\nthe file has to be opened "
           "with \"bstruct = binTrans\" and not\nwith \"bstruct = binNormal\" (function "
           "amatPutOpen).\n",
           text_of(name), file_label(file));
    return 1;
  }
  if (rowLength < 0) return rowwise_failure(file, name, "negative row length");
  if (file->format != 0 && file->format != 1) {
    report("Error should never occur when writing matrix \"%s\" to\nfile \"%s\" (file.format = "
           "%ld)\n",
           text_of(name), file_label(file), static_cast<long>(file->format));
    return 1;
  }
  char* rowName = amat_strdup(name);
  if (!rowName) {
    report("Not possible to allocate enough storage in order to open\nfile \"%s\" for writing of "
           "matrix \"%s\":\n%s\n",
           file_label(file), text_of(name), system_error());
    return 1;
  }
  std::free(file->rowName);
  file->rowName = rowName;
  file->rowLength = rowLength;
  file->rowType = type;
  file->rowsWritten = 0;

  FILE* fp = file->fp;
  bool ok;
  if (file->format == 1) {
    file->headerPos = ftello(fp);
    file->type = type == doubleMatrix ? 0 : 10;
    file->mrows = rowLength;
    file->ncols = 0;
    file->imagf = 0;
    file->namlen = name_length(rowName);
    ok = file->headerPos >= 0 && write_header(file) && write_name(fp, rowName);
  } else {
    ok = clocale_fprintf(fp, "%s%s", type == doubleMatrix ? "double " : "float ", rowName) >= 0;
    file->headerPos = ok ? ftello(fp) : -1;
    ok = ok && file->headerPos >= 0 &&
         clocale_fprintf(fp, " (0,%ld)%29s\n", static_cast<long>(rowLength), "") >= 0;
  }
  // On disk at once: the file is complete, with no rows yet, before the first row arrives.
  ok = ok && std::fflush(fp) == 0;
  file->rowsEnd = ok ? ftello(fp) : -1;
  if (ok) return 0;
  rowwise_failure(file, rowName, system_error());
  std::free(file->rowName);  // no matrix is being written row-wise
  file->rowName = nullptr;
  return 1;
}

int amatPutRrow(AmatFile* file, const float* row) {
  if (!file->fp || !file->rowName)
    return rowwise_failure(file, file->rowName, "no matrix is being written row-wise");
  FILE* fp = file->fp;
  // Where the row begins: a row that fails to reach the file is cut back to here.
  const off_t rowStart = file->rowsEnd >= 0 ? file->rowsEnd : ftello(fp);
  const size_t n = static_cast<size_t>(file->rowLength);
  if (file->format == 1) {
    const long rowNumber = static_cast<long>(file->ncols) + 1;
    if (file->rowType == doubleMatrix) {
      // Stored as float64, as the header declares.
      double chunk[64];
      for (size_t k = 0; k < n; k += 64) {
        size_t m = std::min<size_t>(64, n - k);
        for (size_t q = 0; q < m; ++q) chunk[q] = row[k + q];
        if (!write_bytes(fp, chunk, m * sizeof(double)))
          return row_failure(file, rowNumber, rowStart);
      }
    } else if (!write_bytes(fp, row, n * sizeof(float))) {
      return row_failure(file, rowNumber, rowStart);
    }
    // The row must be on disk before the header counts it.
    if (std::fflush(fp) != 0) return row_failure(file, rowNumber, rowStart);
    file->ncols += 1;
  } else {
    const long rowNumber = static_cast<long>(file->rowsWritten) + 1;
    bool ok = true;
    for (size_t k = 0; k < n && ok; ++k) {
      if (k > 0 && k % 5 == 0) ok = clocale_fprintf(fp, "\n    ") >= 0;
      ok = ok && clocale_fprintf(fp, " %14.7E", static_cast<double>(row[k])) >= 0;
    }
    ok = ok && clocale_fprintf(fp, "\n") >= 0 && std::fflush(fp) == 0;
    if (!ok) return row_failure(file, rowNumber, rowStart);
    file->rowsWritten += 1;
  }
  if (!rewrite_row_count(file)) rowwise_failure(file, file->rowName, system_error());
  // A failed rewrite leaves the row written; closing rewrites the count again.
  if (std::fflush(fp) != 0) rowwise_failure(file, file->rowName, system_error());
  return 0;
}

int amatPutRclose(AmatFile* file) {
  if (!file->fp || !file->rowName) return 0;
  bool ok = true;
  if (file->format == 0) ok = clocale_fprintf(file->fp, "\n") >= 0;
  ok = ok && rewrite_row_count(file);
  int result = ok ? 0 : rowwise_failure(file, file->rowName, system_error());
  std::free(file->rowName);
  file->rowName = nullptr;
  return result;
}
