#include <gtest/gtest.h>

#include "driver/Protocol.h"

namespace kv::driver {
namespace {

/// The body of an encoded frame (after its length), checking the length.
std::string BodyOf(const std::string& frame) {
    EXPECT_GE(frame.size(), 4u);
    EXPECT_EQ(GetU32(frame, 0), frame.size() - 4);
    return frame.substr(4);
}

Request Decoded(const Request& request) {
    Request out;
    std::string error;
    EXPECT_TRUE(DecodeRequest(BodyOf(EncodeRequest(request)), &out, &error)) << error;
    return out;
}

/// A body built word by word, then raw bytes.
std::string Words(std::initializer_list<std::uint32_t> words, std::string_view tail = {}) {
    std::string body;
    for (std::uint32_t w : words)
        PutU32(&body, w);
    return body + std::string(tail);
}

TEST(ProtocolTest, AddEntryKeepsTheRecordLayoutAndItsTexts) {
    Request add = MakeRequest(code::kAddEntry);
    add.record.dwOperation = 0x1E7830;
    add.record.FileMask = "/home/a/Work/*";
    add.record.ExcludeFiles = "ExcludeFiles";
    add.record.Processes = "*";
    add.record.ExcludeProc = "";  // an empty text is a pointer to a NUL, not null
    add.password = "pw";
    const std::string body = BodyOf(EncodeRequest(add));

    EXPECT_EQ(GetU32(body, 0), code::kAddEntry);
    EXPECT_EQ(GetU32(body, 8), kEntryRecordSize);
    const std::string record = body.substr(kRequestHeaderSize, kEntryRecordSize);
    EXPECT_EQ(GetU32(record, 0), 0x1E7830u);
    EXPECT_EQ(GetU32(record, 20), 0u) << "the record's Password stays null";
    EXPECT_EQ(GetU32(record, 24), 0xFFFFFFFFu) << "Reserved is -1";
    EXPECT_EQ(body.c_str() + GetU32(record, 4), std::string("/home/a/Work/*"));
    EXPECT_NE(GetU32(record, 16), 0u);
    EXPECT_EQ(body[GetU32(record, 16)], '\0');

    const Request back = Decoded(add);
    EXPECT_EQ(back.record.dwOperation, 0x1E7830u);
    EXPECT_EQ(back.record.FileMask, "/home/a/Work/*");
    EXPECT_EQ(back.record.ExcludeFiles, "ExcludeFiles");
    EXPECT_EQ(back.record.Processes, "*");
    EXPECT_EQ(back.record.ExcludeProc, "");
    EXPECT_EQ(back.record.Password, std::nullopt);
    EXPECT_EQ(back.record.Reserved, -1);
    EXPECT_EQ(back.password, "pw");
}

TEST(ProtocolTest, ShortRequestsCarryNoInputAndAnOptionalPassword) {
    for (std::uint32_t c :
         {code::kActivate, code::kDeactivate, code::kClear, code::kCount, code::kGetActive}) {
        Request request = MakeRequest(c);
        request.outputSize = 4;
        const std::string body = BodyOf(EncodeRequest(request));
        EXPECT_EQ(body.size(), kRequestHeaderSize) << std::hex << c;
        EXPECT_EQ(GetU32(body, 4), 0u) << "a null password is offset 0";
        const Request back = Decoded(request);
        EXPECT_EQ(back.code, c);
        EXPECT_EQ(back.password, std::nullopt);
        EXPECT_EQ(back.outputSize, 4u);

        request.password = "";
        EXPECT_EQ(Decoded(request).password, "") << "an empty password is not null";
    }
}

TEST(ProtocolTest, CheckAndGetEntryRoundTrip) {
    Request check = MakeRequest(code::kCheck);
    check.operation = 0x10;
    check.path = "/home/a/x";
    check.process = "vim";
    const Request back = Decoded(check);
    EXPECT_EQ(back.operation, 0x10u);
    EXPECT_EQ(back.path, "/home/a/x");
    EXPECT_EQ(back.process, "vim");

    Request get = MakeRequest(code::kGetEntry);
    get.index = 7;
    EXPECT_EQ(Decoded(get).index, 7u);
}

TEST(ProtocolTest, MalformedRequestsAreRefusedWithAReason) {
    const std::uint32_t add = code::kAddEntry;
    const std::uint32_t count = code::kCount;
    // Header of an add request whose texts start at offset 44.
    auto addBody = [&](std::uint32_t fileMask, std::uint32_t excludeFiles, std::string_view tail) {
        return Words({add, 0, 28, 0, 0x10, fileMask, excludeFiles, 0, 0, 0, 0xFFFFFFFF}, tail);
    };
    const struct {
        const char* name;
        std::string body;
        const char* reason;
    } cases[] = {
        {"empty body", "", "short frame"},
        {"15 bytes", std::string(15, '\x01'), "short frame"},
        {"input size beyond the frame", Words({add, 0, 28, 0}), "beyond the frame"},
        {"output size out of range", Words({count, 0, 0, 0x10001}), "output size"},
        {"unknown code", Words({0x83000000, 0, 0, 0}), "unknown control code"},
        {"add without its record", Words({add, 0, 0, 0}), "expected 28"},
        {"count with input", Words({count, 0, 4, 0, 0}), "expected 0"},
        {"password pointing into the header", Words({count, 4, 0, 0}), "outside the text area"},
        {"password beyond the frame", Words({count, 99, 0, 0}, std::string("x\0", 2)),
         "outside the text area"},
        {"password without NUL", Words({count, 16, 0, 0}, "abc"), "without NUL"},
        {"FileMask beyond the frame", addBody(200, 0, std::string("a\0", 2)), "FileMask"},
        {"FileMask into the record", addBody(20, 0, std::string("a\0", 2)), "FileMask"},
        {"ExcludeFiles without NUL", addBody(44, 46, std::string("a\0bc", 4)), "without NUL"},
        {"check with a null path",
         Words({code::kCheck, 0, 12, 0, 0x10, 0, 28}, std::string("v\0", 2)), "path: null"},
        {"frame too large", Words({count, 0, 0, 0}, std::string(kMaxFrameBody, 'x')), "too large"},
    };
    for (const auto& c : cases) {
        Request request;
        std::string error;
        EXPECT_FALSE(DecodeRequest(c.body, &request, &error)) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    }
}

TEST(ProtocolTest, AnAddWithANullFileMaskDecodesButMakesNoEntry) {
    Request add = MakeRequest(code::kAddEntry);
    add.record.Processes = "*";
    const Request back = Decoded(add);
    Entry entry;
    EXPECT_FALSE(EntryFromRecord(back.record, &entry));
    add.record.FileMask = "/a";
    ASSERT_TRUE(EntryFromRecord(Decoded(add).record, &entry));
    EXPECT_EQ(entry, (Entry{0, "/a", "", "*", ""}));
}

TEST(ProtocolTest, RepliesRoundTripAndBadOnesAreRefused) {
    const std::string frame = EncodeReply(Reply{true, 42, "out"});
    Reply reply;
    std::string error;
    ASSERT_TRUE(DecodeReply(BodyOf(frame), &reply, &error)) << error;
    EXPECT_TRUE(reply.success);
    EXPECT_EQ(reply.returned, 42u);
    EXPECT_EQ(reply.output, "out");

    EXPECT_FALSE(DecodeReply(Words({1}), &reply, &error));
    EXPECT_FALSE(DecodeReply(Words({2, 0}), &reply, &error));
}

TEST(ProtocolTest, EntryOutputRoundTripsAndRejectsDamage) {
    const Entry entry{0x400, "/home/a/*", "ExcludeFiles", "*", "kv"};
    const std::string output = EncodeEntryOutput(entry);
    Entry back;
    ASSERT_TRUE(DecodeEntryOutput(output, &back));
    EXPECT_EQ(back, entry);
    EXPECT_FALSE(DecodeEntryOutput(output.substr(0, output.size() - 1), &back));
    EXPECT_FALSE(DecodeEntryOutput(output + "x", &back));
    EXPECT_FALSE(DecodeEntryOutput("ab", &back));
}

}  // namespace
}  // namespace kv::driver
