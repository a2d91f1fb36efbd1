// The transfer job (see transfer_job.h).
#include "transfer_job.h"

#include <stdio.h>
#include <string.h>

#include "app_commands.h"
#include "i18n.h"
#include "lvgl_port.h"
#include "run_cmd.h"
#include "screen_common.h"
#include "window_close.h"
#include "zel_timer.h"
#include "zel_trace.h"

extern "C" {
transfer_job_t transfer_job;
}

namespace {

// The longest folder and name that still leave the command lines whole.
constexpr size_t kHostDirMax = 400;
constexpr size_t kHostNameMax = 255;

bool fits_command_line(const char *text, size_t max) { return strlen(text) <= max && !strpbrk(text, "\"$"); }

// The running job's own copies of the PC side's folder and name: the screen
// may choose anew (or be opened again) while the job runs.
char g_host_dir[1024];
char g_host_name[1024];

// What update said when it refused the job's file (refused: 0 when it did not).
struct Refusal {
    uint8_t refused;
    long src_size;
    long dst_size;
};
Refusal g_refusal;

void on_refused(const char *, const char *, long src_size, long dst_size) { g_refusal = {1, src_size, dst_size}; }

bool job_running() { return transfer_job.busy != 0; }

}  // namespace

extern "C" {

bool transfer_job_start(const transfer_job_t *job) {
    if (transfer_job.busy) return false;
    transfer_job = *job;
    snprintf(g_host_dir, sizeof g_host_dir, "%s", job->host_dir ? job->host_dir : "");
    snprintf(g_host_name, sizeof g_host_name, "%s", job->host_name ? job->host_name : "");
    transfer_job.host_dir = g_host_dir;
    transfer_job.host_name = g_host_name;
    transfer_job.busy = 1;
    g_refusal = Refusal{};
    if (screen_worker_start(transfer_job_thread)) return true;
    zel_trace(1, "fail to start the transfer job\r\n");
    if (transfer_job.done) transfer_job.done(0);
    transfer_job.busy = 0;
    window_close_work_ended(false);
    return true;
}

void *transfer_job_thread(void *) {
    const char *option = transfer_job.truncate ? "-t" : "";
    copy_progress_callback = transfer_job.progress;
    copy_refused_callback = on_refused;
    bool ok = transfer_job.to_adapter ? run_cmd("update %s \"%s/%s\" \"/scsi/${VOLUMEID}/%s\"", option,
                                            transfer_job.host_dir, transfer_job.host_name, transfer_job.adapter_name)
                                      : run_cmd("update %s \"/scsi/${VOLUMEID}/%s\" \"%s/%s\" ", option,
                                            transfer_job.adapter_name, transfer_job.host_dir, transfer_job.host_name);
    copy_progress_callback = nullptr;
    copy_refused_callback = nullptr;
    if (transfer_job.done) transfer_job.done(ok);
    transfer_job.busy = 0;
    // update has closed both files: a close the user asked for meanwhile
    // may end the program now, unless the copy failed.
    window_close_work_ended(ok);
    // The result is drawn now, not at the GUI thread's next idle pass.
    lvgl_gui_wake();
    return nullptr;
}

void transfer_job_guard_close(void) { window_close_guard(job_running); }

void transfer_job_failure_reason(char *out, size_t size) {
    if (size == 0) return;
    out[0] = 0;
    if (!g_refusal.refused) return;
    snprintf(out, size, i18n_get_text("文件有 %ld B，适配器上的 %s 太短（%ld B）"), g_refusal.src_size,
        transfer_job.adapter_name ? transfer_job.adapter_name : "", g_refusal.dst_size);
}

int16_t transfer_percent(uint32_t total, uint32_t current) {
    return total == 0 ? 100 : static_cast<int16_t>(static_cast<uint64_t>(current) * 100 / total);
}

bool transfer_mount_host_dir(const char *kind, const char *dir, const char *name, char *mount, size_t size) {
    if (!fits_command_line(dir, kHostDirMax) || !fits_command_line(name, kHostNameMax)) {
        zel_trace(1, "the chosen file cannot be used: %s%s\r\n", dir, name);
        return false;
    }
    long long ms = static_cast<long long>(zel_timer_get_ms());
    int n = snprintf(mount, size, "/mnt/%s/%lld", kind, ms);
    if (n < 0 || static_cast<size_t>(n) >= size) return false;
    if (!transfer_name_fits(mount, name)) {
        zel_trace(1, "the chosen file's name is too long for %s: %s\r\n", mount, name);
        return false;
    }
    return run_cmd("mkdir -p %s", mount) && run_cmd("mount -t winfs \"%s\" %s", dir, mount);
}

bool transfer_name_fits(const char *mount, const char *name) {
    return strlen(mount) + 1 + strlen(name) < APP_FILE_PATH_MAX;
}

}  // extern "C"
