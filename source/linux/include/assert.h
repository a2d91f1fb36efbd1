/* Assertions.  A failed one reports through the layer and ends the
 * process.  (No include guard: NDEBUG may change between inclusions.) */
#include <sys/cdefs.h>

__BEGIN_DECLS
void zel_linux_assert_fail(const char *condition, const char *file, int line, const char *function) __ZEL_NORETURN;
__END_DECLS

#undef assert
#ifdef NDEBUG
#define assert(condition) ((void)0)
#else
#define assert(condition) ((condition) ? (void)0 : zel_linux_assert_fail(#condition, __FILE__, __LINE__, __func__))
#endif
