#pragma once
// Opening a file for reading only when it is a regular file. A named pipe, a device or a
// folder given as a file name would block the program or hand it bytes that are no file's;
// such a name is told apart from a missing file, and nothing waits on it.
#include <cstdio>
#include <string>

enum class FileKind { Missing, Regular, NotRegular };

// What path names, without opening it (the link is followed).
FileKind KindOfFile(const std::string& path);

// Opens path for binary reading when it names a regular file: checked before the open,
// opened without waiting and checked again on the open file. Null otherwise; kind, when
// given, says why.
std::FILE* OpenRegularFile(const std::string& path, FileKind* kind = nullptr);
