#pragma once

#include <string>

namespace tarnflow {

// Writes `content` to a temporary file beside `path` and renames it into place, so that readers
// see the old file or the whole new one, never a part. False with `error` set on failure; an
// earlier file at `path` is then left as it was.
bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error);

// True when WriteFileAtomically could write `path`: its folder takes a new file and `path` is
// not a folder. Leaves nothing behind.
bool CanWriteFile(const std::string& path, std::string& error);

// The history file every download's report is appended to: TARNFLOW_HISTORY when set (empty
// turns the history off, returning empty), else $XDG_STATE_HOME/tarnflow/history.jsonl, else
// ~/.local/state/tarnflow/history.jsonl.
std::string HistoryFilePath();

// Appends `line` and a newline with one write to a file opened for appending, so that lines
// from several programs never interleave; creates the file and its folders as needed.
bool AppendLine(const std::string& path, const std::string& line, std::string& error);

}  // namespace tarnflow
