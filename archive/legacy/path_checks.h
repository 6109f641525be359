// Validating a pack request's paths before anything is written.
#pragma once

#include <cstdint>
#include <string>

#include "archive/legacy/messages.h"

namespace tuk {

// 0 when both paths are acceptable; 2 when the archive lies inside the
// source directory (the lower-cased source path is a leading part of the
// lower-cased archive path); 3 when either path holds an illegal character.
// Both strings are rewritten in place ('\' to '/'; strDirSource also lower
// case). Paths of 512 characters or more are refused with 3 (strTukName
// with "ERROR! Path too long: ").
uint32_t checkPackPaths(char* strDirSource, char* strTukName,
                        const Messages& messages = Messages());

// Whether path is directory itself or lies below it, comparing whole
// components of both paths once resolved (links, "." and ".." followed as
// far as the paths exist; A-Z against a-z on Windows, as its file names do).
bool PathIsInside(const std::string& path, const std::string& directory);

// A-Z to a-z in place, over at most the first 512 characters.
void lowerCasePath(char* text);

// 1 when text holds a control character, a byte above 126, '{', '|', '}',
// '~', '"', '*', '<', '>', '?', or a ':' anywhere but the second place
// (allowed there when allowDriveColon is 1); else 0.
uint32_t hasIllegalChars(const char* text, int allowDriveColon);

}  // namespace tuk
