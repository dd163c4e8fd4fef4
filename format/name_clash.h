// name_clash.h: finds two archive names that would be one file on Windows,
// or a file and a folder of one name, under a given comparison of name
// components: the packer's rule (name_fold.h) or, in the launcher, the
// system's own; and two names of one folder that Windows' short (8.3) names
// could make one (short_name.h). Both sides run this one search.
#ifndef ZOBREL_FORMAT_NAME_CLASH_H
#define ZOBREL_FORMAT_NAME_CLASH_H

#include <stddef.h>
#include <stdint.h>

// Compares two name components (no backslash in either): negative, 0 or
// positive, a total order in which 0 means "one name on Windows".
typedef int (*ComponentCompare)(const char16_t *a, size_t a_length, const char16_t *b, size_t b_length);

// Orders two backslash-separated names component by component, each pair of
// components by `compare`; a name whose components equal the leading
// components of a longer name comes first. Negative, 0 or positive. In this
// order a file comes right before the names that lie in a folder of its
// name, so a clash always shows between two neighbours.
int compare_names(const char16_t *a, size_t a_length, const char16_t *b, size_t b_length,
                  ComponentCompare compare);

// The names to search: name(context, i, &length) for each i below count.
struct NameList {
    const char16_t *(*name)(const void *context, size_t i, size_t *length);
    const void *context;
    size_t count;
};

enum NameClashKind {
    NAME_CLASH_NONE = 0,
    // Two names of one file.
    NAME_CLASH_SAME_FILE,
    // A file (first) and a name that lies in a folder of the file's name.
    NAME_CLASH_FILE_AND_FOLDER,
    // Two names whose components at one depth lie in one folder: the
    // first's could be a short name Windows generates, the second's gets
    // one (short_name.h), so the first could reach the second's file or
    // folder.
    NAME_CLASH_SHORT_NAME,
};

struct NameClash {
    NameClashKind kind;
    size_t first;   // list positions of the two names
    size_t second;  // (for SAME_FILE the lower position first)
    // For SHORT_NAME: which component of both (0 for the first); else 0.
    size_t component;
};

// Sorts `order` (count entries, which this fills with 0 to count - 1) by
// compare_names, in place (O(n log n), no other memory), and looks at each
// pair of neighbours; returns the first SAME_FILE or FILE_AND_FOLDER clash in
// that order. Without one, walks the sorted names once more, folder by
// folder, and returns the first SHORT_NAME clash; otherwise kind
// NAME_CLASH_NONE. The list must not hold more than 2^32 - 1 names.
// Components past the 512th of a name (which no name of at most 1023 units
// has) are not looked at for SHORT_NAME.
NameClash find_name_clash(const NameList *names, ComponentCompare compare, uint32_t *order);

#endif
