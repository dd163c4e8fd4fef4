// name_clash.cpp: sorts archive names component by component and finds neighbours that clash, then
// names of one folder that short names could make one.
#include "name_clash.h"

#include "capacities.h"
#include "short_name.h"

// The length of the component that starts at `at`, up to the next backslash.
static size_t component_length(const char16_t *at, size_t left)
{
    size_t n = 0;
    while (n < left && at[n] != u'\\') {
        n++;
    }
    return n;
}

// Compares a and b as compare_names does; *a_leads is set when every
// component of a equals the leading one of b (a equal to b, or a folder of b).
static int compare_with_prefix(const char16_t *a, size_t a_length, const char16_t *b, size_t b_length,
                               ComponentCompare compare, bool *a_leads)
{
    size_t i = 0, j = 0;
    *a_leads = false;
    for (;;) {
        const bool a_done = i >= a_length, b_done = j >= b_length;
        if (a_done || b_done) {
            *a_leads = a_done;
            return a_done && b_done ? 0 : a_done ? -1 : 1;
        }
        const size_t x = component_length(a + i, a_length - i);
        const size_t y = component_length(b + j, b_length - j);
        const int order = compare(a + i, x, b + j, y);
        if (order != 0) {
            return order;
        }
        i += x + 1;  // past the backslash
        j += y + 1;
    }
}

int compare_names(const char16_t *a, size_t a_length, const char16_t *b, size_t b_length,
                  ComponentCompare compare)
{
    bool a_leads;
    return compare_with_prefix(a, a_length, b, b_length, compare, &a_leads);
}

static int compare_entries(const NameList *names, ComponentCompare compare, uint32_t x, uint32_t y)
{
    size_t x_length, y_length;
    const char16_t *a = names->name(names->context, x, &x_length);
    const char16_t *b = names->name(names->context, y, &y_length);
    return compare_names(a, x_length, b, y_length, compare);
}

// Moves order[root] down the max-heap of `size` entries to its place.
static void sift_down(const NameList *names, ComponentCompare compare, uint32_t *order, size_t root,
                      size_t size)
{
    for (;;) {
        size_t child = 2 * root + 1;
        if (child >= size) {
            return;
        }
        if (child + 1 < size && compare_entries(names, compare, order[child], order[child + 1]) < 0) {
            child++;
        }
        if (compare_entries(names, compare, order[root], order[child]) >= 0) {
            return;
        }
        uint32_t held = order[root];
        order[root] = order[child];
        order[child] = held;
        root = child;
    }
}

// How many leading components a and b share under `compare`.
static size_t shared_components(const char16_t *a, size_t a_length, const char16_t *b, size_t b_length,
                                ComponentCompare compare)
{
    size_t i = 0, j = 0, shared = 0;
    while (i < a_length && j < b_length) {
        const size_t x = component_length(a + i, a_length - i);
        const size_t y = component_length(b + j, b_length - j);
        if (compare(a + i, x, b + j, y) != 0) {
            break;
        }
        shared++;
        i += x + 1;
        j += y + 1;
    }
    return shared;
}

// The most components a name of RECORD_NAME_CAPACITY - 1 units can have.
static const size_t DEPTH_LIMIT = RECORD_NAME_CAPACITY / 2;

// What one folder holds so far: the list position (plus one; 0 for none) of
// the first name whose component there could be a generated short name,
// and of the first whose component gets one.
struct FolderKinds {
    uint32_t could_be_short;
    uint32_t gets_short;
};

// In sorted order the names of one folder come one after another, and the
// folders of a name are open along its components: one entry per depth,
// opened afresh where a name leaves the previous one's folders. Each
// component is looked at where it first appears.
static NameClash find_short_name_clash(const NameList *names, ComponentCompare compare, const uint32_t *order)
{
    FolderKinds open[DEPTH_LIMIT];
    NameClash clash = {NAME_CLASH_NONE, 0, 0, 0};
    const char16_t *previous = NULL;
    size_t previous_length = 0, previous_depth = 0;
    for (size_t i = 0; i < names->count; i++) {
        size_t length;
        const char16_t *name = names->name(names->context, order[i], &length);
        const size_t shared =
            previous == NULL ? 0 : shared_components(previous, previous_length, name, length, compare);
        size_t depth = 0, at = 0;
        while (at <= length && depth < DEPTH_LIMIT) {
            const size_t n = component_length(name + at, length - at);
            if (depth >= shared) {
                FolderKinds &folder = open[depth];
                if (depth > shared || depth >= previous_depth) {
                    folder.could_be_short = folder.gets_short = 0;
                }
                const bool could = could_be_generated_short_name(name + at, n);
                const bool gets = gets_generated_short_name(name + at, n);
                if (could && folder.gets_short != 0) {
                    clash = {NAME_CLASH_SHORT_NAME, order[i], folder.gets_short - 1, depth};
                    return clash;
                }
                if (gets && folder.could_be_short != 0) {
                    clash = {NAME_CLASH_SHORT_NAME, folder.could_be_short - 1, order[i], depth};
                    return clash;
                }
                if (could && folder.could_be_short == 0) {
                    folder.could_be_short = order[i] + 1;
                }
                if (gets && folder.gets_short == 0) {
                    folder.gets_short = order[i] + 1;
                }
            }
            depth++;
            at += n + 1;  // past the backslash, or past the end
        }
        previous = name;
        previous_length = length;
        previous_depth = depth;
    }
    return clash;
}

NameClash find_name_clash(const NameList *names, ComponentCompare compare, uint32_t *order)
{
    const size_t count = names->count;
    for (size_t i = 0; i < count; i++) {
        order[i] = static_cast<uint32_t>(i);
    }
    // Heap sort: n log n comparisons at worst, whatever the names.
    for (size_t i = count / 2; i-- > 0;) {
        sift_down(names, compare, order, i, count);
    }
    for (size_t end = count; end > 1; end--) {
        uint32_t largest = order[0];
        order[0] = order[end - 1];
        order[end - 1] = largest;
        sift_down(names, compare, order, 0, end - 1);
    }
    NameClash clash = {NAME_CLASH_NONE, 0, 0, 0};
    for (size_t i = 1; i < count; i++) {
        size_t x_length, y_length;
        const char16_t *a = names->name(names->context, order[i - 1], &x_length);
        const char16_t *b = names->name(names->context, order[i], &y_length);
        bool a_leads;
        const int relation = compare_with_prefix(a, x_length, b, y_length, compare, &a_leads);
        if (!a_leads) {
            continue;
        }
        clash.first = order[i - 1];
        clash.second = order[i];
        if (relation == 0) {
            clash.kind = NAME_CLASH_SAME_FILE;
            if (clash.second < clash.first) {
                clash.first = order[i];
                clash.second = order[i - 1];
            }
        } else {
            clash.kind = NAME_CLASH_FILE_AND_FOLDER;
        }
        return clash;
    }
    return find_short_name_clash(names, compare, order);
}
