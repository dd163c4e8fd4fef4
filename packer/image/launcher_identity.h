// launcher_identity.h: which prebuilt launcher a packed executable was made
// from, and whether its launcher part still is that launcher.
//
// The packer copies the launcher image as it is and appends its own
// sections after it (pe_writer.h), setting only these fields of the
// launcher's headers: NumberOfSections, SizeOfInitializedData, SizeOfImage,
// CheckSum, the resource directory and the section headers after the
// launcher's own. A signature sets CheckSum and the certificate directory
// and goes after the last section. Every other byte of the launcher's size,
// its headers, section table, code and data, is the launcher's own.
#ifndef ZOBREL_PACKER_IMAGE_LAUNCHER_IDENTITY_H
#define ZOBREL_PACKER_IMAGE_LAUNCHER_IDENTITY_H

#include <string>

#include "image/packed_image.h"

namespace zobrel {

// The launcher constant's value (CONSTANT_LAUNCHER, build_constants.h) for a
// launcher image: its size and CRC-32.
std::string launcher_stamp(const std::string &launcher);

// The launcher this packer carries whose stamp that is, or null: one made by
// another version, or no stamp at all.
const CarriedLauncher *carried_launcher_of(const std::string &stamp);

// Holds the first bytes of a packed file (as many as the launcher has, or
// the whole file when it is shorter) against the launcher it was made from.
// Returns "" when every byte of the launcher is there and the same but for
// the fields the packer and a signature set; otherwise where the first
// difference lies, as a phrase: "byte 4660 (in section .text) differs", "the
// file ends at byte 1024, inside the launcher's headers".
std::string launcher_part_difference(const std::string &packed, const std::string &launcher);

}  // namespace zobrel

#endif
