#pragma once
// The "huecraft" recipe: the colour-grading script for Resolve's Color page,
// its private runtime, its two language files, a LUT folder and the script's
// merged settings file.

#include "products/recipe.h"

#include <memory>

namespace kb {

std::unique_ptr<Recipe> makeHuecraftRecipe();

}  // namespace kb
