// Materials and closing parameters of the parameter-dependent section: the gravity arrow's
// head offset, the encoded materials of the arm's and pendulum's shapes and of the joint
// cylinders (their specular coefficient is world.defaultSpecularCoefficient), and the weight of
// the arm body as the vertical cut force at its frame_a.
#include "model/body_sections.h"
#include "runtime/animation_encodings.h"

void materials_and_closing_parameters(const ModelEntryArguments& a) {
  double* w = a.auxiliaries;
  const double* dp = a.parameters;

  // world.gravityArrowHead.r_shape[2] = world.gravityArrowTail[2] - world.gravityLineLength
  w[891] = dp[4] - w[830];

  // Colour (0, 128, 255) for the bodies' shapes, (255, 0, 0) for the joint cylinders.
  w[1209] = pack_material(0.0, 0.501960784313725, 1.0, dp[9]);  // arm.shape1.Material
  w[1248] = w[1209];                                            // arm.shape2.Material
  w[1488] = w[1209];                                            // pendulum.shape1.Material
  w[1517] = w[1209];                                            // pendulum.shape2.Material
  w[1635] = pack_material(1.0, 0.0, 0.0, dp[9]);  // armJoint.cylinder.Material
  w[1725] = w[1635];                              // pendulumJoint.cylinder.Material

  // arm.body.frame_a.f[2] = (-arm.body.m) * arm.body.g_0[2]
  w[1058] = (-w[1067]) * w[1145];
}
