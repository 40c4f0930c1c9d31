#pragma once
// A fresh folder per test under $WRENPOST_TEST_TMP, holding the data folder
// "Mail", the account file beside it and a profile INI file of its own.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "accounts/account_info.h"
#include "accounts/account_list.h"
#include "platform/profile.h"

namespace wp::test {

inline std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> Bytes(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

inline AccountRecord MakeRecord(std::string_view name, std::string_view loginId = "user",
                                std::string_view server = "pop.example.jp", bool savePassword = true,
                                bool useApop = false) {
    AccountRecord record;
    record.SetName(name);
    record.SetLoginId(loginId);
    record.SetServer(server);
    record.SetSavePassword(savePassword);
    record.SetUseApop(useApop);
    return record;
}

inline std::vector<std::uint8_t> Encoded(const AccountRecord& record) {
    AccountBytes bytes = EncodeAccountRecord(record);
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("WRENPOST_TEST_TMP");
        std::filesystem::path root = (base != nullptr && *base != '\0') ? base : "/tmp";
        std::filesystem::create_directories(root);
        std::string pattern = (root / "accounts-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        dataFolder_ = root_ + "/Mail";
        std::filesystem::create_directory(dataFolder_);
        profile_ = std::make_unique<Profile>(root_ + "/profile.ini");
    }

    void TearDown() override {
        std::error_code ignored;
        std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(root_, ignored);
    }

    std::unique_ptr<CAccountList> Open(bool readOnly) {
        return std::make_unique<CAccountList>(readOnly, dataFolder_, *profile_);
    }

    std::string DataPath() const { return root_ + "/AccData.dat"; }
    std::vector<std::uint8_t> FileBytes() const { return ReadBytes(DataPath()); }

    // The record stored at a slot of the file, as bytes.
    std::vector<std::uint8_t> Slot(int number) const {
        auto bytes = FileBytes();
        auto start = static_cast<std::size_t>(number - 1) * kAccountRecordSize;
        if (bytes.size() < start + kAccountRecordSize) {
            return {};
        }
        return std::vector<std::uint8_t>(
            bytes.begin() + static_cast<std::ptrdiff_t>(start),
            bytes.begin() + static_cast<std::ptrdiff_t>(start + kAccountRecordSize));
    }

    // Names of the records in the file, in order ("" for a blanked slot).
    std::vector<std::string> FileNames() const {
        auto bytes = FileBytes();
        std::vector<std::string> names;
        for (std::size_t at = 0; at + kAccountRecordSize <= bytes.size(); at += kAccountRecordSize) {
            std::span<const std::uint8_t, kAccountRecordSize> slot(bytes.data() + at, kAccountRecordSize);
            AccountRecord record = DecodeAccountRecord(slot);
            record.TerminateFields();
            names.emplace_back(record.Name());
        }
        return names;
    }

    std::vector<std::string> StoreNames(const CAccountList& store) const {
        std::vector<std::string> names;
        for (int n = 1; n <= store.Size(); ++n) {
            names.emplace_back(store.Lookup(n)->Name());
        }
        return names;
    }

    std::string root_;
    std::string dataFolder_;
    std::unique_ptr<Profile> profile_;
};

}  // namespace wp::test
