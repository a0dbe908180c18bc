// The camera number in the name of a per-camera detection-info file.
#pragma once

#include <string>

// Takes the camera number from a listed name as "KELdetectinfo_%4d" reads
// it: the exact prefix, blanks allowed, then at most four characters of
// sign and digits. False when the name gives no number.
bool cameraNumberOf(const std::string& name, int& camera);
