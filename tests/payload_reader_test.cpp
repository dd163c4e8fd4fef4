// The payload header check and the payload stream reader.
//
// Successful reads run in this process and are judged by what the reader
// hands out and what it asks of the decoder: the bytes must be the archive's,
// exact and in order, whatever the read sizes, and the decoder must be
// called only when a read needs bytes the earlier calls did not give, each
// time with a whole window of room and the input where it left off. Every
// decoder call passes through the wrapper below (the test links with
// --wrap=ZSTD_decompressStream). What the reader's calls take from the heap
// is watched too (heap_watch.h): closing the reader gives all of it back.
//
// Failures run in this process too: the header check and the reader return
// what failed (the message and exit status each kind ends the launcher with
// are failure_report_test's). The damaged payloads live in
// tests/fixtures/payload/ and are replayed as saved, whatever the compressor
// does later. A missing fixture fails the test; they are written only on
// request, by running this test with ZOBREL_WRITE_FIXTURES=1
// (tests/write_fixtures.sh).
#include <gtest/gtest.h>
#include <zstd.h>

#include <stdlib.h>
#include <string.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "blob_builder.h"
#include "heap_watch.h"
#include "payload_format.h"
#include "payload/header.h"
#include "payload/reader.h"
#include "test_paths.h"

// ---------------------------------------------------------------------------
// Decoder calls, as the reader makes them.

struct DecoderCall {
    bool has_window;    // the output buffer is there
    size_t room;        // output room offered: size - pos on entry
    const void *input;  // the input buffer's start
    size_t input_size;  // and its size
    size_t input_from;  // input position on entry
    size_t input_to;    // on return
    size_t produced;    // output bytes written
};

// The reader every test here drives.
static PayloadReader g_reader;

static std::vector<DecoderCall> g_calls;

// A stand-in decoder for cases this zstd never shows the reader, such as
// output still held back after the last input byte was taken.
struct ScriptedCall {
    size_t consume;  // input bytes taken
    size_t produce;  // output bytes written, all of value `fill`
    char fill;
    size_t result;
};
static std::vector<ScriptedCall> *g_script;

extern "C" size_t __real_ZSTD_decompressStream(ZSTD_DCtx *dctx, ZSTD_outBuffer *output, ZSTD_inBuffer *input);

extern "C" size_t __wrap_ZSTD_decompressStream(ZSTD_DCtx *dctx, ZSTD_outBuffer *output, ZSTD_inBuffer *input)
{
    DecoderCall call;
    call.has_window = output->dst != NULL;
    call.room = output->pos <= output->size ? output->size - output->pos : 0;
    call.input = input->src;
    call.input_size = input->size;
    call.input_from = input->pos;
    const size_t output_from = output->pos;
    size_t result;
    if (g_script != NULL) {
        HeapWatch bookkeeping(false);
        if (g_script->empty()) {
            ADD_FAILURE() << "more decoder calls than scripted";
            return static_cast<size_t>(-1);  // an error code
        }
        ScriptedCall step = g_script->front();
        g_script->erase(g_script->begin());
        input->pos += step.consume;
        memset(static_cast<char *>(output->dst) + output->pos, step.fill, step.produce);
        output->pos += step.produce;
        result = step.result;
    } else {
        result = __real_ZSTD_decompressStream(dctx, output, input);
    }
    call.input_to = input->pos;
    call.produced = output->pos - output_from;
    HeapWatch bookkeeping(false);
    g_calls.push_back(call);
    return result;
}

// The test links with --wrap=ZSTD_createDCtx too: while set, the decoder
// context cannot be made, as when memory runs out.
static bool g_no_decoder;

extern "C" ZSTD_DCtx *__real_ZSTD_createDCtx(void);
extern "C" ZSTD_DCtx *__wrap_ZSTD_createDCtx(void)
{
    return g_no_decoder ? NULL : __real_ZSTD_createDCtx();
}

// The reader's calls, with the heap watched.
static StageResult open_reader(const PayloadInput &input)
{
    heap_watch_reset();
    HeapWatch watch;
    return payload_open(&g_reader, input);
}

static StageResult read_reader(void *destination, size_t n)
{
    HeapWatch watch;
    return payload_read(&g_reader, destination, n);
}

// Closes the reader: every block its calls took goes back, and closing it
// once more gives nothing back a second time.
static void close_reader()
{
    {
        HeapWatch watch;
        payload_close(&g_reader);
    }
    EXPECT_EQ(heap_held(), 0u) << "blocks taken by the reader's calls still held after close";
    {
        HeapWatch watch;
        payload_close(&g_reader);
    }
    EXPECT_EQ(heap_strays(), 0u) << "blocks given back that the reader's calls did not hold";
    heap_watch_reset();
}

namespace {

const size_t WINDOW = DECODE_WINDOW_SIZE;

std::string le_bytes(uint64_t value, int count)
{
    std::string out;
    for (int i = 0; i < count; i++) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return out;
}

// "QJY", the frame, the given padding, the length record (or the given bytes in its place).
std::string blob_of(const std::string &frame, const std::string &padding,
                    const std::string *length_record = NULL)
{
    std::string blob = "QJY" + frame + padding;
    blob += length_record ? *length_record : le_bytes(blob.size(), 8);
    return blob;
}

// ---------------------------------------------------------------------------
// Archives whose fields cross window boundaries.

enum class Field { NameUnit, NameEnd, Size, Checksum, EndMarker };

struct Straddle {
    Field field;
    size_t before;   // bytes of the field in front of the boundary
    size_t windows;  // how many boundaries on from the previous one (larger contents)
};

const wchar_t *const NAME = L"lib\\part_00.dll";  // 15 units

size_t offset_in_record(Field field)
{
    size_t units = wcslen(NAME);
    switch (field) {
    case Field::NameUnit:
        return 2 * 4;
    case Field::NameEnd:
        return 2 * units;
    case Field::Size:
        return 2 * (units + 1);
    case Field::Checksum:
        return 2 * (units + 1) + 8;
    case Field::EndMarker:
        return 0;
    }
    return 0;
}

// A main binary, then one record per straddle whose chosen field (or, for
// EndMarker, the end marker) starts `before` bytes in front of a boundary.
std::vector<TestRecord> straddling_records(const std::vector<Straddle> &plan, uint32_t seed)
{
    std::vector<TestRecord> records;
    records.push_back({L"app.exe", "", false, 0});
    size_t record_start = 0;
    size_t boundary = 0;
    for (size_t s = 0; s < plan.size(); s++) {
        TestRecord &last = records.back();
        size_t header = 2 * (last.name.size() + 1) + 12;
        boundary += plan[s].windows * WINDOW;
        size_t field_at = boundary - plan[s].before;
        size_t next_start = field_at - offset_in_record(plan[s].field);
        size_t content = next_start - record_start - header;
        last.content = random_bytes(content, seed + static_cast<uint32_t>(s));
        record_start = next_start;
        if (plan[s].field == Field::EndMarker) return records;
        std::wstring name = NAME;
        name[9] = static_cast<wchar_t>(L'0' + (s + 1) / 10);
        name[10] = static_cast<wchar_t>(L'0' + (s + 1) % 10);
        records.push_back({name, "", false, 0});
    }
    records.back().content = random_bytes(5000, seed + 99);
    return records;
}

// ---------------------------------------------------------------------------
// The reader in this process, checked against a model of a window refilled
// only when empty: it tells which reads need a decoder call, and how much
// each call must give.

class ModelledReader {
public:
    ModelledReader(const std::string &blob, size_t archive_size) : blob_(blob), archive_size_(archive_size)
    {
        const unsigned char *bytes = reinterpret_cast<const unsigned char *>(blob_.data());
        g_calls.clear();
        PayloadInput input = {};
        EXPECT_FALSE(failed(check_payload_header(bytes, blob_.size(), &input)));
        EXPECT_EQ(input.data, bytes + PAYLOAD_HEADER_SIZE);
        EXPECT_EQ(input.size, blob_.size() - PAYLOAD_HEADER_SIZE);
        EXPECT_FALSE(failed(open_reader(input)));
    }
    ~ModelledReader() { close_reader(); }

    // One payload_read of n bytes, appended to the output. False (with a
    // failure reported) when the decoder calls leave the model.
    bool read(size_t n)
    {
        std::string buffer(n, '\x5A');
        size_t calls_before = g_calls.size();
        StageResult result = read_reader(n ? &buffer[0] : NULL, n);
        if (failed(result)) {
            ADD_FAILURE() << "read of " << n << " at " << output.size() << " failed: " << result.kind;
            return false;
        }
        output += buffer;

        std::vector<size_t> fills;  // what each decoder call of this read must give
        for (size_t want = n; want > 0;) {
            size_t available = fill_ - pos_;
            if (available > 0) {
                size_t k = want < available ? want : available;
                pos_ += k;
                want -= k;
            } else {
                size_t left = archive_size_ - decoded_;
                fill_ = left < WINDOW ? left : WINDOW;
                decoded_ += fill_;
                pos_ = 0;
                fills.push_back(fill_);
                if (fill_ == 0) {
                    ADD_FAILURE() << "the read plan asks for more than the archive";
                    return false;
                }
            }
        }
        size_t calls = g_calls.size() - calls_before;
        if (calls != fills.size()) {
            ADD_FAILURE() << "read of " << n << " at " << output.size() - n << ": " << calls
                          << " decoder calls (want " << fills.size() << ")";
            return false;
        }
        for (size_t i = calls_before; i < g_calls.size(); i++) {
            const DecoderCall &call = g_calls[i];
            const size_t input_at = i == 0 ? 0 : g_calls[i - 1].input_to;
            if (!call.has_window || call.room != WINDOW || call.input != blob_.data() + PAYLOAD_HEADER_SIZE ||
                call.input_size != blob_.size() - PAYLOAD_HEADER_SIZE || call.input_from != input_at) {
                ADD_FAILURE() << "decoder call " << i << ": room " << call.room << " (want " << WINDOW
                              << "), input of " << call.input_size << " bytes (want the "
                              << blob_.size() - PAYLOAD_HEADER_SIZE << " after the header) from "
                              << call.input_from << " (want " << input_at << ")";
                return false;
            }
            if (call.produced != fills[i - calls_before]) {
                ADD_FAILURE() << "decoder call " << i << " gave " << call.produced << " bytes (want "
                              << fills[i - calls_before] << ")";
                return false;
            }
        }
        return true;
    }

    // The unpacker's reads: name units, size, checksum, then content in
    // chunks of at most `chunk` bytes; up to and including the end marker.
    bool walk(size_t chunk)
    {
        for (;;) {
            if (!read(2)) return false;
            if (unit_at(output.size() - 2) == 0) return true;
            do {
                if (!read(2)) return false;
            } while (unit_at(output.size() - 2) != 0);
            if (!read(8)) return false;
            uint64_t size = 0;
            for (int i = 7; i >= 0; i--)
                size = (size << 8) | static_cast<unsigned char>(output[output.size() - 8 + i]);
            if (!read(4)) return false;
            if (size > archive_size_) {
                ADD_FAILURE() << "size field " << size << " at " << output.size() - 12;
                return false;
            }
            while (size > 0) {
                size_t n = size < chunk ? static_cast<size_t>(size) : chunk;
                if (!read(n)) return false;
                size -= n;
            }
        }
    }

    std::string output;

private:
    unsigned unit_at(size_t at) const
    {
        return static_cast<unsigned char>(output[at]) | (static_cast<unsigned char>(output[at + 1]) << 8);
    }

    std::string blob_;
    size_t archive_size_;
    size_t fill_ = 0, pos_ = 0, decoded_ = 0;
};

enum class Plan { Unpacker, WholeContents, OddSpans, OneRead };

const char *plan_name(Plan plan)
{
    switch (plan) {
    case Plan::Unpacker:
        return "unpacker reads";
    case Plan::WholeContents:
        return "whole contents";
    case Plan::OddSpans:
        return "odd spans";
    case Plan::OneRead:
        return "one read";
    }
    return "?";
}

bool run_plan(ModelledReader &reader, Plan plan, size_t archive_size)
{
    switch (plan) {
    case Plan::Unpacker:
        return reader.walk(CONTENT_CHUNK_SIZE);
    case Plan::WholeContents:
        return reader.walk(~static_cast<size_t>(0));
    case Plan::OddSpans: {
        const size_t spans[] = {1, WINDOW + 1, 3, 2 * WINDOW + 5, 2, WINDOW - 1, 65536};
        for (size_t i = 0; reader.output.size() < archive_size; i++) {
            size_t n = spans[i % 7];
            size_t left = archive_size - reader.output.size();
            if (!reader.read(n < left ? n : left)) return false;
        }
        return true;
    }
    case Plan::OneRead:
        return reader.read(archive_size);
    }
    return false;
}

const Plan PLANS[] = {Plan::Unpacker, Plan::WholeContents, Plan::OddSpans, Plan::OneRead};

TEST(PayloadReader, HandsOutExactlyTheArchiveWithOneDecoderCallPerWindow)
{
    struct Case {
        const char *what;
        std::vector<Straddle> plan;
    } cases[] = {
        {"every field across a boundary",
         {{Field::NameUnit, 1, 1},
          {Field::NameEnd, 1, 1},
          {Field::Size, 1, 1},
          {Field::Size, 4, 3},
          {Field::Size, 7, 1},
          {Field::Checksum, 1, 1},
          {Field::Checksum, 2, 2},
          {Field::Checksum, 3, 1},
          {Field::EndMarker, 1, 1}}},
        // The last window is full: the end marker is its last two bytes.
        {"archive of whole windows", {{Field::Size, 5, 1}, {Field::EndMarker, 2, 2}}},
        // The last window holds the end marker alone; fields start on boundaries.
        {"fields on boundaries",
         {{Field::NameUnit, 0, 1}, {Field::Size, 0, 1}, {Field::Checksum, 0, 1}, {Field::EndMarker, 0, 1}}},
        {"no records", {}},
    };
    for (const Case &c : cases) {
        std::vector<TestRecord> records;
        if (!c.plan.empty()) records = straddling_records(c.plan, 7);
        std::string archive = build_archive(records);
        std::string blob = build_blob(records);
        for (Plan plan : PLANS) {
            SCOPED_TRACE(std::string(c.what) + ", " + plan_name(plan));
            ModelledReader reader(blob, archive.size());
            ASSERT_TRUE(run_plan(reader, plan, archive.size()));
            ASSERT_EQ(reader.output.size(), archive.size());
            EXPECT_TRUE(reader.output == archive) << "bytes differ";
            EXPECT_EQ(g_calls.size(), (archive.size() + WINDOW - 1) / WINDOW);
        }
    }
}

TEST(PayloadReader, AcceptsAContentChecksumAndAWindowOf2To27)
{
    std::vector<TestRecord> records = straddling_records(
        {{Field::NameUnit, 1, 1}, {Field::Size, 3, 1}, {Field::Checksum, 2, 2}, {Field::EndMarker, 1, 1}},
        11);
    std::string archive = build_archive(records);
    struct Case {
        FrameOptions options;
        unsigned char descriptor;  // frame header descriptor as stored
        int window_descriptor;     // as stored; -1: not checked
    } cases[] = {
        {{3, 0, true}, 0x04, -1},
        {{3, 27, false}, 0x00, 0x88},
        {{3, 27, true}, 0x04, 0x88},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("window log " + std::to_string(c.options.window_log) + ", checksum " +
                     std::to_string(c.options.checksum));
        std::string frame = compress_frame(archive, c.options);
        ASSERT_EQ(static_cast<unsigned char>(frame[4]), c.descriptor);
        if (c.window_descriptor >= 0) {
            ASSERT_EQ(static_cast<unsigned char>(frame[5]), c.window_descriptor);
        }
        std::string blob = blob_of(frame, std::string(5, '\0'));
        for (Plan plan : {Plan::Unpacker, Plan::OddSpans}) {
            SCOPED_TRACE(plan_name(plan));
            ModelledReader reader(blob, archive.size());
            ASSERT_TRUE(run_plan(reader, plan, archive.size()));
            EXPECT_TRUE(reader.output == archive) << "bytes differ";
        }
    }
}

TEST(PayloadReader, NeitherPaddingNorLengthRecordIsRead)
{
    std::vector<TestRecord> records =
        straddling_records({{Field::Checksum, 2, 1}, {Field::EndMarker, 1, 1}}, 21);
    std::string archive = build_archive(records);
    std::string frame = compress_frame(archive);
    std::string all_ones(8, '\xFF');
    std::string zero(8, '\0');
    std::string short_record("\x01\x02\x03", 3);
    // Another frame's start in the padding: nothing must ever decode it.
    std::string frame_start = compress_frame("stray");
    struct Case {
        const char *what;
        std::string padding;
        const std::string *length_record;
    } cases[] = {
        {"padding of 0xFF", std::string(13, '\xFF'), NULL},
        {"no padding, length record 0", "", &zero},
        {"length record all ones", std::string(5, '\0'), &all_ones},
        {"a frame in the padding, short length record", frame_start, &short_record},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string blob = blob_of(frame, c.padding, c.length_record);
        ModelledReader reader(blob, archive.size());
        ASSERT_TRUE(run_plan(reader, Plan::Unpacker, archive.size()));
        EXPECT_TRUE(reader.output == archive) << "bytes differ";
        // The decoder took the frame to its last byte and no byte after it,
        // though the input it was offered runs on to the blob's end.
        ASSERT_FALSE(g_calls.empty());
        EXPECT_EQ(g_calls.back().input_to, frame.size());
        EXPECT_LT(g_calls.back().input_to, g_calls.back().input_size);
    }
}

TEST(PayloadReader, ReadOfZeroBytesTouchesNothing)
{
    char destination[16];
    auto zero_read_changes_nothing = [&](const char *when) {
        SCOPED_TRACE(when);
        memset(destination, 0x77, sizeof destination);
        const size_t calls = g_calls.size();
        const size_t held = heap_held();
        EXPECT_FALSE(failed(read_reader(destination, 0)));
        EXPECT_FALSE(failed(read_reader(NULL, 0)));
        EXPECT_EQ(g_calls.size(), calls) << "decoder called";
        EXPECT_EQ(heap_held(), held) << "heap taken or given back";
        EXPECT_EQ(heap_strays(), 0u) << "heap given back";
        for (char b : destination) ASSERT_EQ(b, 0x77);
    };

    // Before open: no window and no decoder to touch.
    heap_watch_reset();
    zero_read_changes_nothing("before open");

    // Each zero-byte read is followed by reads that must still hand out the
    // archive's next bytes, with the decoder called only where the model says.
    std::vector<TestRecord> records = straddling_records({{Field::Size, 3, 2}, {Field::EndMarker, 1, 1}}, 31);
    std::string archive = build_archive(records);
    ModelledReader reader(build_blob(records), archive.size());
    zero_read_changes_nothing("after open, window empty");
    ASSERT_TRUE(reader.read(100));
    zero_read_changes_nothing("inside the window");
    ASSERT_TRUE(reader.read(WINDOW - 100));
    // Every byte decoded so far was handed out and input remains: still no
    // decoder call.
    ASSERT_EQ(g_calls.size(), 1u);
    ASSERT_EQ(g_calls[0].produced, reader.output.size());
    ASSERT_LT(g_calls[0].input_to, g_calls[0].input_size);
    zero_read_changes_nothing("window used up");
    ASSERT_TRUE(reader.read(archive.size() - WINDOW));
    EXPECT_TRUE(reader.output == archive);
}

// Without a destination the bytes are dropped: the next read goes on right
// after them, within a window and across any number of windows, and
// dropping past the end fails as reading does.
TEST(PayloadReader, BytesDroppedWithoutADestinationAreSkippedExactly)
{
    std::vector<TestRecord> records = straddling_records({{Field::Size, 3, 2}, {Field::EndMarker, 1, 1}}, 37);
    const std::string archive = build_archive(records);
    const std::string blob = build_blob(records);
    PayloadInput input = {};
    ASSERT_FALSE(failed(
        check_payload_header(reinterpret_cast<const unsigned char *>(blob.data()), blob.size(), &input)));
    ASSERT_FALSE(failed(open_reader(input)));
    const size_t spans[] = {1, WINDOW + 1, 3, 2 * WINDOW + 5, 2, WINDOW - 1, 65536};
    size_t at = 0;
    for (size_t i = 0; at < archive.size(); i++) {
        const size_t left = archive.size() - at;
        const size_t n = spans[i % 7] < left ? spans[i % 7] : left;
        if (i % 2 == 0) {
            ASSERT_FALSE(failed(read_reader(NULL, n))) << "drop of " << n << " at " << at;
        } else {
            std::string got(n, '\0');
            ASSERT_FALSE(failed(read_reader(&got[0], n))) << "read of " << n << " at " << at;
            ASSERT_TRUE(got == archive.substr(at, n)) << "read of " << n << " at " << at;
        }
        at += n;
    }
    EXPECT_EQ(read_reader(NULL, 1).kind, FAILURE_DECODE);
    close_reader();
}

TEST(PayloadReader, DecoderHoldingOutputAfterTheInputRunsOut)
{
    // Stands in for the frame; the scripted decoder takes it in pieces.
    const std::string blob = blob_of(std::string(10, '\x11'), "");
    const size_t input_size = blob.size() - PAYLOAD_HEADER_SIZE;
    auto open_scripted = [&](std::vector<ScriptedCall> *script) {
        PayloadInput input = {};
        ASSERT_FALSE(failed(
            check_payload_header(reinterpret_cast<const unsigned char *>(blob.data()), blob.size(), &input)));
        ASSERT_FALSE(failed(open_reader(input)));
        g_calls.clear();
        g_script = script;
    };
    auto close_scripted = [] {
        g_script = NULL;
        close_reader();
    };
    std::string out(WINDOW + 100, '\0');

    // Calls that produce nothing while input remains are simply repeated; a
    // call that fills the window with the input used up is followed, within
    // the same read, by another that gets what the decoder still holds.
    std::vector<ScriptedCall> script = {
        {4, 0, 0, 1}, {4, 0, 0, 1}, {input_size - 8, WINDOW, 'a', 1}, {0, 100, 'b', 0}};
    open_scripted(&script);
    EXPECT_FALSE(failed(read_reader(&out[0], out.size())));
    EXPECT_EQ(g_calls.size(), 4u);
    EXPECT_TRUE(script.empty());
    EXPECT_EQ(out, std::string(WINDOW, 'a') + std::string(100, 'b'));
    close_scripted();

    // A later read does not carry that on: with the input used up and no
    // full window in this read, nothing more can come.
    std::vector<ScriptedCall> held = {{input_size, WINDOW, 'a', 1}, {0, 100, 'b', 0}};
    open_scripted(&held);
    EXPECT_FALSE(failed(read_reader(&out[0], WINDOW)));
    EXPECT_EQ(read_reader(&out[0], 1).kind, FAILURE_DECODE);
    EXPECT_EQ(g_calls.size(), 1u);
    close_scripted();
    // Nor does a call that ends with less than a full window.
    std::vector<ScriptedCall> partial = {{0, WINDOW, 'a', 1}, {input_size, 100, 'b', 0}};
    open_scripted(&partial);
    EXPECT_EQ(read_reader(&out[0], WINDOW + 101).kind, FAILURE_DECODE);
    EXPECT_TRUE(partial.empty());
    close_scripted();
}

// ---------------------------------------------------------------------------
// Failures: damaged payloads and reads past the end, run as steps.

// What a run of reads over a saved blob came to.
struct Steps {
    StageResult header;     // check_payload_header's result
    StageResult open;       // payload_open's, when the header held
    StageResult end;        // the first failed read's, or success
    std::string delivered;  // every byte the successful reads handed out
};

// One payload_read of n bytes; its bytes are kept only when it succeeds.
StageResult read_and_keep(size_t n, Steps *run)
{
    std::string bytes(n, '\0');
    StageResult result = read_reader(n ? &bytes[0] : NULL, n);
    if (!failed(result)) run->delivered += bytes;
    return result;
}

uint64_t delivered_le(const Steps &run, size_t bytes)
{
    uint64_t value = 0;
    for (size_t i = bytes; i > 0; i--)
        value =
            (value << 8) | static_cast<unsigned char>(run.delivered[run.delivered.size() - bytes + i - 1]);
    return value;
}

// The unpacker's reads up to and including the end marker: name units of 2
// bytes, the size (8), the checksum (4), content in chunks of at most
// 32,768 bytes.
StageResult walk(Steps *run)
{
    StageResult r = stage_succeeded();
    for (;;) {
        if (failed(r = read_and_keep(2, run)) || delivered_le(*run, 2) == 0) return r;  // end marker
        do {
            if (failed(r = read_and_keep(2, run))) return r;
        } while (delivered_le(*run, 2) != 0);
        if (failed(r = read_and_keep(8, run))) return r;
        uint64_t size = delivered_le(*run, 8);
        if (failed(r = read_and_keep(4, run))) return r;
        while (size > 0) {
            size_t n = size < CONTENT_CHUNK_SIZE ? static_cast<size_t>(size) : CONTENT_CHUNK_SIZE;
            if (failed(r = read_and_keep(n, run))) return r;
            size -= n;
        }
    }
}

// Checks the header of the blob saved at blob_path, opens the reader and
// runs the steps (space-separated: "walk", or a number of bytes for one
// read) until one fails.
Steps run_steps(const std::wstring &blob_path, const std::wstring &steps)
{
    const std::string blob = read_file(blob_path);
    Steps run = {};
    PayloadInput input = {};
    run.header =
        check_payload_header(reinterpret_cast<const unsigned char *>(blob.data()), blob.size(), &input);
    if (failed(run.header)) return run;
    run.open = open_reader(input);
    if (!failed(run.open)) {
        size_t at = 0;
        while (!failed(run.end) && at < steps.size()) {
            size_t space = steps.find(L' ', at);
            if (space == std::wstring::npos) space = steps.size();
            std::wstring step = steps.substr(at, space - at);
            at = space + 1;
            run.end = step == L"walk" ? walk(&run) : read_and_keep(std::stoull(step), &run);
        }
    }
    close_reader();
    return run;
}

// Contents that compress to almost nothing yet place every byte: a filler
// with the offset stamped in every 4 KiB.
std::string stamped_bytes(size_t size, char filler)
{
    std::string out(size, filler);
    for (size_t at = 0; at < size; at += 4096) {
        std::string stamp = "@" + std::to_string(at);
        out.replace(at, stamp.size() < size - at ? stamp.size() : size - at, stamp.substr(0, size - at));
    }
    return out;
}

// The archive inside the damaged fixtures: a little over four windows.
std::string fixture_archive()
{
    return build_archive({{L"app.exe", stamped_bytes(300000, 'a'), false, 0},
                          {L"lib\\one.dll", stamped_bytes(150000, 'b'), false, 0},
                          {L"data\\two.bin", stamped_bytes(100000, 'c'), false, 0}});
}

std::string small_archive()
{
    return build_archive({{L"app.exe", stamped_bytes(1000, 'a'), false, 0}});
}

// Offset of block `index` of a frame with a 6-byte header (no content size,
// no dictionary, not single-segment).
size_t block_offset(const std::string &frame, size_t index)
{
    size_t at = 6;
    for (size_t i = 0; i < index; i++) {
        uint32_t header = static_cast<unsigned char>(frame[at]) |
                          (static_cast<unsigned char>(frame[at + 1]) << 8) |
                          (static_cast<unsigned char>(frame[at + 2]) << 16);
        if (header & 1) throw std::runtime_error("frame has too few blocks");
        size_t type = (header >> 1) & 3;
        at += 3 + (type == 1 ? 1 : header >> 3);
    }
    return at;
}

std::wstring fixture_path(const std::string &name, const std::function<std::string()> &make)
{
    std::wstring path = widen(ZOBREL_PAYLOAD_FIXTURES) + L"\\" + widen(name) + L".bin";
    if (file_exists(path)) return path;
    const char *write = getenv("ZOBREL_WRITE_FIXTURES");
    if (write == NULL || strcmp(write, "1") != 0) {
        throw std::runtime_error("fixture " + narrow(path) +
                                 " is missing; write it on purpose with tests/write_fixtures.sh");
    }
    write_file(path, make());
    return path;
}

std::string intact_blob()
{
    return wrap_blob(compress_frame(fixture_archive()));
}

std::string with_byte(std::string bytes, size_t at, unsigned char value)
{
    bytes[at] = static_cast<char>(value);
    return bytes;
}

TEST(PayloadReader, DamageOrReadingPastTheEndEndsWithTheDecodeMessage)
{
    const std::string archive = fixture_archive();
    const size_t size = archive.size();
    auto plain = [] { return compress_frame(fixture_archive()); };
    auto checked = [] { return compress_frame(fixture_archive(), FrameOptions{3, 0, true}); };
    // The checksum follows the last block: its window is the one that fails.
    const size_t last_window = size / WINDOW * WINDOW;
    struct Case {
        const char *fixture;
        std::function<std::string()> make;
        std::wstring steps;
        std::string expected_archive;
        size_t at_least;  // bytes delivered before the end
        size_t at_most;
        bool damaged_output = false;  // damage reached the bytes before it was detected
    } cases[] = {
        // Past the end marker the decoder meets the padding as a new frame.
        {"intact", intact_blob, L"walk 1", archive, size, size},
        {"intact", intact_blob, std::to_wstring(size - 1) + L" 2", archive, size - 1, size - 1},
        {"intact", intact_blob, std::to_wstring(size + 1), archive, 0, 0},
        {"no_padding", [&] { return blob_of(plain(), ""); }, L"walk 1", archive, size, size},
        // No bytes at all after the frame: the input is exhausted instead.
        {"no_trailer", [] { return "QJY" + compress_frame(small_archive()); }, L"walk 1", small_archive(),
         small_archive().size(), small_archive().size()},
        // Nothing after a frame of several windows: all of it arrives in one
        // read, and the read past its end finds the input used up.
        {"no_trailer_windows", [&] { return "QJY" + plain(); }, std::to_wstring(size) + L" 1", archive, size,
         size},
        {"truncated_mid_frame",
         [&] {
             std::string f = plain();
             return "QJY" + f.substr(0, f.size() / 2);
         },
         L"walk", archive, 0, size - 1},
        {"truncated_then_padding",
         [&] {
             std::string f = plain();
             return wrap_blob(f.substr(0, f.size() / 2));
         },
         L"walk", archive, 0, size - 1},
        {"truncated_to_frame_header", [&] { return "QJY" + plain().substr(0, 6); }, L"walk", archive, 0, 0},
        {"bad_magic", [&] { return wrap_blob(with_byte(plain(), 0, 0x29)); }, L"walk", archive, 0, 0},
        {"reserved_descriptor_bit", [&] { return wrap_blob(with_byte(plain(), 4, 0x08)); }, L"walk", archive,
         0, 0},
        // A window the default decoder parameters refuse.
        {"window_2_28", [&] { return wrap_blob(with_byte(plain(), 5, 0x90)); }, L"walk", archive, 0, 0},
        // Damage in the fourth block: the first two windows arrive whole.
        // (The decoder may read one block ahead of the window it fills.)
        {"reserved_block_type",
         [&] {
             std::string f = plain();
             size_t at = block_offset(f, 3);
             return wrap_blob(with_byte(f, at, static_cast<unsigned char>(f[at] | 0x06)));
         },
         L"walk", archive, 2 * WINDOW - CONTENT_CHUNK_SIZE, size - 1},
        {"oversized_block",
         [&] {
             std::string f = plain();
             size_t at = block_offset(f, 3);
             return wrap_blob(with_byte(f, at + 2, 0xFF));
         },
         L"walk", archive, 2 * WINDOW - CONTENT_CHUNK_SIZE, size - 1},
        {"damaged_checksum",
         [&] {
             std::string f = checked();
             return wrap_blob(with_byte(f, f.size() - 1, static_cast<unsigned char>(f.back() ^ 0x40)));
         },
         L"walk", archive, last_window - CONTENT_CHUNK_SIZE, last_window},
        {"damaged_data_with_checksum",
         [&] {
             std::string f = checked();
             size_t at = block_offset(f, 2) + 40;
             return wrap_blob(with_byte(f, at, static_cast<unsigned char>(f[at] ^ 0x10)));
         },
         L"walk", archive, last_window - CONTENT_CHUNK_SIZE, last_window, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.fixture) + " " + narrow(c.steps));
        Steps r = run_steps(fixture_path(c.fixture, c.make), c.steps);
        ASSERT_FALSE(failed(r.header));
        ASSERT_FALSE(failed(r.open));
        EXPECT_EQ(r.end.kind, FAILURE_DECODE);
        EXPECT_GE(r.delivered.size(), c.at_least);
        EXPECT_LE(r.delivered.size(), c.at_most);
        bool intact = c.expected_archive.compare(0, r.delivered.size(), r.delivered) == 0;
        EXPECT_EQ(intact, !c.damaged_output) << "delivered bytes against the archive's start";
    }
}

TEST(PayloadReader, HeaderDifferingInAnyOneByteIsRejectedFirst)
{
    std::wstring intact = fixture_path("intact", intact_blob);
    std::string blob = read_file(intact);

    // The steps work: the intact blob yields its archive.
    Steps good = run_steps(intact, L"walk");
    ASSERT_FALSE(failed(good.header));
    ASSERT_FALSE(failed(good.end));
    ASSERT_TRUE(good.delivered == fixture_archive());

    const char *headers[] = {"qJY",    "QjY",    "QJy",    "RJY",  "PJY",  "QKY",  "QIY",    "QJZ",   "QJX",
                             "\xD1JY", "Q\xCAY", "QJ\xD9", "\0JY", "Q\0Y", "QJ\0", "\xFFJY", "QJ\xFF"};
    std::wstring dir = make_scratch_dir(L"header");
    for (size_t i = 0; i < sizeof headers / sizeof headers[0]; i++) {
        std::string header(headers[i], 3);
        SCOPED_TRACE(testing::PrintToString(header));
        std::wstring path = dir + L"\\blob" + std::to_wstring(i) + L".bin";
        write_file(path, header + blob.substr(3));
        Steps r = run_steps(path, L"walk");
        // Refused before the reader is opened.
        EXPECT_EQ(r.header.kind, FAILURE_HEADER);
        EXPECT_EQ(r.delivered, "");
    }
    // Shorter than the header itself: no byte past the blob is looked at.
    for (size_t length = 0; length < PAYLOAD_HEADER_SIZE; length++) {
        SCOPED_TRACE(length);
        PayloadInput input = {};
        EXPECT_EQ(
            check_payload_header(reinterpret_cast<const unsigned char *>(blob.data()), length, &input).kind,
            FAILURE_HEADER);
        EXPECT_EQ(input.data, nullptr);
    }
}

TEST(PayloadReader, DecoderThatCannotBeMadeIsAMemoryFailure)
{
    g_no_decoder = true;
    Steps r = run_steps(fixture_path("intact", intact_blob), L"walk");
    g_no_decoder = false;
    EXPECT_EQ(r.open.kind, FAILURE_MEMORY);
    EXPECT_EQ(r.delivered, "");
}

}  // namespace
