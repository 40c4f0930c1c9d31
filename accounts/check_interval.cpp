#include "accounts/check_interval.h"

#include "platform/profile.h"

namespace wp {
namespace {

// A section of their own: an account may be called anything, so no other
// setting may share their value names.
constexpr std::string_view kIntervalSection = "CheckEvery";
constexpr std::string_view kTraySection = "Tray";

}  // namespace

int CheckInterval(const Profile& profile, std::string_view accountName) {
    const int minutes = profile.GetInt(kIntervalSection, accountName, 0);
    return minutes > 0 && minutes <= kCheckIntervalMax ? minutes : 0;
}

bool SetCheckInterval(Profile& profile, std::string_view accountName, int minutes) {
    if (minutes < 0 || minutes > kCheckIntervalMax) {
        return false;
    }
    if (minutes == 0) {
        return profile.DeleteValue(kIntervalSection, accountName);
    }
    return profile.SetInt(kIntervalSection, accountName, minutes);
}

bool KeepInTrayOnClose(const Profile& profile) {
    return profile.GetInt(kTraySection, "KeepOnClose", 0) != 0;
}

bool SetKeepInTrayOnClose(Profile& profile, bool keep) {
    return profile.SetInt(kTraySection, "KeepOnClose", keep ? 1 : 0);
}

}  // namespace wp
