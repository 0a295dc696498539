#pragma once
// The command line of kestrelbay-bundle.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kb::bundle {

enum class Compression { stored, deflated };

struct BundleOptions {
    std::filesystem::path payload;  // the payload root folder itself; its name becomes payloadRoot
    std::string id;
    std::string name;
    std::string version;
    std::string message;
    std::filesystem::path output;     // the product installer to write (X.app)
    std::filesystem::path installer;  // the empty installer bundle to start from
    std::string bundleIdentifier;     // CFBundleIdentifier of the product (--bundle-id, or one made from the id)
    Compression compression = Compression::deflated;
};

// The usage text printed for --help and after a wrong command line.
std::string usage();

// Reads the arguments after the program name. Returns nothing for --help;
// throws std::runtime_error for a wrong command line.
std::optional<BundleOptions> parseOptions(const std::vector<std::string>& arguments,
                                          const std::filesystem::path& defaultInstaller);

}  // namespace kb::bundle
