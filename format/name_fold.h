// name_fold.h: the rule the packer (and verify) decide by whether two archive
// names could be one file on Windows.
//
// Windows' file systems compare names UTF-16 unit by unit, each unit through
// an upper-case table, with no normalization. The tables differ: each Windows
// version takes its own from some Unicode version, and an NTFS volume keeps
// the one it was formatted with. So two BMP units count as one here when
// Unicode's simple uppercase, lowercase and titlecase mappings connect them,
// directly or through others (K, k and KELVIN SIGN; I, i, dotted I and
// dotless i; sigma, final sigma and capital sigma): a class holds every unit
// any of those tables maps to the same upper case, and some that only some
// tables, or none, do. Refusing such a pair costs a rename; packing two names
// a Windows takes for one file would run the application over the other
// file's content. Units outside the BMP (surrogates) compare as they are, as
// Windows compares them; and names Windows keeps apart stay apart here: ß
// and ss, or the composed and decomposed forms of one word.
//
// The classes are made at build time from Unicode's character database
// (cmake/name_fold_table.cmake).
#ifndef ZOBREL_FORMAT_NAME_FOLD_H
#define ZOBREL_FORMAT_NAME_FOLD_H

#include <stddef.h>

// The unit that stands for the unit's class: its smallest member (the unit
// itself when no mapping connects it to another).
char16_t name_fold_unit(char16_t unit);

// Compares two runs of units, unit by unit after name_fold_unit: negative,
// 0 or positive; of two runs where one starts the other, the shorter is less.
int compare_folded(const char16_t *a, size_t a_length, const char16_t *b, size_t b_length);

#endif
