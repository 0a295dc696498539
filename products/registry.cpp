// The products this installer carries, by id: one line each.

#include "products/geoweave.h"
#include "products/huecraft.h"
#include "products/recipe.h"

#include <array>
#include <utility>

namespace kb {

std::unique_ptr<Recipe> makeRecipe(std::string_view id)
{
    static constexpr std::array<std::pair<std::string_view, std::unique_ptr<Recipe> (*)()>, 2> recipes{{
        {"huecraft", makeHuecraftRecipe},
        {"geoweave", makeGeoweaveRecipe},
    }};
    for (const auto& [known, make] : recipes) {
        if (known == id) return make();
    }
    return nullptr;
}

}  // namespace kb
