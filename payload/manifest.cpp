#include "payload/manifest.h"

#include "platform/file_manager.h"

#include <cmath>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace kb {

namespace {

using nlohmann::json;

// The most bytes a manifest may hold. Each entry takes about 120 bytes and
// its path: 66,000 files with paths of 70 characters need 12 MiB, and this
// leaves room for paths averaging 380.
constexpr std::uint64_t maxManifestBytes = std::uint64_t{32} << 20;

// Whether a floating-point "size" is a whole number within the unsigned
// 64-bit range: 2^64 is the first value that does not fit; -0.0 is zero.
bool wholeAndInRange(double number)
{
    return !std::isnan(number) && number == std::trunc(number) && number >= 0 && number < 18446744073709551616.0;
}

// "size": a whole number from 0 to the largest unsigned 64-bit value. The
// library itself would take a Boolean, a negative or a fractional number and
// convert it, so those are refused here with errors of the library's kinds.
std::uint64_t decodeSize(const json& value)
{
    const std::string range = "size must be a whole number from 0 to "
                              + std::to_string(std::numeric_limits<std::uint64_t>::max()) + ", but is ";
    switch (value.type()) {
    case json::value_t::number_unsigned:
        return value.get<std::uint64_t>();
    case json::value_t::number_integer: {
        // The parser stores non-negative integers as unsigned; only "-0"
        // and negative numbers arrive here.
        const auto number = value.get<std::int64_t>();
        if (number < 0) throw json::out_of_range::create(406, range + value.dump(), &value);
        return static_cast<std::uint64_t>(number);
    }
    case json::value_t::number_float: {
        // Also where the parser puts integers beyond the unsigned 64-bit range.
        const double number = value.get<double>();
        if (std::isnan(number) || number != std::trunc(number))
            throw json::type_error::create(302, range + value.dump(), &value);
        if (!wholeAndInRange(number)) throw json::out_of_range::create(406, range + value.dump(), &value);
        return static_cast<std::uint64_t>(number);
    }
    case json::value_t::boolean:
        throw json::type_error::create(302, std::string("type must be number, but is ") + value.type_name(), &value);
    default:
        return value.get<std::uint64_t>();  // throws the library's "type must be number, but is ..."
    }
}

// Decodes a manifest straight from the parser's events, without building
// the document: a manifest of many thousand files then costs little more
// memory than its result. It accepts only what the document decoding
// (from_json below) accepts with the same result, and gives up at anything
// else: a broken or unexpected shape, a missing member, a duplicate name
// that matters. Giving up sends the text through the document decoding,
// which then reports the library's own error with its member path (or, for
// the harmless cases given up on, decodes it the same way).
class StreamingDecoder final : public nlohmann::json_sax<json> {
public:
    PayloadManifest manifest;

    bool null() override { return scalar(Kind::other); }
    bool boolean(bool) override { return scalar(Kind::other); }
    bool number_integer(number_integer_t value) override
    {
        number_ = value >= 0 ? std::optional<std::uint64_t>(static_cast<std::uint64_t>(value)) : std::nullopt;
        return scalar(Kind::number);
    }
    bool number_unsigned(number_unsigned_t value) override
    {
        number_ = value;
        return scalar(Kind::number);
    }
    bool number_float(number_float_t value, const string_t&) override
    {
        number_ = wholeAndInRange(value) ? std::optional<std::uint64_t>(static_cast<std::uint64_t>(value))
                                         : std::nullopt;
        return scalar(Kind::number);
    }
    bool string(string_t& value) override
    {
        text_ = &value;
        return scalar(Kind::string);
    }
    bool binary(binary_t&) override { return false; }

    bool start_object(std::size_t) override
    {
        if (skipping_ > 0) return skip();
        switch (expecting_) {
        case Expecting::root: return enter(Level::root);
        case Expecting::files: return enter(Level::files);
        case Expecting::symlinks: return enter(Level::symlinks);
        case Expecting::file:
            entry_ = {};
            hasDigest_ = hasSize_ = false;
            return enter(Level::file);
        case Expecting::ignored: return skip();
        default: return false;
        }
    }
    bool start_array(std::size_t) override
    {
        if (skipping_ > 0 || expecting_ == Expecting::ignored) return skip();
        return false;
    }
    bool end_array() override { return --skipping_, true; }

    bool key(string_t& name) override
    {
        if (skipping_ > 0) return true;
        switch (levels_.back()) {
        case Level::root:
            if (name == "files") return once(seenFiles_, Expecting::files);
            if (name == "symlinks") return once(seenSymlinks_, Expecting::symlinks);
            expecting_ = Expecting::ignored;
            return true;
        case Level::files:
            if (manifest.files.count(name) != 0) return false;
            key_ = name;
            expecting_ = Expecting::file;
            return true;
        case Level::symlinks:
            if (manifest.symlinks.count(name) != 0) return false;
            key_ = name;
            expecting_ = Expecting::target;
            return true;
        case Level::file:
            if (name == "sha256") return once(hasDigest_, Expecting::digest);
            if (name == "size") return once(hasSize_, Expecting::size);
            expecting_ = Expecting::ignored;
            return true;
        }
        return false;
    }

    bool end_object() override
    {
        if (skipping_ > 0) return --skipping_, true;
        const Level level = levels_.back();
        levels_.pop_back();
        switch (level) {
        case Level::root: return seenFiles_ && seenSymlinks_;
        case Level::file:
            if (!hasDigest_ || !hasSize_) return false;
            manifest.files.emplace(std::move(key_), std::move(entry_));
            return true;
        default: return true;
        }
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    enum class Level { root, files, symlinks, file };
    enum class Expecting { root, files, symlinks, file, target, digest, size, ignored, nothing };
    enum class Kind { number, string, other };

    bool enter(Level level)
    {
        levels_.push_back(level);
        expecting_ = Expecting::nothing;
        return true;
    }

    // Enters an object or array inside a member that is ignored.
    bool skip()
    {
        ++skipping_;
        expecting_ = Expecting::nothing;
        return true;
    }

    bool once(bool& seen, Expecting next)
    {
        if (seen) return false;  // a repeated member: the document decoding settles it
        seen = true;
        expecting_ = next;
        return true;
    }

    bool scalar(Kind kind)
    {
        if (skipping_ > 0) return true;
        const Expecting expected = std::exchange(expecting_, Expecting::nothing);
        switch (expected) {
        case Expecting::ignored: return true;
        case Expecting::digest:
            if (kind != Kind::string) return false;
            entry_.sha256 = *text_;
            return true;
        case Expecting::size:
            if (kind != Kind::number || !number_) return false;
            entry_.size = *number_;
            return true;
        case Expecting::target:
            if (kind != Kind::string) return false;
            manifest.symlinks.emplace(std::move(key_), *text_);
            return true;
        default: return false;
        }
    }

    std::vector<Level> levels_;
    Expecting expecting_ = Expecting::root;
    std::size_t skipping_ = 0;  // depth inside a member that is ignored
    bool seenFiles_ = false;
    bool seenSymlinks_ = false;
    bool hasDigest_ = false;
    bool hasSize_ = false;
    std::string key_;
    FileEntry entry_;
    std::optional<std::uint64_t> number_;
    string_t* text_ = nullptr;
};

}  // namespace

void from_json(const json& json, FileEntry& entry)
{
    FileEntry decoded;
    decoded.sha256 = json.at("sha256").get<std::string>();
    decoded.size = decodeSize(json.at("size"));
    entry = std::move(decoded);
}

void from_json(const json& json, PayloadManifest& manifest)
{
    PayloadManifest decoded;
    // get<std::map<...>>() refuses anything but an object, and each member
    // value that is not a file object (or not a string) with its own path.
    decoded.files = json.at("files").get<std::map<std::string, FileEntry>>();
    decoded.symlinks = json.at("symlinks").get<std::map<std::string, std::string>>();
    manifest = std::move(decoded);
}

std::string encodeManifest(const PayloadManifest& manifest)
{
    json document = {{"files", json::object()}, {"symlinks", json::object()}};
    for (const auto& [path, entry] : manifest.files) {
        document["files"][path] = {{"sha256", entry.sha256}, {"size", entry.size}};
    }
    for (const auto& [path, target] : manifest.symlinks) document["symlinks"][path] = target;
    return document.dump(2) + "\n";
}

std::optional<PayloadManifest> decodeManifestStreaming(std::string_view text)
{
    StreamingDecoder decoder;
    if (!nlohmann::json::sax_parse(text, &decoder)) return std::nullopt;
    return std::move(decoder.manifest);
}

PayloadManifest decodeManifest(std::string_view text)
{
    if (std::optional<PayloadManifest> manifest = decodeManifestStreaming(text)) return std::move(*manifest);
    return nlohmann::json::parse(text).get<PayloadManifest>();
}

PayloadManifest readManifest(const std::filesystem::path& path)
{
    return decodeManifest(readFile(path, maxManifestBytes));
}

}  // namespace kb
