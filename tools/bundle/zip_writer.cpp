#include "tools/bundle/zip_writer.h"

#include "payload/sha256.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <memory>
#include <span>
#include <stdexcept>
#include <system_error>

namespace kb::bundle {
namespace {

// 2020-01-01 00:00:00 UTC for every member, so that archives are reproducible.
constexpr time_t memberTime = 1577836800;

using WriterPtr = std::unique_ptr<archive, decltype(&archive_write_free)>;
using EntryPtr = std::unique_ptr<archive_entry, decltype(&archive_entry_free)>;

[[noreturn]] void fail(archive* writer, const std::string& context)
{
    const char* text = archive_error_string(writer);
    throw std::runtime_error(context + ": " + (text ? text : "cannot write the ZIP archive"));
}

EntryPtr newEntry(const std::string& name, mode_t type, mode_t permissions)
{
    EntryPtr entry(archive_entry_new(), archive_entry_free);
    archive_entry_set_pathname_utf8(entry.get(), name.c_str());
    archive_entry_set_filetype(entry.get(), type);
    archive_entry_set_perm(entry.get(), permissions);
    archive_entry_set_mtime(entry.get(), memberTime, 0);
    archive_entry_set_uid(entry.get(), 0);
    archive_entry_set_gid(entry.get(), 0);
    archive_entry_set_size(entry.get(), 0);
    return entry;
}

void writeHeader(archive* writer, archive_entry* entry, const std::string& name)
{
    if (archive_write_header(writer, entry) < ARCHIVE_WARN) fail(writer, name);
}

FileEntry writeFile(archive* writer, const std::filesystem::path& path, const std::string& name, mode_t permissions)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) throw std::runtime_error("cannot read \"" + path.native() + "\"");
    const auto expected = static_cast<std::uint64_t>(info.st_size);

    EntryPtr entry = newEntry(name, AE_IFREG, permissions);
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(expected));
    writeHeader(writer, entry.get(), name);

    // One reading both digests the file and writes it into the archive.
    FileEntry facts;
    const auto changed = [&path] {
        return std::runtime_error("\"" + path.native() + "\" changed while it was bundled");
    };
    const auto copy = [&](std::span<const std::byte> piece) {
        facts.size += piece.size();
        if (facts.size > expected) throw changed();
        if (archive_write_data(writer, piece.data(), piece.size()) < 0) fail(writer, name);
    };
    try {
        facts.sha256 = sha256(path, copy);
    } catch (const std::system_error&) {
        throw std::runtime_error("cannot read \"" + path.native() + "\"");
    }
    if (facts.size != expected) throw changed();
    return facts;
}

}  // namespace

std::map<std::string, FileEntry> writePayloadZip(const std::filesystem::path& root, const std::string& rootName,
                                                 const std::vector<PayloadItem>& items,
                                                 const std::filesystem::path& archivePath, Compression compression)
{
    WriterPtr writer(archive_write_new(), archive_write_free);
    if (!writer) throw std::runtime_error("cannot start the ZIP writer");
    if (archive_write_set_format_zip(writer.get()) != ARCHIVE_OK) fail(writer.get(), "ZIP format");
    const char* method = compression == Compression::stored ? "zip:compression=store" : "zip:compression=deflate";
    if (archive_write_set_options(writer.get(), method) != ARCHIVE_OK) fail(writer.get(), method);
    // Names are written as UTF-8 and flagged so, whatever the locale.
    if (archive_write_set_options(writer.get(), "zip:hdrcharset=UTF-8") != ARCHIVE_OK) {
        fail(writer.get(), "zip:hdrcharset");
    }
    if (archive_write_open_filename(writer.get(), archivePath.c_str()) != ARCHIVE_OK) {
        fail(writer.get(), archivePath.native());
    }

    writeHeader(writer.get(), newEntry(rootName + "/", AE_IFDIR, 0755).get(), rootName);
    std::map<std::string, FileEntry> files;
    for (const PayloadItem& item : items) {
        const std::string name = rootName + "/" + item.relative;
        switch (item.kind) {
        case PayloadItem::Kind::folder:
            writeHeader(writer.get(), newEntry(name + "/", AE_IFDIR, item.permissions | 0700).get(), name);
            break;
        case PayloadItem::Kind::link: {
            EntryPtr entry = newEntry(name, AE_IFLNK, 0777);
            archive_entry_set_symlink_utf8(entry.get(), item.linkTarget.c_str());
            writeHeader(writer.get(), entry.get(), name);
            break;
        }
        case PayloadItem::Kind::file:
            files[item.relative] = writeFile(writer.get(), root / item.relative, name, item.permissions);
            break;
        }
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK) fail(writer.get(), archivePath.native());
    return files;
}

}  // namespace kb::bundle
