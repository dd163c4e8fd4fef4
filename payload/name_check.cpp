// name_check.cpp: the archive's names, sorted by the system's own comparison, checked for clashes before
// anything is written.
#include "payload/name_check.h"

#include <windows.h>
#include <stdlib.h>

#include "payload/index_check.h"
#include "payload/reader.h"
#include "payload/records.h"
#include "archive_name.h"
#include "build_constants.h"
#include "capacities.h"
#include "name_clash.h"

// Two name components as the system compares file names: unit by unit
// through its upper-case table.
static int compare_on_this_system(const char16_t *a, size_t a_length, const char16_t *b, size_t b_length)
{
    // wchar_t is UTF-16 on Windows; a component is at most 1023 units.
    const int result = CompareStringOrdinal(reinterpret_cast<const wchar_t *>(a), static_cast<int>(a_length),
                                            reinterpret_cast<const wchar_t *>(b), static_cast<int>(b_length),
                                            /* bIgnoreCase */ TRUE);
    return result - CSTR_EQUAL;
}

// The archive's names, then the launcher's own files this build writes in
// the top folder: a name there must keep apart from those as from the others.
struct WithLauncherFiles {
    const NameList *archive;
    char16_t launcher_files[LAUNCHER_FILE_LIMIT][32];  // the longest has 17 characters
    size_t launcher_lengths[LAUNCHER_FILE_LIMIT];
};

static const char16_t *archive_or_launcher_name(const void *context, size_t i, size_t *length)
{
    const WithLauncherFiles *names = static_cast<const WithLauncherFiles *>(context);
    if (i < names->archive->count) {
        return names->archive->name(names->archive->context, i, length);
    }
    i -= names->archive->count;
    *length = names->launcher_lengths[i];
    return names->launcher_files[i];
}

static StageResult sort_and_check(const BuildInfo &build, const NameList &archive)
{
    WithLauncherFiles both = {&archive, {}, {}};
    const char *written[LAUNCHER_FILE_LIMIT];
    const size_t written_count =
        launcher_files_written(build.warm_check == WARM_CHECK_METADATA, build.keep_builds != 0, written);
    for (size_t f = 0; f < written_count; f++) {
        size_t n = 0;
        for (; written[f][n] != '\0' && n < sizeof both.launcher_files[f] / sizeof(char16_t); n++) {
            both.launcher_files[f][n] = static_cast<char16_t>(written[f][n]);
        }
        both.launcher_lengths[f] = n;
    }
    const NameList names = {archive_or_launcher_name, &both, archive.count + written_count};
    if (names.count < 2) {
        return stage_succeeded();
    }
    uint32_t *order = static_cast<uint32_t *>(malloc(names.count * sizeof *order));
    if (order == NULL) {
        return stage_failed(FAILURE_MEMORY);
    }
    const NameClash clash = find_name_clash(&names, compare_on_this_system, order);
    free(order);
    return clash.kind == NAME_CLASH_NONE ? stage_succeeded() : stage_failed(FAILURE_DECODE);
}

// Name i of the build's record index, where it lies in the index: its
// units are little-endian, as Windows' are, and 2-byte aligned (the index
// starts on an 8-byte boundary and every record's size is even).
static const char16_t *indexed_name(const void *context, size_t i, size_t *length)
{
    IndexRecord record;
    indexed_record(static_cast<const IndexCheckState *>(context), static_cast<unsigned long>(i), &record);
    *length = record.name_length;
    return reinterpret_cast<const char16_t *>(record.name);
}

// The stream's names one after another in one heap array that grows as
// they come, each entry where its name starts and how long it is.
struct StreamNames {
    char16_t *units;
    size_t unit_count, unit_room;
    struct Entry {
        size_t start;
        size_t length;
    } * entries;
    size_t count, room;
};

static bool grow(void **array, size_t *room, size_t needed, size_t element_size)
{
    if (needed <= *room) {
        return true;
    }
    size_t bigger = *room < 64 ? 64 : *room * 2;
    while (bigger < needed) {
        bigger *= 2;
    }
    void *moved = realloc(*array, bigger * element_size);
    if (moved == NULL) {
        return false;
    }
    *array = moved;
    *room = bigger;
    return true;
}

static bool keep_name(StreamNames *names, const wchar_t *name, size_t length)
{
    if (!grow(reinterpret_cast<void **>(&names->units), &names->unit_room, names->unit_count + length,
              sizeof *names->units) ||
        !grow(reinterpret_cast<void **>(&names->entries), &names->room, names->count + 1,
              sizeof *names->entries)) {
        return false;
    }
    for (size_t u = 0; u < length; u++) {
        names->units[names->unit_count + u] = static_cast<char16_t>(name[u]);
    }
    names->entries[names->count].start = names->unit_count;
    names->entries[names->count].length = length;
    names->unit_count += length;
    names->count++;
    return true;
}

static const char16_t *stream_name(const void *context, size_t i, size_t *length)
{
    const StreamNames *names = static_cast<const StreamNames *>(context);
    *length = names->entries[i].length;
    return names->units + names->entries[i].start;
}

// Every record's name, its content read and dropped, to the end marker,
// which must end the frame.
static StageResult read_stream_names(PayloadReader *reader, StreamNames *names)
{
    static wchar_t name[RECORD_NAME_CAPACITY];
    for (;;) {
        size_t length = 0;
        StageResult step = read_record_name(reader, name, &length);
        if (failed(step)) {
            return step;
        }
        if (length == 0) {
            return payload_expect_end(reader);
        }
        if (!keep_name(names, name, length)) {
            return stage_failed(FAILURE_MEMORY);
        }
        uint64_t size = 0;
        uint32_t stored = 0;
        step = read_record_fields(reader, &size, &stored);
        if (!failed(step)) {
            step = skip_record_content(reader, size);
        }
        if (failed(step)) {
            return step;
        }
    }
}

StageResult check_names_apart(const LaunchShared *launch, PayloadStage *payload, const PayloadInput &input)
{
    const unsigned long indexed = indexed_record_count(launch, &payload->index);
    if (indexed != 0) {
        const NameList names = {indexed_name, &payload->index, indexed};
        return sort_and_check(launch->build, names);
    }
    StreamNames kept = {};
    StageResult step = payload_open(&payload->reader, input);
    if (!failed(step)) {
        step = read_stream_names(&payload->reader, &kept);
    }
    payload_close(&payload->reader);
    if (!failed(step)) {
        const NameList names = {stream_name, &kept, kept.count};
        step = sort_and_check(launch->build, names);
    }
    free(kept.units);
    free(kept.entries);
    return step;
}
