// unit_test.cpp: the packer's rules and formats, tested without the Windows runtime.
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <stdexcept>
#include <tuple>

#include <gtest/gtest.h>

#include "archive/blob_reader.h"
#include "argument_quoting.h"
#include "build_constants.h"
#include "build_constants_writer.h"
#include "build_marker_layout.h"
#include "environment_name.h"
#include "fnv1a.h"
#include "archive/exclude.h"
#include "archive/names.h"
#include "archive/reader.h"
#include "archive/scan.h"
#include "base/error.h"
#include "base/text.h"
#include "image/product_info.h"
#include "image/resources.h"
#include "pack/child_command.h"
#include "pack/spec_check.h"
#include "name_fold.h"
#include "payload_format.h"
#include "payload_writer.h"
#include "pe_sections.h"
#include "placeholder_tokens.h"
#include "state_file_layout.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using zt::TempDir;
using zt::write_file;

bool zobrel_append(char16_t *out, size_t capacity, size_t *length, const std::u16string &argument,
                   ArgumentQuoting quoting)
{
    return append_quoted_argument(out, capacity, length, argument.data(), argument.size(), quoting);
}

TEST(Text, Utf8ToUtf16AcceptsWellFormedAndRefusesTheRest)
{
    struct Case {
        std::string in;
        bool ok;
        std::u16string out;
    } cases[] = {
        {"abc", true, u"abc"},
        {"caf\xC3\xA9", true, u"caf\u00E9"},
        {"\xE4\xB8\xAD", true, u"\u4E2D"},
        {"\xF0\x9F\x98\x80", true, u"\U0001F600"},  // surrogate pair
        {"\xC3", false, u""},                       // truncated sequence
        {"\xC0\xAF", false, u""},                   // overlong '/'
        {"\xED\xA0\x80", false, u""},               // encoded surrogate
        {"\xF4\x90\x80\x80", false, u""},           // beyond U+10FFFF
        {"\xFF", false, u""},
        {std::string("a\0b", 3), false, u""},
    };
    for (const Case &c : cases) {
        std::u16string out;
        EXPECT_EQ(zobrel::utf8_to_utf16(c.in, out), c.ok) << c.in;
        if (c.ok) {
            EXPECT_EQ(out, c.out) << c.in;
            std::string back;
            EXPECT_TRUE(zobrel::utf16_to_utf8(out, back));
            EXPECT_EQ(back, c.in);
        }
    }
}

// A name nested the given number of levels deep: d\d\...\f
std::u16string deep_name(int levels)
{
    std::u16string name;
    for (int i = 1; i < levels; ++i) name += u"d\\";
    return name + u"f";
}

TEST(Names, UsableWindowsNamesPass)
{
    for (const std::u16string &name :
         {std::u16string(u"a"), std::u16string(u"dir\\sub dir\\file name.txt"),
          std::u16string(u"caf\u00E9\\\u4E2D.dll"), std::u16string(u".hidden"),
          std::u16string(u"console.txt"), std::u16string(u"com10"), std::u16string(u"sub\\.zobrel-state"),
          std::u16string(u"sub\\.zobrel-build"), std::u16string(u".zobrel-state2"),
          std::u16string(1023, u'x'), deep_name(64), deep_name(512), std::u16string(u"com\u00B4"),
          std::u16string(u"conin")}) {
        EXPECT_EQ(zobrel::name_problem(name), "") << name.size();
    }
}

TEST(Names, NamesTheLauncherCannotUnpackAreRefused)
{
    struct Case {
        std::u16string name;
        const char *why;
    } cases[] = {
        {u"", "empty"},
        {std::u16string(1024, u'x'), "1024 UTF-16 units"},
        {u"\\abs", "absolute"},
        {u"C:\\x", "':'"},
        {u"file:stream", "':'"},
        {u"a\\..\\b", "'..'"},
        {u"..", "'..'"},
        {u".\\a", "'.'"},
        {u"a\\\\b", "empty component"},
        {u"a\\", "empty component"},
        {u"a<b", "forbids"},
        {u"a>b", "forbids"},
        {u"a\"b", "forbids"},
        {u"a/b", "forbids"},
        {u"a|b", "forbids"},
        {u"a?b", "forbids"},
        {u"a*b", "forbids"},
        {u"a\u0001b", "control"},
        {u"a\u001Fb", "control"},
        {u"trailing.\\x", "dot or space"},
        {u"x\\trailing ", "dot or space"},
        {u"NUL", "device"},
        {u"dir\\con.txt", "device"},
        {u"Com1.dll", "device"},
        {u"lpt9", "device"},
        {u".zobrel-state", "keeps for its own"},
        {u".ZOBREL-STATE.new", "keeps for its own"},
        {u".zobrel-build", "keeps for its own"},
        {u".Zobrel-Build\\x.txt", "keeps for its own"},
        {u"COM0.log", "device"},
        {u"lpt\u00B9", "device"},
        {u"a\\com\u00B3.txt", "device"},
        {u"CONIN$", "device"},
        {u"conout$.txt", "device"},
    };
    for (const Case &c : cases) {
        std::string why = zobrel::name_problem(c.name);
        EXPECT_NE(why.find(c.why), std::string::npos)
            << "name of " << c.name.size() << " units gave '" << why << "'";
    }
}

// Names some Windows could take for one file (or a file and a folder of
// one name), and names every Windows keeps apart, from several scripts and
// at several depths; each case lists its names in an order where a plain
// sort would put another name between the two that clash.
TEST(NameClash, PairsFromManyScriptsAreFoundAndNamesWindowsKeepsApartAreNot)
{
    struct Case {
        const char *what;
        std::vector<std::u16string> names;
        NameClashKind kind;
    } cases[] = {
        {"ASCII", {u"readme.TXT", u"README.txt"}, NAME_CLASH_SAME_FILE},
        {"Latin-1", {u"caf\u00E9", u"CAF\u00C9"}, NAME_CLASH_SAME_FILE},
        {"Latin-1 y diaeresis and its capital in Extended-A", {u"\u00FF", u"\u0178"}, NAME_CLASH_SAME_FILE},
        {"Latin Extended-A", {u"\u0101.txt", u"\u0100.txt"}, NAME_CLASH_SAME_FILE},
        {"dotless i", {u"f\u0131le", u"FILE"}, NAME_CLASH_SAME_FILE},
        {"dotted capital I", {u"\u0130", u"i"}, NAME_CLASH_SAME_FILE},
        {"long s", {u"\u017Fet", u"SET"}, NAME_CLASH_SAME_FILE},
        {"Latin Extended-B titlecase", {u"\u01C5", u"\u01C6"}, NAME_CLASH_SAME_FILE},
        {"Latin Extended-B", {u"\u0180", u"\u0243"}, NAME_CLASH_SAME_FILE},
        {"Latin Extended Additional", {u"\u1E01", u"\u1E00"}, NAME_CLASH_SAME_FILE},
        {"capital sharp s", {u"stra\u00DFe", u"STRA\u1E9EE"}, NAME_CLASH_SAME_FILE},
        {"Kelvin sign", {u"\u212A", u"k"}, NAME_CLASH_SAME_FILE},
        {"Angstrom sign", {u"\u212B", u"\u00E5"}, NAME_CLASH_SAME_FILE},
        {"Greek final sigma",
         {u"\u03BB\u03CC\u03B3\u03BF\u03C2", u"\u039B\u038C\u0393\u039F\u03A3"},
         NAME_CLASH_SAME_FILE},
        {"Greek beta symbol", {u"\u03D0", u"\u0392"}, NAME_CLASH_SAME_FILE},
        {"Cyrillic",
         {u"\u0436\u0443\u0440\u043D\u0430\u043B", u"\u0416\u0423\u0420\u041D\u0410\u041B"},
         NAME_CLASH_SAME_FILE},
        {"Cyrillic beyond basic", {u"\u0450", u"\u0400"}, NAME_CLASH_SAME_FILE},
        {"Cyrillic palochka", {u"\u04CF", u"\u04C0"}, NAME_CLASH_SAME_FILE},
        {"Cyrillic rounded ve", {u"\u1C80", u"\u0412"}, NAME_CLASH_SAME_FILE},
        {"Armenian", {u"\u0561\u0562", u"\u0531\u0532"}, NAME_CLASH_SAME_FILE},
        {"Georgian Mtavruli", {u"\u10D0", u"\u1C90"}, NAME_CLASH_SAME_FILE},
        {"Georgian Asomtavruli", {u"\u10A0", u"\u2D00"}, NAME_CLASH_SAME_FILE},
        {"Cherokee", {u"\u13A0", u"\uAB70"}, NAME_CLASH_SAME_FILE},
        {"Glagolitic", {u"\u2C30", u"\u2C00"}, NAME_CLASH_SAME_FILE},
        {"fullwidth", {u"\uFF41", u"\uFF21"}, NAME_CLASH_SAME_FILE},
        {"circled letters", {u"\u24D0", u"\u24B6"}, NAME_CLASH_SAME_FILE},
        {"Roman numerals", {u"\u2170", u"\u2160"}, NAME_CLASH_SAME_FILE},
        {"deep", {u"dir\\sub\\\u0101.txt", u"dir\\sub x", u"DIR\\SUB\\\u0100.TXT"}, NAME_CLASH_SAME_FILE},
        {"file beside folder", {u"\u0100", u"\u0100 b", u"\u0101\\x"}, NAME_CLASH_FILE_AND_FOLDER},
        {"file beside folder, deep",
         {u"lib\\Data", u"lib\\Data.txt", u"LIB\\data\\sub\\x.bin"},
         NAME_CLASH_FILE_AND_FOLDER},
        {"file beside folder, folder first", {u"A\\b", u"a"}, NAME_CLASH_FILE_AND_FOLDER},
        {"sharp s and ss", {u"stra\u00DFe", u"strasse", u"STRASSE.txt"}, NAME_CLASH_NONE},
        {"composed and decomposed", {u"caf\u00E9", u"cafe\u0301"}, NAME_CLASH_NONE},
        {"Deseret, outside the BMP", {u"\U00010400", u"\U00010428"}, NAME_CLASH_NONE},
        {"Osage, outside the BMP", {u"\U000104B0", u"\U000104D8"}, NAME_CLASH_NONE},
        {"one folder, two files", {u"A\\x", u"a\\y", u"a b"}, NAME_CLASH_NONE},
        {"a name that only starts another", {u"lib", u"library\\x", u"lib.dll"}, NAME_CLASH_NONE},
        {"letters of no case", {u"\u4E2D", u"\u4E2E", u"\u0660"}, NAME_CLASH_NONE},
    };
    for (const Case &c : cases) {
        const NameClash clash = zobrel::find_clash(c.names);
        EXPECT_EQ(clash.kind, c.kind) << c.what;
        if (c.kind == NAME_CLASH_NONE || clash.kind != c.kind) continue;
        // The two that clash: the first and the last listed.
        const size_t last = c.names.size() - 1;
        if (c.kind == NAME_CLASH_SAME_FILE) {
            EXPECT_TRUE(clash.first == 0 && clash.second == last) << c.what;
        } else {
            const std::u16string &file = c.names[clash.first];
            const std::u16string &inside = c.names[clash.second];
            EXPECT_TRUE(inside.size() > file.size() && inside[file.size()] == u'\\') << c.what;
        }
    }
}

// Short (8.3) names: a name of the short-name form with a '~' never shares a
// folder with a name Windows gives a generated short name, whatever the
// depth, with the launcher's own files counted in the top folder. The first
// name listed is the one that could be a short name, the last the one that
// gets one (or, with `launchers`, the launcher's own file).
TEST(NameClash, ANameThatCouldBeAnothersShortNameIsRefused)
{
    struct Case {
        const char *what;
        std::vector<std::u16string> names;
        bool refused;
        size_t component = 0;
        std::vector<std::u16string> launchers = {};
    } cases[] = {
        {"Wine's short name of a long one", {u"ABCD~AUF.TXT", u"ABCDEFGHIJ.TXT"}, true},
        {"NTFS's, either in any case", {u"longfi~1.txt", u"b.txt", u"LongFileName.Txt"}, true},
        {"a space", {u"MYAPP~1.EXE", u"my app.exe"}, true},
        {"a plus sign", {u"AB~1.TXT", u"a+b.txt"}, true},
        {"a bracket", {u"X~1.TXT", u"[x].txt"}, true},
        {"a non-ASCII letter", {u"CAF~1.TXT", u"caf\u00E9.txt"}, true},
        {"two dots", {u"AB~1.C", u"a.b.c"}, true},
        {"a leading dot", {u"CONFIG~1", u".config"}, true},
        {"a four-letter extension", {u"PAGE~1.HTM", u"page.html"}, true},
        {"a tilde alone", {u"~", u"a long name"}, true},
        {"an extended character where short names may keep it",
         {u"\u00C9~1.TXT", u"\u00C9colier.text"},
         true},
        {"a folder's short name", {u"LONGFO~1\\b.txt", u"LongFolderName\\a.txt"}, true},
        {"a folder and a file", {u"LONGFO~1", u"LongFolderName\\x"}, true},
        {"deep, among others",
         {u"lib\\sub\\LONGER~1.DLL", u"lib\\x.txt", u"LIB\\a\\LongerName.dll", u"LIB\\SUB\\LongerName.dll"},
         true,
         2},
        {"the state file", {u"_ZOB~TAG", u"app.exe"}, true, 0, {u".zobrel-state", u".zobrel-state.new"}},
        {"the marker", {u"ZOBREL~1"}, true, 0, {u".zobrel-build"}},
        {"in another folder", {u"sub\\ABCD~AUF.TXT", u"ABCDEFGHIJ.TXT"}, false},
        {"in the folder with the long name's name",
         {u"LongFolderName\\LONGFO~1", u"LongFolderName\\x"},
         false},
        {"one name that gets a short name among others", {u"READ~1.TXT", u"readme.txt", u"Read Me"}, true},
        {"names of the short-name form only (lower case too)",
         {u"READ~1.TXT", u"readme.txt", u"A.B", u"12345678.123"},
         false},
        {"no tilde", {u"LONGFI_1.TXT", u"LongFileName.txt"}, false},
        {"a tilde in a name too long to be short", {u"LONGFILE~1.TXT", u"LongFileName.txt"}, false},
        {"a tilde with too long an extension", {u"LONGFI~1.HTML", u"LongFileName.txt"}, false},
        {"the launcher's own files of a build that writes none", {u"_ZOB~TAG", u"app.exe"}, false},
        {"the launcher's own files are in the top folder only",
         {u"sub\\_ZOB~TAG", u"app.exe"},
         false,
         0,
         {u".zobrel-build"}},
    };
    for (const Case &c : cases) {
        const NameClash clash = zobrel::find_clash(c.names, c.launchers);
        if (!c.refused) {
            EXPECT_EQ(clash.kind, NAME_CLASH_NONE) << c.what;
            continue;
        }
        ASSERT_EQ(clash.kind, NAME_CLASH_SHORT_NAME) << c.what;
        EXPECT_EQ(clash.first, 0u) << c.what;
        EXPECT_EQ(clash.second, c.launchers.empty() ? c.names.size() - 1 : c.names.size()) << c.what;
        EXPECT_EQ(clash.component, c.component) << c.what;
        // The packer's listing of every clash holds this one.
        const std::vector<NameClash> all = zobrel::find_clashes(c.names, c.launchers);
        EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const NameClash &a) {
            return a.kind == clash.kind && a.first == clash.first && a.second == clash.second &&
                   a.component == clash.component;
        })) << c.what;
    }
}

// The packer names every short-name clash in one run, each component once
// however many names lie in it, and none where find_clash finds none.
TEST(NameClash, EveryShortNameClashIsListed)
{
    const std::vector<std::u16string> names = {u"A~1.TXT",     u"sub\\B~1.TXT", u"sub\\long name.txt",
                                               u"C~1\\x",      u"C~1\\y",       u"app.exe",
                                               u"ok\\D~1.TXT", u"ok\\E.TXT"};
    const std::vector<std::u16string> launchers = {u".zobrel-build"};
    std::set<std::tuple<size_t, size_t, size_t>> found;
    for (const NameClash &c : zobrel::find_clashes(names, launchers)) {
        EXPECT_EQ(c.kind, NAME_CLASH_SHORT_NAME);
        EXPECT_TRUE(found.insert({c.first, c.second, c.component}).second) << "listed twice: " << c.first;
    }
    const size_t marker = names.size();
    EXPECT_EQ(found,
              (std::set<std::tuple<size_t, size_t, size_t>>{{0, marker, 0}, {1, 2, 1}, {3, marker, 0}}));
    EXPECT_TRUE(zobrel::find_clashes(names).size() == 1) << "without the marker only the clash in sub";
    // A case pair is reported as such, before any short name is looked at.
    EXPECT_EQ(zobrel::find_clashes({u"A~1", u"a~1", u"long name"}).front().kind, NAME_CLASH_SAME_FILE);
}

// The one search both sides run, on many names: a clash is found wherever
// its two names lie among the others, and none among names that only look
// alike (prefixes, one folder shared).
TEST(NameClash, FoundAmongThousandsOfNamesWhereverItLies)
{
    std::vector<std::u16string> names;
    for (int i = 0; i < 3000; ++i) {
        std::string s = "d" + std::to_string(i % 7) + "\\f" + std::to_string(i);
        names.push_back(std::u16string(s.begin(), s.end()));
        if (i % 10 == 0) names.back() = u"D" + names.back().substr(1);  // same folders, other case
    }
    EXPECT_EQ(zobrel::find_clash(names).kind, NAME_CLASH_NONE);
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::u16string> with = names;
        const size_t victim = rng() % names.size();
        std::u16string twin = with[victim];
        for (char16_t &c : twin) c = c == u'f' ? u'F' : c;
        const size_t at = rng() % (with.size() + 1);
        with.insert(with.begin() + static_cast<long>(at), twin);
        const NameClash clash = zobrel::find_clash(with);
        ASSERT_EQ(clash.kind, NAME_CLASH_SAME_FILE) << round;
        EXPECT_TRUE(zobrel::find_clash({with[clash.first], with[clash.second]}).kind == NAME_CLASH_SAME_FILE);
        EXPECT_TRUE(with[clash.first] == twin || with[clash.second] == twin);
    }
}

// Every simple case folding Unicode publishes (CaseFolding.txt, statuses C
// and S, within the BMP) joins two units of one class: the classes, made
// from another file of the database, hold at least what folding does.
TEST(NameClash, EverySimpleCaseFoldingOfTheBmpIsOneClass)
{
    std::ifstream in(ZOBREL_UNICODE_CASE_FOLDING);
    ASSERT_TRUE(in) << ZOBREL_UNICODE_CASE_FOLDING;
    int pairs = 0;
    for (std::string line; std::getline(in, line);) {
        unsigned from = 0, to = 0;
        char status = 0;
        if (std::sscanf(line.c_str(), "%x; %c; %x;", &from, &status, &to) != 3) continue;
        if ((status != 'C' && status != 'S') || from > 0xFFFF || to > 0xFFFF) continue;
        ++pairs;
        EXPECT_EQ(name_fold_unit(static_cast<char16_t>(from)), name_fold_unit(static_cast<char16_t>(to)))
            << std::hex << from << " " << to;
    }
    EXPECT_GT(pairs, 1000);
    // Surrogates, unmapped letters and digits stand for themselves.
    for (char16_t u :
         {char16_t(0xD801), char16_t(0xDC00), char16_t(0x4E2D), char16_t(u'0'), char16_t(0xFFFF)})
        EXPECT_EQ(name_fold_unit(u), u);
}

TEST(Checksum, ContentWithCrcZeroIsStoredAsOne)
{
    const unsigned char crc_zero[4] = {0x9d, 0x0a, 0xd9, 0x6d};
    ASSERT_EQ(crc32(0, crc_zero, 4), 0u);  // the fixture really has CRC-32 0
    ASSERT_EQ(crc32(0, Z_NULL, 0), 0u);    // and so has empty content
    EXPECT_EQ(stored_checksum(0), 1u);
    EXPECT_EQ(stored_checksum(0x1234), 0x1234u);
    // The shared writer stores them so.
    EXPECT_EQ(stored_checksum_of(crc_zero, 4), 1u);
    EXPECT_EQ(stored_checksum_of(std::string()), 1u);
    EXPECT_EQ(stored_checksum_of(std::string("x")), crc32(0, reinterpret_cast<const Bytef *>("x"), 1));
}

// Each token of text as "kind:units", the units as the token covers them;
// a key also names its row and an argument key its argument.
std::vector<std::string> rendered_tokens(const std::u16string &text)
{
    static const char *const kinds[] = {"text",     "key",      "argument", "unknown",
                                        "too long", "reopened", "stray",    "unclosed"};
    std::vector<std::string> tokens;
    PlaceholderToken t;
    for (size_t at = 0; next_placeholder_token(text.data(), text.size(), &at, &t);) {
        std::string units;
        zobrel::utf16_to_utf8(text.substr(t.start, t.length), units);
        std::string token = std::string(kinds[t.kind]) + ":" + units;
        if (t.key) token += " =" + std::string(t.key->name);
        if (t.argument_key) {
            std::string argument;
            zobrel::utf16_to_utf8(text.substr(t.argument_start, t.argument_length), argument);
            token += " =" + std::string(t.argument_key->name) + "(" + argument + ")";
        }
        tokens.push_back(token);
    }
    return tokens;
}

TEST(PlaceholderTokens, EachKindIsFoundWhereItLies)
{
    const std::string k1023(1023, 'K'), k1024(1024, 'K');
    struct Case {
        std::u16string text;
        std::vector<std::string> tokens;
    } cases[] = {
        {u"", {}},
        {u"C:\\plain path", {"text:C:\\plain path"}},
        {u"{cache_dir}\\{Company}x",
         {"key:{cache_dir} =CACHE_DIR", "text:\\", "key:{Company} =COMPANY", "text:x"}},
        // Whole names only, and only ASCII letters fold.
        {u"{PROG}{PROGRAMX}{ TEMP}{}",
         {"unknown:{PROG}", "unknown:{PROGRAMX}", "unknown:{ TEMP}", "unknown:{}"}},
        {u"{ＣＯＭＰＡＮＹ}", {"unknown:{ＣＯＭＰＡＮＹ}"}},
        // A key with an argument: the text after its first ':', empty or not.
        {u"{ENV:Path}{env:}{Env:a:b}",
         {"argument:{ENV:Path} =ENV(Path)", "argument:{env:} =ENV()", "argument:{Env:a:b} =ENV(a:b)"}},
        {u"{ENV}{ENVX:a}{X:ENV:a}", {"unknown:{ENV}", "unknown:{ENVX:a}", "unknown:{X:ENV:a}"}},
        // A "{" inside a placeholder ends it and begins the next one.
        {u"a{b{COMPANY}", {"text:a", "reopened:{b", "key:{COMPANY} =COMPANY"}},
        {u"{{}", {"reopened:{", "unknown:{}"}},
        {u"}a}}", {"stray:}", "text:a", "stray:}", "stray:}"}},
        {u"{TEMP}}", {"key:{TEMP} =TEMP", "stray:}"}},
        {u"abc{COMPANY", {"text:abc", "unclosed:{COMPANY"}},
        {u"x{", {"text:x", "unclosed:{"}},
        // Text longer than a key buffer names no key; an argument has no
        // limit of its own here, nor has an open placeholder.
        {u"{" + std::u16string(1023, u'K') + u"}", {"unknown:{" + k1023 + "}"}},
        {u"{" + std::u16string(1024, u'K') + u"}", {"too long:{" + k1024 + "}"}},
        {u"{ENV:" + std::u16string(1024, u'K') + u"}", {"argument:{ENV:" + k1024 + "} =ENV(" + k1024 + ")"}},
        {u"{" + std::u16string(1024, u'K') + u"{", {"reopened:{" + k1024, "unclosed:{"}},
        {u"{" + std::u16string(1024, u'K'), {"unclosed:{" + k1024}},
    };
    for (const Case &c : cases) {
        std::string text;
        zobrel::utf16_to_utf8(c.text, text);
        EXPECT_EQ(rendered_tokens(c.text), c.tokens) << text.substr(0, 40);
    }
}

TEST(Spec, ValidSpecificationsAndTheirKeys)
{
    struct Case {
        std::u16string spec;
        std::vector<std::string> keys;
    } cases[] = {
        {u"{CACHE_DIR}\\MOLTARN\\vexor\\0.2.0", {"CACHE_DIR"}},
        {u"{cache_dir}\\{Company}\\{PRODUCT}", {"CACHE_DIR", "COMPANY", "PRODUCT"}},
        {u"C:\\fixed\\path", {}},
        {u"{TEMP}\\{RANDOM}-{TIME}-{TIME_US}-{PID}", {"TEMP", "RANDOM", "TIME", "TIME_US", "PID"}},
        {u"{HOME}{PROGRAM}{PROGRAM_BASE}{PROGRAM_DIR}{VERSION}{FILE_VERSION}{PRODUCT_VERSION}",
         {"HOME", "PROGRAM", "PROGRAM_BASE", "PROGRAM_DIR", "VERSION", "FILE_VERSION", "PRODUCT_VERSION"}},
    };
    for (const Case &c : cases) {
        std::vector<std::string> keys;
        EXPECT_EQ(zobrel::spec_problem(c.spec, &keys), "") << c.spec.size();
        EXPECT_EQ(keys, c.keys);
    }
}

TEST(Spec, SpecificationsTheLauncherCannotExpandAreRefused)
{
    struct Case {
        std::u16string spec;
        const char *why;
    } cases[] = {
        {u"", "empty"},
        {u"{}", "empty placeholder"},
        {u"{NOPE}\\x", "unknown key '{NOPE}'"},
        {u"{CACHE_DIRX}", "unknown key"},
        {u"{CACHE}", "unknown key"},
        {u"{ CACHE_DIR}", "unknown key"},
        {u"a}b", "'}' outside"},
        {u"{TEMP}}", "'}' outside"},
        {u"abc{COMPANY", "not closed"},
        {u"a{b{COMPANY}", "'{' inside"},
        {std::u16string(4096, u'x'), "longer than"},
    };
    for (const Case &c : cases) {
        std::string why = zobrel::spec_problem(c.spec);
        EXPECT_NE(why.find(c.why), std::string::npos) << "got '" << why << "'";
    }
}

// The quoting rule as {argument, written form} pairs, then each written
// form split again by the platform's rule (as CommandLineToArgvW and the C
// runtime split an argument after the program name): the pair that gives
// back anything else is a fault.
std::vector<std::u16string> split_like_windows(const std::u16string &line)
{
    std::vector<std::u16string> args;
    size_t i = 0;
    for (;;) {
        while (i < line.size() && (line[i] == u' ' || line[i] == u'\t')) ++i;
        if (i == line.size()) return args;
        std::u16string arg;
        bool quoted = false;
        for (; i < line.size(); ++i) {
            size_t backslashes = 0;
            while (i < line.size() && line[i] == u'\\') ++backslashes, ++i;
            if (i < line.size() && line[i] == u'"') {
                arg.append(backslashes / 2, u'\\');
                if (backslashes % 2) {
                    arg.push_back(u'"');
                } else {
                    quoted = !quoted;
                }
                continue;
            }
            arg.append(backslashes, u'\\');
            if (i == line.size()) break;
            if (!quoted && (line[i] == u' ' || line[i] == u'\t')) break;
            arg.push_back(line[i]);
        }
        args.push_back(arg);
    }
}

TEST(ArgumentQuoting, EachArgumentIsWrittenSoThatSplittingGivesItBack)
{
    struct Case {
        std::u16string argument, written;
    } cases[] = {
        {u"plain", u"plain"},
        {u"", u"\"\""},
        {u"two words", u"\"two words\""},
        {u"tab\there", u"\"tab\there\""},
        {u"line\nfeed", u"\"line\nfeed\""},
        {u"vertical\vtab", u"\"vertical\vtab\""},
        {u"say \"hi\"", u"\"say \\\"hi\\\"\""},
        {u"\"", u"\"\\\"\""},
        {u"C:\\Program Files (x32)\\Common\\", u"\"C:\\Program Files (x32)\\Common\\\\\""},
        {u"C:\\no\\spaces\\", u"C:\\no\\spaces\\"},
        {u"\\\\server\\share", u"\\\\server\\share"},
        {u"a\\\\\"b", u"\"a\\\\\\\\\\\"b\""},
        {u"a\\b c", u"\"a\\b c\""},
        {u"\\", u"\\"},
        {u" \\\\", u"\" \\\\\\\\\""},
        {u"{UNPACK_DIR}\\x", u"{UNPACK_DIR}\\x"},
        {u"caf\u00E9 \u4E2D", u"\"caf\u00E9 \u4E2D\""},
    };
    std::u16string line, all;
    std::vector<std::u16string> expected;
    for (const Case &c : cases) {
        char16_t out[128];
        size_t length = 0;
        ASSERT_TRUE(zobrel_append(out, 128, &length, c.argument, QUOTE_WHEN_NEEDED));
        EXPECT_EQ(std::u16string(out, length), c.written) << "case " << expected.size();
        EXPECT_EQ(out[length], u'\0');
        EXPECT_EQ(quoted_argument_length(c.argument.data(), c.argument.size(), QUOTE_WHEN_NEEDED), length);
        EXPECT_EQ(split_like_windows(c.written), std::vector<std::u16string>{c.argument});
        all += (all.empty() ? u"" : u" ") + c.written;
        expected.push_back(c.argument);
    }
    EXPECT_EQ(split_like_windows(all), expected) << "joined by spaces, each comes back on its own";

    // Asked to quote regardless (a program name the rest follows at once).
    char16_t out[16];
    size_t length = 0;
    ASSERT_TRUE(zobrel_append(out, 16, &length, u"a\\", QUOTE_ALWAYS));
    EXPECT_EQ(std::u16string(out, length), u"\"a\\\\\"");

    // At the buffer's end: the text and its NUL fit exactly, or nothing is written.
    for (size_t capacity : {size_t{13}, size_t{12}}) {
        char16_t buffer[16];
        std::fill(buffer, buffer + 16, u'#');
        size_t at = 2;
        const bool fits = zobrel_append(buffer, capacity, &at, u"a b\"c\\", QUOTE_WHEN_NEEDED);
        EXPECT_EQ(fits, capacity == 13) << capacity;  // "a b\"c\\" is 10 units, from unit 2, and a NUL
        EXPECT_EQ(at, fits ? 12u : 2u);
        EXPECT_EQ(buffer[fits ? 12 : 2], fits ? u'\0' : u'#');
    }
}

std::string list_of(uint32_t count, const std::vector<std::string> &texts)
{
    std::string value(4, '\0');
    for (int i = 0; i < 4; ++i) value[i] = static_cast<char>(count >> (8 * i));
    for (const std::string &t : texts) value += t;
    return value;
}

std::string utf16z(const std::u16string &text)
{
    return constant_text(text);
}

TEST(BuildConstants, ArgumentAndEnvironmentListsAreReadStrictly)
{
    const std::vector<std::u16string> arguments = {u"/c", u"", u"{UNPACK_DIR}\\a b", u"caf\u00E9"};
    const std::vector<EnvironmentEntry> variables = {{u"PYTHONHOME", u"{UNPACK_DIR}\\python"},
                                                     {u"GONE", u""}};
    const std::string args = argument_list_value(arguments);
    const std::string env = environment_list_value(variables);
    auto bytes = [](const std::string &s) { return reinterpret_cast<const unsigned char *>(s.data()); };
    uint32_t count = 0;
    ASSERT_TRUE(check_text_list(bytes(args), args.size(), TEXT_LIST_ARGUMENTS, &count));
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(list_texts(bytes(args), args.size()), arguments);
    ASSERT_TRUE(check_text_list(bytes(env), env.size(), TEXT_LIST_ENVIRONMENT, &count));
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(list_texts(bytes(env), env.size()),
              (std::vector<std::u16string>{u"PYTHONHOME", u"{UNPACK_DIR}\\python", u"GONE", u""}));
    const std::string none = argument_list_value({});
    EXPECT_TRUE(check_text_list(bytes(none), none.size(), TEXT_LIST_ARGUMENTS, &count));
    EXPECT_EQ(count, 0u);

    struct Case {
        const char *what;
        TextListKind kind;
        std::string value;
    } broken[] = {
        {"no count", TEXT_LIST_ARGUMENTS, std::string(3, '\0')},
        {"count beyond the texts", TEXT_LIST_ARGUMENTS, list_of(3, {utf16z(u"a"), utf16z(u"b")})},
        {"count of 2^32 - 1", TEXT_LIST_ARGUMENTS, list_of(0xFFFFFFFFu, {utf16z(u"a")})},
        {"bytes after the texts", TEXT_LIST_ARGUMENTS, list_of(1, {utf16z(u"a"), utf16z(u"b")})},
        {"an odd byte at the end", TEXT_LIST_ARGUMENTS, list_of(1, {utf16z(u"a"), "x"})},
        {"no 0 unit", TEXT_LIST_ARGUMENTS, list_of(1, {std::string("a\0b\0", 4)})},
        {"a variable without its value", TEXT_LIST_ENVIRONMENT, list_of(1, {utf16z(u"A")})},
        {"an empty name", TEXT_LIST_ENVIRONMENT, list_of(1, {utf16z(u""), utf16z(u"x")})},
        {"a name with '='", TEXT_LIST_ENVIRONMENT, list_of(1, {utf16z(u"A=B"), utf16z(u"x")})},
        {"the launcher's prefix", TEXT_LIST_ENVIRONMENT,
         list_of(1, {utf16z(u"zobrel_onefile_parent"), utf16z(u"1")})},
        {"a name of 1024 units", TEXT_LIST_ENVIRONMENT,
         list_of(1, {utf16z(std::u16string(1024, u'N')), utf16z(u"x")})},
    };
    for (const Case &c : broken) {
        EXPECT_FALSE(check_text_list(bytes(c.value), c.value.size(), c.kind, &count)) << c.what;
    }

    // A block holding a list that does not hold is a block that does not hold.
    std::vector<ConstantValue> values;
    for (uint32_t key = CONSTANT_TARGET_SPEC; key <= CONSTANT_PRODUCT_VERSION; ++key)
        values.push_back({key, constant_text(u"x")});
    for (const auto &[key, value] : std::vector<std::pair<uint32_t, std::string>>{
             {CONSTANT_FIXED_ARGUMENTS, args}, {CONSTANT_ENVIRONMENT, env}}) {
        std::vector<ConstantValue> with = values;
        with.push_back({key, value});
        std::string block = write_constants_block(with);
        ConstantsView view;
        EXPECT_EQ(check_constants_block(bytes(block), block.size(), &view), CONSTANTS_WHOLE) << key;
        with.back().bytes = value.substr(0, value.size() - 2);
        block = write_constants_block(with);
        EXPECT_EQ(check_constants_block(bytes(block), block.size(), &view), CONSTANTS_LAYOUT_BROKEN) << key;
    }
    // The progress message: a text of at most PROGRESS_MESSAGE_LIMIT units,
    // which the launcher can put on one line.
    const std::string longest = constant_text(std::u16string(PROGRESS_MESSAGE_LIMIT, u'm'));
    for (const auto &[message, whole] : std::vector<std::pair<std::string, bool>>{
             {longest, true},
             {constant_text(std::u16string(PROGRESS_MESSAGE_LIMIT + 1, u'm')), false},
             {longest.substr(0, longest.size() - 2), false},
             {std::string("\0\0m\0\0\0", 6), false}}) {
        std::vector<ConstantValue> with = values;
        with.push_back({CONSTANT_PROGRESS_MESSAGE, message});
        const std::string block = write_constants_block(with);
        ConstantsView view;
        EXPECT_EQ(check_constants_block(bytes(block), block.size(), &view),
                  whole ? CONSTANTS_WHOLE : CONSTANTS_LAYOUT_BROKEN)
            << message.size();
    }
}

// The hash names unpack locks and the product a build marker on disk
// belongs to: a change would make every earlier build another product's.
TEST(Fnv1a, KnownAnswersAndTheMarkersProductIdentity)
{
    auto hash = [](const std::u16string &text) {
        uint64_t h = FNV1A_START;
        for (char16_t unit : text) h = fnv1a_unit(h, unit);
        return h;
    };
    EXPECT_EQ(hash(u""), 0xcbf29ce484222325ull);
    EXPECT_EQ(hash(u"a"), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(hash(u"foobar"), 0x85944171f73967e8ull);
    EXPECT_EQ(build_marker_identity(u"Zobrel Tests", u"tidy"), 0x291dd4f90f32b826ull);
    EXPECT_NE(build_marker_identity(u"ab", u"c"), build_marker_identity(u"a", u"bc"));
}

// Every key the packer writes comes back from the one decode the launcher
// and the inspection use, and the values read back write the same block.
TEST(BuildConstants, WhatIsEncodedDecodesTheSame)
{
    OwnedBuildConstants plain;
    plain.target_spec = u"{CACHE_DIR}\\Acme\\Tool\\1.0";
    plain.company = u"Acme";
    plain.product = u"Tool";
    plain.version = u"1.0-1.0.0.0";
    plain.file_version = u"1.0.0.0";
    plain.product_version = u"1.0";
    plain.records = {{u"tool.exe", 70001, 7}, {u"lib\\a.dll", 0, 0}};
    OwnedBuildConstants every = plain;
    every.warm_check = WARM_CHECK_METADATA;
    every.fixed_arguments = {u"/c", u"", u"{UNPACK_DIR}\\a b"};
    every.environment = {{u"PYTHONHOME", u"{UNPACK_DIR}\\python"}, {u"GONE", u""}};
    every.keep_builds = 3;
    every.progress = true;
    every.progress_message = u"Unpacking {PRODUCT}";
    every.launcher = std::string("\x00\x10\x00\x00stmp", 8);
    OwnedBuildConstants message_alone = plain;
    message_alone.progress_message = u"m";
    OwnedBuildConstants empty_stamp = plain;
    empty_stamp.launcher = std::string();
    // 0 is stored, and read back, apart from an absent count.
    OwnedBuildConstants none_kept = plain;
    none_kept.keep_builds = 0;

    for (const OwnedBuildConstants *given : {&plain, &every, &message_alone, &empty_stamp, &none_kept}) {
        const std::string block = encode_build_constants(*given);
        BuildConstants decoded;
        ASSERT_EQ(decode_build_constants(reinterpret_cast<const unsigned char *>(block.data()), block.size(),
                                         &decoded),
                  CONSTANTS_WHOLE);
        const OwnedBuildConstants back = owned_build_constants(decoded);
        EXPECT_EQ(encode_build_constants(back), block) << given->fixed_arguments.size();
        EXPECT_EQ(back.company, given->company);
        EXPECT_EQ(back.keep_builds, given->keep_builds);
        EXPECT_EQ(back.launcher, given->launcher);
        EXPECT_EQ(decoded.record_count, 2u);
        EXPECT_FALSE(decoded.record_index_damaged);
        EXPECT_EQ(decoded.fixed_argument_count, given->fixed_arguments.size());
        EXPECT_EQ(decoded.environment_count, given->environment.size());
        EXPECT_EQ(decoded.progress_message == nullptr, given->progress_message.empty());
        // The launcher tidies a build that keeps none as one that keeps 1.
        EXPECT_EQ(decoded.remove_own_folder, given->keep_builds == std::optional<uint32_t>(0));
        EXPECT_EQ(decoded.keep_builds, given->keep_builds ? std::max<uint32_t>(*given->keep_builds, 1) : 0u);
    }
}

// How a reader takes what the packer never writes: a keep-builds count
// beyond the limit, a number of the wrong size, an index missing or damaged.
TEST(BuildConstants, DecodeTakesOddValuesAsTheLauncherDoes)
{
    std::vector<ConstantValue> texts;
    for (uint32_t key = CONSTANT_TARGET_SPEC; key <= CONSTANT_PRODUCT_VERSION; ++key)
        texts.push_back({key, constant_text(u"x")});
    auto u32 = [](uint32_t v) {
        std::string bytes(4, '\0');
        for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(v >> (8 * i));
        return bytes;
    };
    std::string broken_index = record_index_value({{u"a.exe", 1, 2}});
    broken_index[4] ^= 1;  // its CRC-32
    struct Case {
        const char *what;
        std::vector<ConstantValue> extra;
        uint32_t keep_builds, warm_check, progress;
        bool has_index, index_damaged;
    } cases[] = {
        {"nothing optional", {}, 0, WARM_CHECK_CONTENT, 0, false, false},
        {"keep builds beyond the limit",
         {{CONSTANT_KEEP_BUILDS, u32(KEEP_BUILDS_LIMIT + 1)}},
         KEEP_BUILDS_LIMIT,
         WARM_CHECK_CONTENT,
         0,
         false,
         false},
        {"numbers of 2 bytes",
         {{CONSTANT_KEEP_BUILDS, u32(5).substr(0, 2)},
          {CONSTANT_WARM_CHECK, u32(1).substr(0, 2)},
          {CONSTANT_PROGRESS, u32(1).substr(0, 2)}},
         0,
         WARM_CHECK_CONTENT,
         0,
         false,
         false},
        {"numbers as written",
         {{CONSTANT_WARM_CHECK, u32(1)}, {CONSTANT_PROGRESS, u32(7)}},
         0,
         WARM_CHECK_METADATA,
         7,
         false,
         false},
        {"a whole index",
         {{CONSTANT_RECORD_INDEX, record_index_value({{u"a.exe", 1, 2}})}},
         0,
         WARM_CHECK_CONTENT,
         0,
         true,
         false},
        {"a damaged index", {{CONSTANT_RECORD_INDEX, broken_index}}, 0, WARM_CHECK_CONTENT, 0, false, true},
    };
    for (const Case &c : cases) {
        std::vector<ConstantValue> values = texts;
        values.insert(values.end(), c.extra.begin(), c.extra.end());
        const std::string block = write_constants_block(values);
        BuildConstants d;
        ASSERT_EQ(
            decode_build_constants(reinterpret_cast<const unsigned char *>(block.data()), block.size(), &d),
            CONSTANTS_WHOLE)
            << c.what;
        EXPECT_EQ(d.keep_builds, c.keep_builds) << c.what;
        EXPECT_EQ(d.warm_check, c.warm_check) << c.what;
        EXPECT_EQ(d.progress, c.progress) << c.what;
        EXPECT_EQ(d.record_index != nullptr, c.has_index) << c.what;
        EXPECT_EQ(d.record_count, c.has_index ? 1u : 0u) << c.what;
        EXPECT_EQ(d.record_index_damaged, c.index_damaged) << c.what;
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(d.product)), u"x") << c.what;
    }
    // A damaged block decodes to nothing.
    std::string block = write_constants_block(texts);
    block[12] ^= 1;  // its CRC-32
    BuildConstants d;
    EXPECT_EQ(decode_build_constants(reinterpret_cast<const unsigned char *>(block.data()), block.size(), &d),
              CONSTANTS_CRC_MISMATCH);
    EXPECT_EQ(d.product, nullptr);
}

TEST(EnvironmentName, TheLaunchersOwnAndUnusableNamesAreRefused)
{
    struct Case {
        std::u16string name;
        const char *why;  // "" when the name is safe
    } cases[] = {
        {u"PYTHONHOME", ""},
        {u"path", ""},
        {u"ProgramFiles(x86)", ""},
        {u"with space", ""},
        {u"ZOBREL", ""},
        {u"ZOBRELX", ""},
        {u"MY_ZOBREL_X", ""},
        {u"\u00E9t\u00E9", ""},
        {std::u16string(1023, u'N'), ""},
        {u"", "empty"},
        {u"A=B", "'='"},
        {u"=C:", "'='"},
        {u"TAB\tNAME", "control character"},
        {u"DEL\x7F", "control character"},
        {u"ZOBREL_ONEFILE_PARENT", "ZOBREL_"},
        {u"zobrel_x", "ZOBREL_"},
        {u"ZOBREL_", "ZOBREL_"},
        {std::u16string(1024, u'N'), "longer than 1023"},
    };
    for (const Case &c : cases) {
        const char *why = environment_name_problem(c.name.data(), c.name.size());
        if (*c.why == 0) {
            EXPECT_EQ(why, nullptr) << why;
        } else {
            ASSERT_NE(why, nullptr) << c.why;
            EXPECT_NE(std::string(why).find(c.why), std::string::npos) << why;
        }
    }
}

TEST(Spec, UnpackDirIsForArgumentsAndEnvironmentOnly)
{
    std::vector<std::string> keys;
    EXPECT_EQ(zobrel::spec_problem(u"{UNPACK_DIR}\\bin\\{product}", &keys, zobrel::SpecUse::command), "");
    EXPECT_EQ(keys, (std::vector<std::string>{"UNPACK_DIR", "PRODUCT"}));
    EXPECT_EQ(zobrel::spec_problem(u"", nullptr, zobrel::SpecUse::command), "") << "an empty argument is one";
    std::string why = zobrel::spec_problem(u"{CACHE_DIR}\\{unpack_dir}");
    EXPECT_NE(why.find("{UNPACK_DIR} is the folder the target specification names"), std::string::npos)
        << why;
    why = zobrel::spec_problem(u"{NOPE}");
    EXPECT_EQ(why.find("UNPACK_DIR"), std::string::npos) << "not offered where it cannot be used: " << why;
    why = zobrel::spec_problem(u"{NOPE}", nullptr, zobrel::SpecUse::command);
    EXPECT_NE(why.find("UNPACK_DIR"), std::string::npos) << why;
    EXPECT_NE(zobrel::spec_problem(u"a}b", nullptr, zobrel::SpecUse::command), "");

    // The shortest expansion: product keys as they are, per-user folders as
    // a bare drive, {UNPACK_DIR} as the specification at its shortest.
    const zobrel::ProductValues values{u"ACME", u"tool", u"1-1", u"1.0.0.0", u"1"};
    EXPECT_EQ(zobrel::shortest_expansion(u"--x={PRODUCT}", values, u"C:\\a"), 8u);
    EXPECT_EQ(zobrel::shortest_expansion(u"{UNPACK_DIR}\\x", values, u"{CACHE_DIR}\\{COMPANY}\\{pid}"),
              2 + 1 + 4 + 1 + 1 + 2u);
    EXPECT_EQ(zobrel::shortest_expansion(u"{RANDOM}{TIME}", values, u"C:\\a"), 11 + 18u);
}

// {ENV:NAME} names a variable of the environment the launcher starts with:
// in fixed arguments, environment values and the progress message only,
// with a name Windows can hold that is not one of the launcher's own.
TEST(Spec, EnvironmentKeysNameAUsableVariableOutsideTheTargetSpecification)
{
    struct Case {
        std::u16string text;
        zobrel::SpecUse use;
        const char *problem;  // a part of the refusal, or null when accepted
    } cases[] = {
        {u"{UNPACK_DIR}\\bin;{ENV:PATH}", zobrel::SpecUse::command, nullptr},
        {u"{env:Path}{Env:x}", zobrel::SpecUse::command, nullptr},
        {u"{ENV:ProgramFiles(x86)}\\tool", zobrel::SpecUse::command, nullptr},
        {u"{ENV:}", zobrel::SpecUse::command, "the name is empty"},
        {u"{ENV:zobrel_unpack_dir}", zobrel::SpecUse::command, "ZOBREL_"},
        {u"{ENV:A=B}", zobrel::SpecUse::command, "'='"},
        {u"{ENV:PATH", zobrel::SpecUse::command, "not closed"},
        {u"{ENVPATH}", zobrel::SpecUse::command, "ENV:NAME"},
        {u"{CACHE_DIR}\\{ENV:USERNAME}", zobrel::SpecUse::target, "cannot choose the folder it unpacks to"},
    };
    for (const Case &c : cases) {
        const std::string why = zobrel::spec_problem(c.text, nullptr, c.use);
        if (c.problem == nullptr) {
            EXPECT_EQ(why, "");
        } else {
            EXPECT_NE(why.find(c.problem), std::string::npos) << why;
        }
    }
    // Unset, a variable gives nothing; nor is a folder's key followed by one
    // a lost backslash.
    const zobrel::ProductValues values{u"ACME", u"tool", u"1-1", u"1.0.0.0", u"1"};
    EXPECT_EQ(zobrel::shortest_expansion(u"x{ENV:PATH}y", values, u"C:\\a"), 2u);
    EXPECT_EQ(zobrel::lost_backslash_warning(u"{UNPACK_DIR}{ENV:X}"), "");
    EXPECT_NE(zobrel::lost_backslash_warning(u"{ENV:X}{UNPACK_DIR}app"), "");

    // %NAME% in a variable's value is most likely meant as {ENV:NAME}.
    struct Percent {
        std::u16string text;
        const char *named;  // the name the warning offers, or null for none
    } percents[] = {
        {u"{UNPACK_DIR};%PATH%", "{ENV:PATH}"},
        {u"100% sure; %ProgramFiles(x86)%", "{ENV:ProgramFiles(x86)}"},
        {u"50% and 60%", nullptr},
        {u"%%", nullptr},
        {u"a%b", nullptr},
    };
    for (const Percent &p : percents) {
        const std::string w = zobrel::percent_variable_warning(p.text);
        if (p.named == nullptr) {
            EXPECT_EQ(w, "");
        } else {
            EXPECT_NE(w.find(p.named), std::string::npos) << w;
        }
    }
}

TEST(Spec, DefaultSpecificationIsSafeAndSeparatesProductsAndVersions)
{
    struct Case {
        std::u16string company, product, version, spec;
    } cases[] = {
        {u"MOLTARN LLC", u"vexor", u"0.2.0-0.2.0.0", u"{CACHE_DIR}\\MOLTARN LLC\\vexor\\0.2.0-0.2.0.0"},
        {u"", u"tool", u"1-1", u"{CACHE_DIR}\\tool\\tool\\1-1"},
        {u"A/B:C", u"x{y}", u"v?*", u"{CACHE_DIR}\\A_B_C\\x_y_\\v__"},
        {u"Corp.", u"..", u"1. ", u"{CACHE_DIR}\\Corp\\_\\1"},
        {u"con", u"nul.app", u"\u00E9t\u00E9", u"{CACHE_DIR}\\_con\\_nul.app\\\u00E9t\u00E9"},
    };
    for (const Case &c : cases) {
        std::u16string spec = zobrel::default_target_spec(c.company, c.product, c.version);
        EXPECT_EQ(spec, c.spec);
        EXPECT_EQ(zobrel::spec_problem(spec), "");
    }
    EXPECT_NE(zobrel::default_target_spec(u"c", u"p", u"1"), zobrel::default_target_spec(u"c", u"p", u"2"));
    EXPECT_NE(zobrel::default_target_spec(u"c", u"p", u"1"), zobrel::default_target_spec(u"c", u"q", u"1"));
}

std::vector<zobrel::SourceFile> files_named(const std::vector<std::u16string> &names)
{
    std::vector<zobrel::SourceFile> files;
    for (const std::u16string &n : names) {
        std::string rel;
        zobrel::utf16_to_utf8(n, rel);
        std::replace(rel.begin(), rel.end(), '\\', '/');  // as scanned
        files.push_back(zobrel::SourceFile{rel, n, rel, 1});
    }
    return files;
}

const zobrel::ProductValues VALUES{u"MOLTARN LLC", u"vexor", u"0.2.0-0.2.0.0", u"0.2.0.0", u"0.2.0"};

TEST(UnpackFolder, OnlyAbsoluteFoldersThatFitTheLauncherAreAccepted)
{
    const auto app = files_named({u"app.exe", u"lib\\core.dll"});
    struct Case {
        std::u16string spec;
        const char *why;  // "" when accepted
    } cases[] = {
        {u"{CACHE_DIR}\\MOLTARN\\vexor\\0.2.0", ""},
        {u"{home}\\x", ""},
        {u"{TEMP}\\{RANDOM}", ""},
        {u"{PROGRAM_DIR}", ""},
        {u"{PROGRAM_BASE}.d\\{PID}", ""},
        {u"C:\\Apps\\{PRODUCT}", ""},
        {u"z:\\", ""},
        {u"\\\\server\\share\\{VERSION}", ""},
        {u"{COMPANY}", "absolute"},  // "MOLTARN LLC": relative
        {u"MyApp\\{VERSION}", "absolute"},
        {u"{PID}\\x", "absolute"},
        {u"{RANDOM}C:\\x", "absolute"},
        {u"\\Apps", "absolute"},    // the root of whatever drive is current
        {u"C:Apps", "absolute"},    // relative to that drive's current folder
        {u"1:\\Apps", "absolute"},  // no such drive letter
        {u"C:\\x\\{TEMP}", "{TEMP} gives a whole path"},
        {u"{CACHE_DIR}{HOME}", "{HOME} gives a whole path"},
        {u"C:\\" + std::u16string(4095 - 3 - 1 - 12, u'd'), ""},  // 4095 units with lib\core.dll
        {u"C:\\" + std::u16string(4095 - 3 - 1 - 12 + 1, u'd'), "at least 4096 UTF-16 units"},
        // Each per-user folder counts as no shorter than a bare drive.
        {u"{CACHE_DIR}\\" + std::u16string(4095 - 2 - 1 - 1 - 12, u'd'), ""},
        {u"{CACHE_DIR}\\" + std::u16string(4095 - 2 - 1 - 1 - 12 + 1, u'd'), "'lib/core.dll'"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(zobrel::spec_problem(c.spec), "");
        std::string why = zobrel::unpack_folder_problem(c.spec, VALUES, app);
        if (*c.why == '\0') {
            EXPECT_EQ(why, "") << c.spec.size();
        } else {
            EXPECT_NE(why.find(c.why), std::string::npos) << c.spec.size() << ": '" << why << "'";
        }
    }
    // A product value that makes the folder absolute is taken as it will be.
    zobrel::ProductValues rooted = VALUES;
    rooted.company = u"D:\\Corp";
    EXPECT_EQ(zobrel::unpack_folder_problem(u"{COMPANY}\\x", rooted, app), "");
}

TEST(UnpackFolder, LongPathsWithATypicalProfileAreWarnedAbout)
{
    // {CACHE_DIR} is estimated as C:\Users\ and 20 characters, then
    // \AppData\Local: 43 units. With "\x\" and a name, 43 + 3 + n units.
    const std::u16string spec = u"{CACHE_DIR}\\x";
    const size_t fits = 259 - 43 - 3;
    EXPECT_EQ(zobrel::long_path_warning(spec, VALUES, files_named({std::u16string(fits, u'n')})), "");
    std::string w =
        zobrel::long_path_warning(spec, VALUES, files_named({u"a", std::u16string(fits + 1, u'n')}));
    EXPECT_NE(w.find("about 260 UTF-16 units"), std::string::npos) << w;
    EXPECT_NE(w.find("C:\\Users\\"), std::string::npos) << w;  // says how it was estimated
    EXPECT_NE(w.find(std::string(fits + 1, 'n')), std::string::npos) << w;
    // A fixed folder is counted as it is.
    EXPECT_EQ(zobrel::long_path_warning(u"C:\\" + std::u16string(250, u'd'), VALUES, files_named({u"abcde"})),
              "");
    EXPECT_NE(
        zobrel::long_path_warning(u"C:\\" + std::u16string(250, u'd'), VALUES, files_named({u"abcdef"})), "");
}

// With --keep-builds the builds' folders must lie side by side: only the
// last folder differs, between builds or between starts; with 0, between
// starts.
TEST(KeepBuilds, OnlyTheLastFolderMayAndMustDiffer)
{
    zobrel::ProductValues split = VALUES;
    split.version = u"0.2\\beta";
    struct Case {
        std::u16string spec;
        const zobrel::ProductValues &values;
        const char *why;  // "" when accepted
        uint32_t keep = 1;
    } cases[] = {
        {u"{TEMP}\\vexor-{RANDOM}", VALUES, "", 0},
        {u"{TEMP}\\vexor\\{VERSION}-{PID}\\", VALUES, "", 0},
        {u"{CACHE_DIR}\\{COMPANY}\\{PRODUCT}\\{VERSION}", VALUES, "must differ between starts", 0},
        {u"{TEMP}\\{TIME}\\vexor", VALUES, "must differ between starts", 0},
        {u"{TEMP}\\{RANDOM}\\{PID}", VALUES, "{RANDOM} puts a difference", 0},
        {u"{TEMP}\\.zobrel-{TIME_US}", VALUES, "'.zobrel-'", 0},
        {u"{CACHE_DIR}\\{COMPANY}\\{PRODUCT}\\{VERSION}", VALUES, ""},
        {u"{CACHE_DIR}\\MOLTARN\\vexor-{file_version}", VALUES, ""},
        {u"{TEMP}\\vexor-{RANDOM}", VALUES, ""},
        {u"{TEMP}\\vexor\\{PID}-{TIME_US}\\", VALUES, ""},  // a trailing backslash names the same folder
        {u"{PROGRAM_DIR}\\.cache-{TIME}", VALUES, ""},
        {u"C:\\Apps\\{PRODUCT_VERSION}", VALUES, ""},
        {u"{CACHE_DIR}\\MOLTARN\\vexor\\0.2.0", VALUES, "last folder must differ"},
        {u"{TEMP}\\{VERSION}\\", VALUES, ""},
        {u"{TEMP}", VALUES, "last folder must differ"},
        {u"{PROGRAM_BASE}-data", VALUES, "last folder must differ"},
        {u"{CACHE_DIR}\\{VERSION}\\bin", VALUES, "last folder must differ"},
        {u"{CACHE_DIR}\\{VERSION}\\bin-{PID}", VALUES, "{VERSION} puts a difference in a folder above"},
        {u"{TEMP}\\{RANDOM}\\{VERSION}", VALUES, "{RANDOM} puts a difference"},
        {u"{TEMP}\\x\\{VERSION}", split, "{VERSION} puts a difference"},  // the value holds a backslash
        {u"{TEMP}\\.zobrel-{RANDOM}", VALUES, "'.zobrel-'"},
        {u"{TEMP}\\.ZOBREL-trash-{PID}", VALUES, "'.zobrel-'"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(zobrel::spec_problem(c.spec), "");
        std::string why = zobrel::keep_builds_problem(c.spec, c.values, c.keep);
        std::string shown;
        zobrel::utf16_to_utf8(c.spec, shown);
        if (*c.why == '\0') {
            EXPECT_EQ(why, "") << shown;
        } else {
            EXPECT_NE(why.find(c.why), std::string::npos) << shown << ": '" << why << "'";
        }
    }
}

TEST(FileVersion, FourNumbersUpTo65535)
{
    uint16_t v[4];
    ASSERT_TRUE(zobrel::parse_file_version("0.2.0.0", v));
    EXPECT_EQ(v[1], 2);
    ASSERT_TRUE(zobrel::parse_file_version("65535.1.22.333", v));
    EXPECT_EQ(v[0], 65535);
    EXPECT_EQ(v[3], 333);
    for (const char *bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.65536", "1..2.3", "a.b.c.d", "1.2.3.4 ",
                            "-1.2.3.4", "1.2.3.000001"}) {
        EXPECT_FALSE(zobrel::parse_file_version(bad, v)) << bad;
    }
}

// Reads a blob's parts with zstd's own API rather than the packer's checker.
void expect_blob_layout(const std::string &blob, const std::string &archive, bool checksum)
{
    const size_t L = blob.size();
    ASSERT_GE(L, 11u);
    EXPECT_EQ(blob.substr(0, 3), "QJY");
    EXPECT_EQ((L - 8) % 16, 0u) << "length record must start at a multiple of 16";
    uint64_t record = 0;
    for (int i = 0; i < 8; ++i) record |= uint64_t{static_cast<unsigned char>(blob[L - 8 + i])} << (8 * i);
    EXPECT_EQ(record, L - 8);
    const char *frame = blob.data() + 3;
    size_t f = ZSTD_findFrameCompressedSize(frame, L - 11);
    ASSERT_FALSE(ZSTD_isError(f));
    EXPECT_LT(L - 8 - 3 - f, 16u);
    EXPECT_EQ(blob.substr(3 + f, L - 8 - 3 - f), std::string(L - 8 - 3 - f, '\0'));
    EXPECT_EQ(ZSTD_getFrameContentSize(frame, f), ZSTD_CONTENTSIZE_UNKNOWN);
    const unsigned char descriptor = static_cast<unsigned char>(frame[4]);
    EXPECT_EQ((descriptor & 0x04) != 0, checksum);
    ASSERT_EQ(descriptor & 0x20, 0) << "expected a window descriptor";
    const unsigned exponent = static_cast<unsigned char>(frame[5]) >> 3;
    EXPECT_LE(10 + exponent, 27u);
    EXPECT_GE(uint64_t{1} << (10 + exponent), std::min<uint64_t>(archive.size(), uint64_t{1} << 27));
    // Default decoder parameters, as the launcher uses them.
    std::string out(archive.size() + 64, '\0');
    ZSTD_DCtx *d = ZSTD_createDCtx();
    ZSTD_inBuffer in{frame, f, 0};
    ZSTD_outBuffer o{&out[0], out.size(), 0};
    size_t rc = ZSTD_decompressStream(d, &o, &in);
    ZSTD_freeDCtx(d);
    ASSERT_EQ(rc, 0u) << (ZSTD_isError(rc) ? ZSTD_getErrorName(rc) : "frame not finished");
    out.resize(o.pos);
    EXPECT_TRUE(out == archive);
}

TEST(Blob, LayoutHoldsForManySizes)
{
    std::mt19937 rng(7);
    for (size_t n : {0, 1, 13, 4095, 70000, 300001}) {
        std::string content(n, '\0');
        for (char &c : content) c = static_cast<char>(rng() % 7);  // compressible but not trivially
        std::string archive = zt::make_archive({{u"m.exe", content}});
        for (bool checksum : {false, true}) {
            SCOPED_TRACE("content " + std::to_string(n) + (checksum ? " with checksum" : ""));
            std::string blob = zt::make_blob(archive, 3, checksum);
            expect_blob_layout(blob, archive, checksum);
            zobrel::BlobLayout layout;
            EXPECT_EQ(
                zobrel::check_blob(reinterpret_cast<const unsigned char *>(blob.data()), blob.size(), layout),
                "");
            EXPECT_EQ(layout.length, blob.size());
        }
    }
}

TEST(Blob, PaddingCoversEveryRemainder)
{
    // Frames of every length modulo 16 occur: incompressible content of
    // successive sizes grows the frame one byte at a time.
    std::mt19937 rng(3);
    std::set<size_t> paddings;
    for (size_t n = 100; n < 140; ++n) {
        std::string content(n, '\0');
        for (char &c : content) c = static_cast<char>(rng());
        std::string blob = zt::make_blob(zt::make_archive({{u"m", content}}), 1);
        zobrel::BlobLayout layout;
        ASSERT_EQ(
            zobrel::check_blob(reinterpret_cast<const unsigned char *>(blob.data()), blob.size(), layout),
            "");
        EXPECT_EQ((3 + layout.frame_size + layout.padding) % 16, 0u);
        paddings.insert(layout.padding);
    }
    EXPECT_EQ(paddings.size(), 16u);
}

TEST(Blob, DamagedLayoutsAreNamed)
{
    // A blob with padding, so that damaged padding is always among the cases:
    // incompressible content of successive sizes grows the frame a byte at a time.
    std::mt19937 rng(5);
    std::string good;
    zobrel::BlobLayout probe;
    for (size_t n = 5000; probe.padding == 0; ++n) {
        ASSERT_LT(n, 5032u) << "no content size gave a padded blob";
        std::string content(n, '\0');
        for (char &c : content) c = static_cast<char>(rng());
        good = zt::make_blob(zt::make_archive({{u"m.exe", content}}));
        ASSERT_EQ(
            zobrel::check_blob(reinterpret_cast<const unsigned char *>(good.data()), good.size(), probe), "");
    }
    auto with = [&](size_t at, char v) {
        std::string b = good;
        b[at] = v;
        return b;
    };
    const size_t L = good.size();
    std::string with_padding_damage = good;
    with_padding_damage[3 + probe.frame_size] = 1;
    struct Case {
        std::string blob;
        const char *why;
    } cases[] = {
        {with(0, 'q'), "QJY"},
        {with(2, 'y'), "QJY"},
        {with(L - 8, static_cast<char>(good[L - 8] + 16)), "length record"},
        {good.substr(0, L - 1), "length record"},
        {good.substr(0, 8), "only 8 bytes"},
        {with(3, 0), "no zstd frame"},
        {good.substr(0, 3) + good.substr(4), "length record"},  // a byte lost inside
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        zobrel::BlobLayout layout;
        std::string why = zobrel::check_blob(reinterpret_cast<const unsigned char *>(cases[i].blob.data()),
                                             cases[i].blob.size(), layout);
        EXPECT_NE(why.find(cases[i].why), std::string::npos) << "case " << i << " gave '" << why << "'";
    }
    zobrel::BlobLayout layout;
    EXPECT_NE(
        zobrel::check_blob(reinterpret_cast<const unsigned char *>(with_padding_damage.data()), L, layout)
            .find("padding"),
        std::string::npos);
}

struct Collect : zobrel::RecordVisitor {
    std::vector<std::pair<std::u16string, std::string>> records;
    std::vector<uint32_t> crcs;
    void begin(const zobrel::RecordHeader &h) override { records.push_back({h.name, ""}); }
    void content(const unsigned char *p, size_t n) override
    {
        records.back().second.append(reinterpret_cast<const char *>(p), n);
    }
    void end(const zobrel::RecordHeader &, uint32_t crc) override { crcs.push_back(crc); }
};

uint64_t read_back(const std::string &archive, Collect &c)
{
    std::string blob = zt::make_blob(archive);
    zobrel::BlobLayout layout;
    EXPECT_EQ(zobrel::check_blob(reinterpret_cast<const unsigned char *>(blob.data()), blob.size(), layout),
              "");
    zobrel::FrameReader reader(reinterpret_cast<const unsigned char *>(blob.data()) + 3, layout.frame_size);
    return zobrel::read_archive(reader, c);
}

TEST(ArchiveReader, ReadsRecordsBackAcrossWindowBoundaries)
{
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    const std::vector<std::pair<std::u16string, std::string>> records = {
        {u"main.exe", big}, {u"a\\\u00E9.txt", ""}, {u"b", std::string("\x9d\x0a\xd9\x6d", 4)}, {u"c", "x"}};
    Collect c;
    EXPECT_EQ(read_back(zt::make_archive(records), c), 4u);
    EXPECT_EQ(c.records, records);
    EXPECT_EQ(c.crcs[2], 0u);
}

TEST(ArchiveReader, MalformedArchivesAreRefused)
{
    const std::string one = zt::make_archive({{u"m", "hello"}});
    struct Case {
        std::string archive;
        const char *why;
    } cases[] = {
        {one.substr(0, one.size() - 2), "inside a record's name"},     // no end marker
        {one.substr(0, 10), "inside a record's size"},                 // cut in the size
        {one.substr(0, one.size() - 4), "inside a record's content"},  // cut in the content
        {one + "xx", "follows the archive's end marker"},
        {zt::make_archive({{std::u16string(1024, u'n'), ""}}), "longer than 1023"},
    };
    for (const Case &c : cases) {
        Collect sink;
        try {
            read_back(c.archive, sink);
            ADD_FAILURE() << "accepted an archive that should fail with: " << c.why;
        } catch (const zobrel::PackError &e) {
            EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << e.what();
        }
    }
}

TEST(ArchiveWriter, EveryRecordHoldsExactlyItsSizeInContent)
{
    // Misuse that would write an archive no reader can follow.
    struct Case {
        const char *what;
        std::function<void(ArchiveWriter &)> use;
    } cases[] = {
        {"content past the size",
         [](ArchiveWriter &w) {
             w.begin_record(u"a", 1, 0);
             w.content("xy", 2);
         }},
        {"the next record inside the content",
         [](ArchiveWriter &w) {
             w.begin_record(u"a", 2, 0);
             w.content("x", 1);
             w.begin_record(u"b", 0, 0);
         }},
        {"the end marker inside the content",
         [](ArchiveWriter &w) {
             w.begin_record(u"a", 2, 0);
             w.content("x", 1);
             w.finish();
         }},
    };
    for (const Case &c : cases) {
        ArchiveWriter w([](const void *, size_t) {});
        EXPECT_THROW(c.use(w), std::logic_error) << c.what;
    }
    // Content in pieces makes the same archive as content whole, and the
    // index lists what was written.
    std::string pieces;
    ArchiveWriter w([&](const void *p, size_t n) { pieces.append(static_cast<const char *>(p), n); });
    w.begin_record(u"m.exe", 3, 7);
    w.content("ab", 2);
    w.content("c", 1);
    w.begin_record(u"e", 0, 1);
    const std::vector<IndexEntry> index = w.finish();
    EXPECT_EQ(pieces, archive_bytes({{u"m.exe", "abc", 7u}, {u"e", "", std::nullopt}}));
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[0].name, u"m.exe");
    EXPECT_EQ(index[0].size, 3u);
    EXPECT_EQ(index[0].stored_checksum, 7u);
    EXPECT_EQ(index[1].stored_checksum, 1u);
}

TEST(PeSections, TheFinderChecksEveryOffsetAndTakesTheFirstOfAName)
{
    const std::string pe =
        zt::make_pe(0x8664, 3, {{".text", "code"}, {".zobrel", "first"}, {".zobrel", "second"}});
    auto find = [](const std::string &bytes, const char *name, PeFileSection *s) {
        return find_pe_section(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), name, s);
    };
    PeFileSection s;
    ASSERT_TRUE(find(pe, ".zobrel", &s));
    EXPECT_EQ(pe.substr(s.header.raw_offset, s.header.virtual_size), "first");
    EXPECT_EQ(pe.compare(s.header_offset, 8, std::string(".zobrel\0", 8)), 0);
    EXPECT_TRUE(pe_section_contents_fit(s, pe.size()));
    EXPECT_FALSE(pe_section_contents_fit(s, s.header.raw_offset + 4)) << "the file ends inside the section";
    PeFileSection longer = s;
    longer.header.virtual_size = longer.header.raw_size + 1;
    EXPECT_FALSE(pe_section_contents_fit(longer, pe.size())) << "more in memory than in the file";

    const size_t table_end = 0x40 + 24 + 240 + 3 * PE_SECTION_HEADER_SIZE;  // as make_pe lays it out
    std::string no_signature = pe;
    no_signature[0x41] = 'X';
    std::string far_header = pe;
    far_header[0x3F] = 0x7F;
    struct Case {
        const char *what;
        std::string bytes;
        const char *name;
    } refused[] = {
        {"no such section", pe, ".zobinfo"},
        {"a longer name", pe, ".zobrelx"},
        {"the section table cut short", pe.substr(0, table_end - 1), ".zobrel"},
        {"no PE signature", no_signature, ".zobrel"},
        {"a DOS header pointing past the end", far_header, ".zobrel"},
        {"shorter than a DOS header", pe.substr(0, 0x3F), ".zobrel"},
    };
    for (const Case &c : refused) {
        PeFileSection none;
        EXPECT_FALSE(find(c.bytes, c.name, &none)) << c.what;
    }
    ASSERT_TRUE(find(pe.substr(0, table_end), ".zobrel", &s)) << "the table alone is enough to find it";
}

// A state file laid out by hand, field by field, with zlib's CRC-32: what
// the launcher writes must stay exactly this, or every existing state file
// stops matching.
std::vector<unsigned char> hand_made_state(const std::vector<StateFileEntry> &entries, uint32_t index_crc)
{
    std::vector<unsigned char> bytes = {'Z', 'O', 'B', 'S', 'T', 'A', 'T', '1'};
    auto put = [&bytes](uint64_t value, int size) {
        for (int i = 0; i < size; i++) {
            bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
        }
    };
    put(entries.size(), 4);
    put(index_crc, 4);
    for (const StateFileEntry &e : entries) {
        put(e.size, 8);
        put(e.write_time, 8);
        put(e.file_id, 8);
        put(e.volume, 4);
    }
    put(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())), 4);
    return bytes;
}

std::vector<unsigned char> written_state(const std::vector<StateFileEntry> &entries, uint32_t index_crc)
{
    const uint32_t count = static_cast<uint32_t>(entries.size());
    std::vector<unsigned char> bytes(state_file_size(count), 0xCC);
    for (uint32_t i = 0; i < count; i++) {
        put_state_file_entry(bytes.data(), i, entries[i]);
    }
    seal_state_file(bytes.data(), count, index_crc);
    return bytes;
}

TEST(StateFile, WrittenAsLaidOutAndReadBack)
{
    const std::vector<std::vector<StateFileEntry>> cases = {
        {},
        {{0, 0, 0, 0}},
        {{12345, 0x01DA2B3C4D5E6F70ull, 0x0005000000001234ull, 0x9ABCDEF0u},
         {0xFFFFFFFFFFFFFFFFull, 1, 0x8000000000000000ull, 0xFFFFFFFFu},
         {7, 2, 3, 4}},
    };
    for (const auto &entries : cases) {
        const std::vector<unsigned char> bytes = written_state(entries, 0xA1B2C3D4u);
        ASSERT_EQ(bytes, hand_made_state(entries, 0xA1B2C3D4u)) << entries.size() << " entries";
        StateFileView view;
        ASSERT_TRUE(check_state_file(bytes.data(), bytes.size(), &view));
        EXPECT_EQ(view.record_count, entries.size());
        EXPECT_EQ(view.index_crc, 0xA1B2C3D4u);
        for (uint32_t i = 0; i < entries.size(); i++) {
            const StateFileEntry read = state_file_entry(view, i);
            EXPECT_EQ(read.size, entries[i].size);
            EXPECT_EQ(read.write_time, entries[i].write_time);
            EXPECT_EQ(read.file_id, entries[i].file_id);
            EXPECT_EQ(read.volume, entries[i].volume);
        }
    }
}

TEST(StateFile, DamagedOrForeignFilesAreRefused)
{
    const std::vector<unsigned char> good = written_state({{10, 20, 30, 40}, {50, 60, 70, 80}}, 0x11223344u);
    // A count changed with the CRC-32 made to match: only the size can tell.
    auto with_count = [&good](uint32_t count) {
        std::vector<unsigned char> bytes = good;
        for (int i = 0; i < 4; i++) {
            bytes[8 + i] = static_cast<unsigned char>(count >> (8 * i));
        }
        const uLong crc = crc32(0, bytes.data(), static_cast<uInt>(bytes.size() - 4));
        for (int i = 0; i < 4; i++) {
            bytes[bytes.size() - 4 + i] = static_cast<unsigned char>(crc >> (8 * i));
        }
        return bytes;
    };
    auto flipped = [&good](size_t at) {
        std::vector<unsigned char> bytes = good;
        bytes[at] ^= 0x01;
        return bytes;
    };
    std::vector<unsigned char> longer = good;
    longer.push_back(0);
    struct Case {
        const char *what;
        std::vector<unsigned char> bytes;
    };
    const Case refused[] = {
        {"empty", {}},
        {"the header alone", std::vector<unsigned char>(good.begin(), good.begin() + 16)},
        {"cut by one byte", std::vector<unsigned char>(good.begin(), good.end() - 1)},
        {"one byte more", longer},
        {"another magic", flipped(7)},
        {"an entry damaged", flipped(16 + 28 + 5)},
        {"the index CRC damaged", flipped(12)},
        {"its own CRC damaged", flipped(good.size() - 1)},
        {"a count one more than the entries", with_count(3)},
        {"a count one less than the entries", with_count(1)},
        {"a count whose size wraps round to the right one in 32 bits", with_count(0x40000002u)},
    };
    for (const Case &c : refused) {
        StateFileView view;
        view.record_count = 99;
        EXPECT_FALSE(check_state_file(c.bytes.data(), c.bytes.size(), &view)) << c.what;
        EXPECT_EQ(view.record_count, 0u) << c.what;
        EXPECT_EQ(view.entries, nullptr) << c.what;
    }
}

TEST(Scan, MainFirstThenByteWiseOrderAndLinksInsideFollowed)
{
    TempDir t;
    const auto app = t / "app";
    for (const char *f : {"b.dll", "Z.txt", "a/x", "a b/y", "bin/tool.exe", "\xC3\xA9.dat"})
        write_file(app / f, f);
    fs::create_symlink("b.dll", app / "link.dll");
    fs::create_directory_symlink("a", app / "linkdir");
    zobrel::ScanResult r = zobrel::scan_app_dir(app, "./bin/../bin/tool.exe");
    std::vector<std::string> rels;
    for (const auto &f : r.files) rels.push_back(f.rel);
    EXPECT_EQ(rels, (std::vector<std::string>{"bin/tool.exe", "Z.txt", "a b/y", "a/x", "b.dll", "link.dll",
                                              "linkdir/x", "\xC3\xA9.dat"}));
    EXPECT_EQ(r.files[0].name, u"bin\\tool.exe");
    EXPECT_EQ(r.files[7].name, u"\u00E9.dat");
    EXPECT_TRUE(r.warnings.empty());
}

TEST(Icon, OnlyWellFormedIconFilesPass)
{
    auto ico = [](uint16_t reserved, uint16_t type, uint16_t count, uint32_t size, uint32_t offset,
                  const std::string &image) {
        std::string s(6 + 16 * count, '\0');
        auto put = [&](size_t at, uint32_t v, int n) {
            for (int i = 0; i < n; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
        };
        put(0, reserved, 2);
        put(2, type, 2);
        put(4, count, 2);
        if (count) {
            put(6 + 8, size, 4);
            put(6 + 12, offset, 4);
        }
        return s + image;
    };
    std::string bmp(40 + 64, '\0');
    bmp[0] = 40;
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(32, 'p');
    struct Case {
        std::string data;
        const char *why;
    } cases[] = {
        {ico(0, 1, 1, static_cast<uint32_t>(bmp.size()), 22, bmp), ""},
        {ico(0, 1, 1, static_cast<uint32_t>(png.size()), 22, png), ""},
        {ico(0, 2, 1, static_cast<uint32_t>(bmp.size()), 22, bmp), "icon directory"},  // a cursor
        {ico(1, 1, 1, static_cast<uint32_t>(bmp.size()), 22, bmp), "icon directory"},
        {ico(0, 1, 0, 0, 0, ""), "no images"},
        {ico(0, 1, 1, static_cast<uint32_t>(bmp.size()) + 1, 22, bmp), "outside the file"},
        {ico(0, 1, 1, 40, 22, std::string(40, 'z')), "neither a PNG nor a bitmap"},
        {"GIF89a", "icon directory"},
    };
    for (const Case &c : cases) {
        std::string why = zobrel::icon_problem(c.data);
        if (*c.why == 0) {
            EXPECT_EQ(why, "");
        } else {
            EXPECT_NE(why.find(c.why), std::string::npos) << "got '" << why << "'";
        }
    }
}

// --exclude: .gitignore's meaning for what fits. Each case: the patterns, a
// path (a folder when it ends in '/') and whether it is left out.
TEST(Exclude, PatternsMatchAsInGitignoreWithTheNameRule)
{
    struct Case {
        std::vector<std::string> patterns;
        std::string path;
        bool excluded;
    } cases[] = {
        // A name alone matches at any depth, files and folders alike.
        {{"*.pdb"}, "app.pdb", true},
        {{"*.pdb"}, "lib/deep/core.pdb", true},
        {{"*.pdb"}, "lib/core.pdbx", false},
        {{"cache"}, "a/b/cache/", true},
        {{"cache"}, "a/b/cache", true},
        // Letters by the name rule: case pairs are one, beyond ASCII too.
        {{"*.PDB"}, "Lib/Core.pdb", true},
        {{"\xC3\x89T\xC3\x89.txt"}, "docs/\xC3\xA9t\xC3\xA9.TXT", true},  // ÉTÉ.txt, été.TXT
        {{"stra\xC3\x9F"
          "e"},
         "STRASSE",
         false},  // ß is not ss
        // '?' is one character, a pair of surrogates included; '*' stops at a separator.
        {{"?.txt"}, "a.txt", true},
        {{"?.txt"}, "ab.txt", false},
        {{"?.txt"}, "\xF0\x9F\x98\x80.txt", true},
        {{"docs/*.md"}, "docs/a.md", true},
        {{"docs/*.md"}, "docs/sub/a.md", false},
        {{"d*s/a.md"}, "do/cs/a.md", false},
        // A separator at the start or in the middle ties the pattern to the top.
        {{"/setup.exe"}, "setup.exe", true},
        {{"/setup.exe"}, "bin/setup.exe", false},
        {{"docs/*.md"}, "x/docs/a.md", false},
        // '\' is a separator as '/' is, in patterns and in paths.
        {{"docs\\*.md"}, "docs/a.md", true},
        {{"\\setup.exe"}, "setup.exe", true},
        {{"*.md"}, "docs\\a.md", true},
        // "**": any number of levels; at the end, what is inside only.
        {{"**/test"}, "test/", true},
        {{"**/test"}, "a/b/test/", true},
        {{"a/**/b"}, "a/b", true},
        {{"a/**/b"}, "a/x/y/b", true},
        {{"a/**/b"}, "x/a/b", false},
        {{"a/**"}, "a/x", true},
        {{"a/**"}, "a/", false},
        {{"a**b"}, "axxb", true},  // not a level of its own: two plain stars
        // A final separator: folders only.
        {{"build/"}, "build/", true},
        {{"build/"}, "build", false},
        {{"build/"}, "x/build/", true},
        // '!' takes back; the last pattern that matches decides.
        {{"*.txt", "!keep.txt"}, "keep.txt", false},
        {{"*.txt", "!keep.txt"}, "drop.txt", true},
        {{"!keep.txt", "*.txt"}, "keep.txt", true},
        {{"a/**", "!a/keep"}, "a/keep", false},
        {{}, "anything", false},
    };
    for (const Case &c : cases) {
        std::string shown;
        for (const std::string &p : c.patterns) shown += p + " ";
        SCOPED_TRACE(shown + "on " + c.path);
        zobrel::Exclusions exclusions(c.patterns);
        const bool folder = c.path.back() == '/';
        std::u16string path;
        ASSERT_TRUE(zobrel::utf8_to_utf16(folder ? c.path.substr(0, c.path.size() - 1) : c.path, path));
        EXPECT_EQ(exclusions.excludes(path, folder), c.excluded);
    }
}

// Which pattern leaves the main program out, itself or a folder it lies in,
// as --exclude's refusal names it; patterns that never matched; patterns
// that could never match anything inside the folder.
TEST(Exclude, TheMainProgramsExcluderUnusedPatternsAndRefusals)
{
    zobrel::Exclusions exclusions({"*.pdb", "bin/", "!bin/tool.exe", "docs/**", "nothing-here"});
    EXPECT_EQ(exclusions.excluding_pattern("bin/tool.exe"), "bin/") << "a folder left out is never read";
    EXPECT_EQ(exclusions.excluding_pattern("bin\\tool.exe"), "bin/");
    EXPECT_EQ(exclusions.excluding_pattern("tool.pdb"), "*.pdb");
    EXPECT_EQ(exclusions.excluding_pattern("docs/x/app.exe"), "docs/**");
    EXPECT_EQ(exclusions.excluding_pattern("app.exe"), "");
    EXPECT_EQ(exclusions.unused().size(), 5u) << "excluding_pattern notes nothing";
    EXPECT_TRUE(exclusions.excludes(u"a.pdb", false));
    EXPECT_FALSE(exclusions.excludes(u"docs", true));
    EXPECT_EQ(exclusions.unused(),
              (std::vector<std::string>{"bin/", "!bin/tool.exe", "docs/**", "nothing-here"}));

    for (const char *bad : {"", "/", "\\\\", "!", "../x", "a/./b", "a\\..", "\xFF"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(zobrel::Exclusions({bad}), zobrel::UsageError);
    }
}

TEST(Exclude, ScanNeitherCarriesNorChecksWhatIsLeftOut)
{
    TempDir t;
    const auto app = t / "app";
    for (const char *f : {"main.exe", "a.pdb", "lib/b.pdb", "lib/c.dll", "cache/x/bad:name", "keep.txt"})
        write_file(app / f, f);
    fs::create_symlink("/nowhere", app / "cache" / "dangling");
    fs::create_symlink("/etc/hostname", app / "outside.pdb");
    zobrel::Exclusions exclusions({"*.pdb", "cache/"});
    zobrel::ScanResult r = zobrel::scan_app_dir(app, "main.exe", {}, &exclusions);
    std::vector<std::string> rels;
    for (const auto &f : r.files) rels.push_back(f.rel);
    EXPECT_EQ(rels, (std::vector<std::string>{"main.exe", "keep.txt", "lib/c.dll"}));
    EXPECT_TRUE(exclusions.unused().empty());
    // Without the exclusions every one of them is refused, in one run.
    try {
        zobrel::scan_app_dir(app, "main.exe");
        ADD_FAILURE() << "the folder was accepted";
    } catch (const zobrel::PackError &e) {
        const std::string message = e.what();
        for (const char *named : {"bad:name", "dangling", "outside.pdb"})
            EXPECT_NE(message.find(named), std::string::npos) << named << " in: " << message;
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 2) << message;
    }
}

TEST(NameClash, EveryClashIsFoundNotOnlyTheFirst)
{
    const std::vector<std::u16string> names = {u"m.exe", u"a.txt",      u"A.TXT", u"b\\x",
                                               u"B",     u"c\\d\\e",    u"C\\D",  u"\u0101.txt",
                                               u"z",     u"\u0100.TXT", u"a.Txt"};
    const std::vector<NameClash> clashes = zobrel::find_clashes(names);
    std::set<std::pair<std::u16string, std::u16string>> found;
    for (const NameClash &c : clashes) {
        if (c.kind == NAME_CLASH_SAME_FILE) {
            EXPECT_LT(c.first, c.second);
        }
        found.insert({names[c.first], names[c.second]});
    }
    EXPECT_EQ(found.size(), clashes.size());
    EXPECT_EQ(found, (std::set<std::pair<std::u16string, std::u16string>>{{u"a.txt", u"A.TXT"},
                                                                          {u"A.TXT", u"a.Txt"},
                                                                          {u"B", u"b\\x"},
                                                                          {u"C\\D", u"c\\d\\e"},
                                                                          {u"\u0101.txt", u"\u0100.TXT"}}));
    EXPECT_TRUE(zobrel::find_clashes({u"a", u"a.b", u"ab\\c", u"a b"}).empty());
    EXPECT_EQ(zobrel::find_clash(names).kind, clashes.front().kind) << "the same search";
}

// A folder key run into the name after it: most likely a backslash the shell
// took. Each value is checked as --arg/--env/--target-spec values are.
TEST(Spec, FolderKeysRunIntoANameAreWarnedAbout)
{
    struct Case {
        std::u16string text;
        const char *warning;  // "" for none
    } cases[] = {
        {u"{UNPACK_DIR}appmain.py", "'a' follows {UNPACK_DIR}"},
        {u"{unpack_dir}app", "'a' follows {UNPACK_DIR}"},
        {u"{TEMP}7za", "'7' follows {TEMP}"},
        {u"{HOME}\u00e9t\u00e9", "follows {HOME}"},
        {u"{CACHE_DIR}MyApp\\x", "'M' follows {CACHE_DIR}"},
        {u"{PROGRAM_DIR}data", "'d' follows {PROGRAM_DIR}"},
        {u"--x={TEMP}\\ok;{UNPACK_DIR}bin", "'b' follows {UNPACK_DIR}"},
        {u"{UNPACK_DIR}\\app\\main.py", ""},
        {u"{UNPACK_DIR}", ""},
        {u"{UNPACK_DIR};{TEMP}", ""},
        {u"{TEMP}.d", ""},
        {u"{UNPACK_DIR}{PRODUCT}", ""},
        {u"{PROGRAM_BASE}data", ""},  // not a folder: the launcher's path without .exe
        {u"{PROGRAM}x", ""},
        {u"{PRODUCT}app", ""},
        {u"x{PID}y", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
        ASSERT_EQ(zobrel::spec_problem(c.text, nullptr, zobrel::SpecUse::command), "");
        const std::string warning = zobrel::lost_backslash_warning(c.text);
        if (*c.warning == 0) {
            EXPECT_EQ(warning, "");
        } else {
            EXPECT_NE(warning.find(c.warning), std::string::npos) << warning;
            EXPECT_NE(warning.find("backslash"), std::string::npos) << warning;
        }
    }
}

TEST(Text, NearestWordIsTheLikeliestMeantOrNone)
{
    const std::vector<std::string> options = {
        "--main",     "--level", "--icon", "--icon-from-main", "--exclude", "--product", "--product-version",
        "--progress", "-o"};
    struct Case {
        const char *typed, *meant;
    } cases[] = {
        {"--levle", "--level"},  // two letters swapped
        {"--lvel", "--level"},
        {"--exlude", "--exclude"},
        {"--icon-from-man", "--icon-from-main"},
        {"--product-versoin", "--product-version"},
        {"--icon-f", "--icon-from-main"},  // begins only that one
        {"--pro", ""},                     // begins three
        {"--frobnicate", ""},
        {"-x", ""},
        {"--mian", "--main"},
    };
    for (const Case &c : cases) EXPECT_EQ(zobrel::nearest_word(c.typed, options), c.meant) << c.typed;
}

// The version resource's strings read back as info reads them, and a
// resource cut anywhere or with lengths that lie read without a fault.
TEST(Resources, VersionStringsReadBackAndDamageReadsNothingOutside)
{
    zobrel::ProductInfo info;
    info.company = u"MOLTARN";
    info.product = u"vexor";
    info.file_version = u"1.2.3.4";
    const std::map<std::u16string, std::u16string> plain =
        zobrel::version_strings(zobrel::make_version_resource(info));
    EXPECT_EQ(plain.at(u"FileDescription"), u"vexor.exe");
    EXPECT_EQ(plain.count(u"LegalCopyright"), 0u);
    info.description = u"Vexor, the \u00e9ditor";
    info.copyright = u"\u00a9 2026 MOLTARN";
    const std::string resource = zobrel::make_version_resource(info);
    const std::map<std::u16string, std::u16string> strings = zobrel::version_strings(resource);
    EXPECT_EQ(strings,
              (std::map<std::u16string, std::u16string>{{u"CompanyName", u"MOLTARN"},
                                                        {u"FileDescription", u"Vexor, the \u00e9ditor"},
                                                        {u"FileVersion", u"1.2.3.4"},
                                                        {u"InternalName", u"vexor"},
                                                        {u"LegalCopyright", u"\u00a9 2026 MOLTARN"},
                                                        {u"OriginalFilename", u"vexor.exe"},
                                                        {u"ProductName", u"vexor"},
                                                        {u"ProductVersion", u"1.2.3.4"}}));
    for (size_t cut = 0; cut < resource.size(); ++cut) zobrel::version_strings(resource.substr(0, cut));
    for (size_t at = 0; at + 1 < resource.size(); at += 2) {
        std::string lying = resource;
        lying[at] = '\xFF';
        lying[at + 1] = '\xFF';
        zobrel::version_strings(lying);
    }
    // Every length is 16 bits: a resource that would not fit is refused, not cut.
    info.copyright = std::u16string(40000, u'c');
    EXPECT_THROW(zobrel::make_version_resource(info), zobrel::PackError);
}

// The main program's first icon group as --icon-from-main reads it: whole
// when every image it names is there, and otherwise nothing, with why.
TEST(Resources, FirstIconGroupIsWholeOrNothing)
{
    zobrel::ProductInfo info;
    info.product = u"p";
    info.file_version = u"1.0.0.0";
    auto directory = [](std::vector<uint16_t> ids, size_t cut = 0) {
        std::string d("\0\0\1\0", 4);
        d.push_back(static_cast<char>(ids.size()));
        d.push_back('\0');
        for (uint16_t id : ids) {
            d += std::string("\x10\x10\0\0\1\0\x20\0\x08\0\0\0", 12);
            d.push_back(static_cast<char>(id & 0xFF));
            d.push_back(static_cast<char>(id >> 8));
        }
        return d.substr(0, d.size() - cut);
    };
    struct Case {
        const char *what;
        zobrel::IconGroup icon;
        const char *why;  // "" when it reads back whole
    } cases[] = {
        {"two images at ids of their own",
         {directory({7, 300}), {{7, "seven..."}, {300, "three hundred"}}},
         ""},
        {"an image named twice", {directory({5, 5}), {{5, "five...."}}}, ""},
        {"an image it names is missing", {directory({7, 8}), {{7, "seven..."}}}, "(id 8) it does not hold"},
        {"a directory cut short", {directory({7}, 1), {{7, "seven..."}}}, "damaged"},
        {"no icon at all", {}, "has no icon"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        zobrel::ResourceSection section;
        section.rva = 0x31000;
        section.bytes =
            zobrel::make_resource_section(section.rva, info, c.icon, zobrel::ExecutionLevel::as_invoker);
        std::string why;
        const std::optional<zobrel::IconGroup> read = zobrel::first_icon_group(section, &why);
        if (*c.why == 0) {
            ASSERT_TRUE(read.has_value()) << why;
            EXPECT_EQ(read->directory, c.icon.directory);
            EXPECT_EQ(read->images, c.icon.images);
        } else {
            EXPECT_FALSE(read.has_value());
            EXPECT_NE(why.find(c.why), std::string::npos) << why;
        }
    }
}

}  // namespace
