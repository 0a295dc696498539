#pragma once
// Hostile inputs through the real installer, run as a user would: a copy of
// the built bundle whose payload.zip, payload-manifest.json and product.json
// a test writes (the descriptor's digest always matching the archive, so the
// archive reaches the unpack step), started with `--verify-payload` and with
// HOME and TMPDIR inside a sandbox. Every change anywhere in the sandbox
// (home, temporary folder, the folder "outside" beside them, the bundle) is
// seen, and no "kestrelbay-installer-*" folder may stay behind.

#include "tests/helpers/ditto_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kb::test {

inline const std::string dittoFailed =
    "Ein Systemschritt ist fehlgeschlagen (ditto, Code 1). Die Installation wird zurückgesetzt.";
inline const std::string contentMissing = "Paketinhalt fehlt.";
inline const std::string invalidLink = "Ungültige Dateiverknüpfung im Paket.";
inline const std::string checkFailed = "Die Paketprüfung ist fehlgeschlagen: ";
inline const std::string incomplete = "Das Paket ist unvollständig.";

// A manifest entry for a file holding `content`.
inline nlohmann::json fileEntryFor(const std::string& content)
{
    return {{"sha256", sha256Hex(content)}, {"size", content.size()}};
}

class HostileRun : public ::testing::Test {
protected:
    HostileRun()
    {
        writeFile(outside() / "victim.txt", "original\n");
        std::filesystem::create_directories(home());
        std::filesystem::create_directories(tmp());
        program_ = copyBundle(sandbox() / "Product.app");
    }

    std::filesystem::path sandbox() const { return temp_ / "sandbox"; }
    std::filesystem::path home() const { return sandbox() / "home"; }
    // TMPDIR, two folders down, so that "../../" from the unpack folder
    // still lands inside the sandbox where it would be seen.
    std::filesystem::path tmp() const { return sandbox() / "one/two/tmp"; }
    std::filesystem::path outside() const { return sandbox() / "outside"; }
    std::filesystem::path resources() const { return bundleResources(sandbox() / "Product.app"); }
    std::filesystem::path archive() const { return resources() / "payload.zip"; }

    // The archive, described member by member (make_zip.py).
    void writeMembers(const std::vector<nlohmann::json>& members) { makeZip(archive(), members); }
    void writeDescribed(const nlohmann::json& description) { makeZipFrom(archive(), description); }

    // Writes descriptor and manifest, takes the picture of the sandbox and
    // runs `Installer --verify-payload`.
    ProgramRun verify()
    {
        descriptor["payloadSHA256"] = sha256Hex(readText(archive()));
        writeFile(resources() / "product.json", descriptor.dump());
        writeFile(resources() / "payload-manifest.json", manifestText.value_or(manifest.dump()));
        before_ = snapshot(sandbox());
        RunOptions options;
        options.environment = {{"HOME", home().native()}, {"TMPDIR", tmp().native()}};
        return runProgram(program_, {"--verify-payload"}, options);
    }

    // One line on standard error, nothing on standard output, status 1.
    void expectRefused(const ProgramRun& run, const std::string& description)
    {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "Installation abgebrochen: " + description + "\n");
        expectNothingLeft();
    }

    void expectVerified(const ProgramRun& run)
    {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out, "{\n  \"payloadSHA256\": \"" + descriptor["payloadSHA256"].get<std::string>() +
                               "\",\n  \"product\": \"Probe\",\n  \"verified\": true,\n  \"version\": \"1.0\"\n}\n");
        expectNothingLeft();
    }

    // The temporary folder is empty again and nothing in the sandbox changed.
    void expectNothingLeft()
    {
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(tmp())) {
            left.push_back(entry.path().filename().native());
        }
        EXPECT_EQ(left, std::vector<std::string>{}) << "the run's temporary folder was left";
        EXPECT_EQ(differences(before_, snapshot(sandbox())), std::vector<std::string>{});
        EXPECT_EQ(readText(outside() / "victim.txt"), "original\n");
    }

    // What the ditto stand-in itself says about the archive: the reason
    // behind the installer's one line, which names only the failed step.
    std::string dittoReason() const
    {
        TempDir probe;
        ProgramRun run = unpack(archive(), probe / "unpack");
        return run.status == 0 ? "unpacked" : run.err;
    }

    nlohmann::json descriptor = {
        {"id", "huecraft"}, {"name", "Probe"}, {"version", "1.0"}, {"payloadRoot", "P"}, {"message", "Prüfung"}};
    nlohmann::json manifest = {{"files", nlohmann::json::object()}, {"symlinks", nlohmann::json::object()}};
    std::optional<std::string> manifestText;  // written byte for byte instead of `manifest`

private:
    TempDir temp_;
    std::filesystem::path program_;
    TreeSnapshot before_;
};

}  // namespace kb::test
