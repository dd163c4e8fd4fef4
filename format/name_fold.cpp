// name_fold.cpp: the case classes of name units, from the table made at build time.
#include "name_fold.h"

#include <stdint.h>

#include "name_fold_table.inc"

char16_t name_fold_unit(char16_t unit)
{
    size_t low = 0, high = NAME_FOLD_TABLE_SIZE;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        if (NAME_FOLD_TABLE[middle][0] < unit) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low < NAME_FOLD_TABLE_SIZE && NAME_FOLD_TABLE[low][0] == unit ? NAME_FOLD_TABLE[low][1] : unit;
}

int compare_folded(const char16_t *a, size_t a_length, const char16_t *b, size_t b_length)
{
    size_t common = a_length < b_length ? a_length : b_length;
    for (size_t i = 0; i < common; i++) {
        char16_t x = name_fold_unit(a[i]), y = name_fold_unit(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a_length == b_length ? 0 : a_length < b_length ? -1 : 1;
}
