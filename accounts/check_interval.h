#pragma once
// How often an account is checked by itself, and whether closing the window
// keeps the program running in the tray. Both live in the profile, never in
// AccData.dat, whose layout is fixed.

#include <string_view>

namespace wp {

class Profile;

// Minutes between checks; 0 is off (the default).
inline constexpr int kCheckIntervalMax = 24 * 60;

// The account's interval; 0 for a missing or unusable value.
int CheckInterval(const Profile& profile, std::string_view accountName);
// 0 removes the value. False when the profile could not be written or the
// value is out of range.
bool SetCheckInterval(Profile& profile, std::string_view accountName, int minutes);

bool KeepInTrayOnClose(const Profile& profile);
bool SetKeepInTrayOnClose(Profile& profile, bool keep);

}  // namespace wp
