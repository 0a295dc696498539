#include "products/run_context.h"

namespace kb {

const RecipeBook& productRecipes()
{
    static const RecipeBook recipes{};
    return recipes;
}

}  // namespace kb
