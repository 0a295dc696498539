// The products this installer carries, by id: one line each.

#include "products/geoweave.h"
#include "products/huecraft.h"
#include "products/recipe.h"

#include <array>
#include <utility>

namespace kb {

namespace {

constexpr std::array<std::pair<std::string_view, std::unique_ptr<Recipe> (*)()>, 2> recipes{{
    {"huecraft", makeHuecraftRecipe},
    {"geoweave", makeGeoweaveRecipe},
}};

}  // namespace

std::unique_ptr<Recipe> makeRecipe(std::string_view id)
{
    for (const auto& [known, make] : recipes) {
        if (known == id) return make();
    }
    return nullptr;
}

std::vector<std::string_view> productIds()
{
    std::vector<std::string_view> ids;
    for (const auto& recipe : recipes) ids.push_back(recipe.first);
    return ids;
}

}  // namespace kb
