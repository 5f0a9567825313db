#include "quillet-capture/protocol/Command.h"

#include <gtest/gtest.h>

#include <string>

#include "common/text/UnicodeText.h"

namespace quillet::capture {
namespace {

Command commandNamed(std::string cmd) {
  Command command;
  command.cmd = std::move(cmd);
  return command;
}

// A member holding `depth` nested arrays, inside the command object (one more level).
std::string lineNestedTo(std::size_t depth) {
  return R"({"cmd":"stop","extra":)" + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
}

TEST(CommandTest, DecodesValidLinesWithDefaults) {
  Command fullStart = commandNamed("start");
  fullStart.meetingId = "m-42";
  fullStart.locale = "fr-FR";
  fullStart.appBundleId = "us.zoom.xos";
  fullStart.stagingDir = "/tmp/staging";
  fullStart.startPaused = true;

  Command unicodeMeeting = commandNamed("start");
  unicodeMeeting.meetingId = "r\xC3\xA9union \xE2\x9C\x93";

  Command emptyStaging = commandNamed("start");
  emptyStaging.stagingDir = "";

  static const struct {
    const char* name;
    std::string line;
    Command expected;
  } cases[] = {
      {"only cmd", R"({"cmd":"stop"})", commandNamed("stop")},
      {"an unknown member of any type", R"({"cmd":"stop","anything":[1,{"x":null}],"more":true})", commandNamed("stop")},
      {"every member", R"({"cmd":"start","meetingId":"m-42","locale":"fr-FR","appBundleId":"us.zoom.xos","stagingDir":"/tmp/staging","startPaused":true})",
       fullStart},
      {"nulls count as absent",
       R"({"cmd":"start","meetingId":null,"locale":null,"appBundleId":null,"stagingDir":null,"startPaused":null})",
       commandNamed("start")},
      {"an unknown cmd value still decodes", R"({"cmd":"pause"})", commandNamed("pause")},
      {"a carriage return before the line feed", "{\"cmd\":\"stop\"}\r", commandNamed("stop")},
      {"white space around the object", " \t{\"cmd\":\"stop\"} ", commandNamed("stop")},
      {"non-ASCII text", "{\"cmd\":\"start\",\"meetingId\":\"r\xC3\xA9union \xE2\x9C\x93\"}", unicodeMeeting},
      {"an empty staging folder is kept as given", R"({"cmd":"start","stagingDir":""})", emptyStaging},
      {"brackets inside strings are not nesting", R"({"cmd":"stop","note":")" + std::string(100, '[') + "\"}",
       commandNamed("stop")},
      {"nesting at the limit", lineNestedTo(Command::kMaximumNestingDepth), commandNamed("stop")},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    const auto decoded = Command::decode(testCase.line);
    ASSERT_TRUE(decoded.hasValue()) << decoded.error().description;
    EXPECT_EQ(decoded.value(), testCase.expected);
  }
}

TEST(CommandTest, RejectsLinesThatAreNotCommands) {
  static const struct {
    const char* name;
    std::string line;
    std::string expectedInDescription;
  } cases[] = {
      {"startPaused as a string", R"({"cmd":"start","startPaused":"yes"})", R"(member "startPaused" is not a boolean)"},
      {"startPaused as a number", R"({"cmd":"start","startPaused":1})", R"(member "startPaused" is not a boolean)"},
      {"locale as a number", R"({"cmd":"start","locale":5})", R"(member "locale" is not a string)"},
      {"meetingId as a boolean", R"({"cmd":"start","meetingId":true})", R"(member "meetingId" is not a string)"},
      {"appBundleId as an array", R"({"cmd":"start","appBundleId":[]})", R"(member "appBundleId" is not a string)"},
      {"stagingDir as an object", R"({"cmd":"start","stagingDir":{}})", R"(member "stagingDir" is not a string)"},
      {"cmd as a number", R"({"cmd":5})", R"(member "cmd" is not a string)"},
      {"no cmd", R"({"locale":"en-US"})", R"(member "cmd" is missing)"},
      {"cmd null", R"({"cmd":null})", R"(member "cmd" is missing)"},
      {"not JSON", "stop", "parse error"},
      {"an unfinished object", R"({"cmd":"stop")", "parse error"},
      {"two objects on one line", R"({"cmd":"stop"} {"cmd":"stop"})", "parse error"},
      {"ill-formed UTF-8 in a string", "{\"cmd\":\"st\xFFop\"}", "parse error"},
      {"white space only", "   ", "parse error"},
      {"a carriage return alone", "\r", "parse error"},
      {"an array", R"(["cmd","stop"])", "not a JSON object"},
      {"a string", R"("stop")", "not a JSON object"},
      {"a number", "42", "not a JSON object"},
      {"null", "null", "not a JSON object"},
      {"nesting one level past the limit", lineNestedTo(Command::kMaximumNestingDepth + 1), "nested deeper than 32"},
      {"a line of opening brackets", std::string(100000, '['), "nested deeper than 32"},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    const auto decoded = Command::decode(testCase.line);
    ASSERT_TRUE(decoded.failed());
    const std::string& description = decoded.error().description;
    EXPECT_NE(description.find(testCase.expectedInDescription), std::string::npos) << description;
    // The description ends up in an event, which only carries well-formed text.
    EXPECT_TRUE(text::isValidUTF8(description)) << description;
  }
}

TEST(CommandTest, NamesOnlyStartAndStop) {
  EXPECT_EQ(commandNamed("start").name(), CommandName::start);
  EXPECT_EQ(commandNamed("stop").name(), CommandName::stop);
  for (const char* other : {"pause", "Start", "STOP", "", " stop"}) {
    SCOPED_TRACE(other);
    EXPECT_EQ(commandNamed(other).name(), std::nullopt);
  }
}

}  // namespace
}  // namespace quillet::capture
