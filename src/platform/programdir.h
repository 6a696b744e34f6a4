#pragma once
// The program directory: where the settings file, the completion sound, the numbered
// scratch slots and program defaults live. Temporary scratch files live in a private
// folder of this process inside it, which shut-down removes whole.
//
// A scratch folder is "scratch-<pid>" (or "scratch-<pid>-<n>" when that name is taken by a
// folder that is not ours) and holds the marker file kScratchMarker, written when the
// folder is made: one line "zep-scratch <pid> <start>", where <start> is field 22 of
// /proc/<pid>/stat (the process's start time in clock ticks since boot, 0 when unknown).
// Start-up removes a scratch folder only when it carries that marker and its process is
// gone: no such pid, or a pid that now belongs to a process started at another time.
// Folders without the marker are never touched.
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

inline constexpr const char* kScratchMarker = ".zep-scratch";

// $ZEP_HOME when set, else $XDG_DATA_HOME/zep, else ~/.local/share/zep.
std::filesystem::path DefaultProgramDirectory();

// Makes dir the program directory: creates it and this process's scratch folder, and
// removes scratch folders left by processes that no longer run. Returns false (and leaves
// the previous setting) when the folders cannot be created.
bool InitProgramDirectory(const std::filesystem::path& dir);

// Removes this process's scratch folder and everything in it, and forgets the directory.
void ShutDownProgramDirectory();

// Empty until InitProgramDirectory succeeded.
const std::filesystem::path& ProgramDirectory();
const std::filesystem::path& ScratchDirectory();

// A file of the program directory; the name unchanged when none is set.
std::filesystem::path ProgramPath(const std::string& name);
// A temporary scratch file; the name unchanged when no program directory is set.
std::filesystem::path ScratchPath(const std::string& name);

// Writes a file safely: the writer fills a temporary file beside target and returns true
// on success; only then is it renamed over target, so a failed write never destroys the
// previous file. Returns false when the temporary file could not be created, written or
// renamed (the temporary file is then removed, also when the writer throws).
//
// A symbolic link is followed to the file it names, which is replaced; the link stays.
// The new file keeps the replaced file's permission bits; a new file gets 0666 less the
// umask. A target without the write bit that applies to us (checked on the mode bits,
// so it holds for root too) is not replaced: a message names it as write-protected and
// the call returns false. The temporary file is ".zep-" and six random characters in
// the target's folder, so that targets of the longest names can be written.
bool WriteFileReplacing(const std::filesystem::path& target,
                        const std::function<bool(std::FILE* file)>& writer);

// The same for libraries that open the file themselves: the writer creates and fills the
// temporary path it is given (beside target, in the same folder; it does not exist yet)
// and returns true on success; the temporary file is then renamed over target, or
// removed on failure.
bool WritePathReplacing(const std::filesystem::path& target,
                        const std::function<bool(const std::filesystem::path& temp)>& writer);

// A file shipped with the program: looked up in the program directory, then in the
// installed data folder beside the executable (../share/zep/), then in the build tree's
// data folder. Empty when none holds it.
std::filesystem::path ShippedFile(const std::string& name);
