#pragma once
// The application profile (the registry of the original platform): sections
// nested with a backslash ("WinPosition\\WinRect"), integer, string and binary
// values. Section and value names are CP932 bytes and may hold anything
// (account names become value names); they are escaped so they round-trip.
// String values are CP932 bytes inside and Unicode in the file.

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
    void SetInt(std::string_view section, std::string_view name, int value);

    std::string GetString(std::string_view section, std::string_view name,
                          std::string_view defaultValue = {}) const;
    void SetString(std::string_view section, std::string_view name, std::string_view value);

    std::optional<std::vector<std::uint8_t>> GetBinary(std::string_view section,
                                                       std::string_view name) const;
    void SetBinary(std::string_view section, std::string_view name,
                   const std::vector<std::uint8_t>& value);

    bool HasValue(std::string_view section, std::string_view name) const;
    // Deleting a missing value is no error.
    void DeleteValue(std::string_view section, std::string_view name);

    // Writes pending changes to disk.
    void Sync();

private:
    std::string path_;
};

}  // namespace wp
