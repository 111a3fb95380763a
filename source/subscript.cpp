// General subscripting of real arrays: colons, ranges, stepped ranges, index vectors and scalar
// indexes, unpacked into VA_handler and copied block by block.
#include <cstring>

#include "source/buffer_take.h"
#include "source/matrixop.h"

VAHandlerEntry VA_handler[VAHandlerSize];

namespace {

// An entry number i may be stored only while i + 4 < VAHandlerSize: at most 96 entries.
constexpr bool entry_fits(int32_t i) { return i + 4 < VAHandlerSize; }

// A copy of a subscript list, ended on every way out.
struct ListCursor {
  va_list ap;
  explicit ListCursor(va_list list) { va_copy(ap, list); }
  ~ListCursor() { va_end(ap); }
  ListCursor(const ListCursor&) = delete;
  ListCursor& operator=(const ListCursor&) = delete;

  // Reads one tag and its operands. An unknown tag fails before anything more is read, so the
  // list is never walked past an entry whose length is not known.
  VAHandlerEntry next() {
    VAHandlerEntry e{};
    e.type = va_arg(ap, int32_t);
    switch (e.type) {
      case SubscriptColon:
      case SubscriptEnd:
        break;
      case SubscriptRange:
        e.a = va_arg(ap, int32_t);
        e.b = 1;
        e.c = va_arg(ap, int32_t);
        break;
      case SubscriptSteppedRange:
        e.a = va_arg(ap, int32_t);
        e.b = va_arg(ap, int32_t);
        e.c = va_arg(ap, int32_t);
        break;
      case SubscriptIndexVector:
        e.v = va_arg(ap, IntegerArray);
        break;
      case SubscriptScalar:
        e.a = va_arg(ap, int32_t);
        break;
      default:
        FailCheck("(tag>=0)&&(tag<=5)", "Array subscripting: unknown subscript tag");
    }
    return e;
  }
};

}  // namespace

VAHandlerEntry* FillVAHandler(va_list subscripts) {
  ListCursor list(subscripts);
  for (int32_t i = 0;; ++i) {
    model_assert(entry_fits(i), "i+4<sizeof(VA_handler)/sizeof(*VA_handler)",
                 "Out of memory for va_list");
    VA_handler[i] = list.next();
    if (VA_handler[i].type == SubscriptEnd) break;
  }
  return VA_handler;
}

void SubscriptCopy(RealArray res, int64_t ro, int32_t rd, RealArray a, int64_t so, int32_t sd,
                   int64_t n, const VAHandlerEntry* e) {
  switch (e->type) {
    case SubscriptColon:
      for (int64_t i = 0; i < a.dims[sd]; ++i)
        SubscriptCopy(res, ro * a.dims[sd] + i, rd + 1, a, so * a.dims[sd] + i, sd + 1, n, e + 1);
      break;
    case SubscriptRange:
    case SubscriptSteppedRange:
      for (int64_t j = 0; j < res.dims[rd]; ++j)
        SubscriptCopy(res, ro * res.dims[rd] + j, rd + 1, a,
                      so * a.dims[sd] + (e->a - 1) + j * e->b, sd + 1, n, e + 1);
      break;
    case SubscriptIndexVector:
      for (int64_t j = 0; j < e->v.dims[0]; ++j)
        SubscriptCopy(res, ro * res.dims[rd] + j, rd + 1, a, so * a.dims[sd] + e->v.data[j] - 1,
                      sd + 1, n, e + 1);
      break;
    case SubscriptScalar:
      SubscriptCopy(res, ro, rd, a, so * a.dims[sd] + e->a - 1, sd + 1, n, e + 1);
      break;
    case SubscriptEnd:
      if (n > 0)
        std::memcpy(res.data + ro * n, a.data + so * n, static_cast<size_t>(n) * sizeof(double));
      break;
    default:
      FailCheck("(tag>=0)&&(tag<=5)", "Array subscripting: unknown subscript tag");
  }
}

RealArray RealArraySubscriptList(RealArray a, va_list subscripts) {
  // First pass: count the subscripts and the dimensions of the result.
  int32_t nargs = 0;
  int32_t m = a.ndims;
  {
    // The whole list is validated here; a list too long for VA_handler fails only when it is
    // unpacked, after the subscripts have been checked.
    ListCursor list(subscripts);
    for (;;) {
      const VAHandlerEntry e = list.next();
      if (e.type == SubscriptEnd) break;
      ++nargs;
      if (e.type == SubscriptScalar) {
        model_assert(m > 0, "ndims>0", "Internal error in subscriptring of array");
        --m;
      }
    }
  }
  model_assert(nargs <= a.ndims, "nargs<=a.ndims", "Too many subscripts for array");

  RealArray res{m, TakeSizes(m), nullptr};

  // Second pass: check every subscript against its source dimension, set the result extents.
  int32_t r = 0;
  {
    ListCursor list(subscripts);
    for (int32_t a_dim = 0;; ++a_dim) {
      const VAHandlerEntry e = list.next();
      if (e.type == SubscriptEnd) break;
      switch (e.type) {
        case SubscriptColon:
          res.dims[r++] = a.dims[a_dim];
          break;
        case SubscriptRange:
        case SubscriptSteppedRange: {
          const int32_t start = e.a, step = e.b, stop = e.c;
          model_assert(step != 0, "step!=0", "Range subscripting: step must not be zero");
          // Elements start, start + step, ... up to stop; the quotient is rounded down, so a
          // step pointing away from stop gives no element (2:3:1 is empty, not {2}).
          const int64_t span = int64_t{stop} - start;
          int64_t quotient = span / step;
          if (span % step != 0 && (span < 0) != (step < 0)) quotient -= 1;
          const int64_t count = quotient + 1;
          if (count <= 0) {
            res.dims[r++] = 0;
            break;
          }
          model_assert((start >= 1) && (start <= a.dims[a_dim]),
                       "(start>=1)&&(start<=a.dims[a_dim])",
                       "Range subscripting: start out of range");
          model_assert((stop >= 1) && (stop <= a.dims[a_dim]), "(stop >=1)&&(stop <=a.dims[a_dim])",
                       "Range subscripting: end out of range");
          res.dims[r++] = static_cast<int32_t>(count);
          break;
        }
        case SubscriptIndexVector: {
          const IntegerArray v = e.v;
          model_assert(v.ndims == 1, "v.ndims==1",
                       "Array subscripting: only vectors (and scalars) allowed as indicies");
          res.dims[r] = v.dims[0];
          for (int32_t i = 0; i < v.dims[0]; ++i)
            model_assert((v.data[i] >= 1) && (v.data[i] <= a.dims[a_dim]),
                         "(v.data[i]>=1)&&(v.data[i]<=a.dims[a_dim])",
                         "Array subscripting: vector index out of range");
          ++r;
          break;
        }
        case SubscriptScalar: {
          const int32_t i = e.a;
          model_assert((i >= 1) && (i <= a.dims[a_dim]), "(i>=1)&&(i<=a.dims[a_dim])",
                       "Array subscripting: scalar index out of range");
          break;
        }
      }
    }
  }

  // Dimensions without a subscript are copied whole, as blocks of n elements.
  for (int32_t d = nargs; d < a.ndims; ++d) res.dims[r++] = a.dims[d];
  const int64_t n = ArrayElementCount(a.ndims - nargs, a.dims + nargs);

  res.data = TakeReals(ArrayElementCount(res.ndims, res.dims));
  SubscriptCopy(res, 0, 0, a, 0, 0, n, FillVAHandler(subscripts));
  return res;
}

RealArray RealArraySubscript(RealArray a, ...) {
  va_list args;
  va_start(args, a);
  RealArray r = RealArraySubscriptList(a, args);
  va_end(args);
  return r;
}
