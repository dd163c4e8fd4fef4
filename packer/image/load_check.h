// load_check.h: what the Windows loader needs of a 64-bit executable image
// before it maps it: whole headers, alignments it accepts, sections one
// after another in memory with their raw data inside the file, and sizes
// that agree with them. Read from the model pe_reader.h makes.
#ifndef ZOBREL_PACKER_IMAGE_LOAD_CHECK_H
#define ZOBREL_PACKER_IMAGE_LOAD_CHECK_H

#include <string>
#include <vector>

#include "image/pe_reader.h"

namespace zobrel {

struct LoadCheck {
    // Why the loader would refuse the image, each a phrase such as "the file
    // is truncated: ..."; none when it loads.
    std::vector<std::string> problems;
    // Faults the loader does not look at: a signature cut short.
    std::vector<std::string> warnings;
};

// Checks an image whose headers parse_pe_headers or read_pe_headers read
// (file_size the whole file's): a 64-bit x86 or ARM64 executable image (not a
// DLL) with a PE32+ optional header; FileAlignment a power of two from 512 to
// 64 KiB and SectionAlignment one of at least that (equal below a page);
// SizeOfHeaders covering the section table, a multiple of FileAlignment,
// inside the file and below the first section; 1 to 96 sections, each at the
// next SectionAlignment boundary after the one before (the first after the
// headers), with its raw data at a multiple of FileAlignment, after the
// headers and inside the file; SizeOfImage the end of the last section in
// memory; the entry point inside a section; every data directory but the
// certificate table inside the image.
LoadCheck check_loadable(const PeImage &image);

// What keeps Windows from starting a program image as an application, of
// whatever machine: the main program the launcher starts.
enum class ProgramProblem {
    none,
    dll,             // a DLL, not a program
    not_executable,  // not an executable image (an object file, say)
    subsystem,       // neither a console nor a Windows (GUI) program: a driver, firmware
    truncated,       // headers or a section's raw data past the end of the file ("Bad EXE format")
};
struct ProgramCheck {
    ProgramProblem problem = ProgramProblem::none;
    // The problem as a phrase that follows the program's name: "is a DLL,
    // not a program", "is truncated: its section .text runs to byte 8704,
    // past the end of the file at byte 4096"; "" when none.
    std::string why;
};

// Checks an image whose headers parse_pe_headers or read_pe_headers read
// (file_size the whole program's), in the order above.
ProgramCheck check_program(const PeImage &image);

}  // namespace zobrel

#endif
