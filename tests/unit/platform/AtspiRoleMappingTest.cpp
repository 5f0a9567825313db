#include "platform/linux/atspi/AtspiRoleMapping.h"

#include <gtest/gtest.h>

#include <string>

namespace quillet::platform::atspi {
namespace {

// The table of docs/accessibility-roles.md, row by row, with every role a row names and each condition
// that changes the answer; the focus tracker writes only into what this calls a text field or area.
TEST(AtspiRoleMappingTest, EachRoleAndConditionGivesTheDocumentedAxRoleAndSubrole) {
  struct Facts {
    bool editable = false;
    bool multiLine = false;
    bool topLevel = false;
    bool searchInput = false;
  };
  constexpr Facts none{};
  constexpr Facts editable{.editable = true};
  constexpr Facts multiLine{.multiLine = true};
  constexpr Facts topLevel{.topLevel = true};
  constexpr Facts search{.searchInput = true};
  static const struct {
    AtspiRole role;
    Facts facts;
    const char* axRole;
    const char* axSubrole;
  } cases[] = {
      {ATSPI_ROLE_PASSWORD_TEXT, none, "AXTextField", "AXSecureTextField"},
      {ATSPI_ROLE_PASSWORD_TEXT, search, "AXTextField", "AXSecureTextField"},
      {ATSPI_ROLE_TEXT, multiLine, "AXTextArea", ""},
      {ATSPI_ROLE_ENTRY, multiLine, "AXTextArea", ""},
      {ATSPI_ROLE_ENTRY, search, "AXTextField", "AXSearchField"},
      {ATSPI_ROLE_TEXT, none, "AXTextField", ""},
      {ATSPI_ROLE_ENTRY, editable, "AXTextField", ""},
      {ATSPI_ROLE_EDITBAR, none, "AXTextField", ""},
      {ATSPI_ROLE_TERMINAL, none, "AXTextArea", ""},
      {ATSPI_ROLE_COMBO_BOX, editable, "AXComboBox", ""},
      {ATSPI_ROLE_AUTOCOMPLETE, editable, "AXComboBox", ""},
      {ATSPI_ROLE_COMBO_BOX, none, "AXPopUpButton", ""},
      {ATSPI_ROLE_AUTOCOMPLETE, none, "AXPopUpButton", ""},
      {ATSPI_ROLE_DOCUMENT_FRAME, editable, "AXTextArea", "AXContentEditable"},
      {ATSPI_ROLE_DOCUMENT_WEB, editable, "AXTextArea", "AXContentEditable"},
      {ATSPI_ROLE_DOCUMENT_TEXT, editable, "AXTextArea", "AXContentEditable"},
      {ATSPI_ROLE_DOCUMENT_EMAIL, editable, "AXTextArea", "AXContentEditable"},
      {ATSPI_ROLE_DOCUMENT_SPREADSHEET, editable, "AXTextArea", "AXContentEditable"},
      {ATSPI_ROLE_DOCUMENT_PRESENTATION, editable, "AXTextArea", "AXContentEditable"},
      {ATSPI_ROLE_DOCUMENT_WEB, none, "AXWebArea", ""},
      {ATSPI_ROLE_DOCUMENT_FRAME, none, "AXWebArea", ""},
      {ATSPI_ROLE_SECTION, editable, "AXTextArea", "AXContentEditable"},
      {ATSPI_ROLE_PARAGRAPH, editable, "AXTextArea", "AXContentEditable"},
      {ATSPI_ROLE_SECTION, none, "AXGroup", ""},
      {ATSPI_ROLE_PARAGRAPH, none, "AXGroup", ""},
      {ATSPI_ROLE_FRAME, topLevel, "AXWindow", "AXStandardWindow"},
      {ATSPI_ROLE_WINDOW, topLevel, "AXWindow", ""},
      {ATSPI_ROLE_DIALOG, topLevel, "AXWindow", "AXDialog"},
      {ATSPI_ROLE_ALERT, topLevel, "AXWindow", "AXDialog"},
      {ATSPI_ROLE_FILE_CHOOSER, topLevel, "AXWindow", "AXDialog"},
      {ATSPI_ROLE_COLOR_CHOOSER, topLevel, "AXWindow", "AXDialog"},
      {ATSPI_ROLE_FONT_CHOOSER, topLevel, "AXWindow", "AXDialog"},
      {ATSPI_ROLE_DIALOG, none, "AXGroup", "AXApplicationDialog"},
      {ATSPI_ROLE_ALERT, none, "AXGroup", "AXApplicationAlert"},
      {ATSPI_ROLE_FRAME, none, "AXGroup", ""},
      {ATSPI_ROLE_WINDOW, none, "AXGroup", ""},
      {ATSPI_ROLE_APPLICATION, none, "AXApplication", ""},
      {ATSPI_ROLE_LABEL, none, "AXStaticText", ""},
      {ATSPI_ROLE_STATIC, none, "AXStaticText", ""},
      {ATSPI_ROLE_CAPTION, none, "AXStaticText", ""},
      {ATSPI_ROLE_ACCELERATOR_LABEL, none, "AXStaticText", ""},
      {ATSPI_ROLE_DESCRIPTION_TERM, none, "AXStaticText", ""},
      {ATSPI_ROLE_DESCRIPTION_VALUE, none, "AXStaticText", ""},
      {ATSPI_ROLE_HEADING, none, "AXHeading", ""},
      {ATSPI_ROLE_PUSH_BUTTON, none, "AXButton", ""},
      {ATSPI_ROLE_TOGGLE_BUTTON, none, "AXCheckBox", "AXToggle"},
      {ATSPI_ROLE_PUSH_BUTTON_MENU, none, "AXPopUpButton", ""},
      {ATSPI_ROLE_CHECK_BOX, none, "AXCheckBox", ""},
      {ATSPI_ROLE_RADIO_BUTTON, none, "AXRadioButton", ""},
      {ATSPI_ROLE_PAGE_TAB, none, "AXRadioButton", "AXTabButton"},
      {ATSPI_ROLE_PAGE_TAB_LIST, none, "AXTabGroup", ""},
      {ATSPI_ROLE_IMAGE, none, "AXImage", ""},
      {ATSPI_ROLE_ICON, none, "AXImage", ""},
      {ATSPI_ROLE_DESKTOP_ICON, none, "AXImage", ""},
      {ATSPI_ROLE_ANIMATION, none, "AXImage", ""},
      {ATSPI_ROLE_MENU_ITEM, none, "AXMenuItem", ""},
      {ATSPI_ROLE_CHECK_MENU_ITEM, none, "AXMenuItem", ""},
      {ATSPI_ROLE_RADIO_MENU_ITEM, none, "AXMenuItem", ""},
      {ATSPI_ROLE_TEAROFF_MENU_ITEM, none, "AXMenuItem", ""},
      {ATSPI_ROLE_MENU, none, "AXMenu", ""},
      {ATSPI_ROLE_POPUP_MENU, none, "AXMenu", ""},
      {ATSPI_ROLE_MENU_BAR, none, "AXMenuBar", ""},
      {ATSPI_ROLE_LIST, none, "AXList", ""},
      {ATSPI_ROLE_LIST_BOX, none, "AXList", ""},
      {ATSPI_ROLE_DESCRIPTION_LIST, none, "AXList", ""},
      {ATSPI_ROLE_TABLE, none, "AXTable", ""},
      {ATSPI_ROLE_TREE, none, "AXOutline", ""},
      {ATSPI_ROLE_TREE_TABLE, none, "AXOutline", ""},
      {ATSPI_ROLE_TABLE_ROW, none, "AXRow", ""},
      {ATSPI_ROLE_TREE_ITEM, none, "AXRow", ""},
      {ATSPI_ROLE_TABLE_CELL, none, "AXCell", ""},
      {ATSPI_ROLE_TABLE_COLUMN_HEADER, none, "AXCell", ""},
      {ATSPI_ROLE_TABLE_ROW_HEADER, none, "AXCell", ""},
      {ATSPI_ROLE_COLUMN_HEADER, none, "AXCell", ""},
      {ATSPI_ROLE_ROW_HEADER, none, "AXCell", ""},
      {ATSPI_ROLE_SCROLL_PANE, none, "AXScrollArea", ""},
      {ATSPI_ROLE_SCROLL_BAR, none, "AXScrollBar", ""},
      {ATSPI_ROLE_SPLIT_PANE, none, "AXSplitGroup", ""},
      {ATSPI_ROLE_TOOL_BAR, none, "AXToolbar", ""},
      {ATSPI_ROLE_SLIDER, none, "AXSlider", ""},
      {ATSPI_ROLE_DIAL, none, "AXSlider", ""},
      {ATSPI_ROLE_SPIN_BUTTON, none, "AXIncrementor", ""},
      {ATSPI_ROLE_PROGRESS_BAR, none, "AXProgressIndicator", ""},
      {ATSPI_ROLE_LEVEL_BAR, none, "AXLevelIndicator", ""},
      {ATSPI_ROLE_LINK, none, "AXLink", ""},
      {ATSPI_ROLE_TOOL_TIP, none, "AXHelpTag", ""},
      {ATSPI_ROLE_RULER, none, "AXRuler", ""},
      {ATSPI_ROLE_PANEL, none, "AXGroup", ""},
      {ATSPI_ROLE_FILLER, none, "AXGroup", ""},
      {ATSPI_ROLE_LIST_ITEM, none, "AXGroup", ""},
      {ATSPI_ROLE_STATUS_BAR, none, "AXGroup", ""},
      {ATSPI_ROLE_NOTIFICATION, none, "AXGroup", ""},
      {ATSPI_ROLE_CANVAS, none, "AXGroup", ""},
      {ATSPI_ROLE_HTML_CONTAINER, none, "AXGroup", ""},
      // Being editable turns only documents, sections and paragraphs into text areas.
      {ATSPI_ROLE_PANEL, editable, "AXGroup", ""},
      {ATSPI_ROLE_LABEL, editable, "AXStaticText", ""},
      {ATSPI_ROLE_UNKNOWN, none, "AXUnknown", ""},
      {ATSPI_ROLE_EXTENDED, none, "AXUnknown", ""},
      {ATSPI_ROLE_INVALID, none, "AXUnknown", ""},
  };
  for (const auto& testCase : cases) {
    const AtspiRoleFacts facts{testCase.role, testCase.facts.editable, testCase.facts.multiLine,
                               testCase.facts.topLevel, testCase.facts.searchInput};
    const AXRoleMapping mapped = axRoleOf(facts);
    SCOPED_TRACE("AT-SPI role " + std::to_string(int(testCase.role)));
    EXPECT_EQ(mapped.role, testCase.axRole);
    EXPECT_EQ(mapped.subrole, testCase.axSubrole);
  }
}

// Only the roles whose answer depends on their place in the tree or on a search marking are asked about
// it, since finding either out costs a call into the other application.
TEST(AtspiRoleMappingTest, PlacementAndSearchMarkingsAreAskedOnlyWhereTheyMatter) {
  for (const AtspiRole role : {ATSPI_ROLE_FRAME, ATSPI_ROLE_WINDOW, ATSPI_ROLE_DIALOG, ATSPI_ROLE_ALERT,
                               ATSPI_ROLE_FILE_CHOOSER, ATSPI_ROLE_COLOR_CHOOSER, ATSPI_ROLE_FONT_CHOOSER}) {
    EXPECT_TRUE(roleDependsOnPlacement(role)) << role;
  }
  for (const AtspiRole role : {ATSPI_ROLE_TEXT, ATSPI_ROLE_PANEL, ATSPI_ROLE_APPLICATION, ATSPI_ROLE_PUSH_BUTTON}) {
    EXPECT_FALSE(roleDependsOnPlacement(role)) << role;
  }
  EXPECT_TRUE(roleMayBeSearchInput(ATSPI_ROLE_ENTRY));
  EXPECT_TRUE(roleMayBeSearchInput(ATSPI_ROLE_TEXT));
  EXPECT_FALSE(roleMayBeSearchInput(ATSPI_ROLE_PASSWORD_TEXT));
  EXPECT_FALSE(roleMayBeSearchInput(ATSPI_ROLE_COMBO_BOX));
}

}  // namespace
}  // namespace quillet::platform::atspi
