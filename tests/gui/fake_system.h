// The system as the main screen, the adapter poll and the job screens see
// it, for tests on the toolkit alone: run_cmd answers `access` from a set of adapter files
// and records every line, "/scsi" holds the named volume, and host files are
// a map. The USB side's state is the application's own (its hooks).
#ifndef FAKE_SYSTEM_H
#define FAKE_SYSTEM_H

#include <map>
#include <set>
#include <string>
#include <vector>

#include "app_mount.h"

namespace fake_system {

extern std::set<std::string> adapter_files;
extern std::string volume;  // the one entry of "/scsi"; empty: none
extern std::vector<std::string> commands;
extern std::map<std::string, std::string> files;
extern app_disk_state_t disk_state;              // what app_adapter_disk_state answers
extern std::vector<std::string> failed_screens;  // what ui_screen_failed named, in order

// Back to nothing: no volume, no files, no commands, no driver or disk state.
void reset();

}  // namespace fake_system

#endif
