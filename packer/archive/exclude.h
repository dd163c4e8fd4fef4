// exclude.h: which files and folders of the application folder a build
// leaves out (--exclude), with .gitignore's meaning for what fits a folder
// of Windows names.
#ifndef ZOBREL_PACKER_ARCHIVE_EXCLUDE_H
#define ZOBREL_PACKER_ARCHIVE_EXCLUDE_H

#include <string>
#include <vector>

namespace zobrel {

// The patterns of a build, in the order given. A pattern is matched against
// paths relative to the application folder:
// - '/' and '\' both separate folders (a backslash is never part of a
//   Windows name, so nothing is escaped);
// - '*' matches any run of characters but a separator, '?' one character
//   (a character outside the BMP is one), everything else itself, letters
//   compared by the name rule (name_fold.h: case pairs are one);
// - "**" as a whole folder level matches any number of levels: "**/x" x at
//   any depth, "a/**/b" b anywhere under a, "a/**" everything inside a;
// - a pattern without a separator, but for a final one, matches a name at
//   any depth ("*.pdb"); with one at its start or in its middle it matches
//   from the application folder ("/setup.exe", "docs/*.md");
// - a final separator matches folders only ("cache/");
// - a leading '!' takes back what an earlier pattern left out; the last
//   pattern that matches a path decides. As with .gitignore, nothing inside
//   a folder that is left out can be taken back: the folder is not read.
// A folder left out leaves out everything under it.
class Exclusions {
public:
    // Throws UsageError naming the pattern (the option --exclude and the text
    // as given) for one that could never match: empty, not UTF-8, or with a
    // "." or ".." folder level.
    explicit Exclusions(const std::vector<std::string> &patterns = {});

    bool empty() const { return patterns_.empty(); }

    // True when the path (relative, '/' or '\' separated, UTF-16) is left
    // out; folder tells whether it names a folder. Notes the patterns that
    // matched, for unused().
    bool excludes(const std::u16string &path, bool folder);

    // The pattern (as given) that leaves out the file at path (relative,
    // '/' or '\' separated UTF-8) or one of the folders it lies in; "" when
    // none does. Notes nothing.
    std::string excluding_pattern(const std::string &path) const;

    // The patterns (as given) that have matched no path so far.
    std::vector<std::string> unused() const;

private:
    struct Pattern {
        std::string given;
        bool negated = false;
        bool folders_only = false;
        std::vector<std::u16string> levels;  // folded; "**" stands for any number of levels
    };
    // The position of the last pattern that matches, or -1.
    int deciding(const std::vector<std::u16string> &levels, bool folder, std::vector<bool> *matched) const;

    std::vector<Pattern> patterns_;
    std::vector<bool> used_;
};

}  // namespace zobrel

#endif
