// kestrelbay-bundle: the vendor's tool that turns the empty installer and a
// payload folder into a product installer (see usage()).

#include "platform/file_manager.h"
#include "tools/bundle/make_bundle.h"
#include "tools/bundle/options.h"

#include <clocale>
#include <exception>
#include <iostream>
#include <memory>

int main(int argc, char** argv)
{
    // The digests and the link rule read the payload through the file manager.
    const std::unique_ptr<kb::FileManager> files = kb::makeSystemFileManager();
    kb::fm = files.get();

    // Member names go through the archive library's character conversion,
    // which keeps UTF-8 names intact only under a UTF-8 locale.
    if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "");

    std::optional<kb::bundle::BundleOptions> options;
    try {
        options = kb::bundle::parseOptions(std::vector<std::string>(argv + 1, argv + argc), KB_INSTALLER_BUNDLE);
    } catch (const std::exception& error) {
        std::cerr << "kestrelbay-bundle: " << error.what() << "\n" << kb::bundle::usage();
        return 1;
    }
    if (!options) {
        std::cout << kb::bundle::usage();
        return 0;
    }
    try {
        kb::bundle::makeBundle(*options);
    } catch (const std::exception& error) {
        std::cerr << "kestrelbay-bundle: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
