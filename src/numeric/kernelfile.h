#pragma once
// The shipped kernel table "Kernels": a .mat plane of 21 x 21 presharpening kernels, one
// per row, six scales (2, 3, 4, 5, 7, 9) for each of the five reduction models.
#include <filesystem>
#include <string>

class matrix;

inline constexpr int kKernelRows = 30;
inline constexpr int kKernelScales[6] = {2, 3, 4, 5, 7, 9};

// Reads and checks the table (441 columns, at least 30 rows, the header's count and the
// file's length agreeing, every value finite). Returns the empty text on success, else
// the message that names the file as not found or damaged, and leaves table empty.
std::string ReadKernelTable(matrix& table);
// The same from the file at path (an empty path: not found).
std::string ReadKernelTable(matrix& table, const std::filesystem::path& path);
