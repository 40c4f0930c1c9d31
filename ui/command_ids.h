#pragma once
// Command ids of the main window's menu, toolbar and keys. The numbers are
// the ones the string table keys its prompts by.

namespace wp {

inline constexpr int ID_MAIL_RECEIVE = 32773;
inline constexpr int ID_MAIL_VIEW = 32774;
inline constexpr int ID_MAIL_DELETE = 32776;
inline constexpr int ID_ACCOUNT_SETTINGS = 32777;
inline constexpr int ID_MARK = 32780;
inline constexpr int ID_UNMARK = 32781;
inline constexpr int ID_ACCOUNT_SELECT = 32784;
inline constexpr int ID_WRENPOST_EXIT = 32785;
inline constexpr int ID_CLEAR_CACHE = 32786;
inline constexpr int ID_SELECT_ALL = 32787;
inline constexpr int ID_MAIL_SAVE = 32791;
inline constexpr int ID_EDIT_COPY = 57634;
inline constexpr int ID_EDIT_CUT = 57635;
inline constexpr int ID_EDIT_PASTE = 57637;
inline constexpr int ID_EDIT_UNDO = 57643;
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_HELP_INDEX = 57666;
inline constexpr int ID_CONTEXT_HELP = 57670;
inline constexpr int ID_VIEW_TOOLBAR = 59392;
inline constexpr int ID_VIEW_STATUS_BAR = 59393;

// "ToolPos": the toolbar's side, as the profile keeps it.
inline constexpr int kToolPosTop = 10240;
inline constexpr int kToolPosLeft = 5120;
inline constexpr int kToolPosRight = 16640;
inline constexpr int kToolPosBottom = 33280;
inline constexpr int kToolPosFloating = 0;

}  // namespace wp
