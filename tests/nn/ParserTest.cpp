#include "nn/nn_parser.h"

#include "nn/nn_membuf.h"
#include "tests/nn/NnTestSupport.h"

#include <istream>
#include <sstream>

namespace {

using nntest::Messages;
using nntest::reportsOf;

TEST(ParserTest, ReadsLittleEndianWords) {
    std::istringstream stream(std::string("\x04\x03\x02\x01\x00\x00\xc0\x3f", 8));
    uint32_t u = 0;
    float f = 0;
    ASSERT_TRUE(nn::Parser::read(stream, u));
    ASSERT_TRUE(nn::Parser::read(stream, f));
    EXPECT_EQ(u, 0x01020304u);
    EXPECT_EQ(f, 1.5f);
}

TEST(ParserTest, ShortReadsReportBytesReadAndWanted) {
    const struct {
        std::string bytes;
        size_t floats; // 0: a single uint32 read
        Messages messages;
    } cases[] = {
        {"", 0, {"Parse failed: 0 - 4"}},
        {"abc", 0, {"Parse failed: 3 - 4"}},
        {"abcde", 2, {"Parse failed: 5 - 8"}},
        {"", 3, {"Parse failed: 0 - 12"}},
    };
    for (const auto& c : cases) {
        std::istringstream stream(c.bytes);
        bool ok = true;
        const Messages messages = reportsOf([&] {
            if (c.floats == 0) {
                uint32_t v;
                ok = nn::Parser::read(stream, v);
            } else {
                float block[8];
                ok = nn::Parser::readArray(stream, block, c.floats);
            }
        });
        EXPECT_FALSE(ok);
        EXPECT_EQ(messages, c.messages) << c.bytes;
    }
}

TEST(ParserTest, ReadArrayRejectsANullBlock) {
    std::istringstream stream(std::string(8, '\0'));
    bool ok = true;
    EXPECT_EQ(reportsOf([&] { ok = nn::Parser::readArray(stream, nullptr, 2); }),
              Messages{"Output ptr is null"});
    EXPECT_FALSE(ok);
}

TEST(ParserTest, ReportLineNamesTheSourceFileAndLine) {
    testing::internal::CaptureStderr();
    std::istringstream stream("");
    uint32_t v;
    nn::Parser::read(stream, v);
    const std::string line = testing::internal::GetCapturedStderr();
    const std::string head = "[nn_parser.cpp::", tail = "] Parse failed: 0 - 4\n";
    ASSERT_GT(line.size(), head.size() + tail.size()) << line;
    EXPECT_EQ(line.substr(0, head.size()), head);
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
    const std::string number = line.substr(head.size(), line.size() - head.size() - tail.size());
    EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << line;
}

TEST(ParserTest, RemainingBytesOfSeekableStreams) {
    const std::string bytes = "0123456789";
    nn::membuf block(bytes.data(), bytes.size());
    std::istream memory(&block);
    std::istringstream string(bytes);
    for (std::istream* s :
         {static_cast<std::istream*>(&memory), static_cast<std::istream*>(&string)}) {
        EXPECT_EQ(nn::Parser::remainingBytes(*s), 10);
        char three[3];
        s->read(three, 3);
        EXPECT_EQ(nn::Parser::remainingBytes(*s), 7);
        EXPECT_EQ(s->get(), '3'); // the position survived the query
        uint32_t v;
        ASSERT_TRUE(nn::Parser::read(*s, v));
        EXPECT_EQ(nn::Parser::remainingBytes(*s), 2);
    }
}

TEST(ParserTest, MembufReadsTheCallersBlockInPlace) {
    const char bytes[] = {1, 0, 0, 0, 2, 0, 0, 0};
    nn::membuf block(bytes, sizeof bytes);
    std::istream stream(&block);
    uint32_t a = 0, b = 0, c = 0;
    EXPECT_TRUE(nn::Parser::read(stream, a));
    EXPECT_TRUE(nn::Parser::read(stream, b));
    EXPECT_EQ(reportsOf([&] { EXPECT_FALSE(nn::Parser::read(stream, c)); }),
              Messages{"Parse failed: 0 - 4"});
    EXPECT_EQ(a, 1u);
    EXPECT_EQ(b, 2u);
}

} // namespace
