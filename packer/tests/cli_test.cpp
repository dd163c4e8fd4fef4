// cli_test.cpp: zobrel-pack run as a process: round trips, the built image,
// determinism, refusals, damaged payloads and hostile archives.
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "archive/blob_reader.h"
#include "build_constants.h"
#include "build_constants_writer.h"
#include "base/error.h"
#include "image/packed_image.h"
#include "image/pe_reader.h"
#include "image/resources.h"
#include "little_endian.h"
#include "payload_writer.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using zt::PackRun;
using zt::read_file;
using zt::run_pack;
using zt::TempDir;
using zt::write_file;

std::string u16le(const std::u16string &s)
{
    std::string out;
    for (char16_t c : s) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

bool contains(const std::string &hay, const std::string &needle)
{
    return hay.find(needle) != std::string::npos;
}

std::string pseudo_random(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        s[i] = static_cast<char>(seed >> 16);
    }
    return s;
}

// The application folder most tests pack. Files are created in the given
// order, so two copies made in opposite orders differ on disk only in that.
std::map<std::string, std::string> app_files()
{
    return {
        {"main.exe", zt::make_pe(0x8664, 3) + pseudo_random(3000, 1)},
        {"lib/core.dll", zt::make_pe(0x8664, 3) + pseudo_random(5000, 2)},
        {"lib/deep/er/data.bin", pseudo_random(200000, 3) + std::string(100000, 'z')},
        {"empty.txt", ""},
        {"crc zero.bin", std::string("\x9d\x0a\xd9\x6d", 4)},
        {"names/caf\xC3\xA9 \xC3\xBCn\xC3\xAF \xE4\xB8\xAD\xE6\x96\x87.txt", "text"},
        {"names/with space.txt", "spaced"},
    };
}

void make_app(const fs::path &dir, bool reverse = false)
{
    auto files = app_files();
    std::vector<std::pair<std::string, std::string>> order(files.begin(), files.end());
    if (reverse) std::reverse(order.begin(), order.end());
    for (const auto &[rel, bytes] : order) write_file(dir / rel, bytes);
    fs::create_directories(dir / "emptydir");
}

std::map<std::string, std::string> tree(const fs::path &dir)
{
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
        if (it->is_regular_file())
            out[fs::relative(it->path(), dir).generic_string()] = read_file(it->path());
    }
    return out;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(t_ / "tmp"); }

    std::vector<std::string> build_args(const fs::path &app, const fs::path &out,
                                        const std::string &main = "main.exe")
    {
        return {"build", app.string(), "--main", main, "-o", out.string(), "--level", "3"};
    }

    PackRun build(const fs::path &app, const fs::path &out, std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = build_args(app, out);
        args.insert(args.end(), extra.begin(), extra.end());
        return run_pack(args, {"TMPDIR=" + (t_ / "tmp").string()});
    }

    // The payload section of a built executable and where it starts in the file.
    std::pair<std::string, uint64_t> payload_of(const fs::path &exe)
    {
        zobrel::PeImage image;
        EXPECT_EQ(zobrel::read_pe_headers(exe, image), "");
        for (const auto &s : image.sections) {
            if (s.name == ".zobrel")
                return {read_file(exe).substr(s.raw_offset, s.virtual_size), s.raw_offset};
        }
        ADD_FAILURE() << "no .zobrel section in " << exe;
        return {"", 0};
    }

    TempDir t_;
};

TEST(Help, EveryCommandHasHelp)
{
    for (const char *cmd : {"build", "list", "verify", "info", "extract"}) {
        PackRun r = run_pack({cmd, "--help"});
        EXPECT_EQ(r.status, 0) << cmd;
        EXPECT_TRUE(contains(r.out, std::string("zobrel-pack ") + cmd + " [OPTIONS]")) << r.out;
    }
    PackRun top = run_pack({"--help"});
    EXPECT_EQ(top.status, 0);
    for (const char *cmd : {"build", "list", "verify", "info", "extract"})
        EXPECT_TRUE(contains(top.out, cmd)) << top.out;
    // The version, and the launchers this packer carries.
    const bool arm64 =
        zobrel::carried_launcher(zobrel::LauncherArch::arm64, zobrel::LauncherSubsystem::console);
    PackRun version = run_pack({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("zobrel-pack " ZOBREL_PACK_VERSION "\nlaunchers: ") +
                               (arm64 ? "x64, arm64" : "x64 only (built without ARM64)") + "\n");
    struct Misuse {
        std::vector<std::string> args;
        const char *message;
    } misuses[] = {
        {{"frobnicate"}, "frobnicate"},
        {{}, "Usage"},
        {{"--version", "extra"}, "'extra'"},
        {{"build", "app", "--main"}, "--main"},
        {{"build", "app", "--main", "m.exe"}, "--output"},
        {{"build", "app", "--main", "m.exe", "-o", "x.exe", "--frobnicate"},
         "unknown option '--frobnicate'\n"},
        // An unknown option names itself and the nearest known one, whatever follows it.
        {{"build", "app", "--main", "m.exe", "-o", "x.exe", "--levle", "3"},
         "build unknown option '--levle'; did you mean '--level'?\n(see 'zobrel-pack build --help')"},
        {{"build", "app", "--levle=3", "--main", "m.exe"}, "did you mean '--level'?"},
        {{"build", "app", "--exlude", "*.pdb"}, "unknown option '--exlude'; did you mean '--exclude'?"},
        {{"build", "app", "-x"}, "unknown option '-x'\n"},
        // A short option that is not one means the one long option of its letter, if only one.
        {{"build", "app", "-q"}, "build unknown option '-q'; did you mean '--quiet'?\n"},
        {{"build", "app", "-l"}, "unknown option '-l'\n"},
        {{"info", "-j", "a.exe"}, "info unknown option '-j'; did you mean '--json'?\n"},
        {{"info", "--jsno", "a.exe"}, "info unknown option '--jsno'; did you mean '--json'?"},
        {{"--verison"}, "unknown option '--verison'; did you mean '--version'?"},
        {{"biuld"}, "unknown command 'biuld'; did you mean 'build'?"},
        {{"build", "app", "--main", "m.exe", "-o", "x.exe", "--level=0"}, "--level"},
        {{"build", "app", "--main", "m.exe", "-o", "x.exe", "--check", "size"}, "--check"},
        {{"build", "app", "--main", "m.exe", "-o", "x.exe", "--launcher-arch", "arm"}, "--launcher-arch"},
        {{"list"}, "OUT.exe"},
        {{"info"}, "OUT.exe"},
        {{"extract", "a.exe"}, "DIR"},
    };
    for (const Misuse &m : misuses) {
        PackRun r = run_pack(m.args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_TRUE(contains(r.err, m.message)) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(Cli, BuildListVerifyExtractRoundTrip)
{
    make_app(t_ / "app");
    const fs::path exe = t_ / "out" / "app.exe";
    fs::create_directories(t_ / "out");
    PackRun b = build(t_ / "app", exe);
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_TRUE(contains(b.err, "emptydir")) << "empty folders are reported: " << b.err;
    EXPECT_TRUE(contains(b.err, "7 files")) << b.err;

    PackRun l = run_pack({"list", exe.string()});
    ASSERT_EQ(l.status, 0) << l.err;
    std::vector<std::string> names;
    std::map<std::string, std::string> crc_of;
    std::istringstream lines(l.out);
    for (std::string size, crc, rest; lines >> size >> crc && std::getline(lines, rest);) {
        names.push_back(rest.substr(2));
        crc_of[rest.substr(2)] = crc;
    }
    EXPECT_EQ(names, (std::vector<std::string>{
                         "main.exe", "crc zero.bin", "empty.txt", "lib\\core.dll", "lib\\deep\\er\\data.bin",
                         "names\\caf\xC3\xA9 \xC3\xBCn\xC3\xAF \xE4\xB8\xAD\xE6\x96\x87.txt",
                         "names\\with space.txt"}));
    // Content with CRC-32 0 must not be stored as 0: the launcher would never write it.
    EXPECT_EQ(crc_of["empty.txt"], "00000001");
    EXPECT_EQ(crc_of["crc zero.bin"], "00000001");
    char text_crc[9];
    std::snprintf(text_crc, sizeof text_crc, "%08lx", crc32(0, reinterpret_cast<const Bytef *>("spaced"), 6));
    EXPECT_EQ(crc_of["names\\with space.txt"], text_crc);

    PackRun v = run_pack({"verify", exe.string()});
    EXPECT_EQ(v.status, 0) << v.err;
    EXPECT_TRUE(contains(v.out, "OK"));

    PackRun x = run_pack({"extract", exe.string(), (t_ / "x").string()});
    ASSERT_EQ(x.status, 0) << x.err;
    EXPECT_EQ(tree(t_ / "x"), app_files());
    EXPECT_FALSE(fs::exists(t_ / "x" / "emptydir"));
    EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(t_ / "out"), fs::directory_iterator()),
              std::vector<fs::path>{exe})
        << "nothing but the executable is left next to it";
    EXPECT_TRUE(fs::is_empty(t_ / "tmp")) << "temporary files are removed";
}

TEST_F(Cli, ImageCarriesPayloadVersionResourceAndManifest)
{
    make_app(t_ / "app");
    const fs::path exe = t_ / "vexor.exe";
    fs::path icon = t_ / "app.ico";
    std::string bmp(40 + 16 * 16 * 4 + 64, '\x5A');
    bmp.replace(0, 4, std::string("\x28\0\0\0", 4));
    std::string ico = std::string("\0\0\1\0\1\0\x10\x10\0\0\1\0\x20\0", 14);
    for (uint32_t v : {static_cast<uint32_t>(bmp.size()), 22u}) {
        for (int i = 0; i < 4; ++i) ico.push_back(static_cast<char>(v >> (8 * i)));
    }
    write_file(icon, ico + bmp);
    PackRun b = build(t_ / "app", exe,
                      {"--company", "MOLTARN LLC \xE2\x84\xA2", "--product", "v\xC3\xA9xor", "--file-version",
                       "0.2.0.0", "--product-version", "0.2.0", "--target-spec",
                       "{CACHE_DIR}\\MOLTARN\\vexor\\0.2.0", "--icon", icon.string()});
    ASSERT_EQ(b.status, 0) << b.err;
    const std::string image = read_file(exe);

    zobrel::PeImage pe;
    ASSERT_EQ(zobrel::read_pe_headers(exe, pe), "");
    EXPECT_EQ(pe.machine, 0x8664);
    EXPECT_EQ(pe.subsystem, 3);
    const uint32_t lfanew = static_cast<unsigned char>(image[0x3C]) | static_cast<unsigned char>(image[0x3D])
                                                                          << 8;
    EXPECT_EQ(image.substr(lfanew + 8, 4), std::string(4, '\0')) << "no timestamp in the PE header";
    bool have_resources = false;
    for (const auto &s : pe.sections) {
        if (s.name != ".rsrc") continue;
        have_resources = true;
        EXPECT_EQ(image.substr(s.raw_offset + 4, 4), std::string(4, '\0'))
            << "no timestamp in the resource directory";
    }
    EXPECT_TRUE(have_resources);

    auto [blob, offset] = payload_of(exe);
    ASSERT_GE(blob.size(), 11u);
    EXPECT_EQ(blob.substr(0, 3), "QJY");
    uint64_t record = 0;
    for (int i = 0; i < 8; ++i)
        record |= uint64_t{static_cast<unsigned char>(blob[blob.size() - 8 + i])} << (8 * i);
    EXPECT_EQ(record + 8, blob.size()) << "the section's VirtualSize is L";

    // Build-time constants, as UTF-16 with their NUL.
    for (const std::u16string &s : {std::u16string(u"{CACHE_DIR}\\MOLTARN\\vexor\\0.2.0"),
                                    std::u16string(u"0.2.0-0.2.0.0"), std::u16string(u"v\u00E9xor")}) {
        EXPECT_TRUE(contains(image, u16le(s) + std::string(2, '\0')));
    }
    // Version resource strings, non-ASCII intact.
    for (const auto &[key, value] :
         std::vector<std::pair<std::u16string, std::u16string>>{{u"CompanyName", u"MOLTARN LLC \u2122"},
                                                                {u"ProductName", u"v\u00E9xor"},
                                                                {u"InternalName", u"v\u00E9xor"},
                                                                {u"OriginalFilename", u"v\u00E9xor.exe"},
                                                                {u"FileDescription", u"v\u00E9xor.exe"},
                                                                {u"FileVersion", u"0.2.0.0"},
                                                                {u"ProductVersion", u"0.2.0.0"}}) {
        const size_t at = image.find(u16le(key) + std::string(2, '\0'));
        ASSERT_NE(at, std::string::npos) << "no " << key.size();
        size_t v = at + 2 * (key.size() + 1);
        v += v % 4;  // values start on a 4-byte boundary
        EXPECT_EQ(image.substr(v, 2 * (value.size() + 1)), u16le(value) + std::string(2, '\0'));
    }
    EXPECT_TRUE(contains(image, u16le(u"000004B0")));
    // VS_FIXEDFILEINFO: signature, struct version, then file and product version 0.2.0.0.
    const std::string fixed = std::string("\xBD\x04\xEF\xFE\0\0\1\0", 8) +
                              std::string("\2\0\0\0\0\0\0\0", 8) + std::string("\2\0\0\0\0\0\0\0", 8);
    EXPECT_TRUE(contains(image, fixed));
    for (const char *m :
         {"<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>", ">true</longPathAware>",
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
          "Microsoft.Windows.Common-Controls", "publicKeyToken=\"6595b64144ccf1df\""}) {
        EXPECT_TRUE(contains(image, m)) << m;
    }
    EXPECT_TRUE(contains(image, bmp)) << "the icon's image is in the resources";
}

// The default target specification of a packed executable: the text after
// the given prefix up to its NUL, as ASCII.
std::string default_spec_suffix(const std::string &image, const std::u16string &prefix)
{
    size_t at = image.find(u16le(prefix));
    if (at == std::string::npos) return "(no default specification)";
    std::string suffix;
    for (at += 2 * prefix.size(); at + 1 < image.size() && (image[at] || image[at + 1]); at += 2) {
        suffix.push_back(image[at]);
    }
    return suffix;
}

TEST_F(Cli, DefaultsComeFromTheMainBinaryAndTheUnpackFolderFromThePayload)
{
    make_app(t_ / "app");
    const fs::path exe = t_ / "d.exe";
    ASSERT_EQ(build(t_ / "app", exe).status, 0);
    const std::string image = read_file(exe);
    for (const std::u16string &s : {std::u16string(u"main.exe"), std::u16string(u"0.0.0.0")}) {
        EXPECT_TRUE(contains(image, u16le(s) + std::string(2, '\0')));
    }
    // {CACHE_DIR}\COMPANY\PRODUCT\VERSION-ID: the same payload gives the same
    // ID, another payload another one, so two builds never share a folder.
    const std::u16string prefix = u"{CACHE_DIR}\\main\\main\\0.0.0.0-0.0.0.0-";
    const std::string id = default_spec_suffix(image, prefix);
    ASSERT_EQ(id.size(), 8u) << id;
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
    ASSERT_EQ(build(t_ / "app", t_ / "again.exe").status, 0);
    EXPECT_EQ(default_spec_suffix(read_file(t_ / "again.exe"), prefix), id);
    write_file(t_ / "app" / "names" / "with space.txt", "changed");
    ASSERT_EQ(build(t_ / "app", t_ / "other.exe").status, 0);
    const std::string other = default_spec_suffix(read_file(t_ / "other.exe"), prefix);
    EXPECT_EQ(other.size(), 8u);
    EXPECT_NE(other, id);
    // An explicit specification is used exactly as given.
    ASSERT_EQ(build(t_ / "app", t_ / "given.exe", {"--target-spec", "{CACHE_DIR}\\main\\fixed"}).status, 0);
    EXPECT_TRUE(
        contains(read_file(t_ / "given.exe"), u16le(u"{CACHE_DIR}\\main\\fixed") + std::string(2, '\0')));
}

TEST_F(Cli, CheckOptionIsStoredWithTheBuildConstants)
{
    make_app(t_ / "app");
    for (const char *mode : {"", "content", "metadata"}) {
        SCOPED_TRACE(mode);
        const fs::path exe = t_ / "c.exe";
        std::vector<std::string> extra;
        if (*mode) extra = {"--check", mode};
        ASSERT_EQ(build(t_ / "app", exe, extra).status, 0);
        const std::vector<unsigned char> block = zobrel::read_section(exe, ".zobinfo");
        ConstantsView view;
        ASSERT_EQ(check_constants_block(block.data(), block.size(), &view), CONSTANTS_WHOLE);
        ASSERT_NE(view.values[CONSTANT_WARM_CHECK], nullptr);
        ASSERT_EQ(view.sizes[CONSTANT_WARM_CHECK], 4u);
        EXPECT_EQ(read_le32(view.values[CONSTANT_WARM_CHECK]),
                  std::string(mode) == "metadata" ? WARM_CHECK_METADATA : WARM_CHECK_CONTENT);
    }
}

// --keep-builds: stored for the launcher only when given (0 too, which is
// not "absent"), shown by info, and refused with a target specification
// whose builds' folders would not lie side by side, or, for 0, whose folder
// is not one per start.
TEST_F(Cli, KeepBuildsIsStoredShownAndCheckedAgainstTheSpecification)
{
    make_app(t_ / "app");
    for (const char *keep : {"", "0", "1", "3", "100"}) {
        SCOPED_TRACE(keep);
        const fs::path exe = t_ / "k.exe";
        std::vector<std::string> extra;
        if (*keep) extra = {"--keep-builds", keep};
        if (std::string(keep) == "0") extra.insert(extra.end(), {"--target-spec", "{TEMP}\\app\\{RANDOM}"});
        PackRun built = build(t_ / "app", exe, extra);
        ASSERT_EQ(built.status, 0) << built.err;
        const std::vector<unsigned char> block = zobrel::read_section(exe, ".zobinfo");
        ConstantsView view;
        ASSERT_EQ(check_constants_block(block.data(), block.size(), &view), CONSTANTS_WHOLE);
        if (*keep) {
            ASSERT_NE(view.values[CONSTANT_KEEP_BUILDS], nullptr);
            ASSERT_EQ(view.sizes[CONSTANT_KEEP_BUILDS], 4u);
            EXPECT_EQ(read_le32(view.values[CONSTANT_KEEP_BUILDS]), std::stoul(keep));
        } else {
            EXPECT_EQ(view.values[CONSTANT_KEEP_BUILDS], nullptr);
        }
        const std::string shown = *keep ? keep : "all";
        const std::string shown_text =
            shown == "0" ? "0 (each start's folder goes once its program has ended)" : shown;
        PackRun text = run_pack({"info", exe.string()});
        EXPECT_TRUE(contains(text.out, "keep builds:     " + shown_text + "\n")) << text.out;
        PackRun json = run_pack({"info", "--json", exe.string()});
        EXPECT_TRUE(contains(json.out, "\"keep_builds\": " + (*keep ? shown : "\"all\"") + ",")) << json.out;
    }
    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> message;
    } cases[] = {
        {{"--keep-builds", "0"},
         2,
         {"the default target specification '{CACHE_DIR}", "with --keep-builds 0", "differ between starts"}},
        {{"--keep-builds", "0", "--target-spec", "{TEMP}\\app-{VERSION}"},
         2,
         {"option --target-spec '{TEMP}\\app-{VERSION}'", "with --keep-builds 0", "{RANDOM}"}},
        {{"--keep-builds", "-1"}, 2, {"--keep-builds"}},
        {{"--keep-builds", "101"}, 2, {"--keep-builds"}},
        {{"--keep-builds", "many"}, 2, {"--keep-builds"}},
        {{"--keep-builds", "2", "--target-spec", "{TEMP}\\fixed"},
         2,
         {"option --target-spec '{TEMP}\\fixed'", "last folder must differ"}},
        {{"--keep-builds", "2", "--target-spec", "{TEMP}\\{RANDOM}\\app-{VERSION}"}, 2, {"{RANDOM}"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[1]);
        fs::create_directories(t_ / "refused");
        PackRun r = build(t_ / "app", t_ / "refused" / "x.exe", c.args);
        EXPECT_EQ(r.status, c.status);
        for (const std::string &m : c.message) EXPECT_TRUE(contains(r.err, m)) << m << " in: " << r.err;
        EXPECT_TRUE(fs::is_empty(t_ / "refused"));
    }
}

// --progress and its message: stored for the launcher only when given (a
// build without them stays as before), shown by info; a message the
// launcher could not expand, one too long, or one without --progress is
// refused before anything is written.
TEST_F(Cli, ProgressIsStoredShownAndItsMessageChecked)
{
    make_app(t_ / "app");
    struct Built {
        std::vector<std::string> args;
        bool shown;
        std::u16string message;
        std::string text_lines, json_members;
    } built[] = {
        {{},
         false,
         u"",
         "progress:        no\nprogress text:   (none)\n",
         "\"progress\": false,\n  \"progress_message\": \"\""},
        {{"--progress"}, true, u"", "progress:        yes\n", "\"progress\": true,"},
        {{"--progress", "--progress-message", "Unpacking {PRODUCT} to {UNPACK_DIR}\u00e9"},
         true,
         u"Unpacking {PRODUCT} to {UNPACK_DIR}\u00e9",
         "progress text:   Unpacking {PRODUCT} to {UNPACK_DIR}\u00e9\n",
         "\"progress_message\": \"Unpacking {PRODUCT} to {UNPACK_DIR}\u00e9\""},
    };
    for (const Built &b : built) {
        SCOPED_TRACE(b.args.empty() ? "none" : b.args.back());
        const fs::path exe = t_ / "p.exe";
        PackRun r = build(t_ / "app", exe, b.args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<unsigned char> block = zobrel::read_section(exe, ".zobinfo");
        ConstantsView view;
        ASSERT_EQ(check_constants_block(block.data(), block.size(), &view), CONSTANTS_WHOLE);
        if (b.shown) {
            ASSERT_NE(view.values[CONSTANT_PROGRESS], nullptr);
            ASSERT_EQ(view.sizes[CONSTANT_PROGRESS], 4u);
            EXPECT_EQ(read_le32(view.values[CONSTANT_PROGRESS]), 1u);
        } else {
            EXPECT_EQ(view.values[CONSTANT_PROGRESS], nullptr);
        }
        if (b.message.empty()) {
            EXPECT_EQ(view.values[CONSTANT_PROGRESS_MESSAGE], nullptr);
        } else {
            ASSERT_NE(view.values[CONSTANT_PROGRESS_MESSAGE], nullptr);
            EXPECT_EQ(std::string(reinterpret_cast<const char *>(view.values[CONSTANT_PROGRESS_MESSAGE]),
                                  view.sizes[CONSTANT_PROGRESS_MESSAGE]),
                      u16le(b.message) + std::string(2, '\0'));
        }
        PackRun text = run_pack({"info", exe.string()});
        EXPECT_TRUE(contains(text.out, b.text_lines)) << text.out;
        PackRun json = run_pack({"info", "--json", exe.string()});
        EXPECT_TRUE(contains(json.out, b.json_members)) << json.out;
    }
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> message;
    } cases[] = {
        {{"--progress", "--progress-message", "{NOPE} at work"},
         {"--progress-message", "unknown key '{NOPE}'"}},
        {{"--progress", "--progress-message", "a } alone"}, {"--progress-message", "outside a placeholder"}},
        {{"--progress", "--progress-message", std::string(201, 'x')},
         {"--progress-message", "longer than 200"}},
        {{"--progress-message", "Unpacking"}, {"--progress-message", "needs --progress"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message.back());
        fs::create_directories(t_ / "refused");
        PackRun r = build(t_ / "app", t_ / "refused" / "x.exe", c.args);
        EXPECT_EQ(r.status, 2) << "a usage error";
        for (const std::string &m : c.message) EXPECT_TRUE(contains(r.err, m)) << m << " in: " << r.err;
        EXPECT_TRUE(fs::is_empty(t_ / "refused"));
    }
    // 200 units is the limit, not beyond it.
    PackRun longest =
        build(t_ / "app", t_ / "l.exe", {"--progress", "--progress-message", std::string(200, 'x')});
    EXPECT_EQ(longest.status, 0) << longest.err;
}

TEST_F(Cli, InfoShowsTheBuildSettingsAsTextAndAsJson)
{
    make_app(t_ / "app");
    const fs::path exe = t_ / "i.exe";
    // A company with the characters JSON must escape, and a control character.
    ASSERT_EQ(build(t_ / "app", exe,
                    {"--company", "ACME \"One\" \\ Two\x01", "--product", "vexor", "--file-version",
                     "1.2.3.4", "--check", "metadata", "--target-spec", "{TEMP}\\vexor"})
                  .status,
              0);
    PackRun text = run_pack({"info", exe.string()});
    ASSERT_EQ(text.status, 0) << text.err;
    for (const char *line :
         {"product:         vexor\n", "company:         ACME \"One\" \\ Two\x01\n",
          "file version:    1.2.3.4\n", "product version: 1.2.3.4\n", "version key:     1.2.3.4-1.2.3.4\n",
          "target spec:     {TEMP}\\vexor\n", "check:           metadata\n", "subsystem:       console\n",
          "main:            main.exe\n", "files:           7\n", "launcher arch:   x64\n"}) {
        EXPECT_TRUE(contains(text.out, line)) << line << " in:\n" << text.out;
    }
    PackRun json = run_pack({"info", "--json", exe.string()});
    ASSERT_EQ(json.status, 0) << json.err;
    for (const char *member :
         {"\"company\": \"ACME \\\"One\\\" \\\\ Two\\u0001\"", "\"target_spec\": \"{TEMP}\\\\vexor\"",
          "\"check\": \"metadata\"", "\"files\": 7,", "\"subsystem\": \"console\"",
          // Added later, so last.
          "\"launcher_arch\": \"x64\"\n}"}) {
        EXPECT_TRUE(contains(json.out, member)) << member << " in:\n" << json.out;
    }
    EXPECT_EQ(json.out.front(), '{');
    EXPECT_EQ(json.out.substr(json.out.size() - 2), "}\n");

    // Not a packed executable, or constants that do not hold: a refusal naming the file.
    write_file(t_ / "plain.txt", "hello");
    std::string damaged = read_file(exe);
    zobrel::PeImage image;
    ASSERT_EQ(zobrel::read_pe_headers(exe, image), "");
    for (const auto &section : image.sections) {
        if (section.name == ".zobinfo") damaged[section.raw_offset + 20] ^= 0x5A;
    }
    write_file(t_ / "damaged.exe", damaged);
    for (const char *name : {"plain.txt", "damaged.exe", "missing.exe"}) {
        PackRun r = run_pack({"info", (t_ / name).string()});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_TRUE(contains(r.err, name)) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

// The build constants block of a packed executable, checked as the launcher checks it.
std::vector<unsigned char> checked_constants(const fs::path &exe, ConstantsView *view)
{
    std::vector<unsigned char> block = zobrel::read_section(exe, ".zobinfo");
    EXPECT_EQ(check_constants_block(block.data(), block.size(), view), CONSTANTS_WHOLE);
    return block;
}

std::vector<std::u16string> stored_list(const ConstantsView &view, ConstantKey key)
{
    if (view.values[key] == nullptr) return {};
    return list_texts(view.values[key], view.sizes[key]);
}

TEST_F(Cli, FixedArgumentsAndEnvironmentAreStoredInOrderAndShownByInfo)
{
    make_app(t_ / "app");
    const fs::path exe = t_ / "tool.exe";
    PackRun b = build(t_ / "app", exe,
                      {"--arg", "/d", "--arg", "--pretty", "--arg", "", "--arg", "{UNPACK_DIR}\\my app\\",
                       "--arg", "say \"hi\"", "--env", "PYTHONHOME={UNPACK_DIR}\\python", "--env",
                       "GONE=", "--env", "Q=a=\"b\" \\ \x01", "--target-spec", "{TEMP}\\tool-{PID}"});
    ASSERT_EQ(b.status, 0) << b.err;
    ConstantsView view;
    const std::vector<unsigned char> block = checked_constants(exe, &view);
    EXPECT_EQ(
        stored_list(view, CONSTANT_FIXED_ARGUMENTS),
        (std::vector<std::u16string>{u"/d", u"--pretty", u"", u"{UNPACK_DIR}\\my app\\", u"say \"hi\""}));
    EXPECT_EQ(stored_list(view, CONSTANT_ENVIRONMENT),
              (std::vector<std::u16string>{u"PYTHONHOME", u"{UNPACK_DIR}\\python", u"GONE", u"", u"Q",
                                           u"a=\"b\" \\ \x01"}));

    PackRun text = run_pack({"info", exe.string()});
    ASSERT_EQ(text.status, 0) << text.err;
    // The arguments as the command line will hold them (before expansion).
    for (const char *line :
         {"arguments:       /d --pretty \"\" \"{UNPACK_DIR}\\my app\\\\\" \"say \\\"hi\\\"\"\n",
          "environment:     PYTHONHOME={UNPACK_DIR}\\python\n                 GONE=\n",
          "unpack dir:      (for the user who runs it: ask zobrel-pack.exe on Windows)\n",
          "varies per run:  PID\n"}) {
        EXPECT_TRUE(contains(text.out, line)) << line << " in:\n" << text.out;
    }
    PackRun json = run_pack({"info", "--json", exe.string()});
    ASSERT_EQ(json.status, 0) << json.err;
    for (const char *member : {"\"arguments\": [\"/d\", \"--pretty\", \"\", \"{UNPACK_DIR}\\\\my app\\\\\", "
                               "\"say \\\"hi\\\"\"],\n",
                               "\"environment\": [\"PYTHONHOME={UNPACK_DIR}\\\\python\", \"GONE=\", "
                               "\"Q=a=\\\"b\\\" \\\\ \\u0001\"],\n",
                               "\"unpack_dir\": null,\n", "\"unpack_dir_varies\": [\"PID\"],\n"}) {
        EXPECT_TRUE(contains(json.out, member)) << member << " in:\n" << json.out;
    }

    // Without them the block holds neither key, and info says so.
    const fs::path plain = t_ / "plain.exe";
    ASSERT_EQ(build(t_ / "app", plain).status, 0);
    checked_constants(plain, &view);
    EXPECT_EQ(view.values[CONSTANT_FIXED_ARGUMENTS], nullptr);
    EXPECT_EQ(view.values[CONSTANT_ENVIRONMENT], nullptr);
    PackRun none = run_pack({"info", plain.string()});
    EXPECT_TRUE(contains(none.out, "arguments:       (none)\nenvironment:     (none)\n")) << none.out;
    EXPECT_TRUE(contains(none.out, "varies per run:  no\n")) << none.out;
    PackRun none_json = run_pack({"info", "--json", plain.string()});
    EXPECT_TRUE(contains(none_json.out, "\"arguments\": [],\n  \"environment\": [],\n")) << none_json.out;

    // "--opt=" gives an empty value, not the next word; a word after an
    // option that takes a value is that value, whatever it looks like.
    const fs::path equals = t_ / "equals.exe";
    ASSERT_EQ(build(t_ / "app", equals,
                    {"--company=", "--product=p", "--arg=", "--arg=--x", "--arg", "--arg=", "--env=E="})
                  .status,
              0);
    checked_constants(equals, &view);
    EXPECT_EQ(stored_list(view, CONSTANT_FIXED_ARGUMENTS),
              (std::vector<std::u16string>{u"", u"--x", u"--arg="}));
    EXPECT_EQ(stored_list(view, CONSTANT_ENVIRONMENT), (std::vector<std::u16string>{u"E", u""}));
    PackRun shown = run_pack({"info", "--json", equals.string()});
    EXPECT_TRUE(contains(shown.out, "\"product\": \"p\",\n  \"company\": \"\",\n")) << shown.out;

    // At the command line's limit exactly: the launcher's shortest path (4),
    // a space and 20,000 units, a space, 12,760 units and a process id of at
    // least one digit make 32,767. One more is refused (the refusals' table).
    PackRun full = build(t_ / "app", t_ / "full.exe",
                         {"--arg", std::string(20000, 'a'), "--arg", std::string(12760, 'b') + "{PID}"});
    EXPECT_EQ(full.status, 0) << full.err;
    // A value of the 32,766 units a variable holds.
    PackRun full_value = build(t_ / "app", t_ / "full-value.exe", {"--env", "A=" + std::string(32766, 'v')});
    EXPECT_EQ(full_value.status, 0) << full_value.err;
}

TEST_F(Cli, OutputIsExecutableAsALinkerMakesIt)
{
    make_app(t_ / "app");
    for (const mode_t mask : {mode_t{022}, mode_t{077}}) {
        const mode_t previous = umask(mask);
        const fs::path exe = t_ / ("m" + std::to_string(mask) + ".exe");
        PackRun r = build(t_ / "app", exe);
        umask(previous);
        ASSERT_EQ(r.status, 0) << r.err;
        struct stat st;
        ASSERT_EQ(stat(exe.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0777 & ~mask) << std::oct << (st.st_mode & 07777);
    }
}

TEST_F(Cli, SameFolderAndOptionsGiveTheSameBytes)
{
    make_app(t_ / "a");
    make_app(t_ / "b", /*reverse=*/true);
    ASSERT_EQ(build(t_ / "a", t_ / "one.exe", {"--threads", "1", "--checksum"}).status, 0);
    ASSERT_EQ(build(t_ / "b", t_ / "two.exe", {"--threads", "2", "--checksum"}).status, 0);
    const std::string one = read_file(t_ / "one.exe"), two = read_file(t_ / "two.exe");
    EXPECT_GT(one.size(), 10000u);
    EXPECT_TRUE(one == two) << "builds differ";
}

TEST_F(Cli, ProgressBarOnlyOnATerminalAndQuietMeansSilent)
{
    make_app(t_ / "app");
    fs::remove(t_ / "app" / "emptydir");  // no warning to print
    PackRun plain = build(t_ / "app", t_ / "p.exe");
    ASSERT_EQ(plain.status, 0);
    EXPECT_FALSE(contains(plain.err, "\r")) << "no bar when stderr is a file";
    EXPECT_TRUE(contains(plain.err, "7 files")) << plain.err;
    PackRun quiet = build(t_ / "app", t_ / "q.exe", {"--quiet"});
    ASSERT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(quiet.out, "");

    std::vector<std::string> args = build_args(t_ / "app", t_ / "t.exe");
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::vector<char *> argv{const_cast<char *>(ZOBREL_PACK_EXE)};
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string screen;
    char buf[4096];
    for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) screen.append(buf, static_cast<size_t>(n));
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
    EXPECT_TRUE(contains(screen, "\r[")) << screen;
    EXPECT_TRUE(contains(screen, "100%")) << screen;
    EXPECT_TRUE(contains(screen, "/s")) << "a rate is shown: " << screen;
}

TEST_F(Cli, ChecksumOptionSetsTheFrameChecksum)
{
    make_app(t_ / "app");
    for (bool checksum : {false, true}) {
        const fs::path exe = t_ / (checksum ? "c.exe" : "n.exe");
        ASSERT_EQ(build(t_ / "app", exe,
                        checksum ? std::vector<std::string>{"--checksum"} : std::vector<std::string>{})
                      .status,
                  0);
        const std::string blob = payload_of(exe).first;
        ASSERT_GT(blob.size(), 8u);
        EXPECT_EQ((static_cast<unsigned char>(blob[3 + 4]) & 0x04) != 0, checksum);
        EXPECT_EQ(run_pack({"verify", exe.string()}).status, 0);
    }
}

struct Refusal {
    const char *what;
    std::function<void(const fs::path &app)> setup;
    std::vector<std::string> args;  // appended; "@APP" stands for the app folder
    std::vector<std::string> message;
};

TEST_F(Cli, RefusalsNameTheCulpritAndLeaveNothingBehind)
{
    std::string too_long;
    for (int i = 0; i < 5; ++i) too_long += std::string(220, 'd' + i) + "/";
    const std::vector<Refusal> cases = {
        {"main missing", nullptr, {"--main", "nothere.exe"}, {"nothere.exe", "not found"}},
        {"main outside",
         [](const fs::path &a) { write_file(a / ".." / "outside.exe", zt::make_pe(0x8664, 3)); },
         {"--main", "../outside.exe"},
         {"not inside"}},
        {"main absolute", nullptr, {"--main", "/bin/sh"}, {"not inside"}},
        {"main is a folder", nullptr, {"--main", "lib"}, {"is a folder"}},
        {"main not PE",
         [](const fs::path &a) { write_file(a / "main.exe", "#!/bin/sh\necho hi\n"); },
         {},
         {"main.exe", "not a Windows executable"}},
        {"main MZ without PE",
         [](const fs::path &a) { write_file(a / "main.exe", "MZ" + std::string(200, '\0')); },
         {},
         {"not a Windows executable"}},
        {"main is a DLL",
         [](const fs::path &a) { write_file(a / "main.exe", zt::make_pe(0x8664, 3, {}, 0x2022)); },
         {},
         {"main.exe", "is a DLL"}},
        {"main is not an executable image",
         [](const fs::path &a) { write_file(a / "main.exe", zt::make_pe(0x8664, 3, {}, 0x0020)); },
         {},
         {"main.exe", "not an executable image"}},
        // Windows starts programs of two subsystems; a driver, a firmware
        // image and the like would fail at every start.
        {"main is a native image",
         [](const fs::path &a) { write_file(a / "main.exe", zt::make_pe(0x8664, 1)); },
         {},
         {"main.exe", "subsystem 1 (native)", "does not start"}},
        {"main is an EFI image, whatever the launcher",
         [](const fs::path &a) { write_file(a / "main.exe", zt::make_pe(0x8664, 10)); },
         {"--subsystem", "windows"},
         {"main.exe", "subsystem 10 (EFI)"}},
        {"unknown subsystem option", nullptr, {"--subsystem", "gui"}, {"--subsystem", "gui"}},
        {"colon",
         [](const fs::path &a) { write_file(a / "bad:name.txt", "x"); },
         {},
         {"bad:name.txt", "':'"}},
        {"backslash",
         [](const fs::path &a) { write_file(a / "back\\slash", "x"); },
         {},
         {"back\\slash", "forbids"}},
        {"question mark",
         [](const fs::path &a) { write_file(a / "sub/wh?t", "x"); },
         {},
         {"wh?t", "forbids"}},
        {"trailing dot",
         [](const fs::path &a) { write_file(a / "dir./f", "x"); },
         {},
         {"dir./f", "dot or space"}},
        {"trailing space", [](const fs::path &a) { write_file(a / "f ", "x"); }, {}, {"dot or space"}},
        {"control char", [](const fs::path &a) { write_file(a / "c\x01", "x"); }, {}, {"control character"}},
        {"device name",
         [](const fs::path &a) { write_file(a / "lib/aux.dll", "x"); },
         {},
         {"aux.dll", "device"}},
        {"too long",
         [&](const fs::path &a) { write_file(a / too_long / "f", "x"); },
         {},
         {"more than the 1023"}},
        {"not UTF-8", [](const fs::path &a) { write_file(a / "bad\xFF.txt", "x"); }, {}, {"not valid UTF-8"}},
        {"case clash",
         [](const fs::path &a) { write_file(a / "EMPTY.TXT", "x"); },
         {},
         {"empty.txt", "EMPTY.TXT", "does not tell"}},
        {"file and folder clash",
         [](const fs::path &a) { write_file(a / "LIB", "x"); },
         {},
         {"LIB", "share a name"}},
        {"clash beyond ASCII",
         [](const fs::path &a) {
             write_file(a / "names" / "\xC5\xB8.txt", "x");  // U+0178
             write_file(a / "names" / "\xC3\xBF.txt", "y");  // U+00FF
         },
         {},
         {"'names/\xC5\xB8.txt'", "'names/\xC3\xBF.txt'", "does not tell"}},
        {"file and folder clash, deep and beyond ASCII",
         [](const fs::path &a) {
             write_file(a / "lib" / "DEEP" / "\xC4\x80" / "x", "x");  // U+0100, a folder
             write_file(a / "lib" / "deep" / "\xC4\x81", "y");        // U+0101, a file
         },
         {},
         {"the file 'lib/deep/\xC4\x81'", "'lib/DEEP/\xC4\x80/x'", "share a name"}},
        {"a short name of a long one",
         [](const fs::path &a) {
             write_file(a / "docs" / "LONGFI~1.TXT", "x");
             write_file(a / "docs" / "LongFileName.txt", "y");
         },
         {},
         {"cannot carry both 'docs/LONGFI~1.TXT' and 'docs/LongFileName.txt': 'LONGFI~1.TXT' could be the "
          "short (8.3) name Windows gives the file 'LongFileName.txt' beside it, and would then open it; "
          "rename one"}},
        {"a short name of a folder",
         [](const fs::path &a) {
             write_file(a / "sub" / "LongFolderName" / "x", "x");
             write_file(a / "sub" / "LONGFO~1", "y");
         },
         {},
         {"cannot carry both 'sub/LONGFO~1' and 'sub/LongFolderName/x'",
          "gives the folder 'LongFolderName' beside it"}},
        {"a short name of the build marker",
         [](const fs::path &a) { write_file(a / "ZOBREL~1", "x"); },
         {"--keep-builds", "2"},
         {"cannot carry 'ZOBREL~1': 'ZOBREL~1' could be the short (8.3) name Windows gives the "
          "launcher's own file '.zobrel-build' beside it"}},
        {"a main program cut short",
         [](const fs::path &a) {
             write_file(a / "main.exe",
                        zt::make_pe(0x8664, 3, {{".text", std::string(8192, 'c')}}).substr(0, 4096));
         },
         {},
         {"main binary", "main.exe", "is truncated: its section .text runs to byte",
          "the file at byte 4096"}},
        {"4 GiB file",
         [](const fs::path &a) {
             write_file(a / "huge.bin", "");
             fs::resize_file(a / "huge.bin", uint64_t{1} << 32);
         },
         {},
         {"huge.bin", "4 GiB"}},
        {"link outside",
         [](const fs::path &a) { fs::create_symlink("/etc/hostname", a / "out.lnk"); },
         {},
         {"out.lnk", "leads outside"}},
        {"dangling link",
         [](const fs::path &a) { fs::create_symlink("gone", a / "dangling"); },
         {},
         {"dangling", "leads nowhere"}},
        {"link loop",
         [](const fs::path &a) { fs::create_directory_symlink("..", a / "lib" / "up"); },
         {},
         {"up", "leads back"}},
        {"fifo",
         [](const fs::path &a) { mkfifo((a / "pipe").c_str(), 0644); },
         {},
         {"pipe", "not a regular file"}},
        {"unknown key", nullptr, {"--target-spec", "{NOPE}\\x"}, {"--target-spec", "unknown key '{NOPE}'"}},
        {"brace outside", nullptr, {"--target-spec", "{TEMP}\\a}b"}, {"--target-spec", "'}' outside"}},
        {"unclosed", nullptr, {"--target-spec", "{CACHE_DIR"}, {"--target-spec", "not closed"}},
        {"empty spec", nullptr, {"--target-spec", ""}, {"--target-spec", "empty"}},
        {"relative spec",
         nullptr,
         {"--target-spec", "MyApp\\{VERSION}"},
         {"--target-spec", "MyApp", "absolute"}},
        {"empty company in spec",
         nullptr,
         {"--target-spec", "{CACHE_DIR}\\{company}"},
         {"--company", "{COMPANY}"}},
        {"unpack dir in the spec",
         nullptr,
         {"--target-spec", "{CACHE_DIR}\\{UNPACK_DIR}"},
         {"--target-spec", "{UNPACK_DIR} is the folder the target specification names"}},
        {"unknown key in an argument",
         nullptr,
         {"--arg", "{UNPACK_DIRX}\\x"},
         {"--arg", "unknown key '{UNPACK_DIRX}'"}},
        {"unclosed key in an argument",
         nullptr,
         {"--arg", "ok", "--arg", "{TEMP"},
         {"--arg '{TEMP'", "not closed"}},
        {"unknown key in a variable", nullptr, {"--env", "A={NOPE}"}, {"--env 'A={NOPE}'", "unknown key"}},
        {"variable without '='", nullptr, {"--env", "PYTHONHOME"}, {"--env 'PYTHONHOME'", "NAME=VALUE"}},
        {"variable without a name", nullptr, {"--env", "=C:=x"}, {"--env '=C:=x'", "empty"}},
        {"variable with a control character", nullptr, {"--env", "A\tB=1"}, {"--env", "control character"}},
        {"the launcher's variable",
         nullptr,
         {"--env", "Zobrel_OneFile_Parent=1"},
         {"--env 'Zobrel_OneFile_Parent=1'", "ZOBREL_"}},
        {"a variable twice", nullptr, {"--env", "Path=a", "--env", "PATH=b"}, {"--env 'PATH=b'", "twice"}},
        {"arguments that cannot fit",
         nullptr,
         {"--arg", std::string(20000, 'a'), "--arg", std::string(12761, 'b') + "{PID}"},
         {"--arg", "at least 32768 characters", "32767"}},
        {"an argument that cannot fit with the unpack folder",
         nullptr,
         {"--target-spec", "C:\\" + std::string(2000, 'u'), "--arg",
          std::string(30760, 'a') + "{UNPACK_DIR}"},
         {"--arg", "at least 32768 characters"}},
        {"a value that cannot fit",
         nullptr,
         {"--env", "A=" + std::string(32766, 'v') + "{pid}{pid}"},
         {"--env", "A", "32768"}},
        {"a value one unit longer than a variable holds",
         nullptr,
         {"--env", "A=" + std::string(32767, 'v')},
         {"--env", "A", "32767", "more than the 32766"}},
        {"argument not UTF-8", nullptr, {"--arg", "\xFF"}, {"--arg", "UTF-8"}},
        {"bad file version", nullptr, {"--file-version", "1.2.3"}, {"--file-version"}},
        {"empty product", nullptr, {"--product", ""}, {"--product", "empty"}},
        {"company not UTF-8", nullptr, {"--company", "\xFF"}, {"--company", "UTF-8"}},
        {"bad icon",
         [](const fs::path &a) { write_file(a / ".." / "x.ico", "GIF89a"); },
         {"--icon", "@APP/../x.ico"},
         {"--icon", "x.ico"}},
        {"bad level", nullptr, {"--level", "0"}, {"--level"}},
        {"app dir missing", [](const fs::path &a) { fs::remove_all(a); }, {}, {"does not exist"}},
        {"unknown option", nullptr, {"--frobnicate"}, {"unknown option '--frobnicate'"}},
    };
    int n = 0;
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path root = t_ / ("case" + std::to_string(n++));
        const fs::path app = root / "app", out = root / "out" / "x.exe";
        make_app(app);
        fs::create_directories(out.parent_path());
        if (c.setup) c.setup(app);
        std::vector<std::string> extra;
        for (std::string a : c.args) {
            if (a.compare(0, 4, "@APP") == 0) a = app.string() + a.substr(4);
            extra.push_back(a);
        }
        PackRun r = build(app, out, extra);
        EXPECT_NE(r.status, 0);
        for (const std::string &m : c.message)
            EXPECT_TRUE(contains(r.err, m)) << "missing '" << m << "' in: " << r.err;
        EXPECT_TRUE(fs::is_empty(out.parent_path())) << "output or a temporary file left behind";
        EXPECT_TRUE(fs::is_empty(t_ / "tmp")) << "temporary folder left behind";
    }
}

TEST_F(Cli, InterruptedBuildLeavesNothingBehind)
{
    make_app(t_ / "app");
    write_file(t_ / "app" / "big.bin", pseudo_random(24 << 20, 9));  // seconds of work at level 19
    fs::create_directories(t_ / "out");
    std::vector<std::string> args = build_args(t_ / "app", t_ / "out" / "x.exe");
    args.back() = "19";  // --level
    const std::string tmpdir = "TMPDIR=" + (t_ / "tmp").string();
    pid_t pid = fork();
    if (pid == 0) {
        putenv(const_cast<char *>(tmpdir.c_str()));
        std::vector<char *> argv{const_cast<char *>(ZOBREL_PACK_EXE)};
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    // Interrupt in the middle of compressing: after a fifth of a second of
    // the packer's own CPU time, of the several seconds this input takes.
    const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    for (;;) {
        std::string fields = read_file(stat);
        std::istringstream in(fields.substr(fields.rfind(')') + 2));
        std::string state, field;
        long ticks = 0;
        in >> state;                                                                    // field 3
        for (int i = 4; i <= 14 && in >> field; ++i) ticks = std::atol(field.c_str());  // field 14: utime
        if (state == "Z" || ticks >= sysconf(_SC_CLK_TCK) / 5) break;
        usleep(1000);
    }
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_TRUE(fs::is_empty(t_ / "out"));
    EXPECT_TRUE(fs::is_empty(t_ / "tmp"));
}

TEST_F(Cli, UnreadableFileIsRefused)
{
    make_app(t_ / "app");
    write_file(t_ / "app" / "secret.dat", "x");
    fs::permissions(t_ / "app" / "secret.dat", fs::perms::none);
    fs::create_directories(t_ / "out");
    fs::permissions(t_ / "out", fs::perms::all);
    PackRun r = run_pack(build_args(t_ / "app", t_ / "out" / "x.exe"), {}, /*obey_permissions=*/true);
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(contains(r.err, "cannot read") && contains(r.err, "secret.dat")) << r.err;
    EXPECT_FALSE(fs::exists(t_ / "out" / "x.exe"));
}

TEST_F(Cli, OutputFolderIsCheckedBeforeAnythingAndNeverCreated)
{
    make_app(t_ / "app");
    // An unreadable file in the folder: an error about it would mean the
    // folder was read before the output's folder was checked.
    write_file(t_ / "app" / "secret.dat", "x");
    fs::permissions(t_ / "app" / "secret.dat", fs::perms::none);
    fs::create_directories(t_ / "locked");
    fs::permissions(t_ / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    struct Case {
        fs::path output;
        std::vector<std::string> message;
    } cases[] = {
        {t_ / "nowhere" / "deeper" / "x.exe", {"nowhere", "does not exist"}},
        {t_ / "locked" / "x.exe", {"locked", "cannot create files"}},
        {t_ / "app", {"is a folder"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.output.string());
        PackRun r = run_pack(build_args(t_ / "app", c.output), {}, /*obey_permissions=*/true);
        EXPECT_EQ(r.status, 1);
        for (const std::string &m : c.message) EXPECT_TRUE(contains(r.err, m)) << r.err;
        EXPECT_FALSE(contains(r.err, "secret.dat")) << r.err;
    }
    EXPECT_FALSE(fs::exists(t_ / "nowhere"));
    EXPECT_TRUE(fs::is_empty(t_ / "locked"));
}

TEST_F(Cli, LinksInsideTheFolderAreCarriedAsFiles)
{
    make_app(t_ / "app");
    fs::create_symlink("lib/core.dll", t_ / "app" / "alias.dll");
    fs::create_directory_symlink("lib/deep", t_ / "app" / "deeplink");
    const fs::path exe = t_ / "l.exe";
    ASSERT_EQ(build(t_ / "app", exe).status, 0);
    ASSERT_EQ(run_pack({"extract", exe.string(), (t_ / "x").string()}).status, 0);
    auto files = tree(t_ / "x");
    EXPECT_EQ(files["alias.dll"], app_files()["lib/core.dll"]);
    EXPECT_EQ(files["deeplink/er/data.bin"], app_files()["lib/deep/er/data.bin"]);
    EXPECT_FALSE(fs::is_symlink(t_ / "x" / "alias.dll"));
}

TEST_F(Cli, OutputInsideTheFolderIsNotPackedIntoTheNextBuild)
{
    make_app(t_ / "app");
    const fs::path exe = t_ / "app" / "packed.exe";
    ASSERT_EQ(build(t_ / "app", exe).status, 0);
    const std::string first = read_file(exe);
    PackRun again = build(t_ / "app", exe);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(contains(again.err, "packed.exe': it is the output")) << again.err;
    EXPECT_TRUE(read_file(exe) == first);
}

// Wine's own Windows programs: real windowed and console executables.
const fs::path WINE_PROGRAMS = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";

TEST_F(Cli, LauncherFollowsTheMainBinarysSubsystemUnlessToldOtherwise)
{
    const std::string windowed = read_file(WINE_PROGRAMS / "winemine.exe");
    const std::string console = read_file(WINE_PROGRAMS / "cmd.exe");
    ASSERT_FALSE(windowed.empty() || console.empty()) << "Wine's programs are missing from " << WINE_PROGRAMS;
    struct Case {
        const char *what;
        std::string main;
        std::vector<std::string> options;
        uint16_t subsystem;
        const char *shown;
    } cases[] = {
        {"Wine's windowed winemine.exe", windowed, {}, 2, "windows"},
        {"Wine's console cmd.exe", console, {}, 3, "console"},
        {"windowed, told console", windowed, {"--subsystem", "console"}, 3, "console"},
        {"console, told windows", console, {"--subsystem=windows"}, 2, "windows"},
        {"told twice: the last holds",
         console,
         {"--subsystem", "windows", "--subsystem", "console"},
         3,
         "console"},
        {"32-bit windowed", zt::make_pe(0x14C, 2), {}, 2, "windows"},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path app = t_ / ("app" + std::to_string(n)),
                       exe = t_ / ("s" + std::to_string(n++) + ".exe");
        write_file(app / "main.exe", c.main);
        PackRun r = build(app, exe, c.options);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(contains(r.err, "subsystem")) << "no warning about the subsystem: " << r.err;
        zobrel::PeImage pe;
        ASSERT_EQ(zobrel::read_pe_headers(exe, pe), "");
        EXPECT_EQ(pe.subsystem, c.subsystem);
        // The launcher's own code: the first section of the image of that subsystem, byte for byte.
        const std::string launcher = zobrel::embedded_launcher_image(
            c.subsystem == 2 ? zobrel::LauncherSubsystem::windows : zobrel::LauncherSubsystem::console);
        zobrel::PeImage launcher_pe;
        ASSERT_EQ(zobrel::parse_pe_headers(reinterpret_cast<const unsigned char *>(launcher.data()),
                                           launcher.size(), launcher_pe),
                  "");
        const zobrel::PeSection &code = launcher_pe.sections.front();
        EXPECT_TRUE(read_file(exe).substr(code.raw_offset, code.raw_size) ==
                    launcher.substr(code.raw_offset, code.raw_size));
        PackRun info = run_pack({"info", exe.string()});
        EXPECT_TRUE(contains(info.out, std::string("subsystem:       ") + c.shown + "\n")) << info.out;
        PackRun json = run_pack({"info", "--json", exe.string()});
        EXPECT_TRUE(contains(json.out, std::string("\"subsystem\": \"") + c.shown + "\"")) << json.out;
    }
    // The two launchers differ in their code, so the comparison above tells them apart.
    EXPECT_TRUE(zobrel::embedded_launcher_image(zobrel::LauncherSubsystem::windows) !=
                zobrel::embedded_launcher_image(zobrel::LauncherSubsystem::console));

    PackRun r = build(t_ / "app5", t_ / "w.exe");
    EXPECT_TRUE(contains(r.err, "not a 64-bit x86 or ARM64 program (machine 0x014c)")) << r.err;
}

// The launcher's processor follows the main binary's machine type (x64 or
// ARM64, the x64 launcher for any other), unless --launcher-arch says; a
// packer built without the ARM64 launchers gives an ARM64 program the x64
// one and refuses --launcher-arch arm64.
TEST_F(Cli, LauncherFollowsTheMainBinarysProcessorUnlessToldOtherwise)
{
    using zobrel::LauncherArch;
    const bool arm64 = zobrel::carried_launcher(LauncherArch::arm64, zobrel::LauncherSubsystem::console);
    const LauncherArch arm64_or_x64 = arm64 ? LauncherArch::arm64 : LauncherArch::x64;
    struct Case {
        const char *what;
        uint16_t machine, subsystem;
        std::vector<std::string> options;
        LauncherArch expected;
        const char *warning;  // a part of the warning, or null for none
    } cases[] = {
        {"x64 console", 0x8664, 3, {}, LauncherArch::x64, nullptr},
        {"ARM64 console", 0xAA64, 3, {}, arm64_or_x64, arm64 ? nullptr : "carries no ARM64 launcher"},
        {"ARM64 windowed", 0xAA64, 2, {}, arm64_or_x64, arm64 ? nullptr : "carries no ARM64 launcher"},
        {"ARM64, told x64",
         0xAA64,
         3,
         {"--launcher-arch", "x64"},
         LauncherArch::x64,
         "is an ARM64 program, packed behind the x64 launcher"},
        {"x64, told arm64",
         0x8664,
         2,
         {"--launcher-arch=arm64"},
         LauncherArch::arm64,
         "is an x64 program, packed behind the ARM64 launcher"},
        {"32-bit ARM",
         0x01C4,
         3,
         {},
         LauncherArch::x64,
         "not a 64-bit x86 or ARM64 program (machine 0x01c4)"},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path app = t_ / ("app" + std::to_string(n)),
                       exe = t_ / ("a" + std::to_string(n++) + ".exe");
        write_file(app / "main.exe", zt::make_pe(c.machine, c.subsystem));
        PackRun r = build(app, exe, c.options);
        if (c.expected == LauncherArch::arm64 && !arm64) {
            EXPECT_EQ(r.status, 2);
            EXPECT_TRUE(contains(r.err, "option --launcher-arch: this zobrel-pack carries no ARM64 launcher"))
                << r.err;
            EXPECT_FALSE(fs::exists(exe));
            continue;
        }
        ASSERT_EQ(r.status, 0) << r.err;
        if (c.warning) {
            EXPECT_TRUE(contains(r.err, c.warning)) << r.err;
        } else {
            EXPECT_FALSE(contains(r.err, "warning")) << r.err;
        }
        zobrel::PeImage pe;
        ASSERT_EQ(zobrel::read_pe_headers(exe, pe), "");
        EXPECT_EQ(pe.machine,
                  c.expected == LauncherArch::arm64 ? zobrel::MACHINE_ARM64 : zobrel::MACHINE_AMD64);
        // The launcher's own code, byte for byte: that processor's, of the main's subsystem.
        const std::string launcher = zobrel::embedded_launcher_image(
            c.subsystem == 2 ? zobrel::LauncherSubsystem::windows : zobrel::LauncherSubsystem::console,
            c.expected);
        zobrel::PeImage launcher_pe;
        ASSERT_EQ(zobrel::parse_pe_headers(reinterpret_cast<const unsigned char *>(launcher.data()),
                                           launcher.size(), launcher_pe),
                  "");
        EXPECT_EQ(launcher_pe.machine, pe.machine);
        const zobrel::PeSection &code = launcher_pe.sections.front();
        EXPECT_TRUE(read_file(exe).substr(code.raw_offset, code.raw_size) ==
                    launcher.substr(code.raw_offset, code.raw_size));
        PackRun verify = run_pack({"verify", exe.string()});
        EXPECT_EQ(verify.status, 0) << verify.err;
        const std::string name = zobrel::launcher_arch_name(c.expected);
        PackRun info = run_pack({"info", exe.string()});
        EXPECT_TRUE(contains(info.out, "launcher arch:   " + name + "\n")) << info.out;
        PackRun json = run_pack({"info", "--json", exe.string()});
        EXPECT_TRUE(contains(json.out, "\"launcher_arch\": \"" + name + "\"")) << json.out;
    }
    // The four launchers are four different programs.
    if (arm64) {
        std::set<std::string> images;
        for (const zobrel::CarriedLauncher &l : zobrel::carried_launchers())
            images.insert(zobrel::embedded_launcher_image(l.subsystem, l.arch));
        EXPECT_EQ(images.size(), 4u);
    }
}

TEST_F(Cli, UacAdminAsksForAdministratorRightsWithEitherLauncher)
{
    make_app(t_ / "app");
    int n = 0;
    for (const char *subsystem : {"console", "windows"}) {
        for (const bool admin : {false, true}) {
            const char *level = admin ? "requireAdministrator" : "asInvoker";
            SCOPED_TRACE(std::string(subsystem) + ", " + level);
            const fs::path exe = t_ / ("u" + std::to_string(n++) + ".exe");
            std::vector<std::string> options = {"--subsystem", subsystem};
            if (admin) options.push_back("--uac-admin");
            PackRun r = build(t_ / "app", exe, options);
            ASSERT_EQ(r.status, 0) << r.err;
            // Read back through the resource data directory, as Windows finds it.
            const std::optional<std::string> manifest = zobrel::read_manifest(exe);
            ASSERT_TRUE(manifest.has_value());
            EXPECT_EQ(zobrel::manifest_execution_level(*manifest), level);
            EXPECT_TRUE(contains(*manifest, ">true</longPathAware>")) << *manifest;
            PackRun info = run_pack({"info", exe.string()});
            EXPECT_TRUE(contains(info.out, std::string("execution level: ") + level + "\n")) << info.out;
            PackRun json = run_pack({"info", "--json", exe.string()});
            EXPECT_TRUE(contains(json.out, std::string("\"execution_level\": \"") + level + "\""))
                << json.out;
        }
    }
    // A file without resources has no manifest; one that is not an image is refused by name.
    write_file(t_ / "bare.exe", zt::make_pe(0x8664, 3));
    EXPECT_EQ(zobrel::read_manifest(t_ / "bare.exe"), std::nullopt);
    write_file(t_ / "text.exe", "hello");
    EXPECT_THROW(zobrel::read_manifest(t_ / "text.exe"), zobrel::PackError);
}

TEST_F(Cli, DamagedOrForeignFilesAreReportedNeverTrusted)
{
    make_app(t_ / "app");
    const fs::path exe = t_ / "good.exe";
    ASSERT_EQ(build(t_ / "app", exe).status, 0);
    const std::string good = read_file(exe);
    auto [blob, offset] = payload_of(exe);
    zobrel::BlobLayout layout;
    ASSERT_EQ(zobrel::check_blob(reinterpret_cast<const unsigned char *>(blob.data()), blob.size(), layout),
              "");

    std::string flipped = good;
    flipped[offset + 3 + layout.frame_size / 2] ^= 0x10;
    std::string cut = good.substr(0, offset + blob.size() / 2);
    std::string bad_padding_record = good;
    bad_padding_record[offset + blob.size() - 8] ^= 1;
    // The payload's section header claiming a gigabyte of zeros past what
    // is stored: refused, never read into memory (list, which reads the
    // index alone, warns of it).
    std::string huge_fill = good;
    {
        const uint32_t pe = read_le32(reinterpret_cast<const unsigned char *>(&huge_fill[0x3c]));
        const uint16_t optional = read_le16(reinterpret_cast<const unsigned char *>(&huge_fill[pe + 20]));
        size_t header = pe + 24 + optional;
        while (huge_fill.compare(header, 7, ".zobrel") != 0 || huge_fill[header + 7] != '\0') header += 40;
        write_le32(reinterpret_cast<unsigned char *>(&huge_fill[header + 8]),
                   static_cast<uint32_t>(blob.size()) + (1u << 30));
    }
    struct Case {
        const char *what;
        std::string bytes;
        std::vector<std::string> commands;  // which must fail
        const char *message;
        bool one_line = false;  // verify says it once, not once per missing section
    } cases[] = {
        {"flipped frame byte", flipped, {"verify"}, ""},
        {"truncated file", cut, {"list", "verify", "extract"}, "truncated"},
        {"text file",
         "hello, world\n",
         {"list", "verify", "extract", "info"},
         "not a packed executable",
         true},
        {"PE without payload",
         zt::make_pe(0x8664, 3, {{".text", "code"}}),
         {"list", "verify", "extract"},
         "no .zobrel section"},
        {"PE without constants",
         zt::make_pe(0x8664, 3, {{".text", "code"}}),
         {"info"},
         "no .zobinfo section"},
        {"empty file", "", {"list", "verify", "extract"}, "not a packed executable", true},
        {"payload mapped a gigabyte larger",
         huge_fill,
         {"verify", "extract"},
         "bytes larger than it is stored"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path file = t_ / "bad.exe";
        write_file(file, c.bytes);
        for (const std::string &cmd : c.commands) {
            std::vector<std::string> args{cmd, file.string()};
            if (cmd == "extract") args.push_back((t_ / "xd").string());
            PackRun r = run_pack(args);
            EXPECT_EQ(r.status, 1) << cmd << ": " << r.err;
            EXPECT_TRUE(contains(r.err, c.message)) << cmd << ": " << r.err;
            EXPECT_TRUE(contains(r.err, "bad.exe")) << "the message names the file: " << r.err;
            if (cmd == "info") {
                EXPECT_EQ(r.err.find("bad.exe"), r.err.rfind("bad.exe")) << "named once: " << r.err;
            }
            if (c.one_line && cmd == "verify") {
                EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << cmd << ": " << r.err;
            }
        }
    }
    // The length record is never read by the launcher: the copy starts as
    // if whole, so each command is warned and goes on.
    const fs::path file = t_ / "trailer.exe";
    write_file(file, bad_padding_record);
    for (const std::string cmd : {"list", "verify", "extract"}) {
        std::vector<std::string> args{cmd, file.string()};
        if (cmd == "extract") args.push_back((t_ / "xt").string());
        PackRun r = run_pack(args);
        EXPECT_EQ(r.status, 0) << cmd << ": " << r.err;
        EXPECT_TRUE(contains(r.err, "warning: '" + file.string() + "': the length record holds"))
            << cmd << ": " << r.err;
    }
    EXPECT_EQ(tree(t_ / "xt"), tree(t_ / "app"));

    // Extracting a sound copy where a file stands says so in plain words.
    write_file(t_ / "a-file", "x");
    PackRun r = run_pack({"extract", exe.string(), (t_ / "a-file").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zobrel-pack: error: cannot extract into '" + (t_ / "a-file").string() +
                         "': it is a file, not a folder; nothing was written\n");
    EXPECT_EQ(read_file(t_ / "a-file"), "x");
}

TEST_F(Cli, RandomDamageIsReportedWithoutCrashing)
{
    make_app(t_ / "app");
    const fs::path exe = t_ / "good.exe";
    ASSERT_EQ(build(t_ / "app", exe).status, 0);
    const std::string good = read_file(exe);
    const auto [blob, offset] = payload_of(exe);
    unsigned seed = 12345;
    auto next = [&](uint64_t n) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<uint64_t>(seed >> 8) % n;
    };
    for (int i = 0; i < 60; ++i) {
        std::string bad = good;
        switch (i % 3) {
        case 0:
            bad[next(1024)] ^= static_cast<char>(1 + next(255));
            break;  // headers
        case 1:
            bad[offset + next(blob.size())] ^= static_cast<char>(1 + next(255));
            break;  // payload
        case 2:
            bad.resize(offset + next(blob.size()));
            break;  // cut short
        }
        const fs::path file = t_ / "bad.exe";
        write_file(file, bad);
        for (const char *cmd : {"list", "verify", "extract"}) {
            std::vector<std::string> args{cmd, file.string()};
            if (std::string(cmd) == "extract") args.push_back((t_ / "x" / std::to_string(i)).string());
            PackRun r = run_pack(args);
            EXPECT_TRUE(r.status == 0 || r.status == 1)
                << cmd << " case " << i << " ended with " << r.status << r.err;
            if (i % 3 == 2) {
                EXPECT_EQ(r.status, 1) << cmd << " accepted a truncated file";
            }
        }
    }
}

// A main program Windows would start, for archives made by hand.
const std::string PROGRAM = zt::make_pe(0x8664, 3);

// A packed-looking file made by hand, for archives the packer itself would never write.
fs::path crafted_exe(const TempDir &t, const std::string &archive)
{
    const fs::path exe = t / "crafted.exe";
    write_file(exe, zt::make_pe(0x8664, 3,
                                {{".text", "code"},
                                 {".zobrel", zt::make_blob(archive)},
                                 {".zobinfo", zt::make_constants(archive)}}));
    return exe;
}

TEST_F(Cli, VerifyChecksEveryStoredChecksumAndName)
{
    const std::string empty;
    EXPECT_EQ(
        run_pack({"verify", crafted_exe(t_, zt::make_archive({{u"m.exe", PROGRAM}, {u"e", ""}})).string()})
            .status,
        0)
        << "the hand-made file is a valid packed file";
    struct Case {
        const char *what;
        std::string archive;
        const char *message;
    } cases[] = {
        {"empty content stored with 0",
         zt::make_archive({{u"m.exe", PROGRAM}, {u"e", ""}}, {stored_checksum_of(PROGRAM), 0}),
         "stored checksum 00000000"},
        {"wrong checksum", zt::make_archive({{u"m.exe", PROGRAM}}, {0x12345678u}),
         "stored checksum 12345678"},
        {"bad name", zt::make_archive({{u"m.exe", PROGRAM}, {u"..\\up", "y"}}), "'..'"},
        {"duplicate", zt::make_archive({{u"m.exe", PROGRAM}, {u"m.exe", "y"}}), "twice"},
        {"no records", zt::make_archive({}), "no records"},
        {"a main program cut short",
         zt::make_archive(
             {{u"m.exe", zt::make_pe(0x8664, 3, {{".text", std::string(8192, 'c')}}).substr(0, 4096)}}),
         "record 1 'm.exe': the main program is truncated: its section .text runs to byte"},
        {"a main program that is no program", zt::make_archive({{u"m.exe", "MZ"}}),
         "record 1 'm.exe': the main program is not a Windows executable"},
        {"a main program Windows does not start", zt::make_archive({{u"m.exe", zt::make_pe(0x8664, 1)}}),
         "record 1 'm.exe': the main program is a program of subsystem 1 (native)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        PackRun r = run_pack({"verify", crafted_exe(t_, c.archive).string()});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    }
}

TEST_F(Cli, ListShowsTheIndexAndVerifyHoldsItAndTheConstantsToThePayload)
{
    const std::string archive = zt::make_archive({{u"m.exe", PROGRAM}, {u"lib\\a.dll", "aa"}});
    const std::string blob = zt::make_blob(archive);
    auto exe = [&](const std::string &constants) {
        const fs::path file = t_ / "c.exe";
        std::vector<zt::FakeSection> sections{{".text", "code"}, {".zobrel", blob}};
        if (!constants.empty()) sections.push_back({".zobinfo", constants});
        write_file(file, zt::make_pe(0x8664, 3, sections));
        return file.string();
    };
    const std::string agreeing = zt::make_constants(archive);
    PackRun listed = run_pack({"list", exe(agreeing)});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_TRUE(contains(listed.out, "lib\\a.dll")) << listed.out;
    EXPECT_EQ(listed.err, "") << "listed from the index";
    EXPECT_EQ(run_pack({"verify", exe(agreeing)}).status, 0);

    std::string damaged = agreeing;
    damaged[damaged.size() - 3] ^= 1;
    std::string broken = agreeing;
    broken[0] ^= 1;  // the magic
    // Whole constants whose record index fails its own CRC-32.
    std::string index = record_index_value({{u"m.exe", PROGRAM.size(), stored_checksum_of(PROGRAM)},
                                            {u"lib\\a.dll", 2, stored_checksum_of("aa")}});
    index[4] ^= 1;
    std::vector<ConstantValue> values;
    for (uint32_t key = CONSTANT_TARGET_SPEC; key <= CONSTANT_PRODUCT_VERSION; ++key)
        values.push_back({key, constant_text(u"x")});
    values.push_back({CONSTANT_RECORD_INDEX, index});
    struct Case {
        const char *what;
        std::string constants;
        const char *message;
    } cases[] = {
        {"index of another archive",
         zt::make_constants(zt::make_archive({{u"m.exe", PROGRAM}, {u"lib\\b.dll", "aa"}})),
         "the record index says 'lib\\b.dll'"},
        {"index with a record less", zt::make_constants(zt::make_archive({{u"m.exe", PROGRAM}})),
         "the record index lists 1 record, the payload holds 2"},
        {"damaged constants", damaged, "CRC-32 does not match"},
        {"constants of a broken layout", broken, "their layout does not hold"},
        {"no constants", "", "no .zobinfo section"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        PackRun r = run_pack({"verify", exe(c.constants)});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    }
    // An index that fails its own CRC-32 in whole constants is not used: the
    // launcher unpacks from the stream, so verify only warns.
    PackRun unused = run_pack({"verify", exe(write_constants_block(values))});
    EXPECT_EQ(unused.status, 0) << unused.err;
    EXPECT_TRUE(
        contains(unused.err, "warning: '" + (t_ / "c.exe").string() + "': its record index is damaged"))
        << unused.err;
    // Without a usable index, list reads the payload itself and says so.
    PackRun fallback = run_pack({"list", exe("")});
    EXPECT_EQ(fallback.status, 0) << fallback.err;
    EXPECT_TRUE(contains(fallback.out, "lib\\a.dll")) << fallback.out;
    EXPECT_TRUE(contains(fallback.err, "listing what the payload holds")) << fallback.err;
}

// A file no packer made may hold a target specification the launcher
// refuses to expand: info shows everything else, and says so.
TEST_F(Cli, InfoSaysWhenTheLauncherCannotExpandTheTargetSpecification)
{
    const std::string blob = zt::make_blob(zt::make_archive({{u"m.exe", PROGRAM}}));
    const fs::path file = t_ / "c.exe";
    for (const std::u16string &spec :
         {std::u16string(u"{NOPE}\\x"), std::u16string(u"C:\\a}b"),
          std::u16string(u"{CACHE_DIR}\\{UNPACK_DIR}"), std::u16string(u"{ENV:HOME}\\{PID}"),
          u"C:\\{" + std::u16string(1024, u'K') + u"{PID}"}) {
        std::vector<ConstantValue> values;
        for (uint32_t key = CONSTANT_TARGET_SPEC; key <= CONSTANT_PRODUCT_VERSION; ++key)
            values.push_back({key, constant_text(key == CONSTANT_TARGET_SPEC ? spec : u"x")});
        write_file(
            file,
            zt::make_pe(0x8664, 3,
                        {{".text", "code"}, {".zobrel", blob}, {".zobinfo", write_constants_block(values)}}));
        PackRun r = run_pack({"info", file.string()});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(
            contains(r.out, "unpack dir:      (none: its launcher cannot expand the target specification)\n"))
            << r.out;
        EXPECT_TRUE(contains(r.out, "varies per run:  no\n")) << r.out;
    }
}

TEST_F(Cli, OfTwoSectionsOfOneNameTheFirstCountsAsForTheLauncher)
{
    const std::string archive = zt::make_archive({{u"m.exe", PROGRAM}});
    const std::string good = zt::make_blob(archive);
    const std::string bad = "q" + good.substr(1);
    auto exe = [&](const std::string &first, const std::string &second) {
        const fs::path file = t_ / "two.exe";
        write_file(file, zt::make_pe(0x8664, 3,
                                     {{".text", "code"},
                                      {".zobrel", first},
                                      {".zobrel", second},
                                      {".zobinfo", zt::make_constants(archive)}}));
        return file.string();
    };
    EXPECT_EQ(run_pack({"verify", exe(good, bad)}).status, 0);
    PackRun verified = run_pack({"verify", exe(bad, good)});
    EXPECT_EQ(verified.status, 1);
    EXPECT_TRUE(contains(verified.err, "does not start with \"QJY\"")) << verified.err;
    // list still lists from the index, and warns.
    PackRun listed = run_pack({"list", exe(bad, good)});
    EXPECT_EQ(listed.status, 0);
    EXPECT_TRUE(contains(listed.err, "warning: '" + exe(bad, good) +
                                         "': payload damaged: the payload does not start with \"QJY\""))
        << listed.err;
    EXPECT_TRUE(contains(listed.out, "m.exe")) << listed.out;
}

// Executables made from a whole one with one fault each that the Windows
// loader or the launcher would refuse: verify fails and says why, list
// still lists what it can and warns, extract writes nothing.
TEST_F(Cli, VerifyFailsWhereTheLoaderOrTheLauncherWouldListWarnsExtractRefuses)
{
    make_app(t_ / "app");
    const fs::path exe = t_ / "good.exe";
    ASSERT_EQ(build(t_ / "app", exe).status, 0);
    const std::string good = read_file(exe);
    zobrel::PeImage m;
    ASSERT_EQ(zobrel::parse_pe_headers(reinterpret_cast<const unsigned char *>(good.data()), good.size(), m),
              "");
    auto edited = [&](size_t at, uint32_t value) {
        std::string b = good;
        write_le32(reinterpret_cast<unsigned char *>(&b[at]), value);
        return b;
    };
    const size_t optional = m.optional_header_offset;
    struct Case {
        std::string what;
        std::string bytes;
        std::string message;
    };
    std::vector<Case> cases;
    // Cut at every section boundary: where each one's raw data starts and
    // (but for the last, whose end is the file's) ends.
    for (size_t i = 0; i < m.sections.size(); ++i) {
        const zobrel::PeSection &s = m.sections[i];
        if (s.raw_size == 0) continue;
        cases.push_back({"cut at the start of " + s.name, good.substr(0, s.raw_offset),
                         "the file is truncated: section " + s.name});
        for (size_t next = i + 1; next < m.sections.size(); ++next) {
            if (m.sections[next].raw_size == 0) continue;
            cases.push_back({"cut at the end of " + s.name, good.substr(0, s.raw_offset + s.raw_size),
                             "the file is truncated: section " + m.sections[next].name});
            break;
        }
    }
    // And inside the headers.
    cases.push_back({"cut in the DOS header", good.substr(0, 0x3C), "not a packed executable"});
    cases.push_back({"cut in the section table", good.substr(0, m.section_table_offset + 60),
                     "its section table is truncated"});
    cases.push_back({"cut at the end of the headers", good.substr(0, m.size_of_headers - 1),
                     "the file is truncated: its headers"});
    const zobrel::PeSection &last = m.sections.back();
    const size_t last_header = m.section_table_offset + 40 * (m.sections.size() - 1);
    cases.push_back(
        {"SizeOfImage too large", edited(optional + 56, m.size_of_image + 0x1000), "SizeOfImage"});
    cases.push_back(
        {"FileAlignment not a power of two", edited(optional + 36, 0x300), "FileAlignment (768)"});
    cases.push_back({"a gap before the last section", edited(last_header + 12, last.virtual_address + 0x1000),
                     "section " + last.name + " does not follow"});
    cases.push_back({"the last section over the one before",
                     edited(last_header + 12, last.virtual_address - 0x1000),
                     "section " + last.name + " overlaps"});
    cases.push_back({"entry point outside", edited(optional + 16, m.size_of_image + 16), "entry point"});
    cases.push_back(
        {"resources outside the image", edited(optional + 112 + 8 * 2 + 4, 0x7FFFFFF), "resource directory"});
    auto crafted = [&](const std::string &archive) { return read_file(crafted_exe(t_, archive)); };
    cases.push_back(
        {"two names some Windows takes for one file",
         crafted(zt::make_archive({{u"m.exe", PROGRAM}, {u"d\\\u0101.txt", "a"}, {u"D\\\u0100.TXT", "A"}})),
         "both 'd\\\xC4\x81.txt' and 'D\\\xC4\x80.TXT', which some Windows takes for one file"});
    cases.push_back(
        {"a file and a folder of one name",
         crafted(zt::make_archive({{u"m.exe", PROGRAM}, {u"lib\\\u01C6", "a"}, {u"LIB\\\u01C5\\x", "A"}})),
         "the file 'lib\\\xC7\x86' and 'LIB\\\xC7\x85\\x': on Windows a file and a folder cannot share a "
         "name"});

    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir box;
        const fs::path file = box / "bad.exe";
        write_file(file, c.bytes);
        PackRun v = run_pack({"verify", file.string()});
        EXPECT_EQ(v.status, 1) << v.out;
        EXPECT_TRUE(contains(v.err, c.message)) << v.err;
        PackRun l = run_pack({"list", file.string()});
        EXPECT_TRUE(contains(l.err, c.message)) << l.err;
        if (l.status == 0) {
            EXPECT_TRUE(contains(l.err, "warning: '" + file.string() + "'")) << l.err;
            EXPECT_TRUE(contains(l.out, "m.exe") || contains(l.out, "main.exe")) << l.out;
        }
        PackRun x = run_pack({"extract", file.string(), (box / "dest").string()});
        EXPECT_EQ(x.status, 1);
        EXPECT_TRUE(contains(x.err, c.message)) << x.err;
        EXPECT_FALSE(fs::exists(box / "dest"));
    }
}

// A packed executable's bytes with its build constants rewritten: their
// values, in order, through `edit`, laid out again in place.
std::string with_constants(const std::string &exe,
                           const std::function<void(std::vector<ConstantValue> &)> &edit)
{
    zobrel::PeImage image;
    EXPECT_EQ(
        zobrel::parse_pe_headers(reinterpret_cast<const unsigned char *>(exe.data()), exe.size(), image), "");
    const zobrel::PeSection *info = zobrel::find_section(image, ".zobinfo");
    const unsigned char *block = reinterpret_cast<const unsigned char *>(exe.data()) + info->raw_offset;
    std::vector<ConstantValue> values;
    for (uint32_t i = 0; i < read_le32(block + 16); ++i) {
        const ConstantEntry e = read_constant_entry(block, i);
        values.push_back({e.key, std::string(reinterpret_cast<const char *>(block) + e.offset, e.size)});
    }
    edit(values);
    const std::string rewritten = write_constants_block(values);
    EXPECT_LE(rewritten.size(), info->raw_size);
    std::string out = exe;
    out.replace(info->raw_offset, info->raw_size,
                rewritten + std::string(info->raw_size - rewritten.size(), '\0'));
    const size_t header = image.section_table_offset + 40 * static_cast<size_t>(info - image.sections.data());
    write_le32(reinterpret_cast<unsigned char *>(&out[header + 8]), static_cast<uint32_t>(rewritten.size()));
    return out;
}

// verify holds the launcher part byte for byte to the launcher the build
// constants name, all but the fields the packer and a signature set; an
// executable that names none, or one this zobrel-pack does not carry, is
// verified but for its launcher, with a warning. info names the launcher.
TEST_F(Cli, VerifyHoldsTheLauncherToTheOneItWasMadeFrom)
{
    make_app(t_ / "app");
    for (const char *subsystem : {"console", "windows"}) {
        SCOPED_TRACE(subsystem);
        const std::string shown = std::string(subsystem) == "console" ? "console" : "windowed";
        const fs::path exe = t_ / "l.exe";
        ASSERT_EQ(build(t_ / "app", exe, {"--subsystem", subsystem}).status, 0);
        const std::string good = read_file(exe);
        PackRun whole = run_pack({"verify", exe.string()});
        EXPECT_EQ(whole.status, 0) << whole.err;
        EXPECT_EQ(whole.err, "");
        PackRun info = run_pack({"info", "--json", exe.string()});
        EXPECT_TRUE(contains(info.out, "\"launcher\": \"" + shown + "\",\n")) << info.out;

        zobrel::PeImage m;
        ASSERT_EQ(zobrel::read_pe_headers(exe, m), "");
        const size_t optional = m.optional_header_offset;
        const zobrel::PeSection &text = m.sections.front(), &data = m.sections[2];
        const std::string made_from = "its launcher is not the " + shown + " launcher it was made from: ";
        auto changed = [&](size_t at) {
            std::string b = good;
            b[at] = static_cast<char>(b[at] ^ 0x10);
            return b;
        };
        struct Case {
            std::string what;
            std::string bytes;
            std::string problem;  // "" when verify passes
            // The image still loads: every other check passes (list, which
            // reads all but the launcher's bytes, finds nothing wrong), so
            // only the comparison with the launcher can catch it.
            bool loads = false;
        } cases[] = {
            {"a byte of its code", changed(text.raw_offset + text.raw_size / 2),
             made_from + "byte " + std::to_string(text.raw_offset + text.raw_size / 2) + " (in section " +
                 text.name + ") differs",
             true},
            {"a byte of its data", changed(data.raw_offset + 7), "(in section " + data.name + ") differs",
             true},
            {"its code section's flags", changed(m.section_table_offset + 39), "(in its headers) differs"},
            {"its code section's raw size", changed(m.section_table_offset + 17), "(in its headers) differs"},
            {"its stack size", changed(optional + 74), "(in its headers) differs", true},
            {"its DOS stub", changed(0x50), "byte 80 (in its headers) differs", true},
            {"its checksum, which the packer sets", changed(optional + 64), ""},
            {"its initialized data size, which the packer sets", changed(optional + 9), ""},
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            write_file(t_ / "d.exe", c.bytes);
            PackRun v = run_pack({"verify", (t_ / "d.exe").string()});
            if (c.problem.empty()) {
                EXPECT_EQ(v.status, 0) << v.err;
                EXPECT_FALSE(contains(v.err, "launcher")) << v.err;
                continue;
            }
            EXPECT_EQ(v.status, 1);
            EXPECT_TRUE(contains(v.err, made_from) && contains(v.err, c.problem)) << v.err;
            if (c.loads) {
                PackRun l = run_pack({"list", (t_ / "d.exe").string()});
                EXPECT_EQ(l.status, 0) << l.err;
                EXPECT_EQ(l.err, "") << "only the launcher's bytes differ";
            }
            PackRun x = run_pack({"extract", (t_ / "d.exe").string(), (t_ / "dx").string()});
            EXPECT_EQ(x.status, 1);
            EXPECT_FALSE(fs::exists(t_ / "dx"));
        }
    }

    // Made from a launcher this zobrel-pack does not carry, or naming none:
    // nothing to compare with, damaged or not.
    const fs::path exe = t_ / "l.exe";
    ASSERT_EQ(build(t_ / "app", exe).status, 0);
    zobrel::PeImage m;
    ASSERT_EQ(zobrel::read_pe_headers(exe, m), "");
    std::string damaged = read_file(exe);
    damaged[m.sections.front().raw_offset + 100] ^= 1;
    struct Foreign {
        const char *what;
        std::function<void(std::vector<ConstantValue> &)> edit;
        const char *warning;
    } foreign[] = {
        {"another version's launcher",
         [](std::vector<ConstantValue> &values) {
             for (ConstantValue &v : values) {
                 if (v.key == CONSTANT_LAUNCHER) v.bytes[5] ^= 1;
             }
         },
         "its launcher code was not checked: it was made from a launcher this zobrel-pack does not carry"},
        {"no launcher named",
         [](std::vector<ConstantValue> &values) {
             const size_t before = values.size();
             values.erase(std::remove_if(values.begin(), values.end(),
                                         [](const ConstantValue &v) { return v.key == CONSTANT_LAUNCHER; }),
                          values.end());
             EXPECT_EQ(values.size(), before - 1);
         },
         "its launcher code was not checked: it does not name the launcher it was made from"},
    };
    for (const Foreign &f : foreign) {
        SCOPED_TRACE(f.what);
        write_file(t_ / "f.exe", with_constants(damaged, f.edit));
        PackRun v = run_pack({"verify", (t_ / "f.exe").string()});
        EXPECT_EQ(v.status, 0) << v.err;
        EXPECT_TRUE(contains(v.err, "warning: '" + (t_ / "f.exe").string() + "': " + f.warning)) << v.err;
        PackRun info = run_pack({"info", (t_ / "f.exe").string()});
        EXPECT_TRUE(contains(info.out, "(not one this zobrel-pack carries)\n")) << info.out;
    }
}

TEST_F(Cli, ExtractOfADamagedPayloadWritesNothing)
{
    std::string big = pseudo_random(600000, 4);
    for (char &c : big) c = static_cast<char>(c % 7);  // compressible: real blocks, not raw ones
    const std::string archive = zt::make_archive({{u"m.exe", PROGRAM}, {u"big.bin", big}});
    struct Case {
        const char *what;
        std::string exe_bytes;
    } cases[] = {
        // The second record's content does not match its stored checksum.
        {"checksum", read_file(crafted_exe(t_, zt::make_archive({{u"m.exe", PROGRAM}, {u"big.bin", big}},
                                                                {0x8cdc1683u, 0x12345678u})))},
        // Damage inside the frame's blocks, in the second record's content:
        // the decoder fails there, or the content comes out wrong.
        {"damaged frame",
         [&] {
             std::string blob = zt::make_blob(archive);
             for (size_t i = blob.size() / 2; i < blob.size() / 2 + 64; ++i) blob[i] = 0;
             return zt::make_pe(
                 0x8664, 3,
                 {{".text", "code"}, {".zobrel", blob}, {".zobinfo", zt::make_constants(archive)}});
         }()},
        // Two names some Windows takes for one file, after a whole first one.
        {"clash", read_file(crafted_exe(
                      t_, zt::make_archive({{u"m.exe", PROGRAM}, {u"\u0101", "a"}, {u"\u0100", "A"}})))},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir box;
        write_file(box / "bad.exe", c.exe_bytes);
        PackRun r = run_pack({"extract", (box / "bad.exe").string(), (box / "dest").string()});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, "refusing to extract '" + (box / "bad.exe").string() + "'")) << r.err;
        EXPECT_FALSE(fs::exists(box / "dest")) << "checked whole before anything is written";
    }
}

TEST_F(Cli, ExtractNeverWritesOutsideItsFolder)
{
    const std::u16string hostile[] = {
        u"..\\evil.txt", u"\\evil.txt", u"C:\\evil.txt", u"a\\..\\..\\evil.txt", u"sub\\/evil.txt",
        u"sub:evil.txt", u"."};
    for (const std::u16string &name : hostile) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        TempDir box;
        const fs::path exe = crafted_exe(box, zt::make_archive({{u"m.exe", PROGRAM}, {name, "evil"}}));
        fs::create_directories(box / "in" / "dest");
        PackRun r = run_pack({"extract", exe.string(), (box / "in" / "dest").string()});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(contains(r.err, "refusing")) << r.err;
        for (const auto &e : fs::recursive_directory_iterator(box.path())) {
            EXPECT_NE(e.path().filename(), "evil.txt") << e.path();
        }
    }
    // A link already inside the folder is not written through.
    TempDir box;
    const fs::path exe =
        crafted_exe(box, zt::make_archive({{u"m.exe", PROGRAM}, {u"sub\\evil.txt", "evil"}}));
    fs::create_directories(box / "dest");
    fs::create_directories(box / "elsewhere");
    fs::create_directory_symlink(box / "elsewhere", box / "dest" / "sub");
    PackRun r = run_pack({"extract", exe.string(), (box / "dest").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "symbolic link")) << r.err;
    EXPECT_FALSE(fs::exists(box / "elsewhere" / "evil.txt"));
}

// Usage errors end with 2, refusals of the input with 1, and neither
// leaves anything behind.
TEST_F(Cli, UsageErrorsEndWithTwoRefusalsOfTheInputWithOne)
{
    make_app(t_ / "app");
    write_file(t_ / "text.ico", "not an icon");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *message;
    } cases[] = {
        // What the command line alone decides.
        {{"--file-version", "1.2"}, 2, "option --file-version: '1.2'"},
        {{"--progress-message", "Unpacking"}, 2, "needs --progress"},
        {{"--product", ""}, 2, "option --product"},
        {{"--company", "\xFF"}, 2, "option --company"},
        {{"--target-spec", "{NOPE}"}, 2, "unknown key"},
        {{"--target-spec", "relative\\x"}, 2, "absolute"},
        {{"--arg", "{TEMP"}, 2, "not closed"},
        {{"--env", "NOVALUE"}, 2, "NAME=VALUE"},
        {{"--keep-builds", "2", "--target-spec", "{TEMP}\\fixed"}, 2, "last folder"},
        {{"--main", "../main.exe"}, 2, "not inside"},
        {{"--main", "/main.exe"}, 2, "not inside"},
        {{"--icon", "x.ico", "--icon-from-main"}, 2, "--icon and --icon-from-main"},
        {{"--exclude", "main.exe"}, 2, "option --exclude 'main.exe': it leaves out the main program"},
        {{"--exclude", "../x"}, 2, "'..'"},
        {{"--description", std::string(33000, 'd')}, 2, "64 KiB"},
        {{"--level", "23"}, 2, "--level"},
        // What the files say.
        {{"--main", "missing.exe"}, 1, "not found"},
        {{"--main", "lib\\missing.exe"},
         1,
         "lib/missing.exe' not found"},  // '\' is a separator on any packer
        {{"--icon", "@T/text.ico"}, 1, "not a usable .ico"},
        {{"--icon", "@T/missing.ico"}, 1, "--icon"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        fs::create_directories(t_ / "refused");
        std::vector<std::string> args;
        for (std::string a : c.args)
            args.push_back(a.compare(0, 2, "@T") == 0 ? t_.path().string() + a.substr(2) : a);
        PackRun r = build(t_ / "app", t_ / "refused" / "x.exe", args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
        EXPECT_EQ(contains(r.err, "(see 'zobrel-pack build --help')"), c.status == 2) << r.err;
        EXPECT_TRUE(fs::is_empty(t_ / "refused"));
    }
}

// One run names every file the folder cannot carry: the first 20, then how
// many more; each line a refusal of its own.
TEST_F(Cli, EveryRefusedFileIsNamedInOneRun)
{
    make_app(t_ / "app");
    for (int i = 0; i < 23; ++i) write_file(t_ / "app" / "bad" / ("n" + std::to_string(100 + i) + ":x"), "x");
    write_file(t_ / "app" / "EMPTY.TXT", "clash");
    write_file(t_ / "app" / "Lib", "clash with a folder");
    fs::create_symlink("/etc/hostname", t_ / "app" / "out.lnk");
    fs::create_directories(t_ / "out");
    PackRun r = build(t_ / "app", t_ / "out" / "x.exe");
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> lines;
    std::istringstream in(r.err);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 21u) << r.err;
    for (size_t i = 0; i < 20; ++i) EXPECT_EQ(lines[i].rfind("zobrel-pack: error: ", 0), 0u) << lines[i];
    EXPECT_EQ(lines[20], "zobrel-pack: error: and 6 more files that cannot be carried");
    EXPECT_TRUE(contains(r.err, "n100:x")) << r.err;
    EXPECT_TRUE(fs::is_empty(t_ / "out"));
    // The same folder without the names: the two clashes and the link, all three.
    fs::remove_all(t_ / "app" / "bad");
    r = build(t_ / "app", t_ / "out" / "x.exe");
    EXPECT_EQ(r.status, 1);
    for (const char *named : {"'EMPTY.TXT' and 'empty.txt'", "the file 'Lib' and 'lib/", "out.lnk"})
        EXPECT_TRUE(contains(r.err, named)) << named << " in: " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 3) << r.err;
}

// --exclude: what a pattern leaves out is neither packed nor checked, list
// shows what was packed, and the result is byte for byte the build of the
// folder without those files.
TEST_F(Cli, ExcludedFilesAreNeitherPackedNorCheckedAndListShowsWhatWasPacked)
{
    make_app(t_ / "app");
    make_app(t_ / "plain");
    fs::remove_all(t_ / "plain" / "lib" / "deep");
    fs::remove(t_ / "plain" / "crc zero.bin");
    fs::remove(t_ / "app" / "emptydir");
    fs::remove(t_ / "plain" / "emptydir");
    // What only the excluded folder and names hold: unpackable, and never looked at.
    write_file(t_ / "app" / "lib" / "deep" / "bad:name", "x");
    fs::create_symlink("/nowhere", t_ / "app" / "lib" / "deep" / "dangling");
    write_file(t_ / "app" / "symbols" / "main.PDB", "pdb");
    write_file(t_ / "app" / "lib" / "core.pdb", "pdb");
    const std::vector<std::string> excludes = {"--exclude", "lib/deep",   "--exclude", "*.pdb",
                                               "--exclude", "crc ?ero.*", "--exclude", "symbols\\"};
    const fs::path exe = t_ / "x.exe";
    PackRun r = build(t_ / "app", exe, excludes);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(contains(r.err, "warning")) << r.err;
    PackRun listed = run_pack({"list", exe.string()});
    ASSERT_EQ(listed.status, 0) << listed.err;
    for (const char *gone : {"deep", ".pdb", ".PDB", "crc zero"})
        EXPECT_FALSE(contains(listed.out, gone)) << listed.out;
    for (const char *kept : {"main.exe", "lib\\core.dll", "empty.txt"})
        EXPECT_TRUE(contains(listed.out, kept)) << listed.out;
    ASSERT_EQ(build(t_ / "plain", t_ / "plain.exe").status, 0);
    EXPECT_TRUE(read_file(exe) == read_file(t_ / "plain.exe")) << "not the build of the folder without them";

    // A pattern that matches nothing is a warning; the build goes on.
    PackRun unused =
        build(t_ / "app", t_ / "u.exe",
              {"--exclude", "lib/deep", "--exclude", "*.pbd", "--exclude", "symbols", "--exclude", "*.pdb"});
    EXPECT_EQ(unused.status, 0) << unused.err;
    EXPECT_TRUE(contains(unused.err, "warning: option --exclude '*.pbd': it matches nothing")) << unused.err;
    // The main program, or a folder that holds it, cannot be left out.
    write_file(t_ / "app" / "bin" / "tool.exe", zt::make_pe(0x8664, 3));
    fs::create_directories(t_ / "refused");
    for (const char *pattern : {"bin", "*.EXE", "/bin/**", "tool*"}) {
        SCOPED_TRACE(pattern);
        std::vector<std::string> args = build_args(t_ / "app", t_ / "refused" / "x.exe", "bin\\tool.exe");
        args.insert(args.end(), {"--exclude", pattern});
        PackRun refused = run_pack(args);
        EXPECT_EQ(refused.status, 2);
        EXPECT_TRUE(contains(refused.err, std::string("option --exclude '") + pattern +
                                              "': it leaves out the main program 'bin/tool.exe'"))
            << refused.err;
        EXPECT_TRUE(fs::is_empty(t_ / "refused"));
    }
    // Unless a later pattern takes it back.
    std::vector<std::string> args = build_args(t_ / "app", t_ / "k.exe", "bin/tool.exe");
    args.insert(args.end(), {"--exclude", "*.exe", "--exclude", "!tool.exe", "--exclude", "lib/deep",
                             "--exclude", "*.pdb"});
    PackRun kept = run_pack(args);
    ASSERT_EQ(kept.status, 0) << kept.err;
    PackRun k = run_pack({"list", (t_ / "k.exe").string()});
    EXPECT_TRUE(contains(k.out, "bin\\tool.exe")) << k.out;
    EXPECT_FALSE(contains(k.out, "  main.exe")) << k.out;
}

// --main takes '\' as well as '/' on every packer: the same build.
TEST_F(Cli, MainTakesBackslashesAsSeparators)
{
    make_app(t_ / "app");
    write_file(t_ / "app" / "bin" / "x64" / "tool.exe", zt::make_pe(0x8664, 3));
    ASSERT_EQ(run_pack(build_args(t_ / "app", t_ / "slash.exe", "bin/x64/tool.exe")).status, 0);
    PackRun backslash = run_pack(build_args(t_ / "app", t_ / "backslash.exe", "bin\\x64\\tool.exe"));
    ASSERT_EQ(backslash.status, 0) << backslash.err;
    EXPECT_TRUE(read_file(t_ / "slash.exe") == read_file(t_ / "backslash.exe"));
    PackRun info = run_pack({"info", (t_ / "backslash.exe").string()});
    EXPECT_TRUE(contains(info.out, "product:         tool\n"))
        << "the product is the name without its folders: " << info.out;
    EXPECT_TRUE(contains(info.out, "main:            bin\\x64\\tool.exe\n")) << info.out;
}

// A folder key run into a name in --arg, --env, --target-spec or
// --progress-message: a warning naming the option and the value; the build
// goes on as given.
TEST_F(Cli, ALostBackslashAfterAFolderKeyIsWarnedAbout)
{
    make_app(t_ / "app");
    struct Case {
        std::vector<std::string> args;
        const char *warning;  // "" for none
    } cases[] = {
        {{"--arg", "{UNPACK_DIR}appmain.py"},
         "warning: option --arg '{UNPACK_DIR}appmain.py': 'a' follows {UNPACK_DIR}"},
        {{"--env", "PYTHONHOME={UNPACK_DIR}python"},
         "warning: option --env 'PYTHONHOME={UNPACK_DIR}python': 'p' follows"},
        {{"--target-spec", "{CACHE_DIR}MyApp"},
         "warning: option --target-spec '{CACHE_DIR}MyApp': 'M' follows"},
        {{"--progress", "--progress-message", "Into {TEMP}x"},
         "warning: option --progress-message 'Into {TEMP}x'"},
        {{"--arg", "{UNPACK_DIR}\\app\\main.py", "--env", "P={UNPACK_DIR};{TEMP}\\x", "--target-spec",
          "{CACHE_DIR}\\MyApp"},
         ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.back());
        PackRun r = build(t_ / "app", t_ / "w.exe", c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        if (*c.warning) {
            EXPECT_TRUE(contains(r.err, c.warning)) << r.err;
            EXPECT_TRUE(contains(r.err, "backslash")) << r.err;
        } else {
            EXPECT_FALSE(contains(r.err, "backslash")) << r.err;
        }
    }
}

TEST_F(Cli, AnOutputWithoutExeIsWarnedAbout)
{
    make_app(t_ / "app");
    for (const char *name : {"tool", "tool.ex", "tool.exe.tmp"}) {
        PackRun r = build(t_ / "app", t_ / name);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(
            contains(r.err, "warning: the output '" + (t_ / name).string() + "' does not end in .exe"))
            << r.err;
    }
    for (const char *name : {"tool.exe", "TOOL.EXE"}) {
        PackRun r = build(t_ / "app", t_ / name);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(contains(r.err, "does not end in .exe")) << r.err;
    }
}

TEST(Help, LevelSaysWhatItTrades)
{
    PackRun r = run_pack({"build", "--help"});
    ASSERT_EQ(r.status, 0);
    for (const char *text : {"smaller", "longer to pack", "unpacking takes about as long", "--exclude",
                             "--icon-from-main", "--description", "--copyright", "Exit status"})
        EXPECT_TRUE(contains(r.out, text)) << text << " in:\n" << r.out;
}

// The executable's resources, read back as the system's loader finds them.
zobrel::ResourceSection resources_of(const fs::path &exe)
{
    std::optional<zobrel::ResourceSection> section = zobrel::read_resource_section(exe);
    EXPECT_TRUE(section.has_value()) << exe;
    return section.value_or(zobrel::ResourceSection{});
}

// --icon-from-main: the main program's first icon group, the one Explorer
// shows, carried byte for byte: the group's directory and every image it
// names, at their ids; nothing of its other groups. A main program without
// an icon: a warning and none.
TEST_F(Cli, IconFromMainCarriesTheMainProgramsFirstIconGroupWhole)
{
    // winecfg.exe has two groups (100, then 102), notepad.exe one (768).
    for (const std::string program : {"winecfg.exe", "notepad.exe"}) {
        SCOPED_TRACE(program);
        const fs::path app = t_ / program;
        write_file(app / "prog.exe", read_file(WINE_PROGRAMS / program));
        const fs::path exe = t_ / (program + ".packed.exe");
        PackRun r = run_pack({"build", app.string(), "--main", "prog.exe", "-o", exe.string(), "--level", "1",
                              "--icon-from-main"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(contains(r.err, "warning")) << r.err;
        std::string why;
        const std::optional<zobrel::IconGroup> original =
            zobrel::first_icon_group(resources_of(app / "prog.exe"), &why);
        ASSERT_TRUE(original.has_value()) << why;
        const zobrel::ResourceSection packed = resources_of(exe);
        const std::optional<std::string> group =
            zobrel::find_resource(packed.bytes, packed.rva, zobrel::RESOURCE_GROUP_ICON, 1);
        ASSERT_TRUE(group.has_value());
        EXPECT_TRUE(*group == original->directory) << "the group's directory, byte for byte";
        ASSERT_GE(original->images.size(), 1u);
        for (const auto &[id, image] : original->images) {
            const std::optional<std::string> carried =
                zobrel::find_resource(packed.bytes, packed.rva, zobrel::RESOURCE_ICON, id);
            ASSERT_TRUE(carried.has_value()) << "image " << id;
            EXPECT_TRUE(*carried == image) << "image " << id << ", byte for byte";
        }
        // Only the first group's images: every icon the packed file holds is one of them.
        std::optional<zobrel::IconGroup> read_back = zobrel::first_icon_group(packed, &why);
        ASSERT_TRUE(read_back.has_value()) << why;
        EXPECT_EQ(read_back->images, original->images);
        EXPECT_EQ(run_pack({"verify", exe.string()}).status, 0);
    }
    // winecfg's first group is 100 and has fewer images than the program holds.
    std::string why;
    const std::optional<zobrel::IconGroup> winecfg =
        zobrel::first_icon_group(resources_of(WINE_PROGRAMS / "winecfg.exe"), &why);
    ASSERT_TRUE(winecfg.has_value());
    const zobrel::ResourceSection all = resources_of(WINE_PROGRAMS / "winecfg.exe");
    EXPECT_EQ(zobrel::find_resource(all.bytes, all.rva, zobrel::RESOURCE_GROUP_ICON, 100),
              winecfg->directory);
    EXPECT_NE(zobrel::find_resource(all.bytes, all.rva, zobrel::RESOURCE_GROUP_ICON, 102), std::nullopt);

    // Wine's hostname.exe has no icon: a warning, and the executable none.
    write_file(t_ / "plain" / "hostname.exe", read_file(WINE_PROGRAMS / "hostname.exe"));
    PackRun none = run_pack({"build", (t_ / "plain").string(), "--main", "hostname.exe", "-o",
                             (t_ / "none.exe").string(), "--level", "1", "--icon-from-main"});
    ASSERT_EQ(none.status, 0) << none.err;
    EXPECT_TRUE(contains(none.err, "warning: option --icon-from-main: the main program '" +
                                       (t_ / "plain" / "hostname.exe").string() +
                                       "' has no icon; the executable gets no icon"))
        << none.err;
    const zobrel::ResourceSection bare = resources_of(t_ / "none.exe");
    EXPECT_EQ(zobrel::find_resource(bare.bytes, bare.rva, zobrel::RESOURCE_GROUP_ICON, 1), std::nullopt);
    EXPECT_EQ(zobrel::find_resource(bare.bytes, bare.rva, zobrel::RESOURCE_ICON, 1), std::nullopt);
    PackRun plain = run_pack({"build", (t_ / "plain").string(), "--main", "hostname.exe", "-o",
                              (t_ / "plain.exe").string(), "--level", "1"});
    ASSERT_EQ(plain.status, 0);
    EXPECT_TRUE(read_file(t_ / "none.exe") == read_file(t_ / "plain.exe")) << "no icon is no icon";
}

// --description and --copyright: FileDescription and LegalCopyright, shown
// by info; without them FileDescription stays PRODUCT.exe and there is no
// LegalCopyright.
TEST_F(Cli, DescriptionAndCopyrightAreInTheVersionResourceAndInfo)
{
    make_app(t_ / "app");
    struct Case {
        std::vector<std::string> args;
        std::u16string description;
        std::optional<std::u16string> copyright;
        const char *text, *json;
    } cases[] = {
        {{},
         u"main.exe",
         std::nullopt,
         "description:     main.exe\ncopyright:       (none)\n",
         "\n  \"description\": \"main.exe\",\n  \"copyright\": \"\",\n  \"launcher_arch\": \"x64\"\n}"},
        {{"--product", "vexor", "--description",
          "Vexor \"the\" \xC3\xA9"
          "diteur",
          "--copyright", "\xC2\xA9 2026 MOLTARN LLC"},
         u"Vexor \"the\" \u00e9diteur",
         u"\u00a9 2026 MOLTARN LLC",
         "description:     Vexor \"the\" \xC3\xA9"
         "diteur\ncopyright:       \xC2\xA9 2026 MOLTARN LLC\n",
         "\"description\": \"Vexor \\\"the\\\" \xC3\xA9"
         "diteur\",\n  \"copyright\": \"\xC2\xA9 2026 MOLTARN LLC\",\n  \"launcher_arch\": \"x64\"\n}"},
        {{"--description=", "--copyright="},
         u"",
         u"",
         "description:     (none)\ncopyright:       (none)\n",
         "\"description\": \"\",\n  \"copyright\": \"\",\n  \"launcher_arch\": \"x64\"\n}"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const fs::path exe = t_ / "d.exe";
        PackRun r = build(t_ / "app", exe, c.args);
        ASSERT_EQ(r.status, 0) << r.err;
        const zobrel::ResourceSection packed = resources_of(exe);
        const std::optional<std::string> version =
            zobrel::find_resource(packed.bytes, packed.rva, zobrel::RESOURCE_VERSION, 1);
        ASSERT_TRUE(version.has_value());
        std::map<std::u16string, std::u16string> strings = zobrel::version_strings(*version);
        EXPECT_EQ(strings[u"FileDescription"], c.description);
        EXPECT_EQ(strings.count(u"LegalCopyright") ? std::optional<std::u16string>(strings[u"LegalCopyright"])
                                                   : std::nullopt,
                  c.copyright);
        PackRun text = run_pack({"info", exe.string()});
        EXPECT_TRUE(contains(text.out, c.text)) << text.out;
        PackRun json = run_pack({"info", "--json", exe.string()});
        EXPECT_TRUE(contains(json.out, c.json)) << json.out;
        EXPECT_LT(json.out.find("\"bytes\""), json.out.find("\"description\"")) << "after the members before";
    }
}

}  // namespace
