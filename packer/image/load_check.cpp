// load_check.cpp: checks an image's headers and sections as the Windows loader would.
#include "image/load_check.h"

#include <cstdio>

namespace zobrel {
namespace {

const uint32_t PAGE = 4096;
const size_t MAX_SECTIONS = 96;
const uint32_t MAX_DIRECTORIES = 16;

bool power_of_two(uint32_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

uint64_t align_up(uint64_t value, uint32_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

std::string hex(uint64_t value)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(value));
    return buf;
}

std::string number(uint64_t value)
{
    return std::to_string(value);
}

// The alignments must hold before anything is measured with them.
bool check_alignments(const PeImage &m, std::vector<std::string> &problems)
{
    const uint32_t fa = m.file_alignment, sa = m.section_alignment;
    if (!power_of_two(fa) || fa < 512 || fa > 65536) {
        problems.push_back("its FileAlignment (" + number(fa) + ") is not a power of two from 512 to 65536");
        return false;
    }
    if (!power_of_two(sa) || sa < fa || (sa < PAGE && sa != fa)) {
        problems.push_back("its SectionAlignment (" + number(sa) +
                           ") is not a power of two of at least its FileAlignment (" + number(fa) +
                           "), and equal to it below a page");
        return false;
    }
    return true;
}

void check_headers(const PeImage &m, std::vector<std::string> &problems)
{
    const uint64_t table_end = uint64_t{m.section_table_offset} + 40 * m.sections.size();
    if (m.size_of_headers < table_end) {
        problems.push_back("its SizeOfHeaders (" + number(m.size_of_headers) +
                           ") does not cover its section table (which ends at byte " + number(table_end) +
                           ")");
    }
    if (m.size_of_headers % m.file_alignment != 0) {
        problems.push_back("its SizeOfHeaders (" + number(m.size_of_headers) +
                           ") is not a multiple of its FileAlignment");
    }
    if (m.size_of_headers > m.file_size) {
        problems.push_back("the file is truncated: its headers (SizeOfHeaders " + number(m.size_of_headers) +
                           ") run past its end at byte " + number(m.file_size));
    }
}

// Sections follow one another in memory with no gap, each raw data inside
// the file; returns the end of the last one in memory.
uint64_t check_sections(const PeImage &m, std::vector<std::string> &problems)
{
    uint64_t next = align_up(m.size_of_headers, m.section_alignment);
    bool truncated = m.size_of_headers > m.file_size;
    for (const PeSection &s : m.sections) {
        const std::string who = "section " + (s.name.empty() ? std::string("(unnamed)") : s.name);
        if (s.virtual_address < next) {
            problems.push_back(who + " overlaps what lies before it in memory (VirtualAddress " +
                               hex(s.virtual_address) + ", below " + hex(next) + ")");
        } else if (s.virtual_address > next) {
            problems.push_back(who + " does not follow the one before it in memory (VirtualAddress " +
                               hex(s.virtual_address) + ", expected " + hex(next) + ")");
        }
        if (s.raw_size > 0) {
            const uint64_t end = uint64_t{s.raw_offset} + s.raw_size;
            if (s.raw_offset % m.file_alignment != 0) {
                problems.push_back(who + "'s raw data (at byte " + number(s.raw_offset) +
                                   ") does not start at a multiple of the FileAlignment");
            }
            if (s.raw_offset < m.size_of_headers) {
                problems.push_back(who + "'s raw data (at byte " + number(s.raw_offset) +
                                   ") lies inside the headers");
            }
            if (end > m.file_size && !truncated) {  // the first says it; the others follow from it
                truncated = true;
                problems.push_back("the file is truncated: " + who + "'s raw data ends at byte " +
                                   number(end) + ", the file at byte " + number(m.file_size));
            }
        }
        const uint32_t in_memory = s.virtual_size != 0 ? s.virtual_size : s.raw_size;
        if (in_memory == 0) problems.push_back(who + " is empty");
        next = align_up(uint64_t{s.virtual_address} + in_memory, m.section_alignment);
    }
    return next;
}

const char *const DIRECTORY_NAMES[] = {"export",     "import",       "resource",    "exception",
                                       "security",   "base reloc",   "debug",       "architecture",
                                       "global ptr", "TLS",          "load config", "bound import",
                                       "IAT",        "delay import", "CLR",         "reserved"};

void check_directories(const PeImage &m, LoadCheck &check)
{
    if (m.rva_and_sizes > MAX_DIRECTORIES) {
        check.problems.push_back("its NumberOfRvaAndSizes (" + number(m.rva_and_sizes) + ") passes 16");
    }
    for (size_t i = 0; i < m.directories.size() && i < MAX_DIRECTORIES; ++i) {
        const PeDataDirectory &d = m.directories[i];
        if (d.size == 0) continue;
        const uint64_t end = uint64_t{d.address} + d.size;
        const std::string who = std::string("its ") + DIRECTORY_NAMES[i] + " directory";
        if (static_cast<int>(i) == CERTIFICATE_DIRECTORY) {
            // A file offset; the loader does not read it, a signature check does.
            if (end > m.file_size) {
                check.warnings.push_back("its signature (" + number(d.size) + " bytes at byte " +
                                         number(d.address) + ") runs past the end of the file at byte " +
                                         number(m.file_size) + ": it was cut short");
            }
        } else if (d.address < m.size_of_headers || end > m.size_of_image) {
            check.problems.push_back(who + " (" + hex(d.address) + ", " + number(d.size) +
                                     " bytes) lies outside the image");
        }
    }
}

}  // namespace

ProgramCheck check_program(const PeImage &m)
{
    if (m.characteristics & CHARACTERISTIC_DLL) return {ProgramProblem::dll, "is a DLL, not a program"};
    if (!(m.characteristics & CHARACTERISTIC_EXECUTABLE)) {
        return {ProgramProblem::not_executable, "is not an executable image"};
    }
    if (m.subsystem != SUBSYSTEM_WINDOWS && m.subsystem != SUBSYSTEM_CONSOLE) {
        return {ProgramProblem::subsystem, "is a program of subsystem " + number(m.subsystem) + " (" +
                                               subsystem_name(m.subsystem) +
                                               "), which Windows does not start as an application"};
    }
    if (m.plus64 && m.size_of_headers > m.file_size) {
        return {ProgramProblem::truncated,
                "is truncated: its headers (SizeOfHeaders " + number(m.size_of_headers) +
                    ") run past the end of the file at byte " + number(m.file_size)};
    }
    for (const PeSection &s : m.sections) {
        const uint64_t end = uint64_t{s.raw_offset} + s.raw_size;
        if (s.raw_size > 0 && end > m.file_size) {
            return {ProgramProblem::truncated, "is truncated: its section " + s.name + " runs to byte " +
                                                   number(end) + ", past the end of the file at byte " +
                                                   number(m.file_size)};
        }
    }
    return {};
}

LoadCheck check_loadable(const PeImage &m)
{
    LoadCheck check;
    std::vector<std::string> &problems = check.problems;
    if (m.machine != MACHINE_AMD64 && m.machine != MACHINE_ARM64) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%04x", m.machine);
        problems.push_back(std::string("it is not a 64-bit x86 or ARM64 image (machine ") + buf + ")");
    }
    if (!(m.characteristics & CHARACTERISTIC_EXECUTABLE)) problems.push_back("it is not an executable image");
    if (m.characteristics & CHARACTERISTIC_DLL) problems.push_back("it is a DLL, not a program");
    if (!m.plus64) {
        problems.push_back("its optional header is not a whole PE32+ header");
        return check;
    }
    if (!check_alignments(m, problems)) return check;
    if (m.sections.empty() || m.sections.size() > MAX_SECTIONS) {
        problems.push_back("it has " + number(m.sections.size()) + " sections; Windows loads 1 to 96");
        return check;
    }
    check_headers(m, problems);
    const uint64_t end = check_sections(m, problems);
    if (m.size_of_image != end) {
        problems.push_back("its SizeOfImage (" + hex(m.size_of_image) +
                           ") is not the end of its last section in memory (" + hex(end) + ")");
    }
    bool entry_inside = false;
    for (const PeSection &s : m.sections) {
        const uint32_t in_memory = s.virtual_size != 0 ? s.virtual_size : s.raw_size;
        entry_inside = entry_inside ||
                       (m.entry_point >= s.virtual_address && m.entry_point - s.virtual_address < in_memory);
    }
    if (!entry_inside)
        problems.push_back("its entry point (" + hex(m.entry_point) + ") lies outside its sections");
    check_directories(m, check);
    return check;
}

}  // namespace zobrel
