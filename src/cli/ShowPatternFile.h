// sonavel-train --show FILE: the records of a binary pattern file printed as the text listing
// that is written at exit, with the note names in use.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

// Prints the listing of the pattern file `path` on `out`, naming the notes from `noteNames`
// (as LoadNoteNames takes it). A size that is not a whole number of records, or more records
// than notes, is reported on `err` after the whole records were printed. Returns the exit
// code: 0, or 1 when the file cannot be read or has a wrong size. Overwrites the pattern store
// and the note names.
int ShowPatternFile(const std::string& path, const std::optional<std::string>& noteNames,
                    std::ostream& out, std::ostream& err);
