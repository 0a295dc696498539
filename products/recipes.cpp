#include "products/run_context.h"

#include "products/huecraft.h"

namespace kb {

const RecipeBook& productRecipes()
{
    static const RecipeBook recipes{
        {"huecraft", installHuecraft},
    };
    return recipes;
}

}  // namespace kb
