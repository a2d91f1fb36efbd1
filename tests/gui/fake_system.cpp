#include "fake_system.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app_commands.h"
#include "app_main.h"
#include "app_mount.h"
#include "app_screens.h"
#include "host_dialogs.h"
#include "lvgl_port.h"
#include "run_cmd.h"
#include "transfer_job.h"
#include "ui_build.h"
#include "usrid.h"
#include "zel_host_dialog.h"

namespace fake_system {

std::set<std::string> adapter_files;
std::string volume;
std::vector<std::string> commands;
std::map<std::string, std::string> files;
app_disk_state_t disk_state = APP_DISK_NONE;
std::vector<std::string> failed_screens;

void reset() {
    adapter_files.clear();
    volume.clear();
    commands.clear();
    files.clear();
    driver_installing = 0;
    restart_needed = 0;
    driver_error_text[0] = '\0';
    disk_state = APP_DISK_NONE;
    failed_screens.clear();
}

}  // namespace fake_system

using namespace fake_system;

extern "C" {

app_disk_state_t app_adapter_disk_state(void) { return disk_state; }

// The product ends here; the tests note it and go on.
void ui_screen_failed(const char *screen) { fake_system::failed_screens.push_back(screen); }

bool run_cmd(const char *format, ...) {
    char line[RUN_CMD_MAX + 1];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    commands.push_back(line);
    const std::string access = "access \"/scsi/${VOLUMEID}/";
    std::string l = line;
    if (l.compare(0, access.size(), access) == 0)
        return !volume.empty() && adapter_files.count(l.substr(access.size(), l.size() - access.size() - 1));
    return true;
}

bool dir_first_entry_name(const char *, char *out, size_t n) {
    if (volume.empty()) return false;
    snprintf(out, n, "%s", volume.c_str());
    return true;
}

size_t file_read(const char *path, void *buf, size_t n) {
    auto f = files.find(path);
    if (f == files.end()) return 0;
    size_t got = f->second.size() < n ? f->second.size() : n;
    memcpy(buf, f->second.data(), got);
    return got;
}

size_t file_write(const char *path, const void *buf, size_t n) {
    files[path].assign(static_cast<const char *>(buf), n);
    return n;
}

// This build starts no host dialog threads and no workers: the job screens
// are built here, and whatever they would start fails.
void host_dialog_threads_init(void) {}
// mbedTLS's C library is the layer's, whose init process never starts here.
int app_create_file_hierarchy(void) { return -1; }
int zel_linux_pthread_create(void *, const void *, void *(*)(void *), void *) { return EAGAIN; }
bool request_open_file(char *, uint32_t, char *, uint32_t) { return false; }
bool request_save_file(char *, uint32_t, char *, uint32_t) { return false; }
int32_t request_file_outcome(bool) { return ZEL_HOST_DIALOG_FAILED; }
bool request_clipboard_text(char *, uint32_t) { return false; }
lv_group_t *lvgl_focus_group(void) { return nullptr; }  // no text area is focused here
const char *usrid_get(void) { return nullptr; }

transfer_job_t transfer_job;
bool transfer_job_start(const transfer_job_t *) { return false; }
void transfer_job_failure_reason(char *out, size_t size) { snprintf(out, size, "%s", ""); }
int16_t transfer_percent(uint32_t, uint32_t) { return 0; }
bool transfer_mount_host_dir(const char *, const char *, const char *, char *, size_t) { return false; }
bool transfer_name_fits(const char *, const char *) { return true; }
void transfer_job_guard_close(void) {}

}  // extern "C"
