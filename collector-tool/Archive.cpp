#include "collector-tool/Archive.h"

#include <zip.h>

#include <cstring>

namespace tarnhollow::tool {

namespace {

    struct SourceState {
        EntryStream* stream;
        zip_error_t error;
    };

    zip_int64_t streamCommand(SourceState* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd)
    {
        switch (cmd) {
        case ZIP_SOURCE_OPEN:
            state->stream->open();
            return 0;
        case ZIP_SOURCE_READ:
            return static_cast<zip_int64_t>(state->stream->read(data, static_cast<std::size_t>(len)));
        case ZIP_SOURCE_CLOSE:
            state->stream->close();
            return 0;
        case ZIP_SOURCE_STAT: {
            auto* st = static_cast<zip_stat_t*>(data);
            zip_stat_init(st);
            if (auto size = state->stream->size()) {
                st->size = *size;
                st->valid |= ZIP_STAT_SIZE;
            }
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&state->error, data, len);
        case ZIP_SOURCE_FREE:
            zip_error_fini(&state->error);
            delete state;
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
        default:
            zip_error_set(&state->error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }

    // No exception may cross libzip's C frames.
    zip_int64_t sourceCallback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd)
    {
        auto* state = static_cast<SourceState*>(userdata);
        try {
            return streamCommand(state, data, len, cmd);
        } catch (...) {
            zip_error_set(&state->error, ZIP_ER_MEMORY, 0);
            return -1;
        }
    }

    void fill(ArchiveError& out, zip_error_t* error)
    {
        out.systemError = zip_error_system_type(error) == ZIP_ET_SYS ? zip_error_code_system(error) : 0;
        out.text = zip_error_strerror(error);
    }

    void fillFrom(ArchiveError& out, zip_t* zip)
    {
        fill(out, zip_get_error(zip));
    }

} // namespace

Archive::~Archive()
{
    discard();
}

bool Archive::open(const std::string& path, ArchiveError& error)
{
    int code = 0;
    zip_ = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (zip_ == nullptr) {
        zip_error_t e;
        zip_error_init_with_code(&e, code);
        fill(error, &e);
        error.systemError = error.systemError != 0 ? error.systemError : errno;
        zip_error_fini(&e);
        return false;
    }
    return true;
}

bool Archive::add(const std::string& name, const EntryMeta& meta, EntryStream* stream, ArchiveError& error)
{
    auto* state = new SourceState { stream, {} };
    zip_error_init(&state->error);
    zip_source_t* source = zip_source_function(zip_, sourceCallback, state);
    if (source == nullptr) {
        zip_error_fini(&state->error);
        delete state;
        fillFrom(error, zip_);
        return false;
    }
    const zip_int64_t index = zip_file_add(zip_, name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        fillFrom(error, zip_);
        return false;
    }
    const auto i = static_cast<zip_uint64_t>(index);
    const bool folder = !name.empty() && name.back() == '/';
    // Unix mode in the high half; the MS-DOS folder bit for readers that look there.
    const zip_uint32_t attributes
        = (static_cast<zip_uint32_t>(meta.mode & 0xFFFF) << 16) | (folder ? 0x10u : 0u);
    bool ok = zip_file_set_external_attributes(zip_, i, 0, ZIP_OPSYS_UNIX, attributes) == 0
        && zip_set_file_compression(zip_, i, meta.compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 6) == 0
        && zip_file_set_mtime(zip_, i, meta.mtime, 0) == 0;
    // The DOS time has two-second steps and no zone; the extended timestamp
    // field keeps the exact second in UTC where it fits in 32 bits.
    if (ok && meta.mtime >= INT32_MIN && meta.mtime <= INT32_MAX) {
        const auto t = static_cast<std::uint32_t>(static_cast<std::int32_t>(meta.mtime));
        const zip_uint8_t field[5] = { 1, static_cast<zip_uint8_t>(t), static_cast<zip_uint8_t>(t >> 8),
            static_cast<zip_uint8_t>(t >> 16), static_cast<zip_uint8_t>(t >> 24) };
        ok = zip_file_extra_field_set(
                 zip_, i, 0x5455, ZIP_EXTRA_FIELD_NEW, field, sizeof field, ZIP_FL_LOCAL | ZIP_FL_CENTRAL)
            == 0;
    }
    if (!ok)
        fillFrom(error, zip_);
    return ok;
}

bool Archive::close(ArchiveError& error)
{
    if (zip_close(zip_) == 0) {
        zip_ = nullptr;
        return true;
    }
    fillFrom(error, zip_);
    discard();
    return false;
}

void Archive::discard()
{
    if (zip_ != nullptr)
        zip_discard(zip_);
    zip_ = nullptr;
}

} // namespace tarnhollow::tool
