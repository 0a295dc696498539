#include "core/failure_text.h"

#include "core/install_error.h"
#include "core/messages.h"
#include "core/paths.h"
#include "platform/desktop.h"
#include "platform/interruption.h"
#include "platform/resource.h"
#include "platform/system_error.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <new>

namespace kb {

namespace {

std::string systemErrorText(const std::system_error& error, const std::string& place)
{
    if (error.code().category() == std::generic_category() || error.code().category() == std::system_category()) {
        for (const messages::SystemErrorText& row : messages::systemErrorTexts) {
            if (std::find(row.errors.begin(), row.errors.end(), error.code().value()) != row.errors.end()) return row.text(place);
        }
    }
    return messages::systemFailure(place, error.what());
}

}  // namespace

std::string placeForUser(const std::filesystem::path& path, const std::filesystem::path& home)
{
    const std::string text = path.native();
    if (home.empty() || home.native() == "/" || !inside(text, home.native())) return text;
    return "~" + text.substr(home.native().size());
}

std::string describeFailure(const std::exception_ptr& failure, const std::filesystem::path& home)
{
    try {
        std::rethrow_exception(failure);
    } catch (const InstallError& error) {
        return error.message();
    } catch (const Interrupted&) {
        return std::string(stoppedByUser() ? messages::stoppedByUser : messages::interrupted);
    } catch (const DisplayUnavailable&) {
        return std::string(messages::noDisplay);
    } catch (const nlohmann::json::exception&) {
        return std::string(messages::installerDamaged);
    } catch (const SystemError& error) {
        // The bundle's Contents: its resources, and the tools it carries.
        if (!resource.empty() && inside(error.path().native(), resource.parent_path().native()))
            return std::string(messages::installerDamaged);
        return systemErrorText(error, placeForUser(error.path(), home));
    } catch (const std::system_error& error) {
        return systemErrorText(error, "");
    } catch (const std::bad_alloc&) {
        return std::string(messages::outOfMemory);
    } catch (const std::exception& error) {
        return messages::unexpectedFailure(error.what());
    } catch (...) {
        return std::string(messages::unknownError);
    }
}

}  // namespace kb
