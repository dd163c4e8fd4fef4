// Every way the launcher ends early, watched from outside through a probe
// process that ends through the launcher's failure report: the stream, the
// exact bytes (CR LF line ends), and the exit code, for every kind of
// failure a stage can return.
#include <gtest/gtest.h>

#include "launcher/failure_report.h"
#include "process_runner.h"
#include "test_paths.h"

namespace {

RunResult probe(const std::wstring &args, bool prelude = false)
{
    RunOptions options;
    options.command_line = quote_argument(test_program(L"failure_probe.exe")) + L" " + args;
    if (prelude)
        options.set_env.push_back({L"PROBE_PRELUDE", L"1"});
    else
        options.unset_env.push_back(L"PROBE_PRELUDE");
    return run_process(options);
}

struct ReportCase {
    const wchar_t *args;
    const char *out;  // exact bytes expected on standard output
    const char *err;  // exact bytes expected on standard error
    DWORD exit_code;
};

TEST(FailureReport, EachKindWritesItsLineOnItsStreamAndEndsAsItMust)
{
    const ReportCase cases[] = {
        {L"decode", "Error, couldn't decode attached data.\r\n", "", 2},
        {L"header", "Error, couldn't find attached data header.\r\n", "", 2},
        {L"memory", "Error, couldn't allocate memory.\r\n", "", 2},
        {L"signal", "Error, failed to register signal handler.\r\n", "", 2},
        {L"open C:\\dir\\file.dll", "", "Error, failed to open 'C:\\dir\\file.dll' for writing.\r\n", 2},
        // Inserted text is never a format: a percent sign is written as it is.
        {L"\"open\" \"C:\\100% sure\\%s%n.dll\"", "",
         "Error, failed to open 'C:\\100% sure\\%s%n.dll' for writing.\r\n", 2},
        {L"expand {CACHE_DIR}\\x\\{NOPE}", "",
         "Error, couldn't runtime expand spec '{CACHE_DIR}\\x\\{NOPE}'.\r\n", FAIL_FAST_STATUS},
        {L"abort", "", "", FAIL_FAST_STATUS},
        // A character the narrow stream cannot carry shows as '?', and the
        // rest of the path still shows.
        {L"open C:\\\u4E2D\\x.txt", "", "Error, failed to open 'C:\\?\\x.txt' for writing.\r\n", 2},
        {L"expand {TEMP}\\\u4E2D\u6587", "",
         "Error, couldn't runtime expand spec '{TEMP}\\?"
         "?'.\r\n",
         FAIL_FAST_STATUS},
    };
    for (const ReportCase &c : cases) {
        SCOPED_TRACE(narrow(c.args));
        RunResult r = probe(c.args);
        EXPECT_EQ(r.standard_output, c.out);
        EXPECT_EQ(r.standard_error, c.err);
        EXPECT_EQ(r.exit_code, c.exit_code);
    }
}

TEST(FailureReport, CodeLinesCarryTheTrimmedSystemTextAndASignedCode)
{
    const DWORD file_not_found = ERROR_FILE_NOT_FOUND;
    ASSERT_FALSE(system_error_text(file_not_found).empty()) << "the platform has no English text for code 2";

    RunResult r = probe(L"launch 2");
    EXPECT_EQ(r.standard_error, "Error, couldn't launch child ([Error 2] " + system_error_text(2) + ")\r\n");
    EXPECT_EQ(r.standard_output, "");
    EXPECT_EQ(r.exit_code, 2u);

    r = probe(L"write 5");
    EXPECT_EQ(r.standard_error,
              "Error, couldn't unpack file to target path. ([Error 5] " + system_error_text(5) + ")\r\n");
    EXPECT_EQ(r.standard_output, "");
    EXPECT_EQ(r.exit_code, 2u);

    // A code with the top bit set prints as a negative number; the text stays
    // whatever the system has for it, possibly none.
    r = probe(L"lock 0x80070005");
    EXPECT_EQ(r.standard_error, "Error, couldn't lock the unpack directory ([Error -2147024891] " +
                                    system_error_text(0x80070005) + ")\r\n");
    EXPECT_EQ(r.standard_output, "");
    EXPECT_EQ(r.exit_code, 2u);

    // No text at all for the code: an empty text, never garbage.
    ASSERT_TRUE(system_error_text(0x2000ABCD).empty());
    r = probe(L"launch 0x2000ABCD");
    EXPECT_EQ(r.standard_error, "Error, couldn't launch child ([Error 536914893] )\r\n");
}

TEST(FailureReport, NormalExitFlushesBufferedOutputAndAbnormalEndDoesNot)
{
    // Standard output is a file here, so it is buffered for the whole run.
    RunResult r = probe(L"launch 2", true);
    EXPECT_EQ(r.standard_output, "prelude\r\n");
    EXPECT_EQ(r.exit_code, 2u);

    r = probe(L"abort", true);
    EXPECT_EQ(r.standard_output, "");
    EXPECT_EQ(r.exit_code, FAIL_FAST_STATUS);

    // The expand message is on standard error before the abnormal end.
    r = probe(L"expand {HOME}", true);
    EXPECT_EQ(r.standard_error, "Error, couldn't runtime expand spec '{HOME}'.\r\n");
    EXPECT_EQ(r.standard_output, "");
    EXPECT_EQ(r.exit_code, FAIL_FAST_STATUS);
}

TEST(FailureReport, OnlyTheTrailingRunOfLineBreaksIsCut)
{
    struct {
        const char *text;
        const char *trimmed;
    } cases[] = {
        {"Access is denied.\r\n", "Access is denied."},
        {"\r\n\r\n", ""},
        {"two\r\nlines\r\n\n", "two\r\nlines"},
        {"\rno trailing break", "\rno trailing break"},
        {"", ""},
    };
    for (const auto &c : cases) {
        std::string buffer = c.text;
        trim_trailing_line_breaks(&buffer[0], static_cast<unsigned long>(buffer.size()));
        EXPECT_STREQ(buffer.c_str(), c.trimmed) << "for " << testing::PrintToString(std::string(c.text));
    }
}

}  // namespace
