// lock_bench.cpp: what taking and giving up the unpack lock costs a warm
// start, uncontended: the folder resolved to its final path, the lock of
// that path taken, the path resolved again, the lock given up.
//
//   lock_bench DIR REPS
//
// Each repetition takes and gives up DIR's lock 1000 times through the
// launcher's own functions; prints microseconds per pair, min / median / max.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "bench_support.h"
#include "payload/unpack_lock.h"

int wmain(int argc, wchar_t **argv)
{
    if (argc != 3) {
        fputs("usage: lock_bench DIR REPS\n", stderr);
        return 100;
    }
    int reps = _wtoi(argv[2]);
    if (reps < 1) reps = 1;
    const int pairs = 1000;
    std::vector<double> each;
    for (int r = 0; r < reps; r++) {
        double start = now_seconds();
        for (int i = 0; i < pairs; i++) {
            HANDLE lock = NULL;
            FinalPath root;
            if (failed(acquire_unpack_lock_of(&lock, argv[1], &root))) return 3;
            release_unpack_lock(&lock);
        }
        each.push_back((now_seconds() - start) / pairs * 1e6);
    }
    print_spread("lock taken and given up, uncontended, " + std::to_string(reps) + " runs of " +
                     std::to_string(pairs) + ":",
                 spread_of(each), " us");
    return 0;
}
