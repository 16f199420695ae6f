// The field dispatcher: which ids reach a request and which touch nothing,
// the commands of fields whose codes do not follow their ids, the shared
// entries with indices the dispatcher never passes, and field 2 as the
// daemon uses it.
#include <pthread.h>

#include <climits>
#include <functional>
#include <future>
#include <set>

#include "client/client_state.h"
#include "fields_fixture.h"
#include "stderr_capture.h"

namespace fields_test {
namespace {

using FieldDispatchTest = FieldsTest;

bool InTable(uint32_t id) {
    return id <= 0x0041 || (id >= 0x1000 && id <= 0x1162) || (id >= 0x2000 && id <= 0x20A1);
}

// Every id from 0 to past the last block, and a few far beyond (ids whose low
// bits would hit a block if the id were masked or split), is tried once:
// valid ids send exactly one request, the others send nothing, return -1
// and leave the buffer alone. The valid ids between them send every command
// from 0 to 595 except the codes no field has, each exactly once.
TEST_F(FieldDispatchTest, ExactlyTheThreeBlocksReachARequest) {
    std::vector<uint32_t> ids;
    for (uint32_t id = 0; id <= 0x2100; ++id) ids.push_back(id);
    for (uint32_t id : {0x3000u, 0x10002u, 0x11000u, 0x12000u, 0x120A1u, 0x80000000u, 0x80001000u,
                        0xFFFFF000u, 0xFFFFFFFFu}) {
        ids.push_back(id);
    }

    std::multiset<int32_t> commands;
    for (uint32_t id : ids) {
        SCOPED_TRACE(testing::Message() << "field 0x" << std::hex << id);
        std::vector<uint8_t> data = Sentinel(8);
        const size_t requests_before = RequestCount();
        const int32_t result = SettingsControl(id, data.data(), 0);
        if (InTable(id)) {
            ASSERT_EQ(RequestCount(), requests_before + 1);
            commands.insert(LastRequest().command);
        } else {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(RequestCount(), requests_before);
        }
        EXPECT_EQ(data, Sentinel(8));
    }

    std::multiset<int32_t> expected;
    for (int32_t code = 0; code <= 595; ++code) {
        const bool no_field = (code >= 87 && code <= 89) || code == 433 || code == 498 ||
                              (code >= 533 && code <= 540);
        if (!no_field) expected.insert(code);
    }
    EXPECT_EQ(commands.size(), 583u);
    EXPECT_EQ(commands, expected);
}

// An unknown id must return at once even while another thread holds the
// client lock, and print nothing.
TEST_F(FieldDispatchTest, UnknownIdsTakeNoLockAndPrintNothing) {
    pthread_mutex_t* lock = settings_client::client_state.client_lock;
    ASSERT_NE(lock, nullptr);
    test_support::StderrCapture capture;
    ASSERT_EQ(pthread_mutex_lock(lock), 0);
    auto done = std::async(std::launch::async, [] {
        int32_t worst = -1;
        for (uint32_t id :
             {0x0042u, 0x0FFFu, 0x1163u, 0x1FFFu, 0x20A2u, 0x3000u, 0x10002u, 0xFFFFFFFFu}) {
            uint8_t data[4] = {};
            if (SettingsControl(id, data, 4) != -1) worst = 0;
        }
        return worst;
    });
    // Generous guard only: a dispatcher that took the lock would never return.
    const bool returned = done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    pthread_mutex_unlock(lock);
    ASSERT_TRUE(returned) << "an unknown id waited for the client lock";
    EXPECT_EQ(done.get(), -1);
    EXPECT_EQ(capture.Take(), "");
    EXPECT_EQ(RequestCount(), 0u);
}

// Fields whose commands do not follow their ids, the first and last of the
// indexed entries' runs, the mapped write at the edges of its ranges, and
// the read fields between mapped writes. Payload fields send the caller's
// bytes and length unchanged.
TEST_F(FieldDispatchTest, FieldsSendTheirOwnCommands) {
    struct Case {
        uint32_t field_id;
        int32_t command;
        bool sends_payload;
    };
    const Case cases[] = {
        {0x0000, 0, false},   {0x0002, 3, false},   {0x1000, 2, true},   {0x1001, 4, true},
        {0x001E, 72, false},  {0x0027, 497, false}, {0x102A, 422, true}, {0x103E, 423, true},
        {0x1117, 342, true},  {0x1118, 341, true},  {0x114E, 400, true}, {0x114F, 402, true},
        {0x1150, 401, false}, {0x1155, 413, true},  {0x1156, 412, true}, {0x1135, 375, true},
        {0x1139, 379, true},  {0x113A, 380, true},  {0x113E, 384, true}, {0x2008, 436, true},
        {0x200E, 442, true},  {0x200F, 443, true},  {0x2024, 464, true}, {0x2025, 465, true},
        {0x203A, 486, true},  {0x203B, 490, true},  {0x203D, 492, true}, {0x203E, 487, false},
        {0x2040, 489, false}, {0x20A1, 595, false},
    };
    const std::vector<uint8_t> payload = Pattern(12, 0x40);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "field 0x" << std::hex << c.field_id);
        std::vector<uint8_t> data = payload;
        SettingsControl(c.field_id, data.data(), 12);
        const stand_in::RecordedRequest request = LastRequest();
        EXPECT_EQ(request.command, c.command);
        if (c.sends_payload) {
            EXPECT_EQ(request.length, 12);
            EXPECT_EQ(request.offset, kClientSlot);
            EXPECT_EQ(request.payload, payload);
        } else {
            EXPECT_EQ(request.length, 0);
            EXPECT_EQ(request.offset, 0);
        }
    }
}

// Called directly, the shared entries take any index: outside the mapped
// write's map the command is 0 and the request still goes out; the indexed
// entries add their base with 32-bit wrap-around.
TEST_F(FieldDispatchTest, SharedEntriesDeriveTheirCommandFromAnyIndex) {
    struct Case {
        const char* call;
        std::function<int32_t(void*, int32_t)> run;
        int32_t command;
    };
    const Case cases[] = {
        {"mapped 10", [](void* d, int32_t n) { return SettingsMappedWrite(10, d, n); }, 0},
        {"mapped 19", [](void* d, int32_t n) { return SettingsMappedWrite(19, d, n); }, 0},
        {"mapped 42", [](void* d, int32_t n) { return SettingsMappedWrite(42, d, n); }, 0},
        {"mapped 59", [](void* d, int32_t n) { return SettingsMappedWrite(59, d, n); }, 0},
        {"mapped 82", [](void* d, int32_t n) { return SettingsMappedWrite(82, d, n); }, 0},
        {"mapped max", [](void* d, int32_t n) { return SettingsMappedWrite(UINT32_MAX, d, n); }, 0},
        {"mapped 7", [](void* d, int32_t n) { return SettingsMappedWrite(7, d, n); }, 490},
        {"mapped 60", [](void* d, int32_t n) { return SettingsMappedWrite(60, d, n); }, 465},
        {"indexed write 5", [](void* d, int32_t n) { return SettingsIndexedWrite(5, d, n); }, 380},
        {"indexed write -375", [](void* d, int32_t n) { return SettingsIndexedWrite(-375, d, n); },
         0},
        {"indexed write max",
         [](void* d, int32_t n) { return SettingsIndexedWrite(INT32_MAX, d, n); }, INT32_MIN + 374},
        {"indexed exchange 5", [](void* d, int32_t n) { return SettingsIndexedExchange(5, d, n); },
         385},
        {"read 498", [](void* d, int32_t n) { return SettingsRead(d, n, 498); }, 498},
        {"write -7", [](void* d, int32_t n) { return SettingsWrite(d, n, -7); }, -7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        std::vector<uint8_t> data = Pattern(6, 0x70);
        const size_t requests_before = RequestCount();
        c.run(data.data(), 6);
        ASSERT_EQ(RequestCount(), requests_before + 1);
        EXPECT_EQ(LastRequest().command, c.command);
    }
}

// The daemon's call: field 2 into a 256-byte buffer.
TEST_F(FieldDispatchTest, ServerNameFieldCopiesAtMostTheCallersLength) {
    struct Case {
        int32_t reply_length;
        int32_t copied;
        int32_t result;
    };
    const Case cases[] = {{300, 256, 256}, {10, 10, 10}, {0, 0, 0}, {-1, 0, -1}};
    const std::vector<uint8_t> name = Pattern(300, 0x21);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply_length);
        std::vector<uint8_t> data = Sentinel(300);
        ReplyWith(c.reply_length, name);
        EXPECT_EQ(SettingsControl(2, data.data(), 256), c.result);

        std::vector<uint8_t> expected = Sentinel(300);
        std::copy_n(name.begin(), c.copied, expected.begin());
        EXPECT_EQ(data, expected);
        const stand_in::RecordedRequest request = LastRequest();
        EXPECT_EQ(request.command, 3);
        EXPECT_EQ(request.length, 0);
        EXPECT_EQ(request.offset, 0);
    }
}

}  // namespace
}  // namespace fields_test
