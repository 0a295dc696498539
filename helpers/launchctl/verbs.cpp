#include "helpers/launchctl/verbs.h"

#include "helpers/launchctl/agent_file.h"
#include "helpers/launchctl/domain_state.h"
#include "helpers/launchctl/job.h"

#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <ostream>

namespace kb::launchctl {

namespace {

using Arguments = std::vector<std::string>;

int usage(std::ostream& err, const std::string& form)
{
    err << "Usage: launchctl " << form << "\n";
    return usageStatus;
}

// Whether `text` is "gui/<uid>" for the caller's own user id.
bool ownDomain(const std::string& text)
{
    if (!text.starts_with("gui/")) return false;
    const char* first = text.data() + 4;
    const char* last = text.data() + text.size();
    if (first == last || *first == '+' || *first == '-') return false;
    unsigned long uid = 0;
    auto [end, error] = std::from_chars(first, last, uid);
    return error == std::errc{} && end == last && uid == ::getuid();
}

int badTarget(std::ostream& err, const std::string& form)
{
    err << "Unrecognized target specifier.\n";
    return usage(err, form);
}

std::filesystem::path ownStateFile()
{
    return stateFile(::getuid());
}

// The record of the job of `label`, beside the domain's state file; "%" and
// "/" in the label are written %25 and %2F.
std::filesystem::path jobRecord(const std::filesystem::path& file, const std::string& label)
{
    std::string name;
    for (char c : label) name += c == '%' ? "%25" : c == '/' ? "%2F" : std::string(1, c);
    return file.parent_path() / (name + ".job");
}

double secondsNow()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// For the installer's tests: launchd refuses to load anything for a moment
// after a bootout. KESTRELBAY_LAUNCHCTL_BUSY_AFTER_BOOTOUT=<seconds> has
// bootout note its time, and bootstrap fail within that many seconds of it.
std::optional<double> busyAfterBootout()
{
    const char* text = std::getenv("KESTRELBAY_LAUNCHCTL_BUSY_AFTER_BOOTOUT");
    if (text == nullptr) return std::nullopt;
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(seconds >= 0)) return std::nullopt;
    return seconds;
}

int getenvVerb(const Arguments& arguments, std::ostream& out, std::ostream& err)
{
    if (arguments.size() != 1) return usage(err, "getenv <key>");
    DomainState state = loadState(ownStateFile());
    auto found = state.environment.find(arguments[0]);
    if (found != state.environment.end()) out << found->second << "\n";
    return 0;
}

int setenvVerb(const Arguments& arguments, std::ostream&, std::ostream& err)
{
    if (arguments.size() != 2) return usage(err, "setenv <key> <value>");
    std::filesystem::path file = ownStateFile();
    DomainLock lock(file);
    DomainState state = loadState(file);
    state.environment[arguments[0]] = arguments[1];
    saveState(file, state);
    return 0;
}

int unsetenvVerb(const Arguments& arguments, std::ostream&, std::ostream& err)
{
    if (arguments.size() != 1) return usage(err, "unsetenv <key>");
    std::filesystem::path file = ownStateFile();
    DomainLock lock(file);
    DomainState state = loadState(file);
    if (state.environment.erase(arguments[0]) > 0) saveState(file, state);
    return 0;
}

int bootstrapVerb(const Arguments& arguments, std::ostream&, std::ostream& err)
{
    const std::string form = "bootstrap <domain-target> <service-path>";
    if (arguments.size() != 2) return usage(err, form);
    if (!ownDomain(arguments[0])) return badTarget(err, form);

    std::filesystem::path agentFile = std::filesystem::absolute(arguments[1]);
    std::optional<Agent> agent = readAgent(agentFile);
    std::filesystem::path file = ownStateFile();
    DomainLock lock(file);
    DomainState state = loadState(file);
    const std::optional<double> busy = busyAfterBootout();
    const bool settling = busy && state.lastBootout && secondsNow() - *state.lastBootout < *busy;
    if (settling || !agent || state.loaded.contains(agent->label)) {
        err << "Bootstrap failed: 5: Input/output error\n";
        return bootstrapFailed;
    }
    state.loaded[agent->label] = agentFile.native();
    saveState(file, state);
    // The job changes the domain itself (a setenv, typically), so it starts
    // only once the load is on record; it waits for the lock to do so.
    if (agent->runAtLoad) startJob(*agent, jobRecord(file, agent->label));
    return 0;
}

int bootoutVerb(const Arguments& arguments, std::ostream&, std::ostream& err)
{
    const std::string form = "bootout <service-target>";
    if (arguments.size() != 1) return usage(err, form);
    const std::string& target = arguments[0];
    std::size_t slash = target.find('/', 4);
    if (slash == std::string::npos || !ownDomain(target.substr(0, slash)) || slash + 1 == target.size()) {
        return badTarget(err, form);
    }
    std::string label = target.substr(slash + 1);
    std::filesystem::path file = ownStateFile();
    DomainLock lock(file);
    DomainState state = loadState(file);
    if (state.loaded.erase(label) == 0) {
        err << "Boot-out failed: 3: No such process\n";
        return bootoutFailed;
    }
    if (busyAfterBootout()) state.lastBootout = secondsNow();
    saveState(file, state);
    endJob(jobRecord(file, label));
    return 0;
}

}  // namespace

int runCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    if (arguments.empty()) return usage(err, "<subcommand> ...");
    const std::string& verb = arguments[0];
    const Arguments rest(arguments.begin() + 1, arguments.end());
    try {
        if (verb == "getenv") return getenvVerb(rest, out, err);
        if (verb == "setenv") return setenvVerb(rest, out, err);
        if (verb == "unsetenv") return unsetenvVerb(rest, out, err);
        if (verb == "bootstrap") return bootstrapVerb(rest, out, err);
        if (verb == "bootout") return bootoutVerb(rest, out, err);
    } catch (const std::exception& error) {
        err << "launchctl: " << error.what() << "\n";
        return 1;
    }
    err << "Unrecognized subcommand: " << verb << "\n";
    return usage(err, "<subcommand> ...");
}

}  // namespace kb::launchctl
