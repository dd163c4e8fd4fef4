// clock.h: the clock that runs are timed with.
#ifndef ZOBREL_TESTS_SUPPORT_CLOCK_H
#define ZOBREL_TESTS_SUPPORT_CLOCK_H

// Seconds on the performance counter, from an arbitrary start.
double now_seconds();

#endif
