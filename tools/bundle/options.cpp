#include "tools/bundle/options.h"

#include "core/product.h"
#include "products/recipe.h"
#include "tools/bundle/info_plist.h"
#include "tools/bundle/text_file.h"

#include <map>
#include <set>
#include <stdexcept>

namespace kb::bundle {

std::string usage()
{
    return "usage: kestrelbay-bundle --payload <payload root folder> --id <id> --name <name>\n"
           "         --version <version> (--message <text> | --message-file <file>)\n"
           "         --output <Product.app> [--installer <empty Installer.app>]\n"
           "         [--compression deflate|store] [--bundle-id <reverse-DNS id>]\n"
           "\n"
           "The folder given with --payload is the payload root: its own name becomes\n"
           "\"payloadRoot\" and the top folder of payload.zip. Names beginning with \"._\"\n"
           "and \".DS_Store\" are left out at every depth. An existing --output is replaced\n"
           "only when it is an installer bundle. Its Info.plist names the product (--name)\n"
           "and gives it the bundle identifier (de.kestrelbay.installer.<id> by default).\n";
}

std::optional<BundleOptions> parseOptions(const std::vector<std::string>& arguments,
                                          const std::filesystem::path& defaultInstaller)
{
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) return std::nullopt;

    static const std::set<std::string> known{"--payload", "--id",     "--name",      "--version",  "--message",
                                             "--message-file", "--output", "--installer", "--compression",
                                             "--bundle-id"};
    std::map<std::string, std::string> values;
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        const std::string& option = arguments[i];
        if (!known.contains(option)) throw std::runtime_error("unknown argument \"" + option + "\"");
        if (i + 1 == arguments.size()) throw std::runtime_error(option + " needs a value");
        if (!values.emplace(option, arguments[i + 1]).second) throw std::runtime_error(option + " given twice");
    }
    for (const char* required : {"--payload", "--id", "--name", "--version", "--output"}) {
        if (!values.contains(required)) throw std::runtime_error(std::string(required) + " is missing");
    }
    if (values.contains("--message") == values.contains("--message-file")) {
        throw std::runtime_error("give exactly one of --message and --message-file");
    }

    BundleOptions options;
    options.payload = values["--payload"];
    options.id = values["--id"];
    options.name = values["--name"];
    options.version = values["--version"];
    options.message = values.contains("--message") ? values["--message"] : messageFromFile(values["--message-file"]);
    options.output = values["--output"];
    options.installer = values.contains("--installer") ? std::filesystem::path(values["--installer"]) : defaultInstaller;
    if (values.contains("--compression")) {
        const std::string& compression = values["--compression"];
        if (compression == "deflate") {
            options.compression = Compression::deflated;
        } else if (compression == "store") {
            options.compression = Compression::stored;
        } else {
            throw std::runtime_error("--compression is deflate or store, not \"" + compression + "\"");
        }
    }
    for (const std::string* text : {&options.id, &options.name, &options.version, &options.message}) {
        requireUtf8(*text, "a product text");
    }
    // A product no installer can install is refused here, not by its users.
    if (!makeRecipe(options.id)) {
        std::string carried;
        for (std::string_view id : productIds()) carried += (carried.empty() ? "" : ", ") + std::string(id);
        throw std::runtime_error("--id must name a product the installer carries (" + carried + "), not \"" + options.id
                                 + "\"");
    }
    // macOS tells products apart by their identifiers (de.kestrelbay.installer.<id> unless chosen).
    options.bundleIdentifier = values.contains("--bundle-id") ? values["--bundle-id"] : defaultBundleIdentifier(options.id);
    if (!validBundleIdentifier(options.bundleIdentifier)) {
        throw std::runtime_error("--bundle-id must be letters, digits and \"-\" in parts joined by single dots, not \""
                                 + options.bundleIdentifier + "\"");
    }
    // The installer names the product's backup folder after it.
    if (!validProductName(options.name)) {
        throw std::runtime_error("--name must be one folder name (not empty, \".\" or \"..\", without \"/\"), not \""
                                 + options.name + "\"");
    }
    return options;
}

}  // namespace kb::bundle
