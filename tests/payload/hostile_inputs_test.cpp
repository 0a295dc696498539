// Each row of hostile-inputs.json (docs/hostile-inputs.md is written from it: KB_WRITE_HOSTILE_DOC=<path>) run as a
// user would in a sandbox: the exact outcome, an empty TMPDIR afterwards, and every change in the sandbox checked.

#include "core/messages.h"
#include "core/product.h"
#include "core/unicode.h"
#include "payload/manifest.h"
#include "core/paths.h"
#include "fileops/file_helpers.h"
#include "products/huecraft_settings.h"
#include "products/launch_agent.h"
#include "tests/support/kit.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <regex>

namespace kb::test {
namespace {

using nlohmann::json;
using Vars = std::map<std::string, std::string>;

const json table = json::parse(readText(sourceDir() / "tests/payload/hostile-inputs.json"));

// "{name}" becomes the value of `name`, "{N*text}" N times the text; in a JSON value, every text.
std::string expand(std::string text, const Vars& vars)
{
    static const std::regex repeated(R"(\{(\d+)\*([^{}]+)\})");
    std::size_t from = 0;
    for (const auto& [name, value] : vars) {
        for (std::size_t at; (at = text.find("{" + name + "}")) != std::string::npos;)
            text.replace(at, name.size() + 2, value);
    }
    for (std::smatch m; std::regex_search(text.cbegin() + from, text.cend(), m, repeated);) {  // on after each run
        std::string run = m.str(2);
        const std::size_t size = std::stoul(m[1]) * run.size();
        while (run.size() < size) run += run;  // doubled, then cut to size
        run.resize(size);
        from += m.position();
        text.replace(from, m.length(), run);
        from += run.size();
    }
    return text;
}

json expandAll(const json& value, const Vars& vars) { return json::parse(expand(value.dump(), vars)); }

json patched(json value, const json& patch) { return value.merge_patch(patch), value; }

const json none = json::object();
const json& part(const json& run, const char* key) { return run.contains(key) ? run[key] : none; }  // no temporary

// The installer's own lines by their names in core/messages.h, and what the table gives after a ":": the tool,
// the path or name it names ("path|folder" for ofxFolderUnfit), or "testFolder" for the texts about the folder a
// run installs into.
std::string line(const std::string& key)
{
    const std::string x = key.substr(key.find(':') + 1);
    const bool test = x == "testFolder";
    const json texts = {
        {"systemStepFailed", messages::systemStepFailed(x, 1)}, {"contentMissing", messages::contentMissing},
        {"invalidLink", messages::invalidLink}, {"invalidPath", messages::invalidPath}, {"incomplete", messages::incomplete},
        {"damagedArchive", messages::damagedArchive}, {"usage", messages::usage},
        {"testHomeRefused", messages::testHomeRefused}, {"unknownProduct", messages::unknownProduct},
        {"settingsUnreadable", messages::settingsUnreadable}, {"lutNotAbsolute", messages::lutNotAbsolute},
        {"lutNotWritable", messages::lutNotWritable}, {"checkFailed", messages::checkFailed(x)},
        {"resourceFolderMissing", messages::resourceFolderMissing(x)}, {"invalidProductName", messages::invalidProductName},
        {"homeNotUtf8", messages::homeNotUtf8(test)}, {"anotherRunActive", messages::anotherRunActive(test)},
        {"outsideTestHome", messages::outsideTestHome(x)}, {"searchPathUnreadable", messages::searchPathUnreadable},
        {"ofxFolderUnfit", messages::ofxFolderUnfit(x.substr(0, x.find('|')), x.substr(x.find('|') + 1))}, {"lutInsideReplacedItem", messages::lutInsideReplacedItem(x)},
        {"installerDamaged", messages::installerDamaged}, {"earlierAgentTooLarge", messages::earlierAgentTooLarge}, {"noPermission", messages::noPermission(x)},
        {"systemFailure", messages::systemFailure(x, "") + "…"}};  // the system's own words follow
    return std::string(messages::failurePrefix) + std::string(texts.at(key.substr(0, key.find(':'))));
}

// Makes a tree entry as the table writes it: "f 0644 text", "d 0755", "l target", "c <file>", "p 0644" (FIFO), "gone";
// entryOf gives what picture() shows for one ("" for "gone").
void place(const fs::path& path, const std::string& form)
{
    fs::remove_all(path);
    const auto mode = [&] { return unsigned(std::stoul(form.substr(2, 4), nullptr, 8)); };
    if (form[0] == 'f') writeFile(path, form.substr(std::min<std::size_t>(7, form.size())), mode());
    if (form[0] == 'd') fs::create_directories(path), fs::permissions(path, fs::perms(mode()));
    if (form[0] == 'l') makeLink(form.substr(2), path);
    if (form[0] == 'c') fs::copy_file(form.substr(2), path);
    if (form[0] == 'p') ::mkfifo(path.c_str(), mode());
}

std::string entryOf(const std::string& form) { TempDir t; return place(t / "x", form), picture(t.path())["x"]; }

// Members by libarchive: files ("data", "zeros": MiB of them), folders, links ("data": target); "mode" 644 if unset.
void writeZip(const fs::path& path, const json& members)
{
    archive* zip = archive_write_new();
    archive_entry* entry = archive_entry_new();
    archive_write_set_format_zip(zip), archive_write_open_filename(zip, path.c_str());
    for (const json& member : members) {
        const std::string kind = member.value("type", "file"), mode = member.value("mode", "644");
        const unsigned type = kind == "folder" ? AE_IFDIR : kind == "link" ? AE_IFLNK : AE_IFREG;
        const std::string data = member.value("data", "") + std::string(member.value("zeros", 0ul) << 20, '\0');
        archive_entry_clear(entry), archive_entry_set_pathname_utf8(entry, std::string(member["name"]).c_str());
        archive_entry_set_mode(entry, type | unsigned(std::stoul(mode, nullptr, 8)));
        archive_entry_set_symlink(entry, type == AE_IFLNK ? data.c_str() : nullptr);
        archive_entry_set_size(entry, type == AE_IFREG ? la_int64_t(data.size()) : 0);
        archive_write_header(zip, entry), archive_write_data(zip, data.data(), data.size());
    }
    archive_write_close(zip), archive_entry_free(entry), archive_write_free(zip);
}

// A product of a demo payload made by the bundle tool, or an empty bundle given an archive (members, "count"
// generated members, or "zip": its bytes), a manifest (file entries by their content) and a descriptor;
// texts that are no such JSON are written by the row's "setup".
void makeBundle(const json& run, const fs::path& bundle, Vars& vars)
{
    if (const json demo = table["products"].value(run.value("product", ""), json()); !demo.is_null())
        return void(makeProduct(sourceDir() / std::string(demo[0]), bundle, run["product"], demo[1], demo[2]));
    fs::copy(emptyBundle(), bundle, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    json members = expandAll(run.value("members", json::array()), vars), manifest = table["manifest"];
    for (int i = 0; i < run.value("count", 0); ++i) {
        const std::string name = "d" + std::to_string(i % 100) + "/f" + std::to_string(i);
        members.push_back({{"name", "P/" + name}, {"data", name}}), manifest["files"][name] = name;
    }
    manifest = patched(manifest, expandAll(run.value("manifest", json::object()), vars));
    const std::vector<unsigned char> bytes = run.value("zip", json::array());
    if (run.contains("zip")) writeFile(vars["archive"], std::string(bytes.begin(), bytes.end()));
    else writeZip(vars["archive"], members);
    vars["digest"] = sha256Hex(readText(vars["archive"]));
    vars["limit"] = std::to_string(fs::file_size(vars["archive"]) * 64 + (256 << 20));  // what ditto unpacks at most
    for (json& entry : manifest["files"])
        if (entry.is_string()) entry = {{"sha256", sha256Hex(std::string(entry))}, {"size", std::string(entry).size()}};
    writeFile(vars["resources"] + "/payload-manifest.json", manifest.dump());
    const json descriptor = patched(table["descriptor"], run.value("descriptor", json::object()));
    writeFile(vars["resources"] + "/product.json", expandAll(descriptor, vars).dump());
}

// The table's places in a sandbox `temp`, with the shorthands "{failed}", "{xFF}" (a byte no UTF-8 text holds) and
// "{source}" (the source tree, for data files), "{uid}" (the user's id) and "{failureTitle}".
Vars placesIn(const TempDir& temp)
{
    Vars vars{{"sandbox", fs::canonical(temp.path())}, {"failed", std::string(messages::failurePrefix)}, {"xFF", "\xFF"},
              {"source", sourceDir()}, {"uid", std::to_string(::getuid())}, {"failureTitle", std::string(messages::failureTitle)}};
    for (const auto& [name, value] : table["places"].items()) vars[name] = expand(value, vars);
    return vars;
}

// Lays out the sandbox with the run's "setup" over the table's; returns what it laid out.
json lay(const json& run, const Vars& vars)
{
    const json setup = patched(table["sandbox"], run.value("setup", json::object()));
    for (const auto& [path, form] : setup.items()) place(vars.at("sandbox") / fs::path(expand(path, vars)), expand(form, vars));
    return setup;
}

// A manifest as decoded and written again; "by the document: " marks a text the streaming decoding leaves to the
// document decoding.
std::string decodedManifest(const std::string& text)
{
    const std::optional<PayloadManifest> streamed = decodeManifestStreaming(text);
    return streamed ? encodeManifest(*streamed) : "by the document: " + encodeManifest(decodeManifest(text));
}

// One run of the Installer ("program", "args": --verify-payload) or of the bundle's ditto ("program": "{ditto}").
// "expect": a line's name, "verified", or {"out": ..., "err": ...} in full ("{failed}" the installer's failure
// prefix, a final "…" any end).
void check(const json& run)
{
    SCOPED_TRACE(run.dump().substr(0, 300));
    TempDir temp;
    Vars vars = placesIn(temp);
    const fs::path box = vars["sandbox"], tmp = vars["tmp"];
    makeBundle(run, box / "Product.app", vars);
    lay(run, vars);
    for (const json& pair : run.value("cases", json::array())) {  // a rule of the payload's, on texts and a real tree
        const std::string in = expand(pair[0], vars), rule = run["rule"];
        json got = rule == "safe" ? json(safeRelative(in)) : rule == "canonical" ? json(canonicalPath(in))
                   : rule == "standard" ? json(standardizedPath(in)) : rule == "nfc" ? json(nfc(in)) : rule == "product"
                   ? json(encodeProduct(decodeProduct(in))) : json(decodedManifest(in));
        EXPECT_EQ(got, expandAll(pair[1], vars)) << in;
    }
    if (run.contains("rule")) return;
    if (run.value("unprivileged", false)) giveToNobody(box, temp.path());
    const Tree before = picture(box);

    RunOptions options{.cwd = expand(run.value("cwd", ""), vars), .env = {{"HOME", vars["home"]}, {"TMPDIR", tmp}},
                       .unprivileged = run.value("unprivileged", false)};
    for (const auto& [name, value] : part(run, "env").items()) options.env[name] = expand(value, vars);
    const std::string program = run.value("program", "{program}");
    const json arguments = expandAll(run.value("args", table["arguments"].value(program, json())), vars);
    const json& given = run["expect"];
    Run result;
    if (run.contains("answers")) {  // without arguments, on a display: the failure dialog's text as its line
        options.env["KESTRELBAY_DIALOG_LOG"] = (temp / "log").native();
        result = runOnDisplay(expand(program, vars), expandAll(run["answers"], vars), options);
        std::smatch failure;
        const std::string log = readText(temp / "log");
        fs::remove(temp / "log");
        if (std::regex_search(log, failure, std::regex("title: " + std::string(messages::failureTitle) + "\n(label: .*\n){2}")))
            result.err += messages::failurePrefix.data() + failure[0].str().substr(failure[0].str().rfind("label: ") + 7);
    } else {
        result = kb::test::run(expand(program, vars), arguments, options);
    }
    const json expect = given.is_object() ? given
                        : given == "verified" ? json{{"out", table["verified"]}} : json{{"err", line(given)}};
    const std::string out = expand(expect.value("out", ""), vars), err = expand(expect.value("err", ""), vars);
    const auto unstamped = [](std::string t) {  // backup folders and temporary folders are named by chance
        for (auto& c : table["chance"]) t = std::regex_replace(t, std::regex(std::string(c[0])), std::string(c[1]));
        return t;
    };
    EXPECT_EQ(result.status, err.empty() ? 0 : 1);
    EXPECT_EQ(unstamped(result.out), out);
    const std::string want = err.ends_with("…") ? err.substr(0, err.size() - 3) : err.empty() ? "" : err + "\n";
    EXPECT_EQ(unstamped(result.err).substr(0, err.ends_with("…") ? want.size() : std::string::npos), want);
    Tree unpacked, changes, expected;
    for (const auto& [path, form] : part(run, "unpacked").items())
        unpacked[path] = entryOf(expand(form, vars));
    EXPECT_EQ(run.contains("unpacked") ? picture(tmp / "u") : unpacked, unpacked);
    fs::remove_all(tmp / "u");
    EXPECT_TRUE(fs::is_empty(tmp)) << "the run's temporary folder was left";

    const Tree after = picture(box);
    for (const auto& [path, entry] : after) {
        // The record of what a backup folder holds is checked where it is read, by the restores.
        if (path.ends_with("/BACKUP.json") && path.find("/Installer-Backups/") != std::string::npos) continue;
        if (!before.contains(path) || before.at(path) != entry) changes[unstamped(path)] = entry;
    }
    for (const auto& [path, entry] : before) if (!after.contains(path)) changes[path] = "";
    for (const auto& [path, form] : part(run, "changes").items())  // "*": whatever it became
        expected[path] = form == "*" && changes.contains(path) ? changes[path] : entryOf(expand(form, vars));
    EXPECT_EQ(changes, expected);
}

// A row's runs: its "runs" merged into it one by one.
std::vector<json> runsOf(const json& row)
{
    std::vector<json> runs;
    for (const json& variant : row.value("runs", json::array({json::object()}))) runs.push_back(patched(row, variant));
    return runs;
}

// A row, shown by its name alone in test listings.
struct Row {
    json value;
    friend void PrintTo(const Row& row, std::ostream* out) { *out << row.value["name"].get<std::string>(); }
};
class Hostile : public ::testing::TestWithParam<Row> {};

TEST_P(Hostile, Row)
{
    for (const json& run : runsOf(GetParam().value)) check(run);
}

INSTANTIATE_TEST_SUITE_P(Table, Hostile, ::testing::ValuesIn(std::vector<Row>(table["rows"].begin(), table["rows"].end())),
                         [](const auto& row) { return std::string(row.param.value["name"]); });

// ordinary-homes.json: homes users really have, each of which must install (see its "about").
const json ordinary = json::parse(readText(sourceDir() / "tests/payload/ordinary-homes.json"));

// The demo product `id`, made once for every row and readable by every user.
fs::path demoProduct(const std::string& id)
{
    static TempDir made;
    const fs::path bundle = made / (id + ".app");
    const json demo = table["products"][id];
    ::chmod(made.path().c_str(), 0755);
    if (!fs::exists(bundle)) makeProduct(sourceDir() / std::string(demo[0]), bundle, id, demo[1], demo[2]);
    return bundle;
}

void checkOrdinary(const json& run)
{
    SCOPED_TRACE(run.dump().substr(0, 300));
    TempDir temp;
    Vars vars = placesIn(temp);
    const std::string id = run["product"];
    const json demo = table["products"][id], items = ordinary["items"][id];
    const fs::path box = vars["sandbox"];
    fs::path payload = sourceDir() / std::string(demo[0]), program = programOf(demoProduct(id));
    if (run.contains("payload")) {  // the demo payload with more in it, bundled for this run
        fs::copy(payload, box / "Payload", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        payload = box / "Payload";
        for (const auto& [path, text] : run["payload"].items()) writeFile(payload / expand(path, vars), std::string(text));
        program = programOf(makeProduct(payload, box / "Product.app", id, demo[1], demo[2]));
    }
    if (run.contains("shm")) {  // a folder on another file system than the sandbox: a RAM disk
        char shm[] = "/dev/shm/kb-test-XXXXXX";
        if (!::mkdtemp(shm)) GTEST_SKIP() << "no RAM disk at /dev/shm";
        vars["shm"] = shm;
    }
    lay(run, vars);
    const bool unprivileged = run.value("unprivileged", false), display = run.value("display", false);
    const fs::path home = expand(run.value("home", display ? "{home}" : "{testhome}"), vars);
    const std::string ownSettings = run.value("settings", "{}");
    if (run.contains("settings")) writeFile(home / ".huecraft_vireo.json", ownSettings, 0600);
    if (unprivileged) giveToNobody(box, temp.path());
    for (const std::string path : run.value("rootOwned", json::array()))
        kb::test::run("/bin/chown", {"-hR", "root:root", box / path});
    RunOptions options{.env = {{"HOME", vars["home"]}, {"TMPDIR", vars["tmp"]}, {"OFX_PLUGIN_PATH", std::nullopt},
                               {"KESTRELBAY_DIALOG_LOG", (box / "log").native()}}, .unprivileged = unprivileged};
    for (const auto& [name, value] : part(run, "env").items()) options.env[name] = expand(value, vars);
    const fs::path tmp = *options.env["TMPDIR"];
    std::map<std::string, std::string> earlier;  // each item as it was
    for (const json& item : items) earlier[item[0]] = snapshot(home / std::string(item[0]));
    const fs::path backups = home / "Library/Application Support" / std::string(demo[1]) / "Installer-Backups";
    const Tree before = picture(box), tmpBefore = picture(tmp), backupsBefore = picture(backups);

    // The run's command line, under the row's "limits" (a shell's ulimit) where it gives some.
    std::vector<std::string> command{program, "--test-home", expand(run.value("testHome", "{testhome}"), vars)};
    if (run.contains("limits")) command.insert(command.begin(), {"/bin/sh", "-c", std::string(run["limits"]) + " && exec \"$0\" \"$@\""});
    for (const json& kill : run.value("kills", json::array())) {  // runs killed before the given system call
        const std::string calls = kill[0], when = std::to_string(int(kill[1]));
        std::vector<std::string> traced{"-o", "/dev/null", "-e", "trace=" + calls, "-e", "inject=" + calls + ":signal=KILL:when=" + when};
        traced.insert(traced.end(), command.begin(), command.end());
        RunOptions traceable = options;
        traceable.env["ASAN_OPTIONS"] = "detect_leaks=0";  // the leak check cannot run under a tracer
        EXPECT_EQ(kb::test::run("/usr/bin/strace", traced, traceable).status, 128 + SIGKILL) << calls << " " << when;
    }
    const std::string name = demo[1];
    const Run ran = display ? runOnDisplay(program, {name + " " + std::string(demo[2]) + " installieren", "Return",
                                                     messages::installedTitle(name), "Return"}, options)
                            : kb::test::run(command.front(), {command.begin() + 1, command.end()}, options);
    EXPECT_EQ(std::pair(ran.status, ran.err), std::pair(0, std::string()));
    fs::path backup;
    for (const auto& [folder, entry] : picture(backups))
        if (!backupsBefore.contains(folder) && folder.find('/') == std::string::npos) backup = backups / folder;
    const json record = json::parse(readText(backup / "INSTALLATION.json"));
    EXPECT_EQ(ran.out, display ? "" : jsonData(record) + "\n");

    const fs::path runtime = record.value("runtime", ""), lut = record.value("lutDirectory", "");
    json settings = json::parse(ownSettings);
    mergeSettings(settings, {runtime, runtime / "runtime/huecraft-engine", lut});
    Vars withOfx = vars;
    withOfx["OFX"] = (home / "OFX").native();
    const std::string searchPath = expand(run.value("searchPath", "{OFX}"), withOfx);
    for (const json& item : items) {  // in place, as in the payload (or as made, with its mode), the one before in the backup
        const std::string place = item[0], source = item[2];
        const std::string made = source == "settings" ? jsonData(settings)
                                 : source == "agent" ? launchAgentPropertyList("de.geoweave.ofxpath", searchPath) : "";
        const std::string expected = made.empty() ? snapshot(payload / source) : "f " + std::string(item[3]) + " " + sha256Hex(made);
        EXPECT_EQ(snapshot(home / place), expected) << place;
        const std::string backedUp = snapshot(backup / std::string(item[1]));
        if (run.contains("kills") && (backedUp == expected || backedUp.empty())) continue;  // what a killed run left
        EXPECT_EQ(backedUp, earlier[place]) << place;
    }
    const Tree after = picture(box);
    const json swept = run.value("swept", json::array());
    std::size_t scratch = 0;
    for (const auto& [path, entry] : after)
        scratch += fs::path(path).filename().native().starts_with(".kestrelbay-install-") && !before.contains(path);
    EXPECT_EQ(scratch, run.value("leftovers", 0u));
    for (const auto& [path, entry] : before) {  // the rest as it was, links the same links; swept leftovers gone
        const std::string now = after.contains(path) ? after.at(path) : "";
        const bool installed = std::any_of(items.begin(), items.end(), [&](const json& item) {
            return inside(fs::weakly_canonical(box / path).native(), fs::weakly_canonical(home / std::string(item[0])).native());
        });
        if (installed) continue;
        EXPECT_EQ(now, std::count(swept.begin(), swept.end(), path) ? "" : entry) << path;
    }
    Tree tmpAfter = picture(tmp);
    std::erase_if(tmpAfter, [&](const auto& entry) { return tmpBefore.contains(entry.first); });
    EXPECT_EQ(tmpAfter.size(), run.value("leftovers", 0u) * 2) << "a run folder with its record, and nothing else, for each leftover";
    if (run.contains("shm")) fs::remove_all(vars["shm"]);
}

class Ordinary : public ::testing::TestWithParam<Row> {};

TEST_P(Ordinary, Installs)
{
    for (const json& run : runsOf(GetParam().value)) checkOrdinary(run);
}

INSTANTIATE_TEST_SUITE_P(Table, Ordinary, ::testing::ValuesIn(std::vector<Row>(ordinary["rows"].begin(), ordinary["rows"].end())),
                         [](const auto& row) { return std::string(row.param.value["name"]); });

// The document: the table's texts (a row's "before": headings and rows shown elsewhere), with what the user sees
// after each run in its shorthand.
TEST(HostileDoc, IsWrittenFromTheTable)
{
    std::string doc = table["intro"];
    for (std::smatch m; std::regex_search(doc, m, std::regex(R"(\{([\w:]+)\})"));)
        doc.replace(m.position(), m.length(), line(m[1]));
    for (const json& row : table["rows"]) {
        if (!row.contains("input")) continue;  // a rule's cases
        Vars runs = {{"failed", std::string(messages::failurePrefix)}};  // then "1", "2", ...: what each run shows
        for (const json& run : runsOf(row)) {
            const json& expect = run["expect"];
            runs[std::to_string(runs.size())] =
                expect.is_string() ? "**" + std::regex_replace(std::string(expect), std::regex(":"), " ", std::regex_constants::format_first_only) + "**"
                : expect.contains("out") ? "**installed**" : "`" + expect.value("err", "") + "`";
        }
        const std::string seen = expand(row.value("sees", "{1}"), runs), name = row["name"];
        doc += row.value("before", "") + "| " + std::string(row["input"]) + " | " +
               std::regex_replace(seen, std::regex(R"(\{(\w+)\})"), "<$1>") + " | `" + name + "` |\n";
    }
    doc += std::string(table["outro"]);
    if (const char* path = std::getenv("KB_WRITE_HOSTILE_DOC")) return writeFile(path, doc);
    EXPECT_EQ(readText(sourceDir() / "docs/hostile-inputs.md"), doc);
}

}  // namespace
}  // namespace kb::test
