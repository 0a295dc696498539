#pragma once
// The "huecraft" recipe: the colour-grading script for Resolve's Color page,
// its private runtime, its two language files, a LUT folder and the script's
// merged settings file.

#include "products/run_context.h"

namespace kb {

// Checks the existing settings and the LUT folder before changing anything,
// then installs every item through the run's transaction and adds the
// recipe's keys to the result record.
void installHuecraft(RunContext& ctx);

}  // namespace kb
