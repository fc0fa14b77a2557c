// The one place where an errno becomes the sentence the user is shown. All
// of them are Japanese, end in "。" and name the folder they are about.
#pragma once

#include <string>

namespace tarnhollow::tool {

// "「folder」", escaped so that it can neither break the line nor read as
// a progress line.
std::string quoted(const std::string& path);

// The archive could not be written into folder.
std::string writeFailure(int error, const std::string& folder);
// The folder could not be opened before anything was collected.
std::string openFailure(int error, const std::string& folder);
// The medium filled; what was collected up to then is kept in kept.
std::string fullMediumSentence(const std::string& folder, const std::string& kept);

} // namespace tarnhollow::tool
