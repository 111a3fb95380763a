// Level 3: the friction modes of both bearings and the remaining level-3 outputs (orientations,
// angular velocities, cut forces and torques of the arm joint, shape positions).
#include "model/body_sections.h"
#include "model/friction_system.h"
#include "model/pre_values.h"

namespace {

namespace fp = friction_position;

// Forward while moving forward after Forward or Free or a forward start; Backward likewise;
// else Stuck. A relation is evaluated only when the test before it holds.
double friction_mode(const ModelEntryArguments& a, double preMode, int startForward,
                     int startBackward, int forwardRelation, int backwardRelation) {
  const double* w = a.auxiliaries;
  if ((preMode == ModeForward || preMode == ModeFree || w[startForward] != 0.0) &&
      friction_relation(a, forwardRelation))
    return ModeForward;
  if ((preMode == ModeBackward || preMode == ModeFree || w[startBackward] != 0.0) &&
      friction_relation(a, backwardRelation))
    return ModeBackward;
  return ModeStuck;
}

}  // namespace

void friction_modes_and_outputs(const ModelEntryArguments& a) {
  double* w = a.auxiliaries;
  const double* x = a.states;
  const double* F = a.derivatives;
  const double* dp = a.parameters;

  // Relations 11 and 15: pendulumJoint.w > 0, < 0; relations 3 and 7: armJoint.w > 0, < 0.
  w[fp::PendulumMode] =
      friction_mode(a, preValues[1], fp::PendulumStartForward, fp::PendulumStartBackward, 11, 15);
  w[fp::ArmMode] = friction_mode(a, preValues[0], fp::ArmStartForward, fp::ArmStartBackward, 3, 7);

  const double Ta11 = w[994], Ta13 = w[996], Ta31 = w[1000], Ta33 = w[1002];
  const double Tp21 = w[1356], Tp23 = w[1358], Tp31 = w[1359], Tp33 = w[1361];
  const double c = w[1672], s = w[1673], R32 = w[1675], R33 = w[1676];

  // Arm joint and arm body orientation.
  w[1571] = Ta13;  // armJoint.R_rel.T[1, 3]
  w[1047] = Ta13;  // arm.body.frame_a.R.T[1, 3]
  w[1569] = Ta11;
  w[1045] = Ta11;
  w[1577] = Ta33;
  w[1053] = Ta33;
  w[1575] = Ta31;
  w[1051] = Ta31;
  // Arm angular velocities.
  w[1579] = x[1];  // armJoint.R_rel.w[2]
  w[1055] = x[1];  // arm.body.frame_a.R.w[2]
  w[1004] = x[1];  // arm.frameTranslation.frame_a.R.w[2]
  // Pendulum angular velocity.
  w[1362] = x[3];  // pendulum.body.frame_a.R.w[1]
  w[1677] = x[3];  // pendulumJoint.R_rel.w[1]
  // Pendulum body orientation.
  w[1357] = c;
  w[1360] = R32;
  w[1353] = Ta11;
  w[1355] = Ta13;
  // Pendulum frame translation: frame_a.R.T and frame_a.R.w.
  w[1304] = Ta11;
  w[1306] = Ta13;
  w[1307] = Tp21;
  w[1308] = c;
  w[1309] = Tp23;
  w[1310] = Tp31;
  w[1311] = R32;
  w[1312] = Tp33;
  w[1313] = x[3];
  w[1314] = w[1363];
  w[1315] = w[1364];
  // Arm joint force, frame b.
  w[1548] = w[1647] - w[1057];               // armJoint.frame_b.f[1]
  w[1006] = -(c * w[1648] + R32 * w[1649]);  // arm.frameTranslation.frame_a.f[2]
  w[1549] = -(w[1058] + w[1006]);            // armJoint.frame_b.f[2]
  w[1550] = -(w[1059] + w[1007]);            // armJoint.frame_b.f[3]
  // Arm body torque and arm joint torque, frame b.
  w[1060] = ((w[1115] * F[1] + (x[1] * w[1121]) * x[1]) + w[1065] * w[1059]) - w[1066] * w[1058];
  w[1551] = w[1650] - w[1060];  // armJoint.frame_b.t[1]
  w[1062] = ((w[1121] * F[1] - (x[1] * w[1115]) * x[1]) + w[1064] * w[1058]) - w[1065] * w[1057];
  w[1019] = s * w[1651] + R33 * w[1652];  // arm.frameTranslation.frame_b.t[3]
  w[1009] = 0.245 * w[1006] - w[1019];    // arm.frameTranslation.frame_a.t[3]
  w[1553] = -(w[1062] + w[1009]);         // armJoint.frame_b.t[3]
  // Bearing angles.
  w[1748] = x[0] - dp[56];  // armBearingFriction.phi
  w[1767] = x[2] - dp[57];  // pendulumBearingFriction.phi
  // Pendulum origin.
  w[1266] = 0.245 * Ta13;            // pendulum.r_0[3]
  w[1264] = 0.245 * Ta11;            // pendulum.r_0[1]
  w[1270] = (-0.245 * Ta33) * x[1];  // pendulum.v_0[3]
  w[1268] = (-0.245 * Ta31) * x[1];  // pendulum.v_0[1]
  // Arm joint, frame a.
  w[1535] = -(Ta13 * w[1548] + Ta33 * w[1550]);
  w[1534] = -(Ta11 * w[1548] + Ta31 * w[1550]);
  w[1537] = -(Ta13 * w[1551] + Ta33 * w[1553]);
  w[1536] = -(Ta11 * w[1551] + Ta31 * w[1553]);
  // Shapes.
  w[1246] = Ta11 * w[1220] + Ta31 * dp[16];  // arm.shape2.rvisobj[1]
  w[1247] = Ta13 * w[1220] + Ta33 * dp[16];  // arm.shape2.rvisobj[3]
  w[1324] = 0.421 * Tp23 + w[1266];          // pendulum.frameTranslation.frame_b.r_0[3]
  w[1322] = 0.421 * Tp21 + w[1264];
  w[1323] = 0.421 * c;
  w[1514] = ((Ta11 * w[1491] + w[1264]) + Tp21 * dp[36]) + Tp31 * dp[37];  // pendulum.shape2
  w[1515] = c * dp[36] + R32 * dp[37];
  w[1516] = ((Ta13 * w[1491] + w[1266]) + Tp23 * dp[36]) + Tp33 * dp[37];
  w[1719] = w[1264] - 0.05 * Ta11;  // pendulumJoint.cylinder.rvisobj[1]
  w[1721] = w[1266] - 0.05 * Ta13;  // pendulumJoint.cylinder.rvisobj[3]
}
