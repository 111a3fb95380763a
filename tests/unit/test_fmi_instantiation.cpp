// Instantiation after an earlier instance's result writer: the walk that copies the start
// values must run in its own phase, whatever phase the writer left behind.
#include <gtest/gtest.h>

#include <cstdlib>

#include "fmi/fmi_functions.h"
#include "fmi/model_instance.h"
#include "model/variable_table.h"

namespace {

TEST(FmiInstantiation, StartValuesArriveWhateverPhaseTheWriterLeft) {
  ASSERT_EQ(currentInstance, nullptr);
  const fmiCallbackFunctions functions{nullptr, std::calloc, std::free};
  for (int phase : {2, 5, 7, 8}) {
    SCOPED_TRACE(phase);
    ResultWriterPhase = phase;
    fmiComponent c = fmiInstantiateModel("unit", modelGUID, functions, fmiFalse);
    ASSERT_NE(c, nullptr);
    const ModelInstance& m = *static_cast<ModelInstance*>(c);
    EXPECT_EQ(m.states[2], 0.5235987755983);  // pendulumJoint.phi
    EXPECT_EQ(m.parameters[0], 9.81);         // world.g
    EXPECT_EQ(ResultWriterPhase, 0);
    fmiFreeModelInstance(c);
  }
}

}  // namespace
