// error.h: the one exception type the packer reports to the user.
#ifndef ZOBREL_PACKER_BASE_ERROR_H
#define ZOBREL_PACKER_BASE_ERROR_H

#include <stdexcept>
#include <string>

namespace zobrel {

// A refusal or failure whose message is complete as it stands: it names the
// file or option at fault and, where there is one, what to do about it.
class PackError : public std::runtime_error {
public:
    explicit PackError(const std::string &message) : std::runtime_error(message) {}
};

// A refusal of the command line itself, seen without reading any file: a
// value an option cannot take, or options that do not go together. The
// command line ends with status 2 for these, as for an unknown option,
// where a refusal of the input (the folder, the main program, a file) ends
// with 1.
class UsageError : public PackError {
public:
    explicit UsageError(const std::string &message) : PackError(message) {}
};

}  // namespace zobrel

#endif
