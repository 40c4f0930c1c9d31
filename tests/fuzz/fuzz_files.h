#pragma once
// A scratch folder of the fuzzing process, and files written into it.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace wp::fuzz {

inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        std::string path = (std::filesystem::temp_directory_path() /
                            ("wrenpost-fuzz-" + std::to_string(::getpid())))
                               .string();
        std::filesystem::create_directories(path + "/Mail");
        return path;
    }();
    return folder;
}

inline void WriteBytes(const std::string& path, std::string_view bytes) {
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

// Cuts the input into `count` pieces at lengths its first two bytes per
// piece give (the last piece takes the rest).
template <std::size_t N>
void Split(std::string_view input, std::string_view (&pieces)[N]) {
    std::string_view head = input.substr(0, 2 * (N - 1));
    std::string_view rest = input.substr(head.size());
    for (std::size_t i = 0; i + 1 < N; ++i) {
        std::size_t want = 0;
        if (2 * i + 1 < head.size()) {
            want = static_cast<unsigned char>(head[2 * i]) | static_cast<unsigned char>(head[2 * i + 1]) << 8;
        }
        pieces[i] = rest.substr(0, want);
        rest = rest.substr(pieces[i].size());
    }
    pieces[N - 1] = rest;
}

}  // namespace wp::fuzz
