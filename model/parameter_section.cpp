// The parameter-dependent section: runs in the first pass of every initialisation call (and in
// a later pass of it when a rejected friction solve asked for a retry). It computes the model
// variables that follow from the parameters alone: animation dimensions, the copies of the
// body parameters, the bodies' start orientation and acceleration, the friction tables and
// the gravity terms; the axis labels and the materials close it.
#include "model/body_sections.h"
#include "model/call_frame.h"
#include "model/modelica_math.h"
#include "model/start_orientation.h"
#include "runtime/guarded.h"

namespace {

// Where one body's parameters arrive and where the body keeps its copies of them.
struct BodyParameterLayout {
  // Parameters: r_CM[1..3], m, I_11, I_22, I_33, I_21, I_31, I_32, angles_start[1..3],
  // w_0_start[1..3], z_0_start[1..3], in this order.
  int32_t parameters;
  int32_t massProperties;  // body.r_CM[1..3], body.m, body.I_11 .. body.I_32: 10 copies
  int32_t anglesStart;     // body.angles_start[1..3]
  int32_t w0Start;         // body.w_0_start[1..3]
  int32_t z0Start;         // body.z_0_start[1..3]
  int32_t inertia;         // body.I[1, 1] .. [3, 3], row-major
  int32_t zaStart;         // body.z_a_start[1..3]
  const StartOrientationMember& orientation;
};

constexpr BodyParameterLayout armBody{.parameters = 14,
                                      .massProperties = 1064,
                                      .anglesStart = 1087,
                                      .w0Start = 1094,
                                      .z0Start = 1098,
                                      .inertia = 1114,
                                      .zaStart = 1135,
                                      .orientation = armBodyStart};
constexpr BodyParameterLayout pendulumBody{.parameters = 35,
                                           .massProperties = 1366,
                                           .anglesStart = 1383,
                                           .w0Start = 1390,
                                           .z0Start = 1394,
                                           .inertia = 1410,
                                           .zaStart = 1431,
                                           .orientation = pendulumBodyStart};

void copy_body_parameters(const double* dp, double* w, const BodyParameterLayout& body) {
  const double* p = dp + body.parameters;
  for (int k = 0; k < 10; ++k) w[body.massProperties + k] = p[k];
  for (int k = 0; k < 3; ++k) w[body.anglesStart + k] = p[10 + k];
  for (int k = 0; k < 3; ++k) w[body.w0Start + k] = p[13 + k];
  for (int k = 0; k < 3; ++k) w[body.z0Start + k] = p[16 + k];

  // The symmetric inertia matrix from the copies of I_11, I_22, I_33, I_21, I_31, I_32.
  const double* c = w + body.massProperties + 4;
  const double I11 = c[0], I22 = c[1], I33 = c[2], I21 = c[3], I31 = c[4], I32 = c[5];
  const double I[9] = {I11, I21, I31, I21, I22, I32, I31, I32, I33};
  for (int k = 0; k < 9; ++k) w[body.inertia + k] = I[k];
}

// The start acceleration in body coordinates: R_start.T * z_0_start, summed from the left.
void body_start_acceleration(double* w, const BodyParameterLayout& body) {
  const double* T = w + body.orientation.rotation;
  const double* z = w + body.z0Start;
  for (int i = 0; i < 3; ++i)
    w[body.zaStart + i] = (T[3 * i] * z[0] + T[3 * i + 1] * z[1]) + T[3 * i + 2] * z[2];
}

// Parameter copies, start rotation, start acceleration, then quaternion and angle states.
void body_start_values(const double* dp, double* w, const BodyParameterLayout& body) {
  copy_body_parameters(dp, w, body);
  body_start_rotation(w, body.orientation);
  body_start_acceleration(w, body);
  body_start_quaternion_and_angles(w, body.orientation);
}

// 0 for a negative d; d itself otherwise (NaN included).
double not_negative(double d) { return d < 0 ? 0.0 : d; }

}  // namespace

void world_arm_dimensions(const ModelEntryArguments& a) {
  const double* dp = a.parameters;
  double* w = a.auxiliaries;
  w[23] = guarded_divide(w[22], "world.axisLength", dp[8], "world.defaultFrameDiameterFraction");
  w[35] = guarded_divide(w[34], "world.gravityArrowLength", dp[7], "world.defaultWidthFraction");
  w[52] = 5 * w[23] > w[22] ? w[22] : 5 * w[23];   // world.headLength
  w[53] = 3 * w[23];                               // world.headWidth
  w[54] = not_negative(w[22] - w[52]);             // world.lineLength
  w[55] = w[23];                                   // world.lineWidth
  w[56] = 3 * w[23];                               // world.scaledLabel
  w[828] = 4 * w[35] > w[34] ? w[34] : 4 * w[35];  // world.gravityHeadLength
  w[829] = 3 * w[35];                              // world.gravityHeadWidth
  w[830] = not_negative(w[34] - w[828]);           // world.gravityLineLength
  w[977] = guarded_divide(w[976], "arm.length", dp[7], "world.defaultWidthFraction");
  w[978] = w[977];      // arm.height
  w[982] = 2 * w[977];  // arm.sphereDiameter
  w[1034] =
      guarded_divide(w[1033], "arm.frameTranslation.length", dp[7], "world.defaultWidthFraction");
  w[1035] = w[1034];  // arm.frameTranslation.height
}

void dependent_parameters_rest(const ModelEntryArguments& a) {
  const double* dp = a.parameters;
  double* w = a.auxiliaries;

  body_start_values(dp, w, armBody);

  // Pendulum dimensions.
  w[1289] = guarded_divide(w[1288], "pendulum.length", dp[7], "world.defaultWidthFraction");
  w[1290] = w[1289];      // pendulum.height
  w[1294] = 2 * w[1289];  // pendulum.sphereDiameter
  w[1346] = guarded_divide(w[1345], "pendulum.frameTranslation.length", dp[7],
                           "world.defaultWidthFraction");
  w[1347] = w[1346];  // pendulum.frameTranslation.height

  body_start_values(dp, w, pendulumBody);

  // Friction tables: the arm's {{0, armFriction}, {armFriction, armFriction}}, the pendulum's
  // one row {0, pendulumFriction}; then gravity and the friction torques at rest.
  w[1730] = dp[12];
  w[1731] = dp[12];
  w[1732] = dp[12];
  w[1752] = dp[13];
  w[1145] = -dp[0];  // arm.body.g_0[2]
  push_call_text("Modelica.Math.tempInterpol1(0, armBearingFriction.tau_pos, 2)");
  const RealArray armTable = RealArrayWrap(w + 1729, 2, 2, 2);
  w[1733] = Modelica::Math::tempInterpol1(0.0, armTable, 2);  // armBearingFriction.tau0
  end_equation_reset();
  w[1734] = dp[58] * w[1733];        // armBearingFriction.tau0_max
  w[1437] = -dp[0];                  // pendulum.body.g_0[2]
  w[1753] = dp[60] * w[1752];        // pendulumBearingFriction.tau0_max
  w[1220] = dp[14] - 0.5 * w[982];   // arm.shape2.r_shape[1]
  w[1491] = dp[35] - 0.5 * w[1294];  // pendulum.shape2.r_shape[1]

  axis_label_geometry(a);
  materials_and_closing_parameters(a);
}
