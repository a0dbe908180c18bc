#include "camera_number.h"

#include "detection_file_names.h"

bool cameraNumberOf(const std::string& name, int& camera) {
    if (name.compare(0, kDetectionFilePrefix.size(), kDetectionFilePrefix) != 0) {
        return false;
    }
    std::size_t at = kDetectionFilePrefix.size();
    while (at < name.size() && (name[at] == ' ' || (name[at] >= '\t' && name[at] <= '\r'))) {
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
