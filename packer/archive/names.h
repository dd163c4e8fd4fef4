// names.h: the packer's side of the archive-name rules: why a record name
// cannot be unpacked on Windows, in words for a refusal, and which names
// Windows could take for one file.
#ifndef ZOBREL_PACKER_ARCHIVE_NAMES_H
#define ZOBREL_PACKER_ARCHIVE_NAMES_H

#include <string>
#include <vector>

#include "name_clash.h"

namespace zobrel {

// Why a record name cannot be unpacked on Windows, or "" when it can: the
// shared archive-name rule (archive_name.h), with the length in the message.
std::string name_problem(const std::u16string &name);

// True when Windows takes the name component for a device (CON, PRN, AUX,
// NUL, COM1-9, LPT1-9, whatever the extension), so it can name no file.
bool reserved_device_name(const std::u16string &component);

// The launcher's own files a build writes in its unpack directory's top
// folder (launcher_files_written in archive_name.h), as names.
std::vector<std::u16string> launcher_files(bool checks_metadata, bool keeps_builds);

// Two of the names that some Windows could take for one file, or a file and
// a name inside a folder of the file's name, under the name-equality rule
// (name_fold.h), at any depth; or a name that could be the short (8.3) name
// Windows gives another in its folder (short_name.h). The launcher's own
// files count as names too: a position below names.size() is in `names`,
// one from there on in `launcher_files`. Kind NAME_CLASH_NONE when there
// is no clash.
NameClash find_clash(const std::vector<std::u16string> &names,
                     const std::vector<std::u16string> &launcher_files = {});

// Why the two names of a NAME_CLASH_SHORT_NAME clash (`could` holding the
// component that could be a short name, `gets` the one that gets one) are
// one file, as a phrase naming both components: "'LONGFI~1.TXT' could be
// the short (8.3) name Windows gives the file 'LONGFILENAME.TXT' beside it,
// and would then open it". `launchers` when `gets` is one of the launcher's
// own files.
std::string short_name_reason(const std::u16string &could, const std::u16string &gets, size_t component,
                              bool launchers);

// Every clash find_clash could find: each pair of neighbours in the order
// of compare_names (three names of one file give two pairs), in that order;
// when there is none of those, every component that could be a short name
// in a folder where another gets one, paired with the first such (positions
// as in find_clash). Empty when there is no clash.
std::vector<NameClash> find_clashes(const std::vector<std::u16string> &names,
                                    const std::vector<std::u16string> &launcher_files = {});

}  // namespace zobrel

#endif
