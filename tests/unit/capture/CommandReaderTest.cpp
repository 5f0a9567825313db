#include "quillet-capture/protocol/CommandReader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CollectedLines.h"
#include "TestPipe.h"

namespace quillet::capture {
namespace {

using testing::CollectedLines;
using testing::TestPipe;

using Lines = std::vector<std::string>;

// A reader on a pipe that records what it hands over as "command <cmd>" or "rejection <description>".
class CommandReaderTest : public ::testing::Test {
 protected:
  CommandReaderTest() {
    reader = std::make_unique<CommandReader>(
        input.readEnd(), [this](Command command) { handled.add("command " + command.cmd); },
        [this](const CommandRejection& rejection) { handled.add("rejection " + rejection.description); },
        diagnostics.sink());
    EXPECT_EQ(reader->start(), succeeded());
  }

  // Ends the input and waits until the reader has seen the end, so that all it will hand over is in.
  void endInputAndWait() {
    input.closeWriteEnd();
    ASSERT_TRUE(diagnostics.waitForCount(1));
    EXPECT_EQ(diagnostics.lines(), Lines{"[stdin] EOF\n"});
  }

  TestPipe input;
  CollectedLines handled;
  CollectedLines diagnostics;
  std::unique_ptr<CommandReader> reader;
};

TEST_F(CommandReaderTest, HandlesTheLinesOfOneReadInOrderAndSkipsEmptyOnes) {
  input.write("{\"cmd\":\"start\",\"meetingId\":\"a\"}\n\n{\"cmd\":\"pause\"}\nnot json\n\n{\"cmd\":\"stop\"}\r\n");
  endInputAndWait();
  const Lines lines = handled.lines();
  ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "command start");
  EXPECT_EQ(lines[1], "command pause");
  EXPECT_EQ(lines[2].rfind("rejection [json.exception.parse_error", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3], "command stop");
}

TEST_F(CommandReaderTest, KeepsAPartialLineUntilItsLineFeedArrives) {
  // The complete first line proves the read that brought the partial second one has happened.
  input.write("{\"cmd\":\"stop\"}\n{\"cmd\":\"sta");
  ASSERT_TRUE(handled.waitForCount(1));
  input.write("rt\"}");
  input.write("\n");
  ASSERT_TRUE(handled.waitForCount(2));
  EXPECT_EQ(handled.lines(), (Lines{"command stop", "command start"}));
}

TEST_F(CommandReaderTest, DropsAnUnfinishedLastLineAtTheEndOfInput) {
  input.write("{\"cmd\":\"stop\"}\n{\"cmd\":\"start\"}");
  endInputAndWait();
  EXPECT_EQ(handled.lines(), Lines{"command stop"});
}

TEST_F(CommandReaderTest, NotesTheEndOfAnEmptyInput) {
  endInputAndWait();
  EXPECT_EQ(handled.lines(), Lines{});
}

TEST_F(CommandReaderTest, RejectsAnOversizedLineOnceAndGoesOnAfterIt) {
  // Three times the limit, so the line spans many reads.
  input.write(std::string(3 * LineFramer::kDefaultMaximumLineBytes, 'x'));
  input.write("\n{\"cmd\":\"stop\"}\n");
  endInputAndWait();
  EXPECT_EQ(handled.lines(), (Lines{"rejection line longer than 1048576 bytes", "command stop"}));
}

TEST_F(CommandReaderTest, RejectsDeepNestingWithoutBuildingIt) {
  input.write(std::string(500000, '[') + "\n{\"cmd\":\"stop\"}\n");
  endInputAndWait();
  EXPECT_EQ(handled.lines(), (Lines{"rejection JSON nested deeper than 32 levels", "command stop"}));
}

TEST_F(CommandReaderTest, StopsWaitingForInputWhenDestroyed) {
  input.write("{\"cmd\":\"stop\"}\n");
  ASSERT_TRUE(handled.waitForCount(1));
  // The reader is blocked waiting for more input; destroying it must not wait for the host.
  reader.reset();
  EXPECT_EQ(diagnostics.lines(), Lines{});
}

}  // namespace
}  // namespace quillet::capture
