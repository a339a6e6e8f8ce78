// Paths of the files the programs open, as people give them: UTF-8 text from the command line or
// a file dialog. Every file a program opens by a name goes through here, so a name outside ASCII
// means the same file on every platform (Windows would read a narrow name in its ANSI code page).
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace zvk {

std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string PathToUtf8(const std::filesystem::path& path);

// std::fopen for a path of any name; null with errno set when it cannot be opened.
std::FILE* OpenFile(const std::filesystem::path& path, const char* mode);

}  // namespace zvk
