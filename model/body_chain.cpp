// The chain of body pieces. Each piece runs its sections under their guards, calls the next
// piece as the last step of its work, and on its way back copies a nonzero RunStatus into
// *QiErr; so the exit steps run in reverse order and model_bindings_1's is the last thing a pass
// does. A model error anywhere leaves the chain at once (no exit step runs).
#include "model/body_chain.h"

#include "model/body_sections.h"
#include "model/pre_values.h"
#include "model/test_fault.h"

int32_t sectionFlag = 0;

namespace {

// Entry test of every piece after the first.
bool may_run(const ModelEntryArguments& a) { return *a.QiErr == 0; }

void exit_step(const ModelEntryArguments& a) {
  if (modelRuntime.status != RunStatusOk) *a.QiErr = modelRuntime.status;
}

}  // namespace

void model_bindings_1(const ModelEntryArguments& a, int /*extra*/) {
  if (tavelo_test_fault != TestFaultNone || tavelo_test_pass_hook != nullptr ||
      tavelo_test_print_flags != 0)
    apply_test_fault(a);
  if (GI(a.computedLevel)) constant_block_1(a.auxiliaries);
  model_bindings_2(a);
  exit_step(a);
}

void model_bindings_2(const ModelEntryArguments& a) {
  if (may_run(a)) {
    if (sectionFlag) constant_block_2(a.auxiliaries);
    model_bindings_3(a);
  }
  exit_step(a);
}

void model_bindings_3(const ModelEntryArguments& a) {
  if (may_run(a)) {
    if (sectionFlag) constant_block_3(a.auxiliaries);
    model_bindings_4(a);
  }
  exit_step(a);
}

void model_bindings_4(const ModelEntryArguments& a) {
  if (may_run(a)) {
    if (sectionFlag) constant_block_4(a.auxiliaries);
    model_bindings_5(a);
  }
  exit_step(a);
}

void model_bindings_5(const ModelEntryArguments& a) {
  if (may_run(a)) {
    if (sectionFlag) constant_block_5(a.auxiliaries);
    model_bindings_6(a);
  }
  exit_step(a);
}

void model_bindings_6(const ModelEntryArguments& a) {
  if (may_run(a)) {
    if (sectionFlag) constant_block_6(a.auxiliaries);
    if (GN()) world_arm_dimensions(a);
    model_dependent_parameters(a);
  }
  exit_step(a);
}

void model_dependent_parameters(const ModelEntryArguments& a) {
  if (may_run(a)) {
    int32_t* level = a.computedLevel;
    if (sectionFlag) dependent_parameters_rest(a);  // flag of GN

    GI(level);  // no equations of its own
    if (GE(level)) initial_equations(a);

    GI(level);  // no equations; the update below runs in every pass
    sectionFlag = 1;
    if (!tavelo_test_bare_body)
      update_discrete_pre_values(a, 0, modelRuntime.initial, modelRuntime.event, 0);

    if (GI(level)) save_discrete_values(a);
    GI(level);
    if (GE(level)) restore_discrete_values(a);

    if (GI(level)) {
      modelRuntime.initial = 0;
      if (!tavelo_test_bare_body)
        update_discrete_pre_values(a, 2, modelRuntime.initial, modelRuntime.event, 0);
      modelRuntime.initial = 1;
      end_equation_reset();
    }

    GL(1, a);  // level 1 has no equations
    if (GL(2, a)) joint_kinematics(a);
    model_friction_mixed_system(a);
  }
  exit_step(a);
}

void model_friction_mixed_system(const ModelEntryArguments& a) {
  if (may_run(a)) {
    bool solved = true;
    if (sectionFlag && !tavelo_test_bare_body) solved = friction_mixed_system(a);  // flag of GL(2)
    if (solved) model_outputs_and_modes(a);
  }
  exit_step(a);
}

void model_outputs_and_modes(const ModelEntryArguments& a) {
  if (may_run(a)) {
    if (sectionFlag) {  // flag of GL(2): der(phi) = w for both joints
      a.derivatives[0] = a.states[1];
      a.derivatives[2] = a.states[3];
    }
    if (GL(3, a) && !tavelo_test_bare_body) friction_modes_and_outputs(a);
    sectionFlag = 1;
    if (!tavelo_test_bare_body)
      update_discrete_pre_values(a, 1, modelRuntime.initial, modelRuntime.event, 0);
    end_equation_reset();
  }
  exit_step(a);
}
