#pragma once
// Building one product installer from the empty installer and a payload.

#include "tools/bundle/options.h"

namespace kb::bundle {

// Copies the empty installer, gives it the product's name and bundle
// identifier in Contents/Info.plist, writes payload.zip,
// payload-manifest.json and product.json into its Contents/Resources, and
// only then puts the result at the output path (replacing an earlier
// installer bundle or a tree of empty folders there, nothing else). Throws std::runtime_error or
// std::filesystem::filesystem_error; after a failure the output path is as it
// was and no staging copy is left beside it.
void makeBundle(const BundleOptions& options);

}  // namespace kb::bundle
