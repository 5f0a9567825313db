// Insertion, focus tracking and the page-context reader against applications nobody here wrote
// (mousepad, gedit, xterm) under a window manager, checked the way a user would notice: the saved file,
// the caret, one Ctrl+Z, the clipboard afterwards.

#include <QGuiApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/text/UnicodeText.h"
#include "platform/fake/FakeScreens.h"
#include "platform/fake/FakeTextLayout.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/identity/ProcessAppIdentity.h"
#include "platform/linux/posix/SystemClock.h"
#include "platform/linux/qt/QtMainLoop.h"
#include "platform/linux/qt/QtPasteboard.h"
#include "platform/linux/x11/X11ApplicationActivation.h"
#include "platform/linux/x11/X11GlobalClickMonitor.h"
#include "platform/linux/x11/X11Workspace.h"
#include "platform/linux/x11/XTestKeySynth.h"
#include "quillet-dictate/accessibility/AccessibilityMonitor.h"
#include "quillet-dictate/accessibility/ContextSniffer.h"
#include "quillet-dictate/accessibility/TextInsertion.h"
#include "quillet-dictate/shell/VxLog.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/FileContents.h"
#include "tests/support/RealDesktop.h"
#include "tests/support/RunLoopUntil.h"
#include "tests/support/ShownTextArea.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::dictate {
namespace {

using platform::AccessibilityElement;
using platform::AXAttribute;
using platform::AXTextRange;
using test::DesktopApplication;
using test::RealDesktop;

// Accents, emoji with a skin tone and a family joined by zero-width joiners, and a dash: every way UTF-8
// and UTF-16 offsets part.
const std::string kDictated = "Caf\xC3\xA9 na\xC3\xAFve \xF0\x9F\x8E\x89\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD "
                              "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7 \xE2\x80\x94";
const std::string kDocument = "Hello world\nsecond line\n";

// One desktop for the suite: Qt's clipboard and libatspi each connect once per process.
struct ApplicationsDesktop {
  ApplicationsDesktop() {
    desktop.useInThisProcess();
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    static int argc = 1;
    static char name[] = "quillet_real_application_tests";
    static char* argv[] = {name, nullptr};
    application = std::make_unique<QGuiApplication>(argc, argv);
    loop = std::make_unique<platform::qt::QtMainLoop>();
    accessibility = std::make_unique<platform::atspi::AtspiAccessibility>(*loop);
    workspace = std::make_unique<platform::x11::X11Workspace>(*loop, identity, desktop.displayName());
  }

  RealDesktop desktop;
  platform::identity::ProcessAppIdentity identity;
  // Qt's clipboard needs a QGuiApplication on the private display; it goes before the display does.
  std::unique_ptr<QGuiApplication> application;
  std::unique_ptr<platform::qt::QtMainLoop> loop;
  std::unique_ptr<platform::atspi::AtspiAccessibility> accessibility;
  std::unique_ptr<platform::x11::X11Workspace> workspace;
  platform::qt::QtPasteboard clipboard;
  platform::qt::QtPasteboard primarySelection{platform::qt::QtPasteboard::Selection::primary};
  platform::x11::XTestKeySynth keys{desktop.displayName()};
  platform::x11::X11ApplicationActivation activation{desktop.displayName()};
};

class RealApplicationInsertionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { desktop_ = new ApplicationsDesktop(); }
  static void TearDownTestSuite() {
    delete desktop_;
    desktop_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(desktop_, nullptr);
    ASSERT_TRUE(runUntil([] { return ax().isTrusted(); })) << "the accessibility bus never became usable";
    insertion_ = TextInsertion::create({ax(), desktop_->identity, desktop_->clipboard, desktop_->primarySelection,
                                        desktop_->keys, desktop_->activation, *desktop_->loop, log_,
                                        [this] { return currentTarget_; }});
  }

  static platform::atspi::AtspiAccessibility& ax() { return *desktop_->accessibility; }
  static RealDesktop& desk() { return desktop_->desktop; }

  static bool runUntil(const std::function<bool()>& condition, double seconds = 20) {
    return test::runLoopUntil(*desktop_->loop, condition, seconds);
  }

  static void runFor(double seconds) {
    bool over = false;
    auto timer = desktop_->loop->after(seconds, [&] { over = true; });
    runUntil([&] { return over; }, seconds + 5);
  }

  std::filesystem::path writeDocument(const std::string& name, const std::string& contents) {
    const auto path = folder_.path() / name;
    std::ofstream(path, std::ios::binary) << contents;
    return path;
  }

  // The document's text view, once the editor shows it on the accessibility bus.
  static AccessibilityElement documentOf(const DesktopApplication& application) {
    return test::documentViewOf(ax(), *desktop_->loop, application.processId());
  }

  static std::optional<AXTextRange> selectionOf(const AccessibilityElement& element) {
    return ax().typedAttribute<AXTextRange>(element, AXAttribute::selectedTextRange);
  }

  // Puts the caret after the first `characters` characters of the first line, with the keyboard.
  static void caretToColumn(const AccessibilityElement& view, int characters) {
    ASSERT_TRUE(desk().pressKeys("ctrl+Home"));
    for (int step = 0; step < characters; ++step) ASSERT_TRUE(desk().pressKeys("Right"));
    ASSERT_TRUE(runUntil([&] { return selectionOf(view) == AXTextRange{characters, 0}; }, 10))
        << "the caret is at " << (selectionOf(view) ? selectionOf(view)->location : -1);
  }

  static std::int64_t utf16Units(const std::string& text) { return static_cast<std::int64_t>(text::utf16Length(text)); }

  static inline ApplicationsDesktop* desktop_ = nullptr;
  test::TemporaryDirectory folder_;
  test::CapturedLog captured_;
  platform::posix::SystemClock clock_;
  VxLog log_{folder_.path() / "vessio.log", clock_, captured_.mirror()};
  InsertionTarget currentTarget_;
  std::shared_ptr<TextInsertion> insertion_;
};

using Launch = std::unique_ptr<DesktopApplication> (RealDesktop::*)(const std::filesystem::path&);

struct Editor {
  const char* name;
  Launch launch;
};

const Editor kEditors[] = {{"mousepad", &RealDesktop::launchMousepad}, {"gedit", &RealDesktop::launchGedit}};

TEST_F(RealApplicationInsertionTest, EditorsTakeTheTextAtTheCaretByteExactAndOneUndoTakesItBack) {
  for (const auto& editor : kEditors) {
    SCOPED_TRACE(editor.name);
    const auto file = writeDocument(std::string(editor.name) + "-insert.txt", kDocument);
    const auto application = (desk().*editor.launch)(file);
    const auto view = documentOf(*application);
    ASSERT_FALSE(view.isNone());
    caretToColumn(view, 6);
    desktop_->clipboard.write(platform::PasteboardContents::withText("untouched"));

    insertion_->insertAtCursor(kDictated, view);

    EXPECT_TRUE(captured_.contains("✏️ insertAtCursor: len=" + std::to_string(text::characterCount(kDictated)) +
                                   " landed=true fieldLen=" + std::to_string(text::characterCount(kDocument) +
                                                                             text::characterCount(kDictated) + 1)))
        << captured_.text();
    EXPECT_EQ(selectionOf(view), (AXTextRange{6 + utf16Units(kDictated + " "), 0}))
        << "the caret sits right after the inserted text";
    ASSERT_TRUE(desk().save(*application, file));
    EXPECT_EQ(test::readFile(file), "Hello " + kDictated + " world\nsecond line\n");
    EXPECT_TRUE(desktop_->clipboard.holdsText("untouched")) << "nothing went through the clipboard";

    ASSERT_TRUE(desk().pressKeys("ctrl+z"));
    ASSERT_TRUE(desk().save(*application, file));
    EXPECT_EQ(test::readFile(file), kDocument) << "one Ctrl+Z restores the document as it was";
  }
}

TEST_F(RealApplicationInsertionTest, EditorsReplaceASelectionAsTypingOverItDoes) {
  for (const auto& editor : kEditors) {
    SCOPED_TRACE(editor.name);
    const auto file = writeDocument(std::string(editor.name) + "-replace.txt", kDocument);
    const auto application = (desk().*editor.launch)(file);
    const auto view = documentOf(*application);
    ASSERT_FALSE(view.isNone());
    caretToColumn(view, 6);
    ASSERT_TRUE(desk().pressKeys("shift+End"));
    ASSERT_TRUE(runUntil([&] { return selectionOf(view) == AXTextRange{6, 5}; }, 10));

    insertion_->insertAtCursor("there", view);

    EXPECT_EQ(selectionOf(view), (AXTextRange{12, 0}));
    ASSERT_TRUE(desk().save(*application, file));
    EXPECT_EQ(test::readFile(file), "Hello there \nsecond line\n");
  }
}

TEST_F(RealApplicationInsertionTest, LongDocumentsWithEmojiKeepTheirOffsetsWhileTheUserTypes) {
  // 150 000 characters with an emoji on every line: past the stretch read afresh for every offset.
  std::string document;
  for (int line = 0; line < 3000; ++line) document += "line " + std::to_string(line) + " \xF0\x9F\x98\x80 of the minutes ....................\n";
  const auto file = writeDocument("long.txt", document);
  const auto application = desk().launchGedit(file);
  const auto view = documentOf(*application);
  ASSERT_FALSE(view.isNone());
  // Text changes come in as events, as they do for the agent, whose focus tracker observes them.
  const auto observer = ax().createObserver(application->processId(), [](const AccessibilityElement&, const std::string&) {});
  // gedit keeps the file's last line break out of its buffer.
  const std::string buffer = document.substr(0, document.size() - 1);
  ASSERT_TRUE(runUntil([&] { return ax().typedAttribute<double>(view, AXAttribute::numberOfCharacters) == utf16Units(buffer); }));

  ASSERT_TRUE(desk().pressKeys("ctrl+End"));
  ASSERT_TRUE(runUntil([&] { return selectionOf(view) == AXTextRange{utf16Units(buffer), 0}; }, 10));
  ASSERT_TRUE(desk().typeText("ab"));
  ASSERT_TRUE(runUntil([&] { return selectionOf(view) == AXTextRange{utf16Units(buffer) + 2, 0}; }, 10));

  insertion_->insertAtCursor(kDictated, view);
  EXPECT_EQ(selectionOf(view), (AXTextRange{utf16Units(buffer + "ab" + kDictated + " "), 0}));
  ASSERT_TRUE(desk().pressKeys("ctrl+Home"));
  ASSERT_TRUE(desk().typeText("X"));
  ASSERT_TRUE(runUntil([&] { return selectionOf(view) == AXTextRange{1, 0}; }, 10));
  const auto tail = ax().parameterizedAttribute(view, platform::AXParameterizedAttribute::stringForRange,
                                                AXTextRange{1 + utf16Units(buffer + "ab"), 1000});
  EXPECT_EQ(tail, platform::AXAttributeValue(kDictated + " ")) << "a range near the end, after edits at both ends";

  ASSERT_TRUE(desk().save(*application, file));
  EXPECT_EQ(test::readFile(file), "X" + buffer + "ab" + kDictated + " \n");
}

TEST_F(RealApplicationInsertionTest, XtermReceivesThePasteThroughShiftInsertAndTheUsersSelectionsComeBack) {
  const auto typed = folder_.path() / "typed.txt";
  const auto terminal = desk().launchXterm("cat > " + typed.string());
  // The agent's loop runs all the time and so hears at once of selections other applications take,
  // which Qt needs to own one after them; here the loop was idle while the editors of earlier tests ran.
  runFor(0.2);
  desktop_->clipboard.write(platform::PasteboardContents::withText("the user's clipboard"));
  desktop_->primarySelection.write(platform::PasteboardContents::withText("the user's selection"));
  const auto window = desktop_->workspace->frontmostWindow();
  ASSERT_TRUE(window.has_value());
  ASSERT_EQ(window->application.processId, terminal->processId());
  ASSERT_TRUE(ax().applicationElement(terminal->processId()).isNone()) << "xterm exposes no accessibility tree";

  EXPECT_EQ(insertion_->insertIntoTarget(kDictated, InsertionTarget::window(*window)), TextInsertion::Route::field);
  runFor(TextInsertion::keystrokeDelaySeconds + 0.3);
  ASSERT_TRUE(desk().pressKeys("Return"));  // cat reads what the terminal holds once the line ends

  EXPECT_TRUE(RealDesktop::waitForFileContents(typed, kDictated + " \n", std::chrono::seconds(10)))
      << "the file holds: " << test::readFile(typed);
  EXPECT_TRUE(runUntil([] { return desktop_->clipboard.holdsText("the user's clipboard"); }, 5));
  EXPECT_TRUE(runUntil([] { return desktop_->primarySelection.holdsText("the user's selection"); }, 5));
}

TEST_F(RealApplicationInsertionTest, XtermTypesAControlCharacterForTheChordOtherTerminalsPasteWith) {
  // Why xterm needs its own chord: Control+Shift+V reaches the program as ^V (0x16), not as a paste.
  const auto typed = folder_.path() / "raw.txt";
  const auto terminal = desk().launchXterm("stty raw -echo; head -c 1 > " + typed.string());
  desktop_->clipboard.write(platform::PasteboardContents::withText("pasted"));
  runFor(0.2);
  desktop_->keys.post({{platform::ModifierKey::control, platform::ModifierKey::shift}, "v"});

  EXPECT_TRUE(RealDesktop::waitUntil(
      [&] {
        runFor(0.05);
        return test::readFile(typed) == "\x16";
      },
      std::chrono::seconds(10)))
      << "the file holds: " << test::readFile(typed);
}

TEST_F(RealApplicationInsertionTest, SwitchingFromAnEditorToXtermLosesTheFieldAndTheTargetIsXterm) {
  const auto typed = folder_.path() / "switched.txt";
  const auto terminal = desk().launchXterm("cat > " + typed.string());
  const auto file = writeDocument("switch.txt", kDocument);
  const auto editor = desk().launchMousepad(file);
  const auto view = documentOf(*editor);
  ASSERT_FALSE(view.isNone());

  platform::fake::FakeScreens screens;
  screens.attached = {{.frame = {0, 0, 640, 480}, .visibleFrame = {0, 0, 640, 480}}};
  platform::fake::FakeTextLayout layout;
  FieldGeometry geometry{{ax(), desktop_->identity, screens, layout, nullptr, log_}};
  platform::x11::X11GlobalClickMonitor clicks(*desktop_->loop, desk().displayName());
  auto monitor = AccessibilityMonitor::create({ax(), *desktop_->workspace, desktop_->identity, *desktop_->loop, clock_,
                                               screens, clicks, log_, geometry});
  int lost = 0;
  monitor->onFieldLost = [&] { ++lost; };
  monitor->start();
  ASSERT_TRUE(runUntil([&] { return monitor->currentElement() == view; }));

  ASSERT_EQ(desk().switchWindowByKeyboard(), terminal->windowId());
  ASSERT_TRUE(runUntil([&] { return lost > 0 && monitor->insertionTarget().window().has_value(); }, 10))
      << captured_.text();
  EXPECT_TRUE(monitor->currentElement().isNone());
  EXPECT_EQ(monitor->insertionTarget().window()->application.processId, terminal->processId());

  // A session takes its target now; the text goes to xterm, never to the editor behind it.
  currentTarget_ = monitor->insertionTarget();
  insertion_->insertIntoTarget("ls -la", {});
  runFor(TextInsertion::keystrokeDelaySeconds + 0.3);
  ASSERT_TRUE(desk().pressKeys("Return"));
  EXPECT_TRUE(RealDesktop::waitForFileContents(typed, "ls -la \n", std::chrono::seconds(10)))
      << "the file holds: " << test::readFile(typed);
  EXPECT_EQ(ax().typedAttribute<std::string>(view, AXAttribute::value), "Hello world\nsecond line\n");
}

TEST_F(RealApplicationInsertionTest, ACopyFromGeditIsKeptAsDataOnlyAndPastesBackTheSame) {
  const auto file = writeDocument("copy.txt", "Copy me, please\n");
  const auto application = desk().launchGedit(file);
  const auto view = documentOf(*application);
  ASSERT_FALSE(view.isNone());
  ASSERT_TRUE(desk().pressKeys("ctrl+a"));
  ASSERT_TRUE(desk().pressKeys("ctrl+c"));
  ASSERT_TRUE(runUntil([] { return desktop_->clipboard.holdsText("Copy me, please"); }, 10));

  const auto snapshot = desktop_->clipboard.contents();

  ASSERT_FALSE(snapshot.isEmpty());
  for (const auto& format : snapshot.formats()) {
    EXPECT_NE(format.mimeType.find('/'), std::string::npos)
        << format.mimeType << " is a protocol target or a toolkit's private handle, not data";
  }
  EXPECT_EQ(snapshot.plainText(), "Copy me, please");

  // Put back after one of our pastes, the copy still pastes as the user made it.
  desktop_->clipboard.write(platform::PasteboardContents::withText("our payload"));
  desktop_->clipboard.write(snapshot);
  ASSERT_TRUE(desk().pressKeys("ctrl+End"));
  ASSERT_TRUE(desk().pressKeys("ctrl+v"));
  ASSERT_TRUE(runUntil([&] { return ax().typedAttribute<std::string>(view, AXAttribute::value) == "Copy me, pleaseCopy me, please"; }, 10))
      << ax().typedAttribute<std::string>(view, AXAttribute::value).value_or("(nothing)");
}

TEST_F(RealApplicationInsertionTest, PageContextOfGeditIsItsVisibleTextWithoutClosedMenus) {
  const auto file = writeDocument("context.txt", "Minutes of the budget meeting\nWe agreed on the plan.\n");
  const auto editor = desk().launchGedit(file);
  const auto view = documentOf(*editor);
  ASSERT_FALSE(view.isNone());
  ContextSniffer sniffer({ax(), *desktop_->workspace, [&] { return view; }, [] { return std::string("org.gnome.gedit"); }});

  const auto context = sniffer.capture();

  EXPECT_EQ(context.text.rfind("Minutes of the budget meeting\nWe agreed on the plan.\n", 0), 0u)
      << "the document leads, ahead of the title bar:\n" << context.text;
  for (const char* hidden : {"Plain Text", "Save As", "Print", "Preferences", "Keyboard Shortcuts", ".desktop"}) {
    EXPECT_EQ(context.text.find(hidden), std::string::npos) << "closed-menu text: " << hidden << "\n" << context.text;
  }
  EXPECT_LT(context.text.size(), 400u) << context.text;
}

}  // namespace
}  // namespace quillet::dictate
