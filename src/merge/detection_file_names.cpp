#include "detection_file_names.h"

#include <algorithm>

namespace {

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y) { return upper(x) == upper(y); });
}

std::string mergedFileStem(const std::string& folderName) {
    return std::string(kDetectionFilePrefix) + "0000_" + folderName;
}

bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

std::string mergedFileName(const std::string& folderName) {
    return mergedFileStem(folderName) + std::string(kDetectionFileSuffix);
}

bool isDetectionInfoName(std::string_view name) {
    return name.size() >= kDetectionFilePrefix.size() + kDetectionFileSuffix.size() &&
           equalsIgnoringCase(name.substr(0, kDetectionFilePrefix.size()), kDetectionFilePrefix) &&
           equalsIgnoringCase(name.substr(name.size() - kDetectionFileSuffix.size()),
                              kDetectionFileSuffix);
}

bool listedBefore(const std::string& a, const std::string& b) {
    std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        auto x = static_cast<unsigned char>(upper(a[i]));
        auto y = static_cast<unsigned char>(upper(b[i]));
        if (x != y) {
            return x < y;
        }
    }
    if (a.size() != b.size()) {
        return a.size() < b.size();
    }
    return a < b;
}

bool cameraNumberOf(const std::string& name, int& camera) {
    if (name.compare(0, kDetectionFilePrefix.size(), kDetectionFilePrefix) != 0) {
        return false;
    }
    std::size_t at = kDetectionFilePrefix.size();
    while (at < name.size() && isBlank(name[at])) {
        ++at;
    }
    std::size_t end = at;
    bool negative = false;
    if (end < name.size() && (name[end] == '+' || name[end] == '-')) {
        negative = name[end] == '-';
        ++end;
    }
    int value = 0;
    std::size_t digits = 0;
    while (end < name.size() && end - at < 4 && name[end] >= '0' && name[end] <= '9') {
        value = value * 10 + (name[end] - '0');
        ++end;
        ++digits;
    }
    if (digits == 0) {
        return false;
    }
    camera = negative ? -value : value;
    return true;
}

bool isPerCameraName(std::string_view name) {
    int camera = 0;
    return isDetectionInfoName(name) && cameraNumberOf(std::string(name), camera) && camera != 0;
}
