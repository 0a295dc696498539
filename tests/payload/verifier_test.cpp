// verifyPayload on real archives unpacked by the bundle's real ditto stand-in.

#include "core/install_error.h"
#include "payload/verifier.h"
#include "platform/launcher.h"
#include "platform/posix_file_manager.h"
#include "platform/resource.h"
#include "tests/payload/payload_fixture.h"
#include "tests/support/fault_injecting_file_manager.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <optional>
#include <system_error>

namespace kb {
namespace {

using namespace kb::test;
using std::filesystem::path;

const std::string damaged = "Das Installationspaket ist beschädigt. Bitte erneut vollständig entpacken.";
const std::string contentMissing = "Paketinhalt fehlt.";
const std::string invalidPath = "Ungültiger Paketpfad.";
const std::string invalidLink = "Ungültige Dateiverknüpfung im Paket.";
const std::string checkFailed = "Die Paketprüfung ist fehlgeschlagen: ";
const std::string incomplete = "Das Paket ist unvollständig.";

// "Café" with its é composed (NFC) and decomposed (NFD).
const std::string cafeNfc = "Caf\xC3\xA9";
const std::string cafeNfd = "Cafe\xCC\x81";

// The real launcher, recording its calls, with a hook that runs after a
// successful unpack to add what no ZIP archive can carry (FIFOs, sockets).
class RecordingLauncher final : public Launcher {
public:
    struct Call {
        path executable;
        std::vector<std::string> arguments;
    };
    std::vector<Call> calls;
    std::function<void(const path& folder)> afterUnpack;

    LaunchResult run(const path& executable, const std::vector<std::string>& arguments) override
    {
        calls.push_back({executable, arguments});
        LaunchResult result = real_.run(executable, arguments);
        if (result.status == 0 && afterUnpack && !arguments.empty()) afterUnpack(arguments.back());
        return result;
    }

private:
    PosixLauncher real_;
};

class Verifier : public ::testing::Test {
protected:
    Verifier()
    {
        std::filesystem::create_directories(resources);
        std::filesystem::create_directories(bundle / "Contents/Helpers");
        std::filesystem::create_symlink(builtDitto(), bundle / "Contents/Helpers/ditto");
        std::filesystem::create_directories(root);
        resource = resources;
    }
    ~Verifier() override { resource = savedResource; }

    // Zips the source tree, writes the manifest (the exact one of the tree
    // unless a test set its own) and sets the descriptor's digest.
    void prepare()
    {
        zipTree(source, archive);
        if (manifest.is_null()) manifest = manifestOf(root);
        writeFile(resources / "payload-manifest.json", manifest.dump());
        product.payloadSHA256 = productDigest.value_or(sha256Hex(readText(archive)));
    }

    // A fresh unpack of the prepared payload (the unpack tool refuses to
    // write over an earlier one).
    path verify()
    {
        prepare();
        std::filesystem::remove_all(unpack);
        return verifyPayload(product, unpack);
    }

    // The message of the InstallError the verification of the payload as it
    // stands ends with.
    std::string attempt()
    {
        std::filesystem::remove_all(unpack);
        try {
            verifyPayload(product, unpack);
        } catch (const InstallError& error) {
            return error.message();
        } catch (const std::exception& error) {
            return std::string("not an InstallError: ") + error.what();
        }
        return "verified";
    }

    // The same after preparing the payload from the source tree.
    std::string failure()
    {
        prepare();
        return attempt();
    }

    TempDir temp;
    PosixFileManager realFileManager;
    ScopedFileManager useFileManager{realFileManager};
    RecordingLauncher launcher;
    ScopedLauncher useLauncher{launcher};
    const path savedResource = resource;

    const path bundle = temp / "Installer.app";
    const path resources = bundle / "Contents/Resources";
    const path archive = resources / "payload.zip";
    const path source = temp / "source";  // what payload.zip holds
    const path root = source / "Payload";  // the payload root inside it
    const path unpack = temp / "tmp/kestrelbay-installer-0000";

    nlohmann::json manifest;                   // null: the exact manifest of the tree
    std::optional<std::string> productDigest;  // nothing: the archive's true digest
    Product product{"huecraft", "Huecraft", "1.2.0", "Payload", "", "Hallo"};
};

// ---------------------------------------------------------------- success

TEST_F(Verifier, AnExactPayloadVerifiesAndTheRootComesBackAsBuilt)
{
    writeFile(root / "Huecraft_Vireo.py", "print('hi')\n");
    writeFile(root / "Contents/Info.plist", "<plist/>");
    writeFile(root / "Contents/Resources/de.lproj/strings", "Hallo");
    writeFile(root / "empty-file", "");
    std::filesystem::create_directories(root / "empty/folder");
    makeLink("Contents/Info.plist", root / "info-link");
    makeLink("../Info.plist", root / "Contents/Resources/up-link");  // ../ staying inside
    writeFile(source / "Beside/loose.txt", "outside the payload root, never examined");
    writeFile(source / "loose.txt", "also outside");

    EXPECT_EQ(verify(), unpack / "Payload");
    EXPECT_EQ(readText(unpack / "Payload/Contents/Info.plist"), "<plist/>");

    ASSERT_EQ(launcher.calls.size(), 1u);
    EXPECT_EQ(launcher.calls[0].executable, bundle / "Contents/Helpers/ditto");
    EXPECT_EQ(launcher.calls[0].arguments,
              (std::vector<std::string>{"--norsrc", "-x", "-k", archive.native(), unpack.native()}));
}

TEST_F(Verifier, TheRootIsReturnedAsBuiltEvenBehindALinkedFolder)
{
    writeFile(root / "a", "A");
    std::filesystem::create_directories(temp / "real-tmp");
    std::filesystem::create_symlink(temp / "real-tmp", temp / "linked-tmp");
    prepare();
    const path linkedUnpack = temp / "linked-tmp/kestrelbay-installer-1";
    EXPECT_EQ(verifyPayload(product, linkedUnpack), linkedUnpack / "Payload");
}

TEST_F(Verifier, UnpackFolderIsCreatedPrivateWithItsParents)
{
    writeFile(root / "a", "A");
    verify();
    EXPECT_EQ(modeOf(unpack), 0700u);

    const path deeper = temp / "x/y/kestrelbay-installer-2";
    EXPECT_EQ(verifyPayload(product, deeper), deeper / "Payload");
    EXPECT_EQ(modeOf(deeper), 0700u);
}

TEST_F(Verifier, AnEmptyManifestAcceptsFoldersAndIgnoredNamesOnly)
{
    std::filesystem::create_directories(root / "a/b/c");
    std::filesystem::create_directories(root / "d");
    writeFile(root / ".DS_Store", "x");
    writeFile(root / "a/b/._c", "x");
    EXPECT_EQ(failure(), "verified");
    EXPECT_EQ(manifest, nlohmann::json::parse(R"({"files":{},"symlinks":{}})"));
}

TEST_F(Verifier, ExtraFoldersAnywhereAreAccepted)
{
    writeFile(root / "a/file", "x");
    prepare();
    std::filesystem::create_directories(root / "extra/deeper");
    std::filesystem::create_directories(root / "a/more");
    EXPECT_EQ(failure(), "verified");
}

TEST_F(Verifier, SizeZeroMatchesAnEmptyFile)
{
    writeFile(root / "empty", "");
    manifest = {{"files", {{"empty", {{"sha256", sha256Hex("")}, {"size", 0}}}}}, {"symlinks", nlohmann::json::object()}};
    EXPECT_EQ(failure(), "verified");
}

TEST_F(Verifier, SpecialFilesArePassedOver)
{
    writeFile(root / "a", "A");
    launcher.afterUnpack = [](const path& folder) {
        ASSERT_EQ(::mkfifo((folder / "Payload/pipe").c_str(), 0600), 0);
        ASSERT_EQ(::mkfifo((folder / "Payload/sub-pipe").c_str(), 0600), 0);
        // A socket, bound and left behind.
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string where = (folder / "Payload/socket").native();
        if (where.size() < sizeof(address.sun_path)) {
            where.copy(address.sun_path, where.size());
            ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        }
        ::close(fd);
    };
    EXPECT_EQ(failure(), "verified");
}

TEST_F(Verifier, LinksAreNeverFollowedDuringTheWalk)
{
    writeFile(root / "Versions/A/lib.so", "lib");
    makeLink("Versions/A", root / "Current");
    // Only the real folder's file is listed; "Current/lib.so" is not an entry.
    EXPECT_EQ(failure(), "verified");
    EXPECT_FALSE(manifest["files"].contains("Current/lib.so"));
}

// ---------------------------------------------------------- archive digest

TEST_F(Verifier, WrongDescriptorDigestsFailBeforeAnythingIsWritten)
{
    writeFile(root / "a", "A");
    zipTree(source, archive);
    const std::string truth = sha256Hex(readText(archive));
    std::string upper = truth;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& digest : {upper, truth + " ", " " + truth, truth.substr(0, 63), std::string(),
                                      std::string(64, '0')}) {
        productDigest = digest;
        EXPECT_EQ(failure(), damaged) << digest;
        EXPECT_FALSE(std::filesystem::exists(unpack)) << digest;
        EXPECT_FALSE(std::filesystem::exists(unpack.parent_path())) << digest;
    }
    EXPECT_TRUE(launcher.calls.empty());
}

TEST_F(Verifier, MissingArchiveGivesThePlatformErrorAndNoFolder)
{
    writeFile(root / "a", "A");
    prepare();
    std::filesystem::remove(archive);
    try {
        verifyPayload(product, unpack);
        FAIL() << "verified";
    } catch (const InstallError& error) {
        FAIL() << "an InstallError: " << error.message();
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        EXPECT_NE(std::string(error.what()).find(archive.native()), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(unpack.parent_path()));
    EXPECT_TRUE(launcher.calls.empty());
}

// ------------------------------------------------- unpacking and manifest

TEST_F(Verifier, AnArchiveTheToolRefusesFailsWithTheRunnersError)
{
    writeFile(archive, "this is not a zip archive");
    writeFile(resources / "payload-manifest.json", R"({"files":{},"symlinks":{}})");
    product.payloadSHA256 = sha256Hex("this is not a zip archive");
    try {
        verifyPayload(product, unpack);
        FAIL() << "verified";
    } catch (const InstallError& error) {
        EXPECT_EQ(error.message(),
                  "Ein Systemschritt ist fehlgeschlagen (ditto, Code 1). Die Installation wird zurückgesetzt.");
    }
    EXPECT_TRUE(std::filesystem::is_directory(unpack));  // created before the tool ran
}

TEST_F(Verifier, AMissingUnpackToolGivesThePlatformError)
{
    writeFile(root / "a", "A");
    prepare();
    std::filesystem::remove(bundle / "Contents/Helpers/ditto");
    EXPECT_THROW(verifyPayload(product, unpack), std::system_error);
}

TEST_F(Verifier, MissingManifestGivesThePlatformError)
{
    writeFile(root / "a", "A");
    // A manifest inside the payload is never read.
    writeFile(root / "payload-manifest.json", R"({"files":{},"symlinks":{}})");
    prepare();
    std::filesystem::remove(resources / "payload-manifest.json");
    try {
        verifyPayload(product, unpack);
        FAIL() << "verified";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    }
    EXPECT_TRUE(std::filesystem::exists(unpack / "Payload/a"));  // the unpack folder is left for the caller
}

TEST_F(Verifier, UndecodableManifestGivesTheLibrarysError)
{
    writeFile(root / "a", "A");
    manifest = {{"files", {{"a", {{"SHA256", sha256Hex("A")}, {"size", 1}}}}}, {"symlinks", nlohmann::json::object()}};
    prepare();
    try {
        verifyPayload(product, unpack);
        FAIL() << "verified";
    } catch (const nlohmann::json::exception& error) {
        EXPECT_STREQ(error.what(), "[json.exception.out_of_range.403] (/files/a) key 'sha256' not found");
    }
    manifest = {{"files", nlohmann::json::object()}};
    EXPECT_EQ(failure(), "not an InstallError: [json.exception.out_of_range.403] key 'symlinks' not found");
}

TEST_F(Verifier, AMissingPayloadRootMeansTheContentIsMissing)
{
    writeFile(source / "Other/a", "A");
    manifest = {{"files", nlohmann::json::object()}, {"symlinks", nlohmann::json::object()}};
    std::filesystem::remove(root);
    EXPECT_EQ(failure(), contentMissing);
}

TEST_F(Verifier, APayloadRootThatIsAFileOrALinkCannotBeWalked)
{
    std::filesystem::remove(root);
    writeFile(source / "Payload", "a file");
    manifest = {{"files", nlohmann::json::object()}, {"symlinks", nlohmann::json::object()}};
    EXPECT_EQ(failure(), contentMissing);

    // A root that is a link is not entered (it could lead anywhere).
    std::filesystem::remove(source / "Payload");
    writeFile(source / "Real/a", "A");
    makeLink("Real", source / "Payload");
    EXPECT_EQ(failure(), contentMissing);
}

TEST_F(Verifier, APayloadRootOutsideTheUnpackFolderIsNeverWalked)
{
    writeFile(root / "a", "A");
    writeFile(temp / "elsewhere/Payload/a", "A");
    makeLink((temp / "elsewhere").native(), source / "away");
    manifest = {{"files", {{"a", fileEntry("A")}}}, {"symlinks", nlohmann::json::object()}};
    // Reached through a link the archive holds, named with "..", or absolute.
    const std::vector<std::string> outside = {"away/Payload", "..", "Payload/../..",
                                              (temp / "elsewhere/Payload").native()};
    for (const std::string& payloadRoot : outside) {
        product.payloadRoot = payloadRoot;
        EXPECT_EQ(failure(), contentMissing) << payloadRoot;
    }
    // ".." that stays inside is fine; so is the unpack folder itself, which
    // then is the payload root (the archive's other top-level items included).
    product.payloadRoot = "Payload/../Payload";
    EXPECT_EQ(failure(), "verified");
    product.payloadRoot = "Payload/..";
    EXPECT_EQ(failure(), checkFailed + "Payload/a");
}

// ------------------------------------------------------------ regular files

TEST_F(Verifier, AnUnlistedFileFailsWithItsRelativePath)
{
    writeFile(root / "Contents/Info.plist", "x");
    prepare();
    writeFile(root / "Contents/extra.txt", "extra");
    EXPECT_EQ(failure(), checkFailed + "Contents/extra.txt");
}

TEST_F(Verifier, WrongSizeOrDigestFailsWithTheRelativePath)
{
    writeFile(root / "dir/file.txt", "content");
    manifest = manifestOf(root);
    manifest["files"]["dir/file.txt"]["size"] = 8;
    EXPECT_EQ(failure(), checkFailed + "dir/file.txt");

    manifest = manifestOf(root);
    manifest["files"]["dir/file.txt"]["sha256"] = sha256Hex("CONTENT");  // same size, other bytes
    EXPECT_EQ(failure(), checkFailed + "dir/file.txt");
}

TEST_F(Verifier, ManifestDigestsMustBeExactLowerCaseText)
{
    writeFile(root / "f", "bytes");
    const std::string truth = sha256Hex("bytes");
    std::string upper = truth;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& digest : {upper, truth + " ", " " + truth, truth + "\n"}) {
        manifest = manifestOf(root);
        manifest["files"]["f"]["sha256"] = digest;
        EXPECT_EQ(failure(), checkFailed + "f") << digest;
    }
}

TEST_F(Verifier, ASizeMismatchEndsTheCheckWithoutReadingTheFile)
{
    writeFile(root / "big", std::string(3 * 0x100000 + 5, 'b'));
    writeFile(root / "small", "s");
    manifest = manifestOf(root);
    manifest["files"]["small"]["size"] = 2;
    prepare();
    FaultInjectingFileManager counting(realFileManager);
    ScopedFileManager useCounting(counting);
    EXPECT_THROW(verifyPayload(product, unpack), InstallError);
    std::size_t opensOfSmall = 0;
    std::size_t readsOfBig = 0;
    std::size_t opensOfArchive = 0;
    for (const Operation& operation : counting.log()) {
        if (operation.name == "openForReading" && operation.path.filename() == "small") ++opensOfSmall;
        if (operation.name == "openForReading" && operation.path == archive) ++opensOfArchive;
        if (operation.name == "read" && operation.path.filename() == "big") ++readsOfBig;
    }
    EXPECT_EQ(opensOfSmall, 0u);
    EXPECT_EQ(opensOfArchive, 1u);
    EXPECT_EQ(readsOfBig, 5u);  // "big" sorts first: 3 full pieces, 5 bytes, the end
}

TEST_F(Verifier, APathListedOnlyAsALinkThatIsAFileFailsAsAFile)
{
    writeFile(root / "x", "x");
    manifest = {{"files", nlohmann::json::object()}, {"symlinks", {{"x", "y"}}}};
    EXPECT_EQ(failure(), checkFailed + "x");
}

TEST_F(Verifier, AListedFileOrLinkThatIsMissingFailsOnlyAfterTheWalk)
{
    writeFile(root / "a", "A");
    makeLink("a", root / "l");
    manifest = manifestOf(root);
    manifest["files"]["missing.txt"] = fileEntry("m");
    EXPECT_EQ(failure(), incomplete);

    manifest = manifestOf(root);
    manifest["symlinks"]["missing-link"] = "a";
    EXPECT_EQ(failure(), incomplete);

    // A folder listed as a file is never found as one.
    std::filesystem::create_directories(root / "folder");
    manifest = manifestOf(root);
    manifest["files"]["folder"] = fileEntry("");
    EXPECT_EQ(failure(), incomplete);

    // A path listed both as file and as link can never satisfy both.
    manifest = manifestOf(root);
    manifest["symlinks"]["a"] = "a";
    EXPECT_EQ(failure(), incomplete);

    // Keys that name the file in another spelling are never matched.
    manifest = manifestOf(root);
    manifest["files"].erase("a");
    manifest["files"]["./a"] = fileEntry("A");
    EXPECT_EQ(failure(), checkFailed + "a");
}

// ----------------------------------------------------------- ignored names

TEST_F(Verifier, FinderFilesAreIgnoredAtEveryDepthListedOrNot)
{
    writeFile(root / "a", "A");
    for (const char* folder : {"", "one/", "one/two/", "one/two/three/"}) {
        writeFile(root / (std::string(folder) + ".DS_Store"), "finder");
        writeFile(root / (std::string(folder) + "._a"), "resource fork");
        makeLink("/etc/passwd", root / (std::string(folder) + "._link"));
        writeFile(root / (std::string(folder) + "keep"), "kept");
    }
    // Unlisted: passed over.
    EXPECT_EQ(failure(), "verified");

    // Listed: never found, so verification always fails.
    manifest = manifestOf(root);
    manifest["files"]["one/two/.DS_Store"] = fileEntry("finder");
    EXPECT_EQ(failure(), incomplete);
    manifest = manifestOf(root);
    manifest["symlinks"]["one/._link"] = "/etc/passwd";
    EXPECT_EQ(failure(), incomplete);
}

TEST_F(Verifier, IgnoredNamesAreExactPrefixesAndNames)
{
    writeFile(root / ".DS_Store2", "x");
    writeFile(root / "_.x", "x");
    writeFile(root / "a._b", "x");
    prepare();  // all three are listed and examined like any file
    EXPECT_EQ(failure(), "verified");
    manifest["files"].erase("a._b");
    EXPECT_EQ(failure(), checkFailed + "a._b");
}

TEST_F(Verifier, FoldersWithIgnoredNamesAreStillEntered)
{
    writeFile(root / "._Resources/inner.txt", "inner");
    writeFile(root / ".DS_Store/deep/x", "x");
    EXPECT_EQ(failure(), "verified");
    EXPECT_TRUE(manifest["files"].contains("._Resources/inner.txt"));

    manifest = manifestOf(root);
    manifest["files"].erase("._Resources/inner.txt");
    EXPECT_EQ(failure(), checkFailed + "._Resources/inner.txt");
    manifest = manifestOf(root);
    manifest["files"][".DS_Store/deep/x"]["size"] = 2;
    EXPECT_EQ(failure(), checkFailed + ".DS_Store/deep/x");
}

// ------------------------------------------------------------------- links

TEST_F(Verifier, AnUnlistedLinkIsInvalid)
{
    writeFile(root / "a", "A");
    prepare();
    makeLink("a", root / "sub/extra-link");
    EXPECT_EQ(failure(), invalidLink);
}

TEST_F(Verifier, ALinkListedOnlyAsAFileIsInvalid)
{
    writeFile(root / "a", "A");
    makeLink("a", root / "l");
    manifest = {{"files", {{"a", fileEntry("A")}, {"l", fileEntry("A")}}}, {"symlinks", nlohmann::json::object()}};
    EXPECT_EQ(failure(), invalidLink);
}

TEST_F(Verifier, ALinkWithAnotherTargetTextIsInvalid)
{
    writeFile(root / "a", "A");
    makeLink("./a", root / "l");
    manifest = manifestOf(root);
    manifest["symlinks"]["l"] = "a";  // leads to the same file, but the text differs
    EXPECT_EQ(failure(), invalidLink);
    manifest["symlinks"]["l"] = "./a ";
    EXPECT_EQ(failure(), invalidLink);
    manifest["symlinks"]["l"] = "./a";
    EXPECT_EQ(failure(), "verified");
}

TEST_F(Verifier, LinksLeadingOutsideThePayloadAreInvalid)
{
    writeFile(root / "a", "A");
    makeLink("/etc", root / "abs");
    EXPECT_EQ(failure(), invalidLink);

    std::filesystem::remove(root / "abs");
    makeLink("../../..", root / "sub/climb");  // resolves to the unpack folder's parent
    manifest = nullptr;
    EXPECT_EQ(failure(), invalidLink);

    std::filesystem::remove_all(root / "sub");
    makeLink("../Beside", root / "beside");  // an existing folder next to the root
    writeFile(source / "Beside/x", "x");
    manifest = nullptr;
    EXPECT_EQ(failure(), invalidLink);

    // The same links, listed or not, fail the same way; a listed text that
    // stays inside passes.
    std::filesystem::remove(root / "beside");
    makeLink("a", root / "beside");
    manifest = nullptr;
    EXPECT_EQ(failure(), "verified");
}

TEST_F(Verifier, ALinkThroughAnotherLinkIsJudgedByItsFinalDestination)
{
    writeFile(root / "a", "A");
    makeLink("..", root / "up");        // leads to the unpack folder: invalid itself
    makeLink("up/Payload/a", root / "via");
    // "up" sorts after "a" but before "via", so "up" fails first.
    EXPECT_EQ(failure(), invalidLink);

    std::filesystem::remove(root / "up");
    std::filesystem::remove(root / "via");
    makeLink("a", root / "l1");
    makeLink("l1", root / "l2");  // a chain ending inside
    manifest = nullptr;
    EXPECT_EQ(failure(), "verified");
}

TEST_F(Verifier, ALinkToThePayloadRootItselfIsInvalid)
{
    makeLink(".", root / "self");
    EXPECT_EQ(failure(), invalidLink);

    std::filesystem::remove(root / "self");
    makeLink("..", root / "sub/up");  // the root again, from one level down
    manifest = nullptr;
    EXPECT_EQ(failure(), invalidLink);
}

TEST_F(Verifier, LinksWithDotDotThatStayInsideAreAccepted)
{
    writeFile(root / "Versions/A/Resources/x", "x");
    makeLink("A", root / "Versions/Current");
    makeLink("Versions/Current/Resources", root / "Resources");
    makeLink("../../Versions/A/Resources/x", root / "deep/er/x-link");
    makeLink("..", root / "Versions/A/Resources/parent");  // Versions/A, inside
    EXPECT_EQ(failure(), "verified");
}

TEST_F(Verifier, DanglingLinksAreJudgedByWhereTheirTextLeads)
{
    writeFile(root / "a", "A");
    makeLink("not-yet-there", root / "inside");
    makeLink("../later/file", root / "sub/inside-too");
    makeLink("x/../../Payload/missing", root / "back-in");  // leaves and comes back by its text
    EXPECT_EQ(failure(), "verified");

    // Leading outside by the text, though the link itself lies inside.
    const path outsideCases[] = {root / "out-abs", root / "sub/out-rel", root / "out-sibling", root / "sub/out-root"};
    const std::string texts[] = {"/no/such/target", "../../../no-such-thing", "../Missing/x", "../missing/.."};
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        makeLink(texts[i], outsideCases[i]);
        manifest = nullptr;
        EXPECT_EQ(failure(), invalidLink) << texts[i];
        std::filesystem::remove(outsideCases[i]);
    }
}

TEST_F(Verifier, ADanglingAbsoluteLinkIsJudgedByItsFoldedText)
{
    writeFile(root / "a", "A");
    prepare();
    // Absolute texts naming missing items at or below the canonical root of
    // the unpacked payload, added after unpacking.
    const std::string canonicalRoot = std::filesystem::weakly_canonical(unpack).native() + "/Payload";
    std::map<std::string, std::string> links;
    launcher.afterUnpack = [&](const path& folder) {
        for (const auto& [name, target] : links) makeLink(target, folder / "Payload" / name);
    };
    auto attemptWith = [&](const std::string& target) {
        links = {{"abs", target}};
        manifest["symlinks"] = links;
        writeFile(resources / "payload-manifest.json", manifest.dump());
        return attempt();
    };
    EXPECT_EQ(attemptWith(canonicalRoot + "/missing"), "verified");
    EXPECT_EQ(attemptWith(canonicalRoot + "/x/../missing/./y"), "verified");
    EXPECT_EQ(attemptWith(canonicalRoot + "/../missing"), invalidLink);
    EXPECT_EQ(attemptWith(canonicalRoot + "/missing/.."), invalidLink);  // the root itself
    EXPECT_EQ(attemptWith(canonicalRoot + "-other/missing"), invalidLink);
}

TEST_F(Verifier, ContainmentHonoursCanonicalEquivalenceToo)
{
    writeFile(root / "a", "A");
    prepare();
    // The unpack folder's name is composed on disk; a dangling link names
    // the payload root through the decomposed spelling of it.
    const path composedUnpack = temp / ("tmp-" + cafeNfc) / "kestrelbay-installer-3";
    std::filesystem::create_directories(composedUnpack.parent_path());
    const std::string decomposedRoot =
        std::filesystem::canonical(temp.path()).native() + "/tmp-" + cafeNfd + "/kestrelbay-installer-3/Payload";
    launcher.afterUnpack = [&](const path& folder) { makeLink(decomposedRoot + "/missing", folder / "Payload/abs"); };
    manifest["symlinks"]["abs"] = decomposedRoot + "/missing";
    writeFile(resources / "payload-manifest.json", manifest.dump());
    EXPECT_EQ(verifyPayload(product, composedUnpack), composedUnpack / "Payload");
}

// ------------------------------------------------ canonical equivalence

// The ditto stand-in stores names and link texts in NFC (libarchive
// normalises them), so these trees are made on disk after unpacking, in the
// form each test needs.
void makeCafeTree(const path& payload, const std::string& cafe)
{
    writeFile(payload / cafe / ("cr" + cafe), "bytes");
    makeLink(cafe + "/cr" + cafe, payload / ("link-" + cafe));
}

TEST_F(Verifier, DecomposedNamesOnDiskMatchComposedKeys)
{
    launcher.afterUnpack = [](const path& folder) { makeCafeTree(folder / "Payload", cafeNfd); };
    manifest = {{"files", {{cafeNfc + "/cr" + cafeNfc, fileEntry("bytes")}}},
                {"symlinks", {{"link-" + cafeNfc, cafeNfc + "/cr" + cafeNfc}}}};
    EXPECT_EQ(failure(), "verified");
    ASSERT_TRUE(std::filesystem::exists(unpack / "Payload" / cafeNfd));
    ASSERT_FALSE(std::filesystem::exists(unpack / "Payload" / cafeNfc));
}

TEST_F(Verifier, ComposedNamesOnDiskMatchDecomposedKeys)
{
    launcher.afterUnpack = [](const path& folder) { makeCafeTree(folder / "Payload", cafeNfc); };
    manifest = {{"files", {{cafeNfd + "/cr" + cafeNfd, fileEntry("bytes")}}},
                {"symlinks", {{"link-" + cafeNfd, cafeNfd + "/cr" + cafeNfd}}}};
    EXPECT_EQ(failure(), "verified");
    ASSERT_TRUE(std::filesystem::exists(unpack / "Payload" / cafeNfc));
}

TEST_F(Verifier, LinkTextsCompareByCanonicalEquivalenceOnly)
{
    launcher.afterUnpack = [](const path& folder) { makeCafeTree(folder / "Payload", cafeNfd); };
    manifest = {{"files", {{cafeNfc + "/cr" + cafeNfc, fileEntry("bytes")}}},
                {"symlinks", {{"link-" + cafeNfc, "CAF\xC3\x89/cr" + cafeNfc}}}};
    EXPECT_EQ(failure(), invalidLink);
}

TEST_F(Verifier, CanonicalEquivalenceIsNotCaseFolding)
{
    launcher.afterUnpack = [](const path& folder) { writeFile(folder / "Payload" / cafeNfd, "bytes"); };
    manifest = {{"files", {{"CAF\xC3\x89", fileEntry("bytes")}}}, {"symlinks", nlohmann::json::object()}};
    // The message names the path as it lies on disk.
    EXPECT_EQ(failure(), checkFailed + cafeNfd);
}

TEST_F(Verifier, TheArchivesNamesNeedNotBeComposed)
{
    // Whatever form the unpack tool leaves on disk, the verification passes.
    writeFile(root / cafeNfd / "x", "x");
    manifest = {{"files", {{cafeNfd + "/x", fileEntry("x")}}}, {"symlinks", nlohmann::json::object()}};
    EXPECT_EQ(failure(), "verified");
}

// --------------------------------------------------------------- walk order

TEST_F(Verifier, EachFolderComesBeforeItsContentsAndItsContentsBeforeLaterSiblings)
{
    writeFile(root / "listed", "l");
    prepare();
    writeFile(root / "a/x", "unlisted, inside a");
    writeFile(root / "a.txt", "unlisted, after a in name order");
    EXPECT_EQ(failure(), checkFailed + "a/x");
}

TEST_F(Verifier, TheFirstFaultInWalkOrderDecides)
{
    writeFile(root / "b/file", "B");
    writeFile(root / "d", "D");
    manifest = manifestOf(root);
    manifest["files"]["d"]["size"] = 5;              // fault 3
    manifest["files"]["z-missing"] = fileEntry("z");  // reported only after the walk
    makeLink("/etc", root / "c-link");               // fault 2, unlisted link
    writeFile(root / "b/extra", "E");                // fault 1
    EXPECT_EQ(failure(), checkFailed + "b/extra");

    std::filesystem::remove(root / "b/extra");
    EXPECT_EQ(failure(), invalidLink);
    std::filesystem::remove(root / "c-link");
    EXPECT_EQ(failure(), checkFailed + "d");
    manifest["files"]["d"]["size"] = 1;
    EXPECT_EQ(failure(), incomplete);
    manifest["files"].erase("z-missing");
    EXPECT_EQ(failure(), "verified");
}

// ------------------------------------------------------- invalid paths

// A file manager whose listings hold names no real folder can hold (a file
// system driver gone wrong); everything else is the real one's.
class DoctoredListings final : public FileManager {
public:
    DoctoredListings(FileManager& real, std::string extraName) : real_(real), extraName_(std::move(extraName)) {}

    std::vector<DirectoryEntry> contentsOfDirectory(const Path& folder) override
    {
        std::vector<DirectoryEntry> entries = real_.contentsOfDirectory(folder);
        if (folder.filename() == "sub") entries.insert(entries.begin(), {extraName_, FileType::regular});
        return entries;
    }
    void createDirectory(const Path& p) override { real_.createDirectory(p); }
    void setPermissions(const Path& p, unsigned mode) override { real_.setPermissions(p, mode); }
    void copyItem(const Path& from, const Path& to) override { real_.copyItem(from, to); }
    void moveItem(const Path& from, const Path& to) override { real_.moveItem(from, to); }
    void removeItem(const Path& p) override { real_.removeItem(p); }
    FileAttributes attributes(const Path& p) override { return real_.attributes(p); }
    std::string destinationOfSymbolicLink(const Path& p) override { return real_.destinationOfSymbolicLink(p); }
    bool isWritable(const Path& p) override { return real_.isWritable(p); }
    std::unique_ptr<InputFile> openForReading(const Path& p) override { return real_.openForReading(p); }
    void writeAtomically(const Path& p, std::string_view data) override { real_.writeAtomically(p, data); }
    Path homeDirectory() override { return real_.homeDirectory(); }
    Path temporaryDirectory() override { return real_.temporaryDirectory(); }

private:
    FileManager& real_;
    std::string extraName_;
};

TEST_F(Verifier, AnEntryWhoseRelativePathIsUnsafeIsAnInvalidPath)
{
    writeFile(root / "sub/file", "f");
    prepare();
    for (const std::string name : {"..", "../..", "x/../..", "../../../etc"}) {
        DoctoredListings doctored(realFileManager, name);
        ScopedFileManager useDoctored(doctored);
        EXPECT_EQ(attempt(), invalidPath) << '"' << name << '"';
    }
    // Names that merely hold dots pass the path rule (and then fail as
    // unlisted files, since nothing is found at them).
    DoctoredListings doctored(realFileManager, "..a");
    ScopedFileManager useDoctored(doctored);
    EXPECT_EQ(attempt(), "not an InstallError: cannot read attributes of \"" + (unpack / "Payload/sub/..a").native() +
                             "\": No such file or directory");
}

// ------------------------------------------------- file-manager failures

TEST_F(Verifier, AFolderThatCannotBeListedIsPassedOver)
{
    writeFile(root / "a", "A");
    writeFile(root / "locked/secret", "unlisted, but never seen");
    manifest = {{"files", {{"a", fileEntry("A")}}}, {"symlinks", nlohmann::json::object()}};
    prepare();
    FaultInjectingFileManager faulty(realFileManager);
    ScopedFileManager useFaulty(faulty);
    faulty.failWhen(
        [](const Operation& operation) {
            return operation.name == "contentsOfDirectory" && operation.path.filename() == "locked";
        },
        EACCES);
    EXPECT_EQ(verifyPayload(product, unpack), unpack / "Payload");
    EXPECT_TRUE(faulty.injected());
}

TEST_F(Verifier, ARootThatCannotBeListedMeansTheContentIsMissing)
{
    writeFile(root / "a", "A");
    prepare();
    FaultInjectingFileManager faulty(realFileManager);
    ScopedFileManager useFaulty(faulty);
    faulty.failWhen(
        [](const Operation& operation) {
            return operation.name == "contentsOfDirectory" && operation.path.filename() == "Payload";
        },
        EACCES);
    try {
        verifyPayload(product, unpack);
        FAIL() << "verified";
    } catch (const InstallError& error) {
        EXPECT_EQ(error.message(), contentMissing);
    }
}

TEST_F(Verifier, AttributeAndLinkReadingErrorsArePassedOn)
{
    writeFile(root / "a", "A");
    makeLink("a", root / "l");
    prepare();
    FaultInjectingFileManager faulty(realFileManager);
    ScopedFileManager useFaulty(faulty);
    for (const char* operationName : {"attributes", "destinationOfSymbolicLink", "read"}) {
        std::filesystem::remove_all(unpack);
        faulty.failWhen(
            [operationName](const Operation& operation) {
                return operation.name == operationName && operation.path.parent_path().filename() == "Payload";
            },
            EIO);
        try {
            verifyPayload(product, unpack);
            ADD_FAILURE() << operationName << ": verified";
        } catch (const InstallError& error) {
            ADD_FAILURE() << operationName << ": an InstallError: " << error.message();
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code().value(), EIO) << operationName;
        }
    }
}

TEST_F(Verifier, EveryListedFileIsReadOnceInPiecesOfOneMebibyte)
{
    writeFile(root / "one", std::string(0x100000, '1'));
    writeFile(root / "sub/two", std::string(0x100001, '2'));
    prepare();
    FaultInjectingFileManager counting(realFileManager);
    ScopedFileManager useCounting(counting);
    verifyPayload(product, unpack);
    std::map<std::string, std::pair<int, int>> perFile;  // name -> opens, reads
    for (const Operation& operation : counting.log()) {
        if (operation.name == "openForReading") ++perFile[operation.path.filename()].first;
        if (operation.name == "read") ++perFile[operation.path.filename()].second;
    }
    EXPECT_EQ(perFile["one"], std::make_pair(1, 2));
    EXPECT_EQ(perFile["two"], std::make_pair(1, 3));
    EXPECT_EQ(perFile["payload.zip"].first, 1);
    EXPECT_EQ(perFile["payload-manifest.json"].first, 1);
}

}  // namespace
}  // namespace kb
