#pragma once
// Building one product installer from the empty installer and a payload.

#include "tools/bundle/options.h"

namespace kb::bundle {

// Copies the empty installer, writes payload.zip, payload-manifest.json and
// product.json into its Contents/Resources, and only then puts the result at
// the output path (replacing an earlier installer bundle there, nothing
// else). Throws std::runtime_error or std::filesystem::filesystem_error;
// nothing is left at the output path or beside it after a failure.
void makeBundle(const BundleOptions& options);

}  // namespace kb::bundle
