// The world's axis-label geometry: the seven cylinders that draw the labels "x", "y" and "z"
// beside the world's coordinate axes, all scaled by world.scaledLabel (w[56]). For each
// cylinder: its length, the unit vector e_x along it and the unit vector e_y across it, in the
// order and with the arithmetic of the generated equations (signed zeros included). The
// constant components (0 or 1) are bindings of the constant section and are folded in here.
#include <cmath>

#include "model/body_sections.h"
#include "model/guard_text.h"
#include "runtime/guarded.h"

namespace {

// Texts of the guards of one cylinder, by the names of the model's equations.
struct CylinderTexts {
  const char* absNx;        // denominator of the e_x divisions
  const char* u1;           // numerators of the normalisation (u1, u2 only for z cylinders)
  const char* u2;
  const char* u3;
  const char* root;         // square root of |u|^2
  const char* denominator;  // |u| as the normalisation's denominator
};

// The names of a cylinder's e_x components.
template <std::size_t N>
struct DirectionTexts {
  GuardText<N + 7> X1, X2, X3;
};

template <std::size_t N>
constexpr DirectionTexts<N> e_x_texts(const GuardText<N>& name) {
  return {name + ".e_x[1]", name + ".e_x[2]", name + ".e_x[3]"};
}

// P and Q: the first and second components of the selected width direction, in the model's
// words, for the selection test T.
template <std::size_t X, std::size_t T>
constexpr auto selection_p(const GuardText<X>& X1, const GuardText<T>& test) {
  return "(if " + test + " then 1 else (if abs(" + X1 + ") > 1E-006 then 1 else 0))";
}
template <std::size_t X, std::size_t T>
constexpr auto selection_q(const GuardText<X>& X1, const GuardText<T>& test) {
  return "(if " + test + " then 0 else (if abs(" + X1 + ") > 1E-006 then 0 else 1))";
}

// The texts of a cylinder kept as character arrays of static storage.
template <class A, class U1, class U2, class U3, class R, class D>
struct CylinderTextStore {
  A absNx;
  U1 u1;
  U2 u2;
  U3 u3;
  R root;
  D denominator;

  constexpr CylinderTexts view() const {
    return {absNx.c_str(), u1.c_str(), u2.c_str(), u3.c_str(), root.c_str(), denominator.c_str()};
  }
};

// An x or y cylinder: the selection tests e_x[1] alone; only u3 is formed.
template <std::size_t N>
constexpr auto flat_cylinder_texts(const GuardText<N>& name) {
  const auto [X1, X2, X3] = e_x_texts(name);
  const auto T = X1 + "*" + X1 + " > 1E-006";
  const auto K = X1 + "*" + selection_p(X1, T) + "-" + X2 + "*" + selection_q(X1, T);
  return CylinderTextStore{name + ".abs_n_x",
                           guard_text(""),
                           guard_text(""),
                           cut_guard_text(K),
                           cut_guard_text("(" + K + ")*(" + K + ")"),
                           cut_guard_text("sqrt((" + K + ")*(" + K + "))")};
}

// A z cylinder: the selection tests e_x[3] and e_x[1]. u3 is e_x[1]*P, or the whole
// e_x[1]*P-e_x[2]*Q for the tilted stroke. The texts of |u|^2 and |u| are cut within their
// first term.
template <bool Tilted, std::size_t N>
constexpr auto z_cylinder_texts(const GuardText<N>& name) {
  const auto [X1, X2, X3] = e_x_texts(name);
  const auto T = X3 + "*" + X3 + "+" + X1 + "*" + X1 + " > 1E-006";
  const auto P = selection_p(X1, T);
  const auto Q = selection_q(X1, T);
  const auto square = X3 + "*" + P + "*" + X3 + "*" + P;
  static_assert(decltype(square)::length > GuardTextLimit);
  const auto u3 = [&] {
    if constexpr (Tilted)
      return cut_guard_text(X1 + "*" + P + "-" + X2 + "*" + Q);
    else
      return X1 + "*" + P;
  }();
  return CylinderTextStore{name + ".abs_n_x",
                           X3 + "*" + P,
                           X3 + "*" + Q,
                           u3,
                           cut_guard_text(square),
                           cut_guard_text("sqrt(" + square)};
}

constexpr auto xLabel1Store = flat_cylinder_texts(guard_text("world.x_label.cylinders[1]"));
constexpr auto xLabel2Store = flat_cylinder_texts(guard_text("world.x_label.cylinders[2]"));
constexpr auto yLabel1Store = flat_cylinder_texts(guard_text("world.y_label.cylinders[1]"));
constexpr auto yLabel2Store = flat_cylinder_texts(guard_text("world.y_label.cylinders[2]"));
constexpr auto zLabel1Store = z_cylinder_texts<false>(guard_text("world.z_label.cylinders[1]"));
constexpr auto zLabel2Store = z_cylinder_texts<false>(guard_text("world.z_label.cylinders[2]"));
constexpr auto zLabel3Store = z_cylinder_texts<true>(guard_text("world.z_label.cylinders[3]"));

static_assert(decltype(xLabel1Store.u3)::length == 389);  // passed whole
static_assert(decltype(zLabel1Store.u1)::length == 262);
static_assert(decltype(zLabel3Store.u3)::length == GuardTextLimit);  // cut

constexpr CylinderTexts xLabel1 = xLabel1Store.view();
constexpr CylinderTexts xLabel2 = xLabel2Store.view();
constexpr CylinderTexts yLabel1 = yLabel1Store.view();
constexpr CylinderTexts yLabel2 = yLabel2Store.view();
constexpr CylinderTexts zLabel1 = zLabel1Store.view();
constexpr CylinderTexts zLabel2 = zLabel2Store.view();
constexpr CylinderTexts zLabel3 = zLabel3Store.view();

constexpr const char* ScaledLabel = "world.scaledLabel";

// A cylinder shorter than this points along (1, 0, 0).
constexpr double VanishingLength = 1e-10;
// Below this |u| is not divided by but scaled by 1e13.
constexpr double VanishingNormal = 1e-13;

// Component of e_x: the length direction's component over abs_n_x, or that of (1, 0, 0) when
// abs_n_x vanishes (a NaN abs_n_x is divided).
double e_x_component(double component, const char* text, double absNx, const CylinderTexts& t,
                     double alongX) {
  if (absNx < VanishingLength) return alongX;
  return guarded_divide(component, text, absNx, t.absNx);
}
// The same for a component -s of the length direction: s is divided and the quotient negated.
double negated_e_x_component(double s, double absNx, const CylinderTexts& t) {
  if (absNx < VanishingLength) return 0.0;
  return -guarded_divide(s, ScaledLabel, absNx, t.absNx);
}

struct Selection {
  double y1, y2;  // y3 is 0
};

// The helper direction y for e_y: the width direction (0, 1, 0) unless e_x lies along it, then
// (0, 1, 0) again unless e_x[1] vanishes too, then (1, 0, 0). A NaN fails both tests.
Selection select_width(double nzAuxSquared, double ex1) {
  if (nzAuxSquared > 1e-6 || std::fabs(ex1) > 1e-6) return {0.0, 1.0};
  return {1.0, 0.0};
}

// u_k / |u|, or u_k * 1e13 when |u| vanishes.
double normalised(double u, const char* text, double n, const CylinderTexts& t) {
  if (n >= VanishingNormal) return guarded_divide(u, text, n, t.denominator);
  return u * 1e13;
}

// e_y[1], e_y[2] of an x or y cylinder (e_x[3] = 0): e_y = normalised(e_x x y) x e_x. The
// generated code forms u and |u| again for each component; the values are the same each time.
void flat_cylinder_e_y(double* w, int ex, int ey, const CylinderTexts& t) {
  const double ex1 = w[ex];
  const double ex2 = w[ex + 1];
  const Selection y = select_width(ex1 * ex1, ex1);
  const double u3 = ex1 * y.y2 - ex2 * y.y1;
  const double n = guarded_sqrt(u3 * u3, t.root);
  const double nu3 = normalised(u3, t.u3, n, t);
  w[ey] = -(nu3 * ex2);
  w[ey + 1] = nu3 * ex1;
}

// e_y[1..3] of a z cylinder. Only the tilted stroke has an e_x[2]; for the others the terms
// with it are left out (not added as zeros, which could turn a -0 into 0).
template <bool Tilted>
void z_cylinder_e_y(double* w, int ex, int ey, const CylinderTexts& t) {
  const double ex1 = w[ex];
  const double ex3 = w[ex + 2];
  const Selection y = select_width(ex3 * ex3 + ex1 * ex1, ex1);
  const double u1 = -(ex3 * y.y2);
  const double u2 = ex3 * y.y1;
  double u3 = ex1 * y.y2;
  if constexpr (Tilted) u3 = ex1 * y.y2 - w[ex + 1] * y.y1;
  const double n = guarded_sqrt(u3 * u3 + (u2 * u2 + u1 * u1), t.root);
  const double nu1 =
      n >= VanishingNormal ? -guarded_divide(ex3 * y.y2, t.u1, n, t.denominator) : u1 * 1e13;
  const double nu2 = normalised(u2, t.u2, n, t);
  const double nu3 = normalised(u3, t.u3, n, t);
  if constexpr (Tilted) {
    const double ex2 = w[ex + 1];
    w[ey] = nu2 * ex3 - nu3 * ex2;
    w[ey + 1] = nu3 * ex1 - nu1 * ex3;
    w[ey + 2] = nu1 * ex2 - nu2 * ex1;
  } else {
    w[ey] = nu2 * ex3;
    w[ey + 1] = nu3 * ex1 - nu1 * ex3;
    w[ey + 2] = -(nu2 * ex1);
  }
}

}  // namespace

void axis_label_geometry(const ModelEntryArguments& a) {
  double* w = a.auxiliaries;
  const double s = w[56];  // world.scaledLabel

  // world.x_label.cylinders[1]: length direction (s, s, 0).
  w[234] = guarded_sqrt(2.0 * s * s, "2*world.scaledLabel*world.scaledLabel");
  w[240] = w[234];
  w[241] = e_x_component(s, ScaledLabel, w[240], xLabel1, 1.0);
  w[242] = e_x_component(s, ScaledLabel, w[240], xLabel1, 0.0);
  flat_cylinder_e_y(w, 241, 246, xLabel1);

  // world.x_label.cylinders[2]: (s, -s, 0), as long as the first stroke.
  w[278] = w[234];
  w[284] = w[234];
  w[285] = e_x_component(s, ScaledLabel, w[284], xLabel2, 1.0);
  w[286] = negated_e_x_component(s, w[284], xLabel2);
  flat_cylinder_e_y(w, 285, 290, xLabel2);

  // The y letter's coordinates.
  w[473] = -1.5 * s;  // world.y_label.cylinders[1].lengthDirection[1]
  w[427] = 1.5 * s;   // world.y_label.lines[2, 1, 2]
  w[519] = 0.5 * s;   // world.y_label.cylinders[2].lengthDirection[2]
  w[428] = 0.75 * s;  // world.y_label.lines[2, 2, 2]

  // world.y_label.cylinders[1]: (w[473], s, 0).
  w[478] = guarded_sqrt(w[473] * w[473] + s * s,
                        "world.scaledLabel*world.scaledLabel+"
                        "world.y_label.cylinders[1].lengthDirection[1]*"
                        "world.y_label.cylinders[1].lengthDirection[1]");
  w[484] = w[478];
  w[485] = e_x_component(w[473], "world.y_label.cylinders[1].lengthDirection[1]", w[484],
                         yLabel1, 1.0);
  w[486] = e_x_component(s, ScaledLabel, w[484], yLabel1, 0.0);
  flat_cylinder_e_y(w, 485, 490, yLabel1);

  // world.y_label.cylinders[2]: (w[518], w[519], 0) from the lines' end points; its abs_n_x
  // is a root of its own.
  w[518] = (w[428] - w[427]) * -1.0;
  const double d = w[428] - w[427];
  w[524] = guarded_sqrt(d * d + w[519] * w[519],
                        "world.y_label.cylinders[2].lengthDirection[2]*"
                        "world.y_label.cylinders[2].lengthDirection[2]+"
                        "(world.y_label.lines[2, 2, 2]-world.y_label.lines[2, 1, 2])*"
                        "(world.y_label.lines[2, 2, 2]-world.y_label.lines[2, 1, 2])");
  w[530] = guarded_sqrt(w[519] * w[519] + w[518] * w[518],
                        "world.y_label.cylinders[2].lengthDirection[1]*"
                        "world.y_label.cylinders[2].lengthDirection[1]+"
                        "world.y_label.cylinders[2].lengthDirection[2]*"
                        "world.y_label.cylinders[2].lengthDirection[2]");
  w[531] = e_x_component(w[518], "world.y_label.cylinders[2].lengthDirection[1]", w[530],
                         yLabel2, 1.0);
  w[532] = e_x_component(w[519], "world.y_label.cylinders[2].lengthDirection[2]", w[530],
                         yLabel2, 0.0);
  flat_cylinder_e_y(w, 531, 536, yLabel2);

  // world.z_label.cylinders[1] and [2]: (0, 0, s); e_x[1] needs no division.
  w[725] = guarded_sqrt(s * s, "world.scaledLabel*world.scaledLabel");
  w[731] = w[725];
  w[732] = w[731] < VanishingLength ? 1.0 : 0.0;
  w[734] = e_x_component(s, ScaledLabel, w[731], zLabel1, 0.0);
  z_cylinder_e_y<false>(w, 732, 736, zLabel1);

  w[768] = w[725];
  w[774] = w[725];
  w[775] = w[774] < VanishingLength ? 1.0 : 0.0;
  w[777] = e_x_component(s, ScaledLabel, w[774], zLabel2, 0.0);
  z_cylinder_e_y<false>(w, 775, 779, zLabel2);

  // world.z_label.cylinders[3]: (0, -s, s), as long as the x strokes.
  w[809] = w[234];
  w[815] = w[234];
  w[816] = w[815] < VanishingLength ? 1.0 : 0.0;
  w[817] = negated_e_x_component(s, w[815], zLabel3);
  w[818] = e_x_component(s, ScaledLabel, w[815], zLabel3, 0.0);
  z_cylinder_e_y<true>(w, 816, 820, zLabel3);
}
