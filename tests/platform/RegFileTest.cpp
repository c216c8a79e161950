#include "platform/RegFile.h"

#include <gtest/gtest.h>

namespace kv::platform::regfile {
namespace {

constexpr char kLM[] = "HKEY_LOCAL_MACHINE";

RegistryValue Str(std::string text) {
    RegistryValue v;
    v.text = std::move(text);
    return v;
}

TEST(RegFile, WritesRegeditExportText) {
    Document doc;
    RegistryValue bin;
    bin.type = RegistryValue::Type::Binary;
    bin.bytes = {0x00, 0x01, 0xab};
    RegistryValue dw;
    dw.type = RegistryValue::Type::Dword;
    dw.dword = 0x1f;
    doc.keys.push_back(Key{"Software\\A",
                           {Value{"", Str("def")}, Value{"Path", Str("C:\\x \"q\"")},
                            Value{"Bin", bin}, Value{"D", dw}}});
    doc.keys.push_back(Key{"Software\\A\\B", {}});
    EXPECT_EQ(Write(doc, kLM),
              "REGEDIT4\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\A]\r\n"
              "@=\"def\"\r\n"
              "\"Path\"=\"C:\\\\x \\\"q\\\"\"\r\n"
              "\"Bin\"=hex:00,01,ab\r\n"
              "\"D\"=dword:0000001f\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\A\\B]\r\n"
              "\r\n");
}

TEST(RegFile, RoundTripsEveryValueType) {
    Document doc;
    RegistryValue bin;
    bin.type = RegistryValue::Type::Binary;
    for (int i = 0; i < 256; ++i)
        bin.bytes.push_back(static_cast<std::uint8_t>(i));
    RegistryValue empty;
    empty.type = RegistryValue::Type::Binary;
    RegistryValue dw;
    dw.type = RegistryValue::Type::Dword;
    dw.dword = 0xffffffffu;
    const std::string tricky = "\\\"\\\\ end\\";
    doc.keys.push_back(Key{"", {Value{"root", Str("r")}}});
    doc.keys.push_back(Key{"K",
                           {Value{tricky, Str(tricky)}, Value{"b", bin}, Value{"e", empty},
                            Value{"d", dw}, Value{"", Str("")}, Value{"nul", Str({"a\0b", 3})}}});
    const ParseResult back = Parse(Write(doc, kLM), kLM);
    EXPECT_EQ(back.badLines, 0u);
    ASSERT_EQ(back.document.keys.size(), 2u);
    EXPECT_EQ(back.document.keys[0].path, "");
    const auto& values = back.document.keys[1].values;
    ASSERT_EQ(values.size(), 6u);
    EXPECT_EQ(values[0].name, tricky);
    EXPECT_EQ(values[0].data.text, tricky);
    EXPECT_EQ(values[1].data.bytes, bin.bytes);
    EXPECT_EQ(values[2].data.type, RegistryValue::Type::Binary);
    EXPECT_TRUE(values[2].data.bytes.empty());
    EXPECT_EQ(values[3].data.dword, 0xffffffffu);
    EXPECT_EQ(values[4].name, "");
    EXPECT_EQ(values[5].data.text, std::string("a\0b", 3));
}

TEST(RegFile, ReadsLfAndWrappedHexAsRegeditWritesThem) {
    const ParseResult r = Parse(
        "REGEDIT4\n\n[hkey_local_machine\\A]\n\"x\"=hex:01,02,\\\n  03,04\n\"y\"=DWORD:0000000A\n",
        kLM);
    EXPECT_EQ(r.badLines, 0u);
    ASSERT_EQ(r.document.keys.size(), 1u);
    ASSERT_EQ(r.document.keys[0].values.size(), 2u);
    EXPECT_EQ(r.document.keys[0].values[0].data.bytes, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(r.document.keys[0].values[1].data.dword, 10u);
}

TEST(RegFile, MergesRepeatedSectionsCaseInsensitivelyAndLaterValueWins) {
    const ParseResult r = Parse(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Soft\\A]\r\n\"v\"=\"1\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Soft\\B]\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFT\\a]\r\n\"V\"=\"2\"\r\n\"w\"=\"3\"\r\n",
        kLM);
    EXPECT_EQ(r.badLines, 0u);
    ASSERT_EQ(r.document.keys.size(), 2u);
    EXPECT_EQ(r.document.keys[0].path, "Soft\\A");
    EXPECT_EQ(r.document.keys[1].path, "Soft\\B");
    ASSERT_EQ(r.document.keys[0].values.size(), 2u);
    EXPECT_EQ(r.document.keys[0].values[0].name, "v");
    EXPECT_EQ(r.document.keys[0].values[0].data.text, "2");
}

struct DamageCase {
    std::string text;
    std::size_t badLines;
    std::vector<std::string> keys;  // paths kept, in order
    std::size_t values;             // values kept in all keys
};

TEST(RegFile, DamagedTextKeepsWhatParses) {
    const std::vector<DamageCase> cases = {
        {"", 0, {}, 0},
        {"REGEDIT4", 0, {}, 0},
        {"garbage\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\"\n", 1, {"A"}, 1},
        // A truncated section: its values must not slide into the key above.
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\"\n[HKEY_LOCAL_MACHINE\\B\n\"w\"=\"2\"\n",
         2,
         {"A"},
         1},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"w\"=\"2\"\n[HKEY_LOCAL_MACHINE\\A]\n", 2, {"A"}, 0},
        {"REGEDIT4\n\"orphan\"=\"1\"\n", 1, {}, 0},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"unterminated=\"x\n\"s\"=\"no end\n"
         "\"h\"=hex:0g\n\"d\"=dword:123456789\n\"e\"=hex(2):00\n\"t\"=\"a\" tail\n\"ok\"=\"1\"\n",
         6,
         {"A"},
         1},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n[HKEY_LOCAL_MACHINE\\]\n[-HKEY_LOCAL_MACHINE\\C]"
         "\n",
         3,
         {},
         0},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"h\"=hex:01,\\\n", 1, {"A"}, 0},
        {std::string("\xff\xfe\0\x01\x02\n", 6) + "[HKEY_LOCAL_MACHINE\\A]\n\x80\x81\n",
         2,
         {"A"},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const ParseResult r = Parse(c.text, kLM);
        EXPECT_EQ(r.badLines, c.badLines);
        std::vector<std::string> keys;
        std::size_t values = 0;
        for (const auto& k : r.document.keys) {
            keys.push_back(k.path);
            values += k.values.size();
        }
        EXPECT_EQ(keys, c.keys);
        EXPECT_EQ(values, c.values);
    }
}

TEST(RegFile, LineBreaksCannotBeWritten) {
    EXPECT_TRUE(Writable("plain \"text\" \\"));
    EXPECT_FALSE(Writable("two\nlines"));
    EXPECT_FALSE(Writable("cr\r"));
}

}  // namespace
}  // namespace kv::platform::regfile
