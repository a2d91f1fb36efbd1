/* The application's side of the host process.
 *
 * The process's main starts the kernel (zel_kernel_main); the kernel's first
 * thread then runs app_main, which the application provides: app/ in the
 * product, tests/support and bench in their own binaries. */
#ifndef ZEL_HOST_APP_H
#define ZEL_HOST_APP_H

#ifdef __cplusplus
extern "C" {
#endif

/* The application's entry, run by the kernel's first thread. */
int app_main(void);

#ifdef __cplusplus
}
#endif

#endif
