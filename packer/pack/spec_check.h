// spec_check.h: pack-time checks of target specifications and the default one.
#ifndef ZOBREL_PACKER_PACK_SPEC_CHECK_H
#define ZOBREL_PACKER_PACK_SPEC_CHECK_H

#include <cstdint>
#include <string>
#include <vector>

#include "archive/scan.h"
#include "image/product_info.h"

namespace zobrel {

// Why the launcher could not unpack the files under spec (one that
// spec_problem accepts), or "" when it can:
// - the expansion would not be an absolute path, so the files would land
//   wherever the launcher is started from: it must begin with {CACHE_DIR},
//   {HOME}, {TEMP}, {PROGRAM}, {PROGRAM_BASE} or {PROGRAM_DIR}, or with a
//   drive and a backslash (C:\) or two backslashes (\\server\share);
// - one of those keys after the start, which would put a second drive or
//   share inside the path;
// - the unpack directory, a backslash and the longest name would exceed the
//   launcher's 4095-unit path on every machine (counting each per-user
//   folder as a bare drive). Depth itself is no limit: the launcher creates
//   any number of folder levels that fit this length.
std::string unpack_folder_problem(const std::u16string &spec, const ProductValues &values,
                                  const std::vector<SourceFile> &files);

// Why a build with --keep-builds cannot use spec (one that spec_problem and
// unpack_folder_problem accept), or "" when it can. A start tidies the
// folder that holds its unpack directory, so the builds' folders must lie
// side by side there: the last folder must differ between builds or starts
// (it holds {VERSION}, {FILE_VERSION} or {PRODUCT_VERSION}, or one of
// {RANDOM}, {PID}, {TIME} and {TIME_US}), the folders above it must not
// (none of those keys, nor a version value with a backslash), and the last
// folder must not begin with ".zobrel-", the launcher's own names there.
// With keep 0 a start removes its own folder once its program has ended,
// so the last folder must differ between starts (one of {RANDOM}, {PID},
// {TIME} and {TIME_US}): a folder per build would be unpacked afresh and
// removed again at every start. The default specification, a folder per
// build, qualifies for every other count; it is not checked here then.
std::string keep_builds_problem(const std::u16string &spec, const ProductValues &values, uint32_t keep);

// The refusal message for a specification: "option --target-spec '<spec>': "
// (or "the default target specification '<spec>': ") and why.
std::string spec_refusal(bool given, const std::u16string &spec, const std::string &why);

// A warning, or "" when none is due: the longest unpacked path, estimated with
// a typical profile folder (the message says how), would exceed the 260 units
// (MAX_PATH, NUL included) that Windows allows without long-path support.
std::string long_path_warning(const std::u16string &spec, const ProductValues &values,
                              const std::vector<SourceFile> &files);

// What a variable's name must be, for refusals of one (--env, {ENV:NAME}).
inline constexpr char ENVIRONMENT_NAME_RULE[] =
    "(a name is 1 to 1023 characters, without '=' or control characters, and does not begin with ZOBREL_)";

// Where a specification is used: the target specification, which names the
// unpack directory, or a fixed argument or environment value, which may
// also name that directory as {UNPACK_DIR} and may be empty.
enum class SpecUse { target, command };

// Why the launcher could not expand spec, or "" when it can: an unknown or
// empty key, a '}' outside a placeholder, a '{' inside one (the launcher
// would silently drop the text before it), an unclosed placeholder; for the
// target specification also {UNPACK_DIR}, an empty specification or literal
// text longer than a path buffer. On success the upper-cased keys it names
// are appended to keys (if given).
std::string spec_problem(const std::u16string &spec, std::vector<std::string> *keys = nullptr,
                         SpecUse use = SpecUse::target);

// A warning, or "" when none is due: in text (accepted by spec_problem), a
// key that names a folder ({TEMP}, {HOME}, {CACHE_DIR}, {PROGRAM_DIR},
// {UNPACK_DIR}) is followed right away by a letter or digit, where a name
// in that folder would follow a backslash: most likely a backslash a shell
// took away ({UNPACK_DIR}\app typed unquoted in bash arrives as
// {UNPACK_DIR}app). The message names the key and the character; the
// caller names the option and the value.
std::string lost_backslash_warning(const std::u16string &text);

// A warning, or "" when none is due: text (an --env value) holds %NAME%
// (letters, digits and _ ( ) - . between two '%'), which the launcher sets
// as written where the user most likely meant the variable: {ENV:NAME}.
// Not for --arg, whose text a command interpreter may expand itself.
std::string percent_variable_warning(const std::u16string &text);

// The fewest units text (accepted by spec_problem for commands) can expand
// to on any machine: product keys as they are, each per-user folder as a
// bare drive, the run-unique values at their shortest, and {UNPACK_DIR} as
// the target specification target_spec at its shortest.
size_t shortest_expansion(const std::u16string &text, const ProductValues &values,
                          const std::u16string &target_spec);

// A usable Windows file name made of text: characters Windows forbids in
// names, control characters and braces become '_', trailing dots and spaces
// are dropped, device names get a leading '_', and empty text becomes "_".
std::u16string sanitize_component(const std::u16string &text);

// {CACHE_DIR}\<company, or product if none>\<product>\<version>, every part
// sanitized, so that different products or versions never share a folder.
std::u16string default_target_spec(const std::u16string &company, const std::u16string &product,
                                   const std::u16string &version);

}  // namespace zobrel

#endif
