#include "tests/support/kit.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

extern char** environ;

namespace kb::test {

namespace {

[[noreturn]] void fail(const std::string& what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base == '/' ? base : "/tmp") + "/kb-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) fail("mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir()
{
    // Folders a test made unreadable or unwritable are opened up first.
    std::error_code error;
    ::chmod(path_.c_str(), 0700);
    for (auto it = fs::recursive_directory_iterator(path_, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error)) ::chmod(it->path().c_str(), 0700);
    }
    fs::remove_all(path_, error);
}

void writeFile(const fs::path& path, std::string_view content, unsigned mode)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(content.data(), std::streamsize(content.size()));
    if (::chmod(path.c_str(), mode) != 0) fail(path);
}

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.native());
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void makeLink(const std::string& target, const fs::path& link)
{
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
}

unsigned modeOf(const fs::path& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) fail(path);
    return st.st_mode & 07777;
}

namespace {

// The SHA-256 of what `feed` gives the digest, in hex.
std::string sha256HexOf(const std::function<void(EVP_MD_CTX*)>& feed)
{
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
    feed(context.get());
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned length = 0;
    EVP_DigestFinal_ex(context.get(), digest.data(), &length);
    std::string hex;
    for (unsigned i = 0; i < length; ++i) hex += "0123456789abcdef"[digest[i] >> 4], hex += "0123456789abcdef"[digest[i] & 15];
    return hex;
}

// A file's, read in pieces: the trees pictured hold programs of tens of
// megabytes, which a sanitizer build would otherwise copy around whole.
std::string fileSha256Hex(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.native());
    return sha256HexOf([&](EVP_MD_CTX* context) {
        std::error_code unknown;
        const std::uintmax_t size = fs::file_size(path, unknown);
        std::string piece(unknown ? 65536 : std::min<std::uintmax_t>(size + 1, 65536), '\0');
        while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0)
            EVP_DigestUpdate(context, piece.data(), static_cast<std::size_t>(in.gcount()));
    });
}

}  // namespace

std::string sha256Hex(std::string_view bytes)
{
    return sha256HexOf([&](EVP_MD_CTX* context) { EVP_DigestUpdate(context, bytes.data(), bytes.size()); });
}

std::string describe(const fs::path& item)
{
    struct stat st {};
    if (::lstat(item.c_str(), &st) != 0) return "";
    char mode[8];
    std::snprintf(mode, sizeof mode, "%o", st.st_mode & 07777);
    if (S_ISREG(st.st_mode)) return std::string("f ") + mode + " " + fileSha256Hex(item);
    if (S_ISDIR(st.st_mode)) return std::string("d ") + mode;
    if (S_ISLNK(st.st_mode)) return "l " + fs::read_symlink(item).native();
    return std::string("o ") + mode;
}

Tree picture(const fs::path& root)
{
    Tree tree;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (std::string entry = describe(it->path()); !entry.empty()) tree[it->path().lexically_relative(root).native()] = entry;
    }
    return tree;
}

std::string snapshot(const fs::path& item)
{
    std::string text = describe(item);
    if (text.starts_with("d ")) {
        for (const auto& [path, entry] : picture(item)) text += "\n" + path + " " + entry;
    }
    return text;
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name))
{
    if (const char* old = std::getenv(name_.c_str())) previous_ = old;
    value ? ::setenv(name_.c_str(), value->c_str(), 1) : ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv()
{
    previous_ ? ::setenv(name_.c_str(), previous_->c_str(), 1) : ::unsetenv(name_.c_str());
}

Run run(const fs::path& program, const std::vector<std::string>& arguments, const RunOptions& options)
{
    std::vector<std::string> argv;
    if (options.unprivileged) argv = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
    argv.push_back(program.native());
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::map<std::string, std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        environment[text.substr(0, text.find('='))] = text.substr(text.find('=') + 1);
    }
    for (const auto& [name, value] : options.env) value ? void(environment[name] = *value) : void(environment.erase(name));
    std::vector<std::string> envText;
    for (const auto& [name, value] : environment) envText.push_back(name + "=" + value);
    std::vector<char*> args, envs;
    for (std::string& text : argv) args.push_back(text.data());
    for (std::string& text : envText) envs.push_back(text.data());
    args.push_back(nullptr);
    envs.push_back(nullptr);

    TempDir capture;
    ::chmod(capture.path().c_str(), 0777);
    const fs::path out = capture / "out", err = capture / "err";
    const pid_t child = ::fork();
    if (child < 0) fail("fork");
    if (child == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (in < 0 || o < 0 || e < 0 || ::dup2(in, 0) < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) ::_exit(126);
        if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(126);
        ::execve(args[0], args.data(), envs.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) fail("waitpid");
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), readText(out), readText(err)};
}

Run runOnDisplay(const fs::path& program, std::vector<std::string> titlesAndKeys, RunOptions options)
{
    titlesAndKeys.insert(titlesAndKeys.begin(), {"-c", windowFinder + std::string(R"(f=$KESTRELBAY_DIALOG_LOG.x
        Xvfb -displayfd 3 3>"$f" 2>/dev/null & x=$!; for i in $(seq 300); do [ -s "$f" ] && break; sleep 0.1; done
        export DISPLAY=:$(cat "$f"); rm "$f"; timeout -k 5 90 $AS "$0" $ARGS & while [ $# -gt 0 ]; do
            w=$(window "$1" 60)
            [ -z "$p" ] || ! window "$p" 0 >/dev/null || echo "$p: still shown" >&2
            [ -n "$w" ] && sleep 0.2 && case $2 in CLOSE) xdotool windowclose $w;; KILLX) kill $x;;
                *) xdotool windowfocus --sync $w key --delay 150 $2 2>/dev/null;; esac || kill $!; p=$1; shift 2; done
        wait $!; status=$?; kill $x 2>/dev/null; exit $status)"), program.native()});
    options.env.insert({"XDG_RUNTIME_DIR", std::nullopt});
    return run("/bin/sh", titlesAndKeys, options);
}

fs::path buildDir() { return KB_BINARY_DIR; }
fs::path sourceDir() { return KB_SOURCE_DIR; }
fs::path emptyBundle() { return KB_BUNDLE_DIR; }
fs::path bundleTool() { return buildDir() / "kestrelbay-bundle"; }

fs::path makeProduct(const fs::path& payload, const fs::path& output, const std::string& id, const std::string& name,
                     const std::string& version, const std::string& message, const std::vector<std::string>& extra)
{
    std::vector<std::string> arguments{"--payload", payload.native(), "--id",      id,      "--name", name,
                                       "--version", version,          "--message", message, "--output", output.native()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const Run made = run(bundleTool(), arguments);
    if (made.status != 0) throw std::runtime_error("kestrelbay-bundle failed: " + made.err);
    return output;
}

void giveToNobody(const fs::path& path, const fs::path& top)
{
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody) throw std::runtime_error("no user nobody");
    auto handOver = [&](const fs::path& item) {
        if (::lchown(item.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) fail(item);
    };
    handOver(path);
    if (fs::is_directory(fs::symlink_status(path))) {
        for (const auto& entry : fs::recursive_directory_iterator(path)) handOver(entry.path());
    }
    for (fs::path folder = path.parent_path(); folder.native().size() >= top.native().size(); folder = folder.parent_path()) {
        ::chmod(folder.c_str(), modeOf(folder) | 0001);
        if (folder == top || folder == folder.parent_path()) break;
    }
}

}  // namespace kb::test
