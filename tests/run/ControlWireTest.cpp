// The control socket's wire format as a hostile or broken peer writes it: arguments that look
// like the format itself, lengths that lie, replies cut short, padded or too large.
#include "run/ControlWire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using host::ControlReply;
using host::ControlWire;
using Reading = host::ControlWire::Reading;

TEST(ControlWire, ArgumentsOfAnyByteButNulAndNewlineComeBackExactly) {
  const std::vector<std::vector<std::string>> commands = {
      {},
      {""},
      {"", "", ""},
      {"shields", "/var/lib/flowdeck"},
      {"lift", "203.0.113.5 shop.example.com", "\"quoted\" 'single'"},
      {"a%20b%", "3:abc", " 2:xy", "ask 1:a", "\r", "\t\x7f\xff"},
      {"Grüße", "日本語", "🙂"},
  };
  for (const auto &arguments : commands) {
    std::string line;
    ASSERT_EQ(ControlWire::EncodeRequest(arguments, line), "");
    ASSERT_EQ(line.back(), '\n');
    ASSERT_EQ(line.find('\n'), line.size() - 1) << "one line";
    std::vector<std::string> decoded{"left over"};
    ASSERT_TRUE(
        ControlWire::DecodeRequest(std::string_view(line).substr(0, line.size() - 1), decoded))
        << line;
    EXPECT_EQ(decoded, arguments);
  }
  std::string line;
  EXPECT_NE(ControlWire::EncodeRequest({"a\nb"}, line), "");
  EXPECT_NE(ControlWire::EncodeRequest({std::string("a\0b", 3)}, line), "");
  EXPECT_NE(ControlWire::EncodeRequest({std::string(ControlWire::kMaxRequest, 'x')}, line), "");
  // "ask 4086:" and the line end around it fill the line exactly.
  const std::string fits(ControlWire::kMaxRequest - 10, 'x');
  EXPECT_EQ(ControlWire::EncodeRequest({fits}, line), "");
  EXPECT_EQ(line.size(), ControlWire::kMaxRequest);
  EXPECT_NE(ControlWire::EncodeRequest({fits + "x"}, line), "") << "one byte too many";
}

TEST(ControlWire, ARequestLineWhoseLengthsDoNotAddUpIsRefused) {
  std::vector<std::string> arguments;
  for (const std::string_view line :
       {"", "as", "asks", "ask ", "ask 3:ab", "ask 1:ab", "ask 1:a2:bc", "ask 01:a",
        "ask -1:", "ask +1:a", "ask 1a", "ask 1:a ", "ask  1:a", "ask 99999999999:a", "ASK 1:a"}) {
    EXPECT_FALSE(ControlWire::DecodeRequest(line, arguments)) << "'" << line << "'";
  }
  EXPECT_FALSE(ControlWire::DecodeRequest(std::string_view("ask 3:a\0b", 9), arguments));
  ASSERT_TRUE(ControlWire::DecodeRequest("ask 0: 1: ", arguments));
  EXPECT_EQ(arguments, (std::vector<std::string>{"", " "}));
}

TEST(ControlWire, AReplyIsTakenOnlyWhenWholeAndExact) {
  const ControlReply sent{3, std::string("line one\nline\0two\n", 18), "no such shield\n"};
  const std::string data = ControlWire::EncodeReply(sent);
  ControlReply reply;
  for (size_t cut = 0; cut < data.size(); ++cut)
    ASSERT_EQ(ControlWire::DecodeReply(data.substr(0, cut), reply), Reading::kIncomplete) << cut;
  ASSERT_EQ(ControlWire::DecodeReply(data, reply), Reading::kComplete);
  EXPECT_EQ(reply.status, 3);
  EXPECT_EQ(reply.out, sent.out);
  EXPECT_EQ(reply.err, sent.err);
  EXPECT_EQ(ControlWire::DecodeReply(data + "x", reply), Reading::kMalformed);

  EXPECT_EQ(ControlWire::DecodeReply("refused\n", reply), Reading::kRefused);
  EXPECT_EQ(ControlWire::DecodeReply("refused", reply), Reading::kIncomplete);
  for (const std::string head :
       {"reply 0 0\n", "reply 256 0 0\n", "reply 0 01 0\n", "reply -1 0 0\n", "reply 0 0 0 \n",
        "hello\n", "reply 0 4194305 0\n", "reply 0 0 99999999999\n"}) {
    EXPECT_EQ(ControlWire::DecodeReply(head, reply), Reading::kMalformed) << head;
  }
  EXPECT_EQ(ControlWire::DecodeReply(std::string(ControlWire::kMaxReplyHead, '1'), reply),
            Reading::kMalformed)
      << "a head without end is not waited for";
  ASSERT_EQ(ControlWire::DecodeReply(ControlWire::EncodeReply({-4, "", ""}), reply),
            Reading::kComplete);
  EXPECT_EQ(reply.status, 1) << "a status that does not fit the wire is a failure";
}

TEST(ControlWire, AReplyPastTheLimitIsCutAndSaysSo) {
  const ControlReply large{0, std::string(ControlWire::kMaxReplyPart + 1, 'o'), "warning\n"};
  ControlReply reply;
  ASSERT_EQ(ControlWire::DecodeReply(ControlWire::EncodeReply(large), reply), Reading::kComplete);
  EXPECT_LT(reply.out.size(), large.out.size());
  EXPECT_EQ(reply.out, large.out.substr(0, reply.out.size()));
  EXPECT_TRUE(reply.err.starts_with("warning\n"));
  EXPECT_NE(reply.err.find("cut"), std::string::npos);

  const ControlReply exact{0, std::string(ControlWire::kMaxReplyPart, 'o'), ""};
  ASSERT_EQ(ControlWire::DecodeReply(ControlWire::EncodeReply(exact), reply), Reading::kComplete);
  EXPECT_EQ(reply.out.size(), exact.out.size());
  EXPECT_EQ(reply.err, "");
}

}  // namespace
