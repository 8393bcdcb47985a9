#pragma once

#include <string>

namespace tarnflow {

// Writes `content` to a new file beside `path` and renames it over it, so that a crash or a
// full disk leaves either the old file or the whole new one, never a part. Missing folders are
// made; a symbolic link keeps pointing at the file it names, which is replaced; an existing
// file keeps its permissions. False with `error` set on failure, the old file left as it was.
bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error);

// True when WriteFileAtomically could write `path` without making folders: its folder exists
// and takes a new file, and `path` is not a folder. Leaves nothing behind.
bool CanWriteFile(const std::string& path, std::string& error);

// The history file every download's report is appended to: TARNFLOW_HISTORY when set (empty
// turns the history off, returning empty), else $XDG_STATE_HOME/tarnflow/history.jsonl, else
// ~/.local/state/tarnflow/history.jsonl.
std::string HistoryFilePath();

// Appends `line` and a newline with one write to a file opened for appending, so that lines
// from several programs never interleave; creates the file and its folders as needed.
bool AppendLine(const std::string& path, const std::string& line, std::string& error);

}  // namespace tarnflow
