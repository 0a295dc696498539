// The install frame through the real installer: a verified payload whose
// descriptor names a product this installer has no recipe for.

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tree_snapshot.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

namespace kb::test {
namespace {

namespace fs = std::filesystem;

class FrameEndToEnd : public ::testing::Test {
protected:
    TempDir root;
    fs::path bundle = root / "Installer.app";
    fs::path home = root / "home";
    fs::path tmp = root / "tmp";

    void SetUp() override
    {
        const fs::path demo = builtBinaryDir() / "demo/Huecraft.app";
        ASSERT_TRUE(fs::exists(bundleResources(demo) / "payload.zip")) << demo;
        fs::copy(demo, bundle, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        fs::create_directories(tmp);
        writeFile(home / ".KESTREL-BAY-INSTALLER-TEST-HOME", "");
        writeFile(home / "Documents/notes.txt", "keep me");
    }

    void setProductId(const std::string& id)
    {
        const fs::path descriptor = bundleResources(bundle) / "product.json";
        nlohmann::json product = nlohmann::json::parse(readText(descriptor));
        product["id"] = id;
        writeFile(descriptor, product.dump(2));
    }

    ProgramRun installer() const
    {
        RunOptions options;
        options.environment["TMPDIR"] = tmp.native();
        return runProgram(bundleProgram(bundle), {"--test-home", home.native()}, options);
    }
};

TEST_F(FrameEndToEnd, AnIdWithoutARecipeEndsInUnknownProductWithAnEmptyBackupFolder)
{
    for (const std::string id : {"Huecraft", "", "geoweave "}) {
        SCOPED_TRACE("id \"" + id + "\"");
        setProductId(id);
        const TreeSnapshot before = snapshot(home);
        const ProgramRun run = installer();
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "Installation abgebrochen: Unbekanntes Produkt.\n");

        const fs::path installerBackups = home / "Library/Application Support/Huecraft Vireo/Installer-Backups";
        std::vector<std::string> added;
        for (const std::string& line : differences(before, snapshot(home))) {
            EXPECT_TRUE(line.starts_with("added Library")) << line;
            added.push_back(line);
        }
        // Library, Application Support, the product, Installer-Backups and the
        // run's folder on the first run; only the run's folder afterwards.
        EXPECT_EQ(added.size(), id == "Huecraft" ? 5u : 1u);
        for (const auto& entry : fs::directory_iterator(installerBackups)) {
            EXPECT_TRUE(fs::is_directory(entry.path()));
            EXPECT_TRUE(fs::is_empty(entry.path())) << entry.path();
        }
        EXPECT_TRUE(fs::is_empty(tmp));  // the run's scratch folder is gone
    }
}

}  // namespace
}  // namespace kb::test
