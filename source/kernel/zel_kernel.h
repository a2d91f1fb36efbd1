/* The zel kernel: everything a subsystem needs, in one include. */
#ifndef ZEL_KERNEL_H
#define ZEL_KERNEL_H

#include "zel_eda.h"
#include "zel_heap.h"
#include "zel_host.h"
#include "zel_list.h"
#include "zel_sync.h"
#include "zel_thread.h"
#include "zel_timer.h"
#include "zel_trace.h"
#include "zel_util.h"

#endif
