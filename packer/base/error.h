// error.h: the one exception type the packer reports to the user.
#ifndef ZOBREL_PACKER_ERROR_H
#define ZOBREL_PACKER_ERROR_H

#include <stdexcept>
#include <string>

namespace zobrel {

// A refusal or failure whose message is complete as it stands: it names the
// file or option at fault and, where there is one, what to do about it.
class PackError : public std::runtime_error {
public:
    explicit PackError(const std::string &message) : std::runtime_error(message) {}
};

}  // namespace zobrel

#endif
