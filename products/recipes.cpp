#include "products/run_context.h"

#include "products/geoweave.h"
#include "products/huecraft.h"

namespace kb {

const RecipeBook& productRecipes()
{
    static const RecipeBook recipes{
        {"huecraft", installHuecraft},
        {"geoweave", installGeoweave},
    };
    return recipes;
}

}  // namespace kb
