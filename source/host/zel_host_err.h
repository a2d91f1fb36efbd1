/* Failure codes of the host port.
 *
 * A host call that can fail answers 0 (or a count, or a handle) on success
 * and one of these negative codes on failure: the host's error numbers,
 * which are Linux's, negated (ZEL_HOST_E*). The layer's C library passes
 * them on to programs as they are, so their numbers never change.
 *
 * A few calls stand in for framework drivers whose callers take their
 * answer as a kernel result; they answer the framework's own codes
 * (ZEL_HOST_ERR_*, the numbers of ZEL_ERR_* in zel_eda.h) instead.
 *
 * Calls that answer something other than a failure code keep their own
 * result type and say so in their header: a handle (ZEL_HOST_HANDLE_NONE),
 * a pointer (null), a choice (zel_host_dialog_result_t) or a bool.
 */
#ifndef ZEL_HOST_ERR_H
#define ZEL_HOST_ERR_H

/* Plain int constants (not an enum): results are ints, compared and passed
 * on as ints by C and C++ callers alike. */
#define ZEL_HOST_OK 0
#define ZEL_HOST_ENOENT (-2)  /* no such file, device, interface or setting */
#define ZEL_HOST_EIO (-5)     /* transfer, device or host failure */
#define ZEL_HOST_EAGAIN (-11) /* would block: try again once ready */
#define ZEL_HOST_ENOMEM (-12)
#define ZEL_HOST_EACCES (-13)    /* the host refuses access */
#define ZEL_HOST_EBUSY (-16)     /* in use by another driver or program */
#define ZEL_HOST_ENODEV (-19)    /* no such device, unplugged, or handle closed */
#define ZEL_HOST_EINVAL (-22)    /* bad argument */
#define ZEL_HOST_ENFILE (-23)    /* the host has no file handle left */
#define ZEL_HOST_EMFILE (-24)    /* this program has no file handle left */
#define ZEL_HOST_ENOTTY (-25)    /* not a terminal */
#define ZEL_HOST_EPIPE (-32)     /* endpoint stalled, or the peer has gone */
#define ZEL_HOST_EOVERFLOW (-75) /* more came than was asked for */
#define ZEL_HOST_ENOTSUP (-95)   /* not supported */
#define ZEL_HOST_ETIMEDOUT (-110)
#define ZEL_HOST_EINPROGRESS (-115) /* under way: completion is reported later */
#define ZEL_HOST_ECANCELED (-125)   /* cancelled */

/* The framework's codes, for the calls that stand in for its drivers. */
#define ZEL_HOST_ERR_NO_MEMORY (-6) /* ZEL_ERR_NO_MEMORY */
#define ZEL_HOST_ERR_STATE (-7)     /* ZEL_ERR_STATE */

#endif
