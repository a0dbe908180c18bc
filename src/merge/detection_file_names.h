// How the detection-info files of an FF folder are named: a per-camera
// file is "KELdetectinfo_" + its camera number + "_" + further text +
// ".txt", and camera number 0000 marks the merged file of the folder.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::string_view kDetectionFilePrefix = "KELdetectinfo_";
inline constexpr std::string_view kDetectionFileSuffix = ".txt";

// The merged file's name for the FF folder whose own name is
// `folderName`, without its suffix.
inline std::string mergedFileStem(const std::string& folderName) {
    return std::string(kDetectionFilePrefix) + "0000_" + folderName;
}

// The merged file of that folder.
inline std::string mergedFileName(const std::string& folderName) {
    return mergedFileStem(folderName) + std::string(kDetectionFileSuffix);
}

// The name the merged file is written under until it is complete: no
// listing takes it for a per-camera file, since it does not end in ".txt"
// (nor, on Windows, does its short name, "KELDET~1.TMP").
inline std::string stagingFileName(const std::string& folderName) {
    return mergedFileStem(folderName) + ".tmp";
}
