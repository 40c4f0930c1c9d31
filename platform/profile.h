#pragma once
// The application profile (the registry of the original platform): sections
// nested with a backslash ("WinPosition\\WinRect"), integer, string and binary
// values. Section and value names are CP932 bytes and may hold anything
// (account names become value names); they are escaped so they round-trip.
// String values are CP932 bytes inside and Unicode in the file (bytes that
// are not CP932 are kept as bytes). Every change is on disk when the call
// returns, so other Profile objects on the same file, other threads and
// other processes see it; the setters return false when it could not be
// written.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wp {

class Profile {
public:
    // The user's profile: an INI file for organisation "Moorfield",
    // application "Wrenpost" under the user's config folder
    // ($XDG_CONFIG_HOME/Moorfield/Wrenpost.ini).
    Profile();
    // A profile kept in the given INI file (tests).
    explicit Profile(std::string iniPath);

    const std::string& Path() const { return path_; }

    int GetInt(std::string_view section, std::string_view name, int defaultValue) const;
    bool SetInt(std::string_view section, std::string_view name, int value);

    std::string GetString(std::string_view section, std::string_view name,
                          std::string_view defaultValue = {}) const;
    bool SetString(std::string_view section, std::string_view name, std::string_view value);

    std::optional<std::vector<std::uint8_t>> GetBinary(std::string_view section,
                                                       std::string_view name) const;
    bool SetBinary(std::string_view section, std::string_view name,
                   const std::vector<std::uint8_t>& value);

    bool HasValue(std::string_view section, std::string_view name) const;
    // Deleting a missing value is no error. A section of the same name stays.
    bool DeleteValue(std::string_view section, std::string_view name);

    // False when the file cannot be read or written.
    bool Sync();

private:
    std::string path_;
};

}  // namespace wp
