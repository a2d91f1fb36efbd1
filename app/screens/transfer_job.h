/* The GUI's one file-copy job: `update` between a file on the PC (its
 * folder mounted with winfs under "/mnt") and a file on the adapter's
 * volume ("/scsi/${VOLUMEID}/..."), run on a worker thread.
 *
 * The job's states: idle (busy 0) -> busy (set on the GUI thread when the
 * job is filled and its worker starts) -> the worker runs update, whose
 * progress goes to the job's progress callback -> the done callback gets
 * the result -> idle. One job at a time: a request while busy is refused
 * (the screens say so, screen_job_busy). A worker that cannot start ends
 * the job at once as failed.
 *
 * A close of the window while the job runs is held until the job has
 * ended (window_close.h): its last block and directory entry are written
 * before the program ends.
 *
 * The callbacks run on the worker thread and may call LVGL. */
#ifndef TRANSFER_JOB_H
#define TRANSFER_JOB_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*transfer_progress_cb_t)(const char *src, const char *dst, uint32_t total, uint32_t current);
typedef void (*transfer_done_cb_t)(uint8_t ok);

typedef struct transfer_job {
    const char *host_dir;     /* the winfs mount point of the PC's folder */
    const char *host_name;    /* the file's name in it */
    const char *adapter_name; /* "update.bin" or "data.bin" */
    transfer_progress_cb_t progress;
    transfer_done_cb_t done;
    volatile uint8_t busy;
    uint8_t to_adapter; /* 1: PC -> adapter, 0: adapter -> PC */
    uint8_t truncate;   /* 1: "update -t" (the destination is created or truncated) */
} transfer_job_t;

extern transfer_job_t transfer_job;

/* Fills the job from `job` (busy set; the host folder and name copied, so
 * the caller's buffers may change meanwhile) and starts its worker: false,
 * with nothing started, while a job runs. */
bool transfer_job_start(const transfer_job_t *job);
void *transfer_job_thread(void *arg);

/* Makes the window's close wait for a running job (GUI thread, once). */
void transfer_job_guard_close(void);

/* Why the last job failed, translated, in one line: "文件有 %ld B，适配器上
 * 的 %s 太短（%ld B）" (the file's size, the adapter's file and its size)
 * when update refused a file larger than the adapter's file; empty when
 * the job gave no reason. */
void transfer_job_failure_reason(char *out, size_t size);

/* A bar value from a progress report: current x 100 / total, 100 for an
 * empty file. */
int16_t transfer_percent(uint32_t total, uint32_t current);

/* Mounts the folder of a file the user chose on the PC at a new mount point
 * "/mnt/<kind>/<milliseconds since start-up>" (written to `mount`) with
 * `mkdir -p` and `mount -t winfs`. False when a command failed, or when the
 * folder or name could not be put safely into a command line (a quotation
 * mark or a '$', or too long) or the file's path under the mount point is
 * longer than the programs take (transfer_name_fits): nothing is run then. */
bool transfer_mount_host_dir(const char *kind, const char *dir, const char *name, char *mount, size_t size);
/* Whether "<mount>/<name>" fits the programs' paths (APP_FILE_PATH_MAX). */
bool transfer_name_fits(const char *mount, const char *name);

#ifdef __cplusplus
}
#endif

#endif
