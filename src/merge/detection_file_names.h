// How the detection-info files of an FF folder are named, and which names
// a listing holds in which order: a per-camera file is "KELdetectinfo_" +
// its camera number + "_" + further text + ".txt", and camera number 0000
// marks the merged file of the folder.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::string_view kDetectionFilePrefix = "KELdetectinfo_";
inline constexpr std::string_view kDetectionFileSuffix = ".txt";

// The merged file of the FF folder whose own name is `folderName`.
std::string mergedFileName(const std::string& folderName);

// True when `name` is one the listing holds: "KELdetectinfo_" at its start
// and ".txt" at its end, letter case aside, as the Windows command
// interpreter matches the pattern KELdetectinfo_*.txt.
bool isDetectionInfoName(std::string_view name);

// The listing's order, that of a Windows folder: names compared with a-z
// taken as A-Z, ties by plain byte order.
bool listedBefore(const std::string& a, const std::string& b);

// True when `name` is one the listing holds and the run merges: a
// per-camera file's, whose camera number is not 0.
bool isPerCameraName(std::string_view name);

// Takes the camera number from a listed name as "KELdetectinfo_%4d" reads
// it: the exact prefix, blanks allowed, then at most four characters of
// sign and digits. False when the name gives no number.
bool cameraNumberOf(const std::string& name, int& camera);
