#pragma once

#include <atspi/atspi-constants.h>

#include <string_view>

namespace quillet::platform::atspi {

// What decides an element's AX role besides its AT-SPI role.
struct AtspiRoleFacts {
  AtspiRole role = ATSPI_ROLE_UNKNOWN;
  bool editable = false;     // STATE_EDITABLE
  bool multiLine = false;    // STATE_MULTI_LINE
  bool topLevel = false;     // a child of its application element
  bool searchInput = false;  // object attribute "text-input-type" is "search"
};

// An AX role and subrole; an empty subrole reads as absent.
struct AXRoleMapping {
  std::string_view role;
  std::string_view subrole;
};

// Roles whose AX role depends on whether they are one of the application's top-level windows.
inline bool roleDependsOnPlacement(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_ALERT:
    case ATSPI_ROLE_FILE_CHOOSER:
    case ATSPI_ROLE_COLOR_CHOOSER:
    case ATSPI_ROLE_FONT_CHOOSER:
      return true;
    default:
      return false;
  }
}

// Roles a web page can mark as a search field.
inline bool roleMayBeSearchInput(AtspiRole role) { return role == ATSPI_ROLE_ENTRY || role == ATSPI_ROLE_TEXT; }

// The AX role of an AT-SPI element; docs/accessibility-roles.md explains the choices.
inline AXRoleMapping axRoleOf(const AtspiRoleFacts& facts) {
  switch (facts.role) {
    case ATSPI_ROLE_PASSWORD_TEXT:
      return {"AXTextField", "AXSecureTextField"};
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_ENTRY:
      if (facts.multiLine) return {"AXTextArea", ""};
      return {"AXTextField", facts.searchInput ? "AXSearchField" : ""};
    case ATSPI_ROLE_EDITBAR:
      return {"AXTextField", ""};
    case ATSPI_ROLE_TERMINAL:
      return {"AXTextArea", ""};
    // A drop-down list without an entry takes no text; AX calls it a pop-up button.
    case ATSPI_ROLE_COMBO_BOX:
    case ATSPI_ROLE_AUTOCOMPLETE:
      return facts.editable ? AXRoleMapping{"AXComboBox", ""} : AXRoleMapping{"AXPopUpButton", ""};
    case ATSPI_ROLE_DOCUMENT_FRAME:
    case ATSPI_ROLE_DOCUMENT_WEB:
    case ATSPI_ROLE_DOCUMENT_TEXT:
    case ATSPI_ROLE_DOCUMENT_EMAIL:
    case ATSPI_ROLE_DOCUMENT_SPREADSHEET:
    case ATSPI_ROLE_DOCUMENT_PRESENTATION:
      return facts.editable ? AXRoleMapping{"AXTextArea", "AXContentEditable"} : AXRoleMapping{"AXWebArea", ""};
    case ATSPI_ROLE_SECTION:
    case ATSPI_ROLE_PARAGRAPH:
      return facts.editable ? AXRoleMapping{"AXTextArea", "AXContentEditable"} : AXRoleMapping{"AXGroup", ""};
    case ATSPI_ROLE_FRAME:
      return facts.topLevel ? AXRoleMapping{"AXWindow", "AXStandardWindow"} : AXRoleMapping{"AXGroup", ""};
    case ATSPI_ROLE_WINDOW:
      return {facts.topLevel ? "AXWindow" : "AXGroup", ""};
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_FILE_CHOOSER:
    case ATSPI_ROLE_COLOR_CHOOSER:
    case ATSPI_ROLE_FONT_CHOOSER:
      return facts.topLevel ? AXRoleMapping{"AXWindow", "AXDialog"} : AXRoleMapping{"AXGroup", "AXApplicationDialog"};
    case ATSPI_ROLE_ALERT:
      return facts.topLevel ? AXRoleMapping{"AXWindow", "AXDialog"} : AXRoleMapping{"AXGroup", "AXApplicationAlert"};
    case ATSPI_ROLE_APPLICATION:
      return {"AXApplication", ""};
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_CAPTION:
    case ATSPI_ROLE_ACCELERATOR_LABEL:
    case ATSPI_ROLE_DESCRIPTION_TERM:
    case ATSPI_ROLE_DESCRIPTION_VALUE:
      return {"AXStaticText", ""};
    case ATSPI_ROLE_HEADING:
      return {"AXHeading", ""};
    case ATSPI_ROLE_PUSH_BUTTON:
      return {"AXButton", ""};
    case ATSPI_ROLE_TOGGLE_BUTTON:
      return {"AXCheckBox", "AXToggle"};
    case ATSPI_ROLE_PUSH_BUTTON_MENU:
      return {"AXPopUpButton", ""};
    case ATSPI_ROLE_CHECK_BOX:
      return {"AXCheckBox", ""};
    case ATSPI_ROLE_RADIO_BUTTON:
      return {"AXRadioButton", ""};
    case ATSPI_ROLE_PAGE_TAB:
      return {"AXRadioButton", "AXTabButton"};
    case ATSPI_ROLE_PAGE_TAB_LIST:
      return {"AXTabGroup", ""};
    case ATSPI_ROLE_IMAGE:
    case ATSPI_ROLE_ICON:
    case ATSPI_ROLE_DESKTOP_ICON:
    case ATSPI_ROLE_ANIMATION:
      return {"AXImage", ""};
    case ATSPI_ROLE_MENU_ITEM:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
    case ATSPI_ROLE_TEAROFF_MENU_ITEM:
      return {"AXMenuItem", ""};
    case ATSPI_ROLE_MENU:
    case ATSPI_ROLE_POPUP_MENU:
      return {"AXMenu", ""};
    case ATSPI_ROLE_MENU_BAR:
      return {"AXMenuBar", ""};
    case ATSPI_ROLE_LIST:
    case ATSPI_ROLE_LIST_BOX:
    case ATSPI_ROLE_DESCRIPTION_LIST:
      return {"AXList", ""};
    case ATSPI_ROLE_TABLE:
      return {"AXTable", ""};
    case ATSPI_ROLE_TREE:
    case ATSPI_ROLE_TREE_TABLE:
      return {"AXOutline", ""};
    case ATSPI_ROLE_TABLE_ROW:
    case ATSPI_ROLE_TREE_ITEM:
      return {"AXRow", ""};
    case ATSPI_ROLE_TABLE_CELL:
    case ATSPI_ROLE_TABLE_COLUMN_HEADER:
    case ATSPI_ROLE_TABLE_ROW_HEADER:
    case ATSPI_ROLE_COLUMN_HEADER:
    case ATSPI_ROLE_ROW_HEADER:
      return {"AXCell", ""};
    case ATSPI_ROLE_SCROLL_PANE:
      return {"AXScrollArea", ""};
    case ATSPI_ROLE_SCROLL_BAR:
      return {"AXScrollBar", ""};
    case ATSPI_ROLE_SPLIT_PANE:
      return {"AXSplitGroup", ""};
    case ATSPI_ROLE_TOOL_BAR:
      return {"AXToolbar", ""};
    case ATSPI_ROLE_SLIDER:
    case ATSPI_ROLE_DIAL:
      return {"AXSlider", ""};
    case ATSPI_ROLE_SPIN_BUTTON:
      return {"AXIncrementor", ""};
    case ATSPI_ROLE_PROGRESS_BAR:
      return {"AXProgressIndicator", ""};
    case ATSPI_ROLE_LEVEL_BAR:
      return {"AXLevelIndicator", ""};
    case ATSPI_ROLE_LINK:
      return {"AXLink", ""};
    case ATSPI_ROLE_TOOL_TIP:
      return {"AXHelpTag", ""};
    case ATSPI_ROLE_RULER:
      return {"AXRuler", ""};
    case ATSPI_ROLE_PANEL:
    case ATSPI_ROLE_FILLER:
    case ATSPI_ROLE_GROUPING:
    case ATSPI_ROLE_FORM:
    case ATSPI_ROLE_LANDMARK:
    case ATSPI_ROLE_ARTICLE:
    case ATSPI_ROLE_BLOCK_QUOTE:
    case ATSPI_ROLE_LIST_ITEM:
    case ATSPI_ROLE_HEADER:
    case ATSPI_ROLE_FOOTER:
    case ATSPI_ROLE_VIEWPORT:
    case ATSPI_ROLE_ROOT_PANE:
    case ATSPI_ROLE_LAYERED_PANE:
    case ATSPI_ROLE_GLASS_PANE:
    case ATSPI_ROLE_OPTION_PANE:
    case ATSPI_ROLE_INTERNAL_FRAME:
    case ATSPI_ROLE_EMBEDDED:
    case ATSPI_ROLE_REDUNDANT_OBJECT:
    case ATSPI_ROLE_SEPARATOR:
    case ATSPI_ROLE_STATUS_BAR:
    case ATSPI_ROLE_INFO_BAR:
    case ATSPI_ROLE_NOTIFICATION:
    case ATSPI_ROLE_TITLE_BAR:
    case ATSPI_ROLE_CALENDAR:
    case ATSPI_ROLE_DATE_EDITOR:
    case ATSPI_ROLE_CANVAS:
    case ATSPI_ROLE_DRAWING_AREA:
    case ATSPI_ROLE_IMAGE_MAP:
    case ATSPI_ROLE_CHART:
    case ATSPI_ROLE_AUDIO:
    case ATSPI_ROLE_VIDEO:
    case ATSPI_ROLE_LOG:
    case ATSPI_ROLE_MARQUEE:
    case ATSPI_ROLE_TIMER:
    case ATSPI_ROLE_MATH:
    case ATSPI_ROLE_COMMENT:
    case ATSPI_ROLE_FOOTNOTE:
    case ATSPI_ROLE_PAGE:
    case ATSPI_ROLE_HTML_CONTAINER:
    case ATSPI_ROLE_DIRECTORY_PANE:
      return {"AXGroup", ""};
    default:
      return {"AXUnknown", ""};
  }
}

}  // namespace quillet::platform::atspi
