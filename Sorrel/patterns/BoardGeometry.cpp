#include "BoardGeometry.h"

PatternGeometry BoardGeometry(const SBoard_Spec& spec) {
  return {spec.Width, spec.Height, spec.Height == 512 ? 300.0 : 150.0};
}
