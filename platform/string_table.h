#pragma once
// The system's string table: texts by id, as CP932 bytes.

#include <string>

namespace wp {

// The text of a string id; an empty string for an id that has none.
const std::string& LoadString(int id);

// Status texts of the operations.
inline constexpr int IDS_STATUS_CONNECTING = 10009;
inline constexpr int IDS_STATUS_LOGGING_IN = 10011;
inline constexpr int IDS_STATUS_SENDING_PASSWORD = 10012;
inline constexpr int IDS_STATUS_LOGGED_IN = 10013;
inline constexpr int IDS_STATUS_RECEIVING = 10014;
inline constexpr int IDS_STATUS_RECEIVE_FAILED = 10015;
inline constexpr int IDS_STATUS_LIST_PARTIAL = 10016;
inline constexpr int IDS_STATUS_NO_MESSAGES = 10017;
inline constexpr int IDS_STATUS_LIST_DONE = 10018;
inline constexpr int IDS_STATUS_CACHE_SHOWN = 10019;
inline constexpr int IDS_STATUS_CACHE_LOADING = 10020;
inline constexpr int IDS_STATUS_DELETED = 10021;
inline constexpr int IDS_STATUS_DELETING = 10022;
inline constexpr int IDS_STATUS_DELETE_STOPPED = 10023;
inline constexpr int IDS_STATUS_MESSAGE_DONE = 10024;
inline constexpr int IDS_STATUS_MESSAGE_PARTIAL = 10025;
inline constexpr int IDS_STATUS_MESSAGE_NOT_FOUND = 10026;
inline constexpr int IDS_STATUS_RETRIEVE_STOPPED = 10027;
inline constexpr int IDS_STATUS_CONNECT_FAILED = 10105;
inline constexpr int IDS_STATUS_CANCELLED = 10106;
inline constexpr int IDS_LOGIN_REFUSED = 10107;
inline constexpr int IDS_ERROR_DETAIL = 10108;
inline constexpr int IDS_STATUS_PREPARE_FAILED = 10110;
inline constexpr int IDS_ERROR_RESOLVE = 10111;
inline constexpr int IDS_STATUS_NO_APOP = 10112;
inline constexpr int IDS_SEND_ERROR = 10316;
inline constexpr int IDS_RECEIVE_ERROR = 10317;
inline constexpr int IDS_ENTER_PASSWORD = 10318;
inline constexpr int IDS_ACCOUNT_EXISTS = 40101;
inline constexpr int IDS_ACCOUNT_NAME_EMPTY = 40102;
inline constexpr int IDS_ACCOUNT_ACTIVE = 40107;
inline constexpr int IDS_ACCOUNT_STEM_EXISTS = 40108;
inline constexpr int IDS_STATUS_DISCONNECTING = 40202;
inline constexpr int IDS_CLEAR_CACHE_QUESTION = 40203;
inline constexpr int IDS_DELETE_MARKED_QUESTION = 40204;
// An operation this build cannot carry out yet.
inline constexpr int IDS_STATUS_NOT_AVAILABLE = 10900;
// Another process (a second window, wrenpost-cli) holds what this one needs.
inline constexpr int IDS_CACHE_BUSY = 10950;
inline constexpr int IDS_ACCOUNTS_BUSY = 10951;
// No account is deleted while an operation runs.
inline constexpr int IDS_ACCOUNT_IN_USE = 10952;
// The account changed or went while its operation ran: nothing was kept.
inline constexpr int IDS_ACCOUNT_GONE = 10953;
// The login runs over TLS (POP3S or STLS).
inline constexpr int IDS_STATUS_LOGGED_IN_ENCRYPTED = 10970;

}  // namespace wp
