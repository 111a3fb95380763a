// The start orientation of the two bodies: the transformation matrix R_start.T built from a
// body's rotation sequence and start angles, its quaternion Q_start and the potential angle
// states phi_start. One template, run for arm.body and pendulum.body inside the
// parameter-dependent section (parameter_section.cpp fixes where).
#pragma once

#include <cstdint>

// Positions of one body's start-orientation values in the auxiliaries, and the texts of its
// two calls of translated functions.
struct StartOrientationMember {
  int32_t sequenceStart;        // sequence_start[1..3]: axis of each rotation, 1 x, 2 y, else z
  int32_t anglesStart;          // angles_start[1..3]
  int32_t rotation;             // R_start.T[1, 1] .. [3, 3], row-major
  int32_t angularVelocity;      // R_start.w[1..3]
  int32_t sequenceAngleStates;  // sequence_angleStates[1..3]
  int32_t quaternion;           // Q_start[1..4]
  int32_t angleStates;          // phi_start[1..3]
  const char* quaternionCall;
  const char* angleCall;
};

inline constexpr StartOrientationMember armBodyStart{
    .sequenceStart = 1090,
    .anglesStart = 1087,
    .rotation = 1123,
    .angularVelocity = 1132,
    .sequenceAngleStates = 1111,
    .quaternion = 1147,
    .angleStates = 1155,
    .quaternionCall =
        "Modelica.Mechanics.MultiBody.Frames.to_Q(\narm.body.R_start, \n"
        "Modelica.Mechanics.MultiBody.Frames.Quaternions.nullRotation())",
    .angleCall =
        "Modelica.Mechanics.MultiBody.Frames.axesRotationsAngles(\narm.body.R_start, \n"
        "arm.body.sequence_angleStates, \n0)"};

inline constexpr StartOrientationMember pendulumBodyStart{
    .sequenceStart = 1386,
    .anglesStart = 1383,
    .rotation = 1419,
    .angularVelocity = 1428,
    .sequenceAngleStates = 1407,
    .quaternion = 1439,
    .angleStates = 1447,
    .quaternionCall =
        "Modelica.Mechanics.MultiBody.Frames.to_Q(\npendulum.body.R_start, \n"
        "Modelica.Mechanics.MultiBody.Frames.Quaternions.nullRotation())",
    .angleCall =
        "Modelica.Mechanics.MultiBody.Frames.axesRotationsAngles(\npendulum.body.R_start, \n"
        "pendulum.body.sequence_angleStates, \n0)"};

// R_start.T = R_3 * R_2 * R_1, R_i the elementary rotation about axis sequence_start[i] by
// angles_start[i]. w is the auxiliaries array.
void body_start_rotation(double* w, const StartOrientationMember& body);

// Q_start from R_start.T (signed toward the null rotation), then phi_start: a copy of
// angles_start when both sequences agree element by element, otherwise the angles about the
// axes of sequence_angleStates that give R_start.T.
void body_start_quaternion_and_angles(double* w, const StartOrientationMember& body);
