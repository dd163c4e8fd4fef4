// greeter.h: the example application's own library.
#ifndef ZOBREL_EXAMPLES_APP_GREETER_H
#define ZOBREL_EXAMPLES_APP_GREETER_H

#ifdef GREETER_BUILD
#define GREETER_API __declspec(dllexport)
#else
#define GREETER_API __declspec(dllimport)
#endif

extern "C" GREETER_API const wchar_t *greeter_banner();

#endif
