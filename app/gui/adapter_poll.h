/* The adapter poll: an LVGL task of the main screen (every 1000 ms, run at
 * once) that turns the USB side's state and the adapter's mounted volume
 * into the main screen's status text and the enabled job buttons.
 *
 * Each run, a state machine over what it finds:
 *   RESTART      a driver installation succeeded: runs "reset"
 *   DRIVER_FAIL  an installation failed: "安装驱动失败 : <error text>"
 *   INSTALLING   an installation runs: "正在安装驱动，..."
 *   otherwise    learns the volume under "/scsi" (volume_id, exported as
 *                VOLUMEID; learned again while the adapter is looked for
 *                when "/scsi" holds another single entry, since the MBR
 *                mount renames a volume after its label), tests its files with `access` and enables the
 *                buttons they allow; NOT_FOUND ("请连接适配器") keeps polling,
 *                DISK_UNREADABLE (no files, and the adapter's disk could
 *                not be mounted: "无法读取适配器的内容") keeps polling,
 *                FOUND ("发现适配器") ends the task.
 * The task never disables a button. While no main screen exists (another
 * screen replaced it) a run still tests the files but shows nothing. */
#ifndef ADAPTER_POLL_H
#define ADAPTER_POLL_H

#include <stdint.h>

#include "lvgl.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VOLUME_ID_SIZE 128

typedef enum adapter_poll_state {
    ADAPTER_POLL_RESTART,
    ADAPTER_POLL_DRIVER_FAIL,
    ADAPTER_POLL_INSTALLING,
    ADAPTER_POLL_NOT_FOUND,
    ADAPTER_POLL_DISK_UNREADABLE,
    ADAPTER_POLL_FOUND
} adapter_poll_state_t;

/* The adapter volume's directory name under "/scsi"; empty until learned,
 * then kept for the life of the program. */
extern char volume_id[VOLUME_ID_SIZE];
/* Which jobs the adapter's files allow ("Wifi Config.txt" and "PSN
 * Config.txt"; "version.txt"; "data.bin"); 0 until a poll finds them. */
extern volatile uint8_t cfg_files_ok;
extern volatile uint8_t version_file_ok;
extern volatile uint8_t script_file_ok;

void adapter_poll_task(lv_task_t *task);
/* One run's work without the task: the state it ended in. */
adapter_poll_state_t adapter_poll_run(void);
/* Poll tasks alive now: 0 or 1. */
uint32_t adapter_poll_task_count(void);
/* Makes the poll task run at the next task-handler pass, starting it when
 * none is alive: there is never more than one (each main screen build,
 * language switches included, calls this). False when no task could be
 * made (no memory). */
bool adapter_poll_start(void);

#ifdef __cplusplus
}
#endif

#endif
