#include "tools/bundle/make_bundle.h"

#include "core/product.h"
#include "payload/manifest.h"
#include "payload/sha256.h"
#include "products/recipe.h"
#include "tools/bundle/info_plist.h"
#include "tools/bundle/payload_tree.h"
#include "tools/bundle/text_file.h"
#include "tools/bundle/zip_writer.h"

#include <unistd.h>

#include <stdexcept>

namespace kb::bundle {
namespace {

namespace fs = std::filesystem;

bool installerBundle(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path / "Contents/MacOS/Installer", error) &&
           fs::is_directory(path / "Contents/Resources", error);
}

// An earlier bundle, or a tree of empty folders (a build system may create
// the output's folders before it runs the tool).
bool replaceable(const fs::path& path)
{
    if (installerBundle(path)) return true;
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(path, error))) return false;
    for (auto it = fs::recursive_directory_iterator(path, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (!it->is_directory(error) || it->is_symlink(error)) return false;
    }
    return !error;
}

std::string payloadRootName(const fs::path& payload)
{
    fs::path normal = payload.lexically_normal();
    if (!normal.has_filename()) normal = normal.parent_path();
    const std::string name = normal.filename().native();
    if (name.empty() || name == "." || name == "..") {
        throw std::runtime_error("name the payload root folder itself with --payload, not \"" + payload.native() +
                                 "\"");
    }
    requireUtf8(name, "the payload root's name");
    return name;
}

// Removes the staging copy unless the bundle was put in place.
struct Staging {
    fs::path path;
    bool keep = false;
    ~Staging()
    {
        std::error_code ignored;
        if (!keep) fs::remove_all(path, ignored);
    }
};

}  // namespace

void makeBundle(const BundleOptions& options)
{
    if (!installerBundle(options.installer)) {
        throw std::runtime_error("\"" + options.installer.native() + "\" is not an installer bundle");
    }
    const fs::path output = options.output.lexically_normal();
    if (!output.has_filename()) throw std::runtime_error("--output names a folder path ending in \"/\"");
    if (fs::exists(fs::symlink_status(output)) && !replaceable(output)) {
        throw std::runtime_error("\"" + output.native() + "\" exists and is not an installer bundle; not replacing it");
    }

    const std::string rootName = payloadRootName(options.payload);
    const std::vector<PayloadItem> items = scanPayload(options.payload, makeRecipe(options.id)->payloadItems());

    fs::path parent = output.has_parent_path() ? output.parent_path() : fs::path(".");
    fs::create_directories(parent);
    Staging staging{parent / ("." + output.filename().native() + ".partial-" + std::to_string(::getpid()))};
    fs::remove_all(staging.path);
    fs::copy(options.installer, staging.path, fs::copy_options::recursive | fs::copy_options::copy_symlinks);

    nameBundle(staging.path / "Contents/Info.plist", options.name, options.bundleIdentifier);
    const fs::path resources = staging.path / "Contents/Resources";
    const fs::path archive = resources / "payload.zip";
    fs::remove(archive);
    PayloadManifest manifest;
    manifest.files = writePayloadZip(options.payload, rootName, items, archive, options.compression);
    for (const PayloadItem& item : items) {
        if (item.kind == PayloadItem::Kind::link) manifest.symlinks.emplace(item.relative, item.linkTarget);
    }
    writeText(resources / "payload-manifest.json", encodeManifest(manifest));
    const Product product{options.id, options.name, options.version, rootName, sha256(archive), options.message};
    writeText(resources / "product.json", encodeProduct(product));

    fs::remove_all(output);
    fs::rename(staging.path, output);
    staging.keep = true;
}

}  // namespace kb::bundle
