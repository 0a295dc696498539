#include "tests/support/unprivileged.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

#include <optional>
#include <stdexcept>
#include <system_error>

namespace kb::test {

namespace {

std::pair<uid_t, gid_t> nobody()
{
    passwd* entry = ::getpwnam("nobody");
    if (!entry) throw std::runtime_error("the user nobody does not exist");
    return {entry->pw_uid, entry->pw_gid};
}

void handOver(const std::filesystem::path& path, uid_t uid, gid_t gid)
{
    if (::lchown(path.c_str(), uid, gid) != 0) throw std::system_error(errno, std::generic_category(), path.native());
}

}  // namespace

std::filesystem::path testProgram(const std::string& name)
{
    return builtBinaryDir() / "test-programs" / name;
}

void giveToNobody(const std::filesystem::path& path, const std::filesystem::path& top)
{
    auto [uid, gid] = nobody();
    handOver(path, uid, gid);
    if (std::filesystem::is_directory(std::filesystem::symlink_status(path))) {
        for (auto it = std::filesystem::recursive_directory_iterator(path);
             it != std::filesystem::recursive_directory_iterator(); ++it) {
            handOver(it->path(), uid, gid);
        }
    }
    if (!path.native().starts_with(top.native() + "/")) throw std::invalid_argument(path.native() + " is not below " + top.native());
    for (std::filesystem::path folder = path.parent_path();; folder = folder.parent_path()) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0) throw std::system_error(errno, std::generic_category(), folder.native());
        if ((st.st_mode & 0001) == 0) ::chmod(folder.c_str(), (st.st_mode & 07777) | 0001);
        if (folder == top) break;
    }
}

ProgramRun runUnprivileged(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                           const RunOptions& options)
{
    // The build tree may lie below a folder nobody cannot search (a clone
    // in root's home); a program from there runs from a copy in a folder
    // anyone can reach. Programs in bundles the tests copied stay in place.
    std::optional<TempDir> reachable;
    std::filesystem::path runnable = program;
    if (program.native().starts_with(builtBinaryDir().native() + "/")) {
        reachable.emplace();
        ::chmod(reachable->path().c_str(), 0755);
        const std::filesystem::path folder = program.parent_path();
        if (folder.filename() == "MacOS" && folder.parent_path().filename() == "Contents") {
            // A bundle's program finds its resources beside it: copy the bundle.
            const std::filesystem::path bundle = folder.parent_path().parent_path();
            std::filesystem::copy(bundle, *reachable / bundle.filename(),
                                  std::filesystem::copy_options::recursive
                                      | std::filesystem::copy_options::copy_symlinks);
            runnable = *reachable / program.lexically_relative(bundle.parent_path());
        } else {
            runnable = *reachable / program.filename();
            std::filesystem::copy_file(program, runnable);
        }
    }
    std::vector<std::string> all{"--reuid=nobody", "--regid=nogroup", "--clear-groups", runnable.native()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return runProgram("/usr/bin/setpriv", all, options);
}

}  // namespace kb::test
