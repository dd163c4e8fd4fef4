// build_constants_writer.cpp: writes a build constants block and a record index.
#include "build_constants_writer.h"

#include <libdeflate.h>

#include "little_endian.h"

static void put_u32(std::string &out, size_t at, uint32_t value)
{
    unsigned char bytes[4];
    write_le32(bytes, value);
    out.replace(at, 4, reinterpret_cast<const char *>(bytes), 4);
}

std::string write_constants_block(const std::vector<ConstantValue> &values)
{
    std::string block(CONSTANTS_HEADER_SIZE + CONSTANTS_ENTRY_SIZE * values.size(), '\0');
    block.replace(0, sizeof CONSTANTS_MAGIC, reinterpret_cast<const char *>(CONSTANTS_MAGIC),
                  sizeof CONSTANTS_MAGIC);
    put_u32(block, 16, static_cast<uint32_t>(values.size()));
    for (size_t i = 0; i < values.size(); i++) {
        block.resize((block.size() + CONSTANTS_VALUE_ALIGNMENT - 1) / CONSTANTS_VALUE_ALIGNMENT *
                         CONSTANTS_VALUE_ALIGNMENT,
                     '\0');
        const size_t entry = CONSTANTS_HEADER_SIZE + CONSTANTS_ENTRY_SIZE * i;
        put_u32(block, entry, values[i].key);
        put_u32(block, entry + 4, static_cast<uint32_t>(block.size()));
        put_u32(block, entry + 8, static_cast<uint32_t>(values[i].bytes.size()));
        block += values[i].bytes;
    }
    put_u32(block, 8, static_cast<uint32_t>(block.size()));
    const unsigned char *checked =
        reinterpret_cast<const unsigned char *>(block.data()) + CONSTANTS_CHECKED_FROM;
    put_u32(block, 12, libdeflate_crc32(0, checked, block.size() - CONSTANTS_CHECKED_FROM));
    return block;
}

std::string constant_text(const std::u16string &text)
{
    std::string bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    bytes.append(2, '\0');
    return bytes;
}

static std::string count_value(size_t count)
{
    unsigned char bytes[4];
    write_le32(bytes, static_cast<uint32_t>(count));
    return std::string(reinterpret_cast<const char *>(bytes), 4);
}

std::string argument_list_value(const std::vector<std::u16string> &arguments)
{
    std::string value = count_value(arguments.size());
    for (const std::u16string &argument : arguments) value += constant_text(argument);
    return value;
}

std::string environment_list_value(const std::vector<EnvironmentEntry> &variables)
{
    std::string value = count_value(variables.size());
    for (const EnvironmentEntry &variable : variables) {
        value += constant_text(variable.name) + constant_text(variable.value);
    }
    return value;
}

std::vector<std::u16string> list_texts(const unsigned char *list, uint32_t size)
{
    std::vector<std::u16string> texts;
    const unsigned char *end = list + size;
    for (const unsigned char *at = first_list_text(list); at < end; at = next_list_text(at)) {
        std::u16string text;
        for (const unsigned char *unit = at; read_le16(unit) != 0; unit += 2) {
            text.push_back(static_cast<char16_t>(read_le16(unit)));
        }
        texts.push_back(text);
    }
    return texts;
}

std::string record_index_value(const std::vector<IndexEntry> &records)
{
    std::string body;
    for (const IndexEntry &record : records) {
        unsigned char fixed[12];
        write_le16(fixed, static_cast<uint16_t>(record.name.size()));
        body.append(reinterpret_cast<const char *>(fixed), 2);
        for (char16_t unit : record.name) {
            write_le16(fixed, unit);
            body.append(reinterpret_cast<const char *>(fixed), 2);
        }
        write_le64(fixed, record.size);
        write_le32(fixed + 8, record.stored_checksum);
        body.append(reinterpret_cast<const char *>(fixed), 12);
    }
    unsigned char header[8];
    write_le32(header, static_cast<uint32_t>(records.size()));
    write_le32(header + 4, libdeflate_crc32(0, body.data(), body.size()));
    return std::string(reinterpret_cast<const char *>(header), 8) + body;
}

std::vector<IndexEntry> index_entries(const unsigned char *index)
{
    std::vector<IndexEntry> entries;
    const uint32_t count = read_le32(index);
    const unsigned char *at = index + RECORD_INDEX_HEADER_SIZE;
    for (uint32_t i = 0; i < count; i++) {
        IndexRecord record;
        at = next_index_record(at, &record);
        IndexEntry entry{std::u16string(), record.size, record.stored_checksum};
        for (uint32_t u = 0; u < record.name_length; u++) {
            entry.name.push_back(static_cast<char16_t>(read_le16(record.name + 2 * u)));
        }
        entries.push_back(entry);
    }
    return entries;
}

static std::string u32_value(uint32_t value)
{
    unsigned char bytes[4];
    write_le32(bytes, value);
    return std::string(reinterpret_cast<const char *>(bytes), 4);
}

std::string encode_build_constants(const OwnedBuildConstants &c)
{
    std::vector<ConstantValue> values = {
        {CONSTANT_TARGET_SPEC, constant_text(c.target_spec)},
        {CONSTANT_COMPANY, constant_text(c.company)},
        {CONSTANT_PRODUCT, constant_text(c.product)},
        {CONSTANT_VERSION, constant_text(c.version)},
        {CONSTANT_FILE_VERSION, constant_text(c.file_version)},
        {CONSTANT_PRODUCT_VERSION, constant_text(c.product_version)},
        {CONSTANT_RECORD_INDEX, record_index_value(c.records)},
        {CONSTANT_WARM_CHECK, u32_value(c.warm_check)},
    };
    if (!c.fixed_arguments.empty())
        values.push_back({CONSTANT_FIXED_ARGUMENTS, argument_list_value(c.fixed_arguments)});
    if (!c.environment.empty())
        values.push_back({CONSTANT_ENVIRONMENT, environment_list_value(c.environment)});
    if (c.keep_builds) values.push_back({CONSTANT_KEEP_BUILDS, u32_value(*c.keep_builds)});
    if (c.progress) values.push_back({CONSTANT_PROGRESS, u32_value(1)});
    if (!c.progress_message.empty())
        values.push_back({CONSTANT_PROGRESS_MESSAGE, constant_text(c.progress_message)});
    if (c.launcher) values.push_back({CONSTANT_LAUNCHER, *c.launcher});
    return write_constants_block(values);
}

static std::u16string owned_text(const ConstantUnit *text)
{
    return text == NULL ? std::u16string() : std::u16string(reinterpret_cast<const char16_t *>(text));
}

// The texts of a decoded list, from its first text on.
static std::vector<std::u16string> owned_texts(const ConstantUnit *first, size_t count)
{
    std::vector<std::u16string> texts;
    for (const ConstantUnit *at = first; texts.size() < count; at += texts.back().size() + 1) {
        texts.push_back(owned_text(at));
    }
    return texts;
}

OwnedBuildConstants owned_build_constants(const BuildConstants &c)
{
    OwnedBuildConstants owned;
    owned.target_spec = owned_text(c.target_spec);
    owned.company = owned_text(c.company);
    owned.product = owned_text(c.product);
    owned.version = owned_text(c.version);
    owned.file_version = owned_text(c.file_version);
    owned.product_version = owned_text(c.product_version);
    if (c.record_index != NULL) owned.records = index_entries(c.record_index - RECORD_INDEX_HEADER_SIZE);
    owned.warm_check = c.warm_check;
    owned.fixed_arguments = owned_texts(c.fixed_arguments, c.fixed_argument_count);
    const std::vector<std::u16string> variables = owned_texts(c.environment, 2 * size_t{c.environment_count});
    for (size_t i = 0; i + 1 < variables.size(); i += 2)
        owned.environment.push_back({variables[i], variables[i + 1]});
    if (c.remove_own_folder) {
        owned.keep_builds = 0;
    } else if (c.keep_builds != 0) {
        owned.keep_builds = c.keep_builds;
    }
    owned.progress = c.progress != 0;
    owned.progress_message = owned_text(c.progress_message);
    if (c.launcher != NULL)
        owned.launcher = std::string(reinterpret_cast<const char *>(c.launcher), c.launcher_size);
    return owned;
}
