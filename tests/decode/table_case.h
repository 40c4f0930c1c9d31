#pragma once
// Table-driven cases name themselves by their "what" text.

#include <gtest/gtest.h>

#include <string>

namespace wp {

template <class Case>
std::string CaseName(const testing::TestParamInfo<Case>& info) {
    std::string name;
    for (const char* p = info.param.what; *p != '\0'; ++p) {
        bool word = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9');
        name += word ? *p : '_';
    }
    return name + "_" + std::to_string(info.index);
}

}  // namespace wp
